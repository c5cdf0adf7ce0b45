// device.ax under the system's DirectShow runtime: registration with regsvr32, the
// filter listed in the video input device category, a graph that runs it into a sample
// grabber and a null renderer while a phone on loopback sends pictures, and removal.
// The tests run in order in one process (one Wine session).

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "entries/device_entry_table.h"
#include "dialog_testing.h"
#include "graph_testing.h"
#include "media_type_com.h"
#include "output/com_types.h"
#include "output/media_type.h"
#include "platform/key_store.h"
#include "procs/process_table.h"
#include "protocol/stream_header.h"
#include "settings/device_settings.h"
#include "test_jpeg.h"
#include "test_stream.h"

namespace {

using namespace std::chrono_literals;
using graph_testing::Com;
using output::win32::toGuid;

constexpr uint32_t kWidth = 320, kHeight = 240;
uint16_t gPort = 0;

std::wstring moduleBesideUs(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

// device.ax loaded by name (kept in `library`) and its DllGetData; null when either is missing.
DeviceGetDataFunction loadLibrary(HMODULE* library) {
  *library = LoadLibraryW(moduleBesideUs(L"device.ax").c_str());
  if (*library == nullptr) return nullptr;
  return reinterpret_cast<DeviceGetDataFunction>(reinterpret_cast<void*>(GetProcAddress(*library, "DllGetData")));
}

// regsvr32's exit status for the given arguments.
DWORD regsvr32(const std::wstring& arguments) {
  std::wstring command = L"regsvr32.exe /s " + arguments + L" \"" + moduleBesideUs(L"device.ax") + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

// The moniker of "Vistrel" in the video input device category, if listed.
bool findVistrel(IMoniker** found) {
  Com<ICreateDevEnum> devices;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                              devices.outVoid()))) {
    return false;
  }
  Com<IEnumMoniker> monikers;
  if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.out(), 0) != S_OK) return false;
  for (;;) {
    Com<IMoniker> moniker;
    if (monikers->Next(1, moniker.out(), nullptr) != S_OK) return false;
    Com<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.outVoid()))) continue;
    VARIANT name;
    VariantInit(&name);
    const bool vistrel = SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
                         std::wstring(name.bstrVal) == L"Vistrel";
    VariantClear(&name);
    if (vistrel) {
      *found = moniker.p;
      moniker.p = nullptr;
      return true;
    }
  }
}

