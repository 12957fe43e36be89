// The render mode's command line: the three quoted options in any order,
// and the settings a job can make.
#include "shell/render_mode.h"

#include <gtest/gtest.h>

#include <array>

#include "screens/render_project.h"

namespace {

constexpr char16_t kWords[] = u"96000,22050,16,2,0,255,1,128000,10,144,176";

TEST(RenderCommandLine, ReadsTheThreeOptionsInAnyOrder) {
  struct Case {
    const char16_t* line;
    const char16_t* project;
    const char16_t* output;
  } cases[] = {
      {u"-p\"m.mix\" -o\"out.wav\" -e\"96000,22050,16,2,0,255,1,128000,10,144,176\"", u"m.mix", u"out.wav"},
      {u"-e\"96000,22050,16,2,0,255,1,128000,10,144,176\" -o\"/a b/out.wav\" -p\"/c d/m.mix\"", u"/c d/m.mix",
       u"/a b/out.wav"},
      // The first of each name wins.
      {u"-p\"first.mix\" -o\"o.wav\" -e\"96000,22050,16,2,0,255,1,128000,10,144,176\" -p\"second.mix\"",
       u"first.mix", u"o.wav"},
      // Blanks around the numbers.
      {u"-p\"m\" -o\"o.wav\" -e\" 96000, 22050,16,2,0,255,1,128000,10,144,176 \"", u"m", u"o.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ov::String(c.line).ToUtf8Lossy());
    shell::RenderCommand r;
    ASSERT_TRUE(shell::ParseRenderCommandLine(c.line, &r));
    EXPECT_EQ(r.project, c.project);
    EXPECT_EQ(r.output, c.output);
    const engine::ExportSettings& s = r.settings;
    EXPECT_EQ(s.audioBitrate, 96000u);
    EXPECT_EQ(s.sampleRate, 22050u);
    EXPECT_EQ(s.bitsPerSample, 16u);
    EXPECT_EQ(s.channels, 2u);
    EXPECT_EQ(s.samplesPerFrame, 0u);
    EXPECT_EQ(s.videoCodec, 255u);
    EXPECT_EQ(s.audioCodec, 1u);
    EXPECT_EQ(s.videoBitrate, 128000u);
    EXPECT_EQ(s.fps, 10u);
    EXPECT_EQ(s.height, 144u);
    EXPECT_EQ(s.width, 176u);
  }
}

TEST(RenderCommandLine, RefusesWhatNoJobCanMake) {
  const ov::String po = u"-p\"m.mix\" -o\"out.wav\" ";
  struct Case {
    const char* why;
    ov::String line;
  } cases[] = {
      {"empty", u""},
      {"no -p", ov::String(u"-o\"out.wav\" -e\"") + kWords + u"\""},
      {"no -o", ov::String(u"-p\"m.mix\" -e\"") + kWords + u"\""},
      {"no -e", po},
      {"-p unclosed", ov::String(u"-o\"out.wav\" -e\"") + kWords + u"\" -p\"m.mix"},
      {"-e unclosed", po + u"-e\"" + kWords},
      {"empty project", ov::String(u"-p\"\" -o\"out.wav\" -e\"") + kWords + u"\""},
      {"three numbers", po + u"-e\"96000,22050,16\""},
      {"ten numbers", po + u"-e\"96000,22050,16,2,0,255,1,128000,10,144\""},
      {"twelve numbers", po + u"-e\"96000,22050,16,2,0,255,1,128000,10,144,176,1\""},
      {"not a number", po + u"-e\"96000,22050,16,2,0,255,1,128000,10,x,176\""},
      {"negative", po + u"-e\"96000,22050,16,2,0,255,1,128000,-10,144,176\""},
      {"above 32 bits", po + u"-e\"96000,22050,16,2,0,255,1,128000,10,144,4294967296\""},
      {"rate 0", po + u"-e\"96000,0,16,2,0,255,1,128000,10,144,176\""},
      {"rate 7999", po + u"-e\"96000,7999,16,2,0,255,1,128000,10,144,176\""},
      {"rate 48001", po + u"-e\"96000,48001,16,2,0,255,1,128000,10,144,176\""},
      {"bits 24", po + u"-e\"96000,22050,24,2,0,255,1,128000,10,144,176\""},
      {"channels 0", po + u"-e\"96000,22050,16,0,0,255,1,128000,10,144,176\""},
      {"channels 3", po + u"-e\"96000,22050,16,3,0,255,1,128000,10,144,176\""},
      {"width 1025", po + u"-e\"96000,22050,16,2,0,255,1,128000,10,144,1025\""},
      {"fps 61", po + u"-e\"96000,22050,16,2,0,255,1,128000,61,144,176\""},
  };
  for (const Case& c : cases) {
    shell::RenderCommand r;
    EXPECT_FALSE(shell::ParseRenderCommandLine(c.line, &r)) << c.why;
  }
  // The edges themselves are makeable.
  shell::RenderCommand r;
  EXPECT_TRUE(shell::ParseRenderCommandLine(po + u"-e\"0,8000,8,1,0,255,1,0,0,0,0\"", &r));
  EXPECT_TRUE(shell::ParseRenderCommandLine(po + u"-e\"0,48000,16,2,0,4,2,0,60,1024,1024\"", &r));
}

// The line the mixer starts the render process with reads back as the
// settings it was made from: every word in its place, a picture wider than
// high included (its height comes before its width).
TEST(RenderCommandLine, TheMixersLineReadsBackAsItsSettings) {
  const engine::ExportSettings s{64000, 16000, 16, 1, 320, 2, 1, 256000, 15, 144, 176};
  const ov::String line = screens::RenderCommandLine(u"/a b/m.mix", u"/c/out.mp4", s);
  EXPECT_EQ(std::u16string(line.View()),
            u"-p\"/a b/m.mix\" -o\"/c/out.mp4\" -e\"64000,16000,16,1,320,2,1,256000,15,144,176\"");
  shell::RenderCommand r;
  ASSERT_TRUE(shell::ParseRenderCommandLine(line, &r));
  EXPECT_EQ(std::u16string(r.project.View()), u"/a b/m.mix");
  EXPECT_EQ(std::u16string(r.output.View()), u"/c/out.mp4");
  auto words = [](const engine::ExportSettings& e) {
    return std::array<uint32_t, 11>{e.audioBitrate, e.sampleRate, e.bitsPerSample, e.channels, e.samplesPerFrame,
                                    e.videoCodec,   e.audioCodec, e.videoBitrate,  e.fps,      e.height,
                                    e.width};
  };
  EXPECT_EQ(words(r.settings), words(s));
}

}  // namespace
