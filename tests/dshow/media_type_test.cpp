#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/dshow/media_type.h"

namespace dshow {
namespace {

uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

TEST(FormatBlocks, VideoInfoHeaderIsWrittenFieldByField) {
  VideoInfoHeader v;
  v.rcSource = {0, 0, 176, 144};
  v.rcTarget = {1, 2, 3, 4};
  v.dwBitRate = 128000;
  v.dwBitErrorRate = 7;
  v.AvgTimePerFrame = 660000;
  v.bmiHeader.biWidth = 176;
  v.bmiHeader.biHeight = -144;
  v.bmiHeader.biBitCount = 16;
  v.bmiHeader.biCompression = BI_BITFIELDS;
  v.bmiHeader.biSizeImage = 50688;
  v.bmiHeader.biXPelsPerMeter = 11;
  v.bmiHeader.biYPelsPerMeter = 12;
  v.bmiHeader.biClrUsed = 13;
  v.bmiHeader.biClrImportant = 14;
  uint8_t b[kVideoInfoHeaderSize + 4];
  std::memset(b, 0xCC, sizeof(b));
  WriteVideoInfoHeader(v, b);
  const struct {
    size_t offset;
    uint32_t value;
  } words[] = {{0, 0},      {8, 176},      {12, 144},      {16, 1},      {20, 2},      {24, 3},    {28, 4},
               {32, 128000}, {36, 7},       {40, 660000},   {44, 0},      {48, 40},     {52, 176},  {56, 0xFFFFFF70u},
               {64, 3},     {68, 50688},   {72, 11},       {76, 12},     {80, 13},     {84, 14}};
  for (const auto& w : words) EXPECT_EQ(U32(b + w.offset), w.value) << "offset " << w.offset;
  EXPECT_EQ(U16(b + 60), 1);   // planes
  EXPECT_EQ(U16(b + 62), 16);  // bit count
  EXPECT_EQ(U32(b + kVideoInfoHeaderSize), 0xCCCCCCCCu);  // nothing past 88 bytes
  VideoInfoHeader back;
  ASSERT_TRUE(ReadVideoInfoHeader(b, kVideoInfoHeaderSize, &back));
  EXPECT_EQ(back.AvgTimePerFrame, 660000);
  EXPECT_EQ(back.bmiHeader.biHeight, -144);
  EXPECT_EQ(back.rcTarget.bottom, 4);
  EXPECT_FALSE(ReadVideoInfoHeader(b, kVideoInfoHeaderSize - 1, &back));
}

TEST(FormatBlocks, WaveFormatExIsEighteenBytes) {
  WaveFormatEx w;
  w.wFormatTag = WAVE_FORMAT_PCM;
  w.nChannels = 2;
  w.nSamplesPerSec = 22050;
  w.nAvgBytesPerSec = 88200;
  w.nBlockAlign = 4;
  w.wBitsPerSample = 16;
  w.cbSize = 0;
  uint8_t b[kWaveFormatExSize];
  WriteWaveFormatEx(w, b);
  const uint8_t expected[kWaveFormatExSize] = {1, 0, 2, 0, 0x22, 0x56, 0, 0, 0x88, 0x58, 0x01, 0, 4, 0, 16, 0, 0, 0};
  EXPECT_EQ(std::memcmp(b, expected, sizeof(b)), 0);
  WaveFormatEx back;
  ASSERT_TRUE(ReadWaveFormatEx(b, sizeof(b), &back));
  EXPECT_EQ(back.nAvgBytesPerSec, 88200u);
  EXPECT_FALSE(ReadWaveFormatEx(b, 17, &back));
}

TEST(MediaTypes, CopyFreeAndFormatAccess) {
  DMO_MEDIA_TYPE a;
  ASSERT_EQ(MoInitMediaType(&a, kWaveFormatExSize), com::S_OK);
  ASSERT_NE(a.pbFormat, nullptr);
  EXPECT_EQ(a.cbFormat, kWaveFormatExSize);
  a.majortype = MEDIATYPE_Audio;
  a.subtype = MEDIASUBTYPE_PCM;
  a.formattype = FORMAT_WaveFormatEx;
  WaveFormatEx w;
  w.nChannels = 1;
  WriteWaveFormatEx(w, a.pbFormat);
  DMO_MEDIA_TYPE b;
  ASSERT_EQ(MoCopyMediaType(&b, &a), com::S_OK);
  EXPECT_NE(b.pbFormat, a.pbFormat);
  EXPECT_TRUE(MediaTypesEqual(a, b));
  // Equal blocks under another format type are another type.
  b.formattype = FORMAT_VideoInfo;
  EXPECT_FALSE(MediaTypesEqual(a, b));
  b.formattype = FORMAT_WaveFormatEx;
  b.pbFormat[2] = 2;
  EXPECT_FALSE(MediaTypesEqual(a, b));
  WaveFormatEx got;
  EXPECT_TRUE(WaveFormatOf(b, &got));
  EXPECT_EQ(got.nChannels, 2);
  VideoInfoHeader v;
  EXPECT_FALSE(VideoInfoOf(b, &v));  // another format type
  b.cbFormat = 4;                    // a short block is not read
  EXPECT_FALSE(WaveFormatOf(b, &got));
  b.cbFormat = kWaveFormatExSize;
  MoFreeMediaType(&a);
  MoFreeMediaType(&b);
  EXPECT_EQ(a.pbFormat, nullptr);
  EXPECT_EQ(a.cbFormat, 0u);
  EXPECT_EQ(MoInitMediaType(nullptr, 0), com::E_POINTER);
}

}  // namespace
}  // namespace dshow
