// Decoding speed of the H.264 decoder on the 10-second VGA Baseline fixtures
// (scripts/fixtures/h264.sh), reference kernels (Arg 0), the variants up to
// AVX2 (Arg 15, the mask of SSE2 .. AVX2) and every variant the processor
// has (Arg -1). The peer comparison with ffmpeg -threads 1 on
// the same streams is bench/h264-vs-ffmpeg.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codecs/videodec/h264/h264_annexb.h"
#include "codecs/videodec/h264/h264_core.h"
#include "platform/cpu/cpu.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> data;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) data.insert(data.end(), buf, buf + n);
    std::fclose(f);
  }
  return data;
}

void CountPicture(void* user, const videodec::h264::Picture&, int, int) { ++*static_cast<int64_t*>(user); }

void BM_DecodeVga(benchmark::State& state, const char* fixture) {
  ov::SetCpuFlagsMask(uint32_t(state.range(0)));
  const std::vector<uint8_t> data = ReadAll(std::string(OVMIX_FIXTURES_DIR) + "/" + fixture);
  if (data.empty()) {
    state.SkipWithError((std::string("fixture ") + fixture + " missing: run scripts/make-fixtures").c_str());
    return;
  }
  int64_t pictures = 0;
  for (auto _ : state) {
    videodec::h264::Core core;
    core.SetPictureCallback(CountPicture, &pictures);
    size_t pos = 0, b = 0, e = 0;
    while (videodec::h264::NextAnnexBNal(data.data(), data.size(), pos, &b, &e)) {
      core.DecodeNal(data.data() + b, e - b);
      pos = e;
    }
    core.FinishPicture();
  }
  state.counters["fps"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
  ov::SetCpuFlagsMask(~0u);
}

}  // namespace

BENCHMARK_CAPTURE(BM_DecodeVga, bench_1500k, "h264_bench_vga.264")->Arg(0)->Arg(15)->Arg(-1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeVga, pattern, "h264_vga_pattern.264")->Arg(0)->Arg(15)->Arg(-1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeVga, fractal, "h264_vga_fractal.264")->Arg(0)->Arg(15)->Arg(-1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeVga, texture, "h264_vga_texture.264")->Arg(0)->Arg(15)->Arg(-1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeVga, texture_4ref, "h264_vga_texture_4ref.264")
    ->Arg(0)
    ->Arg(15)
    ->Arg(-1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeVga, fractal_4slice, "h264_vga_fractal_4slice.264")
    ->Arg(0)
    ->Arg(15)
    ->Arg(-1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
