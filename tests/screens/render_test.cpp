// Rendering end to end: "ovtool project" writes a project, the program runs
// in its render mode with no display (-p, -o, -e, each value quoted), and
// the render queue carries its progress and result back.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/action_processor.h"
#include "engine/mix_engine.h"
#include "engine/render_queue.h"
#include "tests/screens/render_process.h"
#include "media/wav_file.h"
#include "platform/os/environment.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "screens/project/render_project.h"
#include "screens/project/text_clip.h"
#include "tests/support/test_paths.h"

namespace {

using namespace rendertest;

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
  // The program in render mode without a display; its exit code. `wrap`
  // (when given) is a shell command line that runs the program given as
  // "$@" (a mount of its own, say); `err` gets what it printed on stderr.
  int Render(const std::vector<std::string>& args, const std::string& background = "", std::string* err = nullptr,
             const std::string& wrap = "") {
    std::string command = "env -u DISPLAY " + std::string(OVMIX_BIN_DIR) + "ovmix";
    for (const std::string& a : args) command.append(" ").append(Quote(a));
    if (!wrap.empty()) command = "sh -c " + Quote(wrap) + " sh " + command;
    if (err) command.append(" 2>").append(Quote(Path("stderr.txt")));
    if (!background.empty()) command = background + " & " + command + "; wait";
    const int status = std::system(command.c_str());
    if (err) {
      const std::vector<uint8_t> bytes = ovtest::ReadFileBytes(Path("stderr.txt"));
      err->assign(bytes.begin(), bytes.end());
    }
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

// One clip on at 300 ms and off at 1300 ms, rendered with "ovtool render
// watch" reading: the clip's samples from the first non-zero one, within a
// millisecond of 300 ms, silence elsewhere; rising progress up to 100, then
// one result {2, 1}. Mono: half the bytes, even values only.
TEST_F(RenderProcess, WavRenderEndToEndWithWatch) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  ASSERT_TRUE(Project("m.mix", clip_,
                      "0 master 65535\n300 load 0 " + clip_ + "\n300 play 0\n1300 stop 0\n1500 master 65535\n"));
  const std::vector<uint8_t> clip = Pcm(clip_);
  ASSERT_GE(clip.size(), 88200u);
  for (const bool mono : {false, true}) {
    const char* words = mono ? "96000,22050,16,1,0,255,1,128000,10,144,176" : kWav22k;
    SCOPED_TRACE(words);
    const std::string watch = std::string(OVMIX_BIN_DIR) + "ovtool render watch 30 >" + Quote(Path("watch.txt"));
    EXPECT_EQ(Render(Args("m.mix", "out.wav", words), watch), 0);
    media::WavFormat format;
    const std::vector<uint8_t> pcm = Pcm(Path("out.wav"), &format);
    EXPECT_EQ(format.samplesPerSecond, 22050u);
    EXPECT_EQ(format.channels, mono ? 1 : 2);
    EXPECT_EQ(format.bitsPerSample, 16);
    if (const std::string rate = Soxi("-r", Path("out.wav")); !rate.empty()) {
      EXPECT_EQ(rate, "22050");
      EXPECT_EQ(Soxi("-c", Path("out.wav")), mono ? "1" : "2");
      EXPECT_EQ(Soxi("-b", Path("out.wav")), "16");
    }
    const size_t frame = mono ? 2 : 4;
    ASSERT_EQ(pcm.size(), 33075u * frame);
    size_t first = 0;
    while (first < pcm.size() && pcm[first] == 0) ++first;
    first -= first % frame;
    EXPECT_NEAR(double(first / frame), 6615.0, 22.05);
    const size_t samples = 22050;  // one second on
    for (size_t s = 0; s < pcm.size() / frame; ++s) {
      for (size_t c = 0; c < frame / 2; ++c) {
        int16_t got = 0, want = 0;
        std::memcpy(&got, &pcm[s * frame + 2 * c], 2);
        if (s * frame >= first && s - first / frame < samples) {
          std::memcpy(&want, &clip[(s - first / frame) * 4 + 2 * c], 2);
          if (mono) want = int16_t(want & ~1);
        }
        ASSERT_EQ(got, want) << "sample " << s;
        ASSERT_TRUE(!mono || (got & 1) == 0);
      }
    }
    std::ifstream in(Path("watch.txt"));
    std::string kind;
    int value = 0, last = -1, results = 0;
    while (in >> kind >> value) {
      if (kind == "progress") {
        EXPECT_EQ(results, 0);
        EXPECT_GT(value, last);
        EXPECT_LE(value, 100);
        last = value;
      } else {
        EXPECT_EQ(kind, "result");
        EXPECT_EQ(value, 1);
        ++results;
      }
    }
    EXPECT_EQ(last, 100);
    EXPECT_EQ(results, 1);
  }
}

// A project with start credits, their text clip playing on the picture
// channel of the start credits, renders its sound to WAV (the render keeps
// the picture size and rate of the settings).
TEST_F(RenderProcess, CreditsProjectRendersToWav) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  screens::TextClip credits;
  credits.textString = u"Cast";
  const std::string text = screens::FormatTextClip(credits).ToUtf8Lossy();
  ASSERT_TRUE(Project("c.mix", clip_,
                      "0 load 22 " + text + "\n0 play 22\n0 load 0 " + clip_ + "\n0 play 0\n500 stop 0\n600 stop 22\n"));
  std::string err;
  EXPECT_EQ(Render(Args("c.mix", "c.wav", kWav22k), "", &err), 0);
  EXPECT_EQ(err, "");
  media::WavFormat format;
  const std::vector<uint8_t> pcm = Pcm(Path("c.wav"), &format);
  EXPECT_EQ(pcm.size(), 22050u * 4 * 600 / 1000);
  const std::vector<uint8_t> clip = Pcm(clip_);
  ASSERT_GE(clip.size(), 44100u);
  EXPECT_TRUE(std::equal(clip.begin(), clip.begin() + 44100, pcm.begin())) << "the clip's first half second";
}

