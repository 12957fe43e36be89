#pragma once
// The wave-out device: plays queued PCM blocks in order, tells the owner when
// each block has been played, pauses and restarts, scales by a volume word
// and counts the sample frames actually played (the master clock of live
// playback).
//
// Three devices: the system's sound output (SDL2 audio; SDL's dummy driver
// when SDL has no audio driver, a silent real-time device when no output can
// be opened at all), a real-time device that plays into nothing on a thread
// of its own (that fallback, and tests that need time to pass as on sound
// hardware), and a virtual device whose clock the caller advances by hand
// (tests).
//
// The clock counts the frames the device has played, the silence it plays
// when the writer leaves it without data (an underrun) included: it follows
// the time the device plays whether or not the writer keeps up.
//
// Thread: Open, Write, Pause, Restart, SetVolume and Close from the owner's
// thread; SamplesPlayed from any thread. Done notices run on the device's
// thread (the virtual device: the thread that calls Advance or Close) and
// must not call back into the device.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace ov {

struct WaveOutFormat {
  uint32_t rate = 0;      // frames per second
  uint16_t channels = 0;  // 1 or 2
  uint16_t bits = 0;      // 8 (unsigned) or 16 (signed)
  uint32_t FrameBytes() const { return bits / 8u * channels; }
  // What every device takes: 8 or 16 bits, 1 or 2 channels, 1..192000 Hz.
  bool IsPlayable() const {
    return (bits == 8 || bits == 16) && (channels == 1 || channels == 2) && rate >= 1 && rate <= 192000;
  }
};

class WaveOutDevice {
 public:
  // Called once for every written block, when it has been played or when
  // Close returns it unplayed; `tag` is the Write argument.
  using DoneFn = void (*)(void* context, void* tag);

  virtual ~WaveOutDevice() = default;
  // false for a format other than 8/16 bits, 1/2 channels, rate 1..192000,
  // or when the device cannot be opened.
  virtual bool Open(const WaveOutFormat& format, DoneFn done, void* context) = 0;
  // Queues `bytes` of `data`, which must stay valid until the block's done
  // notice. false when the device is not open.
  virtual bool Write(const uint8_t* data, uint32_t bytes, void* tag) = 0;
  virtual void Pause() = 0;
  virtual void Restart() = 0;
  // Low 16 bits: left volume, high 16 bits: right (0xFFFF full, 0 mute).
  virtual void SetVolume(uint32_t word) = 0;
  virtual uint32_t Volume() const = 0;
  // Sample frames played since Open.
  virtual uint64_t SamplesPlayed() const = 0;
  // Stops playing and returns every queued block (done notices).
  virtual void Close() = 0;
};

// The system's sound output over SDL2 audio. When no output can be opened
// (no audio driver, or the driver's device refuses), Open falls back to a
// silent RealTimeWaveOutDevice, which keeps time, and says so in one line on
// stderr; Open fails only for a format no device takes.
std::unique_ptr<WaveOutDevice> CreateSystemWaveOutDevice();

// A device that plays in real time, as sound hardware does: a thread of its
// own takes `periodFrames` frames from the queue once every period (the
// periods fall on a fixed grid from Open or Restart, so lateness never
// accumulates; a period overdue is played at once), plays silence for what
// the queue lacks (an underrun) and counts the whole period as played.
// What it plays goes nowhere; with `keepPlayed` every played byte, silence
// included and after the volume, is kept for inspection.
class RealTimeWaveOutDevice final : public WaveOutDevice {
 public:
  // periodFrames 0: 20 ms at the opened rate.
  explicit RealTimeWaveOutDevice(uint32_t periodFrames = 0, bool keepPlayed = false);
  ~RealTimeWaveOutDevice() override;
  RealTimeWaveOutDevice(const RealTimeWaveOutDevice&) = delete;
  RealTimeWaveOutDevice& operator=(const RealTimeWaveOutDevice&) = delete;

  bool Open(const WaveOutFormat& format, DoneFn done, void* context) override;
  bool Write(const uint8_t* data, uint32_t bytes, void* tag) override;
  void Pause() override;
  void Restart() override;
  void SetVolume(uint32_t word) override;
  uint32_t Volume() const override;
  uint64_t SamplesPlayed() const override;
  void Close() override;

  // Frames of silence played because the queue ran dry.
  uint64_t UnderrunFrames() const;
  // Every byte played since Open (with keepPlayed; else empty).
  std::vector<uint8_t> Played() const;

 private:
  struct State;
  void Run();
  std::unique_ptr<State> state_;
};

// Scales PCM in place by a volume word (low 16 bits left, high 16 bits
// right; 0xFFFF full).
void ApplyVolumeWord(uint8_t* data, uint32_t bytes, const WaveOutFormat& format, uint32_t word);

// A device that plays only when told to: Advance(frames) plays that many
// sample frames from the queue (no more than are queued), returns finished
// blocks and moves the clock. The played bytes are kept for inspection.
class VirtualWaveOutDevice final : public WaveOutDevice {
 public:
  bool Open(const WaveOutFormat& format, DoneFn done, void* context) override;
  bool Write(const uint8_t* data, uint32_t bytes, void* tag) override;
  void Pause() override;
  void Restart() override;
  void SetVolume(uint32_t word) override;
  uint32_t Volume() const override;
  uint64_t SamplesPlayed() const override;
  void Close() override;

  // Plays up to `frames` frames (none while paused); returns the frames played.
  uint64_t Advance(uint64_t frames);
  // Blocks written and not yet done.
  size_t BlocksQueued() const;
  bool IsPaused() const;
  bool IsOpen() const;
  // Every byte played so far, as played (before the volume).
  std::vector<uint8_t> Played() const;

 private:
  struct Block {
    const uint8_t* data;
    uint32_t bytes;
    uint32_t offset;
    void* tag;
  };
  mutable std::mutex mutex_;
  WaveOutFormat format_;
  DoneFn done_ = nullptr;
  void* context_ = nullptr;
  std::deque<Block> queue_;
  std::vector<uint8_t> played_;
  uint64_t samples_ = 0;
  uint32_t volume_ = 0xFFFFFFFF;
  bool open_ = false;
  bool paused_ = false;
};

}  // namespace ov
