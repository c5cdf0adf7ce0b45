#include "warden/device_definition.h"

#include <cctype>

namespace warden {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool lowerEquals(std::string_view a, std::string_view b) { return sameDeviceId(a, b); }

}  // namespace

bool sameDeviceId(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool isPlainFileName(std::string_view name) {
  if (name.empty() || name.front() == '.' || name.size() > 200) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '@' &&
        c != '+' && c != '-') {
      return false;
    }
  }
  return true;
}

std::vector<std::string> DriverEntry::files() const {
  std::vector<std::string> out;
  for (const std::string* f : {&unitFile, &alsaFile, &pipeWireFile}) {
    if (!f->empty()) out.push_back(*f);
  }
  return out;
}

bool DriverEntry::matches(std::string_view id) const {
  for (const auto* list : {&hardwareIds, &compatibleIds}) {
    for (const std::string& h : *list) {
      if (sameDeviceId(h, id)) return true;
    }
  }
  return false;
}

bool parseDeviceDefinition(std::string_view text, DeviceDefinition& definition, std::string& error) {
  definition = DeviceDefinition{};
  enum class Section { kNone, kDefinition, kDriver } section = Section::kNone;
  bool sawDefinition = false, sawFormat = false;
  size_t lineNumber = 0;
  auto fail = [&](const std::string& what) {
    error = "line " + std::to_string(lineNumber) + ": " + what;
    return false;
  };
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return fail("a section header must end in ]");
      const std::string_view name = trim(line.substr(1, line.size() - 2));
      if (lowerEquals(name, "Definition")) {
        if (sawDefinition) return fail("a second [Definition] section");
        sawDefinition = true;
        section = Section::kDefinition;
      } else if (name.size() > 7 && lowerEquals(name.substr(0, 7), "Driver ")) {
        DriverEntry d;
        d.name = std::string(trim(name.substr(7)));
        if (!isPlainFileName(d.name)) return fail("a driver needs a plain name");
        for (const DriverEntry& other : definition.drivers) {
          if (sameDeviceId(other.name, d.name)) return fail("driver " + d.name + " is defined twice");
        }
        definition.drivers.push_back(d);
        section = Section::kDriver;
      } else {
        return fail("unknown section [" + std::string(name) + "]");
      }
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected Key = Value");
    const std::string_view key = trim(line.substr(0, eq));
    const std::string value(trim(line.substr(eq + 1)));
    if (value.empty()) return fail(std::string(key) + " has no value");
    if (section == Section::kDefinition) {
      if (lowerEquals(key, "Format")) {
        if (value != "1") return fail("format " + value + " is not known (this program reads 1)");
        sawFormat = true;
      } else if (lowerEquals(key, "Class")) {
        if (!definition.className.empty()) return fail("a second Class");
        for (char c : value) {
          if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return fail("a class name is letters, digits and _");
        }
        definition.className = value;
      } else if (lowerEquals(key, "Provider")) {
        definition.provider = value;
      } else {
        return fail("unknown key " + std::string(key) + " in [Definition]");
      }
    } else if (section == Section::kDriver) {
      DriverEntry& d = definition.drivers.back();
      auto single = [&](std::string& field, bool fileName) {
        if (!field.empty()) return fail("a second " + std::string(key));
        if (fileName && !isPlainFileName(value)) return fail(std::string(key) + " must be a plain file name");
        field = value;
        return true;
      };
      bool ok = true;
      if (lowerEquals(key, "Description")) ok = single(d.description, false);
      else if (lowerEquals(key, "HardwareId")) d.hardwareIds.push_back(value);
      else if (lowerEquals(key, "CompatibleId")) d.compatibleIds.push_back(value);
      else if (lowerEquals(key, "Unit")) ok = single(d.unit, true);
      else if (lowerEquals(key, "UnitFile")) ok = single(d.unitFile, true);
      else if (lowerEquals(key, "AlsaFile")) ok = single(d.alsaFile, true);
      else if (lowerEquals(key, "PipeWireFile")) ok = single(d.pipeWireFile, true);
      else return fail("unknown key " + std::string(key) + " in [Driver " + d.name + "]");
      if (!ok) return false;
    } else {
      return fail("a value outside any section");
    }
  }
  ++lineNumber;
  if (!sawDefinition || !sawFormat) return fail("no [Definition] section with Format = 1");
  if (definition.className.empty()) return fail("no Class in [Definition]");
  if (definition.drivers.empty()) return fail("no [Driver ...] section");
  for (const DriverEntry& d : definition.drivers) {
    if (d.hardwareIds.empty()) return fail("driver " + d.name + " has no HardwareId");
    if (d.unit.size() < 9 || d.unit.substr(d.unit.size() - 8) != ".service") {
      return fail("driver " + d.name + " needs a Unit ending in .service");
    }
  }
  return true;
}

}  // namespace warden
