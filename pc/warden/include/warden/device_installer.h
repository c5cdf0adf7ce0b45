#pragma once

#include <cstdio>
#include <string>

namespace warden {

// Installing the software-only device of a definition file (device_definition.h) on this
// machine, and removing it again. The pieces, below one root folder (the machine's "/",
// or $VISTREL_DEVICE_ROOT for a staging tree or a test):
//
//   var/lib/vistrel/devices/definitions/NAME/   the store: copies of definition files,
//                                               each with the files it names
//   var/lib/vistrel/devices/nodes/CLASS-NNNN/node   one present device: its instance ID,
//                                               hardware IDs, driver and installed files
//   etc/systemd/user/                           the driver's unit (for every user)
//   etc/alsa/conf.d/                            the driver's ALSA configuration
//   etc/pipewire/pipewire.conf.d/               the driver's PipeWire configuration
//
// A device is present while its node exists; its unit is enabled for every user and
// (re)started in the calling user's session.
struct DeviceLayout {
  std::string storeDirectory;
  std::string unitDirectory;
  std::string alsaDirectory;
  std::string pipeWireDirectory;

  static DeviceLayout under(const std::string& root);
};

// The layout below $VISTREL_DEVICE_ROOT, or below "/" when it is unset.
DeviceLayout deviceLayoutFromEnvironment();

// The units of installed devices, as the session's service manager runs them.
// Threading: one thread.
class DeviceUnits {
 public:
  enum class Restart { kDone, kNoSession, kFailed };
  virtual ~DeviceUnits() = default;
  // Enables the unit for every user's session; false with `error` when refused.
  virtual bool enable(const std::string& unit, std::string& error) = 0;
  virtual void disable(const std::string& unit) = 0;
  // Restarts the device's unit: reload the unit files (result ignored), then restart the
  // unit in the calling user's session. kNoSession when no session manager answers (the
  // device appears when the user's audio session next starts).
  virtual Restart restart(const std::string& unit, std::string& error) = 0;
  // Stops it in the calling user's session, if one answers.
  virtual void stop(const std::string& unit) = 0;
};

// The real units: systemctl --global (with --root for a staging root) and systemctl --user.
class SystemctlDeviceUnits : public DeviceUnits {
 public:
  explicit SystemctlDeviceUnits(std::string root) : root_(std::move(root)) {}
  bool enable(const std::string& unit, std::string& error) override;
  void disable(const std::string& unit) override;
  Restart restart(const std::string& unit, std::string& error) override;
  void stop(const std::string& unit) override;

 private:
  std::string root_;
};

// "warden HARDWARE-ID DEFINITION": install or update. 0 done, 1 done but the audio
// system must be restarted to show it, 2 failed (nothing of this run is left behind).
int installDevice(const DeviceLayout& layout, DeviceUnits& units, const std::string& hardwareId,
                  const std::string& definitionPath, std::FILE* err);

// "warden HARDWARE-ID": removes the first present device with that hardware ID. 0 or 1 as
// above, 2 when none matches or the removal failed.
int removeDevice(const DeviceLayout& layout, DeviceUnits& units, const std::string& hardwareId,
                 std::FILE* err);

}  // namespace warden
