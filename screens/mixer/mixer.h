#pragma once
// Mixer: the MIXER element of the mixer screen. It owns the mix as the user
// sees it: a table of eight channel entries (six clip channels named by its
// "channels" attribute, start credits, end credits), the nine output
// settings, and the link to the shared MixEngine. It keeps the screen's
// controls in step with the mix, shows the engine's picture, and saves and
// loads the ".mix" project file.
//
// Project file: project_file.h. Every entry of the table, 0-7, has its
// block, so that a skin naming fewer than six clip channels still saves and
// loads the credits (entries 6 and 7); a loop over the table walks all eight
// entries and skips those without a channel element.
//
// Thread: UI thread; the render thread (mixer_render.cpp) only reads the
// render queue and queues actions.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <thread>
#include <vector>

#include "engine/export_settings.h"
#include "engine/media_decompressor.h"
#include "screens/editors/editor_decompression.h"
#include "screens/project/channel_block.h"
#include "screens/project/project_file.h"
#include "ui/action_codes.h"
#include "ui/control.h"
#include "ui/screen_links.h"

namespace engine {
class ActionProcessor;
class MixCalls;
class MixEngine;
class VideoMixer;
struct EngineCommand;
}  // namespace engine

namespace ui {
class UiHost;
}  // namespace ui

namespace screens {

class ChannelSelection;

// The output options of the nine settings (the user options they mirror).
engine::OutputOptions ToOutputOptions(const OutputSettings& settings);

class Mixer : public ui::Control {
 public:
  Mixer();
  ~Mixer() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  bool IsFocusable() const override { return false; }
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;
  virtual void UpdateControls();

  void SetChannels();
  int FindChannelIndex(const ChannelSelection* channel) const;
  // The widgets' view of the channel table (the clip order list, the folder
  // browser).
  ui::MixerLink* AsMixer() override { return &link_; }
  int32_t GetChannelKind(int i) const;
  int CountUsedChannels() const;
  bool HasEndCreditsText() const;
  void ShowClipName(int i);
  void UpdateEndTime();
  void PublishTimeLeft();
  // Resolves the skin names of the entries and the effect menus (the
  // screen was entered).
  void ResolveNames();

  // The project file. SaveMix writes the whole file atomically (a failed
  // write keeps the old project and reports false); a read-only file is
  // made writable first. A project the user saves (kProject: SaveMixAs and
  // code 312) becomes the last project (string option 22) and holds the
  // take; the program's own copies (kCopy: "rotate.mix" at a turn,
  // "temp.mix" for a render) leave both as they are. LoadMix: an empty
  // path loads the last project. The whole file is read and checked
  // (ReadProject) before anything changes: false when it is missing, not a
  // regular file, of another version, or a block or the engine record is
  // damaged, with the mix (channels, settings, options 27-35, the engine's
  // record) as it was; last_load_failure() then tells which.
  enum class SaveKind { kProject, kCopy };
  bool SaveMix(const ov::String& path, SaveKind kind = SaveKind::kProject);
  bool LoadMix(const ov::String& path);
  bool ClearMix();
  // Asks for a path ("Default.mix" in the documents folder) and saves there.
  // Over an existing project an empty mix is saved only after a yes.
  bool SaveMixAs();

  // The user's load of a project: the code behind MX_LOAD (329), which the
  // screen manager hands here from any screen, so that every load the user
  // asks for comes this way (the mixer's own load, a project given to a
  // channel, the media browser's "Open mix", OVMIX_LOAD at start). It asks
  // first when a take that was not saved would be lost (No keeps it: false,
  // nothing changed); then loads `path`, which replaces the recorded
  // actions with the project's. A failed load reports what failed in a
  // message box (the missing clip's file as the project names it, or that
  // the project cannot be read) and leaves both the file and the open mix,
  // take included, as they were; an empty mix notes on the mixer why it is
  // empty.
  bool OpenProject(const ov::String& path);
  enum class LoadFailure { kNone, kNoProject, kUnreadable, kMissingClip };
  LoadFailure last_load_failure() const { return load_failure_; }
  // The missing clip's file as the project stores it (kMissingClip).
  const ov::String& missing_clip() const { return missing_clip_; }
  // Reports the last failed load in a message box (caption "Open mix").
  void ReportLoadFailure(const ov::String& path);
  // Puts each channel's volume on its slider (through the channel panels'
  // codes 167 + i) and the master volume on "mas_vol", after a turn and a load.
  void ShowVolumes();
  // Shown on the mixer while the mix stays empty after a failed load; ""
  // when there is nothing to say.
  const ov::String& empty_note() const { return empty_note_; }
  // No clip in a clip channel, no credits text and no recorded action.
  bool MixIsEmpty() const;

