#pragma once
// CFilterInterfaceStreamAudio: the audio pin. It offers one type, PCM under
// MEDIATYPE_Audio with an 18-byte WAVEFORMATEX, in fixed-size samples of
// about one video frame of sound rounded down to whole encoder frames. It
// fills each sample from the queued chunks (a chunk may span samples and a
// sample chunks; mono keeps the left channel of the stereo chunks), pads the
// last one with silence, and stamps samples continuously from the running
// time, which each new chunk resets to its own time. It paces itself
// against the video pin so that the queues stay short.
//
// Thread: FillBuffer on the pin's thread; the rest on the graph's thread.

#include <atomic>
#include <cstdint>

#include "filters/framesource/frame_pin.h"
#include "filters/framesource/framesource.h"

namespace framesource {

using com::GUID;
using com::HRESULT;

class CFrameFilter;

// (Channels x BitsPerSample x SampleRate) >> 3, in 32 bits.
uint32_t AudioBytesPerSecond(const FrameFilterConfig& config);
// Bytes per sample: one frame's worth rounded up to 8, then down to whole
// encoder frames (at least one); 0 when the configuration has no audio rate.
uint32_t AudioBufferSize(const FrameFilterConfig& config);

class CFilterInterfaceStreamAudio final : public CFramePin {
 public:
  CFilterInterfaceStreamAudio(HRESULT* hr, CFrameFilter* filter, const char16_t* pin_name);
  ~CFilterInterfaceStreamAudio() override;

  HRESULT GetMediaType(int position, dshow::AM_MEDIA_TYPE* type) override;
  HRESULT CheckMediaType(const dshow::AM_MEDIA_TYPE* type) override;
  HRESULT DecideBufferSize(dshow::IMemAllocator* allocator, dshow::ALLOCATOR_PROPERTIES* request) override;
  HRESULT SetMediaType(const dshow::AM_MEDIA_TYPE* type) override;
  HRESULT FillBuffer(dshow::IMediaSample* sample) override;


 private:
  // Fills capacity bytes at dest; false when the mix has ended before any
  // byte. *start and *stop get the sample's times.
  bool Fill(unsigned char* dest, uint32_t capacity, int64_t* start, int64_t* stop);
  // Calls GetFrame until a chunk is queued, the mix ends or the pin stops.
  void PullChunk();
  void FreeChunk();

  uint32_t buffer_size_ = 0;
  unsigned char* chunk_ = nullptr;
  const unsigned char* read_ = nullptr;
  uint32_t remaining_ = 0;
  int64_t running_time_ = 0;
};

}  // namespace framesource
