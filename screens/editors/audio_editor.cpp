#include "screens/editors/audio_editor.h"

#include <algorithm>
#include <system_error>

#include "engine/engine_command.h"
#include "engine/picture565.h"
#include "media/decoder_source.h"
#include "media/media_info.h"
#include "media/wav_source.h"
#include "platform/os/thread.h"
#include "screens/editors/editor_options.h"
#include "screens/editors/file_title.h"
#include "screens/project/channel_selection.h"
#include "ui/menu.h"
#include "ui/slider_control.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

// Options the editor reads and writes (UiHost slots).
constexpr int kOptionPlayPercentage = 1;  // AudioTrackPlayPercentage
constexpr int kOptionCutFlagStart = 38;
constexpr int kOptionCutFlagEnd = 39;
constexpr int kOptionTrackTitle = 3;  // AudioTrackTitle
constexpr int kOptionTrackLength = 4;  // AudioTrackLen
constexpr int kOptionTrackPosition = 5;  // AudioTrackPos

constexpr int kHelpTipAudioEditor = 5;
// Each pull of the analysis mixer reads at most 20 × 32 bytes (five
// columns); one column is 32 stereo 16-bit frames.
constexpr uint32_t kColumnBytes = 128;
constexpr uint32_t kMaxAnalysisBytes = 640;
// The preview writes blocks of this many milliseconds.
constexpr uint32_t kBlockMs = 50;
// The UI lets a muted device settle before it stops the preview.
constexpr uint32_t kMuteSettleMs = 25;

std::mutex& FactoryMutex() {
  static std::mutex mutex;
  return mutex;
}

AudioEditor::DeviceFactory& Factory() {
  static AudioEditor::DeviceFactory factory;
  return factory;
}

}  // namespace

AudioEditor::AudioEditor() : go_event_(false, false), started_event_(false, false) {
  type_ = ui::kTypeAudioEditor;
  transparent_colour_ = engine::kKeyColour;
}

AudioEditor::~AudioEditor() {
  // The channel may be gone already: end the thread without reloading.
  EndPreviewThread();
}

void AudioEditor::SetDeviceFactory(DeviceFactory factory) {
  std::lock_guard<std::mutex> lock(FactoryMutex());
  Factory() = std::move(factory);
}

bool AudioEditor::WithDevice(const std::function<void(ov::WaveOutDevice&)>& fn) {
  std::lock_guard<std::mutex> lock(player_mutex_);
  if (!player_ || !player_->device()) return false;
  fn(*player_->device());
  return true;
}

ov::String AudioEditor::FormatTime(uint32_t ms) {
  const uint32_t m = ms / 60000;
  const uint32_t s = (ms - m * 60000) / 1000;
  const uint32_t t = (ms - m * 60000 - s * 1000) / 100;
  return ov::String::Format(u"%d:%.2d.%.1d", m, s, t);
}

void AudioEditor::LoadAttribute(const ov::String& name, const ov::String& value) {
  struct Text {
    const char16_t* name;
    ov::String AudioEditor::*field;
  };
  static const Text kTexts[] = {{u"startMarker", &AudioEditor::start_marker_name_},
                                {u"endMarker", &AudioEditor::end_marker_name_},
                                {u"loopingTick", &AudioEditor::loop_tick_name_},
                                {u"echoTick", &AudioEditor::echo_tick_name_},
                                {u"chorusTick", &AudioEditor::chorus_tick_name_}};
  for (const Text& t : kTexts) {
    if (ui::NameIs(name, t.name)) {
      this->*t.field = value;
      return;
    }
  }
  struct Colour {
    const char16_t* name;
    uint32_t AudioEditor::*field;
  };
  // "playLineColur" is the skin's own spelling.
  static const Colour kColours[] = {{u"playLineColur", &AudioEditor::play_line_colour_},
                                    {u"wavIncLineColor", &AudioEditor::inc_colour_},
                                    {u"wavExcLineColor", &AudioEditor::exc_colour_}};
  for (const Colour& c : kColours) {
    if (ui::NameIs(name, c.name)) {
      this->*c.field = ui::ParseColour(value);
      return;
    }
  }
  if (ui::NameIs(name, u"markerOffset")) {
    marker_offset_ = ui::ParseCoordinate(value);
  } else if (ui::NameIs(name, u"borderX")) {
    border_x_ = ui::ParseCoordinate(value);
  } else if (ui::NameIs(name, u"borderY")) {
    border_y_ = ui::ParseCoordinate(value);
  } else if (ui::NameIs(name, u"secondsToShow")) {
    seconds_to_show_ = ui::ParseCoordinate(value);
    window_ms_ = seconds_to_show_ * 1000;
  } else {
    Control::LoadAttribute(name, value);
  }
}

