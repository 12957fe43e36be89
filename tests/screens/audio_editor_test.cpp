// The audio editor: its waveform columns and their colours, the page turn
// that follows the play line, the cut from the play position, the sliders
// and the stylus, the effect toggles, the preview thread on a virtual
// device (its start, its end after the device played every block, a device
// that does not open) and, headless on the default skin, the cut played bit
// for bit.
#include "screens/editors/audio_editor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/gfx/dc.h"
#include "platform/os/thread.h"
#include "screens/mixer/mixer.h"
#include "screens/project/channel_selection.h"
#include "tests/screens/screens_host.h"
#include "tests/support/headless_driver.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_paths.h"
#include "ui/menu.h"
#include "ui/slider_control.h"

namespace {

using screens::AudioEditor;
using screens::ChannelSelection;

constexpr uint32_t kRate = 22050;
// One preview block: 50 ms of 22050 Hz stereo, 88 bytes a millisecond.
constexpr uint64_t kBlockFrames = 1100;
// Colours that read back unchanged from an RGB565 surface.
constexpr uint32_t kIncluded = 0x0000FF;
constexpr uint32_t kExcluded = 0xFF0000;

ov::String U(const std::string& s) { return ov::String::FromUtf8Lossy(s); }

using Frame = std::pair<int16_t, int16_t>;

// A 22050 Hz 16-bit stereo WAV of `ms` milliseconds, frame i being frame(i).
void WriteWav(const std::string& path, uint32_t ms, const std::function<Frame(uint32_t)>& frame) {
  ovtest::WriteStereoWav(path, kRate / 10 * ms / 100, frame);
}

// Whole seconds of steady levels: second 0 only the right channel at 16000,
// second 1 the left at -12000 beside 3000, then 8000 on both.
Frame Steps(uint32_t i) {
  switch (i / kRate) {
    case 0: return {0, 16000};
    case 1: return {-12000, 3000};
    default: return {8000, 8000};
  }
}

// A level that differs from frame to frame on both channels, so that a
// sample out of place shows.
Frame Pattern(uint32_t i) { return {int16_t(i * 7), int16_t(~(i * 13))}; }

struct Geometry {
  int32_t width = 204, height = 70, border_x = 2, border_y = 2, seconds = 5;
};

// The editor's screen in miniature: a channel "channel_sel0" holding one
// sound clip, the editor at (10, 20) and a cut slider, shown and loaded as
// the channel's editor would be; its previews play on virtual devices.
struct EditorScreen {
  EditorScreen(ovtest::ScreensHost* h, const std::string& clip, Geometry g = {}, int32_t cut_start = 0,
               int32_t cut_end = 0)
      : host(h) {
    AudioEditor::SetDeviceFactory([] { return std::make_unique<ov::VirtualWaveOutDevice>(); });
    host->menu = &menu;
    menu.LoadAttribute(u"title", u"audio_editor");
    auto c = std::make_unique<ChannelSelection>();
    c->LoadAttribute(u"title", u"channel_sel0");
    channel = static_cast<ChannelSelection*>(menu.AddChild(std::move(c)));
    channel->AddClip(screens::kKindAudio, screens::kFileTypeWav, U(clip), ov::String(), ov::String(), 0x00FF00FF,
                     0x00FF00FF, 500, 0, 0, cut_start, cut_end, 0x00FF00FF, 0, nullptr);
    auto s = std::make_unique<ui::SliderControl>();
    for (auto [name, value] : {std::pair{u"title", u"cut_slider"}, {u"xP", u"40"}, {u"yP", u"120"},
                               {u"xS", u"108"}, {u"yS", u"6"}, {u"horizontal", u"yes"}, {u"sliderWidth", u"8"},
                               {u"attribute0", u"CutFlagStart"}}) {
      s->LoadAttribute(name, value);
    }
    slider = static_cast<ui::SliderControl*>(menu.AddChild(std::move(s)));
    for (const char16_t* name : {u"start_mark", u"end_mark"}) {
      auto m = std::make_unique<ui::Control>();
      m->LoadAttribute(u"title", name);
      m->LoadAttribute(u"xS", u"6");
      m->LoadAttribute(u"yS", u"6");
      menu.AddChild(std::move(m));
    }
    auto e = std::make_unique<AudioEditor>();
    const auto num = [](int32_t v) { return ov::String::Format(u"%d", v); };
    e->LoadAttribute(u"title", u"audio_wave");
    e->LoadAttribute(u"xP", u"10");
    e->LoadAttribute(u"yP", u"20");
    e->LoadAttribute(u"xS", num(g.width));
    e->LoadAttribute(u"yS", num(g.height));
    e->LoadAttribute(u"borderX", num(g.border_x));
    e->LoadAttribute(u"borderY", num(g.border_y));
    e->LoadAttribute(u"secondsToShow", num(g.seconds));
    e->LoadAttribute(u"wavIncLineColor", u"0000FF");
    e->LoadAttribute(u"wavExcLineColor", u"FF0000");
    e->LoadAttribute(u"playLineColur", u"00FF00");
    e->LoadAttribute(u"startMarker", u"start_mark");
    e->LoadAttribute(u"endMarker", u"end_mark");
    e->LoadAttribute(u"markerOffset", u"41");
    editor = static_cast<AudioEditor*>(menu.AddChild(std::move(e)));
    slider->UpdateLayout();
    editor->OnAction(ui::kActionInitialise, ov::String(), 0);
    editor->OnAction(ui::kActionMenuShown, ov::String(), 0);
    editor->OnAction(ui::kActionSetChannel, u"channel_sel0", 0);
    surface = gfx::CreateCompatibleBitmap(nullptr, 240, 400);
    dc = gfx::CreateWindowDC(surface);
  }
  ~EditorScreen() {
    editor->OnAction(ui::kActionLeavingMenu, ov::String(), 0);
    AudioEditor::SetDeviceFactory(nullptr);
    if (host->menu == &menu) host->menu = nullptr;
  }

