// Live mixing on the mixer screen: every gesture in, the exact commands out,
// read back from a recording stand-in for the live player.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "screens/project/channel_selection.h"
#include "screens/mixer/mixer.h"
#include "screens/mixer/mixer_selection.h"
#include "screens/mixer/preview_mixer.h"
#include "engine/mix_engine.h"
#include "platform/audio/wave_out_device.h"
#include "tests/screens/recording_calls.h"
#include "tests/screens/screens_host.h"
#include "tests/support/test_paths.h"
#include "ui/slider_control.h"

namespace {

using ovtest::Cmd;
using screens::ChannelSelection;
using screens::Mixer;

constexpr uint32_t kWhole = screens::kWholePicture;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

class LiveMixing : public ::testing::Test {
 protected:
  LiveMixing() : dir_(ovtest::ScratchDir()), host_(dir_), screen_(&host_) { mixer().UseLiveCalls(&calls_); }

  Mixer& mixer() { return *screen_.mixer; }
  ChannelSelection& ch(int i) { return *screen_.channel[i]; }
  std::string Touch(const std::string& name) { return ovtest::TouchFile(dir_, name); }

  void Add(int i, int32_t kind, const std::string& source, int32_t display = 0, int32_t cut_start = 0,
           int32_t cut_end = 0) {
    ch(i).AddClip(kind, screens::kFileTypeNone, U(source), ov::String(), ov::String(), kWhole, kWhole, 500, display,
                  0, cut_start, cut_end, kWhole, 0, nullptr);
  }
  // Fires `code` and answers the commands it posted.
  std::vector<Cmd> Fire(int32_t code, const char16_t* argument = u"") {
    const size_t from = calls_.posted.size();
    mixer().OnAction(code, ov::String(argument), 0);
    return calls_.CommandsSince(from);
  }
  void SetOutputType(int type) {
    host_.option_values[u"WizardMediaType"] = std::u16string(1, char16_t(u'0' + type));
    mixer().OnAction(ui::kActionMixerAcceptWizard, ov::String(), 0);
  }

