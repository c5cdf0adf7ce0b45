#include "dialogs/settings_page.h"

#include <gtest/gtest.h>

#include "fake_settings_host.h"
#include "platform/utf16.h"
#include "ui/memory_dialog_view.h"

namespace dialogs {
namespace {

using testing::Entry;
using testing::FakeSettingsHost;
using testing::Item;
using Lines = std::vector<std::u16string>;

constexpr Item kEffects[3] = {{0, 0, u"None"}, {0, 1, u"Mono"}, {0, 2, u"Sepia"}};
constexpr Item kUnlabelled[3] = {{0, 10, nullptr}, {0, 20, nullptr}, {0, 30, nullptr}};
constexpr Item kOneLabel[3] = {{0, 1, nullptr}, {0, 2, u"Only"}, {0, 3, nullptr}};
constexpr Item kGap[4] = {{0, 0, u"Auto"}, {0, 1, nullptr}, {0, 2, u"Sun"}, {0, 3, u"Lamp"}};

struct ListCase {
  const char* what;
  Entry entry;
  bool listed;
  Lines lines;
  int selectedLine;
};

class PropertyDisplay : public ::testing::TestWithParam<ListCase> {};

TEST_P(PropertyDisplay, ListsWhatCanBeChosenWithItsTexts) {
  const ListCase& c = GetParam();
  FakeSettingsHost host;
  host.setList({c.entry});
  std::vector<ShownProperty> shown;
  host.readProperties([&](const auto& list) { shown = shownProperties(list); });
  ASSERT_EQ(shown.size(), c.listed ? 1u : 0u) << c.what;
  if (!c.listed) return;
  EXPECT_EQ(shown[0].texts, c.lines) << c.what;
  EXPECT_EQ(shown[0].selectedLine, c.selectedLine) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PropertyDisplay,
    ::testing::Values(
        ListCase{"labelled items", {.name = u"Effect", .current = 1, .count = 3, .items = kEffects, .key = 1},
                 true, {u"None", u"Mono", u"Sepia"}, 1},
        ListCase{"all labels empty: every value, as numbers",
                 {.name = u"Gain", .current = 2, .count = 3, .items = kUnlabelled, .key = 2},
                 true, {u"10", u"20", u"30"}, 2},
        ListCase{"one labelled item among three", {.name = u"Odd", .current = 1, .count = 3, .items = kOneLabel, .key = 3},
                 false, {}, -1},
        ListCase{"two values without labels",
                 {.name = u"Flash", .current = 0, .count = 2, .key = 4}, true, {u"Off", u"On"}, 0},
        ListCase{"numeric range, default while current is -1",
                 {.name = u"Zoom", .defaultIndex = 2, .count = 4, .base = 100, .step = 50, .key = 5},
                 true, {u"100", u"150", u"200", u"250"}, 2},
        ListCase{"unlabelled current among labelled ones",
                 {.name = u"Light", .current = 1, .count = 4, .items = kGap, .key = 6},
                 true, {u"Auto", u"Sun", u"Lamp"}, -1},
        ListCase{"no name", {.current = 0, .count = 3, .items = kEffects, .key = 7}, false, {}, -1},
        ListCase{"a single value", {.name = u"Fixed", .current = 0, .count = 1, .key = 8}, false, {}, -1}));

// A range's count comes from the phone and may be anything up to 2^32 - 1: the page lists
// at most kMaxShownValues of them, around the current one, and still selects it.
TEST(PropertyDisplayLimits, ALongRangeShowsAWindowAroundTheCurrentValue) {
  struct Case {
    uint32_t count, current;
    uint32_t firstIndex;
    int selectedLine;
  };
  const Case cases[] = {
      {0xFFFFFFF0u, 5, 0, 5},
      {0xFFFFFFF0u, 3000000000u, 3000000000u - kMaxShownValues / 2, int{kMaxShownValues / 2}},
      {0xFFFFFFF0u, 0xFFFFFFEFu, 0xFFFFFFF0u - kMaxShownValues, int{kMaxShownValues - 1}},
      {0xFFFFFFF0u, 0xFFFFFFF5u, 0, -1},  // a current value past the range selects nothing
      {kMaxShownValues + 1, kMaxShownValues, 1, int{kMaxShownValues - 1}},
  };
  for (const Case& c : cases) {
    FakeSettingsHost host;
    host.setList({{.name = u"Exposure", .current = c.current, .count = c.count, .base = 0, .step = 1, .key = 9}});
    std::vector<ShownProperty> shown;
    host.readProperties([&](const auto& list) { shown = shownProperties(list); });
    ASSERT_EQ(shown.size(), 1u);
    ASSERT_EQ(shown[0].items.size(), kMaxShownValues) << c.current;
    EXPECT_EQ(shown[0].items.front(), c.firstIndex) << c.current;
    EXPECT_EQ(shown[0].items.back(), c.firstIndex + kMaxShownValues - 1) << c.current;
    EXPECT_EQ(shown[0].selectedLine, c.selectedLine) << c.current;
  }
}

class SettingsPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.current.port = 2047;
    host.current.width = 640;
    host.current.height = 480;
    host.current.rotation = 2;
    host.setList({{.name = u"Effect", .current = 0, .count = 3, .items = kEffects, .key = 0x101},
                  {.name = u"Light", .current = 0, .count = 4, .items = kGap, .key = 0x102}});
  }
  void choose(int id, int index) {
    view.setListSelection(id, index);
    page.onSelectionChanged(id);
  }

