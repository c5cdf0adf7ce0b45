#pragma once

// LoadLanguage, LoadLanguageList, OpenHelp and Text keep the names the device program's
// texts are reached by.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/help.h"
#include "platform/resources.h"
#include "settings/settings_store.h"
#include "texts/text_ids.h"

namespace texts {

// Receives one line per problem with a resource script (file and line), for stderr.
using Diagnostics = std::function<void(const std::string& message)>;

// The resource script of the program's own module as built into the program.
std::string_view builtinResourceScript();

// The program's own module: the script `programPath` + ".rc" beside the program, or the
// built-in copy when that file is missing or not valid (a broken file is reported).
std::unique_ptr<platform::ResourceModule> loadOwnModule(const std::string& programPath,
                                                        const Diagnostics& diagnostics);

// The built-in copy alone.
std::unique_ptr<platform::ResourceModule> builtinModule();

// Name of the translation module of `languageId` for the program file `programPath`:
// the path followed by ".%04x.mui" (four lower-case hexadecimal digits).
std::string translationModulePath(const std::string& programPath, uint16_t languageId);

// The "Languages" reading of hexadecimal numbers: from the last character to the first,
// blanks skipped, any other non-digit makes the whole number 0; truncated to 16 bits.
uint16_t parseLanguageHex(std::u16string_view digits);

// The user-interface languages and the text table of the current one (one per process).
//
// Threading: loaded on the window thread at start-up and when the language changes;
// Text() may then be read from any thread (texts never change while threads run).
class LanguageTable {
 public:
  static constexpr uint32_t kMaxLanguages = 64;
  static constexpr uint32_t kPoolChars = 2048;  // 4096 bytes
  static constexpr uint32_t kMaxTextChars = 100;

  // `programPath` is the full path of the program file (empty: not known, so no
  // translation can be found). The store must outlive the table.
  LanguageTable(const settings::SettingsStore& store, std::string programPath,
                Diagnostics diagnostics = {});
  ~LanguageTable();

  // Reads "Languages" and "Current Language" and loads the current language. `own`
  // must outlive the table.
  void LoadLanguageList(const platform::ResourceModule& own);

  // Loads the texts of ids()[index] and writes "Current Language".
  void LoadLanguage(uint32_t index);

  // The text of `textId`, or null for ids without a text.
  const char16_t* Text(uint32_t textId) const;

  // Where the dialogs 600, 601, 602, 604 and 605 come from: the language module when
  // one is loaded, else the own module.
  const platform::ResourceModule& dialogModule() const;
  const platform::ResourceModule& ownModule() const { return *own_; }
  bool languageModuleLoaded() const { return languageModule_ != nullptr; }

  uint32_t current() const { return current_; }
  uint32_t count() const { return count_; }
  uint16_t id(uint32_t index) const { return index < count_ ? ids_[index] : 0; }
  uint32_t poolUsed() const { return poolUsed_; }

 private:
  // Fills the pool from `module`; false when the texts do not fit.
  bool fillTexts(const platform::ResourceModule& module);

  const settings::SettingsStore& store_;
  const std::string programPath_;
  Diagnostics diagnostics_;

  uint32_t current_ = 0;
  uint32_t count_ = 1;
  std::array<const char16_t*, kTextCount> texts_{};
  std::array<uint16_t, kMaxLanguages> ids_{};
  std::unique_ptr<char16_t[]> pool_;
  uint32_t poolUsed_ = 0;
  std::unique_ptr<platform::ResourceModule> languageModule_;
  const platform::ResourceModule* own_ = nullptr;
  std::unique_ptr<platform::ResourceModule> fallbackOwn_;  // until LoadLanguageList
};

// A language's names from the system's locale data.
struct LocaleNames {
  std::u16string native;   // in the language itself; may be empty
  std::u16string english;  // may be empty
};

class LocaleInfo {
 public:
  virtual ~LocaleInfo() = default;
  virtual std::optional<LocaleNames> names(uint16_t languageId) const = 0;
};

// The names this system knows: a table of the common language ids.
const LocaleInfo& systemLocaleInfo();

// The line of the language list: "Default" for id 0; else the native name, else the
// language name, else "%u - ???" with the id in decimal.
std::u16string languageDisplayName(uint16_t languageId, const LocaleInfo& locales);

// Opens the help file in `programDirectory` (see helpDirectory()) at `topic`
// ("Vistrel.htm#" + topic) with the desktop's opener, else with the browser. True when a
// program was started.
bool OpenHelp(std::u16string_view topic, const std::string& programDirectory,
              platform::ProgramStarter& starter = platform::systemProgramStarter());

inline constexpr const char* kHelpFileName = "Vistrel.htm";

// The device program's resource path without suffix ("<folder>/vistrel", to which ".rc"
// and ".0407.mui" are added): the first of the module folders (the program's own, then
// the installed one) that holds "vistrel.rc"; the program's own folder when none does.
std::string defaultProgramPath();

// The folder of the help file: the program's own folder in the build tree, the installed
// data folder (share/vistrel) otherwise; the program's own folder when neither has it.
std::string helpDirectory();

}  // namespace texts
