// ovtool mix SCRIPT OUT.wav|play [FRAMES [WxH [FPS]]]: runs a small scripted
// mix through the audio mixer and the video mixer and writes the sound to a
// 22050 Hz 16-bit stereo WAV file, or plays it on the sound output ("play").
// With FRAMES the composed pictures are written too: a raw RGB565
// little-endian stream when FRAMES ends in ".rgb565" (view it with
// ffmpeg -f rawvideo -pix_fmt rgb565le -video_size WxH -framerate FPS), else
// a PNG sequence FRAMES/frame00000.png... (default 176x144 at 15 fps). A test
// instrument: look at and listen to what the engine makes.
//
// Channels 0-15 are sound, 16-31 pictures (video channel + 16). On a picture
// channel "load" takes PATH [START_MS END_MS CROP_WORD] (".raw" caches,
// ".gif", ".jpg", ".bmp", ".png" pictures and the video track of ".3gp",
// ".3gpp", ".3g2", ".mp4", ".mov" files), and these verbs apply:
//   TIME_MS linked CHANNEL PATH AUDIO_CHANNEL [START_MS END_MS CROP_WORD]
//     (a video whose sound, loaded on AUDIO_CHANNEL, follows its pictures)
//   TIME_MS hold CHANNEL | zorder CHANNEL TARGET_CHANNEL
//   TIME_MS slide|blind|fade|sweep CHANNEL DURATION_MS DIRECTION
//   TIME_MS zoom|panzoom CHANNEL DURATION_MS START_RECT END_RECT
//   TIME_MS filter CHANNEL KIND | effect CHANNEL MASK [CACHE]
//   TIME_MS overlay CHANNEL PICTURE [CACHE|- [KEY]]
// An effect's MASK is a ".raw" mask cache or a mask the mixer decodes
// (".qbt"); an overlay lies over the channel's clip, its KEY colour
// (hexadecimal 0x00BBGGRR, magenta unless given) transparent. A CACHE is
// what a replay takes in place of the source.
//
// Script: one command per line, "#" starts a comment:
//   TIME_MS load CHANNEL PATH [START_MS END_MS TEMPO_PER_MILLE]
//   TIME_MS play|pause|stop|restart|loop|noloop CHANNEL
//   TIME_MS seek CHANNEL MS | volume CHANNEL WORD | rate CHANNEL PER_MILLE
//   TIME_MS master WORD
//   TIME_MS echo CHANNEL DELAY_MS | chorus CHANNEL VOICES
//   TIME_MS reverb CHANNEL DELAY_MS VOICES PERCENT STEP_MS
//   TIME_MS echo-off|chorus-off|reverb-off CHANNEL
// Commands are applied before the 10 ms block that starts at their time. The
// mix ends when every command has been applied and nothing plays any more. A
// command that a mixer refuses ends the run with its reason (for a picture,
// the imaging library's) and exit code 1.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/audio_mixer.h"
#include "engine/video_mixer.h"
#include "platform/gfx/bitmap.h"
#include "platform/imaging/image.h"
#include "engine/wave_out_player.h"
#include "media/wav_file.h"
#include "tools/mix_script.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

constexpr uint32_t kRate = 22050;
constexpr uint32_t kBlockMs = 10;
constexpr uint32_t kMaxMs = 30 * 60 * 1000;

bool IsPictureName(const ov::String& path) {
  for (const char16_t* ext : {u".gif", u".jpg", u".bmp", u".png"})
    if (path.EndsWithNoCase(ext)) return true;
  return false;
}

// Why a command was refused, as ": reason", when the tool can tell: for a
// load, the file's problem or the imaging library's verdict on a picture.
std::string RefusalReason(const engine::EngineCommand& c) {
  if (c.type != engine::CMD_LOAD && c.type != engine::CMD_LOAD_IMAGE) return "";
  const std::string path = c.path.ToUtf8Lossy();
  if (const std::string problem = ovtool::InputFileProblem(path); !problem.empty()) return ": " + path + ": " + problem;
  if (IsPictureName(c.path)) {
    imaging::Status status = imaging::Status::kOk;
    const std::unique_ptr<imaging::Image> image = imaging::Image::FromFile(c.path, &status);
    imaging::Picture picture;
    if (image) status = image->Decode(&picture);
    if (status != imaging::Status::kOk) return ": " + path + ": " + imaging::StatusText(status);
  }
  return ": " + path + ": not a clip this channel plays";
}

