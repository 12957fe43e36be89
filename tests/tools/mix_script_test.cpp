// The mix script of "ovtool mix" and "ovtool project": what a line becomes,
// and the lines refused with the number of the line at fault.
#include "tools/mix_script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"

namespace {

bool Parse(const std::string& text, std::vector<engine::EngineCommand>* commands, std::string* error) {
  std::istringstream in(text);
  return tools::ParseMixScript(in, commands, error);
}

TEST(MixScript, LinesBecomeTimedCommands) {
  std::vector<engine::EngineCommand> c;
  std::string error;
  ASSERT_TRUE(Parse("# a comment\n\n0 master 80\n"
                    "100 load 16 a.mp4 500 2000 12345   # cut and crop\r\n"
                    "4294967295 seek 16 -2147483648\n"
                    "7 zoom 17 2147483647 ffffffff 00010002\n",
                    &c, &error))
      << error;
  ASSERT_EQ(c.size(), 4u);
  EXPECT_EQ(c[0].type, engine::CMD_MASTER_VOLUME);
  EXPECT_EQ(c[0].param1, 80);
  EXPECT_EQ(c[1].type, engine::CMD_LOAD);
  EXPECT_EQ(c[1].timeMs, 100u);
  EXPECT_EQ(c[1].channel, 16u);
  EXPECT_TRUE(c[1].path == u"a.mp4");
  EXPECT_EQ(c[1].param1, -1);
  EXPECT_EQ(c[1].param2, 500);
  EXPECT_EQ(c[1].param3, 2000);
  EXPECT_EQ(c[1].param4, 12345);
  EXPECT_EQ(c[2].timeMs, 4294967295u);
  EXPECT_EQ(c[2].param1, INT32_MIN);
  EXPECT_EQ(c[3].type, engine::CMD_ZOOM);
  EXPECT_EQ(c[3].param1, INT32_MAX);
  EXPECT_EQ(c[3].param2, -1);
  EXPECT_EQ(c[3].param3, 0x00010002);
}

// The overlay, the file effect and a video linked to its sound as the mixer
// records them: the source, the cache a replay takes instead, the overlay's
// key colour (magenta unless given) and the sound's channel.
TEST(MixScript, OverlayEffectAndLinkedVideoAsRecorded) {
  std::vector<engine::EngineCommand> c;
  std::string error;
  ASSERT_TRUE(Parse("10 overlay 16 /app/overlays/hearts.bmp\n"
                    "20 overlay 17 /app/overlays/bubble.3gp /tmp/overlay1-0.raw\n"
                    "30 overlay 18 a.png - 00ff00\n"
                    "40 effect 19 /app/masks/iris.qbt /tmp/effect3.raw\n"
                    "50 effect 20 mask.raw\n"
                    "60 linked 21 v.mp4 3 100 900\n",
                    &c, &error))
      << error;
  ASSERT_EQ(c.size(), 6u);
  struct Want {
    uint32_t type, channel;
    const char16_t *path, *cache;
    int32_t key;
  } const want[] = {
      {engine::CMD_LOAD_IMAGE, 16, u"/app/overlays/hearts.bmp", u"", 0xFF00FF},
      {engine::CMD_LOAD_IMAGE, 17, u"/app/overlays/bubble.3gp", u"/tmp/overlay1-0.raw", 0xFF00FF},
      {engine::CMD_LOAD_IMAGE, 18, u"a.png", u"", 0x00FF00},
      {engine::CMD_FILE_EFFECT, 19, u"/app/masks/iris.qbt", u"/tmp/effect3.raw", 0},
      {engine::CMD_FILE_EFFECT, 20, u"mask.raw", u"", 0},
      {engine::CMD_LOAD, 21, u"v.mp4", u"", 3},  // the sound's channel
  };
  for (size_t i = 0; i < c.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(c[i].type, want[i].type);
    EXPECT_EQ(c[i].channel, want[i].channel);
    EXPECT_EQ(c[i].timeMs, 10u * (i + 1));
    EXPECT_TRUE(c[i].path == want[i].path) << c[i].path.ToUtf8Lossy();
    EXPECT_TRUE(c[i].altPath == want[i].cache) << c[i].altPath.ToUtf8Lossy();
    EXPECT_EQ(c[i].param1, want[i].key);
  }
  EXPECT_EQ(c[5].param2, 100);
  EXPECT_EQ(c[5].param3, 900);
}

TEST(MixScript, RefusesLinesItCannotStoreAsGiven) {
  // Each bad line follows one good line: the error names line 2.
  const char* const kBad[] = {
      "-1 play 0",                    // negative time
      "4294967296 play 0",            // a time past 32 bits would wrap to 0
      "0 play 4294967296",            // so would a channel
      "0 seek 16 2147483648",         // and a value past 31 bits
      "0 volume 0 -2147483649",
      "0 master 99999999999999999999",  // past 64 bits
      "0 seek 16 soon",               // a word that is no number
      "0 zoom 16 1 100000000 0",      // a rectangle word past 32 bits
      "0 jump 0",                     // unknown verb
      "0 load 0",                     // load without a path
      "0 overlay 16",                 // an overlay without a picture
      "0 overlay 16 a.bmp - 1000000",  // a key past 24 bits
      "0 overlay 16 a.bmp - pink",    // a key that is no number
      "0 linked 16 v.mp4",            // a linked video without its sound's channel
      "0 linked 16 v.mp4 16",         // a sound channel past the sixteen
  };
  for (const char* bad : kBad) {
    std::vector<engine::EngineCommand> c;
    std::string error;
    EXPECT_FALSE(Parse(std::string("0 play 0\n") + bad + "\n", &c, &error)) << bad;
    EXPECT_EQ(error, std::string("line 2 not understood: ") + bad);
  }
}

// A script file is a regular file of bounded size whose lines are bounded
// too: a folder, a FIFO without a writer and /dev/zero are refused at once
// (none is opened), and a file of one endless line stops at the bound
// instead of growing without end.
TEST(MixScript, ReadsOnlyBoundedRegularFiles) {
  const std::string dir = ovtest::ScratchDir();
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(dir + "/good.txt") << "0 play 16\n100 stop 16";  // the last line without its end
  {
    std::ofstream long_line(dir + "/line.txt");
    long_line << "0 load 16 " << std::string(tools::kMaxScriptLineBytes, 'a') << "\n";
    std::ofstream big(dir + "/big.txt");
    big.seekp(std::streamoff(tools::kMaxScriptBytes));  // a sparse file one byte too long
    big << "\n";
  }
  struct Case {
    std::string path, error;
  } cases[] = {
      {dir, dir + ": a folder, not a script"},
      {fifo, fifo + ": not a regular file (a FIFO, socket or device)"},
      {"/dev/zero", "/dev/zero: not a regular file (a FIFO, socket or device)"},
      {dir + "/absent.txt", dir + "/absent.txt: no such file"},
      {dir + "/line.txt", "line 1 is longer than 8192 bytes"},
      {dir + "/big.txt", dir + "/big.txt: 16777217 bytes, more than a script's 16777216"},
  };
  for (const Case& c : cases) {
    std::vector<engine::EngineCommand> commands;
    std::string error;
    EXPECT_FALSE(tools::ReadMixScript(c.path, &commands, &error)) << c.path;
    EXPECT_EQ(error, c.error);
  }
  std::vector<engine::EngineCommand> commands;
  std::string error;
  ASSERT_TRUE(tools::ReadMixScript(dir + "/good.txt", &commands, &error)) << error;
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[1].timeMs, 100u);
  // A stream (the fuzz target's input) is bounded the same way.
  std::string endless(tools::kMaxScriptLineBytes + 1, '0');
  EXPECT_FALSE(Parse(endless, &commands, &error));
  EXPECT_EQ(error, "line 1 is longer than 8192 bytes");
  std::string lines;
  while (lines.size() <= tools::kMaxScriptBytes) lines += "# a comment line of some length, again and again\n";
  EXPECT_FALSE(Parse(lines, &commands, &error));
  EXPECT_EQ(error, "the script is longer than 16777216 bytes");
}

}  // namespace
