// The system's wave-out device over SDL2 audio. SDL pulls from its own
// thread; the queue of written blocks is shared with it under a mutex, and
// done notices are sent from that thread after the mutex is released.
//
// The device is asked for 20 ms a callback, shorter than the two 25 ms
// silence blocks the engine keeps in flight while nothing sounds, so it does
// not run dry in silence; when it does (a writer held up), the silence it
// plays is counted as played, so the clock keeps the time the sound takes.
//
// SDL's "disk" and "dummy" drivers play into a file or into nothing and time
// themselves with a sleep per callback, which falls behind on a loaded
// machine. On them the callback keeps the time itself, on a grid of wall-clock
// times anchored when playing starts: a callback that comes early waits for
// its time; on the disk driver SDL's own sleep is turned off
// (SDL_DISKAUDIODELAY 0, unless set) so a late one is followed at once by the
// next until the file has caught up; on the dummy driver, whose sleep cannot
// be turned off, the time it fell behind is counted as played silence.
// Between opening and the unpause that follows it, SDL's thread writes
// silence into the disk driver's file without calling back, as fast as the
// disk takes it: no time is played or counted then.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/audio/wave_out_device.h"

namespace ov {

namespace {

class SdlWaveOutDevice final : public WaveOutDevice {
 public:
  ~SdlWaveOutDevice() override { Close(); }

  bool Open(const WaveOutFormat& format, DoneFn done, void* context) override {
    Close();
    if (!format.IsPlayable()) return false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      // No sound hardware: fall back to SDL's dummy driver, which plays in
      // real time into nothing.
      SDL_SetHint(SDL_HINT_AUDIODRIVER, "dummy");
      if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return Fail();
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    const bool disk = driver && std::strcmp(driver, "disk") == 0;
    const bool dummy = driver && std::strcmp(driver, "dummy") == 0;
    if (disk && !SDL_getenv("SDL_DISKAUDIODELAY")) SDL_setenv("SDL_DISKAUDIODELAY", "0", 0);
    keepsTime_ = disk || dummy;
    countsLateTime_ = dummy;
    SDL_AudioSpec want{};
    SDL_AudioSpec have{};
    want.freq = static_cast<int>(format.rate);
    want.format = format.bits == 8 ? AUDIO_U8 : AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(format.channels);
    want.samples = static_cast<Uint16>(std::clamp<uint32_t>(format.rate / 50, 64, 8192));
    want.callback = &SdlWaveOutDevice::Callback;
    want.userdata = this;
    format_ = format;
    done_ = done;
    context_ = context;
    samples_.store(0, std::memory_order_relaxed);
    reanchor_.store(true, std::memory_order_relaxed);
    paused_.store(false, std::memory_order_relaxed);
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return Fail();
    }
    SDL_PauseAudioDevice(device_, 0);
    ReleaseThreadData();
    return true;
  }

  // Why the last Open failed.
  const std::string& error() const { return error_; }

