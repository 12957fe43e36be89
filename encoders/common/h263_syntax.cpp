#include "encoders/common/h263_syntax.h"

namespace venc {

const H263LevelLimits kH263Levels[8] = {
    {10, 2, 64000, 15, 0, 0},       {20, 3, 128000, 30, 0, 0},    {30, 3, 384000, 30, 0, 0},
    {40, 3, 2048000, 30, 0, 0},     {45, 2, 128000, 15, 0, 0},    {50, 0, 4096000, 50, 352, 288},
    {60, 0, 8192000, 50, 720, 288}, {70, 0, 16384000, 50, 720, 576},
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

const H263LevelLimits* FindH263Level(int level) {
  for (const H263LevelLimits& l : kH263Levels)
    if (l.level == level) return &l;
  return nullptr;
}

bool WithinH263Level(const H263LevelLimits& l, int sourceFormat, int w, int h, float frameRate, int32_t bitRate) {
  if (bitRate > l.maxBitRate) return false;
  if (l.maxSourceFormat == 0) return w <= l.maxWidth && h <= l.maxHeight && frameRate <= static_cast<float>(l.maxFrameRate);
  const float maxRate = (l.level == 20 && sourceFormat == 3) ? 15.0f : static_cast<float>(l.maxFrameRate);
  return sourceFormat <= l.maxSourceFormat && frameRate <= maxRate;
}

uint32_t H263TemporalReference(int32_t time, uint32_t timeResolution, float frameRate, float factor) {
  const float ticksPerFrame = static_cast<float>(timeResolution) / frameRate;
  const float frames = static_cast<float>(time) / ticksPerFrame * factor;
  const int64_t tr = static_cast<int64_t>(static_cast<double>(frames) + 0.5);
  return static_cast<uint32_t>(tr) & 0xFF;
}

void PutPictureStart(BitWriter& w, uint32_t temporalReference) {
  PutBits(w, 22, 0x20);
  PutBits(w, 8, temporalReference & 0xFF);
  PutBits(w, 1, 1);  // marker
  PutBits(w, 1, 0);  // H.261 distinction
  PutBits(w, 1, 0);  // split screen
  PutBits(w, 1, 0);  // document camera
  PutBits(w, 1, 0);  // full picture freeze release
}

void PutBaselinePictureType(BitWriter& w, int sourceFormat, int codingType, int unrestrictedMv, int quant) {
  PutBits(w, 3, static_cast<uint32_t>(sourceFormat));
  PutBits(w, 1, static_cast<uint32_t>(codingType));
  PutBits(w, 1, static_cast<uint32_t>(unrestrictedMv));
  PutBits(w, 3, 0);  // arithmetic coding, advanced prediction, PB-frames
  PutBits(w, 5, static_cast<uint32_t>(quant));
  PutBits(w, 1, 0);  // CPM
  PutBits(w, 1, 0);  // PEI
}

void PutGobHeader(BitWriter& w, int gobNumber, int gfid, int quant) {
  PutBits(w, 17, 1);
  PutBits(w, 5, static_cast<uint32_t>(gobNumber));
  PutBits(w, 2, static_cast<uint32_t>(gfid));
  PutBits(w, 5, static_cast<uint32_t>(quant));
}

}  // namespace venc
