// Export jobs: the frame step over a recorded list, the WAV export, the
// render queue and MixEngine::Export.
#include "engine/export_job.h"
#include "tests/engine/recorded_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "engine/action_processor.h"
#include "engine/mix_engine.h"
#include "media/wav_file.h"
#include "platform/os/environment.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "platform/os/message_queue.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/test_paths.h"

namespace {

using engine::EngineCommand;
using engine::ExportSettings;

EngineCommand Cmd(uint32_t time, uint32_t type, uint32_t channel, const std::string& path = "", int32_t p1 = 0,
                  uint32_t flag = 0) {
  EngineCommand c;
  c.timeMs = time;
  c.type = type;
  c.channel = channel;
  c.path = ov::String::FromUtf8Lossy(path);
  c.param1 = p1;
  c.flag = flag;
  return c;
}

using ovtest::EngineWith;

ExportSettings Wav(uint32_t channels = 2, uint32_t fps = 10, uint32_t w = 176, uint32_t h = 144) {
  return ExportSettings{96000, 22050, 16, channels, 0, engine::kCodecNone, engine::kAudioCodecWma, 128000, fps, h, w};
}

std::vector<uint8_t> Pcm(const std::string& wav) {
  media::WavFile f(ov::String::FromUtf8Lossy(wav), ov::kGenericRead, ov::CreateMode::kOpenExisting, {});
  EXPECT_EQ(f.status, 0u) << wav;
  std::vector<uint8_t> all = ovtest::ReadFileBytes(wav);
  if (f.status != 0 || f.dataOffset + f.dataSize > all.size()) return {};
  return std::vector<uint8_t>(all.begin() + f.dataOffset, all.begin() + f.dataOffset + f.dataSize);
}

class ExportJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ov::SetEnvironmentValue("OVMIX_IPC_SCOPE", "ej" + std::to_string(ov::GetCurrentProcessId()));
    dir_ = ovtest::ScratchDir();
    clip_ = ovtest::FixturePath("engine_22k_stereo.wav");
  }
  std::string Out(const char* name) const { return dir_ + "/" + name; }
  int Encode(engine::MixEngine* e, const std::string& out, const ExportSettings& s) {
    auto job = engine::CreateExportJob(e, ov::String::FromUtf8Lossy(out));
    if (!job) return -1;
    job->SetExportParams(s);
    return job->Encode();
  }
  std::string dir_, clip_;
};

TEST_F(ExportJobTest, JobByExtensionAnyCase) {
  engine::MixEngine e(nullptr, nullptr);
  struct Case {
    const char16_t* path;
    const char* kind;
  } cases[] = {{u"a.WMV", "asf"}, {u"a.3gp", "dmo"}, {u"a.Mp4", "dmo"}, {u"a.aac", "dmo"}, {u"a.amr", "dmo"},
               {u"a.wav", "wav"}, {u"a.ogg", ""},   {u".wav", ""},     {u"a.wav2", ""}};
  for (const Case& c : cases) {
    auto job = engine::CreateExportJob(&e, c.path);
    const char* kind = !job                                                 ? ""
                       : dynamic_cast<engine::AsfExportJob*>(job.get())     ? "asf"
                       : dynamic_cast<engine::DmoExportJob*>(job.get())     ? "dmo"
                       : dynamic_cast<engine::WavExportJob*>(job.get())     ? "wav"
                                                                            : "?";
    EXPECT_STREQ(kind, c.kind) << ov::String(c.path).ToUtf8Lossy();
  }
}

