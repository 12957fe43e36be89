#pragma once
// Motion search of a predicted picture, shared by the MPEG-4 and H.263
// encoders: one full-pel vector per macroblock from spatial and temporal
// candidates refined by diamond patterns, the intra/inter decision, and a
// half-sample refinement. Luma only; every cost is a checkerboard SAD of the
// "motion" kernel family.

#include <cstdint>

#include "encoders/common/macroblock_info.h"
#include "encoders/common/motion_dsp.h"

namespace venc {

struct MotionCandidate {
  int16_t x;  // full pixels in the full-pel search, half pixels in the refinement
  int16_t y;
  uint32_t sad;
};

// One entry per macroblock in raster order (row r at r x mbsPerRow).
struct VectorFieldEntry {
  int16_t x;
  int16_t y;
  uint32_t sad;
};

// Search bounds of one macroblock at (x, y). Full-pel vector (vx, vy) is
// inside when xMin <= x + vx, x + vx + 16 <= xMax, yMin <= y + vy and
// y + vy + 16 <= yMax; the half-pel window holds the same bounds doubled.
struct SearchWindow {
  int32_t x, y;
  int32_t xMin, xMax, yMin, yMax;
};

struct ZeroVectorInfo {
  int32_t present;  // the zero vector's SAD is known
  int32_t index;    // its position in the candidate list
  uint32_t sad;
};

// What the search needs of the picture being coded.
struct MotionLayout {
  int width = 0, height = 0;  // coded size, multiples of 16
  int mbsPerRow = 0, mbRows = 0;
  bool previousPredicted = false;  // the previous coded picture was predicted
  bool unrestricted = false;       // vectors may reach 8 pixels into the border
  bool halfPelDiagonal = true;
};

struct MotionSearchContext {
  const uint8_t* reference = nullptr;  // luma top-left picture sample
  const uint8_t* current = nullptr;
  VectorFieldEntry* vectorField = nullptr;          // this picture
  VectorFieldEntry* previousVectorField = nullptr;  // previous predicted picture
  MotionCandidate candidates[9] = {};
  int32_t range = 15;
  int32_t spreadThreshold = 4;
  uint32_t earlyExitSad = 512;
  MotionDsp dsp{};
};

// Per-picture constants of an encoding complexity (0..3).
struct SearchConstants {
  int32_t range;
  int32_t spreadThreshold;
  uint32_t earlyExitSad;
  bool halfPelDiagonal;
};
SearchConstants SearchConstantsFor(int complexity, int searchRange);

void SetFullPelWindow(SearchWindow& w, const MotionLayout& layout, int32_t range);
void SetHalfPelWindow(SearchWindow& w, const MotionLayout& layout);

// Full-pel search of the macroblock at column c, row r (window set).
void PredictiveSearch(MotionSearchContext& ctx, const SearchWindow& w, int c, int r, const MotionLayout& layout,
                      MotionCandidate& best, ZeroVectorInfo& zero);
void FirstMacroblockSearch(MotionSearchContext& ctx, const SearchWindow& w, const MotionLayout& layout,
                           MotionCandidate& best, ZeroVectorInfo& zero);
// Refines `best` (half pixels, even on entry) by one half sample.
void HalfPelRefine(MotionSearchContext& ctx, MotionCandidate& best, const SearchWindow& halfWindow,
                   const MotionLayout& layout);

// The full-pel result after the zero preference: a zero vector nearly as
// good as a best SAD below 1024 is cheaper to code, so it replaces the best
// when its SAD is below 312 or within 4 % (25 x difference < best SAD).
MotionCandidate PreferZeroVector(const MotionCandidate& best, const ZeroVectorInfo& zero);
// Intra coding wins when the macroblock's deviation plus 512 is below the
// best inter SAD; a tie stays inter.
bool PrefersIntra(uint32_t deviation, uint32_t bestSad);

// Decides every macroblock's mode and vector into `mbs` (raster order) and
// keeps the picture's full-pel field for the next predicted picture.
void EstimatePictureMotion(MotionSearchContext& ctx, const MotionLayout& layout, MacroblockInfo* mbs);

// The smallest f_code (1..fcode) that holds every inter vector: 1 when all
// components lie in -32..31 half pixels, else `fcode`.
int ReduceFCode(const MacroblockInfo* mbs, int mbCount, int fcode);

}  // namespace venc
