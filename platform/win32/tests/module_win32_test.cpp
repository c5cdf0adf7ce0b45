#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/module.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// The product's names are the file names on Windows.
TEST(ModuleFileName, KeepsTheProductsName) {
  for (const char* name : {"device.ax", "jpegpress.dll", "framesink"}) EXPECT_EQ(moduleFileName(name), name);
}

TEST(ProgramDirectory, HoldsTheRunningProgramAndItsModules) {
  const std::string dir = programDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(fs::exists(fs::path(dir) / "platform_tests.exe"));
  EXPECT_EQ(moduleDirectories(), std::vector<std::string>{dir});
  EXPECT_EQ(folderHolding(dataDirectories(), "platform_tests.exe"), dir);
  EXPECT_EQ(folderHolding(dataDirectories(), "no-such-file"), "");
}

// vistrel_probe_module.dll is built beside the tests; its one export answers 42.
TEST(ModuleLoad, LoadsAModuleByNameFromTheProgramFolder) {
  auto module = loadModule("vistrel_probe_module.dll");
  ASSERT_NE(module, nullptr) << moduleSearchText("vistrel_probe_module.dll");
  auto answer = reinterpret_cast<int (*)()>(module->symbol("ProbeAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(module->symbol("NoSuchEntryPoint"), nullptr);
}

TEST(ModuleLoad, LoadsFromAGivenFolderOnly) {
  const fs::path dir = fs::temp_directory_path() / ("vistrel_module_" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(dir);
  fs::copy_file(fs::path(programDirectory()) / "vistrel_probe_module.dll", dir / "probe.ax",
                fs::copy_options::overwrite_existing);
  {
    auto module = loadModuleFrom(dir.string(), "probe.ax");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(module->symbol("ProbeAnswer"), nullptr);
  }
  EXPECT_EQ(loadModuleFrom(dir.string(), "absent.dll"), nullptr);
  EXPECT_EQ(loadModuleFrom(programDirectory(), "probe.ax"), nullptr);
  EXPECT_EQ(loadModule("vistrel_no_such_module.dll"), nullptr);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace platform
