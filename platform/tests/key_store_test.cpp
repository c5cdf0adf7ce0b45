#include "platform/key_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "memory_key_store.h"
#include "platform/event.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "vistrel-ks-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

std::unique_ptr<KeyStore> fileStore(const std::string& path,
                                    std::vector<std::string>* messages = nullptr) {
  KeyStore::Diagnostics d;
  if (messages) d = [messages](const std::string& m) { messages->push_back(m); };
  return std::make_unique<KeyStore>(openKeyStoreFile(path), d);
}

constexpr std::u16string_view kMain = u"Software\\Orvane\\Vistrel";

TEST(KeyStoreTest, ValuesKeepTypeAndExactSizeAndTheFileReadsAsRegText) {
  TempFolder dir;
  const std::string path = dir.file("registry.reg");
  {
    auto store = fileStore(path);
    auto key = store->createKey(kMain);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->setDword(u"Crashed", 1));
    EXPECT_TRUE(key->setString(u"Source", u";Camera;"));
    const uint8_t two[2] = {1, 0};
    EXPECT_TRUE(key->setValue(u"Short", kRegDword, two, 2));
    EXPECT_TRUE(key->setValue(u"Blob", kRegBinary, two, 2));
    EXPECT_TRUE(key->setString(u"Quote \"\\", u"a\"b\\c"));
    EXPECT_TRUE(key->setString(u"Lines", u"one\ntwo"));
    EXPECT_TRUE(key->setString(u"Umlaut", u"H\u00f6he"));
    EXPECT_TRUE(key->setValue(u"Empty", kRegSz, nullptr, 0));
    EXPECT_TRUE(key->setDword(u"Crashed", 0));  // replaced in place, not added
    auto net = key->createSubKey(u"Network");
    ASSERT_TRUE(net);
    EXPECT_TRUE(net->setDword(u"RemotePort", 2047));
  }
  EXPECT_EQ(readFile(path),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Orvane]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"
            "\"Crashed\"=dword:00000000\n"
            "\"Source\"=\";Camera;\"\n"
            "\"Short\"=hex(4):01,00\n"
            "\"Blob\"=hex:01,00\n"
            "\"Quote \\\"\\\\\"=\"a\\\"b\\\\c\"\n"
            "\"Lines\"=hex(1):6f,00,6e,00,65,00,0a,00,74,00,77,00,6f,00,00,00\n"
            "\"Umlaut\"=\"H\xc3\xb6he\"\n"
            "\"Empty\"=hex(1):\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\Network]\n"
            "\"RemotePort\"=dword:000007ff\n");

  auto store = fileStore(path);
  auto key = store->openKey(u"SOFTWARE\\orvane\\VISTREL");  // names ignore case
  ASSERT_TRUE(key);
  RegistryValue v;
  ASSERT_TRUE(key->queryValue(u"short", v));
  EXPECT_EQ(v.type, kRegDword);
  EXPECT_EQ(v.data, bytes({1, 0}));
  ASSERT_TRUE(key->queryValue(u"Source", v));
  EXPECT_EQ(v.type, kRegSz);
  EXPECT_EQ(v.data.size(), 18u);  // 8 characters and the terminating zero
  ASSERT_TRUE(key->queryValue(u"Lines", v));
  EXPECT_EQ(v.data.size(), 16u);
  ASSERT_TRUE(key->queryValue(u"Empty", v));
  EXPECT_EQ(v.type, kRegSz);
  EXPECT_TRUE(v.data.empty());
  ASSERT_TRUE(key->queryValue(u"Quote \"\\", v));
  EXPECT_EQ(v.data.size(), 12u);
  EXPECT_FALSE(key->queryValue(u"Missing", v));
  EXPECT_EQ(key->valueNames(),
            (std::vector<std::u16string>{u"Crashed", u"Source", u"Short", u"Blob", u"Quote \"\\",
                                         u"Lines", u"Umlaut", u"Empty"}));
  EXPECT_EQ(key->subKeyNames(), std::vector<std::u16string>{u"Network"});
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(KeyStoreTest, ReadsHandWrittenAndExportedForms) {
  struct Case {
    const char* what;
    std::string text;
  };
  const std::string body =
      "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\r\n"
      "@=\"default\"\r\n"
      "\"Port\" = dword:7FF\r\n"
      "\"Long\"=hex(3):01,02,\\\r\n"
      "  03,04\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : "Windows Registry Editor Version 5.00\r\n\r\n" + body) {
    utf16.push_back(c);
    utf16.push_back(0);
  }
  const Case cases[] = {
      {"plain", body},
      {"with header", "Windows Registry Editor Version 5.00\n\n" + body},
      {"UTF-8 mark", "\xEF\xBB\xBF" + body},
      {"UTF-16 export", utf16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::shared_ptr<testing::MemoryKeyStoreStorage::State> state;
    std::vector<std::string> messages;
    auto store = testing::makeMemoryKeyStore(state, &messages);
    state->text = c.text;
    auto key = store->openKey(kMain);
    ASSERT_TRUE(key);
    RegistryValue v;
    ASSERT_TRUE(key->queryValue(u"", v));
    EXPECT_EQ(v.data.size(), 16u);
    ASSERT_TRUE(key->queryValue(u"Port", v));
    EXPECT_EQ(v.data, bytes({0xff, 0x07, 0, 0}));
    ASSERT_TRUE(key->queryValue(u"Long", v));
    EXPECT_EQ(v.type, 3u);
    EXPECT_EQ(v.data, bytes({1, 2, 3, 4}));
    EXPECT_TRUE(messages.empty()) << messages.front();
  }
}

