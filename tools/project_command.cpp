// ovtool project OUT.mix [ITEM...]: writes a ".mix" project, a test
// instrument for the project reader, the mixer screen (OVMIX_LOAD) and the
// render mode. Items:
//   N=PATH          a clip in clip channel N (0-5); its kind and file type
//                   come from the extension, photos accumulate in a channel
//   cutN=START,END  cut points (ms) of channel N's last clip
//   overlayN=PATH   the overlay of channel N's last clip (a picture or an
//                   overlay video; package entries as the application folder
//                   path, "<folder>/overlays/hearts.bmp")
//   effectN=PATH    channel N's file effect (a mask such as
//                   "<folder>/masks/iris.qbt"), kept with its first clip
//   start=TEXT      the start credits' text; end=TEXT the end credits'
//   script=SCRIPT   an "ovtool mix" script as the engine record
// Channels not named stay empty; the output settings are the defaults.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/action_processor.h"
#include "platform/os/file.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tools/mix_script.h"
#include "tools/tool_command.h"

namespace {

int RunProject(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: ovtool project OUT.mix [N=CLIP...] [cutN=START,END] [overlayN=PATH] [effectN=PATH] "
                 "[start=TEXT] [end=TEXT] [script=SCRIPT]\n");
    return 2;
  }
  screens::ChannelSelection channels[screens::kMaxEntries];
  channels[screens::kStartCreditsEntry].AddEmptyTextClip();
  channels[screens::kEndCreditsEntry].AddEmptyTextClip();
  engine::ActionProcessor record;
  for (int i = 2; i < argc; ++i) {
    const std::string item = argv[i];
    const size_t eq = item.find('=');
    const std::string key = eq == std::string::npos ? item : item.substr(0, eq);
    const ov::String value = ov::String::FromUtf8Lossy(eq == std::string::npos ? "" : item.substr(eq + 1));
    if (key == "start" || key == "end") {
      const int entry = key == "start" ? screens::kStartCreditsEntry : screens::kEndCreditsEntry;
      channels[entry].GetClipText(0)->textString = value;
    } else if (key == "script") {
      std::vector<engine::EngineCommand> commands;
      std::string error;
      if (!tools::ReadMixScript(item.substr(eq + 1), &commands, &error)) {
        std::fprintf(stderr, "project: %s\n", error.c_str());
        return 1;
      }
      for (const engine::EngineCommand& c : commands) record.Append(std::make_unique<engine::EngineCommand>(c));
    } else if (key.size() == 4 && key.compare(0, 3, "cut") == 0 && key[3] >= '0' &&
               key[3] < '0' + screens::kClipChannels) {
      screens::ChannelSelection& ch = channels[key[3] - '0'];
      const std::string points = item.substr(eq + 1);
      const size_t comma = points.find(',');
      if (ch.ClipCount() == 0 || comma == std::string::npos) {
        std::fprintf(stderr, "project: %s needs a clip before it and START,END\n", item.c_str());
        return 2;
      }
      ch.SetClipCutPoints(ch.ClipCount() - 1, std::atoi(points.c_str()), std::atoi(points.c_str() + comma + 1));
    } else if ((key.size() == 8 && key.compare(0, 7, "overlay") == 0) ||
               (key.size() == 7 && key.compare(0, 6, "effect") == 0)) {
      const char n = key.back();
      if (n < '0' || n >= '0' + screens::kClipChannels || channels[n - '0'].ClipCount() == 0 || value.IsEmpty()) {
        std::fprintf(stderr, "project: %s needs a clip in channel %c before it and a PATH\n", item.c_str(), n);
        return 2;
      }
      screens::ChannelSelection& ch = channels[n - '0'];
      if (key[0] == 'o') ch.SetClipOverlayFile(ch.ClipCount() - 1, value);
      else ch.SetEffectFile(value);
    } else if (key.size() == 1 && key[0] >= '0' && key[0] < '0' + screens::kClipChannels) {
      int32_t kind = 0;
      const int32_t type = screens::FileTypeOfPath(value, &kind);
      if (kind == screens::kKindEmpty || kind == screens::kKindProject) {
        std::fprintf(stderr, "project: %s is no clip (by its extension)\n", item.c_str() + 2);
        return 1;
      }
      screens::ChannelSelection& ch = channels[key[0] - '0'];
      ch.AddClip(kind, type, value, ov::String(), ov::String(), screens::kWholePicture, screens::kWholePicture,
                 screens::kDefaultPanSpeed, 0, 0, 0, 0, 0, 0, nullptr);
      ch.set_loop_on(kind == screens::kKindAudio || kind == screens::kKindVideo);
    } else {
      std::fprintf(stderr, "project: item not understood: %s\n", item.c_str());
      return 2;
    }
  }
  std::vector<screens::ChannelSelection*> table;
  for (screens::ChannelSelection& ch : channels) table.push_back(&ch);
  std::vector<uint8_t> engine_record, bytes;
  record.Serialize(&engine_record);
  screens::WriteProject(screens::DefaultOutputSettings(), table, engine_record, &bytes);
  if (!ov::WriteFileAtomically(ov::String::FromUtf8Lossy(argv[1]), bytes.data(), bytes.size())) {
    std::fprintf(stderr, "project: cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%zu bytes, %zu commands\n", bytes.size(), record.Count());
  return 0;
}

}  // namespace

OVTOOL_COMMAND(project,
               "project OUT.mix [N=CLIP...] [cutN=START,END] [overlayN=PATH] [effectN=PATH] [start=TEXT] "
               "[end=TEXT] [script=SCRIPT]  write a .mix project",
               RunProject);
