// Rotations and mirrors: byte-equal to ffmpeg's transpose, hflip and vflip of
// the same raw frames, four quarter turns give the identity, and the worked
// cases (placement windows, the 4:2:2 quarter-turn chroma, the BGR24 dither).
#include <gtest/gtest.h>

#include <vector>

#include "imageproc/imageproc.h"
#include "tests/imageproc/picture_util.h"
#include "tests/support/test_paths.h"

namespace iptest {
namespace {

constexpr int kW = 66, kH = 38;

// A raw planar frame from the fixtures folder; w x h, chroma per layout.
Frame LoadFrame(const std::string& name, int w, int h, Layout l = Layout::k420) {
  Frame f(w, h, l);
  const std::vector<uint8_t> raw = ovtest::ReadFileBytes(ovtest::FixturePath(name));
  EXPECT_EQ(raw.size(), f.y.size() + 2 * f.u.size()) << name;
  if (raw.size() == f.y.size() + 2 * f.u.size()) {
    std::memcpy(f.y.data(), raw.data(), f.y.size());
    std::memcpy(f.u.data(), raw.data() + f.y.size(), f.u.size());
    std::memcpy(f.v.data(), raw.data() + f.y.size() + f.u.size(), f.v.size());
  }
  return f;
}

std::vector<uint16_t> LoadRgb(const std::string& name) {
  const std::vector<uint8_t> raw = ovtest::ReadFileBytes(ovtest::FixturePath(name));
  std::vector<uint16_t> out(raw.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
  return out;
}

struct Move {
  const char* tag;  // fixture suffix
  int type;         // rotation type with the same effect
};
const Move kTurns[] = {{"clock", 1}, {"half", 2}, {"cclock", 3}};

TEST(Rotate, FramesMatchFfmpegTranspose) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("imageproc_66x38_clock.yuv"));
  const Frame src = LoadFrame("imageproc_66x38.yuv", kW, kH);
  for (const Move& m : kTurns) {
    const bool quarter = m.type & 1;
    const Frame want = LoadFrame(std::string("imageproc_66x38_") + m.tag + ".yuv", quarter ? kH : kW,
                                 quarter ? kW : kH);
    Frame out(quarter ? kH : kW, quarter ? kW : kH);
    gRotateFrame(&src.f, &out.f, m.type);
    EXPECT_EQ(out.y, want.y) << m.tag;
    EXPECT_EQ(out.u, want.u) << m.tag;
    EXPECT_EQ(out.v, want.v) << m.tag;
    std::vector<uint8_t> mono(want.y.size());
    uint8_t* p = mono.data();
    gRotateMonochromeFrame(&src.f, &p, m.type);
    EXPECT_EQ(mono, want.y) << m.tag;
    // 4:2:2 luma turns the same way.
    Frame src422(kW, kH, Layout::k422), out422(out.f.width, out.f.height, Layout::k422);
    src422.y = src.y;
    src422.Bind();
    gRotate422Frame(&src422.f, &out422.f, m.type);
    EXPECT_EQ(out422.y, want.y) << m.tag;
  }
}

TEST(Rotate, Yuv422HalfTurnMatchesFfmpeg) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("imageproc_66x38_422p_half.yuv"));
  const Frame src = LoadFrame("imageproc_66x38_422p.yuv", kW, kH, Layout::k422);
  const Frame want = LoadFrame("imageproc_66x38_422p_half.yuv", kW, kH, Layout::k422);
  Frame out(kW, kH, Layout::k422);
  gRotate422Frame(&src.f, &out.f, 2);
  EXPECT_EQ(out.y, want.y);
  EXPECT_EQ(out.u, want.u);
  EXPECT_EQ(out.v, want.v);
}

// Quarter turns of 4:2:2: the output chroma planes are h/2 wide and w high,
// made from the even source chroma rows only, each sample filling two rows.
TEST(Rotate, Yuv422QuarterTurnChroma) {
  for (int type : {1, 3}) {
    Frame src(6, 4, Layout::k422), out(4, 6, Layout::k422);
    src.Randomize();
    gRotate422Frame(&src.f, &out.f, type);
    for (int m = 0; m < 2; ++m) {
      for (int i = 0; i < 3; ++i) {
        const int col = type == 1 ? 1 - m : m;
        const int r0 = type == 1 ? 2 * i : 5 - 2 * i, r1 = type == 1 ? 2 * i + 1 : 4 - 2 * i;
        EXPECT_EQ(out.U(r0, col), src.U(2 * m, i)) << type;
        EXPECT_EQ(out.U(r1, col), src.U(2 * m, i)) << type;
        EXPECT_EQ(out.V(r0, col), src.V(2 * m, i)) << type;
      }
    }
  }
  Frame small(4, 2, Layout::k422), copy(4, 2, Layout::k422);
  small.Randomize();
  gRotate422Frame(&small.f, &copy.f, 0);  // 8 luma bytes, 4 of each chroma plane
  EXPECT_EQ(copy.y, small.y);
  EXPECT_EQ(copy.u, small.u);
  EXPECT_EQ(copy.v, small.v);
}

