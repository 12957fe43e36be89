#include "screens/render_project.h"

#include <vector>

#include "engine/mix_engine.h"
#include "platform/os/file.h"
#include "screens/channel_block.h"
#include "screens/channel_selection.h"
#include "screens/mixer.h"
#include "screens/record_reader.h"

namespace screens {
namespace {

// Files this large are no project of this program.
constexpr uint64_t kMaxProjectBytes = 256u << 20;

}  // namespace

bool OpenMixForRender(engine::MixEngine* engine, std::span<const uint8_t> project) {
  if (!engine) return false;
  RecordReader in(project);
  uint32_t version = 0;
  if (!in.ReadU32(&version) || version != kProjectVersion || !in.Skip(4 * kOutputSettingCount)) return false;
  // A failed block refuses the project: behind it the position in the file
  // means nothing any more.
  bool ok = true;
  {
    ChannelSelection scratch;
    for (int i = 0; i < kMaxEntries && ok; ++i) ok = LoadChannel(&scratch, &in, false);
  }
  if (!ok) return false;
  size_t consumed = 0;
  if (!engine->LoadActions(in.rest(), &consumed) || consumed != in.left()) {
    engine->ClearActions();
    return false;
  }
  return true;
}

ov::String RenderCommandLine(const ov::String& project, const ov::String& output, const engine::ExportSettings& s) {
  return ov::String::Format(u"-p\"%s\" -o\"%s\" -e\"%u,%u,%u,%u,%u,%u,%u,%u,%u,%u,%u\"", project, output,
                            s.audioBitrate, s.sampleRate, s.bitsPerSample, s.channels, s.samplesPerFrame, s.videoCodec,
                            s.audioCodec, s.videoBitrate, s.fps, s.height, s.width);
}

bool OpenMixForRender(engine::MixEngine* engine, const ov::String& path) {
  if (path.IsEmpty() || !ov::FileExists(path)) return false;
  std::vector<uint8_t> bytes;
  if (!ov::ReadWholeFile(path, &bytes, kMaxProjectBytes)) return false;
  return OpenMixForRender(engine, bytes);
}

}  // namespace screens
