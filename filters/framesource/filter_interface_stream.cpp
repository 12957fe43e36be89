#include "filters/framesource/filter_interface_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "filters/framesource/frame_filter.h"
#include "platform/dshow/media_type.h"
#include "platform/os/debug_output.h"

namespace framesource {

using dshow::AM_MEDIA_TYPE;

uint32_t FrameBytes(const FrameFilterConfig& config) {
  const uint64_t bytes = static_cast<uint64_t>(config.Width) * config.Height * 2;
  return bytes <= 0x7FFFFFFFu ? static_cast<uint32_t>(bytes) : 0;
}

int64_t FramePeriod(const FrameFilterConfig& config) {
  // Cut, not rounded: 15 frames/s give 666666, which reads back as 15.00.
  return config.FramesPerSecond ? 10000000 / static_cast<int64_t>(config.FramesPerSecond) : 0;
}

int64_t FrameGridMs(uint64_t k, uint32_t fps) { return fps ? static_cast<int64_t>((2 * k * 1000 + fps) / (2 * fps)) : 0; }

int64_t FrameStop(uint32_t time_ms, uint32_t fps) {
  if (fps == 0) return static_cast<int64_t>(time_ms) * 10000;
  // The frame whose grid time is nearest, then the grid time of the next.
  const uint64_t k = (uint64_t{time_ms} * fps + 500) / 1000;
  return std::max<int64_t>(FrameGridMs(k + 1, fps), int64_t{time_ms} + 1) * 10000;
}

void ConvertRgb565ToRgb555(unsigned char* pixels, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t old = pixels[2 * i] | (pixels[2 * i + 1] << 8);
    const uint32_t v = (old & 0x001Fu) | ((old & 0xFFC1u) >> 1);
    pixels[2 * i] = static_cast<unsigned char>(v);
    pixels[2 * i + 1] = static_cast<unsigned char>(v >> 8);
  }
}

void CopyRowsFlipped(unsigned char* dst, const unsigned char* src, size_t row_bytes, size_t height) {
  for (size_t r = 0; r < height; ++r) std::memcpy(dst + r * row_bytes, src + (height - 1 - r) * row_bytes, row_bytes);
}

CFilterInterfaceStream::CFilterInterfaceStream(HRESULT* hr, CFrameFilter* filter, const char16_t* pin_name)
    : CFramePin(hr, filter, pin_name), frame_bytes_(FrameBytes(config_)) {
  SetEndFlag(false);
}

CFilterInterfaceStream::~CFilterInterfaceStream() {
  Inactive();
  ov::DebugOutput("CFilterInterfaceStream::~CFilterInterfaceStream\r\n");
  // Records only: their buffers are the ring's.
  while (FrameRecord* record = owner_->VideoQueue().Pop()) delete record;
  for (unsigned char*& buffer : ring_) {
    delete[] buffer;
    buffer = nullptr;
  }
  next_index_ = 0;
  ring_size_.store(0, std::memory_order_release);
}

HRESULT CFilterInterfaceStream::GetMediaType(int position, AM_MEDIA_TYPE* type) {
  if (!type) return com::E_POINTER;
  if (position >= 1) return dshow::VFW_S_NO_MORE_ITEMS;
  if (position < 0) return com::E_INVALIDARG;
  if (frame_bytes_ == 0 || config_.FramesPerSecond == 0) return com::E_FAIL;
  const bool rgb555 = config_.VideoCodecId == dshow::kVideoCodecWmv;
  type->majortype = rgb555 ? dshow::MEDIATYPE_PrivateVideo : dshow::MEDIATYPE_Video;
  type->subtype = rgb555 ? dshow::MEDIASUBTYPE_RGB555 : dshow::MEDIASUBTYPE_RGB565;
  type->bFixedSizeSamples = false;
  type->bTemporalCompression = false;
  type->lSampleSize = 0;
  type->formattype = dshow::FORMAT_VideoInfo;
  if (com::Failed(dshow::SetFormatBuffer(type, dshow::kVideoInfoHeaderSize))) return com::E_FAIL;
  dshow::VideoInfoHeader v;
  const auto w = static_cast<int32_t>(config_.Width);
  const auto h = static_cast<int32_t>(config_.Height);
  v.rcSource = {0, 0, w, h};
  v.rcTarget = {0, 0, w, h};
  v.dwBitRate = config_.VideoBitRate;
  v.dwBitErrorRate = 0;
  v.AvgTimePerFrame = FramePeriod(config_);
  v.bmiHeader.biWidth = w;
  v.bmiHeader.biHeight = h;
  v.bmiHeader.biPlanes = 1;
  v.bmiHeader.biBitCount = 16;
  v.bmiHeader.biCompression = dshow::BI_RGB;
  v.bmiHeader.biSizeImage = static_cast<uint32_t>(((16u * config_.Width + 31) >> 5) * 4u * config_.Height);
  dshow::WriteVideoInfoHeader(v, type->pbFormat);
  return com::S_OK;
}

