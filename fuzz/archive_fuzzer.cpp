// Fuzzes the Archive reader (rotation state, element state) and the UTF-8 and
// UTF-16 conversions at operating-system calls. The first byte picks the read
// sequence; the rest is the archive. Every read must fail cleanly past the end
// or on an absurd string length, and a string read back must convert.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os/archive.h"
#include "platform/os/ov_string.h"
#include "fuzz/fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t program = data[0];
  ov::Archive archive(data + 1, size - 1);
  for (int step = 0; step < 64 && archive.ok(); ++step) {
    switch ((program >> (step % 4 * 2)) & 3) {
      case 0: {
        ov::String text;
        if (archive.ReadString(&text)) {
          std::string utf8;
          text.ToUtf8(&utf8);
          ov::String back;
          ov::String::FromUtf8(utf8, &back);
        }
        break;
      }
      case 1: {
        uint32_t value;
        archive.ReadU32(&value);
        break;
      }
      case 2: {
        uint16_t value;
        archive.ReadU16(&value);
        break;
      }
      default: {
        uint8_t bytes[7];
        archive.ReadBytes(bytes, sizeof(bytes));
        break;
      }
    }
  }
  // The raw bytes as UTF-8 text, strict and lossy.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ov::String strict;
  ov::String::FromUtf8(text, &strict);
  ov::String::FromUtf8Lossy(text).ToUtf8Lossy();
  return 0;
}
