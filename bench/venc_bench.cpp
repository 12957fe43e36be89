// Video encoder kernels and whole intra frames of mpeg4enc.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "encoders/common/fdct.h"
#include "encoders/common/idct.h"
#include "encoders/common/motion_dsp.h"
#include "encoders/mpeg4enc/mpeg4enc.h"
#include "platform/cpu/cpu.h"

namespace {

// Forward transform and quantiser of one block; Arg 0 the C++ reference, 1
// the machine's best variant. Kernel: 0 intra, 1 inter (all 64), 2 inter 4x4.
void BM_FdctQuant(benchmark::State& state) {
  venc::FdctDsp dsp{};
  venc::init_fdct_dsp(dsp, state.range(0) ? ov::GetCpuFlags() : 0u);
  const venc::FdctQuantFn fn = state.range(1) == 0 ? dsp.intra : (state.range(1) == 1 ? dsp.inter[0] : dsp.inter4x4[0]);
  std::mt19937 rng(1);
  int16_t src[64], block[64];
  for (int16_t& v : src) v = static_cast<int16_t>(state.range(1) == 0 ? rng() % 256 : static_cast<int>(rng() % 81) - 40);
  for (auto _ : state) {
    std::copy(std::begin(src), std::end(src), block);
    int32_t last = 0, count = 0;
    fn(block, 6, &last, &count);
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(BM_FdctQuant)->ArgsProduct({{0, 1}, {0, 1, 2}});

// Block-matching costs of the motion search; Arg 0 the C++ reference, 1 the
// machine's best variant. Kernel: 0 full-pel, 1 half-pel H, 2 half-pel HV,
// 3 four full-pel candidates.
void BM_MotionCost(benchmark::State& state) {
  venc::MotionDsp dsp{};
  venc::init_motion_dsp(dsp, state.range(0) ? ov::GetCpuFlags() : 0u);
  std::mt19937 rng(2);
  const ptrdiff_t stride = 368;
  std::vector<uint8_t> cur(stride * 40), ref(stride * 40);
  for (auto& v : cur) v = static_cast<uint8_t>(rng());
  for (auto& v : ref) v = static_cast<uint8_t>(rng());
  const uint8_t* c = cur.data() + 8 * stride + 8;
  const uint8_t* refs[4] = {ref.data() + 7 * stride + 9, ref.data() + 9 * stride + 7, ref.data() + 8 * stride + 10,
                            ref.data() + 6 * stride + 8};
  uint32_t costs[4];
  for (auto _ : state) {
    switch (state.range(1)) {
      case 0: costs[0] = dsp.sad16(c, refs[0], stride); break;
      case 1: costs[0] = dsp.sadHalfH(c, refs[0], stride); break;
      case 2: costs[0] = dsp.sadHalfHV(c, refs[0], stride); break;
      default: dsp.sad16xn(c, refs, 4, stride, costs); break;
    }
    benchmark::DoNotOptimize(costs);
  }
}
BENCHMARK(BM_MotionCost)->ArgsProduct({{0, 1}, {0, 1, 2, 3}});

// Inverse transform added to a prediction; Arg 0 the C++ reference, 1 the
// machine's best variant; then the last coefficient's index (0, 9, 63).
void BM_IdctAdd(benchmark::State& state) {
  venc::IdctDsp dsp{};
  venc::init_idct_dsp(dsp, state.range(0) ? ov::GetCpuFlags() : 0u);
  std::mt19937 rng(2);
  int16_t src[64] = {}, block[64];
  for (int i = 0; i <= state.range(1); ++i) src[i] = static_cast<int16_t>(static_cast<int>(rng() % 401) - 200);
  uint8_t out[64] = {};
  for (auto _ : state) {
    std::copy(std::begin(src), std::end(src), block);
    dsp.add(block, static_cast<int32_t>(state.range(1)), out, 8);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_IdctAdd)->ArgsProduct({{0, 1}, {0, 9, 63}});

// Block prediction with its residual; Arg 0 the C++ reference, 1 the
// machine's best variant; then the half-sample mode (copy, H, V, HV).
void BM_MotionPredict(benchmark::State& state) {
  venc::MotionDsp dsp{};
  venc::init_motion_dsp(dsp, state.range(0) ? ov::GetCpuFlags() : 0u);
  std::mt19937 rng(3);
  const ptrdiff_t stride = 368;
  std::vector<uint8_t> cur(stride * 12), ref(stride * 12);
  for (auto& v : ref) v = static_cast<uint8_t>(rng());
  int16_t residual[64];
  for (auto _ : state) {
    const int32_t sad = dsp.predict[state.range(1)](ref.data() + 9, cur.data() + 16, residual, stride);
    benchmark::DoNotOptimize(sad);
    benchmark::DoNotOptimize(residual);
  }
}
BENCHMARK(BM_MotionPredict)->ArgsProduct({{0, 1}, {0, 1, 2, 3}});

// One CIF intra frame of a moving test pattern at 384 kbit/s.
void BM_EncodeIntraCif(benchmark::State& state) {
  venc::EncoderCreateParams p{};
  p.width = 352;
  p.height = 288;
  p.frameRate = 15.0f;
  p.bitRate = 384000;
  p.gopLength = 1;
  p.level = 3;
  p.encodingComplexity = 2;
  p.packetSize = 4096;
  p.timeResolution = 1000;
  venc::VideoEncoder* enc = nullptr;
  if (gCreateMPEG4VideoEncoder(&enc, &p) != venc::VENC_OK) {
    state.SkipWithError("encoder creation failed");
    return;
  }
  std::vector<uint8_t> frame(352 * 288 * 3 / 2);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((i * 7 + (i / 352) * 3) & 0xFF);
  uint32_t capacity = 0;
  enc->GetEncoderParam(enc, venc::VENC_PARAM_MAX_FRAME_BYTES, &capacity);
  std::vector<uint8_t> out(capacity);
  int32_t time = 0;
  for (auto _ : state) {
    uint32_t bytes = capacity;
    int32_t type = 0;
    enc->EncodeFrame(enc, frame.data(), static_cast<uint32_t>(frame.size()), time, 1, out.data(), &bytes, &type);
    time += 66;
    benchmark::DoNotOptimize(out.data());
  }
  enc->DestroyEncoder(enc);
}
BENCHMARK(BM_EncodeIntraCif)->Unit(benchmark::kMillisecond);

}  // namespace
