#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "platform/module.h"
#include "platform/utf16.h"
#include "texts/language_table.h"

namespace texts {

namespace {

constexpr std::u16string_view kLanguagesValue = u"Languages";
constexpr std::u16string_view kCurrentLanguageValue = u"Current Language";
constexpr size_t kLanguagesCapacityChars = 260;  // 520 bytes
const char16_t kEmpty[] = u"";

Diagnostics orStderr(Diagnostics d) {
  if (d) return d;
  return [](const std::string& m) { std::cerr << m << '\n'; };
}

}  // namespace

std::unique_ptr<platform::ResourceModule> builtinModule() {
  std::string error;
  auto module = platform::ResourceModule::parse(builtinResourceScript(), "built-in resources", error);
  // The build checks the script (the tests parse it), so this cannot fail in a shipped
  // program; an empty module still keeps the program running.
  if (!module) module = platform::ResourceModule::parse("", "built-in resources", error);
  return module;
}

std::unique_ptr<platform::ResourceModule> loadOwnModule(const std::string& programPath,
                                                        const Diagnostics& diagnostics) {
  if (!programPath.empty()) {
    std::string error;
    auto module = platform::ResourceModule::load(programPath + ".rc", error);
    if (module) return module;
    if (diagnostics) diagnostics(error + " (using the built-in resources)");
  }
  return builtinModule();
}

std::string translationModulePath(const std::string& programPath, uint16_t languageId) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%04x.mui", languageId);
  return programPath + suffix;
}

uint16_t parseLanguageHex(std::u16string_view digits) {
  uint32_t value = 0;
  unsigned shift = 0;
  for (size_t i = digits.size(); i-- > 0;) {
    const char16_t c = digits[i];
    if (c == u' ') continue;
    uint32_t d;
    if (c >= u'0' && c <= u'9') {
      d = c - u'0';
    } else if (c >= u'A' && c <= u'F') {
      d = c - u'A' + 10;
    } else if (c >= u'a' && c <= u'f') {
      d = c - u'a' + 10;
    } else {
      return 0;
    }
    if (shift < 32) value |= d << shift;
    shift += 4;
  }
  return static_cast<uint16_t>(value);
}

LanguageTable::LanguageTable(const settings::SettingsStore& store, std::string programPath,
                             Diagnostics diagnostics)
    : store_(store), programPath_(std::move(programPath)), diagnostics_(orStderr(std::move(diagnostics))) {
  ids_[0] = 0;
}

LanguageTable::~LanguageTable() = default;

void LanguageTable::LoadLanguageList(const platform::ResourceModule& own) {
  own_ = &own;
  fallbackOwn_.reset();
  size_t length = 0;  // characters including the terminating zero
  uint32_t currentId = 0;
  char16_t buffer[kLanguagesCapacityChars];
  if (settings::Key key = store_.OpenKey(nullptr, false)) {
    length = settings::readString(key, kLanguagesValue, buffer, kLanguagesCapacityChars) + 1;
    currentId = settings::readDword(key, kCurrentLanguageValue).value_or(0);
  }
  ids_[0] = 0;
  count_ = 1;
  for (size_t end = 4; end < length && count_ < kMaxLanguages; end += 5) {
    const uint16_t id = parseLanguageHex(std::u16string_view(buffer + end - 4, 4));
    if (id != 0) ids_[count_++] = id;
  }
  uint32_t index = 0;
  for (uint32_t i = 0; i < count_; ++i) {
    if (ids_[i] == currentId) {
      index = i;
      break;
    }
  }
  LoadLanguage(index);
}

void LanguageTable::LoadLanguage(uint32_t index) {
  if (!own_) {
    fallbackOwn_ = builtinModule();
    own_ = fallbackOwn_.get();
  }
  if (index >= count_) index = 0;
  current_ = index;
  const uint16_t id = ids_[index];
  languageModule_.reset();
  if (id != 0 && !programPath_.empty()) {
    const std::string path = translationModulePath(programPath_, id);
    std::string error;
    languageModule_ = platform::ResourceModule::load(path, error);
    // A missing translation is silent; a broken one is worth a line.
    if (!languageModule_ && std::filesystem::exists(path)) {
      diagnostics_(error + " (using the built-in texts)");
    }
  }
  if (!pool_) pool_ = std::make_unique<char16_t[]>(kPoolChars);
  if (languageModule_ && !fillTexts(*languageModule_)) {
    diagnostics_(languageModule_->fileName() + ": the texts do not fit into " +
                 std::to_string(kPoolChars) + " characters (using the built-in texts)");
    languageModule_.reset();
  }
  if (!languageModule_) fillTexts(*own_);
  for (uint32_t t = 0; t < kTextCount; ++t)
    if (const char16_t* fixed = fixedText(t)) texts_[t] = fixed;
  settings::writeDword(store_.OpenKey(nullptr, true), kCurrentLanguageValue, ids_[current_]);
}

