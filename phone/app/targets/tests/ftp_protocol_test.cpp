#include "targets/ftp_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace targets {
namespace {

using State = ReplyReader::State;

// Feeds `bytes` until the reader stops asking for more; the state, code and how many
// bytes it took.
struct Fed {
  State state;
  int code;
  size_t used;
  std::string text;
};
Fed feedAll(const std::string& bytes, size_t capacity = 65536) {
  std::vector<char> buffer(capacity, 'x');
  ReplyReader reader(buffer.data(), capacity);
  size_t used = 0;
  State s = reader.state();
  while (used < bytes.size() && s == State::kPending) s = reader.feed(bytes[used++]);
  EXPECT_EQ(buffer[reader.text().size()], 0) << "the text always ends with a zero";
  return {s, reader.code(), used, std::string(reader.text())};
}

TEST(FtpReply, Table) {
  struct Case {
    const char* name;
    std::string bytes;
    State state;
    int code;
    size_t used;  // bytes taken: the next reply stays in the stream
  } cases[] = {
      {"single line", "220 ready\r\nNEXT", State::kComplete, 220, 11},
      {"bare line feed", "331 password\nNEXT", State::kComplete, 331, 13},
      {"code alone", "226\r\n", State::kComplete, 226, 5},
      {"multi-line greeting", "220-Welcome\r\n220-to the box\r\n220 go\r\nX", State::kComplete, 220, 37},
      {"multi-line with other codes inside", "123-First\r\n234 interleaved\r\n 123 indented\r\n123-more\r\n123 End\r\n",
       State::kComplete, 123, 62},
      {"multi-line ended by another code is not ended", "211-a\r\n212 b\r\n", State::kPending, 0, 14},
      {"line without its end", "220 no end", State::kPending, 0, 10},
      {"letters for a code", "abc hello\r\n", State::kMalformed, 0, 11},
      {"two digits", "22 x\r\n", State::kMalformed, 0, 6},
      {"code below 100", "099 x\r\n", State::kMalformed, 0, 7},
      {"unknown code 999", "999 x\r\n", State::kMalformed, 0, 7},
      {"code glued to text", "220x\r\n", State::kMalformed, 0, 6},
      {"empty line", "\r\n", State::kMalformed, 0, 2},
  };
  for (const Case& c : cases) {
    const Fed f = feedAll(c.bytes);
    EXPECT_EQ(f.state, c.state) << c.name;
    EXPECT_EQ(f.code, c.code) << c.name;
    EXPECT_EQ(f.used, c.used) << c.name;
  }
}

TEST(FtpReply, LongRepliesStopAtTheBufferEnd) {
  // 100 KB of one line, and a multi-line reply whose lines together overflow.
  const std::string oneLine = "220 " + std::string(100 * 1024, 'a') + "\r\n";
  Fed f = feedAll(oneLine);
  EXPECT_EQ(f.state, State::kOverflow);
  EXPECT_EQ(f.text.size(), 65535u);
  std::string lines = "220-start\r\n";
  while (lines.size() < 70000) lines += "220-more text\r\n";
  lines += "220 end\r\n";
  f = feedAll(lines);
  EXPECT_EQ(f.state, State::kOverflow);
  // A small buffer: a reply that fits exactly (with its zero) passes, one byte more fails.
  EXPECT_EQ(feedAll("200 ok\r\n", 9).state, State::kComplete);
  EXPECT_EQ(feedAll("200 ok!\r\n", 9).state, State::kOverflow);
  // Once ended, further bytes are refused.
  std::vector<char> buffer(16);
  ReplyReader reader(buffer.data(), buffer.size());
  for (char c : std::string("200 ok\r\n")) reader.feed(c);
  EXPECT_EQ(reader.feed('2'), State::kComplete);
  EXPECT_EQ(reader.text(), "200 ok\r\n");
}

TEST(FtpPassive, Table) {
  struct Case {
    const char* reply;
    bool ok;
    const char* address;
    uint16_t port;
  } cases[] = {
      {"227 Entering Passive Mode (127,0,0,1,200,10)\r\n", true, "127.0.0.1", 200 * 256 + 10},
      {"227 Entering Passive Mode (10,0,0,5,4,1)", true, "10.0.0.5", 1025},
      {"227 Entering Passive Mode 192,168,1,2,255,255", true, "192.168.1.2", 65535},
      {"227 =127,0,0,1,4,0", true, "127.0.0.1", 1024},
      {"227 Passive mode v2 (127,0,0,1,0,21).", true, "127.0.0.1", 21},
      {"227 Entering Passive Mode (0,0,0,0,39,16)", true, "0.0.0.0", 10000},  // address not used
      {"227 Entering Passive Mode (127,0,0,1,0,0)", false, "", 0},             // port 0
      {"227 Entering Passive Mode (127,0,0,1,256,1)", false, "", 0},
      {"227 Entering Passive Mode (127,0,0,1,200)", false, "", 0},
      {"227 Entering Passive Mode (127,0,0,1,2000,1)", false, "", 0},
      {"227 Entering Passive Mode (127,0,0,1,-1,1)", false, "", 0},
      {"227 Entering Passive Mode", false, "", 0},
      {"227", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    uint32_t address = 0;
    uint16_t port = 0;
    const bool ok = parsePassiveReply(c.reply, address, port);
    EXPECT_EQ(ok, c.ok) << c.reply;
    if (!ok || !c.ok) continue;
    uint8_t o[4];
    std::memcpy(o, &address, 4);
    const std::string dotted = std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) + "." +
                               std::to_string(o[3]);
    EXPECT_EQ(dotted, c.address) << c.reply;
    EXPECT_EQ(port, c.port) << c.reply;
  }
}

TEST(FtpPort, Argument) {
  const uint8_t octets[4] = {192, 168, 7, 2};
  uint32_t address;
  std::memcpy(&address, octets, 4);
  EXPECT_EQ(portArgument(address, 40001), "192,168,7,2,156,65");
  EXPECT_EQ(portArgument(address, 20), "192,168,7,2,0,20");
}

TEST(FtpPieces, SizesFailuresAndStop) {
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  struct Case {
    const char* name;
    std::vector<long> results;  // what each send call returns; -2: the whole piece
    size_t wantSent;
    std::vector<size_t> wantCalls;
    int wantPauses;
  } cases[] = {
      {"three pieces", {-2, -2, -2}, 5000, {2048, 2048, 904}, 0},
      {"failures retried with the same piece", {-2, -1, -1, -2, -2}, 5000, {2048, 2048, 2048, 2048, 904}, 2},
      {"short send goes on from where it stopped", {1000, -2, -2}, 5000, {2048, 2048, 1952}, 0},
      {"eleven failures give up", {-2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}, 2048,
       {2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048}, 10},
  };
  for (const Case& c : cases) {
    std::vector<size_t> calls;
    std::vector<uint8_t> received;
    int pauses = 0;
    size_t next = 0;
    const size_t sent = sendInPieces(
        data.data(), data.size(),
        [&](const uint8_t* p, size_t n) -> long {
          calls.push_back(n);
          const long r = next < c.results.size() ? c.results[next++] : -2;
          const size_t took = r == -2 ? n : (r > 0 ? static_cast<size_t>(r) : 0);
          received.insert(received.end(), p, p + took);
          return r == -2 ? static_cast<long>(n) : r;
        },
        [] { return false; }, [&](uint32_t ms) {
          EXPECT_EQ(ms, kPieceRetryMs);
          ++pauses;
        });
    EXPECT_EQ(sent, c.wantSent) << c.name;
    EXPECT_EQ(calls, c.wantCalls) << c.name;
    EXPECT_EQ(pauses, c.wantPauses) << c.name;
    EXPECT_TRUE(std::equal(received.begin(), received.end(), data.begin())) << c.name;
  }
  // The stop flag ends the retries at the first failure.
  int calls = 0;
  EXPECT_EQ(sendInPieces(data.data(), data.size(), [&](const uint8_t*, size_t) { return ++calls, -1L; },
                         [] { return true; }, [](uint32_t) { ADD_FAILURE() << "no pause when stopping"; }),
            0u);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace targets
