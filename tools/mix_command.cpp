// ovtool mix SCRIPT OUT.wav|play: runs a small scripted mix through the audio
// mixer and writes the result to a 22050 Hz 16-bit stereo WAV file, or plays
// it on the sound output ("play"). A test instrument: hear what the engine
// does, or compare its output.
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
// mix ends when every command has been applied and nothing plays any more.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/audio_mixer.h"
#include "engine/wave_out_player.h"
#include "media/wav_file.h"
#include "platform/os/thread.h"
#include "tools/tool_command.h"

namespace {

constexpr uint32_t kRate = 22050;
constexpr uint32_t kBlockMs = 10;
constexpr uint32_t kMaxMs = 30 * 60 * 1000;

bool ParseLine(const std::string& line, engine::EngineCommand* c) {
  std::istringstream in(line);
  std::string verb;
  long long time = 0;
  if (!(in >> time >> verb) || time < 0) return false;
  c->timeMs = static_cast<uint32_t>(time);
  long long ch = 0;
  auto word = [&](int32_t* out) {
    long long v = 0;
    if (in >> v) *out = static_cast<int32_t>(v);
  };
  if (verb == "master") {
    c->type = engine::CMD_MASTER_VOLUME;
    word(&c->param1);
    return true;
  }
  if (!(in >> ch) || ch < 0) return false;
  c->channel = static_cast<uint32_t>(ch);
  if (verb == "load") {
    std::string path;
    if (!(in >> path)) return false;
    c->type = engine::CMD_LOAD;
    c->path = ov::String::FromUtf8Lossy(path);
    c->param1 = -1;
    word(&c->param2);
    word(&c->param3);
    word(&c->param4);
  } else if (verb == "play") {
    c->type = engine::CMD_PLAY;
  } else if (verb == "pause") {
    c->type = engine::CMD_PAUSE;
  } else if (verb == "stop") {
    c->type = engine::CMD_STOP;
  } else if (verb == "restart") {
    c->type = engine::CMD_RESTART;
  } else if (verb == "loop" || verb == "noloop") {
    c->type = engine::CMD_SET_LOOP;
    c->flag = verb == "noloop";
  } else if (verb == "seek") {
    c->type = engine::CMD_SEEK;
    word(&c->param1);
  } else if (verb == "volume") {
    c->type = engine::CMD_VOLUME;
    word(&c->param1);
  } else if (verb == "rate") {
    c->type = engine::CMD_SET_RATE;
    word(&c->param1);
  } else if (verb == "echo" || verb == "echo-off") {
    c->type = engine::CMD_ECHO;
    c->flag = verb == "echo-off";
    word(&c->param1);
  } else if (verb == "chorus" || verb == "chorus-off") {
    c->type = engine::CMD_CHORUS;
    c->flag = verb == "chorus-off";
    word(&c->param1);
  } else if (verb == "reverb" || verb == "reverb-off") {
    c->type = engine::CMD_REVERB;
    c->flag = verb == "reverb-off";
    word(&c->param1);
    word(&c->param2);
    word(&c->param3);
    word(&c->param4);
  } else {
    return false;
  }
  return true;
}

int RunMix(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ovtool mix SCRIPT OUT.wav|play\n");
    return 2;
  }
  std::ifstream script(argv[1]);
  if (!script) {
    std::fprintf(stderr, "mix: cannot read %s\n", argv[1]);
    return 1;
  }
  std::vector<engine::EngineCommand> commands;
  std::string line;
  for (int n = 1; std::getline(script, line); ++n) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    engine::EngineCommand c;
    if (!ParseLine(line, &c)) {
      std::fprintf(stderr, "mix: line %d not understood: %s\n", n, line.c_str());
      return 1;
    }
    commands.push_back(c);
  }
  std::stable_sort(commands.begin(), commands.end(),
                   [](const engine::EngineCommand& a, const engine::EngineCommand& b) { return a.timeMs < b.timeMs; });

  const bool play = std::string(argv[2]) == "play";
  engine::AudioMixer mixer(16, kRate, 2);
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
      int r = mixer.ApplyAction(commands[next], 0);
      if (r == 0) std::fprintf(stderr, "mix: command %u at %u ms refused\n", commands[next].type, commands[next].timeMs);
      ++next;
    }
    uint64_t want = (uint64_t{ms} + kBlockMs) * kRate / 1000 - frames;
    uint32_t got = 0;
    mixer.Pull(block.data(), static_cast<uint32_t>(want * 4), &got);
    bool anyLoaded = false;
    for (uint32_t ch = 0; ch < engine::AudioMixer::kChannels; ++ch) anyLoaded |= mixer.IsChannelPlaying(ch);
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
    // Let the last blocks play out before closing.
    uint32_t end = static_cast<uint32_t>(frames * 1000 / kRate);
    while (player->InFlight() > 0 && player->GetPosition() < end) ov::Sleep(10);
    player->Close();
  }
  if (wav) wav->Close();
  std::printf("%llu frames, %.3f s\n", static_cast<unsigned long long>(frames), static_cast<double>(frames) / kRate);
  return 0;
}

}  // namespace

OVTOOL_COMMAND(mix, "mix SCRIPT OUT.wav|play  run a scripted mix through the audio mixer", RunMix);
