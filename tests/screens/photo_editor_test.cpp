// The photo editor and the pan-and-zoom editor: the stylus grid to stored
// rectangles (crop and pan and zoom, a mix size unlike the box), accepting
// a pan and zoom, the commands their previews post on the private engine
// (read back from it), the advance to the next photo, the still drawn by the
// refresh worker with the crop at full brightness, the preview mutex held
// by the UI (codes 280 / 281, 11, 8, destruction while held), an editor
// without a channel, and headless on the default skin: a playing preview
// changes the picture box and a turn reopens the edited channel.
#include "screens/editors/photo_editor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/audio_mixer.h"
#include "engine/engine_timing.h"
#include "engine/mix_engine.h"
#include "engine/video_mixer.h"
#include "platform/audio/wave_out_device.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/dc.h"
#include "platform/imaging/image.h"
#include "platform/os/thread.h"
#include "platform/ui/text_entry.h"
#include "screens/editors/pan_zoom_editor.h"
#include "screens/editors/preview_engine.h"
#include "screens/editors/text_editor.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "screens/project/text_clip.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_paths.h"
#include "ui/clip_order_list.h"
#include "ui/menu.h"

namespace {

namespace fs = std::filesystem;
using screens::ChannelSelection;
using screens::ImageEditor;
using screens::PanZoomEditor;
using screens::PackRect;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }
std::u16string Str(const ov::String& s) { return std::u16string(s.View()); }

constexpr uint32_t kWhole = screens::kWholePicture;
// Option slots the editors use.
constexpr int kKenBurnsPosition = 15, kKenStart = 16, kKenEnd = 17, kEffectSpeed = 11, kAssignKenBurnsToAll = 6;
// A colour that RGB565 keeps exactly (COLORREF 0x00BBGGRR), and its 565 word.
constexpr gfx::COLORREF kPhotoColour = 0x0000F8;

// A `w` x `h` picture of one colour, as a PNG.
std::string WritePhoto(const std::string& dir, const std::string& name, int32_t w, int32_t h) {
  gfx::HBitmap b = gfx::CreateBitmap565(w, h);
  std::fill(b->bits(), b->bits() + size_t(b->stride()) * size_t(h), gfx::ColorRefTo565(kPhotoColour));
  const std::string path = dir + "/" + name;
  EXPECT_TRUE(imaging::WritePng(path, *b));
  return path;
}

// Preview engines on virtual devices and virtual timing, as the headless
// driver makes them; the test plays their devices.
class VirtualPreviews {
 public:
  VirtualPreviews() {
    screens::SetPreviewEngineMaker([this](int32_t w, int32_t h, uint32_t fps) {
      auto timing = std::make_unique<engine::VirtualTiming>();
      engine::VirtualTiming* clock = timing.get();
      auto mix = std::make_shared<engine::MixEngine>(std::make_unique<engine::AudioMixer>(16, 22050, 2),
                                                     std::make_unique<engine::VideoMixer>(w, h, fps, 0),
                                                     std::move(timing));
      mix->SetDeviceFactory([] { return std::make_unique<ov::VirtualWaveOutDevice>(); });
      engine::MixEngine* e = mix.get();
      clock->SetClock([e] { return e->GetPlayPosition(); });
      clocks_.push_back({mix, clock});
      return mix;
    });
  }
  ~VirtualPreviews() { screens::SetPreviewEngineMaker(nullptr); }

