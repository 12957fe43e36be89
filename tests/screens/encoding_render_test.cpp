// Rendering through the encoding graphs end to end: the program in render
// mode writes 3GP, MP4, AAC, AMR and WMV files of a ten-second mix (a grey
// picture with a red 8x8 marker top-left; a 440 Hz tone at -6 dBFS from 2 s
// to 6 s), checked with ffprobe and ffmpeg and against the same mix
// rendered to WAV: streams, clean decoding, durations, the tone's pitch and
// level on every channel, the silence around it, and the marker. Then the
// steering: cancel, pause and restart, and a write that fails mid-stream.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <utility>
#include <thread>

#include "platform/os/file.h"
#include "tests/screens/render_process.h"

namespace {

using namespace rendertest;

constexpr double kMixSeconds = 10.0;
constexpr int kPictureWidth = 176, kPictureHeight = 144;
// The most the share written moves on between two progress messages, in
// points: the frames the queues between the picture and the file hold.
constexpr int kMostProgressStep = 20;

// The first line of a command's output ("" when it fails).
std::string Output(const std::string& command) {
  FILE* f = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!f) return "";
  std::string all;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, f)) all += buffer;
  ::pclose(f);
  return all;
}

struct Sound {
  uint32_t rate = 0;
  int channels = 0;
  std::vector<int16_t> samples;  // interleaved
  double Seconds() const { return channels ? double(samples.size()) / channels / rate : 0; }
  // RMS of channel c over [from, to) seconds.
  double Rms(int c, double from, double to) const {
    const size_t a = size_t(from * rate), b = std::min(size_t(to * rate), samples.size() / size_t(channels));
    double sum = 0;
    for (size_t i = a; i < b; ++i) sum += double(samples[i * size_t(channels) + size_t(c)]) * samples[i * size_t(channels) + size_t(c)];
    return b > a ? std::sqrt(sum / double(b - a)) : 0;
  }
  // The strongest frequency of channel c over [from, to) seconds, 200 to
  // 1000 Hz in 1 Hz steps.
  double StrongestHz(int c, double from, double to) const {
    const size_t a = size_t(from * rate), b = std::min(size_t(to * rate), samples.size() / size_t(channels));
    double best = 0, best_hz = 0;
    for (int hz = 200; hz <= 1000; ++hz) {
      const double w = 2 * M_PI * hz / rate, coeff = 2 * std::cos(w);
      double s1 = 0, s2 = 0;
      for (size_t i = a; i < b; ++i) {
        const double s0 = samples[i * size_t(channels) + size_t(c)] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
      }
      const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
      if (power > best) {
        best = power;
        best_hz = hz;
      }
    }
    return best_hz;
  }
};

Sound ReadSound(const std::string& wav) {
  Sound s;
  media::WavFormat format;
  const std::vector<uint8_t> pcm = Pcm(wav, &format);
  s.rate = format.samplesPerSecond;
  s.channels = format.channels;
  s.samples.resize(pcm.size() / 2);
  if (!s.samples.empty()) std::memcpy(s.samples.data(), pcm.data(), s.samples.size() * 2);
  return s;
}

void WriteLe(std::ofstream& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.put(char((v >> (8 * i)) & 0xFF));
}

