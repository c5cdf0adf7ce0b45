#pragma once

// The spine of the device program: the process-wide capture context with its sources and
// targets, start-up loading and saving at exit, the switch between preview and capture,
// the hand-off through which the current target pulls the oldest waiting frame, the
// preview hand-shake and the main window's message handling. Everything here runs without
// a window system: the window is reached through WindowView, which a front implements
// (headless, Qt, or a test's fake).
//
// Threading: everything runs on the window thread except FetchFrame (the target's sending
// thread) and previewCallback (each source's producer thread). Those two touch only the
// source list (fixed after start-up), the sources' own frame slots, lastFetchTick, and the
// preview bitmap under its lock with the previewBusy hand-shake.
//
// FetchFrame, StartSources, ToggleCapture, NotifySettingChanged and Text keep the names
// the device program's window logic is known by elsewhere in the system; the other methods
// are camelCase.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "settings/settings_store.h"
#include "settings/source_setting.h"
#include "sources/capture_source.h"
#include "sources/source_list.h"
#include "targets/delivery_target.h"

namespace core {

// Commands, timer and messages of the main window.
inline constexpr int kCommandExit = 40000;
inline constexpr int kCommandMenu = 40001;
inline constexpr int kCommandSoftKey = 40002;
inline constexpr int kFirstMenuCommand = 42000;
inline constexpr uint32_t kTimerId = 1;
inline constexpr uint32_t kTimerMs = 512;
inline constexpr uint32_t kIdleResetMs = 8192;
inline constexpr uint32_t kKeyEnter = 13;
inline constexpr size_t kCommandTextChars = 260;
inline constexpr size_t kSavedNameChars = 128;

// The preview picture: a 40-byte bitmap header's fields and a 16-bit pixel buffer whose
// start is aligned to 32 bytes. It grows only when a larger size is needed.
struct PreviewBitmap {
  uint32_t headerSize = 40;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 1;
  uint16_t bitCount = 16;
  uint32_t compression = 0;
  uint32_t imageSize = 0;
  int32_t xPelsPerMeter = 3780;
  int32_t yPelsPerMeter = 3780;

  uint8_t* pixels = nullptr;
  size_t capacity = 0;  // bytes usable from `pixels`

  uint32_t stride() const { return (static_cast<uint32_t>(width) * 2 + 3) & ~3u; }
  bool resize(int32_t w, int32_t h);

 private:
  std::unique_ptr<uint8_t[]> storage_;
};

// Repacks 5-6-5 pixels to 5-5-5, two at a time, and turns the rows upside down.
void repackPreview(PreviewBitmap& bitmap);

// Converts a frame into the preview bitmap (at the bitmap's size, 5-6-5 pixels). False
// when it produced no picture.
class PreviewConverter {
 public:
  virtual ~PreviewConverter() = default;
  virtual bool convert(const sources::FrameDescriptor& frame, uint32_t rotation, uint8_t* scratch,
                       PreviewBitmap& bitmap) = 0;
};
// Scales 5-6-5 frames to the bitmap; gives nothing for other formats.
PreviewConverter& rgb565PreviewConverter();

// The orientation code of a display rotation in degrees: 90 -> 3, 180 -> 2, 270 -> 1.
uint32_t orientationFromDegrees(uint32_t degrees);

// What the logic sees of the main window and the desktop.
// Threading: window thread only, except invalidate(), which producers call too.
class WindowView {
 public:
  virtual ~WindowView() = default;
  virtual void setCommandText(int command, const std::u16string& text) = 0;
  virtual void showMessage(const std::u16string& text, const std::u16string& caption) = 0;
  virtual void setWaitCursor(bool wait) = 0;
  virtual void invalidate() = 0;  // any thread
  virtual void startTimer(uint32_t id, uint32_t ms) = 0;
  virtual void stopTimer(uint32_t id) = 0;
  // Keeps the device from suspending (the desktop's idle inhibitor where there is one).
  virtual void resetIdleTimer() = 0;
  // The display's rotation in degrees, queried without changing anything.
  virtual uint32_t displayRotationDegrees() = 0;
  virtual void clientSize(int32_t& width, int32_t& height) = 0;
  virtual void drawPreview(const PreviewBitmap& bitmap) = 0;
  virtual void fill(uint32_t colour) = 0;
  virtual void postCommandReceived() = 0;  // WM_USER + 1 to the window itself
  // Any thread: have the window thread call CaptureContext::onPropertyCommands soon.
  virtual void postPropertyCommands() = 0;
  virtual void rebuildMenu() = 0;
  virtual bool openHelp(const std::u16string& topic) = 0;
  virtual void closeWindow() = 0;
  virtual void postQuit(int code) = 0;
};

using TextFunction = std::function<const char16_t*(uint32_t textId)>;

class CaptureContext {
 public:
  struct Options {
    const settings::SettingsStore* store = nullptr;
    TextFunction text;                     // the current language's texts
    WindowView* view = nullptr;
    PreviewConverter* converter = nullptr;  // default: rgb565PreviewConverter()
    platform::Clock* clock = nullptr;       // default: the system clock
    bool smartphone = false;
    // A source that fails to start stays enabled (and is tried again at the next start)
    // instead of being disabled for the rest of the run. For a device nobody watches.
    bool keepFailedSourcesEnabled = false;
    // How many runs in a row must end without saving before the camera sources start
    // disabled. 1 is the window's rule: one crash disables them.
    uint32_t crashedRunsBeforeDisabling = 1;
  };