// One clip switched on and off: the file holds silence, then the clip's
// start to the sample, then silence. Each command takes effect at its own
// sample, round(time x rate / 1000), also inside a frame (1003 ms at 15
// frames/s), and the file ends at the mix's last command to the sample. A
// mono file keeps the left samples with their lowest bit cleared.
TEST_F(ExportJobTest, WavHoldsTheClipWhileOnInStereoAndMono) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  const std::vector<uint8_t> clip = Pcm(clip_);
  ASSERT_GE(clip.size(), 88200u);
  struct Case {
    uint32_t fps, on_ms, off_ms, end_ms;
    size_t on, off, end;  // samples
  } cases[] = {{10, 300, 1300, 1500, 6615, 28665, 33075}, {15, 1003, 2011, 2600, 22116, 44343, 57330}};
  for (const Case& t : cases) {
    for (uint32_t channels : {2u, 1u}) {
      SCOPED_TRACE(testing::Message() << t.fps << " fps, " << channels << " channels");
      auto e = EngineWith({Cmd(0, engine::CMD_MASTER_VOLUME, 0, "", 65535), Cmd(t.on_ms, engine::CMD_LOAD, 0, clip_),
                           Cmd(t.on_ms, engine::CMD_PLAY, 0), Cmd(t.off_ms, engine::CMD_STOP, 0),
                           Cmd(t.end_ms, engine::CMD_MASTER_VOLUME, 0, "", 65535)});
      const std::string out = Out("clip.wav");
      ASSERT_EQ(Encode(e.get(), out, Wav(channels, t.fps)), 1);
      media::WavFile f(ov::String::FromUtf8Lossy(out), ov::kGenericRead, ov::CreateMode::kOpenExisting, {});
      EXPECT_EQ(f.format.channels, channels);
      EXPECT_EQ(f.format.samplesPerSecond, 22050u);
      EXPECT_EQ(f.format.bitsPerSample, 16);
      EXPECT_EQ(f.format.blockAlign, 2 * channels);
      // The format chunk as stored: rate at 24, byte rate at 28 (rate x
      // channels x 2 bytes), block align at 32.
      const std::vector<uint8_t> file = ovtest::ReadFileBytes(out);
      ASSERT_GE(file.size(), 44u);
      auto word = [&](size_t at) {
        return uint32_t(file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24);
      };
      EXPECT_EQ(word(24), 22050u);
      EXPECT_EQ(word(28), 22050u * channels * 2);
      EXPECT_EQ(file[32] | file[33] << 8, int(2 * channels));
      const std::vector<uint8_t> pcm = Pcm(out);
      const size_t frame = 2 * channels;
      ASSERT_EQ(pcm.size(), t.end * frame);
      const size_t on = t.on * frame, off = t.off * frame;
      for (size_t i = 0; i < pcm.size(); ++i) {
        if (i >= on && i < off) continue;
        ASSERT_EQ(pcm[i], 0) << "byte " << i;
      }
      for (size_t s = 0; s < (off - on) / frame; ++s) {
        for (size_t c = 0; c < channels; ++c) {
          int16_t want = 0, got = 0;
          std::memcpy(&want, &clip[4 * s + 2 * c], 2);
          std::memcpy(&got, &pcm[on + frame * s + 2 * c], 2);
          if (channels == 1) want = int16_t(want & ~1);
          ASSERT_EQ(got, want) << "sample " << s << " channel " << c;
        }
      }
    }
  }
}

// The frame grid: frame k starts at round(k x 1000 / fps) ms and carries the
// samples from round(k x rate / fps) to round((k + 1) x rate / fps), so a
// 20 s mix is exactly fps x 20 frames and 20 s of sound, at rates and frame
// rates that do not divide each other.
TEST_F(ExportJobTest, FramesLieOnTheGridAndCarryTheirExactSound) {
  struct Case {
    uint32_t rate, fps;
  } cases[] = {{22050, 15}, {8000, 15}, {44100, 7}, {48000, 25}, {11025, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.fps << " fps");
    auto e = EngineWith({Cmd(0, engine::CMD_NOP, 0), Cmd(20000, engine::CMD_NOP, 0)});
    ovtest::PulledDmoJob job(e.get(), ov::String::FromUtf8Lossy(Out("grid.3gp")));
    ExportSettings s = Wav(2, c.fps);
    s.sampleRate = c.rate;
    job.SetExportParams(s);
    ASSERT_TRUE(job.Start());
    uint64_t frames = 0, samples = 0;
    for (;;) {
      uint8_t* audio = nullptr;
      uint32_t bytes = 0, time = 0;
      if (job.RenderNextFrame(nullptr, &audio, &bytes, &time) == 0) break;
      ::operator delete(audio);
      const uint64_t k = frames++;
      ASSERT_EQ(time, (2 * k * 1000 + c.fps) / (2 * c.fps)) << "frame " << k;
      const uint64_t first = (2 * k * c.rate + c.fps) / (2 * c.fps), next = (2 * (k + 1) * c.rate + c.fps) / (2 * c.fps);
      ASSERT_EQ(bytes, 4 * (next - first)) << "frame " << k;
      samples += bytes / 4;
    }
    EXPECT_EQ(frames, 20u * c.fps);
    EXPECT_EQ(samples, 20u * c.rate);
  }
}

