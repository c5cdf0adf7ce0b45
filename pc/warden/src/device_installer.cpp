#include "warden/device_installer.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <vector>

#include "warden/device_definition.h"
#include "warden/service_manager.h"

namespace fs = std::filesystem;

namespace warden {

namespace {

bool readWhole(const fs::path& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool writeWhole(const fs::path& path, const std::string& text, std::string& error) {
  const fs::path temporary = path.string() + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      error = "cannot write " + path.string();
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    fs::remove(temporary, ec);
    error = "cannot write " + path.string();
    return false;
  }
  return true;
}

// Everything one attempt changed, undone in reverse order when the attempt fails.
class Transaction {
 public:
  ~Transaction() { rollback(); }

  bool makeDirectories(const fs::path& dir, std::string& error) {
    std::vector<fs::path> missing;
    for (fs::path p = dir; !p.empty() && !fs::exists(p); p = p.parent_path()) {
      missing.push_back(p);
      if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      std::error_code ec;
      if (!fs::create_directory(*it, ec) && ec) {
        error = "cannot create " + it->string() + ": " + ec.message();
        return false;
      }
      undo_.push_back({*it, Kind::kCreatedDirectory, {}});
    }
    return true;
  }

  bool writeFile(const fs::path& path, const std::string& text, std::string& error) {
    if (!makeDirectories(path.parent_path(), error)) return false;
    Step step{path, Kind::kCreatedFile, {}};
    if (fs::exists(path)) {
      if (!readWhole(path, step.oldText)) {
        error = "cannot read " + path.string();
        return false;
      }
      step.kind = Kind::kReplacedFile;
    }
    if (!writeWhole(path, text, error)) return false;
    undo_.push_back(step);
    return true;
  }

  bool removeFile(const fs::path& path, std::string& error) {
    Step step{path, Kind::kRemovedFile, {}};
    if (!fs::exists(path)) return true;
    if (!readWhole(path, step.oldText)) {
      error = "cannot read " + path.string();
      return false;
    }
    std::error_code ec;
    if (!fs::remove(path, ec)) {
      error = "cannot remove " + path.string() + ": " + ec.message();
      return false;
    }
    undo_.push_back(step);
    return true;
  }

  void commit() { undo_.clear(); }

  void rollback() {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
      std::error_code ec;
      std::string ignored;
      switch (it->kind) {
        case Kind::kCreatedDirectory: fs::remove(it->path, ec); break;  // only when empty
        case Kind::kCreatedFile: fs::remove(it->path, ec); break;
        case Kind::kReplacedFile:
        case Kind::kRemovedFile: writeWhole(it->path, it->oldText, ignored); break;
      }
    }
    undo_.clear();
  }

 private:
  enum class Kind { kCreatedDirectory, kCreatedFile, kReplacedFile, kRemovedFile };
  struct Step {
    fs::path path;
    Kind kind;
    std::string oldText;
  };
  std::vector<Step> undo_;
};

// One present device, as its node file records it.
struct DeviceNode {
  fs::path directory;
  std::string instanceId;
  std::vector<std::string> hardwareIds;
  std::string definition;  // folder name in the store
  std::string driver;
  std::string unit;
  std::vector<std::string> installed;  // absolute paths of the files the driver put in place

  bool hasHardwareId(const std::string& id) const {
    return std::any_of(hardwareIds.begin(), hardwareIds.end(),
                       [&](const std::string& h) { return sameDeviceId(h, id); });
  }
  std::string text() const {
    std::string t = "# A present device; written by warden.\nInstanceId = " + instanceId + "\n";
    for (const std::string& h : hardwareIds) t += "HardwareId = " + h + "\n";
    t += "Definition = " + definition + "\nDriver = " + driver + "\nUnit = " + unit + "\n";
    for (const std::string& f : installed) t += "Installed = " + f + "\n";
    return t;
  }
};

fs::path nodesDirectory(const DeviceLayout& layout) { return fs::path(layout.storeDirectory) / "nodes"; }
fs::path definitionsDirectory(const DeviceLayout& layout) {
  return fs::path(layout.storeDirectory) / "definitions";
}

std::optional<DeviceNode> readNode(const fs::path& dir) {
  std::string text;
  if (!readWhole(dir / "node", text)) return std::nullopt;
  DeviceNode node;
  node.directory = dir;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find(" = ");
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 3);
    if (key == "InstanceId") node.instanceId = value;
    else if (key == "HardwareId") node.hardwareIds.push_back(value);
    else if (key == "Definition") node.definition = value;
    else if (key == "Driver") node.driver = value;
    else if (key == "Unit") node.unit = value;
    else if (key == "Installed") node.installed.push_back(value);
  }
  if (node.instanceId.empty()) return std::nullopt;
  return node;
}

