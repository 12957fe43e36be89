// mpeg4enc's output pinned byte for byte: fixed synthetic inputs (a moving
// pattern, a zoom into a fractal, a textured scene with noise) are encoded
// under a table of settings and the checksum of every frame's bytes and type
// is compared with the value recorded from the encoder as it stood before its
// kernels were given faster variants. A speed change that alters a single bit
// fails here; a deliberate change of the output records new checksums.
#include "encoders/mpeg4enc/mpeg4enc.h"

#include "platform/cpu/cpu.h"
#include "tests/encoders/test_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace venc {
namespace {

enum class Content { kPattern, kFractal, kNoisyTexture };

using venctest::Hash32;

uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Bars and a bright square moving by a few samples a frame over a gradient.
int PatternLuma(int x, int y, int t) {
  int v = ((x + 3 * t) * 2 + y) & 0xFF;
  if (((x + 2 * t) / 24 + (y + t) / 20) % 2 == 0) v = 255 - v;
  const int sx = 40 + 5 * t, sy = 30 + 2 * t;
  if (x >= sx && x < sx + 32 && y >= sy && y < sy + 28) v = 230 - ((x - sx) ^ (y - sy)) * 3;
  return v;
}

// Escape count of the Mandelbrot set in 12.20 fixed point, the view closing
// in on a point of the boundary by about 3 % a frame.
int FractalLuma(int x, int y, int t, int w, int h) {
  constexpr int kFrac = 20;
  constexpr int kIterations = 40;
  const int64_t scale = (int64_t{3} << kFrac) * 1000 / (1000 + 30 * t) / w;  // units per sample
  const int64_t cx = -(int64_t{743} << kFrac) / 1000 + (x - w / 2) * scale;
  const int64_t cy = (int64_t{131} << kFrac) / 1000 + (y - h / 2) * scale;
  int64_t zx = 0, zy = 0;
  int n = 0;
  for (; n < kIterations; ++n) {
    const int64_t xx = (zx * zx) >> kFrac, yy = (zy * zy) >> kFrac;
    if (xx + yy > (int64_t{4} << kFrac)) break;
    zy = ((2 * zx * zy) >> kFrac) + cy;
    zx = xx - yy + cx;
  }
  return n * 255 / kIterations;
}

// Fine texture panning slowly, with fresh noise of about +-10 every frame.
int NoisyTextureLuma(int x, int y, int t) {
  const int u = x + t, v = y + t / 2;
  const int texture = 128 + static_cast<int>(Hash32(static_cast<uint32_t>((u / 3) * 7919 + (v / 2) * 104729)) % 64) -
                      32 + ((u * 5 + v * 3) & 31);
  const int noise = static_cast<int>(Hash32(static_cast<uint32_t>(t * 1000003 + y * 4099 + x)) % 21) - 10;
  return texture + noise;
}

std::vector<uint8_t> MakeFrame(Content content, int w, int h, int t) {
  std::vector<uint8_t> f(static_cast<size_t>(w) * h * 3 / 2);
  uint8_t* luma = f.data();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int v = 0;
      switch (content) {
        case Content::kPattern: v = PatternLuma(x, y, t); break;
        case Content::kFractal: v = FractalLuma(x, y, t, w, h); break;
        case Content::kNoisyTexture: v = NoisyTextureLuma(x, y, t); break;
      }
      luma[y * w + x] = Clamp255(v);
    }
  uint8_t* u = luma + w * h;
  uint8_t* v = u + (w / 2) * (h / 2);
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      const int l = luma[(2 * y) * w + 2 * x];
      u[y * (w / 2) + x] = Clamp255(128 + (l - 128) / 3 + ((x + t) & 15) - 8);
      v[y * (w / 2) + x] = Clamp255(160 - l / 4 + ((y * 3) & 7));
    }
  return f;
}

struct Case {
  const char* name;
  Content content;
  int width, height;
  int frames;
  int32_t bitRate;
  int32_t complexity;
  int32_t rcMode;
  int32_t streamMode;  // 0 MPEG-4, 1 short header
  int32_t level;
  int32_t gop;
  int32_t resync, dataPartitioning, reversibleVlc;
  int32_t preprocessing;
  int32_t intraRefreshMbs;
  uint64_t checksum;
};

