// Texture arithmetic of the MPEG-4 decoder: inverse quantisation and the
// rounding of DC and AC prediction, against values worked from
// ISO/IEC 14496-2 7.4.
#include <gtest/gtest.h>

#include <cstdint>

#include "codecs/videodec/mpeg4/mpeg4_state.h"
#include "codecs/videodec/mpeg4/mpeg4_tables.h"

namespace {

TEST(Mpeg4Texture, InverseQuantisation) {
  struct Case {
    int level, q, f;
  };
  const Case cases[] = {
      {3, 8, 55},    {-3, 8, -55},     {1, 7, 21},     {-1, 7, -21},
      {1, 1, 3},     {2, 2, 9},        // q even: 2Q|L| + Q - 1
      {100, 31, 2047},                 // 6231 saturates
      {-100, 31, -2048},               // and so does its negative
      {2047, 31, 2047}, {-2047, 31, -2048},
  };
  for (const auto& c : cases) EXPECT_EQ(videodec::Mpeg4DequantiseLevel(c.level, c.q), c.f) << c.level << " " << c.q;
}

TEST(Mpeg4Texture, DcPredictorRoundsExactHalvesUp) {
  // p / scaler at exact halves rounds up for every scaler; the scalers whose
  // 16-bit reciprocals are rounded down (12, 14, 36, 40, 42, 44) used to lose
  // them.
  for (int scaler : {8, 10, 12, 14, 16, 17, 36, 40, 42, 44, 46}) {
    for (int k = 0; k * scaler + scaler / 2 < 2048; ++k) {
      if (scaler % 2) continue;
      EXPECT_EQ(videodec::Mpeg4DcPredictor(k * scaler + scaler / 2, scaler), k + 1) << scaler << " " << k;
      EXPECT_EQ(videodec::Mpeg4DcPredictor(k * scaler + scaler / 2 - 1, scaler), k) << scaler << " " << k;
    }
  }
  EXPECT_EQ(videodec::Mpeg4DcPredictor(1024, 8), 128);
  EXPECT_EQ(videodec::Mpeg4DcPredictor(6, 12), 1);
  EXPECT_EQ(videodec::Mpeg4DcPredictor(7, 14), 1);
  EXPECT_EQ(videodec::Mpeg4DcPredictor(18, 36), 1);
}

TEST(Mpeg4Texture, AcRescaleIsExactForLargeProducts) {
  // (a x qp) // q, half away from zero.
  EXPECT_EQ(videodec::Mpeg4RescaleAc(5, 3, 2), 8);     // 7.5 -> 8
  EXPECT_EQ(videodec::Mpeg4RescaleAc(-5, 3, 2), -8);   // -7.5 -> -8
  EXPECT_EQ(videodec::Mpeg4RescaleAc(7, 4, 8), 4);     // 3.5 -> 4
  EXPECT_EQ(videodec::Mpeg4RescaleAc(2047, 31, 1), 63457);
  EXPECT_EQ(videodec::Mpeg4RescaleAc(2047, 31, 2), 31729);  // 31728.5
  EXPECT_EQ(videodec::Mpeg4RescaleAc(-2048, 31, 3), -21163);  // -21162.67
  for (int a = -2048; a <= 2047; a += 37) {
    for (int qp = 1; qp <= 31; qp += 5) {
      for (int q = 1; q <= 31; q += 3) {
        const double exact = static_cast<double>(a) * qp / q;
        const int want = static_cast<int>(exact >= 0 ? exact + 0.5 : exact - 0.5);
        ASSERT_EQ(videodec::Mpeg4RescaleAc(a, qp, q), want) << a << " " << qp << " " << q;
      }
    }
  }
}

TEST(Mpeg4Texture, DcScalers) {
  // Table 7-1.
  EXPECT_EQ(videodec::kMpeg4LumaDcScaler[1], 8);
  EXPECT_EQ(videodec::kMpeg4LumaDcScaler[5], 10);
  EXPECT_EQ(videodec::kMpeg4LumaDcScaler[8], 16);
  EXPECT_EQ(videodec::kMpeg4LumaDcScaler[9], 17);
  EXPECT_EQ(videodec::kMpeg4LumaDcScaler[24], 32);
  EXPECT_EQ(videodec::kMpeg4LumaDcScaler[25], 34);
  EXPECT_EQ(videodec::kMpeg4LumaDcScaler[31], 46);
  EXPECT_EQ(videodec::kMpeg4ChromaDcScaler[4], 8);
  EXPECT_EQ(videodec::kMpeg4ChromaDcScaler[5], 9);
  EXPECT_EQ(videodec::kMpeg4ChromaDcScaler[24], 18);
  EXPECT_EQ(videodec::kMpeg4ChromaDcScaler[25], 19);
  EXPECT_EQ(videodec::kMpeg4ChromaDcScaler[31], 25);
}

}  // namespace
