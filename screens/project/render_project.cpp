#include "screens/project/render_project.h"

#include <vector>

#include "engine/mix_engine.h"
#include "platform/os/file.h"
#include "platform/os/os_error.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_block.h"
#include "screens/project/channel_selection.h"
#include "screens/project/record_reader.h"

namespace screens {
namespace {

// Files this large are no project of this program.
constexpr uint64_t kMaxProjectBytes = 256u << 20;

}  // namespace

bool OpenMixForRender(engine::MixEngine* engine, std::span<const uint8_t> project, ov::String* why) {
  auto refuse = [&](ov::String text) {
    if (why) *why = std::move(text);
    return false;
  };
  if (!engine) return refuse(u"no engine");
  RecordReader in(project);
  uint32_t version = 0;
  if (!in.ReadU32(&version) || !in.Skip(4 * kOutputSettingCount)) return refuse(u"the project is cut short");
  if (version != kProjectVersion) {
    return refuse(ov::String::Format(u"the project is of version %u, not %u", version, kProjectVersion));
  }
  // A failed block refuses the project: behind it the position in the file
  // means nothing any more.
  bool ok = true;
  ov::String missing;
  {
    ChannelSelection scratch;
    for (int i = 0; i < kMaxEntries && ok; ++i) ok = LoadChannel(&scratch, &in, false, &missing);
  }
  if (!ok) {
    return refuse(missing.IsEmpty() ? ov::String(u"the project's channels are damaged")
                                    : u"a clip of the project is missing: " + missing);
  }
  size_t consumed = 0;
  if (!engine->LoadActions(in.rest(), &consumed) || consumed != in.left()) {
    engine->ClearActions();
    return refuse(u"the project's recorded mix is damaged");
  }
  return true;
}

bool OpenMixForRender(engine::MixEngine* engine, const ov::String& path, ov::String* why) {
  auto refuse = [&](const char* text) {
    if (why) *why = u"cannot open the project " + path + u": " + ov::String::FromUtf8Lossy(text);
    return false;
  };
  if (path.IsEmpty()) return refuse("no path");
  if (ov::FolderExists(path)) return refuse("a folder, not a file");
  if (!ov::IsRegularFile(path)) return refuse(ov::FileExists(path) ? "not a regular file" : "no such file");
  std::vector<uint8_t> bytes;
  if (!ov::ReadWholeFile(path, &bytes, kMaxProjectBytes)) {
    return refuse(ov::GetLastError() == ov::kErrorNotEnoughMemory ? "too large for a project"
                                                                  : ov::ErrorText(ov::GetLastError()));
  }
  if (!OpenMixForRender(engine, bytes, why)) {
    if (why) *why = path + u": " + *why;
    return false;
  }
  return true;
}

ov::String RenderCommandLine(const ov::String& project, const ov::String& output, const engine::ExportSettings& s) {
  return ov::String::Format(u"-p\"%s\" -o\"%s\" -e\"%u,%u,%u,%u,%u,%u,%u,%u,%u,%u,%u\"", project, output,
                            s.audioBitrate, s.sampleRate, s.bitsPerSample, s.channels, s.samplesPerFrame, s.videoCodec,
                            s.audioCodec, s.videoBitrate, s.fps, s.height, s.width);
}

}  // namespace screens
