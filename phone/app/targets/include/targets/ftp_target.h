#pragma once

// The FTP uploader: the delivery target "FTP". While capture runs its worker logs in to
// an FTP server (or keeps the live control connection), takes one finished picture,
// stores it under a fixed name, directly or through "wcp.tmp" and a rename, and waits
// "Interval" seconds before the next one, so that the server always holds a recent
// picture under the same name.
//
// Threading: the operations run on the window thread; the worker shares its state with
// the target (jointly owned, so that a worker abandoned by Stop never touches freed
// memory). The worker calls the fetch function, the error report and, with "Power safe",
// the source switches of Options.
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
#include "platform/thread.h"
#include "settings/settings_store.h"
#include "targets/delivery_target.h"
#include "targets/ftp_client.h"
#include "targets/network_target.h"

namespace targets {

inline constexpr uint32_t kDefaultFtpPort = 21;
inline constexpr uint32_t kDefaultFtpInterval = 20;  // seconds
inline constexpr size_t kFtpStringChars = 128;       // including the terminating zero
inline constexpr const char16_t* kDefaultFtpServer = u"192.168.7.1";
inline constexpr const char16_t* kDefaultFtpLogin = u"anonymous";
inline constexpr const char16_t* kDefaultFtpDirectory = u"./upload";
inline constexpr const char16_t* kDefaultFtpFileName = u"webcam.jpg";
inline constexpr const char16_t* kDefaultFtpFileNameHtml = u"webcam.html";
inline constexpr const char16_t* kFtpErrorCaption = u"Error";

// Whether one of the machine's own addresses (network order) reaches beyond the device:
// a first octet other than 127, 169, 192 and 255.
bool hasUsableNetwork(const std::vector<uint32_t>& addresses);

class FtpTarget final : public DeliveryTarget {
 public:
  struct Options {
    std::shared_ptr<HostResolver> resolver;  // default: the system resolver
    platform::Clock* clock = nullptr;        // default: the system clock; must outlive the target
    // The machine's own addresses for the network test; default: platform::hostAddresses.
    std::function<std::vector<uint32_t>()> hostAddresses;
    // The error box (text, caption "Error"), shown by the worker before it ends.
    std::function<void(const std::u16string& text, const std::u16string& caption)> showError;
    // "Power safe": stop the capture sources for the interval, and start them again
    // (first in preview, then in capture mode). Called on the worker thread.
    std::function<void()> sourcesOff;
    std::function<void()> sourcesOn;
    // Runs the settings dialog (604) modally over `owner`; its result. Null: no dialog.
    std::function<int(FtpTarget& target, void* owner)> runSettings;
  };

  FtpTarget(const settings::SettingsStore& store, Options options);
  ~FtpTarget() override;

  bool Prepare() override;
  bool Start(const TargetStartParams& params) override;
  void Stop() override;
  void Release() override;
  const char16_t* Name() override { return u"FTP"; }
  int ShowSettings(void* owner) override {
    return options_.runSettings ? options_.runSettings(*this, owner) : 0;
  }
  bool IsAlive() override;
  bool AcceptsKind(sources::SourceKind kind) override { return kind != sources::SourceKind::kSound; }

  // Settings as loaded (and as the settings dialog edits them).
  std::u16string server;
  uint32_t port = kDefaultFtpPort;
  std::u16string login;
  std::u16string password;
  std::u16string directory;
  uint32_t passiveMode = 1;
  std::u16string fileName;
  std::u16string fileNameHtml;
  uint32_t interval = kDefaultFtpInterval;
  uint32_t uploadHtml = 1;
  uint32_t useTempFile = 0;
  uint32_t ignoreErrors = 0;
  uint32_t powerSafe = 0;

  // The last message of the worker; empty when none.
  std::u16string errorText() const;
  bool workerRunning() const { return thread_ && thread_->running(); }
  // Whether the last network test found a usable address.
  bool networkUsable() const { return networkUsable_; }
  // Runs the network test (Prepare does).
  bool EnsureNetwork();

  struct Worker;  // state shared with the worker thread

 private:
  const settings::SettingsStore& store_;
  Options options_;
  platform::Clock& clock_;
  std::shared_ptr<Worker> worker_;
  std::unique_ptr<platform::Thread> thread_;
  bool networkUsable_ = false;
};

}  // namespace targets
