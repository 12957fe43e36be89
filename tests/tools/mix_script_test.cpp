// The mix script of "ovtool mix" and "ovtool project": what a line becomes,
// and the lines refused with the number of the line at fault.
#include "tools/mix_script.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

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
  };
  for (const char* bad : kBad) {
    std::vector<engine::EngineCommand> c;
    std::string error;
    EXPECT_FALSE(Parse(std::string("0 play 0\n") + bad + "\n", &c, &error)) << bad;
    EXPECT_EQ(error, std::string("line 2 not understood: ") + bad);
  }
}

}  // namespace
