#include "engine/wave_out_player.h"

#include <cstring>
#include <vector>

#include "platform/os/debug_output.h"
#include "platform/os/thread.h"

namespace engine {

WaveOutPlayer::WaveOutPlayer() : WaveOutPlayer(ov::CreateSystemWaveOutDevice()) {}

WaveOutPlayer::WaveOutPlayer(std::unique_ptr<ov::WaveOutDevice> device)
    : device_(std::move(device)), pacing_(false, false) {}

WaveOutPlayer::~WaveOutPlayer() { Close(); }

int WaveOutPlayer::Open(uint32_t bits, uint32_t rate, uint32_t channels) {
  if (!device_ || open_.load()) return 0;
  ov::WaveOutFormat format;
  format.rate = rate;
  format.bits = static_cast<uint16_t>(bits);
  format.channels = static_cast<uint16_t>(channels);
  closing_.store(false, std::memory_order_release);
  if (!device_->Open(format, &WaveOutPlayer::OnDone, this)) return 0;
  device_->SetVolume(0xFFFFFFFF);
  pacing_.Reset();
  rate_.store(rate, std::memory_order_release);
  open_.store(true);
  ov::DebugOutput("Wave out opened ! \r\n");
  return 1;
}

void WaveOutPlayer::OnDone(void* context, void* tag) {
  auto* self = static_cast<WaveOutPlayer*>(context);
  delete[] static_cast<uint8_t*>(tag);
  self->inFlight_.fetch_sub(1, std::memory_order_acq_rel);
  self->pacing_.Set();
}

bool WaveOutPlayer::Write(const uint8_t* data, uint32_t bytes) {
  if (!open_ || closing_.load(std::memory_order_acquire)) return false;
  auto* block = new uint8_t[bytes ? bytes : 1];
  if (bytes) std::memcpy(block, data, bytes);
  inFlight_.fetch_add(1, std::memory_order_acq_rel);
  if (!device_->Write(block, bytes, block)) {
    ov::DebugOutput("error3 !!!\r\n");
    delete[] block;
    inFlight_.fetch_sub(1, std::memory_order_acq_rel);
    return false;
  }
  // A done notice that came before this wait may have left the event set:
  // check the count again after every wake-up.
  while (inFlight_.load(std::memory_order_acquire) >= kMaxInFlight && !closing_.load(std::memory_order_acquire))
    pacing_.Wait(ov::kInfinite);
  return true;
}

bool WaveOutPlayer::Drain(uint32_t timeoutMs) {
  if (!open_) return false;
  const uint32_t start = ov::GetTickCount();
  while (inFlight_.load(std::memory_order_acquire) != 0) {
    if (closing_.load(std::memory_order_acquire)) return false;
    const uint32_t passed = ov::GetTickCount() - start;
    if (passed >= timeoutMs) return false;
    pacing_.Wait(timeoutMs - passed);
  }
  return true;
}

void WaveOutPlayer::SetPaused(bool paused) {
  if (!open_) return;
  if (paused)
    device_->Pause();
  else
    device_->Restart();
}

void WaveOutPlayer::SetVolume(uint32_t word) {
  if (open_) device_->SetVolume(word);
}

uint32_t WaveOutPlayer::GetPosition() const {
  uint32_t rate = rate_.load(std::memory_order_acquire);
  if (rate < 1000 || !device_) return 0;
  // In 64 bits and by the exact rate: dividing by rate / 1000 in whole
  // numbers would run 0.23 % fast at 22050 and 44100 Hz.
  return static_cast<uint32_t>(device_->SamplesPlayed() * 1000 / rate);
}

void WaveOutPlayer::Close() {
  closing_.store(true, std::memory_order_release);
  pacing_.Set();
  if (!open_.exchange(false)) return;
  device_->SetVolume(0);
  device_->Restart();
  device_->Close();
  ov::DebugOutput("<WAVREC> recording closed !\r\n");
}

}  // namespace engine