  // A take recorded live since the last project saved, loaded or cleared
  // that is still in the recorded list: quitting, a new Start, Clear and
  // loading another project would lose it.
  bool HasUnsavedTake() const;
  // Before such a loss: true when there is no unsaved take or the user
  // answers Yes to "<doing> and lose it?" (No keeps the take).
  bool ConfirmTakeLoss(const ov::String& caption, const ov::String& doing);

  int channel_count() const { return channel_count_; }
  const MixChannelEntry& entry(int i) const { return table_[static_cast<size_t>(i)]; }
  const OutputSettings& output_settings() const { return settings_; }
  uint32_t end_time() const { return end_time_; }
  bool mixing() const { return mixing_; }
  // Live mixing is started by the live-mixing actions; tests set it directly.
  void set_mixing(bool on) { mixing_ = on; }
  const ov::String& project_name() const { return project_name_; }
  // The skin names of the credits channels.
  const ov::String& start_credits_name() const { return start_credits_name_; }
  const ov::String& end_credits_name() const { return end_credits_name_; }
  engine::MixEngine* mix_engine() const { return engine_; }

  // Rendering (mixer_render.cpp): the render actions 331-337, the output
  // name, and the render that goes on across a rotation.
  void OnRenderAction(int32_t code);
  bool SaveRenderedFile(const ov::String& path);
  ov::String OutputExtension(bool for_device) const;
  // After output settings are taken: when no job renders the file they
  // name, the "RENDER_CHOICE" popup says so (its "render_choice_text" gets
  // the reason). True when they render.
  bool CheckOutputChoice();
  static ov::String MakeOutputName(const ov::String& extension);
  // After a rotation: follows a render that still runs, else reports it.
  void ResumeRender();
  // Stops following the render (rotation, the screen goes); a render
  // still running is paused.
  void SuspendRender();
  bool render_active() const { return render_active_; }
  const ov::String& output_file() const { return output_file_; }
  int32_t render_process() const { return render_process_; }

  // ---- live mixing (mixer_live.cpp) ----
  // The live player the gestures reach; the shared engine unless a stand-in
  // was given (tests record the commands with one). Null: none.
  engine::MixCalls* live() const;
  void UseLiveCalls(engine::MixCalls* calls) { live_override_ = calls; }
  // The generator of the random transition.
  void SeedRandom(uint32_t seed) { random_.seed(seed); }

  void SendChannelTempo(int i);
  void SendChannelVolume(int i);
  void SendMasterVolume();
  void PlayVideoStream(int i, int32_t value);
  void PlayAudioStream(int i, int32_t value);
  void HaltVideoStream(int i, bool stop);
  void HaltAudioStream(int i, bool stop);
  // A new record copied from entry i's channel effect (a random transition
  // resolved), or null when the entry has no channel.
  std::unique_ptr<engine::EngineCommand> MakeEffectCommand(int i);
  void EffectOn(int i);
  void EffectOff(int i);
  void SetChannelEffect(int i, int32_t type, int32_t speed, int32_t direction, const ov::String& file);
  void GetChannelEffect(int i, int32_t* type, int32_t* speed, int32_t* direction, ov::String* file) const;
  void QueueAudioClip(int i, bool linked);
  void QueueClip(int i, bool linked);
  void ResendActiveChannels();
  bool PlayStartCredits();
  bool PlayEndCredits();
  // The next clip of entry n after its clip ended; true when the channel
  // stopped instead.
  bool AdvanceChannel(int n);
  void SetActiveVisualChannel(int i);
  void ChannelOn(int i);
  void ChannelOff(int i);
  int CountPendingCacheItems() const;
  // Screen entered: decoding to cache on the worker when caches are
  // missing, then beat matching.
  void StartDecompression();
  void PrepareBeatMatching();
  // Ends a running decoding worker and waits for it; the caches it wrote
  // are kept (`keep` false: the channels are going away).
  void CancelDecompression(bool keep = true) { decompression_.Cancel(keep); }
  bool decoding() const { return decompression_.running(); }
  // Waits for the decoding worker to end and hands the names of the caches
  // it wrote to the channels.
  void JoinDecompression() { decompression_.Join(); }
  int32_t selected_channel() const { return selected_channel_; }
  int32_t master_volume() const { return master_volume_; }
  bool muted() const { return muted_; }
  bool start_credits_playing() const { return start_credits_playing_; }
  bool end_credits_playing() const { return end_credits_playing_; }
  MixChannelEntry& mutable_entry(int i) { return table_[static_cast<size_t>(i)]; }

