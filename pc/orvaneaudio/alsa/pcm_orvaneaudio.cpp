// The ALSA capture plugin of the virtual microphone, for systems without PipeWire.
//
// Each open PCM is its own stream of the program's ring: it registers with the program
// (which gives it the ring's shared memory and, at each start, its start position),
// produces frames at real-time rate against the monotonic clock, and fills what the
// application reads through a PacedReader. Frames are taken from the ring when the clock
// makes them, into a staging buffer the size of the PCM's buffer, so what a frame holds
// does not depend on when the application gets round to reading it. Its poll descriptor
// is a timer that fires every period. An application that does not read for more than a buffer's worth gets an
// overrun (-EPIPE), as with a sound card.
//
// asoundrc:  pcm.orvaneaudio { type orvaneaudio }

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <algorithm>
#include <new>
#include <vector>

#include "orvaneaudio/alsa_streams.h"
#include "orvaneaudio/feed_ring.h"
#include "orvaneaudio/paced_reader.h"
#include "orvaneaudio/stream_format.h"

namespace orvaneaudio {
namespace {

constexpr size_t kMapBytes = kSharedHeaderBytes + kRingBytes;

uint64_t nowNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

// The shared ring seen from this process: read-only, positions published by the program.
class SharedSource final : public StreamSource {
 public:
  const SharedHeader* header = nullptr;
  const uint8_t* ring = nullptr;
  uint32_t startPosition = 0;
  uint32_t position() override {
    return ringDistance(header->writePosition.load(std::memory_order_acquire), startPosition);
  }
  void copy(uint8_t* destination, uint32_t sourceOffset, uint32_t length) override {
    copyOutOfRing(ring, startPosition, sourceOffset, destination, length);
  }
};

struct Pcm {
  snd_pcm_ioplug_t io{};
  int registry = -1;
  int timer = -1;
  void* map = MAP_FAILED;
  SharedSource source;
  PacedReader reader;
  bool running = false;
  uint64_t startNs = 0;
  uint64_t framesProduced = 0;  // since start
  uint64_t framesTransferred = 0;
  std::vector<uint8_t> staging;  // buffer_size frames, indexed by frame count mod buffer

