#pragma once
// EngineCommand: one change to a playing mix (load a clip, play, pause, seek,
// volume, effect, stop), posted by the screens, stamped with the clock,
// recorded in the ActionProcessor and applied to the audio mixer (channels
// 0-15) or the video mixer (16-31).
//
// Stored form (EngineCommand::Write / Read), little-endian: u32 count of
// `path` units including the terminator, the units, the same for `altPath`,
// then u32 type, channel, timeMs, param1-param5. `flag` is not part of this
// form; the action list keeps it in a trailer of its own (action_processor.h).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/os/file.h"
#include "platform/os/ov_string.h"

namespace engine {

enum EngineCommandCode : uint32_t {
  CMD_NOP = 0,
  CMD_ACK = 1,
  CMD_LOAD = 2,
  CMD_LOAD_IMAGE = 3,
  CMD_STOP = 4,
  CMD_SET_ZORDER = 5,
  CMD_SET_LOOP = 6,
  CMD_PLAY = 7,
  CMD_PAUSE = 8,
  CMD_RESTART = 9,
  CMD_SET_HOLD = 10,
  CMD_SEEK = 11,
  CMD_SET_MARKS = 12,
  CMD_VOLUME = 13,
  CMD_MASTER_VOLUME = 14,
  CMD_ECHO = 100,
  CMD_CHORUS = 101,
  CMD_REVERB = 102,
  CMD_SLIDE = 201,
  CMD_BLIND = 202,
  CMD_FADE = 203,
  CMD_SWEEP = 204,
  CMD_FILE_EFFECT = 208,
  CMD_COLOUR_FILTER = 209,
  CMD_PAN_ZOOM = 210,
  CMD_ZOOM = 211,
  CMD_SET_RATE = 300,
};

// Engine channel numbers: 0-15 audio, 16-31 video (video channel = value - 16).
constexpr uint32_t kAudioChannels = 16;
constexpr uint32_t kFirstVideoChannel = 16;

struct EngineCommand {
  uint32_t type = CMD_NOP;
  ov::String path;     // file to open
  ov::String altPath;  // its cache file, used instead of `path` when replaying
  uint32_t channel = 0;
  uint32_t timeMs = 0;  // clock time, set by the engine when posted
  int32_t param1 = 0;   // code-specific; -1 is "none" for some codes
  int32_t param2 = 0;
  int32_t param3 = 0;
  int32_t param4 = 0;
  int32_t param5 = 0;
  uint32_t flag = 0;  // effects: 1 = remove / do not start; loop: 1 = loop off

  // Appends the stored form to `out`.
  void Write(std::vector<uint8_t>* out) const;
  // Reads one stored command from the front of `in` and advances it. False
  // (command unchanged) when the data is short or a string count is 0 or
  // larger than the data left. `flag` is left as it was.
  bool Read(std::span<const uint8_t>* in);

  // The same on an open file (the channel blocks of the project file store
  // their effect command this way). Write reports a failed write; Read
  // refuses a string count of 0 or beyond the end of the file and leaves the
  // command unchanged then.
  bool Write(ov::File& file) const;
  bool Read(ov::File& file);

  // Bytes of the smallest stored command (two empty strings).
  static constexpr size_t kMinStoredBytes = 4 + 2 + 4 + 2 + 8 * 4;
};

// A command of `type` on `channel` with its first four parameters; the rest
// stay at their defaults.
inline EngineCommand MakeCommand(uint32_t type, uint32_t channel, int32_t param1 = 0, int32_t param2 = 0,
                                 int32_t param3 = 0, int32_t param4 = 0) {
  EngineCommand c;
  c.type = type;
  c.channel = channel;
  c.param1 = param1;
  c.param2 = param2;
  c.param3 = param3;
  c.param4 = param4;
  return c;
}

// Little-endian helpers shared by the record readers and writers.
void PutU32(std::vector<uint8_t>* out, uint32_t value);
bool GetU32(std::span<const uint8_t>* in, uint32_t* value);
// A stored string: u32 count of UTF-16 units including the terminator, the
// units up to the first NUL, the terminator. GetString refuses a count of 0
// or beyond the data left (false) and keeps the text up to
// the first zero unit.
void PutString(std::vector<uint8_t>* out, const ov::String& text);
bool GetString(std::span<const uint8_t>* in, ov::String* text);

}  // namespace engine
