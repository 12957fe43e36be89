#include "media/amr_decoder_source.h"

#include <algorithm>
#include <cstring>

#include "media/amr_reader.h"
#include "media/mp4_reader.h"

namespace media {

namespace {

constexpr uint32_t kBlockBytes = 320;  // 160 samples of 16 bits
constexpr uint32_t kFrameMs = 20;
constexpr uint32_t kBytesPerMs = 16;  // 8000 Hz × 2 bytes ÷ 1000
constexpr uint32_t kRate = 8000;
constexpr uint32_t kSamples = ov::AmrNbDecoder::kSamplesPerFrame;

}  // namespace

AmrDecoderSource::AmrDecoderSource(std::unique_ptr<MediaReader> reader) : reader_(std::move(reader)) {}

AmrDecoderSource::~AmrDecoderSource() = default;

bool AmrDecoderSource::Open(const ov::String& p, uint32_t) {
  own_path_ = p;
  if (!reader_) return false;
  if (!decoder_.Init()) return false;
  // The reader's Open (already called by the opener) runs again before the
  // cursor is made, so that the cursor starts after the file header.
  if (reader_->Open()) time_ms_ = 0;
  cursor_ = reader_->OpenTrack(reader_->GetAudioTrack());
  if (const Mp4Track* track = EditedTrack()) {
    silence_at_ = 0;
    silence_left_ = Mp4Reader::Rescale(track->delay, kRate, track->timescale);
  }
  return true;
}

const Mp4Track* AmrDecoderSource::EditedTrack() const {
  if (!reader_ || !cursor_ || reader_->kind != MediaReader::kMp4) return nullptr;
  const Mp4Track* track = static_cast<const Mp4Reader*>(reader_.get())->track(static_cast<const Mp4Cursor*>(cursor_.get())->track);
  return track && track->timescale != 0 ? track : nullptr;
}

bool AmrDecoderSource::GetFormat(MediaFormat* out) {
  out->sampleRate = 8000;
  out->bitsPerSample = 16;
  out->channels = 1;
  out->frameDurationMs = 0;
  out->height = 0;
  out->width = 0;
  return true;
}

bool AmrDecoderSource::Seek(uint32_t timeMs) {
  if (!reader_) return false;
  seek_target_ms_ = timeMs;
  // The current sample belongs to the old position.
  sample_.reset();
  sample_left_ = 0;
  if (const Mp4Track* track = EditedTrack()) {
    // The same start as the first pass: from the edit's media time, after
    // the silence of an empty edit, with a fresh decoder state. The frames
    // of the target's sample before the target are trimmed as in a file.
    const uint64_t delay = Mp4Reader::Rescale(track->delay, kRate, track->timescale);
    silence_at_ = Mp4Reader::Rescale(timeMs, kRate, 1000);
    silence_left_ = delay > silence_at_ ? delay - silence_at_ : 0;
    decoder_.Exit();
    decoder_.Init();
  }
  return reader_->Seek(cursor_.get(), timeMs);
}

bool AmrDecoderSource::Restart() {
  Seek(0);
  return true;
}

std::unique_ptr<uint8_t[]> AmrDecoderSource::ReadAudio(uint32_t, uint32_t* bytes, uint32_t* timeMs) {
  // Frames wholly outside the track's presentation give nothing: the next
  // one is read.
  for (;;) {
    bool skipped = false;
    std::unique_ptr<uint8_t[]> block = ReadFrame(bytes, timeMs, &skipped);
    if (!skipped) return block;
  }
}

std::unique_ptr<uint8_t[]> AmrDecoderSource::ReadFrame(uint32_t* bytes, uint32_t* timeMs, bool* skipped) {
  *bytes = 0;
  if (!reader_ || !cursor_ || !decoder_.IsOpen()) return nullptr;
  auto output = std::make_unique<uint8_t[]>(kBlockBytes);
  const Mp4Track* track = EditedTrack();
  if (track && silence_left_ > 0) {
    // The delay of an empty edit: silence before the track's first sample.
    const uint32_t samples = static_cast<uint32_t>(std::min<uint64_t>(silence_left_, kSamples));
    const uint32_t time = static_cast<uint32_t>(std::min<uint64_t>(silence_at_ * 1000 / kRate, UINT32_MAX));
    silence_left_ -= samples;
    silence_at_ += samples;
    if (endMark != 0 && time > endMark) return nullptr;
    std::memset(output.get(), 0, kBlockBytes);
    return Finish(std::move(output), samples * 2, time, bytes, timeMs);
  }
  if (sample_left_ == 0) {
    sample_.reset();
    uint32_t sample_time = 0;
    if (reader_->ReadSample(cursor_.get(), &sample_, &sample_bytes_, &sample_time)) {
      time_ms_ = sample_time;
      sample_left_ = sample_bytes_;
      if (track) frame_media_ = static_cast<const Mp4Cursor*>(cursor_.get())->read_time;
    }
  }
  if (endMark != 0 && time_ms_ > endMark) {
    sample_.reset();
    sample_left_ = 0;
    return nullptr;
  }
  if (!sample_ || sample_left_ == 0) return nullptr;

  const uint8_t* frame = sample_.get() + (sample_bytes_ - sample_left_);
  uint32_t frame_type = (frame[0] >> 3) & 15;
  uint32_t frame_bytes = 1 + AmrPayloadBytes(frame_type, false);
  uint32_t used;
  int16_t pcm[ov::AmrNbDecoder::kSamplesPerFrame] = {};
  if (sample_left_ >= frame_bytes) {
    decoder_.Decode(frame, pcm);
    used = frame_bytes;
  } else {
    // A frame cut short: nothing is decoded (the block stays silent) and the
    // rest of the sample is dropped.
    used = sample_left_;
  }
  for (int i = 0; i < ov::AmrNbDecoder::kSamplesPerFrame; ++i) {
    uint16_t v = static_cast<uint16_t>(pcm[i]);
    output[2 * i] = static_cast<uint8_t>(v);
    output[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  sample_left_ -= used;
  if (sample_left_ == 0) sample_.reset();

  uint32_t out_bytes = kBlockBytes;
  uint32_t time = time_ms_;
  time_ms_ += kFrameMs;
  if (track) {
    // Only the part of the frame inside the track's presentation (from its
    // edit's media time to the edit's end) is sound of the clip.
    const uint64_t at = frame_media_;
    frame_media_ += Mp4Reader::Rescale(kSamples, track->timescale, kRate);
    uint32_t drop = 0;
    const uint32_t keep = Mp4Reader::PresentedSamples(*track, track->lead_in, at, kSamples, kRate, &drop);
    if (keep == 0) {
      *skipped = true;
      return nullptr;
    }
    std::memmove(output.get(), output.get() + size_t{drop} * 2, size_t{keep} * 2);
    out_bytes = keep * 2;
    time = Mp4Reader::PresentationMs(*track, at + Mp4Reader::Rescale(drop, track->timescale, kRate));
  }
  if (seek_target_ms_ > time) {
    uint64_t skip = uint64_t{seek_target_ms_ - time} * kBytesPerMs;
    if (skip < out_bytes) {
      std::memmove(output.get(), output.get() + skip, out_bytes - skip);
      out_bytes -= static_cast<uint32_t>(skip);
      time = seek_target_ms_;
    }
  }
  return Finish(std::move(output), out_bytes, time, bytes, timeMs);
}

std::unique_ptr<uint8_t[]> AmrDecoderSource::Finish(std::unique_ptr<uint8_t[]> output, uint32_t out_bytes,
                                                    uint32_t time, uint32_t* bytes, uint32_t* timeMs) {
  if (endMark != 0 && uint64_t{time} + uint64_t{out_bytes} * 1000 / 16000 > endMark) {
    const uint32_t keep = endMark > time ? (endMark - time) * kBytesPerMs : 0;
    if (keep < out_bytes) out_bytes = keep;
  }
  *bytes = out_bytes;
  *timeMs = time;
  return output;
}

}  // namespace media
