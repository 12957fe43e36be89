// The render mode's command line: the three quoted options in any order,
// and the settings a job can make.
#include "shell/render_mode.h"

#include <gtest/gtest.h>

#include <array>

#include "screens/project/render_project.h"

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

// Each refusal gives its one line for stderr: the usage without the three
// quoted options, else the reason.
TEST(RenderCommandLine, RefusesWhatNoJobCanMake) {
  const ov::String po = u"-p\"m.mix\" -o\"out.wav\" ";
  const std::u16string usage = shell::kRenderUsage;
  const std::u16string eleven = u"ovmix: -e needs eleven comma-separated numbers";
  struct Case {
    const char* why;
    ov::String line;
    std::u16string reason;  // the start of the line
  } cases[] = {
      {"empty", u"", usage},
      {"help", u"--help", usage},
      {"unquoted", ov::String(u"-pm.mix -oout.wav -e") + kWords, usage},
      {"no -p", ov::String(u"-o\"out.wav\" -e\"") + kWords + u"\"", usage},
      {"no -o", ov::String(u"-p\"m.mix\" -e\"") + kWords + u"\"", usage},
      {"no -e", po, usage},
      {"-p unclosed", ov::String(u"-o\"out.wav\" -e\"") + kWords + u"\" -p\"m.mix", usage},
      {"-e unclosed", po + u"-e\"" + kWords, usage},
      {"empty project", ov::String(u"-p\"\" -o\"out.wav\" -e\"") + kWords + u"\"", u"ovmix: -p and -o need a path"},
      {"three numbers", po + u"-e\"96000,22050,16\"", eleven},
      {"ten numbers", po + u"-e\"96000,22050,16,2,0,255,1,128000,10,144\"", eleven},
      {"twelve numbers", po + u"-e\"96000,22050,16,2,0,255,1,128000,10,144,176,1\"", eleven},
      {"not a number", po + u"-e\"96000,22050,16,2,0,255,1,128000,10,x,176\"", eleven},
      {"negative", po + u"-e\"96000,22050,16,2,0,255,1,128000,-10,144,176\"", eleven},
      {"above 32 bits", po + u"-e\"96000,22050,16,2,0,255,1,128000,10,144,4294967296\"", eleven},
      {"rate 0", po + u"-e\"96000,0,16,2,0,255,1,128000,10,144,176\"",
       u"ovmix: a sample rate of 0 Hz cannot be rendered (8000 to 48000)"},
      {"rate 7999", po + u"-e\"96000,7999,16,2,0,255,1,128000,10,144,176\"", u"ovmix: a sample rate of 7999 Hz"},
      {"rate 48001", po + u"-e\"96000,48001,16,2,0,255,1,128000,10,144,176\"", u"ovmix: a sample rate of 48001 Hz"},
      {"bits 24", po + u"-e\"96000,22050,24,2,0,255,1,128000,10,144,176\"",
       u"ovmix: 24 bits per sample cannot be rendered (8 or 16)"},
      {"channels 0", po + u"-e\"96000,22050,16,0,0,255,1,128000,10,144,176\"",
       u"ovmix: 0 sound channels cannot be rendered (1 or 2)"},
      {"channels 3", po + u"-e\"96000,22050,16,3,0,255,1,128000,10,144,176\"", u"ovmix: 3 sound channels"},
      {"width 1025", po + u"-e\"96000,22050,16,2,0,255,1,128000,10,144,1025\"",
       u"ovmix: a picture of 1025x144 cannot be rendered (at most 1024 a side)"},
      {"fps 61", po + u"-e\"96000,22050,16,2,0,255,1,128000,61,144,176\"",
       u"ovmix: 61 frames per second cannot be rendered (at most 60)"},
  };
  for (const Case& c : cases) {
    shell::RenderCommand r;
    ov::String why;
    EXPECT_FALSE(shell::ParseRenderCommandLine(c.line, &r, &why)) << c.why;
    EXPECT_EQ(std::u16string(why.View().substr(0, c.reason.size())), c.reason) << c.why;
    EXPECT_EQ(why.Find(u'\n'), -1) << c.why;
  }
  // The edges themselves are makeable.
  shell::RenderCommand r;
  ov::String why;
  EXPECT_TRUE(shell::ParseRenderCommandLine(po + u"-e\"0,8000,8,1,0,255,1,0,0,0,0\"", &r, &why));
  EXPECT_TRUE(shell::ParseRenderCommandLine(po + u"-e\"0,48000,16,2,0,4,2,0,60,1024,1024\"", &r, &why));
  EXPECT_TRUE(why.IsEmpty());
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
