// The effect browser: what it lists from an application folder and an
// in-memory media package (kinds, sort, the name and extension rules, the
// show flags, links not entered), a tap storing the row's path relative to
// the skin folder and code 8 finding the row of a full path again, the photo
// effect and assign actions with their marks and menu items, the scroll
// search of an overlay no row matches, the kind filter, a row height of 0,
// thumbnails built one a paint with the key colour shown black; and the
// packed "media.pak": what it lists, its thumbnails, the key colour of its
// overlay videos and its masks; the default skin's effect and overlay
// screens, headless in both orientations.
#include "screens/browsers/effect_browser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/video_source_factory.h"
#include "media/decoder_source.h"
#include "media/media_package.h"
#include "platform/gfx/dc.h"
#include "platform/os/file.h"
#include "platform/os/thread.h"
#include "shell/packages.h"
#include "shell/pak_archive.h"
#include "shell/screen_manager.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/test_paths.h"
#include "ui/menu.h"
#include "ui/scroll_bar.h"

namespace {

using screens::EffectBrowser;
using screens::EffectItem;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }
std::string U8(const ov::String& s) { return s.ToUtf8Lossy(); }

const std::string kBin = OVMIX_BIN_DIR;

// Option slots the browser works on.
constexpr int kOverlayAll = 7, kEffectAll = 8, kPhotoEffect = 9, kOverlayEffect = 18;

// A host whose skin folder and application folder are `app`.
class EffectHost : public ovtest::ScreensHost {
 public:
  EffectHost(const std::string& data, const std::string& app) : ScreensHost(data), app_(app) {}
  ov::String ApplicationFolder() override { return U(app_ + "/"); }
  ov::String SkinFolder() override { return U(app_); }

 private:
  std::string app_;
};

// A 24-bit bottom-up BMP of w x h; colour(x, y) gives 0xRRGGBB.
void WriteBmp(const std::string& path, int w, int h, const std::function<uint32_t(int, int)>& colour) {
  const int row = (w * 3 + 3) & ~3;
  std::vector<uint8_t> f(54 + size_t(row) * h, 0);
  const uint32_t header[] = {uint32_t(f.size()), 0, 54, 40, uint32_t(w), uint32_t(h)};
  f[0] = 'B';
  f[1] = 'M';
  for (int i = 0; i < 6; ++i) {
    for (int b = 0; b < 4; ++b) f[2 + 4 * i + b] = uint8_t(header[i] >> (8 * b));
  }
  f[26] = 1;
  f[28] = 24;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t c = colour(x, h - 1 - y);
      uint8_t* p = &f[54 + size_t(y) * row + size_t(x) * 3];
      p[0] = uint8_t(c);
      p[1] = uint8_t(c >> 8);
      p[2] = uint8_t(c >> 16);
    }
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
}

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

// The browser in a menu of its own with a scroll bar and the three photo
// effect marks, its rows 40 pixels high (thumbnail 32, border 4).
struct BrowserScreen {
  BrowserScreen(EffectHost* h, std::vector<std::pair<const char16_t*, ov::String>> extra = {},
                int32_t height = 200)
      : host(h) {
    host->menu = &menu;
    menu.LoadAttribute(u"title", u"overlay_menu");
    auto bar = std::make_unique<ui::ScrollBar>();
    bar->LoadAttribute(u"title", u"fx_bar");
    scroll_bar = static_cast<ui::ScrollBar*>(menu.AddChild(std::move(bar)));
    for (const char16_t* name : {u"bw_mark", u"sepia_mark", u"sat_mark"}) {
      auto m = std::make_unique<ui::Control>();
      m->LoadAttribute(u"title", name);
      marks.push_back(menu.AddChild(std::move(m)));
    }
    auto e = std::make_unique<EffectBrowser>();
    std::vector<std::pair<const char16_t*, ov::String>> attributes = {
        {u"title", u"fx_list"},        {u"xP", u"10"},           {u"yP", u"20"},
        {u"xS", u"200"},               {u"yS", ov::String::Format(u"%d", height)},
        {u"xThumbnailSize", u"40"},    {u"yThumbnailSize", u"32"}, {u"borderSize", u"4"},
        {u"scrollBar", u"fx_bar"},     {u"blackandwhite", u"bw_mark"}, {u"sepia", u"sepia_mark"},
        {u"saturation", u"sat_mark"}, {u"unselectedIcon", u"none.bmp"}};
    attributes.insert(attributes.end(), extra.begin(), extra.end());
    for (const auto& [name, value] : attributes) e->LoadAttribute(name, value);
    browser = static_cast<EffectBrowser*>(menu.AddChild(std::move(e)));
    browser->OnAction(ui::kActionInitialise, ov::String(), 0);
    browser->OnAction(ui::kActionMenuShown, ov::String(), 0);
    surface = gfx::CreateCompatibleBitmap(nullptr, 240, 320);
    dc = gfx::CreateWindowDC(surface);
  }
  ~BrowserScreen() {
    if (host->menu == &menu) host->menu = nullptr;
  }

  std::vector<std::u16string> Names() {
    std::vector<std::u16string> names;
    for (const EffectItem& item : browser->items()) names.emplace_back(item.name.View());
    return names;
  }
  int32_t Index(EffectBrowser::Position p) { return browser->IndexOfVisible(p); }
  // Paints until every row in view has its thumbnail; the paints it took.
  int DrawAll() {
    int paints = 0;
    gfx::Rect area;
    do {
      browser->Draw(dc.get(), ui::kDrawNormal);
      browser->OnTick(&area, 0);
      ++paints;
    } while (area.right > area.left && paints < 100);
    return paints;
  }
  uint32_t Pixel(int32_t x, int32_t y) { return gfx::GetPixel(dc.get(), x, y); }
  void Tap(int row) { browser->OnStylusDown(20, 20 + row * 40 + 5); }
  ov::String& Overlay() { return host->strings[kOverlayEffect]; }

