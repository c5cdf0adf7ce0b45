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

// A library finds its own folder from an address of its code, and can stay loaded after
// its last handle is gone.
TEST(ModuleLoad, KnowsAModulesFolderAndKeepsItLoadedWhenAsked) {
  const fs::path dir = fs::temp_directory_path() / ("vistrel_module_kept_" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(dir);
  fs::copy_file(fs::path(programDirectory()) / "vistrel_probe_module.dll", dir / "kept.dll",
                fs::copy_options::overwrite_existing);
  int (*answer)() = nullptr;
  {
    auto module = loadModuleFrom(dir.string(), "kept.dll");
    ASSERT_NE(module, nullptr);
    answer = reinterpret_cast<int (*)()>(module->symbol("ProbeAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_TRUE(fs::equivalent(moduleDirectoryOf(reinterpret_cast<const void*>(answer)), dir));
    EXPECT_TRUE(keepModuleLoaded(reinterpret_cast<const void*>(answer)));
  }
  EXPECT_NE(GetModuleHandleW((dir / "kept.dll").wstring().c_str()), nullptr) << "unloaded with its handle";
  EXPECT_EQ(answer(), 42);

  EXPECT_EQ(moduleDirectoryOf(reinterpret_cast<const void*>(&programDirectory)), programDirectory());
  const int onTheStack = 0;
  EXPECT_EQ(moduleDirectoryOf(&onTheStack), "");
  EXPECT_FALSE(keepModuleLoaded(&onTheStack));
  std::error_code ignored;  // the kept library's file stays in use on Windows
  fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace platform
