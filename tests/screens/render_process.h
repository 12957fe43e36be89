#pragma once
// The render process as the render tests drive it: projects written by
// "ovtool project", the program run in its render mode with no display, and
// the render queue read back.
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

class RenderProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    scope_ = "rp" + std::to_string(ov::GetCurrentProcessId());
    // The children share this name space for the queue and the events.
    ov::SetEnvironmentValue("OVMIX_IPC_SCOPE", scope_);
    ov::SetEnvironmentValue("XDG_DATA_HOME", dir_ + "/data");
    clip_ = ovtest::FixturePath("engine_22k_stereo.wav");
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // "ovtool project OUT 0=CLIP script=..." with the script's lines.
  bool Project(const std::string& name, const std::string& clip, const std::string& script) {
    std::ofstream(Path(name + ".txt")) << script;
    std::string command = std::string(OVMIX_BIN_DIR) + "ovtool project " + Quote(Path(name));
    // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) on " " + string.
    if (!clip.empty()) command.append(" ").append(Quote("0=" + clip));
    command.append(" ").append(Quote("script=" + Path(name + ".txt"))).append(" >/dev/null");
    return std::system(command.c_str()) == 0;
  }
  // The program in render mode without a display; its exit code.
  int Render(const std::vector<std::string>& args, const std::string& background = "") {
    std::string command = "env -u DISPLAY " + std::string(OVMIX_BIN_DIR) + "ovmix";
    for (const std::string& a : args) command.append(" ").append(Quote(a));
    if (!background.empty()) command = background + " & " + command + "; wait";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::vector<std::string> Args(const std::string& project, const std::string& out, const std::string& words) {
    return {"-p\"" + Path(project) + "\"", "-o\"" + Path(out) + "\"", "-e\"" + words + "\""};
  }
  // Every message left in the queue.
  static std::vector<engine::RenderMessage> Drain(engine::RenderQueue& q) {
    std::vector<engine::RenderMessage> all;
    for (engine::RenderMessage m = q.Receive(0); m.kind != engine::kRenderNothing; m = q.Receive(0)) all.push_back(m);
    return all;
  }

  std::string dir_, scope_, clip_;
};

}  // namespace rendertest
