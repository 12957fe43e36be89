#include "engine/picture_source.h"

#include <gtest/gtest.h>

#include <fstream>

#include <cstring>
#include <string>

#include "engine/video_mixer.h"
#include "engine/video_source_factory.h"
#include "platform/gfx/bitmap.h"
#include "platform/imaging/image.h"
#include "tests/support/test_paths.h"

namespace {

// A 640 x 480 picture: white with a red frame one tenth wide.
std::string MakePhoto(const std::string& dir, const char* name) {
  gfx::HBitmap b = gfx::CreateBitmap565(640, 480);
  for (int32_t y = 0; y < 480; ++y)
    for (int32_t x = 0; x < 640; ++x)
      b->bits()[y * b->stride() + x] = (x < 64 || x >= 576 || y < 48 || y >= 432) ? 0xF800 : 0xFFFF;
  const std::string path = dir + "/" + name;
  EXPECT_TRUE(imaging::WritePng(path, *b));
  return path;
}

TEST(PictureSource, FittedOnBackgroundAndAtOwnSize) {
  const std::string photo = MakePhoto(ovtest::ScratchDir(), "photo.png");
  const ov::String path = ov::String::FromUtf8Lossy(photo);

  engine::PictureSource fitted(176, 144, 0);  // black background
  ASSERT_TRUE(fitted.Open(path, 1));
  media::MediaFormat f;
  ASSERT_TRUE(fitted.GetFormat(&f));
  EXPECT_EQ(f.width, 176u);
  EXPECT_EQ(f.height, 144u);
  EXPECT_EQ(f.hasColourKey, 1u);
  EXPECT_EQ(f.colourKey, 0u);
  EXPECT_EQ(f.frameDurationMs, 0xFFFFFFFFu);
  std::unique_ptr<uint8_t[]> a, b;
  uint32_t na = 0, nb = 0, ta = 0, tb = 0;
  ASSERT_TRUE(fitted.ReadVideoFrame(&a, &na, &ta, 0));
  ASSERT_TRUE(fitted.ReadVideoFrame(&b, &nb, &tb, 0));
  EXPECT_EQ(na, 176u * 144u * 2u);
  EXPECT_EQ(ta, 0xFFFFFFFFu);
  EXPECT_EQ(tb, 0xFFFFFFFFu);
  ASSERT_EQ(na, nb);
  EXPECT_EQ(std::memcmp(a.get(), b.get(), na), 0);
  // 4:3 in 176 x 144: 176 x 132 with black bars of 6 rows above and below.
  auto px = [&](int x, int y) { return uint16_t(a[size_t(y * 176 + x) * 2] | a[size_t(y * 176 + x) * 2 + 1] << 8); };
  EXPECT_EQ(px(88, 2), 0);
  EXPECT_EQ(px(88, 141), 0);
  EXPECT_EQ(px(88, 8), 0xF800);
  EXPECT_EQ(px(88, 72), 0xFFFF);
  EXPECT_FALSE(fitted.Seek(100));
  EXPECT_TRUE(fitted.Rewind());
  fitted.endMark = 3000;
  fitted.GetFormat(&f);
  EXPECT_EQ(f.frameDurationMs, 3000u);  // the display time

  engine::PictureSource own(176, 144, engine::PictureSource::kNoBackground);
  ASSERT_TRUE(own.Open(path, 1));
  own.GetFormat(&f);
  EXPECT_EQ(f.hasColourKey, 0u);
  EXPECT_LE(f.width, 176u);
  EXPECT_LE(f.height, 144u);
  EXPECT_FALSE(f.width == 176u && f.height == 144u);  // its thumbnail size, not the frame's

  engine::PictureSource broken(176, 144, 0);
  EXPECT_FALSE(broken.Open(ov::String::FromUtf8Lossy(photo + ".missing.png"), 1));
  EXPECT_TRUE(broken.GetFormat(&f));
  EXPECT_EQ(f.width, 0u);
  EXPECT_FALSE(broken.ReadVideoFrame(&a, &na, &ta, 0));
}

TEST(VideoSourceFactory, ChoosesByExtension) {
  const std::string dir = ovtest::ScratchDir();
  const std::string photo = MakePhoto(dir, "pic.PNG");
  engine::VideoMixer mixer(64, 48, 10, 0);
  auto pic = engine::OpenVideoSource(ov::String::FromUtf8Lossy(photo), &mixer, 0, 1);
  ASSERT_NE(pic, nullptr);
  media::MediaFormat f;
  pic->GetFormat(&f);
  EXPECT_EQ(f.width, 64u);  // the mixer's frame size
  EXPECT_EQ(pic->path.ToUtf8Lossy(), photo);
  EXPECT_EQ(engine::OpenVideoSource(ov::String::FromAscii("a.mp"), &mixer, 0, 1), nullptr);
  EXPECT_EQ(engine::OpenVideoSource(ov::String::FromAscii(dir + "/x.mid"), &mixer, 0, 1), nullptr);
  EXPECT_EQ(engine::OpenVideoSource(ov::String::FromAscii(dir + "/none.raw"), &mixer, 0, 1), nullptr);
  // ".qbt" clips, whatever the case of the extension; a header they cannot
  // play (3 bytes per pixel) gives none.
  const auto writeQbt = [&](const std::string& name, uint32_t bytesPerPixel) {
    std::ofstream out(dir + "/" + name, std::ios::binary);
    for (uint32_t v : {0u, 9u, 7u, bytesPerPixel, 40u, 0u, 0u, 0u}) {
      for (int i = 0; i < 4; ++i) out.put(char(v >> (8 * i)));
    }
    return ov::String::FromUtf8Lossy(dir + "/" + name);
  };
  auto qbt = engine::OpenVideoSource(writeQbt("clip.QBT", 2), &mixer, 0, 1);
  ASSERT_NE(qbt, nullptr);
  ASSERT_TRUE(qbt->GetFormat(&f));
  EXPECT_EQ(f.width, 9u);
  EXPECT_EQ(f.frameDurationMs, 40u);
  EXPECT_FALSE(qbt->IsBottomUp());
  EXPECT_EQ(engine::OpenVideoSource(writeQbt("deep.qbt", 3), &mixer, 0, 1), nullptr);
  // Through the mixer: a picture channel at its own size, letterboxed.
  engine::EngineCommand load;
  load.type = engine::CMD_LOAD;
  load.channel = 16;
  load.param1 = -1;
  load.param4 = int32_t(engine::kWholePicture);
  load.path = ov::String::FromUtf8Lossy(photo);
  ASSERT_EQ(mixer.ApplyAction(load, 0), 1);
}

}  // namespace