  // Plays `e`'s device 10 ms at a time until its clock reaches `ms`; false
  // when it stalls.
  bool PlayUntil(engine::MixEngine* e, uint32_t ms) {
    for (int spins = 0; spins < 20000 && e->GetPlayPosition() < ms; ++spins) {
      e->WithDevice([](ov::WaveOutDevice& dev) { static_cast<ov::VirtualWaveOutDevice&>(dev).Advance(220); });
      for (const auto& [engine, clock] : clocks_) {
        if (!engine.expired()) clock->Poke();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return e->GetPlayPosition() >= ms;
  }

 private:
  // A clock lives as long as its engine.
  std::vector<std::pair<std::weak_ptr<engine::MixEngine>, engine::VirtualTiming*>> clocks_;
};

// Selects clip `i` of the clip order list (as its saved state does).
void Select(ui::PlaylistOrder* list, int32_t i) {
  ov::Archive out;
  out.WriteI32(list->channel_index());
  out.WriteI32(i);
  out.WriteString(u"channel_sel0");
  ov::Archive in(out.Bytes());
  list->LoadState(&in);
}

// Waits (at most 10 s) until `done` holds.
bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

struct Box {
  int32_t x = 10, y = 20, w = 299, h = 259;  // element; borders of 2 make the box 295 x 255
  int32_t mix_x = 0, mix_y = 0;
};

// The photo editor's screen in miniature, on the mixer screen's menu (which
// stands as root and current menu): channel 0 holds `photos` square photos
// (64 x 64, 1000 ms each) shown in a clip order list; the photo editor and
// the pan-and-zoom editor are initialised and opened on it. A square photo
// in the 295 x 255 box fills 255 x 255 at x 20: one grid unit a pixel.
struct PhotoScreen {
  PhotoScreen(ovtest::ScreensHost* h, const std::string& dir, int photos, Box b = {}) : host(h), mix(h) {
    channel = mix.channel[0];
    for (int i = 0; i < photos; ++i) {
      const std::string path = WritePhoto(dir, "photo" + std::to_string(i) + ".png", 64, 64);
      channel->AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(path), ov::String(), ov::String(), kWhole,
                       kWhole, 500, 1000, 0, 0, 0, kWhole, 0, nullptr);
    }
    auto l = std::make_unique<ui::PlaylistOrder>();
    l->LoadAttribute(u"title", u"photo_clips");
    list = static_cast<ui::PlaylistOrder*>(mix.menu.AddChild(std::move(l)));
    editor = static_cast<ImageEditor*>(mix.menu.AddChild(Make<ImageEditor>(b, u"image_box")));
    panzoom = static_cast<PanZoomEditor*>(mix.menu.AddChild(Make<PanZoomEditor>(b, u"panzoom_box")));
    editor->OnAction(ui::kActionInitialise, ov::String(), 0);
    panzoom->OnAction(ui::kActionInitialise, ov::String(), 0);
    list->OnAction(ui::kActionSetChannel, u"channel_sel0", 1);
    editor->OnAction(ui::kActionSetChannel, u"channel_sel0", 1);
  }
  // The previews stop first: their engines hold the channel's caches open.
  ~PhotoScreen() {
    editor->OnAction(ui::kActionEditorStop, ov::String(), 1);
    panzoom->OnAction(ui::kActionEditorStop, ov::String(), 1);
  }
  template <typename T>
  static std::unique_ptr<T> Make(const Box& b, const char16_t* title) {
    auto e = std::make_unique<T>();
    const auto num = [](int32_t v) { return ov::String::Format(u"%d", v); };
    e->LoadAttribute(u"title", title);
    e->LoadAttribute(u"xP", num(b.x));
    e->LoadAttribute(u"yP", num(b.y));
    e->LoadAttribute(u"xS", num(b.w));
    e->LoadAttribute(u"yS", num(b.h));
    e->LoadAttribute(u"borderX", u"2");
    e->LoadAttribute(u"borderY", u"2");
    e->LoadAttribute(u"mixSizeX", num(b.mix_x));
    e->LoadAttribute(u"mixSizeY", num(b.mix_y));
    e->LoadAttribute(u"croppedPenColour", u"16777215");
    return e;
  }
  // The box's top left and the photo's left edge in it.
  int32_t X(int32_t grid) const { return 10 + 2 + 20 + grid; }
  int32_t Y(int32_t grid) const { return 20 + 2 + grid; }
  // Hands what the worker queues to the editor until clip `i` has its still.
  bool StillMade(int i) {
    return WaitFor([&] {
      host->Drain(editor);
      return !channel->clip(i)->pictureCache2.IsEmpty();
    });
  }
  // Hands what the workers and engines queued to `target` until `code` came.
  bool DrainUntil(ui::Element* target, int32_t code) {
    return WaitFor([&] {
      for (int32_t c : host->Drain(target)) {
        if (c == code) return true;
      }
      return false;
    });
  }

  ovtest::ScreensHost* host;
  ovtest::MixerScreen mix;
  ChannelSelection* channel = nullptr;
  ui::PlaylistOrder* list = nullptr;
  ImageEditor* editor = nullptr;
  PanZoomEditor* panzoom = nullptr;
};

class PictureEditors : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    // The caches go to a temporary folder of this test's own.
    env_.Set("TMPDIR", dir_);
    host_ = std::make_unique<ovtest::ScreensHost>(dir_);
  }
  void TearDown() override {
    screen_.reset();
    host_.reset();
    env_.Restore();
  }
  PhotoScreen& Open(int photos, Box b = {}) {
    screen_ = std::make_unique<PhotoScreen>(host_.get(), dir_, photos, b);
    return *screen_;
  }
  std::string dir_;
  ovtest::ScopedEnv env_;
  VirtualPreviews previews_;
  std::unique_ptr<ovtest::ScreensHost> host_;
  std::unique_ptr<PhotoScreen> screen_;
};

// ---------------------------------------------------------------------------
// Stylus grids

struct Stroke {
  const char* name;
  std::vector<std::pair<int32_t, int32_t>> points;  // grid offsets from the photo's corner; down, moves
  uint32_t stored;
};

const Stroke kStrokes[] = {
    {"tap inside", {{40, 30}}, PackRect(40, 41, 30, 31)},
    {"tap before the origin", {{-15, -3}}, PackRect(0, 1, 0, 1)},
    // Grid 255 has no unit after it: the tap keeps one unit inside.
    {"tap at the far edges", {{255, 255}}, PackRect(254, 255, 254, 255)},
    {"tap beyond the picture", {{300, 280}}, PackRect(254, 255, 254, 255)},
    {"tap on the left and top edges", {{0, 0}}, PackRect(0, 1, 0, 1)},
    {"drag down and right", {{20, 10}, {60, 50}, {100, 90}}, PackRect(20, 100, 10, 90)},
    {"drag up and left is ordered", {{100, 90}, {30, 40}}, PackRect(30, 100, 40, 90)},
    {"drag beyond each edge", {{10, 10}, {-40, 400}}, PackRect(0, 10, 10, 255)},
    {"drag out past right and bottom", {{5, 6}, {500, 500}}, PackRect(5, 255, 6, 255)},
    // Back onto the start: one unit wide, not left = right (the whole picture).
    {"drag back onto the start", {{70, 80}, {120, 130}, {70, 80}}, PackRect(70, 71, 80, 81)},
};

