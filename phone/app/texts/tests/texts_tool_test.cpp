// The store, the texts and the German module through a real program: vistrel-texts,
// run as its own process over a settings file in a temporary folder.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/module.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun run(const std::string& command) {
  ToolRun r;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  r.status = ::pclose(p);
  return r;
}

TEST(TextsToolTest, LanguageSwitchThroughTheProgramIsReadableInTheSettingsFile) {
  std::string pattern = (fs::temp_directory_path() / "vistrel-tool-XXXXXX").string();
  const std::string dir = ::mkdtemp(pattern.data());
  const std::string resources = VISTREL_RESOURCES_DIR;
  fs::copy_file(resources + "/vistrel.rc", dir + "/vistrel.rc");
  fs::copy_file(resources + "/vistrel.0407.mui", dir + "/vistrel.0407.mui");
  const std::string store = dir + "/registry.reg";
  std::ofstream(store) << "Windows Registry Editor Version 5.00\n\n"
                          "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"
                          "\"Languages\"=\"0407\"\n";
  const std::string tool = "VISTREL_KEY_STORE='" + store + "' " VISTREL_TEST_RUNNER "'" +
                           platform::programDirectory() +
                           "/vistrel-texts' --program '" + dir + "/vistrel' ";

  ToolRun listed = run(tool + "languages");
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out, "* 0 0x0000 Default\n  1 0x0407 Deutsch\n");

  EXPECT_EQ(run(tool + "use-language 1").out, "Deutsch\n");
  ToolRun texts = run(tool + "texts");
  EXPECT_NE(texts.out.find("21 Quelle\n"), std::string::npos) << texts.out;
  EXPECT_NE(texts.out.find(" 9 Kamera+\n"), std::string::npos);
  ToolRun dialog = run(tool + "dialog 605");
  EXPECT_NE(dialog.out.find("\"Allgemeine Einstellungen\""), std::string::npos) << dialog.out;

  std::ifstream in(store);
  std::stringstream file;
  file << in.rdbuf();
  EXPECT_NE(file.str().find("\"Current Language\"=dword:00000407\n"), std::string::npos)
      << file.str();
  EXPECT_NE(file.str().find("\"Languages\"=\"0407\"\n"), std::string::npos);
  fs::remove_all(dir);
}

}  // namespace