  std::string dir_;
  ovtest::ScreensHost host_;
  ovtest::MixerScreen screen_;
  ovtest::RecordingCalls calls_;
};

TEST_F(LiveMixing, LevelsAndMuteCarryTheirValues) {
  Add(0, screens::kKindVideo, Touch("v.mp4"));
  // Not mixing: the level is kept, nothing is posted.
  EXPECT_TRUE(Fire(ui::kActionVolume0 + 2, u"40").empty());
  EXPECT_EQ(mixer().entry(2).volume, 40);
  mixer().set_mixing(true);
  EXPECT_EQ(Fire(ui::kActionVolume0 + 2, u"40"), (std::vector<Cmd>{{13, 2, 26200}}));
  // A video channel's tempo goes to its sound and its picture.
  EXPECT_EQ(Fire(ui::kActionTempoLevel0, u"50"), (std::vector<Cmd>{{300, 0, 1000}, {300, 16, 1000}}));
  EXPECT_EQ(Fire(ui::kActionTempoLevel0, u"0"), (std::vector<Cmd>{{300, 0, 500}, {300, 16, 500}}));
  EXPECT_EQ(Fire(ui::kActionMuteOn), (std::vector<Cmd>{{14, 0, 0}}));
  EXPECT_EQ(Fire(ui::kActionMuteOff), (std::vector<Cmd>{{14, 0, 65500}}));
  EXPECT_EQ(Fire(ui::kActionMasterVolume, u"80"), (std::vector<Cmd>{{14, 0, 52400}}));
  // Tempo and speaker modes switch which level the slider sets.
  Fire(ui::kActionTempo0 + 1);
  EXPECT_EQ(mixer().entry(1).speakerMode, 0);
  Fire(ui::kActionSpeaker0 + 1);
  EXPECT_EQ(mixer().entry(1).speakerMode, 1);
}

TEST_F(LiveMixing, ChannelOnAndOffPerKind) {
  const std::string wav = ovtest::FixturePath("engine_22k_stereo.wav");
  Add(0, screens::kKindAudio, Touch("a.wav"), 0, 100, 900);
  ch(0).set_loop_on(1);
  ch(0).SetAudioEffectFromAction(221);
  ch(0).set_effect_on(1);
  mixer().mutable_entry(0).volume = 40;
  Add(1, screens::kKindImage, Touch("p1.jpg"), 3000);
  Add(1, screens::kKindImage, Touch("p2.jpg"), 3000);
  Add(2, screens::kKindVideo, wav);  // a video whose sound opens
  Add(3, screens::kKindVideo, Touch("silent.mp4"));
  mixer().set_mixing(true);
  const int32_t whole = static_cast<int32_t>(kWhole);
  struct Case {
    int channel;
    std::vector<Cmd> on, off;
  };
  const Case cases[] = {
      {0,
       {{2, 0, 0, 100, 900, 0}, {100, 0, 500}, {6, 0}, {13, 0, 26200}, {300, 0, 1000}, {7, 0, 0}},
       {{4, 0}}},
      {1, {{2, 17, -1, 0, 3000, whole}, {10, 17}, {300, 1, 1000}, {7, 17, 1}}, {{4, 17}, {8, 17}}},
      {2,
       {{2, 2}, {13, 2}, {300, 2, 1000}, {300, 18, 1000}, {2, 18, 2, 0, 0, whole}, {300, 2, 1000},
        {300, 18, 1000}, {7, 18, 1}},
       {{8, 18}}},
      {3, {{2, 19, -1, 0, 0, whole}, {300, 3, 1000}, {300, 19, 1000}, {7, 19, 1}}, {{8, 19}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Fire(ui::kActionChannelOn0 + c.channel), c.on) << c.channel;
    EXPECT_EQ(mixer().entry(c.channel).active, 1);
    EXPECT_EQ(Fire(ui::kActionChannelOff0 + c.channel), c.off) << c.channel;
    EXPECT_EQ(mixer().entry(c.channel).active, 0);
  }
  // The audio open names the clip and its cache; an image channel switched
  // off moves on to its next clip.
  EXPECT_EQ(std::u16string(calls_.posted[0]->path.View()), std::u16string(U(dir_ + "/a.wav").View()));
  EXPECT_EQ(mixer().entry(1).playIndex, 1);
  // A sound-only output opens only the video's sound and plays it with 0.
  SetOutputType(2);
  EXPECT_EQ(Fire(ui::kActionChannelOn0 + 2),
            (std::vector<Cmd>{{2, 2}, {13, 2}, {300, 2, 1000}, {300, 18, 1000}, {7, 2, 0}}));
}

TEST_F(LiveMixing, PlayIndexEqualToTheClipCountStartsOver) {
  Add(1, screens::kKindImage, Touch("p1.jpg"), 1000);
  Add(1, screens::kKindImage, Touch("p2.jpg"), 1000);
  mixer().mutable_entry(1).playIndex = 2;  // a clip was removed
  mixer().set_mixing(true);
  const std::vector<Cmd> on = Fire(ui::kActionChannelOn0 + 1);
  ASSERT_FALSE(on.empty());
  EXPECT_EQ(on[0].type, 2u);
  EXPECT_EQ(std::u16string(calls_.posted[0]->path.View()), std::u16string(U(dir_ + "/p1.jpg").View()));
}

TEST_F(LiveMixing, QueueClipPostsItsStepsInOrderAndMarksThePan) {
  screens::TextClip caption;
  caption.textString = u"Hi";
  const uint32_t pan_end = 0x10E010E0;
  ch(0).AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(Touch("p.jpg")), U(Touch("o.jpg")),
                U(Touch("fx.qbt")), kWhole, pan_end, 700, 2000, 3, 0, 0, kWhole, 0, &caption);
  Add(0, screens::kKindImage, Touch("q.jpg"), 2000);
  ch(0).set_loop_on(1);
  ch(0).channel_effect() = engine::MakeCommand(201, 16, 500, 4);
  ch(0).set_effect_on(1);
  mixer().set_mixing(true);
  const int32_t whole = static_cast<int32_t>(kWhole);
  const std::vector<Cmd> want = {
      {2, 16, -1, 0, 2000, whole},
      {3, 16, -1},
      {6, 16, 0, 0, 0, 0, 1},  // loop, marked: the clip pans
      {3, 16, 0xFF00FF},
      {208, 16},
      {210, 16, 700, whole, static_cast<int32_t>(pan_end)},
      {209, 16, 2},
      {201, 16, 500, 4},
      {10, 16},
      {300, 0, 1000},
      {7, 16, 1},
  };
  EXPECT_EQ(Fire(ui::kActionChannelOn0), want);
  const auto& p = calls_.posted;
  EXPECT_EQ(std::u16string(p[1]->path.View()), std::u16string(screens::FormatTextClip(caption).View()));
  EXPECT_EQ(std::u16string(p[3]->path.View()), std::u16string(U(dir_ + "/o.jpg").View()));
  EXPECT_EQ(std::u16string(p[4]->path.View()), std::u16string(U(dir_ + "/fx.qbt").View()));
  // Without a loop the open command carries the mark.
  Fire(ui::kActionChannelOff0);
  ch(0).set_loop_on(0);
  mixer().mutable_entry(0).playIndex = 0;
  const size_t from = calls_.posted.size();
  Fire(ui::kActionChannelOn0);
  EXPECT_EQ(calls_.posted[from]->type, 2u);
  EXPECT_EQ(calls_.posted[from]->param5, 1);
  // Nothing opens on a loaded stream, and nothing at all on a sound-only output.
  calls_.loaded.insert(16);
  Fire(ui::kActionChannelOff0);
  mixer().mutable_entry(0).playIndex = 0;
  EXPECT_EQ(Fire(ui::kActionChannelOn0),
            (std::vector<Cmd>{{201, 16, 500, 4}, {10, 16}, {300, 0, 1000}, {7, 16, 1}}));
}

TEST_F(LiveMixing, StopPostsCommandOneBeforeStoppingEveryChannel) {
  calls_.playing = true;
  mixer().set_mixing(true);
  mixer().mutable_entry(0).playIndex = 2;
  EXPECT_EQ(Fire(ui::kActionMixStop), (std::vector<Cmd>{{1, 0}}));
  EXPECT_EQ(calls_.posted_at_stop, calls_.posted.size());
  EXPECT_FALSE(mixer().mixing());
  EXPECT_EQ(mixer().entry(0).playIndex, 0);
}

TEST_F(LiveMixing, ClipsFollowOneAnotherThroughAdvanceChannel) {
  for (const char* name : {"p1.jpg", "p2.jpg", "p3.jpg"}) Add(0, screens::kKindImage, Touch(name), 1000);
  Add(1, screens::kKindImage, Touch("other.jpg"), 1000);
  Add(1, screens::kKindImage, Touch("other2.jpg"), 1000);
  mixer().set_mixing(true);
  Fire(ui::kActionChannelOn0);
  const int32_t whole = static_cast<int32_t>(kWhole);
  EXPECT_EQ(Fire(engine::kActionNextClip, u"0"),
            (std::vector<Cmd>{{2, 16, -1, 0, 1000, whole}, {10, 16}, {300, 0, 1000}, {7, 16, 0}}));
  EXPECT_EQ(mixer().entry(0).playIndex, 1);
  EXPECT_EQ(Fire(engine::kActionNextClip, u"0"),
            (std::vector<Cmd>{{2, 16, -1, 0, 1000, whole}, {300, 0, 1000}, {7, 16, 0}}));
  // After the last clip the channel stops and starts over.
  EXPECT_EQ(Fire(engine::kActionNextClip, u"0"), (std::vector<Cmd>{{4, 16}}));
  EXPECT_EQ(mixer().entry(0).playIndex, 0);
  // An image channel that is not the shown picture channel stops at once.
  mixer().mutable_entry(1).active = 1;
  EXPECT_TRUE(Fire(engine::kActionNextClip, u"1").empty());
  EXPECT_EQ(mixer().entry(1).active, 0);
  // An inactive entry stops; entries past the table are refused.
  mixer().mutable_entry(0).active = 0;
  EXPECT_EQ(Fire(engine::kActionNextClip, u"0"), (std::vector<Cmd>{{4, 16}}));
  EXPECT_FALSE(mixer().AdvanceChannel(8));
  EXPECT_FALSE(mixer().AdvanceChannel(-1));
  // Not mixing: the code does nothing.
  mixer().set_mixing(false);
  EXPECT_TRUE(Fire(engine::kActionNextClip, u"0").empty());
}

TEST_F(LiveMixing, TheTickMovesOnChannelsWhoseStreamEnded) {
  Add(0, screens::kKindImage, Touch("p1.jpg"), 1000);
  Add(0, screens::kKindImage, Touch("p2.jpg"), 1000);
  Add(1, screens::kKindAudio, Touch("a.wav"));
  Add(2, screens::kKindImage, Touch("v1.jpg"), 1000);
  Add(2, screens::kKindImage, Touch("v2.jpg"), 1000);
  Add(3, screens::kKindAudio, Touch("b.wav"));
  Add(4, screens::kKindImage, Touch("w1.jpg"), 1000);
  Add(4, screens::kKindImage, Touch("w2.jpg"), 1000);
  mixer().set_mixing(true);
  for (int i = 0; i < 5; ++i) mixer().mutable_entry(i).active = 1;
  mixer().mutable_entry(0).playIndex = 1;  // the last picture, already unloaded
  calls_.loaded = {18};
  calls_.playing_streams = {3};  // channel 3 still plays
  // Channel 4 waits: a next clip exists but its stream is not loaded yet.
  const size_t from = calls_.posted.size();
  gfx::Rect area{};
  mixer().OnTick(&area, 1000);
  EXPECT_EQ(calls_.CommandsSince(from), (std::vector<Cmd>{{4, 16}, {4, 18}}));
  EXPECT_EQ(mixer().entry(0).playIndex, 0);
  EXPECT_EQ(mixer().entry(2).playIndex, 1);
  const int active[5] = {0, 0, 0, 1, 1};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(mixer().entry(i).active, active[i]) << i;
}

TEST_F(LiveMixing, CreditsHoldTheChannelsBackUntilTheyFinish) {
  ch(6).GetClipText(0)->textString = u"Opening";
  Add(3, screens::kKindAudio, Touch("a.wav"));
  calls_.posted.push_back(std::make_unique<engine::EngineCommand>());  // an old recording
  const std::vector<Cmd> start = Fire(ui::kActionMixStart);
  ASSERT_FALSE(start.empty());
  EXPECT_TRUE(calls_.playing);
  EXPECT_EQ(calls_.posted.front()->type, 14u);  // the old recording was cleared
  EXPECT_TRUE(mixer().start_credits_playing());
  for (const Cmd& c : calls_.Commands()) EXPECT_TRUE(c.channel == 0 || c.channel == 6 || c.channel == 22) << c;
  EXPECT_EQ(Fire(ui::kActionChannelOn0 + 3), std::vector<Cmd>{});
  EXPECT_EQ(mixer().entry(3).active, 1);
  const std::vector<Cmd> finish = Fire(ui::kActionStartCreditsFinish);
  ASSERT_GE(finish.size(), 2u);
  EXPECT_EQ(finish[0], (Cmd{8, 22}));
  EXPECT_EQ(finish[1], (Cmd{2, 3}));
  EXPECT_FALSE(mixer().start_credits_playing());
}

TEST_F(LiveMixing, TransitionsAndASeededRandomOneReachTheEngineResolved) {
  Add(0, screens::kKindImage, Touch("p.jpg"), 1000);
  mixer().set_mixing(true);
  EXPECT_EQ(Fire(198), (std::vector<Cmd>{{201, 16, 500, 2}, {300, 0, 1000}}));  // slide fast left
  EXPECT_EQ(ch(0).effect_on(), 1);
  // An effect already on is applied again at once.
  EXPECT_EQ(Fire(212), (std::vector<Cmd>{{204, 16, 2000, 2}, {300, 0, 1000}, {204, 16, 2000, 2}, {300, 0, 1000}}));
  EXPECT_EQ(Fire(ui::kActionEffectOff0), (std::vector<Cmd>{{204, 16, 2000, 2, 0, 0, 0, 1}}));
  std::set<uint32_t> types;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    mixer().SeedRandom(seed);
    ch(0).channel_effect() = engine::MakeCommand(205, 16, 0, 5);
    const std::vector<Cmd> on = Fire(ui::kActionEffectOn0);
    ASSERT_EQ(on.size(), 2u);
    EXPECT_NE(on[0].type, 205u);
    EXPECT_TRUE(on[0].type == 201 || on[0].type == 203 || on[0].type == 204) << on[0];
    EXPECT_EQ(on[0].p1, 500);
    EXPECT_TRUE(on[0].p2 >= 1 && on[0].p2 <= 4) << on[0];
    types.insert(on[0].type);
  }
  EXPECT_EQ(types.size(), 3u);
  // The same seed gives the same transition.
  auto once = [&](uint32_t seed) {
    mixer().SeedRandom(seed);
    return Fire(ui::kActionEffectOn0);
  };
  EXPECT_EQ(once(7), once(7));
}

