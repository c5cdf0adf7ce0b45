#pragma once

#include <cstdint>

namespace texts {

// Text ids: indices into the current language's text table. Ids 0, 20, 73, 74 and 75
// have no text; ids above kLastTextId give none.
inline constexpr uint32_t kTextCount = 77;
inline constexpr uint32_t kLastTextId = 76;

enum TextId : uint32_t {
  kTextMax = 1,
  kTextH = 2,
  kTextV = 3,
  kTextHV = 4,
  kTextNormalSpeed = 5,
  kTextOverclock = 6,
  kTextFormat = 7,
  kTextFrameTime = 8,
  kTextCameraPlus = 9,
  kTextScreen = 10,
  kTextCamera = 11,
  kTextResetAll = 12,
  kTextAuto = 13,
  kTextBest = 14,
  kTextDone = 15,
  kTextMenu = 16,
  kTextStart = 17,
  kTextStop = 18,
  kTextHelp = 19,
  kTextSource = 21,
  kTextResolution = 22,
  kTextQuality = 23,
  kTextRotation = 24,
  kTextMirror = 25,
  kTextSwapColors = 26,
  kTextView = 27,
  kTextPreview = 28,
  kTextSettings = 29,
  kTextGeneral = 30,
  kTextAbout = 31,
  kTextExit = 32,
  kTextAdvanced = 33,
  kTextContrast = 34,
  kTextBrightness = 35,
  kTextSaturation = 36,
  kTextHue = 37,
  kTextGamma = 38,
  kTextSharpness = 39,
  kTextFlicker = 40,
  kText50Hz = 41,
  kText60Hz = 42,
  kTextWhiteBalance = 43,
  kTextDayLight = 44,
  kTextIncandescent = 45,
  kTextFluorescent = 46,
  kTextCloudy = 47,
  kTextNight = 48,
  kTextEffect = 49,
  kTextNormal = 50,
  kTextGrayscale = 51,
  kTextSepia = 52,
  kTextCool = 53,
  kTextNegative = 54,
  kTextNightMode = 55,
  kTextFrontSensor = 56,
  kTextExposure = 57,
  kTextLocked = 58,
  kTextZoom = 59,
  kTextFrameRate = 60,
  kTextFlashLight = 61,
  kTextFocus = 62,
  kTextGainControl = 63,
  kTextRed = 64,
  kTextGreen = 65,
  kTextBlue = 66,
  kTextDuplicate = 67,
  kTextMode = 68,
  kTextNetwork = 69,
  kTextSound = 70,
  kTextOverlay = 71,
  kTextImageon = 72,
  kTextRestart = 76,
};

// String resources of the program's own module read directly at start-up.
inline constexpr uint32_t kStringWindowTitle = 1;  // "Vistrel"
inline constexpr uint32_t kStringWindowClass = 2;  // "VISTREL"

// The string resource behind a translated text id, or 0 for fixed texts and ids
// without text.
uint32_t textResourceId(uint32_t textId);

// The never-translated text of a fixed id, or null.
const char16_t* fixedText(uint32_t textId);

}  // namespace texts
