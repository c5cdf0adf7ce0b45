#include "output/camera_controls.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace output {

void PrintTo(const CameraControl& c, std::ostream* os) {
  *os << "{" << c.key << " \"" << c.name << "\" current " << c.current << (c.range ? " range " : " choice ") << c.count;
  for (const auto& [index, text] : c.values) *os << " " << index << "=" << text;
  *os << "}";
}

namespace {

using Item = protocol::PropertyListBuilder::Item;

std::vector<protocol::PropertyEntry> parse(const std::vector<uint8_t>& buffer, size_t size) {
  std::vector<protocol::PropertyEntry> list;
  protocol::parsePropertyList(buffer.data(), size, list);
  return list;
}

CameraControl choice(uint32_t key, std::string name, uint32_t count, uint32_t current,
                     std::vector<std::pair<uint32_t, std::string>> values) {
  return {key, std::move(name), current, false, count, std::move(values)};
}

// Which properties become controls and with which values: the display rules of the
// property list (listable properties only; labelled items only when any has a label;
// "Off"/"On" for two unlabelled values; numbers for a range), a long numeric range as a
// range of indices, repeated names told apart, a repeated key left out.
TEST(CameraControls, ListableProperties) {
  std::vector<uint8_t> buffer(4096);
  protocol::PropertyListBuilder b(buffer.data(), buffer.size());
  const Item labelled[3] = {{0, 10, u"Low"}, {0, 20, nullptr}, {0, 30, u"High"}};
  const Item oneLabel[3] = {{0, 1, nullptr}, {0, 2, u"Only"}, {0, 3, nullptr}};
  const Item noLabels[3] = {{0, 7, nullptr}, {0, 8, nullptr}, {0, 9, nullptr}};
  const Item emptyLabels[2] = {{0, 5, u""}, {0, 6, u""}};
  ASSERT_TRUE(b.add({.name = u"Quality", .current = 2, .count = 3, .items = labelled, .key = 11}));
  ASSERT_TRUE(b.add({.name = u"Single", .current = 0, .count = 3, .items = oneLabel, .key = 12}));
  ASSERT_TRUE(b.add({.name = u"Plain", .current = protocol::kCurrentUseDefault, .defaultIndex = 1, .count = 3,
                     .items = noLabels, .key = 13}));
  ASSERT_TRUE(b.add({.name = u"Mirror", .current = 1, .count = 2, .key = 14}));
  ASSERT_TRUE(b.add({.name = u"Zoom", .current = 0, .count = 3, .base = 100, .step = 50, .key = 15}));
  ASSERT_TRUE(b.add({.name = nullptr, .current = 0, .count = 2, .key = 16}));
  ASSERT_TRUE(b.add({.name = u"Fixed", .current = 0, .count = 1, .key = 17}));
  ASSERT_TRUE(b.add({.name = u"Zoom", .current = 1, .count = 2, .key = 18}));
  ASSERT_TRUE(b.add({.name = u"Again", .current = 0, .count = 2, .key = 11}));
  ASSERT_TRUE(b.add({.name = u"Exposure", .current = 70, .count = 200, .base = -100, .step = 1, .key = 19}));
  ASSERT_TRUE(b.add({.name = u"", .current = 0, .count = 2, .items = emptyLabels, .key = 20}));
  const std::vector<CameraControl> controls = controlsFromProperties(parse(buffer, b.size()));
  const std::vector<CameraControl> expected = {
      choice(11, "Quality", 3, 2, {{0, "Low"}, {2, "High"}}),
      choice(13, "Plain", 3, 1, {{0, "7"}, {1, "8"}, {2, "9"}}),
      choice(14, "Mirror", 2, 1, {{0, "Off"}, {1, "On"}}),
      choice(15, "Zoom", 3, 0, {{0, "100"}, {1, "150"}, {2, "200"}}),
      choice(18, "Zoom (2)", 2, 1, {{0, "Off"}, {1, "On"}}),
      {19, "Exposure", 70, true, 200, {}},
      choice(20, "Property 20", 2, 0, {{0, ""}, {1, ""}}),  // the texts the settings page shows
  };
  EXPECT_EQ(controls, expected);
}

TEST(CameraControls, ChoosingAValue) {
  const std::vector<CameraControl> controls = {choice(11, "Quality", 3, 2, {{0, "Low"}, {2, "High"}}),
                                               {19, "Exposure", 0, true, 200, {}}};
  struct Case {
    const char* name;
    int64_t value;
    std::optional<std::pair<uint32_t, uint32_t>> sent;
  } cases[] = {
      {"Quality", 2, std::make_pair(11u, 2u)},
      {"Quality", 1, std::nullopt},  // not selectable
      {"Quality", 3, std::nullopt},
      {"Quality", -1, std::nullopt},
      {"Quality", 0x100000000 + 2, std::nullopt},
      {"Exposure", 199, std::make_pair(19u, 199u)},
      {"Exposure", 200, std::nullopt},
      {"Exposure", -1, std::nullopt},
      {"quality", 0, std::nullopt},
      {"Brightness", 0, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(chooseControl(controls, c.name, c.value), c.sent) << c.name << " " << c.value;
}

// A hostile list: a range claiming four thousand million values, a name of thousands of
// characters, and more listed values than a node's params should carry.
TEST(CameraControls, HostileListsAreBounded) {
  std::vector<uint8_t> buffer(1 << 20);
  protocol::PropertyListBuilder b(buffer.data(), buffer.size());
  ASSERT_TRUE(b.add({.name = u"Exposure", .current = 5, .count = 0xFFFFFFF0u, .base = 0, .step = 1, .key = 1}));
  std::u16string longName(3000, u'\u20ac');
  ASSERT_TRUE(b.add({.name = longName.c_str(), .current = 0, .count = 2, .key = 2}));
  for (uint32_t key = 3; key < 3000; ++key) {
    const std::u16string name = u"P" + std::u16string(1, static_cast<char16_t>(u'A' + key % 26)) +
                                std::u16string(key / 26 % 10 + 1, u'x');
    ASSERT_TRUE(b.add({.name = name.c_str(), .current = 0, .count = kMaxChoiceValues, .base = 1000000, .step = 1,
                       .key = key}));
  }
  const std::vector<CameraControl> controls = controlsFromProperties(parse(buffer, b.size()));
  ASSERT_GE(controls.size(), 3u);
  EXPECT_TRUE(controls[0].range);
  EXPECT_TRUE(controls[0].values.empty());
  EXPECT_EQ(controls[0].current, 5u);
  EXPECT_EQ(chooseControl(controls, controls[0].name, 0xFFFFFFEF), std::make_pair(1u, 0xFFFFFFEFu));
  // Cut at a character boundary: three bytes per character.
  std::string cut;
  for (size_t i = 0; i < kMaxControlName / 3; ++i) cut += "\xe2\x82\xac";
  EXPECT_EQ(controls[1].name, cut);
  EXPECT_EQ(controls[2].values.size(), kMaxChoiceValues);
  size_t bytes = 0;
  for (const CameraControl& c : controls) bytes += paramBytes(c);
  EXPECT_LE(bytes, kMaxControlsBytes);
  EXPECT_LT(controls.size(), 2997u);
  EXPECT_GT(bytes, kMaxControlsBytes / 2);
}

}  // namespace
}  // namespace output