// This program's key name below the product's key (its file name without the extension).
std::u16string programBaseName() {
  wchar_t program[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  return procs::ProcessTable::baseNameOf(std::u16string_view(reinterpret_cast<const char16_t*>(program), length));
}

// Blue, green, red of the pixel at (x, y) from the top of a bottom-up RGB24 picture.
std::array<int, 3> pixelAt(const std::vector<uint8_t>& picture, uint32_t x, uint32_t y) {
  const size_t at = static_cast<size_t>(kHeight - 1 - y) * output::rowSize(kWidth) + x * 3;
  return {picture[at], picture[at + 1], picture[at + 2]};
}

// A phone's message with a plain-coloured picture (red 200, green 40, blue 90).
server::testing::Bytes plainColourFrame() {
  std::vector<uint8_t> rgb(kWidth * kHeight * 3);
  for (size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = 200;
    rgb[i + 1] = 40;
    rgb[i + 2] = 90;
  }
  return server::testing::message(protocol::MSG_VIDEO_JPEG, decoder_testing::encodeRgb(rgb.data(), kWidth, kHeight));
}

// True when the grabbed picture is plainColourFrame's colour.
bool showsPlainColour(const std::vector<uint8_t>& picture) {
  if (picture.size() != output::pictureSize(kWidth, kHeight)) return false;
  for (auto [x, y] : {std::pair<uint32_t, uint32_t>{160, 120}, {10, 10}, {310, 230}}) {
    const auto bgr = pixelAt(picture, x, y);
    if (std::abs(bgr[0] - 90) > 12 || std::abs(bgr[1] - 40) > 12 || std::abs(bgr[2] - 200) > 12) return false;
  }
  return true;
}

// Waits up to `limit` for `condition`, asked under the grabber's lock, handling the
// thread's window messages meanwhile.
template <typename Condition>
bool waitForGrabbed(graph_testing::Grabbed& grabbed, Condition condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    {
      std::lock_guard lock(grabbed.mutex);
      if (condition()) return true;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

// The filter made through the library's class factory, as a program makes it.
HRESULT createFilter(IBaseFilter** filter) {
  return CoCreateInstance(toGuid(output::kFilterClassId), nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(filter));
}

class DeviceAx : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    // A registry key and object names of this run's own.
    const std::string id = std::to_string(GetCurrentProcessId());
    _putenv_s("VISTREL_KEY_STORE", ("Software\\VistrelTest\\device_ax_" + id).c_str());
    _putenv_s("VISTREL_OBJECT_PREFIX", ("device_ax_" + id + "_").c_str());
    gPort = server::testing::freePort();
    settings::DeviceSettings s;
    s.port = gPort;
    s.connectAtStartup = 0;
    s.width = kWidth;
    s.height = kHeight;
    s.listenAddress = u"127.0.0.1";
    settings::writeDeviceSettings(platform::KeyStore::machine(), u"", s);
  }
  static void TearDownTestSuite() {
    const std::string key = std::getenv("VISTREL_KEY_STORE");
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    CoUninitialize();
  }
};

TEST_F(DeviceAx, RegistersAsAVideoInputDevice) {
  ASSERT_EQ(regsvr32(L""), 0u);
  Com<IMoniker> moniker;
  ASSERT_TRUE(findVistrel(moniker.out()));
  Com<IBaseFilter> filter;
  ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.outVoid()), S_OK);
  CLSID clsid;
  ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, toGuid(output::kFilterClassId));
  Com<IPin> pin;
  ASSERT_EQ(filter->FindPin(L"Capture", pin.out()), S_OK);
  PIN_DIRECTION dir;
  ASSERT_EQ(pin->QueryDirection(&dir), S_OK);
  EXPECT_EQ(dir, PINDIR_OUTPUT);
}

TEST_F(DeviceAx, AnswersStreamConfigAndPinCategoryThroughTheFilter) {
  Com<IBaseFilter> filter;
  ASSERT_EQ(createFilter(filter.out()), S_OK);
  Com<IAMStreamConfig> config;
  ASSERT_EQ(filter->QueryInterface(IID_IAMStreamConfig, config.outVoid()), S_OK);
  int count = 0, size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(size, 128);
  AM_MEDIA_TYPE* type = nullptr;
  VIDEO_STREAM_CONFIG_CAPS caps{};
  ASSERT_EQ(config->GetStreamCaps(0, &type, reinterpret_cast<BYTE*>(&caps)), S_OK);
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(type->lSampleSize, 230400u);
  ASSERT_GE(type->cbFormat, sizeof(VIDEOINFOHEADER));
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->dwBitRate, 46080000u);
  EXPECT_EQ(caps.MaxOutputSize.cx, 320);
  EXPECT_EQ(caps.MinFrameInterval, 400000);
  EXPECT_EQ(config->GetStreamCaps(1, &type, reinterpret_cast<BYTE*>(&caps)), S_FALSE);

  // A YUY2 type is refused; 640 x 480 RGB24 is taken while stopped.
  type->subtype = MEDIASUBTYPE_YUY2;
  EXPECT_EQ(config->SetFormat(type), VFW_E_INVALIDMEDIATYPE);
  type->subtype = MEDIASUBTYPE_RGB24;
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
  info->bmiHeader.biWidth = 640;
  info->bmiHeader.biHeight = 480;
  EXPECT_EQ(config->SetFormat(type), S_OK);
  CoTaskMemFree(type->pbFormat);
  CoTaskMemFree(type);
  ASSERT_EQ(config->GetFormat(&type), S_OK);
  EXPECT_EQ(type->lSampleSize, 640u * 3 * 480);
  CoTaskMemFree(type->pbFormat);
  CoTaskMemFree(type);

  Com<IKsPropertySet> properties;
  ASSERT_EQ(filter->QueryInterface(IID_IKsPropertySet, properties.outVoid()), S_OK);
  GUID category{};
  DWORD returned = 0;
  EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 8, &returned),
            E_UNEXPECTED);
  ASSERT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16, &returned),
            S_OK);
  EXPECT_EQ(returned, 16u);
  EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
}

