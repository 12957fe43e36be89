// ".qbt" frame decoding at 320 x 240 in frames per second, on a picture with
// flat areas, gradients and noise (the test encoder's bit-plane coding). No
// peer: the format is the program's own.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "media/qbt_decoder.h"
#include "tools/qbt_encoder.h"

namespace {

constexpr uint32_t kWidth = 320, kHeight = 240;

std::vector<uint16_t> BenchPicture() {
  std::vector<uint16_t> p(size_t(kWidth) * kHeight);
  uint32_t r = 12345;
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) {
      r = r * 1103515245u + 12345u;
      uint16_t v = x < kWidth / 3 ? 0x001F : uint16_t((y / 8) << 11 | (x / 8) << 5);
      if (x > 2 * kWidth / 3 && y > kHeight / 2) v = uint16_t(r >> 16);
      p[size_t(y) * kWidth + x] = v;
    }
  }
  return p;
}

void BM_QbtDecode320x240(benchmark::State& state) {
  const std::vector<uint16_t> picture = BenchPicture();
  const std::vector<uint8_t> coded = ovtool::QbtEncodeFrame(picture.data(), kWidth, kHeight);
  std::vector<uint8_t> frame(size_t(kWidth) * kHeight * 2);
  for (auto _ : state) {
    const int result =
        media::QbtDecodeFrame(frame.data(), kWidth, kHeight, 16, 1, 0, coded.data(), uint32_t(coded.size()));
    if (result != media::kQbtOk) {
      state.SkipWithError("the frame did not decode");
      return;
    }
    benchmark::DoNotOptimize(frame.data());
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["coded_bytes"] = double(coded.size());
}
BENCHMARK(BM_QbtDecode320x240)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
