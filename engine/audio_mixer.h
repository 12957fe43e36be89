#pragma once
// AudioMixer: the sixteen sound channels of a mix. Each channel holds one
// clip (a media::DecoderSource from OpenAudioSource), a voice on the mixer's
// SoftMixer and at most one effect (echo, chorus or reverb), and may play at
// a changed tempo. Engine commands change the channels (ApplyAction); the
// audio feed thread, the WAV export and the audio cache writer pull mixed
// PCM (Pull).
//
// Thread: every public operation takes the mixer's mutex, so any thread may
// call them. Lock order: the video mixer takes its own mutex before this
// one (and may call ApplyAction under it); this mixer never takes the video
// mixer's. Decoding runs inside Pull, under the mutex.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/chorus_effect.h"
#include "engine/echo_effect.h"
#include "engine/engine_command.h"
#include "engine/reverb_effect.h"
#include "engine/soft_mixer.h"
#include "engine/tempo_stage.h"
#include "media/decoder_source.h"

namespace engine {

// Per-channel state of the audio mixer.
struct AudioChannel {
  std::unique_ptr<media::DecoderSource> source;
  WaveFormatEx sourceFormat;
  uintptr_t voice = 0;        // 0: channel empty
  WaveFormatEx voiceFormat;   // what the voice was opened with
  uint32_t bytesPerSecond = 0;  // of the source
  bool loop = false;
  bool keepWhenDone = false;
  bool playing = false;
  bool sourceEnded = false;  // the tempo input was padded after the end
  int64_t position = -1;     // ms of the last block read; -1 after load or seek
  int64_t readEnd = -1;      // ms just behind the last block read
  // The time of the first block read since load or seek, and the source
  // bytes read since: the sound's time to the sample, where block times are
  // whole milliseconds.
  int64_t fedFromMs = -1;
  uint64_t fedBytes = 0;
  std::unique_ptr<EchoEffect> echo;
  std::unique_ptr<ChorusEffect> chorus;
  std::unique_ptr<ReverbEffect> reverb;
  std::unique_ptr<TempoStage> tempo;
};

class AudioMixer {
 public:
  static constexpr uint32_t kChannels = kAudioChannels;
  static constexpr uint32_t kMaxRate = 48000;
  // Tempo factors above this (per mille 8000) are refused.
  static constexpr float kMaxTempo = 8.0f;
  // Beat matching: entries of the mixer screen's channel table.
  static constexpr size_t kTempoEntries = 16;

  AudioMixer(uint32_t bits, uint32_t rate, uint32_t channels);
  ~AudioMixer();
  AudioMixer(const AudioMixer&) = delete;
  AudioMixer& operator=(const AudioMixer&) = delete;

  // Applies one command to its channel (codes in engine_command.h): 1 when
  // applied, 0 for codes the audio side does not handle, bad channels or
  // refused values; CMD_LOAD gives the load's result. `replaying` 1 opens
  // `altPath` when it is not empty. The caller keeps the command.
  int ApplyAction(const EngineCommand& command, int replaying);
  // Mixes one block of `bytes` into `buffer`; `*outBytes` gets the bytes
  // produced (0 once nothing plays). Returns 1.
  int Pull(uint8_t* buffer, uint32_t bytes, uint32_t* outBytes);
  // Bytes of `ms` of output (doubled for 8-bit output: the mix is 16-bit).
  uint32_t BytesForDuration(uint32_t ms) const;
  bool IsChannelLoaded(uint32_t channel);
  bool IsChannelPlaying(uint32_t channel);
  // Opens `path` between the marks (ms; 0, 0 = whole clip) at speed `tempo`
  // (0 = unchanged; negative or above kMaxTempo refused). 1 on success.
  int LoadChannel(uint32_t channel, const ov::String& path, uint32_t startMark, uint32_t endMark, float tempo);
  int CloseChannel(uint32_t channel);
  // The clip time now being heard: the end of the last block read minus what
  // is still queued on the voice (the block's start would be a whole block
  // early, since that block is queued too), to the nearest millisecond; -1
  // when nothing was read since load or seek.
  int64_t GetVoicePosition(uint32_t channel);

  uint32_t rate() const { return rate_; }
  uint32_t bits() const { return bits_; }
  uint32_t channels() const { return channels_; }
  uint32_t outBytesPerSecond() const { return outBytesPerSecond_; }
  // The mutex every operation takes (the video mixer takes it after its own).
  std::recursive_mutex& mutex() { return mutex_; }
  // Test and tool access to the soft mixer (under the mutex).
  SoftMixer& softMixer() { return *softMixer_; }

  // Beat matching, written by the mixer screen on the UI thread before play:
  // its channel table, the tempo of each entry (beats per minute, 0 = none)
  // and their average. The screen computes the per-mille speed of each clip
  // from them and sends it with CMD_LOAD.
  const void* channelTable = nullptr;
  std::array<uint32_t, kTempoEntries> tempoWords{};
  uint32_t averageTempo = 0;

 private:
  void FillChannel(AudioChannel& c, uint32_t want);
  void QueueBlock(AudioChannel& c, const uint8_t* data, uint32_t bytes);
  void Restart(AudioChannel& c, bool keepTempo);
  void CloseLocked(AudioChannel& c);
  void RemoveInner(AudioChannel& c);
  // Reopens the voice when the format it needs changed (effects, tempo).
  bool UpdateVoiceFormat(AudioChannel& c);
  WaveFormatEx NeededVoiceFormat(const AudioChannel& c) const;
  int Load(uint32_t channel, const ov::String& path, uint32_t startMark, uint32_t endMark, float tempo);

  std::recursive_mutex mutex_;
  std::array<AudioChannel, kChannels> ch_;
  uint32_t rate_;
  uint32_t bits_;
  uint32_t channels_;
  uint32_t outBytesPerSecond_ = 0;
  std::unique_ptr<SoftMixer> softMixer_;
  std::vector<uint8_t> effectOut_;
};

}  // namespace engine