// ---------------------------------------------------------------------------
// Mixers and the clip

void AudioEditor::CreateMixers() {
  if (preview_thread_.joinable()) EndPreviewThread();
  const int32_t columns = Columns();
  // The view must hold at least one column per second and at most the
  // columns an AudioMixer's rate allows; a skin's 0 or a value above the
  // view width would make the analysis rate 0.
  if (columns > 0) {
    const int32_t fewest = (columns + kMaxColumnsPerSecond - 1) / kMaxColumnsPerSecond;
    seconds_to_show_ = std::clamp(seconds_to_show_, std::max(1, fewest), columns);
    window_ms_ = seconds_to_show_ * 1000;
    const auto rate = static_cast<uint32_t>(columns / seconds_to_show_) * 32;
    analysis_mixer_ = std::make_unique<engine::AudioMixer>(16, rate, 2);
  } else {
    // No view: no waveform, but the clip still plays.
    analysis_mixer_.reset();
  }
  preview_mixer_ = std::make_unique<engine::AudioMixer>(16, 22050, 2);
  play_pos_.store(0, std::memory_order_release);
  window_end_ms_ = window_ms_;
  playing_ = paused_ = selection_mode_ = false;
  window_start_ms_ = analysis_start_ms_ = analysis_pos_ = columns_done_ = columns_drawn_ = 0;
  analysis_ended_ = false;
}

bool AudioEditor::ClipIsWav() const {
  return channel_ && channel_->GetClipFileType(0) == kFileTypeWav;
}

void AudioEditor::LoadClip(const ov::String& name) {
  ui::UiHost* host = ui::Host();
  channel_name_ = name;
  units_per_column_ = 1;
  anchor_ms_ = -1;
  ui::Element* found = host ? host->FindElementByName(host->RootMenu(), name, true) : nullptr;
  if (found && found->GetType() == ui::kTypeChannelSelection) channel_ = dynamic_cast<ChannelSelection*>(found);
  if (channel_) {
    source_file_ = channel_->GetClipFile(0);
    if (ClipIsWav()) {
      media::WavSource wav;
      duration_ms_ = wav.Open(source_file_, 1) ? wav.GetDuration() : 0;
      clip_title_ = FileTitle(source_file_);
    } else {
      media::MediaInfo info;
      info.ReadMediaInfo(source_file_, 0);
      duration_ms_ = info.durationMs;
      clip_title_ = info.title.IsEmpty() ? FileTitle(source_file_) : info.title;
    }
    has_tempo_ = channel_->ReadTempo() != 0;
  } else {
    // No channel of that name: an empty editor that plays nothing.
    source_file_.Empty();
    clip_title_.Empty();
    duration_ms_ = 0;
    has_tempo_ = false;
  }
  sample_bits_ = 0;
  SetString(host, kOptionTrackTitle, clip_title_);
  SetString(host, kOptionTrackLength, FormatTime(duration_ms_));
  RefreshBoundTexts(host);
  TimeText();
  cut_.start = cut_.end = 0;
  if (channel_) channel_->GetClipCutPoints(0, &cut_.start, &cut_.end);
  UpdateMarkers();
  LoadMixers(false);
}

void AudioEditor::LoadMixer(engine::AudioMixer* mixer, bool selection, bool with_effect) {
  const uint32_t start = selection ? static_cast<uint32_t>(std::max(0, cut_.start)) : 0;
  const uint32_t end = selection ? static_cast<uint32_t>(std::max(0, cut_.end)) : 0;
  mixer->CloseChannel(0);
  if (source_file_.IsEmpty() || !mixer->LoadChannel(0, source_file_, start, end, 0)) return;
  mixer->ApplyAction(engine::MakeCommand(engine::CMD_VOLUME, 0, 0xFFFF), 0);
  mixer->ApplyAction(engine::MakeCommand(engine::CMD_MASTER_VOLUME, 0, 0xFFFF), 0);
  if (with_effect && channel_ && channel_->effect_on()) {
    engine::EngineCommand effect = channel_->channel_effect();
    effect.channel = 0;
    mixer->ApplyAction(effect, 0);
  }
  mixer->ApplyAction(engine::MakeCommand(engine::CMD_PLAY, 0), 0);
}

