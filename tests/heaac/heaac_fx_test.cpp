// Fixed-point helpers, tables and the worked values of the reconstruction
// stages, checked against formulas of ISO/IEC 14496-3.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "codecs/heaac/aac_bit_reader.h"
#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_huffman.h"
#include "codecs/heaac/aac_tables.h"
#include "codecs/heaac/fx_math.h"
#include "platform/cpu/cpu.h"
#include "tests/heaac/aac_test_util.h"

namespace heaac {
namespace {

// The kernels the decoder would choose on this machine.
const AacDsp& Dsp() {
  static const AacDsp dsp = [] {
    AacDsp d{};
    init_aac_dsp(d, ov::GetCpuFlags());
    return d;
  }();
  return dsp;
}

TEST(HeaacFx, HelpersWorkedValues) {
  EXPECT_EQ(FxNormShift(1), 30);
  EXPECT_EQ(FxNormShift(-1), 31);
  EXPECT_EQ(FxNormShift(0), 31);
  EXPECT_EQ(FxCountLeadingZeros(0), 32);
  EXPECT_EQ(FxCountLeadingZeros(1), 31);
  EXPECT_EQ(FxDivQ15(1, 2), 16384);
  EXPECT_EQ(FxDivQ15(0, 5), 0);
  EXPECT_EQ(FxDivQ15(7, 7), 0x7FFF);
  EXPECT_EQ(FxDivQ16(3, 3), 0xFFFF);
  EXPECT_EQ(FxShlSat(0x40000000, 1), INT32_MAX);
  EXPECT_EQ(FxShlSat(-0x40000001, 1), INT32_MIN);
  EXPECT_EQ(FxShlSat(-8, -40), -1);
  EXPECT_EQ(FxShlSat(3, 2), 12);
  EXPECT_EQ(FxShlSatU(0x80000000u, 1), 0xFFFFFFFFu);
  EXPECT_EQ(FxShrU(0xFFFFFFFFu, 32), 0u);
  EXPECT_EQ(FxShrRound(5, 1), 3);
  EXPECT_EQ(FxShrRound(-5, 1), -2);
  EXPECT_EQ(FxAddSat(INT32_MAX, 1), INT32_MAX);
  EXPECT_EQ(FxSubSat(INT32_MIN, 1), INT32_MIN);
  EXPECT_EQ(FxAddSatU(0xFFFFFFF0u, 0x20), 0xFFFFFFFFu);
  EXPECT_EQ(FxMulQ31(0x40000000, 0x40000000), 0x20000000);
  EXPECT_EQ(FxMulQ15(3 << 15, 5), 15);
  EXPECT_EQ(FxMulHigh(0x80000000u, 4u), 2u);
}

TEST(HeaacFx, SqrtAndReciprocalFollowTheirFormulas) {
  // sqrt(a / 2) within the table's interpolation error.
  for (int32_t a : {2, 100, 12345, 1 << 20, 0x12345678, 0x7FFFFFFF}) {
    const double want = std::sqrt(a / 2.0);
    EXPECT_NEAR(FxSqrt(a), want, want * 2e-3 + 1) << a;
  }
  EXPECT_EQ(FxSqrt(0), 0);
  EXPECT_EQ(FxSqrt(-4), 0);
  EXPECT_GE(FxReciprocal(0x40000000), 0x7FFFFF00);  // 2^31, saturated
  for (int32_t x : {0x40000001, 0x55555555, 0x7FFFFFFF}) {
    const double want = std::ldexp(1.0, 61) / x;
    EXPECT_NEAR(FxReciprocal(x), want, want * 1e-6) << x;
  }
}

TEST(HeaacTables, SpotValues) {
  const AacComputedTables& t = GetAacTables();
  EXPECT_EQ(t.power43[1], 524288);
  EXPECT_EQ(t.power43[256], 852229450);
  EXPECT_EQ(t.sineLong[0], 25);
  EXPECT_EQ(t.sineLong[1023], 32767);
  EXPECT_EQ(t.drcGain[6], 524287 + 1);  // 2^19
  EXPECT_EQ(kNumSwbLong[4], 49);
  EXPECT_EQ(kSwbOffsetLong[4][49], 1024);
  EXPECT_EQ(kSwbOffsetLong[5][51], 1024);
  EXPECT_EQ(kSwbOffsetShort[11][15], 128);
  // Every band table ends at the frame (or window) length.
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(kSwbOffsetLong[i][kNumSwbLong[i]], 1024) << i;
    EXPECT_EQ(kSwbOffsetShort[i][kNumSwbShort[i]], 128) << i;
  }
}

// Princen-Bradley: w(n)^2 + w(N-1-n)^2 = 1 for both window shapes, to the
// precision of the Q15 tables.
TEST(HeaacTables, WindowsArePowerComplementary) {
  const AacComputedTables& t = GetAacTables();
  struct Case {
    const uint16_t* w;
    int n;
  } cases[] = {{t.sineLong, 1024}, {t.kbdLong, 1024}, {t.sineShort, 128}, {t.kbdShort, 128}};
  for (const Case& c : cases) {
    for (int n = 0; n < c.n; ++n) {
      const double a = c.w[n] / 32768.0, b = c.w[c.n - 1 - n] / 32768.0;
      EXPECT_NEAR(a * a + b * b, 1.0, 1e-4) << n;
    }
  }
}

// Every code word of every codebook decodes back to its own index, followed
// by a marker that must still be in place.
TEST(HeaacHuffman, EveryCodeWordDecodesToItsIndex) {
  auto roundTrip = [](const uint32_t* codes, int count, int book) {
    for (int i = 0; i < count; ++i) {
      const int len = static_cast<int>(codes[i] >> 24);
      const uint64_t bits = (static_cast<uint64_t>(codes[i] & 0xFFFFFF) << (64 - len)) | (uint64_t{0xA5} << (56 - len));
      uint8_t buf[8];
      for (int k = 0; k < 8; ++k) buf[k] = static_cast<uint8_t>(bits >> (56 - 8 * k));
      AacBitReader r;
      AacStartBitReader(&r, buf, sizeof(buf));
      const int32_t got = book == 0 ? AacDecodeScaleFactor(&r) : AacDecodeSpectralIndex(&r, book);
      ASSERT_EQ(got, i) << "book " << book;
      ASSERT_EQ(AacGetBits(&r, 8), 0xA5u) << "book " << book << " index " << i;
    }
  };
  roundTrip(kScaleFactorCodes, 121, 0);
  for (int b = 1; b <= 11; ++b) roundTrip(kSpectralCodes[b - 1], kSpectralBooks[b].size, b);
}

// Book 11's escape: N ones, a zero, then N + 4 bits give 2^(N + 4) plus
// those bits, so N = 0 covers 16 to 31 and N = 8 reaches 8191; N = 9 is
// refused. The pair is (escape, 0): its code word, one sign bit, the escape.
TEST(HeaacHuffman, EscapeSequences) {
  struct Case {
    int n;
    uint32_t bits;
    uint32_t sign;
    bool ok;
    int32_t value;
  } cases[] = {{0, 0, 0, true, 16}, {0, 15, 1, true, -31}, {8, 0, 0, true, 4096}, {8, 4095, 1, true, -8191},
               {9, 0, 0, false, 0}};
  const uint32_t code = kSpectralCodes[10][16 * 17];
  for (const Case& c : cases) {
    aactest::BitWriter w;
    w.Put(code & 0xFFFFFF, static_cast<int>(code >> 24));
    w.Put(c.sign, 1);
    for (int i = 0; i < c.n; ++i) w.Put(1, 1);
    w.Put(0, 1);
    w.Put(c.bits, c.n + 4);
    w.Put(0xA5, 8);
    w.Align();
    w.Put(0, 32);
    AacBitReader r;
    AacStartBitReader(&r, w.bytes.data(), static_cast<uint32_t>(w.bytes.size()));
    int32_t out[2] = {};
    ASSERT_EQ(AacDecodeSpectralValues(&r, 11, out), c.ok) << c.n;
    if (!c.ok) continue;
    EXPECT_EQ(out[0], c.value) << c.n << " " << c.bits;
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(AacGetBits(&r, 8), 0xA5u) << "the whole escape is consumed";
  }
}

// A band of random code words of every book, with their sign bits and
// escapes, decodes to the values the code words stand for, and the band's
// peak is the largest magnitude among them: through the register path
// (bytes to spare after the band) and the reader path (the band ends the
// buffer).
TEST(HeaacHuffman, BandDecodingKeepsTheLargestMagnitude) {
  std::mt19937 rng(37);
  for (int book = 1; book <= 11; ++book) {
    const SpectralBook& d = kSpectralBooks[book];
    for (int trial = 0; trial < 40; ++trial) {
      const int words = 1 + static_cast<int>(rng() % 24);
      const int width = words * d.dimension;
      aactest::BitWriter w;
      std::vector<int32_t> expect;
      int32_t peak = 0;
      for (int k = 0; k < words; ++k) {
        // Mostly small indices, as quiet bands have; the whole book now and then.
        const int index = static_cast<int>(rng() % ((trial % 4) ? std::min<uint32_t>(d.size, 20) : d.size));
        const uint32_t code = kSpectralCodes[book - 1][index];
        w.Put(code & 0xFFFFFF, static_cast<int>(code >> 24));
        int v[4];
        if (d.dimension == 4) {
          const int digits[4] = {index / 27, (index / 9) % 3, (index / 3) % 3, index % 3};
          for (int i = 0; i < 4; ++i) v[i] = digits[i] - (d.isUnsigned ? 0 : 1);
        } else {
          v[0] = index / d.modulus - (d.isUnsigned ? 0 : d.largestAbs);
          v[1] = index % d.modulus - (d.isUnsigned ? 0 : d.largestAbs);
        }
        if (d.isUnsigned) {
          for (int i = 0; i < d.dimension; ++i) {
            if (v[i] == 0) continue;
            const uint32_t sign = rng() & 1;
            w.Put(sign, 1);
            if (sign) v[i] = -v[i];
          }
        }
        for (int i = 0; i < d.dimension; ++i) {
          if (book == 11 && (v[i] == 16 || v[i] == -16)) {
            const int n = static_cast<int>(rng() % 9);
            const uint32_t bits = rng() & ((1u << (n + 4)) - 1);
            for (int j = 0; j < n; ++j) w.Put(1, 1);
            w.Put(0, 1);
            w.Put(bits, n + 4);
            const int32_t value = (1 << (n + 4)) + static_cast<int32_t>(bits);
            v[i] = v[i] < 0 ? -value : value;
          }
          expect.push_back(v[i]);
          peak = std::max(peak, std::abs(v[i]));
        }
      }
      for (const bool spare : {true, false}) {
        aactest::BitWriter b = w;
        b.Align();
        for (int i = 0; spare && i < width + 2; ++i) b.Put(0, 32);
        AacBitReader r;
        AacStartBitReader(&r, b.bytes.data(), static_cast<uint32_t>(b.bytes.size()));
        std::vector<int32_t> out(static_cast<size_t>(width), 99);
        uint32_t got = 12345;
        ASSERT_TRUE(AacDecodeSpectralBand(&r, AacSpectralDecoder(book), out.data(), width, &got))
            << "book " << book << " trial " << trial;
        EXPECT_EQ(out, expect) << "book " << book << " trial " << trial << (spare ? "" : ", at the end");
        EXPECT_EQ(got, static_cast<uint32_t>(peak)) << "book " << book << " trial " << trial;
        EXPECT_EQ(r.bitsConsumed, w.pos) << "book " << book << " trial " << trial;
      }
    }
  }
}

TEST(HeaacBitReader, ReadsMsbFirstAndZeroPastTheEnd) {
  const uint8_t buf[3] = {0xA5, 0x0F, 0x80};
  AacBitReader r;
  AacStartBitReader(&r, buf, 3);
  EXPECT_EQ(AacGetBits(&r, 0), 0u);
  EXPECT_EQ(r.bitsConsumed, 0u);
  EXPECT_EQ(AacGetBits(&r, 4), 0xAu);
  EXPECT_EQ(AacGetBits(&r, 8), 0x50u);
  EXPECT_EQ(AacBytesUsed(&r), 2u);
  AacByteAlign(&r);
  EXPECT_EQ(r.bitsConsumed, 16u);
  EXPECT_EQ(AacGetBits(&r, 16), 0x8000u);  // zero bits past the end
  EXPECT_TRUE(AacReaderOverrun(&r));
}

IcsInfo LongIcs(int sf, int book) {
  IcsInfo ics{};
  ics.windowSequence = kOnlyLong;
  ics.numSwb = kNumSwbLong[4];
  ics.swbOffset = kSwbOffsetLong[4];
  ics.maxSfb = 1;
  ics.numGroups = 1;
  ics.groupLen[0] = 1;
  ics.codebook[0] = static_cast<uint8_t>(book);
  ics.scaleFactor[0] = static_cast<int16_t>(sf);
  return ics;
}

TEST(HeaacSpectral, InverseQuantisationWorkedValues) {
  std::vector<int32_t> spec(1024, 0);
  IcsInfo ics = LongIcs(164, 1);
  spec[0] = 1;
  spec[1] = -1;
  spec[2] = 256;
  InverseQuantize(Dsp(), ics, spec.data());
  EXPECT_EQ(spec[0], 524287);
  EXPECT_EQ(spec[1], -524287);
  // The large-value path agrees with the table entry for 256.
  EXPECT_NEAR(spec[2], GetAacTables().power43[256], GetAacTables().power43[256] * 1e-6);
  // Scale factors at 36 and below, or at 289 and above, silence the band;
  // codebooks 0, 13, 14 and 15 are left alone.
  for (int sf : {36, 289}) {
    ics = LongIcs(sf, 1);
    spec.assign(1024, 0);
    spec[0] = 5;
    InverseQuantize(Dsp(), ics, spec.data());
    EXPECT_EQ(spec[0], 0) << sf;
  }
  ics = LongIcs(200, 1);
  spec.assign(1024, 0);
  spec[0] = 8191;  // saturates instead of overflowing
  InverseQuantize(Dsp(), ics, spec.data());
  EXPECT_GT(spec[0], 0);
}

// Values from 256 up come from the table by interpolation: within 2 x 10^-8
// of |q|^(4/3) x 2^13 at scale factor 140, plus the rounding to units (a
// straight line between table entries would be off by up to 3.4 x 10^-6).
TEST(HeaacSpectral, LargeValuesFollowThePowerLaw) {
  std::vector<int32_t> spec(1024, 0);
  const IcsInfo ics = LongIcs(140, 11);
  for (int a = 256; a <= 8191; a += 3) {
    spec[0] = a;
    InverseQuantize(Dsp(), ics, spec.data());
    const double want = std::pow(a, 4.0 / 3.0) * 8192.0;
    ASSERT_NEAR(spec[0], want, want * 2e-8 + 2.0) << a;
  }
}

// Extra fractional bits scale the coefficients, rounded; the element's
// largest possible coefficient sets how many a channel gets.
TEST(HeaacSpectral, ExtraBitsFollowTheLargestCoefficient) {
  std::vector<int32_t> spec(1024, 0);
  IcsInfo ics = LongIcs(164, 1);
  spec[0] = 1;
  spec[1] = -1;
  ics.bandPeak[0] = 1;  // as the spectral decoder records it
  EXPECT_EQ(SpectrumPeakBits(ics, spec.data()), 19);  // 524287
  // Pulses raise values past the recorded peak: the band is scanned.
  ics.pulsePresent = 1;
  spec[3] = -15;
  EXPECT_EQ(SpectrumPeakBits(ics, spec.data()), 25);  // 15^(4/3) x 2^19 = 37 x 2^19
  ics.pulsePresent = 0;
  spec[3] = 0;
  EXPECT_EQ(SpectrumExtraBits(19, 0), kSpectrumPeakBits - 19);
  EXPECT_EQ(SpectrumExtraBits(19, kTnsHeadroomBits), kSpectrumPeakBits - kTnsHeadroomBits - 19);
  EXPECT_EQ(SpectrumExtraBits(30, 0), 0);
  EXPECT_EQ(SpectrumExtraBits(1, 0), kMaxSpectrumExtraBits);
  ics.extraBits = 6;
  InverseQuantize(Dsp(), ics, spec.data());
  EXPECT_EQ(spec[0], 524288 << 6);
  EXPECT_EQ(spec[1], -(524288 << 6));
  // A noise band of energy e holds no value above 2^(e / 4) x 8.
  ics = LongIcs(60, kNoiseHcb);
  spec.assign(1024, 0);
  EXPECT_EQ(SpectrumPeakBits(ics, spec.data()), 19);
  // Intensity positions below zero raise the right channel above the left.
  ics = LongIcs(-9, kIntensityHcb);
  EXPECT_EQ(IntensityGainBits(ics), 4);
}

TEST(HeaacSpectral, PulseOnZeroValueSubtracts) {
  std::vector<int32_t> spec(1024, 0);
  IcsInfo ics = LongIcs(100, 1);
  ics.pulsePresent = 1;
  ics.numPulse = 2;
  ics.pulseStartSfb = 2;
  ics.pulseOffset[0] = 1;
  ics.pulseAmp[0] = 3;
  ics.pulseOffset[1] = 2;
  ics.pulseAmp[1] = 2;
  spec[kSwbOffsetLong[4][2] + 3] = 4;
  ApplyPulses(ics, spec.data());
  EXPECT_EQ(spec[kSwbOffsetLong[4][2] + 1], -3);
  EXPECT_EQ(spec[kSwbOffsetLong[4][2] + 3], 6);
}

// Each substituted band carries the transmitted energy 2^(e/2) (coefficient
// units x 8, so x 64 in energy), and two bands in a row draw consecutive
// values from one generator.
TEST(HeaacSpectral, NoiseBandEnergyMatchesTransmittedEnergy) {
  constexpr double kToleranceDb = 0.05;  // table square root and Q30 steps
  for (int extraBits : {0, 5}) {
    for (int width : {4, 8, 16, 32, 64, 128}) {
      for (int energy : {-20, 0, 37, 60, 81}) {
        std::vector<int32_t> v(width);
        uint32_t seed = 12345;
        GenerateNoiseBand(v.data(), width, energy, extraBits, &seed);
        double e = 0;
        for (int32_t x : v) e += static_cast<double>(x) * x;
        const double want = 64.0 * std::pow(2.0, energy / 2.0 + 2 * extraBits);
        if (want < 1e4) continue;  // below the integer resolution of the band
        EXPECT_NEAR(10 * std::log10(e / want), 0.0, kToleranceDb) << width << " " << energy << " " << extraBits;
      }
    }
  }
  std::vector<int32_t> a(8), b(8), c(16);
  uint32_t s1 = 7, s2 = 7;
  GenerateNoiseBand(a.data(), 8, 60, 0, &s1);
  GenerateNoiseBand(b.data(), 8, 60, 0, &s1);
  GenerateNoiseBand(c.data(), 16, 60, 0, &s2);
  EXPECT_EQ(s1, s2);  // the generator advanced over both bands
}

TEST(HeaacFilterbank, SilenceAndOverlapRounding) {
  std::vector<int32_t> spec(1024, 0), row(2048), scratch(1024);
  std::vector<int64_t> overlap(1024, 0);
  std::vector<int16_t> out(2048, 99);
  // All-zero coefficients after a silent frame give zero samples, written
  // with the stride (channel 1 slots untouched).
  ImdctFilterbank(Dsp(), 0, kOnlyLong, 0, spec.data(), 0, row.data(), scratch.data(), overlap.data(), out.data(), 2);
  for (int i = 0; i < 1024; ++i) {
    ASSERT_EQ(out[2 * i], 0);
    ASSERT_EQ(out[2 * i + 1], 99);
  }
  // An overlap of 1.5 LSB before sample 448 rounds to 2 in a LONG_STOP frame
  // and, rounded alike, in an EIGHT_SHORT frame.
  const int64_t oneAndHalf = int64_t{3} << (kOverlapFracBits - 1);
  overlap.assign(1024, 0);
  overlap[10] = oneAndHalf;
  ImdctFilterbank(Dsp(), 0, kLongStop, 0, spec.data(), 0, row.data(), scratch.data(), overlap.data(), out.data(), 1);
  EXPECT_EQ(out[10], 2);
  overlap.assign(1024, 0);
  overlap[10] = oneAndHalf;
  overlap[11] = oneAndHalf - 1;
  spec.assign(1024, 0);
  ImdctFilterbank(Dsp(), 0, kEightShort, 0, spec.data(), 0, row.data(), scratch.data(), overlap.data(), out.data(), 1);
  EXPECT_EQ(out[10], 2);
  EXPECT_EQ(out[11], 1);
  // Output clamps at 32767 and -32767.
  overlap.assign(1024, 0);
  overlap[0] = int64_t{40000} << kOverlapFracBits;
  overlap[1] = -(int64_t{40000} << kOverlapFracBits);
  spec.assign(1024, 0);
  ImdctFilterbank(Dsp(), 0, kOnlyLong, 0, spec.data(), 0, row.data(), scratch.data(), overlap.data(), out.data(), 1);
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(out[1], -32767);
}

// One coefficient through the long transform equals the ISO/IEC 14496-3
// inverse MDCT, windowed with the sine window, in PCM units, whatever the
// extra fractional bits of the coefficient.
TEST(HeaacFilterbank, LongTransformMatchesTheDirectFormula) {
  std::vector<int32_t> spec(1024, 0), row(2048), scratch(1024);
  std::vector<int64_t> overlap(1024, 0);
  std::vector<int16_t> out(1024);
  const int k = 37;
  const double coef = 3.0e6;  // real coefficient: about 2900 at the output peak
  for (int extraBits : {0, 6}) {
    spec.assign(1024, 0);
    overlap.assign(1024, 0);
    spec[k] = static_cast<int32_t>(coef * 8 * (1 << extraBits));
    ImdctFilterbank(Dsp(), 0, kOnlyLong, 0, spec.data(), extraBits, row.data(), scratch.data(), overlap.data(), out.data(), 1);
    const double n0 = (2048 / 2 + 1) / 2.0;
    for (int n = 0; n < 1024; n += 7) {
      const double x = 2.0 / 2048 * coef * std::cos(2 * M_PI / 2048 * (n + n0) * (k + 0.5));
      const double w = std::sin(M_PI * (n + 0.5) / 2048);
      ASSERT_NEAR(out[n], x * w, 1.0) << n << " " << extraBits;
    }
  }
}

// A spectrum whose extra bits would let the transform wrap gives back what
// it must: coefficients summing to about 2^28 keep 2 of 8 extra bits, and
// decode exactly as when carried with 2, and within 1 LSB of the plain
// format, in long and short frames alike.
TEST(HeaacFilterbank, ExtraBitsGiveWayToTheTransformRange) {
  std::vector<int32_t> plain(1024), row(2048), scratch(1024);
  uint32_t seed = 99;
  for (int32_t& v : plain) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<int32_t>(seed) >> 12;  // up to 2^19
  }
  for (int sequence : {kOnlyLong, kEightShort}) {
    std::vector<int64_t> overlap0(1024, 0), overlap2(1024, 0), overlap8(1024, 0);
    std::vector<int16_t> out0(1024), out2(1024), out8(1024);
    for (int frame = 0; frame < 2; ++frame) {
      std::vector<int32_t> spec0 = plain, spec2(1024), spec8(1024);
      for (int i = 0; i < 1024; ++i) {
        spec2[i] = plain[i] * 4;
        spec8[i] = plain[i] * 256;
      }
      ImdctFilterbank(Dsp(), 0, sequence, 0, spec0.data(), 0, row.data(), scratch.data(), overlap0.data(), out0.data(), 1);
      ImdctFilterbank(Dsp(), 0, sequence, 0, spec2.data(), 2, row.data(), scratch.data(), overlap2.data(), out2.data(), 1);
      ImdctFilterbank(Dsp(), 0, sequence, 0, spec8.data(), 8, row.data(), scratch.data(), overlap8.data(), out8.data(), 1);
      ASSERT_EQ(out2, out8) << sequence << " " << frame;
      for (int n = 0; n < 1024; ++n) ASSERT_NEAR(out8[n], out0[n], 1) << sequence << " " << frame << " " << n;
    }
  }
}

}  // namespace
}  // namespace heaac
