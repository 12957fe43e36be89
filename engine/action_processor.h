#pragma once
// ActionProcessor: the recorded action list, an ordered list of owned
// EngineCommands. The engine appends every posted command; the replay and the
// export walk it with GetNextAction; the project file stores it as the engine
// record at its end.
//
// Engine record: u32 count, then each command's stored form in list order
// (EngineCommand::Write). Behind it stands the flag trailer: u32 tag "FLAG",
// u32 count, one byte per command holding its `flag` (0 or 1 as posted; the
// byte is the flag's low 8 bits). Readers that know only the record stop
// after the last command and never reach the trailer; a file without it loads
// with every flag 0.
//
// Thread: one thread at a time (the engine serialises its callers).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/engine_command.h"
#include "platform/os/file.h"

namespace engine {

class ActionProcessor {
 public:
  // A cursor into the list: "start" (before anything was taken), or the index
  // of the next node, Count() being the end.
  struct Position {
    bool atStart = true;
    size_t index = 0;
  };

  static constexpr uint32_t kFlagTrailerTag = 0x47414C46;  // "FLAG"
  // The longest mix a record can hold, in ms: a command time beyond it was
  // not recorded by this program (a damaged or forged record) and the record
  // is refused, so a render never writes hours of silence up to it. Six
  // hours keeps a three-hour performance with room to spare and keeps its
  // WAV render under the format's 32-bit sizes at 48 kHz stereo 16-bit:
  // 21,600 s x 192,000 bytes/s = 4,147,200,000 bytes plus the 44-byte header
  // (those sizes end after about 6.2 hours). A live take stops there.
  static constexpr uint32_t kMaxMixMs = 6u * 60u * 60u * 1000u;

  // Takes ownership of `command` and adds it at the end.
  void Append(std::unique_ptr<EngineCommand> command);
  // Deletes every command.
  void Clear();
  size_t Count() const { return commands_.size(); }
  const EngineCommand& At(size_t index) const { return *commands_[index]; }

  // The next command due at or after `timeMs`, or null.
  // With a node position and time 0: that node's command, moving on by one.
  // Otherwise the command with the smallest timeMs >= timeMs from the
  // position on (the first in list order on equal times); the position moves
  // behind it, and stays where it was when none is found. Null `position`:
  // a debug line and null.
  const EngineCommand* GetNextAction(uint32_t timeMs, Position* position) const;

  // timeMs of the last command minus that of the first (list order); 0 when
  // empty or when the last is earlier than the first.
  uint32_t GetDuration() const;

  // Appends the engine record and the flag trailer to `out`.
  void Serialize(std::vector<uint8_t>* out) const;
  // Reads an engine record (and a flag trailer when one follows) from the
  // front of `data` and appends its commands; `consumed` gets the bytes read.
  // A record whose count or string lengths do not fit the data, or with a
  // command time beyond kMaxMixMs, is refused whole: false, nothing
  // appended. Times out of order are kept as they stand.
  bool Parse(std::span<const uint8_t> data, size_t* consumed);

  // The same on an open file, from its current position; Load leaves the
  // position behind what it read. Write failures are reported (false).
  bool Save(ov::File& file) const;
  bool Load(ov::File& file);

 private:
  std::vector<std::unique_ptr<EngineCommand>> commands_;
};

}  // namespace engine
