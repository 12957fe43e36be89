#pragma once
// MediaBrowser: the MEDIABROWSER element ("PB", type 10), the list from
// which the user picks the clips of a mix: every video, picture, audio file
// and project under the root folder, one row each with a thumbnail, the file
// name and the type name. It filters the list by kind and date, sorts it by
// name or date, plays a sound file in the audio preview popup (through an
// audio editor's preview player of its own), lets a row be dragged onto a
// channel cell, changes the root folder (SL_OK from the folder browser) and
// answers the calendar's questions. The list itself is a MediaCatalogue.
//
// The channel cells take the selection through MediaSelection (a project
// through the mixer's load action); the calendar reaches the browser through
// Element::AsMediaBrowser.
//
// The root is a local folder: "\" of the folder browser's device paths is
// the documents folder (ui::DevicePathToLocal). The notes program is
// $OVMIX_NOTES, none when unset. After a change-driven rebuild the selection
// and the scroll position are found again by name (the first record when the
// name is gone). The change watches open when the browser is first shown.
//
// Thread: UI thread only.

#include <cstdint>
#include <functional>
#include <memory>

#include "screens/browsers/media_catalogue.h"
#include "screens/browsers/media_file_record.h"
#include "screens/editors/audio_editor.h"
#include "ui/action_codes.h"
#include "ui/control.h"
#include "ui/list_control.h"
#include "ui/screen_links.h"

namespace ui {
class DragIcon;
class ScrollBar;
}  // namespace ui

namespace screens {

class MediaBrowser : public ui::Control, public MediaSelection {
 public:
  MediaBrowser();
  ~MediaBrowser() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDoubleTap(int32_t x, int32_t y) override;
  bool OnStylusDown(int32_t x, int32_t y) override;
  bool OnStylusUp(int32_t x, int32_t y) override;
  bool OnStylusMove(int32_t x, int32_t y) override;
  void SaveState(ov::Archive* archive) override;
  void LoadState(ov::Archive* archive) override;
  ui::MediaBrowserLink* AsMediaBrowser() override { return &link_; }

  // MediaSelection: the selected record.
  int32_t GetSelectedKind() override;
  int32_t GetSelectedFileType() override;
  ov::String GetSelectedPath() override;
  int IsSelectionUsable() override;

  // For the calendar.
  bool HasMediaInRange(int64_t start, int64_t span) const { return catalogue_.HasMediaInRange(start, span); }
  bool HasMediaInMonth(int64_t time) const { return catalogue_.HasMediaInMonth(time); }
  void ShowDateRange(int64_t start, int64_t end);

  // Rebuilds the list; with keep_selection the selected record is found
  // again by name and the last page kept full.
  void Rebuild(bool keep_selection);
  bool SelectPrevious();
  bool SelectNext();
  bool ScrollUp();
  bool ScrollDown();
  void SetSortByName(int32_t on);
  void UpdateMenuStates();

  MediaCatalogue& catalogue() { return catalogue_; }
  int32_t row_pitch() const { return row_pitch_; }
  int32_t step_counter() const { return step_counter_; }
  bool complete_draw() const { return complete_draw_ != 0; }
  bool reduce_info() const { return reduce_info_ != 0; }
  uint32_t selected_transparent_colour() const { return selected_transparent_colour_; }
  // The file the audio preview plays (the audio editor's clip file).
  const ov::String& preview_file() const { return preview_file_; }
  // Runs `fn` on the audio preview's open device; false while none plays.
  bool WithDevice(const std::function<void(ov::WaveOutDevice&)>& fn) {
    return preview_player_ && preview_player_->WithDevice(fn);
  }

 private:
  class Link : public ui::MediaBrowserLink {
   public:
    explicit Link(MediaBrowser* owner) : owner_(owner) {}
    bool HasMediaInMonth(int64_t date) override { return owner_->HasMediaInMonth(date); }
    bool HasMediaInRange(int64_t start, int64_t span) override { return owner_->HasMediaInRange(start, span); }
    void ShowDateRange(int64_t start, int64_t end) override { owner_->ShowDateRange(start, end); }

   private:
    MediaBrowser* owner_;
  };

  const MediaFileRecord* Selected();
  bool IsFocused();
  void Initialise();
  void OnMenuShown();
  void Preview();
  void StopPreview();
  void Refresh();
  void KindFilterRefresh();
  void DateFilterRefresh();
  void SetKindFilter(int32_t kind, int32_t code);
  void SetDateMode(int32_t mode, bool toggles);
  void UpdateKindChecks();
  void UpdateDateChecks();
  void UpdateScrollBar();
  void MakeFirstTopAndSelected();
  // Draws one row at row offset; whether a thumbnail was built.
  bool DrawRow(gfx::HDC dc, int state, MediaFileRecord* record, int32_t offset, bool selected);
  void DrawInfoText(gfx::HDC dc, const MediaFileRecord& record, int32_t x, int32_t y);
  ui::Element* FindInOwnMenu(const ov::String& name);
  void InvalidateScreen();

  Link link_{this};
  MediaCatalogue catalogue_;
  int32_t thumb_width_ = 64, thumb_height_ = 48, border_ = 4;
  int32_t row_pitch_ = 0;
  int32_t columns_ = 0, rows_ = 0;
  int32_t complete_draw_ = 1;
  int32_t step_counter_ = 0;
  int32_t reserved_ = 0;
  int32_t pre_text_spacing_ = 0, text_spacing_ = 2, reduce_info_ = 0;
  int32_t tempo_x_ = 0, tempo_y_ = 0;
  ov::String scroll_bar_name_, credits_menu_;
  ov::String filename_label_ = u"Filename:", type_label_ = u"Type:", dimensions_label_ = u"Dimensions:";
  ov::String audio_icon_, beat_icon_, project_icon_;
  ui::SkinImage idle_frame_, focus_frame_;
  uint32_t selected_transparent_colour_ = 0;
  ov::String root_name_, top_name_, selected_name_;
  ui::ScrollBar* scroll_bar_ = nullptr;
  ui::DragIcon* drag_icon_ = nullptr;
  int32_t drag_x_ = 0, drag_y_ = 0;
  ui::Element* indicators_[11] = {};
  ui::ListTextFont font_;
  ov::String preview_file_;
  std::unique_ptr<AudioEditor> preview_player_;  // made at the first preview
  bool watch_due_ = false;  // INITIALISE done, the watches not yet opened
};

}  // namespace screens