// A video's pictures linked to its sound channel (the mixer's own way of
// playing a video with sound) show, frame by frame, the very frames that the
// same clip loaded on a picture channel of its own shows: the linked picture
// follows the sound mixed up to the frame's start, never a frame ahead. A
// clip started between two frames shows from the next frame on, both ways.
// The clips are ffmpeg's moving test picture, a new picture every frame.
TEST_F(ExportJobTest, LinkedPictureShowsTheFramesOfASeparateLoad) {
  constexpr uint32_t kW = 176, kH = 144, kMixMs = 2500;
  // Every frame of a render of `list`, as composed.
  const auto render = [this](const std::vector<EngineCommand>& list, uint32_t fps, uint32_t rate) {
    auto e = EngineWith(list);
    ovtest::PulledDmoJob job(e.get(), ov::String::FromUtf8Lossy(Out("linked.mp4")));
    ExportSettings s = Wav(2, fps, kW, kH);
    s.videoCodec = engine::kVideoCodecMpeg4;
    s.sampleRate = rate;
    job.SetExportParams(s);
    std::vector<std::vector<uint8_t>> frames;
    if (!job.Start()) return frames;
    std::vector<uint8_t> frame(kW * kH * 2);
    job.PullFrames(frame, [&] {
      frames.push_back(frame);
      return true;
    });
    return frames;
  };
  const char* clips[] = {"engine_mpeg4_aac44_25.mp4", "engine_h264_aac48_30.mp4"};
  for (const char* name : clips) {
    const std::string clip = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(clip);
    for (uint32_t start : {0u, 50u}) {
      const std::vector<EngineCommand> separate = {
          Cmd(start, engine::CMD_LOAD, 0, clip), Cmd(start, engine::CMD_LOAD, 16, clip, -1),
          Cmd(start, engine::CMD_PLAY, 0),       Cmd(start, engine::CMD_PLAY, 16),
          Cmd(kMixMs, engine::CMD_STOP, 0),      Cmd(kMixMs, engine::CMD_STOP, 16)};
      const std::vector<EngineCommand> linked = {Cmd(start, engine::CMD_LOAD, 0, clip),
                                                 Cmd(start, engine::CMD_LOAD, 16, clip, 0),
                                                 Cmd(start, engine::CMD_PLAY, 16), Cmd(kMixMs, engine::CMD_STOP, 16)};
      for (uint32_t fps : {10u, 15u, 25u}) {
        for (uint32_t rate : {8000u, 22050u, 44100u, 48000u}) {
          SCOPED_TRACE(testing::Message() << name << " from " << start << " ms, " << fps << " fps, " << rate << " Hz");
          const auto want = render(separate, fps, rate), got = render(linked, fps, rate);
          ASSERT_EQ(got.size(), want.size());
          ASSERT_GE(want.size(), size_t(fps) * 2);
          // The pictures move: each frame differs from the one before.
          for (size_t k = 2; k < want.size(); ++k) ASSERT_NE(want[k], want[k - 1]) << "frame " << k;
          // A clip started after frame 0's time is not in frame 0.
          const bool clipInFirst = std::any_of(want[0].begin(), want[0].end(), [](uint8_t b) { return b != 0; });
          EXPECT_EQ(clipInFirst, start == 0);
          for (size_t k = 0; k < want.size(); ++k) ASSERT_EQ(got[k], want[k]) << "frame " << k;
        }
      }
    }
  }
}

