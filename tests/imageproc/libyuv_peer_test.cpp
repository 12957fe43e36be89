// imageproc beside libyuv (a test peer only) where the two do the same thing:
// the pure sample moves (rotations, mirrors, planar to packed 4:2:2, packed
// luma) on odd sizes and unaligned buffers, with libyuv's SIMD and its plain
// C path. The colour conversions use other matrices and are checked against
// the colour model instead.
#include <gtest/gtest.h>

#include <libyuv.h>

#include <string>
#include <vector>

#include "imageproc/imageproc.h"
#include "tests/imageproc/picture_util.h"

namespace iptest {
namespace {

// A plane in an exact-size block that starts `offset` bytes in, so that the
// plane itself is unaligned.
template <typename T>
struct Plane {
  std::vector<T> block;
  size_t offset;
  Plane(size_t n, size_t off) : block(n + off), offset(off) {
    for (auto& v : block) v = static_cast<T>(Rng()());
  }
  // An empty plane still has an address (the library refuses null planes).
  T* data() {
    static T empty[1];
    return block.empty() ? empty : block.data() + offset;
  }
  std::vector<T> Values() const { return std::vector<T>(block.begin() + offset, block.end()); }
};

struct Unaligned420 {
  Plane<uint8_t> y, u, v;
  YuvFrame f;
  Unaligned420(int w, int h, size_t off)
      : y(size_t(w) * h, off), u(size_t(w / 2) * (h / 2), off), v(size_t(w / 2) * (h / 2), off) {
    f = {y.data(), u.data(), v.data(), static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
  }
};

struct PeerCase {
  int w, h;
  size_t offset;
  bool libyuvSimd;
};

std::vector<PeerCase> Cases() {
  std::vector<PeerCase> cases;
  for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 5}, std::pair{17, 9}, std::pair{66, 38}, std::pair{127, 33},
                      std::pair{176, 144}}) {
    for (size_t off : {0, 1}) {
      for (bool simd : {true, false}) cases.push_back({w, h, off, simd});
    }
  }
  return cases;
}

std::string Describe(const PeerCase& c) {
  return std::to_string(c.w) + "x" + std::to_string(c.h) + (c.offset ? "_Unaligned" : "_Aligned") +
         (c.libyuvSimd ? "_Simd" : "_C");
}

std::string CaseName(const ::testing::TestParamInfo<PeerCase>& i) { return Describe(i.param); }

// Test listings show the case by name rather than as raw bytes.
[[maybe_unused]] void PrintTo(const PeerCase& c, std::ostream* os) { *os << Describe(c); }

class LibyuvPeer : public ::testing::TestWithParam<PeerCase> {
 protected:
  void SetUp() override { libyuv::MaskCpuFlags(GetParam().libyuvSimd ? -1 : 1); }
  void TearDown() override { libyuv::MaskCpuFlags(-1); }
};

const libyuv::RotationMode kModes[4] = {libyuv::kRotate0, libyuv::kRotate90, libyuv::kRotate180, libyuv::kRotate270};

