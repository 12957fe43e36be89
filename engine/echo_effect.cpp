#include "engine/echo_effect.h"

#include <memory>

namespace engine {

bool EchoEffect::Open(SoftMixer* mixer, const WaveFormatEx& format, uint32_t channelVolume, int32_t delayMs) {
  Close();
  if (delayMs < 0 || delayMs > kMaxDelayMs) return false;
  voice_ = mixer->OpenVoice(format);
  if (!voice_) return false;
  mixer_ = mixer;
  delayMs_ = delayMs;
  bits_ = format.bitsPerSample;
  frameBytes_ = format.bitsPerSample / 8u * format.channels;
  bytesPerMs_ = frameBytes_ * format.samplesPerSec / 1000;
  SetChannelVolume(channelVolume);
  return true;
}

void EchoEffect::Close() {
  if (voice_) mixer_->CloseVoice(voice_);
  voice_ = 0;
}

void EchoEffect::SetChannelVolume(uint32_t word) {
  if (voice_) mixer_->SetVolume(voice_, static_cast<uint32_t>(uint64_t{word} * 3 / 4));
}

void EchoEffect::SetSampleRate(uint32_t rate) {
  if (voice_) mixer_->SetSampleRate(voice_, rate);
}

uint32_t EchoEffect::QueuedMs() const { return voice_ ? mixer_->QueuedMs(voice_) : 0; }

void EchoEffect::Queue(const uint8_t* data, uint32_t bytes) {
  if (!voice_) return;
  uint32_t queued = QueuedMs();
  // Pad only when the lag has shrunk by more than 25 ms: small gaps are the
  // rounding of whole blocks, not a lost delay.
  if (delayMs_ > static_cast<int32_t>(queued) && static_cast<uint32_t>(delayMs_) - queued > 25) {
    uint32_t pad = (static_cast<uint32_t>(delayMs_) - queued) * bytesPerMs_;
    pad -= pad % frameBytes_;
    if (pad) {
      mixer_->WriteVoice(voice_, SilenceBlock(pad, bits_), pad);
    }
  }
  mixer_->WriteVoice(voice_, data, bytes);
}

}  // namespace engine
