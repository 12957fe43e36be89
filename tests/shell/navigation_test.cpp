
namespace {

TEST(Screenshots, LandscapeSkinLoadsAndPaints) {
  const std::string dir = ovtest::ScratchDir();
  setenv("OVMIX_SCREEN", "320x240", 1);
  {
    HeadlessDriver d(dir);
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d.window().screen_width(), 320);
    EXPECT_EQ(d.Menu(), u"main_menu");
    d.Key(wnd::Key::kDown);
    d.sm().Paint({0, 0, 320, 240 + shell::ScreenManager::kBarHeight});
    EXPECT_TRUE(d.SavePng(dir + "/landscape_main.png"));
    ASSERT_TRUE(d.TapElement(u"main_2"));
    d.sm().Paint({0, 0, 320, 240 + shell::ScreenManager::kBarHeight});
    EXPECT_TRUE(d.SavePng(dir + "/landscape_settings.png"));
  }
  unsetenv("OVMIX_SCREEN");
}

}  // namespace
