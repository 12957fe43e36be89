#pragma once
// Level limits of mpeg4enc: ISO/IEC 14496-2 Simple Profile levels and the
// ITU-T H.263 levels checked in short-header stream mode 2.

#include <cstdint>

namespace venc {

struct Mpeg4LevelLimits {
  int level;           // 0-5, 10 = level 0b
  int32_t maxBitRate;
  int32_t maxMbs;      // 0: picture at most 176 x 144 at 15 fps instead
  int32_t maxMbRate;   // macroblocks per second
  uint32_t maxPacket;  // bits, with data partitioning
};
extern const Mpeg4LevelLimits kMpeg4Levels[7];

struct H263LevelLimits {
  int level;  // 10, 20, 30, 40, 45
  int maxSourceFormat;
  int32_t maxBitRate;
  int maxFrameRate;     // 20: 15 for CIF, 30 below
};
extern const H263LevelLimits kH263Levels[5];

// Short-header source formats (ITU-T H.263 Table 1) with the MPEG-4 level,
// buffer index and macroblock rows per GOB that go with each.
struct ShortHeaderFormat {
  int height, width, format, level, vbvIndex, rowsPerGob;
};
extern const ShortHeaderFormat kShortHeaderFormats[5];

const Mpeg4LevelLimits* FindMpeg4Level(int level);
// The format of a picture size; null for sizes H.263 has no format for.
const ShortHeaderFormat* FindShortHeaderFormat(int width, int height);
const H263LevelLimits* FindH263Level(int level);

}  // namespace venc
