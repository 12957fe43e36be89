// Video decoder benchmarks: the shared kernels, the RGB565 conversion and a
// whole H.263 stream (set OVMIX_BENCH_H263 to a .263 file; bench/h263-vs-ffmpeg
// makes one and also times ffmpeg on it).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "bench/bench_input.h"
#include "codecs/videodec/common/idct.h"
#include "codecs/videodec/common/mc.h"
#include "codecs/videodec/common/post_filter.h"
#include "codecs/videodec/common/transform_tables.h"
#include "codecs/videodec/common/yuv420_to_rgb565.h"
#include "codecs/videodec/h263/h263_decoder.h"
#include "platform/cpu/cpu.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

void BM_IdctAdd(benchmark::State& state) {
  videodec::IdctDsp dsp;
  videodec::init_idct_dsp(dsp, ov::GetCpuFlags());
  int16_t block[64] = {};
  for (int i = 0; i < 10; ++i) block[videodec::kZigzagScan[i]] = static_cast<int16_t>((40 - 4 * i) * videodec::kIdctScaleZigzag[i] >> 12);
  std::vector<uint8_t> dst = RandomBytes(8 * 16, 1);
  for (auto _ : state) {
    dsp.idct_add(dst.data(), 16, block);
    benchmark::DoNotOptimize(dst.data());
  }
}
BENCHMARK(BM_IdctAdd);

void BM_McPut16(benchmark::State& state) {
  videodec::McDsp dsp;
  videodec::init_mc_dsp(dsp, ov::GetCpuFlags());
  const std::vector<uint8_t> src = RandomBytes(64 * 64, 2);
  std::vector<uint8_t> dst(16 * 16);
  const int pos = static_cast<int>(state.range(0));
  for (auto _ : state) {
    dsp.put[pos](dst.data(), 16, src.data() + 65, 64, 16, 16, 0);
    benchmark::DoNotOptimize(dst.data());
  }
}
BENCHMARK(BM_McPut16)->DenseRange(0, 3);

// Argument 0: full range; 1: studio range.
void BM_Rgb565Vga(benchmark::State& state) {
  const auto convert = state.range(0) ? videodec::ConvertStudioYUV420toRGB565TopDown
                                      : videodec::ConvertYUV420toRGB565TopDown;
  std::vector<uint8_t> planes = RandomBytes(640 * 480 * 3 / 2, 3);
  const videodec::YuvFrame frame{planes.data(), planes.data() + 640 * 480, planes.data() + 640 * 480 * 5 / 4, 640, 480};
  std::vector<uint16_t> out(640 * 480);
  for (auto _ : state) {
    convert(&frame, out.data(), 640, 480, 0);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Rgb565Vga)->Arg(0)->Arg(1);

void BM_PostFilterVga(benchmark::State& state) {
  std::vector<uint8_t> planes = RandomBytes(640 * 480 * 3 / 2, 4);
  for (auto& p : planes) p = static_cast<uint8_t>(100 + (p & 7));
  const videodec::DecodedPicture pic{planes.data(), planes.data() + 640 * 480, planes.data() + 640 * 480 * 5 / 4, 640, 480, 0};
  std::vector<uint8_t> quant(40 * 30, 10);
  for (auto _ : state) videodec::PostFilter(pic, quant.data(), 1, static_cast<uint32_t>(state.range(0)), videodec::PostFilterCodec::kH263);
}
BENCHMARK(BM_PostFilterVga)->Arg(1)->Arg(2);

// Decodes the whole stream as the video-track sources do; with `rgb`, each
// picture is also converted to RGB565.
void DecodeStream(const std::vector<uint8_t>& stream, bool rgb, std::vector<uint16_t>& pixels, int* frames) {
  videodec::VideoDecoder* dec = nullptr;
  videodec::gCreateH263VideoDecoder(&dec, nullptr, 0, 0, 0, 0);
  dec->SetDecoderParam(dec, videodec::VDEC_PARAM_DECODE_VARIANT, 1);
  auto fetch = [&] {
    videodec::DecodedPicture* pic = nullptr;
    if (dec->GetDecoderParam(dec, videodec::VDEC_PARAM_FINISH_PICTURE, &pic) != videodec::VDEC_OK || !pic) return;
    ++*frames;
    if (rgb) {
      pixels.resize(static_cast<size_t>(pic->width) * pic->height);
      const videodec::YuvFrame f = videodec::AsYuvFrame(*pic);
      videodec::ConvertYUV420toRGB565TopDown(&f, pixels.data(), pic->width, pic->height, 0);
    }
  };
  uint32_t offset = 0;
  while (offset < stream.size()) {
    uint32_t length = static_cast<uint32_t>(stream.size() - offset);
    const int32_t r = dec->DecodeFrame(dec, stream.data() + offset, &length);
    offset += length;
    if (r == videodec::VDEC_PICTURE_OPEN || r == videodec::VDEC_NEXT_PICTURE) fetch();
    else if (r != videodec::VDEC_OK && length == 0) ++offset;
  }
  fetch();
  dec->DestroyDecoder(dec);
}

void BM_H263Stream(benchmark::State& state) {
  const char* path = std::getenv("OVMIX_BENCH_H263");
  if (!path) {
    state.SkipWithError("set OVMIX_BENCH_H263 to an H.263 stream");
    return;
  }
  std::vector<uint8_t> stream;
  if (!ovbench::ReadRegularFile(path, &stream) || stream.empty()) {
    state.SkipWithError("OVMIX_BENCH_H263 does not name a readable, non-empty file");
    return;
  }
  std::vector<uint16_t> pixels;
  int frames = 0;
  for (auto _ : state) DecodeStream(stream, state.range(0) != 0, pixels, &frames);
  state.SetItemsProcessed(frames);
}
BENCHMARK(BM_H263Stream)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