// Every transition code with its own type, duration and direction (slides
// and sweeps right, left, up, down; fades right), posted with the channel's
// tempo and kept as the channel's effect; the blind codes between them post
// nothing and leave the effect as it was.
TEST_F(LiveMixing, EveryTransitionCodeHasItsOwnDurationAndDirection) {
  Add(0, screens::kKindImage, Touch("p.jpg"), 1000);
  mixer().set_mixing(true);
  struct Row {
    int32_t first, last;
    uint32_t type;
    int32_t ms;
  };
  const Row rows[] = {{193, 196, 201, 2000}, {197, 200, 201, 500}, {209, 209, 203, 2000},
                      {210, 210, 203, 500},  {211, 214, 204, 2000}, {215, 218, 204, 500}};
  constexpr int32_t kDirections[4] = {4, 2, 1, 3};
  for (const Row& r : rows) {
    for (int32_t code = r.first; code <= r.last; ++code) {
      ch(0).set_effect_on(0);
      const int32_t direction = r.type == 203 ? 4 : kDirections[code - r.first];
      EXPECT_EQ(Fire(code), (std::vector<Cmd>{{r.type, 16, r.ms, direction}, {300, 0, 1000}})) << code;
      const engine::EngineCommand& e = ch(0).channel_effect();
      EXPECT_EQ((Cmd{e.type, e.channel, e.param1, e.param2}), (Cmd{r.type, 16, r.ms, direction})) << code;
      EXPECT_EQ(ch(0).effect_on(), 1) << code;
    }
  }
  ch(0).channel_effect() = engine::MakeCommand(203, 16, 500, 4);
  for (int32_t code = 201; code <= 208; ++code) {
    EXPECT_TRUE(Fire(code).empty()) << code;
    const engine::EngineCommand& e = ch(0).channel_effect();
    EXPECT_EQ((Cmd{e.type, e.channel, e.param1, e.param2}), (Cmd{203, 16, 500, 4})) << code;
  }
}

