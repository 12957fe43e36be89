// The ASF writer (see outside_filters.h): 16-bit PCM on its first pin coded
// as WMA (wmav2), the WMV encoder object's frames on its last.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/com/class_table.h"
#include "platform/dshow/lavf_sink.h"
#include "platform/dshow/outside_filters.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace dshow {
namespace {

using com::S_OK;

constexpr int kAudioPin = 0;
constexpr int kVideoPin = 1;

class AsfWriterFilter final : public LavfSinkFilter {
 public:
  AsfWriterFilter() : LavfSinkFilter(CLSID_AsfWriter, {u"Mux Audio Input Pin", u"Mux Video Input Pin"}) {}

 protected:
  HRESULT CheckPinType(int pin, const AM_MEDIA_TYPE& type) override {
    if (pin == kAudioPin) {
      WaveFormatEx w;
      return type.majortype == MEDIATYPE_Audio && type.subtype == MEDIASUBTYPE_PCM && WaveFormatOf(type, &w) &&
                     w.wBitsPerSample == 16 && (w.nChannels == 1 || w.nChannels == 2) && w.nSamplesPerSec >= 8000 &&
                     w.nSamplesPerSec <= 48000
                 ? S_OK
                 : com::S_FALSE;
    }
    VideoInfoHeader v;
    return type.majortype == MEDIATYPE_Video && type.subtype == MEDIASUBTYPE_WMV2 && VideoInfoOf(type, &v)
               ? S_OK
               : com::S_FALSE;
  }

  const char* FormatName() override { return "asf"; }

  bool AddStream(int pin, AVFormatContext* context) override {
    AVStream* stream = avformat_new_stream(context, nullptr);
    if (!stream) return false;
    if (pin == kVideoPin) {
      next_frame_ = 0;
      return SetVideoStream(pin, stream, AV_CODEC_ID_WMV2, &frame_period_);
    }
    WaveFormatEx w;
    if (!WaveFormatOf(PinType(pin), &w)) return false;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec) return false;
    coder_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!coder_ || !frame_ || !packet_) return false;
    coder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    coder_->sample_rate = static_cast<int>(w.nSamplesPerSec);
    av_channel_layout_default(&coder_->ch_layout, w.nChannels);
    coder_->bit_rate = w.nChannels == 2 ? 128000 : 64000;
    coder_->time_base = AVRational{1, coder_->sample_rate};
    coder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(coder_, codec, nullptr) < 0) return false;
    if (avcodec_parameters_from_context(stream->codecpar, coder_) < 0) return false;
    stream->time_base = coder_->time_base;
    channels_ = w.nChannels;
    // One frame of silence ahead of the sound. The encoder's first packet is
    // its priming (stamped a frame before the sound) and a decoder gives no
    // sound for the first two packets it reads: without the lead the file
    // would lose the sound's first frame, and its negative time would make
    // the container shift every stream (the picture) by a frame while the
    // decoded sound begins at the stream's start.
    lead_ = FrameSamples();
    pending_.assign(static_cast<size_t>(lead_) * static_cast<size_t>(channels_), 0);
    next_sample_ = 0;
    return true;
  }

  bool WriteSample(int pin, IMediaSample* sample) override {
    if (pin == kVideoPin) return WriteVideoSample(pin, sample, frame_period_, &next_frame_);
    uint8_t* data = nullptr;
    if (com::Failed(sample->GetPointer(&data)) || !data) return false;
    const int32_t length = std::max(0, sample->GetActualDataLength());
    const size_t samples = static_cast<size_t>(length) / 2;
    const size_t old = pending_.size();
    pending_.resize(old + samples);
    std::memcpy(pending_.data() + old, data, samples * 2);
    return EncodeWhole(false);
  }

  bool FlushPin(int pin) override {
    if (pin != kAudioPin || !coder_) return true;
    if (!EncodeWhole(true)) return false;
    return avcodec_send_frame(coder_, nullptr) >= 0 && Drain();
  }

  void CloseStreams() override {
    avcodec_free_context(&coder_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    pending_.clear();
  }

 private:
  // Codes every whole frame of the pending sound (and, at the end, the rest
  // padded with silence).
  int64_t FrameSamples() const { return coder_->frame_size > 0 ? coder_->frame_size : 2048; }

  bool EncodeWhole(bool last) {
    const size_t frame_samples = static_cast<size_t>(FrameSamples());
    const size_t frame_values = frame_samples * static_cast<size_t>(channels_);
    size_t used = 0;
    while (pending_.size() - used >= frame_values || (last && pending_.size() > used)) {
      frame_->nb_samples = static_cast<int>(frame_samples);
      frame_->format = coder_->sample_fmt;
      av_channel_layout_copy(&frame_->ch_layout, &coder_->ch_layout);
      if (av_frame_get_buffer(frame_, 0) < 0) return false;
      const size_t have = std::min(frame_values, pending_.size() - used) / static_cast<size_t>(channels_);
      for (int c = 0; c < channels_; ++c) {
        auto* plane = reinterpret_cast<float*>(frame_->data[c]);
        for (size_t i = 0; i < frame_samples; ++i) {
          plane[i] = i < have ? pending_[used + i * static_cast<size_t>(channels_) + static_cast<size_t>(c)] / 32768.0f
                              : 0.0f;
        }
      }
      used += have * static_cast<size_t>(channels_);
      frame_->pts = next_sample_;
      next_sample_ += static_cast<int64_t>(frame_samples);
      const bool sent = avcodec_send_frame(coder_, frame_) >= 0;
      av_frame_unref(frame_);
      if (!sent || !Drain()) return false;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
    return true;
  }

  bool Drain() {
    for (;;) {
      const int r = avcodec_receive_packet(coder_, packet_);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return false;
      // The mix's time: the lead taken off. The two packets before the
      // sound's first (the priming and the lead, which decode to nothing)
      // are stamped 0 with it, so that the sound decoded from the stream's
      // start is the mix's first sample and no stream is shifted.
      const int64_t pts = std::max<int64_t>(packet_->pts - lead_, 0);
      const bool ok =
          WritePacket(StreamOf(kAudioPin), packet_->data, packet_->size, pts, packet_->duration, coder_->sample_rate, 1, true);
      av_packet_unref(packet_);
      if (!ok) return false;
    }
  }

  REFERENCE_TIME frame_period_ = 0;
  int64_t next_frame_ = 0;
  AVCodecContext* coder_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  int channels_ = 0;
  std::vector<int16_t> pending_;
  int64_t next_sample_ = 0;
  int64_t lead_ = 0;  // samples of silence coded ahead of the sound
};

}  // namespace

HRESULT CreateAsfWriterFilter(const GUID& iid, void** object) {
  return com::CreateObjectAs<AsfWriterFilter>(iid, object);
}

}  // namespace dshow
