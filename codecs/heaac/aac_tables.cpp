#include "codecs/heaac/aac_tables.h"

#include <cmath>

namespace heaac {

const uint32_t kAacSampleRates[12] = {96000, 88200, 64000, 48000, 44100, 32000,
                                      24000, 22050, 16000, 12000, 11025, 8000};

const uint8_t kNumSwbLong[12] = {41, 41, 47, 49, 49, 51, 47, 47, 43, 43, 43, 40};
const uint8_t kNumSwbShort[12] = {12, 12, 12, 14, 14, 14, 15, 15, 15, 15, 15, 15};

namespace {

// ISO/IEC 14496-3 table 4.129 (96 and 88.2 kHz, long).
const uint16_t kSwbLong96[42] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  44,  48,  52,
                                 56,  64,  72,  80,  88,  96,  108, 120, 132, 144, 156, 172, 188, 212,
                                 240, 276, 320, 384, 448, 512, 576, 640, 704, 768, 832, 896, 960, 1024};
const uint16_t kSwbShort96[13] = {0, 4, 8, 12, 16, 20, 24, 32, 40, 48, 64, 92, 128};
// 64 kHz, long (short as 96 kHz).
const uint16_t kSwbLong64[48] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  44,
                                 48,  52,  56,  64,  72,  80,  88,  100, 112, 124, 140, 156,
                                 172, 192, 216, 240, 268, 304, 344, 384, 424, 464, 504, 544,
                                 584, 624, 664, 704, 744, 784, 824, 864, 904, 944, 984, 1024};
// 48 and 44.1 kHz (long 49 bands), 32 kHz (51 bands; the same up to 928).
const uint16_t kSwbLong48[50] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  48,  56,
                                 64,  72,  80,  88,  96,  108, 120, 132, 144, 160, 176, 196, 216,
                                 240, 264, 292, 320, 352, 384, 416, 448, 480, 512, 544, 576, 608,
                                 640, 672, 704, 736, 768, 800, 832, 864, 896, 928, 1024};
const uint16_t kSwbLong32[52] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  48,  56,
                                 64,  72,  80,  88,  96,  108, 120, 132, 144, 160, 176, 196, 216,
                                 240, 264, 292, 320, 352, 384, 416, 448, 480, 512, 544, 576, 608,
                                 640, 672, 704, 736, 768, 800, 832, 864, 896, 928, 960, 992, 1024};
const uint16_t kSwbShort48[15] = {0, 4, 8, 12, 16, 20, 28, 36, 44, 56, 68, 80, 96, 112, 128};
// 24 and 22.05 kHz.
const uint16_t kSwbLong24[48] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  44,
                                 52,  60,  68,  76,  84,  92,  100, 108, 116, 124, 136, 148,
                                 160, 172, 188, 204, 220, 240, 260, 284, 308, 336, 364, 396,
                                 432, 468, 508, 552, 600, 652, 704, 768, 832, 896, 960, 1024};
const uint16_t kSwbShort24[16] = {0, 4, 8, 12, 16, 20, 24, 28, 36, 44, 52, 64, 76, 92, 108, 128};
// 16, 12 and 11.025 kHz.
const uint16_t kSwbLong16[44] = {0,   8,   16,  24,  32,  40,  48,  56,  64,  72,  80,
                                 88,  100, 112, 124, 136, 148, 160, 172, 184, 196, 212,
                                 228, 244, 260, 280, 300, 320, 344, 368, 396, 424, 456,
                                 492, 532, 572, 616, 664, 716, 772, 832, 896, 960, 1024};
const uint16_t kSwbShort16[16] = {0, 4, 8, 12, 16, 20, 24, 28, 32, 40, 48, 60, 72, 88, 108, 128};
// 8 kHz.
const uint16_t kSwbLong8[41] = {0,   12,  24,  36,  48,  60,  72,  84,  96,  108, 120, 132, 144, 156,
                                172, 188, 204, 220, 236, 252, 268, 288, 308, 328, 348, 372, 396, 420,
                                448, 476, 508, 544, 580, 620, 664, 712, 764, 820, 880, 944, 1024};
