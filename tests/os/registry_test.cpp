#include "platform/os/registry.h"

#include <gtest/gtest.h>

#include "platform/os/environment.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/os/os_error.h"
#include "platform/os/process.h"
#include "platform/os/thread.h"
#include "tests/support/test_paths.h"

using namespace ov;

namespace {

constexpr RegistryRoot kMachine = RegistryRoot::kLocalMachine;

// Each test gets its own data folder (tests run in their own processes).
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { SetEnvironmentValue("XDG_DATA_HOME", ovtest::ScratchDir()); }
};

}  // namespace

TEST_F(RegistryTest, ValuesByTypeAndCaseInsensitiveNames) {
  const String key = u"Software\\Microsoft\\Shell\\Extensions\\EventSounds\\aac";
  EXPECT_FALSE(RegistryKeyExists(kMachine, key));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  bool created = false;
  ASSERT_TRUE(RegistryCreateKey(kMachine, key, &created));
  EXPECT_TRUE(created);
  ASSERT_TRUE(RegistryCreateKey(kMachine, u"software/microsoft\\SHELL\\extensions\\eventsounds\\AAC\\", &created));
  EXPECT_FALSE(created);
  EXPECT_TRUE(RegistryKeyExists(kMachine, u"SOFTWARE\\Microsoft"));
  EXPECT_FALSE(RegistryKeyExists(RegistryRoot::kCurrentUser, key));  // roots are apart

  ASSERT_TRUE(RegistrySetDword(kMachine, key, u"Volume", 0xDEADBEEF));
  ASSERT_TRUE(RegistrySetString(kMachine, key, u"Sound", u"\u00E9v\u00E9nement.wav"));
  uint32_t dword = 0;
  EXPECT_TRUE(RegistryQueryDword(kMachine, key, u"VOLUME", &dword));
  EXPECT_EQ(dword, 0xDEADBEEFu);
  String text;
  EXPECT_TRUE(RegistryQueryString(kMachine, key, u"sound", &text));
  EXPECT_EQ(text, u"\u00E9v\u00E9nement.wav");
  EXPECT_FALSE(RegistryQueryDword(kMachine, key, u"Sound", &dword));
  EXPECT_EQ(GetLastError(), kErrorInvalidData);
  EXPECT_FALSE(RegistryQueryString(kMachine, key, u"Missing", &text));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(RegistryQueryString(kMachine, u"Software\\None", u"x", &text));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);

  ASSERT_TRUE(RegistrySetDword(kMachine, key, u"volume", 5));  // replaces, keeps the first spelling
  std::vector<String> names;
  ASSERT_TRUE(RegistryListValues(kMachine, key, &names));
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], u"Volume");
  ASSERT_TRUE(RegistryDeleteValue(kMachine, key, u"VOLUME"));
  EXPECT_FALSE(RegistryDeleteValue(kMachine, key, u"Volume"));
  EXPECT_TRUE(RegistryFlush(kMachine));
  EXPECT_TRUE(FileExists(DataFolder() + u"registry.dat"));
}

TEST_F(RegistryTest, SubKeysAndRecursiveDelete) {
  ASSERT_TRUE(RegistrySetString(RegistryRoot::kClassesRoot, u"CLSID\\{A}\\InprocServer32", u"ThreadingModel", u"Both"));
  ASSERT_TRUE(RegistryCreateKey(RegistryRoot::kClassesRoot, u"CLSID\\{B}"));
  std::vector<String> names;
  ASSERT_TRUE(RegistryListSubKeys(RegistryRoot::kClassesRoot, u"CLSID", &names));
  EXPECT_EQ(names, (std::vector<String>{u"{A}", u"{B}"}));
  ASSERT_TRUE(RegistryDeleteKey(RegistryRoot::kClassesRoot, u"clsid\\{a}"));
  EXPECT_FALSE(RegistryKeyExists(RegistryRoot::kClassesRoot, u"CLSID\\{A}\\InprocServer32"));
  EXPECT_TRUE(RegistryKeyExists(RegistryRoot::kClassesRoot, u"CLSID\\{B}"));
  EXPECT_FALSE(RegistryDeleteKey(RegistryRoot::kClassesRoot, u"CLSID\\{A}"));
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_FALSE(RegistryCreateKey(kMachine, u"\\\\"));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST_F(RegistryTest, SharedWithAnotherProcessAndSurvivesDamage) {
  ASSERT_TRUE(RegistrySetDword(kMachine, u"Software\\Ovmix", u"Local", 1));
  Process helper;
  ASSERT_TRUE(helper.Create(String::FromUtf8Lossy(OV_OS_TEST_HELPER), u"reg-dword Software\\Ovmix Remote 77"));
  ASSERT_EQ(helper.Wait(10000), kWaitObject0);
  uint32_t value = 0;
  EXPECT_TRUE(RegistryQueryDword(kMachine, u"Software\\Ovmix", u"Remote", &value));
  EXPECT_EQ(value, 77u);
  EXPECT_TRUE(RegistryQueryDword(kMachine, u"Software\\Ovmix", u"Local", &value));  // not lost by the other writer
  EXPECT_EQ(value, 1u);

  // A damaged file (absurd count) reads as empty and is replaced by the next change.
  const String file = DataFolder() + u"registry.dat";
  const uint8_t damaged[] = {'O', 'V', 'R', 'G', 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0,
                             0xFF, 0xFE, 0xFF, 0x01, 'A', 0, 0xFF, 0xFF, 0xFF, 0x7F};
  ASSERT_TRUE(WriteWholeFile(file, damaged, sizeof(damaged)));
  EXPECT_FALSE(RegistryKeyExists(kMachine, u"Software\\Ovmix"));
  ASSERT_TRUE(RegistrySetDword(kMachine, u"Software\\Ovmix", u"Again", 2));
  EXPECT_TRUE(RegistryQueryDword(kMachine, u"Software\\Ovmix", u"Again", &value));
}
