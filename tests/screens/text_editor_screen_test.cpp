// The text editor's screen of the default skin, headless: the style chips
// and actions reach the options and the edited clip, the text comes from
// the text-entry dialog, the preview posts the edited clip with its text on
// its own engine, and a turn takes the same clip again.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_command.h"
#include "engine/mix_engine.h"
#include "platform/imaging/image.h"
#include "platform/os/file.h"
#include "platform/ui/text_entry.h"
#include "screens/browsers/media_browser.h"
#include "screens/browsers/media_file_record.h"
#include "screens/editors/text_editor.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/gfx/surface_util.h"
#include "tests/screens/recording_calls.h"
#include "tests/support/headless_driver.h"
#include "tests/support/scoped_env.h"
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
    // Caches go to the scratch folder.
    env_.Set("TMPDIR", dir_);
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
    d().sm().DoAction(ui::kActionBrowserAddCredits, ov::String(), 1);
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
    d().sm().DoAction(ui::kActionSelectFirstTextClip, ch->title(), 1);
    d().Settle();
    return ch;
  }
  uint32_t Option(int n) { return *d().sm().NumericOption(n); }

  std::string dir_;
  ovtest::ScopedEnv env_;
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
  // Codes 263-269 have no keyword: an element sends them by number.
  const struct {
    int32_t code;
    int32_t TextClip::*field;
    int32_t value;
  } coded[] = {{263, &TextClip::justification, 2}, {264, &TextClip::justification, 0},
               {265, &TextClip::justification, 1}, {266, &TextClip::justification, 3},
               {269, &TextClip::verticalAlign, 2}, {267, &TextClip::verticalAlign, 0},
               {268, &TextClip::verticalAlign, 1}};
  for (const auto& c : coded) {
    d().sm().DoAction(c.code, ov::String(), 1);
    EXPECT_EQ(clip->*c.field, c.value) << c.code;
    EXPECT_EQ(Option(c.field == &TextClip::justification ? 25 : 26), uint32_t(c.value)) << c.code;
  }
  EXPECT_EQ(e->text_height(), 200 / 8) << "a small font is an eighth of the box";
  // The colour picker's option: the text colour, and a key apart from it.
  d().sm().StoreOption(u"TextColour", u"65535");
  d().sm().DoAction(ui::kActionOptionsChanged, ov::String(), 1);
  EXPECT_EQ(clip->textColour, 0xFFFFu);
  EXPECT_EQ(clip->keyColour, screens::DeriveKeyColour(0xFFFF));
}

}  // namespace

