#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace warden {

// A device definition file: what a software-only device needs to become present on this
// machine (its counterpart on the original platform is the driver's INF). A text file of
// sections and "Key = Value" lines; '#' or ';' start a comment line:
//
//   [Definition]
//   Format = 1
//   Class = AudioInput                 device class: letters, digits, '_'
//   Provider = Orvane                  optional
//
//   [Driver orvaneaudio]               one section per driver, in the order they are tried
//   Description = Vistrel Microphone
//   HardwareId = ROOT\OrvaneAudio      one or more; compared without regard to case
//   CompatibleId = ...                 none or more
//   Unit = orvaneaudio.service         the systemd user unit that runs the device
//   UnitFile = orvaneaudio.service     optional: the unit's file, installed for all users
//   AlsaFile = 50-orvaneaudio.conf     optional: installed into ALSA's configuration folder
//   PipeWireFile = 50-x.conf           optional: installed into PipeWire's; the audio
//                                      system must then be restarted to see it
//
// File names are plain names of files beside the definition file.
struct DriverEntry {
  std::string name;
  std::string description;
  std::vector<std::string> hardwareIds;
  std::vector<std::string> compatibleIds;
  std::string unit;
  std::string unitFile;
  std::string alsaFile;
  std::string pipeWireFile;

  // Every file the driver brings, beside its definition.
  std::vector<std::string> files() const;
  // True when `id` is one of its hardware or compatible IDs.
  bool matches(std::string_view id) const;
};

struct DeviceDefinition {
  std::string className;
  std::string provider;
  std::vector<DriverEntry> drivers;
};

// Parses a definition. False with `error` ("line N: ...") when it is malformed.
bool parseDeviceDefinition(std::string_view text, DeviceDefinition& definition, std::string& error);

// Hardware IDs compare without regard to (ASCII) case.
bool sameDeviceId(std::string_view a, std::string_view b);

// A plain file name: letters, digits and ._@+- , not starting with '.'.
bool isPlainFileName(std::string_view name);

}  // namespace warden