TEST_F(PictureEditors, CropStrokesStoreTheseRectangles) {
  for (const Box& box : {Box{}, Box{10, 20, 299, 259, 590, 510}}) {
    for (const Stroke& s : kStrokes) {
      SCOPED_TRACE(std::string(s.name) + (box.mix_x ? " (mix twice the box)" : ""));
      PhotoScreen& p = Open(1, box);
      p.channel->SetClipCropOn(0, 1);
      ASSERT_TRUE(p.editor->OnStylusDown(p.X(s.points[0].first), p.Y(s.points[0].second)));
      EXPECT_EQ(host_->pressed, p.editor);
      for (size_t i = 1; i < s.points.size(); ++i) p.editor->OnStylusMove(p.X(s.points[i].first), p.Y(s.points[i].second));
      p.editor->OnStylusUp(0, 0);
      EXPECT_EQ(p.channel->GetClipCropRect(0), s.stored);
      uint32_t start = 0, end = 0;
      int32_t speed = 0;
      p.channel->GetClipPanZoom(0, &start, &end, &speed);
      EXPECT_EQ(start, kWhole);
      EXPECT_EQ(end, kWhole);
    }
  }
}

TEST_F(PictureEditors, CropGesturesNeedCropOnAndAGeometry) {
  PhotoScreen& p = Open(1);
  EXPECT_FALSE(p.editor->OnStylusDown(p.X(40), p.Y(40)));
  p.editor->OnStylusUp(0, 0);
  EXPECT_EQ(p.channel->GetClipCropRect(0), kWhole);
  // A skin whose borders eat the box leaves no picture to point at.
  PhotoScreen& q = Open(1, Box{10, 20, 4, 4});
  q.channel->SetClipCropOn(0, 1);
  EXPECT_FALSE(q.editor->OnStylusDown(12, 22));
  EXPECT_FALSE(q.editor->preview_engine());
}

TEST_F(PictureEditors, PanZoomStrokesStoreOrderedRectanglesInTheOptionBeingEdited) {
  for (const Box& box : {Box{}, Box{10, 20, 299, 259, 590, 510}}) {
    for (uint32_t position : {0u, 1u}) {
      for (const Stroke& s : kStrokes) {
        SCOPED_TRACE(std::string(s.name) + (position ? " (end)" : " (start)") + (box.mix_x ? " (mix x2)" : ""));
        PhotoScreen& p = Open(1, box);
        host_->numeric[kKenBurnsPosition] = position;
        host_->numeric[kKenStart] = host_->numeric[kKenEnd] = 0x11223344;
        p.panzoom->OnAction(ui::kActionPanZoomClip, u"0", 1);
        p.panzoom->OnAction(ui::kActionPanZoomChannel, u"channel_sel0", 1);
        ASSERT_TRUE(p.panzoom->OnStylusDown(p.X(s.points[0].first), p.Y(s.points[0].second)));
        for (size_t i = 1; i < s.points.size(); ++i) {
          p.panzoom->OnStylusMove(p.X(s.points[i].first), p.Y(s.points[i].second));
        }
        EXPECT_TRUE(p.panzoom->OnStylusUp(0, 0));
        EXPECT_EQ(host_->numeric[position ? kKenEnd : kKenStart], s.stored);
        EXPECT_EQ(host_->numeric[position ? kKenStart : kKenEnd], 0x11223344u);
        EXPECT_EQ(p.panzoom->edit_rect(), s.stored);
      }
    }
  }
}

TEST_F(PictureEditors, APanZoomDragGoesOnFromTheSmallerCorner) {
  PhotoScreen& p = Open(1);
  p.panzoom->OnAction(ui::kActionPanZoomClip, u"0", 1);
  p.panzoom->OnAction(ui::kActionPanZoomChannel, u"channel_sel0", 1);
  p.panzoom->OnStylusDown(p.X(100), p.Y(100));
  p.panzoom->OnStylusMove(p.X(50), p.Y(60));  // stored 50-100, 60-100
  p.panzoom->OnStylusMove(p.X(200), p.Y(20));  // from the corner (50, 60)
  EXPECT_EQ(host_->numeric[kKenStart], PackRect(50, 200, 20, 60));
}

TEST_F(PictureEditors, OpeningAPanZoomSwitchesTheClipsCropOff) {
  PhotoScreen& p = Open(2);
  p.channel->SetClipCropOn(1, 1);
  p.panzoom->OnAction(ui::kActionPanZoomClip, u"1", 1);
  p.panzoom->OnAction(ui::kActionPanZoomChannel, u"channel_sel0", 1);
  EXPECT_EQ(p.channel->GetClipCropOn(1), 0);
  EXPECT_EQ(p.panzoom->clip_index(), 1);
  EXPECT_EQ(Str(p.panzoom->clip_file()), Str(p.channel->GetClipFile(1)));
}

// ---------------------------------------------------------------------------
// Accepting pan and zoom