TEST(KeyStoreTest, BadLinesAreReportedOnceAndWrittenBackUnchanged) {
  TempFolder dir;
  const std::string path = dir.file("registry.reg");
  const std::string original =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"
      "\"Crashed\"=dword:00000001\n"
      "\"Broken\"=dword:12345678901\n"
      "\"Bad utf8\"=\"\xC3\x28\"\n"
      "garbage without quotes\n"
      "\"Deleted\"=-\n"
      "\"Mode\"=\"Network\"\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\n"
      "\"Foreign\"=anything at all\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\FTP]\n"
      "\"Port\"=dword:00000015\n"
      "\"Truncated\"=hex:01,0";  // cut off mid-line, no final newline
  writeFile(path, original);
  std::vector<std::string> messages;
  auto store = fileStore(path, &messages);
  auto key = store->openKey(kMain);
  ASSERT_TRUE(key);
  RegistryValue v;
  EXPECT_TRUE(key->queryValue(u"Crashed", v));
  EXPECT_TRUE(key->queryValue(u"Mode", v));
  EXPECT_FALSE(key->queryValue(u"Broken", v));
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0], path + ":5: unreadable line kept as it is: \"Broken\"=dword:12345678901");
  EXPECT_NE(messages[1].find(":6:"), std::string::npos);
  EXPECT_NE(messages[2].find(":7: "), std::string::npos);
  EXPECT_NE(messages[3].find(":8: "), std::string::npos);
  auto ftp = store->openKey(u"Software\\Orvane\\Vistrel\\FTP");
  ASSERT_TRUE(ftp);
  EXPECT_TRUE(ftp->queryValue(u"Port", v));
  EXPECT_EQ(messages.size(), 4u);  // the same lines are not reported again

  // The truncated last line is understood (hex:01,0 is two bytes); nothing else changes
  // when a value is added.
  EXPECT_TRUE(ftp->queryValue(u"Truncated", v));
  ASSERT_TRUE(key->setDword(u"Crashed", 0));
  std::string expected = original;
  expected.replace(expected.find("dword:00000001"), 14, "dword:00000000");
  EXPECT_EQ(readFile(path), expected + "\n");
  EXPECT_EQ(messages.size(), 4u);
}

TEST(KeyStoreTest, NewSubKeysJoinTheirParentsSections) {
  std::shared_ptr<testing::MemoryKeyStoreStorage::State> state;
  auto store = testing::makeMemoryKeyStore(state);
  state->text =
      "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"
      "\"Languages\"=\"0407\"\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
      "\"X\"=dword:00000001\n";
  auto net = store->createKey(u"Software\\Orvane\\Vistrel\\Network");
  ASSERT_TRUE(net);
  ASSERT_TRUE(net->setDword(u"RemotePort", 2047));
  // A value in a key that exists only through its sub-keys gets a section of its own,
  // in front of theirs.
  auto orvane = store->openKey(u"Software\\Orvane");
  ASSERT_TRUE(orvane);
  ASSERT_TRUE(orvane->setDword(u"Y", 2));
  EXPECT_EQ(state->text,
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Orvane]\n"
            "\"Y\"=dword:00000002\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"
            "\"Languages\"=\"0407\"\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\Network]\n"
            "\"RemotePort\"=dword:000007ff\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
            "\"X\"=dword:00000001\n");
}