TEST_F(DeviceAx, GraphShowsColourBarsThenThePhonesPictures) {
  Com<IMoniker> moniker;
  ASSERT_TRUE(findVistrel(moniker.out()));
  Com<IBaseFilter> camera;
  ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, camera.outVoid()), S_OK);
  graph_testing::Grabbed grabbed(output::pictureSize(kWidth, kHeight));
  graph_testing::GrabberGraph graph;
  ASSERT_EQ(graph.build(camera.p, grabbed), S_OK);
  AM_MEDIA_TYPE connected{};
  ASSERT_EQ(graph.cameraOut->ConnectionMediaType(&connected), S_OK);
  EXPECT_EQ(connected.lSampleSize, output::pictureSize(kWidth, kHeight));
  CoTaskMemFree(connected.pbFormat);
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  const auto waitFor = [&](auto condition, std::chrono::milliseconds limit) {
    return waitForGrabbed(grabbed, condition, limit);
  };

  // No phone yet: colour bars, so the left and right edges differ.
  ASSERT_TRUE(waitFor([&] { return grabbed.count >= 3; }, 10s)) << "no pictures from the filter";
  {
    std::lock_guard lock(grabbed.mutex);
    ASSERT_EQ(grabbed.last.size(), output::pictureSize(kWidth, kHeight));
    EXPECT_NE(pixelAt(grabbed.last, 10, 120), pixelAt(grabbed.last, 310, 120));
  }

  // The phone: a plain-coloured picture, with noise and a cut message before it.
  const auto frame = plainColourFrame();
  server::testing::Phone phone;
  for (int i = 0; i < 100 && !phone.connect(gPort, 1000); ++i) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(phone.valid()) << "the filter's frame server did not take the phone on port " << gPort;
  const server::testing::Bytes noise{0x13, 0x37, 0x00, 0xFF, 0xD9, 0x42, 0x42};
  server::testing::Bytes cut(frame.begin(), frame.begin() + frame.size() / 2);
  ASSERT_TRUE(phone.send(server::testing::concat({noise, cut, noise})));
  const auto phoneColour = [&] { return showsPlainColour(grabbed.last); };
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    ASSERT_TRUE(phone.send(frame));
    seen = waitFor(phoneColour, 100ms);
  }
  EXPECT_TRUE(seen) << "the phone's picture never reached the grabber";

  // The library's entry table in this process is a door to the filter's engine: it has the
  // phone's frame without opening anything itself.
  HMODULE library = nullptr;
  const DeviceGetDataFunction getData = loadLibrary(&library);
  ASSERT_NE(getData, nullptr);
  DeviceEntryTable table{};
  ASSERT_EQ(getData(&table), 1u);
  uint32_t tableLength = 0;
  for (int i = 0; i < 50 && tableLength == 0; ++i) {
    ASSERT_TRUE(phone.send(frame));
    std::this_thread::sleep_for(50ms);
    uint8_t* jpeg = nullptr;
    tableLength = table.GetFrame(&jpeg);
  }
  EXPECT_GT(tableLength, 0u) << "the entry table does not share the filter's engine";
  FreeLibrary(library);

  long notDropped = 0;
  Com<IAMDroppedFrames> dropped;
  ASSERT_EQ(camera->QueryInterface(IID_IAMDroppedFrames, dropped.outVoid()), S_OK);
  ASSERT_EQ(dropped->GetNumNotDropped(&notDropped), S_OK);
  EXPECT_GE(notDropped, 1);

  ASSERT_TRUE(SUCCEEDED(graph.control->Stop()));
  std::lock_guard lock(grabbed.mutex);
  EXPECT_EQ(grabbed.wrongSizes, 0);
}

