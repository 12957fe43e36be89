// The other process of the cross-process tests. Usage:
//   os_test_helper exit CODE
//   os_test_helper sleep MS
//   os_test_helper set-event NAME              exit 0, or 3 when NAME does not exist
//   os_test_helper wait-event NAME MS          exit 0 when set within MS, 1 on time-out
//   os_test_helper send QUEUE KIND VALUE       exit 0 when sent, 1 on failure
//   os_test_helper receive QUEUE MS            exit with the value byte, 200 on time-out
//   os_test_helper leave-event NAME            creates NAME set and ends without closing it
//   os_test_helper hold-mutex NAME             takes the named mutex and exits holding it
//   os_test_helper reg-dword KEY NAME VALUE    sets a DWORD under HKEY_LOCAL_MACHINE
//   os_test_helper args FILE ...               writes each further argument on a line of FILE
//   os_test_helper "whole FILE ..."           (one argument) writes that whole line to FILE

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/message_queue.h"
#include "platform/os/mutex.h"
#include "platform/os/process.h"
#include "platform/os/registry.h"
#include "platform/os/thread.h"

namespace {

ov::String Wide(const char* s) { return ov::String::FromUtf8Lossy(s); }

uint32_t Number(const char* s) { return static_cast<uint32_t>(std::strtoul(s, nullptr, 10)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 100;
  const std::string command = argv[1];
  if (command == "exit" && argc == 3) return static_cast<int>(Number(argv[2]));
  if (command == "sleep" && argc == 3) {
    ov::Sleep(Number(argv[2]));
    return 0;
  }
  if (command == "set-event" && argc == 3) {
    ov::Event e;
    if (!e.Open(Wide(argv[2]))) return 3;
    return e.Set() ? 0 : 4;
  }
  if (command == "wait-event" && argc == 4) {
    ov::Event e;
    if (!e.Create(true, false, Wide(argv[2]))) return 3;
    return e.Wait(Number(argv[3])) == ov::kWaitObject0 ? 0 : 1;
  }
  if (command == "send" && argc == 5) {
    ov::MessageQueue q;
    if (!q.Create(Wide(argv[2]), ov::MessageQueueOptions{})) return 3;
    const uint8_t record[4] = {static_cast<uint8_t>(Number(argv[3])), static_cast<uint8_t>(Number(argv[4])), 0, 0};
    return q.Write(record, 4, 5000) ? 0 : 1;
  }
  if (command == "receive" && argc == 4) {
    ov::MessageQueueOptions options;
    options.read_access = true;
    ov::MessageQueue q;
    if (!q.Create(Wide(argv[2]), options)) return 3;
    uint8_t record[4] = {};
    uint32_t got = 0;
    if (!q.Read(record, 4, &got, Number(argv[3]))) return 200;
    return record[1];
  }
  if (command == "leave-event" && argc == 3) {
    ov::Event e;
    if (!e.Create(true, true, Wide(argv[2]))) return 3;
    std::_Exit(0);  // as if it had crashed
  }
  if (command == "hold-mutex" && argc == 3) {
    ov::Mutex m;
    if (!m.Create(false, Wide(argv[2]))) return 3;
    if (m.Wait(5000) != ov::kWaitObject0) return 4;
    std::_Exit(0);  // ends without releasing it
  }
  if (command == "reg-dword" && argc == 5) {
    return ov::RegistrySetDword(ov::RegistryRoot::kLocalMachine, Wide(argv[2]), Wide(argv[3]), Number(argv[4])) ? 0 : 1;
  }
  if (command == "args" && argc >= 3) {
    std::string text;
    for (int i = 3; i < argc; ++i) text += std::string(argv[i]) + "\n";
    return ov::WriteWholeFile(Wide(argv[2]), text.data(), text.size()) ? 0 : 5;
  }
  if (argc == 2 && command.rfind("whole ", 0) == 0) {
    // The whole command line came as one argument: "whole FILE rest...".
    std::string line = ov::CommandLineFromArguments(argc, argv).ToUtf8Lossy();
    std::string file = line.substr(6, line.find(' ', 6) - 6);
    return ov::WriteWholeFile(Wide(file.c_str()), line.data(), line.size()) ? 0 : 5;
  }
  return 100;
}