TEST(Rotate, WorkedPositionsAndUnknownType) {
  Frame src(4, 2);
  src.Randomize();
  for (auto [type, row, col] : {std::tuple{1, 0, 1}, std::tuple{3, 3, 0}}) {
    Frame out(2, 4);
    gRotateFrame(&src.f, &out.f, type);
    EXPECT_EQ(out.Y(row, col), src.Y(0, 0)) << type;
  }
  Frame out(4, 2);
  out.Fill(9, 9, 9);
  gRotateFrame(&src.f, &out.f, 5);
  EXPECT_EQ(out.y, std::vector<uint8_t>(8, 9));
}

// Four quarter turns, or two half turns, give the picture back (odd sizes:
// each plane turns on its own).
TEST(Rotate, FourQuarterTurnsAreTheIdentity) {
  for (auto [w, h] : {std::pair{66, 38}, std::pair{7, 13}, std::pair{40, 2}}) {
    for (int type : {1, 2, 3}) {
      Frame a(w, h), b(h, w), c(w, h);
      a.Randomize();
      Frame cur = a;
      for (int k = 0; k < 4; ++k) {
        const bool swap = (type & 1) && (k % 2 == 0);
        Frame next = swap ? b : c;
        next.Reset(swap ? h : w, swap ? w : h, Layout::k420);
        gRotateFrame(&cur.f, &next.f, type);
        cur = next;
      }
      EXPECT_EQ(cur.y, a.y) << w << "x" << h << " type " << type;
      EXPECT_EQ(cur.u, a.u);
      EXPECT_EQ(cur.v, a.v);
      // RGB16 windows of the whole picture.
      std::vector<uint16_t> rgb(size_t(w) * h), tmp(rgb.size()), back(rgb.size());
      FillRandom(rgb);
      std::vector<uint16_t> curRgb = rgb;
      int cw = w, ch = h;
      for (int k = 0; k < 4; ++k) {
        const int nw = (type & 1) ? ch : cw, nh = (type & 1) ? cw : ch;
        ASSERT_EQ(0, gRotateRGB16(reinterpret_cast<const int16_t*>(curRgb.data()),
                                  reinterpret_cast<int16_t*>(tmp.data()), cw, ch, 0, 0, cw, ch, 0, 0, nw, nh, type));
        curRgb = tmp;
        cw = nw;
        ch = nh;
      }
      EXPECT_EQ(curRgb, rgb) << w << "x" << h << " type " << type;
      // Luma-only frames and 4:2:2 luma.
      std::vector<uint8_t> mono = a.y, monoOut(mono.size());
      Frame cur422(w, h, Layout::k422);
      cur422.Randomize();
      const std::vector<uint8_t> luma422 = cur422.y;
      int mw = w, mh = h;
      for (int k = 0; k < 4; ++k) {
        YuvFrame m{mono.data(), nullptr, nullptr, static_cast<uint16_t>(mw), static_cast<uint16_t>(mh)};
        uint8_t* p = monoOut.data();
        gRotateMonochromeFrame(&m, &p, type);
        mono = monoOut;
        const int nw = (type & 1) ? mh : mw, nh = (type & 1) ? mw : mh;
        Frame next(nw, nh, Layout::k422);
        gRotate422Frame(&cur422.f, &next.f, type);
        cur422 = next;
        mw = nw;
        mh = nh;
      }
      EXPECT_EQ(mono, a.y) << w << "x" << h << " type " << type;
      EXPECT_EQ(cur422.y, luma422) << w << "x" << h << " type " << type;
    }
  }
  // Mirrors undo themselves.
  for (int type : {0, 1, 2}) {
    std::vector<int16_t> rgb(7 * 5), once(rgb.size()), twice(rgb.size());
    for (auto& p : rgb) p = static_cast<int16_t>(Rng()());
    ASSERT_EQ(0, gMirrorImageRGB565(rgb.data(), once.data(), 7, 5, type));
    ASSERT_EQ(0, gMirrorImageRGB565(once.data(), twice.data(), 7, 5, type));
    EXPECT_EQ(twice, rgb) << type;
    Frame f(10, 6), keep(10, 6);
    f.Randomize();
    keep = f;
    YuvFrameExt e{f.f.y, f.f.u, f.f.v, 10, 6, 0};
    ASSERT_EQ(0, gMirrorImageYUV(&e, nullptr, 0, type, 0));
    ASSERT_EQ(0, gMirrorImageYUV(&e, nullptr, 0, type, 0));
    EXPECT_EQ(f.y, keep.y) << type;
    EXPECT_EQ(f.v, keep.v) << type;
  }
}

