// The resource-script reader. Portable; only programFilePath (resources_posix.cpp) asks
// the system anything.

#include <fstream>
#include <optional>
#include <sstream>

#include "platform/resources.h"
#include "platform/utf16.h"

namespace platform {

bool DialogControl::hasStyle(std::string_view name) const {
  for (const auto& s : style)
    if (s == name) return true;
  return false;
}

const DialogControl* DialogTemplate::control(int32_t controlId) const {
  for (const auto& c : controls)
    if (c.id == controlId) return &c;
  return nullptr;
}

namespace {

enum class Tok { kEnd, kNumber, kString, kName, kPunct };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;  // name, punctuation, or the UTF-8 of a string
  int64_t number = 0;
  int line = 0;
};

struct ParseError {
  int line;
  std::string message;
};

class Lexer {
 public:
  Lexer(std::string_view text, std::map<std::string, int64_t>& defines)
      : s_(text), defines_(defines) {}

  std::vector<Token> run() {
    std::vector<Token> out;
    bool lineStart = true;
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (c == '\n') {
        ++line_, ++pos_, lineStart = true;
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++pos_;
        continue;
      }
      if (c == '/' && peek(1) == '/') {
        while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
        continue;
      }
      if (c == '/' && peek(1) == '*') {
        const int startLine = line_;
        pos_ += 2;
        while (pos_ < s_.size() && !(s_[pos_] == '*' && peek(1) == '/')) {
          if (s_[pos_] == '\n') ++line_;
          ++pos_;
        }
        if (pos_ >= s_.size()) throw ParseError{startLine, "unterminated comment"};
        pos_ += 2;
        continue;
      }
      if (c == '#' && lineStart) {
        directive();
        continue;
      }
      lineStart = false;
      Token t;
      t.line = line_;
      if (c == '"' || ((c == 'L' || c == 'l') && peek(1) == '"')) {
        if (c != '"') ++pos_;
        t.kind = Tok::kString;
        t.text = quoted();
      } else if (c >= '0' && c <= '9') {
        t.kind = Tok::kNumber;
        t.number = number();
      } else if (isNameStart(c)) {
        t.kind = Tok::kName;
        t.text = name();
      } else if (std::string_view(",|()-+~{}").find(c) != std::string_view::npos) {
        t.kind = Tok::kPunct;
        t.text = std::string(1, c);
        ++pos_;
      } else {
        throw ParseError{line_, std::string("unexpected character '") + c + "'"};
      }
      out.push_back(std::move(t));
    }
    Token end;
    end.line = line_;
    out.push_back(end);
    return out;
  }

