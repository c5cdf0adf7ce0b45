// rapi_local.so: the device is this machine; scripts run under /bin/sh. Meant for tests
// and for a PC that is its own camera. VISTREL_LOCAL_DEVICE_KEY_STORE, when set, is the
// settings file of that device program (its VISTREL_KEY_STORE).
#include <cstdlib>
#include <string>
#include <vector>

#include "linux/remote_device.h"

namespace launcher::remote {
namespace {

class LocalTransport final : public Transport {
 public:
  bool configure(std::string&, int32_t&) override {
    const char* store = std::getenv("VISTREL_LOCAL_DEVICE_KEY_STORE");
    prefix_ = store != nullptr && *store != 0
                  ? "VISTREL_KEY_STORE=" + shellQuote(store) + "; export VISTREL_KEY_STORE; "
                  : std::string();
    return true;
  }
  std::vector<std::string> command(const std::string& script) const override {
    return {"/bin/sh", "-c", prefix_ + script};
  }
  int32_t classify(int status, const std::string&, std::string& reason) const override {
    if (status != -1) return kRapiOk;
    reason = "the shell did not finish";
    return kRapiFailed;
  }

 private:
  std::string prefix_;
};

}  // namespace

Transport& moduleTransport() {
  // Never destroyed, as the module's state (remote_device.cpp).
  static LocalTransport* const transport = new LocalTransport;
  return *transport;
}

}  // namespace launcher::remote
