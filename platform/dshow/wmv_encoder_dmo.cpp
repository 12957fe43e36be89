// The WMV encoder object (see outside_filters.h): bottom-up RGB555 frames to
// WMV2 frames through libavcodec, one frame per buffer.
#include <algorithm>
#include <cstring>

#include "platform/com/property_bag.h"
#include "platform/dshow/media_object.h"
#include "platform/dshow/outside_filters.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace dshow {
namespace {

using com::S_OK;

constexpr int64_t kUnitsPerSecond = 10000000;
constexpr int kMaxQuality = 100;
constexpr com::PropertyDef kWmvProperties[] = {{u"_VBRQUALITY", com::VT_INT, 0, kMaxQuality}};

// Quality 100 is the finest quantiser (1), quality 0 the coarsest (31).
int QuantiserForQuality(int64_t quality) { return 1 + static_cast<int>((kMaxQuality - quality) * 30 / kMaxQuality); }

// One RGB555 pixel's luma and chroma (BT.601, studio range).
inline void Rgb555(uint16_t p, int* r, int* g, int* b) {
  *r = ((p >> 10) & 31) * 255 / 31;
  *g = ((p >> 5) & 31) * 255 / 31;
  *b = (p & 31) * 255 / 31;
}
inline uint8_t Luma(int r, int g, int b) { return static_cast<uint8_t>((66 * r + 129 * g + 25 * b + 128) / 256 + 16); }

class WmvEncoderDmo final : public IMediaObjectImpl<WmvEncoderDmo>, public com::IPropertyBag {
 public:
  HRESULT QueryInterface(const GUID& iid, void** object) override {
    if (object && iid == com::IID_IPropertyBag) {
      *object = static_cast<com::IPropertyBag*>(this);
      AddRef();
      return S_OK;
    }
    return com::QuerySingleInterface<IMediaObject>(this, IID_IMediaObject, iid, object);
  }
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override {
    const uint32_t left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }
  HRESULT Read(const char16_t* name, com::VARIANT* value, com::IErrorLog*) override {
    const com::PropertyDef* def = nullptr;
    const HRESULT hr = com::PropertyTable(kWmvProperties).CheckRead(name, value, &def);
    if (hr == S_OK) com::PropertyTable::FillRead(*def, quality_, value);
    return hr;
  }
  HRESULT Write(const char16_t* name, com::VARIANT* value) override {
    const com::PropertyDef* def = nullptr;
    int64_t number = 0;
    const HRESULT hr = com::PropertyTable(kWmvProperties).CheckWrite(name, value, &def, &number);
    if (hr == S_OK) quality_ = number;
    return hr;
  }

