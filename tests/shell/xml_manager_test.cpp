// Skin loading: the walk, value references, root attributes, the package
// choice and the fall-back to "#default.xml".
#include "shell/xml_manager.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/os/file.h"
#include "shell/packages.h"
#include "shell/screen_manager.h"
#include "tests/support/test_paths.h"
#include "ui/softkey_menu.h"

namespace shell {
namespace {

class XmlManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ov::String::FromUtf8Lossy(ovtest::ScratchDir()) + u"/";
    manager_ = std::make_unique<ScreenManager>(240, 320, dir_ + u"user.opt", nullptr);
  }
  void TearDown() override {
    manager_.reset();
    SkinPackage().Close();
    SetPackageFolders(ov::String(), ov::String());
  }
  int Load(XmlManager* loader, const char* text) {
    return loader->ParseSkinText(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
  }
  void WritePackage(const char* name, const char* xml) {
    std::vector<PakSource> entries;
    entries.push_back({u"#default.xml", std::vector<uint8_t>(xml, xml + std::strlen(xml))});
    ASSERT_TRUE(WritePak(dir_ + ov::String::FromAscii(name), entries));
  }
  ov::String dir_;
  std::unique_ptr<ScreenManager> manager_;
};

TEST_F(XmlManagerTest, ValueReferences) {
  XmlManager loader(manager_.get(), dir_, u"none.pak");
  loader.set_mode(XmlManager::kLanguage);
  ASSERT_EQ(Load(&loader, "<LANG tag12=\"twelve\" tag600=\"far\" languageID=\"9\"/>"), 1);
  EXPECT_EQ(loader.language_table().size(), 1100u);
  EXPECT_EQ(manager_->texts().language_id, 9u);
  EXPECT_EQ(loader.ResolveValue(u"##5"), ov::String(u"#5"));
  EXPECT_EQ(loader.ResolveValue(u"#7"), ov::String(u"#!"));
  EXPECT_EQ(loader.ResolveValue(u"#"), ov::String(u"#"));
  EXPECT_EQ(loader.ResolveValue(u"#12abc"), ov::String(u"twelve"));
  EXPECT_EQ(loader.ResolveValue(u"#99999999999999"), ov::String(u"#!"));
}

TEST_F(XmlManagerTest, WalkBuildsContainerSubMenusAndChildren) {
  XmlManager loader(manager_.get(), dir_, u"none.pak");
  ASSERT_EQ(Load(&loader,
                 "<SKIN title=\"T\" color3=\"00FF00\" tic=\"color3\" font=\"Face\">\n"
                 "  <!-- a comment -->\n"
                 "  <MENU ti=\"main\" wt=\"#comment\"><MI ti=\"a\" action=\"JUMP_TO second\"/>"
                 "    <MENU ti=\"nested\"/><BOGUS><MI ti=\"skipped\"/></BOGUS></MENU>\n"
                 "  <MN ti=\"second\"><SoftkeyMenu menuTitle=\"Back\"/></MN>\n"
                 "</SKIN>"),
            1);
  ui::Menu* root = manager_->menu_container();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->title(), ov::String(u"main"));
  EXPECT_TRUE(root->window_title().IsEmpty());  // "#comment" values are skipped
  ASSERT_EQ(root->children().size(), 2u);
  EXPECT_EQ(root->children()[1]->GetType(), ui::kTypeMenu);
  EXPECT_EQ(root->FindDescendant(u"skipped", true), nullptr);
  ASSERT_EQ(root->sub_menus().size(), 1u);
  EXPECT_EQ(root->sub_menus()[0]->title(), ov::String(u"second"));
  EXPECT_EQ(manager_->texts().title, ov::String(u"T"));
  EXPECT_EQ(manager_->texts().version, ov::String(u"0.0"));  // no "version": loads
  EXPECT_EQ(manager_->text_style().idle_text, 0x00FF00u);
  EXPECT_EQ(manager_->text_style().font, ov::String(u"Face"));
}

TEST_F(XmlManagerTest, UnsupportedVersionEndsTheProcess) {
  XmlManager loader(manager_.get(), dir_, u"none.pak");
  EXPECT_EXIT(Load(&loader, "<SKIN version=\"1.00\"/>"), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Load(&loader, "<SKIN version=\"0.1\"><MENU/></SKIN>"), 1);
}