// The present devices, in the order of their folders.
std::vector<DeviceNode> presentDevices(const DeviceLayout& layout) {
  std::vector<DeviceNode> nodes;
  std::error_code ec;
  std::vector<fs::path> dirs;
  for (const auto& entry : fs::directory_iterator(nodesDirectory(layout), ec)) {
    if (entry.is_directory()) dirs.push_back(entry.path());
  }
  std::sort(dirs.begin(), dirs.end());
  for (const fs::path& d : dirs) {
    if (auto node = readNode(d)) nodes.push_back(*node);
  }
  return nodes;
}

struct CopiedDefinition {
  std::string name;  // folder in the store
  fs::path folder;
  DeviceDefinition definition;
};

// Copies the definition and the files it names into the store. An identical copy already
// there is used as it is; a different one of the same name gets the next free "-N" name.
bool copyDefinitionToStore(const DeviceLayout& layout, const fs::path& source,
                           const DeviceDefinition& definition, Transaction& tx,
                           CopiedDefinition& copied, std::string& error) {
  std::vector<std::pair<std::string, std::string>> files;  // name, content
  std::string text;
  if (!readWhole(source, text)) {
    error = "cannot read " + source.string();
    return false;
  }
  files.emplace_back(source.filename().string(), text);
  for (const DriverEntry& d : definition.drivers) {
    for (const std::string& f : d.files()) {
      if (std::any_of(files.begin(), files.end(), [&](const auto& p) { return p.first == f; })) continue;
      std::string content;
      if (!readWhole(source.parent_path() / f, content)) {
        error = "the definition names " + f + ", which is not beside it in " +
                source.parent_path().string();
        return false;
      }
      files.emplace_back(f, content);
    }
  }
  const std::string stem = source.stem().string().empty() ? "device" : source.stem().string();
  for (int n = 1; n < 1000; ++n) {
    const std::string name = n == 1 ? stem : stem + "-" + std::to_string(n);
    const fs::path folder = definitionsDirectory(layout) / name;
    copied.name = name;
    copied.folder = folder;
    copied.definition = definition;
    if (fs::exists(folder)) {
      bool same = true;
      for (const auto& [f, content] : files) {
        std::string there;
        same = same && readWhole(folder / f, there) && there == content;
      }
      if (same) return true;
      continue;
    }
    for (const auto& [f, content] : files) {
      if (!tx.writeFile(folder / f, content, error)) return false;
    }
    return true;
  }
  error = "the store holds too many definitions named " + stem;
  return false;
}

struct Target {
  std::string fileName;
  fs::path path;
  bool pipeWire;
};

std::vector<Target> targetsOf(const DeviceLayout& layout, const DriverEntry& d) {
  std::vector<Target> t;
  if (!d.unitFile.empty()) t.push_back({d.unitFile, fs::path(layout.unitDirectory) / d.unitFile, false});
  if (!d.alsaFile.empty()) t.push_back({d.alsaFile, fs::path(layout.alsaDirectory) / d.alsaFile, false});
  if (!d.pipeWireFile.empty()) {
    t.push_back({d.pipeWireFile, fs::path(layout.pipeWireDirectory) / d.pipeWireFile, true});
  }
  return t;
}

bool isPipeWirePath(const DeviceLayout& layout, const std::string& path) {
  return fs::path(path).parent_path() == fs::path(layout.pipeWireDirectory);
}

