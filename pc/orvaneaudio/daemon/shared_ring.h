#pragma once

// The ring's memory shared with ALSA plugin processes, and the registry through which
// each of their PCMs becomes a FeedRing stream (see orvaneaudio/alsa_streams.h).
//
// Threading: publish() from any thread; the registry runs its own thread.

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orvaneaudio/alsa_streams.h"
#include "orvaneaudio/feed_ring.h"

namespace orvaneaudio {

class SharedRing {
 public:
  static std::unique_ptr<SharedRing> create(std::string* error);
  ~SharedRing();

  // Where the FeedRing keeps its bytes.
  uint8_t* ring() { return base_ + kSharedHeaderBytes; }
  // Publishes the ring's current write position to the plugins.
  void publish(const FeedRing& ring);
  // Starts the registry for `ring`.
  bool serve(FeedRing& ring, std::string* error);
  // Ends the registry: its streams are paused and forgotten. Call before the ring goes.
  void stop();

  size_t streamCount() const;

 private:
  SharedRing(int memFd, uint8_t* base) : memFd_(memFd), base_(base) {}
  void run();

  struct Client {
    int fd;
    std::unique_ptr<FeedStream> stream;
  };

  int memFd_;
  uint8_t* base_;
  std::mutex publishLock_;
  FeedRing* feed_ = nullptr;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  std::vector<Client> clients_;
  std::atomic<size_t> count_{0};
  std::thread thread_;
};

}  // namespace orvaneaudio