// The video window of a program that shows the camera: while the graph runs, the first
// "VideoRenderer" window of the process (here a child of another window) passes clicks on
// it to the phone, scaled to the client area; every message still reaches the window's
// own procedure, and after the graph stops that procedure is the window's again.
int gVideoWindowMessages = 0;

LRESULT CALLBACK videoWindowOwnProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCHITTEST || message == WM_SETCURSOR) ++gVideoWindowMessages;
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(DeviceAx, VideoWindowClicksReachThePhoneWhileStreaming) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW host{};
  host.lpfnWndProc = DefWindowProcW;
  host.hInstance = instance;
  host.lpszClassName = L"VistrelTestHost";
  WNDCLASSW video = host;
  video.lpfnWndProc = videoWindowOwnProcedure;
  video.lpszClassName = L"VideoRenderer";
  ASSERT_NE(RegisterClassW(&host), 0);
  ASSERT_NE(RegisterClassW(&video), 0);
  const HWND parent = CreateWindowExW(0, L"VistrelTestHost", L"player", WS_OVERLAPPEDWINDOW, 50, 60, 640, 480,
                                      nullptr, nullptr, instance, nullptr);
  ASSERT_NE(parent, nullptr);
  const HWND window = CreateWindowExW(0, L"VideoRenderer", L"", WS_CHILD | WS_VISIBLE, 20, 10, 400, 300, parent,
                                      nullptr, instance, nullptr);
  ASSERT_NE(window, nullptr);
  const LONG_PTR own = GetWindowLongPtrW(window, GWLP_WNDPROC);

  Com<IBaseFilter> camera;
  ASSERT_EQ(createFilter(camera.out()), S_OK);
  graph_testing::Grabbed grabbed(output::pictureSize(kWidth, kHeight));
  graph_testing::GrabberGraph graph;
  ASSERT_EQ(graph.build(camera.p, grabbed), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
  const bool hooked = waitForGrabbed(grabbed, [&] { return GetWindowLongPtrW(window, GWLP_WNDPROC) != own; }, 10s);
  EXPECT_TRUE(hooked) << "the streaming thread did not hook the video window";

  // The engine maps a click through the picture it last showed: the phone's picture first.
  const auto frame = plainColourFrame();
  server::testing::Phone phone;
  for (int i = 0; i < 100 && !phone.connect(gPort, 1000); ++i) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(phone.valid()) << "the filter's frame server did not take the phone on port " << gPort;
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    ASSERT_TRUE(phone.send(frame));
    seen = waitForGrabbed(grabbed, [&] { return showsPlainColour(grabbed.last); }, 100ms);
  }
  ASSERT_TRUE(seen) << "the phone's picture never reached the grabber";

  // The cursor at (100, 225) of the 400 x 300 client area: a quarter across, three
  // quarters down. Button up and right button down go to the engine, which taps only on
  // a left button down.
  POINT cursor{100, 225};
  ASSERT_TRUE(ClientToScreen(window, &cursor));
  gVideoWindowMessages = 0;
  SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(cursor.x, cursor.y));
  for (UINT mouse : {WM_LBUTTONUP, WM_RBUTTONDOWN, WM_LBUTTONDOWN}) {
    SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(HTCLIENT, mouse));
  }
  EXPECT_EQ(gVideoWindowMessages, 4) << "the hook passes every message on";
  std::vector<uint32_t> taps;
  protocol::StreamHeader command;
  while (phone.readCommand(command, 1000)) {
    if (command.commandCode() == protocol::CMD_TAP) taps.push_back(command.commandArgument());
  }
  ASSERT_EQ(taps.size(), 1u) << "one tap, for the left button down";
  EXPECT_NEAR(static_cast<double>(taps[0] & 0xFFFF), 16384, 2);
  EXPECT_NEAR(static_cast<double>(taps[0] >> 16), 49152, 2);

  ASSERT_TRUE(SUCCEEDED(graph.control->Stop()));
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_WNDPROC), own) << "the window's own procedure is back";
  DestroyWindow(parent);
  UnregisterClassW(L"VideoRenderer", instance);
  UnregisterClassW(L"VistrelTestHost", instance);
}