// An echo switched off live stays off in the render: the flag comes with
// the stored record.
TEST_F(ExportJobTest, EffectSwitchedOffStaysOff) {
  OV_SKIP_WITHOUT_FIXTURE(clip_);
  const std::vector<uint8_t> clip = Pcm(clip_);
  auto e = EngineWith({Cmd(0, engine::CMD_LOAD, 0, clip_), Cmd(0, engine::CMD_PLAY, 0),
                       Cmd(0, engine::CMD_ECHO, 0, "", 200), Cmd(0, engine::CMD_ECHO, 0, "", 200, 1),
                       Cmd(1000, engine::CMD_STOP, 0)});
  const std::string out = Out("echo.wav");
  ASSERT_EQ(Encode(e.get(), out, Wav()), 1);
  const std::vector<uint8_t> pcm = Pcm(out);
  ASSERT_EQ(pcm.size(), 88200u);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), clip.begin()));
}

// Only an unknown code or a clip that cannot be opened fails the render; an
// effect on an empty channel, or a picture command with no picture asked, does
// nothing. A failed render leaves no file and sets the failure event.
TEST_F(ExportJobTest, WhatFailsARender) {
  struct Case {
    const char* name;
    EngineCommand command;
    ExportSettings settings;
    int result;
  } cases[] = {
      {"unknown code", Cmd(0, 77, 0), Wav(), 0},
      {"missing clip", Cmd(0, engine::CMD_LOAD, 0, dir_ + "/none.wav"), Wav(), 0},
      {"missing picture", Cmd(0, engine::CMD_LOAD, 16, dir_ + "/none.png"), Wav(), 0},
      {"echo on an empty channel", Cmd(0, engine::CMD_ECHO, 3, "", 100), Wav(), 1},
      {"volume on an empty channel", Cmd(0, engine::CMD_VOLUME, 5, "", 100), Wav(), 1},
      {"picture command without a picture", Cmd(0, engine::CMD_LOAD, 16, dir_ + "/none.png"), Wav(2, 0), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ov::Event failed;
    ASSERT_TRUE(failed.Create(true, false, engine::kEncodingFailedEvent));
    failed.Reset();
    auto e = EngineWith({c.command, Cmd(500, engine::CMD_NOP, 0)});
    const std::string out = Out("fails.wav");
    EXPECT_EQ(Encode(e.get(), out, c.settings), c.result);
    EXPECT_EQ(ov::FileExists(ov::String::FromUtf8Lossy(out)), c.result == 1);
    EXPECT_EQ(failed.Wait(0) == ov::kWaitObject0, c.result == 0);
  }
}

// A command every millisecond cuts the frame into steps of 11 or 12 samples
// (11025 Hz): the steps must fill the frame's block exactly, never past it
// (ASan watches).
TEST_F(ExportJobTest, CommandEveryMillisecondFitsTheBlock) {
  std::vector<EngineCommand> list;
  for (uint32_t t = 0; t < 250; ++t) list.push_back(Cmd(t, engine::CMD_MASTER_VOLUME, 0, "", 65535));
  auto e = EngineWith(list);
  ExportSettings s = Wav();
  s.sampleRate = 11025;
  s.bitsPerSample = 8;
  ASSERT_EQ(Encode(e.get(), Out("ms.wav"), s), 1);
  // Two whole frames (the third, holding the last command, ends the mix),
  // 200 ms of 11025 Hz 8-bit stereo, silent at 0x80.
  const std::vector<uint8_t> pcm = Pcm(Out("ms.wav"));
  EXPECT_EQ(pcm.size(), 2205u * 2u);
  EXPECT_TRUE(std::all_of(pcm.begin(), pcm.end(), [](uint8_t b) { return b == 0x80; }));
}

// The picture branch composes the frame at its start into the caller's
// buffer, as the video mixer itself composes it; a missing buffer fails.
TEST_F(ExportJobTest, FrameComposesIntoTheCallersBuffer) {
  const std::string picture = ovtest::FixturePath("gfx_gray.jpg");
  OV_SKIP_WITHOUT_FIXTURE(picture);
  const std::vector<EngineCommand> list = {Cmd(0, engine::CMD_LOAD, 16, picture), Cmd(0, engine::CMD_PLAY, 16),
                                           Cmd(300, engine::CMD_STOP, 16)};
  ExportSettings s = Wav(2, 10, 32, 24);
  s.videoCodec = engine::kVideoCodecMpeg4;

  engine::VideoMixer reference(32, 24, 10, 0);
  for (const EngineCommand& c : list) {
    if (c.timeMs == 0) {
      ASSERT_EQ(reference.ApplyAction(c, 0), 1);
    }
  }
  reference.ComposeFrame(0);
  const engine::Picture565 want = reference.frame();
  ASSERT_TRUE(std::any_of(want.bits, want.bits + 32 * 24, [](uint16_t p) { return p != 0; }));

  auto e = EngineWith(list);
  ovtest::PulledDmoJob job(e.get(), ov::String::FromUtf8Lossy(Out("pic.mp4")));
  job.SetExportParams(s);
  ASSERT_TRUE(job.Start());
  std::vector<uint8_t> frame(32 * 24 * 2, 0xAA);
  uint8_t* video = frame.data();
  uint8_t* audio = nullptr;
  uint32_t bytes = 0, time = 99;
  ASSERT_EQ(job.RenderNextFrame(&video, &audio, &bytes, &time), 1);
  EXPECT_EQ(time, 0u);
  EXPECT_EQ(bytes, 8820u);
  ::operator delete(audio);
  EXPECT_EQ(std::memcmp(frame.data(), want.bits, frame.size()), 0);

  uint8_t* none = nullptr;
  EXPECT_EQ(job.RenderNextFrame(&none, &audio, &bytes, &time), 0);
  EXPECT_TRUE(job.failed());
  EXPECT_EQ(audio, nullptr);
}

TEST_F(ExportJobTest, EmptyListEndsAtTheFirstFrame) {
  auto e = EngineWith({});
  ovtest::PulledDmoJob job(e.get(), ov::String::FromUtf8Lossy(Out("empty.3gp")));
  job.SetExportParams(Wav());
  ASSERT_TRUE(job.Start());
  uint8_t* audio = nullptr;
  uint32_t bytes = 7, time = 0;
  EXPECT_EQ(job.RenderNextFrame(nullptr, &audio, &bytes, &time), 0);
  EXPECT_EQ(audio, nullptr);
  EXPECT_EQ(bytes, 0u);
}

TEST_F(ExportJobTest, QueueSendsAChangedPercentOnceAndReadsNothingAsKindZero) {
  engine::RenderQueue reader(true);
  engine::RenderQueue writer(false);
  ASSERT_TRUE(reader.IsOpen() && writer.IsOpen());
  EXPECT_EQ(reader.Receive(0).kind, engine::kRenderNothing);
  writer.SendProgress(5);
  writer.SendProgress(5);
  writer.SendProgress(6);
  writer.SendResult(true);
  const engine::RenderMessage a = reader.Receive(0), b = reader.Receive(0), c = reader.Receive(0);
  EXPECT_EQ(a.kind, engine::kRenderProgress);
  EXPECT_EQ(a.value, 5);
  EXPECT_EQ(b.value, 6);
  EXPECT_EQ(c.kind, engine::kRenderResult);
  EXPECT_EQ(c.value, 1);
  EXPECT_EQ(reader.Receive(0).kind, engine::kRenderNothing);
}

// Export sends rising progress, at most 100, then its result; a cancel
// (the named event, as the editing process sets it) ends a long export early,
// deletes the file and still reports success.
TEST_F(ExportJobTest, ExportReportsAndCancelDeletesTheFile) {
  engine::RenderQueue reader(true);
  {
    auto e = EngineWith({Cmd(0, engine::CMD_NOP, 0), Cmd(2000, engine::CMD_NOP, 0)});
    ASSERT_TRUE(e->Export(ov::String::FromUtf8Lossy(Out("short.wav")), Wav()));
    int last = -1;
    for (;;) {
      const engine::RenderMessage m = reader.Receive(0);
      ASSERT_NE(m.kind, engine::kRenderNothing);
      if (m.kind == engine::kRenderResult) {
        EXPECT_EQ(m.value, 1);
        break;
      }
      EXPECT_GT(int(m.value), last);
      EXPECT_LE(m.value, 100);
      last = m.value;
    }
    EXPECT_EQ(last, 100);
  }
  // The longest mix, six hours: only a cancel ends it within the test's time.
  auto e = EngineWith({Cmd(0, engine::CMD_NOP, 0), Cmd(engine::ActionProcessor::kMaxMixMs, engine::CMD_NOP, 0)});
  const ov::String out = ov::String::FromUtf8Lossy(Out("long.wav"));
  std::thread canceller([&] {
    while (reader.Receive(ov::kInfinite).kind != engine::kRenderProgress) {
    }
    engine::MixEngine editing(nullptr, nullptr);
    editing.CancelEncoding();
  });
  EXPECT_TRUE(e->Export(out, Wav()));
  canceller.join();
  EXPECT_FALSE(ov::FileExists(out));
  engine::RenderMessage m;
  do m = reader.Receive(0);
  while (m.kind == engine::kRenderProgress);
  EXPECT_EQ(m.kind, engine::kRenderResult);
  EXPECT_EQ(m.value, 1);
}

// The WAV job's own progress stays below 100: its file is complete only
// after the close writes the pad byte and the final RIFF size. The 100
// comes from Export once the job has returned, before the result.
TEST_F(ExportJobTest, WavProgressIsBelowHundredUntilTheFileIsComplete) {
  engine::RenderQueue reader(true);
  auto e = EngineWith({Cmd(0, engine::CMD_NOP, 0), Cmd(1100, engine::CMD_NOP, 0)});
  ExportSettings s = Wav(1);
  s.bitsPerSample = 8;  // 2205 bytes a frame: an odd data size, and a pad byte
  const std::string out = Out("progress.wav");
  ASSERT_EQ(Encode(e.get(), out, s), 1);
  int last = -1;
  for (engine::RenderMessage m = reader.Receive(0); m.kind != engine::kRenderNothing; m = reader.Receive(0)) {
    ASSERT_EQ(m.kind, engine::kRenderProgress);
    EXPECT_LT(m.value, 100);
    last = m.value;
  }
  EXPECT_EQ(last, 99);
  ASSERT_TRUE(e->Export(ov::String::FromUtf8Lossy(out), s));
  std::vector<engine::RenderMessage> all;
  for (engine::RenderMessage m = reader.Receive(0); m.kind != engine::kRenderNothing; m = reader.Receive(0)) all.push_back(m);
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[all.size() - 2].kind, engine::kRenderProgress);
  EXPECT_EQ(all[all.size() - 2].value, 100);
  EXPECT_EQ(all.back().kind, engine::kRenderResult);
  const std::vector<uint8_t> file = ovtest::ReadFileBytes(out);
  ASSERT_EQ(file.size(), 44u + 24255u + 1u);
  EXPECT_EQ(file[4] | file[5] << 8 | file[6] << 16, int(file.size() - 8));
}

