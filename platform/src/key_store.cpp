// The key store's document model: parsing and writing the `.reg` text, and the key
// operations on it. Independent of where the text is kept (key_store_posix.cpp).

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform/byte_order.h"
#include "platform/key_store.h"
#include "platform/utf16.h"

namespace platform {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

char16_t fold(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

std::u16string folded(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = fold(c);
  return out;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

bool startsWithFolded(std::u16string_view foldedPath, std::u16string_view foldedPrefix) {
  return foldedPath.size() > foldedPrefix.size() &&
         foldedPath.compare(0, foldedPrefix.size(), foldedPrefix) == 0 &&
         foldedPath[foldedPrefix.size()] == u'\\';
}

bool iequalsAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

struct KeyStoreLine {
  bool isValue = false;
  std::string raw;  // the line(s) as read, for lines kept as they are
  std::u16string name;
  RegistryValue value;
};

struct KeyStoreSection {
  bool ours = false;      // a section of HKEY_LOCAL_MACHINE that we understood
  std::string header;     // the header line as read or written
  std::u16string path;    // below HKEY_LOCAL_MACHINE, as written
  std::u16string folded;  // `path` folded for comparisons
  std::vector<KeyStoreLine> lines;
};

// How the text was stored; it is written back the same way.
enum class TextForm { kUtf8, kUtf8WithMark, kUtf16 };

struct KeyStoreDocument {
  TextForm form = TextForm::kUtf8;
  bool crlf = false;  // lines end with CR LF
  std::vector<KeyStoreLine> preamble;
  std::vector<KeyStoreSection> sections;
};

bool splitKeyPath(std::u16string_view path, std::vector<std::u16string>& parts) {
  parts.clear();
  if (path.empty()) return false;
  size_t start = 0;
  while (true) {
    const size_t end = path.find(u'\\', start);
    const std::u16string_view part =
        path.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
    if (part.empty()) return false;
    for (char16_t c : part)
      if (c < 0x20) return false;
    parts.emplace_back(part);
    if (end == std::u16string_view::npos) return true;
    start = end + 1;
  }
}

namespace {

std::u16string joinPath(const std::vector<std::u16string>& parts, size_t count) {
  std::u16string out;
  for (size_t i = 0; i < count; ++i) {
    if (i) out += u'\\';
    out += parts[i];
  }
  return out;
}

// ---- parsing ---------------------------------------------------------------------

// Reads a quoted text at s[pos] == '"' with the escapes \\ and \". Advances pos past the
// closing quote.
bool parseQuoted(std::string_view s, size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < s.size()) {
    const char c = s[pos++];
    if (c == '"') return true;
    if (c == '\\') {
      if (pos >= s.size()) return false;
      const char e = s[pos++];
      if (e != '\\' && e != '"') return false;
      out.push_back(e);
    } else {
      out.push_back(c);
    }
  }
  return false;
}

bool parseHexBytes(std::string_view s, std::vector<uint8_t>& out) {
  out.clear();
  size_t i = 0;
  const auto skip = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n' ||
                            s[i] == '\\'))
      ++i;
  };
  skip();
  if (i == s.size()) return true;
  while (true) {
    skip();
    int value = 0, digits = 0;
    while (i < s.size() && hexDigit(s[i]) >= 0 && digits < 3) {
      value = value * 16 + hexDigit(s[i++]);
      ++digits;
    }
    if (digits == 0 || digits > 2) return false;
    out.push_back(static_cast<uint8_t>(value));
    skip();
    if (i == s.size()) return true;
    if (s[i] != ',') return false;
    ++i;
  }
}