// The line a user sees of the program started by hand with the usage it
// prints: the three quoted options, as a shell needs them written.
constexpr char kUsage[] =
    "usage: ovmix -p\"PROJECT.mix\" -o\"OUTPUT.wav\" "
    "-e\"AUDIOBITRATE,RATE,BITS,CHANNELS,SAMPLESPERFRAME,VIDEOCODEC,AUDIOCODEC,VIDEOBITRATE,FPS,HEIGHT,WIDTH\" "
    "(the double quotes belong to the options: quote them for the shell, as in '-p\"x.mix\"')\n";

// A folder of its own for the render, mounted as a small or read-only
// file system in a mount name space of the render alone; empty when this
// machine allows no such name space (the case is skipped then).
std::string MountWrap(const std::string& folder, const std::string& options) {
  static const bool available = std::system("unshare -rm true >/dev/null 2>&1") == 0;
  if (!available) return "";
  return "exec unshare -rm sh -c 'mount -t tmpfs -o " + options + " none " + folder + " && exec \"$0\" \"$@\"' \"$@\"";
}

// Each refusal exits with 0, leaves no output, sends no success, and says
// why in one line on stderr.
TEST_F(RenderProcess, RefusalsLeaveNoOutputAndNoSuccess) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  const std::string script = "0 load 0 " + clip_ + "\n0 play 0\n500 stop 0\n";
  ASSERT_TRUE(Project("good.mix", clip_, script));
  const std::vector<uint8_t> good = ovtest::ReadFileBytes(Path("good.mix"));
  ASSERT_GT(good.size(), 100u);
  {
    std::vector<uint8_t> v111 = good;
    v111[0] = 111;
    std::ofstream(Path("v111.mix"), std::ios::binary).write(reinterpret_cast<const char*>(v111.data()), v111.size());
    std::ofstream(Path("cut.mix"), std::ios::binary)
        .write(reinterpret_cast<const char*>(good.data()), std::streamsize(good.size() - 10));
  }
  // A clip that is gone by the time of the render.
  const std::string moved = Path("moved.wav");
  std::filesystem::copy_file(clip_, moved, std::filesystem::copy_options::overwrite_existing);
  ASSERT_TRUE(Project("missing.mix", moved, "0 load 0 " + moved + "\n0 play 0\n500 stop 0\n"));
  ov::DeleteFile(ov::String::FromUtf8Lossy(moved));
  // A clip the recorded mix loads that is no sound.
  std::ofstream(Path("text.wav")) << "no sound";
  ASSERT_TRUE(Project("text.mix", "", "0 load 0 " + Path("text.wav") + "\n0 play 0\n500 stop 0\n"));
  std::filesystem::create_directories(Path("small"));
  std::filesystem::create_directories(Path("locked"));

  // Command times beyond the longest mix a record holds (six hours), and one
  // at it, which opens for the render: a WAV of it at 48 kHz stereo 16-bit
  // stays under the format's 4 GiB.
  const uint32_t longest = engine::ActionProcessor::kMaxMixMs;
  ASSERT_TRUE(Project("past.mix", clip_, "0 load 0 " + clip_ + "\n0 play 0\n" + std::to_string(longest + 1) + " stop 0\n"));
  ASSERT_TRUE(Project("forged.mix", clip_, "0 load 0 " + clip_ + "\n0 play 0\n4000000000 stop 0\n"));
  // Twenty seconds of sound: a WAV or an MP4 of it is far larger than
  // 64 KiB.
  ASSERT_TRUE(Project("twenty.mix", clip_, "0 load 0 " + clip_ + "\n0 play 0\n20000 stop 0\n"));
  ASSERT_TRUE(Project("longest.mix", clip_, "0 load 0 " + clip_ + "\n0 play 0\n" + std::to_string(longest) + " stop 0\n"));
  {
    engine::MixEngine engine(nullptr, nullptr);
    ASSERT_TRUE(screens::OpenMixForRender(&engine, ov::String::FromUtf8Lossy(Path("longest.mix"))));
    EXPECT_EQ(engine.GetMixDuration(), longest);
    EXPECT_LT(uint64_t{longest} / 1000 * 48000 * 4 + media::WavFile::kHeaderBytes, uint64_t{1} << 32);
    EXPECT_FALSE(screens::OpenMixForRender(&engine, ov::String::FromUtf8Lossy(Path("past.mix"))));
    EXPECT_FALSE(engine.HasActions());
  }

  const std::string out = Path("refused.wav");
  const std::string p = "-p\"" + Path("good.mix") + "\"", o = "-o\"" + out + "\"";
  const std::string e = std::string("-e\"") + kWav22k + "\"";
  struct Case {
    const char* why;
    std::vector<std::string> args;
    std::string line;          // stderr
    std::string wrap = "";    // a mount around the render
    std::string output = "";  // the file that must not be left (empty: `out`)
  } cases[] = {
      {"help", {"--help"}, kUsage},
      {"unquoted, as a shell leaves them",
       {"-p" + Path("good.mix"), "-o" + out, std::string("-e") + kWav22k}, kUsage},
      {"-p missing", {o, e}, kUsage},
      {"-o unclosed", {p, e, "-o\"" + out}, kUsage},
      {"-e short", {p, o, "-e\"96000,22050,16\""},
       "ovmix: -e needs eleven comma-separated numbers from 0 to 4294967295, not \"96000,22050,16\"\n"},
      {"rate 0", {p, o, "-e\"96000,0,16,2,0,255,1,128000,10,144,176\""},
       "ovmix: a sample rate of 0 Hz cannot be rendered (8000 to 48000)\n"},
      {"24 bits", {p, o, "-e\"96000,22050,24,2,0,255,1,128000,10,144,176\""},
       "ovmix: 24 bits per sample cannot be rendered (8 or 16)\n"},
      {"missing project", Args("absent.mix", "refused.wav", kWav22k),
       "ovmix: cannot open the project " + Path("absent.mix") + ": no such file\n"},
      {"a folder as project", Args("small", "refused.wav", kWav22k),
       "ovmix: cannot open the project " + Path("small") + ": a folder, not a file\n"},
      {"version 111", Args("v111.mix", "refused.wav", kWav22k),
       "ovmix: " + Path("v111.mix") + ": the project is of version 111, not 110\n"},
      {"truncated project", Args("cut.mix", "refused.wav", kWav22k),
       "ovmix: " + Path("cut.mix") + ": the project's recorded mix is damaged\n"},
      {"missing clip", Args("missing.mix", "refused.wav", kWav22k),
       "ovmix: " + Path("missing.mix") + ": a clip of the project is missing: " + moved + "\n"},
      {"a clip that is no sound", Args("text.mix", "refused.wav", kWav22k),
       "ovmix: a clip of the mix cannot be read: " + Path("text.wav") + "\n"},
      {"no such output folder", Args("good.mix", "absent/refused.wav", kWav22k),
       "ovmix: cannot create " + Path("absent/refused.wav") + ": the folder does not exist\n", "",
       Path("absent/refused.wav")},
      {"an encoder object that is not installed", Args("good.mix", "refused.mp4", "96000,22050,16,2,0,3,2,128000,10,144,176"),
       "ovmix: no encoder object for video codec 3 is installed\n", "", Path("refused.mp4")},
      {"unknown extension", Args("good.mix", "refused.ogg", kWav22k),
       "ovmix: no export job writes " + Path("refused.ogg") +
           ": the name must end in \".wav\", \".wmv\", \".3gp\", \".mp4\", \".aac\" or \".amr\"\n",
       "", Path("refused.ogg")},
      {"full disk", Args("good.mix", "small/refused.wav", kWav22k),
       "ovmix: writing " + Path("small/refused.wav") + " failed: the disk is full\n",
       MountWrap(Path("small"), "size=16k"), Path("small/refused.wav")},
      {"read-only folder", Args("good.mix", "locked/refused.wav", kWav22k),
       "ovmix: cannot create " + Path("locked/refused.wav") + ": access denied (a read-only place, or a folder)\n",
       MountWrap(Path("locked"), "ro"), Path("locked/refused.wav")},
      // Every output says a read-only place as the WAV job does.
      {"read-only folder, MP4", Args("good.mix", "locked/refused.mp4", "96000,22050,16,2,0,4,2,128000,10,144,176"),
       "ovmix: cannot create " + Path("locked/refused.mp4") + ": access denied (a read-only place, or a folder)\n",
       MountWrap(Path("locked"), "ro"), Path("locked/refused.mp4")},
      {"read-only folder, WMV", Args("good.mix", "locked/refused.wmv", "96000,22050,16,2,0,1,1,100,10,144,176"),
       "ovmix: cannot create " + Path("locked/refused.wmv") + ": access denied (a read-only place, or a folder)\n",
       MountWrap(Path("locked"), "ro"), Path("locked/refused.wmv")},
      // The graph sends the sound with each picture frame: a sound-only
      // output through it needs the picture fields all the same.
      {"AAC without the picture fields", Args("good.mix", "refused.aac", "0,22050,16,2,0,255,2,0,0,0,0"),
       "ovmix: the encoding graph sends its sound frame by frame: frames per second, height and width must not be 0 "
       "(they are 0, 0, 0)\n",
       "", Path("refused.aac")},
      // Past the file-size limit (SIGXFSZ ignored), for each job: the limit
      // is named, not a full disk.
      // (64 KiB: the program's own files and shared objects fit, the output
      // does not.)
      {"file-size limit, WAV", Args("twenty.mix", "refused.wav", kWav22k),
       "ovmix: writing " + out + " failed: the file-size limit is reached\n", "ulimit -f 64; exec \"$@\""},
      {"file-size limit, MP4", Args("twenty.mix", "refused.mp4", "96000,22050,16,2,0,4,2,128000,10,144,176"),
       "ovmix: writing " + Path("refused.mp4") + " failed: the file-size limit is reached\n", "ulimit -f 64; exec \"$@\"",
       Path("refused.mp4")},
      {"a time past the longest mix", Args("past.mix", "refused.wav", kWav22k),
       "ovmix: " + Path("past.mix") + ": the project's recorded mix is damaged\n"},
      {"a forged time", Args("forged.mix", "refused.wav", kWav22k),
       "ovmix: " + Path("forged.mix") + ": the project's recorded mix is damaged\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    if (std::string(c.why) == "full disk" || std::string(c.why).rfind("read-only folder", 0) == 0) {
      if (c.wrap.empty()) {
        std::fprintf(stderr, "skipped \"%s\": no mount name space here\n", c.why);
        continue;
      }
    }
    engine::RenderQueue reader(true);
    std::string err;
    EXPECT_EQ(Render(c.args, "", &err, c.wrap), 0);
    EXPECT_EQ(err, c.line);
    EXPECT_FALSE(ov::FileExists(ov::String::FromUtf8Lossy(c.output.empty() ? out : c.output)));
    for (const engine::RenderMessage& m : Drain(reader)) {
      EXPECT_FALSE(m.kind == engine::kRenderResult && m.value != 0);
    }
  }
}

