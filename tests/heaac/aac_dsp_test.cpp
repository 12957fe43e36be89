// The AAC decoder's kernels ("aac" family): every variant the machine runs
// gives the reference's bits on random and extreme input, at unaligned
// addresses, into canary-guarded buffers; and the reference pass is a radix-2
// butterfly as written out here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <random>
#include <vector>

#include "codecs/heaac/aac_decoder_state.h"
#include "codecs/heaac/aac_dsp.h"
#include "codecs/heaac/aac_fixed.h"
#include "codecs/heaac/aac_tables.h"
#include "platform/cpu/cpu.h"

namespace heaac {
namespace {

constexpr uint32_t kSeed = 20261210;

struct Variant {
  const char* name;
  uint32_t flags;
};
const Variant kVariants[] = {{"sse2", ov::kCpuSse2}, {"avx2", ov::kCpuSse2 | ov::kCpuAvx2}};

// n values after `offset` spare ones, with canaries on both sides.
template <typename T>
class Guarded {
 public:
  Guarded(size_t n, size_t offset) : n_(n), offset_(offset), v_(n + offset + 2 * kPad, Canary()) {}
  T* Data() { return v_.data() + kPad + offset_; }
  std::vector<T> Inner() const {
    return std::vector<T>(v_.begin() + static_cast<long>(kPad + offset_),
                          v_.begin() + static_cast<long>(kPad + offset_ + n_));
  }
  bool CanariesIntact() const {
    for (size_t i = 0; i < v_.size(); ++i) {
      if ((i < kPad + offset_ || i >= kPad + offset_ + n_) && v_[i] != Canary()) return false;
    }
    return true;
  }

