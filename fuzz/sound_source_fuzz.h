#pragma once
// What the sound-source targets share: the input installed as the one file
// of a media package, where the readers look first, and a bounded reading of
// a decoder source's blocks.

#include <cstddef>
#include <cstdint>

#include "media/decoder_source.h"
#include "media/media_package.h"

namespace ovfuzz {

// The input as the package file `name` while the object lives.
class InputAsPackageFile {
 public:
  InputAsPackageFile(const char16_t* name, const uint8_t* data, size_t size) : installed_(&package_) {
    package_.Add(name, data, size);
  }

 private:
  media::MemoryPackage package_;
  media::ScopedMediaPackage installed_;
};

// Reads at most `limit` blocks of `block_bytes`: a hostile header may ask
// for hours of sound.
inline void ReadBlocks(media::DecoderSource& source, uint32_t block_bytes, int limit) {
  uint32_t bytes = 0, time = 0;
  for (int i = 0; i < limit && source.ReadAudio(block_bytes, &bytes, &time); ++i) {
  }
}

}  // namespace ovfuzz
