#include "filters/codecdmo/audio_encoder_dmo.h"

#include <algorithm>
#include <cstring>

#include "filters/codecdmo/codecdmo_properties.h"

namespace codecdmo {
namespace {

using com::E_FAIL;
using com::E_POINTER;
using com::S_FALSE;
using com::S_OK;

// The output buffer's count word and one size entry per frame.
constexpr uint32_t kCountBytes = 4;
constexpr uint32_t kSizeEntryBytes = 2;

}  // namespace

AudioEncoderDmo::AudioEncoderDmo() { com::ModuleAddRef(); }

AudioEncoderDmo::~AudioEncoderDmo() {
  ReleaseInput();
  com::ModuleRelease();
}

HRESULT AudioEncoderDmo::QueryInterface(const GUID& iid, void** object) {
  return QueryEncoderObject(this, this, SettingsInterface(iid), iid, object);
}

uint32_t AudioEncoderDmo::Release() {
  const uint32_t left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT AudioEncoderDmo::InternalGetInputStreamInfo(uint32_t* flags) {
  *flags = 0;
  return S_OK;
}

HRESULT AudioEncoderDmo::InternalGetOutputStreamInfo(uint32_t* flags) {
  *flags = 0;
  return S_OK;
}

HRESULT AudioEncoderDmo::InternalGetInputType(uint32_t, dshow::DMO_MEDIA_TYPE*) { return dshow::DMO_E_NO_MORE_ITEMS; }

HRESULT AudioEncoderDmo::InternalGetOutputType(uint32_t position, dshow::DMO_MEDIA_TYPE* type) {
  if (!InputTypeSet()) return dshow::DMO_E_TYPE_NOT_SET;
  return OutputTypeAt(position, type);
}

HRESULT AudioEncoderDmo::InternalCheckInputType(const dshow::DMO_MEDIA_TYPE* type) {
  if (const dshow::DMO_MEDIA_TYPE* current = InputType()) {
    return dshow::MediaTypesEqual(*current, *type) ? S_OK : dshow::DMO_E_TYPE_NOT_ACCEPTED;
  }
  return CheckInput(type);
}

HRESULT AudioEncoderDmo::InternalCheckOutputType(const dshow::DMO_MEDIA_TYPE* type) {
  if (const dshow::DMO_MEDIA_TYPE* current = OutputType()) {
    return dshow::MediaTypesEqual(*current, *type) ? S_OK : dshow::DMO_E_TYPE_NOT_ACCEPTED;
  }
  if (!InputTypeSet()) return dshow::DMO_E_TYPE_NOT_ACCEPTED;
  return CheckOutput(type);
}

HRESULT AudioEncoderDmo::InternalGetInputSizeInfo(uint32_t* size, uint32_t* lookahead, uint32_t* alignment) {
  *size = FrameBytes();
  *lookahead = 0;
  *alignment = 1;
  return S_OK;
}

HRESULT AudioEncoderDmo::InternalGetOutputSizeInfo(uint32_t* size, uint32_t* alignment) {
  *size = OutputBytes();
  *alignment = 1;
  return S_OK;
}

HRESULT AudioEncoderDmo::InternalFlush() {
  ReleaseInput();
  base_time_ = 0;
  remaining_ = 0;
  read_position_ = 0;
  sync_point_pending_ = false;
  first_input_pending_ = true;
  return S_OK;
}

HRESULT AudioEncoderDmo::InternalDiscontinuity() {
  if (held_) return dshow::DMO_E_NOTACCEPTING;
  first_input_pending_ = true;
  // The input has ended: the next ProcessOutput codes the kept part of a
  // frame and what the encoder still holds.
  drain_pending_ = true;
  return S_OK;
}

HRESULT AudioEncoderDmo::InternalAllocateStreamingResources() {
  InternalFlush();
  drain_pending_ = false;
  drained_ = false;
  leftover_.assign(FrameBytes(), 0);
  leftover_bytes_ = 0;
  return ResetForStreaming();
}

HRESULT AudioEncoderDmo::InternalFreeStreamingResources() {
  ReleaseInput();
  leftover_bytes_ = 0;
  return S_OK;
}

HRESULT AudioEncoderDmo::InternalAcceptingInput() { return held_ ? S_FALSE : S_OK; }

HRESULT AudioEncoderDmo::InternalProcessInput(dshow::IMediaBuffer* buffer, uint32_t flags,
                                              dshow::REFERENCE_TIME time, dshow::REFERENCE_TIME) {
  uint8_t* data = nullptr;
  uint32_t length = 0;
  if (com::Failed(buffer->GetBufferAndLength(&data, &length))) return E_FAIL;
  held_ = buffer;
  held_->AddRef();
  const uint32_t frame = FrameBytes();
  if (leftover_.size() != frame) {
    leftover_.assign(frame, 0);
    leftover_bytes_ = 0;
  }
  if (first_input_pending_) {
    first_input_pending_ = false;
    sync_point_pending_ = true;
    leftover_bytes_ = 0;
    drain_pending_ = false;
    // A drained encoder takes no more input until it starts again.
    if (drained_) {
      drained_ = false;
      const HRESULT hr = ResetForStreaming();
      if (com::Failed(hr)) {
        ReleaseInput();
        return hr;
      }
    }
  }
  if (flags & dshow::DMO_INPUT_DATA_BUFFERF_TIME) {
    // The sound kept from the last buffer comes before this one's stamp.
    const uint32_t rate = InputBytesPerSecond();
    base_time_ = time - (rate ? static_cast<dshow::REFERENCE_TIME>(leftover_bytes_) * 10000000 / rate : 0);
  }
  read_position_ = 0;
  remaining_ = length;
  if (leftover_bytes_ > 0) {
    // Complete the kept frame as far as this buffer goes.
    const uint32_t n = std::min(frame - leftover_bytes_, remaining_);
    std::memcpy(leftover_.data() + leftover_bytes_, data, n);
    leftover_bytes_ += n;
    read_position_ += n;
    remaining_ -= n;
  }
  return S_OK;
}

HRESULT AudioEncoderDmo::InternalProcessOutput(uint32_t, dshow::DMO_OUTPUT_DATA_BUFFER* out, uint32_t*) {
  const uint32_t frame = FrameBytes();
  const bool leftover_complete = leftover_bytes_ == frame && frame > 0;
  const bool draining = !held_ && drain_pending_;
  if (!held_ && !draining) return S_FALSE;
  if (held_ && !leftover_complete && remaining_ < frame) {
    KeepRemainder();
    ReleaseInput();
    return S_FALSE;
  }
  if (!out->pBuffer) return E_POINTER;
  uint8_t* output = nullptr;
  uint32_t ignored = 0, capacity = 0;
  HRESULT hr = out->pBuffer->GetBufferAndLength(&output, &ignored);
  if (com::Succeeded(hr)) hr = out->pBuffer->GetMaxLength(&capacity);
  if (com::Failed(hr)) return hr;
  // Too small for even one frame with its table: nothing is taken.
  if (capacity < kCountBytes + kSizeEntryBytes + MaxCodedBytes()) return E_FAIL;
  uint8_t* input = nullptr;
  uint32_t input_length = 0;
  if (held_) held_->GetBufferAndLength(&input, &input_length);

  std::vector<uint16_t> sizes;
  uint32_t used = 0;
  dshow::REFERENCE_TIME duration = 0;
  bool failed = false;
  bool stopped = false;
  // Codes one frame through step (a PCM frame, or null to drain the
  // encoder); the bytes written, or 0.
  auto code = [&](const uint8_t* pcm) -> uint32_t {
    // Room for this frame after the count and the table with its own entry.
    const uint32_t table = kCountBytes + kSizeEntryBytes * static_cast<uint32_t>(sizes.size() + 1);
    const uint32_t room = capacity > used + table ? capacity - used - table : 0;
    uint32_t written = 0;
    const int32_t result =
        pcm ? EncodeOne(pcm, output + used, room, &written) : DrainOne(output + used, room, &written);
    if (result != 0 || written > room) {
      failed = true;
      return 0;
    }
    // A drained encoder that has nothing left adds no frame.
    if (!pcm && written == 0) return 0;
    used += written;
    sizes.push_back(static_cast<uint16_t>(written));
    duration += FrameDuration();
    return written;
  };
  auto encode = [&](const uint8_t* pcm) { code(pcm); };
  auto fits_another = [&] {
    const uint32_t table = kCountBytes + kSizeEntryBytes * static_cast<uint32_t>(sizes.size() + 1);
    return sizes.empty() || used + table + MaxCodedBytes() <= capacity;
  };
  if (leftover_complete) {
    encode(leftover_.data());
    leftover_bytes_ = 0;
  }
  while (!failed && remaining_ >= frame) {
    if (!fits_another()) {
      stopped = true;
      break;
    }
    encode(input + read_position_);
    read_position_ += frame;
    remaining_ -= frame;
  }
  if (draining) {
    // The end of the input: the kept part of a frame, filled with silence,
    // then the frames the encoder's delay still holds, so the sound lasts
    // to its end.
    if (leftover_bytes_ > 0 && frame > 0) {
      std::memset(leftover_.data() + leftover_bytes_, 0, frame - leftover_bytes_);
      encode(leftover_.data());
      leftover_bytes_ = 0;
    }
    for (;;) {
      if (failed) break;
      if (!fits_another()) {
        stopped = true;
        break;
      }
      if (code(nullptr) == 0) break;
    }
    if (!stopped || failed) {
      drain_pending_ = false;
      drained_ = true;
    }
    if (!failed && sizes.empty()) return S_FALSE;
  }
  if (failed) {
    // An encoder that fails loses the sound: the stream cannot go on as if
    // the frames were silent or absent.
    remaining_ = 0;
    ReleaseInput();
    return E_FAIL;
  }
  uint8_t* table = output + used;
  PutLe32(table, static_cast<uint32_t>(sizes.size()));
  for (size_t i = 0; i < sizes.size(); ++i) PutLe16(table + kCountBytes + kSizeEntryBytes * i, sizes[i]);
  out->rtTimestamp = base_time_;
  out->rtTimelength = duration;
  out->dwStatus |= dshow::DMO_OUTPUT_DATA_BUFFERF_TIME | dshow::DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH;
  out->pBuffer->SetLength(used);
  base_time_ += duration;
  // The sync point goes to the first buffer that carries coded data (the AAC
  // coder's delay gives empty frames first).
  if (sync_point_pending_ && used > 0) {
    out->dwStatus |= dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT;
    sync_point_pending_ = false;
  }
  if (stopped) {
    out->dwStatus |= dshow::DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE;
  } else {
    KeepRemainder();
    ReleaseInput();
  }
  return S_OK;
}

void AudioEncoderDmo::KeepRemainder() {
  if (!held_ || remaining_ == 0) return;
  uint8_t* input = nullptr;
  uint32_t length = 0;
  held_->GetBufferAndLength(&input, &length);
  const uint32_t n = std::min<uint32_t>(remaining_, static_cast<uint32_t>(leftover_.size()) - leftover_bytes_);
  std::memcpy(leftover_.data() + leftover_bytes_, input + read_position_, n);
  leftover_bytes_ += n;
  read_position_ += n;
  remaining_ -= n;
}

void AudioEncoderDmo::ReleaseInput() {
  if (held_) held_->Release();
  held_ = nullptr;
  remaining_ = 0;
}

bool AudioEncoderDmo::WaveFormatOfType(const dshow::DMO_MEDIA_TYPE& type, dshow::WaveFormatEx* wave) {
  if (!(type.formattype == dshow::FORMAT_WaveFormatEx) || !type.pbFormat) return false;
  return dshow::ReadWaveFormatEx(type.pbFormat, type.cbFormat, wave);
}

}  // namespace codecdmo
