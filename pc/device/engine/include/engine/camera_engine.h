#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "decoder/jpeg_decoder.h"
#include "engine/named_frame_block.h"
#include "engine/shared_property_list.h"
#include "platform/local_packet.h"
#include "platform/named_objects.h"
#include "platform/thread.h"
#include "procs/process_table.h"
#include "server/frame_receiver.h"
#include "server/property_store.h"
#include "settings/device_settings.h"

namespace platform {
class KeyStore;
}

namespace engine {

enum class Mode : uint32_t { kStandAlone = 0, kServing = 1, kClient = 2 };

inline constexpr char kServingMarkerName[] = "_VistrelMutexOBJ_";
// Where the serving process takes the phone commands of its clients (taps and keys from
// the viewer): one local packet, kCommandMagic, code, argument.
inline constexpr char kCommandEndpointName[] = "_VistrelCMD_";
inline constexpr uint32_t kCommandMagic = platform::fourcc('V', 'C', 'M', 'D');
inline constexpr platform::PacketShape kCommandPacket{kCommandMagic, 2};
std::string commandEndpoint();
inline constexpr uint32_t kFrameBufferSize = 0x200000;
inline constexpr uint32_t kMaxOutputSide = 4096;
// How often a waiting client looks whether its serving process is still there.
inline constexpr uint32_t kServerCheckMs = 250;

// Window messages that SendPhoneInput understands.
inline constexpr uint32_t kMessageKeyDown = 256;
inline constexpr uint32_t kMessageLeftButtonDown = 513;

// How a frame is rendered: the output picture's size (bottom-up 24-bit BGR, rows padded
// to 4 bytes), the turn (0..3 x 90 degrees counter-clockwise) and the mirror.
struct RenderGeometry {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t rotation = 0;
  bool mirror = false;
};

// The per-process state of the PC library. One process serves the phone link (normally
// the service) and publishes every frame in the shared frame block; the others read it
// there. A process that finds no server receives by itself (stand-alone).
//
//  stand-alone (0): own frame server, no shared block
//  serving (1):     own frame server publishing to the shared block; no frame buffer
//  client (2):      shared block only, no socket
//
// Threading: every method may be called from any thread; the engine serialises what
// needs it. The frame wait blocks only the calling thread.
class CameraEngine {
 public:
  struct Options {
    platform::KeyStore* keyStore = nullptr;  // null: the machine's store
    std::string executablePath;               // empty: this program's
    std::string bindAddress;                  // where the frame server listens; empty:
                                              // the "ListenAddress" setting
  };

  // The process's engine, created on first use under a process-wide lock.
  static CameraEngine& instance();
  // The same, shared: a holder (the capture filter) keeps it alive after destroyInstance.
  static std::shared_ptr<CameraEngine> sharedInstance();
  // Lets go of the process's engine (Close, or the library being unloaded); it ends once
  // no holder keeps it, and the next use makes a new one.
  static void destroyInstance();

  explicit CameraEngine(Options options);
  ~CameraEngine();
  CameraEngine(const CameraEngine&) = delete;
  CameraEngine& operator=(const CameraEngine&) = delete;

  // Decides the mode and opens the engine for it. False only when serving was asked and
  // the serving marker could not be made. A client whose serving process has gone (the
  // serving marker is no more) opens again the same way as soon as it waits for a frame,
  // and so receives by itself (or becomes the client of a new server).
  bool open(bool serve);
  // The end of a streaming run (a camera output stopping): the frame server stops taking
  // new connections (a phone already connected keeps its link until it falls silent) and
  // this process is no longer marked as receiving. The next open() undoes both.
  void endStreaming();
  // The settings page's Connect: opens as open(false) does, except that the phone launcher
  // starts in every mode but serving, with the port plus 65536 (connect again at once).
  void connectPhone();
  // A value chosen for one of the phone's properties: the PC's copy takes the index and
  // the set-property command goes to the phone (from a client, through the serving
  // process). False when no property has that key and index, or the command could not
  // be queued.
  bool setPhoneProperty(uint32_t key, uint32_t index);
  // Runs `reader` with the phone's property list: this process's own, or in a client the
  // one the serving process published.
  void readProperties(const std::function<void(const std::vector<protocol::PropertyEntry>&)>& reader);
  // Reads the settings again and applies them. Returns 1.
  uint32_t reloadSettings();
  // The same step with a record from the settings dialog, which is then saved.
  void applySettings(const settings::DeviceSettings& fromDialog);
  // A key press (256, x = key code) or a click (513, x and y 0..65536 across the shown
  // area) for the phone. 1 when a command was queued: by this process's frame server, or,
  // in a client, handed to the serving process, which sends it on.
  uint32_t sendPhoneInput(uint32_t message, uint32_t x, uint32_t y);
  // The frame path. The frame source is this process's frame server (stand-alone and
  // serving) or the shared frame block (client); it lends the newest complete frame (JFIF
  // start restored, end-of-image marker checked) under its lock: the bytes stay valid and
  // unchanged for the duration of `use` only, whatever arrives meanwhile. False, without
  // calling `use`, when there is no such frame.
  template <typename Use>
  bool withNewestFrame(Use&& use) {
    std::lock_guard lock(lendMutex_);
    if (!lend_) lend_.reset(new uint8_t[kFrameBufferSize]);
    const uint32_t n = copyNewest(lend_.get());
    if (n == 0) return false;
    use(std::span<const uint8_t>(lend_.get(), n));
    return true;
  }
  // The newest complete frame's length (0: none), nothing copied.
  uint32_t newestFrameLength() { return copyNewest(nullptr); }
  // The output size and the settings' turn and mirror.
  RenderGeometry renderGeometry() const;
  // Decodes `frame` (its header read once) straight into `destination`, turned, mirrored
  // and fitted as `geometry` says. False when the JPEG is refused or the destination is
  // smaller than the picture (then nothing is written). Records the picture's size for
  // the mapping of clicks.
  bool render(std::span<const uint8_t> frame, const RenderGeometry& geometry,
              std::span<uint8_t> destination);
  // How a render that offered a straight destination went: `straight` when the frame went
  // there (`destination` untouched), `ok` when the picture is complete.
  struct Rendered {
    bool ok = false;
    bool straight = false;
  };
  // Asks for a destination in a program's own layout of a width x height picture; null
  // when there is none (no free buffer, another size or layout).
  using TakeStraight = std::function<const decoder::StraightTarget*(uint32_t width, uint32_t height)>;
  // As render(), except that a frame needing no fit, turn or mirror (the output's size,
  // unturned, unmirrored) is decoded straight into the destination `take` gives, when it
  // gives one: then no conversion of the picture is needed. `take` is called at most once,
  // after the header was read, and only for such a frame; whatever it gives is written
  // (the rows before a failure) once it was given.
  Rendered renderStraightOr(std::span<const uint8_t> frame, const RenderGeometry& geometry,
                            std::span<uint8_t> destination, const TakeStraight& take);

