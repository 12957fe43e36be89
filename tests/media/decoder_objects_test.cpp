// The platform's WMA and WMV decoder objects, driven directly: creation by
// class id, the types they take, and output buffers they never overrun.
#include "platform/decoders/codec_dmo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/asf_reader.h"
#include "platform/com/class_table.h"
#include "platform/decoders/video_range_rgb565.h"
#include "platform/dshow/dshow_types.h"
#include "platform/dshow/media_buffer.h"
#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"

namespace {

using Bytes = std::vector<uint8_t>;
using com::ComPtr;

ComPtr<dshow::IMediaBuffer> Buffer(const Bytes& bytes, uint32_t max) {
  auto b = ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(max));
  uint8_t* p = nullptr;
  b->GetBufferAndLength(&p, nullptr);
  if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
  b->SetLength(uint32_t(bytes.size()));
  return b;
}

TEST(DecoderObjects, CreatedByClassIdAfterCreateCodecDmo) {
  ComPtr<dshow::IMediaObject> wma, wmv;
  ASSERT_EQ(decoders::CreateCodecDMO(decoders::CodecLibrary::kWma, wma.Receive()), com::S_OK);
  ASSERT_EQ(decoders::CreateCodecDMO(decoders::CodecLibrary::kWmv, wmv.Receive()), com::S_OK);
  ComPtr<dshow::IMediaObject> again;
  EXPECT_EQ(com::CoCreateInstance(decoders::CLSID_WmvDecoderObject, nullptr, com::CLSCTX_INPROC_SERVER,
                                  dshow::IID_IMediaObject, again.ReceiveVoid()),
            com::S_OK);
  // Types they do not take: another audio tag, a video type for WMA.
  dshow::MediaType mp3;
  dshow::SetFormatBuffer(mp3.get(), dshow::kWaveFormatExSize);
  mp3->majortype = dshow::MEDIATYPE_Audio;
  mp3->subtype = com::FourccGuid(0x55);
  mp3->formattype = dshow::FORMAT_WaveFormatEx;
  dshow::WaveFormatEx w;
  w.wFormatTag = 0x55;
  w.nChannels = 2;
  w.nSamplesPerSec = 44100;
  dshow::WriteWaveFormatEx(w, mp3->pbFormat);
  EXPECT_NE(wma->SetInputType(0, mp3.get(), 0), com::S_OK);
  // A WMA 2 type whose cbSize claims more bytes than its format block holds.
  w.wFormatTag = 0x161;
  w.cbSize = 10;
  mp3->subtype = com::FourccGuid(0x161);
  dshow::WriteWaveFormatEx(w, mp3->pbFormat);
  EXPECT_NE(wma->SetInputType(0, mp3.get(), 0), com::S_OK);
  EXPECT_NE(wmv->SetInputType(0, mp3.get(), 0), com::S_OK);
}