class EncodingRender : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    ov::SetEnvironmentValue("OVMIX_IPC_SCOPE", "er" + std::to_string(ov::GetCurrentProcessId()));
    ov::SetEnvironmentValue("XDG_DATA_HOME", dir_ + "/data");
    // The picture: 24-bit BMP, rows bottom-up.
    {
      std::ofstream bmp(Path("pic.bmp"), std::ios::binary);
      const uint32_t row = kPictureWidth * 3, image = row * kPictureHeight;
      bmp << "BM";
      WriteLe(bmp, 54 + image, 4);
      WriteLe(bmp, 0, 4);
      WriteLe(bmp, 54, 4);
      WriteLe(bmp, 40, 4);
      WriteLe(bmp, kPictureWidth, 4);
      WriteLe(bmp, kPictureHeight, 4);
      WriteLe(bmp, 1, 2);
      WriteLe(bmp, 24, 2);
      for (int i = 0; i < 6; ++i) WriteLe(bmp, i == 1 ? image : 0, 4);
      for (int y = kPictureHeight - 1; y >= 0; --y) {
        for (int x = 0; x < kPictureWidth; ++x) {
          const bool red = x < 8 && y < 8;
          bmp.put(char(red ? 0 : 0x80)).put(char(red ? 0 : 0x80)).put(char(red ? 0xFF : 0x80));
        }
      }
    }
    // The tone: 4 s of 440 Hz at half scale, 22050 Hz stereo.
    {
      std::ofstream wav(Path("tone.wav"), std::ios::binary);
      const uint32_t frames = 4 * 22050, data = frames * 4;
      wav << "RIFF";
      WriteLe(wav, 36 + data, 4);
      wav << "WAVEfmt ";
      WriteLe(wav, 16, 4);
      WriteLe(wav, 1, 2);
      WriteLe(wav, 2, 2);
      WriteLe(wav, 22050, 4);
      WriteLe(wav, 22050 * 4, 4);
      WriteLe(wav, 4, 2);
      WriteLe(wav, 16, 2);
      wav << "data";
      WriteLe(wav, data, 4);
      for (uint32_t i = 0; i < frames; ++i) {
        const auto v = int16_t(std::lround(16384 * std::sin(2 * M_PI * 440 * i / 22050.0)));
        WriteLe(wav, uint16_t(v), 2);
        WriteLe(wav, uint16_t(v), 2);
      }
    }
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  bool Project(const std::string& name, const std::string& script) {
    std::ofstream(Path(name + ".txt")) << script;
    const std::string command = std::string(OVMIX_BIN_DIR) + "ovtool project " + Quote(Path(name)) + " " +
                                Quote("0=" + Path("tone.wav")) + " " + Quote("script=" + Path(name + ".txt")) +
                                " >/dev/null";
    return std::system(command.c_str()) == 0;
  }
  bool MixProject() {
    return Project("m.mix", "0 load 16 " + Path("pic.bmp") + "\n0 play 16\n2000 load 0 " + Path("tone.wav") +
                                "\n2000 play 0\n6000 stop 0\n10000 master 65535\n");
  }
    // An hour-long mix of the picture alone: one percent is 36 s of mix.
  bool LongProject() {
    return Project("long.mix", "0 load 16 " + Path("pic.bmp") + "\n0 play 16\n3600000 master 65535\n");
  }

  // Renders project to out; the result the queue carried (-1 for none).
  // limits: shell commands run before the program in its own subshell.
  int Render(const std::string& project, const std::string& out, const std::string& words,
             const std::string& background = "", const std::string& limits = "") {
    engine::RenderQueue reader(true);
    std::string command = limits + "env -u DISPLAY " + std::string(OVMIX_BIN_DIR) + "ovmix " +
                          Quote("-p\"" + Path(project) + "\"") + " " + Quote("-o\"" + Path(out) + "\"") + " " +
                          Quote("-e\"" + words + "\"") + " >/dev/null 2>" + Quote(Path("stderr.txt"));
    if (!limits.empty()) command = "(" + command + ")";
    if (!background.empty()) command = background + " & " + command + "; wait";
    EXPECT_EQ(std::system(command.c_str()), 0);
    int result = -1;
    for (engine::RenderMessage m = reader.Receive(0); m.kind != engine::kRenderNothing; m = reader.Receive(0)) {
      if (m.kind == engine::kRenderResult) result = m.value;
    }
    return result;
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }

  std::string dir_;
};

struct Case {
  const char* out;
  const char* words;
  const char* video;  // ffprobe's codec name, "" for none
  const char* audio;
  uint32_t rate;
  int channels;
  bool our_decoder;    // the program's own sound source decodes it (ovtool asrc)
  double ffmpeg_db;    // the tone's level through ffmpeg's decoder, within
  double audio_frame;  // seconds
};