TEST(Rotate, Rgb16MatchesFfmpeg) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("imageproc_66x38_rgb565_clock.raw"));
  const std::vector<uint16_t> src = LoadRgb("imageproc_66x38_rgb565.raw");
  for (const Move& m : kTurns) {
    const bool quarter = m.type & 1;
    const int ow = quarter ? kH : kW, oh = quarter ? kW : kH;
    Padded<uint16_t> out(src.size(), 0x5555);
    ASSERT_EQ(0, gRotateRGB16(reinterpret_cast<const int16_t*>(src.data()), reinterpret_cast<int16_t*>(out.Data()),
                              kW, kH, 0, 0, kW, kH, 0, 0, ow, oh, m.type));
    EXPECT_TRUE(out.PaddingIntact());
    EXPECT_EQ(out.Inner(), LoadRgb(std::string("imageproc_66x38_rgb565_") + m.tag + ".raw")) << m.tag;
  }
}

TEST(Rotate, MirrorsMatchFfmpegFlips) {
  OV_SKIP_WITHOUT_FIXTURE(ovtest::FixturePath("imageproc_66x38_hflip.yuv"));
  const Frame src = LoadFrame("imageproc_66x38.yuv", kW, kH);
  const std::vector<uint16_t> rgb = LoadRgb("imageproc_66x38_rgb565.raw");
  // type 1 upside down, 2 half turn, anything else left to right.
  for (auto [type, tag] : {std::pair{0, "hflip"}, std::pair{7, "hflip"}, std::pair{1, "vflip"},
                           std::pair{2, "half"}}) {
    const Frame want = LoadFrame(std::string("imageproc_66x38_") + tag + ".yuv", kW, kH);
    // To a destination, and in place.
    Frame dstFrame(kW, kH);
    YuvFrameExt s{src.f.y, src.f.u, src.f.v, kW, kH, 0xC0FFEE};
    YuvFrameExt d{dstFrame.f.y, dstFrame.f.u, dstFrame.f.v, 0, 0, 0};
    ASSERT_EQ(0, gMirrorImageYUV(&s, &d, 0, type, 0x101));
    EXPECT_EQ(d.width, kW);
    EXPECT_EQ(d.height, kH);
    EXPECT_EQ(d.extra, 0xC0FFEEu);
    EXPECT_EQ(dstFrame.y, want.y) << tag;
    EXPECT_EQ(dstFrame.u, want.u) << tag;
    EXPECT_EQ(dstFrame.v, want.v) << tag;
    Frame inPlace = src;
    YuvFrameExt ip{inPlace.f.y, inPlace.f.u, inPlace.f.v, kW, kH, 0};
    ASSERT_EQ(0, gMirrorImageYUV(&ip, nullptr, 0, type, 0));
    EXPECT_EQ(inPlace.y, want.y) << tag;
    EXPECT_EQ(inPlace.u, want.u) << tag;
    const std::vector<uint16_t> wantRgb = LoadRgb(std::string("imageproc_66x38_rgb565_") + tag + ".raw");
    std::vector<uint16_t> out(rgb.size());
    ASSERT_EQ(0, gMirrorImageRGB565(reinterpret_cast<const int16_t*>(rgb.data()),
                                    reinterpret_cast<int16_t*>(out.data()), kW, kH, type));
    EXPECT_EQ(out, wantRgb) << tag;
  }
}

TEST(Rotate, MirrorErrors) {
  std::vector<int16_t> a(4, 1), b(4, 2);
  EXPECT_EQ(-1, gMirrorImageRGB565(a.data(), b.data(), -1, 2, 0));
  EXPECT_EQ(b, std::vector<int16_t>(4, 2));
  Frame f(4, 2);
  f.Randomize();
  const Frame before = f;
  YuvFrameExt s{f.f.y, f.f.u, f.f.v, 4, 2, 0};
  EXPECT_EQ(-1, gMirrorImageYUV(&s, nullptr, 2, 0, 0));
  EXPECT_EQ(f.y, before.y);
  // Planar 4:2:2 chroma mirrors like luma: width/2 columns, all rows.
  Frame g(4, 2, Layout::k422);
  g.Randomize();
  const Frame g0 = g;
  YuvFrameExt t{g.f.y, g.f.u, g.f.v, 4, 2, 0};
  ASSERT_EQ(0, gMirrorImageYUV(&t, nullptr, 1, 1, 0));
  EXPECT_EQ(g.U(0, 0), g0.U(1, 0));
  EXPECT_EQ(g.V(1, 1), g0.V(0, 1));
}

