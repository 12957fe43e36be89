#include "encoders/mpeg4enc/mpeg4enc_tables.h"

namespace venc {

const Mpeg4LevelLimits kMpeg4Levels[7] = {
    {0, 64000, 0, 0, 2048},        {10, 128000, 0, 0, 2048},     {1, 64000, 99, 1485, 2048},
    {2, 128000, 396, 5940, 4096},  {3, 384000, 396, 11880, 8192}, {4, 4000000, 1200, 36000, 16384},
    {5, 8000000, 1620, 40500, 16384},
};

const H263LevelLimits kH263Levels[5] = {
    {10, 2, 64000, 15}, {20, 3, 128000, 30}, {30, 3, 384000, 30}, {40, 3, 2048000, 30}, {45, 2, 128000, 15},
};

const ShortHeaderFormat kShortHeaderFormats[5] = {
    {96, 128, 1, 1, 1, 1}, {144, 176, 2, 1, 1, 1}, {288, 352, 3, 3, 2, 1},
    {576, 704, 4, 3, 3, 2}, {1152, 1408, 5, 3, 4, 4},
};

const ShortHeaderFormat* FindShortHeaderFormat(int width, int height) {
  for (const ShortHeaderFormat& f : kShortHeaderFormats)
    if (f.height == height && f.width == width) return &f;
  return nullptr;
}

const Mpeg4LevelLimits* FindMpeg4Level(int level) {
  for (const Mpeg4LevelLimits& l : kMpeg4Levels)
    if (l.level == level) return &l;
  return nullptr;
}

const H263LevelLimits* FindH263Level(int level) {
  for (const H263LevelLimits& l : kH263Levels)
    if (l.level == level) return &l;
  return nullptr;
}

}  // namespace venc
