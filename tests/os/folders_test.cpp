#include "platform/os/folders.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>

#include "platform/os/environment.h"
#include "platform/os/file.h"
#include "tests/support/test_paths.h"

using namespace ov;

namespace {

// Sets environment variables for one test and restores them afterwards.
class EnvironmentGuard {
 public:
  ~EnvironmentGuard() {
    for (const auto& [name, value] : saved_) {
      if (value) SetEnvironmentValue(name, *value);
      else UnsetEnvironmentValue(name);
    }
  }
  void Set(const std::string& name, const std::string& value) {
    Save(name);
    SetEnvironmentValue(name, value);
  }
  void Unset(const std::string& name) {
    Save(name);
    UnsetEnvironmentValue(name);
  }

 private:
  void Save(const std::string& name) {
    if (!saved_.count(name)) saved_[name] = GetEnvironmentValue(name);
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace

TEST(Folders, ChooseStorageCard) {
  const uint64_t kGiB = 1ull << 30;
  const std::vector<StorageCard> cards = {
      {u"/media/u/SD1", 2 * kGiB, 0},
      {u"/media/u/Bluetooth", 64 * kGiB, 0},
      {u"/media/u/SD2", 2 * kGiB, 0},
      {u"/media/u/tiny", 4095, 0},
      {u"/media/u/small", kGiB, 0},
  };
  EXPECT_EQ(ChooseStorageCard(cards, -1), 2);  // the later card wins a tie; Bluetooth never
  EXPECT_EQ(ChooseStorageCard(cards, 0), 0);
  EXPECT_EQ(ChooseStorageCard(cards, 1), -1);  // Bluetooth keeps its position but is not taken
  EXPECT_EQ(ChooseStorageCard(cards, 2), 2);
  EXPECT_EQ(ChooseStorageCard(cards, 9), -1);
  EXPECT_EQ(ChooseStorageCard({}, -1), -1);
  EXPECT_EQ(ChooseStorageCard({{u"/m/tiny", 4095, 0}}, -1), -1);
  EXPECT_EQ(ChooseStorageCard({{u"/m/exact", 4096, 0}}, -1), 0);
  EXPECT_EQ(ChooseStorageCard({{u"", 8 * kGiB, 0}, {u"/m/b", kGiB, 0}}, -1), -1);  // empty first name
  EXPECT_EQ(ChooseStorageCard({{u"/m/a", kGiB, 0}, {u"", 8 * kGiB, 0}}, -1), 0);
}

TEST(Folders, TemporaryFolderFollowsTheCards) {
  EnvironmentGuard env;
  const std::string dir = ovtest::ScratchDir();
  const std::string card1 = dir + "/card1", card2 = dir + "/card2", bt = dir + "/Bluetooth";
  for (const std::string& d : {card1, card2, bt}) ASSERT_TRUE(CreateFolder(String::FromUtf8Lossy(d)));

  env.Set("OVMIX_CARDS", card1 + ":" + bt + ":" + card2);
  std::vector<StorageCard> cards = EnumerateStorageCards();
  ASSERT_EQ(cards.size(), 3u);
  EXPECT_GT(cards[0].total_bytes, 4096u);
  EXPECT_LE(cards[0].free_bytes, cards[0].total_bytes);
  String name;
  ASSERT_TRUE(FindStorageCard(&name, -1));
  EXPECT_EQ(name.ToUtf8Lossy(), card2);  // same volume, so equal capacity: the later wins
  ASSERT_TRUE(FindStorageCard(&name, 0));
  EXPECT_EQ(name.ToUtf8Lossy(), card1);
  EXPECT_FALSE(FindStorageCard(&name, 1));
  EXPECT_EQ(TempFolder().ToUtf8Lossy(), card2 + "/Quelvarin/");

  env.Set("OVMIX_CARDS", "");
  env.Set("TMPDIR", dir + "/tmp");
  EXPECT_FALSE(FindStorageCard(&name, -1));
  EXPECT_EQ(TempPath().ToUtf8Lossy(), dir + "/tmp/");
  EXPECT_EQ(TempFolder().ToUtf8Lossy(), dir + "/tmp/Quelvarin/");

  env.Set("OVMIX_CARDS", dir + "/not-mounted");
  EXPECT_FALSE(FindStorageCard(&name, -1));  // capacity unreadable: never chosen
}

TEST(Folders, CleanTempFolderDeletesFilesOnly) {
  EnvironmentGuard env;
  const std::string dir = ovtest::ScratchDir();
  env.Set("OVMIX_CARDS", "");
  env.Set("TMPDIR", dir);
  const String temp = TempFolder();
  ASSERT_TRUE(CreateFolder(temp));
  ASSERT_TRUE(CreateFolder(temp + u"keep"));
  ASSERT_TRUE(WriteWholeFile(temp + u"a.raw", "1", 1));
  ASSERT_TRUE(WriteWholeFile(temp + u"keep/b.raw", "2", 1));
  CleanTempFolder();
  EXPECT_FALSE(FileExists(temp + u"a.raw"));
  EXPECT_TRUE(FileExists(temp + u"keep/b.raw"));
  EXPECT_TRUE(FolderExists(temp + u"keep"));
}

TEST(Folders, DataDocumentsAndApplicationFolders) {
  EnvironmentGuard env;
  const std::string dir = ovtest::ScratchDir();
  env.Set("XDG_DATA_HOME", dir + "/xdg");
  EXPECT_EQ(DataFolder().ToUtf8Lossy(), dir + "/xdg/ovmix/");
  EXPECT_TRUE(FolderExists(DataFolder()));
  env.Unset("XDG_DATA_HOME");
  env.Set("HOME", dir + "/home");
  EXPECT_EQ(DataFolder().ToUtf8Lossy(), dir + "/home/.local/share/ovmix/");
  EXPECT_EQ(DocumentsFolder().ToUtf8Lossy(), dir + "/home");
  env.Set("OVMIX_DOCUMENTS", dir + "/docs/");
  EXPECT_EQ(DocumentsFolder().ToUtf8Lossy(), dir + "/docs");

  const String app = ApplicationFolder();
  ASSERT_FALSE(app.IsEmpty());
  EXPECT_EQ(app.At(app.Length() - 1), u'/');
  EXPECT_TRUE(FileExists(app + u"os_tests"));
  EXPECT_EQ(ExecutablePath(), app + u"os_tests");

  uint64_t total = 0;
  EXPECT_TRUE(GetDiskFreeSpace(String::FromUtf8Lossy(dir), nullptr, &total, nullptr));
  EXPECT_GT(total, 0u);
  EXPECT_FALSE(GetDiskFreeSpace(String::FromUtf8Lossy(dir + "/none"), nullptr, &total, nullptr));
}
