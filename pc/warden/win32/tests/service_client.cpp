// The other side of the service test: service_client prepare | receive | viewer | graph DIR | cleanup
//
//   prepare  writes the PC settings of this run (a free port on 127.0.0.1, no connecting
//            at start) to the key store of VISTREL_KEY_STORE and prints the port
//   receive  plays the phone on that port, which the service must own, and, as a second
//            process, loads device.ax beside it through DllGetData: its engine becomes a
//            client of the service and receives the phone's pictures through the shared
//            mapping (rendered within 40 dB PSNR of the JPEG library's own decode); then
//            sends the service the reload request (user control code 128)
//   graph DIR  while the Linux build's stand-in phone (streamfeed --garbage --save DIR)
//            sends to the service, runs device.ax's filter (made through the library's own
//            class factory) in a graph with the system's sample grabber: as a client of the
//            service it shows the phone's pictures, each within 40 dB PSNR of the JPEG
//            library's decode of a frame streamfeed saved
//   viewer   plays the phone on the service's port and starts lookout.exe beside it: the
//            viewer becomes a client of the service and shows the phone's pictures (its
//            status bar gives their size); a click at the picture's centre reaches the
//            phone through the service as a tap; WM_CLOSE ends it with code 0
//   cleanup  removes the key store
// Exit status 0 when all went as described, 1 with the reason on standard error.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "entries/device_entry_table.h"
#include "graph_testing.h"
#include "media_type_com.h"
#include "output/com_types.h"
#include "output/media_type.h"
#include "platform/key_store.h"
#include "protocol/stream_header.h"
#include "settings/device_settings.h"
#include "test_jpeg.h"
#include "test_stream.h"
#include "viewer_process.h"
#include "warden/service_control.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kWidth = 320, kHeight = 240;

int fail(const std::string& why) {
  std::fprintf(stderr, "service_client: %s\n", why.c_str());
  return 1;
}

std::wstring besideUs(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

int prepare() {
  settings::DeviceSettings s;
  s.port = server::testing::freePort();
  s.connectAtStartup = 0;
  s.width = kWidth;
  s.height = kHeight;
  s.listenAddress = u"127.0.0.1";
  settings::writeDeviceSettings(platform::KeyStore::machine(), u"", s);
  std::printf("%u\n", static_cast<unsigned>(s.port));
  return 0;
}

int receive() {
  const uint16_t port = settings::readDeviceSettings(platform::KeyStore::machine(), u"").port;
  // The service owns the port: the phone is taken before this process opens an engine.
  server::testing::Phone phone;
  for (int i = 0; i < 100 && !phone.connect(port, 1000); ++i) std::this_thread::sleep_for(100ms);
  if (!phone.valid()) return fail("nobody took the phone on port " + std::to_string(port));

  HMODULE library = LoadLibraryW(besideUs(L"device.ax").c_str());
  if (library == nullptr) return fail("device.ax does not load");
  auto getData = reinterpret_cast<DeviceGetDataFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllGetData")));
  DeviceEntryTable table{};
  if (getData == nullptr || getData(&table) != 1) return fail("device.ax gives no entry table");
  if ((table.Open(0) & 0xFF) != 1) return fail("the engine does not open");

  const std::vector<uint8_t> picture = decoder_testing::testPicture(kWidth, kHeight);
  const std::vector<uint8_t> sent = decoder_testing::encodeRgb(picture.data(), kWidth, kHeight);
  uint32_t w = 0, h = 0;
  const std::vector<uint8_t> reference = decoder_testing::referenceDecode(sent, &w, &h);
  const auto frame = server::testing::message(protocol::MSG_VIDEO_JPEG, sent);
  const server::testing::Bytes noise{0x13, 0x37, 0x00, 0xFF, 0xD9, 0x42, 0x42};
  const server::testing::Bytes cut(frame.begin(), frame.begin() + frame.size() / 2);
  if (!phone.send(server::testing::concat({noise, cut, noise}))) return fail("the phone's first bytes were refused");

  table.SetOutputSize(kWidth, kHeight);
  std::vector<uint8_t> rendered(((kWidth * 3 + 3) & ~3u) * kHeight);
  double best = 0;
  for (int i = 0; i < 100 && best <= 40.0; ++i) {
    if (!phone.send(frame)) return fail("the service closed the phone's connection");
    if (table.WaitFrame(100) != 0) continue;
    uint8_t* jpeg = nullptr;
    const uint32_t length = table.GetFrame(&jpeg);
    if (length == 0 || (table.DecodeJpeg(jpeg, length, &w, &h) & 0xFF) == 0 ||
        (table.RenderFrame(rendered.data()) & 0xFF) == 0) {
      continue;  // a frame spliced from the cut message does not render
    }
    best = std::max(best, decoder_testing::renderedPsnr(rendered, reference, kWidth, kHeight));
  }
  table.Close();
  if (best <= 40.0) return fail("no picture of the phone came through the service (best PSNR " + std::to_string(best) + " dB)");
  if (!warden::requestServiceReload()) return fail("the service did not take the reload request (128)");
  std::printf("received the phone's picture through the service (PSNR %.1f dB); reload answered\n", best);
  return 0;
}

// The frames streamfeed saved so far (DIR/sent-*.jpg), decoded by the JPEG library; those
// already in `decoded` are not read again.
void readSentFrames(const std::string& dir, std::map<std::string, std::vector<uint8_t>>& decoded) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("sent-", 0) != 0 || decoded.count(name) != 0) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint32_t w = 0, h = 0;
    std::vector<uint8_t> rgb = decoder_testing::referenceDecode(jpeg, &w, &h);
    if (w == kWidth && h == kHeight) decoded[name] = std::move(rgb);  // a file still being written is read later
  }
}

