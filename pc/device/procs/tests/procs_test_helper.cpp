// The other process of the process-table tests. Usage: procs_test_helper register PATH
// RECEIVING(0/1): registers, reports on standard output and stays registered until its
// standard input ends or it is killed.
#include <cstring>
#include <string>

#include "helper_side.h"
#include "platform/utf16.h"
#include "procs/process_table.h"

namespace {

using platform::testing::holdUntilInputEnds;
using platform::testing::sayLine;

int run(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string command = argv[1];
  const std::string name = argv[2];

  if (command == "register" && argc == 4) {  // PATH RECEIVING(0/1)
    procs::ProcessTable table(platform::utf8ToUtf16Lossy(name));
    const bool registered = table.registerProcess();
    if (std::strcmp(argv[3], "1") == 0) table.setReceiving(true);
    sayLine(std::string("registered ") + (registered ? "1" : "0"));
    holdUntilInputEnds();
    return 0;  // the table unregisters on the way out
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