  ui::Menu menu;
  EffectHost* host;
  ui::ScrollBar* scroll_bar = nullptr;
  std::vector<ui::Element*> marks;
  EffectBrowser* browser = nullptr;
  gfx::HBitmap surface;
  std::unique_ptr<gfx::DeviceContext> dc;
};

class EffectBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    app_ = dir_ + "/app";
    ASSERT_EQ(std::system(("mkdir -p '" + app_ + "/sub' '" + dir_ + "/data'").c_str()), 0);
    host_ = std::make_unique<EffectHost>(dir_ + "/data", app_);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string dir_, app_;
  std::unique_ptr<EffectHost> host_;
};

TEST_F(EffectBrowserTest, ListsPicturesAndVideosOfTheFolderAndThePackageSortedByName) {
  for (const char* f : {"clip.3gpp", "Clip.MP4", "transition1.3gp", "TRANSITIONS.mov", "b.gif", "a.jpg", "c.bmp",
                        "d.png", "e.mov", "x.wmv", ".gif", "notes.txt", "sub/f.3g2"}) {
    Touch(app_ + "/" + f);
  }
  // A link back up the tree is not followed.
  ASSERT_EQ(symlink(app_.c_str(), (app_ + "/loop").c_str()), 0);
  media::MemoryPackage pak;
  pak.Add(u"overlays\\star.bmp", {1});
  pak.Add(u"pk.3gp", {1});
  pak.Add(u"overlays\\transition9.mp4", {1});
  pak.Add(u"masks\\wipe.qbt", {1});
  pak.Add(u"deep\\er\\g.jpg", {1});
  media::ScopedMediaPackage installed(&pak);
  BrowserScreen s(host_.get());
  EXPECT_EQ(s.Names(), (std::vector<std::u16string>{u"", u"a.jpg", u"b.gif", u"c.bmp", u"clip.3gpp", u"Clip.MP4",
                                                     u"e.mov", u"f.3g2", u"g.jpg", u"pk.3gp", u"star.bmp", u"x.wmv"}));
  std::vector<std::string> folders;
  std::vector<int32_t> kinds;
  std::vector<std::string> thumbs;
  for (const EffectItem& item : s.browser->items()) {
    folders.push_back(U8(item.folder));
    kinds.push_back(item.kind);
    thumbs.push_back(U8(item.thumbSource));
  }
  const std::string a = app_ + "/";
  EXPECT_EQ(folders,
            (std::vector<std::string>{"", a, a, a, a, a, a, a + "sub/", a + "deep/er/", a, a + "overlays/", a}));
  EXPECT_EQ(kinds, (std::vector<int32_t>{3, 1, 1, 1, 2, 2, 2, 2, 1, 2, 1, 2}));
  // A video's thumbnail: its name with the text after the last dot "tat".
  EXPECT_EQ(thumbs, (std::vector<std::string>{"", "", "", "", "clip.tat", "Clip.tat", "e.tat", "f.tat", "", "pk.tat",
                                               "", "x.tat"}));
  EXPECT_EQ(s.browser->CountForFilter(), 12);
  EXPECT_EQ(s.Index(s.browser->selected()), 0);
}

TEST_F(EffectBrowserTest, ShowFlagsLeaveOutOnlyBmpAndMov) {
  for (const char* f : {"a.jpg", "b.gif", "c.bmp", "d.mov", "e.mp4"}) Touch(app_ + "/" + f);
  struct Case {
    const char16_t* pictures;
    const char16_t* videos;
    std::vector<std::u16string> names;
  };
  for (const Case& c : {Case{u"y", u"yes", {u"", u"a.jpg", u"b.gif", u"c.bmp", u"d.mov", u"e.mp4"}},
                        Case{u"n", u"YES", {u"", u"a.jpg", u"b.gif", u"d.mov", u"e.mp4"}},
                        Case{u"Y", u"no", {u"", u"a.jpg", u"b.gif", u"c.bmp", u"e.mp4"}}}) {
    BrowserScreen s(host_.get(), {{u"showPicures", c.pictures}, {u"showVideos", c.videos}});
    EXPECT_EQ(s.Names(), c.names) << U8(ov::String(c.pictures)) << " " << U8(ov::String(c.videos));
  }
}

TEST_F(EffectBrowserTest, EmptyFolderAndPackageListOnlyTheNoOverlayRow) {
  media::MemoryPackage pak;
  media::ScopedMediaPackage installed(&pak);
  BrowserScreen s(host_.get());
  s.Overlay() = u"left over";
  EXPECT_EQ(s.Names(), (std::vector<std::u16string>{u""}));
  s.Tap(0);
  EXPECT_EQ(s.Overlay(), ov::String());
  EXPECT_EQ(s.host->pressed, s.browser);
}