void AudioEditor::LoadMixers(bool selection) {
  if (!preview_mixer_) return;
  selection_mode_ = selection;
  if (analysis_mixer_) LoadMixer(analysis_mixer_.get(), selection, false);
  LoadMixer(preview_mixer_.get(), selection, true);
}

void AudioEditor::PlayFile(const ov::String& path) {
  if (playing_) OnAction(ui::kActionEditorStop, ov::String(), 0);
  channel_ = nullptr;
  source_file_ = path;
  cut_.start = cut_.end = 0;
  if (!preview_mixer_) CreateMixers();
  StopMixers();
  LoadMixers(false);
  StartPlay(false);
}

void AudioEditor::StopMixers() {
  if (analysis_mixer_) analysis_mixer_->CloseChannel(0);
  if (preview_mixer_) preview_mixer_->CloseChannel(0);
}

// ---------------------------------------------------------------------------
// The preview

void AudioEditor::StartPlay(bool selection) {
  playing_ = true;
  if (selection) {
    selection_mode_ = true;
    StopMixers();
    LoadMixers(true);
    window_start_ms_ = analysis_start_ms_ = cut_.start;
    analysis_pos_ = cut_.start * 10;
    window_end_ms_ = seconds_to_show_ * 1000 + cut_.start;
    columns_done_ = columns_drawn_ = 0;
    analysis_ended_ = false;
    UpdateLayout();
    Invalidate();
  } else {
    selection_mode_ = false;
  }
  if (!StartPreview()) {
    // No preview thread (none could be made, or it never delivered its first
    // block): back to stopped, the mixers ready for the next try.
    playing_ = paused_ = selection_mode_ = false;
    StopMixers();
    LoadMixers(false);
    return;
  }
  go_event_.Set();
}

bool AudioEditor::StartPreview() {
  if (!preview_mixer_) return false;
  if (preview_thread_.joinable()) preview_thread_.join();
  stop_requested_.store(false, std::memory_order_release);
  go_event_.Reset();
  started_event_.Reset();
  DeviceFactory factory;
  {
    std::lock_guard<std::mutex> lock(FactoryMutex());
    factory = Factory();
  }
  const int32_t start = selection_mode_ ? cut_.start * 10 : 0;
  thread_running_.store(true, std::memory_order_release);
  try {
    preview_thread_ = std::thread([this, factory = std::move(factory), start, host = ui::Host()] {
      PreviewMain(factory, start, host);
    });
  } catch (const std::system_error&) {
    thread_running_.store(false, std::memory_order_release);
    return false;
  }
  if (started_event_.Wait(kStartWaitMs) != ov::kWaitObject0) {
    EndPreviewThread();
    return false;
  }
  return true;
}

void AudioEditor::PreviewMain(const DeviceFactory& factory, int32_t start_pos, ui::UiHost* host) {
  // Time-critical when the system grants it; otherwise the thread keeps its
  // normal priority and plays all the same.
  ov::SetCurrentThreadPriority(ov::kThreadPriorityTimeCritical);
  engine::AudioMixer* mixer = preview_mixer_.get();
  const uint32_t block = std::max<uint32_t>(mixer->BytesForDuration(kBlockMs), 4);
  const uint32_t blocks_per_10s = mixer->outBytesPerSecond() * 10 / block;
  // Tenths of a millisecond per block: 500 for 22050 Hz 16-bit stereo.
  const int32_t step = blocks_per_10s ? static_cast<int32_t>(100000 / blocks_per_10s) : 0;
  auto player = std::make_unique<engine::WaveOutPlayer>(factory ? factory() : ov::CreateSystemWaveOutDevice());
  const bool opened = player->Open(mixer->bits(), mixer->rate(), mixer->channels()) != 0;
  engine::WaveOutPlayer* p = player.get();  // only this thread drops it
  {
    std::lock_guard<std::mutex> lock(player_mutex_);
    player_ = std::move(player);
  }
  std::vector<uint8_t> buffer(block);
  // A stop the UI asked for needs no ED_STOP from here.
  auto queue_stop = [&] {
    if (!stop_requested_.exchange(true, std::memory_order_acq_rel) && host) {
      host->QueueAction(nullptr, ui::kActionEditorStop, ov::String(), 1);
    }
  };
  bool first = true;
  while (!stop_requested_.load(std::memory_order_acquire)) {
    uint32_t got = 0;
    mixer->Pull(buffer.data(), block, &got);
    if (first) {
      first = false;
      started_event_.Set();
      go_event_.Wait(ov::kInfinite);
      play_pos_.store(start_pos, std::memory_order_release);
      if (stop_requested_.load(std::memory_order_acquire)) break;
    }
    if (got == 0 || !opened) {
      // The end of the clip or the cut: the device plays what it holds
      // before the UI hears of the stop (closing returns blocks unplayed).
      if (opened) p->Drain(kDrainWaitMs);
      queue_stop();
      break;
    }
    if (!p->Write(buffer.data(), got)) {
      queue_stop();
      break;
    }
    play_pos_.fetch_add(step, std::memory_order_acq_rel);
    if (host) host->QueueAction(nullptr, ui::kActionEditorTick, ov::String(), 1);
  }
  {
    std::lock_guard<std::mutex> lock(player_mutex_);
    player_->Close();
    player_.reset();
  }
  thread_running_.store(false, std::memory_order_release);
}

