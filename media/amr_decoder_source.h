#pragma once
// AmrDecoderSource: AMR-NB speech from ".amr" files (AmrReader) and from the
// AMR sound track of MP4/3GP files (Mp4Reader). Each sample is split into
// storage-format frames, each frame decoded to 160 samples; one 20 ms block
// (8000 Hz, 16-bit, mono, 320 bytes) per ReadAudio call.

#include <cstdint>
#include <memory>
#include <string>

#include "media/decoder_source.h"
#include "media/media_reader.h"
#include "platform/decoders/amrnb_decoder.h"

namespace media {

struct Mp4Track;

class AmrDecoderSource : public DecoderSource {
 public:
  // Takes ownership of `reader` (may be null: Open then fails).
  explicit AmrDecoderSource(std::unique_ptr<MediaReader> reader);
  ~AmrDecoderSource() override;

  bool Seek(uint32_t timeMs) override;
  bool Rewind() override { return Seek(0); }
  bool GetFormat(MediaFormat* out) override;
  // The requested size is not used: every call delivers one frame.
  std::unique_ptr<uint8_t[]> ReadAudio(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs) override;
  bool Open(const ov::String& path, uint32_t scale) override;

  // Seek(0); true.
  bool Restart();

 private:
  // Decodes the next frame; *skipped when all of it lies outside the
  // track's presentation (nothing returned, the clip goes on).
  std::unique_ptr<uint8_t[]> ReadFrame(uint32_t* bytes, uint32_t* timeMs, bool* skipped);
  // Applies the end mark to a block ready to go and hands it out.
  std::unique_ptr<uint8_t[]> Finish(std::unique_ptr<uint8_t[]> output, uint32_t out_bytes, uint32_t time,
                                    uint32_t* bytes, uint32_t* timeMs);
  // The MP4 track read, null for an AMR file.
  const Mp4Track* EditedTrack() const;

  std::unique_ptr<MediaReader> reader_;
  ov::String own_path_;
  ov::AmrNbDecoder decoder_;
  std::unique_ptr<TrackCursor> cursor_;
  uint32_t time_ms_ = 0;
  uint32_t seek_target_ms_ = 0;
  std::unique_ptr<uint8_t[]> sample_;
  uint32_t sample_bytes_ = 0;
  uint32_t sample_left_ = 0;
  // An MP4 track: the media time of the next frame, and the silence of an
  // empty edit still to deliver and how much of it lies before (samples).
  uint64_t frame_media_ = 0;
  uint64_t silence_left_ = 0;
  uint64_t silence_at_ = 0;
};

}  // namespace media
