#include "filters/framesource/filter_interface_stream_audio.h"

#include <algorithm>
#include <cstring>

#include "filters/framesource/frame_filter.h"
#include "platform/dshow/media_type.h"
#include "platform/os/debug_output.h"

namespace framesource {

using dshow::AM_MEDIA_TYPE;

uint32_t AudioBytesPerSecond(const FrameFilterConfig& config) {
  return (config.Channels * config.BitsPerSample * config.SampleRate) >> 3;
}

uint32_t AudioBufferSize(const FrameFilterConfig& config) {
  const uint32_t per_second = AudioBytesPerSecond(config);
  if (per_second == 0 || config.FramesPerSecond == 0) return 0;
  const uint32_t per_frame = per_second / config.FramesPerSecond;
  uint32_t size = (per_frame + 7) & ~7u;
  if (config.SamplesPerCodecFrame != 0) {
    const uint32_t codec_frame = config.SamplesPerCodecFrame * (config.BitsPerSample / 8) * config.Channels;
    if (codec_frame != 0) size = codec_frame * std::max(1u, size / codec_frame);
  }
  return size;
}

CFilterInterfaceStreamAudio::CFilterInterfaceStreamAudio(HRESULT* hr, CFrameFilter* filter, const char16_t* pin_name)
    : CFramePin(hr, filter, pin_name) {}

CFilterInterfaceStreamAudio::~CFilterInterfaceStreamAudio() {
  Inactive();
  ov::DebugOutput("CFilterInterfaceStreamAudio::~CFilterInterfaceStreamAudio\r\n");
  while (FrameRecord* record = owner_->AudioQueue().Pop()) {
    ::operator delete(record->buffer);
    delete record;
  }
  FreeChunk();
}

void CFilterInterfaceStreamAudio::FreeChunk() {
  ::operator delete(chunk_);
  chunk_ = nullptr;
  read_ = nullptr;
  remaining_ = 0;
}

HRESULT CFilterInterfaceStreamAudio::GetMediaType(int position, AM_MEDIA_TYPE* type) {
  ov::DebugOutput("FilterInterfaceStream GetMediaType\n");
  if (!type) return com::E_POINTER;
  if (position >= 1) return dshow::VFW_S_NO_MORE_ITEMS;
  if (position < 0) return com::E_INVALIDARG;
  buffer_size_ = AudioBufferSize(config_);
  if (buffer_size_ == 0) return com::E_FAIL;
  type->majortype = dshow::MEDIATYPE_Audio;
  type->subtype = dshow::MEDIASUBTYPE_PCM;
  type->bFixedSizeSamples = true;
  type->bTemporalCompression = false;
  type->lSampleSize = buffer_size_;
  type->formattype = dshow::FORMAT_WaveFormatEx;
  if (com::Failed(dshow::SetFormatBuffer(type, dshow::kWaveFormatExSize))) return com::E_FAIL;
  dshow::WaveFormatEx w;
  w.wFormatTag = dshow::WAVE_FORMAT_PCM;
  w.nChannels = static_cast<uint16_t>(config_.Channels);
  w.nSamplesPerSec = config_.SampleRate;
  w.nAvgBytesPerSec = AudioBytesPerSecond(config_);
  w.nBlockAlign = static_cast<uint16_t>(((config_.Channels * config_.BitsPerSample) & 0xFFFF) >> 3);
  w.wBitsPerSample = static_cast<uint16_t>(config_.BitsPerSample);
  w.cbSize = 0;
  dshow::WriteWaveFormatEx(w, type->pbFormat);
  return com::S_OK;
}

HRESULT CFilterInterfaceStreamAudio::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return com::E_POINTER;
  return type->majortype == dshow::MEDIATYPE_Audio && type->subtype == dshow::MEDIASUBTYPE_PCM ? com::S_OK
                                                                                                  : com::S_FALSE;
}

HRESULT CFilterInterfaceStreamAudio::DecideBufferSize(dshow::IMemAllocator* allocator,
                                                      dshow::ALLOCATOR_PROPERTIES* request) {
  buffer_size_ = AudioBufferSize(config_);
  return DecideSingleBuffer(allocator, request, buffer_size_);
}