  void Draw() { editor->Draw(dc.get(), 0); }
  uint32_t Pixel(int32_t x, int32_t y) { return gfx::GetPixel(dc.get(), x, y); }
  // Gives queued actions (ticks, ED_STOP) to the editor, as the UI thread does.
  void Deliver() { host->Drain(editor); }

  // Lets the device play one block and waits until the preview thread has
  // written the next one; false when it did not within a minute.
  bool PlayBlock() {
    const int32_t before = editor->play_pos();
    editor->WithDevice([](ov::WaveOutDevice& d) { static_cast<ov::VirtualWaveOutDevice&>(d).Advance(kBlockFrames); });
    for (int i = 0; i < 60000 && editor->play_pos() == before; ++i) ov::Sleep(1);
    Deliver();
    Draw();
    return editor->play_pos() != before;
  }
  // Plays until the position reaches `pos` (0.1 ms).
  bool PlayTo(int32_t pos) {
    for (int i = 0; i < 10000 && editor->play_pos() < pos; ++i) {
      if (!PlayBlock()) return false;
    }
    return editor->play_pos() == pos;
  }
  // Lets the device play everything, the preview thread end and its ED_STOP
  // arrive; false when the preview did not end within ten seconds.
  bool PlayToEnd() {
    for (int i = 0; i < 10000 && editor->playing(); ++i) {
      editor->WithDevice([](ov::WaveOutDevice& d) { static_cast<ov::VirtualWaveOutDevice&>(d).Advance(kBlockFrames); });
      ov::Sleep(1);
      Deliver();
    }
    return !editor->playing() && !editor->preview_running();
  }