HRESULT CFilterInterfaceStream::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return com::E_POINTER;
  if (type->cbFormat != 0) {
    // A block too short for a VIDEOINFOHEADER cannot be read: refused.
    dshow::VideoInfoHeader v;
    if (!dshow::ReadVideoInfoHeader(type->pbFormat, type->cbFormat, &v)) return com::S_FALSE;
    if (v.bmiHeader.biCompression != dshow::BI_RGB) return com::S_FALSE;
  }
  const bool rgb555 = config_.VideoCodecId == dshow::kVideoCodecWmv;
  const GUID& major = rgb555 ? dshow::MEDIATYPE_PrivateVideo : dshow::MEDIATYPE_Video;
  const GUID& sub = rgb555 ? dshow::MEDIASUBTYPE_RGB555 : dshow::MEDIASUBTYPE_RGB565;
  return type->majortype == major && type->subtype == sub ? com::S_OK : com::S_FALSE;
}

HRESULT CFilterInterfaceStream::DecideBufferSize(dshow::IMemAllocator* allocator,
                                                 dshow::ALLOCATOR_PROPERTIES* request) {
  return DecideSingleBuffer(allocator, request, frame_bytes_);
}

HRESULT CFilterInterfaceStream::SetMediaType(const AM_MEDIA_TYPE* type) {
  if (RingSize() == 0) {
    if (frame_bytes_ == 0) return com::E_FAIL;
    for (unsigned char*& buffer : ring_) {
      buffer = new (std::nothrow) unsigned char[frame_bytes_];
      if (!buffer) {
        for (unsigned char*& b : ring_) {
          delete[] b;
          b = nullptr;
        }
        return com::E_FAIL;
      }
    }
    next_index_ = 0;
    for (auto& b : busy_) b.store(false);
    ring_size_.store(kRingSize, std::memory_order_release);
  }
  if (!type) return com::E_POINTER;
  return CSourceStream::SetMediaType(type);
}

int CFilterInterfaceStream::TakeSlot(unsigned char** buffer) {
  const int size = RingSize();
  if (size == 0) return -1;
  const int slot = next_index_;
  if (busy_[slot].load(std::memory_order_acquire)) return -1;
  busy_[slot].store(true, std::memory_order_release);
  next_index_ = (slot + 1) % size;
  *buffer = ring_[slot];
  return slot;
}

void CFilterInterfaceStream::ReleaseSlot(const unsigned char* buffer) {
  for (int i = 0; i < kRingSize; ++i) {
    if (ring_[i] == buffer) {
      busy_[i].store(false, std::memory_order_release);
      owner_->NotifyQueueChange();
      return;
    }
  }
}

HRESULT CFilterInterfaceStream::FillBuffer(dshow::IMediaSample* sample) {
  if (!sample) return com::E_POINTER;
  MarkDelivered();
  const bool rgb555 = config_.VideoCodecId == dshow::kVideoCodecWmv;
  if (first_fill_) {
    SleepUnlessStopped(FirstFillDelay(rgb555));
    first_fill_ = false;
  }
  // The platform compacted its heap here; nothing to do on this one.
  CFrameQueue& queue = owner_->VideoQueue();
  // Keep the frame after the one filled, or learn that none follows. A call
  // that brings no frame while the mix goes on (the callback handed none)
  // is repeated: the stream ends only with the mix.
  bool more = true;
  while (more && queue.Count() == 0 && !StopRequested() && !owner_->Stopping()) {
    more = owner_->GetFrame(config_, true) != 0;
  }
  if (more && queue.Count() == 1) owner_->GetFrame(config_, true);
  if (queue.Count() == 0) {
    ov::DebugOutput("FillBuffer Video complete ! \n");
    sample->SetActualDataLength(0);
    EndStream();
    return com::S_FALSE;
  }
  FrameRecord* record = queue.Pop();
  unsigned char* frame = record->buffer;
  const uint32_t time = static_cast<uint32_t>(record->time);
  delete record;
  if (!frame) {
    EndStream();
    return com::S_FALSE;
  }
  unsigned char* data = nullptr;
  HRESULT hr = sample->GetPointer(&data);
  if (com::Failed(hr) || sample->GetSize() < static_cast<int32_t>(frame_bytes_)) {
    ReleaseSlot(frame);
    return com::E_FAIL;
  }
  sample->SetActualDataLength(static_cast<int32_t>(frame_bytes_));
  if (rgb555) ConvertRgb565ToRgb555(frame, frame_bytes_ / 2);
  CopyRowsFlipped(data, frame, static_cast<size_t>(config_.Width) * 2, config_.Height);
  ReleaseSlot(frame);
  int64_t start = static_cast<int64_t>(time) * 10000;
  int64_t stop = FrameStop(time, config_.FramesPerSecond);
  sample->SetTime(&start, &stop);
  SetPendingStop(stop);
  // Every frame is delivered, the last one too; the next call ends the stream.
  return hr;
}


}  // namespace framesource