void AudioEditor::StopPreview() {
  EndPreviewThread();
  StopMixers();
  LoadMixers(false);
}

void AudioEditor::EndPreviewThread() {
  stop_requested_.store(true, std::memory_order_release);
  // A thread still at the handshake runs on and sees the flag.
  go_event_.Set();
  bool muted = false;
  {
    std::lock_guard<std::mutex> lock(player_mutex_);
    if (player_) {
      player_->SetVolume(0);
      muted = true;
    }
  }
  if (muted) ov::Sleep(kMuteSettleMs);
  {
    std::lock_guard<std::mutex> lock(player_mutex_);
    if (player_) {
      if (paused_) player_->SetPaused(false);
      // Releases a writer that waits for the device.
      player_->Close();
    }
  }
  paused_ = false;
  if (preview_thread_.joinable()) preview_thread_.join();
}

// ---------------------------------------------------------------------------
// Position, skips and the cut

bool AudioEditor::Skip(int32_t delta_ms) {
  int64_t start = int64_t{window_start_ms_} + delta_ms;
  if (start < 0) start = 0;
  else if (start > duration_ms_) return false;
  int64_t pos = int64_t{play_pos()} / 10 + delta_ms;
  if (pos < 0) pos = 0;
  else if (pos > duration_ms_) return false;
  window_start_ms_ = static_cast<int32_t>(start);
  if (analysis_mixer_) {
    // A clip that ended in the view has closed its channel: open it again.
    if (!analysis_mixer_->IsChannelLoaded(0)) LoadMixer(analysis_mixer_.get(), false, false);
    analysis_mixer_->ApplyAction(engine::MakeCommand(engine::CMD_SEEK, 0, window_start_ms_), 0);
  }
  if (preview_mixer_) preview_mixer_->ApplyAction(engine::MakeCommand(engine::CMD_SEEK, 0, int32_t(pos)), 0);
  play_pos_.store(static_cast<int32_t>(pos) * 10, std::memory_order_release);
  TimeText();
  analysis_pos_ = window_start_ms_ * 10;
  analysis_start_ms_ = window_start_ms_;
  window_end_ms_ = window_start_ms_ + window_ms_;
  columns_done_ = columns_drawn_ = 0;
  analysis_ended_ = false;
  UpdateLayout();
  Invalidate();
  return true;
}

void AudioEditor::TimeText() {
  ui::UiHost* host = ui::Host();
  int32_t pos = play_pos();
  uint32_t percent = 0;
  if (duration_ms_ != 0) percent = std::min<uint32_t>(100, uint32_t(uint64_t(std::max(0, pos / 10)) * 100 / duration_ms_));
  SetNumeric(host, kOptionPlayPercentage, percent);
  if (pos / 10 > 0 && uint32_t(pos / 10) > duration_ms_) {
    pos = static_cast<int32_t>(duration_ms_ * 10);
    play_pos_.store(pos, std::memory_order_release);
  }
  SetString(host, kOptionTrackPosition, FormatTime(uint32_t(std::max(0, pos / 10))));
  RefreshBoundTexts(host);
}

void AudioEditor::WriteCut() {
  if (channel_) channel_->SetClipCutPoints(0, cut_.start, cut_.end);
  UpdateMarkers();
}

