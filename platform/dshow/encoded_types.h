#pragma once
// The class ids and media subtypes that the encoding graphs pass between the
// encoder objects and the outside filters (multiplexer, ASF writer, WMV
// encoder object): the platform knows them as the multiplexer reads them.
// The encoder objects' own class ids are in encoder_ids.h.

#include "platform/com/guid.h"
#include "platform/dshow/dshow_types.h"

namespace dshow {

// H.263 elementary stream (codecdmo's H.263 object).
constexpr GUID MEDIASUBTYPE_H263Stream{0xCA918D74, 0x2EF1, 0x4A26, {0xAE, 0x40, 0x03, 0x87, 0x9E, 0x28, 0xEC, 0x9C}};
// MPEG-4 Simple Profile: the stream header follows the VIDEOINFOHEADER.
constexpr uint32_t kFourccM4S2 = 0x3253344D;  // "M4S2"
constexpr GUID MEDIASUBTYPE_M4S2 = com::FourccGuid(kFourccM4S2);
// AAC raw frames, the AudioSpecificConfig after the WAVEFORMATEX.
constexpr GUID MEDIASUBTYPE_AacRaw = com::FourccGuid(0x0000A106);
// AAC in ADTS frames.
constexpr GUID MEDIASUBTYPE_AacAdts{0x80882CB7, 0x2C34, 0x4036, {0x98, 0xFE, 0x82, 0x53, 0xF8, 0x70, 0x4C, 0xB2}};
// AMR-NB storage-format frames (each with its header byte).
constexpr GUID MEDIASUBTYPE_AmrNb{0xCE0CFCE7, 0x0DFA, 0x4930, {0x93, 0x3E, 0x48, 0xB7, 0x2C, 0xFF, 0x72, 0x2D}};
// WMV2 frames (the WMV encoder object), its 4-byte stream header after the
// VIDEOINFOHEADER.
constexpr uint32_t kFourccWmv2 = 0x32564D57;  // "WMV2"
constexpr GUID MEDIASUBTYPE_WMV2 = com::FourccGuid(kFourccWmv2);

// The MP4/3GP multiplexer and file sink, created by SetOutputFileName with
// this id as the output type.
constexpr GUID MEDIASUBTYPE_Mp4Mux{0x0AB65D06, 0xC2B5, 0x4735, {0xBD, 0x45, 0xEF, 0x03, 0x36, 0xB5, 0x91, 0x86}};
// The ASF writer filter.
constexpr GUID CLSID_AsfWriter{0x4F4BA16C, 0xCCB0, 0x4D23, {0xB1, 0xE8, 0x67, 0x2C, 0x7D, 0xFE, 0x4A, 0x02}};

}  // namespace dshow
