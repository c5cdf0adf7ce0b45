#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Conversions between the UTF-16 used inside the programs and the UTF-8 used at the
// OS and file boundaries.

// Strict: false (with `out` left partly filled) for bytes that are not well-formed UTF-8
// (overlong forms, surrogates, values above U+10FFFF, truncated sequences).
bool utf8ToUtf16(std::string_view in, std::u16string& out);

// Lenient: every ill-formed sequence becomes U+FFFD.
std::u16string utf8ToUtf16Lossy(std::string_view in);

// Strict: false for a lone surrogate.
bool utf16ToUtf8(std::u16string_view in, std::string& out);

// Lenient: a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8Lossy(std::u16string_view in);

// Appends one code point (at most U+10FFFF) as UTF-8; shared by the converters above and
// the key store's text form, which keeps lone surrogates as they are.
void appendUtf8(std::string& out, uint32_t cp);

}  // namespace platform
