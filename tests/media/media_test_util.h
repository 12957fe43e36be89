#pragma once
// Helpers of the media tests: fixtures served through an in-memory media
// package (so that damaged copies need no files), and the peer tools.

#include <cstdint>
#include <string>
#include <vector>

#include "media/media_package.h"
#include "platform/os/ov_string.h"

namespace mediatest {

// A path from ASCII text.
ov::String U16(const std::string& text);

// Output of a shell command (stdout); empty when it cannot run.
std::string RunCommand(const std::string& command);
bool HaveTool(const std::string& name);

// One packet as ffprobe reports it.
struct ProbePacket {
  int64_t dts = 0;
  uint32_t size = 0;
};
// ffprobe -ignore_editlist 1 -show_packets of one stream.
// With `edits`, ffprobe applies the file's edit lists to the times.
std::vector<ProbePacket> ProbePackets(const std::string& path, int stream, bool edits = false);

// A package that serves byte vectors by name and stays installed for the test.
class TestPackage {
 public:
  TestPackage();
  ~TestPackage();
  // Serves `bytes` under `name` and returns the name as a path.
  ov::String Add(const std::string& name, std::vector<uint8_t> bytes);

 private:
  media::MemoryPackage package_;
  media::MediaPackage* previous_;
};

// Deterministic damage: `count` bytes overwritten with values of a simple
// generator seeded by `seed`, at positions from `from` on.
std::vector<uint8_t> Corrupt(std::vector<uint8_t> bytes, uint32_t seed, int count, size_t from);

}  // namespace mediatest