// A queue that takes the progress but not the result: the render fails,
// its file is deleted and the result counts as lost (the render process's
// exit code 1).
TEST_F(ExportJobTest, AResultTheQueueCannotTakeFailsTheRenderWithoutItsFile) {
  engine::RenderQueue reader(true), filler(false);
  auto e = EngineWith({Cmd(0, engine::CMD_NOP, 0), Cmd(300, engine::CMD_NOP, 0)});
  const ov::String out = ov::String::FromUtf8Lossy(Out("lost.wav"));
  ASSERT_TRUE(e->Export(out, Wav()));
  uint32_t progress = 0;
  for (engine::RenderMessage m = reader.Receive(0); m.kind != engine::kRenderNothing; m = reader.Receive(0)) {
    if (m.kind == engine::kRenderProgress) ++progress;
  }
  ASSERT_GT(progress, 0u);
  // Room for exactly that progress.
  for (uint32_t i = 0; i < ov::kUnlimitedMessages - progress; ++i) ASSERT_TRUE(filler.SendResult(true));
  EXPECT_FALSE(engine::RenderQueue::ResultLost());
  ov::String why;
  EXPECT_FALSE(e->Export(out, Wav(), &why));
  EXPECT_TRUE(engine::RenderQueue::ResultLost());
  EXPECT_FALSE(ov::FileExists(out));
  EXPECT_EQ(why.ToUtf8Lossy(), "the render of " + Out("lost.wav") + " cannot report to the render queue: the time-out elapsed");
  while (reader.Receive(0).kind != engine::kRenderNothing) {
  }
}

