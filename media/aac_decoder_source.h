#pragma once
// AacDecoderSource: AAC audio from raw ADTS files (AdtsReader) and from the
// AAC sound track of MP4/3GP files (Mp4Reader), decoded by the HE-AAC
// decoder (codecs/heaac). Each ReadAudio call decodes one raw data block:
// 1024 samples per channel, 16-bit, interleaved.

#include <cstdint>
#include <memory>

#include "codecs/heaac/heaac_decoder.h"
#include "media/decoder_source.h"
#include "media/media_reader.h"

namespace media {

class AacDecoderSource : public DecoderSource {
 public:
  // Takes ownership of `reader` (may be null: Open then fails).
  explicit AacDecoderSource(std::unique_ptr<MediaReader> reader);
  ~AacDecoderSource() override;

  // Mp4Reader: seeks the reader (ms). AdtsReader: resets the decoder and
  // seeks the reader to the sample that holds `timeMs`. Blocks before the
  // target are trimmed by ReadAudio.
  bool Seek(uint32_t timeMs) override;
  bool Rewind() override { return Seek(0); }
  bool GetFormat(MediaFormat* out) override;
  // The requested size is not used: every call decodes one raw data block.
  // Null at the end of the clip and when the decoder rejects a block.
  std::unique_ptr<uint8_t[]> ReadAudio(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs) override;
  // Creates the decoder, reads the stream information (the AudioSpecificConfig
  // of an MP4 track or the first ADTS frame) and configures the decoder.
  bool Open(const ov::String& path, uint32_t scale) override;

  const heaac::AacStreamInfo& stream_info() const { return info_; }

 private:
  // Decodes the next block; *skipped when all of it lies before the track's
  // lead-in (nothing returned, the clip goes on).
  std::unique_ptr<uint8_t[]> ReadBlock(uint32_t* bytes, uint32_t* timeMs, bool* skipped);
  // Applies the end mark to a block ready to go and hands it out.
  std::unique_ptr<uint8_t[]> Finish(std::unique_ptr<uint8_t[]> output, uint32_t outputBytes, uint32_t time,
                                    uint32_t* bytes, uint32_t* timeMs);

  std::unique_ptr<MediaReader> reader_;
  ov::String own_path_;
  heaac::HeAacDecoder* decoder_ = nullptr;
  std::unique_ptr<TrackCursor> cursor_;
  heaac::AacStreamInfo info_{};
  uint32_t time_ms_ = 0;
  uint32_t seek_target_ms_ = 0;
  // An ADTS sample that holds several raw data blocks is decoded over several
  // calls: what is left of it, the blocks still to come, and their time.
  std::unique_ptr<uint8_t[]> sample_;
  uint32_t sample_bytes_ = 0;
  uint32_t sample_used_ = 0;
  uint32_t blocks_left_ = 0;
  uint32_t sample_time_ = 0;  // reader units of the next block
  // An MP4 track: the media time its presentation starts from (the lead-in,
  // or a seek's target), and the silence of an empty edit still to deliver
  // before it and how much of it lies before (output samples).
  uint64_t present_from_ = 0;
  uint64_t silence_left_ = 0;
  uint64_t silence_at_ = 0;
};

}  // namespace media
