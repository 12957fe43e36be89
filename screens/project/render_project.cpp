#include "screens/project/render_project.h"

#include <memory>
#include <vector>

#include "engine/mix_engine.h"
#include "platform/os/file.h"
#include "platform/os/os_error.h"
#include "screens/project/project_file.h"

namespace screens {

bool OpenMixForRender(engine::MixEngine* engine, std::span<const uint8_t> project, ov::String* why) {
  if (!engine) {
    if (why) *why = u"no engine";
    return false;
  }
  // The render needs only the engine record; the rest is read to check it
  // (a block whose clip is missing refuses the project, as in the mixer).
  auto read = std::make_unique<MixProject>();
  ProjectReadError error;
  if (!ReadProject(project, false, read.get(), &error)) {
    // A refused project leaves nothing to render.
    engine->ClearActions();
    if (why) *why = error.text;
    return false;
  }
  engine->ReplaceActions(std::move(read->actions));
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