TEST_F(EffectBrowserTest, TapStoresThePathRelativeToTheSkinFolderAndMenuShownFindsItsFullPathAgain) {
  for (const char* f : {"a.jpg", "sub/b.bmp"}) Touch(app_ + "/" + f);
  media::MemoryPackage pak;
  pak.Add(u"overlays\\star.bmp", {1});
  media::ScopedMediaPackage installed(&pak);
  BrowserScreen s(host_.get());
  ASSERT_EQ(s.Names(), (std::vector<std::u16string>{u"", u"a.jpg", u"b.bmp", u"star.bmp"}));
  const std::vector<std::string> relative = {"", "a.jpg", "sub/b.bmp", "overlays/star.bmp"};
  for (int row = 0; row < 4; ++row) {
    s.host->pressed = nullptr;
    s.Tap(row);
    EXPECT_EQ(U8(s.Overlay()), relative[size_t(row)]);
    EXPECT_EQ(s.Index(s.browser->selected()), row);
    EXPECT_EQ(s.host->pressed, s.browser);
    // The editors keep the skin folder + "/" + the option in their clips and
    // hand that back: the same row is selected and the option relative again.
    if (row > 0) {
      s.Overlay() = U(app_ + "/" + relative[size_t(row)]);
      s.browser->OnAction(ui::kActionMenuShown, ov::String(), 0);
      EXPECT_EQ(s.Index(s.browser->selected()), row);
      EXPECT_EQ(U8(s.Overlay()), relative[size_t(row)]);
    }
  }
  // Below the last row, and above the element: nothing changes.
  s.host->pressed = nullptr;
  s.Tap(5);
  s.browser->OnStylusDown(20, 5);
  EXPECT_EQ(U8(s.Overlay()), relative[3]);
  EXPECT_EQ(s.host->pressed, nullptr);
}

TEST_F(EffectBrowserTest, PhotoEffectActionsToggleAndShowTheirMark) {
  BrowserScreen s(host_.get());
  struct Case {
    std::vector<int32_t> codes;
    uint32_t effect;
  };
  for (const Case& c : {Case{{ui::kActionSepia}, 2}, Case{{ui::kActionSepia, ui::kActionSepia}, 0},
                        Case{{ui::kActionSepia, ui::kActionBlackWhite}, 1},
                        Case{{ui::kActionSaturation}, 3},
                        Case{{ui::kActionBlackWhite, ui::kActionBlackWhite}, 0}}) {
    s.host->numeric[kPhotoEffect] = 0;
    for (int32_t code : c.codes) EXPECT_EQ(s.browser->OnAction(code, ov::String(), 0), 1);
    EXPECT_EQ(s.host->numeric[kPhotoEffect], c.effect) << c.codes.size() << " from " << c.codes[0];
    for (uint32_t mark = 1; mark <= 3; ++mark) {
      EXPECT_EQ(s.marks[mark - 1]->IsVisible(), c.effect == mark) << "mark " << mark;
    }
  }
}

TEST_F(EffectBrowserTest, AssignActionsAreLockedUntilResetAndOfferOnlyTheChange) {
  BrowserScreen s(host_.get());
  using ui::kActionAssignOverlayToAll;
  using ui::kActionAssignOverlayToOne;
  using ui::kActionAssignPhotoEffectToAll;
  using ui::kActionAssignPhotoEffectToOne;
  EXPECT_TRUE(s.browser->assign_locked());
  for (int32_t code : {kActionAssignOverlayToAll, kActionAssignOverlayToOne, kActionAssignPhotoEffectToAll,
                       kActionAssignPhotoEffectToOne}) {
    EXPECT_EQ(s.host->LastEnable(code), 0) << code;
  }
  s.browser->OnAction(ui::kActionEffectBrowserReset, ov::String(), 0);
  EXPECT_FALSE(s.browser->assign_locked());
  EXPECT_EQ(s.host->LastEnable(kActionAssignOverlayToAll), 1);
  EXPECT_EQ(s.host->LastEnable(kActionAssignOverlayToOne), 0);
  s.browser->OnAction(kActionAssignOverlayToAll, ov::String(), 0);
  s.browser->OnAction(kActionAssignPhotoEffectToAll, ov::String(), 0);
  EXPECT_EQ(s.host->numeric[kOverlayAll], 1u);
  EXPECT_EQ(s.host->numeric[kEffectAll], 1u);
  EXPECT_EQ(s.host->LastEnable(kActionAssignOverlayToAll), 0);
  EXPECT_EQ(s.host->LastEnable(kActionAssignOverlayToOne), 1);
  EXPECT_EQ(s.host->LastEnable(kActionAssignPhotoEffectToOne), 1);
  s.browser->OnAction(kActionAssignPhotoEffectToOne, ov::String(), 0);
  EXPECT_EQ(s.host->numeric[kEffectAll], 0u);
  // Showing the menu locks them again.
  s.browser->OnAction(ui::kActionMenuShown, ov::String(), 0);
  EXPECT_EQ(s.host->LastEnable(kActionAssignOverlayToOne), 0);
  EXPECT_EQ(s.host->LastEnable(kActionAssignPhotoEffectToAll), 0);
}

// The chosen overlay is selected and in view wherever its row is, the last
// page kept full; an option no row matches selects the first row.
TEST_F(EffectBrowserTest, TheChosenOverlayIsSelectedInViewAtEveryRow) {
  // Five rows fit (200 / 40).
  for (int i = 0; i < 19; ++i) Touch(app_ + "/" + std::string(1, char('a' + i)) + "_pic.jpg");
  BrowserScreen big(host_.get());
  ASSERT_EQ(big.browser->items().size(), 20u);
  for (int row = 1; row < 20; ++row) {
    SCOPED_TRACE(row);
    const std::string name = std::string(1, char('a' + row - 1)) + "_pic.jpg";
    big.Overlay() = U(app_ + "/" + name);
    big.browser->OnAction(ui::kActionMenuShown, ov::String(), 0);
    EXPECT_EQ(big.Index(big.browser->selected()), row);
    EXPECT_EQ(U8(big.Overlay()), name);
    const int32_t top = big.Index(big.browser->top());
    EXPECT_EQ(top, std::min(row, 15));
    // What a paint shows: the selection among the rows drawn.
    big.DrawAll();
    EXPECT_GE(big.Index(big.browser->bottom()), row);
    EXPECT_EQ(big.Index(big.browser->bottom()), top + 4);
  }
  big.Overlay() = u"/nowhere/else.jpg";
  big.browser->OnAction(ui::kActionMenuShown, ov::String(), 0);
  EXPECT_EQ(big.Index(big.browser->selected()), 0);
  EXPECT_EQ(big.Index(big.browser->top()), 0);
  EXPECT_EQ(big.Overlay(), ov::String(u"/nowhere/else.jpg"));
  std::system(("rm -f '" + app_ + "'/*.jpg").c_str());
  for (int i = 0; i < 3; ++i) Touch(app_ + "/" + std::string(1, char('a' + i)) + ".jpg");
  BrowserScreen small(host_.get());
  small.Overlay() = U(app_ + "/c.jpg");
  small.browser->OnAction(ui::kActionMenuShown, ov::String(), 0);
  EXPECT_EQ(small.Index(small.browser->selected()), 3);
  EXPECT_EQ(small.Index(small.browser->top()), 0);
}

