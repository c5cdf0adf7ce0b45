#include "front/command_line.h"

#include <gtest/gtest.h>

namespace front {
namespace {

TEST(CommandLineTest, OwnOptionsAreTakenAndTheRestGoesToTheTarget) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(parseCommandLine({"-q", "--set", "Camera/Resolution=640x480", "-p2047",
                                "--enable=Sound", "--target", "Network", "x"},
                               c, error))
      << error;
  EXPECT_TRUE(c.quiet);
  ASSERT_EQ(c.changes.size(), 3u);
  EXPECT_EQ(c.changes[0].kind, SettingChange::Kind::kSet);
  EXPECT_EQ(c.changes[0].text, "Camera/Resolution=640x480");
  EXPECT_EQ(c.changes[1].kind, SettingChange::Kind::kEnable);
  EXPECT_EQ(c.changes[1].text, "Sound");
  EXPECT_EQ(c.changes[2].kind, SettingChange::Kind::kTarget);
  EXPECT_EQ(c.rest, (std::vector<std::string>{"-p2047", "x"}));
  EXPECT_FALSE(c.settingsOnly());  // -p asks for capture

  ASSERT_TRUE(parseCommandLine({"--disable", "Sound", "--settings"}, c, error));
  EXPECT_TRUE(c.settingsOnly());
  ASSERT_TRUE(parseCommandLine({"--settings", "--start"}, c, error));
  EXPECT_FALSE(c.settingsOnly());
  ASSERT_TRUE(parseCommandLine({}, c, error));
  EXPECT_FALSE(c.settingsOnly());
}

TEST(CommandLineTest, UnknownOrIncompleteGnuOptionsAreRefused) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--port=2047"}, "unknown option --port"},
      {{"-p2047", "--verbose"}, "unknown option --verbose"},
      {{"--set"}, "--set needs a value"},
      {{"--enable="}, "--enable needs a value"},
      {{"--window", "--headless"}, "exclude each other"},
  };
  for (const Case& c : cases) {
    CommandLine out;
    std::string error;
    EXPECT_FALSE(parseCommandLine(c.args, out, error)) << c.args[0];
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
  // Single-dash words keep the target's lenient reading.
  CommandLine out;
  std::string error;
  EXPECT_TRUE(parseCommandLine({"-x", "-p", "2047", "-"}, out, error));
  EXPECT_EQ(out.rest.size(), 4u);
}

TEST(CommandLineTest, ArgumentsSurviveJoiningAndSplitting) {
  const std::vector<std::string> args = {"--set", "Network/RemoteIP=my pc", "a\"b", "back\\slash",
                                         "", "-p2047"};
  EXPECT_EQ(splitArguments(joinArguments(args)), args);
  EXPECT_EQ(joinArguments({"-p2047", "x"}), "-p2047 x");  // plain texts stay as they were
  EXPECT_EQ(splitArguments("  -p 2047\t x "), (std::vector<std::string>{"-p", "2047", "x"}));
}

}  // namespace
}  // namespace front