  ui::Menu menu;
  ChannelSelection* channel = nullptr;
  AudioEditor* editor = nullptr;
  ui::SliderControl* slider = nullptr;
  gfx::HBitmap surface;
  std::unique_ptr<gfx::DeviceContext> dc;
  ovtest::ScreensHost* host;
};

class AudioEditorTest : public testing::Test {
 protected:
  std::string dir_ = ovtest::ScratchDir();
  ovtest::ScreensHost host_{dir_};
  std::string Clip(const char* name, uint32_t ms, const std::function<Frame(uint32_t)>& frame) {
    const std::string path = dir_ + "/" + name;
    WriteWav(path, ms, frame);
    return path;
  }
};

// A 5-second view 200 columns wide: the analysis runs at 1280 Hz, a column
// is 25 ms, five columns come per paint; each column's peak is the larger
// magnitude of both channels, drawn down when positive, in the included
// colour inside the cut and the excluded colour outside it.
TEST_F(AudioEditorTest, WaveformColumnsPeaksAndCutColours) {
  EditorScreen s(&host_, Clip("steps.wav", 6000, Steps), {}, 1000, 3000);
  EXPECT_EQ(s.editor->duration_ms(), 6000u);
  EXPECT_EQ(std::u16string(s.editor->title_text().View()), u"steps");
  EXPECT_EQ(std::u16string(host_.strings[4].View()), u"0:06.0");  // AudioTrackLen
  ASSERT_NE(s.editor->analysis_mixer(), nullptr);
  EXPECT_EQ(s.editor->analysis_mixer()->rate(), 1280u);
  s.Draw();
  EXPECT_EQ(s.editor->units_per_column(), 250);
  EXPECT_EQ(s.editor->columns_done(), 5);
  s.Draw();
  EXPECT_EQ(s.editor->columns_done(), 10);
  for (int i = 0; i < 40; ++i) s.Draw();
  ASSERT_EQ(s.editor->columns_done(), 200);
  const std::vector<int32_t>& peaks = s.editor->column_peaks();
  // Half the 66-pixel view is 33 rows: 32767 / 33 = 992 per row.
  EXPECT_EQ(peaks[10], 16000 / 992);
  EXPECT_EQ(peaks[60], -12000 / 992);
  EXPECT_EQ(peaks[150], 8000 / 992);
  // Column c starts at c × 25 ms; the cut runs from 1000 to 3000 ms, its
  // points themselves outside.
  const int32_t left = 12, mid = 20 + 2 + 33;
  for (auto [column, colour] : {std::pair{20, kExcluded}, {40, kExcluded}, {41, kIncluded}, {119, kIncluded},
                                {120, kExcluded}, {180, kExcluded}}) {
    const int32_t dy = peaks[size_t(column)] > 0 ? 1 : -1;
    EXPECT_EQ(s.Pixel(left + column, mid + dy), colour) << "column " << column;
  }
  // Outside the drawn lines the skin shows through.
  EXPECT_EQ(s.Pixel(left + 60, mid + 3), 0u);
}

// A stop starts the view again with the mixers, also when it stood at 0
// with the analysis part way: the columns after it show the clip's own
// times, not its start again.
TEST_F(AudioEditorTest, AStopStartsTheWaveformAgain) {
  EditorScreen s(&host_, Clip("restart.wav", 6000, Steps));
  for (int i = 0; i < 8; ++i) s.Draw();
  ASSERT_EQ(s.editor->columns_done(), 40);
  s.editor->OnAction(ui::kActionEditorPlay, ov::String(), 0);
  s.editor->OnAction(ui::kActionEditorStop, ov::String(), 0);
  for (int i = 0; i < 40; ++i) s.Draw();
  ASSERT_EQ(s.editor->columns_done(), 200);
  EXPECT_EQ(s.editor->column_peaks()[20], 16000 / 992);   // 500 ms
  EXPECT_EQ(s.editor->column_peaks()[50], -12000 / 992);  // 1250 ms
  EXPECT_EQ(s.editor->column_peaks()[100], 8000 / 992);   // 2500 ms
}

// On the system's sound output (SDL's dummy driver here, which plays in real
// time), with every processor kept busy: a one-second clip takes about a
// second from its first block to its ED_STOP.
TEST_F(AudioEditorTest, PreviewKeepsRealTimeOnALoadedMachine) {
  ovtest::ScopedEnv env;
  env.Set("SDL_AUDIODRIVER", "dummy");
  if (!ov::CreateSystemWaveOutDevice()) GTEST_SKIP() << "no sound output";
  EditorScreen s(&host_, Clip("second.wav", 1000, Steps));
  AudioEditor::SetDeviceFactory(nullptr);
  std::atomic<bool> busy{true};
  std::vector<std::thread> load;
  for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency()); ++i) {
    load.emplace_back([&busy] {
      volatile uint64_t x = 0;
      while (busy.load(std::memory_order_relaxed)) x = x + 1;
    });
  }
  s.editor->OnAction(ui::kActionEditorPlay, ov::String(), 0);
  // From the first block's tick, which the thread queues once the device
  // has it, to the ED_STOP that follows the last block played.
  std::chrono::steady_clock::time_point first;
  bool ticked = false;
  for (int i = 0; i < 10000 && s.editor->playing(); ++i) {
    ov::Sleep(1);
    const std::vector<int32_t> codes = host_.Drain(s.editor);
    if (!ticked && std::find(codes.begin(), codes.end(), ui::kActionEditorTick) != codes.end()) {
      first = std::chrono::steady_clock::now();
      ticked = true;
    }
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - first).count();
  busy = false;
  for (std::thread& t : load) t.join();
  EXPECT_FALSE(s.editor->playing());
  ASSERT_TRUE(ticked);
  // Never faster than the sound (the device paces the thread; the stop may
  // come up to two 50 ms blocks early only if they were not waited for),
  // and not much slower on the loaded machine.
  EXPECT_GE(ms, 900);
  EXPECT_LE(ms, 3000);
}