// ffmpeg's AMR-NB decoder loses about 1.5 dB on this tone; the program's
// own decoder (opencore) holds it.
const Case kCases[] = {
    {"out.3gp", "12200,8000,16,1,0,2,3,128000,15,144,176", "h263", "amr_nb", 8000, 1, true, 5, 0.02},
    {"out.mp4", "96000,22050,16,2,0,4,2,128000,15,144,176", "mpeg4", "aac", 22050, 2, true, 1, 1024 / 22050.0},
    {"out.aac", "96000,22050,16,2,0,255,2,128000,15,144,176", "", "aac", 22050, 2, true, 1, 1024 / 22050.0},
    {"out.amr", "12200,8000,16,1,0,255,3,128000,15,144,176", "", "amr_nb", 8000, 1, true, 5, 0.02},
    {"out.wmv", "96000,22050,16,2,0,1,1,100,15,144,176", "wmv2", "wmav2", 22050, 2, false, 1, 2048 / 22050.0},
};

// The tone's pitch and level on every channel against the WAV render, and
// the silence before and after it.
void CheckSound(const Sound& got, const Sound& want, double tolerance_db) {
  ASSERT_EQ(got.rate, want.rate);
  ASSERT_EQ(got.channels, want.channels);
  for (int c = 0; c < got.channels; ++c) {
    SCOPED_TRACE("channel " + std::to_string(c));
    EXPECT_NEAR(got.StrongestHz(c, 2.5, 5.5), 440.0, 440 * 0.02);
    const double tone = got.Rms(c, 2.5, 5.5), reference = want.Rms(c, 2.5, 5.5);
    ASSERT_GT(reference, 1000);
    EXPECT_NEAR(20 * std::log10(tone / reference), 0.0, tolerance_db);
    for (auto [from, to] : {std::pair{0.3, 1.7}, std::pair{6.5, 9.5}}) {
      EXPECT_LT(20 * std::log10(std::max(1e-3, got.Rms(c, from, to)) / tone), -40.0) << from << "-" << to;
    }
  }
}

