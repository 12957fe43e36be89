#pragma once
// QbtSource: plays a ".qbt" animation clip, a 32-byte header followed by
// coded RGB565 frames (see qbt_decoder.h), as a DecoderSource. Files inside
// the media package are read from memory through the buffered reader.
//
// Header (u32 little-endian): 0 not checked, 4 width, 8 height, 12 bytes per
// pixel (only 2 is accepted), 16 frame duration (ms), 20 colour-key flag,
// 24 colour key (0x00BBGGRR), 28 not used. Then frames back to back: a u32
// length and that many bytes of coded frame.
//
// Thread rule: as every DecoderSource, its owner serialises the calls.

#include <cstdint>
#include <memory>

#include "media/buffered_file_reader.h"
#include "media/decoder_source.h"

namespace media {

inline constexpr uint32_t kQbtHeaderBytes = 32;

class QbtSource : public DecoderSource {
 public:
  QbtSource();
  ~QbtSource() override;

  // Sets the time of the next frame only; the file position stays, so the
  // next frame read is the next one in the file. Always false.
  bool Seek(uint32_t timeMs) override;
  // Back to the first frame, time 0.
  bool Rewind() override;
  // Width, height, frame duration and colour key from the header.
  bool GetFormat(MediaFormat* out) override;
  // The next frame, top-down rows of ((width + 1) & ~1) RGB565 pixels, at the
  // source's time, which then advances by the frame duration. A missing,
  // short or bad frame gives one black frame; the next such read is the end
  // (false, buffer null).
  bool ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs,
                      uint32_t single) override;
  bool IsBottomUp() override { return false; }
  bool CanSeek() override { return true; }
  // Reads the header; false when it is short, the picture is 4 x 4 or less
  // (or larger than the decoder's cap) or its pixels are not 2 bytes.
  bool Open(const ov::String& path, uint32_t scale) override;

  uint32_t width() const { return header_[1]; }
  uint32_t height() const { return header_[2]; }
  uint32_t FrameBytes() const { return ((width() + 1) & ~1u) * height() * 2; }

 private:
  BufferedFileReader reader_;
  uint32_t header_[8] = {};
  bool open_ = false;
  uint32_t timeMs_ = 0;       // time of the next frame
  bool blankGiven_ = false;   // a black frame stood in for a missing one
  std::unique_ptr<uint8_t[]> work_;  // one coded frame, width x height x 4 bytes
  uint32_t workBytes_ = 0;
};

}  // namespace media
