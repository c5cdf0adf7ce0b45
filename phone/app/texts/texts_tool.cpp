// vistrel-texts: the device program's settings store, languages and texts from the
// command line, the way `vistrel` itself uses them.
//
//   vistrel-texts store                 path of the settings file in use
//   vistrel-texts languages             installed languages, the current one marked
//   vistrel-texts texts                 every text id with its text
//   vistrel-texts use-language INDEX    loads a language and records it as current
//   vistrel-texts dialog ID             the controls of a dialog template
//   vistrel-texts help [TOPIC]          opens the help file
//
// The language modules are looked up beside the resource script of the program `vistrel`
// (in this program's folder, else the installed module folder) or of the program named by
// --program PATH.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/key_store.h"
#include "platform/module.h"
#include "platform/resources.h"
#include "platform/utf16.h"
#include "texts/language_table.h"
#include "vistrel_version.h"

namespace {

std::string utf8(const std::u16string& s) { return platform::utf16ToUtf8Lossy(s); }

const char kHelp[] =
    "Usage: vistrel-texts [--program PATH] COMMAND\n"
    "The device program's settings store, languages and texts, used the way vistrel uses\n"
    "them.\n"
    "\n"
    "Commands:\n"
    "  store                 path of the settings file in use\n"
    "  languages             installed languages, the current one marked\n"
    "  texts                 every text id with its text\n"
    "  use-language INDEX    loads a language and records it as current\n"
    "  dialog ID             the controls of a dialog template\n"
    "  help [TOPIC]          opens the help file at TOPIC (Vistrel.htm, installed in\n"
    "                        share/vistrel)\n"
    "\n"
    "  --program PATH        the program whose resource scripts are used (PATH.rc and its\n"
    "                        translations PATH.XXXX.mui; default: the installed vistrel)\n"
    "  -h, --help            show this text\n"
    "  --version             print the version\n"
    "VISTREL_KEY_STORE names another settings file. See docs/resources.md.\n";

int usage() {
  std::cerr << "usage: vistrel-texts [--program PATH] store|languages|texts|use-language INDEX|"
               "dialog ID|help [TOPIC] (see --help)\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (vistrel::printVersionIfAsked("vistrel-texts", argc, argv)) return 0;
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << kHelp;
    return 0;
  }
  int arg = 1;
  std::string program;
  if (arg + 1 < argc && std::strcmp(argv[arg], "--program") == 0) {
    program = argv[arg + 1];
    arg += 2;
  }
  // The help file sits beside a program named by --program, else where vistrel finds it.
  const std::string helpFolder = program.empty() ? texts::helpDirectory() : program.substr(0, program.rfind('/'));
  if (program.empty()) {
    program = texts::defaultProgramPath();
  }
  if (arg >= argc) return usage();
  const std::string command = argv[arg++];
  const texts::Diagnostics toStderr = [](const std::string& m) { std::cerr << m << '\n'; };

  if (command == "store") {
    std::cout << platform::defaultKeyStorePath() << '\n';
    return 0;
  }
  settings::SettingsStore store(platform::KeyStore::machine());
  store.setMainPath(settings::kSettingsPath);
  auto own = texts::loadOwnModule(program, toStderr);
  texts::LanguageTable table(store, program, toStderr);
  table.LoadLanguageList(*own);

  if (command == "languages") {
    for (uint32_t i = 0; i < table.count(); ++i) {
      std::printf("%c %u 0x%04x %s\n", i == table.current() ? '*' : ' ', i, table.id(i),
                  utf8(texts::languageDisplayName(table.id(i), texts::systemLocaleInfo())).c_str());
    }
    return 0;
  }
  if (command == "texts") {
    for (uint32_t id = 0; id < texts::kTextCount; ++id)
      if (const char16_t* t = table.Text(id)) std::printf("%2u %s\n", id, utf8(t).c_str());
    return 0;
  }
  if (command == "use-language" && arg < argc) {
    const unsigned long index = std::strtoul(argv[arg], nullptr, 0);
    if (index >= table.count()) {
      std::cerr << "no language " << index << " (there are " << table.count() << ")\n";
      return 1;
    }
    table.LoadLanguage(static_cast<uint32_t>(index));
    std::printf("%s\n", utf8(texts::languageDisplayName(table.id(table.current()),
                                                        texts::systemLocaleInfo())).c_str());
    return 0;
  }
  if (command == "dialog" && arg < argc) {
    const uint32_t id = static_cast<uint32_t>(std::strtoul(argv[arg], nullptr, 0));
    // The setting editor always comes from the own module.
    const auto& module = id == 603 ? table.ownModule() : table.dialogModule();
    const platform::DialogTemplate* d = module.dialog(id);
    if (!d) {
      std::cerr << "no dialog " << id << '\n';
      return 1;
    }
    std::printf("%u \"%s\" %dx%d\n", id, utf8(d->caption).c_str(), d->width, d->height);
    for (const auto& c : d->controls)
      std::printf("  %-13s %5d \"%s\" %d,%d %dx%d\n", c.statement.c_str(), c.id,
                  utf8(c.text).c_str(), c.x, c.y, c.width, c.height);
    return 0;
  }
  if (command == "help") {
    const std::string topic = arg < argc ? argv[arg] : "Main_Contents";
    return texts::OpenHelp(platform::utf8ToUtf16Lossy(topic), helpFolder) ? 0 : 1;
  }
  return usage();
}
