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

// Finds the next access unit at or after `pos` (ITU-T H.264 7.4.1.2.3): the
// bytes from its first start code up to the start code of the next one. A new
// access unit begins, after a slice, at an access unit delimiter, a parameter
// set, an SEI unit or a slice whose first_mb_in_slice is 0 (pictures sent in
// arbitrary slice order are not split apart). Returns false when no NAL unit
// is left.
bool NextAnnexBAccessUnit(const uint8_t* data, size_t size, size_t pos, size_t* begin, size_t* end);

}  // namespace h264
}  // namespace videodec
