#pragma once

// The COM and DirectShow values the camera's capture source answers with, spelled out so
// that the same logic builds and is tested where no Windows headers exist. A Windows
// build maps these one to one onto the system's own types.

#include <array>
#include <cstdint>
#include <cstring>

namespace output {

using HResult = int32_t;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kVfwSCantCue = 0x00040268;
inline constexpr HResult kENotImpl = static_cast<HResult>(0x80004001);
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003);
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kEUnexpected = static_cast<HResult>(0x8000FFFF);
inline constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057);
inline constexpr HResult kEPropIdUnsupported = static_cast<HResult>(0x80070490);
inline constexpr HResult kEPropSetUnsupported = static_cast<HResult>(0x80070492);
inline constexpr HResult kVfwEInvalidMediaType = static_cast<HResult>(0x80040200);
inline constexpr HResult kVfwENotStopped = static_cast<HResult>(0x80040224);

constexpr bool failed(HResult hr) { return hr < 0; }

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  std::array<uint8_t, 8> data4;
  friend bool operator==(const Guid&, const Guid&) = default;
};

// Media types, formats and property sets.
inline constexpr Guid kMediaTypeVideo{0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr Guid kMediaSubtypeRgb24{0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr Guid kMediaSubtypeYuy2{0x32595559, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr Guid kFormatVideoInfo{0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr Guid kPropSetIdPin{0x9B00F101, 0x1567, 0x11D1, {0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
inline constexpr uint32_t kPropertyPinCategory = 0;
inline constexpr uint32_t kPropertySupportGet = 1;

// How the filter is registered (the Windows build's registration routines use these).
inline constexpr Guid kFilterClassId{0xA5F417FF, 0x1DE8, 0x4404, {0x82, 0x31, 0x66, 0x2D, 0x65, 0x0B, 0x3F, 0x34}};
inline constexpr char kFilterName[] = "Vistrel";
inline constexpr Guid kVideoInputDeviceCategory{0x860BB310, 0x5D01, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr uint32_t kFilterMerit = 0x200000;
inline constexpr char kPinName[] = "Capture";
inline constexpr Guid kPinCategoryCapture{0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr Guid kRegisteredPinMajorType{0x6C14DB81, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr Guid kRegisteredPinMinorType{0x56A86899, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr Guid kPropertyPageClassId{0x6F293878, 0x980A, 0x4509, {0xA6, 0xF9, 0x0C, 0x94, 0x2A, 0xE8, 0x83, 0x19}};
inline constexpr char kPropertyPageName[] = "Property Page";
inline constexpr Guid kEngineInterfaceId{0xA7298FC2, 0xE65E, 0x4B54, {0xA1, 0x45, 0x0A, 0xD6, 0xCC, 0x74, 0x85, 0x79}};
inline constexpr char kThreadingModel[] = "Both";

// 100-nanosecond units, as the graph's clocks count.
using ReferenceTime = int64_t;
inline constexpr ReferenceTime kFrameInterval = 400000;  // 40 ms: 25 pictures per second

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};
struct Size {
  int32_t cx = 0, cy = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct BitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // positive: bottom-up rows
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 24;
  uint32_t biCompression = 0;  // BI_RGB
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
  friend bool operator==(const BitmapInfoHeader&, const BitmapInfoHeader&) = default;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct VideoInfoHeader {
  Rect rcSource;
  Rect rcTarget;
  uint32_t dwBitRate = 0;
  uint32_t dwBitErrorRate = 0;
  ReferenceTime AvgTimePerFrame = 0;
  BitmapInfoHeader bmiHeader;
  friend bool operator==(const VideoInfoHeader&, const VideoInfoHeader&) = default;
};
static_assert(sizeof(VideoInfoHeader) == 88);

struct VideoStreamConfigCaps {
  Guid guid{};
  uint32_t VideoStandard = 0;
  Size InputSize, MinCroppingSize, MaxCroppingSize;
  int32_t CropGranularityX = 0, CropGranularityY = 0, CropAlignX = 0, CropAlignY = 0;
  Size MinOutputSize, MaxOutputSize;
  int32_t OutputGranularityX = 0, OutputGranularityY = 0;
  int32_t StretchTapsX = 0, StretchTapsY = 0, ShrinkTapsX = 0, ShrinkTapsY = 0;
  int64_t MinFrameInterval = 0, MaxFrameInterval = 0;
  int32_t MinBitsPerSecond = 0, MaxBitsPerSecond = 0;
};
static_assert(sizeof(VideoStreamConfigCaps) == 128);

}  // namespace output