 protected:
  bool LiveVideoShown() const;
  // Puts the engine's new frame into the element's area of the window.
  void DrawLiveVideo();

 private:
  class Link : public ui::MixerLink {
   public:
    explicit Link(Mixer* owner) : owner_(owner) {}
    int32_t FindChannelIndex(ui::Element* channel) override;
    bool MayQuit() override;

   private:
    Mixer* owner_;
  };
  Link link_{this};

  void StartRender();
  void RenderLoop(uint32_t process, bool resumed);
  void EndRender();
  void EmailMix();
  void Initialise();
  void CopySettingsToOptions();
  void CopyOptionsToSettings();
  void ResetEntryFor(const ov::String& identity);
  void SetEntryName(int entry, int field, const ov::String& value);
  // The live-mixing codes; false for a code that is not one of them.
  // `update` is cleared when the controls must not be refreshed.
  bool OnLiveAction(int32_t code, const ov::String& argument, bool* update);
  void AdvanceChannelsOnTick();
  void Post(std::unique_ptr<engine::EngineCommand> command);
  engine::EngineCommand* PostNew(uint32_t type, uint32_t stream, int32_t param1 = 0);
  void SetTransition(int32_t code);
  void OpenEffectMenu(int i, bool video);
  void CloseEffectMenu();

  uint32_t end_time_ = 0;
  ov::String video_effect_menu_name_, audio_effect_menu_name_, wizard_menu_name_, timer_icon_name_;
  ui::Element* video_effect_menu_ = nullptr;
  ui::Element* audio_effect_menu_ = nullptr;
  ui::Element* timer_icon_ = nullptr;
  ui::Element* save_button_ = nullptr;
  ov::String channels_attr_, end_credits_name_, start_credits_name_;
  ov::String project_name_ = u"default.vex";
  bool mixing_ = false, muted_ = false, start_credits_playing_ = false, end_credits_playing_ = false;
  int32_t fps_ = 10;
  std::array<MixChannelEntry, kMaxEntries> table_;
  int channel_count_ = 0;
  ui::Element* open_effect_menu_ = nullptr;
  int32_t selected_channel_ = 0;
  int32_t master_volume_ = 100;
  ov::String output_file_;
  int32_t render_target_ = 0;
  bool render_active_ = false, send_by_mms_ = false, send_by_email_ = false;
  bool end_credits_have_text_ = false;
  OutputSettings settings_ = DefaultOutputSettings();
  engine::MixEngine* engine_ = nullptr;
  int32_t effect_offset_x_ = 0;
  int32_t render_process_ = 0;
  int32_t mix_size_x_ = 0, mix_size_y_ = 0;
  int32_t selected_visual_channel_ = 0;
  uint32_t last_tick_ = 0;
  bool ticked_ = false;
  engine::MixCalls* live_override_ = nullptr;
  std::minstd_rand random_{1};
  // The decoding worker: owned here, joined (never detached); it decodes
  // copies of the channels and hands the names back on the UI thread.
  EditorDecompression decompression_;
  std::thread render_thread_;
  std::atomic<bool> render_stop_{false};
  // Set at Start (and again at Stop); cleared by a project saved, loaded or
  // cleared. Carried across a turn with the rest of the state.
  bool take_unsaved_ = false;
  LoadFailure load_failure_ = LoadFailure::kNone;
  ov::String missing_clip_;
  ov::String empty_note_;
};

}  // namespace screens
