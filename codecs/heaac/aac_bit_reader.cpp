#include "codecs/heaac/aac_bit_reader.h"

namespace heaac {

void AacStartBitReader(AacBitReader* r, const uint8_t* buffer, uint32_t length) {
  *r = AacBitReader{};
  r->start = buffer;
  r->length = buffer ? length : 0;
}

}  // namespace heaac
