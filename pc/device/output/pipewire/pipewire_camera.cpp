#include "pipewire_camera.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

namespace output {
namespace {

struct FormatPair {
  PixelFormat ours;
  spa_video_format theirs;
};
// The rendered picture's own bytes first: it needs the least work.
constexpr FormatPair kFormats[] = {
    {PixelFormat::kBgr, SPA_VIDEO_FORMAT_BGR},   {PixelFormat::kBgrx, SPA_VIDEO_FORMAT_BGRx},
    {PixelFormat::kRgbx, SPA_VIDEO_FORMAT_RGBx}, {PixelFormat::kRgb, SPA_VIDEO_FORMAT_RGB},
    {PixelFormat::kYuy2, SPA_VIDEO_FORMAT_YUY2}, {PixelFormat::kI420, SPA_VIDEO_FORMAT_I420},
};
constexpr uint32_t kMinWidth = 80, kMinHeight = 60;

const spa_pod* buildEnumFormat(spa_pod_builder* b, spa_video_format format, uint32_t w, uint32_t h) {
  spa_pod_frame object, choice;
  spa_pod_builder_push_object(b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
  spa_pod_builder_prop(b, SPA_FORMAT_mediaType, 0);
  spa_pod_builder_id(b, SPA_MEDIA_TYPE_video);
  spa_pod_builder_prop(b, SPA_FORMAT_mediaSubtype, 0);
  spa_pod_builder_id(b, SPA_MEDIA_SUBTYPE_raw);
  spa_pod_builder_prop(b, SPA_FORMAT_VIDEO_format, 0);
  spa_pod_builder_id(b, format);
  spa_pod_builder_prop(b, SPA_FORMAT_VIDEO_size, 0);
  spa_pod_builder_push_choice(b, &choice, SPA_CHOICE_Range, 0);
  spa_pod_builder_rectangle(b, w, h);
  spa_pod_builder_rectangle(b, kMinWidth, kMinHeight);
  spa_pod_builder_rectangle(b, w, h);
  spa_pod_builder_pop(b, &choice);
  spa_pod_builder_prop(b, SPA_FORMAT_VIDEO_framerate, 0);
  spa_pod_builder_fraction(b, 25, 1);
  return static_cast<const spa_pod*>(spa_pod_builder_pop(b, &object));
}

}  // namespace

PipeWireCamera::PipeWireCamera() = default;

PipeWireCamera::~PipeWireCamera() { stop(); }

void PipeWireCamera::onStateChanged(void* data, int, int state, const char* error) {
  auto* self = static_cast<PipeWireCamera*>(data);
  self->streaming_ = state == PW_STREAM_STATE_STREAMING;
  if (state == PW_STREAM_STATE_ERROR) {
    std::fprintf(stderr, "vistrel-camera: PipeWire stream failed: %s\n", error ? error : "?");
    self->failed_ = true;
  }
}

void PipeWireCamera::onParamChanged(void* data, uint32_t id, const spa_pod* param) {
  static_cast<PipeWireCamera*>(data)->paramChanged(id, param);
}

void PipeWireCamera::paramChanged(uint32_t id, const spa_pod* param) {
  if (id == SPA_PARAM_Props && param != nullptr) propsChanged(param);
  if (id != SPA_PARAM_Format) return;
  if (param == nullptr) {
    negotiated_ = false;
    return;
  }
  spa_video_info_raw info{};
  if (spa_format_video_raw_parse(param, &info) < 0) return;
  const FormatPair* match = nullptr;
  for (const auto& f : kFormats) {
    if (f.theirs == info.format) match = &f;
  }
  const uint32_t w = info.size.width, h = info.size.height;
  if (match == nullptr || w < kMinWidth || h < kMinHeight || w > options_.maxWidth ||
      h > options_.maxHeight) {
    // The offered formats do not allow this; keep the stream up for the next consumer.
    std::fprintf(stderr, "vistrel-camera: refused format %u at %ux%u\n", info.format, w, h);
    negotiated_ = false;
    return;
  }
  negotiated_ = true;
  width_ = w;
  height_ = h;
  format_ = match->ours;
  layout_ = layoutFor(format_, w, h);

  uint8_t buffer[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const spa_pod* params[2];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
      SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(4, 2, 8),
      SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
      SPA_PARAM_BUFFERS_size, SPA_POD_Int(static_cast<int32_t>(layout_.size)),
      SPA_PARAM_BUFFERS_stride, SPA_POD_Int(static_cast<int32_t>(layout_.stride)),
      SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
  params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
      SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
      SPA_PARAM_META_size, SPA_POD_Int(static_cast<int32_t>(sizeof(spa_meta_header)))));
  pw_stream_update_params(stream_, params, 2);
  std::fprintf(stderr, "vistrel-camera: a program asked for %s at %ux%u\n",
               pixelFormatName(format_), w, h);
  std::lock_guard lock(pendingMutex_);
  pending_ = std::make_pair(w, h);
}

bool PipeWireCamera::start(const Options& options, std::string* error) {
  stop();
  options_ = options;
  failed_ = false;
  pw_init(nullptr, nullptr);
  loop_ = pw_thread_loop_new("vistrel-camera", nullptr);
  if (loop_ == nullptr) {
    *error = "cannot make the PipeWire loop";
    return false;
  }
  pw_properties* props = pw_properties_new(
      PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
      PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, options_.nodeName.c_str(),
      PW_KEY_NODE_DESCRIPTION, options_.description.c_str(), nullptr);
  static const pw_stream_events events = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = [](void* data, pw_stream_state old, pw_stream_state state, const char* err) {
      onStateChanged(data, old, state, err);
    };
    e.param_changed = &PipeWireCamera::onParamChanged;
    return e;
  }();
  stream_ = pw_stream_new_simple(pw_thread_loop_get_loop(loop_), options_.nodeName.c_str(), props,
                                 &events, this);
  if (stream_ == nullptr) {
    *error = "cannot make the PipeWire stream";
    stop();
    return false;
  }
  uint8_t buffer[4096];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
  const spa_pod* params[std::size(kFormats)];
  for (size_t i = 0; i < std::size(kFormats); ++i) {
    params[i] = buildEnumFormat(&b, kFormats[i].theirs, options_.maxWidth, options_.maxHeight);
  }
  const int r = pw_stream_connect(
      stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params,
      static_cast<uint32_t>(std::size(kFormats)));
  if (r < 0 || pw_thread_loop_start(loop_) < 0) {
    *error = "cannot connect to PipeWire (is the session's PipeWire running?)";
    stop();
    return false;
  }
  // Wait until the daemon has the node (or refused it).
  for (int i = 0; i < 200; ++i) {
    pw_thread_loop_lock(loop_);
    const char* why = nullptr;
    const pw_stream_state s = pw_stream_get_state(stream_, &why);
    pw_thread_loop_unlock(loop_);
    if (s == PW_STREAM_STATE_ERROR) {
      *error = std::string("PipeWire refused the camera: ") + (why ? why : "no daemon running?");
      stop();
      return false;
    }
    if (s == PW_STREAM_STATE_PAUSED || s == PW_STREAM_STATE_STREAMING) {
      pw_thread_loop_lock(loop_);
      publishControls();  // kept from before a restart
      pw_thread_loop_unlock(loop_);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  *error = "PipeWire did not answer within 2 s";
  stop();
  return false;
}

void PipeWireCamera::stop() {
  if (loop_ != nullptr) pw_thread_loop_stop(loop_);
  if (stream_ != nullptr) pw_stream_destroy(stream_);
  if (loop_ != nullptr) pw_thread_loop_destroy(loop_);
  stream_ = nullptr;
  loop_ = nullptr;
  streaming_ = false;
  negotiated_ = false;
}

std::optional<std::pair<uint32_t, uint32_t>> PipeWireCamera::takeNegotiatedSize() {
  std::lock_guard lock(pendingMutex_);
  auto p = pending_;
  pending_.reset();
  return p;
}

std::optional<PixelFormat> PipeWireCamera::format() const {
  if (loop_ == nullptr) return std::nullopt;
  pw_thread_loop_lock(loop_);
  std::optional<PixelFormat> f;
  if (negotiated_) f = format_;
  pw_thread_loop_unlock(loop_);
  return f;
}

bool PipeWireCamera::publish(const uint8_t* src, uint32_t width, uint32_t height,
                             ReferenceTime time) {
  if (loop_ == nullptr || !streaming_) return false;
  pw_thread_loop_lock(loop_);
  if (!negotiated_ || width != width_ || height != height_) {
    ++stats_.otherSize;
    pw_thread_loop_unlock(loop_);
    return false;
  }
  pw_buffer* b = pw_stream_dequeue_buffer(stream_);
  if (b == nullptr) {
    ++stats_.noBuffer;
    pw_thread_loop_unlock(loop_);
    return false;
  }
  spa_data& d = b->buffer->datas[0];
  const bool fits = d.data != nullptr && d.maxsize >= layout_.size;
  if (fits) convertPicture(src, width, height, format_, static_cast<uint8_t*>(d.data));
  queueBuffer(b, time, fits);
  pw_thread_loop_unlock(loop_);
  return fits;
}

std::optional<decoder::StraightTarget> PipeWireCamera::takeBuffer(uint32_t width, uint32_t height) {
  if (loop_ == nullptr || !streaming_) return std::nullopt;
  pw_thread_loop_lock(loop_);
  const std::optional<decoder::PixelOrder> order = straightOrder(format_);
  pw_buffer* b = nullptr;
  if (taken_ == nullptr && negotiated_ && order && width == width_ && height == height_) {
    b = pw_stream_dequeue_buffer(stream_);
  }
  if (b == nullptr) {
    pw_thread_loop_unlock(loop_);
    return std::nullopt;
  }
  const spa_data& d = b->buffer->datas[0];
  if (d.data == nullptr || d.maxsize < layout_.size) {
    queueBuffer(b, 0, false);
    pw_thread_loop_unlock(loop_);
    return std::nullopt;
  }
  taken_ = b;  // the loop stays locked until sendTaken
  return decoder::StraightTarget{static_cast<uint8_t*>(d.data), layout_.size, layout_.stride, *order};
}

void PipeWireCamera::sendTaken(ReferenceTime time, bool written) {
  if (taken_ == nullptr) return;
  queueBuffer(taken_, time, written);
  taken_ = nullptr;
  pw_thread_loop_unlock(loop_);
}

void PipeWireCamera::queueBuffer(pw_buffer* b, ReferenceTime time, bool written) {
  spa_buffer* buf = b->buffer;
  spa_data& d = buf->datas[0];
  if (written) {
    d.chunk->offset = 0;
    d.chunk->stride = static_cast<int32_t>(layout_.stride);
    d.chunk->size = static_cast<uint32_t>(layout_.size);
    if (auto* h = static_cast<spa_meta_header*>(
            spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)))) {
      h->flags = 0;
      h->offset = 0;
      h->pts = time * 100;  // 100-ns units to nanoseconds
      h->dts_offset = 0;
      h->seq = sequence_++;
    }
    ++stats_.sent;
  } else {
    d.chunk->size = 0;
  }
  pw_stream_queue_buffer(stream_, b);
  pw_stream_trigger_process(stream_);
}

PipeWireCamera::Stats PipeWireCamera::stats() const {
  if (loop_ == nullptr) return stats_;
  pw_thread_loop_lock(loop_);
  Stats s = stats_;
  pw_thread_loop_unlock(loop_);
  return s;
}

}  // namespace output