TEST_F(EffectBrowserTest, KeysScrollAndTheKindFilterWalkVisibleRowsOnly) {
  for (const char* f : {"a.jpg", "b.mp4", "c.jpg", "d.mp4", "e.jpg", "f.mp4", "g.jpg"}) Touch(app_ + "/" + f);
  BrowserScreen s(host_.get(), {}, 120);  // three rows
  EffectBrowser* b = s.browser;
  // Before a paint has set the last row in view, SelectNext cannot move.
  b->OnAction(ui::kActionMenuShown, ov::String(), 0);
  EXPECT_FALSE(b->SelectPrevious());
  s.DrawAll();
  EXPECT_EQ(s.Index(b->bottom()), 2);
  EXPECT_TRUE(b->SelectNext());
  EXPECT_TRUE(b->SelectNext());
  EXPECT_TRUE(b->SelectNext());  // past the view: the list scrolls one row
  EXPECT_EQ(s.Index(b->top()), 1);
  EXPECT_FALSE(b->SelectNext());  // until the next paint
  s.DrawAll();
  EXPECT_TRUE(b->SelectNext());  // from the view's last row again: one more row
  EXPECT_EQ(s.Index(b->top()), 2);
  b->OnAction(ui::kActionScrollDown, ov::String(), 0);
  EXPECT_EQ(s.Index(b->top()), 3);
  for (int i = 0; i < 10; ++i) b->OnAction(ui::kActionScrollDown, ov::String(), 0);
  EXPECT_EQ(s.Index(b->top()), 5);  // the last three rows stand in view
  for (int i = 0; i < 10; ++i) b->OnAction(ui::kActionScrollUp, ov::String(), 0);
  EXPECT_EQ(s.Index(b->top()), 0);
  // Videos only: the selection moves onto a video, and the scroll bar counts
  // the no-overlay row with the videos.
  s.Tap(1);
  ASSERT_EQ(b->selected()->name, ov::String(u"a.jpg"));
  b->OnAction(ui::kActionEffectVideosOnly, ov::String(), 0);
  EXPECT_EQ(b->selected()->name, ov::String(u"b.mp4"));
  EXPECT_EQ(b->CountForFilter(), 4);
  s.DrawAll();
  std::vector<std::u16string> walked;
  do {
    walked.emplace_back(b->selected()->name.View());
    s.DrawAll();
  } while (b->SelectNext());
  EXPECT_EQ(walked, (std::vector<std::u16string>{u"b.mp4", u"d.mp4", u"f.mp4"}));
  b->OnAction(ui::kActionEffectPicturesOnly, ov::String(), 0);
  EXPECT_EQ(b->CountForFilter(), 5);
}

// A kind filter hides the no-overlay row at the top, or a top scrolled onto
// the other kind: the scroll bar, the steps and the scrolls go on from the
// rows in view, and the selection never leaves the view.
TEST_F(EffectBrowserTest, UnderAKindFilterTheListMovesFromTheRowsInView) {
  for (const char* f : {"a.jpg", "b.mp4", "c.mp4", "d.jpg", "e.jpg", "f.mp4", "g.jpg", "h.mp4", "i.mp4"}) {
    Touch(app_ + "/" + f);
  }
  BrowserScreen s(host_.get(), {}, 120);  // three rows
  EffectBrowser* b = s.browser;
  s.scroll_bar->LoadAttribute(u"xS", u"20");
  s.scroll_bar->LoadAttribute(u"yS", u"200");
  s.scroll_bar->UpdateLayout();
  b->OnAction(ui::kActionMenuShown, ov::String(), 0);
  const int32_t track_top = s.scroll_bar->GetThumbRect().top;
  auto name = [&](EffectBrowser::Position p) { return p == b->None() ? std::string("(none)") : U8(p->name); };
  auto in_view = [&s, b]() {
    s.DrawAll();
    const int32_t at = s.Index(b->selected());
    return s.Index(b->top()) <= at && at <= s.Index(b->bottom());
  };
  // Videos only, the top on the hidden no-overlay row: b c f in view, the
  // scroll bar's thumb at the top of its track.
  b->OnAction(ui::kActionEffectVideosOnly, ov::String(), 0);
  EXPECT_EQ(s.Index(b->top()), 0);
  EXPECT_EQ(s.scroll_bar->GetThumbRect().top, track_top);
  s.DrawAll();
  ASSERT_EQ(name(b->bottom()), "f.mp4");
  std::vector<std::string> walked;
  do {
    walked.push_back(name(b->selected()));
    EXPECT_TRUE(in_view()) << name(b->selected()) << " top " << name(b->top());
  } while (b->SelectNext());
  EXPECT_EQ(walked, (std::vector<std::string>{"b.mp4", "c.mp4", "f.mp4", "h.mp4", "i.mp4"}));
  EXPECT_EQ(name(b->top()), "f.mp4");
  // One scroll up and one down each move the view one row.
  b->OnAction(ui::kActionScrollUp, ov::String(), 0);
  EXPECT_EQ(name(b->top()), "c.mp4");
  b->OnAction(ui::kActionScrollDown, ov::String(), 0);
  EXPECT_EQ(name(b->top()), "f.mp4");
  // All rows, the top scrolled onto c.mp4 and d.jpg tapped; then pictures
  // only: c.mp4 stands hidden at the top, d e g in view. Stepping back from
  // d.jpg scrolls a.jpg into view.
  BrowserScreen t(host_.get(), {}, 120);
  b = t.browser;
  for (int i = 0; i < 3; ++i) b->OnAction(ui::kActionScrollDown, ov::String(), 0);
  t.Tap(1);
  ASSERT_EQ(name(b->top()), "c.mp4");
  ASSERT_EQ(name(b->selected()), "d.jpg");
  b->OnAction(ui::kActionEffectPicturesOnly, ov::String(), 0);
  t.DrawAll();
  EXPECT_EQ(name(b->bottom()), "g.jpg");
  EXPECT_TRUE(b->SelectPrevious());
  EXPECT_EQ(name(b->selected()), "a.jpg");
  t.DrawAll();
  EXPECT_EQ(t.Index(b->top()), 0);
  EXPECT_EQ(name(b->bottom()), "e.jpg");
}

