#pragma once
// Annex B byte streams: NAL units delimited by start codes (ITU-T H.264 B.2).

#include <cstddef>
#include <cstdint>

namespace videodec {
namespace h264 {

// Finds the next NAL unit at or after `pos`: on success sets *begin to its
// header byte and *end past its last byte (trailing zero bytes of the next
// start code excluded) and returns true.
bool NextAnnexBNal(const uint8_t* data, size_t size, size_t pos, size_t* begin, size_t* end);

}  // namespace h264
}  // namespace videodec
