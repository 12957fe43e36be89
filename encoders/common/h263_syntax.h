#pragma once
// ITU-T H.263 picture formats, levels and the picture and GOB headers of the
// baseline syntax, shared by mpeg4enc's short-header mode and h263enc.

#include <cstdint>

#include "encoders/common/bit_writer.h"

namespace venc {

// ITU-T H.263 levels (Annex X, Table X.2). Levels 10-45 limit the standard
// source format; 50-70 limit the picture size instead (maxSourceFormat 0).
struct H263LevelLimits {
  int level;
  int maxSourceFormat;
  int32_t maxBitRate;
  int maxFrameRate;  // level 20: 15 for CIF, 30 below
  int maxWidth, maxHeight;
};
extern const H263LevelLimits kH263Levels[8];
// Null for a level H.263 does not define.
const H263LevelLimits* FindH263Level(int level);
// Whether a picture of `sourceFormat` (6: custom), real size w x h, at
// `frameRate` and `bitRate` stays within the level.
bool WithinH263Level(const H263LevelLimits& l, int sourceFormat, int w, int h, float frameRate, int32_t bitRate);

// Standard source formats (ITU-T H.263 Table 1) with the MPEG-4 level, buffer
// index and macroblock rows per GOB that go with each.
struct ShortHeaderFormat {
  int height, width, format, level, vbvIndex, rowsPerGob;
};
extern const ShortHeaderFormat kShortHeaderFormats[5];
// The format of a picture size; null for sizes H.263 has no format for.
const ShortHeaderFormat* FindShortHeaderFormat(int width, int height);

// Temporal reference (8 bits) of a picture stamped `time` in ticks of
// `timeResolution` at `frameRate`, scaled by `factor` (29.97 / frameRate) to
// H.263's 29.97 Hz clock.
uint32_t H263TemporalReference(int32_t time, uint32_t timeResolution, float frameRate, float factor);

// PSC, TR and PTYPE bits 1-5 (ITU-T H.263 5.1.1-5.1.3): the part every
// picture header starts with.
void PutPictureStart(BitWriter& w, uint32_t temporalReference);
// The 13-bit PTYPE picture header of a standard format after PutPictureStart's
// bits: source format, picture type, the four option bits (unrestricted
// vectors first), PQUANT, CPM 0 and PEI 0.
void PutBaselinePictureType(BitWriter& w, int sourceFormat, int codingType, int unrestrictedMv, int quant);

// GOB frame id (GFID): toggles on the first GOB or slice header of a picture
// whose type differs from the previous picture's.
struct GobFrameId {
  uint8_t id = 0;
  uint8_t toggle = 0;  // set at every picture, cleared by the first header
  uint8_t Next(int codingType, int prevCodingType) {
    if (toggle && codingType != prevCodingType) id ^= 1;
    toggle = 0;
    return id;
  }
};

// GBSC, GN, GFID and GQUANT (ITU-T H.263 5.2); the writer is byte aligned.
void PutGobHeader(BitWriter& w, int gobNumber, int gfid, int quant);

}  // namespace venc
