// The drawing layer beside ImageMagick on the same work, in one run:
// - Repaint: a full 240x320 screen of 40 elements (a background, 13 picture
//   blits, 13 keyed icon blits, 13 lines of antialiased text), ours through
//   platform/gfx, the peer as one `convert` composition of the same elements.
// - Thumbnail: a 48x32 thumbnail of a 5-megapixel JPEG, ours through
//   DecodeImageFileThumbnail (scaled JPEG decode), the peer as
//   `convert -thumbnail 48x32`, with and without the jpeg:size hint.
// Google Benchmark times ours; afterwards each peer command runs a few times
// and a table prints both times and their ratio.
//
//   build-bench/bin/gfx_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/gfx/dc.h"
#include "platform/gfx/font.h"
#include "platform/imaging/image.h"
#include "platform/os/folders.h"
#include "platform/picture/picture.h"

namespace {

constexpr int kScreenW = 240, kScreenH = 320;
constexpr gfx::COLORREF kKey = gfx::Rgb(255, 0, 255);

std::string Work() {
  static const std::string dir = [] {
    auto d = std::filesystem::temp_directory_path() / "ovmix-gfx-bench";
    std::filesystem::create_directories(d);
    return d.string();
  }();
  return dir;
}

std::string LargeJpeg() { return std::string(OVMIX_FIXTURES_DIR) + "/gfx_large.jpg"; }

std::string FontFile() {
  const std::string beside = ov::ApplicationFolder().ToUtf8Lossy() + "fonts/DejaVuSans.ttf";
  return std::filesystem::exists(beside) ? beside : "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
}

struct Scene {
  std::unique_ptr<gfx::DeviceContext> screen, background, tile, icon;
  gfx::HFont font;
  Scene() {
    auto make = [](int w, int h, auto paint) {
      auto dc = gfx::CreateCompatibleDC(nullptr);
      dc->SelectBitmap(gfx::CreateBitmap565(w, h));
      paint(dc.get(), w, h);
      return dc;
    };
    screen = make(kScreenW, kScreenH, [](gfx::HDC, int, int) {});
    background = make(kScreenW, kScreenH, [](gfx::HDC dc, int w, int h) {
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) gfx::SetPixel(dc, x, y, gfx::Rgb(uint8_t(x), uint8_t(y / 2), 90));
      }
    });
    tile = make(48, 32, [](gfx::HDC dc, int w, int h) {
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) gfx::SetPixel(dc, x, y, gfx::Rgb(uint8_t(x * 5), 200, uint8_t(y * 8)));
      }
    });
    icon = make(32, 32, [](gfx::HDC dc, int w, int h) {
      gfx::FillRect(dc, {0, 0, w, h}, gfx::CreateSolidBrush(kKey));
      gfx::FillRect(dc, {6, 6, 26, 26}, gfx::CreateSolidBrush(gfx::Rgb(250, 220, 0)));
    });
    gfx::LogFont lf;
    lf.SetFaceName(u"Tahoma");
    lf.height = -12;
    lf.quality = gfx::kAntialiasedQuality;
    font = gfx::CreateFontIndirect(lf);
    screen->SelectFont(font);
    screen->SetBkMode(gfx::kTransparent);
    imaging::WritePng(Work() + "/background.png", *background->surface());
    imaging::WritePng(Work() + "/tile.png", *tile->surface());
    imaging::WritePng(Work() + "/icon.png", *icon->surface());
  }
  static int RowY(int i) { return 4 + i * 24; }
  void Paint() {
    gfx::HDC s = screen.get();
    gfx::BitBlt(s, 0, 0, kScreenW, kScreenH, background.get(), 0, 0, gfx::kSrcCopy);
    for (int i = 0; i < 13; ++i) {
      gfx::BitBlt(s, 4, RowY(i), 48, 32, tile.get(), 0, 0, gfx::kSrcCopy);
      gfx::TransparentImage(s, 200, RowY(i), 32, 32, icon.get(), 0, 0, 32, 32, kKey);
      static const char16_t* const kNames[] = {u"Beach walk.mp4", u"Birthday cake.3gp", u"Harbour at night.jpg"};
      gfx::ExtTextOut(s, 58, RowY(i) + 6, 0, nullptr, kNames[i % 3]);
    }
  }
  std::string PeerCommand() const {
    std::string cmd = "convert '" + Work() + "/background.png'";
    for (int i = 0; i < 13; ++i) {
      const std::string y = std::to_string(RowY(i));
      cmd += " '" + Work() + "/tile.png' -geometry +4+" + y + " -composite";
      cmd += " \\( '" + Work() + "/icon.png' -transparent '#FF00FF' \\) -geometry +200+" + y + " -composite";
    }
    cmd += " -font '" + FontFile() + "' -pointsize 12 -fill black";
    static const char* const kNames[] = {"Beach walk.mp4", "Birthday cake.3gp", "Harbour at night.jpg"};
    for (int i = 0; i < 13; ++i) {
      cmd += " -annotate +58+" + std::to_string(RowY(i) + 16) + " '" + kNames[i % 3] + "'";
    }
    return cmd + " -depth 8 '" + Work() + "/screen.bmp'";
  }
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