TEST_F(EffectBrowserTest, RowHeightZeroDrawsAndHitsNoRow) {
  Touch(app_ + "/a.jpg");
  BrowserScreen s(host_.get(), {{u"yThumbnailSize", u"0"}, {u"borderSize", u"0"}});
  ASSERT_EQ(s.browser->row_height(), 0);
  s.Overlay() = u"kept";
  s.browser->OnStylusDown(20, 30);
  EXPECT_EQ(s.Overlay(), ov::String(u"kept"));
  EXPECT_EQ(s.DrawAll(), 1);
  s.browser->ScrollDown();
  EXPECT_EQ(s.Index(s.browser->top()), 0);
}

TEST_F(EffectBrowserTest, ThumbnailsAreBuiltOneAPaintWithTheKeyColourBlack) {
  // Left half magenta (the key), right half red.
  WriteBmp(app_ + "/keyed.bmp", 40, 32, [](int x, int) { return x < 20 ? 0xFF00FFu : 0xFF0000u; });
  WriteBmp(app_ + "/none.bmp", 20, 16, [](int, int) { return 0x00FF00u; });
  Touch(app_ + "/broken.jpg");
  BrowserScreen s(host_.get());
  ASSERT_EQ(s.Names(), (std::vector<std::u16string>{u"", u"broken.jpg", u"keyed.bmp", u"none.bmp"}));
  // One paint builds one thumbnail and asks for the next paint.
  s.browser->Draw(s.dc.get(), ui::kDrawNormal);
  gfx::Rect area;
  s.browser->OnTick(&area, 0);
  EXPECT_EQ(area.right, 240);
  EXPECT_EQ(area.bottom, 320);
  int built = 0;
  for (const EffectItem& item : s.browser->items()) built += item.thumbnailTried;
  EXPECT_EQ(built, 1);
  EXPECT_EQ(s.DrawAll(), 4);  // three more, then a paint that builds none
  s.browser->OnTick(&area, 0);
  EXPECT_EQ(area.right - area.left, 0);
  // Row 0: the skin's no-overlay picture, green, stretched into the box.
  EXPECT_EQ(s.Pixel(10 + 4 + 20, 20 + 4 + 16), 0x00FF00u);
  // Row 1: an undecodable picture is black. Row 2: magenta black, red kept.
  EXPECT_EQ(s.Pixel(10 + 4 + 20, 60 + 4 + 16), 0u);
  EXPECT_EQ(s.Pixel(10 + 4 + 5, 100 + 4 + 16), 0u);
  EXPECT_EQ(s.Pixel(10 + 4 + 35, 100 + 4 + 16), 0x0000FFu);
}

// ---- the packed media package ----

class PackedMediaTest : public EffectBrowserTest {
 protected:
  void SetUp() override {
    EffectBrowserTest::SetUp();
    ASSERT_TRUE(pak_.Open(U(kBin + "media.pak"))) << "media.pak not built";
    shell::SetPackageFolders(U(app_), U(app_ + "/"));
  }
  void TearDown() override {
    shell::SetPackageFolders(ov::String(), ov::String());
    EffectBrowserTest::TearDown();
  }
  std::set<std::string> Entries() {
    std::set<std::string> names;
    media::PackageIterator it;
    for (bool ok = pak_.FirstEntryName(&it); ok; ok = pak_.NextEntryName(&it)) names.insert(U8(it.name));
    return names;
  }

  shell::PakArchive pak_;
};

