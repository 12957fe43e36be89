// ovtool bufread FILE: reads a whole file through the media layer's buffered
// reader (read-ahead thread, 64 KB buffers) in 4 KB reads, as the container
// readers do, and prints its size and a checksum. The throughput benchmark
// sets it beside cat.
#include <cinttypes>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "media/buffered_file_reader.h"
#include "platform/os/ov_string.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

int RunBufread(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ovtool bufread FILE\n");
    return 2;
  }
  if (!ovtool::CheckInputFile("bufread", argv[1])) return 1;
  media::BufferedFileReader reader;
  if (!reader.Open(ov::String::FromUtf8Lossy(argv[1]))) {
    std::fprintf(stderr, "bufread: cannot open %s\n", argv[1]);
    return 1;
  }
  std::vector<uint8_t> chunk(4096);
  uint64_t total = 0;
  uint64_t sum = 0;
  for (;;) {
    uint32_t got = 0;
    std::fill(chunk.begin(), chunk.end(), 0);
    bool full = reader.Read(chunk.data(), static_cast<uint32_t>(chunk.size()), &got);
    // A cheap checksum (sum of 64-bit words) so that the data are touched.
    for (size_t i = 0; i < chunk.size(); i += 8) {
      uint64_t word;
      std::memcpy(&word, chunk.data() + i, 8);
      sum += word;
    }
    total += got;
    if (!full) break;
  }
  std::printf("%" PRIu64 " bytes checksum %016" PRIx64 "\n", total, sum);
  return 0;
}

}  // namespace

OVTOOL_COMMAND(bufread, "bufread FILE  read a file through the buffered reader (throughput)", RunBufread);