TEST_F(PictureEditors, AcceptingPanAndZoomStoresItAndSwitchesCropOff) {
  struct Case {
    const char* name;
    uint32_t start, end;
    uint32_t all;
    bool changes0, changes1;
  };
  const Case kCases[] = {
      {"selected photo", 0x10802070, 0x00FF00FF, 0, false, true},
      {"all photos", 0x10802070, 0x00FF00FF, 1, true, true},
      {"start equal to end changes nothing", 0x10802070, 0x10802070, 1, false, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    PhotoScreen& p = Open(2);
    Select(p.list, 1);  // the second photo
    ASSERT_EQ(p.editor->Selected(), 1);
    for (int i = 0; i < 2; ++i) p.channel->SetClipCropOn(i, 1);
    host_->numeric[kKenStart] = c.start;
    host_->numeric[kKenEnd] = c.end;
    host_->numeric[kEffectSpeed] = 2500;
    host_->numeric[kAssignKenBurnsToAll] = c.all;
    p.editor->OnAction(ui::kActionEditorAcceptKenBurns, ov::String(), 1);
    for (int i = 0; i < 2; ++i) {
      const bool changed = i == 0 ? c.changes0 : c.changes1;
      uint32_t start = 0, end = 0;
      int32_t speed = 0;
      p.channel->GetClipPanZoom(i, &start, &end, &speed);
      EXPECT_EQ(start, changed ? c.start : kWhole) << i;
      EXPECT_EQ(end, changed ? c.end : kWhole) << i;
      EXPECT_EQ(speed, changed ? 2500 : 500) << i;
      EXPECT_EQ(p.channel->GetClipCropOn(i), changed ? 0 : 1) << i;
    }
  }
}

TEST_F(PictureEditors, AnAcceptedFileEffectIsDecodedBehindTheProgressPopup) {
  PhotoScreen& p = Open(2);
  const std::string mask = ovtest::FixturePath("h263_qcif.3gp");
  host_->numeric[10] = engine::CMD_FILE_EFFECT;  // EffectType
  host_->numeric[11] = 1000;                     // EffectSpeed
  // The file relative to the skin folder ("" here).
  host_->strings[19] = U(mask.substr(1));
  p.editor->OnAction(ui::kActionEditorAcceptEffect, ov::String(), 1);
  EXPECT_EQ(Str(p.channel->GetEffectFile()), Str(U(mask)));
  EXPECT_EQ(p.channel->channel_effect().type, uint32_t(engine::CMD_FILE_EFFECT));
  // "ImageInterval" as it was when the channel was opened: display times stay.
  EXPECT_EQ(p.channel->GetClipDisplayTime(0), 1000);
  EXPECT_EQ(p.channel->GetClipDisplayTime(1), 1000);
  ASSERT_TRUE(p.DrainUntil(p.editor, ui::kActionDecompressDone));
  EXPECT_FALSE(p.editor->decoding());
  EXPECT_FALSE(p.channel->GetEffectCache().IsEmpty());
}

// ---------------------------------------------------------------------------
// The previews' commands

engine::EngineCommand Command(uint32_t type, uint32_t channel, int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0,
                              const ov::String& path = ov::String(), const ov::String& alt = ov::String()) {
  engine::EngineCommand c = engine::MakeCommand(type, channel, p1, p2, p3);
  c.path = path;
  c.altPath = alt;
  return c;
}

// Word by word, the time aside.
void ExpectCommands(const std::vector<engine::EngineCommand>& got, const std::vector<engine::EngineCommand>& want) {
  auto types = [](const std::vector<engine::EngineCommand>& list) {
    std::string t;
    for (const engine::EngineCommand& c : list) t += std::to_string(c.type) + " ";
    return t;
  };
  ASSERT_EQ(types(got), types(want));
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].type, want[i].type);
    EXPECT_EQ(got[i].channel, want[i].channel);
    EXPECT_EQ(Str(got[i].path), Str(want[i].path));
    EXPECT_EQ(Str(got[i].altPath), Str(want[i].altPath));
    EXPECT_EQ(got[i].param1, want[i].param1);
    EXPECT_EQ(got[i].param2, want[i].param2);
    EXPECT_EQ(got[i].param3, want[i].param3);
    EXPECT_EQ(got[i].param4, want[i].param4);
    EXPECT_EQ(got[i].param5, want[i].param5);
    EXPECT_EQ(got[i].flag, want[i].flag);
  }
}

TEST_F(PictureEditors, PlayPostsTheClipsCommandsEachOnlyWhenItsPartIsSet) {
  // Each optional part of a photo and the command it adds.
  enum Part { kText, kOverlay, kEffectFile, kPan, kPhotoEffect, kMixerEffect, kNext, kParts };
  for (int part = -1; part <= kParts; ++part) {
    auto on = [&](int p) { return part == kParts || part == p; };
    SCOPED_TRACE(part);
    PhotoScreen& p = Open(on(kNext) ? 2 : 1);
    const std::string overlay = WritePhoto(dir_, "overlay.png", 16, 16);
    if (on(kText)) p.channel->GetClipText(0)->textString = u"Hello";
    if (on(kOverlay)) p.channel->SetClipOverlayFile(0, U(overlay));
    // The mixer's effect first: setting it sets the channel's effect file.
    if (on(kMixerEffect)) p.mix.mixer->SetChannelEffect(0, engine::CMD_FADE, 1200, 3, ov::String());
    if (on(kEffectFile)) p.channel->SetEffectFile(U(dir_ + "/mask.png"));
    if (on(kPan)) p.channel->SetClipPanZoom(0, 0x10802070, 0x00FF00FF, 3000);
    if (on(kPhotoEffect)) p.channel->SetClipPhotoEffect(0, 2);
    p.editor->OnAction(ui::kActionEditorPlay, ov::String(), 1);
    ASSERT_TRUE(p.editor->playing());
    const screens::ChannelClip* clip = p.channel->clip(0);
    ASSERT_FALSE(clip->pictureCache.IsEmpty());
    const uint32_t v = engine::kFirstVideoChannel;
    std::vector<engine::EngineCommand> want = {Command(engine::CMD_MASTER_VOLUME, 0),
                                               Command(engine::CMD_LOAD, v, -1, 0, 0, clip->sourceFile,
                                                       clip->pictureCache)};
    if (on(kText)) {
      const ov::String text = screens::FormatTextClip(clip->clipText);
      want.push_back(Command(engine::CMD_LOAD_IMAGE, v, 0, 0, 0, text, text));
    }
    if (on(kOverlay)) {
      ASSERT_FALSE(clip->overlayCache.IsEmpty());
      want.push_back(Command(engine::CMD_LOAD_IMAGE, v, 0x00FF00FF, 0, 0, U(overlay), clip->overlayCache));
    }
    if (on(kEffectFile)) want.push_back(Command(engine::CMD_FILE_EFFECT, v, 0, 0, 0, U(dir_ + "/mask.png")));
    if (on(kPan)) want.push_back(Command(engine::CMD_PAN_ZOOM, v, 3000, 0x10802070, 0x00FF00FF));
    if (on(kPhotoEffect)) want.push_back(Command(engine::CMD_COLOUR_FILTER, v, 1));
    if (on(kMixerEffect)) want.push_back(Command(engine::CMD_FADE, v, 1200, 3));
    if (on(kNext)) want.push_back(Command(engine::CMD_SET_HOLD, v));
    want.push_back(Command(engine::CMD_PLAY, v));
    ExpectCommands(p.editor->preview_engine()->Actions(), want);
  }
}