TEST_F(LiveMixing, AudioEffectsFromTheMenu) {
  Add(0, screens::kKindAudio, Touch("a.wav"));
  mixer().set_mixing(true);
  EXPECT_EQ(Fire(224), (std::vector<Cmd>{{102, 0, 100, 4, 76, 35}, {300, 0, 1000}}));
  EXPECT_EQ(Fire(222), (std::vector<Cmd>{{100, 0, 1000}, {300, 0, 1000}}));
  // An effect-on code of a channel without an effect does nothing.
  Add(1, screens::kKindAudio, Touch("b.wav"));
  EXPECT_TRUE(Fire(ui::kActionEffectOn0 + 1).empty());
}

void WriteTempo(const std::string& path, float bpm) {
  std::vector<char> bytes(212, 0);
  std::memcpy(bytes.data() + 208, &bpm, 4);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST_F(LiveMixing, BeatMatchingBringsChannelsToTheirAverageTempo) {
  // Clips named from the scratch folder, whose own name may hold a dot
  // (the side file is named from the path up to its first dot).
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  // Entry 0 empty; 1 and 2 with tempi; 3 without a side file; 4 with a
  // damaged (short) one.
  Add(1, screens::kKindAudio, "one.wav");
  WriteTempo("one.bin", 100.0f);
  Add(2, screens::kKindAudio, "two.wav");
  WriteTempo("two.bin", 125.0f);
  Add(3, screens::kKindAudio, "three.wav");
  Add(4, screens::kKindAudio, "four.wav");
  std::ofstream("four.bin") << "abc";
  for (int i = 1; i <= 4; ++i) ch(i).set_beat_match(1);
  calls_.tempo[3] = 90;  // left from an earlier entry of the screen
  mixer().PrepareBeatMatching();
  EXPECT_EQ(calls_.average, 112u);
  EXPECT_EQ(calls_.tempo[1], 100u);
  EXPECT_EQ(calls_.tempo[2], 125u);
  EXPECT_EQ(calls_.tempo[3], 0u);
  EXPECT_EQ(calls_.tempo[4], 0u);
  mixer().set_mixing(true);
  EXPECT_EQ(Fire(ui::kActionChannelOn0 + 2).front(), (Cmd{2, 2, 0, 0, 0, 896}));
  EXPECT_EQ(Fire(ui::kActionChannelOn0 + 3).front(), (Cmd{2, 3}));
  // Without any tempo nothing changes speed.
  ch(1).set_beat_match(0);
  ch(2).set_beat_match(0);
  mixer().PrepareBeatMatching();
  EXPECT_EQ(calls_.average, 0u);
  EXPECT_EQ(calls_.tempo[2], 0u);
  std::filesystem::current_path(cwd);
}

}  // namespace

