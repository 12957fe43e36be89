#include "engine/audio_mixer.h"

#include <algorithm>

namespace engine {

namespace {
// Lead kept queued on every playing voice beyond the block being pulled.
constexpr uint32_t kLeadMs = 50;
}  // namespace

AudioMixer::AudioMixer(uint32_t bits, uint32_t rate, uint32_t channels)
    : rate_(rate), bits_(bits), channels_(channels) {
  if (rate <= kMaxRate) outBytesPerSecond_ = bits / 8 * rate * channels;
  softMixer_ = std::make_unique<SoftMixer>(bits, rate, channels);
}

AudioMixer::~AudioMixer() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (auto& c : ch_) CloseLocked(c);
}

uint32_t AudioMixer::BytesForDuration(uint32_t ms) const {
  uint32_t bytes = outBytesPerSecond_ / 1000 * ms;
  return bits_ == 8 ? bytes * 2 : bytes;
}

bool AudioMixer::IsChannelLoaded(uint32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return channel < kChannels && ch_[channel].voice != 0;
}

bool AudioMixer::IsChannelPlaying(uint32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return channel < kChannels && ch_[channel].voice != 0 && ch_[channel].playing;
}

WaveFormatEx AudioMixer::NeededVoiceFormat(const AudioChannel& c) const {
  const WaveFormatEx& s = c.sourceFormat;
  // Tempo output, and chorus or reverb output, is 16-bit stereo.
  if (c.tempo || ((c.chorus || c.reverb) && (s.channels == 1 || s.bitsPerSample == 8)))
    return WaveFormatEx::Pcm(16, s.samplesPerSec, 2);
  return s;
}

bool AudioMixer::UpdateVoiceFormat(AudioChannel& c) {
  WaveFormatEx need = NeededVoiceFormat(c);
  if (c.voice && need.channels == c.voiceFormat.channels && need.bitsPerSample == c.voiceFormat.bitsPerSample)
    return true;
  uint32_t volume = c.voice ? softMixer_->GetVolume(c.voice) : softMixer_->GetVolume(0);
  if (c.voice) softMixer_->CloseVoice(c.voice);
  c.voice = softMixer_->OpenVoice(need);
  if (!c.voice) return false;
  softMixer_->SetVolume(c.voice, volume);
  c.voiceFormat = need;
  return true;
}

int AudioMixer::LoadChannel(uint32_t channel, const ov::String& path, uint32_t startMark, uint32_t endMark,
                            float tempo) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return Load(channel, path, startMark, endMark, tempo);
}

int AudioMixer::Load(uint32_t channel, const ov::String& path, uint32_t startMark, uint32_t endMark, float tempo) {
  if (channel >= kChannels) return 0;
  if (!(tempo >= 0.0f) || tempo > kMaxTempo) return 0;
  AudioChannel& c = ch_[channel];
  if (c.voice || c.source) CloseLocked(c);
  std::unique_ptr<media::DecoderSource> source = media::OpenAudioSource(path);
  if (!source) return 0;
  media::MediaFormat f;
  if (!source->GetFormat(&f) || f.sampleRate == 0 || (f.channels != 1 && f.channels != 2) ||
      (f.bitsPerSample != 8 && f.bitsPerSample != 16))
    return 0;
  source->startMark = startMark;
  source->endMark = endMark;
  source->Seek(startMark);
  c.sourceFormat = WaveFormatEx::Pcm(f.bitsPerSample, f.sampleRate, f.channels);
  c.tempo.reset();
  if (f.bitsPerSample != 8 && tempo != 0.0f) {
    auto stage = std::make_unique<TempoStage>();
    if (!stage->Enable(c.sourceFormat, tempo)) return 0;
    c.tempo = std::move(stage);
  }
  c.voice = 0;
  if (!UpdateVoiceFormat(c)) {
    c.tempo.reset();
    return 0;
  }
  softMixer_->SetVolume(c.voice, softMixer_->GetVolume(0));
  c.source = std::move(source);
  c.position = -1;
  c.bytesPerSecond = c.sourceFormat.avgBytesPerSec;
  c.loop = c.keepWhenDone = c.playing = c.sourceEnded = false;
  return 1;
}

void AudioMixer::CloseLocked(AudioChannel& c) {
  c.source.reset();
  if (c.voice && softMixer_->CloseVoice(c.voice) == MMSYSERR_NOERROR) {
    c.voice = 0;
    c.bytesPerSecond = 0;
  }
  c.echo.reset();
  c.chorus.reset();
  c.reverb.reset();
  c.tempo.reset();
  c.position = -1;
  c.playing = c.loop = c.keepWhenDone = c.sourceEnded = false;
}

int AudioMixer::CloseChannel(uint32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (channel >= kChannels) return 0;
  CloseLocked(ch_[channel]);
  return 1;
}