// Under a file-size limit, with no editing process holding the render
// queue (a render started by hand), every output either renders whole or
// fails with its reason and leaves nothing: at 8 and 32 KiB the queue's
// shared memory cannot be sized (exit 1: no reader learns the result); at
// 64 KiB an output larger than that fails, naming the limit; just above the
// file's size (and at least 64 KiB) the render is the one without a limit.
TEST_F(RenderProcess, FileSizeLimitsFailEveryOutputWithItsReasonOrRenderWhole) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  ASSERT_TRUE(Project("three.mix", clip_, "0 load 0 " + clip_ + "\n0 loop 0\n0 play 0\n3000 stop 0\n"));
  const char* const outputs[][2] = {
      {"limit.mp4", "96000,22050,16,2,0,4,2,256000,10,144,176"},
      {"limit.3gp", "12200,8000,16,1,0,2,3,128000,10,144,176"},
      {"limit.wmv", "96000,22050,16,2,0,1,1,100,10,144,176"},
      {"limit.aac", "96000,22050,16,2,0,255,2,128000,10,144,176"},
      {"limit.amr", "12200,8000,16,1,0,255,3,128000,10,144,176"},
      {"limit.wav", kWav22k},
  };
  for (const auto& [name, words] : outputs) {
    SCOPED_TRACE(name);
    const std::string out = Path(name);
    const ov::String out16 = ov::String::FromUtf8Lossy(out);
    std::string err;
    ASSERT_EQ(Render(Args("three.mix", name, words), "", &err), 0);
    ASSERT_EQ(err, "");
    ov::FindData info;
    ASSERT_TRUE(ov::GetFileInfo(out16, &info));
    const uint64_t size = info.size;
    ov::DeleteFile(out16);
    // (sh counts ulimit -f in 512-byte blocks.)
    const uint64_t above = std::max<uint64_t>(size / 512 + 2, 128);
    for (const uint64_t blocks : {uint64_t{16}, uint64_t{64}, uint64_t{128}, above}) {
      if (blocks == above && above == 128) continue;  // the 64 KiB row was it
      SCOPED_TRACE(std::to_string(blocks * 512) + " bytes of file-size limit for a file of " + std::to_string(size));
      const int code = Render(Args("three.mix", name, words), "", &err, "ulimit -f " + std::to_string(blocks) + "; exec \"$@\"");
      if (blocks < 128) {
        EXPECT_EQ(code, 1);
        EXPECT_EQ(err, "ovmix: cannot render " + out + ": the render queue cannot be made: the file-size limit is reached\n");
      } else if (blocks * 512 < size) {
        EXPECT_EQ(code, 0);
        EXPECT_EQ(err, "ovmix: writing " + out + " failed: the file-size limit is reached\n");
      } else {
        EXPECT_EQ(code, 0);
        EXPECT_EQ(err, "");
        ASSERT_TRUE(ov::GetFileInfo(out16, &info));
        EXPECT_EQ(info.size, size);
        ov::DeleteFile(out16);
        continue;
      }
      EXPECT_FALSE(ov::FileExists(out16));
    }
  }
}