// ED_CUTSTART at 12.3 s stores 12300; ED_CUTEND at 10 s then clears the
// start and stores 10000. The view turns its pages after the play line, and
// the slider's markers follow the cut.
TEST_F(AudioEditorTest, CutFromThePlayPositionAndPagesFollowThePlayLine) {
  EditorScreen s(&host_, Clip("long.wav", 13000, Pattern));
  s.editor->OnAction(ui::kActionEditorPlay, ov::String(), 0);
  ASSERT_TRUE(s.editor->playing());
  ASSERT_TRUE(s.PlayTo(50000));
  EXPECT_EQ(s.editor->window_start_ms(), 0);
  ASSERT_TRUE(s.PlayTo(50500));
  EXPECT_EQ(s.editor->window_start_ms(), 5000);
  ASSERT_TRUE(s.PlayTo(123000));
  EXPECT_EQ(s.editor->window_start_ms(), 10000);
  EXPECT_EQ(std::u16string(host_.strings[5].View()), u"0:12.3");  // AudioTrackPos
  EXPECT_EQ(host_.numeric[1], 94u);                                // AudioTrackPlayPercentage
  s.editor->OnAction(ui::kActionEditorCutStart, ov::String(), 0);
  int32_t start = -1, end = -1;
  s.channel->GetClipCutPoints(0, &start, &end);
  EXPECT_EQ(start, 12300);
  EXPECT_EQ(end, 0);
  EXPECT_EQ(host_.numeric[38], 94u);  // CutFlagStart
  EXPECT_EQ(host_.numeric[39], 100u);
  ui::Element* mark = host_.FindElementByName(nullptr, u"start_mark", false);
  EXPECT_EQ(mark->x(), 41 + s.slider->SliderKnobPosition(94));

  s.editor->OnAction(ui::kActionEditorStop, ov::String(), 0);
  EXPECT_FALSE(s.editor->preview_running());
  EXPECT_EQ(s.editor->play_pos(), 0);
  EXPECT_EQ(s.editor->window_start_ms(), 0);
  s.editor->OnAction(ui::kActionEditorPlay, ov::String(), 0);
  ASSERT_TRUE(s.PlayTo(100000));
  s.editor->OnAction(ui::kActionEditorCutEnd, ov::String(), 0);
  s.channel->GetClipCutPoints(0, &start, &end);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(end, 10000);
  // Skips move the view and the play position a window at a time and
  // refuse to pass the clip's end.
  EXPECT_EQ(s.editor->window_start_ms(), 5000);
  s.editor->OnAction(ui::kActionEditorSkipBack, ov::String(), 0);
  EXPECT_EQ(s.editor->play_pos(), 50000);
  EXPECT_EQ(s.editor->window_start_ms(), 0);
  s.editor->OnAction(ui::kActionEditorSkipForward, ov::String(), 0);
  EXPECT_EQ(s.editor->play_pos(), 100000);
  EXPECT_EQ(s.editor->window_start_ms(), 5000);
  s.editor->OnAction(ui::kActionEditorSkipForward, ov::String(), 0);  // 15 s: past the end
  EXPECT_EQ(s.editor->play_pos(), 100000);
  EXPECT_EQ(s.editor->window_start_ms(), 5000);
  // The preview goes on from where the skip left it.
  ASSERT_TRUE(s.PlayBlock());
  // A start past the end clears the end, as an end before the start clears
  // the start; so does a start on the end itself.
  const int32_t past = s.editor->play_pos() / 10;
  ASSERT_GT(past, 10000);
  s.editor->OnAction(ui::kActionEditorCutStart, ov::String(), 0);
  s.channel->GetClipCutPoints(0, &start, &end);
  EXPECT_EQ(start, past);
  EXPECT_EQ(end, 0);
  s.editor->OnAction(ui::kActionEditorCutEnd, ov::String(), 0);
  s.channel->GetClipCutPoints(0, &start, &end);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(end, past);
  s.editor->OnAction(ui::kActionEditorCutStart, ov::String(), 0);
  s.channel->GetClipCutPoints(0, &start, &end);
  EXPECT_EQ(start, past);
  EXPECT_EQ(end, 0);
}

