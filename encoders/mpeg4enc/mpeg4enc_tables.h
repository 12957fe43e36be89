#pragma once
// Level limits of mpeg4enc: ISO/IEC 14496-2 Simple Profile levels (the ITU-T
// H.263 levels of short-header stream mode 2 are in common/h263_syntax.h).

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

const Mpeg4LevelLimits* FindMpeg4Level(int level);

}  // namespace venc