const uint16_t kSwbShort8[16] = {0, 4, 8, 12, 16, 20, 24, 28, 36, 44, 52, 60, 72, 88, 108, 128};

}  // namespace

const uint16_t* const kSwbOffsetLong[12] = {kSwbLong96, kSwbLong96, kSwbLong64, kSwbLong48,
                                            kSwbLong48, kSwbLong32, kSwbLong24, kSwbLong24,
                                            kSwbLong16, kSwbLong16, kSwbLong16, kSwbLong8};
const uint16_t* const kSwbOffsetShort[12] = {kSwbShort96, kSwbShort96, kSwbShort96, kSwbShort48,
                                             kSwbShort48, kSwbShort48, kSwbShort24, kSwbShort24,
                                             kSwbShort16, kSwbShort16, kSwbShort16, kSwbShort8};

const uint8_t kTnsMaxBandsLong[12] = {31, 31, 34, 40, 42, 51, 46, 46, 42, 42, 42, 39};
const uint8_t kTnsMaxBandsShort[12] = {9, 9, 10, 14, 14, 14, 14, 14, 14, 14, 14, 14};

const int32_t kLtpCoefQ30[8] = {612922972, 747985734, 872956398, 978505219,
                                1057528322, 1146642451, 1282693057, 1470524861};

const int32_t kQuarterStepQ31[5] = {0x7FFFFFFF, 1805811300, 1518500290, 1276901507, 0x7FFFFFFF};
const int32_t kQuarterStepQ30[4] = {1 << 30, 1276901417, 1518500250, 1805811301};

const int32_t kSqrtTableQ15[49] = {
    16384, 16888, 17378, 17854, 18318, 18770, 19212, 19644, 20066, 20480, 20886, 21283, 21674, 22058, 22435, 22806, 23170, 23530, 23884, 24232, 24576, 24915, 25249, 25580, 25905, 26227, 26545, 26859, 27170, 27477, 27780, 28081, 28378, 28672, 28963, 29251, 29537, 29819, 30099, 30377, 30652, 30924, 31194, 31462, 31727, 31991, 32252, 32511, 32768};

const uint8_t kLargeValueBits[32] = {0, 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4,
                                     5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5};

namespace {

int32_t Q31(double v) {
  double s = std::floor(v * 2147483648.0 + 0.5);
  if (s > 2147483647.0) s = 2147483647.0;
  if (s < -2147483648.0) s = -2147483648.0;
  return static_cast<int32_t>(s);
}

uint16_t Q15Window(double v) {
  double s = std::floor(v * 32768.0 + 0.5);
  return static_cast<uint16_t>(s > 32767.0 ? 32767.0 : s);
}

// Kaiser-Bessel-derived window, ISO/IEC 14496-3 4.6.11.3.2: rising half of a
// window of n samples (n/2 values) with parameter alpha.
void MakeKbd(uint16_t* out, int32_t* outQ31, int n, double alpha) {
  auto bessel0 = [](double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50; ++k) {
      term *= (x / 2.0 / k) * (x / 2.0 / k);
      sum += term;
    }
    return sum;
  };
  const int half = n / 2;
  double w[1025];
  double total = 0.0;
  for (int k = 0; k <= half; ++k) {
    double r = 2.0 * k / half - 1.0;
    w[k] = bessel0(M_PI * alpha * std::sqrt(1.0 - r * r));
    total += w[k];
  }
  double acc = 0.0;
  for (int k = 0; k < half; ++k) {
    acc += w[k];
    out[k] = Q15Window(std::sqrt(acc / total));
    outQ31[k] = Q31(std::sqrt(acc / total));
  }
}

