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
  // The sound of the next media objects that give any; `timeMs` is its first
  // sample's time: the time of the first object decoded since the last
  // seek plus the samples delivered since (a decoder holds its first output
  // back, so an object's own time is not its sound's). Null at the end of
  // the clip (or of the end mark) and when nothing is requested.
  std::unique_ptr<uint8_t[]> ReadAudio(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs) override;
  // False for a file without an audio stream, an unknown codec, or types the
  // decoder object refuses.
  bool Open(const ov::String& path, uint32_t scale) override;

 private:
  // Reads and decodes the next media object; after the last one, the sound
  // the decoder still holds (once). `timeMs` is the time of the block's
  // first sample.
  bool DecodePacket(std::unique_ptr<uint8_t[]>* out, uint32_t* bytes, uint32_t* timeMs);
  // The time of a block of `bytes` that follows the sound delivered so far.
  void StampBlock(uint32_t bytes, uint32_t* timeMs);
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
  uint32_t seek_target_ms_ = 0;
  bool base_set_ = false;     // base_time_ms_ holds the first object's time since the seek
  uint32_t base_time_ms_ = 0;
  uint64_t samples_since_ = 0;  // sample frames decoded since the seek
  uint64_t block_start_ = 0;    // frame of the last block's first sample since then
  bool drained_ = false;
};

}  // namespace media
