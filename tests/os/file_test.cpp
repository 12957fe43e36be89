#include "platform/os/file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/os/os_error.h"
#include "tests/support/test_paths.h"

using namespace ov;

namespace {

String Scratch() { return String::FromUtf8Lossy(ovtest::ScratchDir()); }

void Touch(const String& path, const std::string& content = "x") {
  std::ofstream(path.ToUtf8Lossy(), std::ios::binary) << content;
}

std::string Contents(const String& path) {
  std::vector<uint8_t> bytes = ovtest::ReadFileBytes(path.ToUtf8Lossy());
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(File, OpenModesAndTheirErrors) {
  const String dir = Scratch();
  const String existing = JoinPath(dir, u"existing.bin");
  Touch(existing, "abc");
  struct Case {
    String path;
    uint32_t access;
    CreateMode mode;
    bool ok;
    uint32_t error;
  };
  const Case cases[] = {
      {existing, kGenericRead, CreateMode::kOpenExisting, true, kErrorSuccess},
      {existing, kGenericWrite, CreateMode::kCreateNew, false, kErrorFileExists},
      {existing, kGenericRead, CreateMode::kOpenAlways, true, kErrorAlreadyExists},
      {JoinPath(dir, u"missing.bin"), kGenericRead, CreateMode::kOpenExisting, false, kErrorFileNotFound},
      {JoinPath(dir, u"missing.bin"), kGenericWrite, CreateMode::kTruncateExisting, false, kErrorFileNotFound},
      {JoinPath(dir, u"no/such/folder.bin"), kGenericRead, CreateMode::kOpenExisting, false, kErrorPathNotFound},
      {JoinPath(dir, u"no/folder.bin"), kGenericWrite, CreateMode::kCreateAlways, false, kErrorPathNotFound},
      {JoinPath(existing, u"under-a-file"), kGenericRead, CreateMode::kOpenExisting, false, kErrorPathNotFound},
      {dir, kGenericRead, CreateMode::kOpenExisting, false, kErrorAccessDenied},
      {JoinPath(dir, u"new.bin"), kGenericWrite, CreateMode::kOpenAlways, true, kErrorSuccess},
      {JoinPath(dir, u"new2.bin"), kGenericWrite, CreateMode::kCreateNew, true, kErrorSuccess},
      {existing, kGenericRead, CreateMode::kTruncateExisting, false, kErrorInvalidParameter},
      {String(), kGenericRead, CreateMode::kOpenExisting, false, kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    File f;
    SetLastError(12345);
    EXPECT_EQ(f.Open(c.path, c.access, kShareRead, c.mode), c.ok) << c.path.ToUtf8Lossy();
    EXPECT_EQ(GetLastError(), c.error) << c.path.ToUtf8Lossy();
    EXPECT_EQ(f.IsOpen(), c.ok);
  }
  // Create-always on an existing file empties it and reports 183.
  File f;
  ASSERT_TRUE(f.Open(existing, kGenericWrite, kShareNone, CreateMode::kCreateAlways));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  uint64_t size = 1;
  EXPECT_TRUE(f.GetSize(&size));
  EXPECT_EQ(size, 0u);
}

TEST(File, ReadWriteSeekTruncate) {
  const String path = JoinPath(Scratch(), u"data.bin");
  File f;
  ASSERT_TRUE(f.Open(path, kGenericRead | kGenericWrite, kShareRead, CreateMode::kCreateAlways));
  uint32_t n = 0;
  ASSERT_TRUE(f.Write("0123456789", 10, &n));
  EXPECT_EQ(n, 10u);
  uint64_t pos = 0;
  ASSERT_TRUE(f.Seek(-4, SeekFrom::kEnd, &pos));
  EXPECT_EQ(pos, 6u);
  char buf[16] = {};
  ASSERT_TRUE(f.Read(buf, 16, &n));  // a short read at the end succeeds
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buf, 4), "6789");
  ASSERT_TRUE(f.Read(buf, 16, &n));
  EXPECT_EQ(n, 0u);
  SetLastError(0);
  EXPECT_FALSE(f.Seek(-11, SeekFrom::kEnd, &pos));
  EXPECT_EQ(GetLastError(), kErrorNegativeSeek);
  EXPECT_EQ(f.Position(), 10u);  // a failed seek does not move
  ASSERT_TRUE(f.Seek(3, SeekFrom::kBegin));
  ASSERT_TRUE(f.Seek(2, SeekFrom::kCurrent));
  ASSERT_TRUE(f.SetEndOfFile());
  uint64_t size = 0;
  ASSERT_TRUE(f.GetSize(&size));
  EXPECT_EQ(size, 5u);
  // Seeking past the end and writing extends with zeros.
  ASSERT_TRUE(f.Seek(8, SeekFrom::kBegin));
  ASSERT_TRUE(f.Write("Z", 1, &n));
  FileTime created = 0, written = 0;
  EXPECT_TRUE(f.GetTimes(&created, &written));
  EXPECT_GT(written, 130000000000000000ULL);  // after 2012 in 100 ns units since 1601
  f.Close();
  EXPECT_EQ(Contents(path), std::string("01234\0\0\0Z", 9));

  File reader;
  ASSERT_TRUE(reader.Open(path, kGenericRead, kShareRead, CreateMode::kOpenExisting));
  EXPECT_FALSE(reader.Write("x", 1, &n));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  File closed;
  EXPECT_FALSE(closed.Read(buf, 1, &n));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
}

TEST(File, ReadOnlyAttributeIsEnforced) {
  const String dir = Scratch();
  const String path = JoinPath(dir, u"user.opt");
  Touch(path, "options");
  EXPECT_EQ(GetFileAttributes(path) & kAttributeReadOnly, 0u);
  ASSERT_TRUE(SetFileAttributes(path, kAttributeReadOnly));
  const uint32_t attributes = GetFileAttributes(path);
  EXPECT_EQ(attributes & (kAttributeReadOnly | kAttributeDirectory), kAttributeReadOnly);

  File f;
  EXPECT_FALSE(f.Open(path, kGenericWrite, kShareNone, CreateMode::kOpenExisting));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_FALSE(f.Open(path, kGenericRead, kShareNone, CreateMode::kCreateAlways));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_TRUE(f.Open(path, kGenericRead, kShareRead, CreateMode::kOpenExisting));
  f.Close();
  EXPECT_FALSE(DeleteFile(path));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_FALSE(WriteFileAtomically(path, "new", 3));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(Contents(path), "options");

  // Saving over a read-only file: clear the bit (keeping the others), then delete.
  ASSERT_TRUE(SetFileAttributes(path, attributes & ~kAttributeReadOnly));
  EXPECT_TRUE(DeleteFile(path));
  EXPECT_EQ(GetFileAttributes(path), kInvalidAttributes);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(GetFileAttributes(JoinPath(dir, u"gone/x")), kInvalidAttributes);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_NE(GetFileAttributes(dir) & kAttributeDirectory, 0u);
}

TEST(File, SharingAmongOpenFiles) {
  const String dir = Scratch();
  const String path = JoinPath(dir, u"clip.wav");
  // A wave writer keeps three handles on one file, all sharing read and write.
  File main, riff, data;
  ASSERT_TRUE(main.Open(path, kGenericRead | kGenericWrite, kShareRead | kShareWrite, CreateMode::kCreateAlways));
  ASSERT_TRUE(riff.Open(path, kGenericWrite, kShareRead | kShareWrite, CreateMode::kOpenExisting));
  ASSERT_TRUE(data.Open(path, kGenericWrite, kShareRead | kShareWrite, CreateMode::kOpenExisting));
  EXPECT_FALSE(DeleteFile(path));
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  main.Close();
  riff.Close();
  data.Close();

  File exclusive, other;
  ASSERT_TRUE(exclusive.Open(path, kGenericRead | kGenericWrite, kShareNone, CreateMode::kOpenExisting));
  EXPECT_FALSE(other.Open(path, kGenericRead, kShareRead | kShareWrite, CreateMode::kOpenExisting));
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  File moved = std::move(exclusive);
  EXPECT_FALSE(other.Open(path, kGenericRead, kShareRead | kShareWrite, CreateMode::kOpenExisting));
  moved.Close();
  EXPECT_TRUE(other.Open(path, kGenericRead, kShareRead, CreateMode::kOpenExisting));
  File writer;
  EXPECT_FALSE(writer.Open(path, kGenericWrite, kShareRead, CreateMode::kOpenExisting));  // reader refuses writers
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  other.Close();
  EXPECT_TRUE(DeleteFile(path));
}

TEST(File, FolderCreationErrors) {
  const String dir = Scratch();
  const String folder = JoinPath(dir, u"Quelvarin");
  EXPECT_TRUE(CreateFolder(folder));
  EXPECT_FALSE(CreateFolder(folder));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_FALSE(CreateFolder(folder + u"/"));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_FALSE(CreateFolder(JoinPath(dir, u"missing/child")));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_TRUE(CreateFolderTree(JoinPath(dir, u"a/b/c")));
  EXPECT_TRUE(CreateFolderTree(JoinPath(dir, u"a/b/c")));
  EXPECT_TRUE(FolderExists(JoinPath(dir, u"a/b/c")));
  EXPECT_FALSE(RemoveFolder(JoinPath(dir, u"a")));
  EXPECT_EQ(GetLastError(), kErrorDirNotEmpty);
  EXPECT_TRUE(RemoveFolder(JoinPath(dir, u"a/b/c")));
  EXPECT_FALSE(DeleteFile(JoinPath(dir, u"a")));  // a folder is not a file
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
}

TEST(File, EnumerationMatchesCaseInsensitively) {
  const String dir = Scratch();
  Touch(JoinPath(dir, u"Arial.TTF"));
  Touch(JoinPath(dir, u"b.ttf"), "12345");
  Touch(JoinPath(dir, u"c.ttc"));
  Touch(JoinPath(dir, u"readme"));
  ASSERT_TRUE(CreateFolder(JoinPath(dir, u"sub.ttf")));

  auto names = [](const std::vector<FindData>& found) {
    std::vector<std::string> out;
    for (const FindData& f : found) out.push_back(f.name.ToUtf8Lossy());
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(names(ListFolder(dir, u"*.ttf")), (std::vector<std::string>{"Arial.TTF", "b.ttf", "sub.ttf"}));
  EXPECT_EQ(names(ListFolder(dir, u"*")).size(), 5u);
  EXPECT_EQ(names(ListFolder(dir, u"*.*")).size(), 5u);
  EXPECT_EQ(names(ListFolder(dir, u"?.TT?")), (std::vector<std::string>{"b.ttf", "c.ttc"}));

  FileFinder finder;
  FindData data;
  ASSERT_TRUE(finder.First(JoinPath(dir, u"B.TTF"), &data));
  EXPECT_EQ(data.name, u"b.ttf");
  EXPECT_EQ(data.size, 5u);
  EXPECT_EQ(data.attributes & kAttributeDirectory, 0u);
  EXPECT_NE(data.last_write, 0u);
  EXPECT_FALSE(finder.Next(&data));
  EXPECT_EQ(GetLastError(), kErrorNoMoreFiles);
  ASSERT_TRUE(finder.First(JoinPath(dir, u"sub*"), &data));
  EXPECT_NE(data.attributes & kAttributeDirectory, 0u);
  EXPECT_FALSE(finder.First(JoinPath(dir, u"*.fon"), &data));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(finder.First(JoinPath(dir, u"nowhere/*"), &data));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_FALSE(finder.Next(&data));
}

TEST(File, MoveReplaceCopy) {
  const String dir = Scratch();
  const String a = JoinPath(dir, u"a.mix"), b = JoinPath(dir, u"b.mix"), c = JoinPath(dir, u"c.mix");
  Touch(a, "A");
  Touch(b, "B");
  EXPECT_FALSE(MoveFile(a, b));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_TRUE(MoveFile(a, c));
  EXPECT_FALSE(FileExists(a));
  EXPECT_EQ(Contents(c), "A");
  EXPECT_FALSE(MoveFile(a, c));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_TRUE(ReplaceFile(c, b));
  EXPECT_EQ(Contents(b), "A");
  EXPECT_FALSE(CopyFile(b, b, true));
  EXPECT_EQ(GetLastError(), kErrorFileExists);
  EXPECT_TRUE(CopyFile(b, a, true));
  EXPECT_EQ(Contents(a), "A");
}

TEST(File, WholeFileHelpers) {
  const String dir = Scratch();
  const String path = JoinPath(dir, u"project.mix");
  ASSERT_TRUE(WriteWholeFile(path, "first", 5));
  ASSERT_TRUE(WriteFileAtomically(path, "second save", 11));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(path, &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "second save");
  EXPECT_EQ(ListFolder(dir, u"*").size(), 1u);  // no temporary file left
  EXPECT_FALSE(ReadWholeFile(path, &bytes, 4));
  EXPECT_EQ(GetLastError(), kErrorNotEnoughMemory);
  EXPECT_FALSE(WriteFileAtomically(JoinPath(dir, u"missing/project.mix"), "x", 1));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_FALSE(ReadWholeFile(JoinPath(dir, u"none"), &bytes));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);

  EXPECT_EQ(JoinPath(u"/a/", u"/b"), u"/a/b");
  EXPECT_EQ(JoinPath(u"/", u"b"), u"/b");
  EXPECT_EQ(JoinPath(u"", u"b"), u"b");
  EXPECT_EQ(FolderOf(u"/x/y/z.mix"), u"/x/y/");
  EXPECT_EQ(FileNameOf(u"/x/y/z.mix"), u"z.mix");
  EXPECT_EQ(FileNameOf(u"z.mix"), u"z.mix");
}

// Only a regular file is one; the question never opens the path, so a FIFO
// without a writer answers at once.
TEST(File, RegularFilesAmongFoldersFifosAndDevices) {
  const String dir = Scratch();
  const String file = JoinPath(dir, u"a.wav"), fifo = JoinPath(dir, u"fifo.wav");
  Touch(file);
  ASSERT_EQ(::mkfifo(fifo.ToUtf8Lossy().c_str(), 0600), 0);
  EXPECT_TRUE(IsRegularFile(file));
  EXPECT_FALSE(IsRegularFile(dir));
  EXPECT_FALSE(IsRegularFile(fifo));
  EXPECT_TRUE(FileExists(fifo));  // present, and not a folder
  EXPECT_FALSE(IsRegularFile(u"/dev/zero"));
  EXPECT_FALSE(IsRegularFile(JoinPath(dir, u"none")));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(IsRegularFile(JoinPath(dir, u"none/a.wav")));
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_STREQ(ErrorText(kErrorDiskFull), "the disk is full");
  EXPECT_STREQ(ErrorText(kErrorFileTooLarge), "the file-size limit is reached");
  // Past the process's file-size limit is not a full disk.
  EXPECT_EQ(ErrorFromErrno(EFBIG), kErrorFileTooLarge);
  EXPECT_EQ(ErrorFromErrno(ENOSPC), kErrorDiskFull);
  EXPECT_STREQ(ErrorText(4242), "error 4242");
}

// Opening an existing path accepts only a regular file. A FIFO without a
// peer must not block the open (it would hold the process's open lock and
// stop every other open and close); one with a peer, a device or a socket is
// refused the same way. Creating a new file is unaffected.
TEST(File, OpeningAnExistingFifoOrDeviceIsRefusedWithoutBlocking) {
  const String dir = Scratch();
  const String lone = JoinPath(dir, u"lone.jpg"), fed = JoinPath(dir, u"fed.mp4");
  ASSERT_EQ(::mkfifo(lone.ToUtf8Lossy().c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(fed.ToUtf8Lossy().c_str(), 0600), 0);
  // Both ends held open here, so an open of this one returns even when blocking.
  const int peer = ::open(fed.ToUtf8Lossy().c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(peer, 0);
  struct Case {
    String path;
    uint32_t access;
    CreateMode mode;
  };
  const Case cases[] = {
      {lone, kGenericRead, CreateMode::kOpenExisting},
      {lone, kGenericWrite, CreateMode::kOpenAlways},
      {lone, kGenericRead | kGenericWrite, CreateMode::kTruncateExisting},
      {fed, kGenericRead, CreateMode::kOpenExisting},
      {fed, kGenericWrite, CreateMode::kOpenAlways},
      {u"/dev/zero", kGenericRead, CreateMode::kOpenExisting},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.ToUtf8Lossy() + " mode " + std::to_string(static_cast<int>(c.mode)));
    File f;
    EXPECT_FALSE(f.Open(c.path, c.access, kShareRead, c.mode));
    EXPECT_EQ(GetLastError(), kErrorBadFileType);
    EXPECT_FALSE(f.IsOpen());
  }
  EXPECT_STREQ(ErrorText(kErrorBadFileType), "not a regular file");
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(ReadWholeFile(lone, &bytes));
  EXPECT_EQ(GetLastError(), kErrorBadFileType);
  ::close(peer);

  // Regular files still open, for reading and writing, blocking as before.
  const String plain = JoinPath(dir, u"plain.bin");
  Touch(plain, "abc");
  File r;
  ASSERT_TRUE(r.Open(plain, kGenericRead | kGenericWrite, kShareRead, CreateMode::kOpenAlways));
  char buf[3] = {};
  uint32_t got = 0;
  EXPECT_TRUE(r.Read(buf, 3, &got));
  EXPECT_EQ(std::string(buf, got), "abc");
  File created;
  EXPECT_TRUE(created.Open(JoinPath(dir, u"new.bin"), kGenericWrite, kShareNone, CreateMode::kCreateNew));
}

TEST(File, InvalidUtf16PathAndThreadLocalError) {
  const char16_t bad[] = {u'/', u't', 0xD800, u'x', 0};
  File f;
  EXPECT_FALSE(f.Open(bad, kGenericRead, kShareRead, CreateMode::kOpenExisting));
  EXPECT_EQ(GetLastError(), kErrorInvalidName);
  EXPECT_FALSE(CreateFolder(bad));
  EXPECT_EQ(GetLastError(), kErrorInvalidName);

  SetLastError(kErrorAlreadyExists);
  uint32_t seen_on_thread = 1;
  std::thread([&] {
    seen_on_thread = GetLastError();
    SetLastError(kErrorFileNotFound);
  }).join();
  EXPECT_EQ(seen_on_thread, 0u);
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
}