TEST_P(LibyuvPeer, RotationsMatch) {
  const auto [w, h, off, simd] = GetParam();
  Unaligned420 src(w, h, off);
  for (int type = 0; type < 4; ++type) {
    const bool quarter = type & 1;
    const int ow = quarter ? h : w, oh = quarter ? w : h;
    Unaligned420 ours(ow, oh, off);
    gRotateFrame(&src.f, &ours.f, type);
    // libyuv's I420Rotate sizes chroma (w + 1) / 2; turn each plane of our
    // floor-sized layout with its RotatePlane.
    std::vector<uint8_t> py(size_t(w) * h), pu(size_t(w / 2) * (h / 2)), pv(pu.size());
    ASSERT_EQ(0, libyuv::RotatePlane(src.y.data(), w, py.data(), ow, w, h, kModes[type]));
    if (!pu.empty()) {
      ASSERT_EQ(0, libyuv::RotatePlane(src.u.data(), w / 2, pu.data(), quarter ? h / 2 : w / 2, w / 2, h / 2,
                                       kModes[type]));
      ASSERT_EQ(0, libyuv::RotatePlane(src.v.data(), w / 2, pv.data(), quarter ? h / 2 : w / 2, w / 2, h / 2,
                                       kModes[type]));
    }
    EXPECT_EQ(ours.y.Values(), py) << type;
    EXPECT_EQ(ours.u.Values(), pu) << type;
    EXPECT_EQ(ours.v.Values(), pv) << type;
    if (w % 2 == 0 && h % 2 == 0) {
      std::vector<uint8_t> iy(py.size()), iu(pu.size()), iv(pv.size());
      const int cs = quarter ? h / 2 : w / 2;
      ASSERT_EQ(0, libyuv::I420Rotate(src.y.data(), w, src.u.data(), w / 2, src.v.data(), w / 2, iy.data(), ow,
                                      iu.data(), cs, iv.data(), cs, w, h, kModes[type]));
      EXPECT_EQ(ours.y.Values(), iy);
      EXPECT_EQ(ours.u.Values(), iu);
    }
    Plane<uint8_t> mono(size_t(w) * h, off);
    uint8_t* m = mono.data();
    gRotateMonochromeFrame(&src.f, &m, type);
    EXPECT_EQ(mono.Values(), py) << type;

    Plane<uint16_t> rgb(size_t(w) * h, off), rgbOut(size_t(w) * h, off);
    std::vector<uint16_t> peer(size_t(w) * h);
    ASSERT_EQ(0, gRotateRGB16(reinterpret_cast<const int16_t*>(rgb.data()), reinterpret_cast<int16_t*>(rgbOut.data()),
                              w, h, 0, 0, w, h, 0, 0, ow, oh, type));
    ASSERT_EQ(0, libyuv::RotatePlane_16(rgb.data(), w, peer.data(), ow, w, h, kModes[type]));
    EXPECT_EQ(rgbOut.Values(), peer) << type;
  }
}

TEST_P(LibyuvPeer, MirrorsMatch) {
  const auto [w, h, off, simd] = GetParam();
  Unaligned420 src(w, h, off), ours(w, h, off);
  YuvFrameExt s{src.f.y, src.f.u, src.f.v, src.f.width, src.f.height, 0};
  YuvFrameExt d{ours.f.y, ours.f.u, ours.f.v, 0, 0, 0};
  std::vector<uint8_t> py(size_t(w) * h), pu(size_t(w / 2) * (h / 2)), pv(pu.size());
  // Left to right; then upside down, which libyuv does as a copy of an
  // inverted (negative height) picture.
  ASSERT_EQ(0, gMirrorImageYUV(&s, &d, 0, 0, 1));
  ASSERT_EQ(0, libyuv::I400Mirror(src.y.data(), w, py.data(), w, w, h));
  if (!pu.empty()) {
    ASSERT_EQ(0, libyuv::I400Mirror(src.u.data(), w / 2, pu.data(), w / 2, w / 2, h / 2));
    ASSERT_EQ(0, libyuv::I400Mirror(src.v.data(), w / 2, pv.data(), w / 2, w / 2, h / 2));
  }
  EXPECT_EQ(ours.y.Values(), py);
  EXPECT_EQ(ours.u.Values(), pu);
  EXPECT_EQ(ours.v.Values(), pv);
  if (w % 2 == 0 && h % 2 == 0) {
    ASSERT_EQ(0, libyuv::I420Mirror(src.y.data(), w, src.u.data(), w / 2, src.v.data(), w / 2, py.data(), w,
                                    pu.data(), w / 2, pv.data(), w / 2, w, h));
    EXPECT_EQ(ours.y.Values(), py);
    EXPECT_EQ(ours.v.Values(), pv);
    ASSERT_EQ(0, gMirrorImageYUV(&s, &d, 0, 1, 1));
    ASSERT_EQ(0, libyuv::I420Copy(src.y.data(), w, src.u.data(), w / 2, src.v.data(), w / 2, py.data(), w,
                                  pu.data(), w / 2, pv.data(), w / 2, w, -h));
    EXPECT_EQ(ours.y.Values(), py);
    EXPECT_EQ(ours.u.Values(), pu);
    EXPECT_EQ(ours.v.Values(), pv);
  }
}

