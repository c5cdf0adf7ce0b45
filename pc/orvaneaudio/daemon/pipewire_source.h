#pragma once

// The microphone as a PipeWire node: an Audio/Source stream (S16LE, mono, 8000 Hz) whose
// running state is one FeedRing stream. Every cycle the graph asks for is filled through
// a PacedReader, so recorders get sound at the graph's rate whatever the feed does.

#include <memory>
#include <string>

#include "orvaneaudio/feed_ring.h"

namespace orvaneaudio {

class PipeWireSource {
 public:
  struct Options {
    std::string nodeName = "orvaneaudio";
    std::string description = "Vistrel Microphone";
  };

  // Connects to the PipeWire daemon of this session; null, with a reason, when it is not
  // reachable.
  static std::unique_ptr<PipeWireSource> start(FeedRing& ring, const Options& options,
                                               std::string* error);
  virtual ~PipeWireSource() = default;

  // False once the connection to PipeWire is lost.
  virtual bool alive() const = 0;
};

}  // namespace orvaneaudio
