#include "engine/tempo_stage.h"

namespace engine {

bool TempoStage::Enable(const WaveFormatEx& sourceFormat, float speed) {
  if (sourceFormat.bitsPerSample != 16 || (sourceFormat.channels != 1 && sourceFormat.channels != 2)) return false;
  auto processor = std::make_unique<TimeScaleProcessor>(sourceFormat.channels);
  if (!processor->SetFactor(speed)) return false;
  processor_ = std::move(processor);
  channels_ = sourceFormat.channels;
  for (auto& b : block_) b.assign(processor_->Block(), 0);
  return true;
}

void TempoStage::Reset() {
  if (processor_) processor_->Reset(0);
}

uint32_t TempoStage::NeededBytes() {
  if (!processor_) return 0;
  int32_t a = processor_->Available();
  if (a < 0) {
    // The marks are gone: lay them out again and start afresh.
    processor_->AddRegularMarks();
    processor_->Reset(0);
    a = processor_->Available();
  }
  return a > 0 ? static_cast<uint32_t>(a) * 2 * channels_ : 0;
}

void TempoStage::Drain(std::vector<uint8_t>* out) {
  int16_t* outPlanes[2] = {block_[0].data(), block_[channels_ == 2 ? 1 : 0].data()};
  while (processor_->Process(nullptr, 0, outPlanes) > 0) {
    const int16_t* l = block_[0].data();
    const int16_t* r = block_[channels_ == 2 ? 1 : 0].data();
    for (uint32_t i = 0; i < processor_->Block(); ++i) {
      for (int16_t v : {l[i], r[i]}) {
        out->push_back(static_cast<uint8_t>(v & 0xFF));
        out->push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
      }
    }
  }
}

void TempoStage::Push(const uint8_t* data, uint32_t bytes, std::vector<uint8_t>* out) {
  if (!processor_) return;
  uint32_t frames = bytes / (2 * channels_);
  for (uint32_t c = 0; c < channels_; ++c) planes_[c].resize(frames);
  for (uint32_t i = 0; i < frames; ++i) {
    for (uint32_t c = 0; c < channels_; ++c) {
      const uint8_t* p = data + (i * channels_ + c) * 2;
      planes_[c][i] = static_cast<int16_t>(p[0] | p[1] << 8);
    }
  }
  const int16_t* in[2] = {planes_[0].data(), planes_[channels_ == 2 ? 1 : 0].data()};
  int16_t* outPlanes[2] = {block_[0].data(), block_[channels_ == 2 ? 1 : 0].data()};
  int32_t r = processor_->Process(in, frames, outPlanes);
  if (r > 0) {
    for (uint32_t i = 0; i < processor_->Block(); ++i) {
      for (int16_t v : {block_[0][i], block_[channels_ == 2 ? 1 : 0][i]}) {
        out->push_back(static_cast<uint8_t>(v & 0xFF));
        out->push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
      }
    }
  }
  Drain(out);
}

}  // namespace engine