void AudioEditor::UpdateMarkers() {
  ui::UiHost* host = ui::Host();
  const uint32_t start_flag = duration_ms_ ? uint32_t(uint64_t(std::max(0, cut_.start)) * 100 / duration_ms_) : 0;
  const uint32_t end_flag = duration_ms_ != 0 && cut_.end > cut_.start
                                ? uint32_t(uint64_t(std::max(0, cut_.end)) * 100 / duration_ms_)
                                : 100;
  SetNumeric(host, kOptionCutFlagStart, start_flag);
  SetNumeric(host, kOptionCutFlagEnd, end_flag);
  RefreshBoundTexts(host);
  if (host && start_marker_ && end_marker_) {
    if (auto* slider = dynamic_cast<ui::SliderControl*>(host->FindElementByType(nullptr, ui::kTypeSliderControl, 1))) {
      auto place = [&](ui::Element* marker, uint32_t flag) {
        const int32_t x = marker_offset_ + slider->SliderKnobPosition(int32_t(std::min<uint32_t>(flag, 100)));
        marker->MoveX(x - marker->x());
        marker->UpdateLayout();
      };
      place(start_marker_, start_flag);
      place(end_marker_, end_flag);
    }
  }
  full_redraw_ = true;
  UpdateLayout();
  Invalidate();
}

void AudioEditor::SliderCut() {
  ui::UiHost* host = ui::Host();
  if (!playing_ && !paused_) {
    MoveCutToSliders(&cut_, duration_ms_, GetNumeric(host, kOptionCutFlagStart), GetNumeric(host, kOptionCutFlagEnd));
    WriteCut();
  } else {
    // While a preview runs the cut stays: the sliders go back.
    UpdateMarkers();
  }
  if (host) host->InvalidateAll();
}

void AudioEditor::ToggleEffect(uint32_t type, int32_t action) {
  if (!channel_) return;
  // Echoes of either length count as one type.
  if (!channel_->effect_on() || channel_->channel_effect().type != type) {
    channel_->SetAudioEffectFromAction(action);
    channel_->set_effect_on(1);
  } else {
    channel_->set_effect_on(0);
  }
  if (playing_ && preview_mixer_) {
    engine::EngineCommand effect = channel_->channel_effect();
    effect.channel = 0;
    effect.flag = channel_->effect_on() ? 0 : 1;
    preview_mixer_->ApplyAction(effect, 0);
  }
}

// ---------------------------------------------------------------------------
// The waveform

bool AudioEditor::AnalyseStep() {
  const int32_t columns = Columns();
  if (columns <= 0) return false;
  const int32_t half = ViewHeight() / 2;
  // A view under 2 pixels high draws flat; one taller than the sample range
  // draws the samples as they are.
  const int32_t scale = half > 0 ? std::max(1, 32767 / half) : 0;
  if (column_peaks_.empty()) column_peaks_.assign(size_t(columns), 0);
  if (analysis_pos_ / 10 == window_end_ms_ || columns_done_ >= columns) return false;
  // Nothing loaded (no clip, or a file that cannot be read): nothing will come.
  if (!analysis_mixer_ || !analysis_mixer_->IsChannelLoaded(0)) return false;
  const uint32_t want = uint32_t(std::min((columns - columns_done_) * 4, 20)) * 32;
  uint8_t bytes[kMaxAnalysisBytes];
  uint32_t got = 0;
  if (!analysis_mixer_->Pull(bytes, want, &got) || got == 0) {
    // The clip has ended inside the view.
    window_end_ms_ = analysis_pos_ / 10;
    analysis_ended_ = true;
    return true;
  }
  for (uint32_t at = 0; at + kColumnBytes <= got; at += kColumnBytes) {
    int32_t high = -32768, low = 32768;
    for (uint32_t i = 0; i < kColumnBytes; i += 2) {
      const int32_t v = int16_t(uint16_t(bytes[at + i] | bytes[at + i + 1] << 8));
      high = std::max(high, v);
      low = std::min(low, v);
    }
    const int32_t peak = high >= -low ? high : low;
    if (columns_done_ < columns) column_peaks_[size_t(columns_done_++)] = scale ? peak / scale : 0;
  }
  const uint32_t per_block = analysis_mixer_->outBytesPerSecond() * 100 / got;
  const int32_t d = per_block ? int32_t(1000000 / per_block) : 0;
  // A clip shorter than a column leaves no column to measure by.
  if (units_per_column_ <= 1 && columns_done_ > 0) units_per_column_ = d / columns_done_;
  analysis_pos_ += d;
  return true;
}

