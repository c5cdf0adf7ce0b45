#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "sources/module_loader.h"

namespace sources::testing {

// Loads from the given folders and records every name asked for; counts the modules
// still loaded, so that a test sees what was unloaded again.
class RecordingLoader final : public ModuleLoader {
 public:
  explicit RecordingLoader(std::vector<std::string> folders) : folders_(std::move(folders)) {}

  // Folders below the root of the test's stand-in modules.
  static std::vector<std::string> fakes(std::initializer_list<const char*> names) {
    std::vector<std::string> out;
    for (const char* n : names) out.push_back(std::string(VISTREL_FAKE_MODULES) + "/" + n);
    return out;
  }

  std::unique_ptr<platform::Module> load(std::string_view name) override {
    return record("load " + std::string(name), name);
  }
  std::unique_ptr<platform::Module> loadBesideProgram(std::string_view name) override {
    return record("beside " + std::string(name), name);
  }

  std::vector<std::string> asked;
  std::shared_ptr<std::atomic<int>> loaded = std::make_shared<std::atomic<int>>(0);

 private:
  class Counted final : public platform::Module {
   public:
    Counted(std::unique_ptr<platform::Module> inner, std::shared_ptr<std::atomic<int>> count)
        : inner_(std::move(inner)), count_(std::move(count)) {
      ++*count_;
    }
    ~Counted() override { --*count_; }
    void* symbol(const char* name) const override { return inner_->symbol(name); }

   private:
    std::unique_ptr<platform::Module> inner_;
    std::shared_ptr<std::atomic<int>> count_;
  };

  std::unique_ptr<platform::Module> record(std::string entry, std::string_view name) {
    asked.push_back(std::move(entry));
    auto module = folders_.load(name);
    if (!module) return nullptr;
    return std::make_unique<Counted>(std::move(module), loaded);
  }

  FolderModuleLoader folders_;
};

}  // namespace sources::testing
