// The camera node's controls: the phone's camera properties as PropInfo/Props params,
// and the values programs set through Props.
#include <pipewire/pipewire.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>
#include <spa/pod/iter.h>
#include <spa/pod/parser.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "pipewire_camera.h"

namespace output {
namespace {

// A program may set Props faster than the host takes the values: the oldest are kept.
constexpr size_t kMaxChosenWaiting = 256;

int32_t podInt(uint32_t v) {
  return static_cast<int32_t>(std::min<uint32_t>(v, std::numeric_limits<int32_t>::max()));
}

void buildPropInfo(spa_pod_builder* b, const CameraControl& c) {
  spa_pod_frame object, choice;
  spa_pod_builder_push_object(b, &object, SPA_TYPE_OBJECT_PropInfo, SPA_PARAM_PropInfo);
  spa_pod_builder_prop(b, SPA_PROP_INFO_name, 0);
  spa_pod_builder_string(b, c.name.c_str());
  spa_pod_builder_prop(b, SPA_PROP_INFO_description, 0);
  spa_pod_builder_string(b, c.name.c_str());
  spa_pod_builder_prop(b, SPA_PROP_INFO_type, 0);
  if (c.range) {
    spa_pod_builder_push_choice(b, &choice, SPA_CHOICE_Step, 0);
    spa_pod_builder_int(b, podInt(c.current));
    spa_pod_builder_int(b, 0);
    spa_pod_builder_int(b, podInt(c.count - 1));
    spa_pod_builder_int(b, 1);
    spa_pod_builder_pop(b, &choice);
  } else {
    spa_pod_builder_push_choice(b, &choice, SPA_CHOICE_Enum, 0);
    spa_pod_builder_int(b, podInt(c.current));
    for (const auto& v : c.values) spa_pod_builder_int(b, podInt(v.first));
    spa_pod_builder_pop(b, &choice);
    spa_pod_frame labels;
    spa_pod_builder_prop(b, SPA_PROP_INFO_labels, 0);
    spa_pod_builder_push_struct(b, &labels);
    for (const auto& v : c.values) {
      spa_pod_builder_int(b, podInt(v.first));
      spa_pod_builder_string(b, v.second.c_str());
    }
    spa_pod_builder_pop(b, &labels);
  }
  // A free-form control: it travels as a name/value pair in Props' "params".
  spa_pod_builder_prop(b, SPA_PROP_INFO_params, 0);
  spa_pod_builder_bool(b, true);
  spa_pod_builder_pop(b, &object);
}

// A number a program gave as a control's value, whatever its pod type.
std::optional<int64_t> podNumber(const spa_pod* value) {
  int32_t i = 0;
  int64_t l = 0;
  float f = 0;
  double d = 0;
  bool flag = false;
  if (spa_pod_get_int(value, &i) == 0) return i;
  if (spa_pod_get_long(value, &l) == 0) return l;
  if (spa_pod_get_bool(value, &flag) == 0) return flag ? 1 : 0;
  if (spa_pod_get_float(value, &f) == 0) {
    d = f;
  } else if (spa_pod_get_double(value, &d) != 0) {
    return std::nullopt;
  }
  // Rounded to the nearest index; what cannot be one is refused.
  if (!std::isfinite(d) || std::fabs(d) > 1e15) return std::nullopt;
  return std::llround(d);
}

}  // namespace

void PipeWireCamera::setControls(std::vector<CameraControl> controls) {
  if (loop_ == nullptr) {
    controls_ = std::move(controls);
    return;
  }
  pw_thread_loop_lock(loop_);
  controls_ = std::move(controls);
  publishControls();
  pw_thread_loop_unlock(loop_);
}

std::vector<std::pair<uint32_t, uint32_t>> PipeWireCamera::takeChosenValues() {
  std::lock_guard lock(pendingMutex_);
  return std::exchange(chosen_, {});
}

void PipeWireCamera::publishControls() {
  if (stream_ == nullptr) return;
  size_t bytes = 1024;
  for (const CameraControl& c : controls_) bytes += paramBytes(c);
  std::vector<uint8_t> buffer(bytes);
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer.data(), static_cast<uint32_t>(buffer.size()));
  std::vector<uint32_t> offsets;
  for (const CameraControl& c : controls_) {
    offsets.push_back(b.state.offset);
    buildPropInfo(&b, c);
  }
  if (controls_.empty() && infoShown_) {
    // PipeWire replaces the params of the kinds an update holds, so an update without a
    // PropInfo would leave the last controls listed: one without a name or type (which
    // programs skip, as they name no control) takes their place.
    offsets.push_back(b.state.offset);
    spa_pod_frame empty;
    spa_pod_builder_push_object(&b, &empty, SPA_TYPE_OBJECT_PropInfo, SPA_PARAM_PropInfo);
    spa_pod_builder_pop(&b, &empty);
  }
  infoShown_ = infoShown_ || !controls_.empty();
  offsets.push_back(b.state.offset);
  spa_pod_frame props, pairs;
  spa_pod_builder_push_object(&b, &props, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
  spa_pod_builder_prop(&b, SPA_PROP_params, 0);
  spa_pod_builder_push_struct(&b, &pairs);
  for (const CameraControl& c : controls_) {
    spa_pod_builder_string(&b, c.name.c_str());
    spa_pod_builder_int(&b, podInt(c.current));
  }
  spa_pod_builder_pop(&b, &pairs);
  spa_pod_builder_pop(&b, &props);
  if (b.state.offset > b.size) {
    std::fprintf(stderr, "vistrel-camera: the phone's controls do not fit; not published\n");
    return;
  }
  std::vector<const spa_pod*> params;
  for (uint32_t offset : offsets) params.push_back(static_cast<const spa_pod*>(spa_pod_builder_deref(&b, offset)));
  pw_stream_update_params(stream_, params.data(), static_cast<uint32_t>(params.size()));
}

void PipeWireCamera::propsChanged(const spa_pod* param) {
  const spa_pod_prop* prop = spa_pod_find_prop(param, nullptr, SPA_PROP_params);
  if (prop == nullptr || !spa_pod_is_struct(&prop->value)) return;
  spa_pod_parser parser;
  spa_pod_frame frame;
  spa_pod_parser_pod(&parser, &prop->value);
  if (spa_pod_parser_push_struct(&parser, &frame) < 0) return;
  while (true) {
    const char* name = nullptr;
    spa_pod* value = nullptr;
    if (spa_pod_parser_get_string(&parser, &name) < 0 || spa_pod_parser_get_pod(&parser, &value) < 0) break;
    const std::optional<int64_t> number = podNumber(value);
    const auto chosen = number ? chooseControl(controls_, name, *number) : std::nullopt;
    if (!chosen) {
      std::fprintf(stderr, "vistrel-camera: no control \"%.128s\" with that value; nothing sent\n", name);
      continue;
    }
    std::lock_guard lock(pendingMutex_);
    if (chosen_.size() < kMaxChosenWaiting) chosen_.push_back(*chosen);
  }
}

}  // namespace output
