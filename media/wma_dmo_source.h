#pragma once
// WmaDmoSource: the sound of an ASF file (".wma", and the audio stream of a
// ".wmv") decoded by the platform's WMA decoder object. Each ReadAudio call
// decodes one media object of the first audio stream; PCM streams pass
// through without a decoder.

#include <cstdint>
#include <memory>

#include "media/asf_reader.h"
#include "media/decoder_source.h"
#include "platform/com/unknown.h"
#include "platform/dshow/media_object.h"

namespace media {

class WmaDmoSource : public DecoderSource {
 public:
  WmaDmoSource() = default;
  ~WmaDmoSource() override;

  // Seeks the reader to the index entry for `timeMs` (Rewind: 0); the block
  // that holds the target is then trimmed to start at it.
  bool Seek(uint32_t timeMs) override;
  bool Rewind() override { return Seek(0); }
  bool GetFormat(MediaFormat* out) override;
  // One decoded media object; `timeMs` is its first sample's time. Null at
  // the end of the clip (or of the end mark) and when nothing is requested.
  std::unique_ptr<uint8_t[]> ReadAudio(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs) override;
  // False for a file without an audio stream, an unknown codec, or types the
  // decoder object refuses.
  bool Open(const ov::String& path, uint32_t scale) override;

  // The size of the next output buffer (for tests).
  uint32_t nextOutputSize() const { return next_output_; }

 private:
  // Reads and decodes the next media object; after the last one, the sound
  // the decoder still holds (once).
  bool DecodePacket(std::unique_ptr<uint8_t[]>* out, uint32_t* bytes, uint32_t* timeMs);
  // Takes the decoder's output into a new block.
  bool TakeOutput(std::unique_ptr<uint8_t[]>* out, uint32_t* bytes);

  std::unique_ptr<AsfReader> reader_;
  uint8_t stream_ = 0;
  dshow::WaveFormatEx output_{};
  bool has_output_ = false;
  bool pass_through_ = false;
  com::ComPtr<dshow::IMediaObject> decoder_;
  uint32_t next_output_ = 524288;
  uint32_t largest_output_ = 131072;
  uint32_t time_ms_ = 0;
  uint32_t seek_target_ms_ = 0;
  uint32_t end_time_ms_ = 0;  // the time after the last block decoded
  bool drained_ = false;
};

}  // namespace media
