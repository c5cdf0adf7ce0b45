#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/resources.h"

namespace dialogs {

// The language the library's own texts are written in (English, United States).
inline constexpr uint16_t kBuiltinLanguage = 1033;

// The user's and the system's language choices, as language ids (primary language |
// sub-language << 10). Each may be unknown.
class LocaleSource {
 public:
  virtual ~LocaleSource() = default;
  virtual std::optional<uint16_t> userUiLanguage() const = 0;
  virtual std::optional<uint16_t> systemUiLanguage() const = 0;
  virtual std::optional<uint16_t> userDefaultLanguage() const = 0;
  virtual std::optional<uint16_t> systemDefaultLanguage() const = 0;
};

// The languages of this machine: the user's from the environment (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG for the interface; LC_ALL, LC_CTYPE, LANG for the default), the
// system's from /etc/default/locale or /etc/locale.conf.
const LocaleSource& systemLocaleSource();

// The language id of a locale name such as "de_CH.UTF-8", "de" or "pt_BR@euro"; nothing
// for "C", "POSIX", empty or unknown names. A known language in an unknown country gets
// the language's main sub-language (1).
std::optional<uint16_t> languageIdOfLocale(std::string_view name);

// Receives one line per damaged language module (file and line), for standard error.
using LanguageDiagnostics = std::function<void(const std::string& message)>;

// The language list of the PC library and its loaded language module. Entry 0 is always
// 0 (automatic choice), entry 1 the built-in language 1033; the others come from the
// modules "Lang/res%04x.rc" in the library's folder (four lower-case hexadecimal digits,
// non-zero), at most kMaxLanguages entries in all.
//
// Loaded modules are kept until the list goes, so that a module handed out (to a viewer
// reading its texts) stays valid after another language is chosen.
//
// Threading: not synchronised; the owner serialises the calls.
class LanguageList {
 public:
  static constexpr uint32_t kMaxLanguages = 64;

  // `own` is the library's own module (the built-in language); it must outlive the list.
  // `directory` is the library's folder, which holds "Lang".
  LanguageList(const platform::ResourceModule& own, std::string directory,
               LanguageDiagnostics diagnostics = {});

  // Reads the "Lang" folder again.
  void build();

  // Selects entry `index` (0 when out of range) and loads its language; when that fails,
  // the user's and the system's languages are tried, then the built-in one.
  void select(uint32_t index, const LocaleSource& locales);
  // Selects the entry with `languageId` (entry 0 when none has it).
  void selectId(uint16_t languageId, const LocaleSource& locales);

  // Loads one language: the id, then its primary language, then the primary language
  // with sub-language 1. True when one of them loaded.
  bool load(uint16_t languageId);

  // The loaded language module, or the own module when the built-in language is in use.
  const platform::ResourceModule& module() const { return *current_; }
  bool ownModuleInUse() const { return current_ == &own_; }
  uint16_t loadedLanguage() const { return loaded_; }

  uint32_t count() const { return count_; }
  uint16_t id(uint32_t index) const { return index < count_ ? ids_[index] : 0; }
  uint32_t selected() const { return selected_; }
  uint16_t selectedId() const { return id(selected_); }

  // "Lang/res%04x.rc" in `directory`.
  static std::string modulePath(const std::string& directory, uint16_t languageId);

 private:
  bool tryOne(uint16_t languageId);

  const platform::ResourceModule& own_;
  const std::string directory_;
  LanguageDiagnostics diagnostics_;
  std::array<uint16_t, kMaxLanguages> ids_{};
  uint32_t count_ = 2;
  uint32_t selected_ = 0;
  const platform::ResourceModule* current_;
  uint16_t loaded_ = kBuiltinLanguage;
  std::map<uint16_t, std::unique_ptr<platform::ResourceModule>> loadedModules_;
};

// The line of the language list for `languageId` (not 0): the language's own name, else
// its English name, else "%u - ???" with the id in decimal.
std::u16string languageName(uint16_t languageId);

}  // namespace dialogs
