#pragma once
// amrnbenc: the AMR-NB speech encoder library of the codecdmo AMR object, over
// opencore-amrnb. One call codes 160 16-bit samples at 8 kHz into one frame of
// the storage format (RFC 4867 section 5.3): a header byte (frame type in bits
// 6-3, quality bit 2) and the packed speech bits.
//
// Every call returns 0 on success or one of the negative codes below.
// Thread: one encoder is used by one thread at a time; different encoders run
// at once.

#include <cstdint>

extern "C" {

enum : int32_t {
  AMRNBENC_OK = 0,
  AMRNBENC_ERR_ARGUMENT = -1,      // null pointer, or a PCM length that is not 320 bytes
  AMRNBENC_ERR_NO_MEMORY = -2,
  AMRNBENC_ERR_CONFIG = -3,        // mode above 7, or a media type value above 1
  AMRNBENC_ERR_NOT_READY = -4,     // EncodeFrame before a successful Reset
  AMRNBENC_ERR_OUTPUT_SPACE = -6,  // the frame does not fit into the output capacity
};

// The configuration of ResetEncoder: three 16-bit fields.
struct AmrNbEncConfig {
  int16_t mode;       // 0-7: 4750 to 12200 bit/s
  int16_t dtx;        // discontinuous transmission 0/1 (silence as SID and empty frames)
  int16_t mediaType;  // 0 or 1; both give storage-format frames
};

struct AmrNbEncoder;

// Creates an encoder in *handle (DTX off until ResetEncoder); null on failure.
int32_t AMRNBENC_CreateEncoder(AmrNbEncoder** handle);
// Takes config and starts the speech state again (the DTX switch is fixed
// for the life of an opencore state, so every reset makes a new one).
int32_t AMRNBENC_ResetEncoder(AmrNbEncoder* handle, const AmrNbEncConfig* config);
// Codes 320 bytes of PCM into out (capacity *ioBytes on entry, bytes written
// on return: 1 to 32). On an error *ioBytes is 0 and nothing is written.
int32_t AMRNBENC_EncodeFrame(AmrNbEncoder* handle, const uint8_t* pcm, uint32_t pcmBytes, uint8_t* out,
                             uint32_t* ioBytes);
// Frees the encoder; null is accepted.
int32_t AMRNBENC_DeleteEncoder(AmrNbEncoder* handle);

}  // extern "C"
