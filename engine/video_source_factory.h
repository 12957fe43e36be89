#pragma once
// OpenVideoSource: the media-kind factory the video mixer and the effects
// open clips through. ".raw" frame caches give a RawFrameCacheSource.
// Other kinds (pictures, coded video, rendered text) are added as their
// sources are built.

#include <cstdint>
#include <memory>

#include "media/decoder_source.h"
#include "platform/os/ov_string.h"

namespace engine {

// The opened source for `path` (chosen by extension, case-insensitive), or
// null when the kind is unknown or the file cannot be opened. `mode` is the
// video mixer's load mode (1, 2 or 4).
std::unique_ptr<media::DecoderSource> OpenVideoSource(const ov::String& path, uint32_t mode);

}  // namespace engine
