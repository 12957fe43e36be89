#include "encoders/common/zero_motion.h"

namespace venc {

void EstimateZeroMotion(const EncoderFrame& current, const EncoderFrame& reference, int mbsPerRow, int mbRows,
                        MacroblockInfo* mbs) {
  const ptrdiff_t stride = current.lumaStride();
  for (int mby = 0; mby < mbRows; ++mby) {
    for (int mbx = 0; mbx < mbsPerRow; ++mbx) {
      const uint8_t* c = current.lumaOrigin() + mby * 16 * stride + mbx * 16;
      const uint8_t* r = reference.lumaOrigin() + mby * 16 * stride + mbx * 16;
      uint32_t sad = 0;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          const int d = c[y * stride + x] - r[y * stride + x];
          sad += static_cast<uint32_t>(d < 0 ? -d : d);
        }
      MacroblockInfo& mb = mbs[mby * mbsPerRow + mbx];
      for (MotionVector& v : mb.vectors) v = MotionVector{0, 0};
      mb.inter = 1;
      mb.fourVectors = 0;
      mb.activity = sad == 0 ? 1 : sad;
      mb.zeroVectorSad = sad;
    }
  }
}

void CompensateZeroMotion(EncoderFrame& current, const EncoderFrame& reference, int mbx, int mby, int16_t* blocks,
                          int32_t sad[6]) {
  const ptrdiff_t ls = current.lumaStride(), cs = current.chromaStride();
  uint8_t* cy = current.lumaOrigin() + mby * 16 * ls + mbx * 16;
  const uint8_t* ry = reference.lumaOrigin() + mby * 16 * ls + mbx * 16;
  uint8_t* cur[6] = {cy, cy + 8, cy + 8 * ls, cy + 8 * ls + 8, current.uOrigin() + mby * 8 * cs + mbx * 8,
                     current.vOrigin() + mby * 8 * cs + mbx * 8};
  const uint8_t* ref[6] = {ry, ry + 8, ry + 8 * ls, ry + 8 * ls + 8, reference.uOrigin() + mby * 8 * cs + mbx * 8,
                           reference.vOrigin() + mby * 8 * cs + mbx * 8};
  for (int b = 0; b < 6; ++b) {
    const ptrdiff_t stride = b < 4 ? ls : cs;
    int16_t* blk = blocks + 64 * b;
    int32_t sum = 0;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        const int d = cur[b][y * stride + x] - ref[b][y * stride + x];
        blk[8 * y + x] = static_cast<int16_t>(d);
        sum += d < 0 ? -d : d;
        cur[b][y * stride + x] = ref[b][y * stride + x];
      }
    sad[b] = sum;
  }
}

}  // namespace venc
