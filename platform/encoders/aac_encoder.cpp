#include "platform/encoders/aac_encoder.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace {

constexpr int kFrameSamples = 1024;
constexpr uint32_t kAdtsHeaderBytes = 7;
// ISO/IEC 14496-3 4.5.2.1: at most 6144 bits per channel in one frame.
constexpr int64_t kMaxBitsPerChannelFrame = 6144;
// ADTS frame_length is 13 bits.
constexpr uint32_t kMaxAdtsFrameBytes = 8191;

// ISO/IEC 14496-3 Table 1.18: sampling frequency index.
int SamplingIndex(int32_t rate) {
  static constexpr int32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000,
                                       24000, 22050, 16000, 12000, 11025, 8000};
  for (int i = 0; i < 12; ++i) {
    if (kRates[i] == rate) return i;
  }
  return -1;
}

bool ConfigValid(const AacEncConfig& c) {
  return (c.channels == 1 || c.channels == 2) && SamplingIndex(c.sampleRate) >= 0 &&
         (c.formatB == 0 || c.formatB == 2) && c.bitRate > 0;
}

// The bit rate the codec can reach at this rate and channel count.
int64_t ClampedBitRate(const AacEncConfig& c) {
  const int64_t most = kMaxBitsPerChannelFrame * c.channels * c.sampleRate / kFrameSamples;
  return std::min<int64_t>(c.bitRate, most);
}

// ISO/IEC 14496-3 1.A.2.2.1, adts_fixed_header and adts_variable_header:
// MPEG-4, layer 0, no CRC, AAC LC, buffer fullness 0x7FF (variable rate).
void WriteAdtsHeader(uint8_t* out, int sampling_index, int channels, uint32_t frame_bytes) {
  out[0] = 0xFF;
  out[1] = 0xF1;
  out[2] = static_cast<uint8_t>((1 << 6) | (sampling_index << 2) | (channels >> 2));
  out[3] = static_cast<uint8_t>(((channels & 3) << 6) | (frame_bytes >> 11));
  out[4] = static_cast<uint8_t>(frame_bytes >> 3);
  out[5] = static_cast<uint8_t>(((frame_bytes & 7) << 5) | 0x1F);
  out[6] = 0xFC;
}

}  // namespace

struct AacEncoder;

namespace {
// Moves the codec's next frame, if it has one, into out (ADTS-wrapped when
// configured so).
int32_t TakePacket(AacEncoder* handle, uint8_t* out, uint32_t capacity, uint32_t* ioBytes);
}  // namespace

struct AacEncoder {
  AVCodecContext* codec = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  AacEncConfig config{};
  bool draining = false;  // the end of input was sent

  void Close() {
    draining = false;
    avcodec_free_context(&codec);
    av_frame_free(&frame);
    av_packet_free(&packet);
  }
};

extern "C" {

int32_t Mpeg4AacEnc_Create(AacEncoder** handle) {
  if (!handle) return AACENC_ERR_ARGUMENT;
  // The codec's statistics and its note on frames still queued at the end
  // (the delay every stream ends with) are not errors: errors alone are told.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
  *handle = new (std::nothrow) AacEncoder;
  return *handle ? AACENC_OK : AACENC_ERR_NO_MEMORY;
}

int32_t Mpeg4AacEnc_Reset(AacEncoder* handle, const AacEncConfig* config) {
  if (!handle || !config) return AACENC_ERR_ARGUMENT;
  handle->Close();
  if (!ConfigValid(*config)) return AACENC_ERR_CONFIG;
  const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!aac) return AACENC_ERR_CONFIG;
  handle->codec = avcodec_alloc_context3(aac);
  handle->frame = av_frame_alloc();
  handle->packet = av_packet_alloc();
  if (!handle->codec || !handle->frame || !handle->packet) {
    handle->Close();
    return AACENC_ERR_NO_MEMORY;
  }
  AVCodecContext* c = handle->codec;
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  c->sample_rate = config->sampleRate;
  av_channel_layout_default(&c->ch_layout, config->channels);
  c->bit_rate = ClampedBitRate(*config);
  c->profile = FF_PROFILE_AAC_LOW;
  c->thread_count = 1;
  av_opt_set_int(c->priv_data, "aac_pns", config->pns ? 1 : 0, 0);
  av_opt_set_int(c->priv_data, "aac_tns", config->tns ? 1 : 0, 0);
  if (avcodec_open2(c, aac, nullptr) < 0 || c->frame_size != kFrameSamples) {
    handle->Close();
    return AACENC_ERR_CONFIG;
  }
  AVFrame* f = handle->frame;
  f->format = AV_SAMPLE_FMT_FLTP;
  f->nb_samples = kFrameSamples;
  f->sample_rate = config->sampleRate;
  if (av_channel_layout_copy(&f->ch_layout, &c->ch_layout) < 0 || av_frame_get_buffer(f, 0) < 0) {
    handle->Close();
    return AACENC_ERR_NO_MEMORY;
  }
  handle->config = *config;
  return AACENC_OK;
}

