// The video objects' RGB565 to YUV 4:2:0 conversion into BT.601 studio range:
// every RGB565 colour against BT.601's own equations, all three planes;
// chroma as the block's mean; the frame layout and margins; the SSE2 kernel
// against the reference; and an RGB565 frame of black, white and red patches
// through the H.263 object and back through the H.263 decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codecs/videodec/h263/h263_decoder.h"
#include "filters/codecdmo/codecdmo.h"
#include "filters/codecdmo/studio_rgb_to_yuv.h"
#include "platform/cpu/cpu.h"
#include "platform/dshow/media_buffer.h"
#include "platform/dshow/media_type.h"
#include "tests/filters/codecdmo_test_util.h"

namespace codecdmo {
namespace {

// A w x h 4:2:0 frame in one block, the planes behind a record.
struct Planes {
  Planes(int w, int h) : bytes(size_t(w) * h * 3 / 2, 0xEE) {
    f = YuvFrame{bytes.data(), bytes.data() + size_t(w) * h, bytes.data() + size_t(w) * h * 5 / 4, uint16_t(w),
                 uint16_t(h)};
  }
  uint8_t Y(int x, int y) const { return f.y[size_t(y) * f.width + x]; }
  uint8_t U(int x, int y) const { return f.u[size_t(y / 2) * (f.width / 2) + x / 2]; }
  uint8_t V(int x, int y) const { return f.v[size_t(y / 2) * (f.width / 2) + x / 2]; }
  std::vector<uint8_t> bytes;
  YuvFrame f;
};

// ITU-R BT.601 studio range from 8-bit R, G, B.
struct Ycc {
  double y, cb, cr;
};
Ycc Bt601(double r, double g, double b) {
  return {16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255, 128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255,
          128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255};
}
// An RGB565 word's fields widened to 8 bits by repeating their top bits, as
// RGB565 is shown (a full field is 255).
double R8(uint16_t p) { return (p >> 11) << 3 | (p >> 13); }
double G8(uint16_t p) { return ((p >> 5) & 63) << 2 | ((p >> 9) & 3); }
double B8(uint16_t p) { return (p & 31) << 3 | ((p >> 2) & 7); }

// What the fixed-point weights may differ from the equations by, on top of
// the rounding to whole codes: under a tenth of a code over the whole range.
constexpr double kCodeTolerance = 0.6;

TEST(StudioRgbToYuv, BlackWhiteAndRedAreTheStudioCodes) {
  struct Case {
    uint16_t rgb;
    uint8_t y, u, v;
  };
  // ffmpeg's BT.601 codes of the same colours.
  for (const Case c : {Case{0x0000, 16, 128, 128}, Case{0xFFFF, 235, 128, 128}, Case{0xF800, 81, 90, 240}}) {
    const std::vector<uint16_t> rgb(4, c.rgb);
    Planes out(2, 2);
    StudioRgb565ToYuv420(rgb.data(), &out.f, 2, 2);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out.f.y[i], c.y) << std::hex << c.rgb;
    EXPECT_EQ(out.f.u[0], c.u) << std::hex << c.rgb;
    EXPECT_EQ(out.f.v[0], c.v) << std::hex << c.rgb;
  }
}

TEST(StudioRgbToYuv, EveryColourFollowsBt601) {
  for (uint32_t p = 0; p < 65536; ++p) {
    const std::vector<uint16_t> rgb(4, uint16_t(p));
    Planes out(2, 2);
    StudioRgb565ToYuv420(rgb.data(), &out.f, 2, 2);
    const Ycc e = Bt601(R8(uint16_t(p)), G8(uint16_t(p)), B8(uint16_t(p)));
    ASSERT_NEAR(out.f.y[0], e.y, kCodeTolerance) << std::hex << p;
    ASSERT_NEAR(out.f.u[0], e.cb, kCodeTolerance) << std::hex << p;
    ASSERT_NEAR(out.f.v[0], e.cr, kCodeTolerance) << std::hex << p;
  }
}

// Chroma is the mean over the 2x2 block, whichever pixels differ; luma stays
// each pixel's own.
TEST(StudioRgbToYuv, ChromaIsTheMeanOfTheBlock) {
  const uint16_t red = 0xF800, blue = 0x001F, green = 0x07E0;
  // Bottom-up: the first source row is the frame's lower row.
  for (const std::vector<uint16_t>& rgb : {std::vector<uint16_t>{red, blue, blue, red},
                                           std::vector<uint16_t>{red, red, red, green},
                                           std::vector<uint16_t>{blue, green, red, 0xFFFF}}) {
    Planes out(2, 2);
    StudioRgb565ToYuv420(rgb.data(), &out.f, 2, 2);
    Ycc mean{0, 0, 0};
    for (uint16_t p : rgb) {
      const Ycc e = Bt601(R8(p), G8(p), B8(p));
      mean.cb += e.cb / 4;
      mean.cr += e.cr / 4;
    }
    EXPECT_NEAR(out.f.u[0], mean.cb, kCodeTolerance);
    EXPECT_NEAR(out.f.v[0], mean.cr, kCodeTolerance);
    const int frame_pos[4] = {2, 3, 0, 1};  // source pixel i lands here
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(out.f.y[frame_pos[i]], Bt601(R8(rgb[size_t(i)]), G8(rgb[size_t(i)]), B8(rgb[size_t(i)])).y,
                  kCodeTolerance);
    }
  }
}

