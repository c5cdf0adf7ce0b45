#include "ui/setting_rules.h"

#include <gtest/gtest.h>

#include "fake_capture.h"

namespace ui {
namespace {

const settings::SettingChoice kQuality[] = {
    {texts::kTextBest, 100, nullptr}, {0, 80, u"High"}, {0, 50, u"Low"}};
const settings::SettingChoice kSizes[] = {
    {0, 0, u"160x120"}, {0, 1, u"640x480"}, {0, 2, u"640x480"}};
const settings::SettingChoice kFormats[] = {
    {0, 0, u"640x480 UYVY"}, {0, 1, u"640x480 JPEG"}, {0, 2, u"6400x480 UYVY"}};

TEST(SettingRulesTest, ValuesAreReadByLabelIndexOrValue) {
  const settings::SourceSetting quality{0, u"Quality", -1, 0, 3, kQuality};
  const settings::SourceSetting sizes{0, u"Resolution", -1, 0, 3, kSizes};
  const settings::SourceSetting formats{0, u"Resolution", -1, 0, 3, kFormats};
  const settings::SourceSetting mirror{0, u"Mirror", -1, 0, 2, nullptr, 0, 1};
  const settings::SourceSetting brightness{0, u"Brightness", -1, 0, 9, nullptr, -40, 10};
  struct Case {
    const settings::SourceSetting* setting;
    std::u16string text;
    int32_t index;  // -1: refused
  } cases[] = {
      {&quality, u"best", 0},        {&quality, u"Low", 2},          {&quality, u"1", 1},
      {&quality, u"3", -1},          {&quality, u"Medium", -1},      {&quality, u"-1", -1},
      {&sizes, u"160x120", 0},       {&sizes, u"640x480 (2)", 2},    {&sizes, u"640x480", 1},
      {&formats, u"640x480 jpeg", 1}, {&formats, u"640x480", 0},     {&formats, u"6400x480", 2},
      {&formats, u"640x48", -1},
      {&mirror, u"on", 1},           {&mirror, u"0", 0},             {&mirror, u"2", -1},
      {&brightness, u"-40", 0},      {&brightness, u"+40", 8},       {&brightness, u"15", -1},
      {&brightness, u"50", -1},      {&brightness, u"ten", -1},      {&brightness, u"", -1},
  };
  for (const Case& c : cases) {
    int32_t index = -7;
    std::string error;
    const bool ok = parseSettingValue(*c.setting, c.text, testing::testText, index, error);
    const std::string what(c.text.begin(), c.text.end());
    if (c.index < 0) {
      EXPECT_FALSE(ok) << what;
      EXPECT_FALSE(error.empty()) << what;
    } else {
      EXPECT_TRUE(ok) << what << ": " << error;
      EXPECT_EQ(index, c.index) << what;
    }
  }
}

TEST(SettingRulesTest, OnlyTablelessSettingsWithMoreThanTwoValuesAreNumeric) {
  const settings::SourceSetting three{0, nullptr, -1, 0, 3, nullptr, 0, 1};
  const settings::SourceSetting two{0, nullptr, -1, 0, 2, nullptr, 0, 1};
  const settings::SourceSetting table{0, nullptr, -1, 0, 3, kQuality};
  EXPECT_TRUE(isNumericSetting(three));
  EXPECT_FALSE(isNumericSetting(two));
  EXPECT_FALSE(isNumericSetting(table));
  EXPECT_EQ(valueLabel(table, 0, testing::testText), u"Best");
  EXPECT_EQ(valueLabel(table, 3, testing::testText), u"");
}

}  // namespace
}  // namespace ui
