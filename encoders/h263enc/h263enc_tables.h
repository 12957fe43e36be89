#pragma once
// Quantiser tables of h263enc (ITU-T H.263 Annexes J and T).

#include <cstdint>

namespace venc {

// Annex T, Table T.2: chroma QUANT_C by QUANT (entry 0 unused).
extern const uint8_t kChromaQuant[32];
// Annex J, Table J.2: STRENGTH of the deblocking filter by QUANT (entry 0 unused).
extern const uint8_t kDeblockStrength[32];
// Annex T, Table T.1: the QUANT that the two-bit DQUANT reaches from the
// previous QUANT, [0] for "10", [1] for "11" (entry 0 unused).
extern const uint8_t kModifiedDquant[2][32];

}  // namespace venc
