#pragma once
// How much text the extent functions have measured: tests count the work of
// a text layout with it, where a clock would depend on the machine.
//
// Thread: each thread has its own count.

#include <cstdint>

namespace gfx {

// Characters passed to GetTextExtentExPoint (and GetTextExtentPoint) on the
// calling thread since it started.
uint64_t MeasuredCharacters();

}  // namespace gfx
