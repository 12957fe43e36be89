// Every export with zero, odd, tiny and huge sizes and with null pointers, on
// buffers allocated exactly as the arguments describe: under the sanitizers
// each must give a correct result, nothing, or its error, and never touch
// memory outside those buffers.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "imageproc/imageproc.h"
#include "tests/imageproc/picture_util.h"

namespace iptest {
namespace {

struct Size {
  int w, h;
};
const Size kSizes[] = {{0, 0}, {1, 1}, {2, 2}, {3, 5}, {5, 3}, {1, 9}, {9, 1}, {7, 7}, {65535, 2}, {2, 4099}};

using Call = std::function<void(int w, int h)>;
struct Export {
  const char* name;
  Call call;
};

template <typename T>
std::vector<T> Buf(size_t n) {
  std::vector<T> v(n);
  for (auto& x : v) x = static_cast<T>(Rng()());
  return v;
}
// A data pointer that is never null, even for an empty block.
template <typename T>
T* P(std::vector<T>& v) {
  static T empty[1];
  return v.empty() ? empty : v.data();
}

size_t N(int w, int h) { return size_t(w) * size_t(h); }

const std::vector<Export>& Exports() {
  static const std::vector<Export> exports = {
      {"gOvRGB565toYUV420",
       [](int w, int h) {
         auto rgb = Buf<uint16_t>(N(w, h));
         Frame f(w, h);  // odd frame sizes are refused
         gOvRGB565toYUV420(P(rgb), &f.f, w, h);
         Frame g((w + 1) & ~1, (h + 1) & ~1);
         gOvRGB565toYUV420(P(rgb), &g.f, w, h);
         Frame small(2, 2);
         gOvRGB565toYUV420(P(rgb), &small.f, w, h);
         gOvRGB565toYUV420(nullptr, &g.f, w, h);
       }},
      {"gUY1VY2ToYUV420",
       [](int w, int h) {
         auto src = Buf<uint8_t>(2 * N(w, h));
         Frame f(w, h);
         const int rc = gUY1VY2ToYUV420(P(src), &f.f, w, h);
         EXPECT_EQ(rc, ((w | h) & 1) ? -1 : 0);
       }},
      {"gOvYUY2toYUV420",
       [](int w, int h) {
         auto src = Buf<uint8_t>(2 * N(w, h));
         auto out = Buf<uint8_t>(N(w, h) + 2 * (N(w, h) / 4));
         gOvYUY2toYUV420(P(src), P(out), w, h);
         gOvYUY2toYUV420(P(src), P(out), -w, h);
       }},
      {"gYUV422toYUV420Ex",
       [](int w, int h) {
         Frame s(w, h, Layout::k422), d(w, h);
         EXPECT_EQ(0, gYUV422toYUV420Ex(&s.f, &d.f));
         EXPECT_EQ(-2, gYUV422toYUV420Ex(nullptr, &d.f));
       }},
      {"gRotateFrame",
       [](int w, int h) {
         Frame s(w, h);
         s.Randomize();
         for (int t = -1; t <= 4; ++t) {
           Frame d((t & 1) ? h : w, (t & 1) ? w : h);
           gRotateFrame(&s.f, &d.f, t);
         }
       }},
      {"gOvzRGB565toYUV420_TopDown",
       [](int w, int h) {
         auto rgb = Buf<uint16_t>(N(w, h));
         auto out = Buf<uint8_t>(N(w, h) + 2 * (N(w, h) / 4));
         gOvzRGB565toYUV420_TopDown(P(rgb), P(out), w, h);
       }},
      {"gBGR24INTtoYUV420Planar",
       [](int w, int h) {
         auto bgr = Buf<uint8_t>(3 * N(w, h));
         auto out = Buf<uint8_t>(N(w, h) + 2 * (N(w, h) / 4));
         gBGR24INTtoYUV420Planar(P(bgr), P(out), w, h, 3 * w);
         gBGR24INTtoYUV420Planar(P(bgr), P(out), w, h, 3 * w - 1);  // short stride: refused
       }},
      {"gOvYUV420toRGB565TopDown",
       [](int w, int h) {
         Frame f(w, h);
         auto out = Buf<int16_t>(N((w + 1) & ~1, h));
         gOvYUV420toRGB565TopDown(&f.f, P(out), w, h, 0);
         gOvYUV420toRGB565TopDown(&f.f, P(out), w, h, 1);
         gOvYUV420toRGB565TopDown(&f.f, P(out), -w, h, 1);
       }},
      {"gOvYUV420toRGB888TopDown",
       [](int w, int h) {
         Frame f(w, h);
         auto out = Buf<uint8_t>(3 * N(w, h));
         gOvYUV420toRGB888TopDown(&f.f, P(out), w, h, 0);
         gOvYUV420toRGB888TopDown(&f.f, P(out), w, h, 1);
       }},
      {"gYUV420toBGR24",
       [](int w, int h) {
         Frame f(w, h);
         auto out = Buf<uint8_t>(3 * N(w, h));
         EXPECT_EQ(0, gYUV420toBGR24(&f.f, P(out), 3 * w));
         EXPECT_EQ(-1, gYUV420toBGR24(&f.f, P(out), 3 * w - 1));
       }},
      {"gYUV420toRGB16Rotate",
       [](int w, int h) {
         Frame f(w, h);
         auto out = Buf<int16_t>(N(w, h));
         for (int t = 0; t < 4; ++t) {
           const int dw = (t & 1) ? h : w, dh = (t & 1) ? w : h;
           EXPECT_EQ(0, gYUV420toRGB16Rotate(&f.f, P(out), dw, dh, 0, 0, 0, 0, w, h, t));
           EXPECT_EQ(0, gYUV420toRGB16Rotate(&f.f, P(out), dw, dh, 1, 1, 1, 1, 65535, 65535, t));
         }
         EXPECT_EQ(-1, gYUV420toRGB16Rotate(&f.f, P(out), w, h, -1, 0, 0, 0, w, h, 0));
       }},
      {"gYUV420toBGR565TopDown_Rotate",
       [](int w, int h) {
         Frame f(w, h);
         auto out = Buf<int16_t>(N(w, h));
         for (int t = 0; t < 4; ++t) {
           const int dw = (t & 1) ? h : w, dh = (t & 1) ? w : h;
           EXPECT_EQ(0, gYUV420toBGR565TopDown_Rotate(&f.f, P(out), 0, 0, w, h, 0, 0, dw, dh, t));
           EXPECT_EQ(0, gYUV420toBGR565TopDown_Rotate(&f.f, P(out), 1, 1, -1, -1, 1, 1, dw, dh, t));
         }
       }},
      {"gYUV422toRGB16Rotate",
       [](int w, int h) {
         Frame f(w, h, Layout::k422);
         auto out = Buf<int16_t>(N(w, h));
         for (int t = 0; t < 4; ++t) {
           const int dw = (t & 1) ? h : w, dh = (t & 1) ? w : h;
           EXPECT_EQ(0, gYUV422toRGB16Rotate(&f.f, P(out), dw, dh, 0, 0, 0, 0, w, h, t));
           EXPECT_EQ(0, gYUV422toRGB16Rotate(&f.f, P(out), dw, dh, 1, 1, 1, 1, 65535, 65535, t));
         }
       }},
      {"gYUV422HPlanartoBGR565TopDown_Rotate",
       [](int w, int h) {
         Frame f(w, h, Layout::k422);
         auto out = Buf<int16_t>(N(w, h));
         for (int t = 0; t < 4; ++t) {
           // Quarter turns take rows dstHeight long: the same w x h block.
           EXPECT_EQ(0, gYUV422HPlanartoBGR565TopDown_Rotate(&f.f, P(out), 0, 0, w, h, 0, 0, w, h, t));
           EXPECT_EQ(0, gYUV422HPlanartoBGR565TopDown_Rotate(&f.f, P(out), 1, 1, w, h, 1, 1, w, h, t));
         }
       }},
      {"gYUV422HPlanartoRGB888TopDown",
       [](int w, int h) {
         Frame f(w, h, Layout::k422);
         auto out = Buf<uint8_t>(3 * N(w, h));
         gYUV422HPlanartoRGB888TopDown(&f.f, P(out), w, h, 0);
         gYUV422HPlanartoRGB888TopDown(&f.f, P(out), w + 1, h, 0);  // wider than the frame: refused
       }},
      {"gYUV422HPlanartoBGR888TopDown",
       [](int w, int h) {
         Frame f(w, h, Layout::k422);
         auto out = Buf<uint8_t>(3 * N(w, h));
         gYUV422HPlanartoBGR888TopDown(&f.f, P(out), w, h, 1);
       }},
      {"gYUV444toRGB16",
       [](int w, int h) {
         Frame f(w, h, Layout::k444);
         auto out = Buf<int16_t>(N(w, h));
         int16_t* p = P(out);
         gYUV444toRGB16(&f.f, &p, w, h);
         int16_t* none = nullptr;
         gYUV444toRGB16(&f.f, &none, w, h);
       }},
      {"gVYUYtoRGB565",
       [](int w, int h) {
         auto packed = Buf<uint8_t>(size_t(w / 2) * 4 * h);
         YuvFrame f{P(packed), nullptr, nullptr, static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
         auto out = Buf<int16_t>(N(w, h));
         EXPECT_EQ(0, gVYUYtoRGB565(&f, P(out), 0, 0, w, h, 0, 0, w, h, 0));
         EXPECT_EQ(0, gVYUYtoRGB565(&f, P(out), 1, 1, w, h, 1, 1, w, h, 1));
       }},
      {"gYUV420toUYVY",
       [](int w, int h) {
         Frame f(w, h);
         auto out = Buf<uint8_t>(2 * N(w, h));
         EXPECT_EQ(0, gYUV420toUYVY(&f.f, P(out), w, h, 0, 0, 0, 0, w, h));
         EXPECT_EQ(0, gYUV420toUYVY(&f.f, P(out), w, h, 0xFFFFFFFFu, 1, 1, 1, w, h));
       }},
      {"gYUV420toY41P",
       [](int w, int h) {
         Frame f(w, h);
         // Row pairs of 12 bytes per whole group of eight columns, as the
         // destination width w lays them out.
         const size_t groups = size_t(w) / 8, d = (size_t(w) * 3 / 8) * 4;
         auto out = Buf<uint8_t>(size_t(h / 2) * (12 * groups + d) + (d < 12 * groups ? 12 * groups - d : 0));
         EXPECT_EQ(0, gYUV420toY41P(&f.f, P(out), w));
       }},
      {"gYUVPlanartoYUYV",
       [](int w, int h) {
         Frame f(w, h);
         auto out = Buf<uint8_t>(2 * N(w & ~1, h));
         EXPECT_EQ(0, gYUVPlanartoYUYV(&f.f, P(out), w, h));
         EXPECT_EQ(-1, gYUVPlanartoYUYV(&f.f, P(out), w + 1, h));
       }},
      {"gY1UY2VToYUV420",
       [](int w, int h) {
         auto src = Buf<uint8_t>(2 * N(w, h));
         Frame f(w, h);
         EXPECT_EQ(((w | h) & 1) ? -1 : 0, gY1UY2VToYUV420(P(src), &f.f, w, h));
       }},
      {"gY1UY2VToYV12",
       [](int w, int h) {
         auto src = Buf<uint8_t>(2 * N(w, h));
         Frame f(w, h);
         EXPECT_EQ(((w | h) & 1) ? -1 : 0, gY1UY2VToYV12(P(src), &f.f, w, h));
       }},
      {"gYUV422htoYUV420",
       [](int w, int h) {
         Frame s(w, h, Layout::k422), d(w & ~1, h & ~1);
         EXPECT_EQ(0, gYUV422htoYUV420(&s.f, &d.f));
       }},
      {"gScaleFrame",
       [](int w, int h) {
         Frame s(w, h), d(h % 17 + 1, w % 13 + 1);
         s.Randomize();
         gScaleFrame(&s.f, &d.f);
         gScaleFrame(&d.f, &s.f);
       }},
      {"gScaleCroppedFrame",
       [](int w, int h) {
         Frame s(w, h), d(5, 3);
         gScaleCroppedFrame(&s.f, &d.f, 1, 1, w, h);
         gScaleCroppedFrame(&s.f, &d.f, 0xFFFFFFFFu, 0, w, h);
         gScaleCroppedFrame(&d.f, &s.f, 0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu);
       }},
      {"gScaleCroppedFrameYUV422",
       [](int w, int h) {
         Frame s(w, h, Layout::k422), d(7, 4, Layout::k422);
         gScaleCroppedFrameYUV422(&s.f, &d.f, 1, 1, w, h);
         gScaleCroppedFrameYUV422(&d.f, &s.f, 0, 0, 7, 4);
       }},
      {"gYUV422toYUV420",
       [](int w, int h) {
         Frame s(w, h, Layout::k422), d(h % 11 + 1, w % 9 + 1), e(w, h);
         EXPECT_EQ(0, gYUV422toYUV420(&s.f, &d.f, 0, 0, w, h));
         EXPECT_EQ(0, gYUV422toYUV420(&s.f, &e.f, 1, 1, w, h));
       }},
      {"gScaleCroppedFrame_downby2",
       [](int w, int h) {
         Frame s(w, h), d(w / 2, h / 2), e(w, h);
         gScaleCroppedFrame_downby2(&s.f, &d.f, 0, 0, 0, 0);
         gScaleCroppedFrame_downby2(&s.f, &d.f, 1, 1, 0, 0);
         gScaleCroppedFrame_downby2(&s.f, &e.f, 0, 0, 0, 0);  // wrong ratio
       }},
      {"gScaleCroppedFrame_upby2",
       [](int w, int h) {
         if (N(w, h) > 100000) return;  // a 4x larger output of a huge picture is not the point
         Frame s(w, h), d(2 * w, 2 * h), e(w, h);
         gScaleCroppedFrame_upby2(&s.f, &d.f, 0, 0);
         gScaleCroppedFrame_upby2(&s.f, &d.f, 1, 1);
         gScaleCroppedFrame_upby2(&s.f, &e.f, 0, 0);  // destination too small: refused
       }},
      {"gScaleCroppedFrame_upby4",
       [](int w, int h) {
         if (N(w, h) > 10000) return;
         Frame s(w, h), d(4 * w, 4 * h), e(w, h);
         gScaleCroppedFrame_upby4(&s.f, &d.f, 0, 0);
         gScaleCroppedFrame_upby4(&s.f, &d.f, 1, 1);
         gScaleCroppedFrame_upby4(&s.f, &e.f, 0, 0);
       }},
      {"gScaleCroppedFrame_downto3by3",
       [](int w, int h) {
         Frame s(w, h), d(w * 3 / 4, h * 3 / 4), e(w, h);
         gScaleCroppedFrame_downto3by3(&s.f, &d.f, 0, 0, 0, 0);
         gScaleCroppedFrame_downto3by3(&s.f, &d.f, 1, 1, 0, 0);
         gScaleCroppedFrame_downto3by3(&s.f, &e.f, 0, 0, 0, 0);
       }},
      {"gScaleRGB565Frame",
       [](int w, int h) {
         auto src = Buf<uint16_t>(N(w, h));
         auto out = Buf<uint16_t>(N(h % 7 + 1, w % 5 + 1));
         gScaleRGB565Frame(P(src), P(out), w, h, h % 7 + 1, w % 5 + 1);
         auto big = Buf<uint16_t>(N(3, 37));
         gScaleRGB565Frame(P(src), P(big), w, h, 3, 37);
       }},
      {"gScaleRGB565CroppedFrame",
       [](int w, int h) {
         auto src = Buf<uint16_t>(N(w, h));
         auto out = Buf<uint16_t>(N(4, 4));
         gScaleRGB565CroppedFrame(P(src), P(out), w, h, 4, 4, w / 2, h / 2, w, h);
         gScaleRGB565CroppedFrame(P(src), P(out), w, h, 4, 4, w, h, 1, 1);
       }},
      {"gOvY1UY2VtoY1UY2V_Scale",
       [](int w, int h) {
         auto src = Buf<uint8_t>(2 * N(w, h));
         auto out = Buf<uint8_t>(size_t(5 / 2) * 4 * 9);
         gOvY1UY2VtoY1UY2V_Scale(P(src), P(out), w, h, 5, 9, 1, 1, w, h);
         auto out2 = Buf<uint8_t>(size_t(4) * 1);
         gOvY1UY2VtoY1UY2V_Scale(P(src), P(out2), w, h, 2, 1, 0, 0, w, h);
       }},
      {"gOvScaleFrameYUYVtoYUV422P",
       [](int w, int h) {
         auto src = Buf<uint8_t>(2 * N(w, h));
         const uint32_t dw = 6, dh = 11;
         auto out = Buf<uint8_t>(dw * dh * 2);
         uint32_t bytes = static_cast<uint32_t>(out.size()), strip = 0;
         const int rc = gOvScaleFrameYUYVtoYUV422P(P(src), P(out), w, h, dw, dh, &bytes, &strip);
         EXPECT_TRUE(rc == 0 || rc == -1);
       }},
      {"gOvScaleFrameYUYVtoYUV420P",
       [](int w, int h) {
         auto src = Buf<uint8_t>(2 * N(w, h));
         const uint32_t dw = 7, dh = 19;
         auto out = Buf<uint8_t>(dw * 16 + 2 * (dw / 2) * 8);  // one strip of 16 rows
         uint32_t bytes = static_cast<uint32_t>(out.size()), strip = 0;
         const int rc = gOvScaleFrameYUYVtoYUV420P(P(src), P(out), w, h, dw, dh, &bytes, &strip);
         EXPECT_TRUE(rc == 0 || rc == -1 || rc == -2);
       }},
      {"gRotate422Frame",
       [](int w, int h) {
         Frame s(w, h, Layout::k422);
         for (int t = -1; t <= 4; ++t) {
           Frame d((t & 1) ? h : w, (t & 1) ? w : h, Layout::k422);
           gRotate422Frame(&s.f, &d.f, t);
         }
       }},
      {"gRotateMonochromeFrame",
       [](int w, int h) {
         Frame s(w, h);
         auto out = Buf<uint8_t>(N(w, h));
         uint8_t* p = P(out);
         for (int t = -1; t <= 4; ++t) gRotateMonochromeFrame(&s.f, &p, t);
       }},
      {"gRotateRGB16",
       [](int w, int h) {
         auto src = Buf<int16_t>(N(w, h));
         auto out = Buf<int16_t>(N(w, h));
         for (int t = 0; t < 4; ++t) {
           const int dw = (t & 1) ? h : w, dh = (t & 1) ? w : h;
           EXPECT_EQ(0, gRotateRGB16(P(src), P(out), w, h, 0, 0, w, h, 0, 0, dw, dh, t));
           EXPECT_EQ(0, gRotateRGB16(P(src), P(out), w, h, w + 5, 1, 65535, 65535, 1, dh + 3, dw, dh, t));
         }
         EXPECT_EQ(-1, gRotateRGB16(P(src), P(out), w, h, 0, 0, -1, h, 0, 0, w, h, 0));
       }},
      {"gRotateRGB16toBGR24",
       [](int w, int h) {
         auto src = Buf<uint16_t>(N(w, h));
         for (int t = 0; t < 4; ++t) {
           const int dw = (t & 1) ? h : w, dh = (t & 1) ? w : h;
           auto out = Buf<uint8_t>(3 * N(dw, dh) + 2 * size_t(dh));  // rows with two spare bytes
           EXPECT_EQ(0, gRotateRGB16toBGR24(P(src), P(out), w, h, 0, 0, w, h, 0, 0, dh, 3 * dw + 2, t));
           EXPECT_EQ(0, gRotateRGB16toBGR24(P(src), P(out), w, h, 1, 1, w, h, 1, 1, dh, 3 * dw + 2, t));
         }
       }},
      {"gMirrorImageRGB565",
       [](int w, int h) {
         auto src = Buf<int16_t>(N(w, h));
         auto out = Buf<int16_t>(N(w, h));
         for (int t : {0, 1, 2, 9}) EXPECT_EQ(0, gMirrorImageRGB565(P(src), P(out), w, h, t));
         EXPECT_EQ(0, gMirrorImageRGB565(P(src), P(src), w, h, 2));  // in place
       }},
      {"gMirrorImageYUV",
       [](int w, int h) {
         for (uint32_t mode : {0u, 1u}) {
           const Layout l = mode ? Layout::k422 : Layout::k420;
           Frame s(w, h, l), d(w, h, l);
           YuvFrameExt se{s.f.y, s.f.u, s.f.v, s.f.width, s.f.height, 1};
           YuvFrameExt de{d.f.y, d.f.u, d.f.v, 0, 0, 0};
           for (int t : {0, 1, 2}) {
             EXPECT_EQ(0, gMirrorImageYUV(&se, &de, mode, t, 1));
             EXPECT_EQ(0, gMirrorImageYUV(&se, nullptr, mode, t, 0));
           }
         }
       }},
  };
  return exports;
}

TEST(BadInput, EveryExportIsListed) {
  EXPECT_EQ(Exports().size(), 43u);  // the library's exported names
}

class EveryExport : public ::testing::TestWithParam<size_t> {};

TEST_P(EveryExport, ZeroOddAndHugeSizesStayInBounds) {
  const Export& e = Exports()[GetParam()];
  for (const Size& s : kSizes) {
    SCOPED_TRACE(std::string(e.name) + " " + std::to_string(s.w) + "x" + std::to_string(s.h));
    e.call(s.w, s.h);
  }
}

INSTANTIATE_TEST_SUITE_P(Exports, EveryExport, ::testing::Range<size_t>(0, 43),
                         [](const ::testing::TestParamInfo<size_t>& i) { return std::string(Exports()[i.param].name); });

// Null pointers: no crash, no write.
TEST(BadInput, NullPointers) {
  Frame f(4, 4);
  YuvFrame nullPlanes{};
  uint32_t b = 100, s = 0;
  gOvRGB565toYUV420(nullptr, nullptr, 4, 4);
  EXPECT_EQ(-2, gUY1VY2ToYUV420(nullptr, &f.f, 4, 4));
  gOvYUY2toYUV420(nullptr, nullptr, 4, 4);
  EXPECT_EQ(-2, gYUV422toYUV420Ex(&nullPlanes, &f.f));
  gRotateFrame(&f.f, &nullPlanes, 1);
  gRotateFrame(nullptr, &f.f, 1);
  gOvYUV420toRGB565TopDown(&nullPlanes, nullptr, 4, 4, 1);
  gOvYUV420toRGB888TopDown(nullptr, nullptr, 4, 4, 1);
  EXPECT_EQ(-2, gYUV420toBGR24(&f.f, nullptr, 12));
  gYUV422HPlanartoRGB888TopDown(&nullPlanes, nullptr, 4, 4, 1);
  gYUV444toRGB16(&f.f, nullptr, 4, 4);
  EXPECT_EQ(-2, gVYUYtoRGB565(&nullPlanes, nullptr, 0, 0, 4, 4, 0, 0, 4, 4, 0));
  EXPECT_EQ(-2, gYUV420toY41P(nullptr, nullptr, 8));
  EXPECT_EQ(-2, gYUVPlanartoYUYV(&nullPlanes, nullptr, 4, 4));
  EXPECT_EQ(-2, gY1UY2VToYV12(nullptr, &nullPlanes, 4, 4));
  EXPECT_EQ(-2, gYUV422htoYUV420(nullptr, &f.f));
  gScaleFrame(&nullPlanes, &f.f);
  gScaleCroppedFrame(nullptr, &f.f, 0, 0, 4, 4);
  gScaleCroppedFrameYUV422(&f.f, nullptr, 0, 0, 4, 4);
  EXPECT_EQ(-2, gYUV422toYUV420(&nullPlanes, &f.f, 0, 0, 4, 4));
  gScaleCroppedFrame_downby2(&nullPlanes, &f.f, 0, 0, 0, 0);
  gScaleCroppedFrame_upby2(&f.f, &nullPlanes, 0, 0);
  gScaleCroppedFrame_upby4(nullptr, nullptr, 0, 0);
  gScaleCroppedFrame_downto3by3(&nullPlanes, &nullPlanes, 0, 0, 0, 0);
  gScaleRGB565Frame(nullptr, nullptr, 4, 4, 4, 4);
  gOvY1UY2VtoY1UY2V_Scale(nullptr, nullptr, 4, 4, 4, 4, 0, 0, 4, 4);
  EXPECT_EQ(-2, gOvScaleFrameYUYVtoYUV422P(f.y.data(), f.y.data(), 4, 4, 4, 4, nullptr, &s));
  EXPECT_EQ(-2, gOvScaleFrameYUYVtoYUV420P(f.y.data(), f.y.data(), 4, 4, 4, 4, &b, nullptr));
  gRotate422Frame(&nullPlanes, &f.f, 0);
  gRotateMonochromeFrame(&f.f, nullptr, 0);
  EXPECT_EQ(-1, gRotateRGB16toBGR24(nullptr, nullptr, 4, 4, 0, 0, 4, 4, 0, 0, 4, 12, 0));
  EXPECT_EQ(-2, gMirrorImageRGB565(nullptr, nullptr, 4, 4, 0));
  YuvFrameExt ext{f.f.y, f.f.u, f.f.v, 4, 4, 0};
  EXPECT_EQ(-2, gMirrorImageYUV(&ext, nullptr, 0, 0, 1));
  EXPECT_EQ(-2, gMirrorImageYUV(nullptr, &ext, 0, 0, 1));
}

}  // namespace
}  // namespace iptest
