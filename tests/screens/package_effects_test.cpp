// The overlays and masks of the media package ("media.pak") beside the
// program: the Iris and Wipe masks decoded to their caches, and renders by
// the program in its render mode of a take with a packed overlay and one
// with the Iris mask between two photos, each frame looked at as ffmpeg
// decodes it; a moving clip under the packed overlays, composed by the video
// mixer and rendered, against the same clip without them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/media_decompressor.h"
#include "engine/raw_frame_cache_source.h"
#include "engine/video_mixer.h"
#include "media/media_info.h"
#include "media/media_package.h"
#include "media/wav_source.h"
#include "platform/os/environment.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "shell/pak_archive.h"
#include "tests/screens/render_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_paths.h"

namespace {

using rendertest::Quote;

constexpr int kWidth = 176, kHeight = 144;
const std::string kBin = OVMIX_BIN_DIR;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

void WriteLe(std::ofstream& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.put(char((v >> (8 * i)) & 0xFF));
}

// A 24-bit BMP of one colour, kWidth x kHeight.
void WriteBmp(const std::string& path, uint8_t r, uint8_t g, uint8_t b) {
  std::ofstream bmp(path, std::ios::binary);
  const uint32_t row = kWidth * 3, image = row * kHeight;
  bmp << "BM";
  WriteLe(bmp, 54 + image, 4);
  WriteLe(bmp, 0, 4);
  WriteLe(bmp, 54, 4);
  WriteLe(bmp, 40, 4);
  WriteLe(bmp, kWidth, 4);
  WriteLe(bmp, kHeight, 4);
  WriteLe(bmp, 1, 2);
  WriteLe(bmp, 24, 2);
  for (int i = 0; i < 6; ++i) WriteLe(bmp, i == 1 ? image : 0, 4);
  for (int i = 0; i < kWidth * kHeight; ++i) bmp.put(char(b)).put(char(g)).put(char(r));
}

struct Rgb {
  int r = 0, g = 0, b = 0;
};

// The kind of colour a pixel of a decoded movie shows: coded pictures keep
// the hue, not the exact value.
bool Red(Rgb p) { return p.r > 150 && p.g < 90 && p.b < 110; }
bool Blue(Rgb p) { return p.b > 150 && p.r < 90 && p.g < 90; }
bool Grey(Rgb p) { return p.r > 90 && p.r < 170 && std::abs(p.r - p.g) < 25 && std::abs(p.g - p.b) < 25; }

std::string Describe(Rgb p) {
  return "(" + std::to_string(p.r) + "," + std::to_string(p.g) + "," + std::to_string(p.b) + ")";
}

// Every frame of a movie as ffmpeg decodes it, RGB24 at width x height.
std::vector<std::vector<uint8_t>> DecodeFrames(const std::string& movie, int width = kWidth, int height = kHeight) {
  std::vector<std::vector<uint8_t>> frames;
  const std::string command = "ffmpeg -v error -i " + Quote(movie) + " -f rawvideo -pix_fmt rgb24 - 2>/dev/null";
  FILE* f = ::popen(command.c_str(), "r");
  if (!f) return frames;
  std::vector<uint8_t> frame(size_t(width) * size_t(height) * 3);
  while (std::fread(frame.data(), 1, frame.size(), f) == frame.size()) frames.push_back(frame);
  ::pclose(f);
  return frames;
}

Rgb At(const std::vector<uint8_t>& frame, int x, int y) {
  const uint8_t* p = frame.data() + (size_t(y) * kWidth + size_t(x)) * 3;
  return {p[0], p[1], p[2]};
}

// The packed overlays: pictures and overlay videos.
const char* const kPackedOverlays[] = {"overlays/frame.bmp", "overlays/hearts.bmp", "overlays/ribbon.bmp",
                                       "overlays/bubble.3gp", "overlays/snowflake.3gp"};

// A width x height video mixer at 10 frames a second playing `clip` in its
// channel 0 from time 0 with `overlays` laid over it, as the screens load
// them (the mixer's key colour); null when a load is refused.
std::unique_ptr<engine::VideoMixer> PlayUnder(const std::string& clip, const std::vector<std::string>& overlays,
                                              int width, int height) {
  auto mixer = std::make_unique<engine::VideoMixer>(width, height, 10, 0);
  engine::EngineCommand c;
  c.type = engine::CMD_LOAD;
  c.channel = engine::kFirstVideoChannel;
  c.param1 = -1;
  c.param4 = int32_t(engine::kWholePicture);
  c.path = U(clip);
  if (mixer->ApplyAction(c, 0) != 1) return nullptr;
  for (const std::string& overlay : overlays) {
    c = engine::EngineCommand{};
    c.type = engine::CMD_LOAD_IMAGE;
    c.channel = engine::kFirstVideoChannel;
    c.param1 = int32_t(engine::kKeyColour);
    c.path = U(overlay);
    if (mixer->ApplyAction(c, 0) != 1) return nullptr;
  }
  c = engine::EngineCommand{};
  c.type = engine::CMD_PLAY;
  c.channel = engine::kFirstVideoChannel;
  mixer->ApplyAction(c, 0);
  return mixer;
}

// The frame the mixer composes at `ms`.
std::vector<uint16_t> Compose(engine::VideoMixer& mixer, uint32_t ms) {
  mixer.ComposeFrame(ms);
  std::lock_guard<std::recursive_mutex> lock(mixer.mutex());
  const engine::Picture565 f = mixer.frame();
  std::vector<uint16_t> pixels;
  for (int32_t y = 0; y < f.height; ++y) pixels.insert(pixels.end(), f.Row(y), f.Row(y) + f.width);
  return pixels;
}

// Mean squared error over the three colours of RGB24 frame `a` against `b`
// moved by (dx, dy), over the pixels at least `margin` from the edges that
// `masked` (width x height, may be empty) leaves out in neither frame.
double Mse(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, const std::vector<bool>& masked, int width,
           int height, int dx = 0, int dy = 0, int margin = 0) {
  double sum = 0;
  size_t count = 0;
  for (int y = margin; y < height - margin; ++y)
    for (int x = margin; x < width - margin; ++x) {
      const size_t i = size_t(y) * size_t(width) + size_t(x);
      const size_t j = size_t(y + dy) * size_t(width) + size_t(x + dx);
      if (!masked.empty() && (masked[i] || masked[j])) continue;
      for (size_t c = 0; c < 3; ++c) {
        const double d = double(a[3 * i + c]) - double(b[3 * j + c]);
        sum += d * d;
      }
      ++count;
    }
  return count == 0 ? 0 : sum / double(3 * count);
}

double Psnr(double mse) { return mse <= 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse); }