  FakeSettingsHost host;
  ui::MemoryDialogView view;
  SettingsPage page{view, host};
};

TEST_F(SettingsPageTest, OpensWithTheSettingsAndTheFirstProperty) {
  page.onInitDialog();
  const auto& resolutions = view.lists[kResolutionList];
  ASSERT_EQ(resolutions.items.size(), 8u);
  EXPECT_EQ(resolutions.items[0], u"160x120");
  EXPECT_EQ(resolutions.items[7], u"1600x1200");
  EXPECT_EQ(resolutions.selection, 4);  // 640x480
  EXPECT_EQ(view.lists[kRotationList].items, (Lines{u"0", u"90", u"180", u"270"}));
  EXPECT_EQ(view.lists[kRotationList].selection, 2);
  EXPECT_EQ(view.texts[kPortEdit], u"2047");
  EXPECT_TRUE(view.checked[kConnectAtStartupBox]);
  EXPECT_FALSE(view.checked[kMirrorBox]);
  EXPECT_EQ(view.lists[kLanguageList].items, (Lines{u"Default", u"English"}));
  EXPECT_EQ(view.lists[kLanguageList].selection, 0);
  EXPECT_EQ(view.lists[kPropertyList].items, (Lines{u"Effect", u"Light"}));
  EXPECT_EQ(view.lists[kPropertyList].selection, 0);
  EXPECT_EQ(view.lists[kValueList].items, (Lines{u"None", u"Mono", u"Sepia"}));
  EXPECT_TRUE(host.applied.empty());

  // A size outside the table selects the first entry.
  host.current.width = 800;
  page.onInitDialog();
  EXPECT_EQ(view.lists[kResolutionList].selection, 0);
}

TEST_F(SettingsPageTest, ChoosingAValueSendsTheItemIndexSkippingUnselectableItems) {
  page.onInitDialog();
  choose(kPropertyList, 1);
  EXPECT_EQ(view.lists[kValueList].items, (Lines{u"Auto", u"Sun", u"Lamp"}));
  choose(kValueList, 2);  // "Lamp", the fourth item
  ASSERT_EQ(host.sent.size(), 1u);
  EXPECT_EQ(host.sent[0], std::make_pair(0x102u, 3u));
  // A line past the list sends nothing.
  choose(kValueList, 3);
  EXPECT_EQ(host.sent.size(), 1u);
}

TEST_F(SettingsPageTest, FollowsANewListAndValueReportsWhileOpen) {
  page.onInitDialog();
  choose(kPropertyList, 1);
  // Unchanged list: nothing is filled again (a user's scrolling stays).
  view.lists[kValueList].items.clear();
  page.refreshProperties();
  EXPECT_TRUE(view.lists[kValueList].items.empty());

  // The phone reports another value for the shown property.
  host.report(0x102, 2);
  page.refreshProperties();
  EXPECT_EQ(view.lists[kValueList].selection, 1);  // "Sun"

  // A new list that still has the chosen property keeps it chosen.
  constexpr Item kZoomLabels[2] = {{0, 1, u"x1"}, {0, 2, u"x2"}};
  host.setList({{.name = u"Zoom", .current = 1, .count = 2, .items = kZoomLabels, .key = 0x103},
                {.name = u"Light", .current = 3, .count = 4, .items = kGap, .key = 0x102}});
  page.refreshProperties();
  EXPECT_EQ(view.lists[kPropertyList].items, (Lines{u"Zoom", u"Light"}));
  EXPECT_EQ(view.lists[kPropertyList].selection, 1);
  EXPECT_EQ(view.lists[kValueList].selection, 2);

  // One without it chooses the first; an empty list empties both lists.
  host.setList({{.name = u"Zoom", .current = 0, .count = 2, .items = kZoomLabels, .key = 0x103}});
  page.refreshProperties();
  EXPECT_EQ(view.lists[kPropertyList].selection, 0);
  EXPECT_EQ(view.lists[kValueList].items, (Lines{u"x1", u"x2"}));
  host.setList({});
  page.refreshProperties();
  EXPECT_TRUE(view.lists[kPropertyList].items.empty());
  EXPECT_TRUE(view.lists[kValueList].items.empty());
  choose(kValueList, 0);
  EXPECT_TRUE(host.sent.empty());
}