TEST(Rotate, Rgb16WindowsAndPlacement) {
  // 6 x 4 source, window (1, 1) 3 x 2, placed at (2, 1) of an 8 x 6 destination.
  std::vector<int16_t> src(24);
  for (int i = 0; i < 24; ++i) src[i] = static_cast<int16_t>(100 + i);
  auto s = [&](int r, int c) { return src[size_t(r) * 6 + c]; };
  for (int type = 0; type < 4; ++type) {
    Padded<int16_t> out(48, -1);
    ASSERT_EQ(0, gRotateRGB16(src.data(), out.Data(), 6, 4, 1, 1, 3, 2, 2, 1, 8, 6, type));
    ASSERT_TRUE(out.PaddingIntact());
    int written = 0;
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) {
        int r = 0, c = 0;
        switch (type) {
          case 0: r = y, c = x; break;
          case 1: r = x, c = 1 - y; break;
          case 2: r = 1 - y, c = 2 - x; break;
          default: r = 2 - x, c = y; break;
        }
        EXPECT_EQ(out[size_t(1 + r) * 8 + 2 + c], s(1 + y, 1 + x)) << type;
        ++written;
      }
    }
    int untouched = 0;
    for (size_t i = 0; i < out.size(); ++i) untouched += out[i] == -1;
    EXPECT_EQ(untouched + written, 48) << type;
  }
  Padded<int16_t> none(48, -1);
  EXPECT_EQ(0, gRotateRGB16(src.data(), none.Data(), 6, 4, 9, 0, 3, 2, 0, 0, 8, 6, 0));  // srcX past the row
  for (size_t i = 0; i < none.size(); ++i) ASSERT_EQ(none[i], -1);
  EXPECT_EQ(-1, gRotateRGB16(src.data(), none.Data(), 6, 4, 0, 0, 3, 2, 0, 0, 8, 6, 4));
  EXPECT_EQ(-1, gRotateRGB16(nullptr, none.Data(), 6, 4, 0, 0, 3, 2, 0, 0, 8, 6, 0));
}

TEST(Rotate, Rgb16ToBgr24Dither) {
  const std::vector<uint16_t> white(4, 0xFFFF);
  Padded<uint8_t> out(2 * 7, 0x99);  // rows of 7 bytes: two pixels and one spare byte
  ASSERT_EQ(0, gRotateRGB16toBGR24(white.data(), out.Data(), 2, 2, 0, 0, 2, 2, 0, 0, 2, 7, 0));
  ASSERT_TRUE(out.PaddingIntact());
  // Window position (1, 0): blue and red +6, green +3.
  EXPECT_EQ(out[7 + 0], 254);
  EXPECT_EQ(out[7 + 1], 255);
  EXPECT_EQ(out[7 + 2], 254);
  EXPECT_EQ(out[0], 248);  // (0, 0): no dither
  EXPECT_EQ(out[3], 252);  // (0, 1): +4
  EXPECT_EQ(out[4], 254);  // green +2
  EXPECT_EQ(out[6], 0x99);
  // A quarter turn lands like gRotateRGB16.
  std::vector<uint16_t> src(6);
  FillRandom(src);
  std::vector<uint8_t> bgr(3 * 6);
  std::vector<int16_t> r16(6);
  ASSERT_EQ(0, gRotateRGB16toBGR24(src.data(), bgr.data(), 3, 2, 0, 0, 3, 2, 0, 0, 3, 6, 1));
  ASSERT_EQ(0, gRotateRGB16(reinterpret_cast<const int16_t*>(src.data()), r16.data(), 3, 2, 0, 0, 3, 2, 0, 0, 2, 3, 1));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(bgr[3 * i + 1] >> 2, FieldG(static_cast<uint16_t>(r16[i]))) << i;
  EXPECT_EQ(-1, gRotateRGB16toBGR24(src.data(), bgr.data(), 3, 2, 0, 0, 3, 2, 0, 0, 3, 6, 9));
}

}  // namespace
}  // namespace iptest
