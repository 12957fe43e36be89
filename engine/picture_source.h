#pragma once
// PictureSource: the DecoderSource for still pictures (".gif", ".jpg",
// ".bmp", ".png"). The picture is decoded once at Open, from the media
// package when the name is found there, else from the file, into an RGB565
// frame; every ReadVideoFrame hands out a copy of that one frame.
//
// Thread rule: as every DecoderSource, its owner serialises the calls.

#include <cstdint>
#include <vector>

#include "media/decoder_source.h"

namespace engine {

class PictureSource : public media::DecoderSource {
 public:
  static constexpr uint32_t kNoBackground = 0xFFFFFFFFu;

  // Frames are made for a frameWidth x frameHeight mix. With a background
  // colour (0x00BBGGRR) the picture is fitted into the whole frame on that
  // colour, which is also its colour key; with kNoBackground it keeps its own
  // size, bounded by the frame size times the open scale.
  PictureSource(int32_t frameWidth, int32_t frameHeight, uint32_t backgroundColour);
  ~PictureSource() override;

  bool Seek(uint32_t) override { return false; }
  bool Rewind() override { return true; }
  // Zero until a picture is decoded. The frame duration is the end mark (the
  // display time) when set, else -1 (a still).
  bool GetFormat(media::MediaFormat* out) override;
  // A copy of the picture, rows of the width rounded up to even; time -1.
  bool ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs,
                      uint32_t single) override;
  bool IsBottomUp() override { return false; }
  bool CanSeek() override { return true; }
  bool Open(const ov::String& openPath, uint32_t scale) override;

 private:
  int32_t frameWidth_, frameHeight_;
  uint32_t background_;
  std::vector<uint16_t> pixels_;  // rowPixels_ x height_
  uint32_t width_ = 0, height_ = 0, rowPixels_ = 0;
};

}  // namespace engine
