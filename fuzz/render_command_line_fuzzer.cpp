// The render mode's command line: any text through the option reader. What
// it accepts must be settings a job can make, with values free of quotes.
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_target.h"
#include "shell/render_mode.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  shell::RenderCommand command;
  if (!shell::ParseRenderCommandLine(ov::String::FromUtf8Lossy(text), &command)) return 0;
  const engine::ExportSettings& s = command.settings;
  if (s.sampleRate < 8000 || s.sampleRate > 48000 || s.channels < 1 || s.channels > 2) std::abort();
  if (s.bitsPerSample != 8 && s.bitsPerSample != 16) std::abort();
  if (command.project.IsEmpty() || command.output.IsEmpty()) std::abort();
  if (command.project.Find(u'"') >= 0 || command.output.Find(u'"') >= 0) std::abort();
  return 0;
}
