#include "encoders/common/mv_prediction.h"

namespace venc {
namespace {

int16_t Median(int a, int b, int c) {
  const int lo = a < b ? a : b, hi = a < b ? b : a;
  return static_cast<int16_t>(c < lo ? lo : (c > hi ? hi : c));
}

struct Candidate {
  bool available;
  MotionVector v;
};

// Vector of block `b` of a neighbouring macroblock; one-vector macroblocks
// give their only vector.
MotionVector BlockVector(const MacroblockInfo& mb, int b) { return mb.fourVectors == 1 ? mb.vectors[b] : mb.vectors[0]; }

}  // namespace

MotionVector MedianMvPredictor(MotionVector a, MotionVector b, MotionVector c) {
  return MotionVector{Median(a.x, b.x, c.x), Median(a.y, b.y, c.y)};
}

MotionVector PredictVector(const MacroblockInfo* mbs, int block, int mbNumber, int mbsPerRow) {
  const int row = mbNumber / mbsPerRow, col = mbNumber % mbsPerRow;
  const MacroblockInfo& self = mbs[mbNumber];
  auto neighbour = [&](int dr, int dc, int b) -> Candidate {
    const int r = row + dr, c = col + dc;
    if (r < 0 || c < 0 || c >= mbsPerRow) return Candidate{false, {0, 0}};
    const MacroblockInfo& n = mbs[r * mbsPerRow + c];
    if (n.packet != self.packet) return Candidate{false, {0, 0}};
    return Candidate{true, BlockVector(n, b)};
  };
  auto own = [&](int b) { return Candidate{true, self.vectors[b]}; };
  Candidate cand[3];
  switch (block) {
    case 0: cand[0] = neighbour(0, -1, 1); cand[1] = neighbour(-1, 0, 2); cand[2] = neighbour(-1, 1, 2); break;
    case 1: cand[0] = own(0); cand[1] = neighbour(-1, 0, 3); cand[2] = neighbour(-1, 1, 2); break;
    case 2: cand[0] = neighbour(0, -1, 3); cand[1] = own(0); cand[2] = own(1); break;
    case 3: cand[0] = own(2); cand[1] = own(0); cand[2] = own(1); break;
    default: cand[0] = neighbour(0, -1, 1); cand[1] = neighbour(-1, 0, 2); cand[2] = neighbour(-1, 1, 2); break;
  }
  int available = 0;
  for (const Candidate& c : cand) available += c.available ? 1 : 0;
  if (available == 0) return MotionVector{0, 0};
  if (available == 1)
    for (const Candidate& c : cand)
      if (c.available) return c.v;
  return MedianMvPredictor(cand[0].v, cand[1].v, cand[2].v);
}

MotionVector PredictH263Vector(const MacroblockInfo* mbs, int mbNumber, int mbsPerRow) {
  const int row = mbNumber / mbsPerRow, col = mbNumber % mbsPerRow;
  const int16_t packet = mbs[mbNumber].packet;
  auto inSegment = [&](int r, int c) { return r >= 0 && c >= 0 && c < mbsPerRow && mbs[r * mbsPerRow + c].packet == packet; };
  const MotionVector zero{0, 0};
  const MotionVector a = inSegment(row, col - 1) ? mbs[mbNumber - 1].vectors[0] : zero;
  // Above the segment both upper candidates equal the left one: the median is it.
  if (!inSegment(row - 1, col)) return a;
  const MotionVector b = mbs[mbNumber - mbsPerRow].vectors[0];
  const MotionVector c = col + 1 < mbsPerRow ? mbs[mbNumber - mbsPerRow + 1].vectors[0] : zero;
  return MedianMvPredictor(a, b, c);
}

void PredictMacroblockVectors(const MacroblockInfo* mbs, int mbNumber, int mbsPerRow, MotionVector out[4]) {
  if (mbs[mbNumber].fourVectors != 1) {
    out[0] = PredictVector(mbs, kWholeMacroblock, mbNumber, mbsPerRow);
    return;
  }
  for (int b = 0; b < 4; ++b) out[b] = PredictVector(mbs, b, mbNumber, mbsPerRow);
}

}  // namespace venc
