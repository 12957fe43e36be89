#pragma once
// The numbers that choose an encoder: the codec ids of an export's settings
// words (the video and audio codec words, also the frame source's
// VideoCodecId and AudioCodecId) and the class ids of the encoder objects and
// the frame source filter the encoding graphs create. The engine's export
// jobs, the mixer, the plug-ins, the tools and the tests all read them here.

#include <cstdint>

#include "platform/com/guid.h"

namespace dshow {

using com::GUID;

// Codec ids of the settings words. Sound id 1 goes into a ".wmv" file as
// WMA; without a picture it is PCM in a ".wav" file.
enum : uint32_t {
  kVideoCodecWmv = 1,
  kVideoCodecH263 = 2,
  kVideoCodecOutside = 3,  // a video encoder object outside the program
  kVideoCodecMpeg4 = 4,
  kAudioCodecWma = 1,
  kAudioCodecAac = 2,
  kAudioCodecAmr = 3,
  kAudioCodecAmrToo = 4,  // a second id for AMR-NB
  kCodecNone = 255,       // no such stream
};

// The encoder objects, by the codec id that picks them.
// Video 1: the WMV encoder object.
constexpr GUID CLSID_WmvEncoderDmo{0xD23B90D0, 0x144F, 0x46BD, {0x84, 0x1D, 0x59, 0xE4, 0xEB, 0x19, 0xDC, 0x59}};
// Video 2: codecdmo's H.263 object.
constexpr GUID CLSID_CH263EncDmo{0x5FC03B04, 0xFE69, 0x4045, {0x98, 0x32, 0xEB, 0x15, 0x1E, 0x70, 0xC5, 0x91}};
// Video 3: an encoder object outside the program.
constexpr GUID CLSID_OutsideVideoEncDmo{0xED6AF770, 0xAA2E, 0x4D19, {0x90, 0x88, 0xAC, 0xB3, 0x7C, 0x99, 0x08, 0xE8}};
// Video 4: codecdmo's MPEG-4 object.
constexpr GUID CLSID_CMpeg4EncDmo{0xEF20DDFA, 0x0D19, 0x463A, {0xAB, 0x46, 0xE5, 0xD8, 0xEF, 0x6E, 0xFD, 0x61}};
// Audio 2: codecdmo's AAC-LC object.
constexpr GUID CLSID_CAacEncDmo{0xF0DB0B53, 0x53FF, 0x49B9, {0x8C, 0x51, 0x4E, 0xD4, 0x4C, 0xEC, 0x6D, 0x47}};
// Audio 3 and 4: codecdmo's AMR-NB object.
constexpr GUID CLSID_CAmrNbEncDmo{0x2F20DDFA, 0x0D19, 0x463A, {0xAB, 0x46, 0xE5, 0xD8, 0xEF, 0x6E, 0xFD, 0x61}};

// The frame source filter (the framesource plug-in), the graphs' source.
constexpr GUID CLSID_FrameFilter{0x09B59437, 0x38E2, 0x4486, {0x92, 0xEE, 0x93, 0x04, 0x56, 0xBC, 0x2C, 0x28}};

}  // namespace dshow
