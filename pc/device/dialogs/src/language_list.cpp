#include "dialogs/language_list.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "texts/language_table.h"

namespace dialogs {

namespace {

// "res" + four lower-case hexadecimal digits + ".rc": the id, else 0.
uint16_t idOfFileName(const std::string& name) {
  if (name.size() != 10 || name.compare(0, 3, "res") != 0 || name.compare(7, 3, ".rc") != 0) return 0;
  uint32_t id = 0;
  for (size_t i = 3; i < 7; ++i) {
    const char c = name[i];
    if (c >= '0' && c <= '9') id = id * 16 + static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') id = id * 16 + static_cast<uint32_t>(c - 'a' + 10);
    else return 0;  // upper-case digits would name a file that loading does not look for
  }
  return static_cast<uint16_t>(id);
}

}  // namespace

LanguageList::LanguageList(const platform::ResourceModule& own, std::string directory,
                           LanguageDiagnostics diagnostics)
    : own_(own), directory_(std::move(directory)), diagnostics_(std::move(diagnostics)),
      current_(&own) {
  ids_[0] = 0;
  ids_[1] = kBuiltinLanguage;
}

std::string LanguageList::modulePath(const std::string& directory, uint16_t languageId) {
  char name[16];
  std::snprintf(name, sizeof name, "res%04x.rc", static_cast<unsigned>(languageId));
  return directory + "/Lang/" + name;
}

void LanguageList::build() {
  count_ = 2;
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory_ + "/Lang", error), end; !error && it != end;
       it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (count_ >= kMaxLanguages) break;  // the rest are ignored
    const uint16_t id = idOfFileName(name);
    if (id == 0 || id == kBuiltinLanguage) continue;  // 1033 is the library's own
    ids_[count_++] = id;
  }
  if (selected_ >= count_) selected_ = 0;
}

bool LanguageList::tryOne(uint16_t languageId) {
  if (languageId == kBuiltinLanguage) {
    current_ = &own_;
    loaded_ = languageId;
    return true;
  }
  auto cached = loadedModules_.find(languageId);
  if (cached == loadedModules_.end()) {
    const std::string path = modulePath(directory_, languageId);
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return false;  // a missing module is silent
    std::string problem;
    std::unique_ptr<platform::ResourceModule> module = platform::ResourceModule::load(path, problem);
    if (!module) {
      if (diagnostics_) diagnostics_(problem);
      return false;
    }
    cached = loadedModules_.emplace(languageId, std::move(module)).first;
  }
  current_ = cached->second.get();
  loaded_ = languageId;
  return true;
}

bool LanguageList::load(uint16_t languageId) {
  if (tryOne(languageId)) return true;
  if (languageId < 1024) return false;
  const uint16_t primary = languageId & 0x3FF;
  if (tryOne(primary)) return true;
  if ((languageId >> 10) == 1) return false;
  return tryOne(static_cast<uint16_t>(primary | 0x400));
}

void LanguageList::select(uint32_t index, const LocaleSource& locales) {
  selected_ = index < count_ ? index : 0;
  if (load(ids_[selected_])) return;
  for (auto candidate : {locales.userUiLanguage(), locales.systemUiLanguage(),
                         locales.userDefaultLanguage(), locales.systemDefaultLanguage()}) {
    if (candidate && load(*candidate)) return;
  }
  tryOne(kBuiltinLanguage);
}

void LanguageList::selectId(uint16_t languageId, const LocaleSource& locales) {
  uint32_t index = 0;
  for (uint32_t i = 0; i < count_; ++i) {
    if (ids_[i] == languageId) {
      index = i;
      break;
    }
  }
  select(index, locales);
}

std::u16string languageName(uint16_t languageId) {
  return texts::languageDisplayName(languageId, texts::systemLocaleInfo());
}

}  // namespace dialogs