void AudioEditor::DrawColumns() {
  if (!offscreen_dc_) return;
  const int32_t columns = Columns(), rows = ViewHeight();
  if (columns_drawn_ == 0 || full_redraw_) {
    gfx::FillRect(offscreen_dc_.get(), gfx::Rect{0, 0, columns, rows}, gfx::CreateSolidBrush(transparent_colour_));
    full_redraw_ = false;
    columns_drawn_ = 0;
  }
  if (column_peaks_.empty()) return;
  const int32_t mid = rows / 2;
  const int32_t from = columns_drawn_ > 0 ? columns_drawn_ - 1 : 0;
  if (from >= columns_done_) {
    columns_drawn_ = columns_done_;
    return;
  }
  int64_t r = int64_t{units_per_column_} * from + int64_t{window_start_ms_} * 10;
  for (int32_t c = from; c < columns_done_; ++c, r += units_per_column_) {
    const int64_t t = r / 10;
    const bool excluded = t <= cut_.start || (cut_.end != 0 && t >= cut_.end);
    offscreen_dc_->SelectPen(selection_mode_ || !excluded ? inc_pen_ : exc_pen_);
    offscreen_dc_->MoveTo(c, mid);
    gfx::LineTo(offscreen_dc_.get(), c, mid + column_peaks_[size_t(c)]);
  }
  columns_drawn_ = columns_done_;
}

bool AudioEditor::PageCheck() {
  const int32_t columns = Columns();
  const int32_t pos = play_pos();
  if (columns <= 0 || pos <= analysis_pos_) return false;
  if (selection_mode_ && cut_.end != 0 && pos / 10 > cut_.end) return false;
  // Past the end of a clip that ended inside the view there is no next page.
  if (pos / 10 > window_end_ms_ && analysis_ended_) return false;
  const int64_t span = int64_t{columns} * units_per_column_;
  if (pos <= span + int64_t{window_start_ms_} * 10) return true;
  // The play line has left the view: turn a page.
  window_start_ms_ = int32_t((span + int64_t{window_start_ms_} * 10) / 10);
  window_end_ms_ = int32_t(window_start_ms_ + span / 10);
  analysis_start_ms_ = window_start_ms_;
  columns_done_ = columns_drawn_ = 0;
  analysis_ended_ = false;
  return true;
}

void AudioEditor::Draw(gfx::HDC dc, int state) {
  (void)state;
  more_to_analyse_ = AnalyseStep();
  const int32_t columns = Columns(), rows = ViewHeight();
  if (columns <= 0 || rows <= 0) return;
  if (!offscreen_dc_) {
    offscreen_dc_ = gfx::CreateCompatibleDC(dc);
    offscreen_ = gfx::CreateCompatibleBitmap(dc, columns, rows);
    offscreen_dc_->SelectBitmap(offscreen_);
    full_redraw_ = true;
  }
  DrawColumns();
  gfx::TransparentImage(dc, x_ + border_x_, y_ + border_y_, columns, rows, offscreen_dc_.get(), 0, 0, columns, rows,
                        transparent_colour_);
  if (units_per_column_ != 0) {
    const int64_t x = x_ + border_x_ + (int64_t{play_pos() / 10 - window_start_ms_} * 10) / units_per_column_;
    if (x >= x_ + border_x_ && x < x_ + border_x_ + columns) {
      gfx::HPen old = dc->SelectPen(play_line_pen_);
      dc->MoveTo(int32_t(x), y_ + border_y_);
      gfx::LineTo(dc, int32_t(x), y_ + y_size_ - border_y_);
      dc->SelectPen(old);
    }
  }
  PageCheck();
}

void AudioEditor::OnTick(gfx::Rect* area, uint32_t now) {
  if (more_to_analyse_ || PageCheck()) {
    UpdateLayout();
    if (ui::Host()) ui::Host()->InvalidateAll();
  }
  Control::OnTick(area, now);
}

// ---------------------------------------------------------------------------
// The stylus

bool AudioEditor::OnStylusDown(int32_t x, int32_t y) {
  (void)y;
  if (ui::Host()) ui::Host()->SetPressedElement(this);
  const int32_t columns = Columns();
  if (selection_mode_ || (playing_ && !paused_) || columns <= 0) {
    anchor_ms_ = -1;
    return true;
  }
  x = std::clamp(x, x_ + border_x_, x_ + border_x_ + columns - 1);
  const int64_t t = analysis_start_ms_ + (int64_t{x - x_ - border_x_} * units_per_column_) / 10;
  anchor_ms_ = drag_ms_ = cut_.start = cut_.end = int32_t(t);
  UpdateLayout();
  Invalidate();
  return true;
}

bool AudioEditor::OnStylusMove(int32_t x, int32_t y) {
  (void)y;
  const int32_t columns = Columns();
  if (anchor_ms_ == -1 || columns <= 0) return false;
  x = std::clamp(x, x_ + border_x_, x_ + border_x_ + columns - 1);
  // Whole milliseconds per column.
  const int32_t t = analysis_start_ms_ + (x - x_ - border_x_) * (window_ms_ / columns);
  cut_.start = std::min(anchor_ms_, t);
  cut_.end = std::max(anchor_ms_, t);
  drag_ms_ = t;
  WriteCut();
  UpdateLayout();
  Invalidate();
  return true;
}