  explicit CaptureContext(Options options);
  ~CaptureContext();

  // ---- Fields ----
  settings::SourceSetting previewSetting;
  const uint32_t* background = nullptr;
  std::atomic<bool> windowActive{false};
  std::atomic<bool> previewReady{false};
  std::vector<std::unique_ptr<targets::DeliveryTarget>> targets;
  targets::DeliveryTarget* currentTarget = nullptr;
  sources::SourceList sources;
  std::atomic<bool> previewBusy{false};
  PreviewBitmap previewBitmap;
  std::unique_ptr<std::u16string> commandText;
  std::atomic<uint32_t> lastFetchTick{0};
  uint32_t captureStartTick = 0;
  uint32_t screenOrientation = 0;

  // Runs in a row that ended without saving, counted at start-up; and whether that
  // count disabled the camera sources of this run.
  uint32_t crashedRuns = 0;
  bool camerasDisabledByCrashes = false;
  // Frames and bytes handed to the target since the start (any thread reads them).
  std::atomic<uint64_t> framesFetched{0};
  std::atomic<uint64_t> bytesFetched{0};

  bool capturing() const { return captureStartTick != 0; }

  // Start-up loading over the built lists (sources and targets already in place).
  void loadState();
  // Saving at exit; destroys the sources and targets.
  void saveState();
  // Takes the setting names again from the text table, after another language was loaded
  // into it (the names point into the table, whose texts have moved).
  void refreshNames();

  bool ToggleCapture();
  bool StartSources(bool capture);
  void stopStartedSources();
  void NotifySettingChanged(settings::SourceSetting* setting, uint32_t flag);
  // Makes `index` the setting's value: stores it, lets the source apply it (a size
  // change restarts the source) and, while capturing, reports it to the current target.
  // The one path by which the editor, the settings command and the PC change a value.
  void applySettingIndex(sources::CaptureSource& source, settings::SourceSetting& setting,
                         int32_t index);

  // A value chosen on the PC for one of the sources' settings (the PC's "Set property":
  // the setting's key and the value's index). Queued from the target's thread; the
  // window thread applies it in onPropertyCommands.
  void queueSetProperty(uint32_t key, uint32_t index);
  void onPropertyCommands();
  // Applies one choice to the enabled source's setting with `key` as the editor does, and
  // saves that source's settings. False, and nothing changed, for an unknown key or an
  // index outside the setting's values.
  bool applySetProperty(uint32_t key, uint32_t index);
  // The 512 ms timer step (only acts while capturing).
  void timerStep();
  // Re-reads the display orientation; restarts capture when it changed while capturing.
  void updateOrientation();

  // The display name of a source (its settings sub-key), empty when the text is missing.
  std::u16string sourceName(sources::CaptureSource& source) const;

  // Handed to the current target's thread.
  static uint32_t FetchFrame(void* context, sources::FrameDescriptor* out);
  static uint32_t control(void* context, uint32_t code, uint32_t argument);
  // Handed to sources in preview mode.
  static bool previewCallback(void* context, const sources::FrameDescriptor* frame,
                              uint32_t rotation, uint8_t* scratch);

  // ---- Main window messages ----
  void onCreate();
  void onDestroy();
  void onActivate(bool active, bool namesOtherWindow);
  void onSettingChange() { onSize(); }
  void onSize() { updateOrientation(); }
  void onPaint();
  // WM_COPYDATA: null or empty text empties commandText. Returns 1.
  int onCopyData(const char16_t* text, size_t chars);
  void onHelp();
  void onKeyDown(uint32_t key);
  // False when the command goes to the default handling.
  bool onCommand(int command);
  void onUser();
  void onTimer(uint32_t id);
  void onCommandReceived();

  // The number of "Please select source." refusals etc. are seen through the view.
  const TextFunction& text() const { return options_.text; }

 private:
  std::u16string Text(uint32_t id) const;
  void setSoftKey();

  Options options_;
  platform::Clock& clock_;
  std::mutex bitmapMutex_;
  std::mutex propertyMutex_;
  std::vector<std::pair<uint32_t, uint32_t>> propertyCommands_;  // key, index
  uint32_t lastIdleResetTick_ = 0;
};

// A tap or key command from the PC goes to the enabled source that takes input (the
// screen while it captures). True when the command was a tap or a key, taken or not.
// Runs on the delivery target's thread.
bool forwardRemoteInput(CaptureContext& context, uint32_t code, uint32_t argument);

}  // namespace core
