#include "platform/utf16.h"

#include <cstdint>

namespace platform {
namespace {

// Decodes one UTF-8 sequence at `in[i]`; returns the code point or -1, and advances `i`
// past the sequence (by one byte on error).
int32_t decodeUtf8(std::string_view in, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(in[k]); };
  const uint8_t b0 = byte(i);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len;
  int32_t cp;
  int32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return -1;
  }
  if (i + len > in.size()) {
    ++i;
    return -1;
  }
  for (int k = 1; k < len; ++k) {
    const uint8_t b = byte(i + k);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return -1;
  }
  i += len;
  return cp;
}

void appendUtf16(std::u16string& out, int32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}


bool toUtf8(std::u16string_view in, std::string& out, bool lossy) {
  out.clear();
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const char16_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((static_cast<uint32_t>(c) - 0xD800) << 10) +
                          (static_cast<uint32_t>(in[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (!lossy) return false;
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, c);
    }
  }
  return true;
}

}  // namespace

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool utf8ToUtf16(std::string_view in, std::u16string& out) {
  out.clear();
  out.reserve(in.size());
  for (size_t i = 0; i < in.size();) {
    const int32_t cp = decodeUtf8(in, i);
    if (cp < 0) return false;
    appendUtf16(out, cp);
  }
  return true;
}

std::u16string utf8ToUtf16Lossy(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size();) {
    const int32_t cp = decodeUtf8(in, i);
    appendUtf16(out, cp < 0 ? 0xFFFD : cp);
  }
  return out;
}

bool utf16ToUtf8(std::u16string_view in, std::string& out) { return toUtf8(in, out, false); }

std::string utf16ToUtf8Lossy(std::u16string_view in) {
  std::string out;
  toUtf8(in, out, true);
  return out;
}

}  // namespace platform