TEST_F(EncodingRender, EveryOutputKindEndToEnd) {
  ASSERT_TRUE(MixProject());
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.out);
    ASSERT_EQ(Render("m.mix", c.out, c.words), 1) << Output("cat " + Quote(Path("stderr.txt")));
    const std::string out = Quote(Path(c.out));
    // The streams, and a decode that meets no error.
    std::string streams = Output("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + out);
    const std::string want = std::string(c.audio) + "\n" + (*c.video ? std::string(c.video) + "\n" : "");
    const std::string want_swapped = (*c.video ? std::string(c.video) + "\n" : "") + c.audio + "\n";
    EXPECT_TRUE(streams == want || streams == want_swapped) << streams;
    EXPECT_EQ(std::system(("ffmpeg -v error -xerror -i " + out + " -f null - 2>/dev/null").c_str()), 0);
    const double period = 1.0 / 15;
    const double slack = period + 2 * c.audio_frame;
    // The sound through ffmpeg at the file's rate and channels, and the same
    // mix rendered to WAV.
    const std::string decoded = Path(std::string(c.out) + ".ffmpeg.wav");
    ASSERT_EQ(std::system(("ffmpeg -v error -y -i " + out + " -c:a pcm_s16le " + Quote(decoded)).c_str()), 0);
    const std::string wav_words = "96000," + std::to_string(c.rate) + ",16," + std::to_string(c.channels) +
                                  ",0,255,1,128000,15,144,176";
    const std::string reference_name = "ref" + std::to_string(c.rate) + "_" + std::to_string(c.channels) + ".wav";
    if (!Exists(reference_name)) {
      ASSERT_EQ(Render("m.mix", reference_name, wav_words), 1);
    }
    const Sound reference = ReadSound(Path(reference_name));
    const Sound through_ffmpeg = ReadSound(decoded);
    EXPECT_NEAR(through_ffmpeg.Seconds(), kMixSeconds, slack);
    {
      SCOPED_TRACE("ffmpeg's decoder");
      CheckSound(through_ffmpeg, reference, c.ffmpeg_db);
    }
    if (c.our_decoder) {
      SCOPED_TRACE("ovtool asrc");
      const std::string ours = Path(std::string(c.out) + ".asrc.wav");
      ASSERT_EQ(std::system((std::string(OVMIX_BIN_DIR) + "ovtool asrc " + out + " " + Quote(ours) + " >/dev/null").c_str()), 0);
      CheckSound(ReadSound(ours), reference, 1.0);
    }
    if (!*c.video) continue;
    // The picture: its length, and the marker top-left in the first frame
    // with grey around it, all three colours.
    const std::string frames =
        Output("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -select_streams v -of csv=p=0 " + out);
    EXPECT_NEAR(std::atof(frames.c_str()) * period, kMixSeconds, slack);
    const std::string first = Path(std::string(c.out) + ".rgb");
    // The H.263 and MPEG-4 objects convert with BT.709 studio-range weights
    // (the image library's tables), the WMV object with BT.601: each is
    // decoded with its own matrix.
    const std::string matrix = std::string(c.video) == "wmv2" ? "bt601" : "bt709";
    ASSERT_EQ(std::system(("ffmpeg -v error -y -i " + out + " -frames:v 1 -vf scale=in_color_matrix=" + matrix +
                           " -f rawvideo -pix_fmt rgb24 " + Quote(first))
                              .c_str()),
              0);
    const std::vector<uint8_t> rgb = ovtest::ReadFileBytes(first);
    ASSERT_EQ(rgb.size(), size_t(kPictureWidth * kPictureHeight * 3));
    auto mean = [&](int x0, int y0, int plane) {
      double sum = 0;
      for (int y = y0; y < y0 + 8; ++y) {
        for (int x = x0; x < x0 + 8; ++x) sum += rgb[size_t((y * kPictureWidth + x) * 3 + plane)];
      }
      return sum / 64 / 255;
    };
    EXPECT_GT(mean(0, 0, 0), 0.9);
    EXPECT_LT(mean(0, 0, 1), 0.1);
    EXPECT_LT(mean(0, 0, 2), 0.1);
    for (auto [x, y] : {std::pair{84, 68}, std::pair{168, 136}, std::pair{0, 136}, std::pair{168, 0}}) {
      for (int plane = 0; plane < 3; ++plane) EXPECT_NEAR(mean(x, y, plane), 0.5, 0.06) << x << "," << y << " " << plane;
    }
  }
}

