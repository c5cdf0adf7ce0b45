#include "warden/command_line.h"

#include <gtest/gtest.h>

namespace warden {
namespace {

using Mode = CommandLine::Mode;

TEST(CommandLine, SwitchesAreExactAndAnythingElseIsAHardwareId) {
  struct Case {
    std::vector<std::string> args;
    Mode mode;
    bool system;
    std::string hardwareId, definition;
  } cases[] = {
      {{}, Mode::kService, false, "", ""},
      {{"/i"}, Mode::kInstallService, false, "", ""},
      {{"/u"}, Mode::kRemoveService, false, "", ""},
      {{"--system", "/i"}, Mode::kInstallService, true, "", ""},
      {{"--system", "/u"}, Mode::kRemoveService, true, "", ""},
      {{"/I"}, Mode::kRemoveDevice, false, "/I", ""},
      {{"/U", "x.vdef"}, Mode::kInstallDevice, false, "/U", "x.vdef"},
      {{"ROOT\\OrvaneAudio", "/usr/share/a.vdef"}, Mode::kInstallDevice, false, "ROOT\\OrvaneAudio", "/usr/share/a.vdef"},
      {{"root\\orvaneaudio"}, Mode::kRemoveDevice, false, "root\\orvaneaudio", ""},
      {{"--help"}, Mode::kHelp, false, "", ""},
      {{"-h"}, Mode::kHelp, false, "", ""},
      {{"/i", "x"}, Mode::kBad, false, "", ""},
      {{"a", "b", "c"}, Mode::kBad, false, "", ""},
      {{"--system"}, Mode::kBad, true, "", ""},
      {{"--system", "HW"}, Mode::kBad, true, "", ""},
      {{"--bogus", "/i"}, Mode::kBad, false, "", ""},
      {{""}, Mode::kBad, false, "", ""},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += "[" + a + "]";
    SCOPED_TRACE(shown);
    const CommandLine got = parseCommandLine(c.args);
    EXPECT_EQ(got.mode, c.mode);
    if (got.mode == Mode::kBad) {
      EXPECT_FALSE(got.error.empty());
      continue;
    }
    EXPECT_EQ(got.system, c.system);
    EXPECT_EQ(got.hardwareId, c.hardwareId);
    EXPECT_EQ(got.definitionPath, c.definition);
  }
}

}  // namespace
}  // namespace warden