AacComputedTables BuildTables() {
  AacComputedTables t{};
  for (int i = 0; i <= 256; ++i) t.power43[i] = static_cast<int32_t>(std::floor(std::pow(i, 4.0 / 3.0) * 524288.0));
  for (int e = 0; e < 6; ++e) t.octavePower43[e] = std::llround(std::pow(2.0, 4.0 * e / 3.0) * 67108864.0);
  for (int n = 0; n < 1024; ++n) {
    t.sineLong[n] = Q15Window(std::sin(M_PI * (n + 0.5) / 2048.0));
    t.sineLongQ31[n] = Q31(std::sin(M_PI * (n + 0.5) / 2048.0));
  }
  for (int n = 0; n < 128; ++n) {
    t.sineShort[n] = Q15Window(std::sin(M_PI * (n + 0.5) / 256.0));
    t.sineShortQ31[n] = Q31(std::sin(M_PI * (n + 0.5) / 256.0));
  }
  MakeKbd(t.kbdLong, t.kbdLongQ31, 2048, 4.0);
  MakeKbd(t.kbdShort, t.kbdShortQ31, 256, 6.0);
  for (int k = 0; k < 512; ++k) {
    t.twiddleLong[k][0] = Q31(std::cos(2.0 * M_PI * (k + 0.125) / 2048.0));
    t.twiddleLong[k][1] = Q31(std::sin(2.0 * M_PI * (k + 0.125) / 2048.0));
  }
  for (int k = 0; k < 64; ++k) {
    t.twiddleShort[k][0] = Q31(std::cos(2.0 * M_PI * (k + 0.125) / 256.0));
    t.twiddleShort[k][1] = Q31(std::sin(2.0 * M_PI * (k + 0.125) / 256.0));
  }
  for (int k = 0; k < 256; ++k) {
    t.fftCos[k] = Q31(std::cos(2.0 * M_PI * k / 512.0));
    t.fftSin[k] = Q31(std::sin(2.0 * M_PI * k / 512.0));
  }
  for (int len = 8; len <= 512; len <<= 1) {
    for (int k = 0; k < len / 2; ++k) {
      t.fftPassTwiddle[len / 2 + k][0] = t.fftCos[k * (512 / len)];
      t.fftPassTwiddle[len / 2 + k][1] = t.fftSin[k * (512 / len)];
    }
  }
  for (int n = 0; n < 1024; ++n) {
    t.sineLongFallQ31[n] = t.sineLongQ31[1023 - n];
    t.kbdLongFallQ31[n] = t.kbdLongQ31[1023 - n];
  }
  // TNS, ISO/IEC 14496-3 4.6.9.3: iqfac = ((1 << (res-1)) +- 0.5) / (pi/2).
  for (int res = 0; res < 2; ++res) {
    const int bits = res + 3;
    const double iqfac = ((1 << (bits - 1)) - 0.5) / (M_PI / 2.0);
    const double iqfacM = ((1 << (bits - 1)) + 0.5) / (M_PI / 2.0);
    for (int idx = 0; idx < 16; ++idx) {
      // idx is the 4-bit two's-complement index value (sign extended by bits).
      int v = idx >= 8 ? idx - 16 : idx;
      double c = v >= 0 ? std::sin(v / iqfac) : std::sin(v / iqfacM);
      t.tnsCoef[res][idx] = static_cast<int32_t>(std::floor(c * 16777216.0 + 0.5));
    }
  }
  for (int k = 0; k < 74; ++k) {
    double g = std::floor(std::pow(2.0, k / 6.0) * 262144.0);
    t.drcGain[k] = static_cast<int32_t>(g > 2147483647.0 ? 2147483647.0 : g);
  }
  for (int i = 0; i < 64; ++i) t.noiseAmp[i] = static_cast<int32_t>(922333504.0 * std::sqrt(4.0 / (4.0 * (i + 1))));
  for (int i = 0; i < 512; ++i) {
    int r = 0;
    for (int b = 0; b < 9; ++b) r |= ((i >> b) & 1) << (8 - b);
    t.bitReverse9[i] = static_cast<uint16_t>(r);
  }
  for (int i = 0; i < 64; ++i) {
    int r = 0;
    for (int b = 0; b < 6; ++b) r |= ((i >> b) & 1) << (5 - b);
    t.bitReverse6[i] = static_cast<uint16_t>(r);
  }
  return t;
}

}  // namespace

const AacComputedTables& GetAacTables() {
  static const AacComputedTables tables = BuildTables();
  return tables;
}

}  // namespace heaac
