#include "platform/decoders/amrnb_decoder.h"

#include <opencore-amrnb/interf_dec.h>

namespace ov {

AmrNbDecoder::~AmrNbDecoder() { Exit(); }

bool AmrNbDecoder::Init() {
  Exit();
  state_ = Decoder_Interface_init();
  return state_ != nullptr;
}

void AmrNbDecoder::Decode(const uint8_t* frame, int16_t out[kSamplesPerFrame]) {
  if (!state_) return;
  Decoder_Interface_Decode(state_, frame, out, 0);
}

void AmrNbDecoder::Exit() {
  if (state_) Decoder_Interface_exit(state_);
  state_ = nullptr;
}

}  // namespace ov