TEST_F(PackedMediaTest, PackageHoldsWhatWasPackedAndTheBrowserListsItsOverlays) {
  // What the build staged, file for file, with '\' separators.
  std::set<std::string> staged;
  const std::string content = kBin + "../media-stage/content";
  for (const char* folder : {"overlays", "masks"}) {
    for (const ov::FindData& f : ov::ListFolder(U(content + "/" + folder), u"*")) {
      staged.insert(std::string(folder) + "\\" + U8(f.name));
    }
  }
  EXPECT_EQ(Entries(), staged);
  for (const char* name : {"overlays\\frame.bmp", "overlays\\hearts.bmp", "overlays\\ribbon.bmp", "masks\\iris.qbt",
                           "masks\\wipe.qbt"}) {
    EXPECT_TRUE(staged.count(name)) << name;
  }
  // Every video comes with its thumbnail.
  for (const std::string& name : staged) {
    if (name.size() > 4 && name.substr(name.size() - 4) == ".3gp") {
      EXPECT_TRUE(staged.count(name.substr(0, name.size() - 3) + "tat")) << name;
    }
  }
  media::ScopedMediaPackage installed(&pak_);
  BrowserScreen s(host_.get());
  std::set<std::string> listed;
  for (const EffectItem& item : s.browser->items()) {
    if (item.kind == screens::kEffectNone) continue;
    std::string folder = U8(item.folder).substr(app_.size() + 1);
    std::replace(folder.begin(), folder.end(), '/', '\\');
    listed.insert(folder + U8(item.name));
  }
  std::set<std::string> overlays;
  for (const std::string& name : staged) {
    if (name.rfind("overlays\\", 0) == 0 && name.substr(name.size() - 4) != ".tat") overlays.insert(name);
  }
  EXPECT_EQ(listed, overlays);
  // A tap on a packed overlay names it as the editors open it: the skin
  // folder, "/", the option; the package answers that path.
  s.Tap(1);
  const ov::String full = U(app_ + "/") + s.Overlay();
  uint32_t size = 0;
  EXPECT_TRUE(pak_.ReadEntry(full, &size)) << U8(full);
  EXPECT_GT(size, 0u);
}

TEST_F(PackedMediaTest, OverlayVideoThumbnailsComeFromThePackage) {
  if (!Entries().count("overlays\\bubble.3gp")) GTEST_SKIP() << "media.pak was packed without videos (no ffmpeg)";
  media::ScopedMediaPackage installed(&pak_);
  BrowserScreen s(host_.get(), {}, 320);
  s.DrawAll();
  for (const EffectItem& item : s.browser->items()) {
    if (item.name != ov::String(u"bubble.3gp")) continue;
    ASSERT_TRUE(item.thumbnail);
    // The yellow square shows; the magenta round it is black.
    int yellow = 0, black = 0;
    for (int32_t y = 0; y < item.thumbnail->height(); ++y) {
      for (int32_t x = 0; x < item.thumbnail->width(); ++x) {
        const uint16_t p = item.thumbnail->row(y)[x];
        yellow += (p >> 11) > 24 && ((p >> 5) & 63) > 40 && (p & 31) < 12;
        black += p == 0;
      }
    }
    EXPECT_GT(yellow, 10);
    EXPECT_GT(black, item.thumbnail->width() * item.thumbnail->height() / 2);
    return;
  }
  ADD_FAILURE() << "bubble.3gp not listed";
}

TEST_F(PackedMediaTest, OverlayVideoBackgroundDecodesToTheKeyColourExactly) {
  std::vector<std::string> videos;
  for (const std::string& name : Entries()) {
    if (name.size() > 4 && name.substr(name.size() - 4) == ".3gp") videos.push_back(name);
  }
  if (videos.empty()) GTEST_SKIP() << "media.pak was packed without videos (no ffmpeg)";
  media::ScopedMediaPackage installed(&pak_);
  for (std::string name : videos) {
    std::replace(name.begin(), name.end(), '\\', '/');
    auto source = engine::OpenVideoSource(U(app_ + "/" + name), nullptr, -1, 1);
    ASSERT_TRUE(source) << name;
    media::MediaFormat format;
    ASSERT_TRUE(source->GetFormat(&format));
    ASSERT_TRUE(source->Seek(0));
    for (int frame = 0; frame < 5; ++frame) {
      std::unique_ptr<uint8_t[]> bits;
      uint32_t bytes = 0, time = 0;
      ASSERT_TRUE(source->ReadVideoFrame(&bits, &bytes, &time, 1)) << name << " frame " << frame;
      const uint32_t stride = (format.width + 1) & ~1u;
      ASSERT_GE(bytes, stride * format.height * 2);
      auto at = [&](uint32_t x, uint32_t y) { return uint16_t(bits[2 * (y * stride + x)] | bits[2 * (y * stride + x) + 1] << 8); };
      size_t keyed = 0;
      for (uint32_t y = 0; y < format.height; ++y) {
        for (uint32_t x = 0; x < format.width; ++x) keyed += at(x, y) == 0xF81F;
      }
      // The corners are background; the moving shape keeps most of the
      // picture background still.
      for (auto [x, y] : {std::pair{0u, 0u}, {format.width - 1, 0u}, {0u, format.height - 1},
                          {format.width - 1, format.height - 1}}) {
        EXPECT_EQ(at(x, y), 0xF81F) << name << " frame " << frame << " at " << x << "," << y;
      }
      EXPECT_GT(keyed, size_t(format.width) * format.height * 9 / 10) << name << " frame " << frame;
    }
  }
}

TEST_F(PackedMediaTest, MasksOpenAsClipsWhiteWhereTheNewClipShows) {
  media::ScopedMediaPackage installed(&pak_);
  auto source = engine::OpenVideoSource(U(app_ + "/masks/wipe.qbt"), nullptr, -1, 1);
  ASSERT_TRUE(source);
  media::MediaFormat format;
  ASSERT_TRUE(source->GetFormat(&format));
  EXPECT_EQ(format.width, 176u);
  EXPECT_EQ(format.height, 144u);
  // A ".qbt" clip is read from its start; the fifth picture is white up to
  // half the width.
  std::unique_ptr<uint8_t[]> bits;
  uint32_t bytes = 0, time = 0;
  for (int frame = 0; frame < 5; ++frame) ASSERT_TRUE(source->ReadVideoFrame(&bits, &bytes, &time, 1));
  EXPECT_EQ(time, 400u);
  const uint32_t stride = (format.width + 1) & ~1u;
  ASSERT_GE(bytes, stride * format.height * 2);
  auto at = [&](uint32_t x, uint32_t y) { return uint16_t(bits[2 * (y * stride + x)] | bits[2 * (y * stride + x) + 1] << 8); };
  for (uint32_t y : {0u, 71u, 143u}) {
    EXPECT_EQ(at(0, y), 0xFFFF);
    EXPECT_EQ(at(87, y), 0xFFFF);
    EXPECT_EQ(at(88, y), 0x0000);
    EXPECT_EQ(at(175, y), 0x0000);
  }
}

}  // namespace

