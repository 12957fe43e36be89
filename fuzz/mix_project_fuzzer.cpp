// Drives the project reader as the render mode does: OpenMixForRender into
// an engine without mixers, and the parts one by one (the version word, the
// nine settings skipped, eight channel blocks read into one bare channel, no
// screen, no rotation, then the engine record). Whatever a block
// accepted must store again and read back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "engine/action_processor.h"
#include "engine/mix_engine.h"
#include "fuzz/fuzz_target.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_block.h"
#include "screens/project/channel_selection.h"
#include "screens/project/render_project.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  {
    // The render process's reader loads the record into an engine without
    // mixers.
    engine::MixEngine render(nullptr, nullptr);
    screens::OpenMixForRender(&render, std::span<const uint8_t>(copy.data(), copy.size()));
  }
  screens::ChannelSelection channel;
  engine::ActionProcessor actions;
  screens::ReadProjectRecord(std::span<const uint8_t>(copy.data(), copy.size()), screens::kMaxEntries, &channel,
                             &actions);
  // The last channel read (whole or in part) stores and reads back as itself.
  std::vector<uint8_t> block;
  screens::SaveChannel(channel, &block);
  screens::ChannelSelection again;
  screens::RecordReader in(block);
  if (!screens::LoadChannel(&again, &in, false) || in.left() != 0) std::abort();
  std::vector<uint8_t> block2;
  screens::SaveChannel(again, &block2);
  if (block2 != block) std::abort();
  return 0;
}
