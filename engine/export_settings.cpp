#include "engine/export_settings.h"

namespace engine {

ExportSettings MakeExportSettings(const OutputOptions& options, int renderTarget, bool keepVideo, bool hasVideo) {
  ExportSettings s;
  const bool mms = renderTarget == kRenderTargetMms;
  s.videoCodec = options.codec & 0xFF;
  s.audioCodec = (options.codec >> 8) & 0xFF;
  if (s.videoCodec == kCodecDefault) s.videoCodec = mms ? kVideoCodecH263 : kVideoCodecMpeg4;
  if (s.audioCodec == kCodecDefault) s.audioCodec = mms ? kAudioCodecAmr : kAudioCodecAac;
  s.audioCodec = SameEncoderId(s.audioCodec);

  s.sampleRate = options.audioRate & 0xFFFE;
  if (s.sampleRate == 0) s.sampleRate = s.audioCodec == kAudioCodecAmr ? 8000 : 22050;
  s.bitsPerSample = 16;
  s.channels = (s.audioCodec == kAudioCodecAmr || (options.audioRate & 1)) ? 1 : 2;

  s.fps = options.fps == 0 ? 10 : options.fps;
  s.width = options.dimension >> 16;
  s.height = options.dimension & 0xFFFF;
  if (s.width == 0) s.width = 176;
  if (s.height == 0) s.height = 144;

  const uint32_t video_kbps = options.bps & 0xFFFF;
  const uint32_t audio_kbps = options.bps >> 16;
  if (video_kbps == 0) s.videoBitrate = s.videoCodec == kVideoCodecWmv ? 100 : 128000;
  else s.videoBitrate = video_kbps * 1000;
  if (audio_kbps == 0) s.audioBitrate = s.audioCodec == kAudioCodecAmr ? 12200 : 96000;
  else s.audioBitrate = audio_kbps * 1000;

  // Type bits: 1 no sound, 2 no picture.
  if (options.type & 1) s.audioCodec = kCodecNone;
  if (options.type & 2) s.videoCodec = kCodecNone;
  if (!keepVideo && !hasVideo) s.videoCodec = kCodecNone;
  return s;
}

uint32_t SameEncoderId(uint32_t audioCodec) {
  return audioCodec == kAudioCodecAmrToo ? kAudioCodecAmr : audioCodec;
}

uint32_t AacBitrateFor(uint32_t asked, uint32_t channels) {
  constexpr uint32_t kMinMono = 16000, kMinStereo = 32000, kMax = 288000;
  const uint32_t low = channels == 1 ? kMinMono : kMinStereo;
  return asked < low ? low : (asked > kMax ? kMax : asked);
}

uint32_t ExportByteRate(const ExportSettings& s) {
  uint64_t rate = 0;
  if (s.audioCodec == kAudioCodecWma) rate += uint64_t(s.sampleRate) * s.bitsPerSample * s.channels / 8;
  // A size limit holds only when the rate the file will really have counts.
  else if (s.audioCodec == kAudioCodecAac) rate += AacBitrateFor(s.audioBitrate, s.channels) / 8;
  else if (s.audioCodec != kCodecNone) rate += s.audioBitrate / 8;
  if (s.videoCodec == kVideoCodecWmv) rate += 100000;
  else if (s.videoCodec != kCodecNone) rate += s.videoBitrate / 8;
  return rate > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(rate);
}

}  // namespace engine