// Puts the driver's files in place for `node`, removes what its previous driver had and
// this one has not, and writes the node. The restart-needed flag is raised when
// PipeWire's configuration changed.
bool installDriverFiles(const DeviceLayout& layout, const CopiedDefinition& copied,
                        const DriverEntry& driver, DeviceNode& node, Transaction& tx,
                        bool& restartNeeded, std::string& error) {
  std::vector<std::string> installed;
  for (const Target& t : targetsOf(layout, driver)) {
    std::string content, there;
    if (!readWhole(copied.folder / t.fileName, content)) {
      error = "cannot read " + (copied.folder / t.fileName).string();
      return false;
    }
    if (!(readWhole(t.path, there) && there == content)) {
      if (!tx.writeFile(t.path, content, error)) return false;
      restartNeeded = restartNeeded || t.pipeWire;
    }
    installed.push_back(t.path.string());
  }
  for (const std::string& old : node.installed) {
    if (std::find(installed.begin(), installed.end(), old) != installed.end()) continue;
    if (!tx.removeFile(old, error)) return false;
    restartNeeded = restartNeeded || isPipeWirePath(layout, old);
  }
  node.definition = copied.name;
  node.driver = driver.name;
  node.unit = driver.unit;
  node.installed = installed;
  return tx.writeFile(node.directory / "node", node.text(), error);
}

// Algorithm "restart of a device" on its unit, with the result folded into the flag.
bool enableAndRestart(DeviceUnits& units, const std::string& unit, bool& restartNeeded,
                      std::string& error) {
  if (!units.enable(unit, error)) return false;
  switch (units.restart(unit, error)) {
    case DeviceUnits::Restart::kDone: return true;
    case DeviceUnits::Restart::kNoSession: restartNeeded = true; return true;
    case DeviceUnits::Restart::kFailed: return false;
  }
  return false;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

int finish(bool restartNeeded, const std::string& unit, std::FILE* err) {
  if (!restartNeeded) return kExitDone;
  std::fprintf(err, "warden: the audio system must be restarted to show the change "
                    "(log in again, or: systemctl --user restart %s)\n", unit.c_str());
  return kExitDoneRestartNeeded;
}

}  // namespace

DeviceLayout DeviceLayout::under(const std::string& root) {
  fs::path r = root.empty() ? fs::path("/") : fs::path(root);
  DeviceLayout l;
  l.storeDirectory = (r / "var/lib/vistrel/devices").string();
  l.unitDirectory = (r / "etc/systemd/user").string();
  l.alsaDirectory = (r / "etc/alsa/conf.d").string();
  l.pipeWireDirectory = (r / "etc/pipewire/pipewire.conf.d").string();
  return l;
}

DeviceLayout deviceLayoutFromEnvironment() {
  const char* root = std::getenv("VISTREL_DEVICE_ROOT");
  return DeviceLayout::under(root != nullptr ? root : "");
}