TEST_F(XmlManagerTest, SkinWithoutAMenuFailsAndFallsBackToTheDefault) {
  XmlManager loader(manager_.get(), dir_, u"none.pak");
  *manager_->options().GetStringOption(UserOptions::kSkinPathSlot) = u"/somewhere/empty.xml";
  EXPECT_EQ(Load(&loader, "<SKIN version=\"1.0\"><!-- nothing --><MI ti=\"stray\"/></SKIN>"), 0);
  EXPECT_EQ(loader.last_error(), ov::String(u"No menu in the skin"));
  EXPECT_EQ(*manager_->options().GetStringOption(UserOptions::kSkinPathSlot), dir_ + u"#default.xml");
  // The reset is on disk already.
  UserOptions saved(dir_ + u"user.opt");
  saved.LoadOptions();
  EXPECT_EQ(*saved.GetStringOption(UserOptions::kSkinPathSlot), dir_ + u"#default.xml");
}

TEST_F(XmlManagerTest, MissingCheckedImageEndsTheProcessAndResetsTheSkinPath) {
  XmlManager loader(manager_.get(), dir_, u"none.pak");
  manager_->set_skin_folder(dir_ + u"skin");
  EXPECT_EXIT(
      {
        Load(&loader, "<SKIN imageCheck=\"1\"><MENU><MI il=\"missing.bmp\"/></MENU></SKIN>");
        std::exit(3);
      },
      ::testing::ExitedWithCode(0), "");
  UserOptions options(dir_ + u"user.opt");
  options.LoadOptions();
  EXPECT_EQ(*options.GetStringOption(UserOptions::kSkinPathSlot), ov::String(u"\\shell.xml"));
  SetImageCheckForTesting(false);
}

TEST_F(XmlManagerTest, FirstStartFallsBackToDefaultXmlInThePackage) {
  WritePackage("Vex_240_320.pak", "<SKIN version=\"1.0\"><MENU ti=\"from_package\"/></SKIN>");
  // The same name on disk loses against the package.
  const char* disk = "<SKIN><MENU ti=\"from_disk\"/></SKIN>";
  ASSERT_TRUE(ov::WriteWholeFile(dir_ + u"#default.xml", disk, std::strlen(disk)));
  XmlManager loader(manager_.get(), dir_, u"Vex_240_320.pak");
  EXPECT_EQ(loader.LoadShell(), 0);  // empty skin path at first start
  EXPECT_EQ(*manager_->options().GetStringOption(UserOptions::kSkinPathSlot), dir_ + u"#default.xml");
  ASSERT_EQ(loader.LoadShell(), 1);
  EXPECT_EQ(manager_->menu_container()->title(), ov::String(u"from_package"));
  EXPECT_EQ(manager_->texts().version, ov::String(u"1.0"));
}

TEST_F(XmlManagerTest, PackageChoiceFallsBackBySizeThenVexPak) {
  WritePackage("vex.pak", "<SKIN><MENU ti=\"vex\"/></SKIN>");
  {
    XmlManager loader(manager_.get(), dir_, u"missing.pak");
    *manager_->options().GetStringOption(UserOptions::kSkinPathSlot) = dir_ + u"#default.xml";
    ASSERT_EQ(loader.LoadShell(), 1);
    EXPECT_EQ(manager_->menu_container()->title(), ov::String(u"vex"));
  }
  WritePackage("Vex_240_320.pak", "<SKIN><MENU ti=\"sized\"/></SKIN>");
  XmlManager loader(manager_.get(), dir_, u"missing.pak");
  ASSERT_EQ(loader.LoadShell(), 1);
  EXPECT_EQ(manager_->menu_container()->title(), ov::String(u"sized"));
}

TEST_F(XmlManagerTest, ParseErrorIsReportedWithLine) {
  XmlManager loader(manager_.get(), dir_, u"none.pak");
  EXPECT_EQ(Load(&loader, "<SKIN>\n<MENU>\n</SKIN>"), 0);
  EXPECT_EQ(loader.last_error().Find(u"at line 3"), loader.last_error().Find(u"at line"));
  EXPECT_GE(loader.last_error().Find(u"XML Error"), 0);
}

}  // namespace
}  // namespace shell
