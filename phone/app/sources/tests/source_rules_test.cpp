// The rules on the OEM text, the screen bounds and the enabling rule.

#include <gtest/gtest.h>

#include "fake_probe.h"
#include "sources/placeholder_sources.h"
#include "sources/source_builder.h"
#include "sources/source_list.h"

namespace sources {
namespace {

TEST(htcModelCode, FollowsTheRulesInOrderFirstMatchWins) {
  struct Case {
    const char16_t* oem;
    uint32_t code;
  } cases[] = {
      {u"HTC PM10", 0},          {u"WIZA100", 6},          {u"PH10A", 1},
      {u"PU10", 4},              {u"PM300", 5},            {u"PM200", 3},
      {u"PA10A1", 7},            {u"FSC LOOX 720", 34},    {u"ST20", 8},
      // The I-MATE, SPV and QTEK sub-rules, each falling back to 35.
      {u"I-MATE SP3I", 8},       {u"I-MATE SP4M", 10},     {u"I-MATE SP5", 11},
      {u"I-MATE JAMIN", 35},     {u"SPV C500", 8},         {u"SPV C550", 10},
      {u"SPV C600", 11},         {u"SPV M3000", 35},       {u"QTEK 8020", 8},
      {u"QTEK 8100", 8},         {u"QTEK 8200", 10},       {u"QTEK 8300", 11},
      {u"QTEK S200", 35},        {u"QTEK 9090", 35},
      {u"HERM200", 12},          {u"HTC TRIN100", 12},     {u"ATHE100", 2},
      {u"STAR100", 9},           {u"ARTE100", 14},         {u"ELF0100", 15},
      {u"KAIS130", 18},          {u"TITA100", 17},         {u"HERA110", 16},
      {u"EXCA100", 21},          {u"OXYG100", 22},         {u"VOX", 23},
      {u"LIBR100", 24},          {u"WING100", 25},         {u"GALA100", 26},
      {u"CAVA100", 27},          {u"IRIS100", 28},         {u"POLA100", 29},
      {u"NIKI100", 30},          {u"SEDN100", 31},         {u"VOGU100", 32},
      {u"PHOE100", 33},          {u"BREE100", 19},         {u"MTEOR", 19},
      {u"DOPOD 595", 20},        {u"DOPOD 838", 35},       {u"595", 35},
      {u"", 35},                 {u"SOME OTHER PHONE", 35},
      // First match wins: an earlier rule beats a later one in the same text.
      {u"PM10 WIZA", 0},         {u"ST20 I-MATE SP5", 8},  {u"QTEK TRIN", 35},
      {u"SPV TRIN 550", 10},     {u"TRIN ATHE", 12},       {u"ATHE STAR", 2},
      {u"STAR ARTE", 9},         {u"PHOE BREE", 33},       {u"ELF KAIS", 15},
      {u"MTEOR DOPOD 595", 19},
      // Containment is case-sensitive on the upper-cased text.
      {u"trin", 35},
  };
  for (const Case& c : cases)
    EXPECT_EQ(htcModelCode(c.oem), c.code) << std::string(c.oem, c.oem + std::char_traits<char16_t>::length(c.oem));
}

TEST(htcModelCode, FrontSensorModels) {
  for (uint32_t code = 0; code <= 40; ++code) {
    const bool front = code == 2 || code == 4 || code == 12 || code == 13 || code == 18 ||
                       code == 20 || code == 25 || code == 29 || code == 30;
    EXPECT_EQ(hasFrontSensor(code), front) << code;
  }
}

TEST(directShowFlavour, FromTheOemText) {
  struct Case {
    const char16_t* oem;
    uint32_t flavour;
  } cases[] = {
      {u"SAMSUNG SGH-I600", 1}, {u"ATOM LIFE", 2}, {u"HP", 2},       {u"HP IPAQ", 0},
      {u"XHP", 0},              {u"SGH ATOM", 1},  {u"", 0},         {u"HTC TRIN100", 0},
      {u"sgh", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(directShowFlavour(c.oem), c.flavour);
}

TEST(StreamDrivers, NamedByTheOemText) {
  struct Case {
    const char16_t* oem;
    bool cam1, cam2, dsc1;
  } cases[] = {
      {u"ASUS G50V04", true, false, false},  {u"G50V52", true, false, false},
      {u"M60V04", true, false, false},       {u"X500V03", true, false, false},
      {u"X500+V03", true, false, false},     {u"M700V05", true, false, false},
      {u"S3C2440A", true, false, false},     {u"X800V03", true, false, false},
      {u"M800V01", true, false, false},      {u"X600V02", true, false, false},
      {u"X650V0", true, false, false},       {u"G50V05", false, false, false},
      {u"GIGABYTE GSMART", false, true, false}, {u"STEALTH", false, true, false},
      {u"MIO 220 MPX", false, false, true},  {u"220+MPX", false, false, true},
      {u"MPX 220", false, false, true},      {u"220", false, false, false},
      {u"MPX", false, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(oemTextSelects(StreamDriver::kCam1, c.oem), c.cam1);
    EXPECT_EQ(oemTextSelects(StreamDriver::kCam2, c.oem), c.cam2);
    EXPECT_EQ(oemTextSelects(StreamDriver::kDsc1, c.oem), c.dsc1);
  }
}

TEST(screen, Bounds) {
  struct Case {
    uint32_t width, height, bits;
    bool qualifies;
  } cases[] = {
      {640, 480, 16, true},  {800, 480, 16, false}, {176, 220, 16, true}, {175, 220, 16, false},
      {240, 320, 16, true},  {640, 640, 32, true},  {640, 641, 16, false}, {176, 175, 16, false},
      {240, 320, 0, false},  {240, 320, 1, true},   {240, 320, 33, false}, {0, 0, 16, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(screenQualifies(testing::screenOf(c.width, c.height, c.bits)), c.qualifies)
        << c.width << "x" << c.height << "x" << c.bits;
}

TEST(screen, AnswersAreTakenInOrderUntilOneHasAFrameAddress) {
  const int pixels = 0;
  using testing::screenOf;
  {
    testing::FakeProbe probe;  // the raw frame buffer wins when it has an address
    probe.raw = screenOf(240, 320, 16, &pixels);
    probe.info = screenOf(480, 640, 16, &pixels);
    probe.properties = screenOf(176, 220, 16);
    EXPECT_EQ(queryScreen(probe)->width, 240u);
  }
  {
    testing::FakeProbe probe;  // no address: the display information replaces it
    probe.raw = screenOf(240, 320, 16);
    probe.info = screenOf(480, 640, 16, &pixels);
    probe.properties = screenOf(176, 220, 16);
    EXPECT_EQ(queryScreen(probe)->width, 480u);
  }
  {
    testing::FakeProbe probe;  // still no address: the display properties give the answer
    probe.raw = screenOf(240, 320, 16);
    probe.info = screenOf(480, 640, 16);
    probe.properties = screenOf(176, 220, 16);
    EXPECT_EQ(queryScreen(probe)->width, 176u);
  }
  {
    testing::FakeProbe probe;  // the last answer that came stays when a later one fails
    probe.info = screenOf(480, 640, 16);
    EXPECT_EQ(queryScreen(probe)->width, 480u);
  }
  testing::FakeProbe none;
  EXPECT_FALSE(queryScreen(none).has_value());
}

TEST(enableSource, CameraAndScreenExcludeEachOtherSoundOnlySound) {
  SourceList list;
  auto add = [&](SourceKind kind) {
    auto source = std::make_unique<PlaceholderSource>(kind, 9, nullptr);
    CaptureSource* raw = source.get();
    list.append(std::move(source));
    return raw;
  };
  CaptureSource* camera = add(SourceKind::kCamera);
  CaptureSource* front = add(SourceKind::kCamera);
  CaptureSource* screen = add(SourceKind::kScreen);
  CaptureSource* sound = add(SourceKind::kSound);
  CaptureSource* sound2 = add(SourceKind::kSound);
  ASSERT_EQ(list.size(), 5u);

  enableSource(list, *camera);
  enableSource(list, *sound);
  EXPECT_TRUE(camera->enabled());
  EXPECT_TRUE(sound->enabled());

  enableSource(list, *screen);  // the screen takes the camera's place
  EXPECT_FALSE(camera->enabled());
  EXPECT_TRUE(screen->enabled());
  EXPECT_TRUE(sound->enabled());

  enableSource(list, *front);  // a camera takes the screen's place
  EXPECT_FALSE(screen->enabled());
  EXPECT_TRUE(front->enabled());
  EXPECT_TRUE(sound->enabled());

  enableSource(list, *sound2);  // sound excludes only the other sound source
  EXPECT_FALSE(sound->enabled());
  EXPECT_TRUE(sound2->enabled());
  EXPECT_TRUE(front->enabled());
  EXPECT_FALSE(camera->enabled());

  enableSource(list, *sound2);  // enabling an enabled source keeps it
  EXPECT_TRUE(sound2->enabled());
}

TEST(SourceList, KeepsTheOrderOfAppending) {
  SourceList list;
  for (uint32_t id : {9u, 56u, 10u, 70u})
    list.append(std::make_unique<PlaceholderSource>(SourceKind::kCamera, id, nullptr));
  list.append(nullptr);
  std::vector<uint32_t> ids;
  for (CaptureSource& s : list) ids.push_back(s.NameTextId());
  EXPECT_EQ(ids, (std::vector<uint32_t>{9, 56, 10, 70}));
  EXPECT_EQ(list.size(), 4u);
}

}  // namespace
}  // namespace sources