 private:
  static constexpr size_t kPad = 16;
  static T Canary() { return static_cast<T>(0x5A5A5A5A5A5A5A5All); }
  size_t n_, offset_;
  std::vector<T> v_;
};

// Random values of one of three kinds: any 32-bit value, the two extremes
// only, or small ones.
int32_t Draw(std::mt19937& rng, int kind) {
  if (kind == 1) return (rng() & 1) ? INT32_MAX : INT32_MIN;
  if (kind == 2) return static_cast<int32_t>(rng() % 2001) - 1000;
  return static_cast<int32_t>(rng());
}
// Twiddles and windows stay within +-(2^31 - 1), as the tables do.
int32_t DrawQ31(std::mt19937& rng, int kind) {
  const int32_t v = Draw(rng, kind);
  return v == INT32_MIN ? -INT32_MAX : v;
}

TEST(AacDsp, ReferencePassIsTheRadix2Butterfly) {
  // One group of 8: q[k] x e^(-j 2 pi k / 8) added to and taken from p[k].
  const AacComputedTables& t = GetAacTables();
  std::mt19937 rng(kSeed);
  int32_t data[16], expect[16];
  for (int32_t& v : data) v = static_cast<int32_t>(rng() % 200001) - 100000;
  for (int k = 0; k < 4; ++k) {
    const double c = t.fftPassTwiddle[4 + k][0] / 2147483648.0, s = t.fftPassTwiddle[4 + k][1] / 2147483648.0;
    const double qr = data[8 + 2 * k], qi = data[9 + 2 * k];
    const double tr = qr * c + qi * s, ti = qi * c - qr * s;
    expect[2 * k] = static_cast<int32_t>(std::llround(data[2 * k] + tr));
    expect[2 * k + 1] = static_cast<int32_t>(std::llround(data[2 * k + 1] + ti));
    expect[8 + 2 * k] = static_cast<int32_t>(std::llround(data[2 * k] - tr));
    expect[9 + 2 * k] = static_cast<int32_t>(std::llround(data[2 * k + 1] - ti));
  }
  FftPass_c(data, 8, 8, t.fftPassTwiddle[4]);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(data[i], expect[i], 1) << i;
}

TEST(AacDsp, ReferenceInverseQuantisationIsTheFormula) {
  // Value by value, sign(q) x ((scale x SmallDequant(power[|q|], shift) +
  // round) >> 31), for bands of many small magnitudes (looked up), of
  // magnitudes up to 255 and of few values.
  std::mt19937 rng(kSeed);
  const int32_t* power = GetAacTables().power43;
  for (int shift = -40; shift <= 40; ++shift) {
    for (const int32_t top : {1, 15, 255}) {
      const int n = 4 * (1 + static_cast<int>(rng() % 24));
      const int32_t scale = static_cast<int32_t>(0x40000000u + rng() % 0x40000000u);
      const int64_t round = (shift & 1) ? int64_t{1} << 30 : 0;
      std::vector<int32_t> v(static_cast<size_t>(n)), expect(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) {
        const int32_t q = static_cast<int32_t>(rng() % static_cast<uint32_t>(2 * top + 1)) - top;
        const int64_t product = static_cast<int64_t>(scale) * SmallDequant(power[std::abs(q)], shift);
        const int32_t r = static_cast<int32_t>((product + round) >> 31);
        v[static_cast<size_t>(i)] = q;
        expect[static_cast<size_t>(i)] = q < 0 ? -r : r;
      }
      ASSERT_TRUE(DequantSmall_c(v.data(), n, power, scale, shift, round));
      ASSERT_EQ(v, expect) << "n " << n << " magnitudes up to " << top << " shift " << shift;
    }
  }
}

TEST(AacDsp, VariantsEqualTheReference) {
  std::printf("seed %u\n", kSeed);
  std::mt19937 rng(kSeed);
  AacDsp ref{};
  init_aac_dsp(ref, 0);
  int ran = 0;
  for (const Variant& variant : kVariants) {
    if ((ov::GetCpuFlags() & variant.flags) != variant.flags) continue;
    ++ran;
    AacDsp simd{};
    init_aac_dsp(simd, variant.flags);
    ASSERT_NE(simd.fftPass, ref.fftPass) << variant.name;
    SCOPED_TRACE(variant.name);
    for (int trial = 0; trial < 24; ++trial) {
      const int kind = trial % 3;
      const size_t offset = static_cast<size_t>(trial % 5);
      for (const int points : {64, 512}) {
        for (int len = 8; len <= points; len <<= 1) {
          std::vector<int32_t> tw(static_cast<size_t>(len));
          for (int32_t& v : tw) v = DrawQ31(rng, kind);
          Guarded<int32_t> a(2 * static_cast<size_t>(points), offset), b(2 * static_cast<size_t>(points), offset);
          for (int i = 0; i < 2 * points; ++i) a.Data()[i] = b.Data()[i] = Draw(rng, kind);
          ref.fftPass(a.Data(), points, len, tw.data());
          simd.fftPass(b.Data(), points, len, tw.data());
          ASSERT_TRUE(b.CanariesIntact()) << "fftPass " << points << " len " << len;
          ASSERT_EQ(a.Inner(), b.Inner()) << "fftPass " << points << " len " << len << " trial " << trial;
        }
      }
      // The first two stages, over a group count that leaves the AVX2
      // variant a single group at the end as well.
      for (const int points : {4, 12, 64, 512}) {
        Guarded<int32_t> a(2 * static_cast<size_t>(points), offset), b(2 * static_cast<size_t>(points), offset);
        for (int i = 0; i < 2 * points; ++i) a.Data()[i] = b.Data()[i] = Draw(rng, kind);
        ref.fftFirstPasses(a.Data(), points);
        simd.fftFirstPasses(b.Data(), points);
        ASSERT_TRUE(b.CanariesIntact()) << "fftFirstPasses " << points;
        ASSERT_EQ(a.Inner(), b.Inner()) << "fftFirstPasses " << points << " trial " << trial;
      }
      // The symmetric expansion reads the core row from a buffer that ends
      // where the row does (under ASan a read past it fails) and starts
      // where it does on trials without an offset.
      for (const int m : {128, 1024}) {
        std::vector<int32_t> row(offset + static_cast<size_t>(m));
        for (int32_t& v : row) v = Draw(rng, kind);
        Guarded<int32_t> a(2 * static_cast<size_t>(m), offset), b(2 * static_cast<size_t>(m), offset);
        ref.expandImdct(row.data() + offset, a.Data(), m);
        simd.expandImdct(row.data() + offset, b.Data(), m);
        ASSERT_TRUE(b.CanariesIntact()) << "expandImdct " << m;
        ASSERT_EQ(a.Inner(), b.Inner()) << "expandImdct " << m << " trial " << trial;
      }
      // Inverse quantisation: every shift the band scales give and beyond,
      // bands of 4 to 96 values, magnitudes up to 255 and (as most bands
      // have) up to a few; a magnitude of 256 or more anywhere (or
      // INT32_MIN) refuses the band and leaves it as it was.
      for (int shift = -40; shift <= 40; shift += 1 + trial % 3) {
        const int n = 4 * (1 + static_cast<int>(rng() % 24));
        const int32_t scale = static_cast<int32_t>(0x40000000u + rng() % 0x40000000u);
        const int64_t round = (rng() & 1) ? int64_t{1} << 30 : 0;
        const int32_t top = (rng() & 1) ? 255 : static_cast<int32_t>(rng() % 16);
        Guarded<int32_t> a(static_cast<size_t>(n), offset), b(static_cast<size_t>(n), offset);
        for (int i = 0; i < n; ++i) {
          const int32_t q = kind == 1 ? ((rng() & 1) ? top : -top) : static_cast<int32_t>(rng() % (2 * top + 1)) - top;
          a.Data()[i] = b.Data()[i] = (kind == 2 && i % 3) ? 0 : q;
        }
        const bool refuse = trial % 4 == 3;
        if (refuse) {
          const int32_t big[] = {256, -256, 8191, INT32_MIN, INT32_MAX};
          const int at = static_cast<int>(rng() % static_cast<uint32_t>(n));
          a.Data()[at] = b.Data()[at] = big[rng() % 5];
        }
        const std::vector<int32_t> before = a.Inner();
        const bool refOk = ref.dequantSmall(a.Data(), n, GetAacTables().power43, scale, shift, round);
        const bool simdOk = simd.dequantSmall(b.Data(), n, GetAacTables().power43, scale, shift, round);
        ASSERT_EQ(refOk, !refuse);
        ASSERT_EQ(simdOk, refOk) << "dequantSmall n " << n << " shift " << shift;
        ASSERT_TRUE(b.CanariesIntact()) << "dequantSmall n " << n;
        ASSERT_EQ(a.Inner(), b.Inner()) << "dequantSmall n " << n << " shift " << shift << " trial " << trial;
        if (refuse) {
          ASSERT_EQ(b.Inner(), before);
        }
      }
      for (const int n : {8, 128, 1024}) {
        // Any order of the outputs, as long as each is written once.
        std::vector<uint16_t> rev(static_cast<size_t>(n / 2));
        for (size_t k = 0; k < rev.size(); ++k) rev[k] = static_cast<uint16_t>(k);
        std::shuffle(rev.begin(), rev.end(), rng);
        std::vector<int32_t> in(static_cast<size_t>(n) + offset), tw(static_cast<size_t>(n));
        for (int32_t& v : in) v = Draw(rng, kind);
        for (int32_t& v : tw) v = DrawQ31(rng, kind);
        Guarded<int32_t> a(static_cast<size_t>(n), offset), b(static_cast<size_t>(n), offset);
        ref.preTwiddle(in.data() + offset, tw.data(), rev.data(), a.Data(), n);
        simd.preTwiddle(in.data() + offset, tw.data(), rev.data(), b.Data(), n);
        ASSERT_TRUE(b.CanariesIntact()) << "preTwiddle " << n;
        ASSERT_EQ(a.Inner(), b.Inner()) << "preTwiddle " << n << " trial " << trial;
      }
      for (const int q : {8, 64, 512}) {
        std::vector<int32_t> in(2 * static_cast<size_t>(q) + offset), tw(2 * static_cast<size_t>(q));
        for (int32_t& v : in) v = Draw(rng, kind);
        for (int32_t& v : tw) v = DrawQ31(rng, kind);
        Guarded<int32_t> a(2 * static_cast<size_t>(q), offset), b(2 * static_cast<size_t>(q), offset);
        ref.postTwiddle(in.data() + offset, tw.data(), a.Data(), q);
        simd.postTwiddle(in.data() + offset, tw.data(), b.Data(), q);
        ASSERT_TRUE(b.CanariesIntact()) << "postTwiddle " << q;
        ASSERT_EQ(a.Inner(), b.Inner()) << "postTwiddle " << q << " trial " << trial;
      }
      // Overlap values stay below 2^43 in magnitude (aac_dsp.h).
      for (int bits = kLongTransformBits; bits <= kLongTransformBits + kMaxSpectrumExtraBits; ++bits) {
        std::vector<int32_t> y(2048 + offset), rise(1024 + offset), fall(1024 + offset);
        for (int32_t& v : y) v = Draw(rng, kind);
        for (int32_t& v : rise) v = DrawQ31(rng, kind) & INT32_MAX;
        for (int32_t& v : fall) v = DrawQ31(rng, kind) & INT32_MAX;
        Guarded<int64_t> oa(1024, offset), ob(1024, offset);
        Guarded<int16_t> pa(1024, offset), pb(1024, offset);
        for (int i = 0; i < 1024; ++i) {
          const int64_t o = kind == 1 ? ((rng() & 1) ? 1 : -1) * ((int64_t{1} << 43) - 1)
                                      : static_cast<int64_t>(static_cast<int64_t>(rng()) << 32 | rng()) >> 21;
          oa.Data()[i] = ob.Data()[i] = o;
        }
        const int32_t* yo = y.data() + offset;
        ref.windowLong(yo, rise.data() + offset, fall.data() + offset, bits, oa.Data(), pa.Data(), 1);
        simd.windowLong(yo, rise.data() + offset, fall.data() + offset, bits, ob.Data(), pb.Data(), 1);
        ASSERT_TRUE(ob.CanariesIntact() && pb.CanariesIntact()) << "windowLong bits " << bits;
        ASSERT_EQ(pa.Inner(), pb.Inner()) << "windowLong samples, bits " << bits << " trial " << trial;
        ASSERT_EQ(oa.Inner(), ob.Inner()) << "windowLong overlap, bits " << bits << " trial " << trial;
        // Interleaved stereo, each channel in a buffer of exactly 2048
        // samples (under ASan a read past its end fails): the other
        // channel's samples stay as they were.
        for (const int channel : {0, 1}) {
          std::vector<int16_t> sa(2048), sb(2048);
          for (size_t i = 0; i < sa.size(); ++i) sa[i] = sb[i] = static_cast<int16_t>(rng());
          std::vector<int64_t> va = oa.Inner(), vb = oa.Inner();
          ref.windowLong(yo, rise.data() + offset, fall.data() + offset, bits, va.data(), sa.data() + channel, 2);
          simd.windowLong(yo, rise.data() + offset, fall.data() + offset, bits, vb.data(), sb.data() + channel, 2);
          ASSERT_EQ(sa, sb) << "windowLong stereo channel " << channel << ", bits " << bits << " trial " << trial;
          ASSERT_EQ(va, vb) << "windowLong stereo overlap, bits " << bits << " trial " << trial;
        }
      }
    }
  }
  if (ran == 0) GTEST_SKIP() << "no SIMD variant on this CPU";
}

}  // namespace
}  // namespace heaac
