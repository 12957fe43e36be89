#include "encoders/mpeg4enc/mpeg4enc_tables.h"

namespace venc {

const Mpeg4LevelLimits kMpeg4Levels[7] = {
    {0, 64000, 0, 0, 2048},        {10, 128000, 0, 0, 2048},     {1, 64000, 99, 1485, 2048},
    {2, 128000, 396, 5940, 4096},  {3, 384000, 396, 11880, 8192}, {4, 4000000, 1200, 36000, 16384},
    {5, 8000000, 1620, 40500, 16384},
};

const Mpeg4LevelLimits* FindMpeg4Level(int level) {
  for (const Mpeg4LevelLimits& l : kMpeg4Levels)
    if (l.level == level) return &l;
  return nullptr;
}

}  // namespace venc
