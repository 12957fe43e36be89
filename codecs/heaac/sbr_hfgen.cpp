// SBR HF generation, low-power variant (ISO/IEC 14496-3 4.6.18.6): real
// second-order linear prediction of each low subband, chirp factors from the
// inverse filtering modes, the degree of aliasing of each subband, and the
// patching of the whitened low band into the high band.
#include <algorithm>

#include "codecs/heaac/fx_math.h"
#include "codecs/heaac/sbr.h"

namespace heaac {
namespace {

__extension__ typedef __int128 I128;

constexpr int32_t kOneQ28 = 1 << 28;
constexpr int32_t kOneQ30 = 1 << 30;

struct Covariance {
  int64_t phi01, phi02, phi11, phi12, phi22;
};

// The covariance terms of one subband's 40 columns, with the samples
// normalised to 28 bits so that every sum fits in 64 bits.
Covariance ComputeCovariance(const int32_t* x) {
  uint32_t bits = 0;
  for (int n = 0; n < kSbrMatrixColumns; ++n) {
    const int32_t v = x[n];
    bits |= v == INT32_MIN ? 0x7FFFFFFFu : static_cast<uint32_t>(v < 0 ? -v : v);
  }
  const int shift = bits == 0 ? 0 : 4 - __builtin_clz(bits);  // top bit at 27
  int32_t s[kSbrMatrixColumns];
  for (int n = 0; n < kSbrMatrixColumns; ++n) s[n] = shift >= 0 ? x[n] >> shift : x[n] * (1 << -shift);
  Covariance c{};
  for (int n = 2; n < kSbrMatrixColumns; ++n) {
    c.phi01 += static_cast<int64_t>(s[n]) * s[n - 1];
    c.phi02 += static_cast<int64_t>(s[n]) * s[n - 2];
    c.phi11 += static_cast<int64_t>(s[n - 1]) * s[n - 1];
    c.phi12 += static_cast<int64_t>(s[n - 1]) * s[n - 2];
    c.phi22 += static_cast<int64_t>(s[n - 2]) * s[n - 2];
  }
  return c;
}

int64_t Magnitude(int64_t v) { return v < 0 ? -v : v; }

// Prediction coefficients (Q28) and reflection coefficient (Q30) of one
// subband.
void ComputeLpc(const int32_t* x, int32_t* alpha0, int32_t* alpha1, int32_t* r) {
  Covariance c = ComputeCovariance(x);
  // Bring the terms below 2^47 so that the quotients below fit in 128 bits.
  const int64_t largest =
      std::max({Magnitude(c.phi01), Magnitude(c.phi02), c.phi11, Magnitude(c.phi12), c.phi22});
  const int shift = largest >= (int64_t{1} << 46) ? 64 - __builtin_clzll(static_cast<uint64_t>(largest)) - 46 : 0;
  c.phi01 >>= shift;
  c.phi02 >>= shift;
  c.phi11 >>= shift;
  c.phi12 >>= shift;
  c.phi22 >>= shift;
  const I128 det = static_cast<I128>(c.phi11) * c.phi22 - static_cast<I128>(c.phi12) * c.phi12;
  I128 a1 = 0;
  if (det != 0) {
    const I128 num = static_cast<I128>(c.phi01) * c.phi12 - static_cast<I128>(c.phi02) * c.phi11;
    a1 = (num * kOneQ28) / det;
  }
  I128 a0 = 0;
  int32_t refl = 0;
  if (c.phi11 != 0) {
    const I128 limit = static_cast<I128>(8) * kOneQ28;
    const I128 a1c = std::clamp(a1, -limit, limit);
    a0 = -(static_cast<I128>(c.phi01) * kOneQ28 + a1c * c.phi12) / c.phi11;
    I128 rr = -(static_cast<I128>(c.phi01) * kOneQ30) / c.phi11;
    refl = static_cast<int32_t>(std::clamp<I128>(rr, -kOneQ30, kOneQ30));
  }
  const I128 four = static_cast<I128>(4) * kOneQ28;
  if (a0 >= four || a0 <= -four || a1 >= four || a1 <= -four) {
    a0 = 0;
    a1 = 0;
  }
  *alpha0 = static_cast<int32_t>(a0);
  *alpha1 = static_cast<int32_t>(a1);
  *r = refl;
}

// 1 - r^2 in Q30.
int32_t OneMinusSquare(int32_t r) {
  return kOneQ30 - static_cast<int32_t>((static_cast<int64_t>(r) * r) >> 30);
}

void ComputeAliasingDegree(const int32_t* r, int32_t* deg, int k0) {
  deg[0] = 0;
  if (k0 > 1) deg[1] = 0;
  for (int k = 2; k < k0; ++k) {
    deg[k] = 0;
    const int sign = (k & 1) ? 1 : -1;  // the sign r[k] must have
    if ((sign > 0 && r[k] > 0) || (sign < 0 && r[k] < 0)) {
      const bool prevSame = sign > 0 ? r[k - 1] > 0 : r[k - 1] < 0;
      const bool prev2Opposite = sign > 0 ? r[k - 2] < 0 : r[k - 2] > 0;
      if (prevSame) {
        deg[k] = kOneQ30;
        if (prev2Opposite) deg[k - 1] = OneMinusSquare(r[k - 1]);
      } else if (prev2Opposite) {
        deg[k] = OneMinusSquare(r[k - 1]);
      }
    }
  }
}

}  // namespace

void UpdateSbrChirp(SbrChannel* ch, const uint8_t* invfMode, int16_t* chirp) {
  for (int i = 0; i < ch->nQ; ++i) {
    const int mode = invfMode[i];
    const int prevMode = ch->prevInvfMode[i];
    int32_t target;
    switch (mode) {
      case 0:
        target = prevMode == 1 ? 19660 : 0;
        break;
      case 1:
        target = prevMode == 0 ? 19660 : 24576;
        break;
      case 2:
        target = 29491;
        break;
      default:
        target = 32112;
        break;
    }
    const int32_t prev = ch->prevChirp[i];
    // A falling target is approached faster than a rising one.
    int32_t bw = target < prev ? (3 * target + prev) >> 2 : (29696 * target + 3072 * prev) >> 15;
    if (bw < 512) bw = 0;
    chirp[i] = static_cast<int16_t>(bw);
    ch->prevChirp[i] = static_cast<int16_t>(bw);
    ch->prevInvfMode[i] = static_cast<uint8_t>(mode);
  }
}

void GenerateSbrHighBand(SbrChannel* ch, const SbrFrameData& fd, int32_t* matrix, int32_t* work,
                         int32_t* degreeOut) {
  int32_t* alpha0 = work;
  int32_t* alpha1 = work + 64;
  int32_t* refl = work + 128;
  int32_t deg[64];
  const int k0 = std::min<int>(ch->fMaster[0], 64);
  for (int k = 0; k < 64; ++k) alpha0[k] = alpha1[k] = refl[k] = deg[k] = 0;
  for (int k = 1; k < k0; ++k) ComputeLpc(matrix + k * kSbrMatrixColumns, &alpha0[k], &alpha1[k], &refl[k]);
  ComputeAliasingDegree(refl, deg, k0);
  int16_t chirp[kSbrMaxNoiseBands];
  UpdateSbrChirp(ch, fd.invfMode, chirp);
  const int kx = SbrKx(*ch);
  const int k2 = ch->k2;
  const int first = 2 * fd.tE[0] + 2;
  const int last = 2 * fd.tE[fd.numEnvelopes] + 1;
  for (int m = 0; m < kSbrMaxBands; ++m) degreeOut[m] = 0;
  int t = kx;
  for (int p = 0; p < ch->numPatches && t < k2; ++p) {
    for (int x = 0; x < ch->patchWidth[p] && t < k2; ++x, ++t) {
      const int s = std::min(ch->patchStart[p] + x, 63);
      const int32_t bw = chirp[ch->noiseBandOf[t - kx]];
      const int32_t a0 = static_cast<int32_t>((static_cast<int64_t>(alpha0[s]) * bw) >> 15);
      const int32_t a1 = static_cast<int32_t>((((static_cast<int64_t>(alpha1[s]) * bw) >> 15) * bw) >> 15);
      const int32_t* src = matrix + s * kSbrMatrixColumns;
      int32_t* dst = matrix + t * kSbrMatrixColumns;
      for (int c = first; c <= last; ++c) {
        const int64_t pred = static_cast<int64_t>(src[c - 1]) * a0 + static_cast<int64_t>(src[c - 2]) * a1;
        dst[c] = FxSat32(src[c] + (pred >> 28));
      }
      degreeOut[t - kx] = x == 0 ? 0 : deg[s];
    }
  }
}

}  // namespace heaac