bool LanguageTable::fillTexts(const platform::ResourceModule& module) {
  poolUsed_ = 0;
  texts_.fill(nullptr);
  bool fits = true;
  for (uint32_t t = 0; t < kTextCount; ++t) {
    const uint32_t resource = textResourceId(t);
    if (resource == 0) continue;
    char16_t text[kMaxTextChars + 1];
    size_t n = module.loadString(resource, text, kMaxTextChars + 1);
    const bool plus = t == kTextCameraPlus && n > 0;
    const size_t need = n + (plus ? 1 : 0) + 1;
    if (poolUsed_ + need > kPoolChars) {
      // Never past the pool: this text and the ones after it stay empty.
      texts_[t] = kEmpty;
      fits = false;
      continue;
    }
    char16_t* at = pool_.get() + poolUsed_;
    std::memcpy(at, text, n * sizeof(char16_t));
    if (plus) at[n++] = u'+';
    at[n] = 0;
    texts_[t] = at;
    poolUsed_ += static_cast<uint32_t>(n + 1);
  }
  return fits;
}

const char16_t* LanguageTable::Text(uint32_t textId) const {
  return textId < kTextCount ? texts_[textId] : nullptr;
}

const platform::ResourceModule& LanguageTable::dialogModule() const {
  return languageModule_ ? *languageModule_ : *own_;
}

// ---- language names --------------------------------------------------------------

namespace {

struct KnownLanguage {
  uint16_t id;
  const char16_t* native;
  const char16_t* english;
};

// Language ids as the system numbers them (primary language | sublanguage << 10).
constexpr KnownLanguage kKnown[] = {
    {0x0405, u"\u010de\u0161tina", u"Czech"},
    {0x0406, u"dansk", u"Danish"},
    {0x0407, u"Deutsch", u"German"},
    {0x0408, u"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac", u"Greek"},
    {0x0409, u"English", u"English"},
    {0x040a, u"espa\u00f1ol", u"Spanish"},
    {0x040b, u"suomi", u"Finnish"},
    {0x040c, u"fran\u00e7ais", u"French"},
    {0x040e, u"magyar", u"Hungarian"},
    {0x0410, u"italiano", u"Italian"},
    {0x0411, u"\u65e5\u672c\u8a9e", u"Japanese"},
    {0x0413, u"Nederlands", u"Dutch"},
    {0x0414, u"norsk (bokm\u00e5l)", u"Norwegian"},
    {0x0415, u"polski", u"Polish"},
    {0x0416, u"portugu\u00eas (Brasil)", u"Portuguese"},
    {0x0419, u"\u0440\u0443\u0441\u0441\u043a\u0438\u0439", u"Russian"},
    {0x041d, u"svenska", u"Swedish"},
    {0x041f, u"T\u00fcrk\u00e7e", u"Turkish"},
    {0x0422, u"\u0443\u043a\u0440\u0430\u0457\u043d\u0441\u044c\u043a\u0430", u"Ukrainian"},
    {0x0807, u"Deutsch (Schweiz)", u"German"},
    {0x0809, u"English (United Kingdom)", u"English"},
    {0x0816, u"portugu\u00eas", u"Portuguese"},
    {0x0c07, u"Deutsch (\u00d6sterreich)", u"German"},
};

class TableLocaleInfo final : public LocaleInfo {
 public:
  std::optional<LocaleNames> names(uint16_t languageId) const override {
    for (const auto& k : kKnown)
      if (k.id == languageId) return LocaleNames{k.native, k.english};
    return std::nullopt;
  }
};

}  // namespace

const LocaleInfo& systemLocaleInfo() {
  static TableLocaleInfo info;
  return info;
}

std::u16string languageDisplayName(uint16_t languageId, const LocaleInfo& locales) {
  if (languageId == 0) return u"Default";
  if (auto names = locales.names(languageId)) {
    if (!names->native.empty()) return names->native;
    if (!names->english.empty()) return names->english;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u - ???", static_cast<unsigned>(languageId));
  return platform::utf8ToUtf16Lossy(buf);
}

namespace {

std::string folderOrOwn(const std::vector<std::string>& folders, std::string_view fileName) {
  std::string folder = platform::folderHolding(folders, fileName);
  if (folder.empty()) folder = platform::programDirectory();
  return folder.empty() ? std::string(".") : folder;
}

}  // namespace

std::string defaultProgramPath() {
  return folderOrOwn(platform::moduleDirectories(), "vistrel.rc") + "/vistrel";
}

std::string helpDirectory() { return folderOrOwn(platform::dataDirectories(), kHelpFileName); }

// ---- help ------------------------------------------------------------------------

bool OpenHelp(std::u16string_view topic, const std::string& programDirectory,
              platform::ProgramStarter& starter) {
  const std::string file = (programDirectory.empty() ? std::string(".") : programDirectory) + "/" +
                           kHelpFileName;
  const std::string address = platform::fileAddress(file, platform::utf16ToUtf8Lossy(topic));
  if (starter.start({platform::kDesktopOpener, address})) return true;
  return starter.start({platform::kFallbackBrowser, address});
}

}  // namespace texts