TEST_F(SettingsPageTest, EachPictureSettingIsAppliedAtOnce) {
  page.onInitDialog();
  choose(kResolutionList, 1);
  ASSERT_EQ(host.applied.size(), 1u);
  EXPECT_EQ(host.applied.back().width, 176u);
  EXPECT_EQ(host.applied.back().height, 144u);
  choose(kResolutionList, 8);  // beyond the table
  EXPECT_EQ(host.applied.size(), 1u);

  choose(kRotationList, 3);
  EXPECT_EQ(host.applied.back().rotation, 3u);
  view.checked[kMirrorBox] = true;
  page.onCommand(kMirrorBox);
  EXPECT_EQ(host.applied.back().mirror, 1u);
  view.checked[kConnectAtStartupBox] = false;
  page.onCommand(kConnectAtStartupBox);
  EXPECT_EQ(host.applied.back().connectAtStartup, 0u);
  // Every record keeps the earlier changes.
  EXPECT_EQ(host.applied.back().width, 176u);
  EXPECT_EQ(host.applied.back().rotation, 3u);
  EXPECT_EQ(host.applied.size(), 4u);

  page.onCommand(kConnectButton);
  page.onCommand(kAboutButton);
  EXPECT_EQ(host.connects, 1);
  EXPECT_EQ(host.abouts, 1);
}

TEST_F(SettingsPageTest, APortOutsideOneTo65535IsRefusedAndTheBoxShowsThePortInEffect) {
  page.onInitDialog();
  for (const char16_t* typed : {u"0", u"70000", u"65536", u"abc", u"20x", u"", u"-5"}) {
    view.texts[kPortEdit] = typed;
    view.messages.clear();
    page.onPortEditDone();
    EXPECT_EQ(view.texts[kPortEdit], u"2047") << "typed: " << platform::utf16ToUtf8Lossy(typed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, u"The port must be a number from 1 to 65535.");
  }
  EXPECT_TRUE(host.applied.empty());

  view.texts[kPortEdit] = u" 65535 ";
  page.onPortEditDone();
  ASSERT_EQ(host.applied.size(), 1u);
  EXPECT_EQ(host.applied.back().port, 65535u);
  page.onPortEditDone();  // focus lost again without a change: nothing more
  EXPECT_EQ(host.applied.size(), 1u);
}

TEST_F(SettingsPageTest, ChoosingALanguageAppliesItsId) {
  page.onInitDialog();
  choose(kLanguageList, 1);
  ASSERT_EQ(host.applied.size(), 1u);
  EXPECT_EQ(host.applied.back().language, 1033u);
  choose(kLanguageList, 0);
  EXPECT_EQ(host.applied.back().language, 0u);
}

// ---- frame and About ------------------------------------------------------------------

class RecordingExtras final : public WindowExtras {
 public:
  void setCaption(const std::u16string& c) override { caption = c; }
  void showItem(int id, bool shown) override { visible[id] = shown; }
  void makeLink(int id, const std::u16string& text) override { links[id] = text; }
  void setIcon(int id, int resource) override { icons[id] = resource; }
  std::u16string caption;
  std::map<int, bool> visible;
  std::map<int, std::u16string> links;
  std::map<int, int> icons;
};

TEST(SettingsFrameTest, TakesItsTextsAndEndsByItsButtonOrClosing) {
  testing::FakeSettingsHost host;
  ui::MemoryDialogView view;
  RecordingExtras extras;
  SettingsFrame frame(view, extras, host);
  frame.onInitDialog();
  EXPECT_EQ(extras.caption, u"Settings");
  EXPECT_EQ(view.texts[1], u"Close");
  frame.onCommand(1008);
  EXPECT_TRUE(view.endResults.empty());
  frame.onCommand(1);
  frame.onClose();
  EXPECT_EQ(view.endResults, (std::vector<int>{1, 2}));
}

TEST(AboutBoxTest, ShowsTheVersionAndTheLinkAndHidesTheMailLines) {
  ui::MemoryDialogView view;
  RecordingExtras extras;
  std::vector<std::string> opened;
  AboutBox about(view, extras, [&](const std::string& a) {
    opened.push_back(a);
    return true;
  });
  about.onInitDialog();
  EXPECT_EQ(view.texts[kAboutVersion], u"Vistrel v2.1");
  EXPECT_EQ(extras.links[kAboutLink], u"http://www.orvane.example/");
  EXPECT_EQ(extras.icons[kAboutIcon], kIconResource);
  EXPECT_FALSE(extras.visible.at(kAboutMail));
  EXPECT_FALSE(extras.visible.at(kAboutMailLabel));
  about.onLinkClicked();
  EXPECT_EQ(opened, (std::vector<std::string>{kMakerWebAddress}));
  about.onCommand(1015);
  about.onCommand(1);
  about.onCommand(2);
  EXPECT_EQ(view.endResults, (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace dialogs