// With the editing process holding the queue, a limit of 512 bytes leaves
// the render's own named events unmade: the render is refused with that
// reason, before any file, and the reader gets the failure.
TEST_F(RenderProcess, EventsThatCannotBeMadeRefuseTheRender) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  ASSERT_TRUE(Project("three.mix", clip_, "0 load 0 " + clip_ + "\n0 loop 0\n0 play 0\n3000 stop 0\n"));
  engine::RenderQueue reader(true);
  ASSERT_TRUE(reader.IsOpen());
  struct {
    const char* name;
    const char* words;
    const char* events;
  } cases[] = {{"tiny.wav", kWav22k, "its cancel event"},
               {"tiny.mp4", "96000,22050,16,2,0,4,2,256000,10,144,176", "its steering events"},
               {"tiny.wmv", "96000,22050,16,2,0,1,1,100,10,144,176", "its steering events"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string err;
    EXPECT_EQ(Render(Args("three.mix", c.name, c.words), "", &err, "ulimit -f 1; exec \"$@\""), 0);
    EXPECT_EQ(err, "ovmix: cannot render " + Path(c.name) + ": " + c.events + " cannot be made: the file-size limit is reached\n");
    EXPECT_FALSE(ov::FileExists(ov::String::FromUtf8Lossy(Path(c.name))));
    const std::vector<engine::RenderMessage> all = Drain(reader);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().kind, engine::kRenderResult);
    EXPECT_EQ(all.back().value, 0);
  }
}

