#pragma once
// The feeding loops of the video-track sources: coded samples in, one decoded
// picture out per call, through the calling contract of each decoder
// (codecs/videodec/common/video_decoder.h). The sources of an MP4/3GP track
// (video_track_source.h) and `ovtool vdec` (tracks and elementary streams)
// share them; samples come from a callback, so the loop does not know where
// they are read.
//
// A decode failure is reported to the caller, which chooses: the sources end
// the clip, vdec reports it and goes on with the next sample.
//
// Thread: one thread at a time per feeder.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "codecs/videodec/common/video_decoder.h"
#include "codecs/videodec/h264/h264_decoder.h"

namespace media {

// One coded sample and the time it is shown (ms).
struct CodedSample {
  std::unique_ptr<uint8_t[]> data;
  uint32_t bytes = 0;
  uint32_t timeMs = 0;
};

// Fills *sample with the next sample; false at the end of the stream.
using SampleProvider = std::function<bool(CodedSample* sample)>;

// A picture handed out by a feeder. `picture` is the decoder's (valid until
// the next call); its planes start at the visible origin and its width and
// height are the strides of the coded picture. `visibleWidth` x
// `visibleHeight` pixels from that origin belong to the picture.
struct FedPicture {
  videodec::DecodedPicture picture{};
  uint32_t visibleWidth = 0;
  uint32_t visibleHeight = 0;
  uint32_t sampleTimeMs = 0;  // of the sample the picture was finished in
  // The stream says its samples use the full 0-255 range (MPEG-4 video_range,
  // H.264 video_full_range_flag); otherwise they are studio range (16-235).
  bool fullRange = false;
};

enum class FeedStatus {
  kPicture,  // a picture is in the FedPicture
  kEnd,      // the samples ran out
  kFailed,   // a decode failed (last_result() says how); what was held of the
             // frame is dropped, so another call goes on with the next sample
};

class VideoFrameFeeder {
 public:
  explicit VideoFrameFeeder(SampleProvider next) : next_(std::move(next)) {}
  virtual ~VideoFrameFeeder();
  VideoFrameFeeder(const VideoFrameFeeder&) = delete;
  VideoFrameFeeder& operator=(const VideoFrameFeeder&) = delete;

  // Decodes up to the next picture.
  virtual FeedStatus Next(FedPicture* out) = 0;
  // Forgets the sample held between calls (the caller is about to move its
  // provider, as a seek does). The decoder keeps its state.
  void DropSample();
  // The decoder result behind the last kFailed.
  int32_t last_result() const { return last_result_; }

 protected:
  // Reads the next sample into sample_ (offset 0); false at the end.
  bool ReadSample();
  bool HoldsSample() const { return offset_ < sample_.bytes; }

  SampleProvider next_;
  videodec::VideoDecoder* decoder_ = nullptr;  // owned; destroyed through its slot
  CodedSample sample_;
  uint32_t offset_ = 0;  // bytes of sample_ already given to the decoder
  int32_t last_result_ = videodec::VDEC_OK;
};

// H.263: DecodeFrame from the current offset of the current sample until the
// sample is used up or the decoder stops in front of the next picture
// (VDEC_PICTURE_OPEN, VDEC_NEXT_PICTURE); VDEC_INPUT_EXHAUSTED drops the rest
// of the sample; then VDEC_PARAM_FINISH_PICTURE gives the picture. The rest
// of a sample is kept for the next call.
class H263FrameFeeder final : public VideoFrameFeeder {
 public:
  using VideoFrameFeeder::VideoFrameFeeder;
  // Creates the decoder (no size: it comes from the first picture header).
  bool Create(uint32_t postfilterLevel);
  FeedStatus Next(FedPicture* out) override;
};

// MPEG-4 Part 2: the decoder is created from the configuration bytes (the
// VOL header); each sample is fed to DecodeFrame until used up or until the
// decoder stops in front of the next picture, and VDEC_PARAM_FINISH_PICTURE
// gives its picture.
class Mpeg4FrameFeeder final : public VideoFrameFeeder {
 public:
  using VideoFrameFeeder::VideoFrameFeeder;
  // The decoder's result (VDEC_OK on success).
  int32_t Create(const uint8_t* config, uint32_t bytes, uint32_t postfilterLevel);
  FeedStatus Next(FedPicture* out) override;
};

// H.264 in length-prefixed NAL units: the decoder is created from the
// parameter sets alone; every sample, the first one included, goes through
// DecodeFrameOut and the picture comes from VDEC_H264_PARAM_OUTPUT_PICTURE,
// cropped by the sequence's cropping words.
class H264FrameFeeder final : public VideoFrameFeeder {
 public:
  using VideoFrameFeeder::VideoFrameFeeder;
  // `config` holds parameter sets each behind a `psLengthSize`-byte length;
  // samples carry NAL units behind `nalLengthSize`-byte lengths. Mode 0
  // (Annex B) takes a buffer that starts with a sequence parameter set and
  // samples of whole access units. The decoder's result.
  int32_t Create(const uint8_t* config, uint32_t bytes, uint32_t nalLengthSize, uint32_t psLengthSize,
                 uint32_t framingMode);
  FeedStatus Next(FedPicture* out) override;
  const videodec::H264StreamInfo& info() const { return info_; }

 private:
  videodec::H264StreamInfo info_{};
};

}  // namespace media