// A picture smaller than the frame fills it from the bottom: columns right of
// it repeat its last column, rows above it its top row; an odd last row is
// converted alone and written twice; its chroma rows likewise.
TEST(StudioRgbToYuv, MarginsRepeatTheEdgesOfThePicture) {
  for (uint32_t sh : {60u, 59u}) {
    const uint32_t sw = 100;
    std::vector<uint16_t> rgb(size_t(sw) * sh);
    // Every pixel a different colour, by position.
    for (uint32_t r = 0; r < sh; ++r)
      for (uint32_t x = 0; x < sw; ++x) rgb[size_t(r) * sw + x] = uint16_t(((r * 7) << 11) | ((x * 5 & 63) << 5) | (r + x) % 32);
    Planes out(104, 64);
    StudioRgb565ToYuv420(rgb.data(), &out.f, sw, sh);
    // The luma of one source pixel, converted on its own.
    auto luma = [&](uint32_t r, uint32_t x) {
      const std::vector<uint16_t> one(4, rgb[size_t(r) * sw + x]);
      Planes p(2, 2);
      StudioRgb565ToYuv420(one.data(), &p.f, 2, 2);
      return p.f.y[0];
    };
    const uint32_t rows = (sh + 1) & ~1u;  // an odd last row takes two frame rows
    for (uint32_t fr = 0; fr < 64; ++fr) {
      // Frame row fr shows source row 63 - fr, or the top row above the picture.
      const uint32_t from_bottom = 63 - fr;
      const uint32_t src = from_bottom < rows ? std::min(from_bottom, sh - 1) : sh - 1;
      for (uint32_t x = 0; x < 104; ++x)
        ASSERT_EQ(out.Y(int(x), int(fr)), luma(src, std::min(x, sw - 1))) << sh << " rows: frame " << x << "," << fr;
    }
    for (int cr = 0; cr < 32; ++cr) {
      for (int cx = 50; cx < 52; ++cx) {
        EXPECT_EQ(out.f.u[size_t(cr) * 52 + size_t(cx)], out.f.u[size_t(cr) * 52 + 49]) << cr;
        EXPECT_EQ(out.f.v[size_t(cr) * 52 + size_t(cx)], out.f.v[size_t(cr) * 52 + 49]) << cr;
      }
      if (cr < 32 - int(rows / 2)) {
        EXPECT_EQ(out.f.u[size_t(cr) * 52], out.f.u[size_t(32 - rows / 2) * 52]) << cr;
        EXPECT_EQ(out.f.v[size_t(cr) * 52 + 10], out.f.v[size_t(32 - rows / 2) * 52 + 10]) << cr;
      }
    }
  }
}

TEST(StudioRgbToYuv, RefusesWhatTheFrameCannotHold) {
  const std::vector<uint16_t> rgb(64 * 64, 0xFFFF);
  Planes odd(6, 5);
  const std::vector<uint8_t> before = odd.bytes;
  StudioRgb565ToYuv420(rgb.data(), &odd.f, 4, 4);  // odd frame height
  Planes small(8, 8);
  StudioRgb565ToYuv420(rgb.data(), &small.f, 10, 8);  // wider than the frame
  StudioRgb565ToYuv420(rgb.data(), &small.f, 8, 9);   // an odd row needs two frame rows more
  StudioRgb565ToYuv420(nullptr, &small.f, 8, 8);
  StudioRgb565ToYuv420(rgb.data(), nullptr, 8, 8);
  EXPECT_EQ(odd.bytes, before);
  EXPECT_EQ(small.bytes, std::vector<uint8_t>(small.bytes.size(), 0xEE));
}

