#include "media/video_frame_feeder.h"

#include "codecs/videodec/h263/h263_decoder.h"
#include "codecs/videodec/mpeg4/mpeg4_decoder.h"

namespace media {

namespace {

// A picture of H.263 or MPEG-4: the coded size is all there is to show.
void HandOut(const videodec::DecodedPicture& pic, uint32_t timeMs, FedPicture* out) {
  out->picture = pic;
  out->visibleWidth = pic.width;
  out->visibleHeight = pic.height;
  out->sampleTimeMs = timeMs;
  out->fullRange = false;
}

}  // namespace

VideoFrameFeeder::~VideoFrameFeeder() {
  if (decoder_) decoder_->DestroyDecoder(decoder_);
}

void VideoFrameFeeder::DropSample() {
  sample_ = CodedSample{};
  offset_ = 0;
}

bool VideoFrameFeeder::ReadSample() {
  DropSample();
  return next_(&sample_);
}

bool H263FrameFeeder::Create(uint32_t postfilterLevel) {
  if (videodec::gCreateH263VideoDecoder(&decoder_, nullptr, 0, 0, 0, 0) != videodec::VDEC_OK) {
    decoder_ = nullptr;
    return false;
  }
  decoder_->SetDecoderParam(decoder_, videodec::VDEC_PARAM_DECODE_VARIANT, 1);
  decoder_->SetDecoderParam(decoder_, videodec::VDEC_PARAM_POSTFILTER_LEVEL, postfilterLevel);
  return true;
}

FeedStatus H263FrameFeeder::Next(FedPicture* out) {
  if (!decoder_) return FeedStatus::kEnd;
  for (;;) {
    if (!HoldsSample()) {
      if (!ReadSample()) return FeedStatus::kEnd;
      continue;
    }
    int32_t r = videodec::VDEC_OK;
    // A hostile sample cannot keep the loop going: each call consumes bytes
    // or ends the frame.
    while (HoldsSample()) {
      uint32_t length = sample_.bytes - offset_;
      r = decoder_->DecodeFrame(decoder_, sample_.data.get() + offset_, &length);
      offset_ += length;
      if (r == videodec::VDEC_INPUT_EXHAUSTED) {
        offset_ = sample_.bytes;
        break;
      }
      if (r == videodec::VDEC_PICTURE_OPEN || r == videodec::VDEC_NEXT_PICTURE) break;
      if (r != videodec::VDEC_OK || length == 0) {
        if (length == 0) offset_ = sample_.bytes;
        break;
      }
    }
    if (r != videodec::VDEC_OK && r != videodec::VDEC_PICTURE_OPEN && r != videodec::VDEC_NEXT_PICTURE) {
      last_result_ = r;
      return FeedStatus::kFailed;
    }
    videodec::DecodedPicture* pic = nullptr;
    r = decoder_->GetDecoderParam(decoder_, videodec::VDEC_PARAM_FINISH_PICTURE, &pic);
    if (r == videodec::VDEC_OK && pic) {
      HandOut(*pic, sample_.timeMs, out);
      return FeedStatus::kPicture;
    }
    last_result_ = r != videodec::VDEC_OK ? r : videodec::VDEC_ERR_STREAM;
    return FeedStatus::kFailed;
  }
}

int32_t Mpeg4FrameFeeder::Create(const uint8_t* config, uint32_t bytes, uint32_t postfilterLevel) {
  // The decoder may keep a pointer into its configuration only during the call.
  std::vector<uint8_t> copy(config, config + bytes);
  uint32_t length = bytes;
  const int32_t r = videodec::gCreateMPEG4VideoDecoder(&decoder_, copy.data(), &length, 0);
  if (r != videodec::VDEC_OK) {
    decoder_ = nullptr;
    return r;
  }
  decoder_->SetDecoderParam(decoder_, videodec::VDEC_PARAM_POSTFILTER_LEVEL, postfilterLevel);
  return r;
}

FeedStatus Mpeg4FrameFeeder::Next(FedPicture* out) {
  if (!decoder_) return FeedStatus::kEnd;
  // One sample per picture: what follows a picture's end in its sample is
  // not decoded. An empty sample holds no picture.
  do {
    if (!ReadSample()) return FeedStatus::kEnd;
  } while (sample_.bytes == 0);
  while (HoldsSample()) {
    uint32_t length = sample_.bytes - offset_;
    const int32_t r = decoder_->DecodeFrame(decoder_, sample_.data.get() + offset_, &length);
    offset_ += length;
    if (r == videodec::VDEC_ERR_STREAM) {
      last_result_ = r;
      DropSample();
      return FeedStatus::kFailed;
    }
    if (length == 0 && r != videodec::VDEC_PICTURE_OPEN) {
      decoder_->ResetDecoder(decoder_);
      last_result_ = r;
      DropSample();
      return FeedStatus::kFailed;
    }
    if (r != videodec::VDEC_OK && r != videodec::VDEC_PICTURE_OPEN && r != videodec::VDEC_NEXT_PICTURE) {
      last_result_ = r;
      DropSample();
      return FeedStatus::kFailed;
    }
    if (r == videodec::VDEC_PICTURE_OPEN || r == videodec::VDEC_NEXT_PICTURE) break;
  }
  const uint32_t time = sample_.timeMs;
  DropSample();
  videodec::DecodedPicture* pic = nullptr;
  const int32_t r = decoder_->GetDecoderParam(decoder_, videodec::VDEC_PARAM_FINISH_PICTURE, &pic);
  if (r == videodec::VDEC_OK && pic) {
    HandOut(*pic, time, out);
    int32_t full = 0;
    out->fullRange = decoder_->GetDecoderParam(decoder_, videodec::VDEC_PARAM_FULL_RANGE, &full) == videodec::VDEC_OK &&
                     full != 0;
    return FeedStatus::kPicture;
  }
  last_result_ = r != videodec::VDEC_OK ? r : videodec::VDEC_ERR_STREAM;
  return FeedStatus::kFailed;
}

int32_t H264FrameFeeder::Create(const uint8_t* config, uint32_t bytes, uint32_t nalLengthSize,
                                uint32_t psLengthSize, uint32_t framingMode) {
  uint32_t length = bytes;
  const int32_t r = videodec::gCreateH264VideoDecoder(&decoder_, config, &length, &info_, nalLengthSize,
                                                      psLengthSize, framingMode);
  if (r != videodec::VDEC_OK) decoder_ = nullptr;
  return r;
}

FeedStatus H264FrameFeeder::Next(FedPicture* out) {
  if (!decoder_) return FeedStatus::kEnd;
  for (;;) {
    if (!ReadSample()) return FeedStatus::kEnd;
    if (sample_.bytes == 0) continue;  // an empty sample holds no picture
    uint32_t n = sample_.bytes;
    const int32_t r = decoder_->DecodeFrameOut(decoder_, sample_.data.get(), &n, nullptr);
    const uint32_t time = sample_.timeMs;
    DropSample();
    if (r != videodec::VDEC_OK) {
      last_result_ = r;
      return FeedStatus::kFailed;
    }
    videodec::DecodedPicture* pic = nullptr;
    if (decoder_->GetDecoderParam(decoder_, videodec::VDEC_H264_PARAM_OUTPUT_PICTURE, &pic) != videodec::VDEC_OK ||
        !pic)
      continue;  // no picture finished yet: feed the next sample
    // The visible part starts at the crop origin; strides stay those of the
    // coded picture.
    const uint32_t left = uint32_t(info_.crop_left), top = uint32_t(info_.crop_top);
    out->picture = *pic;
    out->picture.y += top * pic->width + left;
    out->picture.u += (top / 2) * (pic->width / 2) + left / 2;
    out->picture.v += (top / 2) * (pic->width / 2) + left / 2;
    const uint32_t room_w = pic->width > left ? pic->width - left : 0;
    const uint32_t room_h = pic->height > top ? pic->height - top : 0;
    out->visibleWidth = info_.display_width > 0 && uint32_t(info_.display_width) < room_w
                            ? uint32_t(info_.display_width) : room_w;
    out->visibleHeight = info_.display_height > 0 && uint32_t(info_.display_height) < room_h
                             ? uint32_t(info_.display_height) : room_h;
    out->sampleTimeMs = time;
    int32_t full = 0;
    out->fullRange = decoder_->GetDecoderParam(decoder_, videodec::VDEC_H264_PARAM_FULL_RANGE, &full) ==
                         videodec::VDEC_OK && full != 0;
    return FeedStatus::kPicture;
  }
}

}  // namespace media
