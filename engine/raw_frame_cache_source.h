#pragma once
// RawFrameCacheSource: plays back a ".raw" frame cache (see
// raw_frame_cache_format.h) as a DecoderSource. The video mixer's channels and
// the file-based video effect read caches through it; frames come out
// top-down, one every frame duration.
//
// Thread rule: as every DecoderSource, its owner serialises the calls.

#include <cstdint>
#include <memory>

#include "engine/picture565.h"
#include "engine/raw_frame_cache_format.h"
#include "media/buffered_file_reader.h"
#include "media/decoder_source.h"

namespace engine {

class RawFrameCacheSource : public media::DecoderSource {
 public:
  RawFrameCacheSource();
  ~RawFrameCacheSource() override;

  // Time 0 rewinds. Plain caches jump to frame time / duration. Mask caches
  // have frames of varying size, so they are rewound and decoded forward to
  // the frame of `timeMs`. False when that frame lies beyond the file.
  bool Seek(uint32_t timeMs) override;
  bool Rewind() override;
  // Width, height, frame duration and colour key from the header.
  bool GetFormat(media::MediaFormat* out) override;
  // The next frame (W2 x height RGB565 words). A plain cache whose data end
  // inside a frame gives one black frame, then fails; a mask cache fails at
  // once. Also false once the next frame time reaches `endMark` (when set).
  bool ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs,
                      uint32_t single) override;
  bool IsBottomUp() override { return false; }
  bool CanSeek() override { return true; }
  // Opens the media package's entry or the file and checks its header.
  bool Open(const ov::String& path, uint32_t scale) override;

  // Frame 0 in a new buffer (browsers' thumbnails); false when there is none.
  bool ReadFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes);
  // Paints the box (x, y, boxWidth, boxHeight) of `dst` black and draws
  // `frame` (one frame of this cache) into it, fitted and centred.
  bool DrawFrame(const Picture565& dst, int32_t x, int32_t y, int32_t boxWidth, int32_t boxHeight,
                 const uint8_t* frame, uint32_t bytes);

  const RawFrameHeader& header() const { return header_; }

 private:
  // Decodes one mask frame from the reader into `pixels`.
  bool ReadMaskFrame(uint8_t* pixels, uint32_t count);  // `count` pixels, 2 bytes each

  media::BufferedFileReader reader_;
  RawFrameHeader header_;
  bool open_ = false;
  uint32_t firstFrame_ = kRawHeaderBytes;
  uint32_t nextTime_ = 0;     // ms of the next frame
  bool blankGiven_ = false;   // a short plain frame was answered with black
};

}  // namespace engine
