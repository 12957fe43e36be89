#pragma once
// The project file as the render process reads it (ReadProject,
// project_file.h): the whole envelope is read and checked (a block whose
// clip file is missing fails), then the engine record with its flag trailer
// goes into the engine. Any other version, a cut or damaged file, or bytes
// left behind the record refuse the project: the render process then
// exports nothing.

#include <cstdint>
#include <span>

#include "engine/export_settings.h"
#include "platform/os/ov_string.h"

namespace engine {
class MixEngine;
}

namespace screens {

// True when the project's engine record was loaded into `engine`; else
// `why` (when given) gets the reason, naming the project or the missing
// clip.
bool OpenMixForRender(engine::MixEngine* engine, const ov::String& path, ov::String* why = nullptr);
bool OpenMixForRender(engine::MixEngine* engine, std::span<const uint8_t> project, ov::String* why = nullptr);

// The render process's command line: -p"PROJECT" -o"OUTPUT" -e"..." with
// the eleven settings words in their order (fps, then height, then width).
ov::String RenderCommandLine(const ov::String& project, const ov::String& output, const engine::ExportSettings& s);

}  // namespace screens
