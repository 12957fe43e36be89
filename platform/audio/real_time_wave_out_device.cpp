// The real-time wave-out device: a thread that plays one period of the queue
// on a fixed grid of wall-clock times. The grid is anchored at Open and at
// every Restart; a thread woken late plays the overdue periods at once, so
// the count of played frames stays with the time however loaded the machine
// is, and a writer that falls behind hears silence, as on sound hardware.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/audio/wave_out_device.h"

namespace ov {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

struct RealTimeWaveOutDevice::State {
  struct Block {
    const uint8_t* data;
    uint32_t bytes;
    uint32_t offset;
    void* tag;
  };
  uint32_t periodFrames = 0;  // as given; 0 picks 20 ms at Open
  bool keepPlayed = false;

  mutable std::mutex mutex;
  std::condition_variable wake;
  WaveOutFormat format;
  uint32_t period = 0;  // frames per period of the open device
  DoneFn done = nullptr;
  void* context = nullptr;
  std::deque<Block> queue;
  std::vector<uint8_t> played;
  std::vector<uint8_t> scratch;  // the device thread's only
  uint64_t samples = 0;
  uint64_t underrun = 0;
  uint32_t volume = 0xFFFFFFFF;
  bool open = false;
  bool paused = false;
  bool quit = false;
  // The grid: period n of this run plays at anchor + n periods.
  Clock::time_point anchor;
  uint64_t periodsSinceAnchor = 0;
  std::thread thread;
};

RealTimeWaveOutDevice::RealTimeWaveOutDevice(uint32_t periodFrames, bool keepPlayed)
    : state_(std::make_unique<State>()) {
  state_->periodFrames = periodFrames;
  state_->keepPlayed = keepPlayed;
}

RealTimeWaveOutDevice::~RealTimeWaveOutDevice() { Close(); }

bool RealTimeWaveOutDevice::Open(const WaveOutFormat& format, DoneFn done, void* context) {
  Close();
  if (!format.IsPlayable()) return false;
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.format = format;
    s.period = s.periodFrames != 0 ? s.periodFrames : std::max<uint32_t>(1, format.rate / 50);
    s.done = done;
    s.context = context;
    s.samples = 0;
    s.underrun = 0;
    s.played.clear();
    s.volume = 0xFFFFFFFF;
    s.open = true;
    s.paused = false;
    s.quit = false;
    s.anchor = Clock::now();
    s.periodsSinceAnchor = 0;
  }
  s.thread = std::thread([this] { Run(); });
  return true;
}

void RealTimeWaveOutDevice::Run() {
  State& s = *state_;
  std::vector<void*> finished;
  std::unique_lock<std::mutex> lock(s.mutex);
  while (!s.quit) {
    if (s.paused) {
      s.wake.wait(lock);
      continue;
    }
    const uint32_t rate = s.format.rate;
    const auto due = s.anchor + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                    double(s.periodsSinceAnchor + 1) * s.period / rate));
    if (Clock::now() < due) {
      s.wake.wait_until(lock, due);
      continue;
    }
    // One period: queued data first, silence for the rest.
    const uint32_t frameBytes = s.format.FrameBytes();
    const uint32_t want = s.period * frameBytes;
    s.scratch.assign(want, s.format.bits == 8 ? 0x80 : 0);
    uint32_t filled = 0;
    while (filled < want && !s.queue.empty()) {
      State::Block& b = s.queue.front();
      uint32_t take = std::min(want - filled, b.bytes - b.offset);
      take -= take % frameBytes;
      std::memcpy(s.scratch.data() + filled, b.data + b.offset, take);
      b.offset += take;
      filled += take;
      if (b.bytes - b.offset < frameBytes) {
        finished.push_back(b.tag);
        s.queue.pop_front();
      } else if (take == 0) {
        break;
      }
    }
    ApplyVolumeWord(s.scratch.data(), filled, s.format, s.volume);
    if (s.keepPlayed) s.played.insert(s.played.end(), s.scratch.begin(), s.scratch.end());
    s.samples += s.period;
    s.underrun += (want - filled) / frameBytes;
    ++s.periodsSinceAnchor;
    if (!finished.empty()) {
      const DoneFn done = s.done;
      void* const context = s.context;
      lock.unlock();
      for (void* tag : finished) {
        if (done) done(context, tag);
      }
      finished.clear();
      lock.lock();
    }
  }
}

bool RealTimeWaveOutDevice::Write(const uint8_t* data, uint32_t bytes, void* tag) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->open) return false;
  state_->queue.push_back(State::Block{data, bytes, 0, tag});
  return true;
}

void RealTimeWaveOutDevice::Pause() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->paused = true;
  state_->wake.notify_all();
}

void RealTimeWaveOutDevice::Restart() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->paused) return;
  // Time paused is not played: a new grid from now on.
  state_->paused = false;
  state_->anchor = Clock::now();
  state_->periodsSinceAnchor = 0;
  state_->wake.notify_all();
}

void RealTimeWaveOutDevice::SetVolume(uint32_t word) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->volume = word;
}

uint32_t RealTimeWaveOutDevice::Volume() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->volume;
}

uint64_t RealTimeWaveOutDevice::SamplesPlayed() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->samples;
}

uint64_t RealTimeWaveOutDevice::UnderrunFrames() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->underrun;
}

std::vector<uint8_t> RealTimeWaveOutDevice::Played() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->played;
}

void RealTimeWaveOutDevice::Close() {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.quit = true;
    s.wake.notify_all();
  }
  if (s.thread.joinable()) s.thread.join();
  std::deque<State::Block> rest;
  DoneFn done;
  void* context;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    rest.swap(s.queue);
    s.open = false;
    done = s.done;
    context = s.context;
  }
  for (const State::Block& b : rest) {
    if (done) done(context, b.tag);
  }
}

void ApplyVolumeWord(uint8_t* data, uint32_t bytes, const WaveOutFormat& format, uint32_t word) {
  if (word == 0xFFFFFFFF) return;
  const uint32_t gain[2] = {word & 0xFFFF, word >> 16};
  if (format.bits == 16) {
    for (uint32_t i = 0; i * 2 + 1 < bytes; ++i) {
      int16_t v;
      std::memcpy(&v, data + 2 * i, 2);
      v = static_cast<int16_t>(v * static_cast<int32_t>(gain[format.channels == 2 ? i % 2 : 0]) / 65535);
      std::memcpy(data + 2 * i, &v, 2);
    }
  } else {
    for (uint32_t i = 0; i < bytes; ++i) {
      int32_t v = data[i] - 128;
      v = v * static_cast<int32_t>(gain[format.channels == 2 ? i % 2 : 0]) / 65535;
      data[i] = static_cast<uint8_t>(v + 128);
    }
  }
}

}  // namespace ov
