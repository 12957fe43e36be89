#pragma once
// WaveOutPlayer: sends mixed PCM blocks to the wave-out device and reports
// how far playback has got. Its position is the master clock of live
// playback: pictures and recorded commands follow the sound.
//
// Write copies the block and queues it, then waits while more than one block
// is in flight, so the device never holds more than two and the feeding
// thread runs exactly as fast as the device plays.
//
// Thread: Open, Write, SetPaused, SetVolume on the feeding thread; Close on
// the feeding thread or another one (it releases a waiting writer);
// GetPosition from any thread. Each player has its own pacing event, so the
// engine's player and an editor's preview player do not disturb each other.

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/audio/wave_out_device.h"
#include "platform/os/event.h"

namespace engine {

class WaveOutPlayer {
 public:
  static constexpr uint32_t kMaxInFlight = 2;

  // On the system's sound output.
  WaveOutPlayer();
  // On a given device (tests pass a VirtualWaveOutDevice).
  explicit WaveOutPlayer(std::unique_ptr<ov::WaveOutDevice> device);
  ~WaveOutPlayer();
  WaveOutPlayer(const WaveOutPlayer&) = delete;
  WaveOutPlayer& operator=(const WaveOutPlayer&) = delete;

  // Opens PCM of the given layout at full volume; 1 on success, else 0.
  int Open(uint32_t bits, uint32_t rate, uint32_t channels);
  // Copies and queues one block; returns once at most one block is still in
  // flight (or the player is closing). false when the device refused the block.
  bool Write(const uint8_t* data, uint32_t bytes);
  void SetPaused(bool paused);
  // Low 16 bits left, high 16 bits right; 0 mutes.
  void SetVolume(uint32_t word);
  // Milliseconds played: samples x 1000 / rate; 0 before Open or when the
  // rate is under 1000.
  uint32_t GetPosition() const;
  // Waits until the device has played every block written, so that a
  // caller that ends its sound hears the end of it before Close; false when
  // `timeoutMs` passed first (a paused device plays nothing), when the player
  // is closing or is not open. Feeding thread, between writes.
  bool Drain(uint32_t timeoutMs);
  // Releases a waiting writer, mutes and closes the device (blocks still
  // queued are returned unplayed: Drain first to hear them).
  void Close();

  uint32_t InFlight() const { return inFlight_.load(std::memory_order_acquire); }
  ov::WaveOutDevice* device() { return device_.get(); }

 private:
  static void OnDone(void* context, void* tag);

  std::unique_ptr<ov::WaveOutDevice> device_;
  std::atomic<uint32_t> inFlight_{0};
  std::atomic<bool> closing_{false};
  std::atomic<uint32_t> rate_{1};
  std::atomic<bool> open_{false};
  ov::Event pacing_;  // auto-reset; set by every done notice
};

}  // namespace engine