// A progress write the queue does not take ends the render there: one
// frame rendered, the write tried once, the file deleted.
TEST_F(ExportJobTest, AProgressWriteThatFailsStopsTheRenderAtOnce) {
  engine::RenderQueue reader(true), filler(false);
  for (uint32_t i = 0; i < ov::kUnlimitedMessages; ++i) ASSERT_TRUE(filler.SendResult(true));
  struct Probe : engine::WavExportJob {
    using WavExportJob::WavExportJob;
    uint64_t Rendered() const { return RenderedMs(); }
  };
  auto e = EngineWith({Cmd(0, engine::CMD_NOP, 0), Cmd(300, engine::CMD_NOP, 0)});
  Probe job(e.get(), ov::String::FromUtf8Lossy(Out("stuck.wav")));
  job.SetExportParams(Wav());
  EXPECT_EQ(job.Encode(), 0);
  EXPECT_EQ(job.Rendered(), 100u);  // each frame sends a new percent: one frame, one write
  EXPECT_EQ(job.failureReason().ToUtf8Lossy(),
            "the render of " + Out("stuck.wav") + " cannot report to the render queue: the time-out elapsed");
  EXPECT_FALSE(ov::FileExists(ov::String::FromUtf8Lossy(Out("stuck.wav"))));
  while (reader.Receive(0).kind != engine::kRenderNothing) {
  }
}

