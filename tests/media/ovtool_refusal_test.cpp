// ovtool on inputs it cannot use: every command ends with one line on stderr
// that names the reason, and a non-zero exit; none aborts. The inputs are
// missing files, folders, random bytes under each media extension, a cut
// package, a 3GP whose video samples decode to nothing, a damaged picture in
// a mix script and an AMR-WB file under dump.
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"

namespace {

struct Result {
  int exit_code = -1;  // -1: the process did not exit (a signal, an abort)
  std::string out, last_error_line;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Noise(size_t n) {
  std::vector<uint8_t> b(n);
  uint32_t x = 12345;
  for (uint8_t& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

class OvtoolRefusal : public testing::Test {
 protected:
  void SetUp() override { dir_ = ovtest::ScratchDir(); }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Each run is bounded: a command that blocks or runs on ends with 124.
  // The bound only tells a hang: a loaded machine may take many seconds to
  // start the tool at all.
  Result Run(const std::string& args) {
    const std::string tool = std::string(OVMIX_BIN_DIR) + "ovtool";
    const int status = std::system(("timeout 120 '" + tool + "' " + args + " > '" + Path("out.txt") + "' 2> '" +
                                    Path("err.txt") + "'").c_str());
    Result r;
    if (status != -1 && WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
    const std::vector<uint8_t> out = ovtest::ReadFileBytes(Path("out.txt"));
    r.out.assign(out.begin(), out.end());
    const std::vector<uint8_t> err = ovtest::ReadFileBytes(Path("err.txt"));
    std::string text(err.begin(), err.end());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t cut = text.rfind('\n');
    r.last_error_line = cut == std::string::npos ? text : text.substr(cut + 1);
    return r;
  }

  void ExpectRefused(const std::string& args, const std::string& reason) {
    const Result r = Run(args);
    EXPECT_EQ(r.exit_code, 1) << args;
    EXPECT_NE(r.last_error_line.find(reason), std::string::npos)
        << args << "\n  last line: " << r.last_error_line << "\n  wanted: " << reason;
  }

  std::string dir_;
};

TEST_F(OvtoolRefusal, MissingFilesFoldersAndRandomBytes) {
  std::filesystem::create_directories(Path("folder.mp4"));
  std::filesystem::create_directories(Path("folder.264"));
  for (const char* ext : {".mp4", ".amr", ".aac", ".mp3", ".wma", ".bin"}) WriteFile(Path(std::string("r") + ext), Noise(3000));
  struct Case {
    std::string args, reason;
  };
  const Case cases[] = {
      {"info " + Path("missing.mp4"), "no such file"},
      {"info " + Path("folder.mp4"), "a folder, not a file"},
      {"info " + Path("r.mp4"), "no track in an MP4/3GP box tree"},
      {"info " + Path("r.amr"), "not a single-channel AMR-NB file"},
      {"info " + Path("r.aac"), "not an ADTS AAC file"},
      {"info " + Path("r.mp3"), "no MPEG audio frame"},
      {"info " + Path("r.wma"), "not an ASF file"},
      {"info " + Path("r.bin"), "no media information for this kind of file"},
      {"vdec " + Path("folder.264") + " " + Path("o.yuv"), "a folder, not a file"},
      {"vdec " + Path("folder.mp4") + " " + Path("o.yuv"), "a folder, not a file"},
      {"dump " + Path("folder.mp4"), "a folder, not a file"},
      {"mix " + Path("folder.mp4") + " " + Path("o.wav"), "a folder, not a file"},
      {"pak list " + Path("folder.mp4"), "a folder, not a file"},
      {"asrc " + Path("folder.mp4") + " " + Path("o.wav"), "a folder, not a file"},
      {"adec " + Path("folder.mp4") + " " + Path("o.wav"), "a folder, not a file"},
      {"adec " + Path("r.mp3") + " " + Path("o.wav"), "no MPEG audio frame the MP3 source can play"},
      {"adec " + Path("missing.mp3") + " " + Path("o.wav"), "no such file"},
      {"vsrc " + Path("folder.mp4") + " " + Path("o.rgb"), "a folder, not a file"},
      {"vsrc " + Path("r.mp4") + " " + Path("o.rgb"), "has no video source"},
      {"bufread " + Path("missing.mp4"), "no such file"},
      {"imgconv i420 rgb565 16x16 " + Path("folder.mp4") + " " + Path("o.png"), "a folder, not a file"},
  };
  for (const Case& c : cases) ExpectRefused(c.args, c.reason);
}

TEST_F(OvtoolRefusal, CutPackage) {
  std::filesystem::create_directories(Path("in"));
  WriteFile(Path("in/a.bin"), Noise(200));
  ASSERT_EQ(Run("pak create " + Path("t.pak") + " " + Path("in")).exit_code, 0);
  ASSERT_EQ(Run("pak list " + Path("t.pak")).exit_code, 0);
  std::vector<uint8_t> pak = ovtest::ReadFileBytes(Path("t.pak"));
  ASSERT_GT(pak.size(), 100u);
  pak.resize(pak.size() - 100);
  WriteFile(Path("t.pak"), pak);
  ExpectRefused("pak list " + Path("t.pak"), "cut package: entry a.bin runs past the end");
  ExpectRefused("pak extract " + Path("t.pak") + " " + Path("out"), "cut package");
  pak.resize(6);  // the directory itself cut
  WriteFile(Path("t.pak"), pak);
  ExpectRefused("pak list " + Path("t.pak"), "cut package: its directory runs past the end");
}

TEST_F(OvtoolRefusal, VideoTrackWithoutADecodableFrame) {
  const std::string fixture = ovtest::FixturePath("media_h263_amr.3gp");
  OV_SKIP_WITHOUT_FIXTURE(fixture);
  ASSERT_EQ(Run("vdec " + fixture + " " + Path("o.yuv")).exit_code, 0);
  // The same file with the bytes of its "mdat" zeroed: the boxes stand, no
  // sample holds a picture.
  std::vector<uint8_t> file = ovtest::ReadFileBytes(fixture);
  const std::string text(file.begin(), file.end());
  const size_t type = text.find("mdat");
  ASSERT_NE(type, std::string::npos);
  ASSERT_GE(type, 4u);
  const size_t size = size_t(file[type - 4]) << 24 | size_t(file[type - 3]) << 16 | size_t(file[type - 2]) << 8 |
                      file[type - 1];
  ASSERT_LE(type - 4 + size, file.size());
  std::fill(file.begin() + long(type + 4), file.begin() + long(type - 4 + size), 0);
  WriteFile(Path("z.3gp"), file);
  ExpectRefused("vdec " + Path("z.3gp") + " " + Path("o.yuv"), "no frame decoded");
}

TEST_F(OvtoolRefusal, MixNamesTheImagingReasonAndDumpRefusesOnStderr) {
  // A PNG cut after 100 bytes: the imaging library's own reason is named.
  WriteFile(Path("y.yuv"), std::vector<uint8_t>(384, 0));
  ASSERT_EQ(Run("imgconv i420 png 16x16 " + Path("y.yuv") + " " + Path("p.png")).exit_code, 0);
  std::vector<uint8_t> png = ovtest::ReadFileBytes(Path("p.png"));
  png.resize(100);
  WriteFile(Path("cut.png"), png);
  std::ofstream(Path("mix.txt")) << "0 load 16 " << Path("cut.png") << "\n0 play 16\n";
  ExpectRefused("mix " + Path("mix.txt") + " " + Path("o.wav"), "cut.png: picture data cut short");

  // An AMR-WB file: dump refuses it on stderr and prints nothing on stdout.
  const std::string wb = "#!AMR-WB\n";
  std::vector<uint8_t> amr(wb.begin(), wb.end());
  amr.resize(200, 0x7C);
  WriteFile(Path("wb.amr"), amr);
  const Result r = Run("dump " + Path("wb.amr"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.last_error_line.find("not a single-channel AMR-NB file (header=9 rate=16000"), std::string::npos)
      << r.last_error_line;
}

// Where a command expects a file, a FIFO without a writer, a device and a
// folder are refused at once with the reason: none blocks in its open or
// reads on without end. A script is bounded as a file.
TEST_F(OvtoolRefusal, InputsThatAreNoRegularFiles) {
  for (const char* name : {"fifo.mp4", "fifo.264", "fifo.wav", "fifo.mix", "fifo.txt", "fifo.pak", "fifo.so"}) {
    ASSERT_EQ(::mkfifo(Path(name).c_str(), 0600), 0) << name;
  }
  const std::string not_regular = "not a regular file (a FIFO, socket or device)";
  const std::string venc = "venc --codec mpeg4 --size 16x16 --fps 10 --kbps 64 ";
  struct Case {
    std::string args, reason;
  };
  const Case cases[] = {
      {"info " + Path("fifo.mp4"), not_regular},
      {"dump " + Path("fifo.mp4"), not_regular},
      {"vdec " + Path("fifo.264") + " " + Path("o.yuv"), not_regular},
      {"mix " + Path("fifo.txt") + " " + Path("o.wav"), not_regular},
      {"mix /dev/zero " + Path("o.wav"), "/dev/zero: " + not_regular},
      {"asrc " + Path("fifo.wav") + " " + Path("o.wav"), not_regular},
      {"adec " + Path("fifo.mp4") + " " + Path("o.wav"), not_regular},
      {"bufread " + Path("fifo.mp4"), not_regular},
      {"bufread /dev/zero", "/dev/zero: " + not_regular},
      {venc + Path("fifo.mp4") + " " + Path("o.m4v"), not_regular},
      {venc + "/dev/zero " + Path("o.m4v"), not_regular},
      {"imgconv i420 png 16x16 " + Path("fifo.mp4") + " " + Path("o.png"), not_regular},
      {"dmo --codec aac " + Path("fifo.wav") + " " + Path("o.aac"), not_regular},
      {"cache " + Path("fifo.mix"), not_regular},
      {"pak list " + Path("fifo.pak"), not_regular},
      {"skin dump " + Path("fifo.pak"), not_regular},
      {"regsvr " + Path("fifo.so"), not_regular},
      {"project " + Path("p.mix") + " script=" + Path("fifo.txt"), Path("fifo.txt") + ": " + not_regular},
      {"project " + Path("p.mix") + " script=/dev/zero", "/dev/zero: " + not_regular},
      {"project " + Path("p.mix") + " script=" + dir_, dir_ + ": a folder, not a script"},
  };
  for (const Case& c : cases) ExpectRefused(c.args, c.reason);
  EXPECT_FALSE(std::filesystem::exists(Path("p.mix")));
  // A folder given as a package entry, with a FIFO among its files.
  std::filesystem::create_directories(Path("in"));
  ASSERT_EQ(::mkfifo(Path("in/f.bin").c_str(), 0600), 0);
  ExpectRefused("pak create " + Path("t.pak") + " " + Path("in"), "f.bin: " + not_regular);
}

// A failing command names its file and leaves no output behind.
TEST_F(OvtoolRefusal, FailuresNameTheFileAndLeaveNoOutput) {
  WriteFile(Path("r.264"), Noise(3000));
  ExpectRefused("vdec " + Path("r.264") + " " + Path("o.yuv") + " --rgb565 " + Path("o.rgb"),
                "no H.264 sequence parameter set");
  EXPECT_FALSE(std::filesystem::exists(Path("o.yuv")));
  EXPECT_FALSE(std::filesystem::exists(Path("o.rgb")));
  WriteFile(Path("r.mp4"), Noise(3000));
  ExpectRefused("dump " + Path("r.mp4"), "dump: " + Path("r.mp4") + ": no tracks");
  WriteFile(Path("r.wav"), Noise(3000));
  ExpectRefused("dump " + Path("r.wav"), "dump: " + Path("r.wav") + ": not a WAVE file we read");
  // A package whose skin XML is damaged.
  std::filesystem::create_directories(Path("skin"));
  std::ofstream(Path("skin/#default.xml")) << "<skin><menu";
  ASSERT_EQ(Run("pak create " + Path("s.pak") + " " + Path("skin")).exit_code, 0);
  ExpectRefused("skin dump " + Path("s.pak"),
                "skin: " + Path("s.pak") + ": XML Error b at line 1 Reason : Error parsing start element tag");
}

}  // namespace