// A render whose progress the queue cannot take (the reader holds it full)
// ends once the write times out: its file deleted, the reason printed and
// exit 1, since no result reaches the reader.
TEST_F(RenderProcess, AQueueThatTakesNoMoreEndsTheRenderWithoutItsFile) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  ASSERT_TRUE(Project("three.mix", clip_, "0 load 0 " + clip_ + "\n0 loop 0\n0 play 0\n3000 stop 0\n"));
  engine::RenderQueue reader(true), filler(false);
  ASSERT_TRUE(reader.IsOpen() && filler.IsOpen());
  for (uint32_t i = 0; i < ov::kUnlimitedMessages; ++i) filler.SendResult(true);
  for (const auto& [name, words] : {std::pair{"full.wav", kWav22k},
                                    std::pair{"full.mp4", "96000,22050,16,2,0,4,2,256000,10,144,176"}}) {
    SCOPED_TRACE(name);
    std::string err;
    EXPECT_EQ(Render(Args("three.mix", name, words), "", &err), 1);
    EXPECT_EQ(err, "ovmix: the render of " + Path(name) + " cannot report to the render queue: the time-out elapsed\n");
    EXPECT_FALSE(ov::FileExists(ov::String::FromUtf8Lossy(Path(name))));
  }
}

// "ovtool render cancel" ends a render of the longest mix (six hours) at
// its first percent: the file is deleted and the result is still {2, 1}.
TEST_F(RenderProcess, CancelEndsALongRenderAndDeletesTheFile) {
  ASSERT_TRUE(Project("long.mix", "", "0 master 65535\n21600000 master 65535\n"));
  engine::RenderQueue reader(true);
  const std::string cancel = std::string("(").append(OVMIX_BIN_DIR).append("ovtool render watch 30 | grep -m1 -q 'progress [1-9]'; ")
                                 .append(OVMIX_BIN_DIR).append("ovtool render cancel)");
  EXPECT_EQ(Render(Args("long.mix", "long.wav", "96000,8000,8,1,0,255,1,128000,10,0,0"), cancel), 0);
  EXPECT_FALSE(ov::FileExists(ov::String::FromUtf8Lossy(Path("long.wav"))));
  int last = -1;
  bool ok = false;
  for (const engine::RenderMessage& m : Drain(reader)) {
    if (m.kind == engine::kRenderProgress) last = m.value;
    if (m.kind == engine::kRenderResult) ok = m.value == 1;
  }
  EXPECT_TRUE(ok);
  EXPECT_LT(last, 50);
}