namespace {

// A tap on the box opens the dialog: an accepted text replaces the clip's,
// an empty one empties it (the placeholder shows, TE_CLEAR is disabled), a
// cancel keeps it.
TEST_F(TextScreen, TheDialogChangesOrKeepsTheText) {
  ChannelSelection* ch = OpenCaption(u"Old");
  TextEditor* e = editor();
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(e->clip(), ch->GetClipText(0));
  auto tap = [&] {
    d().Tap(e->x() + e->GetXSize() / 2, e->y() + e->GetYSize() / 2);
    d().Settle();
  };
  ui::Element* clear = d().sm().FindElementByName(nullptr, u"text_clear", true);
  ASSERT_NE(clear, nullptr);
  struct Case {
    bool accept;
    const char16_t* typed;
    const char16_t* kept;
  } cases[] = {{true, u"New words", u"New words"}, {false, u"Ignored", u"New words"}, {true, u"", u""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(ov::String(c.typed).ToUtf8Lossy());
    ov::String offered;
    wnd::SetTextEntryHook([&](const ov::String& title, ov::String* text) {
      EXPECT_EQ(title, u"Text");
      offered = *text;
      *text = c.typed;
      return c.accept;
    });
    const ov::String before = ch->GetClipText(0)->textString;
    tap();
    EXPECT_EQ(offered, before);
    EXPECT_EQ(ch->GetClipText(0)->textString, c.kept);
    EXPECT_EQ(e->text(), ov::String(c.kept).IsEmpty() ? ov::String(u"Tap to type a text") : ov::String(c.kept));
    EXPECT_EQ(clear->IsEnabled(), !ov::String(c.kept).IsEmpty());
  }
}

// A text longer than the box shows the mark that more follows below it;
// one that fits does not, in both orientations.
TEST_F(TextScreen, ALongTextIsMarkedAsGoingOn) {
  for (int turn = 0; turn < 2; ++turn) {
    if (turn) {
      d().Key(wnd::Key::kRotate);
      d().Settle();
    }
    ChannelSelection* ch = OpenCaption(u"Holiday Mix START");
    TextEditor* e = editor();
    ASSERT_NE(e, nullptr);
    ui::Element* more = d().sm().FindElementByName(nullptr, u"text_more", false);
    ASSERT_NE(more, nullptr);
    struct Case {
      const char16_t* typed;
      bool more;
    } cases[] = {{u"Holiday Mix START", true}, {u"Hi", false}, {u"", true}, {u"One two three four five six", true}};
    for (const Case& c : cases) {
      SCOPED_TRACE(ov::String(c.typed).ToUtf8Lossy() + (turn ? " turned" : ""));
      wnd::SetTextEntryHook([&](const ov::String&, ov::String* text) {
        *text = c.typed;
        return true;
      });
      d().Tap(e->x() + e->GetXSize() / 2, e->y() + e->GetYSize() / 2);
      d().Settle();
      EXPECT_EQ(ch->GetClipText(0)->textString, c.typed);
      EXPECT_EQ(e->more_below(), c.more);
      EXPECT_EQ(more->IsVisible(), c.more);
    }
    d().SavePng(dir_ + "/text_more_" + std::to_string(turn) + ".png");  // for review
  }
}

// Without a clip (a channel that is none of the mixer's) the dialog never
// opens and the preview posts nothing.
TEST_F(TextScreen, WithoutAClipNothingReachesAChannel) {
  ASSERT_TRUE(d().sm().JumpToMenu(u"imageTextMenu"));
  d().Settle();
  d().sm().DoAction(ui::kActionSelectFirstTextClip, u"no_such_channel", 1);
  TextEditor* e = editor();
  ASSERT_EQ(e->clip(), nullptr);
  int asked = 0;
  wnd::SetTextEntryHook([&](const ov::String&, ov::String*) { return ++asked, true; });
  d().Tap(e->x() + 4, e->y() + 4);
  d().sm().DoAction(ui::kActionEditorPlay, ov::String(), 1);
  d().sm().DoAction(ui::kActionEditorCreditAddOverlay, ov::String(), 1);
  d().Settle();
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(e->playing());
  EXPECT_TRUE(e->preview_engine()->Actions().empty());
  EXPECT_EQ(d().Menu(), u"imageTextMenu");
}

// The words of a recorded command: type, channel, the five parameters,
// flag and the two strings.
std::vector<std::string> Words(const engine::EngineCommand& c) {
  std::vector<std::string> w;
  for (int64_t v : {int64_t(c.type), int64_t(c.channel), int64_t(c.param1), int64_t(c.param2), int64_t(c.param3),
                    int64_t(c.param4), int64_t(c.param5), int64_t(c.flag)}) {
    w.push_back(std::to_string(v));
  }
  w.push_back(c.path.ToUtf8Lossy());
  w.push_back(c.altPath.ToUtf8Lossy());
  return w;
}

engine::EngineCommand Want(uint32_t type, uint32_t channel, int32_t p1, const ov::String& path = ov::String(),
                           const ov::String& alt = ov::String()) {
  engine::EngineCommand c = engine::MakeCommand(type, channel, p1);
  c.path = path;
  c.altPath = alt;
  return c;
}

// ED_PLAY on a caption: the master volume, the picture on 16 (no cache:
// its file), the caption over it, and play; the preview's picture then
// shows in the box. On the credits: the text alone is the clip.
TEST_F(TextScreen, ThePreviewPostsTheClipAndItsText) {
  ASSERT_TRUE(d().UseVirtualWaveOut());
  ChannelSelection* ch = OpenCaption(u"Hi");
  TextEditor* e = editor();
  // The editor's engine was built at start-up: build it on the virtual
  // device.
  e->OnAction(ui::kActionInitialise, ov::String(), 0);
  engine::MixEngine* engine = e->preview_engine();
  ASSERT_NE(engine, nullptr);
  // Pixels of the picture's green inside the box.
  auto green_in_box = [&] {
    gfx::HBitmap surface = d().sm().WindowSurface();
    int n = 0;
    for (int32_t y = e->y(); y < e->y() + e->GetYSize(); ++y) {
      for (int32_t x = e->x(); x < e->x() + e->GetXSize(); ++x) n += surface->row(y)[x] == 0x07E0;
    }
    return n;
  };
  ASSERT_EQ(green_in_box(), 0);
  d().sm().DoAction(ui::kActionEditorPlay, ov::String(), 1);
  d().Settle();
  ASSERT_TRUE(e->playing());
  const ov::String descriptor = screens::FormatTextClip(*ch->GetClipText(0));
  engine::EngineCommand open = Want(engine::CMD_LOAD, 16, -1, ch->GetClipFile(0), ch->GetClipCache(0, screens::kKindImage));
  open.param4 = int32_t(screens::kWholePicture);  // the crop, none here
  const std::vector<engine::EngineCommand> want = {
      Want(engine::CMD_MASTER_VOLUME, 0, 50 * 655),
      open,
      Want(engine::CMD_LOAD_IMAGE, 16, -1, descriptor, descriptor),
      Want(engine::CMD_PLAY, 16, 0)};
  std::vector<engine::EngineCommand> got = engine->Actions();
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(Words(got[i]), Words(want[i])) << "command " << i;
  // The device plays what the preview's threads have written, 100 ms at a
  // time up to two seconds, until the box shows the picture: the threads go
  // at their own pace.
  const int quarter = e->GetXSize() * e->GetYSize() / 4;
  EXPECT_TRUE(d().SettleUntil([&] {
    d().AdvanceDevice(engine->GetPlayPosition() < 2000 ? 2205 : 0);
    return green_in_box() > quarter;
  })) << "the box shows the preview";
  EXPECT_TRUE(engine->IsChannelPlaying(16));
  d().sm().DoAction(ui::kActionEditorPause, ov::String(), 1);
  EXPECT_TRUE(e->paused());
  EXPECT_TRUE(engine->IsPaused());
  d().sm().DoAction(ui::kActionEditorPlay, ov::String(), 1);
  EXPECT_FALSE(e->paused());
  EXPECT_FALSE(engine->IsPaused());
  EXPECT_EQ(engine->Actions().size(), want.size()) << "a resume posts nothing";

  d().sm().DoAction(ui::kActionEditorStop, ov::String(), 1);
  EXPECT_FALSE(e->playing());
  d().sm().DoAction(ui::kActionStartCredits, ov::String(), 1);
  TextClip* credits = e->clip();
  ASSERT_NE(credits, nullptr);
  credits->textString = u"Cast";
  engine->ClearActions();
  d().sm().DoAction(ui::kActionEditorPlay, ov::String(), 1);
  const ov::String text = screens::FormatTextClip(*credits);
  got = engine->Actions();
  const std::vector<engine::EngineCommand> credits_want = {Want(engine::CMD_MASTER_VOLUME, 0, 50 * 655),
                                                           Want(engine::CMD_LOAD, 16, -1, text, text),
                                                           Want(engine::CMD_PLAY, 16, 0)};
  ASSERT_EQ(got.size(), credits_want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(Words(got[i]), Words(credits_want[i])) << "command " << i;
}

// A video's caption: its sound on channel 0, the video (no decoded cache
// yet: its file) on 16, the caption from the text cache the editor writes,
// play with the sound linked, the sound's volume up.
TEST_F(TextScreen, AVideosPreviewTakesItsCaptionFromTheTextCache) {
  const std::string video = ovtest::FixturePath("media_h263_amr.3gp");
  OV_SKIP_WITHOUT_FIXTURE(video);
  ASSERT_TRUE(d().UseVirtualWaveOut());
  ChannelSelection* ch = mixer()->entry(1).channel;
  int32_t kind = 0;
  const int32_t type = screens::FileTypeOfPath(U(video), &kind);
  ASSERT_EQ(kind, screens::kKindVideo);
  TextClip caption;
  caption.textString = u"Under";
  ch->AddClip(kind, type, U(video), ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture,
              screens::kDefaultPanSpeed, 0, 0, 0, 0, screens::kWholePicture, 0, &caption);
  ASSERT_TRUE(d().sm().JumpToMenu(u"imageTextMenu"));
  d().Settle();
  d().sm().DoAction(ui::kActionSelectFirstTextClip, ch->title(), 1);
  TextEditor* e = editor();
  ASSERT_EQ(e->clip(), ch->GetClipText(0));
  e->OnAction(ui::kActionInitialise, ov::String(), 0);
  d().sm().DoAction(ui::kActionEditorPlay, ov::String(), 1);
  const ov::String cache = ch->GetClipCache(0, screens::kKindText);
  ASSERT_FALSE(cache.IsEmpty());
  EXPECT_TRUE(ov::FileExists(cache));
  engine::EngineCommand play = Want(engine::CMD_PLAY, 16, 0);
  play.param2 = 1;
  engine::EngineCommand video_open = Want(engine::CMD_LOAD, 16, 0, U(video));
  video_open.param4 = int32_t(screens::kWholePicture);
  const std::vector<engine::EngineCommand> want = {
      Want(engine::CMD_MASTER_VOLUME, 0, 50 * 655),
      Want(engine::CMD_LOAD, 0, 0, U(video)),
      video_open,
      Want(engine::CMD_LOAD_IMAGE, 16, -1, screens::FormatTextClip(*ch->GetClipText(0)), cache),
      play,
      Want(engine::CMD_VOLUME, 0, 0xFFFF)};
  const std::vector<engine::EngineCommand> got = e->preview_engine()->Actions();
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(Words(got[i]), Words(want[i])) << "command " << i;
  // The preview ends with the video: a tick at most every 250 ms sees it.
  // The device plays only what the engine has written, so the loop runs
  // until then (a minute or so at most, which only a hang reaches).
  uint32_t now = 1000;
  for (int i = 0; i < 30000 && e->playing(); ++i) {
    d().AdvanceDevice(2205);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    gfx::Rect area{};
    e->OnTick(&area, now += 100);
  }
  EXPECT_FALSE(e->playing());
  EXPECT_FALSE(e->preview_engine()->IsChannelPlaying(16));
  // Leaving the screen drops the text cache.
  d().Back();
  d().Settle();
  EXPECT_FALSE(e->playing());
  EXPECT_FALSE(e->preview_engine()->IsPlaying()) << "the engine rests";
  EXPECT_TRUE(ch->GetClipCache(0, screens::kKindText).IsEmpty());
  EXPECT_FALSE(ov::FileExists(cache));
}

// A turn rebuilds the screens: the editor takes the clip it edited again,
// a channel's caption by its saved selection as the credits by theirs.
// What a preview shows is what the mix shows: for each clip the editor's
// preview posts the mixer's open, text, overlay, file effect, pan and zoom,
// colour filter and transition, with the same words and files, only on the
// preview's stream. A cropped photo, a panning one whose transition is
// off, and the credits, each with an overlay.
TEST_F(TextScreen, ThePreviewPlaysTheLayersTheMixerSends) {
  auto touch = [&](const char* name) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << "x";
    return U(path);
  };
  ChannelSelection* ch = OpenCaption(u"Hi");
  // A second photo gives the first its display time.
  int32_t kind = 0;
  ch->AddClip(screens::kKindImage, screens::FileTypeOfPath(ch->GetClipFile(0), &kind), ch->GetClipFile(0),
              ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture, screens::kDefaultPanSpeed,
              2000, 0, 0, 0, screens::kWholePicture, 0, nullptr);
  ASSERT_EQ(ch->GetClipDisplayTime(0), 2000);
  ch->SetClipOverlayFile(0, touch("hearts.bmp"));
  ch->SetClipOverlayCache(0, touch("overlay0-0.raw"), screens::kKindImage);
  ch->SetClipPhotoEffect(0, 2);
  ch->SetEffectFile(touch("rain.qbt"));
  ch->channel_effect() = engine::MakeCommand(engine::CMD_FADE, 16, 500, 4);
  ch->set_effect_on(1);
  TextEditor* e = editor();
  engine::MixEngine* engine = e->preview_engine();
  ASSERT_NE(engine, nullptr);
  ovtest::RecordingCalls live;
  mixer()->UseLiveCalls(&live);
  mixer()->set_mixing(true);

  // The picture-stream commands that make the layers: no tempo, loop, hold
  // or play, no mark (a recorded-list detail), the stream made the preview's.
  auto layers = [](const std::vector<const engine::EngineCommand*>& all) {
    std::vector<std::vector<std::string>> out;
    for (const engine::EngineCommand* c : all) {
      if (c->channel < 16 || c->type == engine::CMD_PLAY || c->type == engine::CMD_SET_LOOP ||
          c->type == engine::CMD_SET_HOLD || c->type == engine::CMD_SET_RATE) {
        continue;
      }
      engine::EngineCommand copy = *c;
      copy.channel = 16;
      copy.param5 = 0;
      out.push_back(Words(copy));
    }
    return out;
  };
  auto preview = [&](int entry) {
    engine->ClearActions();
    d().sm().DoAction(228, ov::String(), 1);
    std::vector<engine::EngineCommand> got = engine->Actions();
    d().sm().DoAction(ui::kActionEditorStop, ov::String(), 1);
    std::vector<const engine::EngineCommand*> all;
    for (const engine::EngineCommand& c : got) all.push_back(&c);
    std::vector<std::vector<std::string>> out = layers(all);
    // The mixer's commands for the same clip, switched on while mixing.
    const size_t from = live.posted.size();
    mixer()->OnAction(ui::kActionChannelOn0 + entry, ov::String(), 0);
    std::vector<const engine::EngineCommand*> mixed;
    for (size_t i = from; i < live.posted.size(); ++i) mixed.push_back(live.posted[i].get());
    mixer()->OnAction(ui::kActionChannelOff0 + entry, ov::String(), 0);
    mixer()->mutable_entry(entry).playIndex = 0;
    EXPECT_EQ(out, layers(mixed));
    return out.size();
  };
  struct Case {
    const char* name;
    std::function<void()> set_up;
    int entry;
    size_t layers;
  };
  const Case cases[] = {
      {"cropped photo",
       [&] {
         ch->SetClipCropOn(0, 1);
         ch->SetClipCropRect(0, 0x20C020C0);
       },
       0, 6},
      {"panning photo, its transition switched off",
       [&] {
         ch->SetClipCropOn(0, 0);
         ch->SetClipPanZoom(0, screens::kWholePicture, 0x10E010E0, 700);
         ch->set_effect_on(0);
       },
       0, 6},
      {"credits",
       [&] {
         d().sm().DoAction(ui::kActionStartCredits, ov::String(), 1);
         ChannelSelection* credits = e->channel();
         ASSERT_NE(credits, nullptr);
         e->clip()->textString = u"Cast";
         credits->SetClipOverlayFile(0, touch("stars.bmp"));
         credits->SetClipPhotoEffect(0, 1);
       },
       screens::kStartCreditsEntry, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.set_up();
    EXPECT_EQ(preview(c.entry), c.layers);
  }
  mixer()->set_mixing(false);
  mixer()->UseLiveCalls(nullptr);
}

TEST_F(TextScreen, ATurnKeepsTheSelection) {
  ChannelSelection* ch = OpenCaption(u"Caption");
  ASSERT_EQ(editor()->selection_code(), ui::kActionSelectFirstTextClip);
  const ov::String name = ch->title();
  d().Key(wnd::Key::kRotate);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"imageTextMenu");
  TextEditor* e = editor();
  ASSERT_NE(e, nullptr);
  ASSERT_NE(e->clip(), nullptr);
  EXPECT_EQ(e->channel(), mixer()->entry(0).channel);
  EXPECT_EQ(e->clip()->textString, u"Caption");
  EXPECT_FALSE(e->credits());

  d().sm().DoAction(ui::kActionEndCredits, ov::String(), 1);
  e->clip()->textString = u"The end";
  d().Key(wnd::Key::kRotate);
  d().Settle();
  e = editor();
  ASSERT_NE(e->clip(), nullptr);
  EXPECT_TRUE(e->credits());
  EXPECT_FALSE(e->start_credits());
  EXPECT_EQ(e->channel(), mixer()->entry(screens::kEndCreditsEntry).channel);
  EXPECT_EQ(e->clip()->textString, u"The end");
}

}  // namespace

namespace {

// The overlay set-up offers the first clip's overlay by its name in the skin
// folder and its photo effect; accepting gives the overlay to the first
// clip and the effect to every clip when asked. The colours chosen on their
// own screen reach the clip when the editor shows again.
TEST_F(TextScreen, OverlayAndColoursFromTheirScreens) {
  ChannelSelection* ch = OpenCaption(u"Two");
  ch->AddClip(screens::kKindImage, ch->GetClipFileType(0), ch->GetClipFile(0), ov::String(), ov::String(),
              screens::kWholePicture, screens::kWholePicture, screens::kDefaultPanSpeed, 2000, 0, 0, 0,
              screens::kWholePicture, 0, nullptr);
  ASSERT_EQ(ch->ClipCount(), 2);
  const ov::String skin = d().sm().SkinFolder();
  ch->SetClipOverlayFile(0, ov::JoinPath(skin, u"frame.gif"));
  ch->SetClipPhotoEffect(0, 2);
  d().sm().DoAction(ui::kActionEditorCreditAddOverlay, ov::String(), 1);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"credits_overlay_menu");
  EXPECT_EQ(*d().sm().StringOption(18), u"frame.gif") << "the name inside the skin folder";
  EXPECT_EQ(Option(9), 2u);
  EXPECT_EQ(Option(7), 0u);
  d().sm().StoreOption(u"OverlayEffect", u"stars.gif");
  d().sm().StoreOption(u"PhotoEffect", u"3");
  d().sm().StoreOption(u"AssignPhotoEffectToAll", u"1");
  d().sm().DoAction(ui::kActionEditorAcceptChanges, ov::String(), 1);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"imageTextMenu");
  EXPECT_EQ(ch->GetClipOverlayFile(0), ov::JoinPath(skin, u"stars.gif"));
  EXPECT_EQ(ch->GetClipOverlayFile(1), u"");
  EXPECT_EQ(ch->GetClipPhotoEffect(0), 3);
  EXPECT_EQ(ch->GetClipPhotoEffect(1), 3);

