#pragma once
// The AMR-NB speech decoder library (opencore-amrnb): one storage-format frame
// (header byte and packed speech bits, RFC 4867 section 5.3) to 160 16-bit
// samples at 8 kHz.
//
// Thread: one decoder is used by one thread at a time.

#include <cstdint>

namespace ov {

class AmrNbDecoder {
 public:
  static constexpr int kSamplesPerFrame = 160;

  AmrNbDecoder() = default;
  ~AmrNbDecoder();
  AmrNbDecoder(const AmrNbDecoder&) = delete;
  AmrNbDecoder& operator=(const AmrNbDecoder&) = delete;

  // Creates the decoder state; false when it cannot be made.
  bool Init();
  // Decodes the frame at `frame` (its header byte says how many bytes follow;
  // the caller guarantees they are there) into `out`. A frame type without
  // speech data repeats the previous mode (error concealment).
  void Decode(const uint8_t* frame, int16_t out[kSamplesPerFrame]);
  void Exit();
  bool IsOpen() const { return state_ != nullptr; }

 private:
  void* state_ = nullptr;
};

}  // namespace ov
