#pragma once
// The platform's WMA and WMV decoder objects, media objects
// (dshow::IMediaObject) of one input and one output stream over
// libavcodec:
// - WMA: input MEDIATYPE_Audio with subtype {00000160-...} to {00000163-...}
//   (WMA 1, WMA 2, WMA Pro, WMA Lossless) and a WAVEFORMATEX followed by its
//   cbSize codec bytes; each input buffer holds whole media objects (blocks
//   of the format's block align); output 16-bit PCM of the same channels and
//   rate.
// - WMV: input MEDIATYPE_Video with subtype "WMV1", "WMV2" or "WMV3" and a
//   VIDEOINFOHEADER followed by the codec bytes; each input buffer is the
//   40-byte BITMAPINFOHEADER (image size = the frame's length), the codec
//   bytes and one compressed frame; output MEDIASUBTYPE_RGB565, a bottom-up
//   bitmap of the input's size (BT.601 video-range YUV converted here).
//
// CreateCodecDMO stands for the export of that name of the platform's WMA
// and WMV decoder libraries: nothing is loaded; the two classes are
// registered in this process (com::RegisterClassObject) before the first
// creation and made by com::CoCreateInstance.
//
// Thread: any thread; an object's lock serialises the calls to it.

#include "platform/com/unknown.h"
#include "platform/dshow/media_object.h"

namespace decoders {

using com::GUID;
using com::HRESULT;

constexpr GUID CLSID_WmaDecoderObject{0x3D2A6E41, 0x8C17, 0x4B90, {0x9E, 0x52, 0x71, 0x0C, 0xA4, 0x3B, 0x28, 0xD5}};
constexpr GUID CLSID_WmvDecoderObject{0x3D2A6E42, 0x8C17, 0x4B90, {0x9E, 0x52, 0x71, 0x0C, 0xA4, 0x3B, 0x28, 0xD5}};

enum class CodecLibrary { kWma, kWmv };

// A new decoder object of the library's kind in *object (one reference):
// S_OK, or the creation's failure (*object null).
HRESULT CreateCodecDMO(CodecLibrary library, dshow::IMediaObject** object);

// The class creation functions behind the two class ids.
HRESULT CreateWmaDecoderObject(const GUID& iid, void** object);
HRESULT CreateWmvDecoderObject(const GUID& iid, void** object);

}  // namespace decoders