  // The entry table's three-call protocol over the frame path:
  // The newest valid JPEG's length, 0 when there is none. With `frame`, the address of
  // the engine's frame buffer (valid until the engine is destroyed) is stored there and
  // the buffer filled.
  uint32_t getFrame(uint8_t** frame);
  // 0 new frame, 258 time-out, -1 no valid frame or no source.
  int32_t waitFrame(uint32_t timeoutMs);
  void wake();
  // Decodes a JPEG's header and reports the displayed size (width and height swapped at
  // 90 and 270 degrees). The bytes are copied, so the caller may reuse them at once.
  bool decodeJpeg(const uint8_t* data, uint32_t size, uint32_t* width, uint32_t* height);
  // Both sides 1..4096, else nothing changes.
  void setOutputSize(uint32_t width, uint32_t height);
  // Renders the JPEG last given to decodeJpeg at the output size into `destination`
  // (imageSize of the output size), as render() does.
  bool renderFrame(uint8_t* destination);

  Mode mode() const { return mode_; }
  settings::DeviceSettings settings() const;
  uint32_t outputWidth() const { return outputWidth_; }
  uint32_t outputHeight() const { return outputHeight_; }
  // Null until the engine runs a frame server (a client that took over from a serving
  // process that went gets one while others may be waiting for frames).
  server::FrameReceiver* frameServer() { return liveServer_.load(std::memory_order_acquire); }
  server::PropertyStore& properties() { return properties_; }
  const procs::ProcessTable& processTable() const { return table_; }
  // Closes the serving marker if this process made it (Close does this before destroying).
  void releaseServingMarker();

 private:
  void applyLocked(const settings::DeviceSettings& incoming, bool fromDialog);
  bool openLocked(bool serve, bool connectButton = false);
  // The frame server's address: the option when given, else the setting.
  std::string listenAddressLocked() const;
  bool queueCommand(uint32_t code, uint32_t argument);
  // Copies the newest complete frame of the source in effect to `destination` (at least
  // kFrameBufferSize bytes; null: the length only). Returns its length, 0 when none.
  uint32_t copyNewest(uint8_t* destination);
  // Reads the header once, then renders straight where `take` gives a destination, else
  // into `destination`.
  Rendered renderLocked(std::span<const uint8_t> frame, const RenderGeometry& geometry,
                        std::span<uint8_t> destination, const TakeStraight* take);
  void startCommandRelay();
  void publishProperties();

  Options options_;
  platform::KeyStore& store_;
  mutable std::mutex mutex_;
  procs::ProcessTable table_;
  settings::DeviceSettings settings_;
  std::atomic<Mode> mode_{Mode::kStandAlone};
  std::unique_ptr<platform::PresenceMarker> servingMarker_;
  std::unique_ptr<NamedFrameBlock> block_;
  std::unique_ptr<server::FrameReceiver> server_;
  std::atomic<server::FrameReceiver*> liveServer_{nullptr};  // server_, for lock-free readers
  std::atomic<bool> relayStop_{false};
  platform::Thread relay_;  // serving mode: clients' commands on to the phone
  std::unique_ptr<SharedPropertyList> sharedProperties_;  // serving: written; client: read
  std::mutex sharedReadMutex_;
  std::vector<uint8_t> sharedBytes_;
  std::vector<protocol::PropertyEntry> sharedEntries_;
  server::PropertyStore properties_;
  std::unique_ptr<uint8_t[]> frameBuffer_;  // GetFrame's buffer (the entry table's)
  std::mutex lendMutex_;
  std::unique_ptr<uint8_t[]> lend_;  // the frame lent by withNewestFrame
  std::atomic<uint32_t> outputWidth_;
  std::atomic<uint32_t> outputHeight_;

  std::mutex decodeMutex_;
  std::unique_ptr<decoder::JpegDecoder> decoder_;
  std::unique_ptr<uint8_t[]> decodeCopy_;  // the JPEG last given to decodeJpeg
  uint32_t decodeCopySize_ = 0;
  uint32_t decodedWidth_ = 0;  // of the picture last decoded or rendered, as sent
  uint32_t decodedHeight_ = 0;
};

// The in-use message for `otherPath` (UTF-8), as shown when another program already
// receives frames.
std::string inUseMessage(const std::string& otherPath);

}  // namespace engine
