#include <gtest/gtest.h>

#include <vector>

#include "platform/byte_order.h"
#include "protocol/property_list.h"

namespace protocol {

using platform::load32;
using platform::store32;

namespace {

using Item = PropertyListBuilder::Item;
using Entry = PropertyListBuilder::Entry;

std::vector<PropertyEntry> parse(const uint8_t* data, size_t size) {
  std::vector<PropertyEntry> list;
  parsePropertyList(data, size, list);
  return list;
}

TEST(PropertyList, BuilderLayoutMatchesTheWireRules) {
  uint8_t buf[512];
  PropertyListBuilder b(buf, sizeof buf);
  const Item onOff[2] = {{7, 0, u"Off"}, {8, 1, u"On"}};
  // Name "Flash" = 5 characters: 44 + 12 = 56, already aligned; items at 56.
  ASSERT_TRUE(b.add({.tag = 99, .name = u"Flash", .current = 1, .count = 2, .items = onOff,
                     .key = 42}));
  EXPECT_EQ(load32(buf + 8), 44u);
  EXPECT_EQ(load32(buf + 24), 56u);
  // Labels after the 24-byte item array: "Off" at 80 (8 bytes), "On" at 88 (6 -> 8 bytes).
  EXPECT_EQ(load32(buf + 56 + 8), 80u);
  EXPECT_EQ(load32(buf + 68 + 8), 88u);
  EXPECT_EQ(load32(buf), 96u);
  // Name "Zoom" = 4 characters: 44 + 10 = 54, aligned up to 56.
  ASSERT_TRUE(b.add({.name = u"Zoom", .current = kCurrentUseDefault, .defaultIndex = 2,
                     .count = 5, .base = 100, .step = 25, .key = 7}));
  EXPECT_EQ(b.size(), 96u + 56u);

  const auto list = parse(buf, b.size());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name.toU16(), u"Flash");
  EXPECT_EQ(list[0].tag, 99u);
  EXPECT_EQ(list[0].key, 42u);
  EXPECT_EQ(list[0].item(1).own, 8u);
  EXPECT_EQ(list[0].itemText(1), u"On");
  EXPECT_EQ(list[1].currentIndex(), 2u) << "current -1 shows the default";
  EXPECT_EQ(list[1].itemText(3), u"175");
  EXPECT_TRUE(list[1].offered());
}

TEST(PropertyList, BuilderRefusesWhatDoesNotFit) {
  uint8_t buf[60];
  PropertyListBuilder b(buf, sizeof buf);
  EXPECT_TRUE(b.add({.name = u"A", .count = 2}));  // 48 bytes
  EXPECT_FALSE(b.add({.name = u"A", .count = 2}));
  EXPECT_EQ(b.size(), 48u);
}

TEST(PropertyList, DisplayRules) {
  uint8_t buf[1024];
  PropertyListBuilder b(buf, sizeof buf);
  const Item unlabelled[2] = {{0, 10, nullptr}, {0, 20, nullptr}};
  const Item oneLabel[3] = {{0, 1, nullptr}, {0, 2, u"Auto"}, {0, 3, nullptr}};
  const Item twoLabels[3] = {{0, 1, u"Low"}, {0, 2, nullptr}, {0, 3, u"High"}};
  const Item numbers[3] = {{0, -5, nullptr}, {0, 0, nullptr}, {0, 5, nullptr}};
  b.add({.name = u"Two", .count = 2, .items = unlabelled});
  b.add({.name = u"One", .count = 3, .items = oneLabel});
  b.add({.name = u"Pair", .count = 3, .items = twoLabels});
  b.add({.name = u"Num", .count = 3, .items = numbers});
  b.add({.name = nullptr, .count = 4});
  b.add({.name = u"Single", .count = 1});
  const auto list = parse(buf, b.size());
  ASSERT_EQ(list.size(), 6u);

  EXPECT_TRUE(list[0].offered());
  EXPECT_EQ(list[0].itemText(0), u"Off") << "two unlabelled values read Off/On";
  EXPECT_EQ(list[0].itemText(1), u"On");

  EXPECT_FALSE(list[1].offered()) << "only one labelled, so one selectable";
  EXPECT_TRUE(list[1].selectable(1));
  EXPECT_FALSE(list[1].selectable(0));

  EXPECT_TRUE(list[2].offered());
  EXPECT_EQ(list[2].selectableCount(), 2u);
  EXPECT_EQ(list[2].itemText(1), u"2") << "unlabelled item shows its value";
  EXPECT_EQ(list[2].itemText(2), u"High");

  EXPECT_EQ(list[3].itemText(0), u"-5");
  EXPECT_FALSE(list[4].offered()) << "no name";
  EXPECT_FALSE(list[5].offered()) << "a single value";
}

TEST(PropertyList, ValueReportsApplyOnlyWithinTheCount) {
  uint8_t buf[256];
  PropertyListBuilder b(buf, sizeof buf);
  b.add({.name = u"Effect", .current = 0, .count = 3, .key = 7});
  b.add({.name = u"Lone", .current = 0, .count = 1, .key = 8});
  auto list = parse(buf, b.size());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(applyValueReport(list, 7, 1));
  EXPECT_EQ(list[0].currentIndex(), 1u);
  EXPECT_EQ(load32(buf + 12), 1u) << "the stored bytes follow";
  EXPECT_FALSE(applyValueReport(list, 7, 3));
  EXPECT_FALSE(applyValueReport(list, 8, 1)) << "one value only: nothing to change";
  EXPECT_FALSE(applyValueReport(list, 99, 0));
  EXPECT_EQ(list[0].currentIndex(), 1u);
}

// Writes a raw entry header of `size` bytes at `p` with the given fields.
void rawEntry(uint8_t* p, uint32_t size, uint32_t name, uint32_t count, uint32_t items) {
  store32(p, size);
  store32(p + 8, name);
  store32(p + 20, count);
  store32(p + 24, items);
}

TEST(PropertyList, ParserStopsAtTheFirstBadEntryAndKeepsWhatCameBefore) {
  struct Case {
    const char* what;
    uint32_t size, name, count, items;
  };
  const Case cases[] = {
      {"size 0", 0, 0, 2, 0},
      {"size 9000", 9000, 0, 2, 0},
      {"past the payload", 4000, 0, 2, 0},
      {"count 0", 48, 0, 0, 0},
      {"shorter than the fixed part", 40, 0, 2, 0},
      {"name outside the entry", 48, 48, 2, 0},
      {"name not terminated", 48, 44, 2, 0},
      {"items past the entry", 56, 0, 2, 44},
      {"item count overflowing", 56, 0, 0x40000000, 44},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> buf(2048, 0);
    PropertyListBuilder b(buf.data(), 512);
    b.add({.name = u"Good", .count = 2, .key = 1});
    const size_t first = b.size();
    rawEntry(buf.data() + first, c.size, c.name, c.count, c.items);
    if (std::string(c.what) == "name not terminated") {
      for (int i = 44; i < 48; ++i) buf[first + i] = 'x';
    }
    // A valid entry after the bad one must not be reached.
    PropertyListBuilder tail(buf.data() + first + 1024, 512);
    tail.add({.name = u"After", .count = 2});
    const auto list = parse(buf.data(), first + 1024 + tail.size());
    ASSERT_EQ(list.size(), 1u) << c.what;
    EXPECT_EQ(list[0].name.toU16(), u"Good");
  }
}

TEST(PropertyList, LabelOutsideTheEntryStopsTheList) {
  uint8_t buf[256];
  PropertyListBuilder b(buf, sizeof buf);
  const Item items[2] = {{0, 0, u"A"}, {0, 1, u"B"}};
  b.add({.name = u"X", .count = 2, .items = items});
  store32(buf + load32(buf + 24) + 8, 0x7FFF0000u);
  EXPECT_TRUE(parse(buf, b.size()).empty());
}

TEST(PropertyList, TrailingBytesShorterThanAnEntryAreIgnored) {
  uint8_t buf[128] = {};
  PropertyListBuilder b(buf, sizeof buf);
  b.add({.name = u"Good", .count = 2});
  EXPECT_EQ(parse(buf, b.size() + 3).size(), 1u);
  EXPECT_TRUE(parse(buf, 0).empty());
}

}  // namespace
}  // namespace protocol
