#include "platform/audio/wave_out_device.h"

#include <algorithm>

namespace ov {

bool VirtualWaveOutDevice::Open(const WaveOutFormat& format, DoneFn done, void* context) {
  if (!format.IsPlayable()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  format_ = format;
  done_ = done;
  context_ = context;
  samples_ = 0;
  played_.clear();
  open_ = true;
  paused_ = false;
  return true;
}

bool VirtualWaveOutDevice::Write(const uint8_t* data, uint32_t bytes, void* tag) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return false;
  queue_.push_back(Block{data, bytes, 0, tag});
  return true;
}

void VirtualWaveOutDevice::Pause() {
  std::lock_guard<std::mutex> lock(mutex_);
  paused_ = true;
}

void VirtualWaveOutDevice::Restart() {
  std::lock_guard<std::mutex> lock(mutex_);
  paused_ = false;
}

void VirtualWaveOutDevice::SetVolume(uint32_t word) {
  std::lock_guard<std::mutex> lock(mutex_);
  volume_ = word;
}

uint32_t VirtualWaveOutDevice::Volume() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return volume_;
}

uint64_t VirtualWaveOutDevice::SamplesPlayed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return samples_;
}

size_t VirtualWaveOutDevice::BlocksQueued() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

bool VirtualWaveOutDevice::IsPaused() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return paused_;
}

bool VirtualWaveOutDevice::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

std::vector<uint8_t> VirtualWaveOutDevice::Played() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return played_;
}

uint64_t VirtualWaveOutDevice::Advance(uint64_t frames) {
  std::vector<void*> finished;
  DoneFn done;
  void* context;
  uint64_t played = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_ || paused_) return 0;
    const uint32_t frameBytes = format_.FrameBytes();
    while (played < frames && !queue_.empty()) {
      Block& b = queue_.front();
      uint64_t left = (b.bytes - b.offset) / frameBytes;
      uint64_t take = std::min(left, frames - played);
      played_.insert(played_.end(), b.data + b.offset, b.data + b.offset + take * frameBytes);
      b.offset += static_cast<uint32_t>(take * frameBytes);
      played += take;
      if (b.bytes - b.offset < frameBytes) {
        finished.push_back(b.tag);
        queue_.pop_front();
      }
    }
    samples_ += played;
    done = done_;
    context = context_;
  }
  for (void* tag : finished) {
    if (done) done(context, tag);
  }
  return played;
}

void VirtualWaveOutDevice::Close() {
  std::vector<void*> finished;
  DoneFn done;
  void* context;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Block& b : queue_) finished.push_back(b.tag);
    queue_.clear();
    open_ = false;
    done = done_;
    context = context_;
  }
  for (void* tag : finished) {
    if (done) done(context, tag);
  }
}

}  // namespace ov
