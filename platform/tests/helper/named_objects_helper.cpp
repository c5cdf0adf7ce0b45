// The other process of the named-object tests. Usage: named_objects_helper COMMAND NAME ...
// Each command reports on standard output, one line per step, and a command that holds
// something keeps it until its standard input ends or it is killed.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "helper_side.h"
#include "platform/named_objects.h"

namespace {

using platform::testing::holdUntilInputEnds;
using platform::testing::sayLine;

int run(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string command = argv[1];
  const std::string name = argv[2];

  if (command == "lock-hold") {  // NAME
    auto mutex = platform::NamedMutex::openOrCreate(name);
    if (!mutex) return 3;
    mutex->lock();
    sayLine("locked");
    holdUntilInputEnds();
    mutex->unlock();
    return 0;
  }
  if (command == "lock-exit") {  // NAME: ends while holding the lock
    auto mutex = platform::NamedMutex::openOrCreate(name);
    if (!mutex) return 3;
    mutex->lock();
    sayLine("locked");
    _exit(0);
  }
  if (command == "lock-once") {  // NAME
    auto mutex = platform::NamedMutex::openOrCreate(name);
    if (!mutex) return 3;
    sayLine("trying");
    mutex->lock();
    sayLine("got");
    mutex->unlock();
    return 0;
  }
  if (command == "count" && argc == 4) {  // NAME ROUNDS: add 1 to a shared word ROUNDS times
    auto mutex = platform::NamedMutex::openOrCreate(name);
    auto memory = platform::SharedMemory::openOrCreate(name, 4096);
    if (!mutex || !memory) return 3;
    const long rounds = std::strtol(argv[3], nullptr, 10);
    volatile uint32_t* word = reinterpret_cast<volatile uint32_t*>(memory->data());
    for (long i = 0; i < rounds; ++i) {
      mutex->lock();
      const uint32_t value = *word;
      if (i % 64 == 0) std::this_thread::yield();  // widens the window a missing lock opens
      *word = value + 1;
      mutex->unlock();
    }
    sayLine("counted");
    return 0;
  }
  if (command == "wait-event" && argc == 4) {  // NAME TIMEOUT_MS
    auto event = platform::NamedEvent::openOrCreate(name);
    if (!event) return 3;
    sayLine("waiting");
    const bool woken = event->wait(static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)));
    sayLine(woken ? "woken" : "timeout");
    return woken ? 0 : 1;
  }
  if (command == "hold-marker") {  // NAME
    auto marker = platform::PresenceMarker::create(name);
    sayLine(marker ? "held" : "failed");
    holdUntilInputEnds();
    return 0;
  }
  if (command == "identity") {  // NAME (unused): prints "PID START_TICKS"
    const platform::ProcessIdentity self = platform::currentProcess();
    sayLine(std::to_string(self.pid) + " " + std::to_string(self.startTicks));
    holdUntilInputEnds();
    return 0;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
