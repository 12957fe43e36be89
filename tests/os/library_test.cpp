#include "platform/os/library.h"

#include <gtest/gtest.h>

#include "platform/os/os_error.h"

using namespace ov;

TEST(Library, LoadsAndFindsExports) {
  Library math;
  ASSERT_TRUE(math.Load(u"libm.so.6")) << math.Error();
  auto cosine = math.Function<double (*)(double)>("cos");
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(math.Symbol("no_such_export_here"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorProcedureNotFound);
  EXPECT_FALSE(math.Error().empty());
  Library moved = std::move(math);
  EXPECT_TRUE(moved.IsLoaded());
  EXPECT_FALSE(math.IsLoaded());

  Library missing;
  EXPECT_FALSE(missing.Load(u"/nonexistent/framesource.so"));
  EXPECT_EQ(GetLastError(), kErrorModuleNotFound);
  EXPECT_FALSE(missing.Error().empty());
  EXPECT_EQ(missing.Symbol("Initialize"), nullptr);
}