// A program's view of the library: device.ax loaded by name, its table from DllGetData, the
// engine opened; a phone on loopback sends a picture after noise and a cut message, and
// the frame loop (WaitFrame, GetFrame, DecodeJpeg, SetOutputSize, RenderFrame) shows it.
TEST_F(DeviceAx, EntryTableThroughDllGetDataShowsThePhone) {
  HMODULE library = nullptr;
  const DeviceGetDataFunction getData = loadLibrary(&library);
  ASSERT_NE(getData, nullptr);
  EXPECT_EQ(getData(nullptr), 0u);
  DeviceEntryTable table{};
  ASSERT_EQ(getData(&table), 1u);
  const void* const* entries = reinterpret_cast<const void* const*>(&table);
  for (int i = 0; i < kDeviceEntryCount; ++i) EXPECT_NE(entries[i], nullptr) << "entry " << i;

  ASSERT_EQ(table.Open(0) & 0xFF, 1u);
  EXPECT_EQ(table.WaitFrame(50), 258) << "no phone yet: the wait times out";
  const std::vector<uint8_t> picture = decoder_testing::testPicture(kWidth, kHeight);
  const std::vector<uint8_t> sent = decoder_testing::encodeRgb(picture.data(), kWidth, kHeight);
  uint32_t referenceWidth = 0, referenceHeight = 0;
  const std::vector<uint8_t> reference = decoder_testing::referenceDecode(sent, &referenceWidth, &referenceHeight);
  ASSERT_EQ(reference.size(), size_t{kWidth} * kHeight * 3);
  const auto frame = server::testing::message(protocol::MSG_VIDEO_JPEG, sent);
  server::testing::Phone phone;
  for (int i = 0; i < 100 && !phone.connect(gPort, 1000); ++i) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(phone.valid()) << "the engine's frame server did not take the phone on port " << gPort;
  const server::testing::Bytes noise{0x13, 0x37, 0x00, 0xFF, 0xD9, 0x42, 0x42};
  const server::testing::Bytes cut(frame.begin(), frame.begin() + frame.size() / 2);
  ASSERT_TRUE(phone.send(server::testing::concat({noise, cut, noise})));

  // What the cut message swallowed may come out as a frame that does not render; the
  // frame loop skips it and shows the next.
  ASSERT_EQ(table.SetOutputSize(kWidth, kHeight) & 0xFF, 1u);
  std::vector<uint8_t> rendered(((kWidth * 3 + 3) & ~3u) * kHeight);
  bool shown = false;
  for (int i = 0; i < 100 && !shown; ++i) {
    ASSERT_TRUE(phone.send(frame));
    if (table.WaitFrame(100) != 0) continue;
    uint8_t* jpeg = nullptr;
    const uint32_t length = table.GetFrame(&jpeg);
    if (length == 0) continue;
    ASSERT_NE(jpeg, nullptr);
    uint32_t w = 0, h = 0;
    if ((table.DecodeJpeg(jpeg, length, &w, &h) & 0xFF) == 0 || (table.RenderFrame(rendered.data()) & 0xFF) == 0)
      continue;
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
    // The JPEG library's own decode of what was sent is the reference.
    shown = decoder_testing::renderedPsnr(rendered, reference, kWidth, kHeight) > 40.0;
  }
  EXPECT_TRUE(shown) << "the phone's picture never came through the entry table";

  table.Close();
  FreeLibrary(library);
}

