#pragma once
// FileVideoEffect (208): a transition drawn by a mask animation kept as a
// ".raw" mask cache: where a mask frame is on, the new picture shows; where it
// is off, what lies below stays. The mask keeps its own time: each cache
// frame shows from its time (the header's frame duration apart) for as long
// as the composed frames (frames drawn x 1000 / fps) have not reached the
// next one, so a mask lasts as long at any frame rate. Once the composed time
// passes the last frame's end the new picture covers the whole frame.

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
  // index, at this effect's frame rate) and that cache is the mask; the
  // effect deletes that cache when it goes (a cache named by `path` belongs
  // to the caller). A mask that cannot be opened finishes the effect at once.
  FileVideoEffect(uint32_t fps, const ov::String& path, uint32_t startMark, uint32_t endMark,
                  const ov::String& source = ov::String(), bool decodeAllowed = false);
  int Draw(const Picture565& frame) override;

  // The cache this effect decoded for itself (empty when it uses `path`).
  const ov::String& decodedCache() const { return decoded_.path; }

 private:
  // One mask frame read from the cache: its bytes and its time (ms).
  struct MaskFrame {
    std::unique_ptr<uint8_t[]> pixels;
    uint32_t bytes = 0;
    uint32_t timeMs = 0;
  };
  // Deletes the file it names when it goes; declared before the mask source
  // so that the source has closed the file by then.
  struct DecodedCache {
    ov::String path;
    ~DecodedCache();
  };

  bool ReadMask(MaskFrame* into);
  // Moves to the frame the composed time has reached; false once that time
  // has passed the last frame's end (or no frame could be read).
  bool StepMask();

  DecodedCache decoded_;
  RawFrameCacheSource mask_;
  media::MediaFormat format_;
  MaskFrame current_, next_;
  bool haveNext_ = false;
  uint32_t firstTime_ = 0;  // ms: the time of the first mask frame, the effect's time 0
};

}  // namespace engine