// Files that once lost a value on the second read after a write.
TEST(KeyStoreTest, WritingBackIsStableForOddFiles) {
  const std::string cases[] = {
      // A broken value ending in a backslash must not swallow the value added after it.
      "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n\"H\"=hex(4):01,000: x\\",
      // A UTF-8 mark is kept, and a second one stays part of the text.
      "\xEF\xBB\xBF\xEF\xBB\xBFWindows Registry Editor Version 5.00\n",
      "\xEF\xBB\xBF[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n\"A\"=dword:00000001\n",
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    std::shared_ptr<testing::MemoryKeyStoreStorage::State> state;
    std::vector<std::string> messages;
    auto store = testing::makeMemoryKeyStore(state, &messages);
    state->text = text;
    auto key = store->createKey(kMain);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->setDword(u"Probe", 1));
    const std::string written = state->text;
    RegistryValue v;
    EXPECT_TRUE(store->openKey(kMain)->queryValue(u"Probe", v));
    ASSERT_TRUE(key->setDword(u"Probe", 1));
    EXPECT_EQ(state->text, written);
  }
}

std::string utf16le(std::u16string_view units) {
  std::string out = "\xFF\xFE";
  for (char16_t u : units) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

// A UTF-16 export with CR LF lines stays one; a lone surrogate, which no UTF-8 can
// hold, comes back unit for unit.
TEST(KeyStoreTest, Utf16FilesAreWrittenBackAsUtf16) {
  std::shared_ptr<testing::MemoryKeyStoreStorage::State> state;
  std::vector<std::string> messages;
  auto store = testing::makeMemoryKeyStore(state, &messages);
  const std::u16string head =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\r\n"
      u"\"Mode\"=\"Netzwerk \u00e4\"\r\n"
      u"\"Bad\"=\"\xD800\"\r\n";
  state->text = utf16le(head);
  auto key = store->openKey(kMain);
  ASSERT_TRUE(key);
  RegistryValue v;
  ASSERT_TRUE(key->queryValue(u"Mode", v));
  EXPECT_EQ(v.data.size(), 22u);
  EXPECT_FALSE(key->queryValue(u"Bad", v));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("memory:5: unreadable line"), std::string::npos) << messages[0];
  ASSERT_TRUE(key->setDword(u"Crashed", 1));
  EXPECT_EQ(state->text, utf16le(head + u"\"Crashed\"=dword:00000001\r\n"));
}

TEST(KeyStoreTest, InvalidPathsAndMissingKeys) {
  std::shared_ptr<testing::MemoryKeyStoreStorage::State> state;
  auto store = testing::makeMemoryKeyStore(state);
  for (std::u16string_view bad : {u"", u"\\Software", u"Software\\", u"Software\\\\X"}) {
    EXPECT_FALSE(store->createKey(bad));
    EXPECT_FALSE(store->openKey(bad));
  }
  EXPECT_EQ(state->updates, 0);
  EXPECT_FALSE(store->openKey(kMain));
  EXPECT_TRUE(store->createKey(kMain));
  EXPECT_TRUE(store->openKey(u"Software"));  // parents exist with their child
  EXPECT_FALSE(store->openKey(u"Software\\Orvane\\Vistrel\\Network"));
  EXPECT_EQ(state->updates, 1);
  EXPECT_TRUE(store->createKey(kMain));  // already there: nothing written
  EXPECT_EQ(state->updates, 1);
}

TEST(KeyStoreTest, DeleteValueAndKeyWithSubKeys) {
  std::shared_ptr<testing::MemoryKeyStoreStorage::State> state;
  auto store = testing::makeMemoryKeyStore(state);
  auto key = store->createKey(u"Software\\Orvane\\Vistrel\\Camera");
  ASSERT_TRUE(key);
  key->setDword(u"Zoom", 3);
  key->setDword(u"Quality", 2);
  EXPECT_TRUE(key->deleteValue(u"ZOOM"));
  EXPECT_FALSE(key->deleteValue(u"Zoom"));
  EXPECT_EQ(key->valueNames(), std::vector<std::u16string>{u"Quality"});
  store->createKey(u"Software\\Orvane\\Other");
  EXPECT_TRUE(store->deleteKey(u"Software\\Orvane\\Vistrel"));
  EXPECT_FALSE(store->openKey(u"Software\\Orvane\\Vistrel\\Camera"));
  EXPECT_FALSE(store->deleteKey(u"Software\\Orvane\\Vistrel"));
  auto orvane = store->openKey(u"Software\\Orvane");
  ASSERT_TRUE(orvane);
  EXPECT_EQ(orvane->subKeyNames(), std::vector<std::u16string>{u"Other"});
}