 private:
  static bool isNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  }
  static bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9'); }
  char peek(size_t ahead) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }

  std::string name() {
    const size_t start = pos_;
    while (pos_ < s_.size() && isNameChar(s_[pos_])) ++pos_;
    return std::string(s_.substr(start, pos_ - start));
  }

  int64_t number() {
    int64_t value = 0;
    int base = 10;
    if (s_[pos_] == '0' && (peek(1) == 'x' || peek(1) == 'X')) {
      base = 16;
      pos_ += 2;
    }
    int digits = 0;
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      int d;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (base == 16 && c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else if (base == 16 && c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
      } else {
        break;
      }
      value = value * base + d;
      if (value > 0xFFFFFFFFll) throw ParseError{line_, "number too large"};
      ++digits, ++pos_;
    }
    if (digits == 0) throw ParseError{line_, "malformed number"};
    while (pos_ < s_.size() && (s_[pos_] == 'L' || s_[pos_] == 'l' || s_[pos_] == 'U' ||
                                s_[pos_] == 'u'))
      ++pos_;
    if (pos_ < s_.size() && isNameChar(s_[pos_])) throw ParseError{line_, "malformed number"};
    return value;
  }

  // "..." with "" for a quote and the escapes \n \t \r \\ \" \0.
  std::string quoted() {
    const int startLine = line_;
    ++pos_;
    std::string out;
    while (true) {
      if (pos_ >= s_.size() || s_[pos_] == '\n') throw ParseError{startLine, "unterminated string"};
      const char c = s_[pos_++];
      if (c == '"') {
        if (peek(0) == '"') {
          out.push_back('"');
          ++pos_;
          continue;
        }
        break;
      }
      if (c == '\\') {
        const char e = peek(0);
        ++pos_;
        switch (e) {
          case 'n': out.push_back('\n'); break;
          case 't': out.push_back('\t'); break;
          case 'r': out.push_back('\r'); break;
          case '\\': out.push_back('\\'); break;
          case '"': out.push_back('"'); break;
          case '0': out.push_back('\0'); break;
          default: throw ParseError{startLine, "unknown escape in string"};
        }
        continue;
      }
      out.push_back(c);
    }
    std::u16string check;
    if (!utf8ToUtf16(out, check)) throw ParseError{startLine, "string is not valid UTF-8"};
    return out;
  }

  void directive() {
    const size_t end = s_.find('\n', pos_);
    std::string_view line = s_.substr(pos_, end == std::string_view::npos ? end : end - pos_);
    pos_ += line.size();
    std::istringstream in{std::string(line.substr(1))};
    std::string word;
    in >> word;
    if (word == "include" || word == "pragma") return;  // headers and code pages of the Windows build
    if (word == "define") {
      std::string nameText, valueText;
      in >> nameText >> valueText;
      std::string rest;
      in >> rest;
      if (nameText.empty() || valueText.empty() || !rest.empty() || !isNameStart(nameText[0]))
        throw ParseError{line_, "#define needs a name and a number"};
      try {
        size_t used = 0;
        const long long v = std::stoll(valueText, &used, 0);
        if (used != valueText.size()) throw std::invalid_argument("x");
        defines_[nameText] = v;
      } catch (const std::exception&) {
        throw ParseError{line_, "#define needs a name and a number"};
      }
      return;
    }
    throw ParseError{line_, "unsupported directive #" + word};
  }

  std::string_view s_;
  size_t pos_ = 0;
  int line_ = 1;
  std::map<std::string, int64_t>& defines_;
};

}  // namespace

class ResourceScriptParser {
 public:
  ResourceScriptParser(ResourceModule& module) : m_(module) {
    defines_ = {{"IDOK", 1},         {"IDCANCEL", 2},     {"IDC_STATIC", -1},
                {"LANG_NEUTRAL", 0}, {"LANG_ENGLISH", 9}, {"LANG_GERMAN", 7},
                {"LANG_FRENCH", 12}, {"SUBLANG_NEUTRAL", 0}, {"SUBLANG_DEFAULT", 1},
                {"SUBLANG_ENGLISH_US", 1}, {"SUBLANG_GERMAN", 1}, {"SUBLANG_FRENCH", 1}};
  }

  void run(std::string_view text) {
    toks_ = Lexer(text, defines_).run();
    while (peek().kind != Tok::kEnd) statement();
  }

 private:
  const Token& peek(size_t ahead = 0) const {
    return toks_[std::min(i_ + ahead, toks_.size() - 1)];
  }
  const Token& take() {
    const Token& t = toks_[i_];
    if (i_ + 1 < toks_.size()) ++i_;
    return t;
  }
  [[noreturn]] void fail(const std::string& message) const { throw ParseError{peek().line, message}; }
  bool isName(const char* word, size_t ahead = 0) const {
    return peek(ahead).kind == Tok::kName && peek(ahead).text == word;
  }
  bool isPunct(char c) const { return peek().kind == Tok::kPunct && peek().text[0] == c; }
  bool acceptPunct(char c) {
    if (!isPunct(c)) return false;
    take();
    return true;
  }
  void expectComma() {
    if (!acceptPunct(',')) fail("',' expected");
  }
  bool isBegin() const { return isName("BEGIN") || isPunct('{'); }
  bool isEndBlock() const { return isName("END") || isPunct('}'); }
  void expectBegin() {
    if (!isBegin()) fail("BEGIN expected");
    take();
  }