// ---- the default skin's effect and overlay screens, headless ----

namespace {

class EffectScreens : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    ov::SetTickCountForTesting(500000);
    ASSERT_TRUE(shell::MediaPackage().Open(U(kBin + "media.pak")));
    setenv("OVMIX_SCREEN", GetParam(), 1);
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
    unsetenv("OVMIX_SCREEN");
    ASSERT_TRUE(d().ok());
    d().sm().StopTimers();
  }
  void TearDown() override {
    driver_.reset();
    shell::MediaPackage().Close();
    ov::SetTickCountForTesting(0);
  }

  ovtest::HeadlessDriver& d() { return *driver_; }
  ui::Element* Find(const std::u16string& name) {
    return d().sm().FindElementByName(d().sm().menu_container(), ov::String(std::u16string_view(name)), true);
  }
  void Show(const char16_t* menu) {
    d().sm().DoAction(ui::kActionJumpTo, menu, 1);
    d().Settle();
    ASSERT_EQ(d().Menu(), std::u16string(menu));
  }
  // Paints the whole screen until the list has built every thumbnail.
  void Paint() {
    const gfx::Size s = d().sm().ScreenSize();
    for (int i = 0; i < 20; ++i) {
      d().Settle();
      d().sm().Paint({0, 0, s.cx, s.cy + shell::ScreenManager::kBarHeight});
    }
  }
  void ExpectGolden(const std::string& name) {
    Paint();
    const std::string file = name + "_" + std::string(GetParam()) + ".png";
    EXPECT_EQ(d().DifferFromGolden(file, dir_), 0) << file << " differs; see " << dir_;
  }
  ov::String Option(const char16_t* key) {
    ov::String text;
    bool numeric = false;
    d().sm().ReadOption(key, &text, &numeric);
    return text;
  }

  std::string dir_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

TEST_P(EffectScreens, OverlayScreenTapsARowAndSwitchesThePhotoEffectWithItsMark) {
  Show(u"photo_overlay_menu");
  auto* list = dynamic_cast<EffectBrowser*>(Find(u"photo_overlay_menu_list"));
  ASSERT_TRUE(list);
  int row = 0;
  for (auto p = list->items().begin(); p != list->items().end() && p->name != ov::String(u"frame.bmp"); ++p) ++row;
  ASSERT_LT(row, int(list->items().size()));
  ExpectGolden("effect_overlays");
  d().Tap(list->x() + 20, list->y() + row * list->row_height() + 5);
  d().Settle();
  EXPECT_EQ(Option(u"OverlayEffect"), ov::String(u"overlays/frame.bmp"));
  ui::Element* mark = Find(u"photo_overlay_menu_sepia");
  ASSERT_TRUE(mark);
  EXPECT_FALSE(mark->IsVisible());
  ASSERT_TRUE(d().TapElement(u"photo_overlay_menu_chip_sepia"));
  EXPECT_EQ(Option(u"PhotoEffect"), ov::String(u"2"));
  EXPECT_TRUE(mark->IsVisible());
  ASSERT_TRUE(d().TapElement(u"photo_overlay_menu_chip_sepia"));
  EXPECT_EQ(Option(u"PhotoEffect"), ov::String(u"0"));
  EXPECT_FALSE(mark->IsVisible());
  // Each effect's mark sits on its own chip: its middle over that chip's
  // text strip across, and reaching into it down.
  const char16_t* marks[] = {u"_bw", u"_sepia", u"_saturation"};
  for (const char16_t* m : marks) {
    ui::Element* tick = Find(u"photo_overlay_menu" + std::u16string(m));
    ASSERT_TRUE(tick);
    const int32_t mid = tick->x() + tick->GetXSize() / 2;
    for (const char16_t* c : marks) {
      ui::Element* chip = Find(u"photo_overlay_menu_chip" + std::u16string(c));
      ASSERT_TRUE(chip);
      const bool across = mid >= chip->x() && mid < chip->x() + chip->GetXSize();
      const bool down = tick->y() < chip->y() + chip->GetYSize() && chip->y() < tick->y() + tick->GetYSize();
      EXPECT_EQ(across && down, m == c) << U8(ov::String(std::u16string_view(m))) << " over "
                                        << U8(ov::String(std::u16string_view(c)));
    }
  }
}

