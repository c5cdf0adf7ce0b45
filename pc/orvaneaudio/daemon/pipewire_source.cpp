#include "pipewire_source.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "orvaneaudio/feed_control.h"
#include "orvaneaudio/paced_reader.h"
#include "orvaneaudio/stream_format.h"

namespace orvaneaudio {
namespace {

constexpr uint32_t kStride = 2;  // one 16-bit mono sample

class PipeWireSourceImpl final : public PipeWireSource {
 public:
  explicit PipeWireSourceImpl(FeedRing& ring) : ring_(ring), source_(ring, stream_) {}

  ~PipeWireSourceImpl() override {
    if (loop_ != nullptr) pw_thread_loop_stop(loop_);
    if (pwStream_ != nullptr) pw_stream_destroy(pwStream_);
    if (loop_ != nullptr) pw_thread_loop_destroy(loop_);
    std::lock_guard guard(lock_);
    setState(StreamState::Stop);
  }

  bool open(const Options& options, std::string* error) {
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new("orvaneaudio-pw", nullptr);
    if (loop_ == nullptr) return fail(error, "cannot create the PipeWire loop");

    // The stream is created like a driver's capture stream: its format is checked once.
    const std::vector<uint8_t> format = makeDataFormat(WaveFormat{});
    if (initStream(ring_, stream_, format) != kStatusSuccess) return fail(error, "bad format");

    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
        "Communication", PW_KEY_MEDIA_CLASS, "Audio/Source", PW_KEY_NODE_NAME,
        options.nodeName.c_str(), PW_KEY_NODE_DESCRIPTION, options.description.c_str(),
        PW_KEY_NODE_NICK, options.description.c_str(), PW_KEY_NODE_LATENCY, "160/8000",
        PW_KEY_NODE_WANT_DRIVER, "true", nullptr);
    static const pw_stream_events events = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char*) {
        static_cast<PipeWireSourceImpl*>(data)->onState(state);
      };
      e.process = [](void* data) { static_cast<PipeWireSourceImpl*>(data)->onProcess(); };
      return e;
    }();
    pwStream_ = pw_stream_new_simple(pw_thread_loop_get_loop(loop_), options.nodeName.c_str(),
                                       props, &events, this);
    if (pwStream_ == nullptr) return fail(error, "cannot create the PipeWire stream");

    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_S16_LE;
    info.rate = kSampleRateHz;
    info.channels = kChannels;
    info.position[0] = SPA_AUDIO_CHANNEL_MONO;
    const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const int r = pw_stream_connect(
        pwStream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS),
        params, 1);
    if (r < 0) return fail(error, std::string("cannot connect the stream: ") + std::strerror(-r));
    if (pw_thread_loop_start(loop_) < 0) return fail(error, "cannot start the PipeWire loop");
    // Wait until the node exists or the connection fails.
    for (int i = 0; i < 200; ++i) {
      const pw_stream_state s = pw_stream_get_state(pwStream_, nullptr);
      if (s == PW_STREAM_STATE_PAUSED || s == PW_STREAM_STATE_STREAMING) return true;
      if (s == PW_STREAM_STATE_ERROR) break;
      struct timespec ts{0, 10'000'000};
      nanosleep(&ts, nullptr);
    }
    const char* why = nullptr;
    pw_stream_get_state(pwStream_, &why);
    return fail(error, std::string("PipeWire is not reachable") + (why ? std::string(": ") + why : ""));
  }

  bool alive() const override { return alive_.load(); }

 private:
  static bool fail(std::string* error, std::string why) {
    if (error != nullptr) *error = std::move(why);
    return false;
  }

  // Runs the FeedRing stream the way a capture stream is driven: stop, pause, run.
  void setState(StreamState target) {
    if (target == StreamState::Run && stream_.state == StreamState::Stop) {
      ring_.setStreamState(stream_, StreamState::Pause);
    }
    if (target == StreamState::Stop && stream_.state == StreamState::Run) {
      ring_.setStreamState(stream_, StreamState::Pause);
    }
    ring_.setStreamState(stream_, target);
  }

  void onState(pw_stream_state state) {
    std::lock_guard guard(lock_);
    switch (state) {
      case PW_STREAM_STATE_STREAMING:
        if (stream_.state != StreamState::Run) {
          setState(StreamState::Run);
          reader_.restart();
        }
        break;
      case PW_STREAM_STATE_PAUSED:
        if (stream_.state == StreamState::Run) setState(StreamState::Pause);
        break;
      case PW_STREAM_STATE_ERROR:
      case PW_STREAM_STATE_UNCONNECTED:
        setState(StreamState::Stop);
        alive_ = false;
        break;
      default:
        break;
    }
  }

  void onProcess() {
    pw_buffer* b = pw_stream_dequeue_buffer(pwStream_);
    if (b == nullptr) return;
    spa_data& d = b->buffer->datas[0];
    if (d.data == nullptr) {
      pw_stream_queue_buffer(pwStream_, b);
      return;
    }
    uint32_t frames = d.maxsize / kStride;
    if (b->requested != 0 && b->requested < frames) frames = static_cast<uint32_t>(b->requested);
    {
      std::lock_guard guard(lock_);
      if (stream_.state == StreamState::Run) {
        reader_.read(source_, static_cast<uint8_t*>(d.data), frames * kStride);
      } else {
        fillSilence(stream_, static_cast<uint8_t*>(d.data), frames * kStride);
      }
    }
    d.chunk->offset = 0;
    d.chunk->stride = kStride;
    d.chunk->size = frames * kStride;
    b->size = frames;
    pw_stream_queue_buffer(pwStream_, b);
  }

  FeedRing& ring_;
  std::mutex lock_;  // the stream's state and the reader, between PipeWire's two threads
  FeedStream stream_;
  RingStreamSource source_;
  PacedReader reader_;
  pw_thread_loop* loop_ = nullptr;
  pw_stream* pwStream_ = nullptr;
  std::atomic<bool> alive_{true};
};

}  // namespace

std::unique_ptr<PipeWireSource> PipeWireSource::start(FeedRing& ring, const Options& options,
                                                      std::string* error) {
  auto source = std::make_unique<PipeWireSourceImpl>(ring);
  if (!source->open(options, error)) return nullptr;
  return source;
}

}  // namespace orvaneaudio
