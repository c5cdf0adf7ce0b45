#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/file_write.h"
#include "platform/help.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class FileWriteWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vistrel_write_" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(FileWriteWin32, ReplacesALongerFileWhole) {
  const fs::path file = dir_ / "snap.jpg";
  ASSERT_TRUE(writeFileExclusive(file.string(), "a much longer older content", 27));
  ASSERT_TRUE(writeFileExclusive(file.string(), "new", 3));
  EXPECT_EQ(readAll(file), "new");
}

// A file another writer holds open is left as it is.
TEST_F(FileWriteWin32, FailsWhileAnotherHandleHoldsTheFile) {
  const fs::path file = dir_ / "held.jpg";
  ASSERT_TRUE(writeFileExclusive(file.string(), "first", 5));
  HANDLE held = CreateFileW(file.wstring().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(writeFileExclusive(file.string(), "second", 6));
  CloseHandle(held);
  EXPECT_EQ(readAll(file), "first");
  EXPECT_FALSE(writeFileExclusive((dir_ / "no-such-folder" / "x.jpg").string(), "x", 1));
}

TEST(FileAddress, DriveLettersSeparatorsAndEscapes) {
  struct Case {
    const char* path;
    const char* fragment;
    const char* address;
  };
  for (const Case& c : {Case{"C:\\Program Files\\Vistrel\\Vistrel.htm", "ConnectNetwork",
                             "file:///C:/Program%20Files/Vistrel/Vistrel.htm#ConnectNetwork"},
                        Case{"D:/help/a#b.htm", "", "file:///D:/help/a%23b.htm"},
                        Case{"\\\\server\\share\\x.htm", "T", "file:////server/share/x.htm#T"},
                        // A POSIX path: a backslash is a character of a name there.
                        Case{"/my dir/a\\b.htm", "", "file:///my%20dir/a%5Cb.htm"}})
    EXPECT_EQ(fileAddress(c.path, c.fragment), c.address) << c.path;
}

// A program with arguments starts detached; a missing one reports failure.
TEST_F(FileWriteWin32, ProgramStarterRunsAProgramWithItsArguments) {
  const fs::path made = dir_ / "started.txt";
  ASSERT_TRUE(systemProgramStarter().start({"cmd.exe", "/c", "copy", "nul", made.string()}));
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    seen = fs::exists(made);
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(seen) << "the started program did not run with its arguments";
  EXPECT_FALSE(systemProgramStarter().start({"vistrel-no-such-program.exe"}));
  EXPECT_FALSE(systemProgramStarter().start({}));
}

}  // namespace
}  // namespace platform
