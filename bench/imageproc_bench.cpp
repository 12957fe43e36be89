// imageproc beside libyuv on the same pictures, 176x144 to 1280x720 and three
// kinds of content (a synthetic pattern, a fractal, a texture with added
// noise): each operation as "ours", "libyuv_simd" and "libyuv_c" (libyuv with
// its CPU features masked off), in Mpixel/s, followed by a table of every
// ratio and the worst of each operation.
//
//   build-bench/bin/imageproc_bench [--benchmark_filter=...]
//   build-bench/bin/imageproc_bench --paired=REGEX [--rounds=N]
//
// --paired times ours and libyuv's SIMD in turn on the cases whose name
// (operation/size/content, as "I420Scale3:4/640x480/noise") REGEX matches:
// N rounds (default 21) of a burst of each, about 2 ms, in thread CPU time,
// and prints the median of the rounds' ratios with its quartiles. Taken pair
// by pair, the ratio holds while the speed of a shared machine drifts, which
// the separate medians of the table do not.
// OVMIX_CPUMASK=N in the environment keeps only those of our CPU features
// (0: the C++ references, 1: SSE2), to time each variant.
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "codecs/videodec/common/yuv420_to_rgb565.h"
#include "filters/codecdmo/studio_rgb_to_yuv.h"
#include "imageproc/imageproc.h"
#include "platform/cpu/cpu.h"

namespace {

struct Size {
  int w, h;
};
constexpr Size kSizes[] = {{176, 144}, {352, 288}, {640, 480}, {1280, 720}};

enum class Peer { kOurs, kLibyuvSimd, kLibyuvC };
constexpr const char* kPeerNames[] = {"ours", "libyuv_simd", "libyuv_c"};

enum class Content { kPattern, kFractal, kNoise };
constexpr const char* kContentNames[] = {"pattern", "fractal", "noise"};

uint8_t Clamp(double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0)); }

// Luma and chroma of picture position (x, y) in [0, 1) for each kind.
struct Yuv {
  uint8_t y, u, v;
};
Yuv Sample(Content content, double x, double y, std::mt19937& rng) {
  switch (content) {
    case Content::kPattern: {
      // Colour bars over the top half, a luma ramp and a checkerboard below.
      if (y < 0.5) {
        const int bar = static_cast<int>(x * 8);
        return {static_cast<uint8_t>(235 - bar * 24), static_cast<uint8_t>(bar * 36), static_cast<uint8_t>(255 - bar * 30)};
      }
      const bool check = (static_cast<int>(x * 32) + static_cast<int>(y * 24)) & 1;
      return {static_cast<uint8_t>(x < 0.5 ? x * 510 : (check ? 16 : 235)), 128, static_cast<uint8_t>(y * 255)};
    }
    case Content::kFractal: {
      // The Mandelbrot set near the seahorse valley, coloured by escape time.
      const double cr = -0.7453 + (x - 0.5) * 0.02, ci = 0.1127 + (y - 0.5) * 0.015;
      double zr = 0, zi = 0;
      int n = 0;
      for (; n < 96 && zr * zr + zi * zi < 4; ++n) {
        const double t = zr * zr - zi * zi + cr;
        zi = 2 * zr * zi + ci;
        zr = t;
      }
      return {static_cast<uint8_t>(n * 11), static_cast<uint8_t>(128 + 100 * std::sin(n * 0.3)),
              static_cast<uint8_t>(128 + 100 * std::cos(n * 0.17))};
    }
    default: {
      // A woven texture with uniform noise of +-40 on every sample.
      std::uniform_real_distribution<double> noise(-40, 40);
      const double t = 128 + 60 * std::sin(x * 190) * std::cos(y * 130) + 30 * std::sin((x + y) * 47);
      return {Clamp(t + noise(rng)), Clamp(128 + 40 * std::sin(y * 23) + noise(rng)),
              Clamp(128 + 40 * std::cos(x * 31) + noise(rng))};
    }
  }
}