  HRESULT InternalGetInputStreamInfo(uint32_t* flags) {
    *flags = DMO_INPUT_STREAMF_WHOLE_SAMPLES | DMO_INPUT_STREAMF_SINGLE_SAMPLE_PER_BUFFER;
    return S_OK;
  }
  HRESULT InternalGetOutputStreamInfo(uint32_t* flags) {
    *flags = DMO_OUTPUT_STREAMF_WHOLE_SAMPLES;
    return S_OK;
  }
  HRESULT InternalGetInputType(uint32_t, DMO_MEDIA_TYPE*) { return DMO_E_NO_MORE_ITEMS; }
  HRESULT InternalGetOutputType(uint32_t position, DMO_MEDIA_TYPE* type) {
    if (!InputType()) return DMO_E_TYPE_NOT_SET;
    if (position > 0) return DMO_E_NO_MORE_ITEMS;
    if (!type) return S_OK;
    if (!OpenCoder()) return com::E_FAIL;
    const uint32_t extra = static_cast<uint32_t>(coder_->extradata_size);
    if (com::Failed(MoInitMediaType(type, kVideoInfoHeaderSize + extra))) return com::E_OUTOFMEMORY;
    type->majortype = MEDIATYPE_Video;
    type->subtype = MEDIASUBTYPE_WMV2;
    type->formattype = FORMAT_VideoInfo;
    type->bFixedSizeSamples = false;
    type->bTemporalCompression = true;
    VideoInfoHeader v = input_;
    v.bmiHeader.biHeight = height_;
    v.bmiHeader.biBitCount = 24;
    v.bmiHeader.biCompression = kFourccWmv2;
    v.bmiHeader.biSizeImage = 0;
    v.bmiHeader.biSize = kBitmapInfoHeaderSize + extra;
    WriteVideoInfoHeader(v, type->pbFormat);
    if (extra > 0) std::memcpy(type->pbFormat + kVideoInfoHeaderSize, coder_->extradata, extra);
    return S_OK;
  }
  HRESULT InternalCheckInputType(const DMO_MEDIA_TYPE* type) {
    VideoInfoHeader v;
    if (!(type->majortype == MEDIATYPE_PrivateVideo) || !(type->subtype == MEDIASUBTYPE_RGB555) ||
        !VideoInfoOf(*type, &v) || v.bmiHeader.biBitCount != 16 || v.bmiHeader.biWidth <= 0 ||
        v.bmiHeader.biHeight <= 0 || v.bmiHeader.biWidth % 2 != 0 || v.bmiHeader.biHeight % 2 != 0 ||
        v.bmiHeader.biWidth > 4096 || v.bmiHeader.biHeight > 4096) {
      return DMO_E_TYPE_NOT_ACCEPTED;
    }
    // The check of a type to be set also takes its size for the coder.
    input_ = v;
    width_ = v.bmiHeader.biWidth;
    height_ = v.bmiHeader.biHeight;
    CloseCoder();
    return S_OK;
  }
  HRESULT InternalCheckOutputType(const DMO_MEDIA_TYPE* type) {
    VideoInfoHeader v;
    if (!InputType()) return DMO_E_TYPE_NOT_SET;
    return type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_WMV2 && VideoInfoOf(*type, &v) &&
                   v.bmiHeader.biWidth == width_
               ? S_OK
               : DMO_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT InternalGetInputSizeInfo(uint32_t* size, uint32_t* lookahead, uint32_t* alignment) {
    *size = static_cast<uint32_t>(width_ * height_ * 2);
    *lookahead = 0;
    *alignment = 1;
    return S_OK;
  }
  HRESULT InternalGetOutputSizeInfo(uint32_t* size, uint32_t* alignment) {
    *size = static_cast<uint32_t>(width_ * height_ * 3 + 4096);
    *alignment = 1;
    return S_OK;
  }
  HRESULT InternalFlush() {
    Drop();
    return S_OK;
  }
  HRESULT InternalDiscontinuity() { return S_OK; }
  HRESULT InternalAllocateStreamingResources() { return OpenCoder() ? S_OK : com::E_FAIL; }
  HRESULT InternalFreeStreamingResources() { return S_OK; }
  HRESULT InternalAcceptingInput() { return held_ ? com::S_FALSE : S_OK; }
  HRESULT InternalProcessInput(IMediaBuffer* buffer, uint32_t flags, REFERENCE_TIME time, REFERENCE_TIME) {
    uint32_t bytes = 0;
    buffer->GetBufferAndLength(nullptr, &bytes);
    if (bytes < static_cast<uint32_t>(width_ * height_ * 2)) return com::S_FALSE;
    held_ = buffer;
    held_->AddRef();
    time_ = (flags & DMO_INPUT_DATA_BUFFERF_TIME) ? time : frames_ * kUnitsPerSecond / 15;
    return S_OK;
  }
  HRESULT InternalProcessOutput(uint32_t, DMO_OUTPUT_DATA_BUFFER* out, uint32_t*) {
    if (!held_) return com::S_FALSE;
    if (!out->pBuffer) return com::E_POINTER;
    if (!OpenCoder()) return com::E_FAIL;
    uint8_t* src = nullptr;
    held_->GetBufferAndLength(&src, nullptr);
    ToYuv(src);
    Drop();
    frame_->pts = frames_++;
    frame_->quality = coder_->global_quality;
    if (avcodec_send_frame(coder_, frame_) < 0 || avcodec_receive_packet(coder_, packet_) < 0) return com::E_FAIL;
    uint8_t* dst = nullptr;
    uint32_t max = 0;
    out->pBuffer->GetBufferAndLength(&dst, nullptr);
    out->pBuffer->GetMaxLength(&max);
    const bool fits = packet_->size >= 0 && static_cast<uint32_t>(packet_->size) <= max;
    if (fits) {
      std::memcpy(dst, packet_->data, static_cast<size_t>(packet_->size));
      out->pBuffer->SetLength(static_cast<uint32_t>(packet_->size));
      out->dwStatus = DMO_OUTPUT_DATA_BUFFERF_TIME | ((packet_->flags & AV_PKT_FLAG_KEY) ? DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT : 0u);
      out->rtTimestamp = time_;
    }
    av_packet_unref(packet_);
    return fits ? S_OK : com::E_FAIL;
  }

 private:
  ~WmvEncoderDmo() {
    Drop();
    CloseCoder();
  }
  void Drop() {
    if (held_) held_->Release();
    held_ = nullptr;
  }
  bool OpenCoder() {
    if (coder_) return true;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
    if (!codec || width_ <= 0) return false;
    coder_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!coder_ || !frame_ || !packet_) return CloseCoder();
    coder_->width = width_;
    coder_->height = height_;
    coder_->pix_fmt = AV_PIX_FMT_YUV420P;
    const int64_t period = input_.AvgTimePerFrame > 0 ? input_.AvgTimePerFrame : kUnitsPerSecond / 15;
    coder_->time_base = AVRational{static_cast<int>(std::max<int64_t>(1, period / 10000)), 1000};
    coder_->gop_size = 15;
    coder_->thread_count = 1;
    coder_->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_GLOBAL_HEADER;
    coder_->global_quality = FF_QP2LAMBDA * QuantiserForQuality(quality_);
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = width_;
    frame_->height = height_;
    QuietCodecLog();
    if (avcodec_open2(coder_, codec, nullptr) < 0 || av_frame_get_buffer(frame_, 0) < 0) return CloseCoder();
    return true;
  }
  bool CloseCoder() {
    avcodec_free_context(&coder_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    return false;
  }
  // Bottom-up RGB555 rows to the frame's top-down planes.
  void ToYuv(const uint8_t* src) {
    if (av_frame_make_writable(frame_) < 0) return;
    const size_t row_bytes = static_cast<size_t>(width_) * 2;
    for (int y = 0; y < height_; y += 2) {
      const uint8_t* rows[2] = {src + static_cast<size_t>(height_ - 1 - y) * row_bytes,
                                src + static_cast<size_t>(height_ - 2 - y) * row_bytes};
      for (int x = 0; x < width_; x += 2) {
        int sr = 0, sg = 0, sb = 0;
        for (int dy = 0; dy < 2; ++dy) {
          for (int dx = 0; dx < 2; ++dx) {
            const uint8_t* p = rows[dy] + 2 * (x + dx);
            int r = 0, g = 0, b = 0;
            Rgb555(static_cast<uint16_t>(p[0] | p[1] << 8), &r, &g, &b);
            frame_->data[0][(y + dy) * frame_->linesize[0] + x + dx] = Luma(r, g, b);
            sr += r;
            sg += g;
            sb += b;
          }
        }
        sr /= 4;
        sg /= 4;
        sb /= 4;
        frame_->data[1][(y / 2) * frame_->linesize[1] + x / 2] =
            static_cast<uint8_t>((-38 * sr - 74 * sg + 112 * sb + 128) / 256 + 128);
        frame_->data[2][(y / 2) * frame_->linesize[2] + x / 2] =
            static_cast<uint8_t>((112 * sr - 94 * sg - 18 * sb + 128) / 256 + 128);
      }
    }
  }

  com::RefCount refs_;
  int64_t quality_ = kMaxQuality;
  VideoInfoHeader input_;
  int width_ = 0;
  int height_ = 0;
  IMediaBuffer* held_ = nullptr;
  REFERENCE_TIME time_ = 0;
  int64_t frames_ = 0;
  AVCodecContext* coder_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
};

}  // namespace

HRESULT CreateWmvEncoderDmo(const GUID& iid, void** object) { return com::CreateObjectAs<WmvEncoderDmo>(iid, object); }

}  // namespace dshow
