// rapi.so: reaches the device over ssh. Its settings are the PC's, under
// Software\Orvane\Vistrel\RemoteDevice: "Host" (none: no device is set up), "User",
// "Port", "IdentityFile", "KnownHostsFile" and "SshOptions" (more ssh options, separated
// by blanks). ssh runs without prompts: a key it cannot use or a host key it does not
// know ends the attempt with ssh's own reason.
#include <string>
#include <vector>

#include "linux/remote_device.h"
#include "platform/byte_order.h"
#include "platform/key_store.h"
#include "platform/utf16.h"

namespace launcher::remote {
namespace {

constexpr char16_t kSettingsKey[] = u"Software\\Orvane\\Vistrel\\RemoteDevice";

std::string readText(const platform::RegistryKey& key, std::u16string_view name) {
  platform::RegistryValue v;
  if (!key.queryValue(name, v) || (v.type != platform::kRegSz && v.type != platform::kRegExpandSz)) return {};
  std::u16string text;
  for (size_t i = 0; i + 1 < v.data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return platform::utf16ToUtf8Lossy(text);
}

uint32_t readNumber(const platform::RegistryKey& key, std::u16string_view name) {
  platform::RegistryValue v;
  if (!key.queryValue(name, v) || v.type != platform::kRegDword || v.data.size() != 4) return 0;
  return platform::load32(v.data.data());
}

bool contains(const std::string& text, const char* what) { return text.find(what) != std::string::npos; }

class SshTransport final : public Transport {
 public:
  bool configure(std::string& reason, int32_t& code) override {
    std::unique_ptr<platform::RegistryKey> key = platform::KeyStore::machine().openKey(kSettingsKey);
    host_ = key ? readText(*key, u"Host") : std::string();
    if (host_.empty()) {
      reason = "no \"Host\" under Software\\Orvane\\Vistrel\\RemoteDevice";
      code = kRapiNotConfigured;
      return false;
    }
    options_.clear();
    const uint32_t port = readNumber(*key, u"Port");
    if (port > 65535) {
      reason = "\"Port\" " + std::to_string(port) + " is not a port";
      code = kRapiNotConfigured;
      return false;
    }
    if (port != 0) options_.insert(options_.end(), {"-p", std::to_string(port)});
    if (const std::string user = readText(*key, u"User"); !user.empty()) options_.insert(options_.end(), {"-l", user});
    if (const std::string id = readText(*key, u"IdentityFile"); !id.empty())
      options_.insert(options_.end(), {"-i", id, "-o", "IdentitiesOnly=yes"});
    if (const std::string known = readText(*key, u"KnownHostsFile"); !known.empty())
      options_.insert(options_.end(), {"-o", "UserKnownHostsFile=" + known});
    const std::string more = readText(*key, u"SshOptions");
    for (size_t i = 0; i < more.size();) {
      const size_t start = more.find_first_not_of(" \t", i);
      if (start == std::string::npos) break;
      const size_t stop = more.find_first_of(" \t", start);
      options_.push_back(more.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
      i = stop == std::string::npos ? more.size() : stop;
    }
    return true;
  }

  std::vector<std::string> command(const std::string& script) const override {
    std::vector<std::string> argv = {"ssh", "-T", "-o", "BatchMode=yes", "-o", "ConnectTimeout=4"};
    argv.insert(argv.end(), options_.begin(), options_.end());
    argv.insert(argv.end(), {"--", host_, "sh -c " + shellQuote(script)});
    return argv;
  }

  int32_t classify(int status, const std::string& errorText, std::string& reason) const override {
    if (status == -1) {
      reason = "ssh to " + host_ + " did not finish";
      return kRapiUnreachable;
    }
    if (status != 255) return kRapiOk;
    reason = lastLine(errorText);
    if (reason.rfind("ssh:", 0) != 0) reason = "ssh: " + reason;
    if (contains(errorText, "Permission denied") || contains(errorText, "Too many authentication failures"))
      return kRapiRefused;
    if (contains(errorText, "Host key verification failed") || contains(errorText, "REMOTE HOST IDENTIFICATION")) {
      reason += "; the device's host key must be in the known hosts file";
      return kRapiFailed;
    }
    return kRapiUnreachable;
  }

 private:
  std::string host_;
  std::vector<std::string> options_;
};

}  // namespace

Transport& moduleTransport() {
  // Never destroyed, as the module's state (remote_device.cpp).
  static SshTransport* const transport = new SshTransport;
  return *transport;
}

}  // namespace launcher::remote
