#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "server/message_scanner.h"
#include "server/shared_frame_block.h"
#include "server/stream_listener.h"

namespace server {

// Result of waitForFrame(): the time-out code matches the platform's wait time-out.
inline constexpr int kWaitFrameReady = 0;
inline constexpr int kWaitTimeout = 258;
inline constexpr int kWaitNotAFrame = -1;

// The PC end of the phone link: the listener fills the 4 MiB ring, the parser thread
// finds the messages in it and hands each completed one over: it signals frame-ready,
// forwards sound to the virtual microphone, publishes video frames to the shared frame
// block when one is attached, and calls the message callback (the engine keeps the
// property list there). Readers copy the newest video frame out of the ring on demand.
//
// Threading: start/stop/destruction from the owner. latestJpeg, waitForFrame, wake,
// sendCommand, setPort and the queries may be called from any thread. The callback runs
// on the parser thread.
class FrameReceiver {
 public:
  using MessageCallback = void (*)(void* context, FrameReceiver& receiver);

  struct Options {
    StreamListener::Options listener;
    std::string audioDevicePath;  // empty: the virtual microphone's control device
  };

  FrameReceiver();
  explicit FrameReceiver(Options options);
  ~FrameReceiver();
  FrameReceiver(const FrameReceiver&) = delete;
  FrameReceiver& operator=(const FrameReceiver&) = delete;

  // Opens the audio device (absent: sound is dropped, and the device is looked for again
  // at most once a second while sound arrives), starts the parser and the listener. Does
  // nothing when already running. Returns true.
  bool start();
  // Stops the listener, then the parser, each within 1000 ms; closes the audio device.
  void stop();
  void enableListening();
  // Takes effect at the next listen: at once while listening, after the next
  // disconnection while connected.
  void setPort(uint16_t port);
  uint16_t port() const;
  // The local address to listen on (see StreamListener::Options); applied like the port.
  void setBindAddress(const std::string& address);

  // Installs the callback run on the parser thread after each hand-over. Set it before
  // start().
  void setMessageCallback(MessageCallback callback, void* context);
  // Attaches the serving process's frame block (null detaches). Set it before start().
  void attachSharedFrameBlock(SharedFrameBlock* block);

  // The payload length of the newest video frame handed over, whatever sound blocks or
  // reports came after it (0 when that frame is not intact with its end-of-image marker in
  // its last 10 bytes). With a destination of at least protocol::kMaxVideoPayload bytes,
  // the payload is copied there with its JFIF start restored.
  uint32_t latestJpeg(uint8_t* destination);
  // 0 when a valid frame was handed over within `timeoutMs` that no earlier wait reported,
  // 258 on time-out, -1 when the hand-over was of something else (or of an invalid frame).
  int waitForFrame(uint32_t timeoutMs);
  // Hands the latest message over once more (after a settings change).
  void wake();
  // Queues a command for the phone; dropped when 256 are already waiting.
  bool sendCommand(uint32_t code, uint32_t argument);  // false: dropped, 256 waiting

  // For the message callback: the message just handed over, and a copy of up to `max`
  // bytes of its payload (returns the count copied).
  RingMessage latestMessage() const;
  uint32_t copyLatestPayload(uint8_t* destination, uint32_t max) const;
  void dropPendingCommands();

  bool connected() const;
  uint16_t listeningPort() const;
  bool audioDeviceOpen() const;
  StreamListener& listener();

  struct Core;  // everything the parser thread touches, shared with it

 private:
  std::shared_ptr<Core> core_;
  platform::Thread parser_;
  bool abandoned_ = false;
};

}  // namespace server