// How far a rendered picture (bottom-up BGR) is from an RGB one at 16 points.
long sampledDistance(const std::vector<uint8_t>& rendered, const std::vector<uint8_t>& rgb) {
  const size_t stride = (kWidth * 3 + 3) & ~size_t{3};
  if (rendered.size() < stride * kHeight) return 0x7FFFFFFF;
  long distance = 0;
  for (uint32_t y : {10u, 80u, 160u, 230u}) {
    for (uint32_t x : {10u, 100u, 200u, 300u}) {
      const uint8_t* shown = rendered.data() + (kHeight - 1 - y) * stride + x * 3;
      const uint8_t* wanted = rgb.data() + (size_t{y} * kWidth + x) * 3;
      for (int c = 0; c < 3; ++c) distance += std::abs(int(shown[2 - c]) - int(wanted[c]));
    }
  }
  return distance;
}

int graph(const std::string& dir) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return fail("COM does not start");
  HMODULE library = LoadLibraryW(besideUs(L"device.ax").c_str());
  if (library == nullptr) return fail("device.ax does not load");
  using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  auto getClassObject =
      reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  if (getClassObject == nullptr) return fail("device.ax has no class factory");
  graph_testing::Com<IClassFactory> factory;
  graph_testing::Com<IBaseFilter> camera;
  if (FAILED(getClassObject(output::win32::toGuid(output::kFilterClassId), IID_IClassFactory, factory.outVoid())) ||
      FAILED(factory->CreateInstance(nullptr, IID_IBaseFilter, camera.outVoid()))) {
    return fail("device.ax's class factory makes no filter");
  }
  graph_testing::Grabbed grabbed(output::pictureSize(kWidth, kHeight));
  graph_testing::GrabberGraph graph;
  if (FAILED(graph.build(camera.p, grabbed)) || FAILED(graph.control->Run())) return fail("the graph does not run");

  // The pictures the graph shows while streamfeed sends (a new one each time the grabber
  // saw a sample), compared afterwards with the frames streamfeed saved.
  std::vector<std::vector<uint8_t>> pictures;
  int lastCount = 0;
  const auto end = std::chrono::steady_clock::now() + 12s;
  while (pictures.size() < 40 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(100ms);
    std::lock_guard lock(grabbed.mutex);
    if (grabbed.count == lastCount) continue;
    lastCount = grabbed.count;
    pictures.push_back(grabbed.last);
  }
  graph.control->Stop();
  int wrongSizes = 0;
  {
    std::lock_guard lock(grabbed.mutex);
    wrongSizes = grabbed.wrongSizes;
  }
  std::map<std::string, std::vector<uint8_t>> sent;
  readSentFrames(dir, sent);
  std::set<std::string> matched;
  for (const std::vector<uint8_t>& picture : pictures) {
    // The saved frame closest at a few points, then the whole picture against it.
    const std::string* closest = nullptr;
    long closestDistance = 0;
    for (const auto& [name, rgb] : sent) {
      const long distance = sampledDistance(picture, rgb);
      if (closest == nullptr || distance < closestDistance) {
        closest = &name;
        closestDistance = distance;
      }
    }
    if (closest != nullptr && decoder_testing::renderedPsnr(picture, sent[*closest], kWidth, kHeight) > 40.0) {
      matched.insert(*closest);
    }
  }
  if (matched.size() < 3) {
    return fail("the graph showed " + std::to_string(matched.size()) + " of streamfeed's frames (" +
                std::to_string(pictures.size()) + " pictures, " + std::to_string(sent.size()) +
                " frames saved), not 3");
  }
  if (wrongSizes != 0) return fail(std::to_string(wrongSizes) + " samples of the wrong size");
  std::printf("the graph showed %zu of streamfeed's frames through the service\n", matched.size());
  return 0;
}

