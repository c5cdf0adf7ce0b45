// The user's and the system's languages on this platform: locale names from the
// environment and from the system's locale file, turned into language ids.
#include <cstdlib>
#include <fstream>
#include <string>

#include "dialogs/language_list.h"

namespace dialogs {

namespace {

struct PrimaryLanguage {
  const char* code;  // ISO 639-1
  uint16_t primary;
};

// Primary language numbers as the language ids use them.
constexpr PrimaryLanguage kPrimary[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06},
    {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0a}, {"fi", 0x0b}, {"fr", 0x0c},
    {"he", 0x0d}, {"hu", 0x0e}, {"is", 0x0f}, {"it", 0x10}, {"ja", 0x11}, {"ko", 0x12},
    {"nl", 0x13}, {"nb", 0x14}, {"no", 0x14}, {"pl", 0x15}, {"pt", 0x16}, {"ro", 0x18},
    {"ru", 0x19}, {"hr", 0x1a}, {"sk", 0x1b}, {"sq", 0x1c}, {"sv", 0x1d}, {"th", 0x1e},
    {"tr", 0x1f}, {"id", 0x21}, {"uk", 0x22}, {"sl", 0x24}, {"et", 0x25}, {"lv", 0x26},
    {"lt", 0x27}, {"vi", 0x2a},
};

struct Country {
  const char* locale;  // language_COUNTRY
  uint16_t id;
};

// Countries whose sub-language is not the language's first.
constexpr Country kCountries[] = {
    {"de_CH", 0x0807}, {"de_AT", 0x0c07}, {"de_LU", 0x1007}, {"de_LI", 0x1407},
    {"en_GB", 0x0809}, {"en_AU", 0x0c09}, {"en_CA", 0x1009}, {"en_NZ", 0x1409},
    {"en_IE", 0x1809}, {"es_MX", 0x080a}, {"fr_BE", 0x080c}, {"fr_CA", 0x0c0c},
    {"fr_CH", 0x100c}, {"it_CH", 0x0810}, {"nl_BE", 0x0813}, {"pt_PT", 0x0816},
    {"sv_FI", 0x081d}, {"zh_CN", 0x0804}, {"zh_TW", 0x0404}, {"zh_HK", 0x0c04},
};

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

std::optional<uint16_t> firstKnown(std::initializer_list<std::string> names) {
  for (const std::string& name : names) {
    if (auto id = languageIdOfLocale(name)) return id;
  }
  return std::nullopt;
}

// NAME=value lines of the system's locale file (the first file that exists).
std::string systemSetting(const char* name) {
  for (const char* path : {"/etc/default/locale", "/etc/locale.conf"}) {
    std::ifstream in(path);
    if (!in) continue;
    std::string line, value;
    const std::string prefix = std::string(name) + "=";
    while (std::getline(in, line)) {
      if (line.compare(0, prefix.size(), prefix) != 0) continue;
      value = line.substr(prefix.size());
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')) {
        value = value.substr(1, value.size() - 2);
      }
    }
    return value;
  }
  return {};
}

class EnvironmentLocales final : public LocaleSource {
 public:
  std::optional<uint16_t> userUiLanguage() const override {
    // LANGUAGE is a list ("de_CH:de"); its first entry counts.
    const std::string list = env("LANGUAGE");
    return firstKnown({list.substr(0, list.find(':')), env("LC_ALL"), env("LC_MESSAGES"), env("LANG")});
  }
  std::optional<uint16_t> systemUiLanguage() const override {
    return firstKnown({systemSetting("LC_MESSAGES"), systemSetting("LANG")});
  }
  std::optional<uint16_t> userDefaultLanguage() const override {
    return firstKnown({env("LC_ALL"), env("LC_CTYPE"), env("LANG")});
  }
  std::optional<uint16_t> systemDefaultLanguage() const override {
    return firstKnown({systemSetting("LC_CTYPE"), systemSetting("LANG")});
  }
};

}  // namespace

std::optional<uint16_t> languageIdOfLocale(std::string_view name) {
  const size_t end = name.find_first_of(".@");
  if (end != std::string_view::npos) name = name.substr(0, end);
  const std::string_view language = name.substr(0, name.find('_'));
  for (const Country& c : kCountries) {
    if (name == c.locale) return c.id;
  }
  for (const PrimaryLanguage& p : kPrimary) {
    if (language == p.code) return static_cast<uint16_t>(p.primary | 0x400);
  }
  return std::nullopt;
}

const LocaleSource& systemLocaleSource() {
  static EnvironmentLocales locales;
  return locales;
}

}  // namespace dialogs
