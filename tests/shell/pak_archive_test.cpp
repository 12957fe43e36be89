#include "shell/pak_archive.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/os/file.h"
#include "tests/support/test_paths.h"

namespace shell {
namespace {

std::vector<uint8_t> Bytes(const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); }

void PutLe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

class PakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ov::String::FromUtf8Lossy(ovtest::ScratchDir());
    SetPackageFolders(ov::String(), dir_ + u"/");
  }
  void TearDown() override { SetPackageFolders(ov::String(), ov::String()); }
  ov::String Write(const char* name, const std::vector<uint8_t>& bytes) {
    const ov::String path = dir_ + u"/" + ov::String::FromAscii(name);
    EXPECT_TRUE(ov::WriteWholeFile(path, bytes.data(), bytes.size()));
    return path;
  }
  ov::String dir_;
};

TEST_F(PakTest, RoundTripLookupAndIteration) {
  std::vector<PakSource> entries = {
      {u"#default.xml", Bytes("<MENU/>")},
      {u"images\\Button.png", Bytes("png")},
      {u"IMAGES\\button.png", Bytes("second")},
      {u"empty.bin", {}},
  };
  const ov::String path = dir_ + u"/test.pak";
  ASSERT_TRUE(WritePak(path, entries));
  PakArchive pak;
  ASSERT_TRUE(pak.Open(path));
  uint32_t size = 99;
  std::unique_ptr<uint8_t[]> data = pak.ReadEntry(dir_ + u"/#default.xml", &size);
  ASSERT_TRUE(data);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(std::memcmp(data.get(), "<MENU/>", 8), 0);  // terminating 0 included
  // Either separator, any case; of two names differing in case the first wins.
  data = pak.ReadEntry(dir_ + u"/images/BUTTON.PNG", &size);
  ASSERT_TRUE(data);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data.get()), size), "png");
  data = pak.ReadEntry(u"empty.bin", &size);
  ASSERT_TRUE(data);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(data[0], 0);
  EXPECT_FALSE(pak.ReadEntry(u"missing", &size));
  PakIterator it;
  std::vector<std::u16string> names;
  for (bool ok = pak.FirstEntryName(&it); ok; ok = pak.NextEntryName(&it)) names.emplace_back(it.name.View());
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[1], u"images\\Button.png");
  // A second Open replaces the directory.
  ASSERT_TRUE(WritePak(dir_ + u"/other.pak", {{u"only", Bytes("x")}}));
  ASSERT_TRUE(pak.Open(dir_ + u"/other.pak"));
  EXPECT_EQ(pak.entries().size(), 1u);
  EXPECT_FALSE(pak.ReadEntry(u"#default.xml", &size));
}

TEST_F(PakTest, MissingPackageIsNotCreatedAndDirectoryWordAloneIsEmpty) {
  PakArchive pak;
  EXPECT_FALSE(pak.Open(dir_ + u"/absent.pak"));
  EXPECT_FALSE(ov::FileExists(dir_ + u"/absent.pak"));
  std::vector<uint8_t> four;
  PutLe32(&four, 4);
  ASSERT_TRUE(pak.Open(Write("four.pak", four)));
  EXPECT_TRUE(pak.entries().empty());
}

// Folder prefixes are dropped only when they are really there.
TEST_F(PakTest, EntryNameReduction) {
  SetPackageFolders(u"/app/skins/default", u"/app/");
  EXPECT_EQ(PackageEntryName(u"/app/skins/default/img/a.png"), ov::String(u"img/a.png"));
  EXPECT_EQ(PackageEntryName(u"/app/media/x.wav"), ov::String(u"media/x.wav"));
  EXPECT_EQ(PackageEntryName(u"/elsewhere/a.png"), ov::String(u"/elsewhere/a.png"));
  EXPECT_EQ(PackageEntryName(u"\\shell.xml"), ov::String(u"\\shell.xml"));
  SetPackageFolders(ov::String(), u"/app/");
  EXPECT_EQ(PackageEntryName(u""), ov::String(u""));
  EXPECT_EQ(PackageEntryName(u"/app/#default.xml"), ov::String(u"#default.xml"));
}

