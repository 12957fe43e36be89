#pragma once
// ChannelSelection: the CHANNELSELECTION element, one channel of the mix on
// the mixer screen (six clip channels, start and end credits). It owns the
// channel's document: its kind, its ordered clips, loop and beat-match flags,
// the channel effect and the tempo of its music, and shows an icon for its
// kind. Everything else reaches the clips through the accessors below. It
// also works without a screen (the render mode reads a project's blocks into
// one bare channel).
//
// Clip accessors take a clip index: one outside the list (negative included)
// makes a getter return its neutral value and a setter do nothing and
// return 0.
//
// Thread: UI thread (the decode-to-cache workers call the cache accessors
// while the screen waits for them).

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/engine_command.h"
#include "engine/media_decompressor.h"
#include "screens/browsers/media_file_record.h"
#include "screens/project/channel_clip.h"
#include "ui/action_codes.h"
#include "ui/control.h"
#include "ui/screen_links.h"

namespace screens {

class Mixer;

// Deletes a cache file, retrying while deletion fails (up to 20 retries
// 100 ms apart). While a rotation is in progress it deletes nothing and
// reports true. False when the file does not exist.
bool DeleteFileRetry(const ov::String& path);

// The tempo side file of a music clip: in the clip's folder, the clip's file
// name up to its first dot, then ".bin" ("/m/my.song.mp3" gives "/m/my.bin").
// Dots in folder names and a dot that starts the file name do not count; a
// name without a dot keeps all of it. Empty for a path that names no file.
ov::String TempoSideFilePath(const ov::String& clipPath);

class ChannelSelection : public ui::Control, public engine::CacheChannel {
 public:
  ChannelSelection();
  ~ChannelSelection() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  bool OnStylusUp(int32_t x, int32_t y) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;

  int32_t GetKind() const override { return kind_; }
  void SetKind(int32_t kind) { kind_ = kind; }
  int ClipCount() const override { return static_cast<int>(clips_.size()); }
  void SetAudioEffectFromAction(int32_t code);
  // Appends a clip (an image to an image channel) or replaces the content.
  void AddClip(int32_t kind, int32_t file_type, const ov::String& source, const ov::String& overlay,
               const ov::String& effect_file, uint32_t pan_start, uint32_t pan_end, int32_t pan_speed,
               int32_t display_time, int32_t photo_effect, int32_t cut_start, int32_t cut_end, uint32_t crop_rect,
               int32_t crop_on, const TextClip* caption);
  // An empty text clip (the credits channels' content).
  void AddEmptyTextClip();
  void Clear();
  // Empties this channel as Clear does and takes the document of `from` (a
  // channel read on its own, e.g. from a project): kind, clips with their
  // cache names, loop, beat-match and effect words, the channel effect.
  // `from` is left empty.
  void TakeDocument(ChannelSelection* from);
  int RemoveClip(int i);
  int MoveClip(int from, int to);