bool AudioEditor::OnStylusUp(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  // The drag ends with the stylus: later moves without it change nothing.
  anchor_ms_ = -1;
  return true;
}

// ---------------------------------------------------------------------------
// Actions

void AudioEditor::EnableActions() {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  host->EnableActionItems(!playing_ || paused_, nullptr, ui::kActionEditorPlay, 1);
  host->EnableActionItems(true, nullptr, ui::kActionEditorPlaySelection, 1);
  host->EnableActionItems(playing_, nullptr, ui::kActionEditorStop, 1);
  host->EnableActionItems(playing_ && !paused_, nullptr, ui::kActionEditorPause, 1);
  host->EnableActionItems(playing_, nullptr, ui::kActionEditorSkipForward, 1);
  host->EnableActionItems(playing_, nullptr, ui::kActionEditorSkipBack, 1);
  host->EnableActionItems(cut_.end != 0 || (cut_.start != 0 && !selection_mode_), nullptr,
                          ui::kActionEditorCutClear, 1);
  if (channel_) {
    host->CheckActionItems(channel_->loop_on() != 0, nullptr, ui::kActionEditorToggleLoop, 1);
    host->EnableActionItems(has_tempo_, nullptr, ui::kActionEditorToggleBeatMatch, 1);
    host->CheckActionItems(sample_bits_ != 8 && channel_->beat_match() != 0, nullptr,
                           ui::kActionEditorToggleBeatMatch, 1);
    const bool effect_on = channel_->effect_on() != 0;
    const uint32_t effect = channel_->channel_effect().type;
    if (loop_tick_) loop_tick_->SetVisible(channel_->loop_on() != 0);
    if (chorus_tick_) chorus_tick_->SetVisible(effect_on && effect == engine::CMD_CHORUS);
    if (echo_tick_) echo_tick_->SetVisible(effect_on && effect == engine::CMD_ECHO);
  }
  host->SetKeepAwake(playing_);
}

void AudioEditor::FocusAction(int32_t code) {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  if (ui::Element* e = host->FindElementByAction(nullptr, code)) host->SetFocus(e);
}

void AudioEditor::Reset() {
  if (playing_) OnAction(ui::kActionEditorStop, ov::String(), 0);
  column_peaks_.clear();
  playing_ = paused_ = selection_mode_ = false;
  analysis_mixer_.reset();
  preview_mixer_.reset();
  if (ui::Host()) ui::Host()->SetKeepAwake(false);
}