// The pictures of one size and content, made once per benchmark: planar
// 4:2:0, packed 4:2:2 and RGB565 views of the same picture.
struct Pictures {
  int w, h;
  std::vector<uint8_t> y, u, v, packed, rgb565, outY, outU, outV, outPacked, argbA, argbB;
  YuvFrame src{}, dst{};
  Pictures(int width, int height, Content content) : w(width), h(height) {
    const size_t n = size_t(w) * h;
    y.resize(n);
    u.resize(n / 4);
    v.resize(n / 4);
    packed.resize(2 * n);
    rgb565.resize(2 * n);
    std::mt19937 rng(1234);
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) {
        const Yuv s = Sample(content, double(c) / w, double(r) / h, rng);
        const size_t i = size_t(r) * w + c;
        y[i] = s.y;
        if (!(r & 1) && !(c & 1)) {
          u[size_t(r / 2) * (w / 2) + c / 2] = s.u;
          v[size_t(r / 2) * (w / 2) + c / 2] = s.v;
        }
        packed[2 * i] = s.y;
        packed[2 * i + 1] = (c & 1) ? s.v : s.u;
        const double red = s.y + 1.402 * (s.v - 128), green = s.y - 0.344 * (s.u - 128) - 0.714 * (s.v - 128),
                     blue = s.y + 1.772 * (s.u - 128);
        const uint16_t word = static_cast<uint16_t>((Clamp(red) >> 3) << 11 | (Clamp(green) >> 2) << 5 | Clamp(blue) >> 3);
        rgb565[2 * i] = static_cast<uint8_t>(word);
        rgb565[2 * i + 1] = static_cast<uint8_t>(word >> 8);
      }
    }
    outY.assign(4 * n, 0);  // room for scalers' larger outputs
    outU.assign(n, 0);
    outV.assign(n, 0);
    outPacked.assign(6 * n, 0);  // RGB565 at 3/2 each way
    argbA.assign(4 * n, 0);
    argbB.assign(10 * n, 0);
    src = {y.data(), u.data(), v.data(), static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
    dst = {outY.data(), outU.data(), outV.data(), static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
  }
};

using Body = std::function<void(Pictures&)>;

struct Operation {
  std::string name;
  std::string note;   // what is compared
  double outScale;    // output pixels per source pixel (scalers count output pixels)
  Body ours, peer;
};

// The scalers' ratios, each way: 3/4 (libyuv has its own kernel for exactly
// 3/4, used by I420Scale also when asked for bilinear filtering), 7/10 and 3/2
// up (libyuv's general bilinear scaler). Sizes are rounded down to even.
struct Ratio {
  const char* tag;
  int num, den;
};
constexpr Ratio kRatios[] = {{"3:4", 3, 4}, {"7:10", 7, 10}, {"3:2", 3, 2}};
int Scaled(int v, const Ratio& r) { return (v * r.num / r.den) & ~1; }

