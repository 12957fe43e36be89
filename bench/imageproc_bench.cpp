// imageproc beside libyuv on the same pictures, 176x144 to 1280x720: each
// operation as "ours", "libyuv_simd" and "libyuv_c" (libyuv with its CPU
// features masked off), in Mpixel/s, followed by a table of ratios.
//
//   build-bench/bin/imageproc_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "imageproc/imageproc.h"

namespace {

struct Size {
  int w, h;
};
constexpr Size kSizes[] = {{176, 144}, {352, 288}, {640, 480}, {1280, 720}};

enum class Peer { kOurs, kLibyuvSimd, kLibyuvC };
constexpr const char* kPeerNames[] = {"ours", "libyuv_simd", "libyuv_c"};

std::vector<uint8_t> Random(size_t n) {
  std::mt19937 rng(1234);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// The pictures of one size, made once per benchmark.
struct Pictures {
  int w, h;
  std::vector<uint8_t> y, u, v, packed, rgb565, outY, outU, outV, outPacked, argbA, argbB;
  YuvFrame src{}, dst{};
  Pictures(int width, int height) : w(width), h(height) {
    const size_t n = size_t(w) * h;
    y = Random(n);
    u = Random(n / 4);
    v = Random(n / 4);
    packed = Random(2 * n);
    rgb565 = Random(2 * n);
    outY.assign(4 * n, 0);  // room for scalers' larger outputs
    outU.assign(n, 0);
    outV.assign(n, 0);
    outPacked.assign(4 * n, 0);
    argbA.assign(4 * n, 0);
    argbB.assign(4 * n, 0);
    src = {y.data(), u.data(), v.data(), static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
    dst = {outY.data(), outU.data(), outV.data(), static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
  }
};

using Body = std::function<void(Pictures&)>;

struct Operation {
  const char* name;
  const char* note;   // what is compared
  double outScale;    // output pixels per source pixel (scalers count output pixels)
  Body ours, peer;
};

// Scalers turn each picture into 3/4 of its size each way (a ratio neither
// side special-cases).
int Scaled(int v) { return (v * 3 / 4) & ~1; }

std::vector<Operation> Operations() {
  using namespace libyuv;
  return {
      {"RGB565ToI420", "gOvzRGB565toYUV420_TopDown vs RGB565ToI420", 1,
       [](Pictures& p) {
         gOvzRGB565toYUV420_TopDown(reinterpret_cast<const uint16_t*>(p.rgb565.data()), p.outY.data(), p.w, p.h);
       },
       [](Pictures& p) {
         RGB565ToI420(p.rgb565.data(), 2 * p.w, p.outY.data(), p.w, p.outU.data(), p.w / 2, p.outV.data(), p.w / 2,
                      p.w, p.h);
       }},
      {"RGB565BottomUpToI420", "gOvRGB565toYUV420 (encoder input) vs RGB565ToI420 with negative height", 1,
       [](Pictures& p) {
         gOvRGB565toYUV420(reinterpret_cast<const uint16_t*>(p.rgb565.data()), &p.dst, p.w, p.h);
       },
       [](Pictures& p) {
         RGB565ToI420(p.rgb565.data(), 2 * p.w, p.outY.data(), p.w, p.outU.data(), p.w / 2, p.outV.data(), p.w / 2,
                      p.w, -p.h);
       }},
      {"UYVYToI420", "gUY1VY2ToYUV420 vs UYVYToI420", 1,
       [](Pictures& p) { gUY1VY2ToYUV420(p.packed.data(), &p.dst, p.w, p.h); },
       [](Pictures& p) {
         UYVYToI420(p.packed.data(), 2 * p.w, p.outY.data(), p.w, p.outU.data(), p.w / 2, p.outV.data(), p.w / 2,
                    p.w, p.h);
       }},
      {"YUY2ToI420", "gOvYUY2toYUV420 vs YUY2ToI420", 1,
       [](Pictures& p) { gOvYUY2toYUV420(p.packed.data(), p.outY.data(), p.w, p.h); },
       [](Pictures& p) {
         YUY2ToI420(p.packed.data(), 2 * p.w, p.outY.data(), p.w, p.outU.data(), p.w / 2, p.outV.data(), p.w / 2,
                    p.w, p.h);
       }},
      {"I420Rotate90", "gRotateFrame type 1 vs I420Rotate kRotate90", 1,
       [](Pictures& p) { gRotateFrame(&p.src, &p.dst, 1); },
       [](Pictures& p) {
         I420Rotate(p.y.data(), p.w, p.u.data(), p.w / 2, p.v.data(), p.w / 2, p.outY.data(), p.h, p.outU.data(),
                    p.h / 2, p.outV.data(), p.h / 2, p.w, p.h, kRotate90);
       }},
      {"I420Rotate180", "gRotateFrame type 2 vs I420Rotate kRotate180", 1,
       [](Pictures& p) { gRotateFrame(&p.src, &p.dst, 2); },
       [](Pictures& p) {
         I420Rotate(p.y.data(), p.w, p.u.data(), p.w / 2, p.v.data(), p.w / 2, p.outY.data(), p.w, p.outU.data(),
                    p.w / 2, p.outV.data(), p.w / 2, p.w, p.h, kRotate180);
       }},
      {"I420ToRGB565", "gOvYUV420toRGB565TopDown vs I420ToRGB565", 1,
       [](Pictures& p) {
         gOvYUV420toRGB565TopDown(&p.src, reinterpret_cast<int16_t*>(p.outPacked.data()), p.w, p.h, 1);
       },
       [](Pictures& p) {
         I420ToRGB565(p.y.data(), p.w, p.u.data(), p.w / 2, p.v.data(), p.w / 2, p.outPacked.data(), 2 * p.w, p.w,
                      p.h);
       }},
      {"I420Scale", "gScaleFrame vs I420Scale kFilterBilinear, to 3/4 size (output Mpixel/s)", 9.0 / 16,
       [](Pictures& p) {
         YuvFrame d{p.outY.data(), p.outU.data(), p.outV.data(), static_cast<uint16_t>(Scaled(p.w)),
                    static_cast<uint16_t>(Scaled(p.h))};
         gScaleFrame(&p.src, &d);
       },
       [](Pictures& p) {
         const int dw = Scaled(p.w), dh = Scaled(p.h);
         I420Scale(p.y.data(), p.w, p.u.data(), p.w / 2, p.v.data(), p.w / 2, p.w, p.h, p.outY.data(), dw,
                   p.outU.data(), dw / 2, p.outV.data(), dw / 2, dw, dh, kFilterBilinear);
       }},
      {"RGB565Scale",
       "gScaleRGB565Frame vs the chain RGB565ToARGB + ARGBScale kFilterBilinear + ARGBToRGB565, to 3/4 size "
       "(output Mpixel/s)",
       9.0 / 16,
       [](Pictures& p) {
         gScaleRGB565Frame(reinterpret_cast<const uint16_t*>(p.rgb565.data()),
                           reinterpret_cast<uint16_t*>(p.outPacked.data()), p.w, p.h, Scaled(p.w), Scaled(p.h));
       },
       [](Pictures& p) {
         const int dw = Scaled(p.w), dh = Scaled(p.h);
         RGB565ToARGB(p.rgb565.data(), 2 * p.w, p.argbA.data(), 4 * p.w, p.w, p.h);
         ARGBScale(p.argbA.data(), 4 * p.w, p.w, p.h, p.argbB.data(), 4 * dw, dw, dh, kFilterBilinear);
         ARGBToRGB565(p.argbB.data(), 4 * dw, p.outPacked.data(), 2 * dw, dw, dh);
       }},
  };
}

void Run(benchmark::State& state, const Operation& op, Peer peer, Size size) {
  Pictures p(size.w, size.h);
  libyuv::MaskCpuFlags(peer == Peer::kLibyuvC ? 1 : -1);
  const Body& body = peer == Peer::kOurs ? op.ours : op.peer;
  for (auto _ : state) {
    body(p);
    benchmark::DoNotOptimize(p.outY.data());
    benchmark::DoNotOptimize(p.outPacked.data());
    benchmark::ClobberMemory();
  }
  libyuv::MaskCpuFlags(-1);
  const double pixels = double(size.w) * size.h * op.outScale;
  state.counters["Mpixel/s"] =
      benchmark::Counter(pixels * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// Keeps every run's rate to print the ratios after the console output.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> rates;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("Mpixel/s");
      if (it != r.counters.end()) rates[r.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<Operation> ops = Operations();
  for (const Operation& op : ops) {
    for (const Size& s : kSizes) {
      for (Peer peer : {Peer::kOurs, Peer::kLibyuvSimd, Peer::kLibyuvC}) {
        char name[96];
        std::snprintf(name, sizeof name, "%s/%s/%dx%d", op.name, kPeerNames[int(peer)], s.w, s.h);
        benchmark::RegisterBenchmark(name, [&op, peer, s](benchmark::State& st) { Run(st, op, peer, s); })
            ->Unit(benchmark::kMicrosecond);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nRatios (ours / libyuv; above 1 is faster than libyuv)\n");
  std::printf("%-22s %-10s %10s %12s %10s %12s %10s\n", "operation", "size", "ours", "libyuv_simd", "libyuv_c",
              "vs simd", "vs c");
  for (const Operation& op : ops) {
    for (const Size& s : kSizes) {
      char size[32];
      std::snprintf(size, sizeof size, "%dx%d", s.w, s.h);
      const std::string tail = std::string("/") + size;
      auto rate = [&](Peer p) {
        auto it = reporter.rates.find(std::string(op.name) + "/" + kPeerNames[int(p)] + tail);
        return it == reporter.rates.end() ? 0.0 : it->second;
      };
      const double ours = rate(Peer::kOurs), simd = rate(Peer::kLibyuvSimd), c = rate(Peer::kLibyuvC);
      if (ours == 0) continue;
      std::printf("%-22s %-10s %10.1f %12.1f %10.1f %12.2f %10.2f\n", op.name, size, ours, simd, c,
                  simd > 0 ? ours / simd : 0.0, c > 0 ? ours / c : 0.0);
    }
  }
  std::printf("\nCompared:\n");
  for (const Operation& op : ops) std::printf("  %-22s %s\n", op.name, op.note);
  return 0;
}