// Each vector kernel gives the reference's bytes on random and extreme
// pixels, every pair count across its steps, unaligned rows, a lone row
// (s1 = s0), and writes nothing beyond its rows.
struct KernelVariant {
  const char* name;
  uint32_t flags;
};
class StudioRgbKernels : public ::testing::TestWithParam<KernelVariant> {};

TEST_P(StudioRgbKernels, MatchTheReference) {
  const KernelVariant variant = GetParam();
  if ((ov::GetCpuFlags() & variant.flags) != variant.flags) GTEST_SKIP() << variant.name << " is not supported here";
  StudioRgbDsp ref{}, simd{};
  init_studio_rgb_dsp(ref, 0);
  init_studio_rgb_dsp(simd, variant.flags);
  ASSERT_NE(ref.row2, simd.row2);
  const unsigned seed = 601;
  std::printf("seed %u\n", seed);
  std::mt19937 rng(seed);
  constexpr size_t kGuard = 16;
  for (int pattern = 0; pattern < 3; ++pattern) {
    for (ptrdiff_t pairs = 0; pairs <= 70; ++pairs) {
      for (size_t offset : {0, 1, 3}) {
        for (bool lone : {false, true}) {
          const size_t n = 2 * size_t(pairs);
          std::vector<uint16_t> s0(n + offset), s1(n + offset);
          for (size_t i = 0; i < n; ++i) {
            const uint16_t extreme[3] = {0x0000, 0xFFFF, 0xF81F};
            s0[offset + i] = pattern == 0 ? uint16_t(rng()) : extreme[(i + size_t(pattern)) % 3];
            s1[offset + i] = pattern == 0 ? uint16_t(rng()) : extreme[(i + 1) % 3];
          }
          const uint16_t* a = s0.data() + offset;
          const uint16_t* b = lone ? a : s1.data() + offset;
          std::vector<uint8_t> out[2];
          for (int k = 0; k < 2; ++k) {
            // y0, y1, u, v, each followed by a guard, from an odd start.
            out[k].assign(2 * (n + kGuard) + 2 * (size_t(pairs) + kGuard) + offset, uint8_t(0xA5 + k));
            uint8_t* y0 = out[k].data() + offset;
            uint8_t* y1 = y0 + n + kGuard;
            uint8_t* u = y1 + n + kGuard;
            uint8_t* v = u + size_t(pairs) + kGuard;
            (k == 0 ? ref : simd).row2(y0, y1, u, v, a, b, pairs);
          }
          // Both buffers start with different canaries: equal bytes outside
          // the rows would be impossible, so compare the rows and the guards
          // separately.
          const size_t rows[4][2] = {{offset, n},
                                     {offset + n + kGuard, n},
                                     {offset + 2 * (n + kGuard), size_t(pairs)},
                                     {offset + 2 * (n + kGuard) + size_t(pairs) + kGuard, size_t(pairs)}};
          for (const auto& r : rows) {
            ASSERT_TRUE(std::equal(out[0].begin() + long(r[0]), out[0].begin() + long(r[0] + r[1]),
                                   out[1].begin() + long(r[0])))
                << variant.name << " pattern " << pattern << " pairs " << pairs << " offset " << offset << " lone " << lone;
            for (size_t g = r[0] + r[1]; g < r[0] + r[1] + kGuard && g < out[1].size(); ++g)
              ASSERT_EQ(out[1][g], 0xA6) << "wrote past a row, pairs " << pairs;
          }
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, StudioRgbKernels,
                         ::testing::Values(KernelVariant{"sse2", ov::kCpuSse2},
                                           KernelVariant{"avx2", ov::kCpuSse2 | ov::kCpuAvx2}),
                         [](const ::testing::TestParamInfo<KernelVariant>& p) { return std::string(p.param.name); });

// Black, white and red patches of a rendered frame, through the H.263 object
// and our H.263 decoder: the coded samples are the BT.601 studio codes that
// players read, all three planes.
TEST(StudioRgbToYuv, PatchesThroughTheH263ObjectKeepTheirCodes) {
  constexpr int kW = 176, kH = 144;
  auto object = Make(CreateH263EncDmo);
  dshow::MediaType input;
  dshow::MoInitMediaType(input.get(), dshow::kVideoInfoHeaderSize);
  input->majortype = dshow::MEDIATYPE_PrivateVideo;
  input->subtype = dshow::MEDIASUBTYPE_RGB565;
  input->formattype = dshow::FORMAT_VideoInfo;
  input->lSampleSize = kW * kH * 2;
  dshow::VideoInfoHeader info;
  info.AvgTimePerFrame = 666666;
  info.bmiHeader.biWidth = kW;
  info.bmiHeader.biHeight = kH;
  dshow::WriteVideoInfoHeader(info, input->pbFormat);
  dshow::MediaType output;
  ASSERT_EQ(object->SetInputType(0, input.get(), 0), com::S_OK);
  ASSERT_EQ(object->GetOutputType(0, 0, output.get()), com::S_OK);
  ASSERT_EQ(object->SetOutputType(0, output.get(), 0), com::S_OK);
  ASSERT_EQ(Write(object.Get(), u"BitRate", com::VT_UI4, 2000000), com::S_OK);

  // Bottom-up RGB565: the picture's top half black | white, bottom half red | grey.
  std::vector<uint8_t> frame(size_t(kW) * kH * 2);
  for (int r = 0; r < kH; ++r) {
    const int picture_row = kH - 1 - r;
    for (int x = 0; x < kW; ++x) {
      const uint16_t p = picture_row < kH / 2 ? (x < kW / 2 ? 0x0000 : 0xFFFF) : (x < kW / 2 ? 0xF800 : 0x8410);
      frame[(size_t(r) * kW + size_t(x)) * 2] = uint8_t(p);
      frame[(size_t(r) * kW + size_t(x)) * 2 + 1] = uint8_t(p >> 8);
    }
  }
  com::ComPtr<dshow::IMediaBuffer> in = com::ComPtr<dshow::IMediaBuffer>::Adopt(
      dshow::MediaBuffer::Create(uint32_t(frame.size())));
  uint8_t* p = nullptr;
  in->GetBufferAndLength(&p, nullptr);
  std::memcpy(p, frame.data(), frame.size());
  in->SetLength(uint32_t(frame.size()));
  ASSERT_EQ(object->ProcessInput(0, in.Get(), dshow::DMO_INPUT_DATA_BUFFERF_TIME, 0, 0), com::S_OK);
  uint32_t out_bytes = 0, alignment = 0;
  ASSERT_EQ(object->GetOutputSizeInfo(0, &out_bytes, &alignment), com::S_OK);
  com::ComPtr<dshow::IMediaBuffer> out = com::ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(out_bytes));
  dshow::DMO_OUTPUT_DATA_BUFFER buffer{out.Get(), 0, 0, 0};
  uint32_t status = 0;
  ASSERT_EQ(object->ProcessOutput(0, 1, &buffer, &status), com::S_OK);
  uint32_t length = 0;
  out->GetBufferAndLength(&p, &length);
  ASSERT_GT(length, 0u);

  videodec::VideoDecoder* dec = nullptr;
  ASSERT_EQ(videodec::gCreateH263VideoDecoder(&dec, nullptr, 0, 0, 0, 0), videodec::VDEC_OK);
  Planes decoded(kW, kH);
  videodec::DecodedPicture pic{decoded.f.y, decoded.f.u, decoded.f.v, 0, 0, 0};
  uint32_t used = length;
  const int32_t r = dec->DecodeFrameOut(dec, p, &used, &pic);
  dec->DestroyDecoder(dec);
  ASSERT_EQ(r, videodec::VDEC_OK);
  ASSERT_EQ(pic.width, kW);

  struct Patch {
    int x, y;
    uint8_t yy, u, v;
  };
  // Patch centres (top-down) and the codes of the colour; 0x8410 widens to
  // (132, 130, 132).
  const Patch patches[] = {{44, 36, 16, 128, 128}, {132, 36, 235, 128, 128}, {44, 108, 81, 90, 240},
                           {132, 108, 128, 129, 129}};
  // What the coder may move a flat patch's samples at a high rate.
  constexpr int kCodingTolerance = 2;
  for (const Patch& c : patches) {
    EXPECT_NEAR(decoded.Y(c.x, c.y), c.yy, kCodingTolerance) << c.x << "," << c.y;
    EXPECT_NEAR(decoded.U(c.x, c.y), c.u, kCodingTolerance) << c.x << "," << c.y;
    EXPECT_NEAR(decoded.V(c.x, c.y), c.v, kCodingTolerance) << c.x << "," << c.y;
  }
}

}  // namespace
}  // namespace codecdmo