// Parses the value line `line` of a section we understand.
bool parseValueLine(std::string_view line, KeyStoreLine& out) {
  size_t pos = 0;
  std::string name;
  if (line.empty()) return false;
  if (line[0] == '@') {
    pos = 1;
  } else if (!parseQuoted(line, pos, name)) {
    return false;
  }
  if (!utf8ToUtf16(name, out.name)) return false;
  std::string_view rest = trim(line.substr(pos));
  if (rest.empty() || rest[0] != '=') return false;
  rest = trim(rest.substr(1));
  RegistryValue& v = out.value;
  v.data.clear();
  if (!rest.empty() && rest[0] == '"') {
    size_t p = 0;
    std::string text;
    if (!parseQuoted(rest, p, text) || !trim(rest.substr(p)).empty()) return false;
    std::u16string wide;
    if (!utf8ToUtf16(text, wide)) return false;
    v.type = kRegSz;
    for (char16_t c : wide) {
      v.data.push_back(static_cast<uint8_t>(c & 0xFF));
      v.data.push_back(static_cast<uint8_t>(c >> 8));
    }
    v.data.push_back(0);
    v.data.push_back(0);
    return true;
  }
  if (rest.size() >= 6 && iequalsAscii(rest.substr(0, 6), "dword:")) {
    const std::string_view digits = rest.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t value = 0;
    for (char c : digits) {
      if (hexDigit(c) < 0) return false;
      value = value * 16 + static_cast<uint32_t>(hexDigit(c));
    }
    v.type = kRegDword;
    v.data.resize(4);
    store32(v.data.data(), value);
    return true;
  }
  if (rest.size() >= 3 && iequalsAscii(rest.substr(0, 3), "hex")) {
    std::string_view after = rest.substr(3);
    uint32_t type = kRegBinary;
    if (!after.empty() && after[0] == '(') {
      const size_t close = after.find(')');
      if (close == std::string_view::npos || close == 1 || close > 9) return false;
      type = 0;
      for (char c : after.substr(1, close - 1)) {
        if (hexDigit(c) < 0) return false;
        type = type * 16 + static_cast<uint32_t>(hexDigit(c));
      }
      after = after.substr(close + 1);
    }
    if (after.empty() || after[0] != ':') return false;
    v.type = type;
    return parseHexBytes(after.substr(1), v.data);
  }
  return false;
}

// A line that can continue a hex value: hex digits, commas, blanks and a final backslash.
bool isHexContinuation(std::string_view line) {
  const std::string_view t = trim(line);
  if (t.empty()) return false;
  for (char c : t)
    if (hexDigit(c) < 0 && c != ',' && c != ' ' && c != '\t' && c != '\\') return false;
  return true;
}

// Turns the stored bytes into UTF-8 text: UTF-8 with or without its mark, or UTF-16LE
// with its mark (as regedit exports it).
// UTF-16 code units as UTF-8, a lone surrogate as the 3-byte form of its value, so that
// the text converts back to exactly the same units (such lines do not parse as UTF-8
// and are kept as they are).
std::string unitsToText(std::u16string_view units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    appendUtf8(out, cp);
  }
  return out;
}

