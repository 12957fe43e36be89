// Credits end to end on the mixer screen: a mix with start credits shows
// them live and in the preview of the take. (Rendered frames, the WAV render
// from the mixer and from the command line: text_editor_test.cpp,
// mixer_render_test.cpp, render_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/engine_timing.h"
#include "engine/mix_engine.h"
#include "engine/picture565.h"
#include "engine/video_mixer.h"
#include "platform/audio/wave_out_device.h"
#include "platform/os/file.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/support/headless_driver.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_paths.h"

namespace {

using screens::ChannelSelection;
using screens::Mixer;

constexpr uint32_t kInk = 0x00FFFF;  // yellow


// Pixels of `p` in the colour `colour`.
int Count(const engine::Picture565& p, uint32_t colour) {
  const uint16_t v = engine::ColourRefTo565(colour);
  int n = 0;
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t x = 0; x < p.width; ++x) n += p.Row(y)[x] == v;
  }
  return n;
}

class Credits : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    env_.Set("TMPDIR", dir_);
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_, false);
  }
  ovtest::HeadlessDriver& d() { return *driver_; }
  Mixer* EnterMixer() {
    if (!d().ok() || !d().UseVirtualWaveOut() || !d().TapElement(u"main_0")) return nullptr;
    auto* m = dynamic_cast<Mixer*>(d().sm().menu_container()->FindByType(ui::kTypeMixer, true));
    if (m) m->JoinDecompression();
    d().Settle();
    return m;
  }
  void SetCredits(Mixer* m, int entry, const char16_t* text) {
    ChannelSelection* ch = m->entry(entry).channel;
    screens::TextClip* clip = ch->GetClipText(0);
    clip->textString = text;
    clip->textColour = kInk;
    clip->backgroundColour = -1;
    clip->textSize = 1;
  }
  void Step() {
    engine::MixEngine* e = d().sm().GetMixEngine();
    e->WithDevice([&](ov::WaveOutDevice& dev) { static_cast<ov::VirtualWaveOutDevice&>(dev).Advance(22050 / 100); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The clock moves for the present and replay threads, which get a
    // moment to act.
    if (auto* clock = dynamic_cast<engine::VirtualTiming*>(&e->timing())) clock->Poke();
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    d().Settle();
  }
  bool PlayUntil(uint32_t ms) {
    engine::MixEngine* e = d().sm().GetMixEngine();
    for (int spins = 0; spins < 20000 && e->GetPlayPosition() < ms; ++spins) Step();
    return e->GetPlayPosition() >= ms;
  }
  std::string dir_;
  ovtest::ScopedEnv env_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

// The start credits play when the mix starts: their ink shows in the live
// picture; the take replayed in the preview shows them again.
TEST_F(Credits, ShowLiveAndInThePreview) {
  Mixer* m = EnterMixer();
  ASSERT_NE(m, nullptr);
  SetCredits(m, screens::kStartCreditsEntry, u"Hello");
  engine::MixEngine* e = d().sm().GetMixEngine();
  std::vector<uint16_t> px(size_t(m->GetXSize() * m->GetYSize()));
  engine::Picture565 pic{px.data(), m->GetXSize(), m->GetYSize(), m->GetXSize()};
  m->OnAction(ui::kActionMixStart, ov::String(), 0);
  ASSERT_TRUE(m->mixing());
  EXPECT_TRUE(m->start_credits_playing());
  ASSERT_TRUE(PlayUntil(500));
  EXPECT_TRUE(e->IsChannelPlaying(16 + screens::kStartCreditsEntry));
  e->DrawFrame(pic, 0, 0);
  EXPECT_GT(Count(pic, kInk), 20) << "live";
  m->OnAction(ui::kActionStartCreditsFinish, ov::String(), 0);
  ASSERT_TRUE(PlayUntil(800));
  e->DrawFrame(pic, 0, 0);
  EXPECT_EQ(Count(pic, kInk), 0) << "the credits are done";
  m->OnAction(ui::kActionMixStop, ov::String(), 0);
  ASSERT_FALSE(m->mixing());

  ASSERT_TRUE(d().sm().JumpToMenu(u"preview_menu"));
  d().Settle();
  e->StartReplay();
  ASSERT_TRUE(PlayUntil(400));
  e->DrawFrame(pic, 0, 0);
  EXPECT_GT(Count(pic, kInk), 20) << "in the preview";
  e->StopReplay();
}

}  // namespace
