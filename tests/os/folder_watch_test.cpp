#include "platform/os/folder_watch.h"

#include <gtest/gtest.h>

#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/os_error.h"
#include "tests/support/test_paths.h"

using namespace ov;

namespace {

constexpr uint32_t kNames = kNotifyFileName | kNotifyDirName | 0x80000000u;

// Polls as the media browser does (zero time-out), a little while at most.
bool SeesChange(FolderWatch& watch) {
  for (int i = 0; i < 200; ++i) {
    if (watch.Wait(0) == kWaitObject0) return true;
    Sleep(5);
  }
  return false;
}

}  // namespace

TEST(FolderWatch, PollsNewFilesInTheTree) {
  const String dir = String::FromUtf8Lossy(ovtest::ScratchDir());
  ASSERT_TRUE(CreateFolder(JoinPath(dir, u"sub")));
  std::unique_ptr<FolderWatch> owned = WatchFolder(dir, true);
  ASSERT_NE(owned, nullptr);
  FolderWatch& watch = *owned;
  EXPECT_EQ(watch.Wait(0), kWaitTimeout);

  ASSERT_TRUE(WriteWholeFile(JoinPath(dir, u"sub/clip.3gp"), "x", 1));
  EXPECT_TRUE(SeesChange(watch));
  EXPECT_EQ(watch.Wait(0), kWaitObject0);  // stays signalled until re-armed
  watch.Next();
  EXPECT_EQ(watch.Wait(0), kWaitTimeout);

  // A folder made after the start is watched too.
  ASSERT_TRUE(CreateFolder(JoinPath(dir, u"new")));
  EXPECT_TRUE(SeesChange(watch));
  watch.Next();
  ASSERT_TRUE(WriteWholeFile(JoinPath(dir, u"new/pic.jpg"), "x", 1));
  EXPECT_TRUE(SeesChange(watch));
  watch.Next();
  ASSERT_TRUE(DeleteFile(JoinPath(dir, u"new/pic.jpg")));
  EXPECT_TRUE(SeesChange(watch));
}

TEST(FolderWatch, FilterAndSubtreeFlagLimitWhatCounts) {
  const String dir = String::FromUtf8Lossy(ovtest::ScratchDir());
  ASSERT_TRUE(CreateFolder(JoinPath(dir, u"sub")));
  ASSERT_TRUE(WriteWholeFile(JoinPath(dir, u"existing.wav"), "x", 1));
  FolderWatch top;
  ASSERT_TRUE(top.Start(dir, false, kNames));
  ASSERT_TRUE(WriteWholeFile(JoinPath(dir, u"sub/deep.wav"), "x", 1));
  ASSERT_TRUE(WriteWholeFile(JoinPath(dir, u"existing.wav"), "yy", 2));  // a write is no name change
  Sleep(50);
  EXPECT_EQ(top.Wait(0), kWaitTimeout);
  const uint32_t start = GetTickCount();
  EXPECT_EQ(top.Wait(30), kWaitTimeout);
  EXPECT_GE(TicksSince(start, GetTickCount()), 30u);

  EXPECT_EQ(WatchFolder(JoinPath(dir, u"missing"), true), nullptr);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  FolderWatch bad;
  EXPECT_FALSE(bad.Start(JoinPath(dir, u"missing"), true, kNames));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_EQ(bad.Wait(0), kWaitFailed);
}