int viewer() {
  const uint16_t port = settings::readDeviceSettings(platform::KeyStore::machine(), u"").port;
  server::testing::Phone phone;
  for (int i = 0; i < 100 && !phone.connect(port, 1000); ++i) std::this_thread::sleep_for(100ms);
  if (!phone.valid()) return fail("nobody took the phone on port " + std::to_string(port));

  viewer_testing::Viewer viewer;
  if (!viewer.start(besideUs(L"lookout.exe"))) return fail("lookout.exe does not start");
  if (!viewer_testing::waitFor([&] { return viewer.window() != nullptr; }, 30s)) return fail("no viewer window");
  const std::vector<uint8_t> picture = decoder_testing::testPicture(kWidth, kHeight);
  const auto frame = server::testing::message(protocol::MSG_VIDEO_JPEG,
                                              decoder_testing::encodeRgb(picture.data(), kWidth, kHeight));
  const auto showsPicture = [&] {
    phone.send(frame);
    return viewer.statusText().rfind(L"320x240@", 0) == 0;
  };
  if (!viewer_testing::waitFor(showsPicture, 20s)) {
    return fail("the viewer showed no picture through the service; status: " +
                std::filesystem::path(viewer.statusText()).string());
  }
  // The viewer's click goes to the service, which sends the phone the tap.
  PostMessageW(viewer.window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(kWidth / 2, kHeight / 2));
  bool tapped = false;
  for (int i = 0; i < 25 && !tapped; ++i) {
    protocol::StreamHeader command;
    if (phone.readCommand(command, 200) && command.commandCode() == protocol::CMD_TAP) {
      tapped = command.commandArgument() == protocol::tapArgument(32768, 32768);
    }
  }
  if (!tapped) return fail("the viewer's click at the centre did not reach the phone as a tap at the centre");
  PostMessageW(viewer.window(), WM_CLOSE, 0, 0);
  const long code = viewer.exitCode(10000);
  if (code != 0) return fail("the viewer ended with " + std::to_string(code) + " after WM_CLOSE");
  std::printf("the viewer showed the phone through the service and its click reached the phone\n");
  return 0;
}

int cleanup() {
  const char* key = std::getenv("VISTREL_KEY_STORE");
  if (key != nullptr) RegDeleteTreeA(HKEY_CURRENT_USER, key);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* key = std::getenv("VISTREL_KEY_STORE");
  if (argc < 2 || key == nullptr || key[0] == 0) {
    std::fprintf(stderr, "usage: service_client prepare|receive|viewer|graph DIR|cleanup, with VISTREL_KEY_STORE set\n");
    return 2;
  }
  const std::string phase = argv[1];
  if (phase == "prepare") return prepare();
  if (phase == "receive") return receive();
  if (phase == "viewer") return viewer();
  if (phase == "cleanup") return cleanup();
  if (phase == "graph" && argc == 3) return graph(argv[2]);
  return fail("unknown phase " + phase);
}
