#pragma once
// WmvDmoSource: the video stream of a ".wmv" file decoded by the platform's
// WMV decoder object into bottom-up RGB565 frames, one media object per
// frame.

#include <cstdint>
#include <memory>
#include <vector>

#include "media/asf_reader.h"
#include "media/decoder_source.h"
#include "platform/com/unknown.h"
#include "platform/dshow/media_object.h"

namespace media {

class WmvDmoSource : public DecoderSource {
 public:
  WmvDmoSource() = default;
  ~WmvDmoSource() override;

  // A non-zero target: the reader seeks to the key frame before the index
  // entry for it, and the next read decodes up to the entry's frame. 0: Rewind.
  bool Seek(uint32_t timeMs) override;
  // Opens the file again from the start.
  bool Rewind() override;
  bool GetFormat(MediaFormat* out) override;
  // The next frame (bottom-up RGB565, `bytes` = width x height x 2); with
  // `single` non-zero exactly one media object is decoded, else the frames
  // left to skip after a seek as well. False at the end of the clip or of
  // the end mark, and when a frame cannot be decoded.
  bool ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs, uint32_t single) override;
  // False for a file without a video stream, a codec other than WMV 1-3, or
  // types the decoder object refuses.
  bool Open(const ov::String& path, uint32_t scale) override;

 private:
  bool OpenReader();
  // Decodes the next media object into `frame`; false at the end or on a
  // failure.
  bool DecodePacket(std::vector<uint8_t>* frame, uint32_t* timeMs);

  std::unique_ptr<AsfReader> reader_;
  ov::String own_path_;
  uint8_t stream_ = 0;
  dshow::BitmapInfoHeader header_;
  std::vector<uint8_t> extra_;
  com::ComPtr<dshow::IMediaObject> decoder_;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t image_bytes_ = 0;
  uint32_t frames_to_skip_ = 0;
};

}  // namespace media
