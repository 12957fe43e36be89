// Text clips drawn off-screen by the text editor, through the engine's
// rendered clip source as the video mixer and the text cache draw them:
// font sizes, the key colour, the background box and the placement of the
// text by justification and vertical alignment. Glyph shapes depend on the
// FreeType build, so placement is measured by ink; the box and the key are
// compared exactly. Every picture is saved as PNG.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/action_processor.h"
#include "engine/engine_command.h"
#include "engine/export_job.h"
#include "engine/mix_engine.h"
#include "engine/media_decompressor.h"
#include "engine/raw_frame_cache_source.h"
#include "engine/rendered_clip_source.h"
#include "engine/video_mixer.h"
#include "engine/video_source_factory.h"
#include "screens/project/channel_selection.h"
#include "screens/screens.h"
#include "screens/project/text_clip.h"
#include "screens/editors/text_editor.h"
#include "tests/gfx/surface_util.h"
#include "tests/ui/fake_host.h"

namespace screens {
namespace {

constexpr int32_t kW = 176, kH = 144;
constexpr uint32_t kKey = 0xFF00FF, kInk = 0xFFFFFF, kBox = 0x800000;

TextClip Clip(const char16_t* text, int32_t just, int32_t valign, int32_t background, int32_t size = 0) {
  TextClip c;
  c.textString = text;
  c.textSize = size;
  c.textColour = kInk;
  c.backgroundColour = background;
  c.keyColour = kKey;
  c.justification = just;
  c.verticalAlign = valign;
  return c;
}

// The clip drawn on a frame filled with its key colour.
ovtest::Canvas Render(const TextClip& clip, int32_t w = kW, int32_t h = kH) {
  RegisterElements();
  engine::RenderedClipSource source(w, h);
  ovtest::Canvas c = ovtest::MakeCanvas(w, h, clip.keyColour);
  EXPECT_TRUE(source.Open(FormatTextClip(clip), 1));
  EXPECT_TRUE(source.RenderFrame(0, c.get()));
  return c;
}

// Pixels of colour `colour`.
int Count(const gfx::Bitmap& b, uint32_t colour) {
  const uint16_t p = gfx::ColorRefTo565(colour);
  int n = 0;
  for (int32_t y = 0; y < b.height(); ++y) {
    for (int32_t x = 0; x < b.width(); ++x) n += b.row(y)[x] == p;
  }
  return n;
}

TEST(TextEditor, FontIsAnEighthOrAQuarterOfTheWidth) {
  const std::string dir = ovtest::ScratchDir();
  int32_t inkHeight[2] = {};
  for (int32_t size : {0, 1}) {
    TextClip clip = Clip(u"H", 0, 0, -1, size);
    TextEditor editor{ui::TextBox::OffScreen{}};
    ASSERT_EQ(editor.InitTextEditor(kW, kH, &clip), 1);
    EXPECT_EQ(editor.text_height(), size == 0 ? 22 : 44);
    ovtest::Canvas c = Render(clip);
    ovtest::SaveSurface(dir, "size" + std::to_string(size), *c.bitmap);
    inkHeight[size] = ovtest::InkBox(*c.bitmap, kKey).Height();
  }
  ASSERT_GT(inkHeight[0], 8);
  EXPECT_NEAR(inkHeight[1], 2 * inkHeight[0], 3);
}

TEST(TextEditor, KeyColourDerivedFromTheTextWhenTheStyleHasNoBackground) {
  struct {
    uint32_t text, key;
  } derived[] = {{0xFFFFFF, 0xDFDFDF}, {0x000000, 0x202020}, {0xDFE0E1, 0xFFC0C1}, {0x1000F0, 0x3020D0}};
  for (const auto& d : derived) EXPECT_EQ(DeriveKeyColour(d.text), d.key) << std::hex << d.text;

  TextClip clip = Clip(u"Hi", 1, 1, 0x00FF00);
  TextEditor editor{ui::TextBox::OffScreen{}};
  EXPECT_EQ(editor.ApplyTextStyle(nullptr), 0) << "no clip yet";
  editor.InitTextEditor(kW, kH, &clip);
  TextClip style = Clip(u"ignored", 2, 0, -1, 1);
  style.textColour = 0x00FF20;
  style.bold = 1;
  EXPECT_EQ(editor.ApplyTextStyle(&style), 1);
  EXPECT_EQ(clip.textString, ov::String(u"Hi")) << "the style carries no text";
  EXPECT_EQ(clip.justification, 2);
  EXPECT_EQ(clip.verticalAlign, 0);
  EXPECT_EQ(clip.bold, 1);
  EXPECT_EQ(clip.backgroundColour, -1);
  EXPECT_EQ(clip.keyColour, 0x20DF40u);
  EXPECT_EQ(editor.text_height(), 44);
  EXPECT_EQ(editor.ApplyTextStyle(&style), 0) << "the same style again changes nothing";
  // With a background the key colour stays as it was.
  style.backgroundColour = 0x112233;
  clip.keyColour = kKey;
  editor.ApplyTextStyle(&style);
  EXPECT_EQ(clip.keyColour, kKey);
}

TEST(TextEditor, PlacedByJustificationAndAlignmentOnKeyOrBox) {
  const std::string dir = ovtest::ScratchDir();
  struct Case {
    int32_t just, valign, background;
  } cases[] = {{0, 0, -1}, {1, 1, -1}, {2, 2, -1}, {3, 0, -1}, {0, 2, int32_t(kBox)}, {1, 0, int32_t(kBox)},
               {2, 1, int32_t(kBox)}};
  for (const Case& k : cases) {
    const std::string name =
        "just" + std::to_string(k.just) + "_v" + std::to_string(k.valign) + (k.background == -1 ? "" : "_box");
    SCOPED_TRACE(name);
    ovtest::Canvas c = Render(Clip(u"Hi", k.just, k.valign, k.background));
    ovtest::SaveSurface(dir, name, *c.bitmap);
    const uint32_t ground = k.background == -1 ? kKey : kBox;
    int ink = 0;
    const gfx::Rect box = ovtest::InkBox(*c.bitmap, ground, &ink);
    ASSERT_GT(ink, 20);
    EXPECT_LT(box.Width(), kW / 2) << "only the text differs from the key or the box";
    EXPECT_GT(Count(*c.bitmap, kInk), 10) << "glyph cores in the text colour";
    // Outside the ink box the picture is the ground, exactly.
    for (int32_t y = 0; y < kH; ++y) {
      for (int32_t x = 0; x < kW; ++x) {
        if (x >= box.left && x < box.right && y >= box.top && y < box.bottom) continue;
        ASSERT_EQ(c.bitmap->row(y)[x], gfx::ColorRefTo565(ground)) << x << "," << y;
      }
    }
    // Justified text of one line sits on the left.
    const int32_t centreX = (box.left + box.right) / 2, centreY = (box.top + box.bottom) / 2;
    const int32_t wantX = k.just == 1 ? kW / 2 : k.just == 2 ? kW - 1 : 0;
    const int32_t gotX = k.just == 1 ? centreX : k.just == 2 ? box.right : box.left;
    EXPECT_NEAR(gotX, wantX, 4) << "justification";
    const int32_t wantY = k.valign == 1 ? kH / 2 : k.valign == 2 ? kH - 1 : 0;
    const int32_t gotY = k.valign == 1 ? centreY : k.valign == 2 ? box.bottom : box.top;
    EXPECT_NEAR(gotY, wantY, 8) << "vertical alignment";
  }
}

TEST(TextEditor, TallTextFromTheTopAndEmptyTextDrawsNothing) {
  const std::string dir = ovtest::ScratchDir();
  ovtest::Canvas tall = Render(Clip(u"one two three four five six seven", 1, 2, -1, 1), kW, 60);
  ovtest::SaveSurface(dir, "tall", *tall.bitmap);
  EXPECT_LE(ovtest::InkBox(*tall.bitmap, kKey).top, 10) << "taller than the box: drawn from the top";
  int ink = -1;
  ovtest::Canvas empty = Render(Clip(u"", 1, 1, int32_t(kBox)));
  ovtest::InkBox(*empty.bitmap, kKey, &ink);
  EXPECT_EQ(ink, 0) << "an empty text draws not even its box";
}

TEST(TextEditor, OpenedThroughTheEngineAtTheMixersSize) {
  RegisterElements();
  engine::VideoMixer mixer(kW, kH, 15, 0);
  auto plain = engine::OpenVideoSource(FormatTextClip(Clip(u"Hi", 1, 1, -1)), &mixer, -1, 1);
  auto boxed = engine::OpenVideoSource(FormatTextClip(Clip(u"Hi", 1, 1, int32_t(kBox))), &mixer, -1, 1);
  ASSERT_TRUE(plain && boxed);
  media::MediaFormat f;
  ASSERT_TRUE(plain->GetFormat(&f));
  EXPECT_EQ(f.hasColourKey, 0u);
  EXPECT_EQ(f.rendered, 1u);
  ASSERT_TRUE(boxed->GetFormat(&f));
  EXPECT_EQ(f.hasColourKey, 1u);
  EXPECT_EQ(f.colourKey, 0u);
  ov::String cut = FormatTextClip(Clip(u"Hi", 1, 1, -1));
  cut = ov::String(cut.View().substr(0, size_t(cut.Length() - 3)));
  EXPECT_FALSE(engine::OpenVideoSource(cut, &mixer, -1, 1)) << "a damaged descriptor";
}

// The video mixer draws text clips: credits as a clip over the mixer's
// background, a caption as a layer over a picture. Without a background
// only the ink covers what lies below; with one, its box does.
struct MixerCase {
  engine::VideoMixer mixer{kW, kH, 15, 0x0000FF};
  int Apply(uint32_t type, uint32_t channel, const ov::String& path, int32_t p1 = 0) {
    engine::EngineCommand c;
    c.type = type;
    c.channel = channel + engine::kFirstVideoChannel;
    c.param1 = p1;
    c.param4 = int32_t(engine::kWholePicture);
    c.path = path;
    return mixer.ApplyAction(c, 0);
  }
  gfx::HBitmap Frame() {
    gfx::HBitmap b = gfx::CreateBitmap565(kW, kH);
    for (int32_t y = 0; y < kH; ++y) std::copy_n(mixer.frame().Row(y), kW, b->row(y));
    return b;
  }
};

// Outside the ink box every pixel is `ground`; the ink holds the text colour.
void ExpectInkOn(const gfx::Bitmap& b, uint32_t ground, const std::string& what) {
  SCOPED_TRACE(what);
  int ink = 0;
  const gfx::Rect box = ovtest::InkBox(b, ground, &ink);
  ASSERT_GT(ink, 20);
  EXPECT_LT(box.Width(), kW / 2) << "only the text covers the frame";
  EXPECT_GT(Count(b, kInk), 10);
  for (int32_t y = 0; y < kH; ++y) {
    for (int32_t x = 0; x < kW; ++x) {
      if (x >= box.left && x < box.right && y >= box.top && y < box.bottom) continue;
      ASSERT_EQ(b.row(y)[x], gfx::ColorRefTo565(ground)) << x << "," << y;
    }
  }
}

TEST(TextEditor, VideoMixerDrawsCreditsAndCaptions) {
  const std::string dir = ovtest::ScratchDir();
  RegisterElements();
  const ov::String plain = FormatTextClip(Clip(u"Hi", 1, 1, -1));
  const ov::String boxed = FormatTextClip(Clip(u"Hi", 1, 1, int32_t(kBox)));
  {
    MixerCase credits;
    ASSERT_EQ(credits.Apply(engine::CMD_LOAD, 0, plain, -1), 1);
    credits.Apply(engine::CMD_PLAY, 0, ov::String());
    credits.mixer.ComposeFrame(0);
    credits.mixer.ComposeFrame(500);
    gfx::HBitmap f = credits.Frame();
    ovtest::SaveSurface(dir, "credits", *f);
    ExpectInkOn(*f, 0x0000FF, "credits over the background");
  }
  {
    MixerCase credits;
    ASSERT_EQ(credits.Apply(engine::CMD_LOAD, 0, boxed, -1), 1);
    credits.Apply(engine::CMD_PLAY, 0, ov::String());
    credits.mixer.ComposeFrame(0);
    gfx::HBitmap f = credits.Frame();
    ovtest::SaveSurface(dir, "credits_box", *f);
    ExpectInkOn(*f, kBox, "credits in their box");
  }
  // A caption over a green picture.
  ovtest::Canvas green = ovtest::MakeCanvas(kW, kH, 0x00FF00);
  const std::string picture = dir + "/green.png";
  ASSERT_TRUE(imaging::WritePng(picture, *green.bitmap));
  for (const ov::String* caption : {&plain, &boxed}) {
    MixerCase c;
    ASSERT_EQ(c.Apply(engine::CMD_LOAD, 0, ov::String::FromUtf8Lossy(picture), -1), 1);
    c.Apply(engine::CMD_PLAY, 0, ov::String());
    ASSERT_EQ(c.Apply(engine::CMD_LOAD_IMAGE, 0, *caption, 0), 1);
    c.mixer.ComposeFrame(0);
    c.mixer.ComposeFrame(100);
    gfx::HBitmap f = c.Frame();
    const bool box = caption == &boxed;
    ovtest::SaveSurface(dir, box ? "caption_box" : "caption", *f);
    ExpectInkOn(*f, box ? kBox : 0x00FF00, box ? "a caption in its box" : "a caption over the picture");
  }
}

// The same in a picture render's frames: credits over the render's black
// background, a caption over a picture, each plain and in its box.
TEST(TextEditor, RenderedFramesShowCreditsAndCaptions) {
  const std::string dir = ovtest::ScratchDir();
  RegisterElements();
  ovtest::Canvas green = ovtest::MakeCanvas(kW, kH, 0x00FF00);
  const ov::String picture = ov::String::FromUtf8Lossy(dir + "/green.png");
  ASSERT_TRUE(imaging::WritePng(picture.ToUtf8Lossy(), *green.bitmap));
  auto command = [](uint32_t type, const ov::String& path) {
    engine::EngineCommand c = engine::MakeCommand(type, engine::kFirstVideoChannel, 0);
    c.path = c.altPath = path;
    c.param4 = int32_t(engine::kWholePicture);
    return c;
  };
  for (const bool caption : {false, true}) {
    for (const int32_t background : {-1, int32_t(kBox)}) {
      const std::string name = std::string(caption ? "caption" : "credits") + (background == -1 ? "" : "_box");
      SCOPED_TRACE(name);
      const ov::String text = FormatTextClip(Clip(u"Hi", 1, 1, background));
      std::vector<engine::EngineCommand> list;
      if (caption) {
        list = {command(engine::CMD_LOAD, picture), command(engine::CMD_PLAY, ov::String()),
                command(engine::CMD_LOAD_IMAGE, text)};
      } else {
        list = {command(engine::CMD_LOAD, text), command(engine::CMD_PLAY, ov::String())};
      }
      engine::EngineCommand stop = command(engine::CMD_STOP, ov::String());
      stop.timeMs = 500;
      list.push_back(stop);
      engine::ActionProcessor actions;
      for (const engine::EngineCommand& c : list) actions.Append(std::make_unique<engine::EngineCommand>(c));
      std::vector<uint8_t> record;
      actions.Serialize(&record);
      engine::MixEngine e(nullptr, nullptr);
      size_t used = 0;
      ASSERT_TRUE(e.LoadActions(record, &used));
      struct Probe : engine::DmoExportJob {
        using DmoExportJob::DmoExportJob;
        bool Start() { return Prepare(); }
      } job(&e, ov::String::FromUtf8Lossy(dir + "/" + name + ".mp4"));
      job.SetExportParams(engine::ExportSettings{96000, 22050, 16, 2, 0, 4, 1, 128000, 10, uint32_t(kH), uint32_t(kW)});
      ASSERT_TRUE(job.Start());
      gfx::HBitmap frame = gfx::CreateBitmap565(kW, kH);
      std::vector<uint8_t> buffer(size_t(kW) * kH * 2);
      uint8_t* video = buffer.data();
      uint8_t* audio = nullptr;
      uint32_t bytes = 0, time = 0;
      ASSERT_EQ(job.RenderNextFrame(&video, &audio, &bytes, &time), 1);
      ::operator delete(audio);
      for (int32_t y = 0; y < kH; ++y) std::memcpy(frame->row(y), buffer.data() + size_t(y) * kW * 2, size_t(kW) * 2);
      ovtest::SaveSurface(dir, name, *frame);
      ExpectInkOn(*frame, background != -1 ? kBox : caption ? 0x00FF00 : 0x000000, name);
    }
  }
}

// The text cache: the clip's text at the mixer's size on its key colour,
// one still keyed on that colour and named in the clip; with a background
// the box covers the frame. A clip without text writes nothing.
TEST(TextEditor, TextCacheIsTheTextOnItsKey) {
  const std::string dir = ovtest::ScratchDir();
  RegisterElements();
  engine::VideoMixer mixer(kW, kH, 15, 0);
  ChannelSelection ch;
  ch.AddEmptyTextClip();
  engine::MediaDecompressor d(&mixer, {}, true);
  d.SetFolder(ov::String::FromUtf8Lossy(dir + "/"));
  EXPECT_EQ(d.DecompressText(0, &ch, 3), 0) << "no text";
  EXPECT_TRUE(ch.GetClipCache(0, kKindText).IsEmpty());
  for (int32_t background : {-1, int32_t(kBox)}) {
    SCOPED_TRACE(background);
    *ch.GetClipText(0) = Clip(u"Hi", 1, 1, background);
    ch.GetClipText(0)->keyColour = 0x10A020;
    ASSERT_EQ(d.DecompressText(0, &ch, 3), 1);
    const ov::String cache = ch.GetClipCache(0, kKindText);
    EXPECT_EQ(cache, ov::String::FromUtf8Lossy(dir + "/text3-0.raw"));
    engine::RawFrameCacheSource source;
    ASSERT_TRUE(source.Open(cache, 1));
    media::MediaFormat f;
    ASSERT_TRUE(source.GetFormat(&f));
    EXPECT_EQ(f.width, uint32_t(kW));
    EXPECT_EQ(f.height, uint32_t(kH));
    EXPECT_EQ(f.hasColourKey, 1u);
    EXPECT_EQ(f.colourKey, 0x10A020u);
    std::unique_ptr<uint8_t[]> frame;
    uint32_t bytes = 0, time = 0;
    ASSERT_TRUE(source.ReadVideoFrame(&frame, &bytes, &time, 0));
    gfx::HBitmap b = gfx::CreateBitmap565(kW, kH);
    for (int32_t y = 0; y < kH; ++y) std::memcpy(b->row(y), frame.get() + size_t(y) * kW * 2, size_t(kW) * 2);
    ovtest::SaveSurface(dir, background == -1 ? "text_cache" : "text_cache_box", *b);
    ExpectInkOn(*b, background == -1 ? 0x10A020 : kBox, "the cached text");
  }
}

// A UI host that counts what reaches it.
class CountingHost : public ovtest::FakeHost {
 public:
  void InvalidateArea(const gfx::Rect&) override { ++calls; }
  void InvalidateAll() override { ++calls; }
  ui::TextStyle GetTextStyle() override {
    ++calls;
    return ui::TextStyle();
  }
  ov::String SkinFolder() override {
    ++calls;
    return ov::String();
  }
  ui::Element* FindElementByName(ui::Menu*, const ov::String&, bool) override {
    ++calls;
    return nullptr;
  }
  int calls = 0;
};

TEST(TextEditor, OffScreenReachesNoHost) {
  CountingHost host;
  TextClip clip = Clip(u"Hi there", 1, 1, int32_t(kBox));
  TextClip style = Clip(u"", 2, 2, -1, 1);
  {
    TextEditor offScreen{ui::TextBox::OffScreen{}};
    offScreen.LoadAttribute(u"scrollDown", u"arrow");
    offScreen.InitTextEditor(kW, kH, &clip);
    offScreen.ApplyTextStyle(&style);
    ovtest::Canvas c = ovtest::MakeCanvas(kW, kH, kKey);
    offScreen.Draw(c.get(), ui::kDrawNormal);
    EXPECT_GT(ovtest::InkBox(*c.bitmap, kKey).Width(), 0);
  }
  EXPECT_EQ(host.calls, 0);
  TextEditor onScreen;
  onScreen.InitTextEditor(kW, kH, &clip);
  EXPECT_GT(host.calls, 0) << "an editor on a screen repaints through the host";
}

}  // namespace
}  // namespace screens
