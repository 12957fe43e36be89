// Drives the one project reader as the program does: ReadProject (the
// version word, nine settings, eight channel blocks into bare channels, no
// screen, no rotation, then the engine record and nothing after it), and
// OpenMixForRender into an engine without mixers as the render mode does.
// Whatever a block accepted must store again and read back to the same
// bytes, and a project that reads whole must write and read back as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "engine/action_processor.h"
#include "engine/mix_engine.h"
#include "fuzz/fuzz_target.h"
#include "screens/project/channel_block.h"
#include "screens/project/channel_selection.h"
#include "screens/project/project_file.h"
#include "screens/project/render_project.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

namespace {

// Each channel read (whole or in part) stores and reads back as itself.
void CheckChannelRoundTrip(const screens::ChannelSelection& channel) {
  std::vector<uint8_t> block;
  screens::SaveChannel(channel, &block);
  screens::ChannelSelection again;
  screens::RecordReader in(block);
  if (!screens::LoadChannel(&again, &in, false) || in.left() != 0) std::abort();
  std::vector<uint8_t> block2;
  screens::SaveChannel(again, &block2);
  if (block2 != block) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  const std::span<const uint8_t> bytes(copy.data(), copy.size());
  bool render_read = false;
  {
    engine::MixEngine render(nullptr, nullptr);
    render_read = screens::OpenMixForRender(&render, bytes);
  }
  auto project = std::make_unique<screens::MixProject>();
  const bool read = screens::ReadProject(bytes, false, project.get());
  // The render and the mixer read the same envelope.
  if (read != render_read) std::abort();
  for (const screens::ChannelSelection& channel : project->channels) CheckChannelRoundTrip(channel);
  if (!read) return 0;
  // A whole project writes back and reads as the same bytes.
  std::vector<uint8_t> record;
  project->actions.Serialize(&record);
  std::vector<screens::ChannelSelection*> channels;
  for (screens::ChannelSelection& channel : project->channels) channels.push_back(&channel);
  std::vector<uint8_t> written;
  screens::WriteProject(project->settings, channels, record, &written);
  auto again = std::make_unique<screens::MixProject>();
  if (!screens::ReadProject(written, false, again.get())) std::abort();
  std::vector<uint8_t> record2;
  again->actions.Serialize(&record2);
  std::vector<screens::ChannelSelection*> channels2;
  for (screens::ChannelSelection& channel : again->channels) channels2.push_back(&channel);
  std::vector<uint8_t> written2;
  screens::WriteProject(again->settings, channels2, record2, &written2);
  if (written2 != written) std::abort();
  return 0;
}