// The sliders (options 38 and 39, action 248) on a 10000 ms clip; while a
// preview plays they change nothing and are put back.
TEST_F(AudioEditorTest, SlidersSetTheCut) {
  struct Case {
    int32_t start, end;       // the clip's cut before
    uint32_t flag_start, flag_end;
    int32_t want_start, want_end;
  };
  const Case cases[] = {
      {0, 0, 50, 100, 5001, 0},         // the start moves
      {2000, 4000, 50, 40, 5001, 0},    // past the end: the end is cleared
      {2001, 8000, 20, 50, 2001, 5001}, // the start stays: the end moves
      {6001, 0, 60, 30, 0, 3001},       // the end before the start: the start is cleared
  };
  const std::string clip = Clip("ten.wav", 10000, Steps);
  for (const Case& c : cases) {
    EditorScreen s(&host_, clip, {}, c.start, c.end);
    host_.numeric[38] = c.flag_start;
    host_.numeric[39] = c.flag_end;
    s.editor->OnAction(ui::kActionOptionCut, ov::String(), 0);
    int32_t start = -1, end = -1;
    s.channel->GetClipCutPoints(0, &start, &end);
    EXPECT_EQ(start, c.want_start) << c.start << "," << c.end;
    EXPECT_EQ(end, c.want_end) << c.start << "," << c.end;
  }
  EditorScreen s(&host_, clip, {}, 2000, 4000);
  s.editor->OnAction(ui::kActionEditorPlay, ov::String(), 0);
  host_.numeric[38] = 70;
  s.editor->OnAction(ui::kActionOptionCut, ov::String(), 0);
  int32_t start = -1, end = -1;
  s.channel->GetClipCutPoints(0, &start, &end);
  EXPECT_EQ(start, 2000);
  EXPECT_EQ(host_.numeric[38], 20u);
}

// A tap sets both cut points to the tapped time (not yet written); a drag
// left of it makes the drag point the start and writes the cut. While a
// preview plays the stylus changes nothing.
TEST_F(AudioEditorTest, TapAndDragSetTheCut) {
  EditorScreen s(&host_, Clip("drag.wav", 6000, Steps));
  s.Draw();
  ASSERT_EQ(s.editor->units_per_column(), 250);
  const int32_t left = 12, y = 40;
  s.editor->OnStylusDown(left + 40, y);
  EXPECT_EQ(host_.pressed, s.editor);
  EXPECT_EQ(s.editor->cut_start_ms(), 1000);
  EXPECT_EQ(s.editor->cut_end_ms(), 1000);
  int32_t start = -1, end = -1;
  s.channel->GetClipCutPoints(0, &start, &end);
  EXPECT_EQ(end, 0);
  s.editor->OnStylusMove(left + 20, y);
  s.channel->GetClipCutPoints(0, &start, &end);
  EXPECT_EQ(start, 500);
  EXPECT_EQ(end, 1000);
  // Far right is held at the view's last column.
  s.editor->OnStylusMove(left + 1000, y);
  s.channel->GetClipCutPoints(0, &start, &end);
  EXPECT_EQ(start, 1000);
  EXPECT_EQ(end, 199 * 25);
  s.editor->OnStylusUp(left + 1000, y);

  s.editor->OnAction(ui::kActionEditorPlay, ov::String(), 0);
  s.editor->OnStylusDown(left + 100, y);
  s.editor->OnStylusMove(left + 150, y);
  s.channel->GetClipCutPoints(0, &start, &end);
  EXPECT_EQ(start, 1000);
  EXPECT_EQ(end, 199 * 25);
}