// The library's dialogs as a program opens them through the entry table: the settings
// frame with its page, made from the library's resource script, changed through the
// notifications its controls send, and the About box. A second thread finds each dialog
// of this thread, drives it and closes it.
TEST_F(DeviceAx, SettingsDialogAndAboutBoxThroughTheEntryTable) {
  HMODULE library = nullptr;
  const DeviceGetDataFunction getData = loadLibrary(&library);
  ASSERT_NE(getData, nullptr);
  DeviceEntryTable table{};
  ASSERT_EQ(getData(&table), 1u);
  ASSERT_EQ(table.Open(0) & 0xFF, 1u);

  const DWORD windowThread = GetCurrentThreadId();
  const uint16_t newPort = server::testing::freePort();
  std::vector<std::string> failures;
  auto fail = [&](const std::string& what) { failures.push_back(what); };
  std::thread driver([&] {
    HWND frame = dialog_testing::findThreadWindow(windowThread, L"Settings", 10s);
    if (frame == nullptr) return fail("the settings dialog did not open");
    if (dialog_testing::text(GetDlgItem(frame, IDOK)) != L"Close") fail("the frame's button is not \"Close\"");
    HWND page = FindWindowExW(frame, nullptr, L"#32770", nullptr);
    if (page == nullptr) {
      fail("the settings page is not inside the frame");
      PostMessageW(frame, WM_CLOSE, 0, 0);
      return;
    }
    struct Expected {
      int id;
      const wchar_t* className;
      const wchar_t* text;  // null: not checked
    };
    const Expected controls[] = {
        {1004, L"ListBox", nullptr},      {1005, L"ListBox", nullptr},
        {1002, L"ComboBox", nullptr},     {1003, L"Button", L"Mirror"},
        {1009, L"Edit", nullptr},         {1000, L"ComboBox", nullptr},
        {1010, L"Button", L"Connect at startup"}, {1008, L"Button", L"Connect"},
        {1016, L"ComboBox", nullptr},     {1011, L"Button", L"About"},
    };
    for (const Expected& e : controls) {
      HWND control = GetDlgItem(page, e.id);
      if (control == nullptr || dialog_testing::className(control) != e.className ||
          (e.text != nullptr && dialog_testing::text(control) != e.text)) {
        fail("control " + std::to_string(e.id) + " is missing or not as in the script");
      }
    }
    const std::vector<std::wstring> labels = dialog_testing::childTexts(page);
    for (const wchar_t* label : {L"Device Control", L"Driver Settings", L"Rotation", L"Network Port#",
                                 L"Default Resolution", L"ActiveSync/Device Center", L"Misc", L"Language"}) {
      if (std::find(labels.begin(), labels.end(), label) == labels.end()) {
        fail("the page lacks the label " + std::string(label, label + wcslen(label)));
      }
    }
    HWND rotation = GetDlgItem(page, 1002);
    if (SendMessageW(rotation, CB_GETCOUNT, 0, 0) != 4) fail("the rotation list does not hold four angles");
    if (dialog_testing::comboText(GetDlgItem(page, 1000), 2) != L"320x240") fail("the third size is not 320x240");
    if (SendMessageW(GetDlgItem(page, 1000), CB_GETCURSEL, 0, 0) != 2) fail("the current size is not selected");
    if (dialog_testing::text(GetDlgItem(page, 1009)) != std::to_wstring(gPort)) fail("the port box lacks the port");
    // "Default", the built-in English and the German module in Lang beside the library.
    if (SendMessageW(GetDlgItem(page, 1016), CB_GETCOUNT, 0, 0) != 3) fail("the language list lacks the module in Lang");

    // The page's About button opens the About box over the frame.
    std::thread aboutFromPage([&] {
      HWND about = dialog_testing::findThreadWindow(windowThread, L"About", 10s);
      if (about == nullptr) return fail("the page's About button opened no About box");
      if (GetWindow(about, GW_OWNER) != frame) fail("the About box is not owned by the settings frame");
      if (IsWindowEnabled(frame)) fail("the settings frame takes input while the About box shows");
      SendMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    });
    SendMessageW(GetDlgItem(page, 1011), BM_CLICK, 0, 0);  // returns when the box has closed
    aboutFromPage.join();

    // A user's choices: 180 degrees, mirrored, 640x480, another port (its box left).
    dialog_testing::chooseInCombo(page, 1002, 2);
    SendMessageW(GetDlgItem(page, 1003), BM_CLICK, 0, 0);
    dialog_testing::chooseInCombo(page, 1000, 4);
    HWND port = GetDlgItem(page, 1009);
    SetWindowTextW(port, std::to_wstring(newPort).c_str());
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(1009, EN_KILLFOCUS), reinterpret_cast<LPARAM>(port));
    SendMessageW(GetDlgItem(frame, IDOK), BM_CLICK, 0, 0);
  });
  EXPECT_EQ(table.ShowSettings(nullptr), 1u);
  driver.join();
  for (const std::string& f : failures) ADD_FAILURE() << f;

  // Applied to the engine and saved in the key store (the picture settings in this
  // program's own key).
  const settings::DeviceSettings saved =
      settings::readDeviceSettings(platform::KeyStore::machine(), programBaseName());
  EXPECT_EQ(saved.rotation, 2u);
  EXPECT_EQ(saved.mirror, 1u);
  EXPECT_EQ(saved.width, 640u);
  EXPECT_EQ(saved.height, 480u);
  EXPECT_EQ(saved.port, newPort);
  server::testing::Phone phone;
  for (int i = 0; i < 100 && !phone.connect(newPort, 1000); ++i) std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(phone.valid()) << "the engine does not listen on the port chosen in the dialog";

  failures.clear();
  std::thread aboutDriver([&] {
    HWND about = dialog_testing::findThreadWindow(windowThread, L"About", 10s);
    if (about == nullptr) return fail("the About box did not open");
    if (dialog_testing::text(GetDlgItem(about, 1017)) != L"Vistrel v2.1") fail("the version text is wrong");
    if (SendMessageW(GetDlgItem(about, 1015), STM_GETICON, 0, 0) == 0) fail("the About box shows no icon");
    HWND link = GetDlgItem(about, 1012);
    if (dialog_testing::text(link).rfind(L"http://", 0) != 0) fail("the link lacks the address");
    // Underlined while the pointer is over it, plain again when it leaves.
    SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    if (!dialog_testing::underlined(link)) fail("the link is not underlined under the pointer");
    SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<WORD>(-5), static_cast<WORD>(-5)));
    if (dialog_testing::underlined(link)) fail("the link stays underlined after the pointer left");
    if (IsWindowVisible(GetDlgItem(about, 1018)) || IsWindowVisible(GetDlgItem(about, 1013))) {
      fail("the e-mail lines are shown");
    }
    SendMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  });
  EXPECT_EQ(table.ShowAbout(nullptr), 1u);
  aboutDriver.join();
  for (const std::string& f : failures) ADD_FAILURE() << f;

  table.Close();
  FreeLibrary(library);
}

