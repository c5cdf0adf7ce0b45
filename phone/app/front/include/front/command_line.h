#pragma once

// The device program's command line: its own options (settings, start, front choice)
// and the rest, which goes to the current target's Command as before ("-p2047").
// Options of the GNU form ("--name") that the program does not know are refused; the
// rest keeps the target's lenient reading.

#include <string>
#include <string_view>
#include <vector>

namespace front {

struct SettingChange {
  enum class Kind { kSet, kEnable, kDisable, kTarget };
  Kind kind = Kind::kSet;
  std::string text;  // "Source/Name=value", or a source's or target's name
};

struct CommandLine {
  bool help = false;
  bool list = false;   // --settings
  bool start = false;  // --start
  bool quiet = false;  // -q, --quiet
  bool window = false;
  bool headless = false;
  std::vector<SettingChange> changes;
  std::vector<std::string> rest;  // for the target's Command

  // Only settings to change or show: the program does its work and ends (unless it is
  // also asked to capture).
  bool settingsOnly() const;
};

// False with `error` set for an unknown "--" option or one without its value.
bool parseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

// Joins arguments into one text (quoting those with blanks or quotes) and splits such a
// text again; an unquoted text splits at blanks.
std::string joinArguments(const std::vector<std::string>& args);
std::vector<std::string> splitArguments(std::string_view text);

}  // namespace front
