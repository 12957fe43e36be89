#pragma once
// WaveStream: one voice of the software wave mixer. It holds a queue of PCM
// buffers in its own format and renders them, resampled to the mixer's rate
// by linear interpolation and scaled by its gain, into the mixer's 16-bit
// stereo output. One subclass per source layout (8/16 bits, mono/stereo)
// supplies the sample reader; everything else is shared.
//
// Thread: the owner's (the audio mixer serialises every call).

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "engine/mix_dsp.h"

#include "engine/wave_types.h"

namespace engine {

class SoftMixer;

class WaveStream {
 public:
  virtual ~WaveStream();

  // Picks the class for the format (already checked by the mixer).
  static std::unique_ptr<WaveStream> Create(SoftMixer* mixer, const WaveFormatEx& format);

  uint32_t Open(const WaveOpenDesc& desc, uint32_t flags);
  // Returns every buffer still queued (done notices), then the close notice.
  uint32_t Close();
  uint32_t GetPosition(MmTime* time) const;
  void Start() { running_ = true; }
  void Stop() { running_ = false; }
  void Reset();
  uint32_t AddBuffer(std::unique_ptr<WaveHeader> header);
  // Plays `rate` source samples per second from now on; 0 or absurd rates
  // are refused (MMSYSERR_INVALPARAM) and the rate is kept.
  uint32_t SetSampleRate(uint32_t rate);
  uint32_t SetVolume(uint32_t word);
  uint32_t Volume() const { return volume_; }
  void SetGainSelect(uint32_t index);
  // Recomputes the gain from the device's gain-select words.
  void SetGain();

  // Renders into out[0, frames) (interleaved 16-bit stereo); frames below
  // `filled` already hold samples and are added to (with saturation), later
  // ones are stored. Returns the first frame it did not reach.
  uint32_t RenderLoop(int16_t* out, uint32_t frames, uint32_t filled);

  // Bytes still to be played: the rest of the current buffer and all later.
  uint64_t QueuedBytes() const;
  uint32_t BytesPerSecond() const { return format_.avgBytesPerSec; }

  static constexpr uint32_t kMaxSampleRate = 384000;

 protected:
  WaveStream(SoftMixer* mixer, const WaveFormatEx& format);
  // Reads the next source sample pair (mono: the same value twice) at `p`.
  virtual void ReadFrame(const uint8_t* p, int32_t* left, int32_t* right) const = 0;
  // Reads `count` source frames at `p` as 16-bit stereo pairs into `out`.
  virtual void ReadFrames(const uint8_t* p, uint32_t count, int16_t* out) const = 0;

 private:
  void RecalcStep();
  // Moves the position on by one output frame's step.
  void AdvancePhase();
  void NotifyDone(std::unique_ptr<WaveHeader> header);
  void Notify(uint32_t message, uintptr_t param);
  // Moves on to the next queued buffer; false when there is none.
  bool NextBuffer();
  // Renders as many frames as the current buffer covers through the mix
  // kernel; 0 when the next frame needs a buffer change (done one by one).
  uint32_t RenderRun(int16_t* out, uint32_t frames, uint32_t filled, uint32_t master);

  SoftMixer* mixer_;
  WaveFormatEx format_;
  bool running_ = true;
  uint32_t openFlags_ = 0;
  uintptr_t clientHandle_ = 0;
  WaveCallback callback_ = nullptr;
  uintptr_t instance_ = 0;
  std::deque<std::unique_ptr<WaveHeader>> queue_;  // front: the current buffer
  uint32_t readPos_ = 0;                           // into the current buffer
  uint64_t bytesPlayed_ = 0;
  uint32_t loopCount_ = 0;
  uint32_t volume_ = 0xFFFF;
  uint32_t gainSelect_ = 0;
  uint32_t gain_ = 65536;  // 16.16
  uint32_t sourceRate_;
  // Source samples per output frame: step_ (16.16) plus stepRem_ / den_ of
  // the last 16.16 unit; resid_ / den_ is what the position holds of such a
  // unit, so the position is exact however long the voice plays.
  uint32_t step_ = 0x10000;
  uint32_t stepRem_ = 0;
  uint32_t den_ = 1;  // the mixer's rate
  uint32_t phase_ = 0x20000;
  uint32_t resid_ = 0;
  int32_t prev_[2] = {0, 0};
  int32_t cur_[2] = {0, 0};
  uint32_t frameBytes_;
  MixDsp dsp_;
  std::vector<int16_t> run_;     // previous, current and the run's source frames
  std::vector<uint32_t> carry_;  // the run's frames' carries (see MixResampleFn)
};

}  // namespace engine
