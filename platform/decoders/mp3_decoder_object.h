#pragma once
// The platform's MP3 decoder object: a media object (dshow::IMediaObject)
// that takes MPEG audio frames (Layers I-III, MPEG-1, 2 and 2.5) and gives
// 16-bit PCM, over libmpg123 in feed mode.
//
// Input type: MEDIATYPE_Audio, subtype 0x55 (MP3), FORMAT_WaveFormatEx with
// format tag 0x55, 1 or 2 channels and a rate. Output type (one proposal):
// PCM, 16 bits, the input's channels and rate; the decoder mixes or doubles
// the stream's channels to that count; frames at another rate give nothing.
// Each ProcessInput takes whole frames;
// the following ProcessOutput gives their samples: the decoder reads no
// further ahead than the data fed (a frame comes out after its own input,
// not after the next one). A Xing/Info frame is decoded as a plain (silent)
// frame and no gapless trimming is done, so every frame fed gives its full
// sample count. Output that does not fit the buffer comes out in pieces
// marked DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE. Flush and Discontinuity drop the
// decoder's state.
//
// Creation: com::CoCreateInstance(CLSID_Mp3DecoderObject, ...) once
// RegisterMp3DecoderObject has put the class into the process's class table.
//
// Thread: any thread; the object's lock serialises the calls.

#include <cstdint>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace decoders {

// {6B928210-84E7-4930-9B33-1EB6F02B526E}
constexpr com::GUID CLSID_Mp3DecoderObject{0x6B928210, 0x84E7, 0x4930, {0x9B, 0x33, 0x1E, 0xB6, 0xF0, 0x2B, 0x52, 0x6E}};
// Subtype and format tag of MPEG audio Layer III in a WAVEFORMATEX.
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x55;

// The class's creation function (what the class table calls).
com::HRESULT CreateMp3DecoderObject(const com::GUID& iid, void** object);

// Registers the class within the process (com::RegisterClassObject); the
// first call does it, later ones return at once. Any thread.
void RegisterMp3DecoderObject();

}  // namespace decoders