// The pad byte of an odd length refused at the file-size limit fails the
// WAV render as a refused block does: the file is deleted and the reason
// names the limit.
TEST_F(ExportJobTest, APadByteTheFileSizeLimitRefusesFailsTheRender) {
  auto e = EngineWith({Cmd(0, engine::CMD_NOP, 0), Cmd(1100, engine::CMD_NOP, 0)});
  ExportSettings s = Wav(1);
  s.bitsPerSample = 8;
  const std::string out = Out("pad.wav");
  ASSERT_EQ(Encode(e.get(), out, s), 1);
  const size_t whole = ovtest::ReadFileBytes(out).size();
  ASSERT_EQ(Pcm(out).size() % 2, 1u);  // the last byte is the pad
  auto job = engine::CreateExportJob(e.get(), ov::String::FromUtf8Lossy(out));
  job->SetExportParams(s);
  {
    ovtest::ScopedFileSizeLimit limit(whole - 1);
    ASSERT_TRUE(limit.ok());
    EXPECT_EQ(job->Encode(), 0);
  }
  EXPECT_EQ(job->failureReason().ToUtf8Lossy(), "writing " + out + " failed: the file-size limit is reached");
  EXPECT_FALSE(ov::FileExists(ov::String::FromUtf8Lossy(out)));
}