std::vector<Operation> Operations() {
  using namespace libyuv;
  std::vector<Operation> ops = {
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
      {"RGB565BottomUpToI420Studio",
       "StudioRgb565ToYuv420 (the video encoder objects) vs RGB565ToI420 with negative height, both BT.601 studio "
       "range with averaged chroma",
       1,
       [](Pictures& p) {
         codecdmo::StudioRgb565ToYuv420(reinterpret_cast<const uint16_t*>(p.rgb565.data()), &p.dst, p.w, p.h);
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
      {"I420ToRGB565Studio",
       "ConvertStudioYUV420toRGB565TopDown (the video-track sources) vs I420ToRGB565, both BT.601 studio range", 1,
       [](Pictures& p) {
         const videodec::YuvFrame f{p.src.y, p.src.u, p.src.v, p.src.width, p.src.height};
         videodec::ConvertStudioYUV420toRGB565TopDown(&f, reinterpret_cast<uint16_t*>(p.outPacked.data()),
                                                      static_cast<uint16_t>(p.w), static_cast<uint16_t>(p.h), 1);
       },
       [](Pictures& p) {
         I420ToRGB565(p.y.data(), p.w, p.u.data(), p.w / 2, p.v.data(), p.w / 2, p.outPacked.data(), 2 * p.w, p.w,
                      p.h);
       }},
  };
  for (const Ratio& r : kRatios) {
    const double out = double(r.num * r.num) / (r.den * r.den);
    ops.push_back(
        {std::string("I420Scale") + r.tag,
         std::string("gScaleFrame vs I420Scale kFilterBilinear, to ") + r.tag + " of the size (output Mpixel/s)", out,
         [r](Pictures& p) {
           YuvFrame d{p.outY.data(), p.outU.data(), p.outV.data(), static_cast<uint16_t>(Scaled(p.w, r)),
                      static_cast<uint16_t>(Scaled(p.h, r))};
           gScaleFrame(&p.src, &d);
         },
         [r](Pictures& p) {
           const int dw = Scaled(p.w, r), dh = Scaled(p.h, r);
           I420Scale(p.y.data(), p.w, p.u.data(), p.w / 2, p.v.data(), p.w / 2, p.w, p.h, p.outY.data(), dw,
                     p.outU.data(), dw / 2, p.outV.data(), dw / 2, dw, dh, kFilterBilinear);
         }});
  }
  for (const Ratio& r : kRatios) {
    const double out = double(r.num * r.num) / (r.den * r.den);
    ops.push_back({std::string("RGB565Scale") + r.tag,
                   std::string("gScaleRGB565Frame vs the chain RGB565ToARGB + ARGBScale kFilterBilinear + "
                               "ARGBToRGB565, to ") +
                       r.tag + " of the size (output Mpixel/s)",
                   out,
                   [r](Pictures& p) {
                     gScaleRGB565Frame(reinterpret_cast<const uint16_t*>(p.rgb565.data()),
                                       reinterpret_cast<uint16_t*>(p.outPacked.data()), p.w, p.h, Scaled(p.w, r),
                                       Scaled(p.h, r));
                   },
                   [r](Pictures& p) {
                     const int dw = Scaled(p.w, r), dh = Scaled(p.h, r);
                     RGB565ToARGB(p.rgb565.data(), 2 * p.w, p.argbA.data(), 4 * p.w, p.w, p.h);
                     ARGBScale(p.argbA.data(), 4 * p.w, p.w, p.h, p.argbB.data(), 4 * dw, dw, dh, kFilterBilinear);
                     ARGBToRGB565(p.argbB.data(), 4 * dw, p.outPacked.data(), 2 * dw, dw, dh);
                   }});
  }
  return ops;
}

void Run(benchmark::State& state, const Operation& op, Peer peer, Size size, Content content) {
  Pictures p(size.w, size.h, content);
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

// Keeps every run's rate to print the ratios after the console output; with
// --benchmark_repetitions, the median of the repetitions.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> rates;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      auto it = r.counters.find("Mpixel/s");
      if (it == r.counters.end()) continue;
      if (r.run_type == Run::RT_Aggregate) {
        if (r.aggregate_name == "median") rates[r.run_name.str()] = it->second.value;
      } else if (r.repetitions <= 1) {
        rates[r.benchmark_name()] = it->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

// The operations the speed work is judged on, at the sizes it is judged at.
bool Judged(const Operation& op, const Size& s) {
  const bool kernel = op.name == "I420ToRGB565" || op.name.rfind("I420Scale", 0) == 0 ||
                      op.name.rfind("RGB565Scale", 0) == 0;
  return kernel && s.w <= 640;
}


double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The --paired mode: ours and libyuv's SIMD in turn, the median of the
// rounds' throughput ratios (ours / libyuv) for every case `pattern` matches.
int RunPaired(const std::vector<Operation>& ops, const std::regex& pattern, int rounds) {
  constexpr Content kKinds[] = {Content::kPattern, Content::kFractal, Content::kNoise};
  std::printf("%-18s %-10s %-8s %9s %9s %9s %12s %12s\n", "operation", "size", "content", "median", "q1", "q3",
              "ours us", "libyuv us");
  double worst = 0;
  std::string worstAt;
  for (const Operation& op : ops) {
    for (const Size& s : kSizes) {
      for (Content content : kKinds) {
        char size[32];
        std::snprintf(size, sizeof size, "%dx%d", s.w, s.h);
        const std::string name = op.name + "/" + size + "/" + kContentNames[int(content)];
        if (!std::regex_search(name, pattern)) continue;
        Pictures p(s.w, s.h, content);
        libyuv::MaskCpuFlags(-1);
        op.ours(p);
        op.peer(p);
        // A burst of about 2 ms of ours; libyuv runs as many.
        int n = 0;
        for (const double start = ThreadSeconds(); ThreadSeconds() - start < 0.002; ++n) op.ours(p);
        std::vector<double> ratio, ours, peer;
        for (int r = 0; r < rounds; ++r) {
          const double a = ThreadSeconds();
          for (int k = 0; k < n; ++k) op.ours(p);
          const double b = ThreadSeconds();
          for (int k = 0; k < n; ++k) op.peer(p);
          const double c = ThreadSeconds();
          ratio.push_back((c - b) / (b - a));
          ours.push_back((b - a) / n * 1e6);
          peer.push_back((c - b) / n * 1e6);
        }
        auto quantile = [](std::vector<double> v, double q) {
          std::sort(v.begin(), v.end());
          return v[size_t(q * double(v.size() - 1) + 0.5)];
        };
        const double median = quantile(ratio, 0.5);
        std::printf("%-18s %-10s %-8s %9.2f %9.2f %9.2f %12.2f %12.2f\n", op.name.c_str(), size,
                    kContentNames[int(content)], median, quantile(ratio, 0.25), quantile(ratio, 0.75),
                    quantile(ours, 0.5), quantile(peer, 0.5));
        if (worst == 0 || median < worst) {
          worst = median;
          worstAt = name;
        }
      }
    }
  }
  if (worst > 0) std::printf("\nWorst median, ours / libyuv SIMD (throughput): %.2f (%s)\n", worst, worstAt.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* mask = std::getenv("OVMIX_CPUMASK")) ov::SetCpuFlagsMask(static_cast<uint32_t>(std::strtoul(mask, nullptr, 0)));
  const std::vector<Operation> ops = Operations();
  std::string paired;
  int rounds = 21;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--paired=", 0) == 0) paired = arg.substr(9);
    if (arg.rfind("--rounds=", 0) == 0) rounds = std::max(1, std::atoi(arg.c_str() + 9));
  }
  if (!paired.empty()) return RunPaired(ops, std::regex(paired), rounds);
  constexpr Content kContents[] = {Content::kPattern, Content::kFractal, Content::kNoise};
  for (const Operation& op : ops) {
    for (const Size& s : kSizes) {
      for (Content content : kContents) {
        for (Peer peer : {Peer::kOurs, Peer::kLibyuvSimd, Peer::kLibyuvC}) {
          char name[128];
          std::snprintf(name, sizeof name, "%s/%s/%dx%d/%s", op.name.c_str(), kPeerNames[int(peer)], s.w, s.h,
                        kContentNames[int(content)]);
          benchmark::RegisterBenchmark(name, [&op, peer, s, content](benchmark::State& st) {
            Run(st, op, peer, s, content);
          })->Unit(benchmark::kMicrosecond);
        }
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nRatios (ours / libyuv; above 1 is faster than libyuv)\n");
  std::printf("%-18s %-10s %-8s %10s %12s %10s %9s %9s\n", "operation", "size", "content", "ours", "libyuv_simd",
              "libyuv_c", "vs simd", "vs c");
  std::string worstName;
  double worst = 0;
  for (const Operation& op : ops) {
    double opWorst = 0;
    std::string opWorstAt;
    for (const Size& s : kSizes) {
      for (Content content : kContents) {
        char at[64];
        std::snprintf(at, sizeof at, "%dx%d/%s", s.w, s.h, kContentNames[int(content)]);
        auto rate = [&](Peer p) {
          auto it = reporter.rates.find(op.name + "/" + kPeerNames[int(p)] + "/" + at);
          return it == reporter.rates.end() ? 0.0 : it->second;
        };
        const double ours = rate(Peer::kOurs), simd = rate(Peer::kLibyuvSimd), c = rate(Peer::kLibyuvC);
        if (ours == 0 || simd == 0) continue;
        char size[32];
        std::snprintf(size, sizeof size, "%dx%d", s.w, s.h);
        std::printf("%-18s %-10s %-8s %10.1f %12.1f %10.1f %9.2f %9.2f\n", op.name.c_str(), size,
                    kContentNames[int(content)], ours, simd, c, ours / simd, c > 0 ? ours / c : 0.0);
        if (opWorst == 0 || ours / simd < opWorst) {
          opWorst = ours / simd;
          opWorstAt = at;
        }
        if (Judged(op, s) && (worst == 0 || ours / simd < worst)) {
          worst = ours / simd;
          worstName = op.name + " " + at;
        }
      }
    }
    if (opWorst > 0) std::printf("%-18s worst vs simd %.2f (%s)\n", op.name.c_str(), opWorst, opWorstAt.c_str());
  }
  if (worst > 0) {
    std::printf("\nWorst vs libyuv SIMD of YUV to RGB565 and the scalers up to 640x480: %.2f (%s)\n", worst,
                worstName.c_str());
  }
  std::printf("\nCompared:\n");
  for (const Operation& op : ops) std::printf("  %-18s %s\n", op.name.c_str(), op.note.c_str());
  return 0;
}
