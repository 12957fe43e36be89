#pragma once
// aacenc: the AAC-LC encoder library of the codecdmo AAC object, over
// libavcodec's AAC encoder. Input is interleaved 16-bit PCM, 1024 samples per
// channel per call; output is one raw AAC frame (ISO/IEC 14496-3 raw_data_block)
// or, in ADTS form, the frame behind its 7-byte header (ISO/IEC 14496-3
// 1.A.2.2).
//
// Every call returns 0 on success or one of the negative codes below.
// Thread: one encoder is used by one thread at a time; different encoders run
// at once.

#include <cstdint>

extern "C" {

enum : int32_t {
  AACENC_OK = 0,
  AACENC_ERR_ARGUMENT = -1,     // null pointer, or a PCM length that is not one frame
  AACENC_ERR_NO_MEMORY = -2,
  AACENC_ERR_CONFIG = -3,       // channels, rate, format or bit rate not supported
  AACENC_ERR_NOT_READY = -4,    // Encode before a successful Reset, or after Flush
  AACENC_ERR_ENCODE = -5,       // the codec failed
  AACENC_ERR_OUTPUT_SPACE = -6, // the frame does not fit into the output capacity
};

// The configuration of Reset and GenerateHeader: seven 32-bit words.
struct AacEncConfig {
  int32_t channels;    // 1 or 2
  int32_t sampleRate;  // one of the twelve rates of ISO/IEC 14496-3 Table 1.18 from 8000 to 96000
  int32_t pns;         // perceptual noise substitution 0/1
  int32_t tns;         // temporal noise shaping 0/1
  int32_t formatA;     // 1 or 2: the caller's pairing with formatB; not read further
  int32_t formatB;     // 0 raw frames, 2 ADTS frames
  int32_t bitRate;     // bits per second; above 6144 bits per channel and frame it is cut to that
};

struct AacEncoder;

// Creates an encoder (not yet configured) in *handle; null on failure.
int32_t Mpeg4AacEnc_Create(AacEncoder** handle);
// (Re)opens the codec for config; the encoder's delay starts again.
int32_t Mpeg4AacEnc_Reset(AacEncoder* handle, const AacEncConfig* config);
// Encodes one frame of pcmBytes (channels x 2048) bytes into out, whose
// capacity is *ioBytes on entry; on return *ioBytes holds the bytes written.
// While the codec's delay holds the first frames back nothing is written
// (*ioBytes 0). On an error *ioBytes is 0 and nothing is written.
int32_t Mpeg4AacEnc_Encode(AacEncoder* handle, const uint8_t* pcm, uint32_t pcmBytes, uint8_t* out,
                           uint32_t* ioBytes);
// At the end of the stream: writes the next frame the codec's delay still
// holds into out (capacity *ioBytes on entry, bytes written on return); 0
// bytes once every frame is out. After the first Flush, Encode answers
// AACENC_ERR_NOT_READY until the next Reset.
int32_t Mpeg4AacEnc_Flush(AacEncoder* handle, uint8_t* out, uint32_t* ioBytes);
// Writes the 2-byte AudioSpecificConfig of config (ISO/IEC 14496-3 1.6.2.1:
// object type 2, sampling frequency index, channel configuration) into
// header, whose room is *ioLength on entry; *ioLength becomes 2. work may be
// null (no scratch is needed).
int32_t Mpeg4AacEnc_GenerateHeader(const AacEncConfig* config, uint8_t* header, uint32_t* ioLength, void* work);
// Frees the encoder; null is accepted.
int32_t Mpeg4AacEnc_Delete(AacEncoder* handle);

}  // extern "C"