// The WMV object writes a picture only into a buffer that holds it whole,
// and the WMA object hands out what does not fit in further calls.
TEST(DecoderObjects, NeverWritePastTheOutputBuffer) {
  const std::string path = ovtest::FixturePath("media_wmv2.wmv");
  OV_SKIP_WITHOUT_FIXTURE(path);
  media::AsfReader reader(mediatest::U16(path));
  ASSERT_TRUE(reader.IsOpen());
  const uint16_t v = reader.ListVideoStreams().at(0), a = reader.ListAudioStreams().at(0);
  dshow::BitmapInfoHeader b;
  ASSERT_TRUE(reader.GetVideoInfo(v >> 8, &b));
  const Bytes extra = reader.GetCodecData(v >> 8);

  ComPtr<dshow::IMediaObject> wmv;
  ASSERT_EQ(decoders::CreateCodecDMO(decoders::CodecLibrary::kWmv, wmv.Receive()), com::S_OK);
  dshow::VideoInfoHeader vih;
  vih.bmiHeader = b;
  dshow::MediaType in;
  dshow::SetFormatBuffer(in.get(), dshow::kVideoInfoHeaderSize + uint32_t(extra.size()));
  in->majortype = dshow::MEDIATYPE_Video;
  in->subtype = com::FourccGuid(b.biCompression);
  in->formattype = dshow::FORMAT_VideoInfo;
  dshow::WriteVideoInfoHeader(vih, in->pbFormat);
  std::memcpy(in->pbFormat + dshow::kVideoInfoHeaderSize, extra.data(), extra.size());
  ASSERT_EQ(wmv->SetInputType(0, in.get(), 0), com::S_OK);
  dshow::MediaType out;
  ASSERT_EQ(wmv->GetOutputType(0, 0, out.get()), com::S_OK);
  ASSERT_EQ(wmv->SetOutputType(0, out.get(), 0), com::S_OK);
  Bytes object;
  uint32_t size = 0, time = 0;
  ASSERT_TRUE(reader.ReadMediaObject(&object, uint8_t(v), &size, &time));
  Bytes input(40);
  b.biSizeImage = size;
  dshow::WriteBitmapInfoHeader(b, input.data());
  input.insert(input.end(), extra.begin(), extra.end());
  input.insert(input.end(), object.begin(), object.end());
  // A header and codec bytes with no frame behind them are refused.
  EXPECT_NE(wmv->ProcessInput(0, Buffer(Bytes(input.begin(), input.begin() + 40), 64).Get(), 0, 0, 0), com::S_OK);
  ASSERT_EQ(wmv->ProcessInput(0, Buffer(input, uint32_t(input.size())).Get(), 1, 0, 0), com::S_OK);
  const uint32_t picture = 176 * 144 * 2;
  // One byte short (AddressSanitizer watches the buffer's end).
  auto small = ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(picture - 1));
  dshow::DMO_OUTPUT_DATA_BUFFER db{small.Get(), 0, 0, 0};
  uint32_t status = 0;
  EXPECT_NE(wmv->ProcessOutput(0, 1, &db, &status), com::S_OK);
  uint32_t length = 1;
  small->GetBufferAndLength(nullptr, &length);
  EXPECT_EQ(length, 0u);
  auto whole = Buffer({}, picture);
  db.pBuffer = whole.Get();
  EXPECT_EQ(wmv->ProcessOutput(0, 1, &db, &status), com::S_OK);
  whole->GetBufferAndLength(nullptr, &length);
  EXPECT_EQ(length, picture);

  // WMA: output buffers of 1000 bytes take one object's sound in pieces,
  // whole sample frames each.
  dshow::WaveFormatEx w;
  ASSERT_TRUE(reader.GetWaveFormat(a >> 8, &w));
  const Bytes wextra = reader.GetCodecData(a >> 8);
  ComPtr<dshow::IMediaObject> wma;
  ASSERT_EQ(decoders::CreateCodecDMO(decoders::CodecLibrary::kWma, wma.Receive()), com::S_OK);
  dshow::MediaType ain;
  dshow::SetFormatBuffer(ain.get(), dshow::kWaveFormatExSize + uint32_t(wextra.size()));
  ain->majortype = dshow::MEDIATYPE_Audio;
  ain->subtype = com::FourccGuid(w.wFormatTag);
  ain->formattype = dshow::FORMAT_WaveFormatEx;
  dshow::WriteWaveFormatEx(w, ain->pbFormat);
  std::memcpy(ain->pbFormat + dshow::kWaveFormatExSize, wextra.data(), wextra.size());
  ASSERT_EQ(wma->SetInputType(0, ain.get(), 0), com::S_OK);
  dshow::MediaType aout;
  ASSERT_EQ(wma->GetOutputType(0, 0, aout.get()), com::S_OK);
  ASSERT_EQ(wma->SetOutputType(0, aout.get(), 0), com::S_OK);
  uint32_t total = 0;
  for (int k = 0; k < 4 && reader.ReadMediaObject(&object, uint8_t(a), &size, &time); ++k) {
    ASSERT_EQ(wma->ProcessInput(0, Buffer(object, size).Get(), 0, 0, 0), com::S_OK);
    for (;;) {
      auto piece = Buffer({}, 1001);
      dshow::DMO_OUTPUT_DATA_BUFFER pd{piece.Get(), 0, 0, 0};
      if (wma->ProcessOutput(0, 1, &pd, &status) != com::S_OK) break;
      piece->GetBufferAndLength(nullptr, &length);
      EXPECT_LE(length, 1000u);
      EXPECT_EQ(length % (2u * w.nChannels), 0u);
      total += length;
      if (!(pd.dwStatus & dshow::DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) break;
    }
  }
  EXPECT_GT(total, 2000u);
}

// The conversion of video-range BT.601: black, white, the primaries.
TEST(DecoderObjects, VideoRangeConversion) {
  EXPECT_EQ(decoders::VideoRangeToRgb565(16, 128, 128), 0x0000);
  EXPECT_EQ(decoders::VideoRangeToRgb565(235, 128, 128), 0xFFFF);
  EXPECT_EQ(decoders::VideoRangeToRgb565(81, 90, 240), 0xF800);   // red
  EXPECT_EQ(decoders::VideoRangeToRgb565(145, 54, 34), 0x07E0);   // green
  EXPECT_EQ(decoders::VideoRangeToRgb565(41, 240, 110), 0x001F);  // blue
  EXPECT_EQ(decoders::VideoRangeToRgb565(126, 128, 128), 0x8410);  // mid grey: 128
  // Bottom-up: the picture's first row is the last of the bitmap; a picture
  // smaller than the bitmap leaves black.
  const uint8_t y[4] = {235, 235, 16, 16}, u[1] = {128}, v[1] = {128};
  uint8_t out[3 * 3 * 2];
  std::memset(out, 0x55, sizeof(out));
  decoders::I420ToRgb565BottomUp(y, 2, u, 1, v, 1, 2, 2, out, 3, 3);
  const uint8_t expected[18] = {0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0,  0xFF, 0xFF, 0xFF, 0xFF, 0, 0};
  EXPECT_EQ(std::memcmp(out, expected, sizeof(out)), 0);
}

}  // namespace
