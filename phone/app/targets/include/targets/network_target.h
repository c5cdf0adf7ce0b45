#pragma once

// The link to the PC: the delivery target "Network". While capture runs its sending
// thread keeps one TCP connection to the PC's frame server, sends every fetched frame as
// one message with the header written into the 32 bytes in front of the frame data,
// sends the property list and queued value reports first, keeps the link alive with
// four zero bytes, reads the PC's commands and reconnects on its own.
//
// Threading: the operations run on the window thread; the sending thread shares the
// link state (owned jointly, so that a thread abandoned by Stop never touches freed
// memory). Only the sending thread touches the socket: Command and IsAlive ask it to
// drop the connection instead of closing the socket under it.
//
// Method names follow the delivery-target interface the device program's modules share;
// they keep its spelling.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "settings/settings_store.h"
#include "targets/command_reader.h"
#include "targets/connecting_dialog.h"
#include "targets/control_queue.h"
#include "targets/delivery_target.h"

namespace targets {

inline constexpr uint32_t kDefaultRemotePort = 2047;
inline constexpr uint32_t kDefaultRemoteTimeout = 5;  // units of 1024 ms
// Used when "RemoteIP" is empty: the PC's side of a common USB network link.
inline constexpr const char16_t* kDefaultRemoteIp = u"192.168.7.1";
// The name under which the device reaches the PC it is docked to, unless the "Network"
// key's "PartnerHostName" names another.
inline constexpr const char* kDefaultPartnerHostName = "localhost";

inline constexpr uint32_t kConnectTimeoutMs = 4096;
inline constexpr uint32_t kGreetingTimeoutMs = 2048;
inline constexpr uint32_t kKeepAliveMs = 2048;
inline constexpr uint32_t kRetryDelayMs = 512;
inline constexpr uint32_t kFrameWaitMs = 200;
inline constexpr uint32_t kStopWaitMs = 4096;
inline constexpr uint32_t kStopGraceMs = 1024;
inline constexpr size_t kListBufferSize = 16384;

// Looks a host name up: the first IPv4 address in network order, or 0. Any thread.
class HostResolver {
 public:
  virtual ~HostResolver() = default;
  virtual uint32_t lookup(const std::string& name) = 0;
};
// The system resolver.
std::shared_ptr<HostResolver> systemResolver();

// A dotted IPv4 address in network order; 0 when `text` is not one.
uint32_t parseDottedAddress(const std::string& text);

// The PC's address: the lookup's answer unless it failed or gave 0 or 255.255.255.255,
// else `name` read as a dotted address, else 0.
uint32_t resolveHost(HostResolver& resolver, const std::string& name);

// The "-p" command: the number after the first "-" that is directly followed by "p"
// (blanks after "-p" skipped, the number running to the next blank or the end). Zero
// when there is no such number, it is empty, longer than 15 characters or converts to 0.
// The value is returned whole: bit 16 is the reconnect flag, the low 16 bits the port.
uint32_t parsePortCommand(const char16_t* text);

// The low byte of every character, up to the first character whose low byte is zero.
std::string narrowHostName(std::u16string_view text);

class NetworkTarget final : public DeliveryTarget {
 public:
  struct Options {
    std::shared_ptr<HostResolver> resolver;  // default: the system resolver
    platform::Clock* clock = nullptr;        // default: the system clock; must outlive the target
    ConnectingHost* connecting = nullptr;    // null: IsAlive answers true while linking
    // The current language's texts: labels of choices that carry a text id.
    std::function<const char16_t*(uint32_t textId)> text;
    // Runs the settings dialog (600) modally over `owner`; its result. Null: no dialog.
    std::function<int(NetworkTarget& target, void* owner)> runSettings;
  };

  NetworkTarget(const settings::SettingsStore& store, Options options);
  ~NetworkTarget() override;

  bool Prepare() override;
  bool Start(const TargetStartParams& params) override;
  void Stop() override;
  void Release() override;
  const char16_t* Name() override { return u"Network"; }
  int ShowSettings(void* owner) override {
    return options_.runSettings ? options_.runSettings(*this, owner) : 0;
  }
  bool IsAlive() override;
  bool SettingChanged(const settings::SourceSetting* setting) override;
  bool PublishSettings(const settings::SourceSetting* first) override;
  bool Command(const char16_t* text, uint32_t number) override;
  bool IsSending() override;
  bool AcceptsKind(sources::SourceKind) override { return true; }

  // Settings as loaded (and as the settings dialog edits them).
  uint32_t remotePort = kDefaultRemotePort;
  uint32_t remoteIpAuto = 1;
  uint32_t remoteTimeout = kDefaultRemoteTimeout;
  std::u16string remoteIp;
  std::string partnerHostName = kDefaultPartnerHostName;

  int32_t portOverride() const;
  bool linkUp() const;
  // Pictures taken from the sources and dropped because the link was still busy with
  // earlier bytes (so that the next one sent is fresh); counted over the whole run.
  uint64_t framesDropped() const;
  uint64_t bytesDropped() const;
  bool threadRunning() const { return thread_ && thread_->running(); }
  ConnectingDialog& connectingDialog() { return dialog_; }
  // The host name the next resolution uses.
  std::string hostName() const;

  struct Link;  // state shared with the sending thread

 private:
  int ShowConnecting();
  void requestDrop();

  const settings::SettingsStore& store_;
  Options options_;
  platform::Clock& clock_;
  std::shared_ptr<Link> link_;
  std::unique_ptr<platform::Thread> thread_;
  ConnectingDialog dialog_;
  bool dialogOpening_ = false;
};

}  // namespace targets
