// ovtool cache FILE.mix [FOLDER]: decodes the clips of a ".mix" project to
// cache files as the mixer screen does before a mix plays, into FOLDER (the
// program's temporary folder by default), and lists the caches written.
// Exit status 0 when every cache was written, 1 otherwise.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/media_decompressor.h"
#include "platform/os/file.h"
#include "screens/project/channel_selection.h"
#include "screens/project/project_file.h"
#include "screens/screens.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

class PrintProgress : public engine::DecodeProgress {
 public:
  void Item(int n, int total) override { std::fprintf(stderr, "cache: %d / %d\n", n, total); }
  void Percent(int) override {}
};

int RunCache(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ovtool cache FILE.mix [FOLDER]\n");
    return 2;
  }
  // A folder that is not there would only fail at the first cache written.
  if (argc > 2 && !ov::FolderExists(ov::String::FromUtf8Lossy(argv[2]))) {
    std::fprintf(stderr, "cache: %s: no such folder\n", argv[2]);
    return 1;
  }
  screens::RegisterElements();  // the text renderer of text clips
  std::vector<uint8_t> bytes;
  if (!ovtool::ReadInputFile("cache", argv[1], &bytes, screens::kMaxProjectBytes)) return 1;
  // All eight blocks, whatever skin wrote the project.
  auto project = std::make_unique<screens::MixProject>();
  screens::ProjectReadError error;
  if (!screens::ReadProject(bytes, false, project.get(), &error)) {
    std::fprintf(stderr, "cache: %s: %s\n", argv[1], error.text.ToUtf8Lossy().c_str());
    return 1;
  }
  const auto& channels = project->channels;
  // Decoded through copies: a channel element deletes its caches when it
  // goes, and these caches are the command's result.
  std::vector<engine::CacheClipChannel> copies;
  for (const screens::ChannelSelection& ch : channels) copies.push_back(engine::CacheClipChannel::CopyOf(ch));
  std::vector<engine::CacheChannel*> table;
  for (engine::CacheClipChannel& copy : copies) table.push_back(&copy);
  PrintProgress progress;
  engine::MediaDecompressor decompressor(nullptr, table, false, &progress);
  if (argc > 2) decompressor.SetFolder(ov::String::FromUtf8Lossy(std::string(argv[2]) + "/"));
  const int ok = decompressor.DecompressAll();
  for (size_t i = 0; i < copies.size(); ++i) {
    engine::CacheClipChannel& ch = copies[i];
    for (int c = 0; c < ch.ClipCount(); ++c) {
      const engine::CacheClip& clip = ch.clip(c);
      for (const ov::String* name : {&clip.audio, &clip.picture, &clip.overlayCache}) {
        if (!name->IsEmpty()) std::printf("%zu.%d %s\n", i, c, name->ToUtf8Lossy().c_str());
      }
    }
    if (!ch.effectCache.IsEmpty()) std::printf("%zu %s\n", i, ch.effectCache.ToUtf8Lossy().c_str());
  }
  if (!ok) std::fprintf(stderr, "cache: a clip could not be decoded\n");
  return ok ? 0 : 1;
}

}  // namespace

OVTOOL_COMMAND(cache, "cache FILE.mix [FOLDER]  decode a project's clips to cache files", RunCache);