int installDevice(const DeviceLayout& layout, DeviceUnits& units, const std::string& hardwareId,
                  const std::string& definitionPath, std::FILE* err) {
  std::string text, error, updateError;
  auto failed = [&](const std::string& what) {
    if (!updateError.empty()) {
      std::fprintf(err, "warden: the present device could not be updated: %s\n", updateError.c_str());
    }
    std::fprintf(err, "warden: %s\n", what.c_str());
    return kExitFailed;
  };
  if (!readWhole(definitionPath, text) || fs::is_directory(definitionPath)) {
    return failed("cannot read the definition file " + definitionPath);
  }
  DeviceDefinition definition;
  if (!parseDeviceDefinition(text, definition, error)) {
    return failed(definitionPath + ": " + error);
  }

  // 1. The definition (and the files it names) into the store.
  Transaction storeTx;
  CopiedDefinition copied;
  if (!copyDefinitionToStore(layout, fs::absolute(definitionPath), definition, storeTx, copied, error)) {
    return failed(error);
  }

  // 2. Update pass: the first present device with the ID decides.
  for (DeviceNode node : presentDevices(layout)) {
    if (!node.hasHardwareId(hardwareId)) continue;
    const DriverEntry* driver = nullptr;  // the first driver compatible with the device
    for (const DriverEntry& d : definition.drivers) {
      if (std::any_of(node.hardwareIds.begin(), node.hardwareIds.end(),
                      [&](const std::string& h) { return d.matches(h); })) {
        driver = &d;
        break;
      }
    }
    if (driver == nullptr) {
      updateError = "the definition has no driver for device " + node.instanceId;
      break;
    }
    Transaction nodeTx;
    bool restartNeeded = false;
    const std::string oldUnit = node.unit;
    if (installDriverFiles(layout, copied, *driver, node, nodeTx, restartNeeded, updateError) &&
        enableAndRestart(units, node.unit, restartNeeded, updateError)) {
      if (!oldUnit.empty() && oldUnit != node.unit) units.disable(oldUnit);
      nodeTx.commit();
      storeTx.commit();
      std::fprintf(err, "warden: updated device %s (%s)\n", node.instanceId.c_str(),
                   driver->description.c_str());
      return finish(restartNeeded, node.unit, err);
    }
    break;  // the update failed: what it changed is put back, and a new device is tried
  }

  // 3. A new device of the definition's class, with the first driver that names the ID.
  const DriverEntry* driver = nullptr;
  for (const DriverEntry& d : definition.drivers) {
    if (d.matches(hardwareId)) {
      driver = &d;
      break;
    }
  }
  if (driver == nullptr) {
    return failed(definitionPath + " has no driver for hardware ID " + hardwareId);
  }
  Transaction nodeTx;
  DeviceNode node;
  const std::string className = upper(definition.className);
  for (int n = 0; n < 10000 && node.instanceId.empty(); ++n) {
    char number[12];
    std::snprintf(number, sizeof number, "%04d", n);
    const fs::path dir = nodesDirectory(layout) / (className + "-" + number);
    if (fs::exists(dir)) continue;
    node.directory = dir;
    node.instanceId = "ROOT\\" + className + "\\" + number;
  }
  if (node.instanceId.empty()) return failed("no free device instance for class " + className);
  node.hardwareIds.push_back(hardwareId);
  bool restartNeeded = false;
  if (!nodeTx.makeDirectories(node.directory, error) ||
      !installDriverFiles(layout, copied, *driver, node, nodeTx, restartNeeded, error)) {
    return failed(error);
  }
  if (!enableAndRestart(units, node.unit, restartNeeded, error)) {
    units.disable(node.unit);
    return failed("cannot start device " + node.instanceId + ": " + error);
  }
  nodeTx.commit();
  storeTx.commit();
  if (!updateError.empty()) {
    std::fprintf(err, "warden: the present device could not be updated (%s); made a new one\n",
                 updateError.c_str());
  }
  std::fprintf(err, "warden: installed device %s (%s)\n", node.instanceId.c_str(),
               driver->description.c_str());
  return finish(restartNeeded, node.unit, err);
}

int removeDevice(const DeviceLayout& layout, DeviceUnits& units, const std::string& hardwareId,
                 std::FILE* err) {
  for (const DeviceNode& node : presentDevices(layout)) {
    if (!node.hasHardwareId(hardwareId)) continue;
    bool restartNeeded = false;
    units.stop(node.unit);
    bool unitShared = false;
    for (const DeviceNode& other : presentDevices(layout)) {
      unitShared = unitShared || (other.directory != node.directory && other.unit == node.unit);
    }
    if (!unitShared) units.disable(node.unit);
    Transaction tx;
    std::string error;
    bool removed = true;
    for (const std::string& f : node.installed) {
      removed = removed && tx.removeFile(f, error);
      restartNeeded = restartNeeded || isPipeWirePath(layout, f);
    }
    if (!removed || !tx.removeFile(node.directory / "node", error)) {
      std::fprintf(err, "warden: cannot remove device %s: %s\n", node.instanceId.c_str(), error.c_str());
      tx.rollback();  // the device stays as it was, enabled again
      std::string ignored;
      if (!unitShared) units.enable(node.unit, ignored);
      return kExitFailed;
    }
    tx.commit();
    std::error_code ec;
    fs::remove_all(node.directory, ec);
    std::fprintf(err, "warden: removed device %s\n", node.instanceId.c_str());
    return finish(restartNeeded, node.unit, err);
  }
  std::fprintf(err, "warden: no present device has the hardware ID %s\n", hardwareId.c_str());
  return kExitFailed;
}

}  // namespace warden