TEST_F(PictureEditors, ThePanZoomPreviewPlaysTheRectanglesBeingEdited) {
  for (bool moves : {false, true}) {
    for (bool text : {false, true}) {
      SCOPED_TRACE(std::to_string(moves) + std::to_string(text));
      PhotoScreen& p = Open(2);
      // The clip's own movement is not what the preview shows.
      p.channel->SetClipPanZoom(1, 0x01020304, 0x05060708, 9000);
      if (text) p.channel->GetClipText(1)->textString = u"Caption";
      host_->numeric[kKenStart] = 0x20E040C0;
      host_->numeric[kKenEnd] = moves ? 0x00FF00FF : 0x20E040C0;
      host_->numeric[kEffectSpeed] = 4000;
      p.panzoom->OnAction(ui::kActionPanZoomClip, u"1", 1);
      p.panzoom->OnAction(ui::kActionPanZoomChannel, u"channel_sel0", 1);
      p.panzoom->OnAction(ui::kActionEditorPlay, ov::String(), 1);
      const screens::ChannelClip* clip = p.channel->clip(1);
      const uint32_t v = engine::kFirstVideoChannel;
      std::vector<engine::EngineCommand> want = {
          Command(engine::CMD_MASTER_VOLUME, 0),
          Command(engine::CMD_LOAD, v, -1, 0, 0, clip->sourceFile, clip->pictureCache)};
      if (text) {
        const ov::String t = screens::FormatTextClip(clip->clipText);
        want.push_back(Command(engine::CMD_LOAD_IMAGE, v, 0, 0, 0, t, t));
      }
      if (moves) want.push_back(Command(engine::CMD_PAN_ZOOM, v, 4000, 0x20E040C0, 0x00FF00FF));
      want.push_back(Command(engine::CMD_PLAY, v));
      ExpectCommands(p.panzoom->preview_engine()->Actions(), want);
    }
  }
}

TEST_F(PictureEditors, ThePreviewGoesFromPhotoToPhotoAndStopsAfterTheLast) {
  PhotoScreen& p = Open(2);
  p.editor->OnAction(ui::kActionEditorPlay, ov::String(), 1);
  engine::MixEngine* e = p.editor->preview_engine();
  // Part way through the first photo the position and progress run: about
  // 600 ms of the two seconds, short of the photo's end at 50 %.
  // On a busy machine the photo may start late on the clock: the test plays
  // on until the progress moves, inside the first photo.
  for (uint32_t ms = 600; ms < 1000 && host_->numeric[screens::picture_options::kPlayPercentage] == 0; ms += 50) {
    ASSERT_TRUE(previews_.PlayUntil(e, ms));
    p.editor->OnAction(ui::kActionClipDeleted, ov::String(), 1);  // refreshes the shown time
  }
  EXPECT_GT(host_->numeric[screens::picture_options::kPlayPercentage], 0u);
  EXPECT_LT(host_->numeric[screens::picture_options::kPlayPercentage], 50u);
  EXPECT_EQ(Str(host_->strings[screens::picture_options::kTrackPos]), u"0:00");
  ASSERT_TRUE(previews_.PlayUntil(e, 1100));
  // The held first photo ended: the engine asks for the next.
  ASSERT_TRUE(p.DrainUntil(p.editor, engine::kActionNextClip));
  EXPECT_EQ(p.editor->play_index(), 1);
  const std::vector<engine::EngineCommand> actions = e->Actions();
  size_t loads = 0;
  for (const engine::EngineCommand& c : actions) {
    if (c.type == engine::CMD_LOAD) {
      EXPECT_EQ(Str(c.path), Str(p.channel->GetClipFile(int(loads))));
      ++loads;
    }
  }
  EXPECT_EQ(loads, 2u);
  EXPECT_EQ(actions.back().type, engine::CMD_PLAY);
  // A late notice for the same end, after the 250 ms check moved on, does
  // not skip a photo.
  p.editor->OnAction(engine::kActionNextClip, u"0", 1);
  EXPECT_EQ(p.editor->play_index(), 1);
  // The shown position stays inside the photo being played.
  p.editor->OnAction(ui::kActionClipDeleted, ov::String(), 1);
  ASSERT_TRUE(previews_.PlayUntil(e, 2300));
  uint32_t now = 1000;
  gfx::Rect area;
  EXPECT_TRUE(WaitFor([&] {
    p.editor->OnTick(&area, now += 300);
    return !p.editor->playing();
  }));
  EXPECT_EQ(p.editor->play_index(), 0);
  EXPECT_EQ(Str(host_->strings[13]), u"0:00");
  EXPECT_EQ(Str(host_->strings[14]), u"0:02");
}