  bool Write(const uint8_t* data, uint32_t bytes, void* tag) override {
    if (device_ == 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(Block{data, bytes, 0, tag});
    return true;
  }

  void Pause() override {
    if (!device_) return;
    // A simulated driver keeps calling (the disk driver, without its own
    // sleep, would spin): the callback plays silence in real time instead.
    if (keepsTime_) paused_.store(true, std::memory_order_release);
    else SDL_PauseAudioDevice(device_, 1);
  }
  void Restart() override {
    if (!device_) return;
    // Time paused is not played: the grid starts again.
    reanchor_.store(true, std::memory_order_release);
    if (keepsTime_) paused_.store(false, std::memory_order_release);
    else SDL_PauseAudioDevice(device_, 0);
  }
  void SetVolume(uint32_t word) override { volume_.store(word, std::memory_order_relaxed); }
  uint32_t Volume() const override { return volume_.load(std::memory_order_relaxed); }
  uint64_t SamplesPlayed() const override { return samples_.load(std::memory_order_acquire); }

  void Close() override {
    if (device_ == 0) return;
    SDL_CloseAudioDevice(device_);  // the callback thread has ended on return
    device_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    ReleaseThreadData();
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

  bool Fail() {
    error_ = SDL_GetError();
    ReleaseThreadData();
    return false;
  }

  // SDL keeps data per thread (its error text) for threads it did not
  // create, such as the engine's audio feed thread that opens the device,
  // and never frees it when they end. It is made again when needed, so
  // releasing it after each open and close costs the calling thread nothing.
  static void ReleaseThreadData() { SDL_TLSCleanup(); }

  static void Callback(void* userdata, Uint8* stream, int len) {
    static_cast<SdlWaveOutDevice*>(userdata)->Fill(stream, static_cast<uint32_t>(len));
  }

  void Fill(uint8_t* stream, uint32_t len) {
    const uint32_t frameBytes = format_.FrameBytes();
    if (keepsTime_ && paused_.load(std::memory_order_acquire)) {
      std::memset(stream, format_.bits == 8 ? 0x80 : 0, len);
      std::this_thread::sleep_for(std::chrono::duration<double>(double(len / frameBytes) / format_.rate));
      return;
    }
    if (keepsTime_) KeepTime(len / frameBytes);
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
    // Underrun: silence, played and counted as such.
    std::memset(stream + filled, format_.bits == 8 ? 0x80 : 0, len - filled);
    ApplyVolumeWord(stream, filled, format_, volume_.load(std::memory_order_relaxed));
    samples_.fetch_add(len / frameBytes, std::memory_order_release);
    for (void* tag : finished_) {
      if (done_) done_(context_, tag);
    }
  }

  // The simulated drivers' time keeping (callback thread): waits until the
  // frames about to be handed out are due; on the dummy driver counts the
  // time it fell more than a callback behind as played silence.
  void KeepTime(uint32_t frames) {
    using Clock = std::chrono::steady_clock;
    const uint64_t counted = samples_.load(std::memory_order_relaxed);
    if (reanchor_.exchange(false, std::memory_order_acq_rel)) {
      anchor_ = Clock::now();
      anchorFrames_ = counted;
      return;
    }
    const double rate = format_.rate;
    const auto due = anchor_ + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(double(counted - anchorFrames_) / rate));
    const auto now = Clock::now();
    if (now < due) {
      std::this_thread::sleep_until(due);
    } else if (countsLateTime_) {
      const auto late = uint64_t(std::chrono::duration<double>(now - due).count() * rate);
      if (late > frames) samples_.fetch_add(late - late % frames, std::memory_order_release);
    }
  }

  SDL_AudioDeviceID device_ = 0;
  std::string error_;
  WaveOutFormat format_;
  DoneFn done_ = nullptr;
  void* context_ = nullptr;
  std::mutex mutex_;
  std::deque<Block> queue_;
  std::vector<void*> finished_;  // the callback thread's only
  std::atomic<uint64_t> samples_{0};
  std::atomic<uint32_t> volume_{0xFFFFFFFF};
  bool keepsTime_ = false;       // a simulated driver: the callback keeps the time
  bool countsLateTime_ = false;  // and counts time it fell behind (dummy)
  std::atomic<bool> reanchor_{true};
  std::atomic<bool> paused_{false};  // simulated drivers
  std::chrono::steady_clock::time_point anchor_;  // the callback thread's only
  uint64_t anchorFrames_ = 0;                     // the callback thread's only
};

// The sound output, or silence in real time when none can be opened: the
// clock must run for a take to record its times and for a preview to play.
class SystemWaveOutDevice final : public WaveOutDevice {
 public:
  ~SystemWaveOutDevice() override { Close(); }

  bool Open(const WaveOutFormat& format, DoneFn done, void* context) override {
    Close();
    if (!format.IsPlayable()) return false;
    WaveOutDevice* device = &sdl_;
    if (!sdl_.Open(format, done, context)) {
      std::fprintf(stderr, "sound: cannot open the sound output (%s); playing silently in real time\n",
                   sdl_.error().c_str());
      if (!silent_.Open(format, done, context)) return false;
      device = &silent_;
    }
    active_.store(device, std::memory_order_release);
    return true;
  }
  bool Write(const uint8_t* data, uint32_t bytes, void* tag) override {
    WaveOutDevice* d = active();
    return d && d->Write(data, bytes, tag);
  }
  void Pause() override {
    if (WaveOutDevice* d = active()) d->Pause();
  }
  void Restart() override {
    if (WaveOutDevice* d = active()) d->Restart();
  }
  void SetVolume(uint32_t word) override {
    volume_.store(word, std::memory_order_relaxed);
    if (WaveOutDevice* d = active()) d->SetVolume(word);
  }
  uint32_t Volume() const override { return volume_.load(std::memory_order_relaxed); }
  uint64_t SamplesPlayed() const override {
    WaveOutDevice* d = active();
    return d ? d->SamplesPlayed() : 0;
  }
  void Close() override {
    if (WaveOutDevice* d = active_.exchange(nullptr, std::memory_order_acq_rel)) d->Close();
  }

 private:
  WaveOutDevice* active() const { return active_.load(std::memory_order_acquire); }

  SdlWaveOutDevice sdl_;
  RealTimeWaveOutDevice silent_;
  std::atomic<WaveOutDevice*> active_{nullptr};
  std::atomic<uint32_t> volume_{0xFFFFFFFF};
};

}  // namespace

std::unique_ptr<WaveOutDevice> CreateSystemWaveOutDevice() { return std::make_unique<SystemWaveOutDevice>(); }

}  // namespace ov