namespace {

// The channel panels: accepting an effect for every channel of a kind, the
// channel and effect switches, and the sliders they steer.
class Panels : public LiveMixing {
 protected:
  Panels() {
    for (int n : {0, 1, 2, 6}) {
      auto p = std::make_unique<screens::MixerSelection>();
      p->LoadAttribute(u"channelNumber", ov::String::Format(u"%d", n));
      if (n == 1) {
        p->LoadAttribute(u"volumeControl", u"vol1");
        p->LoadAttribute(u"tempoControl", u"tempo1");
      }
      panel[n] = static_cast<screens::MixerSelection*>(screen_.menu.AddChild(std::move(p)));
    }
    for (const char16_t* name : {u"vol1", u"tempo1"}) {
      auto s = std::make_unique<ui::SliderControl>();
      s->LoadAttribute(u"title", name);
      s->LoadAttribute(u"xS", u"100");
      s->LoadAttribute(u"yS", u"8");
      slider.push_back(static_cast<ui::SliderControl*>(screen_.menu.AddChild(std::move(s))));
    }
    for (auto& [n, p] : panel) p->OnAction(ui::kActionInitialise, ov::String(), 0);
  }
  std::map<int, screens::MixerSelection*> panel;
  std::vector<ui::SliderControl*> slider;
};

TEST_F(Panels, AnEffectForEveryChannelOfTheKindReachesEveryUsedEntry) {
  Add(0, screens::kKindImage, Touch("a.jpg"), 1000);
  Add(1, screens::kKindAudio, Touch("s.wav"));
  Add(5, screens::kKindImage, Touch("b.jpg"), 1000);
  for (auto [key, value] : {std::pair{u"EffectType", u"203"}, {u"EffectSpeed", u"500"}, {u"EffectDir", u"4"},
                            {u"EffectFilename", u""}}) {
    host_.option_values[key] = value;
  }
  host_.focused = panel[1];
  host_.actions.clear();
  panel[1]->OnAction(ui::kActionAllChannelsAcceptEffect, ov::String(), 0);
  std::vector<std::u16string> accepted;
  for (const auto& a : host_.actions) {
    if (a.code != ui::kActionAcceptEffectFor) continue;
    accepted.push_back(a.parameter);
    for (auto& [n, p] : panel) p->OnAction(a.code, ov::String(std::u16string_view(a.parameter)), 1);
  }
  // Channels 1 and 6 (entries 0 and 5) both take it, though fewer than six
  // entries are used; the sound channel does not.
  EXPECT_EQ(accepted, (std::vector<std::u16string>{u"1", u"6"}));
  for (int i : {0, 5}) {
    EXPECT_EQ(ch(i).channel_effect().type, 203u) << i;
    EXPECT_EQ(ch(i).channel_effect().param1, 500) << i;
    EXPECT_EQ(ch(i).effect_on(), 1) << i;
  }
  EXPECT_EQ(ch(1).effect_on(), 0);
}

TEST_F(Panels, SwitchesActOnlyWhenFocusedAndSteerTheSliders) {
  Add(0, screens::kKindAudio, Touch("s.wav"));
  panel[1]->OnAction(ui::kActionSelChannelOn, ov::String(), 0);
  EXPECT_EQ(mixer().entry(0).active, 0);  // not focused
  host_.focused = panel[1];
  panel[1]->OnAction(ui::kActionSelChannelOn, ov::String(), 0);
  EXPECT_EQ(mixer().entry(0).active, 1);
  EXPECT_TRUE(panel[1]->OnDirectionKey(4));  // the select key switches it off again
  EXPECT_EQ(mixer().entry(0).active, 0);
  // The tempo slider starts in the middle; the mixer's level codes set them.
  EXPECT_EQ(slider[1]->value(), 50);
  panel[1]->OnAction(ui::kActionVolumeValue0, u"30", 0);
  EXPECT_EQ(slider[0]->value(), 70);
  panel[1]->OnAction(ui::kActionVolumeValue0 + 1, u"90", 0);  // another channel's
  EXPECT_EQ(slider[0]->value(), 70);
  // Right steps the horizontal volume slider up.
  EXPECT_TRUE(panel[1]->OnDirectionKey(0));
  EXPECT_EQ(slider[0]->value(), 80);
  // The whole mix's panel mutes.
  host_.focused = panel[0];
  EXPECT_TRUE(panel[0]->OnDirectionKey(4));
  EXPECT_TRUE(mixer().muted());
  // An empty channel's panel is greyed and takes no key.
  panel[2]->UpdateActions();
  EXPECT_FALSE(panel[2]->IsEnabled());
}

}  // namespace

