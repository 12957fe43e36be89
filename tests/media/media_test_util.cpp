#include "tests/media/media_test_util.h"

#include <cstdio>
#include <memory>
#include <sstream>

namespace mediatest {

ov::String U16(const std::string& text) { return ov::String::FromAscii(text); }

std::string RunCommand(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), pipe.get())) > 0) out.append(buf, n);
  return out;
}

bool HaveTool(const std::string& name) {
  return !RunCommand("command -v " + name + " 2>/dev/null").empty();
}

std::vector<ProbePacket> ProbePackets(const std::string& path, int stream, bool edits) {
  std::vector<ProbePacket> packets;
  std::string out = RunCommand(std::string("ffprobe -v error ") + (edits ? "" : "-ignore_editlist 1 ") +
                               "-select_streams " + std::to_string(stream) +
                               " -show_entries packet=dts,size -of csv=p=0 '" + path + "'");
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    ProbePacket p;
    size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    p.dts = std::stoll(line.substr(0, comma));
    p.size = static_cast<uint32_t>(std::stoul(line.substr(comma + 1)));
    packets.push_back(p);
  }
  return packets;
}

TestPackage::TestPackage() : previous_(media::GetMediaPackage()) { media::SetMediaPackage(&package_); }

TestPackage::~TestPackage() { media::SetMediaPackage(previous_); }

ov::String TestPackage::Add(const std::string& name, std::vector<uint8_t> bytes) {
  ov::String path = U16(name);
  package_.Add(path, std::move(bytes));
  return path;
}

std::vector<uint8_t> Corrupt(std::vector<uint8_t> bytes, uint32_t seed, int count, size_t from) {
  uint32_t state = seed * 2654435761u + 1;
  if (bytes.size() <= from) return bytes;
  for (int i = 0; i < count; ++i) {
    state = state * 1664525u + 1013904223u;
    size_t at = from + (state >> 8) % (bytes.size() - from);
    state = state * 1664525u + 1013904223u;
    bytes[at] = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

}  // namespace mediatest