  ~Pcm() {
    if (timer >= 0) ::close(timer);
    if (registry >= 0) ::close(registry);
    if (map != MAP_FAILED) ::munmap(map, kMapBytes);
  }
};

// Sends one word and reads the answer's words; false when the program is gone.
bool ask(Pcm& p, uint32_t word, uint32_t expect, uint32_t* value) {
  if (::send(p.registry, &word, sizeof word, MSG_NOSIGNAL) != sizeof word) return false;
  uint32_t reply[2] = {};
  ssize_t n;
  do {
    n = ::recv(p.registry, reply, sizeof reply, 0);
  } while (n < 0 && errno == EINTR);
  if (n < static_cast<ssize_t>(sizeof(uint32_t)) || reply[0] != expect) return false;
  if (value != nullptr) {
    if (n < static_cast<ssize_t>(2 * sizeof(uint32_t))) return false;
    *value = reply[1];
  }
  return true;
}

int connectRegistry(Pcm& p) {
  const std::string name = streamRegistryName();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (name.size() + 1 > sizeof(addr.sun_path)) return -ENAMETOOLONG;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  p.registry = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (p.registry < 0) return -errno;
  if (::connect(p.registry, reinterpret_cast<const sockaddr*>(&addr), len) != 0) return -errno;

  uint32_t hello[2] = {};
  iovec iov{hello, sizeof hello};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n;
  do {
    n = ::recvmsg(p.registry, &msg, MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  int memFd = -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) std::memcpy(&memFd, CMSG_DATA(c), sizeof(int));
  }
  if (n != sizeof hello || hello[0] != kRegistryHello || hello[1] != kRingBytes || memFd < 0) {
    if (memFd >= 0) ::close(memFd);
    return -EPROTO;
  }
  p.map = ::mmap(nullptr, kMapBytes, PROT_READ, MAP_SHARED, memFd, 0);
  ::close(memFd);
  if (p.map == MAP_FAILED) return -errno;
  p.source.header = static_cast<const SharedHeader*>(p.map);
  p.source.ring = static_cast<const uint8_t*>(p.map) + kSharedHeaderBytes;
  if (p.source.header->magic != kSharedMagic || p.source.header->version != kSharedVersion ||
      p.source.header->ringBytes != kRingBytes) {
    return -EPROTO;
  }
  return 0;
}

Pcm& pcmOf(snd_pcm_ioplug_t* io) { return *static_cast<Pcm*>(io->private_data); }

void armTimer(Pcm& p, bool on) {
  itimerspec timing{};
  if (on) {
    const uint64_t periodNs = static_cast<uint64_t>(p.io.period_size) * 1'000'000'000u / kSampleRateHz;
    timing.it_interval.tv_sec = static_cast<time_t>(periodNs / 1'000'000'000u);
    timing.it_interval.tv_nsec = static_cast<long>(periodNs % 1'000'000'000u);
    timing.it_value = timing.it_interval;
  }
  ::timerfd_settime(p.timer, 0, &timing, nullptr);
}

// Brings the produced frames up to the clock, taking them from the ring. Frames beyond a
// buffer's worth ahead of the application are an overrun; they are counted, not staged.
void produce(Pcm& p) {
  if (!p.running || p.staging.empty()) return;
  const uint64_t due = (nowNs() - p.startNs) * kSampleRateHz / 1'000'000'000u;
  const uint64_t bufferFrames = p.staging.size() / 2;
  const uint64_t limit = p.framesTransferred + bufferFrames;
  while (p.framesProduced < due && p.framesProduced < limit) {
    const uint64_t at = p.framesProduced % bufferFrames;
    const uint64_t n = std::min({due - p.framesProduced, limit - p.framesProduced, bufferFrames - at});
    p.reader.read(p.source, p.staging.data() + at * 2, static_cast<uint32_t>(n * 2));
    p.framesProduced += n;
  }
  if (due > p.framesProduced) p.framesProduced = due;  // overrun: the pointer reports it
}

int pcmStart(snd_pcm_ioplug_t* io) {
  Pcm& p = pcmOf(io);
  if (p.running && !ask(p, kRegistryPause, kRegistryPaused, nullptr)) return -EIO;
  p.running = false;
  if (!ask(p, kRegistryRun, kRegistryStarted, &p.source.startPosition)) return -EIO;
  p.reader.restart();
  p.startNs = nowNs();
  p.framesProduced = 0;
  p.framesTransferred = 0;
  p.running = true;
  armTimer(p, true);
  return 0;
}

int pcmStop(snd_pcm_ioplug_t* io) {
  Pcm& p = pcmOf(io);
  armTimer(p, false);
  if (p.running) {
    p.running = false;
    if (!ask(p, kRegistryPause, kRegistryPaused, nullptr)) return -EIO;
  }
  return 0;
}

snd_pcm_sframes_t pcmPointer(snd_pcm_ioplug_t* io) {
  Pcm& p = pcmOf(io);
  if (!p.running) return 0;
  produce(p);
  // Frames made but not yet taken by the application: more than the buffer is an overrun.
  if (p.framesProduced - static_cast<uint64_t>(io->appl_ptr) > io->buffer_size) return -EPIPE;
  return static_cast<snd_pcm_sframes_t>(p.framesProduced % io->buffer_size);
}

snd_pcm_sframes_t pcmTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                              snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  Pcm& p = pcmOf(io);
  auto* dst = static_cast<uint8_t*>(areas->addr) + (areas->first + areas->step * offset) / 8;
  produce(p);
  const uint64_t bufferFrames = p.staging.size() / 2;
  if (bufferFrames == 0) return -EBADFD;
  for (snd_pcm_uframes_t done = 0; done < size;) {
    const uint64_t at = p.framesTransferred % bufferFrames;
    const uint64_t n = std::min<uint64_t>(size - done, bufferFrames - at);
    std::memcpy(dst + done * 2, p.staging.data() + at * 2, n * 2);
    done += n;
    p.framesTransferred += n;
  }
  return static_cast<snd_pcm_sframes_t>(size);
}

int pcmPrepare(snd_pcm_ioplug_t* io) {
  Pcm& p = pcmOf(io);
  if (p.running) return pcmStop(io);
  return 0;
}

int pcmHwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*) {
  // The stream is created with the negotiated format, checked like any capture stream.
  WaveFormat w;
  w.channels = static_cast<uint16_t>(io->channels);
  w.samplesPerSec = io->rate;
  w.bitsPerSample = static_cast<uint16_t>(snd_pcm_format_physical_width(io->format));
  w.blockAlign = static_cast<uint16_t>(w.channels * w.bitsPerSample / 8);
  w.avgBytesPerSec = w.samplesPerSec * w.blockAlign;
  if (io->format != SND_PCM_FORMAT_S16_LE || validateDataFormat(makeDataFormat(w)) != kStatusSuccess) {
    return -EINVAL;
  }
  pcmOf(io).staging.assign(io->buffer_size * 2, 0);
  return 0;
}

int pcmPollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds, unsigned short* revents) {
  Pcm& p = pcmOf(io);
  if (nfds != 1 || pfd[0].fd != p.timer) return -EINVAL;
  uint64_t expirations;
  while (::read(p.timer, &expirations, sizeof expirations) > 0) {
  }
  *revents = 0;
  if (p.running) {
    produce(p);
    const uint64_t avail = p.framesProduced - static_cast<uint64_t>(io->appl_ptr);
    if (avail >= io->period_size) *revents = POLLIN;
  }
  return 0;
}

int pcmClose(snd_pcm_ioplug_t* io) {
  Pcm* p = &pcmOf(io);
  delete p;  // closing the registry connection ends the stream in the program
  return 0;
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
  snd_pcm_ioplug_callback_t c{};
  c.start = pcmStart;
  c.stop = pcmStop;
  c.pointer = pcmPointer;
  c.transfer = pcmTransfer;
  c.close = pcmClose;
  c.hw_params = pcmHwParams;
  c.prepare = pcmPrepare;
  c.poll_revents = pcmPollRevents;
  return c;
}();

int setConstraints(snd_pcm_ioplug_t* io) {
  static const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED, SND_PCM_ACCESS_MMAP_INTERLEAVED};
  static const unsigned int formats[] = {SND_PCM_FORMAT_S16_LE};
  int err;
  if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 2, access)) < 0) return err;
  if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, formats)) < 0) return err;
  if ((err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 1)) < 0) return err;
  if ((err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, kSampleRateHz, kSampleRateHz)) < 0) return err;
  if ((err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 32768)) < 0) return err;
  // At most half the ring, so a buffer never spans more than the ring keeps.
  if ((err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 256, kRingBytes / 2)) < 0) return err;
  return snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024);
}

}  // namespace
}  // namespace orvaneaudio

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(orvaneaudio) {
  using namespace orvaneaudio;
  (void)root;
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* n = snd_config_iterator_entry(i);
    const char* id;
    if (snd_config_get_id(n, &id) < 0) continue;
    if (std::strcmp(id, "comment") == 0 || std::strcmp(id, "type") == 0 || std::strcmp(id, "hint") == 0) continue;
    SNDERR("Unknown field %s", id);
    return -EINVAL;
  }
  if (stream != SND_PCM_STREAM_CAPTURE) {
    SNDERR("orvaneaudio is a microphone: capture only");
    return -EINVAL;
  }
  auto* p = new (std::nothrow) Pcm;
  if (p == nullptr) return -ENOMEM;
  int err = connectRegistry(*p);
  if (err < 0) {
    SNDERR("orvaneaudio: the microphone program is not running (%s)", std::strerror(-err));
    delete p;
    return err;
  }
  p->timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (p->timer < 0) {
    err = -errno;
    delete p;
    return err;
  }
  p->io.version = SND_PCM_IOPLUG_VERSION;
  p->io.name = "Vistrel Microphone";
  p->io.poll_fd = p->timer;
  p->io.poll_events = POLLIN;
  p->io.mmap_rw = 0;
  p->io.callback = &kCallbacks;
  p->io.private_data = p;
  err = snd_pcm_ioplug_create(&p->io, name, stream, mode);
  if (err < 0) {
    delete p;
    return err;
  }
  err = setConstraints(&p->io);
  if (err < 0) {
    snd_pcm_ioplug_delete(&p->io);  // calls close, which frees p
    return err;
  }
  *pcmp = p->io.pcm;
  return 0;
}

SND_PCM_PLUGIN_SYMBOL(orvaneaudio)

}  // extern "C"