// The settings reach every kernel slot: the four inter transform sizes, intra
// and short-header quantisers (levels clipped at high rates), full-, half- and
// diagonal half-sample search, four-vector macroblocks, the three rate
// controllers, data partitioning with reversible codes, the prefilter and
// intra refresh.
const Case kCases[] = {
    {"PatternQcifC0", Content::kPattern, 176, 144, 12, 64000, 0, 0, 0, 1, 6, 0, 0, 0, 0, 0, 0xb949dc450fe74fbdULL},
    {"PatternQcifC1Refresh", Content::kPattern, 176, 144, 12, 64000, 1, 0, 0, 1, 45, 0, 0, 0, 0, 5, 0x0152ffde3f3f24a2ULL},
    {"PatternCifC2", Content::kPattern, 352, 288, 8, 384000, 2, 0, 0, 3, 45, 0, 0, 0, 0, 0, 0x58287c789e47ad61ULL},
    {"FractalQcifC2Ranged", Content::kFractal, 176, 144, 12, 128000, 2, 1, 0, 2, 45, 0, 0, 0, 0, 0, 0xcdae8d87f7491089ULL},
    {"FractalCifC2Partitioned", Content::kFractal, 352, 288, 6, 384000, 2, 0, 0, 3, 45, 1, 1, 1, 0, 0, 0x60ecb3bc303d859fULL},
    {"FractalQcifShortHeader", Content::kFractal, 176, 144, 10, 64000, 2, 0, 1, 1, 45, 0, 0, 0, 0, 0, 0x9af8fd92108bff6eULL},
    {"NoiseQcifC2Activity", Content::kNoisyTexture, 176, 144, 10, 64000, 2, 2, 0, 1, 45, 1, 0, 0, 0, 0, 0xf08ca60cf72a3002ULL},
    {"NoiseCifC2Prefilter", Content::kNoisyTexture, 352, 288, 6, 384000, 2, 0, 0, 3, 45, 0, 0, 0, 2, 0, 0x3300642bff2a9309ULL},
    {"PatternCifShortHeaderHighRate", Content::kPattern, 352, 288, 6, 384000, 1, 0, 1, 3, 3, 0, 0, 0, 0, 0, 0x3523c86c1339b38cULL},
    {"NoiseQcifHighRate", Content::kNoisyTexture, 176, 144, 6, 2000000, 2, 0, 0, 4, 3, 0, 0, 0, 0, 0, 0xd3ec0241f5dc9362ULL},
};

struct EncoderDeleter {
  void operator()(VideoEncoder* e) const {
    if (e) e->DestroyEncoder(e);
  }
};

// FNV-1a over every frame's result, type, length and bytes.
class Checksum {
 public:
  void Add(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      h_ ^= data[i];
      h_ *= 0x100000001b3ULL;
    }
  }
  void AddWord(uint32_t w) {
    const uint8_t b[4] = {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16),
                          static_cast<uint8_t>(w >> 24)};
    Add(b, 4);
  }
  uint64_t value() const { return h_; }

 private:
  uint64_t h_ = 0xcbf29ce484222325ULL;
};

uint64_t EncodeCase(const Case& c) {
  EncoderCreateParams p{};
  p.width = c.width;
  p.height = c.height;
  p.frameRate = 15.0f;
  p.bitRate = c.bitRate;
  p.gopLength = c.gop;
  p.intraRefreshMbs = c.intraRefreshMbs;
  p.rcMode = c.rcMode;
  p.preprocessingLevel = c.preprocessing;
  p.encodingComplexity = c.complexity;
  p.searchRange = 15;
  p.resyncMarkers = c.resync;
  p.packetSize = 2048;
  p.reversibleVlc = c.reversibleVlc;
  p.dataPartitioning = c.dataPartitioning;
  p.level = c.level;
  p.streamMode = c.streamMode;
  p.timeResolution = 1000;
  VideoEncoder* raw = nullptr;
  const VideoEncoderResult created = gCreateMPEG4VideoEncoder(&raw, &p);
  std::unique_ptr<VideoEncoder, EncoderDeleter> e(raw);
  EXPECT_EQ(created, VENC_OK);
  if (!e) return 0;
  uint32_t capacity = 0;
  e->GetEncoderParam(e.get(), VENC_PARAM_MAX_FRAME_BYTES, &capacity);
  std::vector<uint8_t> out(capacity);
  Checksum sum;
  for (int t = 0; t < c.frames; ++t) {
    const std::vector<uint8_t> frame = MakeFrame(c.content, c.width, c.height, t);
    uint32_t bytes = capacity;
    int32_t type = -1;
    const VideoEncoderResult r = e->EncodeFrame(e.get(), frame.data(), static_cast<uint32_t>(frame.size()),
                                                t * 1000 / 15, 0, out.data(), &bytes, &type);
    EXPECT_EQ(r, VENC_OK) << "frame " << t;
    sum.AddWord(static_cast<uint32_t>(r));
    sum.AddWord(static_cast<uint32_t>(type));
    sum.AddWord(bytes);
    sum.Add(out.data(), bytes);
  }
  return sum.value();
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Mpeg4EncBitExactTest : public ::testing::TestWithParam<Case> {};

// The same bytes with the reference kernels alone, with SSE2 alone, with up
// to AVX2 and with every variant the processor has.
TEST_P(Mpeg4EncBitExactTest, StreamChecksumIsUnchanged) {
  const Case& c = GetParam();
  const uint32_t all = ov::GetCpuFlags();
  for (uint32_t mask : {0u, uint32_t{ov::kCpuSse2}, uint32_t{ov::kCpuSse2 | ov::kCpuAvx2}, ~0u}) {
    SCOPED_TRACE(::testing::Message() << "cpu mask " << mask);
    ov::SetCpuFlagsMask(mask);
    const uint64_t got = EncodeCase(c);
    EXPECT_EQ(got, c.checksum) << std::hex << "0x" << got << "ULL";
  }
  ov::SetCpuFlagsMask(~0u);
  EXPECT_EQ(ov::GetCpuFlags(), all);
}

INSTANTIATE_TEST_SUITE_P(Streams, Mpeg4EncBitExactTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace venc
