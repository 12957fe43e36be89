#pragma once
// The render mode: a second instance of the program started by the mixer
// with a command line of three options, each a letter pair directly
// followed by a double-quoted value:
//   -p"PROJECT.mix" -o"OUTPUT.ext" -e"AB,RATE,BITS,CH,SPF,VC,AC,VB,FPS,H,W"
// (the eleven export words in their fixed order). It makes no window and no
// screens: a screen manager owns the options and an engine without mixers,
// the project's recorded commands are loaded into it and the export job for
// the output's extension runs them. The result reaches the first instance
// only through the render queue.

#include "engine/export_settings.h"
#include "platform/os/ov_string.h"

namespace shell {

struct RenderCommand {
  ov::String project;
  ov::String output;
  engine::ExportSettings settings;
};

// The one line printed for a command line without the three quoted options
// ("--help" among them).
extern const char16_t kRenderUsage[];

// Reads the three options (in any order; the first of each name counts;
// values may hold blanks). False when one is missing or unclosed, when -e
// does not hold exactly eleven numbers, or when the numbers are nothing a
// job can make: a sample rate outside 8000-48000, bits other than 8 or 16,
// channels other than 1 or 2, a picture side above 1024 or a rate above 60
// frames per second. `why` (when given) then gets one line: kRenderUsage
// for a missing option, else "ovmix: " and the reason.
bool ParseRenderCommandLine(const ov::String& line, RenderCommand* out, ov::String* why = nullptr);

// Runs the render: true when the command line was understood and the
// project opened (the export then ran and sent its result). When the
// command line, the project or the export fails, `why` (when given) gets the
// one line the process prints on stderr.
bool RunCommandLineRender(const ov::String& line, ov::String* why = nullptr);

}  // namespace shell