int32_t Mpeg4AacEnc_Encode(AacEncoder* handle, const uint8_t* pcm, uint32_t pcmBytes, uint8_t* out,
                           uint32_t* ioBytes) {
  if (!ioBytes) return AACENC_ERR_ARGUMENT;
  const uint32_t capacity = *ioBytes;
  *ioBytes = 0;
  if (!handle || !pcm || !out) return AACENC_ERR_ARGUMENT;
  if (!handle->codec || handle->draining) return AACENC_ERR_NOT_READY;
  const int channels = handle->config.channels;
  if (pcmBytes != static_cast<uint32_t>(channels * kFrameSamples * 2)) return AACENC_ERR_ARGUMENT;
  AVFrame* f = handle->frame;
  if (av_frame_make_writable(f) < 0) return AACENC_ERR_NO_MEMORY;
  // Interleaved 16-bit little-endian to planar float in [-1, 1).
  for (int ch = 0; ch < channels; ++ch) {
    float* plane = reinterpret_cast<float*>(f->extended_data[ch]);
    for (int i = 0; i < kFrameSamples; ++i) {
      const uint8_t* s = pcm + 2 * (i * channels + ch);
      plane[i] = static_cast<float>(static_cast<int16_t>(s[0] | (s[1] << 8))) * (1.0f / 32768.0f);
    }
  }
  if (avcodec_send_frame(handle->codec, f) < 0) return AACENC_ERR_ENCODE;
  return TakePacket(handle, out, capacity, ioBytes);
}

int32_t Mpeg4AacEnc_Flush(AacEncoder* handle, uint8_t* out, uint32_t* ioBytes) {
  if (!ioBytes) return AACENC_ERR_ARGUMENT;
  const uint32_t capacity = *ioBytes;
  *ioBytes = 0;
  if (!handle || !out) return AACENC_ERR_ARGUMENT;
  if (!handle->codec) return AACENC_ERR_NOT_READY;
  if (!handle->draining) {
    // No more input: the codec gives up the frames it holds.
    if (avcodec_send_frame(handle->codec, nullptr) < 0) return AACENC_ERR_ENCODE;
    handle->draining = true;
  }
  return TakePacket(handle, out, capacity, ioBytes);
}

}  // extern "C"

namespace {

int32_t TakePacket(AacEncoder* handle, uint8_t* out, uint32_t capacity, uint32_t* ioBytes) {
  const int channels = handle->config.channels;
  const int got = avcodec_receive_packet(handle->codec, handle->packet);
  // Still within the codec's delay, or, draining, every frame out.
  if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return AACENC_OK;
  if (got < 0) return AACENC_ERR_ENCODE;
  const uint32_t payload = static_cast<uint32_t>(handle->packet->size);
  const bool adts = handle->config.formatB == 2;
  const uint32_t total = payload + (adts ? kAdtsHeaderBytes : 0);
  if (total > capacity || (adts && total > kMaxAdtsFrameBytes)) {
    av_packet_unref(handle->packet);
    return AACENC_ERR_OUTPUT_SPACE;
  }
  uint8_t* dst = out;
  if (adts) {
    WriteAdtsHeader(dst, SamplingIndex(handle->config.sampleRate), channels, total);
    dst += kAdtsHeaderBytes;
  }
  std::memcpy(dst, handle->packet->data, payload);
  av_packet_unref(handle->packet);
  *ioBytes = total;
  return AACENC_OK;
}

}  // namespace

extern "C" {

int32_t Mpeg4AacEnc_GenerateHeader(const AacEncConfig* config, uint8_t* header, uint32_t* ioLength, void*) {
  if (!config || !header || !ioLength) return AACENC_ERR_ARGUMENT;
  if (!ConfigValid(*config)) return AACENC_ERR_CONFIG;
  if (*ioLength < 2) return AACENC_ERR_OUTPUT_SPACE;
  // audioObjectType 2 (5 bits), samplingFrequencyIndex (4), channelConfiguration
  // (4), GASpecificConfig: frameLengthFlag, dependsOnCoreCoder, extensionFlag 0.
  const int index = SamplingIndex(config->sampleRate);
  header[0] = static_cast<uint8_t>((2 << 3) | (index >> 1));
  header[1] = static_cast<uint8_t>(((index & 1) << 7) | (config->channels << 3));
  *ioLength = 2;
  return AACENC_OK;
}

int32_t Mpeg4AacEnc_Delete(AacEncoder* handle) {
  if (!handle) return AACENC_OK;
  handle->Close();
  delete handle;
  return AACENC_OK;
}

}  // extern "C"
