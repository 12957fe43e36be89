// Header parsing and the code tables of the MPEG-4 decoder.
#include <gtest/gtest.h>

#include "codecs/videodec/mpeg4/mpeg4_vlc.h"

namespace {

TEST(Mpeg4Tables, EveryCodeListIsPrefixFree) { EXPECT_EQ(videodec::Mpeg4VlcSelfCheck(), 0); }

}  // namespace