// ---------------------------------------------------------------------------
// The still, the refresh worker and the preview mutex

TEST_F(PictureEditors, TheWorkerMakesTheStillAndTheCropShowsAtFullBrightness) {
  PhotoScreen& p = Open(1);
  ASSERT_TRUE(p.editor->refresh_running());
  // Opening the channel woke the worker once: its still, then a reload.
  ASSERT_TRUE(p.StillMade(0));
  ASSERT_TRUE(p.editor->reload_pending());
  p.channel->SetClipCropOn(0, 1);
  p.channel->SetClipCropRect(0, PackRect(64, 192, 64, 192));
  gfx::HBitmap surface = gfx::CreateCompatibleBitmap(nullptr, 340, 300);
  auto dc = gfx::CreateWindowDC(surface);
  p.editor->Draw(dc.get(), 0);
  EXPECT_FALSE(p.editor->reload_pending());
  const uint16_t full = gfx::ColorRefTo565(kPhotoColour);
  auto at = [&](int32_t gx, int32_t gy) { return gfx::ColorRefTo565(gfx::GetPixel(dc.get(), p.X(gx), p.Y(gy))); };
  EXPECT_EQ(at(128, 128), full);  // inside the crop
  const uint16_t dim = at(20, 20);  // the photo outside it
  EXPECT_NE(dim, full);
  EXPECT_NE(dim, 0);
  EXPECT_EQ(at(20, 230), dim);
  EXPECT_EQ(at(-10, 128), 0);  // the box beside the photo
  // The dashed frame along the crop's edge, in the pen's colour: edge e of
  // the 255-pixel photo lies at (e * 255) >> 8.
  EXPECT_EQ(gfx::GetPixel(dc.get(), p.X(63), p.Y(63)), 0xFFFFFFu);
  EXPECT_EQ(gfx::GetPixel(dc.get(), p.X(63), p.Y(64)), 0xFFFFFFu);
}