  ASSERT_TRUE(d().sm().JumpToMenu(u"text_colours"));
  d().Settle();
  d().sm().StoreOption(u"TextColour", u"255");
  d().sm().StoreOption(u"TextBackGndColour", u"0");
  d().Back();
  d().Settle();
  ASSERT_EQ(d().Menu(), u"imageTextMenu");
  EXPECT_EQ(ch->GetClipText(0)->textColour, 255u);
  EXPECT_EQ(ch->GetClipText(0)->backgroundColour, 0);
}

// A clip that left its channel meanwhile is forgotten when the screen shows
// again, and nothing reaches it.
TEST_F(TextScreen, AClipGoneMeanwhileIsForgotten) {
  OpenCaption(u"Gone");
  ASSERT_NE(editor()->clip(), nullptr);
  ASSERT_TRUE(d().sm().JumpToMenu(u"mixing_menu"));
  d().Settle();
  mixer()->entry(0).channel->Clear();
  ASSERT_TRUE(d().sm().JumpToMenu(u"imageTextMenu"));
  d().Settle();
  EXPECT_EQ(editor()->clip(), nullptr);
  EXPECT_EQ(editor()->text(), u"Tap to type a text");
  d().sm().DoAction(ui::kActionTextBold, ov::String(), 1);
  d().Settle();
}

}  // namespace
