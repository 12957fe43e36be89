#include "media/amr_decoder_source.h"

#include <cstring>

#include "media/amr_reader.h"

namespace media {

namespace {

constexpr uint32_t kBlockBytes = 320;  // 160 samples of 16 bits
constexpr uint32_t kFrameMs = 20;
constexpr uint32_t kBytesPerMs = 16;  // 8000 Hz × 2 bytes ÷ 1000

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
  return true;
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
  return reader_->Seek(cursor_.get(), timeMs);
}

bool AmrDecoderSource::Restart() {
  Seek(0);
  return true;
}

std::unique_ptr<uint8_t[]> AmrDecoderSource::ReadAudio(uint32_t, uint32_t* bytes, uint32_t* timeMs) {
  *bytes = 0;
  if (!reader_ || !cursor_ || !decoder_.IsOpen()) return nullptr;
  auto output = std::make_unique<uint8_t[]>(kBlockBytes);
  if (sample_left_ == 0) {
    sample_.reset();
    uint32_t sample_time = 0;
    if (reader_->ReadSample(cursor_.get(), &sample_, &sample_bytes_, &sample_time)) {
      time_ms_ = sample_time;
      sample_left_ = sample_bytes_;
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
  if (seek_target_ms_ > time) {
    uint64_t skip = uint64_t{seek_target_ms_ - time} * kBytesPerMs;
    if (skip < kBlockBytes) {
      std::memmove(output.get(), output.get() + skip, kBlockBytes - skip);
      out_bytes -= static_cast<uint32_t>(skip);
      time = seek_target_ms_;
    }
  }
  if (endMark != 0 && uint64_t{time} + uint64_t{out_bytes} * 1000 / 16000 > endMark) {
    out_bytes = endMark > time ? (endMark - time) * kBytesPerMs : 0;
    if (out_bytes > kBlockBytes) out_bytes = kBlockBytes;
  }
  *bytes = out_bytes;
  *timeMs = time;
  time_ms_ += kFrameMs;
  return output;
}

}  // namespace media
