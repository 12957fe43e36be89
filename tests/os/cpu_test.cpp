#include "platform/cpu/cpu.h"

#include <gtest/gtest.h>

TEST(CpuFlags, MaskClearsFeaturesAndRestores) {
  const uint32_t all = ov::GetCpuFlags();
  ov::SetCpuFlagsMask(0);
  EXPECT_EQ(ov::GetCpuFlags(), 0u);
  ov::SetCpuFlagsMask(ov::kCpuSse2);
  EXPECT_EQ(ov::GetCpuFlags(), all & ov::kCpuSse2);
  ov::SetCpuFlagsMask(~0u);
  EXPECT_EQ(ov::GetCpuFlags(), all);
}