// Whether a job renders an output with a set of settings: WAV takes any; the
// graph jobs refuse codecs their graph has no encoder for and, since the
// source sends the sound frame by frame, a frame rate, a height or a width
// of 0, saying which.
TEST(ExportJobRenders, EachJobTakesWhatItsGraphCanEncodeAndPace) {
  const ExportSettings mp4{96000, 22050, 16, 2, 0, engine::kVideoCodecMpeg4, engine::kAudioCodecAac, 128000, 15, 144, 176};
  const ExportSettings wmv{96000, 22050, 16, 2, 0, engine::kVideoCodecWmv, engine::kAudioCodecWma, 100, 15, 144, 176};
  auto with = [](ExportSettings s, uint32_t fps, uint32_t h, uint32_t w) {
    s.fps = fps;
    s.height = h;
    s.width = w;
    return s;
  };
  auto codecs = [](ExportSettings s, uint32_t video, uint32_t audio) {
    s.videoCodec = video;
    s.audioCodec = audio;
    return s;
  };
  struct Case {
    const char16_t* path;
    ExportSettings s;
    bool renders;
    const char* reason;  // part of the graph job's refusal
  } cases[] = {
      {u"a.wav", Wav(), true, ""},
      {u"a.wav", with(Wav(), 0, 0, 0), true, ""},
      {u"a.mp4", mp4, true, ""},
      {u"a.mp4", with(mp4, 0, 144, 176), false, "(they are 0, 144, 176)"},
      {u"a.mp4", with(mp4, 15, 0, 176), false, "(they are 15, 0, 176)"},
      {u"a.mp4", with(mp4, 15, 144, 0), false, "(they are 15, 144, 0)"},
      {u"a.mp4", codecs(mp4, engine::kVideoCodecMpeg4, engine::kAudioCodecWma), false, "no encoding graph takes"},
      {u"a.mp4", codecs(mp4, engine::kVideoCodecWmv, engine::kAudioCodecAac), false, "no encoding graph takes"},
      {u"a.wmv", wmv, true, ""},
      {u"a.WMV", with(wmv, 0, 144, 176), false, "(they are 0, 144, 176)"},
      {u"a.wmv", with(wmv, 15, 0, 176), false, "(they are 15, 0, 176)"},
      {u"a.wmv", with(wmv, 15, 144, 0), false, "(they are 15, 144, 0)"},
      {u"a.wmv", codecs(wmv, engine::kVideoCodecMpeg4, engine::kAudioCodecAac), false, "no encoding graph takes"},
      {u"a.ogg", Wav(), false, nullptr},
  };
  for (const Case& c : cases) {
    const std::string path = ov::String(c.path).ToUtf8Lossy();
    SCOPED_TRACE(testing::Message() << path << " " << c.s.videoCodec << "/" << c.s.audioCodec << " " << c.s.fps << " fps "
                                    << c.s.width << "x" << c.s.height);
    EXPECT_EQ(engine::ExportJobRenders(c.path, c.s), c.renders);
    if (!c.reason || path.ends_with(".wav")) continue;
    const bool asf = path.ends_with(".wmv") || path.ends_with(".WMV");
    const std::string why = (asf ? engine::AsfExportJob::SettingsRefused(c.s) : engine::DmoExportJob::SettingsRefused(c.s)).ToUtf8Lossy();
    if (c.renders) {
      EXPECT_EQ(why, "");
    } else {
      EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
  }
}

}  // namespace

namespace {

// Until their graphs exist the graph jobs fail, and the result says so; the
// frame callback has no job to ask outside an export.
TEST_F(ExportJobTest, GraphJobsReportFailureAndTheCallbackNeedsAJob) {
  engine::RenderQueue reader(true);
  auto e = EngineWith({Cmd(0, engine::CMD_NOP, 0), Cmd(500, engine::CMD_NOP, 0)});
  for (const char* name : {"a.mp4", "a.wmv"}) {
    EXPECT_FALSE(e->Export(ov::String::FromUtf8Lossy(Out(name)), Wav()));
    const engine::RenderMessage m = reader.Receive(0);
    EXPECT_EQ(m.kind, engine::kRenderResult) << name;
    EXPECT_EQ(m.value, 0) << name;
  }
  // No job for the name: no result at all.
  EXPECT_FALSE(e->Export(ov::String::FromUtf8Lossy(Out("a.ogg")), Wav()));
  EXPECT_EQ(reader.Receive(0).kind, engine::kRenderNothing);
  unsigned char* video = nullptr;
  unsigned char* audio = nullptr;
  int bytes = 0, time = 0;
  EXPECT_EQ(engine::ExportFrameCallback(&video, &audio, &bytes, &time), 0);
  EXPECT_EQ(engine::MixEngine::RunningExportJob(), nullptr);
}

}  // namespace
