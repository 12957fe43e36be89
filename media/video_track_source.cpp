#include "media/video_track_source.h"

#include <algorithm>

#include "codecs/videodec/common/yuv420_to_rgb565.h"
#include "codecs/videodec/mpeg4/mpeg4_decoder.h"
#include "media/byte_view.h"

namespace media {

VideoTrackSource::VideoTrackSource(std::unique_ptr<Mp4Reader> reader) : reader_(std::move(reader)) {}

// The feeder (and its decoder) goes before the reader its provider reads.
VideoTrackSource::~VideoTrackSource() { feeder_.reset(); }

SampleProvider VideoTrackSource::Provider() {
  return [this](CodedSample* sample) {
    if (!cursor_) return false;
    if (!reader_->ReadSample(cursor_.get(), &sample->data, &sample->bytes, &sample->timeMs)) return false;
    if (!sample->data) sample->bytes = 0;
    return true;
  };
}

bool VideoTrackSource::Open(const ov::String& file, uint32_t) {
  own_path_ = file;
  if (!reader_ || !OpenTrack() || !feeder_ || track_ < 0) return false;
  cursor_ = reader_->OpenTrack(track_);
  time_ms_ = 0;
  seek_target_ms_ = kNoTarget;
  return cursor_ != nullptr;
}

bool VideoTrackSource::Seek(uint32_t timeMs) {
  if (!reader_ || !cursor_ || !feeder_) return false;
  seek_target_ms_ = timeMs;
  time_ms_ = timeMs;
  feeder_->DropSample();
  return reader_->Seek(cursor_.get(), 0);
}

uint32_t VideoTrackSource::StartMs() const {
  const Mp4Track* t = reader_ ? reader_->track(track_) : nullptr;
  return t && t->timescale != 0 ? Mp4Reader::PresentationMs(*t, t->lead_in) : 0;
}

FeedStatus VideoTrackSource::NextPicture(FedPicture* out, int32_t* result) {
  if (!cursor_ || !feeder_) return FeedStatus::kEnd;
  const FeedStatus status = feeder_->Next(out);
  if (result) *result = feeder_->last_result();
  return status;
}

bool VideoTrackSource::GetFormat(MediaFormat* out) {
  if (!out) return false;
  out->sampleRate = 0;
  out->bitsPerSample = 0;
  out->channels = 0;
  out->frameDurationMs = 0;
  out->height = height_;
  out->width = width_;
  return true;
}

bool VideoTrackSource::ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs,
                                      uint32_t) {
  if (!cursor_ || !feeder_ || !buffer) return false;
  if (endMark != 0 && time_ms_ > endMark) return false;
  buffer->reset();
  if (bytes) *bytes = 0;
  for (;;) {
    FedPicture fed;
    if (feeder_->Next(&fed) != FeedStatus::kPicture) return false;
    if (seek_target_ms_ != kNoTarget && fed.sampleTimeMs < seek_target_ms_) continue;  // before the target
    const bool first_after_seek = seek_target_ms_ != kNoTarget;
    seek_target_ms_ = kNoTarget;
    // The conversion writes only the picture's own pixels: a picture smaller
    // than the frame would hand out what the heap held before.
    if (fed.visibleWidth < width_ || fed.visibleHeight < height_ || width_ == 0 || height_ == 0) return false;
    // Each frame at its own sample time; the first one after a seek at the
    // target, so that it shows from there, but not before the track's start
    // (a picture track delayed by an empty edit shows its first frame then).
    const uint32_t time = first_after_seek ? std::max(time_ms_, StartMs()) : std::max(fed.sampleTimeMs, time_ms_);
    if (endMark != 0 && time > endMark) return false;
    if (timeMs) *timeMs = time;
    time_ms_ = time;
    const size_t pixels = size_t((width_ + 1) & ~1u) * height_;
    std::unique_ptr<uint8_t[]> frame(new (std::nothrow) uint8_t[pixels * 2]);
    if (!frame) return false;
    const videodec::YuvFrame yuv = videodec::AsYuvFrame(fed.picture);
    // Studio range unless the stream says full range (H.263 never does).
    (fed.fullRange ? videodec::ConvertYUV420toRGB565TopDown : videodec::ConvertStudioYUV420toRGB565TopDown)(
        &yuv, reinterpret_cast<uint16_t*>(frame.get()), uint16_t(width_), uint16_t(height_), 0);
    *buffer = std::move(frame);
    if (bytes) *bytes = uint32_t(pixels * 2);
    return true;
  }
}

bool H263DecoderSource::OpenTrack() {
  if (!reader_->GetVideoSize(&width_, &height_, &track_) || track_ < 0) return false;
  auto feeder = std::make_unique<H263FrameFeeder>(Provider());
  if (!feeder->Create(postfilter_level_)) return false;
  feeder_ = std::move(feeder);
  return true;
}

bool H264DecoderSource::OpenTrack() {
  int entry_track = -1;
  if (!reader_->GetVideoSize(&width_, &height_, &entry_track)) return false;
  track_ = reader_->avc_track();
  const Mp4Track* t = reader_->track(track_);
  uint32_t nal_length_size = 0;
  if (t)
    for (const Mp4SampleEntry& e : t->entries)
      if (e.has_avc_config && !e.sps.empty() && !e.pps.empty()) {
        nal_length_size = e.nal_length_size;
        break;
      }
  // The first SPS and PPS, each behind a 4-byte length.
  uint32_t config_bytes = 0;
  const std::unique_ptr<uint8_t[]> config = reader_->GetAvcConfig(&config_bytes);
  if (!config || nal_length_size == 0) return false;
  auto feeder = std::make_unique<H264FrameFeeder>(Provider());
  if (feeder->Create(config.get(), config_bytes, nal_length_size, 4, videodec::H264_FRAMING_LENGTH_PREFIXED) !=
      videodec::VDEC_OK)
    return false;
  feeder_ = std::move(feeder);
  return true;
}

bool Mpeg4DecoderSource::OpenTrack() {
  const Mp4SampleEntry* entry = nullptr;
  track_ = reader_->FindConfiguredTrack(FourCC("vide"), FourCC("mp4v"), &entry);
  if (track_ < 0 || !entry) return false;
  const std::vector<uint8_t>& config = entry->decoder_config;
  uint16_t w = 0, h = 0;
  if (!videodec::Mpeg4ParseLayerSize(config.data(), uint32_t(config.size()), &w, &h)) return false;
  width_ = w;
  height_ = h;
  auto feeder = std::make_unique<Mpeg4FrameFeeder>(Provider());
  if (feeder->Create(config.data(), uint32_t(config.size()), postfilter_level_) != videodec::VDEC_OK) return false;
  feeder_ = std::move(feeder);
  return true;
}

std::unique_ptr<VideoTrackSource> MakeVideoTrackSource(std::unique_ptr<Mp4Reader> reader) {
  if (!reader) return nullptr;
  if (reader->h263()) return std::make_unique<H263DecoderSource>(std::move(reader));
  if (reader->avc()) return std::make_unique<H264DecoderSource>(std::move(reader));
  if (reader->HasDecoderConfig(true)) return std::make_unique<Mpeg4DecoderSource>(std::move(reader));
  return nullptr;
}

}  // namespace media