// The shift of `b` (up to 12 pixels across, 3 down) that best matches `a`.
std::pair<int, int> BestShift(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                              const std::vector<bool>& masked, int width, int height) {
  std::pair<int, int> best{0, 0};
  double least = -1;
  for (int dy = -3; dy <= 3; ++dy)
    for (int dx = -12; dx <= 12; ++dx) {
      const double e = Mse(a, b, masked, width, height, dx, dy, 12);
      if (least < 0 || e < least) {
        least = e;
        best = {dx, dy};
      }
    }
  return best;
}

class PackageEffects : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    ASSERT_TRUE(pak_.Open(U(kBin + "media.pak"))) << "media.pak not built";
    // The render process and the decoder both find package entries under
    // the program's folder.
    shell::SetPackageFolders(ov::String(), U(kBin));
    env_.Set("OVMIX_IPC_SCOPE", "pe" + std::to_string(ov::GetCurrentProcessId()));
    env_.Set("XDG_DATA_HOME", dir_ + "/data");
    env_.Set("TMPDIR", dir_);
    env_.Set("OVMIX_CARDS", dir_ + "/no-card");
    WriteBmp(Path("grey.bmp"), 0x80, 0x80, 0x80);
    WriteBmp(Path("red.bmp"), 0xFF, 0, 0);
    WriteBmp(Path("blue.bmp"), 0, 0, 0xFF);
  }
  void TearDown() override { shell::SetPackageFolders(ov::String(), ov::String()); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // A 3 s moving clip, ffmpeg's testsrc2 at 25 frames a second in MPEG-4.
  std::string MovingClip(int width, int height) {
    const std::string clip = Path("testsrc2-" + std::to_string(width) + "x" + std::to_string(height) + ".mp4");
    const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
                                std::to_string(height) + ":rate=25:duration=3 -c:v mpeg4 -q:v 3 " + Quote(clip);
    if (!ov::FileExists(U(clip))) {
      EXPECT_EQ(std::system(command.c_str()), 0);
    }
    return clip;
  }

  // "ovtool project" with the items and the script; true when written.
  bool Project(const std::string& name, const std::vector<std::string>& items, const std::string& script) {
    std::ofstream(Path(name + ".txt")) << script;
    std::string command = kBin + "ovtool project " + Quote(Path(name));
    for (const std::string& item : items) command.append(" ").append(Quote(item));
    command.append(" ").append(Quote("script=" + Path(name + ".txt"))).append(" >/dev/null");
    return std::system(command.c_str()) == 0;
  }
  // The program in render mode; what it printed on stderr.
  std::string Render(const std::string& project, const std::string& out, const std::string& words) {
    const std::string err = Path("stderr.txt");
    const std::string command = "env -u DISPLAY " + kBin + "ovmix " + Quote("-p\"" + Path(project) + "\"") + " " +
                                Quote("-o\"" + Path(out) + "\"") + " " + Quote("-e\"" + words + "\"") +
                                " >/dev/null 2>" + Quote(err);
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(err);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::string dir_;
  ovtest::ScopedEnv env_;
  shell::PakArchive pak_;
};

// MPEG-4 pictures at 10 frames a second, no sound: frame n shows the mix at
// n x 100 ms.
constexpr char kMpeg4At10[] = "96000,22050,16,2,0,4,255,256000,10,144,176";

// The masks last their coded frames (10 of 100 ms; the source's closing
// black frame is not one); the media information still knows no ".qbt".
// Decoding a channel with the Iris goes on to the next channel, and the
// mask cache ends on the last coded frame, the whole picture on.
TEST_F(PackageEffects, MasksDecodeToTheirLastCodedFrame) {
  media::ScopedMediaPackage installed(&pak_);
  for (const char* mask : {"masks/iris.qbt", "masks/wipe.qbt", "MASKS\\Iris.QBT"}) {
    SCOPED_TRACE(mask);
    EXPECT_EQ(engine::ClipDurationMs(U(kBin + mask)), 1000u);
    media::MediaInfo info;
    info.ReadMediaInfo(U(kBin + mask), 0);
    EXPECT_EQ(info.durationMs, 0u);
  }
  EXPECT_EQ(engine::ClipDurationMs(U(kBin + "masks/absent.qbt")), 0u);

  engine::CacheClip photo;
  photo.source = U(Path("red.bmp"));
  photo.needsPicture = true;
  engine::CacheClip sound;
  sound.source = U(ovtest::FixturePath("engine_22k_stereo.wav"));
  sound.needsAudio = true;
  engine::CacheClipChannel pictures(engine::kCacheKindImage, {photo});
  pictures.effectFile = U(kBin + "masks/iris.qbt");
  pictures.needsEffect = true;
  engine::CacheClipChannel next(engine::kCacheKindAudio, {sound});
  engine::CacheChannel* table[] = {&pictures, &next};
  engine::MediaDecompressor decompressor(nullptr, table, false);
  decompressor.SetFolder(U(dir_ + "/"));
  ASSERT_EQ(decompressor.DecompressAll(), 1);
  ASSERT_FALSE(next.clip(0).audio.IsEmpty());
  media::WavSource written;
  EXPECT_TRUE(written.Open(next.clip(0).audio, 0));
  EXPECT_GT(written.GetDuration(), 0u);

  ASSERT_FALSE(pictures.effectCache.IsEmpty());
  engine::RawFrameCacheSource cache;
  ASSERT_TRUE(cache.Open(pictures.effectCache, 1));
  std::vector<std::vector<uint16_t>> frames;
  std::unique_ptr<uint8_t[]> buffer;
  uint32_t bytes = 0, time = 0;
  while (cache.ReadVideoFrame(&buffer, &bytes, &time, 0) && frames.size() < 100) {
    if (bytes < uint32_t(kWidth * kHeight * 2)) break;  // the source's end
    std::vector<uint16_t> f(size_t(kWidth) * kHeight);
    for (size_t i = 0; i < f.size(); ++i) f[i] = uint16_t(buffer[2 * i] | buffer[2 * i + 1] << 8);
    frames.push_back(f);
  }
  auto on = [&](const std::vector<uint16_t>& f, int x, int y) {
    return f[size_t(y) * kWidth + size_t(x)] == 0xFFFF;
  };
  // Ten coded frames: the disc grows from the middle and the last one is on
  // nearly everywhere, its circle just reaching the corners (no black frame
  // at the end).
  ASSERT_EQ(frames.size(), 10u);
  EXPECT_TRUE(on(frames[4], kWidth / 2, kHeight / 2));
  EXPECT_FALSE(on(frames[4], 1, 1));
  size_t lit = 0;
  for (uint16_t v : frames.back()) lit += v == 0xFFFF;
  EXPECT_GT(lit, frames.back().size() * 99 / 100);
  EXPECT_TRUE(on(frames.back(), 3, 3));
}

// A take with the packed hearts overlay renders: the hearts in the corners
// over the grey photo, the photo in the middle. The project names the
// overlay in its channel, and the take records it as the mixer does.
TEST_F(PackageEffects, PackedOverlayRenders) {
  const std::string hearts = kBin + "overlays/hearts.bmp";
  ASSERT_FALSE(ov::FileExists(U(hearts))) << "the overlay must come from the package";
  ASSERT_TRUE(Project("o.mix", {"0=" + Path("grey.bmp"), "overlay0=" + hearts},
                      "0 load 16 " + Path("grey.bmp") + "\n0 overlay 16 " + hearts + "\n0 play 16\n"
                      "1000 master 65535\n"));
  EXPECT_EQ(Render("o.mix", "o.mp4", kMpeg4At10), "");
  const auto frames = DecodeFrames(Path("o.mp4"));
  ASSERT_GE(frames.size(), 8u);
  for (size_t n : {size_t(1), size_t(7)}) {
    SCOPED_TRACE(n);
    const auto& f = frames[n];
    for (auto [x, y] : {std::pair{22, 22}, {kWidth - 23, 22}, {22, kHeight - 23}, {kWidth - 23, kHeight - 23}}) {
      EXPECT_TRUE(Red(At(f, x, y))) << x << "," << y << " " << Describe(At(f, x, y));
    }
    for (auto [x, y] : {std::pair{kWidth / 2, kHeight / 2}, {kWidth / 2, 6}, {4, kHeight / 2}}) {
      EXPECT_TRUE(Grey(At(f, x, y))) << x << "," << y << " " << Describe(At(f, x, y));
    }
  }
}

// The Iris from the red photo to the blue one: before it red, in its middle
// blue inside the disc and red outside, after it blue everywhere. The mask
// comes from the package, decoded by the render process.
TEST_F(PackageEffects, IrisRendersBetweenTwoPhotos) {
  const std::string iris = kBin + "masks/iris.qbt";
  ASSERT_TRUE(Project("i.mix", {"0=" + Path("red.bmp"), "0=" + Path("blue.bmp"), "effect0=" + iris},
                      "0 load 16 " + Path("red.bmp") + "\n0 play 16\n"
                      "1000 load 17 " + Path("blue.bmp") + "\n1000 effect 17 " + iris + "\n1000 play 17\n"
                      "3000 master 65535\n"));
  EXPECT_EQ(Render("i.mix", "i.mp4", kMpeg4At10), "");
  const auto frames = DecodeFrames(Path("i.mp4"));
  ASSERT_GE(frames.size(), 26u);
  const std::pair<int, int> middle{kWidth / 2, kHeight / 2};
  const std::pair<int, int> corners[] = {{3, 3}, {kWidth - 4, 3}, {3, kHeight - 4}, {kWidth - 4, kHeight - 4}};
  auto check = [&](size_t n, bool (*inside)(Rgb), bool (*outside)(Rgb)) {
    SCOPED_TRACE("frame " + std::to_string(n));
    const Rgb centre = At(frames[n], middle.first, middle.second);
    EXPECT_TRUE(inside(centre)) << Describe(centre);
    for (auto [x, y] : corners) {
      EXPECT_TRUE(outside(At(frames[n], x, y))) << x << "," << y << " " << Describe(At(frames[n], x, y));
    }
  };
  check(5, Red, Red);
  check(15, Blue, Red);
  check(25, Blue, Blue);
}

// Live: at successive engine times the video mixer composes a moving clip
// under each packed overlay, picture or video, exactly as it composes the
// clip alone wherever the overlay is clear (what the overlay shows over
// black), and the clip moves all along.
TEST_F(PackageEffects, AClipUnderAPackedOverlayPlaysLive) {
  media::ScopedMediaPackage installed(&pak_);
  WriteBmp(Path("black.bmp"), 0, 0, 0);
  struct Case {
    int clipWidth, clipHeight, width, height;
  };
  for (const Case& k : {Case{176, 144, 176, 144}, Case{320, 240, 176, 144}, Case{320, 240, 320, 240}}) {
    const std::string clip = MovingClip(k.clipWidth, k.clipHeight);
    for (const char* overlay : kPackedOverlays) {
      SCOPED_TRACE(clip + " in " + std::to_string(k.width) + "x" + std::to_string(k.height) + " under " + overlay);
      const auto plain = PlayUnder(clip, {}, k.width, k.height);
      const auto layered = PlayUnder(clip, {kBin + overlay}, k.width, k.height);
      const auto alone = PlayUnder(Path("black.bmp"), {kBin + overlay}, k.width, k.height);
      ASSERT_TRUE(plain && layered && alone);
      std::vector<uint16_t> first;
      int moved = 0;
      for (uint32_t t = 0; t < 2500; t += 50) {
        const std::vector<uint16_t> p = Compose(*plain, t), l = Compose(*layered, t), o = Compose(*alone, t);
        if (first.empty()) first = p;
        size_t clear = 0, wrong = 0, changed = 0;
        for (size_t i = 0; i < p.size(); ++i) {
          changed += p[i] != first[i];
          if (o[i] != 0) continue;
          ++clear;
          wrong += l[i] != p[i];
        }
        moved += changed > p.size() / 10;
        EXPECT_GT(clear, p.size() / 2) << t << " ms";
        EXPECT_EQ(wrong, 0u) << t << " ms";
      }
      EXPECT_GE(moved, 40);
    }
  }
}

// Rendered: each frame of a moving clip under a picture and a video overlay
// shows the frame the render without them shows (more like it than like its
// neighbours), in place, at 30 dB or better wherever the overlays are clear,
// in MP4, 3GP and WMV.
TEST_F(PackageEffects, AClipUnderPackedOverlaysRendersAsItPlays) {
  media::ScopedMediaPackage installed(&pak_);
  WriteBmp(Path("black.bmp"), 0, 0, 0);
  const std::vector<std::string> overlays = {kBin + "overlays/hearts.bmp", kBin + "overlays/bubble.3gp"};
  struct Case {
    const char* ext;
    const char* words;
    int clipWidth, clipHeight, width, height;
  };
  const Case cases[] = {
      {"mp4", "96000,22050,16,2,0,4,2,256000,10,144,176", 176, 144, 176, 144},
      {"3gp", "12200,8000,16,1,0,2,3,128000,10,144,176", 320, 240, 176, 144},
      {"wmv", "96000,22050,16,2,0,1,1,100,10,240,320", 320, 240, 320, 240},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.ext);
    const std::string clip = MovingClip(k.clipWidth, k.clipHeight), ext = k.ext;
    ASSERT_TRUE(Project("plain.mix", {"0=" + clip}, "0 load 16 " + clip + "\n0 play 16\n2000 master 65535\n"));
    ASSERT_TRUE(Project("layered.mix", {"0=" + clip, "overlay0=" + overlays[0]},
                        "0 load 16 " + clip + "\n0 overlay 16 " + overlays[0] + "\n0 overlay 16 " + overlays[1] +
                            "\n0 play 16\n2000 master 65535\n"));
    EXPECT_EQ(Render("plain.mix", "plain." + ext, k.words), "");
    EXPECT_EQ(Render("layered.mix", "layered." + ext, k.words), "");
    const auto plain = DecodeFrames(Path("plain." + ext), k.width, k.height);
    const auto layered = DecodeFrames(Path("layered." + ext), k.width, k.height);
    ASSERT_GE(plain.size(), 15u);
    ASSERT_EQ(layered.size(), plain.size());
    // What the overlays cover: their pixels over black as the mixer composes
    // them at the frame's time and its neighbours', widened by 3 pixels for
    // the coding's blur.
    const auto alone = PlayUnder(Path("black.bmp"), overlays, k.width, k.height);
    ASSERT_TRUE(alone);
    std::vector<std::vector<uint16_t>> shapes;
    for (size_t n = 0; n <= plain.size(); ++n) shapes.push_back(Compose(*alone, uint32_t(n * 100)));
    int moved = 0;
    for (size_t n = 0; n < plain.size(); ++n) {
      SCOPED_TRACE("frame " + std::to_string(n));
      std::vector<bool> masked(size_t(k.width) * size_t(k.height), false);
      for (size_t s : {n == 0 ? n : n - 1, n, n + 1})
        for (int y = 0; y < k.height; ++y)
          for (int x = 0; x < k.width; ++x) {
            if (shapes[s][size_t(y) * size_t(k.width) + size_t(x)] == 0) continue;
            for (int v = std::max(0, y - 3); v <= std::min(k.height - 1, y + 3); ++v)
              for (int u = std::max(0, x - 3); u <= std::min(k.width - 1, x + 3); ++u)
                masked[size_t(v) * size_t(k.width) + size_t(u)] = true;
          }
      const double same = Psnr(Mse(layered[n], plain[n], masked, k.width, k.height));
      EXPECT_GE(same, 30.0);
      for (size_t m : {n - 1, n + 1}) {
        if (m >= plain.size() || Psnr(Mse(plain[m], plain[n], {}, k.width, k.height)) >= 30) continue;
        EXPECT_GT(same, Psnr(Mse(layered[n], plain[m], masked, k.width, k.height))) << "frame " << m;
      }
      moved += Psnr(Mse(plain[n], plain[0], {}, k.width, k.height)) < 25;
      if (n % 5 == 2) {
        EXPECT_EQ(BestShift(layered[n], plain[n], masked, k.width, k.height), (std::pair{0, 0}));
      }
    }
    EXPECT_GT(moved, int(plain.size()) / 2);
  }
}

}  // namespace