int RunMix(int argc, char** argv) {
  if (argc < 3 || argc > 6) {
    std::fprintf(stderr, "usage: ovtool mix SCRIPT OUT.wav|play [FRAMES.rgb565|FRAMES_DIR [WxH [FPS]]]\n");
    return 2;
  }
  int frameW = 176, frameH = 144, fps = 15;
  if (argc >= 5 && (std::sscanf(argv[4], "%dx%d", &frameW, &frameH) != 2 || frameW < 2 || frameH < 2 ||
                    frameW > 1920 || frameH > 1088)) {
    std::fprintf(stderr, "mix: bad frame size %s\n", argv[4]);
    return 2;
  }
  if (argc >= 6 && (std::sscanf(argv[5], "%d", &fps) != 1 || fps < 1 || fps > 60)) {
    std::fprintf(stderr, "mix: bad frame rate %s\n", argv[5]);
    return 2;
  }
  const std::string framesOut = argc >= 4 ? argv[3] : "";
  const bool rawFrames = framesOut.size() > 7 && framesOut.substr(framesOut.size() - 7) == ".rgb565";
  std::FILE* rawFile = nullptr;
  if (rawFrames && !(rawFile = std::fopen(framesOut.c_str(), "wb"))) {
    std::fprintf(stderr, "mix: cannot write %s\n", framesOut.c_str());
    return 1;
  }
  if (!ovtool::CheckInputFile("mix", argv[1])) return 1;
  std::vector<engine::EngineCommand> commands;
  std::string error;
  if (!tools::ReadMixScript(argv[1], &commands, &error)) {
    std::fprintf(stderr, "mix: %s\n", error.c_str());
    return 1;
  }
  std::stable_sort(commands.begin(), commands.end(),
                   [](const engine::EngineCommand& a, const engine::EngineCommand& b) { return a.timeMs < b.timeMs; });

  const bool play = std::string(argv[2]) == "play";
  engine::AudioMixer mixer(16, kRate, 2);
  engine::VideoMixer video(frameW, frameH, static_cast<uint32_t>(fps), 0);
  video.SetAudioMixer(&mixer);
  uint32_t framesWritten = 0;
  // Composes the picture at `ms` and writes it out; false when a write fails.
  auto writeFrame = [&](uint32_t ms) {
    video.ComposeFrame(ms);
    std::lock_guard<std::recursive_mutex> lock(video.mutex());
    const engine::Picture565 f = video.frame();
    if (rawFile) {
      std::vector<uint8_t> bytes(size_t(f.width) * size_t(f.height) * 2);
      for (size_t i = 0; i < bytes.size() / 2; ++i) {
        bytes[2 * i] = uint8_t(f.bits[i]);
        bytes[2 * i + 1] = uint8_t(f.bits[i] >> 8);
      }
      if (std::fwrite(bytes.data(), 1, bytes.size(), rawFile) != bytes.size()) return false;
    } else {
      gfx::HBitmap b = gfx::CreateBitmap565(f.width, f.height);
      if (!b) return false;
      for (int32_t y = 0; y < f.height; ++y) std::copy_n(f.Row(y), f.width, b->bits() + y * b->stride());
      char name[32];
      std::snprintf(name, sizeof name, "/frame%05u.png", framesWritten);
      if (!imaging::WritePng(framesOut + name, *b)) return false;
    }
    ++framesWritten;
    return true;
  };
  uint32_t nextFrameMs = 0;
  uint32_t frameIndex = 0;
  std::unique_ptr<media::WavFile> wav;
  std::unique_ptr<engine::WaveOutPlayer> player;
  if (play) {
    player = std::make_unique<engine::WaveOutPlayer>();
    if (!player->Open(16, kRate, 2)) {
      std::fprintf(stderr, "mix: cannot open the sound output\n");
      return 1;
    }
  } else {
    media::WavFormat format;
    format.formatTag = 1;
    format.channels = 2;
    format.samplesPerSecond = kRate;
    format.bitsPerSample = 16;
    format.blockAlign = 4;
    format.averageBytesPerSecond = kRate * 4;
    wav = std::make_unique<media::WavFile>(ov::String::FromUtf8Lossy(argv[2]), ov::kGenericRead | ov::kGenericWrite,
                                           ov::CreateMode::kCreateAlways, format);
    if (wav->status != 0) {
      std::fprintf(stderr, "mix: cannot write %s (error %u)\n", argv[2], wav->status);
      return 1;
    }
  }
  // Whole frames per block: 10 ms of 22050 Hz is 220.5 frames, so blocks
  // alternate between 220 and 221 frames to keep the clock exact.
  std::vector<uint8_t> block(221 * 4);
  std::vector<uint8_t> pending;
  size_t next = 0;
  uint64_t frames = 0;
  for (uint32_t ms = 0; ms < kMaxMs; ms += kBlockMs) {
    while (next < commands.size() && commands[next].timeMs <= ms) {
      const engine::EngineCommand& c = commands[next];
      int r = c.channel >= engine::kFirstVideoChannel ? video.ApplyAction(c, 0) : mixer.ApplyAction(c, 0);
      if (r == 0) {
        std::fprintf(stderr, "mix: command %u at %u ms on channel %u refused%s\n", c.type, c.timeMs, c.channel,
                     RefusalReason(c).c_str());
        return 1;
      }
      ++next;
    }
    uint64_t want = (uint64_t{ms} + kBlockMs) * kRate / 1000 - frames;
    uint32_t got = 0;
    mixer.Pull(block.data(), static_cast<uint32_t>(want * 4), &got);
    bool anyLoaded = false;
    for (uint32_t ch = 0; ch < engine::AudioMixer::kChannels; ++ch) anyLoaded |= mixer.IsChannelPlaying(ch);
    for (uint32_t ch = 0; ch < engine::kVideoChannels; ++ch) anyLoaded |= video.IsChannelPlaying(ch);
    while (!framesOut.empty() && nextFrameMs < ms + kBlockMs) {
      if (!writeFrame(nextFrameMs)) {
        std::fprintf(stderr, "mix: writing frame %u failed\n", framesWritten);
        return 1;
      }
      ++frameIndex;
      nextFrameMs = static_cast<uint32_t>(uint64_t{frameIndex} * 1000 / static_cast<uint32_t>(fps));
    }
    if (got < want * 4) std::fill(block.begin() + got, block.begin() + static_cast<long>(want * 4), 0);
    if (next >= commands.size() && got == 0 && !anyLoaded) break;
    frames += want;
    if (play) {
      // The device is fed 100 ms at a time, as the engine's audio feed does:
      // with two blocks in flight, shorter blocks would let it run dry.
      pending.insert(pending.end(), block.begin(), block.begin() + static_cast<long>(want * 4));
      if (pending.size() >= kRate / 10 * 4) {
        player->Write(pending.data(), static_cast<uint32_t>(pending.size()));
        pending.clear();
      }
    } else {
      uint32_t written = 0;
      if (!wav->Append(block.data(), static_cast<uint32_t>(want * 4), &written)) {
        std::fprintf(stderr, "mix: write failed (error %u)\n", wav->status);
        return 1;
      }
    }
  }
  if (player) {
    if (!pending.empty()) player->Write(pending.data(), static_cast<uint32_t>(pending.size()));
    // The last blocks play out before the device closes: the mix ends when
    // its sound has been played.
    player->Drain(5000);
    player->Close();
  }
  if (wav) wav->Close();
  if (rawFile && std::fclose(rawFile) != 0) {
    std::fprintf(stderr, "mix: writing %s failed\n", framesOut.c_str());
    return 1;
  }
  std::printf("%llu frames, %.3f s\n", static_cast<unsigned long long>(frames), static_cast<double>(frames) / kRate);
  if (!framesOut.empty()) std::printf("%u pictures of %dx%d at %d fps\n", framesWritten, frameW, frameH, fps);
  return 0;
}

}  // namespace

OVTOOL_COMMAND(mix, "mix SCRIPT OUT.wav|play [FRAMES [WxH [FPS]]]  run a scripted mix through both mixers", RunMix);