// ED_AUD_ECHO_SHORT and ED_AUD_CHORUS switch the channel's effect; an echo
// of either length counts as the echo.
TEST_F(AudioEditorTest, EffectToggles) {
  struct Case {
    int32_t before;  // mixer action of the effect on before, 0 none
    std::vector<int32_t> actions;
    bool on;
    uint32_t type;
    int32_t param1;
  };
  const Case cases[] = {
      {0, {ui::kActionEditorEchoShort}, true, engine::CMD_ECHO, 500},
      {0, {ui::kActionEditorEchoShort, ui::kActionEditorEchoShort}, false, engine::CMD_ECHO, 500},
      {223, {ui::kActionEditorEchoShort}, true, engine::CMD_ECHO, 500},
      {222, {ui::kActionEditorEchoShort}, false, engine::CMD_ECHO, 1000},
      {221, {ui::kActionEditorChorus}, true, engine::CMD_CHORUS, 5},
  };
  const std::string clip = Clip("fx.wav", 1000, Steps);
  for (const Case& c : cases) {
    EditorScreen s(&host_, clip);
    if (c.before) {
      s.channel->SetAudioEffectFromAction(c.before);
      s.channel->set_effect_on(1);
    }
    for (int32_t a : c.actions) s.editor->OnAction(a, ov::String(), 0);
    EXPECT_EQ(s.channel->effect_on() != 0, c.on) << c.before;
    EXPECT_EQ(s.channel->channel_effect().type, c.type) << c.before;
    EXPECT_EQ(s.channel->channel_effect().param1, c.param1) << c.before;
  }
}

TEST(AudioEditorTime, FormatsMinutesSecondsAndTenths) {
  for (auto [ms, text] : {std::pair{83456u, u"1:23.4"}, {0u, u"0:00.0"}, {59999u, u"0:59.9"}, {600000u, u"10:00.0"}}) {
    EXPECT_EQ(std::u16string(AudioEditor::FormatTime(ms).View()), text);
  }
}

// Views a skin may give: no seconds, more seconds than columns, no columns
// at all, no height, a height beyond the sample range; a clip shorter than
// one column. None divides by zero; each still plays.
TEST_F(AudioEditorTest, ViewsAndClipsWithoutAColumnToDivideBy) {
  struct Case {
    Geometry g;
    uint32_t rate;      // of the analysis mixer, 0 none
    int32_t peak;       // of column 0 after some paints
  };
  const Case cases[] = {
      {{204, 70, 2, 2, 0}, 200 * 32, 16000 / 992},
      {{204, 70, 2, 2, 1000}, 32, 16000 / 992},
      {{4, 70, 2, 2, 5}, 0, 0},
      {{14, 4, 2, 2, 5}, 64, 0},
      {{14, 32767, 2, -20000, 5}, 64, 16000},
  };
  const std::string clip = Clip("views.wav", 2000, Steps);
  for (const Case& c : cases) {
    EditorScreen s(&host_, clip, c.g);
    engine::AudioMixer* analysis = s.editor->analysis_mixer();
    EXPECT_EQ(analysis ? analysis->rate() : 0u, c.rate) << c.g.width << "x" << c.g.height;
    for (int i = 0; i < 4; ++i) s.Draw();
    if (c.rate) {
      EXPECT_EQ(s.editor->column_peaks().at(0), c.peak) << c.g.width << "x" << c.g.height;
    }
    // The stylus finds no time in a view without columns.
    if (!c.rate) {
      s.editor->OnStylusDown(12, 30);
      s.editor->OnStylusMove(13, 30);
      EXPECT_EQ(s.channel->clip(0)->cutEnd, 0);
    }
    s.editor->OnAction(ui::kActionEditorPlay, ov::String(), 0);
    EXPECT_TRUE(s.PlayToEnd()) << c.g.width << "x" << c.g.height;
  }
  EditorScreen s(&host_, Clip("short.wav", 10, Steps));
  for (int i = 0; i < 3; ++i) s.Draw();
  EXPECT_EQ(s.editor->columns_done(), 0);
  EXPECT_EQ(s.editor->units_per_column(), 1);
}

