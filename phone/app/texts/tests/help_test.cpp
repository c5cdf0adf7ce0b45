#include <gtest/gtest.h>

#include <fstream>

#include "platform/help.h"
#include "texts/language_table.h"

namespace texts {
namespace {

class RecordingStarter final : public platform::ProgramStarter {
 public:
  explicit RecordingStarter(int succeedFrom) : succeedFrom_(succeedFrom) {}
  bool start(const std::vector<std::string>& argv) override {
    calls.push_back(argv);
    return static_cast<int>(calls.size()) >= succeedFrom_;
  }
  std::vector<std::vector<std::string>> calls;

 private:
  int succeedFrom_;
};

TEST(OpenHelpTest, DesktopOpenerFirstThenTheBrowser) {
  const std::vector<std::string> opener = {"xdg-open",
                                           "file:///opt/vistrel/Vistrel.htm#Main_Contents"};
  const std::vector<std::string> browser = {"x-www-browser",
                                            "file:///opt/vistrel/Vistrel.htm#Main_Contents"};
  RecordingStarter first(1);
  EXPECT_TRUE(OpenHelp(u"Main_Contents", "/opt/vistrel", first));
  EXPECT_EQ(first.calls, (std::vector<std::vector<std::string>>{opener}));

  RecordingStarter second(2);
  EXPECT_TRUE(OpenHelp(u"Main_Contents", "/opt/vistrel", second));
  EXPECT_EQ(second.calls, (std::vector<std::vector<std::string>>{opener, browser}));

  RecordingStarter never(99);
  EXPECT_FALSE(OpenHelp(u"Main_Contents", "/opt/vistrel", never));
  EXPECT_EQ(never.calls.size(), 2u);

  EXPECT_EQ(platform::fileAddress("/my dir/Vistrel.htm", "ConnectNetwork"),
            "file:///my%20dir/Vistrel.htm#ConnectNetwork");
}

TEST(OpenHelpTest, RealStarterTellsWhetherTheProgramStarted) {
  auto& starter = platform::systemProgramStarter();
  EXPECT_TRUE(starter.start({"true"}));
  EXPECT_FALSE(starter.start({"/nonexistent/vistrel-no-such-program"}));
  EXPECT_FALSE(starter.start({}));
}

TEST(OpenHelpTest, ShippedHelpFileHasTheTopics) {
  std::ifstream in(std::string(VISTREL_RESOURCES_DIR) + "/" + kHelpFileName);
  ASSERT_TRUE(in);
  const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* anchor : {"Main_Contents", "GenealSettings", "ConnectNetwork"})
    EXPECT_NE(html.find(std::string("id=\"") + anchor + "\""), std::string::npos) << anchor;
}

}  // namespace
}  // namespace texts
