#include "media/aac_decoder_source.h"

#include <algorithm>
#include <cstring>

#include "media/adts_reader.h"
#include "media/mp4_reader.h"

namespace media {

namespace {
constexpr uint32_t kSamplesPerBlock = 1024;
}  // namespace

AacDecoderSource::AacDecoderSource(std::unique_ptr<MediaReader> reader) : reader_(std::move(reader)) {}

AacDecoderSource::~AacDecoderSource() {
  reader_.reset();
  if (decoder_) heaac::gDestroyHeAacDecoder(decoder_);
}

bool AacDecoderSource::Open(const ov::String& p, uint32_t) {
  own_path_ = p;
  if (!reader_) return false;
  // Every negative result is a failure: creation answers -2.
  if (heaac::gCreateHeAacDecoder(&decoder_) < 0) {
    decoder_ = nullptr;
    return false;
  }
  cursor_ = reader_->OpenTrack(reader_->GetAudioTrack());
  info_ = heaac::AacStreamInfo{};
  int32_t result = -1;
  if (reader_->kind == MediaReader::kMp4) {
    uint32_t bytes = 0;
    std::unique_ptr<uint8_t[]> config = static_cast<Mp4Reader*>(reader_.get())->GetDecoderConfig(false, &bytes);
    if (!config) return false;
    int32_t length = static_cast<int32_t>(bytes);
    result = heaac::gGetAacStreamInfo(config.get(), &length, &info_, 0, nullptr, 0);
  } else if (reader_->kind == MediaReader::kAdts) {
    uint32_t bytes = 0;
    std::unique_ptr<uint8_t[]> frame = static_cast<AdtsReader*>(reader_.get())->GetDecoderConfig(&bytes);
    if (!frame) return false;
    int32_t length = static_cast<int32_t>(bytes);
    result = heaac::gGetAacStreamInfo(frame.get(), &length, &info_, 2, nullptr, 0);
  } else {
    return false;
  }
  if (result != 0) return false;
  if (heaac::gConfigureHeAacDecoder(decoder_, &info_) < 0) return false;
  time_ms_ = 0;
  if (reader_->kind == MediaReader::kMp4) {
    const Mp4Track* track = static_cast<Mp4Reader*>(reader_.get())->track(reader_->GetAudioTrack());
    if (track) {
      present_from_ = track->lead_in;
      silence_at_ = 0;
      silence_left_ = Mp4Reader::Rescale(track->delay, info_.outputSampleRate, track->timescale);
    }
  }
  return true;
}

bool AacDecoderSource::GetFormat(MediaFormat* out) {
  out->sampleRate = info_.outputSampleRate;
  out->bitsPerSample = 16;
  out->channels = info_.channels;
  out->frameDurationMs = 0;
  out->height = 0;
  out->width = 0;
  return true;
}

bool AacDecoderSource::Seek(uint32_t timeMs) {
  if (!reader_) return false;
  seek_target_ms_ = timeMs;
  // The rest of the current sample belongs to the old position.
  sample_.reset();
  blocks_left_ = 0;
  if (reader_->kind == MediaReader::kMp4) {
    // The decoder starts afresh one sample before the target's: a block's
    // first half is overlapped with the one before it, so without that
    // sample (or with the old position's) the start would be lost.
    if (decoder_) heaac::gConfigureHeAacDecoder(decoder_, &info_);
    auto* mp4 = static_cast<Mp4Reader*>(reader_.get());
    silence_left_ = 0;
    const Mp4Track* track = cursor_ ? mp4->track(static_cast<const Mp4Cursor*>(cursor_.get())->track) : nullptr;
    if (track) {
      present_from_ = mp4->MediaTimeAt(*track, timeMs);
      // A track delayed by an empty edit starts with that much silence.
      const uint64_t rate = info_.outputSampleRate;
      const uint64_t delay = Mp4Reader::Rescale(track->delay, rate, track->timescale);
      silence_at_ = Mp4Reader::Rescale(timeMs, rate, 1000);
      silence_left_ = delay > silence_at_ ? delay - silence_at_ : 0;
    }
    return mp4->SeekWithPreroll(cursor_.get(), timeMs, 1);
  }
  // The ADTS reader counts core samples (1024 per frame): with SBR the
  // output rate is twice the core rate, which times must not follow.
  const int64_t target = static_cast<int64_t>(timeMs) * info_.coreSampleRate / 1000;
  if (decoder_) heaac::gConfigureHeAacDecoder(decoder_, &info_);
  return reader_->Seek(cursor_.get(), static_cast<uint32_t>(target));
}

std::unique_ptr<uint8_t[]> AacDecoderSource::ReadAudio(uint32_t, uint32_t* bytes, uint32_t* timeMs) {
  // Blocks wholly before the lead-in give nothing: the next one is read.
  for (;;) {
    bool skipped = false;
    std::unique_ptr<uint8_t[]> block = ReadBlock(bytes, timeMs, &skipped);
    if (!skipped) return block;
  }
}

std::unique_ptr<uint8_t[]> AacDecoderSource::ReadBlock(uint32_t* bytes, uint32_t* timeMs, bool* skipped) {
  *bytes = 0;
  if (!reader_ || !cursor_ || !decoder_) return nullptr;
  const bool adts = reader_->kind == MediaReader::kAdts;
  const uint32_t outCapacity = info_.outputBytesPerFrame;
  auto output = std::make_unique<uint8_t[]>(outCapacity);
  const uint64_t bytesPerSecond = uint64_t{info_.outputSampleRate} * info_.channels * 2;
  const uint32_t bytesPerSample = info_.channels * 2;
  if (silence_left_ > 0 && bytesPerSample != 0 && outCapacity >= bytesPerSample && info_.outputSampleRate != 0) {
    // The delay of an empty edit: silence, block by block, before the
    // track's first sample.
    const uint32_t samples = static_cast<uint32_t>(std::min<uint64_t>(silence_left_, outCapacity / bytesPerSample));
    const uint32_t time = static_cast<uint32_t>(std::min<uint64_t>(silence_at_ * 1000 / info_.outputSampleRate, UINT32_MAX));
    silence_left_ -= samples;
    silence_at_ += samples;
    if (endMark != 0 && time > endMark) return nullptr;
    std::memset(output.get(), 0, size_t{samples} * bytesPerSample);
    return Finish(std::move(output), samples * bytesPerSample, time, bytes, timeMs);
  }
  if (blocks_left_ == 0) {
    sample_.reset();
    uint32_t sampleTime = 0;
    if (!reader_->ReadSample(cursor_.get(), &sample_, &sample_bytes_, &sampleTime)) sample_.reset();
    sample_used_ = 0;
    sample_time_ = sampleTime;
    // An ADTS frame carries number_of_raw_data_blocks_in_frame + 1 blocks,
    // each decoded by its own call; an MP4 sample holds one.
    blocks_left_ = adts && sample_ && sample_bytes_ >= 7 ? (sample_[6] & 3u) + 1 : 1;
    // The ADTS reader counts 1024 samples per frame whatever the number of
    // blocks; frames of a stream carry the same number of blocks, so the
    // frame's true start is its count times the blocks per frame.
    if (adts) sample_time_ *= blocks_left_;
  }
  time_ms_ = sample_time_;
  if (adts && info_.coreSampleRate != 0) {
    time_ms_ = static_cast<uint32_t>(uint64_t{sample_time_} * 1000 / info_.coreSampleRate);
  }
  if (endMark != 0 && time_ms_ > endMark) {
    sample_.reset();
    blocks_left_ = 0;
    return nullptr;
  }
  if (!sample_ || sample_bytes_ == 0 || sample_used_ >= sample_bytes_) {
    blocks_left_ = 0;
    return nullptr;
  }
  int32_t in = static_cast<int32_t>(sample_bytes_ - sample_used_);
  int32_t outBytes = static_cast<int32_t>(outCapacity);
  const int32_t result = heaac::gDecodeHeAacFrame(decoder_, sample_.get() + sample_used_, &in,
                                                  reinterpret_cast<int16_t*>(output.get()), &outBytes);
  // Any negative result (-1 stream error, -2002 no room) ends the clip.
  if (result < 0 || in <= 0) {
    sample_.reset();
    blocks_left_ = 0;
    return nullptr;
  }
  sample_used_ += static_cast<uint32_t>(in);
  blocks_left_ -= 1;
  if (blocks_left_ > 0) sample_time_ += adts ? kSamplesPerBlock : 0;
  if (blocks_left_ == 0) sample_.reset();

  uint32_t outputBytes = static_cast<uint32_t>(outBytes);
  uint32_t time = time_ms_;
  if (!adts) {
    // Only the part of the block inside the track's presentation is sound
    // of the clip: not the encoder's priming before the edit's media time
    // (nor what lies before a seek's target), not its padding after the
    // edit's end.
    auto* mp4 = static_cast<Mp4Reader*>(reader_.get());
    const auto* cursor = static_cast<const Mp4Cursor*>(cursor_.get());
    const Mp4Track* track = mp4->track(cursor->track);
    if (track && track->timescale != 0 && bytesPerSample != 0) {
      uint32_t drop = 0;
      const uint32_t keep = Mp4Reader::PresentedSamples(*track, present_from_, cursor->read_time,
                                                        outputBytes / bytesPerSample, info_.outputSampleRate, &drop);
      if (keep == 0) {
        *skipped = true;
        return nullptr;
      }
      std::memmove(output.get(), output.get() + size_t{drop} * bytesPerSample, size_t{keep} * bytesPerSample);
      outputBytes = keep * bytesPerSample;
      time = Mp4Reader::PresentationMs(
          *track, cursor->read_time + Mp4Reader::Rescale(drop, track->timescale, info_.outputSampleRate));
    }
  } else if (seek_target_ms_ > time) {
    const uint64_t skip = (uint64_t{seek_target_ms_ - time} * bytesPerSecond / 8000) * 8;
    if (skip < outputBytes) {
      std::memmove(output.get(), output.get() + skip, outputBytes - skip);
      outputBytes -= static_cast<uint32_t>(skip);
      time = seek_target_ms_;
    }
  }
  return Finish(std::move(output), outputBytes, time, bytes, timeMs);
}

std::unique_ptr<uint8_t[]> AacDecoderSource::Finish(std::unique_ptr<uint8_t[]> output, uint32_t outputBytes,
                                                    uint32_t time, uint32_t* bytes, uint32_t* timeMs) {
  const uint64_t bytesPerSecond = uint64_t{info_.outputSampleRate} * info_.channels * 2;
  if (endMark != 0 && bytesPerSecond != 0 && uint64_t{time} + uint64_t{outputBytes} * 1000 / bytesPerSecond > endMark) {
    const uint64_t keep = endMark > time ? (uint64_t{endMark - time} * bytesPerSecond / 8000) * 8 : 0;
    if (keep < outputBytes) outputBytes = static_cast<uint32_t>(keep);
  }
  *bytes = outputBytes;
  *timeMs = time;
  return output;
}

}  // namespace media
