#pragma once
// FileVideoEffect (208): a transition drawn by a mask animation kept as a
// ".raw" mask cache: where a mask frame is on, the new picture shows; where it
// is off, what lies below stays. At the end of the mask the new picture
// covers the whole frame.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/raw_frame_cache_source.h"
#include "engine/video_effect.h"
#include "platform/os/ov_string.h"

namespace engine {

class FileVideoEffect : public VideoEffect {
 public:
  // Opens the mask cache at `path` between the marks (ms). With `decodeAllowed`
  // and no file at `path`, the effect file `source` is first decoded into a
  // cache in the temporary folder (a one-clip channel, the tick count as its
  // index) and that cache is the mask. A mask that cannot be opened finishes
  // the effect at once.
  FileVideoEffect(uint32_t fps, const ov::String& path, uint32_t startMark, uint32_t endMark,
                  const ov::String& source = ov::String(), bool decodeAllowed = false);
  int Draw(const Picture565& frame) override;

 private:
  RawFrameCacheSource mask_;
  media::MediaFormat format_;
  std::unique_ptr<uint8_t[]> maskFrame_;
};

}  // namespace engine
