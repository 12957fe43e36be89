// Start-up: a skin that builds no menu falls back to the default skin, and a
// start that cannot go on ends with a non-zero exit and says why on stderr.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "shell/user_options.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;

TEST(StartUp, SkinWithoutAMenuFallsBackToTheDefaultAndIsForgotten) {
  const std::string dir = ovtest::ScratchDir();
  const std::string empty_skin = dir + "/empty.xml";
  std::ofstream(empty_skin) << "<SKIN version=\"1.0\" title=\"empty\"/>\n";
  {
    shell::UserOptions options(ov::String::FromUtf8Lossy(dir + "/user.opt"));
    options.LoadOptions();
    *options.GetStringOption(shell::UserOptions::kSkinPathSlot) = ov::String::FromUtf8Lossy(empty_skin);
    ASSERT_TRUE(options.SaveOptions());
  }
  ovtest::HeadlessDriver d(dir);
  ASSERT_TRUE(d.ok());
  EXPECT_EQ(d.Menu(), u"main_menu");
  EXPECT_EQ(*d.sm().options().GetStringOption(shell::UserOptions::kSkinPathSlot),
            ov::String::FromUtf8Lossy(OVMIX_BIN_DIR "#default.xml"));
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the program copied into dir/bin; its exit status, stderr in *err.
int RunCopy(const std::string& dir, std::string* err) {
  const std::string command = "OVMIX_HEADLESS=1 XDG_DATA_HOME='" + dir + "/data' '" + dir + "/bin/ovmix' 2>'" + dir +
                              "/err.txt'";
  const int status = std::system(command.c_str());
  *err = ReadText(dir + "/err.txt");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StartUp, FatalErrorsEndWithANonZeroExitAndTheReason) {
  const std::string dir = ovtest::ScratchDir();
  fs::create_directories(dir + "/bin");
  fs::create_directories(dir + "/lib");
  fs::create_directories(dir + "/data");
  fs::copy_file(OVMIX_BIN_DIR "ovmix", dir + "/bin/ovmix");
  std::string err;
  // No plug-in beside the program.
  EXPECT_EQ(RunCopy(dir, &err), 1);
  EXPECT_NE(err.find("Error cannot load framesource!"), std::string::npos) << err;
  // The plug-in, but no skin package and a damaged "#default.xml": the
  // message carries the parser's line and reason.
  fs::create_symlink(fs::path(OVMIX_BIN_DIR) / "../lib/framesource.so", dir + "/lib/framesource.so");
  std::ofstream(dir + "/bin/#default.xml") << "<SKIN>\n<MENU>\n</SKIN>\n";
  EXPECT_EQ(RunCopy(dir, &err), 1);
  EXPECT_NE(err.find("The screen size of this device is not supported on this version"), std::string::npos) << err;
  EXPECT_NE(err.find("at line 3"), std::string::npos) << err;
  EXPECT_NE(err.find("Reason"), std::string::npos) << err;
  fs::remove(dir + "/bin/ovmix");  // large; the rest stays for a look
}

}  // namespace