int64_t AudioMixer::GetVoicePosition(uint32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (channel >= kChannels) return -1;
  AudioChannel& c = ch_[channel];
  if (!c.voice || c.position < 0) return c.position;
  if (c.tempo || c.bytesPerSecond == 0 || c.voiceFormat.avgBytesPerSec == 0) {
    return std::max<int64_t>(c.readEnd - softMixer_->QueuedMs(c.voice), 0);
  }
  // In microseconds from what was read and what the voice still holds, then
  // rounded: in whole milliseconds each term loses up to one, and a picture
  // following this time would show a frame due exactly now a frame late.
  const int64_t fedUs = c.fedFromMs * 1000 + int64_t(c.fedBytes * 1000000 / c.bytesPerSecond);
  const int64_t queuedUs = int64_t(softMixer_->QueuedBytes(c.voice) * 1000000 / c.voiceFormat.avgBytesPerSec);
  return std::max<int64_t>((fedUs - queuedUs + 500) / 1000, 0);
}

void AudioMixer::Restart(AudioChannel& c, bool keepTempo) {
  if (!c.source) return;
  c.source->Rewind();
  if (c.source->startMark) c.source->Seek(c.source->startMark);
  c.position = -1;
  c.sourceEnded = false;
  // A loop goes on into the clip's start without a break: the tempo
  // processor keeps what it holds and takes the start as more input.
  if (c.tempo && !keepTempo) c.tempo->Reset();
}

void AudioMixer::RemoveInner(AudioChannel& c) {
  c.chorus.reset();
  c.reverb.reset();
  UpdateVoiceFormat(c);
}

int AudioMixer::ApplyAction(const EngineCommand& cmd, int replaying) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  switch (cmd.type) {
    case CMD_NOP:
    case CMD_ACK:
      return 1;
    case CMD_MASTER_VOLUME:
      softMixer_->SetVolume(0, static_cast<uint32_t>(cmd.param1));
      return 1;
    default:
      break;
  }
  if (cmd.channel >= kChannels) return 0;
  AudioChannel& c = ch_[cmd.channel];
  switch (cmd.type) {
    case CMD_LOAD: {
      // The tempo is a per-mille speed; its fraction is kept whichever file
      // is opened (the cache holds the clip at its own speed).
      if (cmd.param4 < 0) return 0;
      float tempo = static_cast<float>(cmd.param4) * 0.001f;
      if (replaying && !cmd.altPath.IsEmpty()) return Load(cmd.channel, cmd.altPath, 0, 0, tempo);
      return Load(cmd.channel, cmd.path, static_cast<uint32_t>(cmd.param2), static_cast<uint32_t>(cmd.param3),
                  tempo);
    }
    case CMD_STOP:
      CloseLocked(c);
      return 1;
    case CMD_SET_LOOP:
      c.loop = cmd.flag == 0;
      return 1;
    case CMD_PLAY:
      if (c.voice) {
        c.playing = true;
        if (cmd.param1 == 1) c.keepWhenDone = true;
      }
      return 1;
    case CMD_PAUSE:
      if (c.voice) c.playing = false;
      return 1;
    case CMD_RESTART:
      if (c.source) {
        Restart(c, false);
        c.playing = true;
      }
      return 1;
    case CMD_SEEK:
      if (c.source) {
        c.position = -1;
        c.sourceEnded = false;
        if (cmd.param1 >= 0) c.source->Seek(static_cast<uint32_t>(cmd.param1));
        if (c.tempo) c.tempo->Reset();
      }
      return 1;
    case CMD_SET_MARKS:
      if (c.source) {
        c.source->startMark = static_cast<uint32_t>(std::max(cmd.param2, 0));
        c.source->endMark = static_cast<uint32_t>(std::max(cmd.param3, 0));
        c.source->Seek(c.source->startMark);
        c.position = -1;
        c.sourceEnded = false;
        if (c.tempo) c.tempo->Reset();
      }
      return 1;
    case CMD_VOLUME:
      if (c.voice) {
        softMixer_->SetVolume(c.voice, static_cast<uint32_t>(cmd.param1));
        if (c.echo) c.echo->SetChannelVolume(static_cast<uint32_t>(cmd.param1));
      }
      return 1;
    case CMD_ECHO:
      if (cmd.flag) {
        c.echo.reset();
        return 1;
      }
      // An effect on an empty channel changes nothing, as a volume does; it
      // is not refused, so a render that meets one goes on.
      if (!c.voice) return 1;
      RemoveInner(c);
      {
        auto echo = std::make_unique<EchoEffect>();
        if (!echo->Open(softMixer_.get(), c.voiceFormat, softMixer_->GetVolume(c.voice), cmd.param1)) return 0;
        c.echo = std::move(echo);
      }
      return 1;
    case CMD_CHORUS:
      RemoveInner(c);
      if (cmd.flag || !c.voice) return 1;
      c.echo.reset();
      {
        auto chorus = std::make_unique<ChorusEffect>();
        if (!chorus->Build(c.sourceFormat, cmd.param1)) return 0;
        c.chorus = std::move(chorus);
      }
      return UpdateVoiceFormat(c) ? 1 : 0;
    case CMD_REVERB:
      RemoveInner(c);
      if (cmd.flag || !c.voice) return 1;
      c.echo.reset();
      {
        auto reverb = std::make_unique<ReverbEffect>();
        if (!reverb->Build(c.sourceFormat, cmd.param1, cmd.param2, cmd.param3, cmd.param4)) return 0;
        c.reverb = std::move(reverb);
      }
      return UpdateVoiceFormat(c) ? 1 : 0;
    case CMD_SET_RATE: {
      if (!c.voice) return 1;
      // A rate of 0 or below would leave a voice that never advances.
      if (cmd.param1 <= 0) return 0;
      uint64_t hz = uint64_t{static_cast<uint32_t>(cmd.param1)} * c.sourceFormat.samplesPerSec / 1000;
      if (hz == 0 || hz > WaveStream::kMaxSampleRate) return 0;
      softMixer_->SetSampleRate(c.voice, static_cast<uint32_t>(hz));
      if (c.echo) c.echo->SetSampleRate(static_cast<uint32_t>(hz));
      return 1;
    }
    default:
      return 0;
  }
}

