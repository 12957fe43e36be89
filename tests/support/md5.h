#pragma once
// MD5 (RFC 1321) of byte buffers, for comparing decoded pictures with the
// per-frame references of reference decoders (ffmpeg -f framemd5).

#include <cstddef>
#include <cstdint>
#include <string>

namespace ovtest {

class Md5 {
 public:
  Md5();
  void Update(const void* data, size_t size);
  // Lower-case hex digest; the object must not be updated afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* p);
  uint32_t state_[4];
  uint64_t length_ = 0;
  uint8_t buffer_[64];
  size_t used_ = 0;
};

std::string Md5Hex(const void* data, size_t size);

}  // namespace ovtest
