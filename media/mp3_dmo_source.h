#pragma once
// Mp3DmoSource: MPEG audio files (".mp3") through the platform's MP3 decoder
// object (platform/decoders/mp3_decoder_object.h), made by
// com::CoCreateInstance; frames are found by the source's own Mp3Parser and
// fed one per ProcessInput, one output buffer taken per ProcessOutput.
//
// The first frame of the file is fed and its samples thrown away (at the
// start and after Rewind): it is the Xing/Info frame where the encoder wrote
// one. Clip time 0 is the start of the second frame.
//
// Times: a block's time is that of its first sample, from the samples
// delivered before it (64-bit, exact at any length); after a seek, from the
// frame boundary the seek reached.
//
// Thread: COM is initialised for the thread that opens the source; its owner
// serialises the calls.

#include <cstdint>
#include <memory>

#include "media/decoder_source.h"
#include "media/mp3_parser.h"
#include "platform/dshow/media_object.h"

namespace media {

class Mp3DmoSource final : public DecoderSource {
 public:
  Mp3DmoSource() = default;
  ~Mp3DmoSource() override;

  // Moves to the first frame boundary at or after `timeMs`; false when the
  // clip ends first.
  bool Seek(uint32_t timeMs) override;
  bool Rewind() override;
  // Rate and channels of the first frame, 16 bits.
  bool GetFormat(MediaFormat* out) override;
  // Decodes frames until at least `requestedBytes` are collected; the last
  // block is cut at the end mark. Null at the end and when the decoder
  // object fails.
  std::unique_ptr<uint8_t[]> ReadAudio(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs) override;
  // Parses the file, creates the decoder object and sets its types from the
  // first frame; false when the file holds no frame, the object cannot be
  // made or it refuses a type.
  bool Open(const ov::String& path, uint32_t scale) override;

 private:
  // Feeds the next frame and appends its samples to `out`; false at the end
  // of the file or when the object fails.
  bool DecodeFrame(std::vector<uint8_t>* out);
  // Keeps the input type's average rate at the frame's bit rate.
  void FollowBitRate(uint32_t bitRate);

  std::unique_ptr<Mp3Parser> parser_;
  dshow::IMediaObject* decoder_ = nullptr;  // one reference, released in the destructor
  bool com_initialised_ = false;
  uint32_t channels_ = 0;
  uint32_t rate_ = 0;
  uint32_t bit_rate_ = 0;        // of the input type
  uint32_t frame_bytes_ = 0;     // PCM bytes of a 1152-sample frame
  uint64_t first_frame_ticks_ = 0;  // Mp3Parser clock of the dropped first frame
  bool drop_next_ = true;        // the next frame is the first of the file
  uint64_t clock_ = 0;           // Mp3Parser clock units at the next sample
};

}  // namespace media