  // A number, a defined name, optionally negated.
  int64_t integer() {
    bool negative = false;
    if (acceptPunct('-')) negative = true;
    const Token& t = peek();
    int64_t v;
    if (t.kind == Tok::kNumber) {
      v = t.number;
    } else if (t.kind == Tok::kName && defines_.count(t.text)) {
      v = defines_.at(t.text);
    } else if (t.kind == Tok::kName) {
      fail("unknown name " + t.text);
    } else {
      fail("number expected");
    }
    take();
    return negative ? -v : v;
  }
  int32_t int32() {
    const int64_t v = integer();
    if (v < INT32_MIN || v > UINT32_MAX) fail("number out of range");
    return static_cast<int32_t>(v);
  }
  uint32_t resourceId(const Token& t) {
    int64_t v = t.kind == Tok::kNumber ? t.number : defines_.at(t.text);
    if (v <= 0 || v > 0xFFFF) throw ParseError{t.line, "resource id must be 1 to 65535"};
    return static_cast<uint32_t>(v);
  }
  std::u16string string() {
    if (peek().kind != Tok::kString) fail("string expected");
    return utf8ToUtf16Lossy(take().text);
  }
  // A style expression: names and numbers joined by | (NOT name allowed).
  std::vector<std::string> styleExpression() {
    std::vector<std::string> out;
    while (true) {
      std::string prefix;
      if (isName("NOT")) {
        take();
        prefix = "NOT ";
      }
      acceptPunct('(');
      const Token& t = peek();
      if (t.kind == Tok::kName) {
        out.push_back(prefix + t.text);
      } else if (t.kind == Tok::kNumber) {
        out.push_back(prefix + std::to_string(t.number));
      } else {
        fail("style expected");
      }
      take();
      acceptPunct(')');
      if (!acceptPunct('|')) return out;
    }
  }

  void statement() {
    if (isName("LANGUAGE")) {
      take();
      m_.language_ = language();
      return;
    }
    if (isName("STRINGTABLE")) {
      take();
      stringTable();
      return;
    }
    const Token idTok = peek();
    if (idTok.kind != Tok::kNumber && !(idTok.kind == Tok::kName && defines_.count(idTok.text)))
      fail(idTok.kind == Tok::kEnd ? "unexpected end" : "resource id or statement expected");
    take();
    const uint32_t id = resourceId(idTok);
    if (peek().kind != Tok::kName) fail("resource type expected");
    const std::string type = take().text;
    if (type == "DIALOG" || type == "DIALOGEX") {
      if (m_.dialogs_.count(id)) throw ParseError{idTok.line, "dialog " + std::to_string(id) + " defined twice"};
      dialog(id, type == "DIALOGEX");
    } else if (type == "MENU" || type == "MENUEX") {
      if (m_.menus_.count(id)) throw ParseError{idTok.line, "menu " + std::to_string(id) + " defined twice"};
      MenuTemplate menu;
      menu.id = id;
      menu.extended = type == "MENUEX";
      menuBody(menu.items);
      m_.menus_[id] = std::move(menu);
    } else if (type == "ICON") {
      if (peek().kind != Tok::kString) fail("icon file name expected");
      m_.icons_[id] = take().text;
    } else if (type == "ACCELERATORS") {
      accelerators(id);
    } else {
      throw ParseError{idTok.line, "unsupported resource type " + type};
    }
  }

  uint16_t language() {
    const int64_t primary = integer();
    expectComma();
    const int64_t sub = integer();
    if (primary < 0 || primary > 0x3FF || sub < 0 || sub > 0x3F) fail("language out of range");
    return static_cast<uint16_t>(primary | (sub << 10));
  }

  void stringTable() {
    while (!isBegin()) {
      if (peek().kind == Tok::kEnd) fail("BEGIN expected");
      take();  // memory options and characteristics
    }
    take();
    while (!isEndBlock()) {
      const int line = peek().line;
      const int64_t id = integer();
      if (id < 0 || id > 0xFFFF) throw ParseError{line, "string id must be 0 to 65535"};
      acceptPunct(',');
      std::u16string text = string();
      if (!m_.strings_.emplace(static_cast<uint32_t>(id), std::move(text)).second)
        throw ParseError{line, "string " + std::to_string(id) + " defined twice"};
    }
    take();
  }

