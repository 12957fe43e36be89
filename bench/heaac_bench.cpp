// AAC decoding speed: our decoder on 60 s of 44.1 kHz stereo AAC-LC, then the
// same file through faad and through ffmpeg's fixed-point decoder
// (`-threads 1 -c:a aac_fixed`), printing the time ratios.
//
//   heaac_bench [FILE.aac] [google-benchmark flags]
//
// Without FILE the fixture aac_bench_60s.aac is used (made by
// scripts/make-fixtures when missing); aac_bench_sbr_60s.aac beside it is
// 60 s of 22.05 kHz stereo HE-AAC (SBR to 44.1 kHz). The peers run as processes, so their
// times include process start-up (a few ms against a decode of about 100 ms+).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_input.h"
#include "codecs/heaac/heaac_decoder.h"
#include "platform/cpu/cpu.h"

namespace {

std::string g_path;
std::vector<uint8_t> g_data;

// Decodes the whole ADTS buffer; returns the samples produced.
size_t DecodeAll(const std::vector<uint8_t>& data, std::vector<int16_t>* out) {
  heaac::HeAacDecoder* decoder = nullptr;
  if (heaac::gCreateHeAacDecoder(&decoder) != 0) return 0;
  heaac::AacStreamInfo info{};
  int32_t header = static_cast<int32_t>(data.size());
  size_t samples = 0;
  if (heaac::gGetAacStreamInfo(data.data(), &header, &info, 2, nullptr, 0) == 0 &&
      heaac::gConfigureHeAacDecoder(decoder, &info) == 0) {
    out->resize(info.outputBytesPerFrame / 2);
    size_t pos = 0;
    while (pos + 7 <= data.size()) {
      const size_t len = ((data[pos + 3] & 3u) << 11) | (data[pos + 4] << 3) | (data[pos + 5] >> 5);
      if (len < 7 || len > data.size() - pos) break;
      int32_t in = static_cast<int32_t>(len);
      int32_t outBytes = static_cast<int32_t>(out->size() * 2);
      if (heaac::gDecodeHeAacFrame(decoder, &data[pos], &in, out->data(), &outBytes) == 0) {
        samples += static_cast<size_t>(outBytes / 2);
      }
      pos += len;
    }
  }
  heaac::gDestroyHeAacDecoder(decoder);
  return samples;
}

// Arg: the CPU mask for the decoder's kernels (-1 every variant, 1 SSE2
// only, 0 the C++ references).
void BM_HeaacDecode(benchmark::State& state) {
  ov::SetCpuFlagsMask(static_cast<uint32_t>(state.range(0)));
  std::vector<int16_t> out;
  size_t samples = 0;
  for (auto _ : state) {
    samples = DecodeAll(g_data, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["samples"] = static_cast<double>(samples);
  ov::SetCpuFlagsMask(~0u);
}
BENCHMARK(BM_HeaacDecode)->Arg(-1)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

double BestSeconds(int runs, const auto& fn) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!fn()) return -1;
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  g_path = std::string(OVMIX_FIXTURES_DIR) + "/aac_bench_60s.aac";
  if (argc > 1 && argv[1][0] != '-') {
    g_path = argv[1];
    --argc;
    ++argv;
  }
  if (!std::filesystem::exists(g_path)) {
    const std::string make = std::string(OVMIX_SOURCE_DIR) + "/scripts/make-fixtures '" + OVMIX_FIXTURES_DIR + "' >/dev/null";
    if (std::system(make.c_str()) != 0) std::fprintf(stderr, "heaac_bench: make-fixtures reported failures\n");
  }
  if (!ovbench::ReadRegularFile(g_path, &g_data) || g_data.empty()) {
    std::fprintf(stderr, "heaac_bench: %s: not a readable, non-empty file\n", g_path.c_str());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  std::vector<int16_t> out;
  const double ours = BestSeconds(5, [&] { return DecodeAll(g_data, &out) > 0; });
  const std::string faadCmd = "faad -q -o /dev/null '" + g_path + "' >/dev/null 2>&1";
  const std::string ffmpegCmd = "ffmpeg -v error -threads 1 -c:a aac_fixed -i '" + g_path + "' -f null - >/dev/null 2>&1";
  const double faad = BestSeconds(3, [&] { return std::system(faadCmd.c_str()) == 0; });
  const double ffmpeg = BestSeconds(3, [&] { return std::system(ffmpegCmd.c_str()) == 0; });
  std::printf("\n%s\n", g_path.c_str());
  std::printf("ours (heaac)          %8.1f ms\n", ours * 1e3);
  if (faad > 0) std::printf("faad                  %8.1f ms   faad / ours = %.2f\n", faad * 1e3, faad / ours);
  if (ffmpeg > 0) std::printf("ffmpeg -c:a aac_fixed %8.1f ms   ffmpeg / ours = %.2f\n", ffmpeg * 1e3, ffmpeg / ours);
  return 0;
}
