// The WMV decoder object: WMV 1, 2 and 3 frames to bottom-up RGB565
// (codec_dmo.h).
#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/decoders/codec_dmo.h"
#include "platform/decoders/decoder_object.h"
#include "platform/decoders/libav_decoder.h"
#include "platform/decoders/video_range_rgb565.h"
#include "platform/dshow/dshow_types.h"

namespace decoders {
namespace {

using com::HRESULT;
using com::S_OK;
using dshow::DMO_MEDIA_TYPE;
using dshow::REFERENCE_TIME;

constexpr struct {
  uint32_t fourcc;
  AVCodecID codec;
} kWmvCodecs[] = {
    {com::FourccCode("WMV1"), AV_CODEC_ID_WMV1},
    {com::FourccCode("WMV2"), AV_CODEC_ID_WMV2},
    {com::FourccCode("WMV3"), AV_CODEC_ID_WMV3},
};
// Pictures above this size are refused (the program shows small clips).
constexpr int32_t kMaxDimension = 4096;

AVCodecID CodecOfFourcc(uint32_t fourcc) {
  for (const auto& c : kWmvCodecs) {
    if (c.fourcc == fourcc) return c.codec;
  }
  return AV_CODEC_ID_NONE;
}

class WmvDecoderObject final : public DecoderObject<WmvDecoderObject> {
 public:
  HRESULT InternalGetInputStreamInfo(uint32_t* flags) {
    *flags = dshow::DMO_INPUT_STREAMF_WHOLE_SAMPLES | dshow::DMO_INPUT_STREAMF_SINGLE_SAMPLE_PER_BUFFER;
    return S_OK;
  }
  // The one output proposed: RGB565 of the input's size.
  HRESULT InternalGetOutputType(uint32_t position, DMO_MEDIA_TYPE* type) {
    dshow::VideoInfoHeader in;
    if (!InputType() || !dshow::VideoInfoOf(*InputType(), &in)) return dshow::DMO_E_TYPE_NOT_SET;
    if (position > 0) return dshow::DMO_E_NO_MORE_ITEMS;
    if (!type) return S_OK;
    const HRESULT hr = dshow::MoInitMediaType(type, dshow::kVideoInfoHeaderSize);
    if (com::Failed(hr)) return hr;
    const int32_t w = in.bmiHeader.biWidth, h = std::abs(in.bmiHeader.biHeight);
    dshow::VideoInfoHeader out;
    out.rcSource = out.rcTarget = dshow::Rect{0, 0, w, h};
    out.bmiHeader.biWidth = w;
    out.bmiHeader.biHeight = h;
    out.bmiHeader.biBitCount = 16;
    out.bmiHeader.biCompression = dshow::BI_BITFIELDS;
    out.bmiHeader.biSizeImage = uint32_t(w) * 2 * uint32_t(h);
    type->majortype = dshow::MEDIATYPE_Video;
    type->subtype = dshow::MEDIASUBTYPE_RGB565;
    type->bFixedSizeSamples = true;
    type->lSampleSize = out.bmiHeader.biSizeImage;
    type->formattype = dshow::FORMAT_VideoInfo;
    dshow::WriteVideoInfoHeader(out, type->pbFormat);
    return S_OK;
  }
  HRESULT InternalCheckInputType(const DMO_MEDIA_TYPE* type) {
    dshow::VideoInfoHeader v;
    if (type->majortype != dshow::MEDIATYPE_Video || !dshow::VideoInfoOf(*type, &v)) {
      return dshow::DMO_E_TYPE_NOT_ACCEPTED;
    }
    const AVCodecID codec = CodecOfFourcc(type->subtype.Data1);
    if (codec == AV_CODEC_ID_NONE || type->subtype != com::FourccGuid(type->subtype.Data1)) {
      return dshow::DMO_E_TYPE_NOT_ACCEPTED;
    }
    const int32_t w = v.bmiHeader.biWidth, h = v.bmiHeader.biHeight;
    if (w <= 0 || w > kMaxDimension || h == 0 || h < -kMaxDimension || h > kMaxDimension) {
      return dshow::DMO_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
  }
  HRESULT InternalCheckOutputType(const DMO_MEDIA_TYPE* type) {
    dshow::VideoInfoHeader in, out;
    if (!InputType() || !dshow::VideoInfoOf(*InputType(), &in)) return dshow::DMO_E_TYPE_NOT_SET;
    if (type->majortype != dshow::MEDIATYPE_Video || type->subtype != dshow::MEDIASUBTYPE_RGB565 ||
        !dshow::VideoInfoOf(*type, &out)) {
      return dshow::DMO_E_TYPE_NOT_ACCEPTED;
    }
    const bool same = out.bmiHeader.biWidth == in.bmiHeader.biWidth &&
                      std::abs(out.bmiHeader.biHeight) == std::abs(in.bmiHeader.biHeight) &&
                      out.bmiHeader.biBitCount == 16;
    return same ? S_OK : dshow::DMO_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT InternalGetInputSizeInfo(uint32_t* size, uint32_t* lookahead, uint32_t* alignment) {
    *size = 0;
    *lookahead = 0;
    *alignment = 1;
    return S_OK;
  }
  HRESULT InternalGetOutputSizeInfo(uint32_t* size, uint32_t* alignment) {
    *size = uint32_t(width_) * 2 * uint32_t(height_);
    *alignment = 1;
    return S_OK;
  }
  HRESULT InternalFlush() {
    decoder_.Flush();
    have_frame_ = false;
    return S_OK;
  }
  HRESULT InternalAllocateStreamingResources() {
    dshow::VideoInfoHeader in;
    dshow::VideoInfoOf(*InputType(), &in);
    width_ = in.bmiHeader.biWidth;
    height_ = std::abs(in.bmiHeader.biHeight);
    extra_bytes_ = InputType()->cbFormat - dshow::kVideoInfoHeaderSize;
    LibavDecoder::Setup setup;
    setup.codecId = CodecOfFourcc(InputType()->subtype.Data1);
    setup.width = width_;
    setup.height = height_;
    const uint8_t* extra = InputType()->pbFormat + dshow::kVideoInfoHeaderSize;
    setup.extraData.assign(extra, extra + extra_bytes_);
    frame_.assign(size_t(width_) * 2 * size_t(height_), 0);
    return decoder_.Open(setup) ? S_OK : com::E_FAIL;
  }
  HRESULT InternalFreeStreamingResources() {
    decoder_.Close();
    have_frame_ = false;
    return S_OK;
  }
  HRESULT InternalAcceptingInput() { return have_frame_ ? com::S_FALSE : S_OK; }
  // The buffer: BITMAPINFOHEADER (its image size is the frame's length), the
  // codec bytes of the input type, then the frame.
  HRESULT InternalProcessInput(dshow::IMediaBuffer* buffer, uint32_t, REFERENCE_TIME, REFERENCE_TIME) {
    uint8_t* data = nullptr;
    uint32_t bytes = 0;
    if (com::Failed(buffer->GetBufferAndLength(&data, &bytes))) return com::E_FAIL;
    dshow::BitmapInfoHeader header;
    const uint32_t skip = dshow::kBitmapInfoHeaderSize + extra_bytes_;
    if (!dshow::ReadBitmapInfoHeader(data, bytes, &header) || bytes <= skip) return com::E_INVALIDARG;
    const uint32_t length = std::min(header.biSizeImage == 0 ? bytes - skip : header.biSizeImage, bytes - skip);
    if (!decoder_.Send(data + skip, length)) return com::E_FAIL;
    if (const AVFrame* f = decoder_.Receive()) {
      if (f->format != AV_PIX_FMT_YUV420P) return com::E_FAIL;
      I420ToRgb565BottomUp(f->data[0], f->linesize[0], f->data[1], f->linesize[1], f->data[2], f->linesize[2],
                           std::min(f->width, width_), std::min(f->height, height_), frame_.data(), width_, height_);
      have_frame_ = true;
    }
    return S_OK;
  }
  HRESULT InternalProcessOutput(uint32_t, dshow::DMO_OUTPUT_DATA_BUFFER* out, uint32_t*) {
    if (!out->pBuffer) return com::E_POINTER;
    if (!have_frame_) return com::S_FALSE;
    uint8_t* dst = nullptr;
    uint32_t used = 0, max = 0;
    out->pBuffer->GetBufferAndLength(&dst, &used);
    out->pBuffer->GetMaxLength(&max);
    // A buffer too small for the picture gets nothing.
    if (max < frame_.size()) return com::E_INVALIDARG;
    std::memcpy(dst, frame_.data(), frame_.size());
    out->pBuffer->SetLength(uint32_t(frame_.size()));
    out->dwStatus |= dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT;
    have_frame_ = false;
    return S_OK;
  }

 private:
  friend class DecoderObject<WmvDecoderObject>;
  ~WmvDecoderObject() = default;

  LibavDecoder decoder_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  uint32_t extra_bytes_ = 0;
  std::vector<uint8_t> frame_;  // the last picture, RGB565 bottom-up
  bool have_frame_ = false;
};

}  // namespace

HRESULT CreateWmvDecoderObject(const GUID& iid, void** object) {
  return com::CreateObjectAs<WmvDecoderObject>(iid, object);
}

}  // namespace decoders
