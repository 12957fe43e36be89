#pragma once
// The framesource plug-in's interface: a source filter (CLSID_FrameFilter)
// whose video and audio output pins pull the application's rendered frames
// and sound through a FrameCallback.
//
// Calling order: load the plug-in, call Initialize (filters created after it
// take its words), call DllRegisterServer, then create the filter by class id
// in a filter graph. The filter's pins end their streams when the callback
// returns 0, and once every connected pin has ended and delivered what was
// queued for it, the filter sets the named auto-reset event
// "Frame Filter Encoding Done" (once per run).
//
// Exports (C names): Initialize, DllRegisterServer, DllUnregisterServer,
// DllGetClassObject, DllCanUnloadNow, GetDeliveredTime, and the data
// CLSID_FrameFilter.

#include <cstdint>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/dshow/encoder_ids.h"

// Called by the filter's pin threads, one call at a time (under the named
// mutex "GetFrame mutex"):
// - *videoBuffer: on entry a buffer of Width x Height x 2 bytes of the video
//   pin's ring, or null when no video pin is connected; the callback renders
//   the frame into it as RGB565, rows top to bottom, or sets it to null to
//   hand over no frame;
// - *audioBuffer (null on entry): a PCM chunk allocated with
//   ::operator new(bytes), which the filter owns and frees from then on when
//   the result and *audioBytes are non-zero; 16-bit stereo when Channels is
//   not 2, else PCM in the output format; whole sample frames;
// - *audioBytes (0 on entry): the chunk's byte count;
// - *timeMs (0 on entry): the frame's presentation time in milliseconds.
// Returns non-zero for a frame step, 0 at the end of the mix (the filter
// then reads none of the outputs).
extern "C" typedef int (*FrameCallback)(unsigned char** videoBuffer, unsigned char** audioBuffer, int* audioBytes,
                                        int* timeMs);

// The export's format, eleven 32-bit words in this order.
struct FrameFilterConfig {
  uint32_t AudioBitRate;          // not used by the filter
  uint32_t SampleRate;            // audio pin: samples per second
  uint32_t BitsPerSample;         // audio pin: bits per sample
  uint32_t Channels;              // audio pin: 2 stereo, else mono (the left channel of the chunks)
  uint32_t SamplesPerCodecFrame;  // audio pin: samples per downstream encoder frame; 0 = no rounding
  uint32_t VideoCodecId;          // video pin: kVideoCodecWmv = RGB555 under the private video type, else RGB565
  uint32_t AudioCodecId;          // not used by the filter
  uint32_t VideoBitRate;          // video pin: copied into the format block
  uint32_t FramesPerSecond;       // both pins: whole frames per second
  uint32_t Height;                // both pins
  uint32_t Width;                 // both pins
};

namespace framesource {
// The filter's class id (also exported as the data CLSID_FrameFilter).
using dshow::CLSID_FrameFilter;
}  // namespace framesource

// Initialize: stores the callback and the words and creates (or opens) the
// named mutex "GetFrame mutex". 1 on success; 0 for a null callback (nothing
// stored), for FramesPerSecond 0, for a configuration whose audio would have
// 0 bytes per second, for a frame above 2 GB, or when the mutex cannot be
// made. Called on the application's thread before the filter is created.
extern "C" typedef int (*FramesourceInitializeFunction)(FrameCallback callback, FrameFilterConfig config);

// GetDeliveredTime: the time in ms up to which every connected pin of the
// filter made last has delivered its samples downstream; -1 while no filter
// exists. The encoders and the writer take a sample before its delivery
// returns, so this is how much of the mix has been written. Any thread.
extern "C" typedef int (*FramesourceDeliveredTimeFunction)();
