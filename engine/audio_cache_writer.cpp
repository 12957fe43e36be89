#include "engine/audio_cache_writer.h"

#include <vector>

#include "engine/engine_command.h"

namespace engine {

AudioCacheWriter::AudioCacheWriter(const ov::String& sourcePath, const ov::String& outputPath, uint32_t channels,
                                   uint32_t rate, uint32_t bits, uint32_t startMs, uint32_t endMs) {
  mixer_ = std::make_unique<AudioMixer>(bits, rate, channels);
  if (mixer_->LoadChannel(0, sourcePath, startMs, endMs, 0.0f) != 1) {
    mixer_.reset();
    return;
  }
  mixer_->ApplyAction(MakeCommand(CMD_PLAY, 0), 0);

  media::WavFormat format;
  format.formatTag = 1;  // PCM
  format.channels = uint16_t(channels);
  format.samplesPerSecond = rate;
  format.averageBytesPerSecond = channels * rate * bits / 8;
  format.blockAlign = uint16_t(channels * bits / 8);
  format.bitsPerSample = uint16_t(bits);
  wav_ = std::make_unique<media::WavFile>(outputPath, ov::kGenericRead | ov::kGenericWrite,
                                          ov::CreateMode::kCreateAlways, format);
  if (wav_->status != 0 || !wav_->IsOpen()) {
    wav_.reset();
    mixer_.reset();
    return;
  }
  // The rate is divided first, as the progress has always been computed.
  const int64_t span = int64_t(endMs) - int64_t(startMs);
  const int64_t expected = span > 0 ? span * (format.averageBytesPerSecond / 1000) : 0;
  bytesExpected_ = expected > 0xFFFFFFFF ? 0xFFFFFFFFu : uint32_t(expected);
  bytesWritten_ = 0;
}

AudioCacheWriter::~AudioCacheWriter() { Close(); }

int AudioCacheWriter::Step() {
  if (!mixer_ || !wav_) return -1;
  if (!mixer_->IsChannelLoaded(0)) {
    Close();
    return 100;
  }
  std::vector<uint8_t> block(kBlockBytes);
  uint32_t pulled = 0;
  if (mixer_->Pull(block.data(), kBlockBytes, &pulled) != 1) return -1;
  if (pulled != 0) {
    uint32_t written = 0;
    const bool ok = wav_->Append(block.data(), pulled, &written);
    bytesWritten_ += written;
    if (!ok || written < pulled) return -1;
  }
  if (bytesExpected_ == 0) return -1;
  // 100 means "finished" to the caller, which then closes the cache; a
  // progress that reaches it before the item's end would cut the cache short.
  const uint64_t percent = bytesWritten_ * 100 / bytesExpected_;
  return percent >= 100 ? 99 : int(percent);
}

void AudioCacheWriter::Close() {
  if (wav_) {
    wav_->Close();
    wav_.reset();
  }
  mixer_.reset();
}

}  // namespace engine