  void dialog(uint32_t id, bool extended) {
    DialogTemplate d;
    d.id = id;
    d.extended = extended;
    d.x = int32();
    expectComma();
    d.y = int32();
    expectComma();
    d.width = int32();
    expectComma();
    d.height = int32();
    if (acceptPunct(',')) int32();  // help id of DIALOGEX
    while (!isBegin()) {
      if (isName("STYLE")) {
        take();
        d.style = styleExpression();
      } else if (isName("EXSTYLE")) {
        take();
        d.exStyle = styleExpression();
      } else if (isName("CAPTION")) {
        take();
        d.caption = string();
      } else if (isName("FONT")) {
        take();
        d.fontSize = int32();
        expectComma();
        d.fontName = string();
        while (acceptPunct(',')) int32();  // weight, italic, character set
      } else if (isName("LANGUAGE")) {
        take();
        language();
      } else {
        fail("dialog statement or BEGIN expected");
      }
    }
    take();
    while (!isEndBlock()) d.controls.push_back(control());
    take();
    m_.dialogs_[id] = std::move(d);
  }

  DialogControl control() {
    if (peek().kind != Tok::kName) fail("control statement expected");
    DialogControl c;
    c.statement = take().text;
    const std::string& k = c.statement;
    const auto labelText = [&] {
      if (peek().kind == Tok::kString) {
        c.text = string();
      } else {
        c.resourceId = int32();
        for (char ch : std::to_string(c.resourceId)) c.text.push_back(static_cast<char16_t>(ch));
      }
    };
    const auto rect = [&] {
      c.x = int32();
      expectComma();
      c.y = int32();
      expectComma();
      c.width = int32();
      expectComma();
      c.height = int32();
    };
    const auto tail = [&] {
      if (acceptPunct(',')) c.style = styleExpression();
      if (acceptPunct(',')) c.exStyle = styleExpression();
    };
    static const std::map<std::string, std::string> withText = {
        {"LTEXT", "STATIC"},         {"RTEXT", "STATIC"},          {"CTEXT", "STATIC"},
        {"PUSHBUTTON", "BUTTON"},    {"DEFPUSHBUTTON", "BUTTON"},  {"CHECKBOX", "BUTTON"},
        {"AUTOCHECKBOX", "BUTTON"},  {"RADIOBUTTON", "BUTTON"},    {"AUTORADIOBUTTON", "BUTTON"},
        {"GROUPBOX", "BUTTON"},      {"STATE3", "BUTTON"},         {"AUTO3STATE", "BUTTON"}};
    static const std::map<std::string, std::string> withoutText = {
        {"EDITTEXT", "EDIT"}, {"COMBOBOX", "COMBOBOX"}, {"LISTBOX", "LISTBOX"},
        {"SCROLLBAR", "SCROLLBAR"}};
    if (auto it = withText.find(k); it != withText.end()) {
      c.className = it->second;
      labelText();
      expectComma();
      c.id = int32();
      expectComma();
      rect();
      tail();
    } else if (auto it2 = withoutText.find(k); it2 != withoutText.end()) {
      c.className = it2->second;
      c.id = int32();
      expectComma();
      rect();
      tail();
    } else if (k == "ICON") {
      c.className = "STATIC";
      labelText();
      expectComma();
      c.id = int32();
      expectComma();
      c.x = int32();
      expectComma();
      c.y = int32();
      if (acceptPunct(',')) {
        c.width = int32();
        expectComma();
        c.height = int32();
        tail();
      }
    } else if (k == "CONTROL") {
      labelText();
      expectComma();
      c.id = int32();
      expectComma();
      if (peek().kind == Tok::kString || peek().kind == Tok::kName) {
        c.className = take().text;
      } else {
        fail("control class expected");
      }
      expectComma();
      c.style = styleExpression();
      expectComma();
      rect();
      if (acceptPunct(',')) c.exStyle = styleExpression();
    } else {
      throw ParseError{peek().line, "unsupported control " + k};
    }
    return c;
  }