int AudioEditor::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  ui::UiHost* host = ui::Host();
  auto* menu = dynamic_cast<ui::Menu*>(parent_);
  const bool menu_shown = host && menu && host->IsMenuInHistory(menu);
  bool listed = true;
  switch (code) {
    case ui::kActionMenuShown:
      if (type_ == ui::kTypeAudioEditor && host) host->RequestHelpTip(kHelpTipAudioEditor);
      channel_ = nullptr;
      cut_.start = cut_.end = 0;
      window_start_ms_ = analysis_pos_ = columns_done_ = columns_drawn_ = 0;
      analysis_ended_ = false;
      UpdateMarkers();
      CreateMixers();
      if (reload_pending_) {
        reload_pending_ = false;
        LoadClip(channel_name_);
      }
      break;
    case ui::kActionAfterRotation:
      if (!channel_name_.IsEmpty() && menu_shown) reload_pending_ = true;
      break;
    case ui::kActionBeforeRotation:
      if (channel_ && menu_shown) channel_->DeleteClipCaches(0);
      break;
    case ui::kActionLeavingMenu:
      Reset();
      if (channel_) channel_->DeleteClipCaches(0);
      break;
    case ui::kActionInitialise: {
      listed = false;
      auto find = [&](const ov::String& name) -> ui::Element* {
        return menu && !name.IsEmpty() ? menu->FindDescendant(name, true) : nullptr;
      };
      start_marker_ = find(start_marker_name_);
      end_marker_ = find(end_marker_name_);
      loop_tick_ = find(loop_tick_name_);
      echo_tick_ = find(echo_tick_name_);
      chorus_tick_ = find(chorus_tick_name_);
      play_line_pen_ = gfx::CreatePen(gfx::kPsSolid, 1, play_line_colour_);
      inc_pen_ = gfx::CreatePen(gfx::kPsSolid, 1, inc_colour_);
      exc_pen_ = gfx::CreatePen(gfx::kPsSolid, 1, exc_colour_);
      break;
    }
    case ui::kActionDeactivated:
      if (playing_ && !paused_) OnAction(ui::kActionEditorPause, ov::String(), 0);
      break;
    case ui::kActionSetChannel:
      LoadClip(argument);
      break;
    case ui::kActionEditorPlay:
      if (!playing_) {
        StartPlay(false);
      } else if (paused_) {
        std::lock_guard<std::mutex> lock(player_mutex_);
        if (player_) player_->SetPaused(false);
        paused_ = false;
      }
      EnableActions();
      FocusAction(ui::kActionEditorPause);
      break;
    case ui::kActionEditorPlaySelection:
      if (playing_) OnAction(ui::kActionEditorStop, ov::String(), 0);
      StartPlay(true);
      EnableActions();
      FocusAction(ui::kActionEditorPause);
      break;
    case ui::kActionEditorPause:
      // Only a running preview pauses.
      if (playing_ && !paused_) {
        std::lock_guard<std::mutex> lock(player_mutex_);
        if (player_) player_->SetPaused(true);
        paused_ = true;
      }
      EnableActions();
      FocusAction(ui::kActionEditorPlay);
      break;
    case ui::kActionEditorStop:
      if (playing_) {
        playing_ = false;
        selection_mode_ = false;
        StopPreview();
      }
      play_pos_.store(0, std::memory_order_release);
      // The mixers start the clip again: so does the view, also when it
      // already stood at 0 (the analysis would otherwise go on drawing the
      // clip's start after the columns it had).
      window_start_ms_ = analysis_start_ms_ = analysis_pos_ = columns_done_ = columns_drawn_ = 0;
      analysis_ended_ = false;
      window_end_ms_ = window_ms_;
      TimeText();
      if (host) host->InvalidateAll();
      break;
    case ui::kActionEditorSkipForward:
      Skip(window_ms_);
      break;
    case ui::kActionEditorSkipBack:
      Skip(-window_ms_);
      break;
    case ui::kActionEditorTick:
      TimeText();
      UpdateLayout();
      Invalidate();
      break;
    case ui::kActionEditorToggleLoop:
      if (channel_) channel_->set_loop_on(channel_->loop_on() ? 0 : 1);
      break;
    case ui::kActionEditorToggleBeatMatch:
      if (channel_) {
        if (ClipIsWav() && sample_bits_ == 0) {
          media::MediaFormat format;
          auto source = media::OpenAudioSource(source_file_);
          if (source && source->GetFormat(&format)) sample_bits_ = int32_t(format.bitsPerSample);
        }
        has_tempo_ = channel_->ReadTempo() != 0;
        channel_->set_beat_match(has_tempo_ ? !channel_->beat_match() : 0);
      }
      break;
    case ui::kActionEditorCutStart:
      MoveCutStart(&cut_, play_pos() / 10);
      WriteCut();
      if (host) host->InvalidateAll();
      break;
    case ui::kActionEditorCutEnd:
      MoveCutEnd(&cut_, play_pos() / 10);
      WriteCut();
      if (host) host->InvalidateAll();
      break;
    case ui::kActionEditorCutClear:
      cut_.start = cut_.end = 0;
      WriteCut();
      break;
    case ui::kActionOptionCut:
      SliderCut();
      break;
    case ui::kActionEditorEchoShort:
      ToggleEffect(engine::CMD_ECHO, ui::kActionEchoShort);
      break;
    case ui::kActionEditorChorus:
      ToggleEffect(engine::CMD_CHORUS, ui::kActionChorus);
      break;
    case ui::kActionEditorEchoLong:
    case ui::kActionEditorReverb:
      break;
    default:
      listed = false;
      break;
  }
  if (listed) EnableActions();
  return Control::OnAction(code, argument, flag);
}

void AudioEditor::SaveState(ov::Archive* archive) {
  archive->WriteU32(duration_ms_);
  archive->WriteString(clip_title_.View());
  archive->WriteString(source_file_.View());
  archive->WriteString(channel_name_.View());
  Control::SaveState(archive);
}

void AudioEditor::LoadState(ov::Archive* archive) {
  archive->ReadU32(&duration_ms_);
  archive->ReadString(&clip_title_);
  archive->ReadString(&source_file_);
  archive->ReadString(&channel_name_);
  Control::LoadState(archive);
}

}  // namespace screens