// A property frame's use of the filter's page: the filter names the page class, the page
// takes the filter as its object, tells its title and size, shows the settings page in
// the frame's window and applies a choice made there.
class TestPageSite final : public IPropertyPageSite {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IPropertyPageSite) {
      *ppv = static_cast<IPropertyPageSite*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP OnStatusChange(DWORD) override { return S_OK; }
  STDMETHODIMP GetLocaleID(LCID* locale) override {
    *locale = 1033;
    return S_OK;
  }
  STDMETHODIMP GetPageContainer(IUnknown** container) override {
    *container = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }
  ULONG refs = 1;
};

TEST_F(DeviceAx, PropertyPageShowsTheSettingsPageOfTheFilter) {
  wchar_t model[16] = {};
  DWORD modelBytes = sizeof(model);
  ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, L"CLSID\\{6F293878-980A-4509-A6F9-0C942AE88319}\\InprocServer32",
                         L"ThreadingModel", RRF_RT_REG_SZ, nullptr, model, &modelBytes),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(model), L"Both");
  Com<IBaseFilter> filter;
  ASSERT_EQ(createFilter(filter.out()), S_OK);
  Com<ISpecifyPropertyPages> specify;
  ASSERT_EQ(filter->QueryInterface(IID_ISpecifyPropertyPages, specify.outVoid()), S_OK);
  CAUUID pages{};
  ASSERT_EQ(specify->GetPages(&pages), S_OK);
  ASSERT_EQ(pages.cElems, 1u);
  EXPECT_EQ(pages.pElems[0], toGuid(output::kPropertyPageClassId));
  CoTaskMemFree(pages.pElems);

  Com<IPropertyPage> page;
  ASSERT_EQ(CoCreateInstance(toGuid(output::kPropertyPageClassId), nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                             page.outVoid()),
            S_OK);
  IUnknown* notAFilter = page.p;
  EXPECT_EQ(page->SetObjects(1, &notAFilter), E_NOINTERFACE);
  IUnknown* object = filter.p;
  ASSERT_EQ(page->SetObjects(1, &object), S_OK);
  PROPPAGEINFO info{};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_EQ(std::wstring(info.pszTitle), L"Settings");
  EXPECT_EQ(info.size.cx, 340);
  EXPECT_EQ(info.size.cy, 150);
  CoTaskMemFree(info.pszTitle);

  TestPageSite site;
  ASSERT_EQ(page->SetPageSite(&site), S_OK);
  HWND frame = CreateWindowExW(0, L"STATIC", L"Properties", WS_OVERLAPPEDWINDOW, 0, 0, 400, 600, nullptr, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(frame, nullptr);
  const RECT area{0, 0, 340, 500};
  ASSERT_EQ(page->Activate(frame, &area, TRUE), S_OK);
  ASSERT_EQ(page->Show(SW_SHOW), S_OK);
  HWND shown = FindWindowExW(frame, nullptr, L"#32770", nullptr);
  ASSERT_NE(shown, nullptr);
  EXPECT_NE(GetWindowLongW(shown, GWL_STYLE) & WS_VISIBLE, 0) << "Show left the page hidden";
  EXPECT_EQ(dialog_testing::text(GetDlgItem(shown, 1003)), L"Mirror");
  EXPECT_EQ(SendMessageW(GetDlgItem(shown, 1000), CB_GETCOUNT, 0, 0), 8);

  // 90 degrees chosen in the page: applied and saved as the dialog's choices are.
  dialog_testing::chooseInCombo(shown, 1002, 1);
  EXPECT_EQ(settings::readDeviceSettings(platform::KeyStore::machine(), programBaseName()).rotation, 1u);

  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  ASSERT_EQ(page->Deactivate(), S_OK);
  EXPECT_FALSE(IsWindow(shown));
  EXPECT_EQ(page->SetPageSite(nullptr), S_OK);
  EXPECT_EQ(site.refs, 1u) << "the page keeps its site after letting it go";
  EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
  DestroyWindow(frame);
}

TEST_F(DeviceAx, UnregisteringRemovesTheFilter) {
  ASSERT_EQ(regsvr32(L"/u"), 0u);
  Com<IMoniker> moniker;
  EXPECT_FALSE(findVistrel(moniker.out()));
  Com<IBaseFilter> filter;
  EXPECT_EQ(createFilter(filter.out()), REGDB_E_CLASSNOTREG);
  Com<IPropertyPage> page;
  EXPECT_EQ(CoCreateInstance(toGuid(output::kPropertyPageClassId), nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                             page.outVoid()),
            REGDB_E_CLASSNOTREG);
}

}  // namespace