// pause and restart set their events (held open here: a named event lives
// while a process holds it); a WAV render goes on regardless.
TEST_F(RenderProcess, PauseAndRestartSetTheirEventsAndWavGoesOn) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  ov::Event pause, restart;
  ASSERT_TRUE(pause.Create(true, false, u"Pause Encoding"));
  ASSERT_TRUE(restart.Create(true, false, u"Restart Encoding"));
  for (const char* verb : {"pause", "restart"}) {
    ASSERT_EQ(std::system((std::string(OVMIX_BIN_DIR) + "ovtool render " + verb).c_str()), 0);
  }
  EXPECT_EQ(pause.Wait(0), ov::kWaitObject0);
  EXPECT_EQ(restart.Wait(0), ov::kWaitObject0);
  restart.Reset();
  ASSERT_TRUE(Project("p.mix", clip_, "0 load 0 " + clip_ + "\n0 play 0\n500 stop 0\n"));
  engine::RenderQueue reader(true);
  EXPECT_EQ(Render(Args("p.mix", "p.wav", kWav22k)), 0);
  EXPECT_EQ(Pcm(Path("p.wav")).size(), 44100u);
  const std::vector<engine::RenderMessage> all = Drain(reader);
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back().kind, engine::kRenderResult);
  EXPECT_EQ(all.back().value, 1);
}

}  // namespace
