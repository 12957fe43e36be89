#include "imageproc/scale_dsp.h"

#include <algorithm>
#include <utility>

#include "platform/cpu/cpu.h"

namespace imageproc {

bool MakeTapPlan(TapPlan& plan, const int32_t* left, const int32_t* right, const uint8_t* frac, int n,
                 int64_t readable) {
  plan.groups = (n + 7) / 8;
  plan.fitting = 0;
  plan.wideFitting = 0;
  for (int g = 0; g < plan.groups; ++g) {
    const int first = 8 * g, last = (n - first < 8 ? n : first + 8) - 1;
    int32_t base = left[first], reach = 0;  // furthest right tap from base
    bool bad = false, adjacent = true;
    for (int k = 0; k < 8; ++k) {
      const int c = first + k < last ? first + k : last;  // the last column again past the end
      const int32_t l = left[c] - base, r = right[c] - base;
      bad |= l < 0 || r < l;
      adjacent &= r == l + 1;
      reach = r > reach ? r : reach;
      plan.pick[g][2 * k] = static_cast<uint8_t>(l);
      plan.pick[g][2 * k + 1] = static_cast<uint8_t>(r);
      plan.weight[g][2 * k] = static_cast<uint8_t>(8 - frac[c]);
      plan.weight[g][2 * k + 1] = frac[c];
    }
    if (bad || reach > 255) return false;
    // A group near the end of the row is fetched from the last 16 samples.
    if (reach < 16 && base + 16 > readable && readable >= 16) {
      const int32_t back = base - static_cast<int32_t>(readable - 16);
      for (uint8_t& p : plan.pick[g]) p = static_cast<uint8_t>(p + back);
      reach += back;
      base -= back;
    }
    // An odd group within 8 to 24 samples of the group before's base is
    // fetched with it.
    const int32_t near = g & 1 ? plan.base[g - 1] + 8 : 0;
    if (g & 1 && plan.fits[g - 1] && base >= near && base + reach < near + 16 && near + 24 <= readable) {
      for (uint8_t& p : plan.pick[g]) p = static_cast<uint8_t>(p + (base - near));
      reach += base - near;
      base = near;
    }
    plan.base[g] = base;
    plan.adjacent[g] = adjacent;
    plan.wide[g] = 0;
    if (g & 1) {
      plan.wide[g - 1] = base == plan.base[g - 1] + 8 && plan.base[g - 1] + 32 <= readable;
      if (plan.wide[g - 1] && plan.wideFitting == g - 1) plan.wideFitting = g + 1;
    }
    plan.fits[g] = reach < 16 && base + 16 <= readable;
    if (plan.fits[g] && plan.fitting == g) plan.fitting = g + 1;
  }
  return true;
}

void MakeTapQuads(TapQuads& quads, TapPlan& plan, const int32_t* left, const int32_t* right, int n,
                  int64_t readable) {
  const int count = (plan.groups + 3) / 4;
  for (int g = plan.groups; g < 4 * count; ++g) std::fill_n(plan.weight[g], 16, uint8_t{0});
  quads.fitting = 0;
  for (int q = 0; q < count; ++q) {
    const int first = 32 * q;
    int32_t base = left[first], reach = 0;
    for (int k = 0; k < 32; ++k) reach = std::max(reach, right[std::min(first + k, n - 1)]);
    // A quad near the end of the row is fetched from the last 64 samples.
    if (base + 64 > readable && readable >= 64) base = std::min(base, static_cast<int32_t>(readable - 64));
    quads.base[q] = base;
    if (reach - base >= 64 || base + 64 > readable) break;
    for (int k = 0; k < 32; ++k) {
      const int c = std::min(first + k, n - 1);  // the last column again past the end
      quads.pick[q][2 * k] = static_cast<uint8_t>(left[c] - base);
      quads.pick[q][2 * k + 1] = static_cast<uint8_t>(right[c] - base);
    }
    quads.fitting = q + 1;
  }
}

RowPair NextRowPair(const RowPair& before, int32_t top, int32_t bottom, int fy) {
  if (fy == 0) bottom = top;
  const auto topFrom = top == before.top ? RowPair::kKeep : top == before.bottom ? RowPair::kShift : RowPair::kBlend;
  const auto bottomFrom = bottom == before.bottom ? RowPair::kKeep : bottom == top ? RowPair::kShift : RowPair::kBlend;
  return {top, bottom, static_cast<uint8_t>(fy), topFrom, bottomFrom};
}

void MakeBandTaps(BandTaps& taps, const TapPlan& plan, int n) {
  const int groups = plan.groups;
  taps.blocks = (groups + 3) / 4;
  taps.wholeBlocks = n / 32;
  const bool tail = taps.wholeBlocks < taps.blocks && n == 8 * groups && groups >= 4;
  if (tail) taps.wholeBlocks = taps.blocks;
  for (int b = 0; b < taps.blocks; ++b) {
    const int first = tail && b == taps.blocks - 1 ? groups - 4 : 4 * b;
    taps.column[b] = 8 * first;
    for (int k = 0; k < 2; ++k) {
      const int p = 2 * b + k;
      const int g0 = std::min(first + k, groups - 1), g1 = std::min(first + k + 2, groups - 1);
      std::copy_n(plan.pick[g0], 16, taps.pick[p]);
      std::copy_n(plan.pick[g1], 16, taps.pick[p] + 16);
      taps.base[p][0] = plan.base[g0];
      taps.base[p][1] = plan.base[g1];
      for (int m = 0; m <= 8; ++m) {
        for (int i = 0; i < 16; ++i) {
          taps.weight[m][p][i] = static_cast<uint8_t>(m * plan.weight[g0][i]);
          taps.weight[m][p][16 + i] = static_cast<uint8_t>(m * plan.weight[g1][i]);
        }
      }
    }
  }
}

namespace {

// The kernel's view of a band's output rows.
void ShapeBand(Band& band) {
  band.stair = band.outputs == band.rowCount - 1;
  for (int k = 0; k < band.outputs; ++k) {
    const int t = band.top[k];
    int pair = t, upper = 8 - band.fy[k], lower = band.fy[k];
    if (!band.below[k]) {
      // The row alone: with the next row, or the one before the band's last.
      upper = 8;
      lower = 0;
      if (t + 1 >= band.rowCount && t > 0) {
        pair = t - 1;
        std::swap(upper, lower);
      }
    }
    band.pair[k] = static_cast<uint8_t>(pair);
    band.upper[k] = static_cast<uint8_t>(upper);
    band.lower[k] = static_cast<uint8_t>(lower);
    band.stair &= pair == k;
  }
}

}  // namespace

void AddBandRow(std::vector<Band>& bands, int32_t row, int32_t top, int32_t bottom, int fy) {
  if (fy == 0) bottom = top;
  const int below = bottom != top;
  if (!bands.empty() && bands.back().outputs < kBandOutputs) {
    Band& band = bands.back();
    // The upper row: one the band holds, or the next after its last.
    int t = 0;
    while (t < band.rowCount && band.rows[t] != top) ++t;
    const bool fresh = t == band.rowCount;
    bool fits = !fresh || top > band.rows[band.rowCount - 1];
    int count = fresh ? t + 1 : band.rowCount;
    if (below && fits) {
      if (t + 1 < count) {
        fits = band.rows[t + 1] == bottom;
      } else {
        ++count;
      }
    }
    if (fits && count <= kBandRows) {
      band.rows[t] = top;
      if (below) band.rows[t + 1] = bottom;
      band.rowCount = static_cast<uint8_t>(count);
      band.top[band.outputs] = static_cast<uint8_t>(t);
      band.below[band.outputs] = static_cast<uint8_t>(below);
      band.fy[band.outputs] = static_cast<uint8_t>(fy);
      ++band.outputs;
      ShapeBand(band);
      return;
    }
  }
  Band band{};
  band.first = row;
  band.rows[0] = top;
  band.rows[1] = bottom;
  band.rowCount = static_cast<uint8_t>(1 + below);
  band.outputs = 1;
  band.below[0] = static_cast<uint8_t>(below);
  band.fy[0] = static_cast<uint8_t>(fy);
  ShapeBand(band);
  bands.push_back(band);
}

void scale_horizontal_c(uint16_t* const* dst, const uint8_t* const* src, int rows, const TapPlan& plan) {
  for (int g = 0; g < plan.groups; ++g) {
    const uint8_t* pick = plan.pick[g];
    const uint8_t* w = plan.weight[g];
    for (int i = 0; i < rows; ++i) {
      const uint8_t* s = src[i] + plan.base[g];
      uint16_t* d = dst[i] + 8 * g;
      for (int k = 0; k < 8; ++k) {
        // (8 - fx) a + fx b, as 8 a + fx (b - a).
        const int a = s[pick[2 * k]], b = s[pick[2 * k + 1]];
        d[k] = static_cast<uint16_t>(8 * a + w[2 * k + 1] * (b - a));
      }
    }
  }
}

void scale_vertical_c(uint8_t* dst, const uint16_t* top, const uint16_t* bottom, int fy, ptrdiff_t n) {
  if (fy == 0) {
    for (ptrdiff_t j = 0; j < n; ++j) dst[j] = static_cast<uint8_t>(top[j] >> 3);
    return;
  }
  for (ptrdiff_t j = 0; j < n; ++j) dst[j] = static_cast<uint8_t>(((8 - fy) * top[j] + fy * bottom[j]) >> 6);
}

void rgb565_unpack_c(uint8_t* r, uint8_t* g, uint8_t* b, const uint16_t* src, ptrdiff_t n) {
  for (ptrdiff_t j = 0; j < n; ++j) {
    r[j] = static_cast<uint8_t>(src[j] >> 11);
    g[j] = static_cast<uint8_t>((src[j] >> 5) & 63);
    b[j] = static_cast<uint8_t>(src[j] & 31);
  }
}

void rgb565_pack_c(uint16_t* dst, const uint8_t* r, const uint8_t* g, const uint8_t* b, ptrdiff_t n) {
  for (ptrdiff_t j = 0; j < n; ++j) dst[j] = static_cast<uint16_t>((r[j] << 11) | (g[j] << 5) | b[j]);
}

void init_scale_dsp(ScaleDsp& dsp, uint32_t cpuFlags) {
  dsp.horizontal = scale_horizontal_c;
  dsp.vertical = scale_vertical_c;
  dsp.columns = nullptr;
  dsp.bands = nullptr;
  dsp.columnsFirst = true;
  dsp.unpack565 = rgb565_unpack_c;
  dsp.pack565 = rgb565_pack_c;
#if !defined(OVMIX_NO_SIMD) && defined(__x86_64__)
  if (cpuFlags & ov::kCpuSse2) {
    dsp.horizontal = scale_horizontal_sse2;
    dsp.columnsFirst = false;
    dsp.vertical = scale_vertical_sse2;
    dsp.unpack565 = rgb565_unpack_sse2;
    dsp.pack565 = rgb565_pack_sse2;
  }
  if (cpuFlags & ov::kCpuAvx2) {
    dsp.horizontal = scale_horizontal_avx2;
    dsp.vertical = scale_vertical_avx2;
    dsp.bands = scale_bands_avx2;
    dsp.unpack565 = rgb565_unpack_avx2;
    dsp.pack565 = rgb565_pack_avx2;
  }
  // The AVX2 horizontal blend stays: its 256-bit pairs of groups measured
  // faster than 512-bit quads where rows are blended one or two to a call.
  if (cpuFlags & ov::kCpuAvx512) {
    dsp.vertical = scale_vertical_avx512;
    dsp.columns = scale_columns_avx512;
  }
#else
  (void)cpuFlags;
#endif
}

}  // namespace imageproc
