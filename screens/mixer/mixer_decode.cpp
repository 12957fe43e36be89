// The mixer's decoding to cache: on entering the screen the clips whose
// caches are missing are decoded on the shared worker (editor_decompression)
// behind a progress popup; the result comes back as action 339 or 340
// through the shell's queue.
#include "engine/mix_engine.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "ui/action_keywords.h"
#include "ui/ui_host.h"

namespace screens {

int Mixer::CountPendingCacheItems() const {
  int n = 0;
  for (int i = 0; i < kMaxEntries; ++i) {
    const ChannelSelection* ch = table_[size_t(i)].channel;
    if (!ch) continue;
    for (int c = 0; c < ch->ClipCount(); ++c) {
      n += ch->ClipNeedsPictureCache(c, false) + ch->ClipNeedsAudioCache(c) + ch->ClipNeedsOverlayCache(c);
    }
    n += ch->NeedsEffectCache();
  }
  return n;
}

void Mixer::StartDecompression() {
  ui::UiHost* host = ui::Host();
  if (host && !decoding() && CountPendingCacheItems() > 0) {
    DecompressionJob job;
    // All eight entries in table order (an empty one as null): the index
    // is in the cache names.
    for (const MixChannelEntry& e : table_) job.channels.push_back(e.channel);
    job.video = engine_ ? engine_->videoMixer() : nullptr;
    decompression_.Start(host, std::move(job));
  }
  PrepareBeatMatching();
  if (host) host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
  for (int i = 0; i < kMaxEntries; ++i) ShowClipName(i);
}

}  // namespace screens
