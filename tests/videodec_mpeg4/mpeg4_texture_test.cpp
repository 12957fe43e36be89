// Texture decoding of the MPEG-4 decoder.
#include <gtest/gtest.h>

namespace {

}  // namespace