TEST_F(PictureEditors, WhileTheUiHoldsTheMutexTheWorkerWaitsAndDestructionEndsIt) {
  PhotoScreen& p = Open(2);
  p.editor->OnAction(ui::kActionMenuShown, ov::String(), 1);
  ASSERT_TRUE(p.StillMade(0));
  // Leaving the menu holds the mutex (the caches go); a new selection then
  // waits for the menu to come back.
  p.editor->OnAction(ui::kActionLeavingMenu, ov::String(), 1);
  ASSERT_TRUE(p.editor->mutex_held());
  EXPECT_TRUE(p.channel->clip(0)->pictureCache2.IsEmpty());
  Select(p.list, 1);
  p.editor->OnAction(ui::kActionCacheLock, ov::String(), 1);  // taken again: recursive
  p.editor->OnAction(ui::kActionCacheUnlock, ov::String(), 1);
  p.editor->OnAction(ui::kActionSelectionChanged, ov::String(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  host_->Drain(p.editor);
  EXPECT_TRUE(p.channel->clip(1)->pictureCache2.IsEmpty());
  // Shown again: released, and the still of the second photo is made.
  p.editor->OnAction(ui::kActionMenuShown, ov::String(), 1);
  EXPECT_FALSE(p.editor->mutex_held());
  ASSERT_TRUE(p.StillMade(1));
  // Around a deletion (280 / 281) the worker is held off too.
  p.editor->OnAction(ui::kActionCacheLock, ov::String(), 1);
  Select(p.list, 0);
  p.editor->OnAction(ui::kActionSelectionChanged, ov::String(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  host_->Drain(p.editor);
  EXPECT_TRUE(p.channel->clip(0)->pictureCache2.IsEmpty());
  p.editor->OnAction(ui::kActionCacheUnlock, ov::String(), 1);
  ASSERT_TRUE(p.StillMade(0));
  // Destroyed while the UI holds the mutex and the worker waits for it.
  p.editor->OnAction(ui::kActionLeavingMenu, ov::String(), 1);
  p.editor->OnAction(ui::kActionSelectionChanged, ov::String(), 1);
  p.editor->OnAction(ui::kActionCacheLock, ov::String(), 1);
  p.panzoom->OnAction(ui::kActionLeavingMenu, ov::String(), 1);
  screen_.reset();
  SUCCEED();
}

TEST_F(PictureEditors, AfterATurnTheNewMutexIsNotHeld) {
  PhotoScreen& p = Open(1);
  p.editor->OnAction(ui::kActionLeavingMenu, ov::String(), 1);
  ASSERT_TRUE(p.editor->mutex_held());
  ov::Archive out;
  p.editor->SaveState(&out);
  ImageEditor fresh;
  ov::Archive in(out.Bytes());
  fresh.LoadState(&in);
  EXPECT_TRUE(in.ok());
  EXPECT_EQ(in.Remaining(), 0u);
  EXPECT_FALSE(fresh.mutex_held());
  EXPECT_EQ(Str(fresh.channel_name()), u"channel_sel0");
  EXPECT_EQ(fresh.channel_index(), 0);
}

TEST_F(PictureEditors, WithoutAChannelEverySlotDoesNothing) {
  PhotoScreen& p = Open(1);
  p.channel->SetClipCropOn(0, 1);
  p.editor->OnAction(ui::kActionSetChannel, u"no_such_channel", 1);
  p.panzoom->OnAction(ui::kActionPanZoomChannel, u"no_such_channel", 1);
  ASSERT_EQ(p.editor->channel(), nullptr);
  for (screens::PictureEditor* e : {static_cast<screens::PictureEditor*>(p.editor), static_cast<screens::PictureEditor*>(p.panzoom)}) {
    for (int32_t code : {int32_t(ui::kActionEditorPlay), int32_t(ui::kActionEditorCropPhoto),
                         int32_t(ui::kActionEditorAcceptChanges), int32_t(ui::kActionEditorAcceptEffect),
                         int32_t(ui::kActionEditorAcceptKenBurns), int32_t(ui::kActionEditorPanZoomEdit),
                         int32_t(ui::kActionEditorAddEffect), int32_t(ui::kActionAddText),
                         int32_t(ui::kActionSelectionChanged), int32_t(ui::kActionMenuShown)}) {
      e->OnAction(code, ov::String(), 1);
    }
    EXPECT_FALSE(e->playing());
    EXPECT_FALSE(e->OnStylusDown(p.X(10), p.Y(10)));
    EXPECT_TRUE(e->preview_engine()->Actions().empty());
  }
  EXPECT_EQ(p.channel->GetClipCropOn(0), 1);
  EXPECT_TRUE(host_->jumps.empty());
  gfx::HBitmap surface = gfx::CreateCompatibleBitmap(nullptr, 340, 300);
  auto dc = gfx::CreateWindowDC(surface);
  p.editor->Draw(dc.get(), 0);
  EXPECT_EQ(gfx::GetPixel(dc.get(), p.X(100), p.Y(100)), 0u);
}

// ---------------------------------------------------------------------------
// Headless, on the default skin

class PhotoEditorScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ovtest::ScratchDir();
    ovtest::IsolateProgram(&env_, dir_, "photo");
  }
  void TearDown() override {
    driver_.reset();
    env_.Restore();
  }
  ovtest::HeadlessDriver& d() { return *driver_; }
  // The program on a project whose channel 0 holds `photos` photos (two
  // unless said), on the photo editor's screen for that channel.
  void OpenEditor(bool virtual_devices = false, int photos = 2) {
    ChannelSelection ch[8];
    for (int i = 0; i < photos; ++i) {
      const std::string path = dir_ + "/photo" + std::to_string(i) + ".jpg";
      fs::copy_file(ovtest::FixturePath("gfx_photo.jpg"), path, fs::copy_options::overwrite_existing);
      ch[0].AddClip(screens::kKindImage, screens::kFileTypeJpeg, U(path), ov::String(), ov::String(), kWhole, kWhole,
                    500, 1000, 0, 0, 0, kWhole, 0, nullptr);
    }
    ch[6].AddEmptyTextClip();
    ch[7].AddEmptyTextClip();
    const std::string project = dir_ + "/photos.mix";
    ASSERT_TRUE(ovtest::WriteProjectFile(project, ch));
    setenv("OVMIX_LOAD", project.c_str(), 1);
    driver_ = std::make_unique<ovtest::HeadlessDriver>(dir_ + "/data");
    unsetenv("OVMIX_LOAD");
    ASSERT_TRUE(d().ok());
    if (virtual_devices) {
      ASSERT_TRUE(d().UseVirtualWaveOut());
    }
    d().sm().JumpToMenu(u"image_editor");
    d().sm().DoAction(ui::kActionSetChannel, u"channel_sel0", 1);
    d().Settle();
    ASSERT_EQ(d().Menu(), u"image_editor");
  }
  template <typename T>
  T* Find(int32_t type) {
    return dynamic_cast<T*>(d().sm().FindElementByType(d().sm().menu_container(), type, 1));
  }
  std::string dir_;
  ovtest::ScopedEnv env_;
  std::unique_ptr<ovtest::HeadlessDriver> driver_;
};

TEST_F(PhotoEditorScreen, APlayingPreviewChangesThePictureBox) {
  OpenEditor(true);
  ImageEditor* editor = Find<ImageEditor>(ui::kTypeImageEditor);
  ASSERT_TRUE(editor && editor->channel());
  // The still, once the worker has made it.
  ASSERT_TRUE(d().SettleUntil([&] { return !editor->channel()->clip(0)->pictureCache2.IsEmpty(); }));
  d().Settle();
  const std::string still = d().SurfaceHash();
  d().sm().DoAction(ui::kActionEditorPlay, ov::String(), 1);
  ASSERT_TRUE(editor->playing());
  ASSERT_TRUE(d().SettleUntil([&] {
    d().AdvanceDevice(2205);
    return d().SurfaceHash() != still;
  }));
  EXPECT_TRUE(editor->playing());
}

TEST_F(PhotoEditorScreen, ATurnReopensTheEditedChannels) {
  OpenEditor();
  ImageEditor* editor = Find<ImageEditor>(ui::kTypeImageEditor);
  ASSERT_TRUE(editor && editor->channel());
  // The pan-and-zoom editor on the second photo.
  d().sm().DoAction(ui::kActionEditorPanZoomEdit, ov::String(), 1);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"panzoomMenu");
  d().Back();
  d().Settle();
  ASSERT_EQ(d().Menu(), u"image_editor");
  d().Key(wnd::Key::kRotate);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"image_editor");
  editor = Find<ImageEditor>(ui::kTypeImageEditor);
  ASSERT_TRUE(editor);
  ASSERT_TRUE(editor->channel());
  EXPECT_EQ(Str(editor->channel()->title()), u"channel_sel0");
  EXPECT_EQ(editor->channel()->ClipCount(), 2);
  EXPECT_FALSE(editor->mutex_held());
}

