// The system's wave-out device over SDL2 audio. SDL pulls from its own
// thread; the queue of written blocks is shared with it under a mutex, and
// done notices are sent from that thread after the mutex is released.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdlib>

#include "platform/audio/wave_out_device.h"

namespace ov {

namespace {

class SdlWaveOutDevice final : public WaveOutDevice {
 public:
  ~SdlWaveOutDevice() override { Close(); }

  bool Open(const WaveOutFormat& format, DoneFn done, void* context) override {
    // SDL keeps error text per thread, and a thread it did not create (the
    // engine's feed, an editor's preview) never frees it: drop it on leaving.
    struct ThreadTextRelease {
      ~ThreadTextRelease() { SDL_TLSCleanup(); }
    } release;
    Close();
    if ((format.bits != 8 && format.bits != 16) || (format.channels != 1 && format.channels != 2) ||
        format.rate < 1 || format.rate > 192000)
      return false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      // No sound hardware: fall back to SDL's dummy driver, which plays in
      // real time into nothing.
      SDL_SetHint(SDL_HINT_AUDIODRIVER, "dummy");
      if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    }
    SDL_AudioSpec want{};
    SDL_AudioSpec have{};
    want.freq = static_cast<int>(format.rate);
    want.format = format.bits == 8 ? AUDIO_U8 : AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(format.channels);
    want.samples = 1024;
    want.callback = &SdlWaveOutDevice::Callback;
    want.userdata = this;
    format_ = format;
    done_ = done;
    context_ = context;
    samples_.store(0, std::memory_order_relaxed);
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return false;
    }
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }

  bool Write(const uint8_t* data, uint32_t bytes, void* tag) override {
    if (device_ == 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(Block{data, bytes, 0, tag});
    return true;
  }

  void Pause() override {
    if (device_) SDL_PauseAudioDevice(device_, 1);
  }
  void Restart() override {
    if (device_) SDL_PauseAudioDevice(device_, 0);
  }
  void SetVolume(uint32_t word) override { volume_.store(word, std::memory_order_relaxed); }
  uint32_t Volume() const override { return volume_.load(std::memory_order_relaxed); }
  uint64_t SamplesPlayed() const override { return samples_.load(std::memory_order_acquire); }

  void Close() override {
    if (device_ == 0) return;
    SDL_CloseAudioDevice(device_);  // the callback thread has ended on return
    device_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    std::deque<Block> rest;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      rest.swap(queue_);
    }
    for (const Block& b : rest) {
      if (done_) done_(context_, b.tag);
    }
  }

 private:
  struct Block {
    const uint8_t* data;
    uint32_t bytes;
    uint32_t offset;
    void* tag;
  };

  static void Callback(void* userdata, Uint8* stream, int len) {
    static_cast<SdlWaveOutDevice*>(userdata)->Fill(stream, static_cast<uint32_t>(len));
  }

  void Fill(uint8_t* stream, uint32_t len) {
    const uint32_t frameBytes = format_.FrameBytes();
    uint32_t filled = 0;
    finished_.clear();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      while (filled < len && !queue_.empty()) {
        Block& b = queue_.front();
        uint32_t take = std::min(len - filled, b.bytes - b.offset);
        take -= take % frameBytes;
        if (take == 0 && b.bytes - b.offset >= frameBytes) break;
        std::memcpy(stream + filled, b.data + b.offset, take);
        b.offset += take;
        filled += take;
        if (b.bytes - b.offset < frameBytes) {
          finished_.push_back(b.tag);
          queue_.pop_front();
        }
      }
    }
    // Underrun: silence, which is not counted as played.
    std::memset(stream + filled, format_.bits == 8 ? 0x80 : 0, len - filled);
    ApplyVolume(stream, filled);
    samples_.fetch_add(filled / frameBytes, std::memory_order_release);
    for (void* tag : finished_) {
      if (done_) done_(context_, tag);
    }
  }

  void ApplyVolume(uint8_t* stream, uint32_t bytes) {
    uint32_t word = volume_.load(std::memory_order_relaxed);
    if (word == 0xFFFFFFFF) return;
    const uint32_t gain[2] = {word & 0xFFFF, word >> 16};
    if (format_.bits == 16) {
      for (uint32_t i = 0; i * 2 + 1 < bytes; ++i) {
        int16_t s;
        std::memcpy(&s, stream + 2 * i, 2);
        s = static_cast<int16_t>(s * static_cast<int32_t>(gain[format_.channels == 2 ? i % 2 : 0]) / 65535);
        std::memcpy(stream + 2 * i, &s, 2);
      }
    } else {
      for (uint32_t i = 0; i < bytes; ++i) {
        int32_t s = stream[i] - 128;
        s = s * static_cast<int32_t>(gain[format_.channels == 2 ? i % 2 : 0]) / 65535;
        stream[i] = static_cast<uint8_t>(s + 128);
      }
    }
  }

  SDL_AudioDeviceID device_ = 0;
  WaveOutFormat format_;
  DoneFn done_ = nullptr;
  void* context_ = nullptr;
  std::mutex mutex_;
  std::deque<Block> queue_;
  std::vector<void*> finished_;  // the callback thread's only
  std::atomic<uint64_t> samples_{0};
  std::atomic<uint32_t> volume_{0xFFFFFFFF};
};

}  // namespace

std::unique_ptr<WaveOutDevice> CreateSystemWaveOutDevice() { return std::make_unique<SdlWaveOutDevice>(); }

}  // namespace ov
