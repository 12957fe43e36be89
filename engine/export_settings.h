#pragma once
// ExportSettings: the eleven words that describe a rendered file (codecs,
// rates, picture size), derived from the user's output options. The render
// process receives them on its command line and hands them to the export
// job; the mixer screen uses them to turn a size limit into a mix length.

#include <cstdint>

#include "platform/dshow/encoder_ids.h"

namespace engine {

// Codec ids of the export settings (kCodecNone: no such stream).
using dshow::kAudioCodecAac;
using dshow::kAudioCodecAmr;
using dshow::kAudioCodecAmrToo;
using dshow::kAudioCodecWma;
using dshow::kCodecNone;
using dshow::kVideoCodecH263;
using dshow::kVideoCodecMpeg4;
using dshow::kVideoCodecOutside;
using dshow::kVideoCodecWmv;

// The eleven words in their fixed order (the render command line's order).
struct ExportSettings {
  uint32_t audioBitrate = 0;  // bit/s
  uint32_t sampleRate = 0;
  uint32_t bitsPerSample = 0;
  uint32_t channels = 0;
  uint32_t samplesPerFrame = 0;  // set by the encoder stage
  uint32_t videoCodec = 0;
  uint32_t audioCodec = 0;
  uint32_t videoBitrate = 0;  // bit/s, or the WMV quality
  uint32_t fps = 0;
  uint32_t height = 0;
  uint32_t width = 0;
};

// The output options the settings come from (the user options of the same
// key names): type bit 0 no sound, bit 1 no picture; size in bytes (0 no
// limit); dimension width << 16 | height; audio rate, bit 0 mono; bps video
// kbit/s in the low 16 bits and audio kbit/s in the high 16; length in
// seconds; codec video id in the low byte and audio id in the next, each
// kCodecDefault or a codec id.
struct OutputOptions {
  uint32_t type = 0;
  uint32_t size = 0;
  uint32_t dimension = 0;
  uint32_t fps = 0;
  uint32_t audioRate = 0;
  uint32_t bps = 0;
  uint32_t length = 0;
  uint32_t codec = 0;
};

// A codec byte of the options that leaves the choice to the render target.
inline constexpr uint32_t kCodecDefault = 255;
// The codec option with both bytes kCodecDefault.
inline constexpr uint32_t kCodecDefaults = kCodecDefault << 8 | kCodecDefault;

// Render targets: 1 is a message (MMS) and prefers the small codecs.
inline constexpr int kRenderTargetMms = 1;

// The settings for `options` with the defaults filled in. `hasVideo` false
// (a mix without pictures) with `keepVideo` false drops the picture.
ExportSettings MakeExportSettings(const OutputOptions& options, int renderTarget, bool keepVideo, bool hasVideo);

// AMR-NB has two sound codec ids for one encoder object: the second is
// taken as the first, so it renders, defaults to 8000 Hz mono and counts at
// AMR's rate alike.
uint32_t SameEncoderId(uint32_t audioCodec);

// The bit rate the AAC encoder object is given for `asked` bit/s of
// `channels` channels: it takes 16000 to 288000 mono, 32000 to 288000 stereo.
uint32_t AacBitrateFor(uint32_t asked, uint32_t channels);

// Bytes per second of a file with these settings, 0 when it has neither
// sound nor picture: WMA sound at its PCM rate, AAC sound at the rate its
// object is given, other sound at its bit rate, WMV pictures at 100000
// bytes/s, other pictures at their bit rate.
uint32_t ExportByteRate(const ExportSettings& settings);

}  // namespace engine