// Corrupt directories: the entries before the bad one stay, nothing is
// allocated from an unchecked length.
TEST_F(PakTest, CorruptDirectoriesAreRefusedBeforeAllocation) {
  auto entry = [](std::vector<uint8_t>* out, uint32_t name_len, const char* name, uint32_t offset, uint32_t size) {
    PutLe32(out, name_len);
    for (size_t i = 0; i < name_len; ++i) {
      const size_t ci = i / 2;
      out->push_back((i % 2 == 0 && ci < std::strlen(name)) ? static_cast<uint8_t>(name[ci]) : 0);
    }
    PutLe32(out, offset);
    PutLe32(out, size);
  };
  struct Case {
    const char* what;
    uint32_t name_len;
    uint32_t offset;
    uint32_t size;
  };
  const Case cases[] = {
      {"name length 520", 520, 0, 1},  {"odd name length", 5, 0, 1},       {"zero name length", 0, 0, 1},
      {"size 0xFFFFFFFF", 6, 0, 0xFFFFFFFFu}, {"size past end", 6, 0, 1000},  {"offset past end", 6, 0x7FFFFFF0u, 1},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> body;
    entry(&body, 6, "ok", 0, 2);
    entry(&body, c.name_len, "bad", c.offset, c.size);
    std::vector<uint8_t> file;
    PutLe32(&file, static_cast<uint32_t>(4 + body.size()));
    file.insert(file.end(), body.begin(), body.end());
    file.push_back('h');
    file.push_back('i');
    PakArchive pak;
    ASSERT_TRUE(pak.Open(Write("bad.pak", file))) << c.what;
    uint32_t size = 0;
    std::unique_ptr<uint8_t[]> ok = pak.ReadEntry(u"ok", &size);
    ASSERT_TRUE(ok) << c.what;
    EXPECT_EQ(size, 2u);
    EXPECT_FALSE(pak.ReadEntry(u"bad", &size)) << c.what;
  }
  // A directory size beyond the file ends the directory at the file's end.
  std::vector<uint8_t> huge;
  PutLe32(&huge, 0xFFFFFFF0u);
  entry(&huge, 6, "ok", 0, 1);
  PakArchive pak;
  ASSERT_TRUE(pak.Open(Write("huge.pak", huge)));
  uint32_t size = 0;
  EXPECT_FALSE(pak.ReadEntry(u"ok", &size));
}

// ovtool pak create, list and extract give back the files they were given.
TEST_F(PakTest, ToolRoundTrip) {
  const std::string dir = dir_.ToUtf8Lossy();
  ASSERT_TRUE(ov::CreateFolderTree(dir_ + u"/in/img"));
  const char* xml = "<SKIN/>";
  ASSERT_TRUE(ov::WriteWholeFile(dir_ + u"/in/img/a.png", "png-bytes", 9));
  ASSERT_TRUE(ov::WriteWholeFile(dir_ + u"/skin.xml", xml, std::strlen(xml)));
  const std::string tool = std::string(OVMIX_BIN_DIR) + "ovtool";
  ASSERT_EQ(std::system(("'" + tool + "' pak create '" + dir + "/t.pak' '" + dir + "/in' '#default.xml=" + dir +
                         "/skin.xml'").c_str()),
            0);
  ASSERT_EQ(std::system(("'" + tool + "' pak list '" + dir + "/t.pak' > '" + dir + "/list.txt'").c_str()), 0);
  std::vector<uint8_t> listing;
  ASSERT_TRUE(ov::ReadWholeFile(dir_ + u"/list.txt", &listing));
  const std::string text(listing.begin(), listing.end());
  EXPECT_NE(text.find("img\\a.png"), std::string::npos);
  EXPECT_NE(text.find("#default.xml"), std::string::npos);
  ASSERT_EQ(std::system(("'" + tool + "' pak extract '" + dir + "/t.pak' '" + dir + "/out'").c_str()), 0);
  std::vector<uint8_t> back;
  ASSERT_TRUE(ov::ReadWholeFile(dir_ + u"/out/img/a.png", &back));
  EXPECT_EQ(std::string(back.begin(), back.end()), "png-bytes");
  ASSERT_TRUE(ov::ReadWholeFile(dir_ + u"/out/#default.xml", &back));
  EXPECT_EQ(std::string(back.begin(), back.end()), xml);
  // A corrupt package (its directory runs past the end) is refused by the
  // tool with exit code 1, not crashed on.
  const uint8_t bad[] = {0x20, 0, 0, 0, 0x09, 0x02, 0, 0};
  ASSERT_TRUE(ov::WriteWholeFile(dir_ + u"/bad.pak", bad, sizeof(bad)));
  const int status = std::system(("'" + tool + "' pak list '" + dir + "/bad.pak' > /dev/null 2>&1").c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

}  // namespace
}  // namespace shell
