// The overlays and masks of the media package ("media.pak") beside the
// program: the Iris and Wipe masks decoded to their caches, and renders by
// the program in its render mode of a take with a packed overlay and one
// with the Iris mask between two photos, each frame looked at as ffmpeg
// decodes it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/media_decompressor.h"
#include "engine/raw_frame_cache_source.h"
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

// Every frame of a movie as ffmpeg decodes it, RGB24 at kWidth x kHeight.
std::vector<std::vector<uint8_t>> DecodeFrames(const std::string& movie) {
  std::vector<std::vector<uint8_t>> frames;
  const std::string command = "ffmpeg -v error -i " + Quote(movie) + " -f rawvideo -pix_fmt rgb24 - 2>/dev/null";
  FILE* f = ::popen(command.c_str(), "r");
  if (!f) return frames;
  std::vector<uint8_t> frame(size_t(kWidth) * kHeight * 3);
  while (std::fread(frame.data(), 1, frame.size(), f) == frame.size()) frames.push_back(frame);
  ::pclose(f);
  return frames;
}

Rgb At(const std::vector<uint8_t>& frame, int x, int y) {
  const uint8_t* p = frame.data() + (size_t(y) * kWidth + size_t(x)) * 3;
  return {p[0], p[1], p[2]};
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

}  // namespace