// Planar 4:2:0 to packed 4:2:2 repeats chroma vertically in both libraries.
TEST_P(LibyuvPeer, PlanarToPackedMatches) {
  const auto [w0, h, off, simd] = GetParam();
  const int w = w0 & ~1;  // both handle pairs; libyuv would round odd widths up
  if (w == 0 || h < 2) GTEST_SKIP() << "no pixel pair";
  Unaligned420 src(w, h & ~1, off);
  const int hh = h & ~1;
  Plane<uint8_t> uyvy(size_t(2) * w * hh, off), yuyv(size_t(2) * w * hh, off);
  std::vector<uint8_t> peerUyvy(uyvy.block.size() - off), peerYuyv(peerUyvy.size());
  ASSERT_EQ(0, gYUV420toUYVY(&src.f, uyvy.data(), w, hh, 0, 0, 0, 0, w, hh));
  ASSERT_EQ(0, gYUVPlanartoYUYV(&src.f, yuyv.data(), w, hh));
  ASSERT_EQ(0, libyuv::I420ToUYVY(src.y.data(), w, src.u.data(), w / 2, src.v.data(), w / 2, peerUyvy.data(), 2 * w,
                                  w, hh));
  ASSERT_EQ(0, libyuv::I420ToYUY2(src.y.data(), w, src.u.data(), w / 2, src.v.data(), w / 2, peerYuyv.data(), 2 * w,
                                  w, hh));
  EXPECT_EQ(uyvy.Values(), peerUyvy);
  EXPECT_EQ(yuyv.Values(), peerYuyv);
}

// Packed 4:2:2 to planar 4:2:0: libyuv averages the two rows' chroma where
// the encoder inputs take the upper row's, so luma is what compares.
TEST_P(LibyuvPeer, PackedToPlanarLumaMatches) {
  const auto [w0, h0, off, simd] = GetParam();
  const int w = w0 & ~1, h = h0 & ~1;
  if (w == 0 || h == 0) GTEST_SKIP() << "no pixel pair";
  Plane<uint8_t> packed(size_t(2) * w * h, off);
  std::vector<uint8_t> py(size_t(w) * h), pu(size_t(w / 2) * (h / 2)), pv(pu.size());
  Unaligned420 a(w, h, off), b(w, h, off);
  ASSERT_EQ(0, gUY1VY2ToYUV420(packed.data(), &a.f, w, h));
  ASSERT_EQ(0, libyuv::UYVYToI420(packed.data(), 2 * w, py.data(), w, pu.data(), w / 2, pv.data(), w / 2, w, h));
  EXPECT_EQ(a.y.Values(), py);
  ASSERT_EQ(0, gY1UY2VToYUV420(packed.data(), &b.f, w, h));
  ASSERT_EQ(0, libyuv::YUY2ToI420(packed.data(), 2 * w, py.data(), w, pu.data(), w / 2, pv.data(), w / 2, w, h));
  EXPECT_EQ(b.y.Values(), py);
  Plane<uint8_t> i420(size_t(w) * h + 2 * (size_t(w) * h / 4), off);
  gOvYUY2toYUV420(packed.data(), i420.data(), w, h);
  const std::vector<uint8_t> all = i420.Values();
  EXPECT_TRUE(std::equal(py.begin(), py.end(), all.begin()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, LibyuvPeer, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
}  // namespace iptest
