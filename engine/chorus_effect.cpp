#include "engine/chorus_effect.h"

#include <algorithm>
#include <cstring>

namespace engine {

bool ChorusEffect::Build(const WaveFormatEx& sourceFormat, int32_t voices) {
  if (voices < 1 || voices > kMaxVoices) return false;
  const uint32_t rate = sourceFormat.samplesPerSec;
  inner_ = std::make_unique<SoftMixer>(16, rate, 2);
  frameBytes_ = sourceFormat.bitsPerSample / 8u * sourceFormat.channels;
  voices_.clear();
  rates_.clear();
  uintptr_t dry = inner_->OpenVoice(sourceFormat);
  if (!dry) return false;
  inner_->SetVolume(dry, kVoiceVolume);
  // One frame of lead: a voice takes two frames for its first output frame,
  // and without it the dry voice would run out one frame before each block
  // ends and slip by a frame every block.
  inner_->WriteVoice(dry, SilenceBlock(frameBytes_, sourceFormat.bitsPerSample), frameBytes_);
  voices_.push_back(dry);
  for (int32_t i = 0; i < voices; ++i) {
    uintptr_t v = inner_->OpenVoice(sourceFormat);
    if (!v) return false;
    inner_->SetVolume(v, kVoiceVolume);
    uint32_t d = static_cast<uint32_t>((i + 2) / 2) * rate / 400;
    uint32_t pad = d * (frameBytes_ * rate / 1000);
    pad -= pad % frameBytes_;
    if (pad) inner_->WriteVoice(v, SilenceBlock(pad, sourceFormat.bitsPerSample), pad);
    rates_.push_back(i % 2 == 0 ? rate + d : rate - d);
    voices_.push_back(v);
  }
  return true;
}

void ChorusEffect::Feed(const uint8_t* data, uint32_t bytes, std::vector<uint8_t>* out) {
  const uint32_t frames = frameBytes_ ? bytes / frameBytes_ : 0;
  out->assign(static_cast<size_t>(frames) * 4, 0);
  if (!inner_ || frames == 0) return;
  for (uintptr_t v : voices_) inner_->WriteVoice(v, data, frames * frameBytes_);
  const uint32_t n = static_cast<uint32_t>(rates_.size());
  // Steps of a twentieth of a second of the 16-bit stereo output.
  uint32_t step = std::max<uint32_t>(2, (inner_->rate() * 4 / 20) & ~1u);
  size_t offset = 0;
  while (offset < out->size()) {
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(step, out->size() - offset));
    uint32_t produced = inner_->Render(out->data() + offset, chunk);
    for (uint32_t k = 1; k <= n; ++k) inner_->SetSampleRate(voices_[k], rates_[(block_ + k) % n]);
    ++block_;
    if (produced == 0) {
      // Nothing more to render: repeat the bytes just before, when there are
      // that many, rather than leave a hole of silence.
      size_t rest = out->size() - offset;
      if (offset >= rest) std::memcpy(out->data() + offset, out->data() + offset - rest, rest);
      break;
    }
    offset += produced;
  }
}

}  // namespace engine
