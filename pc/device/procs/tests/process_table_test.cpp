#include "procs/process_table.h"

#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "child_process.h"
#include "platform/named_objects.h"
#include "process_table_layout.h"

namespace procs {
namespace {

// A run of procs_test_helper in its own process.
class HelperProcess : public platform::testing::ChildProcess {
 public:
  explicit HelperProcess(const std::vector<std::string>& arguments)
      : ChildProcess(VISTREL_PROCS_HELPER, arguments) {}
};

constexpr int kLineMs = 5000;

// The shared bytes, as another process (or another user) sees them.
class SharedBytes {
 public:
  SharedBytes()
      : memory_(platform::SharedMemory::openOrCreate(kProcessTableName, sizeof(SharedTable))) {}
  bool valid() const { return memory_ != nullptr; }
  SharedTable read() const {
    SharedTable table;
    std::memcpy(&table, memory_->data(), sizeof table);
    return table;
  }
  void write(const SharedTable& table) { std::memcpy(memory_->data(), &table, sizeof table); }
  uint8_t* data() { return memory_->data(); }

 private:
  std::unique_ptr<platform::SharedMemory> memory_;
};

std::u16string pathOf(const SharedEntry& entry) {
  size_t n = 0;
  while (n < ProcessTable::kPathChars && entry.path[n] != u'\0') ++n;
  return std::u16string(entry.path, n);
}

// A helper process registered in the table.
std::unique_ptr<HelperProcess> registered(const std::string& path, bool receiving,
                                          const char* expected = "registered 1") {
  auto child = std::make_unique<HelperProcess>(
      std::vector<std::string>{"register", path, receiving ? "1" : "0"});
  EXPECT_EQ(child->readLine(kLineMs), expected) << path;
  return child;
}

using ProcessTableTest = platform::testing::ObjectTest;

TEST(ProcessTableBaseName, DropsTheFolderAndEverythingFromTheLastDot) {
  struct Case {
    std::u16string path;
    std::u16string base;
  } cases[] = {
      {u"/opt/x/my.app.exe", u"my.app"}, {u"C:\\a\\lookout.exe", u"lookout"},
      {u"my.app.exe", u"my.app"},        {u"/usr/bin/warden", u"warden"},
      {u"dir.d/prog", u"prog"},          {u"a/b\\c.d", u"c"},
      {u"/usr/bin/", u""},               {u".hidden", u""},
      {u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProcessTable::baseNameOf(c.path), c.base)
        << std::string(c.path.begin(), c.path.end());
  }
}

TEST_F(ProcessTableTest, RegistersWithIdsAndFindsOtherReceivers) {
  ProcessTable first(u"/opt/vistrel/my.app.exe");
  ProcessTable second(u"/opt/vistrel/lookout.exe");
  EXPECT_FALSE(first.registered());
  EXPECT_EQ(first.baseName(), u"");
  ASSERT_TRUE(first.registerProcess());
  ASSERT_TRUE(second.registerProcess());
  EXPECT_EQ(first.id(), 0u);
  EXPECT_EQ(second.id(), 1u);
  EXPECT_EQ(first.baseName(), u"my.app");
  EXPECT_EQ(second.baseName(), u"lookout");

  EXPECT_EQ(first.findOtherReceiver(), std::nullopt);
  first.setReceiving(true);
  EXPECT_EQ(first.findOtherReceiver(), std::nullopt) << "never itself";
  EXPECT_EQ(second.findOtherReceiver(), u"/opt/vistrel/my.app.exe");
  first.setReceiving(false);
  EXPECT_EQ(second.findOtherReceiver(), std::nullopt);

  second.setReceiving(true);
  first.unregisterProcess();
  EXPECT_FALSE(first.registered());
  EXPECT_EQ(first.baseName(), u"");
  // Not registered, it sees every receiver.
  EXPECT_EQ(first.findOtherReceiver(), u"/opt/vistrel/lookout.exe");
  SharedBytes bytes;
  ASSERT_TRUE(bytes.valid());
  EXPECT_EQ(bytes.read().count, 1u);
  EXPECT_EQ(bytes.read().nextId, 2u);
}

TEST_F(ProcessTableTest, LeavingCompactsTheTableInOrder) {
  auto a = registered("/bin/a.exe", false);
  auto b = registered("/bin/b.exe", true);
  auto c = registered("/bin/c.exe", true);
  ProcessTable self(u"/bin/self");
  ASSERT_TRUE(self.registerProcess());
  EXPECT_EQ(self.id(), 3u);
  EXPECT_EQ(self.findOtherReceiver(), u"/bin/b.exe");

  b->closeInput();  // b ends normally and unregisters
  EXPECT_EQ(b->waitExit(kLineMs), 0);
  EXPECT_EQ(self.findOtherReceiver(), u"/bin/c.exe");
  SharedBytes bytes;
  const SharedTable table = bytes.read();
  ASSERT_EQ(table.count, 3u);
  EXPECT_EQ(pathOf(table.entries[0]), u"/bin/a.exe");
  EXPECT_EQ(pathOf(table.entries[1]), u"/bin/c.exe");
  EXPECT_EQ(pathOf(table.entries[2]), u"/bin/self");
  EXPECT_EQ(table.entries[2].id, 3u);
  EXPECT_EQ(pathOf(table.entries[3]), u"") << "the freed record is cleared";
}

TEST_F(ProcessTableTest, TenthProcessWorksWithoutAnEntry) {
  // Nine start at once: each gets its own record and id.
  std::vector<std::unique_ptr<HelperProcess>> nine;
  for (int i = 0; i < ProcessTable::kMaxRegistered; ++i) {
    nine.push_back(std::make_unique<HelperProcess>(
        std::vector<std::string>{"register", "/bin/app" + std::to_string(i) + ".exe", "0"}));
  }
  for (auto& child : nine) EXPECT_EQ(child->readLine(kLineMs), "registered 1");
  {
    SharedBytes bytes;
    const SharedTable table = bytes.read();
    ASSERT_EQ(table.count, 9u);
    EXPECT_EQ(table.nextId, 9u);
    std::set<uint32_t> ids;
    std::set<std::u16string> paths;
    for (uint32_t i = 0; i < table.count; ++i) {
      ids.insert(table.entries[i].id);
      paths.insert(pathOf(table.entries[i]));
    }
    EXPECT_EQ(ids.size(), 9u);
    EXPECT_EQ(paths.size(), 9u);
  }
  auto tenth = registered("/bin/tenth.exe", true, "registered 0");
  ProcessTable self(u"/bin/self.exe");
  EXPECT_FALSE(self.registerProcess());
  EXPECT_FALSE(self.registered());
  EXPECT_EQ(self.baseName(), u"");
  self.setReceiving(true);  // harmless without an entry
  EXPECT_EQ(self.findOtherReceiver(), std::nullopt);
  SharedBytes bytes;
  EXPECT_EQ(bytes.read().count, 9u);

  // One of the nine dies: its entry goes and this process gets one.
  nine[4]->kill();
  ASSERT_TRUE(self.registerProcess());
  EXPECT_EQ(self.baseName(), u"self");
  const SharedTable table = bytes.read();
  ASSERT_EQ(table.count, 9u);
  for (uint32_t i = 0; i < table.count; ++i) EXPECT_NE(pathOf(table.entries[i]), u"/bin/app4.exe");
  EXPECT_EQ(pathOf(table.entries[8]), u"/bin/self.exe");
}

TEST_F(ProcessTableTest, KilledReceiverIsNoLongerNamed) {
  auto viewer = registered("/opt/vistrel/lookout.exe", true);
  ProcessTable self(u"/usr/bin/app");
  ASSERT_TRUE(self.registerProcess());
  EXPECT_EQ(self.findOtherReceiver(), u"/opt/vistrel/lookout.exe");
  viewer->kill();
  EXPECT_EQ(self.findOtherReceiver(), std::nullopt);
  SharedBytes bytes;
  EXPECT_EQ(bytes.read().count, 1u) << "the dead entry is dropped, not just skipped";
}

TEST_F(ProcessTableTest, LongPathsAreCutToTheRecord) {
  const std::string longPath = "/" + std::string(300, 'p') + ".exe";
  auto child = registered(longPath, true);
  ProcessTable self(u"/bin/self");
  const auto found = self.findOtherReceiver();
  ASSERT_TRUE(found);
  EXPECT_EQ(found->size(), static_cast<size_t>(ProcessTable::kPathChars - 1));
  EXPECT_EQ(*found, u"/" + std::u16string(ProcessTable::kPathChars - 2, u'p'));

  ProcessTable longSelf(std::u16string(400, u'q') + u".exe");
  ASSERT_TRUE(longSelf.registerProcess());
  EXPECT_EQ(longSelf.baseName(), std::u16string(ProcessTable::kPathChars - 1, u'q'));
}

TEST_F(ProcessTableTest, GarbageInTheSharedBytesIsBoundedAndRepaired) {
  SharedBytes bytes;
  ASSERT_TRUE(bytes.valid());
  // A live entry (this very process) with an unterminated path, a count far too high,
  // and behind it records of no live process.
  SharedTable table;
  std::memset(&table, 0xFF, sizeof table);
  table.count = 50000;
  const platform::ProcessIdentity self = platform::currentProcess();
  table.owners[0] = SharedOwner{self.pid, 0, self.startTicks};
  table.entries[0].id = 77;
  table.entries[0].receiving = 1;
  std::fill(std::begin(table.entries[0].path), std::end(table.entries[0].path), u'A');
  table.owners[3] = SharedOwner{self.pid, 0, self.startTicks + 1};  // a reused pid
  table.nextId = 5;
  bytes.write(table);

  ProcessTable reader(u"/bin/reader");
  EXPECT_EQ(reader.findOtherReceiver(), std::u16string(ProcessTable::kPathChars - 1, u'A'));
  ASSERT_TRUE(reader.registerProcess());
  EXPECT_EQ(reader.id(), 5u);
  const SharedTable repaired = bytes.read();
  EXPECT_EQ(repaired.count, 2u);
  EXPECT_EQ(repaired.entries[0].id, 77u);
  EXPECT_EQ(repaired.entries[1].id, 5u);
  EXPECT_EQ(pathOf(repaired.entries[1]), u"/bin/reader");

  // Random bytes, many times: nothing crashes and the count stays within the table.
  std::mt19937 random(12);
  for (int round = 0; round < 200; ++round) {
    for (size_t i = 0; i < sizeof(SharedTable); ++i) bytes.data()[i] = static_cast<uint8_t>(random());
    if (round % 2 == 0) std::memcpy(bytes.data() + offsetof(SharedTable, count), &round, 4);
    ProcessTable table2(u"/bin/random");
    (void)table2.findOtherReceiver();
    table2.registerProcess();
    table2.setReceiving(true);
    EXPECT_LE(bytes.read().count, static_cast<uint32_t>(ProcessTable::kMaxRegistered));
  }
}

TEST_F(ProcessTableTest, WithoutASharedStoreTheTableIsEmptyAndRefusesEntries) {
  // A name the system cannot hold (longer than a file name may be).
  setenv("VISTREL_OBJECT_PREFIX", std::string(300, 'n').c_str(), 1);
  ProcessTable table(u"/bin/app");
  EXPECT_FALSE(table.registerProcess());
  EXPECT_EQ(table.findOtherReceiver(), std::nullopt);
  EXPECT_EQ(table.baseName(), u"");
}

}  // namespace
}  // namespace procs