TEST(KeyStoreTest, RefusedWritesFailQuietlyAndChangeNothing) {
  std::shared_ptr<testing::MemoryKeyStoreStorage::State> state;
  std::vector<std::string> messages;
  auto store = testing::makeMemoryKeyStore(state, &messages);
  auto key = store->createKey(kMain);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setDword(u"Crashed", 1));
  const std::string before = state->text;
  state->refuseWrites = true;
  EXPECT_FALSE(key->setDword(u"Crashed", 0));
  EXPECT_FALSE(store->createKey(u"Software\\Orvane\\Vistrel\\FTP"));
  RegistryValue v;
  ASSERT_TRUE(key->queryValue(u"Crashed", v));
  EXPECT_EQ(v.data[0], 1);
  EXPECT_EQ(state->text, before);
  EXPECT_TRUE(messages.empty());

  // A file in a folder that cannot exist.
  auto unwritable = fileStore("/dev/null/registry.reg", &messages);
  EXPECT_FALSE(unwritable->createKey(kMain));
  EXPECT_FALSE(unwritable->openKey(kMain));
  EXPECT_TRUE(messages.empty());
}

TEST(KeyStoreTest, KeysAnswerFromTheirSnapshotAndReopeningSeesOtherWriters) {
  TempFolder dir;
  const std::string path = dir.file("registry.reg");
  auto first = fileStore(path);
  auto second = fileStore(path);
  auto a = first->createKey(kMain);
  ASSERT_TRUE(a);
  auto b = second->openKey(kMain);
  ASSERT_TRUE(b);
  ASSERT_TRUE(a->setDword(u"Port", 2047));
  RegistryValue v;
  EXPECT_FALSE(b->queryValue(u"Port", v));
  // b's own change merges with a's: the write re-reads the file under the lock.
  ASSERT_TRUE(b->setDword(u"Language", 0x407));
  EXPECT_TRUE(b->queryValue(u"Port", v));
  auto again = first->openKey(kMain);
  EXPECT_TRUE(again->queryValue(u"Language", v));
  EXPECT_TRUE(a->flush());
}

TEST(KeyStoreTest, DefaultPathFollowsTheEnvironment) {
  const char* old = std::getenv(kKeyStoreEnvironment);
  const std::string saved = old ? old : "";
  ::setenv(kKeyStoreEnvironment, "/somewhere/else.reg", 1);
  EXPECT_EQ(defaultKeyStorePath(), "/somewhere/else.reg");
  ::setenv(kKeyStoreEnvironment, "", 1);
  const std::string fallback = defaultKeyStorePath();
  EXPECT_TRUE(fallback == "/var/lib/vistrel/registry.reg" ||
              fallback.ends_with("/vistrel/registry.reg"))
      << fallback;
  if (old) {
    ::setenv(kKeyStoreEnvironment, saved.c_str(), 1);
  } else {
    ::unsetenv(kKeyStoreEnvironment);
  }
}

