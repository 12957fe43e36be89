#include "engine/reverb_effect.h"

#include <algorithm>

namespace engine {

bool ReverbEffect::Build(const WaveFormatEx& sourceFormat, int32_t delayMs, int32_t voices, int32_t volumePercent,
                         int32_t stepMs) {
  if (delayMs < 1 || delayMs > kMaxDelayMs || voices < 0 || voices > kMaxVoices || volumePercent < 0 ||
      volumePercent > 100 || stepMs < 0 || stepMs > kMaxDelayMs)
    return false;
  const uint32_t rate = sourceFormat.samplesPerSec;
  frameBytes_ = sourceFormat.bitsPerSample / 8u * sourceFormat.channels;
  chunk_ = frameBytes_ * rate / 1000 * static_cast<uint32_t>(delayMs);
  chunk_ -= chunk_ % frameBytes_;
  if (chunk_ == 0) return false;
  inner_ = std::make_unique<SoftMixer>(16, rate, 2);
  voices_.clear();
  uintptr_t dry = inner_->OpenVoice(sourceFormat);
  if (!dry) return false;
  inner_->SetVolume(dry, 0xFFFFFFFF);
  // A voice starts by taking two source frames for its first output frame;
  // one frame of lead keeps the dry voice from running dry at the end of
  // every chunk (which would leave a hole and shift it by a frame each time).
  inner_->WriteVoice(dry, SilenceBlock(frameBytes_, sourceFormat.bitsPerSample), frameBytes_);
  voices_.push_back(dry);
  const WaveFormatEx wet = WaveFormatEx::Pcm(16, rate, 2);
  const uint32_t level = static_cast<uint32_t>(volumePercent) * 65535 / 100;
  for (int32_t i = 0; i < voices; ++i) {
    uintptr_t v = inner_->OpenVoice(wet);
    if (!v) return false;
    inner_->SetVolume(v, i % 2 == 0 ? level : level << 16);
    uint32_t pad = static_cast<uint32_t>(delayMs + i * stepMs) * (rate * 4 / 1000);
    pad &= ~3u;
    if (pad) inner_->WriteVoice(v, SilenceBlock(pad, 16), pad);
    voices_.push_back(v);
  }
  return true;
}

void ReverbEffect::Feed(const uint8_t* data, uint32_t bytes, std::vector<uint8_t>* out) {
  out->clear();
  if (!inner_ || frameBytes_ == 0) return;
  bytes -= bytes % frameBytes_;
  for (uint32_t at = 0; at < bytes; at += chunk_) {
    uint32_t n = std::min(chunk_, bytes - at);
    uint32_t wet = n / frameBytes_ * 4;
    inner_->WriteVoice(voices_[0], data + at, n);
    piece_.assign(wet, 0);
    inner_->Render(piece_.data(), wet);
    // A short render (the dry voice lags one sample) leaves zeros: the
    // output keeps the block's length either way.
    out->insert(out->end(), piece_.begin(), piece_.end());
    for (size_t v = 1; v < voices_.size(); ++v) inner_->WriteVoice(voices_[v], piece_.data(), wet);
  }
}

}  // namespace engine
