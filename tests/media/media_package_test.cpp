// The walk over a package's entry names, as the effect browser lists
// "media.pak": the in-memory package walks its names in the order they were
// first added, a replaced entry keeps its place, and an emptied package
// walks nothing.
#include "media/media_package.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::u16string> Names(const media::MediaPackage& package) {
  std::vector<std::u16string> names;
  media::PackageIterator it;
  for (bool ok = package.FirstEntryName(&it); ok; ok = package.NextEntryName(&it)) names.emplace_back(it.name.View());
  return names;
}

TEST(MediaPackage, MemoryPackageWalksItsNamesInTheOrderAdded) {
  media::MemoryPackage pak;
  EXPECT_TRUE(Names(pak).empty());
  pak.Add(u"overlays\\star.bmp", {1, 2, 3});
  pak.Add(u"clip.3gp", {4});
  pak.Add(u"a.gif", {5});
  // Replacing an entry's bytes keeps its place in the walk.
  pak.Add(u"clip.3gp", {6, 7});
  EXPECT_EQ(Names(pak), (std::vector<std::u16string>{u"overlays\\star.bmp", u"clip.3gp", u"a.gif"}));
  uint32_t size = 0;
  ASSERT_TRUE(pak.ReadEntry(u"clip.3gp", &size));
  EXPECT_EQ(size, 2u);
  // A walk started again begins at the first name; one run past its end
  // stays there.
  media::PackageIterator it;
  ASSERT_TRUE(pak.FirstEntryName(&it));
  ASSERT_TRUE(pak.NextEntryName(&it));
  ASSERT_TRUE(pak.NextEntryName(&it));
  EXPECT_FALSE(pak.NextEntryName(&it));
  EXPECT_FALSE(pak.NextEntryName(&it));
  ASSERT_TRUE(pak.FirstEntryName(&it));
  EXPECT_EQ(it.name, ov::String(u"overlays\\star.bmp"));
  pak.Clear();
  EXPECT_TRUE(Names(pak).empty());
  EXPECT_FALSE(pak.FirstEntryName(&it));
}

}  // namespace
