#pragma once
// What the render tests share: the shell quoting of their command lines and
// the PCM of a rendered WAV.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/render_queue.h"
#include "media/wav_file.h"
#include "platform/os/environment.h"
#include "platform/os/thread.h"
#include "tests/support/test_paths.h"

namespace rendertest {

inline constexpr char kWav22k[] = "96000,22050,16,2,0,255,1,128000,10,144,176";

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::vector<uint8_t> Pcm(const std::string& wav, media::WavFormat* format = nullptr) {
  media::WavFile f(ov::String::FromUtf8Lossy(wav), ov::kGenericRead, ov::CreateMode::kOpenExisting, {});
  if (f.status != 0) return {};
  if (format) *format = f.format;
  const std::vector<uint8_t> all = ovtest::ReadFileBytes(wav);
  if (f.dataOffset + f.dataSize > all.size()) return {};
  return std::vector<uint8_t>(all.begin() + f.dataOffset, all.begin() + f.dataOffset + f.dataSize);
}

// soxi's answer for one field of `path` ("-r", "-c", "-b"); empty without sox.
inline std::string Soxi(const char* field, const std::string& path) {
  FILE* f = ::popen(("soxi " + std::string(field) + " " + Quote(path) + " 2>/dev/null").c_str(), "r");
  if (!f) return "";
  char line[64] = {};
  const bool got = std::fgets(line, sizeof line, f) != nullptr;
  ::pclose(f);
  std::string s = got ? line : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace rendertest
