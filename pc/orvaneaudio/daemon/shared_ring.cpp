#include "shared_ring.h"

#include "platform/local_peer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <cstring>
#include <new>

namespace orvaneaudio {
namespace {

constexpr size_t kMapBytes = kSharedHeaderBytes + kRingBytes;
constexpr size_t kMaxStreams = 64;

bool sendWords(int fd, const uint32_t* words, size_t count, int passFd = -1) {
  iovec iov{const_cast<uint32_t*>(words), count * sizeof(uint32_t)};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  if (passFd >= 0) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
  }
  return ::sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(iov.iov_len);
}

}  // namespace

std::unique_ptr<SharedRing> SharedRing::create(std::string* error) {
  const int fd = ::memfd_create("orvaneaudio-ring", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0 || ::ftruncate(fd, kMapBytes) != 0) {
    if (error) *error = std::string("memory file: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  // Readers may map it, never grow or shrink it.
  ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL);
  void* p = ::mmap(nullptr, kMapBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    if (error) *error = std::string("mmap: ") + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  auto* header = new (p) SharedHeader{kSharedMagic, kSharedVersion, kRingBytes, 0, {0}};
  (void)header;
  return std::unique_ptr<SharedRing>(new SharedRing(fd, static_cast<uint8_t*>(p)));
}

SharedRing::~SharedRing() {
  stop();
  ::munmap(base_, kMapBytes);
  ::close(memFd_);
}

void SharedRing::stop() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
    (void)ignored;
    thread_.join();
  }
  for (Client& c : clients_) {
    if (c.stream->state == StreamState::Run) feed_->setStreamState(*c.stream, StreamState::Pause);
    ::close(c.fd);
  }
  clients_.clear();
  count_.store(0);
  if (listenFd_ >= 0) ::close(listenFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
  listenFd_ = wakeFd_ = -1;
}

void SharedRing::publish(const FeedRing& ring) {
  // Read and store under one lock, so that positions are published in write order.
  std::lock_guard guard(publishLock_);
  reinterpret_cast<SharedHeader*>(base_)->writePosition.store(ring.writePosition(),
                                                              std::memory_order_release);
}

size_t SharedRing::streamCount() const { return count_.load(); }

bool SharedRing::serve(FeedRing& ring, std::string* error) {
  feed_ = &ring;
  const std::string name = streamRegistryName();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (name.size() + 1 > sizeof(addr.sun_path)) {
    if (error) *error = "registry name too long";
    return false;
  }
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  listenFd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&addr), len) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    if (error) *error = "stream registry @" + name + ": " + std::strerror(errno);
    return false;
  }
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { run(); });
  return true;
}

void SharedRing::run() {
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    fds.push_back({listenFd_, static_cast<short>(clients_.size() < kMaxStreams ? POLLIN : 0), 0});
    for (const Client& c : clients_) fds.push_back({c.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    if (fds[1].revents & POLLIN) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      // Only this user's (or root's) recorders get the ring: another user may not listen in.
      if (fd >= 0 && !platform::localPeerTrusted(fd)) {
        ::close(fd);
      } else if (fd >= 0) {
        const uint32_t hello[2] = {kRegistryHello, kRingBytes};
        if (sendWords(fd, hello, 2, memFd_)) {
          clients_.push_back(Client{fd, std::make_unique<FeedStream>()});
        } else {
          ::close(fd);
        }
      }
    }
    for (size_t i = 0; i + 2 < fds.size(); ++i) {
      if (fds[i + 2].revents == 0) continue;
      Client& c = clients_[i];
      uint32_t word[4] = {};
      const ssize_t n = ::recv(c.fd, word, sizeof word, MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      bool keep = n == static_cast<ssize_t>(sizeof(uint32_t));
      if (keep && word[0] == kRegistryRun) {
        if (c.stream->state != StreamState::Run) {
          feed_->setStreamState(*c.stream, StreamState::Pause);
          feed_->setStreamState(*c.stream, StreamState::Run);
        }
        const uint32_t reply[2] = {kRegistryStarted, c.stream->startPosition};
        keep = sendWords(c.fd, reply, 2);
      } else if (keep && word[0] == kRegistryPause) {
        feed_->setStreamState(*c.stream, StreamState::Pause);
        const uint32_t reply[1] = {kRegistryPaused};
        keep = sendWords(c.fd, reply, 1);
      } else {
        keep = false;  // disconnected, or not speaking the registry's words
      }
      if (!keep) {
        if (c.stream->state == StreamState::Run) feed_->setStreamState(*c.stream, StreamState::Pause);
        feed_->setStreamState(*c.stream, StreamState::Stop);
        ::close(c.fd);
        c.fd = -1;
      }
    }
    std::erase_if(clients_, [](const Client& c) { return c.fd < 0; });
    count_.store(clients_.size());
  }
}

}  // namespace orvaneaudio
