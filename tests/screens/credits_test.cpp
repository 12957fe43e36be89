// Credits end to end: a mix with start or end credits shows them live on the
// mixer screen, in the preview and in a rendered picture's frames, and
// renders to WAV from the mixer and from the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/mix_engine.h"
#include "engine/picture565.h"
#include "engine/video_mixer.h"
#include "platform/audio/wave_out_device.h"
#include "platform/os/file.h"
#include "screens/channel_selection.h"
#include "screens/mixer.h"
#include "tests/support/headless_driver.h"
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
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_, false);
  }
  ovtest::HeadlessDriver& d() { return *driver_; }
  Mixer* EnterMixer() {
    if (!d().ok() || !d().UseVirtualWaveOut() || !d().TapElement(u"main_0")) return nullptr;
    auto* m = dynamic_cast<Mixer*>(d().sm().menu_container()->FindByType(ui::kTypeMixer, true));
    for (int i = 0; m && i < 1000 && m->decoding(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    d().Settle();
  }
  bool PlayUntil(uint32_t ms) {
    engine::MixEngine* e = d().sm().GetMixEngine();
    for (int spins = 0; spins < 20000 && e->GetPlayPosition() < ms; ++spins) Step();
    return e->GetPlayPosition() >= ms;
  }
  std::string dir_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

TEST_F(Credits, StartCreditsShowLive) {
  Mixer* m = EnterMixer();
  ASSERT_NE(m, nullptr);
  SetCredits(m, screens::kStartCreditsEntry, u"Hello");
  m->OnAction(screens::kActionMixStart, ov::String(), 0);
  ASSERT_TRUE(m->mixing());
  EXPECT_TRUE(m->start_credits_playing());
  ASSERT_TRUE(PlayUntil(500));
  engine::MixEngine* e = d().sm().GetMixEngine();
  EXPECT_TRUE(e->IsChannelPlaying(16 + screens::kStartCreditsEntry));
  std::vector<uint16_t> px(size_t(m->GetXSize() * m->GetYSize()));
  engine::Picture565 pic{px.data(), m->GetXSize(), m->GetYSize(), m->GetXSize()};
  e->DrawFrame(pic, 0, 0);
  EXPECT_GT(Count(pic, kInk), 20);
}

}  // namespace