HRESULT CFilterInterfaceStreamAudio::SetMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return com::E_POINTER;
  return CSourceStream::SetMediaType(type);
}

void CFilterInterfaceStreamAudio::PullChunk() {
  // A frame step without sound (or a call that brought none) does not end
  // the stream: only the end of the mix or a stop does.
  while (owner_->AudioQueue().Count() == 0 && !StopRequested() && !owner_->Stopping()) {
    if (owner_->GetFrame(config_, false) == 0) break;
  }
}

bool CFilterInterfaceStreamAudio::Fill(unsigned char* dest, uint32_t capacity, int64_t* start, int64_t* stop) {
  const bool stereo = config_.Channels == 2;
  uint32_t written = 0;
  while (written < capacity) {
    if (!chunk_) {
      if (owner_->AudioQueue().Count() == 0) PullChunk();
      FrameRecord* record = owner_->AudioQueue().Pop();
      // A chunk taken makes room for the video pin's next frame step.
      if (record) owner_->NotifyQueueChange();
      if (!record) {
        if (written == 0) return false;
        // The mix ended inside this sample: the rest is silence.
        std::memset(dest + written, 0, capacity - written);
        written = capacity;
        break;
      }
      chunk_ = record->buffer;
      read_ = chunk_;
      remaining_ = record->bytes > 0 ? static_cast<uint32_t>(record->bytes) : 0;
      running_time_ = static_cast<int64_t>(record->time) * 10000;
      delete record;
      if (!chunk_) continue;
    }
    if (stereo) {
      const uint32_t n = std::min(capacity - written, remaining_);
      std::memcpy(dest + written, read_, n);
      read_ += n;
      remaining_ -= n;
      written += n;
    } else {
      // Chunks are 16-bit stereo: each 4-byte frame gives its left sample,
      // lowest bit cleared, as one 16-bit sample.
      const uint32_t frames = std::min(remaining_ / 4, (capacity - written) / 2);
      for (uint32_t i = 0; i < frames; ++i) {
        dest[written + 2 * i] = static_cast<unsigned char>(read_[4 * i] & 0xFE);
        dest[written + 2 * i + 1] = read_[4 * i + 1];
      }
      read_ += 4 * frames;
      remaining_ -= 4 * frames;
      written += 2 * frames;
      if (frames == 0) {
        if (remaining_ < 4) {
          remaining_ = 0;  // a partial frame at the chunk's end is dropped
        } else {
          // Less than one sample of room: silence to the end.
          std::memset(dest + written, 0, capacity - written);
          written = capacity;
        }
      }
    }
    if (remaining_ == 0) FreeChunk();
  }
  const int64_t duration =
      static_cast<int64_t>((static_cast<uint64_t>(capacity) * 10000000u) / AudioBytesPerSecond(config_));
  *start = running_time_;
  *stop = running_time_ + duration;
  running_time_ = *stop;
  return true;
}

HRESULT CFilterInterfaceStreamAudio::FillBuffer(dshow::IMediaSample* sample) {
  if (!sample) return com::E_POINTER;
  MarkDelivered();
  unsigned char* data = nullptr;
  if (com::Failed(sample->GetPointer(&data))) return com::E_FAIL;
  const int32_t size = sample->GetSize();
  int64_t start = 0, stop = 0;
  if (size <= 0 || !Fill(data, static_cast<uint32_t>(size), &start, &stop)) {
    ov::DebugOutput("FillBufferA complete !\n");
    sample->SetActualDataLength(0);
    EndStream();
    return com::S_FALSE;
  }
  const HRESULT hr = sample->SetActualDataLength(size);
  sample->SetTime(&start, &stop);
  sample->SetMediaTime(&start, &stop);
  SetPendingStop(stop);
  // Pacing: while the video queue is longer than two records and longer than
  // the audio queue, let the video pin catch up.
  CFrameQueue& audio = owner_->AudioQueue();
  CFrameQueue& video = owner_->VideoQueue();
  while (audio.Count() < video.Count() && video.Count() > 2 && !StopRequested()) owner_->WaitQueueChange(100);
  // Every filled sample is delivered, the last one too; the next call ends
  // the stream.
  return hr;
}


}  // namespace framesource
