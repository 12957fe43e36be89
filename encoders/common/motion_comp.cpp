#include "encoders/common/motion_comp.h"

namespace venc {
namespace {

// One 8x8 block at (x, y) of a plane whose top-left picture sample is at
// `refOrigin` / `curOrigin`, with vector (vx, vy) in half samples.
int32_t PredictBlock(const MotionDsp& dsp, const uint8_t* refOrigin, uint8_t* curOrigin, ptrdiff_t stride,
                     int16_t* residual, MotionVector v, int x, int y) {
  const uint8_t* ref = refOrigin + (y + (v.y >> 1)) * stride + x + (v.x >> 1);
  uint8_t* cur = curOrigin + y * stride + x;
  return dsp.predict[(v.x & 1) + 2 * (v.y & 1)](ref, cur, residual, stride);
}

}  // namespace

int ChromaVectorComponent(int s) {
  const int a = s < 0 ? -s : s;
  const int c = (a & 8) ? (a + 2) >> 3 : (a + 5) >> 3;
  return s < 0 ? -c : c;
}

void CompensateMacroblock(const MotionDsp& dsp, const EncoderFrame& reference, EncoderFrame& current, int x, int y,
                          const MacroblockInfo& mb, int16_t* blocks, int32_t sad[6]) {
  const ptrdiff_t ls = current.lumaStride(), cs = current.chromaStride();
  int sx = 0, sy = 0;
  for (int k = 0; k < 4; ++k) {
    const int bx = x + 8 * (k & 1), by = y + 8 * (k >> 1);
    sad[k] = PredictBlock(dsp, reference.lumaOrigin(), current.lumaOrigin(), ls, blocks + 64 * k, mb.vectors[k], bx,
                          by);
    sx += mb.vectors[k].x;
    sy += mb.vectors[k].y;
  }
  const MotionVector c{static_cast<int16_t>(ChromaVectorComponent(sx)),
                       static_cast<int16_t>(ChromaVectorComponent(sy))};
  sad[4] = PredictBlock(dsp, reference.uOrigin(), current.uOrigin(), cs, blocks + 256, c, x / 2, y / 2);
  sad[5] = PredictBlock(dsp, reference.vOrigin(), current.vOrigin(), cs, blocks + 320, c, x / 2, y / 2);
}

void LoadIntraMacroblock(const EncoderFrame& f, int mbx, int mby, int16_t* blocks) {
  const ptrdiff_t ls = f.lumaStride(), cs = f.chromaStride();
  const uint8_t* y = f.lumaOrigin() + mby * 16 * ls + mbx * 16;
  const uint8_t* u = f.uOrigin() + mby * 8 * cs + mbx * 8;
  const uint8_t* v = f.vOrigin() + mby * 8 * cs + mbx * 8;
  const uint8_t* src[6] = {y, y + 8, y + 8 * ls, y + 8 * ls + 8, u, v};
  for (int b = 0; b < 6; ++b) {
    const ptrdiff_t stride = b < 4 ? ls : cs;
    int16_t* blk = blocks + 64 * b;
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) blk[8 * r + c] = src[b][r * stride + c];
  }
}

}  // namespace venc
