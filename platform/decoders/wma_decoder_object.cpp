// The WMA decoder object: WMA 1, 2, Pro and Lossless media objects to
// interleaved 16-bit PCM (codec_dmo.h).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/decoders/codec_dmo.h"
#include "platform/decoders/decoder_object.h"
#include "platform/decoders/libav_decoder.h"
#include "platform/dshow/dshow_types.h"

namespace decoders {
namespace {

using com::HRESULT;
using com::S_OK;
using dshow::DMO_MEDIA_TYPE;
using dshow::REFERENCE_TIME;

// Format tags 0x160-0x163 and their decoders.
constexpr struct {
  uint16_t tag;
  AVCodecID codec;
} kWmaCodecs[] = {
    {0x160, AV_CODEC_ID_WMAV1},
    {0x161, AV_CODEC_ID_WMAV2},
    {0x162, AV_CODEC_ID_WMAPRO},
    {0x163, AV_CODEC_ID_WMALOSSLESS},
};
// Decoded sound waiting for output buffers is capped: a caller that never
// takes it cannot make the object grow without end.
constexpr size_t kMaxPendingSamples = 4u << 20;
constexpr uint32_t kMaxChannels = 8;

AVCodecID CodecOfTag(uint16_t tag) {
  for (const auto& c : kWmaCodecs) {
    if (c.tag == tag) return c.codec;
  }
  return AV_CODEC_ID_NONE;
}

int16_t FloatToS16(float x) {
  const long v = std::lrintf(x * 32768.0f);
  return static_cast<int16_t>(std::clamp<long>(v, -32768, 32767));
}

// One sample of channel c at index i of a decoded frame as 16 bits.
int16_t SampleAt(const AVFrame* f, int c, int i, int channels) {
  switch (f->format) {
    case AV_SAMPLE_FMT_FLTP:
      return FloatToS16(reinterpret_cast<const float*>(f->extended_data[c])[i]);
    case AV_SAMPLE_FMT_FLT:
      return FloatToS16(reinterpret_cast<const float*>(f->extended_data[0])[i * channels + c]);
    case AV_SAMPLE_FMT_S16P:
      return reinterpret_cast<const int16_t*>(f->extended_data[c])[i];
    case AV_SAMPLE_FMT_S16:
      return reinterpret_cast<const int16_t*>(f->extended_data[0])[i * channels + c];
    case AV_SAMPLE_FMT_S32P:
      return static_cast<int16_t>(reinterpret_cast<const int32_t*>(f->extended_data[c])[i] >> 16);
    case AV_SAMPLE_FMT_S32:
      return static_cast<int16_t>(reinterpret_cast<const int32_t*>(f->extended_data[0])[i * channels + c] >> 16);
    default:
      return 0;
  }
}

class WmaDecoderObject final : public DecoderObject<WmaDecoderObject> {
 public:
  HRESULT InternalGetInputStreamInfo(uint32_t* flags) {
    *flags = 0;
    return S_OK;
  }
  // The one output proposed: 16-bit PCM of the input's channels and rate.
  HRESULT InternalGetOutputType(uint32_t position, DMO_MEDIA_TYPE* type) {
    dshow::WaveFormatEx in;
    if (!InputType() || !dshow::WaveFormatOf(*InputType(), &in)) return dshow::DMO_E_TYPE_NOT_SET;
    if (position > 0) return dshow::DMO_E_NO_MORE_ITEMS;
    if (!type) return S_OK;
    const HRESULT hr = dshow::MoInitMediaType(type, dshow::kWaveFormatExSize);
    if (com::Failed(hr)) return hr;
    dshow::WaveFormatEx out = PcmOf(in);
    type->majortype = dshow::MEDIATYPE_Audio;
    type->subtype = dshow::MEDIASUBTYPE_PCM;
    type->bFixedSizeSamples = true;
    type->lSampleSize = out.nBlockAlign;
    type->formattype = dshow::FORMAT_WaveFormatEx;
    dshow::WriteWaveFormatEx(out, type->pbFormat);
    return S_OK;
  }
  HRESULT InternalCheckInputType(const DMO_MEDIA_TYPE* type) {
    dshow::WaveFormatEx w;
    if (type->majortype != dshow::MEDIATYPE_Audio || !dshow::WaveFormatOf(*type, &w)) {
      return dshow::DMO_E_TYPE_NOT_ACCEPTED;
    }
    if (type->subtype != com::FourccGuid(w.wFormatTag) || CodecOfTag(w.wFormatTag) == AV_CODEC_ID_NONE) {
      return dshow::DMO_E_TYPE_NOT_ACCEPTED;
    }
    // The codec bytes must be in the format block.
    if (w.nChannels == 0 || w.nChannels > kMaxChannels || w.nSamplesPerSec == 0 ||
        type->cbFormat < dshow::kWaveFormatExSize + uint32_t(w.cbSize)) {
      return dshow::DMO_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
  }
  HRESULT InternalCheckOutputType(const DMO_MEDIA_TYPE* type) {
    dshow::WaveFormatEx in, out;
    if (!InputType() || !dshow::WaveFormatOf(*InputType(), &in)) return dshow::DMO_E_TYPE_NOT_SET;
    if (type->majortype != dshow::MEDIATYPE_Audio || type->subtype != dshow::MEDIASUBTYPE_PCM ||
        !dshow::WaveFormatOf(*type, &out)) {
      return dshow::DMO_E_TYPE_NOT_ACCEPTED;
    }
    const dshow::WaveFormatEx want = PcmOf(in);
    const bool same = out.wFormatTag == want.wFormatTag && out.nChannels == want.nChannels &&
                      out.nSamplesPerSec == want.nSamplesPerSec && out.wBitsPerSample == 16;
    return same ? S_OK : dshow::DMO_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT InternalGetInputSizeInfo(uint32_t* size, uint32_t* lookahead, uint32_t* alignment) {
    dshow::WaveFormatEx in;
    dshow::WaveFormatOf(*InputType(), &in);
    *size = in.nBlockAlign;
    *lookahead = 0;
    *alignment = 1;
    return S_OK;
  }
  HRESULT InternalGetOutputSizeInfo(uint32_t* size, uint32_t* alignment) {
    dshow::WaveFormatEx in;
    dshow::WaveFormatOf(*InputType(), &in);
    // Frames of WMA hold at most 8192 samples per channel.
    *size = 8192u * in.nChannels * 2;
    *alignment = 2u * in.nChannels;
    return S_OK;
  }
  HRESULT InternalFlush() {
    decoder_.Flush();
    pending_.clear();
    taken_ = 0;
    return S_OK;
  }
  // The end of the input: the sound the decoder holds back (the second half
  // of the last transform) comes out at the next ProcessOutput.
  HRESULT InternalDiscontinuity() {
    decoder_.Drain();
    while (const AVFrame* f = decoder_.Receive()) Append(f);
    decoder_.Flush();
    return S_OK;
  }
  HRESULT InternalAllocateStreamingResources() {
    dshow::WaveFormatEx in;
    dshow::WaveFormatOf(*InputType(), &in);
    LibavDecoder::Setup setup;
    setup.codecId = CodecOfTag(in.wFormatTag);
    setup.sampleRate = int(in.nSamplesPerSec);
    setup.channels = in.nChannels;
    setup.blockAlign = in.nBlockAlign;
    setup.bitRate = int64_t(in.nAvgBytesPerSec) * 8;
    const uint8_t* extra = InputType()->pbFormat + dshow::kWaveFormatExSize;
    setup.extraData.assign(extra, extra + in.cbSize);
    channels_ = in.nChannels;
    block_align_ = in.nBlockAlign;
    return decoder_.Open(setup) ? S_OK : com::E_FAIL;
  }
  HRESULT InternalFreeStreamingResources() {
    decoder_.Close();
    pending_.clear();
    taken_ = 0;
    return S_OK;
  }
  HRESULT InternalAcceptingInput() { return pending_.size() - taken_ < kMaxPendingSamples ? S_OK : com::S_FALSE; }
  // Decodes the buffer a block (the format's block align) at a time; a
  // block the decoder refuses gives no sound.
  HRESULT InternalProcessInput(dshow::IMediaBuffer* buffer, uint32_t, REFERENCE_TIME, REFERENCE_TIME) {
    uint8_t* data = nullptr;
    uint32_t bytes = 0;
    if (com::Failed(buffer->GetBufferAndLength(&data, &bytes)) || bytes == 0) return com::S_FALSE;
    if (taken_ > 0) {
      pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(taken_));
      taken_ = 0;
    }
    const uint32_t step = block_align_ > 0 ? block_align_ : bytes;
    for (uint32_t at = 0; at < bytes; at += step) {
      if (!decoder_.Send(data + at, std::min(step, bytes - at))) continue;
      while (const AVFrame* f = decoder_.Receive()) Append(f);
    }
    return S_OK;
  }
  HRESULT InternalProcessOutput(uint32_t, dshow::DMO_OUTPUT_DATA_BUFFER* out, uint32_t*) {
    if (!out->pBuffer) return com::E_POINTER;
    if (taken_ >= pending_.size()) return com::S_FALSE;
    uint8_t* dst = nullptr;
    uint32_t used = 0, max = 0;
    out->pBuffer->GetBufferAndLength(&dst, &used);
    out->pBuffer->GetMaxLength(&max);
    // Whole sample frames only, never past the buffer.
    const size_t frameBytes = 2u * channels_;
    const size_t room = max > used ? (max - used) / frameBytes * frameBytes : 0;
    const size_t n = std::min(room / 2, pending_.size() - taken_);
    for (size_t i = 0; i < n; ++i) {
      const uint16_t v = static_cast<uint16_t>(pending_[taken_ + i]);
      dst[used + 2 * i] = static_cast<uint8_t>(v);
      dst[used + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    taken_ += n;
    out->pBuffer->SetLength(used + uint32_t(2 * n));
    if (taken_ < pending_.size()) out->dwStatus |= dshow::DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
    return S_OK;
  }

 private:
  friend class DecoderObject<WmaDecoderObject>;
  ~WmaDecoderObject() = default;

  static dshow::WaveFormatEx PcmOf(const dshow::WaveFormatEx& in) {
    dshow::WaveFormatEx out;
    out.wFormatTag = dshow::WAVE_FORMAT_PCM;
    out.nChannels = in.nChannels;
    out.nSamplesPerSec = in.nSamplesPerSec;
    out.wBitsPerSample = 16;
    out.nBlockAlign = static_cast<uint16_t>(2 * in.nChannels);
    out.nAvgBytesPerSec = out.nBlockAlign * in.nSamplesPerSec;
    return out;
  }

  void Append(const AVFrame* f) {
    const int channels = std::min<int>(f->ch_layout.nb_channels, int(channels_));
    for (int i = 0; i < f->nb_samples; ++i) {
      for (int c = 0; c < int(channels_); ++c) {
        pending_.push_back(c < channels ? SampleAt(f, c, i, f->ch_layout.nb_channels) : 0);
      }
    }
  }

  LibavDecoder decoder_;
  uint32_t channels_ = 0;
  uint32_t block_align_ = 0;
  std::vector<int16_t> pending_;  // interleaved samples decoded and not yet handed out
  size_t taken_ = 0;
};

}  // namespace

HRESULT CreateWmaDecoderObject(const GUID& iid, void** object) {
  return com::CreateObjectAs<WmaDecoderObject>(iid, object);
}

}  // namespace decoders
