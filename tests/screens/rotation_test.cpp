// A mix across screen rotations, headless on the default skin: the project
// goes out through "rotate.mix" and comes back on the new mixer screen.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/action_processor.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "screens/channel_selection.h"
#include "screens/mixer.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"

namespace {

using screens::ChannelSelection;
using screens::Mixer;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

Mixer* FindMixer(ovtest::HeadlessDriver& d) {
  return dynamic_cast<Mixer*>(d.sm().menu_container()->FindByType(ui::kTypeMixer, true));
}

class RotatedMix : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    ChannelSelection ch[8];
    // Clips that decode, so that entering the screen ends in a finished cache
    // and no failure popup stands open at a rotation.
    auto copy = [&](const std::string& fixture, const char* name) {
      const std::string path = dir_ + "/" + name;
      std::filesystem::copy_file(ovtest::FixturePath(fixture), path, std::filesystem::copy_options::overwrite_existing);
      return path;
    };
    for (const char* name : {"one.jpg", "two.jpg"}) {
      ch[0].AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(copy("gfx_photo.jpg", name)), ov::String(),
                    ov::String(), screens::kWholePicture, screens::kWholePicture, 700, 0, 0, 0, 0, 0, 0, nullptr);
    }
    ch[2].AddClip(screens::kKindAudio, screens::kFileTypeWav, U(copy("engine_22k_stereo.wav", "song.wav")), ov::String(),
                  ov::String(), screens::kWholePicture, screens::kWholePicture, 500, 0, 0, 0, 0, 0, 0, nullptr);
    ch[6].AddEmptyTextClip();
    ch[7].AddEmptyTextClip();
    std::vector<ChannelSelection*> table;
    for (ChannelSelection& c : ch) table.push_back(&c);
    std::vector<uint8_t> record, project;
    engine::ActionProcessor().Serialize(&record);
    screens::OutputSettings settings = screens::DefaultOutputSettings();
    settings[screens::kWizardMediaType] = 2;
    screens::WriteProject(settings, table, record, &project);
    const std::string path = dir_ + "/loaded.mix";
    ASSERT_TRUE(ov::WriteWholeFile(U(path), project.data(), project.size()));
    // The clips' caches go to a temporary folder of this test's own: the
    // program empties its temporary folder at start, which other tests run
    // side by side do too.
    const char* old_tmp = std::getenv("TMPDIR");
    old_tmp_ = old_tmp ? old_tmp : "";
    setenv("TMPDIR", dir_.c_str(), 1);
    setenv("OVMIX_LOAD", path.c_str(), 1);
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
    unsetenv("OVMIX_LOAD");
    ASSERT_TRUE(d().ok());
    ASSERT_TRUE(d().TapElement(u"main_0"));
    ASSERT_EQ(d().Menu(), u"mixing_menu");
    FinishDecoding();
  }
  // Entering the mixer screen decodes the clips on a worker; a rotation while
  // it runs cancels it and leaves its progress screen (to the main menu), so
  // the tests that keep the mixer screen wait for it first, as a user would.
  void FinishDecoding() {
    for (int tries = 0; tries < 500; ++tries) {
      d().Settle();
      Mixer* mixer = FindMixer(d());
      if (!mixer) return;
      mixer->JoinDecompression();
      d().Settle();
      ui::Element* progress =
          d().sm().FindElementByName(d().sm().menu_container(), u"DECOMPRESSION_PROGRESS", true);
      if (!mixer->decoding() && !(progress && progress->IsVisible())) return;
      ov::Sleep(10);
    }
  }
  void TearDown() override {
    driver_.reset();
    if (old_tmp_.empty()) unsetenv("TMPDIR");
    else setenv("TMPDIR", old_tmp_.c_str(), 1);
  }
  ovtest::HeadlessDriver& d() { return *driver_; }

  std::vector<uint8_t> Saved(const std::string& name) {
    Mixer* mixer = FindMixer(d());
    if (!mixer || !mixer->SaveMix(U(dir_ + "/" + name))) return {};
    return ovtest::ReadFileBytes(dir_ + "/" + name);
  }

  std::string dir_, old_tmp_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

TEST_F(RotatedMix, TheProjectSavedAfterARotationEqualsTheOneBefore) {
  const std::vector<uint8_t> before = Saved("before.mix");
  ASSERT_GT(before.size(), 40u);
  d().Key(wnd::Key::kRotate);
  ASSERT_EQ(d().window().screen_width(), 320);
  ASSERT_EQ(d().sm().ScreenSize().cx, 320);
  EXPECT_NE(FindMixer(d()), nullptr);
  EXPECT_EQ(d().Menu(), u"mixing_menu");
  EXPECT_TRUE(ov::FileExists(U(dir_ + "/data/rotate.mix")));
  EXPECT_EQ(Saved("after.mix"), before);
  // The new screens show the clips again.
  ui::Element* name0 = d().sm().FindElementByName(d().sm().menu_container(), u"name0", true);
  ASSERT_NE(name0, nullptr);
  EXPECT_EQ(std::u16string(name0->text().View()), u"(1/2) one");
}

// Ten turns in a row (AddressSanitizer watches the screen managers and
// mixers going and coming); the mix is unchanged at the end.
TEST_F(RotatedMix, TenRotationsInARowKeepTheMix) {
  const std::vector<uint8_t> before = Saved("before.mix");
  ASSERT_GT(before.size(), 40u);
  for (int i = 0; i < 10; ++i) {
    d().Key(wnd::Key::kRotate);
    FinishDecoding();
    ASSERT_EQ(d().window().screen_width(), i % 2 == 0 ? 320 : 240);
    ASSERT_EQ(d().sm().ScreenSize().cx, d().window().screen_width());
    ASSERT_EQ(d().Menu(), u"mixing_menu");
  }
  EXPECT_EQ(Saved("after.mix"), before);
  EXPECT_TRUE(d().boxes().empty());
}

}  // namespace
