#include "engine/wave_stream.h"

#include <algorithm>

#include "engine/soft_mixer.h"
#include "engine/soft_mixer_tables.h"
#include "platform/cpu/cpu.h"

namespace engine {

namespace {

template <int kBits, int kChannels>
class PcmWaveStream final : public WaveStream {
 public:
  PcmWaveStream(SoftMixer* mixer, const WaveFormatEx& format) : WaveStream(mixer, format) {}

 protected:
  void ReadFrame(const uint8_t* p, int32_t* left, int32_t* right) const override {
    if constexpr (kBits == 8) {
      *left = (static_cast<int32_t>(p[0]) - 128) * 256;
      *right = kChannels == 2 ? (static_cast<int32_t>(p[1]) - 128) * 256 : *left;
    } else {
      *left = static_cast<int16_t>(p[0] | p[1] << 8);
      *right = kChannels == 2 ? static_cast<int16_t>(p[2] | p[3] << 8) : *left;
    }
  }
  void ReadFrames(const uint8_t* p, uint32_t count, int16_t* out) const override {
    for (uint32_t i = 0; i < count; ++i, p += kBits / 8 * kChannels, out += 2) {
      int32_t left, right;
      ReadFrame(p, &left, &right);
      out[0] = static_cast<int16_t>(left);
      out[1] = static_cast<int16_t>(right);
    }
  }
};

inline int16_t Saturate(int32_t v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }

}  // namespace

std::unique_ptr<WaveStream> WaveStream::Create(SoftMixer* mixer, const WaveFormatEx& format) {
  if (format.bitsPerSample == 8)
    return format.channels == 2 ? std::unique_ptr<WaveStream>(new PcmWaveStream<8, 2>(mixer, format))
                                : std::unique_ptr<WaveStream>(new PcmWaveStream<8, 1>(mixer, format));
  return format.channels == 2 ? std::unique_ptr<WaveStream>(new PcmWaveStream<16, 2>(mixer, format))
                              : std::unique_ptr<WaveStream>(new PcmWaveStream<16, 1>(mixer, format));
}

WaveStream::WaveStream(SoftMixer* mixer, const WaveFormatEx& format)
    : mixer_(mixer),
      format_(format),
      sourceRate_(format.samplesPerSec),
      frameBytes_(format.bitsPerSample / 8u * format.channels) {
  // The format is taken as PCM: derive what the client may have left out.
  format_.blockAlign = static_cast<uint16_t>(frameBytes_);
  format_.avgBytesPerSec = frameBytes_ * format.samplesPerSec;
  init_mix_dsp(dsp_, ov::GetCpuFlags());
}

WaveStream::~WaveStream() = default;

uint32_t WaveStream::Open(const WaveOpenDesc& desc, uint32_t flags) {
  openFlags_ = flags;
  clientHandle_ = desc.handle;
  callback_ = desc.callback;
  instance_ = desc.instance;
  volume_ = mixer_->GetVolume(0) & 0xFFFF;
  SetGain();
  RecalcStep();
  // The first output frame loads two source samples (previous and current).
  phase_ = 0x20000;
  resid_ = 0;
  prev_[0] = prev_[1] = cur_[0] = cur_[1] = 0;
  Notify(WOM_OPEN, 0);
  return MMSYSERR_NOERROR;
}

uint32_t WaveStream::Close() {
  while (!queue_.empty()) {
    std::unique_ptr<WaveHeader> h = std::move(queue_.front());
    queue_.pop_front();
    NotifyDone(std::move(h));
  }
  readPos_ = 0;
  Notify(WOM_CLOSE, 0);
  return MMSYSERR_NOERROR;
}

void WaveStream::Reset() {
  while (!queue_.empty()) {
    std::unique_ptr<WaveHeader> h = std::move(queue_.front());
    queue_.pop_front();
    NotifyDone(std::move(h));
  }
  readPos_ = 0;
  running_ = true;
}

uint64_t WaveStream::QueuedBytes() const {
  uint64_t bytes = 0;
  for (const auto& h : queue_) bytes += h->bufferLength;
  return bytes - readPos_;
}

uint32_t WaveStream::GetPosition(MmTime* time) const {
  if (!time) return MMSYSERR_INVALPARAM;
  uint64_t value = 0;
  switch (time->type) {
    case TIME_MS:
      value = format_.avgBytesPerSec ? bytesPlayed_ * 1000 / format_.avgBytesPerSec : 0;
      break;
    case TIME_SAMPLES:
      value = frameBytes_ ? bytesPlayed_ / frameBytes_ : 0;
      break;
    case TIME_QUEUED_MS:
      value = format_.avgBytesPerSec ? QueuedBytes() * 1000 / format_.avgBytesPerSec : 0;
      break;
    default:
      time->type = TIME_BYTES;
      value = bytesPlayed_;
      break;
  }
  time->value = static_cast<uint32_t>(value);
  return MMSYSERR_NOERROR;
}

uint32_t WaveStream::AddBuffer(std::unique_ptr<WaveHeader> header) {
  if (!header || !(header->flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  header->flags = (header->flags & ~WHDR_DONE) | WHDR_INQUEUE;
  // A buffer shorter than one frame cannot be played; trim to whole frames.
  header->bufferLength -= header->bufferLength % frameBytes_;
  if (queue_.empty() && (header->flags & WHDR_BEGINLOOP)) loopCount_ = header->loops;
  queue_.push_back(std::move(header));
  return MMSYSERR_NOERROR;
}

uint32_t WaveStream::SetSampleRate(uint32_t rate) {
  if (rate == 0 || rate > kMaxSampleRate) return MMSYSERR_INVALPARAM;
  sourceRate_ = rate;
  RecalcStep();
  return MMSYSERR_NOERROR;
}

uint32_t WaveStream::SetVolume(uint32_t word) {
  volume_ = word & 0xFFFF;
  SetGain();
  return MMSYSERR_NOERROR;
}

void WaveStream::SetGainSelect(uint32_t index) {
  gainSelect_ = index <= 1 ? index : 1;
  SetGain();
}

void WaveStream::SetGain() {
  uint32_t g = mixer_->gainSelect(gainSelect_) * volume_;
  gain_ = g == 0 ? 0 : kSoftMixerGain[63 - ((g + 65535u) >> 26)];
}

void WaveStream::RecalcStep() {
  uint32_t out = mixer_->rate();
  if (out == 0) return;
  // The step is sourceRate / out exactly: its whole 16.16 units and the
  // rest in units of 1/out of one. A step rounded to 16.16 alone would read
  // the source up to 61 ppm slow (8000 into 48000 Hz), a drift of 220 ms an
  // hour against the other channels.
  if (out != den_) {
    resid_ = static_cast<uint32_t>(uint64_t{resid_} * out / den_);
    den_ = out;
  }
  const uint64_t num = uint64_t{sourceRate_} << 16;
  step_ = static_cast<uint32_t>(num / out);
  stepRem_ = static_cast<uint32_t>(num % out);
}

void WaveStream::AdvancePhase() {
  phase_ += step_;
  resid_ += stepRem_;
  if (resid_ >= den_) {
    resid_ -= den_;
    ++phase_;
  }
}

void WaveStream::Notify(uint32_t message, uintptr_t param) {
  if (callback_) callback_(clientHandle_, message, instance_, param, 0);
}

void WaveStream::NotifyDone(std::unique_ptr<WaveHeader> header) {
  header->flags = (header->flags | WHDR_DONE) & ~WHDR_INQUEUE;
  Notify(WOM_DONE, reinterpret_cast<uintptr_t>(header.get()));
  // The header and its data belong to the mixer: freed here.
}

bool WaveStream::NextBuffer() {
  if (queue_.empty()) return false;
  std::unique_ptr<WaveHeader> done = std::move(queue_.front());
  queue_.pop_front();
  readPos_ = 0;
  NotifyDone(std::move(done));
  if (!queue_.empty() && (queue_.front()->flags & WHDR_BEGINLOOP)) loopCount_ = queue_.front()->loops;
  return !queue_.empty();
}

uint32_t WaveStream::RenderLoop(int16_t* out, uint32_t frames, uint32_t filled) {
  uint32_t frame = 0;
  if (!running_ || queue_.empty()) return 0;
  const uint32_t master = mixer_->masterGain();
  while (frame < frames) {
    uint32_t run = RenderRun(out + 2 * frame, frames - frame, filled > frame ? filled - frame : 0, master);
    if (run) {
      frame += run;
      continue;
    }
    WaveHeader* h = queue_.front().get();
    // Load source samples until the phase points between previous and current.
    bool starved = false;
    while (phase_ > 0xFFFF) {
      if (readPos_ + frameBytes_ > h->bufferLength) {
        if (!NextBuffer()) {
          starved = true;
          break;
        }
        h = queue_.front().get();
        continue;
      }
      prev_[0] = cur_[0];
      prev_[1] = cur_[1];
      ReadFrame(h->data.get() + readPos_, &cur_[0], &cur_[1]);
      readPos_ += frameBytes_;
      bytesPlayed_ += frameBytes_;
      phase_ -= 0x10000;
    }
    if (starved) break;
    for (int side = 0; side < 2; ++side) {
      int64_t s = prev_[side] + ((static_cast<int64_t>(cur_[side] - prev_[side]) * phase_) >> 16);
      s = ((s * gain_) >> 16) * master >> 16;
      int16_t* o = out + 2 * frame + side;
      *o = frame < filled ? Saturate(*o + static_cast<int32_t>(s)) : Saturate(static_cast<int32_t>(s));
    }
    AdvancePhase();
    ++frame;
  }
  // A buffer used up exactly at the end of the block is returned now.
  if (!queue_.empty() && readPos_ >= queue_.front()->bufferLength && queue_.size() > 1) NextBuffer();
  return frame;
}

uint32_t WaveStream::RenderRun(int16_t* out, uint32_t frames, uint32_t filled, uint32_t master) {
  // Steps above 256 source frames per output frame, and runs of more than
  // kRunSource source frames, go frame by frame or in several runs, so the
  // kernel's 16.16 position stays below 2^31.
  constexpr uint32_t kMaxStep = 1u << 24;
  constexpr uint32_t kRunSource = 4096;
  const WaveHeader* h = queue_.front().get();
  if (step_ > kMaxStep || readPos_ > h->bufferLength) return 0;
  const uint32_t avail = std::min((h->bufferLength - readPos_) / frameBytes_, kRunSource);
  // Output frame j sits at (phase_ * den_ + resid_ + j * stepNum) / den_ in
  // 16.16 units and loads that >> 16 source frames first; the run ends before
  // the frame that would need more than the buffer holds.
  const uint64_t limit = (uint64_t{avail} << 16) | 0xFFFF;
  if (phase_ > limit) return 0;
  const uint64_t stepNum = uint64_t{step_} * den_ + stepRem_;
  const uint64_t room = (limit + 1 - phase_) * den_ - resid_;
  uint64_t count = stepNum ? (room - 1) / stepNum + 1 : frames;
  count = std::min<uint64_t>(count, frames);
  const uint32_t m = static_cast<uint32_t>(count);
  // The carries of the step's rest, frame by frame; c and r end as those of
  // the frame after the run.
  const uint32_t* carry = nullptr;
  uint32_t c = 0, r = resid_;
  if (stepRem_) {
    carry_.resize(m);
    for (uint32_t j = 0; j < m; ++j) {
      carry_[j] = c;
      r += stepRem_;
      if (r >= den_) {
        r -= den_;
        ++c;
      }
    }
    carry = carry_.data();
  }
  const uint32_t end = phase_ + (m - 1) * step_ + (carry ? carry[m - 1] : 0);
  const uint32_t loads = end >> 16;
  run_.resize(2 * (size_t{loads} + 2));
  run_[0] = static_cast<int16_t>(prev_[0]);
  run_[1] = static_cast<int16_t>(prev_[1]);
  run_[2] = static_cast<int16_t>(cur_[0]);
  run_[3] = static_cast<int16_t>(cur_[1]);
  ReadFrames(h->data.get() + readPos_, loads, run_.data() + 4);
  const uint32_t added = std::min(filled, m);
  if (added) dsp_.resample(out, run_.data(), added, phase_, step_, carry, gain_, master, true);
  if (added < m)
    dsp_.resample(out + 2 * added, run_.data(), m - added, phase_ + added * step_, step_, carry ? carry + added : nullptr,
                  gain_, master, false);
  prev_[0] = run_[2 * loads];
  prev_[1] = run_[2 * loads + 1];
  cur_[0] = run_[2 * loads + 2];
  cur_[1] = run_[2 * loads + 3];
  readPos_ += loads * frameBytes_;
  bytesPlayed_ += uint64_t{loads} * frameBytes_;
  phase_ = phase_ + m * step_ + c - (loads << 16);
  resid_ = r;
  return m;
}

}  // namespace engine
