#pragma once
// MixCalls: what the mixer screen's live mixing asks of the live player.
// MixEngine implements it; the screens' tests hand the mixer a recording
// stand-in, so that the commands a gesture builds can be read back exactly.
//
// Thread: UI thread.

#include <cstdint>
#include <memory>

#include "engine/engine_command.h"

namespace engine {

class MixCalls {
 public:
  virtual ~MixCalls() = default;
  // Stamps the command, keeps that very record in the recorded list and
  // applies it. The caller may still mark the record it handed over (the
  // list owns it from now on).
  virtual void PostAction(std::unique_ptr<EngineCommand> command) = 0;
  virtual int Play() = 0;
  virtual int StopAllChannels() = 0;
  virtual void ClearActions() = 0;
  virtual bool IsPlaying() = 0;
  // Streams 0-15 sound, 16-31 picture.
  virtual bool IsChannelLoaded(uint32_t stream) = 0;
  virtual bool IsChannelPlaying(uint32_t stream) = 0;
  // Beat matching: the tempo word (beats per minute, 0 none) of a mixer
  // entry, the average tempo and the table they belong to. Entries beyond
  // the player's table are ignored (0).
  virtual uint32_t TempoWord(int entry) = 0;
  virtual void SetTempoWord(int entry, uint32_t bpm) = 0;
  virtual uint32_t AverageTempo() = 0;
  virtual void SetBeatMatch(const void* table, uint32_t average) = 0;
};

}  // namespace engine