namespace {

TEST(PreviewMixer, ShowsThePositionAndItsShareOfTheMix) {
  EXPECT_EQ(std::u16string(screens::PreviewMixer::FormatPosition(75000).View()), u"01:15");
  EXPECT_EQ(std::u16string(screens::PreviewMixer::FormatPosition(0).View()), u"00:00");
  EXPECT_EQ(screens::PreviewMixer::Percentage(75000, 150000), 50u);
  EXPECT_EQ(screens::PreviewMixer::Percentage(200000, 150000), 100u);
  EXPECT_EQ(screens::PreviewMixer::Percentage(5000, 0), 0u);
}

TEST(PreviewMixer, LeavingWhilePausedStopsTheReplayAndProjectCodesDoNothing) {
  ovtest::ScreensHost host(ovtest::ScratchDir());
  ovtest::MixerScreen screen(&host);  // makes the shared engine
  ASSERT_NE(host.engine, nullptr);
  host.engine->SetDeviceFactory([] { return std::make_unique<ov::VirtualWaveOutDevice>(); });
  ui::Menu preview_menu;
  host.menu = &preview_menu;
  auto p = std::make_unique<screens::PreviewMixer>();
  p->LoadAttribute(u"xS", u"96");
  p->LoadAttribute(u"yS", u"72");
  auto* preview = static_cast<screens::PreviewMixer*>(preview_menu.AddChild(std::move(p)));
  ui::Element* stop = preview_menu.AddChild(std::make_unique<ui::Control>());
  stop->LoadAttribute(u"action", u"MX_PLAYSTOP");
  ui::Element* pause = preview_menu.AddChild(std::make_unique<ui::Control>());
  pause->LoadAttribute(u"action", u"MX_PLAYPAUSE");
  preview->OnAction(ui::kActionInitialise, ov::String(), 0);
  EXPECT_EQ(preview->GetType(), ui::kTypePreviewMixer);
  // A recording of one command far ahead keeps the replay waiting.
  auto c = std::make_unique<engine::EngineCommand>(engine::MakeCommand(engine::CMD_ACK, 0));
  engine::EngineCommand* kept = c.get();
  host.engine->PostAction(std::move(c));
  kept->timeMs = 60000;
  const size_t jumps = host.jumps.size();
  preview->OnAction(ui::kActionMixSave, ov::String(), 0);
  EXPECT_EQ(host.jumps.size(), jumps);
  EXPECT_TRUE(host.engine->HasActions());
  preview->OnAction(ui::kActionPlayback, ov::String(), 0);
  EXPECT_TRUE(host.engine->IsReplaying());
  EXPECT_EQ(host.focused, pause);  // the pause control first, else the stop one
  preview->OnAction(ui::kActionPlayPause, ov::String(), 0);
  preview->OnAction(ui::kActionLeavingMenu, ov::String(), 0);
  EXPECT_FALSE(host.engine->IsReplaying());
  EXPECT_FALSE(host.engine->IsPaused());
  host.menu = &screen.menu;
}

}  // namespace