// Deleting a photo in the screen's clip order list goes through the shell to
// the editor, which shows the channel's new length at once.
TEST_F(PhotoEditorScreen, APhotoDeletedInTheClipListShortensTheShownLength) {
  OpenEditor(false, 3);
  ImageEditor* editor = Find<ImageEditor>(ui::kTypeImageEditor);
  ASSERT_TRUE(editor && editor->channel());
  const ov::String* length = d().sm().StringOption(screens::picture_options::kTrackLen);
  ASSERT_TRUE(length);
  EXPECT_EQ(Str(*length), u"0:03");
  d().sm().DoAction(ui::kActionPlaylistDelete, ov::String(), 1);
  d().Settle();
  EXPECT_EQ(editor->channel()->ClipCount(), 2);
  EXPECT_EQ(Str(*length), u"0:02");
}

// The pan-and-zoom screen says in words which rectangle the stylus draws,
// following "Start" and "End", in both orientations.
TEST_F(PhotoEditorScreen, ThePanZoomLabelNamesTheRectangleDrawn) {
  OpenEditor();
  for (int turn = 0; turn < 2; ++turn) {
    if (turn) {
      d().Key(wnd::Key::kRotate);
      d().Settle();
    }
    d().sm().DoAction(ui::kActionEditorPanZoomEdit, ov::String(), 1);
    d().Settle();
    ASSERT_EQ(d().Menu(), u"panzoomMenu");
    ui::Element* which = d().sm().FindElementByName(nullptr, u"panzoom_which", false);
    ASSERT_TRUE(which);
    for (const auto& [chip, words] : {std::pair{u"panzoom_end", "Drawing the end rectangle"},
                                      std::pair{u"panzoom_start", "Drawing the start rectangle"}}) {
      ASSERT_TRUE(d().TapElement(chip));
      d().Settle();
      EXPECT_EQ(which->text().ToUtf8Lossy(), words) << turn;
    }
    d().SavePng(dir_ + "/panzoom_" + std::to_string(turn) + ".png");  // for review
    d().Back();
    d().Settle();
  }
}

TEST_F(PhotoEditorScreen, ATurnOnThePanZoomScreenReopensItsClip) {
  OpenEditor();
  ImageEditor* editor = Find<ImageEditor>(ui::kTypeImageEditor);
  ASSERT_TRUE(editor);
  auto* list = Find<ui::PlaylistOrder>(ui::kTypePlaylistOrder);
  ASSERT_TRUE(list);
  Select(list, 1);
  ASSERT_EQ(editor->Selected(), 1);
  d().sm().DoAction(ui::kActionEditorPanZoomEdit, ov::String(), 1);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"panzoomMenu");
  d().Key(wnd::Key::kRotate);
  d().Settle();
  ASSERT_EQ(d().Menu(), u"panzoomMenu");
  auto* panzoom = Find<PanZoomEditor>(ui::kTypePanZoomEditor);
  ASSERT_TRUE(panzoom);
  ASSERT_TRUE(panzoom->channel());
  EXPECT_EQ(Str(panzoom->channel()->title()), u"channel_sel0");
  EXPECT_EQ(panzoom->clip_index(), 1);
  EXPECT_EQ(Str(panzoom->clip_file()), Str(panzoom->channel()->GetClipFile(1)));
}

// "Text" opens the caption of the photo selected in the editor, and a tap on
// the text box types it, in both orientations.
TEST_F(PhotoEditorScreen, TextTypesTheSelectedPhotosCaption) {
  OpenEditor();
  for (int turn = 0; turn < 2; ++turn) {
    SCOPED_TRACE(turn);
    if (turn) {
      d().Key(wnd::Key::kRotate);
      d().Settle();
      ASSERT_EQ(d().Menu(), u"image_editor");
    }
    auto* list = Find<ui::PlaylistOrder>(ui::kTypePlaylistOrder);
    ImageEditor* editor = Find<ImageEditor>(ui::kTypeImageEditor);
    ASSERT_TRUE(list && editor && editor->channel());
    Select(list, 1 - turn);
    ASSERT_EQ(editor->Selected(), 1 - turn);
    ASSERT_TRUE(d().TapElement(u"photo_text"));
    d().Settle();
    ASSERT_EQ(d().Menu(), u"imageTextMenu");
    auto* text = dynamic_cast<screens::TextEditor*>(
        d().sm().FindElementByName(d().sm().menu_container(), u"text_editor", true));
    ASSERT_TRUE(text);
    ChannelSelection* ch = editor->channel();
    ASSERT_EQ(text->clip(), ch->GetClipText(1 - turn));
    const std::u16string typed = turn ? u"First photo" : u"Second photo";
    wnd::SetTextEntryHook([&](const ov::String&, ov::String* t) {
      *t = ov::String(typed.c_str());
      return true;
    });
    d().Tap(text->x() + text->GetXSize() / 2, text->y() + text->GetYSize() / 2);
    d().Settle();
    wnd::SetTextEntryHook({});
    EXPECT_EQ(Str(ch->GetClipText(1 - turn)->textString), typed);
    EXPECT_EQ(Str(ch->GetClipText(turn)->textString), turn ? u"Second photo" : u"");
    d().Back();
    d().Settle();
  }
}

}  // namespace