// Two processes write the same key at once, each its own values, while this process
// keeps reading: no write is lost and every read sees a whole file.
TEST(KeyStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
  TempFolder dir;
  const std::string path = dir.file("registry.reg");
  constexpr int kWrites = 120;
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = ::fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) {
      KeyStore store(openKeyStoreFile(path));
      int failures = 0;
      for (int i = 0; i < kWrites; ++i) {
        auto key = store.createKey(kMain);
        std::u16string name = u"p" + std::u16string(1, u'0' + p) + u"_";
        for (char c : std::to_string(i)) name.push_back(static_cast<char16_t>(c));
        if (!key || !key->setDword(name, static_cast<uint32_t>(i))) ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  std::vector<std::string> messages;
  auto reader = fileStore(path, &messages);
  size_t seen = 0;
  for (int round = 0; round < 200; ++round) {
    if (auto key = reader->openKey(kMain)) {
      const size_t now = key->valueNames().size();
      EXPECT_GE(now, seen);
      seen = now;
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto key = reader->openKey(kMain);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->valueNames().size(), 2u * kWrites);
  RegistryValue v;
  ASSERT_TRUE(key->queryValue(u"p1_119", v));
  EXPECT_EQ(v.data, bytes({119, 0, 0, 0}));
  EXPECT_TRUE(messages.empty());
}

bool mentions(const std::vector<std::string>& messages, const std::string& text) {
  for (const auto& m : messages)
    if (m.find(text) != std::string::npos) return true;
  return false;
}

// A FIFO (or a folder, a device) where the file should be must neither hang the program in
// open() nor be taken for an empty store that a write then replaces.
TEST(KeyStoreTest, NonRegularFilesAreRefusedAtOnceWithAMessage) {
  TempFolder dir;
  const std::string fifo = dir.file("fifo.reg");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir.file("folder.reg");
  fs::create_directory(folder);
  for (const std::string& path : {fifo, folder, std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    // Should a read block in open(), this releases it from 3 s on (and the test fails on time).
    platform::Event done(platform::Event::Reset::kManual);
    std::thread watchdog([&] {
      if (done.wait(3000)) return;
      while (!done.wait(0) && path == fifo) {
        const int fd = ::open(fifo.c_str(), O_RDWR);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a writer holds it open
        ::close(fd);
      }
    });
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> messages;
    auto store = fileStore(path, &messages);
    EXPECT_FALSE(store->openKey(kMain));
    EXPECT_FALSE(store->createKey(kMain));
    openKeyStoreFile(path)->flush();
    const auto took = std::chrono::steady_clock::now() - start;
    done.set();
    watchdog.join();
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_TRUE(mentions(messages, path + ": not a regular file"));
    EXPECT_EQ(messages.size(), 1u);  // reported once
  }
  struct stat st;
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(KeyStoreTest, OversizedFilesAndLinesAreRefused) {
  TempFolder dir;
  const std::string header = "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n\"Port\"=dword:1\n";
  {
    // A whole file above the limit is neither read nor replaced.
    const std::string path = dir.file("huge.reg");
    const std::string text = header + "; " + std::string(kKeyStoreMaxFileBytes, 'x') + "\n";
    writeFile(path, text);
    std::vector<std::string> messages;
    auto store = fileStore(path, &messages);
    EXPECT_FALSE(store->openKey(kMain));
    EXPECT_FALSE(store->createKey(u"Software\\Orvane\\Other"));
    EXPECT_TRUE(mentions(messages, path + ": larger than")) << ::testing::PrintToString(messages);
    EXPECT_EQ(readFile(path).size(), text.size());
  }
  {
    // A line above the limit is reported briefly and kept as it is; the rest reads.
    const std::string path = dir.file("long.reg");
    std::string big = "\"Big\"=hex:00";
    while (big.size() <= kKeyStoreMaxLineBytes) big += ",00";
    writeFile(path, header + big + "\n");
    std::vector<std::string> messages;
    auto store = fileStore(path, &messages);
    auto key = store->openKey(kMain);
    ASSERT_TRUE(key);
    RegistryValue v;
    EXPECT_TRUE(key->queryValue(u"Port", v));
    EXPECT_FALSE(key->queryValue(u"Big", v));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(path + ":3: line longer than"), std::string::npos) << messages[0];
    EXPECT_LT(messages[0].size(), 400u);
    ASSERT_TRUE(key->setDword(u"Next", 2));
    EXPECT_NE(readFile(path).find(big + "\n"), std::string::npos);
  }
}

// Threads of one process share a store (and a key) the same way.
TEST(KeyStoreTest, ThreadsWritingAtOnceLoseNothing) {
  TempFolder dir;
  auto store = fileStore(dir.file("registry.reg"));
  auto shared = store->createKey(kMain);
  ASSERT_TRUE(shared);
  constexpr int kWrites = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kWrites; ++i) {
        std::u16string name = u"t" + std::u16string(1, u'0' + t) + u"_";
        for (char c : std::to_string(i)) name.push_back(static_cast<char16_t>(c));
        EXPECT_TRUE(shared->setDword(name, static_cast<uint32_t>(i)));
        RegistryValue v;
        EXPECT_TRUE(shared->queryValue(name, v));  // a key's own change is never lost from its view
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(store->openKey(kMain)->valueNames().size(), 3u * kWrites);
}

}  // namespace
}  // namespace platform
