#pragma once
// CFilterInterfaceStream: the video pin. It offers one type, RGB565 under
// MEDIATYPE_Video (RGB555 under MEDIATYPE_PrivateVideo when VideoCodecId is
// kVideoCodecWmv) with a VIDEOINFOHEADER of the configured size, owns a ring of three
// frame buffers that GetFrame hands to the callback, and turns each queued
// frame into a sample: converted in place when RGB555, copied flipped
// (bottom-up rows), stamped time x 10000 to that plus one frame period.
// Its stream ends when the mix has ended and its queue is empty.
//
// Thread: FillBuffer on the pin's thread; the slot calls under the named
// mutex; the rest on the graph's thread.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "filters/framesource/frame_pin.h"
#include "filters/framesource/framesource.h"

namespace framesource {

using com::GUID;
using com::HRESULT;

class CFrameFilter;

constexpr int kRingSize = 3;

// Width x Height x 2, or 0 when that does not fit below 2 GB.
uint32_t FrameBytes(const FrameFilterConfig& config);
// One frame period in 100-ns units: 10000000 / fps, cut (the format block's
// average; an encoder reading it back gets the whole rate).
int64_t FramePeriod(const FrameFilterConfig& config);
// Time of frame k on the frame grid: round(k x 1000 / fps) ms, so that a
// second holds exactly fps frames.
int64_t FrameGridMs(uint64_t k, uint32_t fps);
// A frame's stop time in 100-ns units: the grid time of the frame after the
// one nearest to time_ms.
int64_t FrameStop(uint32_t time_ms, uint32_t fps);
// RGB565 to RGB555 in place, count little-endian pixels: blue stays, red and
// the upper five green bits move down one bit, the lowest green bit goes.
void ConvertRgb565ToRgb555(unsigned char* pixels, size_t count);
// dst row r = src row height - 1 - r; rows of row_bytes.
void CopyRowsFlipped(unsigned char* dst, const unsigned char* src, size_t row_bytes, size_t height);

class CFilterInterfaceStream final : public CFramePin {
 public:
  CFilterInterfaceStream(HRESULT* hr, CFrameFilter* filter, const char16_t* pin_name);
  ~CFilterInterfaceStream() override;

  HRESULT GetMediaType(int position, dshow::AM_MEDIA_TYPE* type) override;
  HRESULT CheckMediaType(const dshow::AM_MEDIA_TYPE* type) override;
  HRESULT DecideBufferSize(dshow::IMemAllocator* allocator, dshow::ALLOCATOR_PROPERTIES* request) override;
  HRESULT SetMediaType(const dshow::AM_MEDIA_TYPE* type) override;
  HRESULT FillBuffer(dshow::IMediaSample* sample) override;

  // 0 until the ring exists, then kRingSize.
  int RingSize() const { return ring_size_.load(std::memory_order_acquire); }
  // Under the named mutex: takes the slot due next and advances; -1 (nothing
  // taken) while that slot is still queued or being copied.
  int TakeSlot(unsigned char** buffer);
  // The slot holding buffer is free again (after its copy, or when the
  // callback handed back no frame).
  void ReleaseSlot(const unsigned char* buffer);

 private:
  uint32_t frame_bytes_;
  bool first_fill_ = true;
  unsigned char* ring_[kRingSize] = {};
  std::atomic<bool> busy_[kRingSize] = {};
  int next_index_ = 0;  // under the named mutex
  std::atomic<int> ring_size_{0};
};

}  // namespace framesource
