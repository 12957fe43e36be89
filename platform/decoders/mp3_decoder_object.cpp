#include "platform/decoders/mp3_decoder_object.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/com/class_table.h"
#include "platform/com/unknown.h"
#include "platform/decoders/decoder_object.h"
#include "platform/dshow/media_object.h"
#include "platform/dshow/media_type.h"

namespace decoders {

namespace {

using com::GUID;
using com::HRESULT;
using com::S_OK;
using dshow::DMO_MEDIA_TYPE;

constexpr GUID kSubtypeMp3 = com::FourccGuid(WAVE_FORMAT_MPEGLAYER3);

// The wave format of an MP3 input type; false when the type is not one.
bool Mp3InputFormat(const DMO_MEDIA_TYPE& type, dshow::WaveFormatEx* w) {
  return type.majortype == dshow::MEDIATYPE_Audio && type.subtype == kSubtypeMp3 && dshow::WaveFormatOf(type, w) &&
         w->wFormatTag == WAVE_FORMAT_MPEGLAYER3 && (w->nChannels == 1 || w->nChannels == 2) &&
         w->nSamplesPerSec > 0;
}

// 16-bit PCM at the input's channels and rate.
dshow::WaveFormatEx PcmFormatFor(const dshow::WaveFormatEx& in) {
  dshow::WaveFormatEx pcm;
  pcm.wFormatTag = dshow::WAVE_FORMAT_PCM;
  pcm.nChannels = in.nChannels;
  pcm.nSamplesPerSec = in.nSamplesPerSec;
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = uint16_t(in.nChannels * 2);
  pcm.nAvgBytesPerSec = pcm.nBlockAlign * in.nSamplesPerSec;
  pcm.cbSize = 0;
  return pcm;
}

class Mp3DecoderObject final : public DecoderObject<Mp3DecoderObject> {
 public:
  Mp3DecoderObject() { com::ModuleAddRef(); }

