// The rendered clip source as the engine sees it: text clips open only
// through a registered renderer, at the mixer's frame size, and draw onto
// the surface the caller hands in. The renderer here is a stand-in; the
// screens' own is tested with the text editor.
#include <gtest/gtest.h>

#include "engine/rendered_clip_source.h"
#include "engine/text_clip_renderer.h"
#include "engine/video_mixer.h"
#include "engine/video_source_factory.h"

namespace engine {
namespace {

// Prepares any descriptor holding "ok"; "bg" gives it a background. Draws a
// 2x2 block at the origin with the red of its frame width.
class StandInRenderer : public TextClipRenderer {
 public:
  bool Prepare(const ov::String& d, int32_t w, int32_t h) override {
    width = w;
    background = d.View().find(u"bg") != std::u16string_view::npos;
    (void)h;
    return d.View().find(u"ok") != std::u16string_view::npos;
  }
  bool HasBackground() const override { return background; }
  uint32_t KeyColour() const override { return 0xFF00FF; }
  bool Draw(uint32_t, gfx::HDC dc) override {
    return gfx::FillRect(dc, {0, 0, 2, 2}, gfx::CreateSolidBrush(uint32_t(width)));
  }
  int32_t width = 0;
  bool background = false;
};

std::unique_ptr<TextClipRenderer> MakeStandIn() { return std::make_unique<StandInRenderer>(); }

struct RendererScope {
  RendererScope() { RegisterTextClipRenderer(MakeStandIn); }
  ~RendererScope() { RegisterTextClipRenderer(nullptr); }
};

TEST(RenderedClipSource, FormatDrawAndRefusals) {
  const ov::String plain = u"**TEXT**ok", boxed = u"**TEXT**ok bg", damaged = u"**TEXT**bad";
  {
    RenderedClipSource none(176, 144);
    EXPECT_FALSE(none.Open(plain, 1)) << "no renderer registered";
  }
  RendererScope scope;
  struct Case {
    const ov::String* descriptor;
    int32_t w, h;
    bool opens;
    uint32_t key;
  } cases[] = {
      {&plain, 176, 144, true, 0},  {&boxed, 176, 144, true, 1}, {&damaged, 176, 144, false, 0},
      {&plain, 0, 144, false, 0},   {&plain, 176, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.descriptor->ToUtf8Lossy() + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
    RenderedClipSource source(c.w, c.h);
    media::MediaFormat f;
    ASSERT_EQ(source.Open(*c.descriptor, 1), c.opens);
    if (!c.opens) {
      EXPECT_FALSE(source.GetFormat(&f));
      continue;
    }
    ASSERT_TRUE(source.GetFormat(&f));
    EXPECT_EQ(f.frameDurationMs, 0xFFFFFFFFu);
    EXPECT_EQ(f.width, uint32_t(c.w));
    EXPECT_EQ(f.height, uint32_t(c.h));
    EXPECT_EQ(f.rendered, 1u);
    EXPECT_EQ(f.hasColourKey, c.key);
    EXPECT_EQ(f.colourKey, 0u);
    EXPECT_EQ(f.sampleRate + f.bitsPerSample + f.channels, 0u);
    // Frames are drawn, never read: the caller's buffer stays as it is.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[4]{1, 2, 3, 4});
    uint8_t* held = buffer.get();
    uint32_t bytes = 77, time = 88;
    EXPECT_TRUE(source.ReadVideoFrame(&buffer, &bytes, &time, 0));
    EXPECT_EQ(buffer.get(), held);
    EXPECT_EQ(bytes, 77u);
    EXPECT_EQ(time, 88u);
    EXPECT_FALSE(source.RenderFrame(0, nullptr));
    auto dc = gfx::CreateCompatibleDC(nullptr);
    auto bitmap = gfx::CreateBitmap565(4, 4);
    dc->SelectBitmap(bitmap);
    ASSERT_TRUE(source.RenderFrame(0, dc.get()));
    EXPECT_EQ(gfx::GetPixel(dc.get(), 1, 1), gfx::GetPixel(dc.get(), 0, 0));
    EXPECT_NE(gfx::GetPixel(dc.get(), 1, 1), gfx::GetPixel(dc.get(), 3, 3));
  }
}

TEST(RenderedClipSource, OpenedByDescriptorAtTheMixersSize) {
  RendererScope scope;
  VideoMixer mixer(120, 90, 15, 0);
  // A descriptor is no file name: its text after the last dot is no extension.
  auto source = OpenVideoSource(u"**TEXT**ok.png", &mixer, -1, 1);
  ASSERT_TRUE(source);
  media::MediaFormat f;
  ASSERT_TRUE(source->GetFormat(&f));
  EXPECT_EQ(f.rendered, 1u);
  EXPECT_EQ(f.width, 120u);
  EXPECT_EQ(f.height, 90u);
  EXPECT_EQ(source->path, ov::String(u"**TEXT**ok.png"));
  EXPECT_FALSE(OpenVideoSource(u"**TEXT**ok", nullptr, -1, 1)) << "without a mixer there is no frame size";
  EXPECT_FALSE(OpenVideoSource(u"**text**ok", &mixer, -1, 1)) << "the marker is matched exactly";
}

}  // namespace
}  // namespace engine
