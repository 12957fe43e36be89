// Options file reader: the bytes of "user.opt" through the same loader that
// LoadOptions runs, then a save image of what was accepted.
#include <vector>

#include "fuzz/fuzz_target.h"
#include "shell/user_options.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exact-size heap copy so that over-reads are seen.
  std::vector<uint8_t> copy(data, data + size);
  shell::UserOptions options(u"/nonexistent/user.opt");
  options.LoadFromBytes(copy.empty() ? nullptr : copy.data(), copy.size());
  std::vector<uint8_t> image;
  options.SerializeTo(&image);
  shell::UserOptions again(u"/nonexistent/user.opt");
  if (!again.LoadFromBytes(image.data(), image.size())) __builtin_trap();
  return 0;
}