  HRESULT InternalGetInputStreamInfo(uint32_t* flags) {
    *flags = 0;
    return S_OK;
  }
  HRESULT InternalGetOutputType(uint32_t position, DMO_MEDIA_TYPE* type) {
    dshow::WaveFormatEx in;
    if (!InputType() || !Mp3InputFormat(*InputType(), &in)) return dshow::DMO_E_TYPE_NOT_SET;
    if (position > 0) return dshow::DMO_E_NO_MORE_ITEMS;
    if (!type) return S_OK;
    const HRESULT hr = dshow::MoInitMediaType(type, dshow::kWaveFormatExSize);
    if (com::Failed(hr)) return hr;
    const dshow::WaveFormatEx pcm = PcmFormatFor(in);
    type->majortype = dshow::MEDIATYPE_Audio;
    type->subtype = dshow::MEDIASUBTYPE_PCM;
    type->bFixedSizeSamples = true;
    type->bTemporalCompression = false;
    type->lSampleSize = pcm.nBlockAlign;
    type->formattype = dshow::FORMAT_WaveFormatEx;
    dshow::WriteWaveFormatEx(pcm, type->pbFormat);
    return S_OK;
  }
  HRESULT InternalCheckInputType(const DMO_MEDIA_TYPE* type) {
    dshow::WaveFormatEx w;
    return Mp3InputFormat(*type, &w) ? S_OK : dshow::DMO_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT InternalCheckOutputType(const DMO_MEDIA_TYPE* type) {
    dshow::WaveFormatEx in, out;
    if (!InputType() || !Mp3InputFormat(*InputType(), &in)) return dshow::DMO_E_TYPE_NOT_SET;
    if (type->majortype != dshow::MEDIATYPE_Audio || type->subtype != dshow::MEDIASUBTYPE_PCM ||
        !dshow::WaveFormatOf(*type, &out))
      return dshow::DMO_E_TYPE_NOT_ACCEPTED;
    const dshow::WaveFormatEx want = PcmFormatFor(in);
    return out.wFormatTag == want.wFormatTag && out.nChannels == want.nChannels &&
                   out.nSamplesPerSec == want.nSamplesPerSec && out.wBitsPerSample == want.wBitsPerSample
               ? S_OK
               : dshow::DMO_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT InternalGetInputSizeInfo(uint32_t* size, uint32_t* lookahead, uint32_t* alignment) {
    *size = 0;
    *lookahead = 0;
    *alignment = 1;
    return S_OK;
  }
  HRESULT InternalGetOutputSizeInfo(uint32_t* size, uint32_t* alignment) {
    // One Layer I-III frame of 1152 samples.
    dshow::WaveFormatEx out;
    *size = OutputType() && dshow::WaveFormatOf(*OutputType(), &out) ? 1152u * out.nBlockAlign : 1152u * 4;
    *alignment = 1;
    return S_OK;
  }
  HRESULT InternalFlush() {
    pending_.clear();
    offset_ = 0;
    return Restart();
  }
  // A break in the stream drops what the decoder holds of the frames before.
  HRESULT InternalDiscontinuity() { return InternalFlush(); }
  HRESULT InternalAllocateStreamingResources() {
    dshow::WaveFormatEx out;
    if (!OutputType() || !dshow::WaveFormatOf(*OutputType(), &out)) return dshow::DMO_E_TYPE_NOT_SET;
    int error = MPG123_OK;
    handle_ = mpg123_new(nullptr, &error);
    if (!handle_) return com::E_OUTOFMEMORY;
    // Feed mode as the source feeds: no read-ahead (else a frame's samples
    // come out only with the next frame), an Info frame decoded as audio,
    // no gapless trimming, so each frame fed gives its own samples.
    long flags = MPG123_QUIET | MPG123_NO_READAHEAD | MPG123_IGNORE_INFOFRAME;
    flags |= out.nChannels == 1 ? MPG123_MONO_MIX : MPG123_FORCE_STEREO;
    if (mpg123_param(handle_, MPG123_FLAGS, flags, 0) != MPG123_OK ||
        mpg123_param(handle_, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0) != MPG123_OK ||
        mpg123_format_none(handle_) != MPG123_OK) {
      InternalFreeStreamingResources();
      return com::E_FAIL;
    }
    // Every rate is accepted by the library (which reports a refused one on
    // standard error whatever the flags); frames at another rate than the
    // output type's are dropped here.
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
      mpg123_format(handle_, rates[i], out.nChannels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16);
    rate_ = long(out.nSamplesPerSec);
    return Restart();
  }
  HRESULT InternalFreeStreamingResources() {
    if (handle_) {
      mpg123_close(handle_);
      mpg123_delete(handle_);
    }
    handle_ = nullptr;
    pending_.clear();
    offset_ = 0;
    return S_OK;
  }
  HRESULT InternalAcceptingInput() { return offset_ < pending_.size() ? com::S_FALSE : S_OK; }
  HRESULT InternalProcessInput(dshow::IMediaBuffer* buffer, uint32_t, dshow::REFERENCE_TIME, dshow::REFERENCE_TIME) {
    uint8_t* data = nullptr;
    uint32_t bytes = 0;
    if (com::Failed(buffer->GetBufferAndLength(&data, &bytes)) || !handle_) return com::E_FAIL;
    if (bytes == 0) return com::S_FALSE;
    if (mpg123_feed(handle_, data, bytes) != MPG123_OK) return com::E_FAIL;
    // Decode what the input completes now, so that input and output pair up.
    pending_.clear();
    offset_ = 0;
    for (;;) {
      off_t frame = 0;
      unsigned char* audio = nullptr;
      size_t got = 0;
      const int r = mpg123_decode_frame(handle_, &frame, &audio, &got);
      if (r == MPG123_NEW_FORMAT) {
        long rate = 0;
        int channels = 0, encoding = 0;
        mpg123_getformat(handle_, &rate, &channels, &encoding);
        other_rate_ = rate != rate_;
        continue;
      }
      if (r != MPG123_OK) break;  // MPG123_NEED_MORE, or a damaged frame passed over
      if (audio && got && !other_rate_) pending_.insert(pending_.end(), audio, audio + got);
    }
    return S_OK;
  }
  HRESULT InternalProcessOutput(uint32_t, dshow::DMO_OUTPUT_DATA_BUFFER* out, uint32_t*) {
    if (offset_ >= pending_.size()) return com::S_FALSE;
    if (!out->pBuffer) return com::E_POINTER;
    uint8_t* dst = nullptr;
    uint32_t used = 0, max = 0;
    out->pBuffer->GetBufferAndLength(&dst, &used);
    out->pBuffer->GetMaxLength(&max);
    // Whole sample frames only.
    dshow::WaveFormatEx fmt;
    const uint32_t align = OutputType() && dshow::WaveFormatOf(*OutputType(), &fmt) && fmt.nBlockAlign
                               ? fmt.nBlockAlign : 1u;
    const uint32_t room = max > used ? (max - used) / align * align : 0;
    const size_t n = std::min<size_t>(room, pending_.size() - offset_);
    if (n) std::memcpy(dst + used, pending_.data() + offset_, n);
    out->pBuffer->SetLength(uint32_t(used + n));
    offset_ += n;
    if (offset_ < pending_.size()) {
      out->dwStatus |= dshow::DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
    } else {
      pending_.clear();
      offset_ = 0;
    }
    return S_OK;
  }

 private:
  friend class DecoderObject<Mp3DecoderObject>;
  ~Mp3DecoderObject() {
    InternalFreeStreamingResources();
    com::ModuleRelease();
  }

  // A fresh stream in feed mode (drops what was fed).
  HRESULT Restart() {
    if (!handle_) return S_OK;
    mpg123_close(handle_);
    return mpg123_open_feed(handle_) == MPG123_OK ? S_OK : com::E_FAIL;
  }

  mpg123_handle* handle_ = nullptr;
  long rate_ = 0;             // of the output type
  bool other_rate_ = false;   // the stream is at another rate: its samples are dropped
  std::vector<uint8_t> pending_;  // decoded PCM not yet handed out
  size_t offset_ = 0;
};

}  // namespace

HRESULT CreateMp3DecoderObject(const GUID& iid, void** object) {
  return com::CreateObjectAs<Mp3DecoderObject>(iid, object);
}

void RegisterMp3DecoderObject() {
  static std::once_flag once;
  std::call_once(once, [] { com::RegisterClassObject(CLSID_Mp3DecoderObject, CreateMp3DecoderObject); });
}

}  // namespace decoders