void BM_Repaint240x320(benchmark::State& state) {
  Scene& scene = TheScene();
  for (auto _ : state) {
    scene.Paint();
    benchmark::DoNotOptimize(scene.screen->surface()->bits());
  }
}
BENCHMARK(BM_Repaint240x320)->Unit(benchmark::kMicrosecond);

void Thumbnail() {
  auto dc = gfx::CreateCompatibleDC(nullptr);
  uint16_t* bits = nullptr;
  if (!picture::DecodeImageFileThumbnail(ov::String::FromAscii(LargeJpeg()), 48, 32, dc.get(), &bits)) {
    std::fprintf(stderr, "thumbnail failed\n");
  }
}

void BM_Thumbnail48x32(benchmark::State& state) {
  if (!std::filesystem::exists(LargeJpeg())) {
    state.SkipWithError("gfx_large.jpg missing: run scripts/make-fixtures");
    return;
  }
  for (auto _ : state) Thumbnail();
}
BENCHMARK(BM_Thumbnail48x32)->Unit(benchmark::kMillisecond);

// Mean seconds of fn over n runs.
double Time(int n, const std::function<void()>& fn) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / n;
}

double TimePeer(const std::string& cmd, int n) {
  if (std::system((cmd + " 2>/dev/null").c_str()) != 0) return -1;  // warm-up and check
  return Time(n, [&] {
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "peer failed: %s\n", cmd.c_str());
  });
}

void Row(const char* work, double ours, const char* peer, double theirs) {
  if (theirs < 0) {
    std::printf("%-24s ours %10.3f ms   %-34s failed\n", work, ours * 1e3, peer);
    return;
  }
  std::printf("%-24s ours %10.3f ms   %-34s %10.3f ms   peer/ours %8.1f\n", work, ours * 1e3, peer, theirs * 1e3,
              theirs / ours);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  std::printf("\nThe same work beside ImageMagick (process start included in the peer's time):\n");
  Scene& scene = TheScene();
  const double repaint = Time(200, [&] { scene.Paint(); });
  Row("repaint 240x320, 40 el.", repaint, "convert (composite, annotate)", TimePeer(scene.PeerCommand(), 5));
  if (std::filesystem::exists(LargeJpeg())) {
    const double thumb = Time(10, Thumbnail);
    const std::string out = "'" + Work() + "/thumb.bmp'";
    Row("thumbnail 48x32 of 5MP", thumb, "convert -thumbnail 48x32",
        TimePeer("convert '" + LargeJpeg() + "' -thumbnail 48x32 " + out, 5));
    Row("thumbnail 48x32 of 5MP", thumb, "convert -define jpeg:size=96x64",
        TimePeer("convert -define jpeg:size=96x64 '" + LargeJpeg() + "' -thumbnail 48x32 " + out, 5));
  }
  return 0;
}