// At 15 frames/s the ten-second mix is exactly 150 frames, 15 a second, and
// as much sound as picture; each progress message comes once its share is
// written, so 100 only once the file is complete.
TEST_F(EncodingRender, FramesOnTheGridSoundInStepProgressByWhatIsWritten) {
  ASSERT_TRUE(MixProject());
  const std::string out = Path("grid.3gp");
  std::vector<std::pair<int, uintmax_t>> progress;  // percent, the file's size when it came
  int result = -1;
  engine::RenderQueue reader(true);
  std::thread watch([&] {
    for (int quiet = 0; result < 0 && quiet < 240;) {
      const engine::RenderMessage m = reader.Receive(engine::RenderQueue::kReadTimeoutMs);
      if (m.kind == engine::kRenderNothing) {
        ++quiet;
        continue;
      }
      quiet = 0;
      if (m.kind == engine::kRenderResult) {
        result = m.value;
      } else if (m.kind == engine::kRenderProgress) {
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(out, error);
        progress.emplace_back(m.value, error ? 0 : size);
      }
    }
  });
  const std::string command = "env -u DISPLAY " + std::string(OVMIX_BIN_DIR) + "ovmix " +
                              Quote("-p\"" + Path("m.mix") + "\"") + " " + Quote("-o\"" + out + "\"") + " " +
                              Quote("-e\"96000,22050,16,2,0,2,2,128000,15,144,176\"") + " >/dev/null 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  watch.join();
  ASSERT_EQ(result, 1);
  // Progress all along the render, not only at its end: the queues between
  // the frames and the file are bounded, so what is written moves on by a
  // few frames at most between two messages, however slow the machine.
  ASSERT_FALSE(progress.empty());
  EXPECT_LE(progress.front().first, kMostProgressStep);
  const uintmax_t final_size = std::filesystem::file_size(out);
  for (size_t i = 0; i < progress.size(); ++i) {
    if (i > 0) {
      EXPECT_GT(progress[i].first, progress[i - 1].first);
      EXPECT_LE(progress[i].first - progress[i - 1].first, kMostProgressStep) << i;
    }
    if (i + 1 < progress.size()) {
      EXPECT_LT(progress[i].first, 100);
    }
  }
  EXPECT_EQ(progress.back().first, 100);
  EXPECT_EQ(progress.back().second, final_size);  // 100 once the file is complete

  const std::string q = Quote(out);
  EXPECT_EQ(Output("ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames,r_frame_rate "
                   "-of csv=p=0 " + q),
            "15/1,150\n");
  // The picture's frames lie on the grid: frame k at round(k x 1000 / 15) ms.
  const std::string times =
      Output("ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 " + q);
  std::istringstream lines(times);
  std::string line;
  for (int k = 0; std::getline(lines, line); ++k) {
    EXPECT_EQ(std::lround(std::atof(line.c_str()) * 1000), (2 * k * 1000 + 15) / 30) << k;
  }
  // The sound lasts as long as the picture, give or take the encoder's frame.
  const double video = std::atof(Output("ffprobe -v error -select_streams v -show_entries stream=duration -of csv=p=0 " + q).c_str());
  const double audio = std::atof(Output("ffprobe -v error -select_streams a -show_entries stream=duration -of csv=p=0 " + q).c_str());
  EXPECT_NEAR(video, kMixSeconds, 0.001);
  EXPECT_NEAR(audio, kMixSeconds, 1024 / 22050.0);
}

// A 3GP without sound ends; a 320x240 MPEG-4 picture at 256 kbit/s (above
// the level its size and rate point to) renders.
TEST_F(EncodingRender, VideoOnlyAndLargerMpeg4Render) {
  ASSERT_TRUE(MixProject());
  EXPECT_EQ(Render("m.mix", "video.3gp", "12200,8000,16,1,0,2,255,128000,15,144,176"), 1);
  EXPECT_EQ(Output("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + Quote(Path("video.3gp"))), "h263\n");
  EXPECT_EQ(Render("m.mix", "qvga.mp4", "96000,22050,16,2,0,4,2,256000,15,240,320"), 1);
  EXPECT_EQ(Output("ffprobe -v error -select_streams v -show_entries stream=codec_name,width,height -of csv=p=0 " +
                   Quote(Path("qvga.mp4"))),
            "mpeg4,320,240\n");
  EXPECT_EQ(std::system(("ffmpeg -v error -xerror -i " + Quote(Path("qvga.mp4")) + " -f null - 2>/dev/null").c_str()), 0);
}

// An MPEG-4 render of detailed moving content keeps to the asked bit rate
// (the ranged rate control, which caps the quantisers, gave about twice it
// here), and the stream announces the lowest level that holds it: CIF at 25
// fps and 384 kbit/s is level 3, QCIF at 15 fps and 128 kbit/s level 0b (9;
// level 0 stops at 64 kbit/s).
TEST_F(EncodingRender, Mpeg4RenderHoldsTheAskedRateAndAnnouncesALevelThatHoldsIt) {
  const std::string clip = Path("fractal.mp4");
  ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -y -f lavfi -i mandelbrot=size=352x288:rate=25 -frames:v 150 "
                         "-c:v mpeg4 -q:v 2 -bf 0 " + Quote(clip) + " 2>/dev/null").c_str()),
            0);
  ASSERT_TRUE(Project("rate.mix", "0 load 16 " + clip + "\n0 play 16\n6000 stop 16\n6000 master 65535\n"));
  ASSERT_EQ(Render("rate.mix", "rate.mp4", "96000,22050,16,2,0,4,2,384000,25,288,352"), 1);
  const std::string packets = Output("ffprobe -v error -select_streams v -show_entries packet=size -of csv=p=0 " +
                                     Quote(Path("rate.mp4")));
  size_t pictures = 0;
  double bits = 0;
  for (size_t at = 0, end; (end = packets.find('\n', at)) != std::string::npos; at = end + 1, ++pictures)
    bits += 8 * std::atof(packets.c_str() + at);
  ASSERT_GE(pictures, 140u);
  const double rate = bits / (pictures / 25.0);
  EXPECT_LE(rate, 384000 * 1.10);
  EXPECT_GE(rate, 384000 * 0.85);
  EXPECT_EQ(Output("ffprobe -v error -select_streams v -show_entries stream=level -of csv=p=0 " +
                   Quote(Path("rate.mp4"))),
            "3\n");
  ASSERT_TRUE(MixProject());
  ASSERT_EQ(Render("m.mix", "qcif.mp4", "96000,22050,16,2,0,4,2,128000,15,144,176"), 1);
  EXPECT_EQ(Output("ffprobe -v error -select_streams v -show_entries stream=level -of csv=p=0 " +
                   Quote(Path("qcif.mp4"))),
            "9\n");
}

