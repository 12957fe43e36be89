// The text editor's screen of the default skin, headless: the style chips
// and actions reach the options and the edited clip, the text comes from
// the text-entry dialog, the preview posts the edited clip with its text on
// its own engine, and a turn takes the same clip again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_command.h"
#include "engine/mix_engine.h"
#include "platform/imaging/image.h"
#include "platform/ui/text_entry.h"
#include "screens/channel_selection.h"
#include "screens/media_browser.h"
#include "screens/media_file_record.h"
#include "screens/mixer.h"
#include "screens/text_editor.h"
#include "tests/gfx/surface_util.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"
#include "ui/action_keywords.h"

namespace {

using screens::ChannelSelection;
using screens::Mixer;
using screens::TextClip;
using screens::TextEditor;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

class TextScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_, false);
    ASSERT_TRUE(d().ok());
  }
  void TearDown() override {
    wnd::SetTextEntryHook({});
    driver_.reset();
  }
  ovtest::HeadlessDriver& d() { return *driver_; }
  Mixer* mixer() { return dynamic_cast<Mixer*>(d().sm().menu_container()->FindByType(ui::kTypeMixer, true)); }
  TextEditor* editor() {
    return dynamic_cast<TextEditor*>(d().sm().FindElementByName(d().sm().menu_container(), u"text_editor", true));
  }
  // The screen on the start credits, as the media browser's "Credits" opens it.
  void OpenCredits() {
    ASSERT_TRUE(d().sm().JumpToMenu(u"media_browser"));
    d().Settle();
    d().sm().DoAction(screens::kActionBrowserAddCredits, ov::String(), 1);
    d().Settle();
    ASSERT_EQ(d().Menu(), u"imageTextMenu");
  }
  // A green picture with a caption on clip channel 0, its text clip chosen
  // as the photo editor's "Text" chooses it.
  ChannelSelection* OpenCaption(const char16_t* caption) {
    const std::string picture = dir_ + "/green.png";
    ovtest::Canvas green = ovtest::MakeCanvas(64, 48, 0x00FF00);
    EXPECT_TRUE(imaging::WritePng(picture, *green.bitmap));
    ChannelSelection* ch = mixer()->entry(0).channel;
    int32_t kind = 0;
    const int32_t type = screens::FileTypeOfPath(U(picture), &kind);
    TextClip text;
    text.textString = caption;
    ch->AddClip(screens::kKindImage, type, U(picture), ov::String(), ov::String(), screens::kWholePicture,
                screens::kWholePicture, screens::kDefaultPanSpeed, 2000, 0, 0, 0, screens::kWholePicture, 0, &text);
    EXPECT_TRUE(d().sm().JumpToMenu(u"imageTextMenu"));
    d().Settle();
    d().sm().DoAction(screens::kActionSelectFirstTextClip, ch->title(), 1);
    d().Settle();
    return ch;
  }
  uint32_t Option(int n) { return *d().sm().NumericOption(n); }

  std::string dir_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

TEST_F(TextScreen, StyleActionsReachTheOptionsAndTheClip) {
  OpenCredits();
  TextEditor* e = editor();
  ASSERT_NE(e, nullptr);
  ASSERT_NE(e->clip(), nullptr);
  EXPECT_TRUE(e->credits());
  EXPECT_TRUE(e->start_credits());
  EXPECT_EQ(e->channel(), mixer()->entry(screens::kStartCreditsEntry).channel);
  TextClip* clip = e->clip();
  struct Case {
    const char16_t* action;  // a keyword, or SETATTRIBUTE with its option
    int option;
    uint32_t value;
    int32_t TextClip::*field;
  } cases[] = {
      {u"TE_BOLD", 22, 1, &TextClip::bold},
      {u"TE_BOLD", 22, 0, &TextClip::bold},
      {u"TE_ITALIC", 23, 1, &TextClip::italic},
      {u"TE_UNDERLINE", 24, 1, &TextClip::underline},
      {u"SETATTRIBUTE TextJust=2", 25, 2, &TextClip::justification},
      {u"SETATTRIBUTE TextJust=3", 25, 3, &TextClip::justification},
      {u"SETATTRIBUTE TextVAlign=2", 26, 2, &TextClip::verticalAlign},
      {u"SETATTRIBUTE TextVAlign=0", 26, 0, &TextClip::verticalAlign},
      {u"SETATTRIBUTE TextSize=0", 20, 0, &TextClip::textSize},
      {u"SETATTRIBUTE TextBackGndColour=255", 18, 255, &TextClip::backgroundColour},
      {u"SETATTRIBUTE TextBackGndColour=-1", 18, 0xFFFFFFFFu, &TextClip::backgroundColour},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ov::String(c.action).ToUtf8Lossy());
    ov::String argument;
    const int32_t code = int32_t(ui::ParseAction(c.action, &argument));
    d().sm().DoAction(code, argument, 1);
    d().Settle();
    EXPECT_EQ(Option(c.option), c.value);
    EXPECT_EQ(uint32_t(clip->*c.field), c.value);
  }
  EXPECT_EQ(e->text_height(), 200 / 8) << "a small font is an eighth of the box";
  // The colour picker's option: the text colour, and a key apart from it.
  d().sm().StoreOption(u"TextColour", u"65535");
  d().sm().DoAction(ui::kActionOptionsChanged, ov::String(), 1);
  EXPECT_EQ(clip->textColour, 0xFFFFu);
  EXPECT_EQ(clip->keyColour, screens::DeriveKeyColour(0xFFFF));
}

}  // namespace
