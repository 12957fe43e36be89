#pragma once
// The ".mix" project file and its one reader. Little-endian: u32 version
// 110; the nine output settings in file order (kFileOrder); eight channel
// blocks (channel_block.h), one for each entry of the mixer's table (the six
// clip channels, start credits, end credits), an entry without a channel
// element stored as an empty channel; the engine record
// (engine/action_processor.h) with its flag trailer, which ends the file.
// The file holds no block count: there are always eight, whatever the skin
// names, so that a project moves between skins and to the render process
// whole.
//
// ReadProject reads all of it into records of its own and touches nothing
// else: the mixer's load, the render process, "ovtool cache" and the fuzz
// target each apply a project only once the whole of it has read.
//
// Thread: any (the channels read are elements without a screen; the mixer
// reads on the UI thread).

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/action_processor.h"
#include "platform/os/ov_string.h"
#include "screens/project/channel_selection.h"

namespace screens {

inline constexpr uint32_t kProjectVersion = 110;
inline constexpr int kMaxEntries = 8;
inline constexpr int kClipChannels = 6;
inline constexpr int kStartCreditsEntry = 6;
inline constexpr int kEndCreditsEntry = 7;
inline constexpr int kOutputSettingCount = 9;
// Files this large are no project of this program.
inline constexpr uint64_t kMaxProjectBytes = 256u << 20;

// The nine output settings in memory order; each mirrors the numeric user
// option of the same key name.
enum OutputSetting : int {
  kWizardSetting,
  kWizardMediaType,
  kWizardMediaSize,
  kWizardMediaLength,
  kWizardMediaCodec,
  kWizardMediaFps,
  kWizardMediaAudioRate,
  kWizardMediaDimension,
  kWizardMediaBps,
};
using OutputSettings = std::array<int32_t, kOutputSettingCount>;
// Key names in memory order, and the settings in the project file's order.
extern const std::array<const char16_t*, kOutputSettingCount> kOutputSettingKeys;
extern const std::array<OutputSetting, kOutputSettingCount> kFileOrder;
// All 0 but the codec word, 65535 (both codecs "default").
OutputSettings DefaultOutputSettings();

// The project image: the version, the settings in file order, the blocks of
// `channels` (a null entry writes an empty channel's block) and the engine
// record as stored (MixEngine::SaveActions). The mixer passes its eight
// entries.
void WriteProject(const OutputSettings& settings, std::span<ChannelSelection* const> channels,
                  std::span<const uint8_t> engine_record, std::vector<uint8_t>* out);

// A project as read, held apart from any mix.
struct MixProject {
  OutputSettings settings = DefaultOutputSettings();  // memory order
  std::array<ChannelSelection, kMaxEntries> channels;
  engine::ActionProcessor actions;
};

// Why a project did not read.
struct ProjectReadError {
  enum class Kind {
    kNone,
    kDamaged,      // cut short, a damaged block or record, bytes behind the record
    kVersion,      // a version word other than 110
    kMissingClip,  // a clip's source file no longer exists
  };
  Kind kind = Kind::kNone;
  ov::String missing;  // kMissingClip: the clip's file as the project names it
  ov::String text;     // the reason in words, e.g. "the project's channels are damaged"
};

// Reads the whole envelope of `data` into `out`: version, nine settings,
// eight blocks (LoadChannel; `keep_caches` keeps the cache names, as a
// turn's own copy does), the engine record, and nothing after it. False at
// the first part that does not read, with `error` (when given) saying
// which; `out` then holds what was read before it and must not be applied.
bool ReadProject(std::span<const uint8_t> data, bool keep_caches, MixProject* out, ProjectReadError* error = nullptr);

}  // namespace screens