// The "100 kB" size limit on detailed moving pictures with sound, at CIF,
// 10 frames a second and the high rates (MPEG-4 384 kbit/s, AAC 128): the
// mixer stops the mix at 900 x 100000 / 64000 = 1406 ms, and the file holds
// the limit though it opens with the encoder object's two intra pictures.
TEST_F(EncodingRender, SizeLimitedMpeg4RenderHoldsTheLimit) {
  const std::string clip = Path("texture.mp4");
  ASSERT_EQ(std::system(("ffmpeg -v error -nostdin -y -f lavfi -i color=c=gray:size=352x288:rate=10,"
                         "noise=alls=60:allf=u,gblur=sigma=0.8,trim=end_frame=1,loop=loop=30:size=1,"
                         "scroll=h=0.003:v=0.001,noise=alls=10:allf=t -f lavfi -i anoisesrc=c=pink:r=22050:a=0.3:d=3 "
                         "-frames:v 30 -c:v mpeg4 -q:v 1 -bf 0 -c:a aac -b:a 192k -ac 2 -shortest " +
                         Quote(clip) + " 2>/dev/null").c_str()),
            0);
  ASSERT_TRUE(Project("size.mix", "0 load 0 " + clip + "\n0 linked 16 " + clip + " 0\n0 play 16\n1406 stop 16\n" +
                                      "1406 master 65535\n"));
  ASSERT_EQ(Render("size.mix", "size.mp4", "128000,22050,16,2,0,4,2,384000,10,288,352"), 1);
  EXPECT_EQ(Output("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + Quote(Path("size.mp4"))),
            "aac\nmpeg4\n");
  EXPECT_LE(std::filesystem::file_size(Path("size.mp4")), 100000u);
}

// Settings the skin offers but the objects refuse are settled before the
// render: AMR-NB at 22050 Hz stereo, by either of its ids, comes out at
// 8000 Hz mono, AAC at 12 kbit/s renders at the least its object takes,
// 8-bit sound renders 16-bit.
// Video id 3 (an outside object without a stand-in here) fails the render
// and leaves no file.
// A video's sound follows its pictures: a WAV render keeps it whether the
// picture fields are given or all 0 (no picture asked), on both channels.
TEST_F(EncodingRender, AVideosSoundWithoutThePictureFields) {
  const std::string clip = ovtest::FixturePath("media_mpeg4_aac.mp4");
  OV_SKIP_WITHOUT_FIXTURE(clip);
  ASSERT_TRUE(Project("v.mix", "0 load 0 " + clip + "\n0 linked 16 " + clip + " 0\n0 play 16\n1000 master 65535\n"));
  EXPECT_EQ(Render("v.mix", "with.wav", "96000,22050,16,2,0,255,1,128000,10,144,176"), 1);
  EXPECT_EQ(Render("v.mix", "without.wav", "0,22050,16,2,0,255,1,0,0,0,0"), 1);
  const Sound with = ReadSound(Path("with.wav")), without = ReadSound(Path("without.wav"));
  ASSERT_EQ(with.channels, 2);
  ASSERT_EQ(without.channels, 2);
  EXPECT_NEAR(without.Seconds(), with.Seconds(), 0.1);
  for (int c = 0; c < 2; ++c) {
    SCOPED_TRACE(c);
    const double level = with.Rms(c, 0.1, 0.9);
    EXPECT_GT(level, 300.0);
    EXPECT_NEAR(without.Rms(c, 0.1, 0.9), level, level * 0.05);
  }
}

TEST_F(EncodingRender, SettledSettingsAndAnUnknownEncoder) {
  ASSERT_TRUE(MixProject());
  struct Settled {
    const char* out;
    const char* words;
    int result;
    const char* audio;  // ffprobe's codec_name,sample_rate,channels
  } cases[] = {
      {"s.amr", "12200,22050,16,2,0,255,3,128000,15,144,176", 1, "amr_nb,8000,1\n"},
      {"s4.3gp", "12200,22050,16,2,0,2,4,128000,15,144,176", 1, "amr_nb,8000,1\n"},  // AMR-NB's second id
      {"s.aac", "12000,22050,16,1,0,255,2,128000,15,144,176", 1, "aac,22050,1\n"},
      {"s8.3gp", "96000,16000,8,2,0,2,2,128000,15,144,176", 1, "aac,16000,2\n"},
      {"s8.wmv", "96000,22050,8,2,0,1,1,50,15,144,176", 1, "wmav2,22050,2\n"},
      {"other.3gp", "12200,8000,16,1,0,3,3,128000,15,144,176", 0, ""},
  };
  for (const Settled& c : cases) {
    SCOPED_TRACE(c.out);
    EXPECT_EQ(Render("m.mix", c.out, c.words), c.result);
    EXPECT_EQ(Exists(c.out), c.result == 1);
    if (c.result != 1) continue;
    EXPECT_EQ(Output("ffprobe -v error -select_streams a -show_entries stream=codec_name,sample_rate,channels -of "
                     "csv=p=0 " +
                     Quote(Path(c.out))),
              c.audio);
    EXPECT_EQ(std::system(("ffmpeg -v error -xerror -i " + Quote(Path(c.out)) + " -f null - 2>/dev/null").c_str()), 0);
  }
}

// A cancel ends the render and deletes its file; the result is still
// {2, 1}.
TEST_F(EncodingRender, CancelDeletesTheFile) {
  ASSERT_TRUE(LongProject());
  const std::string tool = std::string(OVMIX_BIN_DIR) + "ovtool render ";
  const std::string cancel = "(" + tool + "watch 60 | grep -m1 -q 'progress [1-9]'; " + tool + "cancel)";
  EXPECT_EQ(Render("long.mix", "long.3gp", "12200,8000,16,1,0,2,3,128000,15,144,176", cancel), 1);
  EXPECT_FALSE(Exists("long.3gp"));
}

// After "ovtool render pause" the progress stops, after "restart" it goes
// on, and a cancel while paused ends the render and deletes the file.
TEST_F(EncodingRender, PauseRestartAndCancelWhilePaused) {
  ASSERT_TRUE(LongProject());
  const std::string tool = std::string(OVMIX_BIN_DIR) + "ovtool render ";
  std::atomic<int> result{-2};
  engine::RenderQueue reader(true);
  std::thread render([&] {
    const std::string command = "env -u DISPLAY " + std::string(OVMIX_BIN_DIR) + "ovmix " +
                                Quote("-p\"" + Path("long.mix") + "\"") + " " + Quote("-o\"" + Path("p.mp4") + "\"") +
                                " " + Quote("-e\"96000,22050,16,2,0,4,2,128000,15,144,176\"") + " >/dev/null 2>&1";
    result = std::system(command.c_str());
  });
  // A failed assertion still ends the render and its thread.
  struct Ender {
    std::thread& thread;
    std::string cancel;
    ~Ender() {
      if (!thread.joinable()) return;
      (void)std::system(cancel.c_str());
      thread.join();
    }
  } ender{render, tool + "cancel"};
  int last = -1, final_result = -1;
  // Reads the queue until `done` holds or the render has given its result;
  // five minutes at most (a safety net: no outcome hangs on it). The number
  // of progress messages seen.
  auto read_until = [&](const std::function<bool()>& done) {
    int seen = 0;
    const auto from = std::chrono::steady_clock::now();
    while (!done() && final_result < 0 && std::chrono::steady_clock::now() - from < std::chrono::minutes(5)) {
      for (engine::RenderMessage m = reader.Receive(50); m.kind != engine::kRenderNothing; m = reader.Receive(0)) {
        if (m.kind == engine::kRenderProgress) {
          last = m.value;
          ++seen;
        } else if (m.kind == engine::kRenderResult) {
          final_result = m.value;
        }
      }
    }
    return seen;
  };
  // Reads for `ms` by this test's clock; the progress messages seen.
  auto read_for = [&](int ms) {
    const auto from = std::chrono::steady_clock::now();
    return read_until([&] { return std::chrono::steady_clock::now() - from > std::chrono::milliseconds(ms); });
  };
  read_until([&] { return last >= 1; });
  ASSERT_GE(last, 1);
  ASSERT_LT(final_result, 0) << "the render ended before the test could pause it";
  ASSERT_EQ(std::system((tool + "pause").c_str()), 0);
  // The pause takes hold when the render next looks at its events, which on
  // a busy machine may be late: wait for a second without progress (a
  // minute at most), then the pause holds, however long it lasts.
  bool quiet = false;
  for (int i = 0; i < 60 && !quiet && final_result < 0; ++i) quiet = read_for(1000) == 0;
  EXPECT_TRUE(quiet) << "the progress never stopped";
  const int paused_at = last;
  EXPECT_EQ(read_for(2000), 0) << "progress while paused";
  EXPECT_EQ(last, paused_at);
  EXPECT_LT(final_result, 0) << "the render ended while paused";
  ASSERT_EQ(std::system((tool + "restart").c_str()), 0);
  // Going on: a percent past the one held, whenever it comes.
  read_until([&] { return last > paused_at; });
  EXPECT_GT(last, paused_at) << "no progress after restart";
  ASSERT_LT(final_result, 0) << "the render ended before the test could pause it again";
  ASSERT_EQ(std::system((tool + "pause").c_str()), 0);
  ASSERT_EQ(std::system((tool + "cancel").c_str()), 0);
  render.join();
  // The process has ended: its messages are all in the queue.
  read_until([&] { return false; });
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(final_result, 1);
  EXPECT_LT(last, 100);
  EXPECT_FALSE(Exists("p.mp4"));
}

// A write that fails mid-stream (a file size limit of 20 KB, whose signal
// the program turns into a failed write by itself) aborts the graph: the render ends with {2, 0}, leaves no file and
// says why on stderr.
TEST_F(EncodingRender, FailedWriteEndsAsFailureWithoutFile) {
  ASSERT_TRUE(MixProject());
  for (const char* out : {"full.3gp", "full.wmv"}) {
    SCOPED_TRACE(out);
    const std::string words = std::string(out) == "full.wmv" ? "96000,22050,16,2,0,1,1,100,15,144,176"
                                                             : "12200,8000,16,1,0,2,3,128000,15,144,176";
    EXPECT_EQ(Render("m.mix", out, words, "", "ulimit -f 40; "), 0);
    EXPECT_FALSE(Exists(out));
    // The reason names the file that could not be made.
    const std::string said = Output("cat " + Quote(Path("stderr.txt")));
    // Past the file-size limit, which the reason names.
    EXPECT_NE(said.find("ovmix: writing " + Path(out) + " failed: the file-size limit is reached"), std::string::npos) << said;
    // and the codec library's own notes stay out of it.
    EXPECT_EQ(said.find(" @ 0x"), std::string::npos) << said;
  }
}

}  // namespace