  ov::String GetClipFile(int i) const override;
  int32_t GetClipFileType(int i) const;
  ov::String GetClipOverlayFile(int i) const override;
  int SetClipOverlayFile(int i, const ov::String& name);
  ov::String GetEffectFile() const override;
  ov::String GetClipTextDescriptor(int i) const override;
  void SetEffectFile(const ov::String& name);
  ov::String GetEffectCache() const;
  int SetEffectCache(const ov::String& name, int32_t kind) override;
  ov::String GetClipCache(int i, int32_t kind) const;
  ov::String GetClipCache2(int i, int32_t kind) const;
  int SetClipCache(int i, const ov::String& name, int32_t kind) override;
  int SetClipCache2(int i, const ov::String& name, int32_t kind) override;
  ov::String GetClipOverlayCache(int i) const;
  int SetClipOverlayCache(int i, const ov::String& name, int32_t kind) override;
  int32_t GetClipPhotoEffect(int i) const;
  int SetClipPhotoEffect(int i, int32_t value);
  int GetClipPanZoom(int i, uint32_t* start, uint32_t* end, int32_t* speed) const;
  int SetClipPanZoom(int i, uint32_t start, uint32_t end, int32_t speed);
  uint32_t GetClipCropRect(int i) const override;
  int SetClipCropRect(int i, uint32_t rect);
  int32_t GetClipCropOn(int i) const;
  int SetClipCropOn(int i, int32_t on);
  int SetClipPictureSize(int i, int32_t width, int32_t height);
  int32_t GetClipDisplayTime(int i) const override;
  void SetDisplayTimeAll(int32_t ms);
  int GetClipCutPoints(int i, int32_t* start, int32_t* end) const override;
  int SetClipCutPoints(int i, int32_t start, int32_t end);
  TextClip* GetClipText(int i);
  bool ClipHasAudio(int i);
  bool ClipNeedsAudioCache(int i) const override;
  bool ClipNeedsPictureCache(int i, bool second) const override;
  bool ClipNeedsOverlayCache(int i) const override;
  bool NeedsEffectCache() const override;
  // Mode 0 all, else a kind (sound, photo or video pictures, text); effect
  // and overlay caches always.
  void DeleteClipCaches(int mode);
  // The clip order list's view of this channel.
  ui::ChannelLink* AsChannel() override { return &link_; }
  // The tempo (beats per minute) from the first clip's side file; 0 when
  // there is none (the stored tempo is then kept).
  int32_t ReadTempo();
  void Refresh();
  void ShowClipCount();
  void UpdateMixerActions();
  void AssignFromBrowser(MediaSelection* browser);

  // The document words the project file carries.
  int32_t loop_on() const { return loop_on_; }
  void set_loop_on(int32_t v) { loop_on_ = v; }
  int32_t beat_match() const { return beat_match_; }
  void set_beat_match(int32_t v) { beat_match_ = v; }
  int32_t effect_on() const { return effect_on_; }
  void set_effect_on(int32_t v) { effect_on_ = v; }
  int32_t channel_tempo() const { return channel_tempo_; }
  engine::EngineCommand& channel_effect() { return channel_effect_; }
  const engine::EngineCommand& channel_effect() const { return channel_effect_; }
  const ChannelClip* clip(int i) const { return Valid(i) ? clips_[static_cast<size_t>(i)].get() : nullptr; }

 private:
  // Moves, removals and cache clearing asked by the clip order list.
  class Link : public ui::ChannelLink {
   public:
    explicit Link(ChannelSelection* owner) : owner_(owner) {}
    int32_t ClipCount() override { return owner_->ClipCount(); }
    ov::String GetClipFile(int32_t index) override { return owner_->GetClipFile(index); }
    void MoveClip(int32_t from, int32_t to) override { owner_->MoveClip(from, to); }
    void RemoveClip(int32_t index) override { owner_->RemoveClip(index); }
    void ClearChannel(int32_t kind) override { owner_->DeleteClipCaches(kind); }

   private:
    ChannelSelection* owner_;
  };
  Link link_{this};

  bool Valid(int i) const { return i >= 0 && i < ClipCount(); }
  ChannelClip* At(int i) { return Valid(i) ? clips_[static_cast<size_t>(i)].get() : nullptr; }
  const ChannelClip* At(int i) const { return clip(i); }
  // Internal action 327 to the mixer of the current menu.
  void NotifyMixer();
  Mixer* FindMixer() const;
  void ClearAndRefresh();
  void DeleteCaches(int mode);
  bool HasFocus() const;
  const ov::String& EditMenuOfKind() const;
  void OpenEditor();

  engine::EngineCommand channel_effect_;
  int32_t effect_on_ = 0;
  int32_t spare_ = 0;
  ov::String video_icon_, audio_icon_, image_icon_, clear_icon_, assigned_icon_;
  int32_t loop_on_ = 0;
  int32_t icon_offset_y_ = 0, icon_offset_x_ = 0;
  int32_t kind_ = kKindEmpty;
  std::vector<std::unique_ptr<ChannelClip>> clips_;
  int32_t quick_key_ = -1, alt_key1_ = -1, alt_key2_ = -1;
  ov::String image_edit_menu_, video_edit_menu_, audio_edit_menu_;
  // "mixChannel": the mixer's channel this cell stands for on another screen.
  ov::String mix_channel_;
  ov::String image_count_;
  int32_t channel_tempo_ = 0;
  int32_t beat_match_ = 0;
};

}  // namespace screens