// The inverse of unitsToText; any other ill-formed byte becomes U+FFFD.
std::u16string textToUnits(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto b = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t b0 = b(i);
    int len = b0 < 0x80 ? 1 : (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : (b0 & 0xF8) == 0xF0 ? 4 : 0;
    bool ok = len > 0 && i + len <= text.size();
    uint32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (int k = 1; ok && k < len; ++k) {
      if ((b(i + k) & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

// Turns the stored bytes into UTF-8 text: UTF-8 with or without its mark, or UTF-16LE
// with its mark (as regedit exports it).
std::string decodeText(const std::string& text, std::vector<std::string>& problems,
                       const std::string& name, TextForm& form) {
  form = TextForm::kUtf8;
  if (text.size() >= 2 && static_cast<uint8_t>(text[0]) == 0xFF &&
      static_cast<uint8_t>(text[1]) == 0xFE) {
    form = TextForm::kUtf16;
    std::u16string units;
    for (size_t i = 2; i + 1 < text.size(); i += 2)
      units.push_back(static_cast<char16_t>(static_cast<uint8_t>(text[i]) |
                                            (static_cast<uint8_t>(text[i + 1]) << 8)));
    if (text.size() % 2 != 0)
      problems.push_back(name + ": UTF-16 text with an odd number of bytes; the last byte is dropped");
    return unitsToText(units);
  }
  if (text.size() >= 3 && text.compare(0, 3, kUtf8Mark) == 0) {
    form = TextForm::kUtf8WithMark;
    return text.substr(3);
  }
  return text;
}

// The start of a line for a message, cut at a character boundary.
std::string excerpt(std::string_view line) {
  constexpr size_t kShown = 120;
  if (line.size() <= kShown) return std::string(line);
  size_t end = kShown;
  while (end > 0 && (static_cast<uint8_t>(line[end]) & 0xC0) == 0x80) --end;
  return std::string(line.substr(0, end)) + "...";
}

std::shared_ptr<KeyStoreDocument> parseDocument(const std::string& stored,
                                                const std::string& name,
                                                std::vector<std::string>& problems) {
  auto doc = std::make_shared<KeyStoreDocument>();
  const std::string text = decodeText(stored, problems, name, doc->form);
  const size_t firstEnd = text.find('\n');
  doc->crlf = firstEnd != std::string::npos && firstEnd > 0 && text[firstEnd - 1] == '\r';
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    // In a CR LF file one CR belongs to the line end (and is written back as such);
    // any other CR is part of the line.
    if (doc->crlf && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  KeyStoreSection* section = nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t lineNumber = i + 1;
    std::string raw(lines[i]);
    const std::string_view t = trim(lines[i]);
    const auto tooLong = [&] {
      problems.push_back(name + ":" + std::to_string(lineNumber) + ": line longer than " +
                         std::to_string(kKeyStoreMaxLineBytes) +
                         " bytes kept as it is: " + excerpt(lines[lineNumber - 1]));
    };
    // Continuation lines of long hex values, as regedit writes them: only lines of hex
    // bytes join, and only when the whole then reads as a value, so that a broken line
    // ending in a backslash never swallows the line after it.
    if (section && section->ours && (t.starts_with('"') || t.starts_with('@')) &&
        t.ends_with('\\') && t.find("=hex") != std::string_view::npos) {
      std::string joined = raw;
      size_t last = i;
      while (last + 1 < lines.size() && trim(joined).ends_with('\\') &&
             isHexContinuation(lines[last + 1])) {
        joined += '\n';
        joined += lines[++last];
      }
      if (joined.size() > kKeyStoreMaxLineBytes) {
        tooLong();
        (section ? section->lines : doc->preamble).push_back(KeyStoreLine{false, joined, {}, {}});
        i = last;
        continue;
      }
      KeyStoreLine probe;
      std::string flat;
      for (char c : joined)
        if (c != '\n') flat.push_back(c);
      if (last > i && parseValueLine(trim(flat), probe)) {
        raw = joined;
        i = last;
      }
    }
    KeyStoreLine entry;
    entry.raw = raw;
    if (raw.size() > kKeyStoreMaxLineBytes) {
      tooLong();
      (section ? section->lines : doc->preamble).push_back(std::move(entry));
      continue;
    }
    const auto bad = [&] {
      problems.push_back(name + ":" + std::to_string(lineNumber) +
                         ": unreadable line kept as it is: " + excerpt(lines[lineNumber - 1]));
    };
    if (t.starts_with('[') && t.ends_with(']') && t.size() >= 2) {
      KeyStoreSection s;
      s.header = raw;
      const std::string_view inner = t.substr(1, t.size() - 2);
      if (inner.size() > kRoot.size() && iequalsAscii(inner.substr(0, kRoot.size()), kRoot) &&
          inner[kRoot.size()] == '\\') {
        std::vector<std::u16string> parts;
        if (utf8ToUtf16(inner.substr(kRoot.size() + 1), s.path) && splitKeyPath(s.path, parts)) {
          s.ours = true;
          s.folded = folded(s.path);
        } else {
          bad();
        }
      }
      doc->sections.push_back(std::move(s));
      section = &doc->sections.back();
      continue;
    }
    auto& target = section ? section->lines : doc->preamble;
    if (t.empty() || t.starts_with(';') || t.starts_with('#')) {
      target.push_back(std::move(entry));
      continue;
    }
    if (!section) {
      if (t != kHeader && t != "REGEDIT4") bad();
      target.push_back(std::move(entry));
      continue;
    }
    if (section->ours) {
      KeyStoreLine value;
      std::string joined;
      for (char c : raw)
        if (c != '\n') joined.push_back(c);
      if (parseValueLine(trim(joined), value)) {
        value.isValue = true;
        value.raw = raw;
        target.push_back(std::move(value));
        continue;
      }
      bad();
    }
    target.push_back(std::move(entry));
  }
  return doc;
}

// ---- writing ---------------------------------------------------------------------

std::string quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// A REG_SZ that reads back identically when written as "text".
bool plainString(const RegistryValue& v, std::string& utf8) {
  if (v.type != kRegSz || v.data.size() < 2 || v.data.size() % 2 != 0) return false;
  std::u16string wide;
  for (size_t i = 0; i + 1 < v.data.size(); i += 2)
    wide.push_back(static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8)));
  if (wide.back() != 0) return false;
  wide.pop_back();
  for (char16_t c : wide)
    if (c < 0x20 || c == 0x7F) return false;
  return utf16ToUtf8(wide, utf8);
}

std::string formatValue(const KeyStoreLine& line) {
  std::string out = line.name.empty() ? "@" : quote(utf16ToUtf8Lossy(line.name));
  out += '=';
  const RegistryValue& v = line.value;
  std::string text;
  if (plainString(v, text)) return out + quote(text);
  char buf[32];
  if (v.type == kRegDword && v.data.size() == 4) {
    const uint32_t d = platform::load32(v.data.data());
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    return out + buf;
  }
  if (v.type == kRegBinary) {
    out += "hex:";
  } else {
    std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
    out += buf;
  }
  for (size_t i = 0; i < v.data.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", v.data[i]);
    out += buf;
  }
  return out;
}

std::string serialize(const KeyStoreDocument& doc) {
  std::string out;
  const std::string_view eol = doc.crlf ? "\r\n" : "\n";
  const auto line = [&](std::string_view text) {
    // A kept line may hold joined continuation lines.
    for (size_t start = 0;;) {
      const size_t end = text.find('\n', start);
      out += text.substr(start, end == std::string_view::npos ? end : end - start);
      out += eol;
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  };
  const auto emit = [&](const std::vector<KeyStoreLine>& lines) {
    for (const auto& l : lines) line(l.isValue && l.raw.empty() ? formatValue(l) : l.raw);
  };
  if (doc.preamble.empty()) {
    line(kHeader);
    line("");
  }
  emit(doc.preamble);
  for (const auto& s : doc.sections) {
    line(s.header);
    emit(s.lines);
  }
  if (doc.form == TextForm::kUtf16) {
    std::string bytes = "\xFF\xFE";
    for (char16_t u : textToUnits(out)) {
      bytes.push_back(static_cast<char>(u & 0xFF));
      bytes.push_back(static_cast<char>(u >> 8));
    }
    return bytes;
  }
  // The mark is kept; and text that itself begins with one gets another in front, so
  // that reading it again does not take the text's own away.
  if (doc.form == TextForm::kUtf8WithMark || out.starts_with(kUtf8Mark)) out.insert(0, kUtf8Mark);
  return out;
}

// ---- key operations --------------------------------------------------------------

bool isBlank(const KeyStoreLine& l) { return !l.isValue && trim(l.raw).empty(); }

bool keyExists(const KeyStoreDocument& doc, const std::u16string& f) {
  for (const auto& s : doc.sections)
    if (s.ours && (s.folded == f || startsWithFolded(s.folded, f))) return true;
  return false;
}

bool hasSection(const KeyStoreDocument& doc, const std::u16string& f) {
  for (const auto& s : doc.sections)
    if (s.ours && s.folded == f) return true;
  return false;
}

// Inserts a section for `path` in front of its own sub-keys' sections, else after the
// sections of its parent's subtree, else at the end; blank lines separate it from its
// neighbours.
KeyStoreSection& insertSection(KeyStoreDocument& doc, const std::vector<std::u16string>& parts,
                               size_t count) {
  const std::u16string path = joinPath(parts, count);
  size_t at = doc.sections.size();
  const std::u16string self = folded(path);
  bool beforeChildren = false;
  for (size_t i = 0; i < doc.sections.size() && !beforeChildren; ++i) {
    if (doc.sections[i].ours && startsWithFolded(doc.sections[i].folded, self)) {
      at = i;  // a key that exists through its sub-keys goes in front of them
      beforeChildren = true;
    }
  }
  if (!beforeChildren && count > 1) {
    const std::u16string parent = folded(joinPath(parts, count - 1));
    for (size_t i = doc.sections.size(); i-- > 0;) {
      const auto& s = doc.sections[i];
      if (s.ours && (s.folded == parent || startsWithFolded(s.folded, parent))) {
        at = i + 1;
        break;
      }
    }
  }
  if (at == 0) {
    auto& before = doc.preamble;
    if (before.empty()) before.push_back(KeyStoreLine{false, std::string(kHeader), {}, {}});
    if (!isBlank(before.back())) before.push_back(KeyStoreLine{});
  } else {
    auto& before = doc.sections[at - 1].lines;
    if (before.empty() || !isBlank(before.back())) before.push_back(KeyStoreLine{});
  }
  KeyStoreSection s;
  s.ours = true;
  s.path = path;
  s.folded = folded(path);
  s.header = "[" + std::string(kRoot) + "\\" + utf16ToUtf8Lossy(path) + "]";
  if (at < doc.sections.size()) s.lines.push_back(KeyStoreLine{});
  doc.sections.insert(doc.sections.begin() + static_cast<std::ptrdiff_t>(at), std::move(s));
  return doc.sections[at];
}

// Makes the key exist. With `ownSection` the key itself gets a section of its own even
// when it exists only through its sub-keys (to hold a value). Returns that section, or
// null when none was needed.
KeyStoreSection* ensureKey(KeyStoreDocument& doc, const std::vector<std::u16string>& parts,
                           bool ownSection) {
  for (size_t n = 1; n < parts.size(); ++n)
    if (!keyExists(doc, folded(joinPath(parts, n)))) insertSection(doc, parts, n);
  const std::u16string f = folded(joinPath(parts, parts.size()));
  if (ownSection ? hasSection(doc, f) : keyExists(doc, f)) return nullptr;
  return &insertSection(doc, parts, parts.size());
}

const KeyStoreLine* findValue(const KeyStoreDocument& doc, const std::u16string& f,
                              std::u16string_view name) {
  const KeyStoreLine* found = nullptr;
  for (const auto& s : doc.sections) {
    if (!s.ours || s.folded != f) continue;
    for (const auto& l : s.lines)
      if (l.isValue && sameName(l.name, name)) found = &l;
  }
  return found;
}

void putValue(KeyStoreDocument& doc, const std::vector<std::u16string>& parts,
              std::u16string_view name, RegistryValue value) {
  const std::u16string f = folded(joinPath(parts, parts.size()));
  KeyStoreLine* found = nullptr;
  KeyStoreSection* last = nullptr;
  for (auto& s : doc.sections) {
    if (!s.ours || s.folded != f) continue;
    last = &s;
    for (auto& l : s.lines)
      if (l.isValue && sameName(l.name, name)) found = &l;
  }
  if (found) {
    found->value = std::move(value);
    found->raw.clear();
    return;
  }
  if (!last) last = ensureKey(doc, parts, true);
  KeyStoreLine line;
  line.isValue = true;
  line.name = std::u16string(name);
  line.value = std::move(value);
  // After the last non-blank line, so that blank separators stay at the end.
  size_t at = last->lines.size();
  while (at > 0 && isBlank(last->lines[at - 1])) --at;
  last->lines.insert(last->lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

}  // namespace

// ---- KeyStore --------------------------------------------------------------------

KeyStore::KeyStore(std::unique_ptr<KeyStoreStorage> storage, Diagnostics diagnostics)
    : storage_(std::move(storage)), diagnostics_(std::move(diagnostics)) {
  if (!diagnostics_) diagnostics_ = [](const std::string& m) { std::cerr << m << '\n'; };
}

KeyStore::~KeyStore() = default;

KeyStore& KeyStore::machine() {
  static KeyStore store(openMachineKeyStorage());
  return store;
}

void KeyStore::report(const std::vector<std::string>& problems) {
  std::vector<std::string> fresh;
  {
    std::lock_guard lock(mutex_);
    for (const auto& p : problems) {
      // The same line is reported once even when its number changes.
      const size_t at = p.find(": ", storage_->name().size() + 1);
      const std::string key = at == std::string::npos ? p : p.substr(at);
      if (reported_.insert(key).second) fresh.push_back(p);
    }
  }
  for (const auto& p : fresh) diagnostics_(p);
}

std::shared_ptr<const KeyStoreDocument> KeyStore::load() {
  std::string text, problem;
  if (!storage_->read(text, problem)) {
    if (!problem.empty()) report({problem});
    return nullptr;
  }
  std::vector<std::string> problems;
  auto doc = parseDocument(text, storage_->name(), problems);
  report(problems);
  return doc;
}

std::shared_ptr<const KeyStoreDocument> KeyStore::modify(
    const std::function<bool(KeyStoreDocument& doc)>& change) {
  std::shared_ptr<KeyStoreDocument> doc;
  bool changed = false;
  std::vector<std::string> problems;
  std::string problem;
  const bool ok = storage_->update(
      [&](std::string& text) {
        problems.clear();
        doc = parseDocument(text, storage_->name(), problems);
        changed = change(*doc);
        if (changed) text = serialize(*doc);
        return changed;
      },
      problem);
  if (!problem.empty()) problems.push_back(problem);
  report(problems);
  if (!ok || !changed) return nullptr;
  return doc;
}

bool KeyStore::flush() { return storage_->flush(); }

std::unique_ptr<RegistryKey> KeyStore::openKey(std::u16string_view path) {
  std::vector<std::u16string> parts;
  if (!splitKeyPath(path, parts)) return nullptr;
  auto doc = load();
  if (!doc || !keyExists(*doc, folded(path))) return nullptr;
  return std::make_unique<RegistryKey>(*this, std::u16string(path), std::move(doc));
}

std::unique_ptr<RegistryKey> KeyStore::createKey(std::u16string_view path) {
  std::vector<std::u16string> parts;
  if (!splitKeyPath(path, parts)) return nullptr;
  std::shared_ptr<const KeyStoreDocument> current;
  bool present = false;
  auto doc = modify([&](KeyStoreDocument& d) {
    if (keyExists(d, folded(path))) {
      present = true;
      return false;
    }
    ensureKey(d, parts, false);
    return true;
  });
  if (doc) return std::make_unique<RegistryKey>(*this, std::u16string(path), std::move(doc));
  if (present) {
    // Nothing to write; the key is there already.
    current = load();
    if (current && keyExists(*current, folded(path)))
      return std::make_unique<RegistryKey>(*this, std::u16string(path), std::move(current));
  }
  return nullptr;
}

bool KeyStore::deleteKey(std::u16string_view path) {
  std::vector<std::u16string> parts;
  if (!splitKeyPath(path, parts)) return false;
  const std::u16string f = folded(path);
  return modify([&](KeyStoreDocument& d) {
           const size_t before = d.sections.size();
           std::erase_if(d.sections, [&](const KeyStoreSection& s) {
             return s.ours && (s.folded == f || startsWithFolded(s.folded, f));
           });
           return d.sections.size() != before;
         }) != nullptr;
}

// ---- RegistryKey -----------------------------------------------------------------

RegistryKey::RegistryKey(KeyStore& store, std::u16string path,
                         std::shared_ptr<const KeyStoreDocument> doc)
    : store_(store), path_(std::move(path)), doc_(std::move(doc)) {}

RegistryKey::~RegistryKey() = default;

bool RegistryKey::queryValue(std::u16string_view name, RegistryValue& out) const {
  std::lock_guard lock(mutex_);
  out = RegistryValue{};
  const KeyStoreLine* line = findValue(*doc_, folded(path_), name);
  if (!line) return false;
  out = line->value;
  return true;
}

bool RegistryKey::setValue(std::u16string_view name, uint32_t type, const void* data,
                           size_t sizeBytes) {
  std::vector<std::u16string> parts;
  splitKeyPath(path_, parts);
  RegistryValue value;
  value.type = type;
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (sizeBytes) value.data.assign(bytes, bytes + sizeBytes);
  // Held across the change so that the snapshot never goes back to an older text than
  // one this key already showed.
  std::lock_guard lock(mutex_);
  auto doc = store_.modify([&](KeyStoreDocument& d) {
    putValue(d, parts, name, value);
    return true;
  });
  if (!doc) return false;
  doc_ = std::move(doc);
  return true;
}

bool RegistryKey::setDword(std::u16string_view name, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return setValue(name, kRegDword, bytes, 4);
}

bool RegistryKey::setString(std::u16string_view name, std::u16string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() * 2 + 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return setValue(name, kRegSz, bytes.data(), bytes.size());
}

bool RegistryKey::deleteValue(std::u16string_view name) {
  const std::u16string f = folded(path_);
  std::lock_guard lock(mutex_);
  auto doc = store_.modify([&](KeyStoreDocument& d) {
    bool removed = false;
    for (auto& s : d.sections) {
      if (!s.ours || s.folded != f) continue;
      removed |= std::erase_if(s.lines, [&](const KeyStoreLine& l) {
                   return l.isValue && sameName(l.name, name);
                 }) > 0;
    }
    return removed;
  });
  if (!doc) return false;
  doc_ = std::move(doc);
  return true;
}

std::vector<std::u16string> RegistryKey::valueNames() const {
  std::lock_guard lock(mutex_);
  const std::u16string f = folded(path_);
  std::vector<std::u16string> names;
  for (const auto& s : doc_->sections) {
    if (!s.ours || s.folded != f) continue;
    for (const auto& l : s.lines) {
      if (!l.isValue) continue;
      bool seen = false;
      for (const auto& n : names) seen |= sameName(n, l.name);
      if (!seen) names.push_back(l.name);
    }
  }
  return names;
}

std::vector<std::u16string> RegistryKey::subKeyNames() const {
  std::lock_guard lock(mutex_);
  const std::u16string f = folded(path_);
  std::vector<std::u16string> names;
  for (const auto& s : doc_->sections) {
    if (!s.ours || !startsWithFolded(s.folded, f)) continue;
    const std::u16string rest = s.path.substr(f.size() + 1);
    const std::u16string child = rest.substr(0, rest.find(u'\\'));
    bool seen = false;
    for (const auto& n : names) seen |= sameName(n, child);
    if (!seen) names.push_back(child);
  }
  return names;
}

std::unique_ptr<RegistryKey> RegistryKey::openSubKey(std::u16string_view relativePath) const {
  return store_.openKey(path_ + u"\\" + std::u16string(relativePath));
}

std::unique_ptr<RegistryKey> RegistryKey::createSubKey(std::u16string_view relativePath) const {
  return store_.createKey(path_ + u"\\" + std::u16string(relativePath));
}

bool RegistryKey::flush() { return store_.flush(); }

// ---- the text as keys -------------------------------------------------------------

std::vector<KeyStoreKey> keyStoreKeys(const std::string& text, const std::string& name,
                                      std::vector<std::string>& problems) {
  const auto doc = parseDocument(text, name, problems);
  std::vector<KeyStoreKey> keys;
  std::vector<std::u16string> foldedPaths;
  const auto keyFor = [&](const std::u16string& path) -> KeyStoreKey& {
    const std::u16string f = folded(path);
    for (size_t i = 0; i < keys.size(); ++i)
      if (foldedPaths[i] == f) return keys[i];
    keys.push_back(KeyStoreKey{path, {}});
    foldedPaths.push_back(f);
    return keys.back();
  };
  for (const auto& s : doc->sections) {
    if (!s.ours) continue;
    std::vector<std::u16string> parts;
    if (!splitKeyPath(s.path, parts)) continue;
    for (size_t n = 1; n < parts.size(); ++n) keyFor(joinPath(parts, n));
    KeyStoreKey& key = keyFor(s.path);
    for (const auto& l : s.lines) {
      if (!l.isValue) continue;
      auto same = std::find_if(key.values.begin(), key.values.end(),
                               [&](const auto& v) { return sameName(v.first, l.name); });
      if (same != key.values.end()) {
        same->second = l.value;
      } else {
        key.values.emplace_back(l.name, l.value);
      }
    }
  }
  return keys;
}

std::string keyStoreText(const std::vector<KeyStoreKey>& keys) {
  KeyStoreDocument doc;
  for (const KeyStoreKey& key : keys) {
    std::vector<std::u16string> parts;
    if (!splitKeyPath(key.path, parts)) continue;
    ensureKey(doc, parts, true);
    for (const auto& [name, value] : key.values) putValue(doc, parts, name, value);
  }
  return serialize(doc);
}

}  // namespace platform