void AudioMixer::QueueBlock(AudioChannel& c, const uint8_t* data, uint32_t bytes) {
  softMixer_->WriteVoice(c.voice, data, bytes);
  if (c.echo) c.echo->Queue(data, bytes);
}

void AudioMixer::FillChannel(AudioChannel& c, uint32_t want) {
  bool restarted = false;
  std::vector<uint8_t> stretched;
  while (want > 0 && c.source) {
    uint32_t ask = want;
    if (c.tempo) {
      ask = c.tempo->NeededBytes();
      if (ask == 0) ask = 2 * c.sourceFormat.blockAlign;
      if (c.sourceEnded) break;
    }
    uint32_t bytes = 0, timeMs = 0;
    std::unique_ptr<uint8_t[]> block = c.source->ReadAudio(ask, &bytes, &timeMs);
    if (!block || bytes == 0) {
      if (c.loop && !restarted) {
        // One restart per fill: a clip that gives nothing even from its
        // start would otherwise spin here.
        Restart(c, true);
        restarted = true;
        continue;
      }
      if (c.tempo && !c.loop) {
        // Pad the processor's last wish with silence so the stretched tail
        // comes out, once.
        uint32_t pad = c.tempo->NeededBytes();
        if (pad) {
          std::vector<uint8_t> zeros(pad, 0);
          stretched.clear();
          c.tempo->Push(zeros.data(), pad, &stretched);
          if (!stretched.empty()) QueueBlock(c, stretched.data(), static_cast<uint32_t>(stretched.size()));
        }
        c.sourceEnded = true;
      }
      break;
    }
    restarted = false;
    if (c.position < 0) {
      c.fedFromMs = timeMs;
      c.fedBytes = 0;
    }
    c.position = timeMs;
    c.fedBytes += bytes;
    // The block's time is rounded down to the millisecond; its length,
    // rounded up, puts the end of the clip's last block at or past the
    // clip's end, which a linked picture following the heard position must
    // reach to end (and loop) with its sound.
    c.readEnd = timeMs + (c.bytesPerSecond ? (uint64_t{bytes} * 1000 + c.bytesPerSecond - 1) / c.bytesPerSecond : 0);
    if (c.tempo) {
      stretched.clear();
      c.tempo->Push(block.get(), bytes, &stretched);
      if (!stretched.empty()) QueueBlock(c, stretched.data(), static_cast<uint32_t>(stretched.size()));
    } else if (c.chorus) {
      c.chorus->Feed(block.get(), bytes, &effectOut_);
      QueueBlock(c, effectOut_.data(), static_cast<uint32_t>(effectOut_.size()));
    } else if (c.reverb) {
      c.reverb->Feed(block.get(), bytes, &effectOut_);
      QueueBlock(c, effectOut_.data(), static_cast<uint32_t>(effectOut_.size()));
    } else {
      QueueBlock(c, block.get(), bytes);
    }
    // A tempo channel counts what reached its voice: the processor holds
    // back input until it can cut whole segments.
    uint32_t done = c.tempo ? static_cast<uint32_t>(stretched.size()) : bytes;
    want = done >= want ? 0 : want - done;
  }
}

int AudioMixer::Pull(uint8_t* buffer, uint32_t bytes, uint32_t* outBytes) {
  if (outBytes) *outBytes = 0;
  if (outBytesPerSecond_ == 0 || !buffer) return 1;
  uint32_t ms = static_cast<uint32_t>(uint64_t{bytes} * 1000 / outBytesPerSecond_);
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const uint32_t need = ms + 1;
  for (AudioChannel& c : ch_) {
    if (!c.voice || !c.playing) continue;
    uint32_t perMs = c.bytesPerSecond / 1000;
    uint32_t queued = softMixer_->QueuedMs(c.voice);
    if (queued < need && perMs) FillChannel(c, (need - queued + kLeadMs) * perMs);
    bool empty = softMixer_->QueuedBytes(c.voice) == 0 && (!c.echo || softMixer_->QueuedBytes(c.echo->voice()) == 0);
    if (empty) {
      if (c.keepWhenDone)
        c.playing = false;
      else
        CloseLocked(c);
    }
  }
  uint32_t produced = softMixer_->Render(buffer, bytes);
  if (outBytes) *outBytes = produced;
  return 1;
}

}  // namespace engine
