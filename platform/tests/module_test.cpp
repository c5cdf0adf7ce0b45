#include "platform/module.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

TEST(ModuleFileName, ReplacesTheSuffixOfTheBaseName) {
  struct Case {
    const char* name;
    const char* file;
  } cases[] = {
      {"jpegpress.dll", "jpegpress.so"}, {"device.ax", "device.so"},
      {"framesink", "framesink.so"},     {"lib/x.y/probe.dll", "lib/x.y/probe.so"},
      {"dir.d/probe", "dir.d/probe.so"}, {"a.b.c", "a.b.so"},
  };
  for (const Case& c : cases) EXPECT_EQ(moduleFileName(c.name), c.file) << c.name;
}

TEST(ProgramDirectory, HoldsTheRunningProgram) {
  const std::string dir = programDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(fs::exists(fs::path(dir) / "platform_tests"));
}

// Any real shared library serves as a module to load; the maths library is always there.
std::string mathLibraryPath() {
  Dl_info info{};
  double (*cosine)(double) = &std::cos;
  if (dladdr(reinterpret_cast<void*>(cosine), &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
}

class ModuleLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = mathLibraryPath();
    ASSERT_FALSE(source_.empty());
  }
  std::string source_;
};

TEST_F(ModuleLoad, FindsTheModuleInTheProgramFolderByItsProductName) {
  const std::string base = "vistrel_probe_" + std::to_string(getpid());
  const fs::path copy = fs::path(programDirectory()) / (base + ".so");
  fs::copy_file(source_, copy, fs::copy_options::overwrite_existing);
  {
    auto module = loadModule(base + ".dll");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(module->symbol("cos"), nullptr);
    EXPECT_EQ(module->symbol("NoSuchEntryPoint"), nullptr);
  }
  fs::remove(copy);
}

TEST_F(ModuleLoad, LoadsFromAGivenFolderOnly) {
  const fs::path dir = fs::temp_directory_path() / ("vistrel_module_" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::copy_file(source_, dir / "probe.so", fs::copy_options::overwrite_existing);
  EXPECT_NE(loadModuleFrom(dir.string(), "probe.ax"), nullptr);
  EXPECT_EQ(loadModuleFrom(dir.string(), "absent.dll"), nullptr);
  EXPECT_EQ(loadModuleFrom(programDirectory(), "probe.ax"), nullptr);
  fs::remove_all(dir);
}

// The build tree has no installed module folder beside bin/: only the program's folder is
// searched before the library path, and the message names exactly those places.
TEST(ModuleDirectories, BuildTreeSearchesTheProgramFolderOnly) {
  EXPECT_EQ(moduleDirectories(), std::vector<std::string>{programDirectory()});
  EXPECT_EQ(moduleSearchText("device.ax"),
            "device.so (looked in " + programDirectory() + " and the library path)");
  EXPECT_EQ(folderHolding(dataDirectories(), "platform_tests"), programDirectory());
  EXPECT_EQ(folderHolding(dataDirectories(), "no-such-file"), "");
}

TEST_F(ModuleLoad, MissingModuleGivesNull) {
  EXPECT_EQ(loadModule("vistrel_no_such_module.dll"), nullptr);
}

}  // namespace
}  // namespace platform
