// The outside audio encoder libraries of the codecdmo objects: aacenc (over
// libavcodec) and amrnbenc (over opencore-amrnb). The AAC output is decoded
// with libavcodec's decoder as the peer and compared with the tone it codes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/encoders/aac_encoder.h"
#include "platform/encoders/amrnb_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace {

constexpr double kPi = 3.14159265358979323846;

// A tone per channel (440 Hz left, 880 Hz right), interleaved 16-bit
// little-endian, amplitude 8000.
std::vector<uint8_t> Tones(int frames, int rate, int channels, int samples_per_frame) {
  std::vector<uint8_t> pcm(static_cast<size_t>(frames * samples_per_frame * channels * 2));
  for (int n = 0; n < frames * samples_per_frame; ++n) {
    for (int ch = 0; ch < channels; ++ch) {
      const auto s = static_cast<int16_t>(std::lround(8000 * std::sin(2 * kPi * 440 * (ch + 1) * n / rate)));
      const size_t at = static_cast<size_t>(2 * (n * channels + ch));
      pcm[at] = static_cast<uint8_t>(s);
      pcm[at + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
    }
  }
  return pcm;
}

struct AacRun {
  std::vector<std::vector<uint8_t>> frames;  // one entry per Encode call
};

// With `flush`, the frames the codec still holds at the end follow.
AacRun EncodeAac(const AacEncConfig& config, const std::vector<uint8_t>& pcm, bool flush = false) {
  AacRun run;
  AacEncoder* enc = nullptr;
  EXPECT_EQ(Mpeg4AacEnc_Create(&enc), AACENC_OK);
  EXPECT_EQ(Mpeg4AacEnc_Reset(enc, &config), AACENC_OK);
  const uint32_t frame_bytes = static_cast<uint32_t>(config.channels * 2048);
  for (size_t at = 0; at + frame_bytes <= pcm.size(); at += frame_bytes) {
    std::vector<uint8_t> out(2048);
    uint32_t bytes = static_cast<uint32_t>(out.size());
    EXPECT_EQ(Mpeg4AacEnc_Encode(enc, pcm.data() + at, frame_bytes, out.data(), &bytes), AACENC_OK);
    out.resize(bytes);
    run.frames.push_back(out);
  }
  while (flush) {
    std::vector<uint8_t> out(2048);
    uint32_t bytes = static_cast<uint32_t>(out.size());
    EXPECT_EQ(Mpeg4AacEnc_Flush(enc, out.data(), &bytes), AACENC_OK);
    if (bytes == 0) break;
    out.resize(bytes);
    run.frames.push_back(out);
  }
  if (flush) {
    // Drained: no more input until the next Reset.
    std::vector<uint8_t> out(2048);
    uint32_t bytes = static_cast<uint32_t>(out.size());
    EXPECT_EQ(Mpeg4AacEnc_Encode(enc, pcm.data(), frame_bytes, out.data(), &bytes), AACENC_ERR_NOT_READY);
  }
  Mpeg4AacEnc_Delete(enc);
  return run;
}

// Decodes raw frames with libavcodec's AAC decoder given the config; planar
// float per channel.
std::vector<std::vector<float>> DecodeAac(const uint8_t asc[2], int channels, const AacRun& run) {
  std::vector<std::vector<float>> pcm(static_cast<size_t>(channels));
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->extradata = static_cast<uint8_t*>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
  std::memcpy(c->extradata, asc, 2);
  c->extradata_size = 2;
  EXPECT_EQ(avcodec_open2(c, codec, nullptr), 0);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  for (const auto& f : run.frames) {
    if (f.empty()) continue;
    av_new_packet(packet, static_cast<int>(f.size()));
    std::memcpy(packet->data, f.data(), f.size());
    EXPECT_EQ(avcodec_send_packet(c, packet), 0);
    av_packet_unref(packet);
    while (avcodec_receive_frame(c, frame) == 0) {
      EXPECT_EQ(frame->ch_layout.nb_channels, channels);
      for (int ch = 0; ch < channels; ++ch) {
        const auto* s = reinterpret_cast<const float*>(frame->extended_data[ch]);
        pcm[static_cast<size_t>(ch)].insert(pcm[static_cast<size_t>(ch)].end(), s, s + frame->nb_samples);
      }
    }
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&c);
  return pcm;
}

// The amplitude of frequency f in x (Goertzel), and the RMS of x.
double Amplitude(const std::vector<float>& x, size_t from, double f, int rate) {
  const double w = 2 * kPi * f / rate;
  double re = 0, im = 0;
  for (size_t n = from; n < x.size(); ++n) {
    re += x[n] * std::cos(w * static_cast<double>(n));
    im += x[n] * std::sin(w * static_cast<double>(n));
  }
  return 2 * std::sqrt(re * re + im * im) / static_cast<double>(x.size() - from);
}

TEST(AacEnc, HeaderIsTheTwoByteConfig) {
  struct Case {
    int32_t rate, channels;
    uint8_t b0, b1;
  };
  // audioObjectType 2, samplingFrequencyIndex, channelConfiguration (ISO/IEC 14496-3 1.6.2.1).
  const Case cases[] = {{96000, 1, 0x10, 0x08}, {44100, 2, 0x12, 0x10}, {22050, 2, 0x13, 0x90},
                        {16000, 1, 0x14, 0x08}, {8000, 1, 0x15, 0x88}};
  for (const Case& c : cases) {
    const AacEncConfig config{c.channels, c.rate, 1, 0, 2, 0, 64000};
    uint8_t header[17] = {};
    uint32_t length = 17;
    ASSERT_EQ(Mpeg4AacEnc_GenerateHeader(&config, header, &length, nullptr), AACENC_OK);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(header[0], c.b0) << c.rate;
    EXPECT_EQ(header[1], c.b1) << c.rate;
  }
  uint8_t header[2];
  uint32_t length = 1;
  AacEncConfig config{2, 22050, 1, 0, 2, 0, 64000};
  EXPECT_EQ(Mpeg4AacEnc_GenerateHeader(&config, header, &length, nullptr), AACENC_ERR_OUTPUT_SPACE);
  length = 2;
  config.sampleRate = 6000;
  EXPECT_EQ(Mpeg4AacEnc_GenerateHeader(&config, header, &length, nullptr), AACENC_ERR_CONFIG);
  config.sampleRate = 22050;
  config.channels = 3;
  EXPECT_EQ(Mpeg4AacEnc_GenerateHeader(&config, header, &length, nullptr), AACENC_ERR_CONFIG);
}

// Flushed at the end, the codec gives up what its delay holds: one frame
// more than went in (the first, the 1024 priming samples, comes out first),
// and the last frame of sound decodes at its level instead of being lost.
TEST(AacEnc, FlushGivesTheFramesTheDelayHolds) {
  const int rate = 44100, channels = 1;
  const AacEncConfig config{channels, rate, 1, 0, 2, 0, 96000};
  const AacRun run = EncodeAac(config, Tones(12, rate, channels, 1024), true);
  size_t coded = 0;
  for (const auto& f : run.frames) coded += f.empty() ? 0 : 1;
  EXPECT_EQ(coded, 13u);
  const uint8_t asc[2] = {0x12, 0x08};
  const auto pcm = DecodeAac(asc, channels, run);
  ASSERT_EQ(pcm[0].size(), 13u * 1024);
  // The decoded sound runs 1024 samples behind the input; its last input
  // frame is the 13th decoded one.
  const std::vector<float> last(pcm[0].end() - 1024, pcm[0].end());
  EXPECT_NEAR(Amplitude(last, 0, 440, rate), 8000.0 / 32768, 0.03);
}

// Both channels come back as coded, each with its own tone at its level:
// the 16-bit samples reach the codec scaled and in channel order.
TEST(AacEnc, CodesEveryChannelAtItsLevel) {
  const int rate = 22050, channels = 2;
  const AacEncConfig config{channels, rate, 1, 0, 2, 0, 128000};
  const AacRun run = EncodeAac(config, Tones(40, rate, channels, 1024));
  ASSERT_EQ(run.frames.size(), 40u);
  EXPECT_TRUE(run.frames[0].empty()) << "the coder's delay";
  for (size_t i = 1; i < run.frames.size(); ++i) EXPECT_FALSE(run.frames[i].empty()) << i;
  const uint8_t asc[2] = {0x13, 0x90};
  const auto pcm = DecodeAac(asc, channels, run);
  ASSERT_GE(pcm[0].size(), 30u * 1024);
  const double expected = 8000.0 / 32768.0;
  for (int ch = 0; ch < channels; ++ch) {
    const double own = Amplitude(pcm[static_cast<size_t>(ch)], 4096, 440.0 * (ch + 1), rate);
    const double other = Amplitude(pcm[static_cast<size_t>(ch)], 4096, 440.0 * (2 - ch), rate);
    // Within 1 dB of the tone coded; the other channel's tone 30 dB below.
    EXPECT_NEAR(20 * std::log10(own / expected), 0.0, 1.0) << ch;
    EXPECT_LT(other, own / 30) << ch;
  }
}

// ADTS frames are the raw frames behind a 7-byte header whose length field
// counts the whole frame.
TEST(AacEnc, AdtsFramesWrapTheRawFrames) {
  const std::vector<uint8_t> pcm = Tones(8, 44100, 1, 1024);
  const AacRun raw = EncodeAac(AacEncConfig{1, 44100, 1, 0, 2, 0, 64000}, pcm);
  const AacRun adts = EncodeAac(AacEncConfig{1, 44100, 1, 0, 1, 2, 64000}, pcm);
  ASSERT_EQ(raw.frames.size(), adts.frames.size());
  for (size_t i = 1; i < raw.frames.size(); ++i) {
    const auto& a = adts.frames[i];
    ASSERT_EQ(a.size(), raw.frames[i].size() + 7) << i;
    EXPECT_EQ(a[0], 0xFF);
    EXPECT_EQ(a[1], 0xF1);  // MPEG-4, layer 0, no CRC
    EXPECT_EQ(a[2], 0x50);  // AAC LC, index 4 (44100), channel bit 0
    EXPECT_EQ(((a[3] & 3) << 11) | (a[4] << 3) | (a[5] >> 5), static_cast<int>(a.size()));
    EXPECT_TRUE(std::equal(raw.frames[i].begin(), raw.frames[i].end(), a.begin() + 7)) << i;
  }
}

// A bit rate beyond the rate's reach codes as the highest it allows: 6144
// bits per channel and frame, 48000 bit/s for 8000 Hz mono.
TEST(AacEnc, BitRateBeyondReachIsClamped) {
  const std::vector<uint8_t> pcm = Tones(10, 8000, 1, 1024);
  const AacRun high = EncodeAac(AacEncConfig{1, 8000, 1, 0, 2, 0, 288000}, pcm);
  const AacRun most = EncodeAac(AacEncConfig{1, 8000, 1, 0, 2, 0, 48000}, pcm);
  EXPECT_EQ(high.frames, most.frames);
  for (const auto& f : high.frames) EXPECT_LE(f.size(), 768u);
}

TEST(AacEnc, RefusesBadCallsWithoutWriting) {
  AacEncoder* enc = nullptr;
  ASSERT_EQ(Mpeg4AacEnc_Create(&enc), AACENC_OK);
  std::vector<uint8_t> pcm = Tones(4, 16000, 1, 1024);
  uint8_t out[4096];
  uint32_t bytes = sizeof out;
  EXPECT_EQ(Mpeg4AacEnc_Encode(enc, pcm.data(), 2048, out, &bytes), AACENC_ERR_NOT_READY);
  const AacEncConfig bad{1, 16000, 1, 0, 2, 1, 64000};  // format B 1
  EXPECT_EQ(Mpeg4AacEnc_Reset(enc, &bad), AACENC_ERR_CONFIG);
  const AacEncConfig config{1, 16000, 1, 0, 2, 0, 64000};
  ASSERT_EQ(Mpeg4AacEnc_Reset(enc, &config), AACENC_OK);
  bytes = sizeof out;
  EXPECT_EQ(Mpeg4AacEnc_Encode(enc, pcm.data(), 2047, out, &bytes), AACENC_ERR_ARGUMENT);
  EXPECT_EQ(bytes, 0u);
  bytes = sizeof out;
  ASSERT_EQ(Mpeg4AacEnc_Encode(enc, pcm.data(), 2048, out, &bytes), AACENC_OK);
  EXPECT_EQ(bytes, 0u);  // the delay
  // No room: refused, and the bytes after the room stay untouched.
  std::memset(out, 0xEE, sizeof out);
  bytes = 4;
  EXPECT_EQ(Mpeg4AacEnc_Encode(enc, pcm.data() + 2048, 2048, out, &bytes), AACENC_ERR_OUTPUT_SPACE);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(Mpeg4AacEnc_Delete(enc), AACENC_OK);
  EXPECT_EQ(Mpeg4AacEnc_Delete(nullptr), AACENC_OK);
}

// Every mode gives storage-format frames of its size led by its header
// (frame type in bits 6-3, quality bit 2: RFC 4867 5.3).
TEST(AmrNbEnc, ModesGiveTheirFrameSizes) {
  const uint32_t sizes[8] = {13, 14, 16, 18, 20, 21, 27, 32};
  const std::vector<uint8_t> pcm = Tones(10, 8000, 1, 160);
  for (int16_t mode = 0; mode < 8; ++mode) {
    AmrNbEncoder* enc = nullptr;
    ASSERT_EQ(AMRNBENC_CreateEncoder(&enc), AMRNBENC_OK);
    const AmrNbEncConfig config{mode, 0, 0};
    ASSERT_EQ(AMRNBENC_ResetEncoder(enc, &config), AMRNBENC_OK);
    for (int f = 0; f < 10; ++f) {
      uint8_t out[64];
      uint32_t bytes = sizeof out;
      ASSERT_EQ(AMRNBENC_EncodeFrame(enc, pcm.data() + 320 * f, 320, out, &bytes), AMRNBENC_OK);
      EXPECT_EQ(bytes, sizes[mode]) << mode;
      EXPECT_EQ(out[0], (mode << 3) | 4) << mode;
    }
    AMRNBENC_DeleteEncoder(enc);
  }
}

// Discontinuous transmission codes silence as SID and empty frames; a reset
// that switches it off codes full frames again.
TEST(AmrNbEnc, DtxChangeTakesEffect) {
  AmrNbEncoder* enc = nullptr;
  ASSERT_EQ(AMRNBENC_CreateEncoder(&enc), AMRNBENC_OK);
  const std::vector<uint8_t> silence(320, 0);
  auto smallest_after_10 = [&](int16_t dtx) {
    const AmrNbEncConfig config{7, dtx, 1};
    EXPECT_EQ(AMRNBENC_ResetEncoder(enc, &config), AMRNBENC_OK);
    uint32_t smallest = 64;
    for (int f = 0; f < 50; ++f) {
      uint8_t out[64];
      uint32_t bytes = sizeof out;
      EXPECT_EQ(AMRNBENC_EncodeFrame(enc, silence.data(), 320, out, &bytes), AMRNBENC_OK);
      if (f >= 10) smallest = std::min(smallest, bytes);
    }
    return smallest;
  };
  EXPECT_LT(smallest_after_10(1), 32u);
  EXPECT_EQ(smallest_after_10(0), 32u);
  EXPECT_LT(smallest_after_10(1), 32u);
  uint8_t out[64];
  uint32_t bytes = 31;
  const std::vector<uint8_t> speech = Tones(1, 8000, 1, 160);
  const AmrNbEncConfig full{7, 0, 0};
  ASSERT_EQ(AMRNBENC_ResetEncoder(enc, &full), AMRNBENC_OK);
  EXPECT_EQ(AMRNBENC_EncodeFrame(enc, speech.data(), 320, out, &bytes), AMRNBENC_ERR_OUTPUT_SPACE);
  EXPECT_EQ(bytes, 0u);
  bytes = sizeof out;
  EXPECT_EQ(AMRNBENC_EncodeFrame(enc, speech.data(), 319, out, &bytes), AMRNBENC_ERR_ARGUMENT);
  const AmrNbEncConfig bad_mode{8, 0, 0}, bad_type{7, 0, 2};
  EXPECT_EQ(AMRNBENC_ResetEncoder(enc, &bad_mode), AMRNBENC_ERR_CONFIG);
  EXPECT_EQ(AMRNBENC_ResetEncoder(enc, &bad_type), AMRNBENC_ERR_CONFIG);
  AMRNBENC_DeleteEncoder(enc);
}

}  // namespace