  void menuBody(std::vector<MenuEntry>& items) {
    expectBegin();
    while (!isEndBlock()) {
      MenuEntry e;
      if (isName("MENUITEM")) {
        take();
        if (isName("SEPARATOR")) {
          take();
          e.separator = true;
        } else {
          e.text = string();
          menuOptions(e);
        }
      } else if (isName("POPUP")) {
        take();
        e.popup = true;
        e.text = string();
        menuOptions(e);
        menuBody(e.items);
      } else {
        fail("MENUITEM, POPUP or END expected");
      }
      items.push_back(std::move(e));
    }
    take();
  }

  // After the text: the id (first number), then option names or further numbers.
  void menuOptions(MenuEntry& e) {
    bool haveId = false;
    while (acceptPunct(',')) {
      if (peek().kind == Tok::kName && !defines_.count(peek().text)) {
        e.options.push_back(take().text);
      } else if (!haveId) {
        e.id = int32();
        haveId = true;
      } else {
        e.options.push_back(std::to_string(integer()));
      }
    }
  }

  void accelerators(uint32_t id) {
    expectBegin();
    std::vector<Accelerator> table;
    while (!isEndBlock()) {
      Accelerator a;
      if (peek().kind == Tok::kString) {
        const std::u16string key = string();
        if (key.size() == 2 && key[0] == u'^') {
          a.key = (key[1] & 0x1F);
        } else if (key.size() == 1) {
          a.key = key[0];
        } else {
          fail("accelerator key must be one character");
        }
      } else {
        a.key = int32();
      }
      expectComma();
      a.command = int32();
      while (acceptPunct(',')) {
        if (peek().kind != Tok::kName) fail("accelerator option expected");
        a.options.push_back(take().text);
      }
      table.push_back(std::move(a));
    }
    take();
    m_.accelerators_[id] = std::move(table);
  }

  ResourceModule& m_;
  std::map<std::string, int64_t> defines_;
  std::vector<Token> toks_;
  size_t i_ = 0;
};

std::unique_ptr<ResourceModule> ResourceModule::parse(std::string_view text,
                                                      std::string_view fileName,
                                                      std::string& error) {
  auto module = std::unique_ptr<ResourceModule>(new ResourceModule());
  module->fileName_ = fileName;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  try {
    ResourceScriptParser parser(*module);
    parser.run(text);
  } catch (const ParseError& e) {
    error = std::string(fileName) + ":" + std::to_string(e.line) + ": " + e.message;
    return nullptr;
  }
  error.clear();
  return module;
}

std::unique_ptr<ResourceModule> ResourceModule::load(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be read";
    return nullptr;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  return parse(ss.str(), path, error);
}

const std::u16string* ResourceModule::string(uint32_t id) const {
  auto it = strings_.find(id);
  return it == strings_.end() ? nullptr : &it->second;
}

size_t ResourceModule::loadString(uint32_t id, char16_t* buffer, size_t capacityChars) const {
  if (!buffer || capacityChars == 0) return 0;
  buffer[0] = 0;
  const std::u16string* s = string(id);
  if (!s) return 0;
  const size_t n = std::min(s->size(), capacityChars - 1);
  s->copy(buffer, n);
  buffer[n] = 0;
  return n;
}

const DialogTemplate* ResourceModule::dialog(uint32_t id) const {
  auto it = dialogs_.find(id);
  return it == dialogs_.end() ? nullptr : &it->second;
}

const MenuTemplate* ResourceModule::menu(uint32_t id) const {
  auto it = menus_.find(id);
  return it == menus_.end() ? nullptr : &it->second;
}

const std::string* ResourceModule::icon(uint32_t id) const {
  auto it = icons_.find(id);
  return it == icons_.end() ? nullptr : &it->second;
}

const std::vector<Accelerator>* ResourceModule::accelerators(uint32_t id) const {
  auto it = accelerators_.find(id);
  return it == accelerators_.end() ? nullptr : &it->second;
}

}  // namespace platform
