#pragma once
// Gain table of the software wave mixer: 16.16 fixed-point gains from 1.0
// (entry 0) down in steps of about 0.69 dB to silence (entry 63).

#include <cstdint>

namespace engine {

extern const uint32_t kSoftMixerGain[64];

}  // namespace engine