// A device that does not open ends the preview as if the clip had ended:
// ED_STOP comes, the thread is joined, nothing waits for ever.
TEST_F(AudioEditorTest, ADeviceThatDoesNotOpenEndsThePreview) {
  EditorScreen s(&host_, Clip("nodev.wav", 1000, Steps));
  AudioEditor::SetDeviceFactory([] { return std::unique_ptr<ov::WaveOutDevice>(); });
  s.editor->OnAction(ui::kActionEditorPlay, ov::String(), 0);
  for (int i = 0; i < 60000 && s.editor->playing(); ++i) {
    ov::Sleep(1);
    s.Deliver();
  }
  EXPECT_FALSE(s.editor->playing());
  EXPECT_FALSE(s.editor->preview_running());
}

// Headless on the default skin: the channel's editor plays its cut on the
// virtual device, every sample from the cut's start to its end less the one
// frame the mixer's voice holds back, the last block included.
TEST(AudioEditorScreen, PlaySelectionHandsTheDeviceTheCutBitForBit) {
  const std::string dir = ovtest::ScratchDir();
  const std::string clip = dir + "/pattern.wav";
  WriteWav(clip, 3000, Pattern);
  ovtest::HeadlessDriver d(dir);
  ASSERT_TRUE(d.ok());
  d.UseVirtualWaveOut();
  auto* channel = dynamic_cast<ChannelSelection*>(
      d.sm().FindElementByName(d.sm().menu_container(), u"channel_sel0", true));
  ASSERT_NE(channel, nullptr);
  channel->AddClip(screens::kKindAudio, screens::kFileTypeWav, U(clip), ov::String(), ov::String(), 0x00FF00FF,
                   0x00FF00FF, 500, 0, 0, 1000, 2500, 0x00FF00FF, 0, nullptr);
  // The mixer's sound channel opens its editor from its sound icon.
  ASSERT_TRUE(d.TapElement(u"main_0"));
  ASSERT_EQ(d.Menu(), u"mixing_menu");
  channel->Refresh();
  // Entering decodes the clip to its cache behind a progress screen that
  // takes the taps: the user waits for it to go, as the test does.
  auto* mixer = dynamic_cast<screens::Mixer*>(d.sm().menu_container()->FindByType(ui::kTypeMixer, true));
  ASSERT_NE(mixer, nullptr);
  ASSERT_TRUE(d.SettleUntil([&] {
    ui::Element* progress = d.sm().FindElementByName(d.sm().menu_container(), u"DECOMPRESSION_PROGRESS", true);
    return !mixer->decoding() && !(progress && progress->IsVisible());
  }));
  ASSERT_TRUE(d.TapElement(u"aud0"));
  ASSERT_TRUE(d.SettleUntil([&] { return d.Menu() == u"audio_editor"; })) << ov::String(d.Menu()).ToUtf8Lossy();
  auto* editor = dynamic_cast<AudioEditor*>(d.sm().FindElementByType(nullptr, ui::kTypeAudioEditor, 1));
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->duration_ms(), 3000u);
  d.sm().DoAction(ui::kActionEditorPlaySelection, ov::String(), 1);
  ASSERT_TRUE(editor->playing());
  EXPECT_TRUE(editor->selection_mode());
  std::vector<uint8_t> played;
  for (int i = 0; i < 20000 && editor->playing(); ++i) {
    d.AdvanceDevice(kBlockFrames / 2, &played);
    d.Settle();
    ov::Sleep(1);
  }
  ASSERT_FALSE(editor->playing());
  const uint32_t first = 1000 * kRate / 1000, last = 2500 * kRate / 1000 - 1;
  ASSERT_EQ(played.size(), size_t(last - first) * 4);
  for (uint32_t i = first; i < last; ++i) {
    const Frame want = Pattern(i);
    const uint8_t* p = &played[size_t(i - first) * 4];
    ASSERT_EQ(int16_t(p[0] | p[1] << 8), want.first) << "frame " << i;
    ASSERT_EQ(int16_t(p[2] | p[3] << 8), want.second) << "frame " << i;
  }
  // The end of the cut stops the preview and leaves the view at its start.
  EXPECT_EQ(editor->play_pos(), 0);
  d.SavePng(dir + "/audio_editor.png");  // for review
}

}  // namespace