// The chosen photo effect's tick is drawn whole and over its chip: read
// from the window surface, with the tick shown against the same screen
// with it hidden, it changes pixels over the chip's face (not only above
// it), in the tick's own colour, and it is a mark of some size, not a
// stroke of a few pixels.
TEST_P(EffectScreens, ThePhotoEffectTickIsDrawnWholeOverItsChip) {
  Show(u"photo_overlay_menu");
  const uint16_t tick_colour = gfx::ColorRefTo565(gfx::Rgb(0x23, 0x6F, 0xE0));
  const gfx::Bitmap& shown = *d().window().surface();
  for (const char16_t* m : {u"_bw", u"_sepia", u"_saturation"}) {
    const std::string what = U8(ov::String(std::u16string_view(m)));
    auto* chip = dynamic_cast<ui::Control*>(Find(u"photo_overlay_menu_chip" + std::u16string(m)));
    ui::Element* tick = Find(u"photo_overlay_menu" + std::u16string(m));
    ASSERT_TRUE(chip && tick) << what;
    const std::u16string chip_name = u"photo_overlay_menu_chip" + std::u16string(m);
    // Chosen and unchosen again, so that the chip is in the same state
    // (last tapped) with the tick hidden as with it shown.
    ASSERT_TRUE(d().TapElement(chip_name.c_str()));
    ASSERT_TRUE(tick->IsVisible()) << what;
    ASSERT_TRUE(d().TapElement(chip_name.c_str()));
    Paint();
    ASSERT_FALSE(tick->IsVisible()) << what;
    ASSERT_GT(chip->second_width(), 0) << what;
    // The chip's face and the band above it, where the tick stands.
    const gfx::Rect face{chip->x2(), chip->y2(), chip->x2() + chip->second_width(),
                         chip->y2() + chip->second_height()};
    const gfx::Rect area{face.left, tick->y(), face.right, face.bottom};
    std::vector<uint16_t> before;
    for (int32_t y = area.top; y < area.bottom; ++y) {
      before.insert(before.end(), shown.row(y) + area.left, shown.row(y) + area.right);
    }
    ASSERT_TRUE(d().TapElement(chip_name.c_str()));
    Paint();
    ASSERT_TRUE(tick->IsVisible()) << what;
    int changed_on_face = 0, full_on_face = 0, top = area.bottom, bottom = area.top;
    size_t i = 0;
    for (int32_t y = area.top; y < area.bottom; ++y) {
      for (int32_t x = area.left; x < area.right; ++x, ++i) {
        const uint16_t now = shown.row(y)[x];
        if (now == before[i]) continue;
        top = std::min(top, y);
        bottom = std::max(bottom, y + 1);
        if (y < face.top) continue;
        ++changed_on_face;
        full_on_face += now == tick_colour;
      }
    }
    // The old thin tick changed 12 faint pixels of the face, none in its
    // colour, and stood 6 rows high.
    EXPECT_GE(changed_on_face, 15) << what;
    EXPECT_GE(full_on_face, 8) << what;
    EXPECT_GE(bottom - top, 9) << what;
    EXPECT_GT(bottom, face.top + 3) << what;
  }
}

TEST_P(EffectScreens, EffectScreenChoosesTypeMaskSpeedDirectionAndPhotoDuration) {
  Show(u"photo_effect_menu");
  ExpectGolden("effect_settings");
  ASSERT_TRUE(d().TapElement(u"photo_effect_menu_ok"));
  EXPECT_EQ(d().Menu(), u"main_menu");  // OK hands the choice back: the editor's screen is the previous one
  Show(u"photo_effect_menu");
  // The chip of that text on the current screen.
  auto chip = [&](const char* text) -> ui::Element* {
    for (const auto& c : d().sm().current_menu()->children()) {
      auto* control = dynamic_cast<ui::Control*>(c.get());
      if (control && control->text() == U(text) && control->HasAction(ui::kActionSetAttribute)) return control;
    }
    return nullptr;
  };
  ui::Element* speed = chip("Quick");
  ui::Element* direction = chip("Down");
  ASSERT_TRUE(speed && direction);
  // The chips of the two effect rows, and whether the ring is drawn round
  // each (its top edge, in the middle).
  const char* effects[] = {"None", "Fade", "Slide", "Sweep", "Random", "Iris", "Wipe"};
  const uint16_t ring = gfx::ColorRefTo565(gfx::Rgb(0x23, 0x6F, 0xE0));
  auto ringed = [&] {
    const gfx::Size size = d().sm().ScreenSize();
    d().sm().Paint({0, 0, size.cx, size.cy + shell::ScreenManager::kBarHeight});
    std::vector<std::string> out;
    for (const char* e : effects) {
      ui::Element* c = chip(e);
      // The chip's face starts at (x2, y2); its text box is centred on it.
      if (c && d().window().surface()->row(c->y2() + 1)[c->x() + c->GetXSize() / 2] == ring) out.push_back(e);
    }
    return out;
  };
  struct Step {
    const char* chip;
    const char16_t* type;
    bool speed, direction;
    const char16_t* mask;
  };
  for (const Step& step : {Step{"Slide", u"201", true, true, u""}, Step{"Iris", u"208", true, false, u"masks/iris.qbt"},
                           Step{"Fade", u"203", true, false, u""}, Step{"Wipe", u"208", true, false, u"masks/wipe.qbt"},
                           Step{"Random", u"205", true, false, u""}, Step{"Iris", u"208", true, false, u"masks/iris.qbt"},
                           Step{"None", u"0", false, false, u""}}) {
    ui::Element* c = chip(step.chip);
    ASSERT_TRUE(c) << step.chip;
    d().Tap(c->x() + 4, c->y() + 4);
    d().Settle();
    EXPECT_EQ(Option(u"EffectType"), ov::String(step.type)) << step.chip;
    EXPECT_EQ(Option(u"EffectFilename"), ov::String(step.mask)) << step.chip;
    EXPECT_EQ(speed->IsEnabled(), step.speed) << step.chip;
    EXPECT_EQ(direction->IsEnabled(), step.direction) << step.chip;
    // The chosen chip alone is ringed: no ring stays on the one before.
    EXPECT_EQ(ringed(), std::vector<std::string>{step.chip}) << step.chip;
  }
  // The photo duration, in milliseconds as the clips keep it; the chips keep
  // their text while bound to the option.
  ui::Element* eight = chip("8 s");
  ASSERT_TRUE(eight);
  d().Tap(eight->x() + 4, eight->y() + 4);
  d().Settle();
  EXPECT_EQ(Option(u"ImageInterval"), ov::String(u"8000"));
  EXPECT_TRUE(chip("8 s") && chip("Slow"));
}

INSTANTIATE_TEST_SUITE_P(Skin, EffectScreens, ::testing::Values("240x320", "320x240"));

}  // namespace
