#pragma once
// EffectBrowser: the "EffectBrowser" element (type 28) of the editors'
// overlay screens. It lists, one row each with a thumbnail and up to three
// text lines, a no-overlay row followed by the pictures and video clips of
// the application folder (searched recursively) and of the media package
// ("media.pak"). A tap on a row stores that row's file, relative to the skin
// folder, in the string option "OverlayEffect"; its actions switch the
// numeric option "PhotoEffect" (black and white, sepia, saturation) and the
// two "assign to all" options. It builds no engine command and touches no
// clip: the photo and video editors read the options when the user accepts.
//
// The skin folder and the application folder are one. A video's thumbnail
// is the picture named as the video with the text after its last '.'
// replaced by "tat" (clip.3gpp gives clip.tat). The scan does not enter
// links to folders, so a link loop ends. Files found in the root folder are
// recorded under the root folder as it is (ending with '/'), without a
// doubled separator, so a file and a package entry of the same place give
// the same path. A row whose thumbnail cannot be made keeps its height and
// its text, so the rows under it stay where a tap finds them; a row height
// of 0 (a damaged skin) draws and hits no row.
//
// Thread: UI thread only.

#include <cstdint>
#include <list>

#include "platform/gfx/bitmap.h"
#include "platform/os/ov_string.h"
#include "screens/browsers/scrolled_list.h"
#include "ui/action_codes.h"
#include "ui/control.h"
#include "ui/list_control.h"

namespace ui {
class ScrollBar;
}  // namespace ui

namespace screens {

// Kinds of the browser's rows.
enum : int32_t { kEffectPicture = 1, kEffectVideo = 2, kEffectNone = 3 };

// One row of the list.
struct EffectItem {
  ov::String folder;       // ends with '/'; empty for the no-overlay row
  ov::String name;         // file name without the folder
  ov::String thumbSource;  // a video's thumbnail picture name; else empty
  gfx::HBitmap thumbnail;  // built on first draw
  bool thumbnailTried = false;
  uint64_t creationTime = 0;  // 0 for package entries
  int32_t kind = 0;
};

class EffectBrowser : public ui::Control {
 public:
  using List = std::list<EffectItem>;
  using Position = List::iterator;

  EffectBrowser();
  ~EffectBrowser() override;

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  void OnTick(gfx::Rect* area, uint32_t now) override;
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDoubleTap(int32_t x, int32_t y) override;
  bool OnStylusDown(int32_t x, int32_t y) override;

  // Clears the list and scans the root folder and the media package again.
  void Rebuild();
  bool SelectPrevious();
  bool SelectNext();
  void ScrollUp();
  void ScrollDown();
  // The rows the scroll bar counts under the kind filter.
  int32_t CountForFilter() const;

  List& items() { return items_; }
  Position None() { return items_.end(); }
  Position top() const { return view_.top; }
  Position selected() const { return view_.selected; }
  Position bottom() const { return view_.bottom; }
  // The index of p among the visible rows.
  int32_t IndexOfVisible(Position p) { return Rows().IndexOf(p); }
  int32_t row_height() const { return row_height_; }
  int32_t kind_filter() const { return kind_filter_; }
  bool assign_locked() const { return assign_locked_; }
  const ov::String& root_folder() const { return root_folder_; }

 private:
  bool Shows(const EffectItem& item) const { return kind_filter_ == 0 || kind_filter_ == item.kind; }
  // The rows under the kind filter.
  ScrolledList<List> Rows();
  void Clear();
  void Recount();
  void ScanFolder(const ov::String& folder, int depth);
  void AddPackageEntries();
  void ClassifyFile(const ov::String& extension, const ov::String& name, const ov::String& folder, uint64_t time);
  void SortedInsert(EffectItem item);
  void SelectCurrentOverlay();
  void OnMenuShown();
  void UpdateActionStates();
  void UpdateScrollBar();
  void Refresh();
  void InvalidateScreen();
  // The path of the row's file relative to the skin folder.
  ov::String RelativePath(const EffectItem& item) const;
  ov::String SkinFolder() const;
  void SetPhotoEffect(uint32_t effect);
  void SetNumericOption(int slot, uint32_t value);
  // Builds the row's thumbnail; whether one was made now.
  bool BuildThumbnail(EffectItem* item);
  void DrawRow(gfx::HDC dc, int state, const EffectItem& item, int32_t y, bool selected);

  List items_;
  ListView<Position> view_;
  int32_t thumb_width_ = 64, thumb_height_ = 48, border_ = 4;
  int32_t pre_text_spacing_ = 0, text_spacing_ = 2;
  ov::String root_folder_;
  ov::String idle_icon_name_, focus_icon_name_;
  ui::SkinImage idle_icon_, focus_icon_;
  uint32_t selected_transparent_colour_ = 0;
  int32_t row_height_ = 0;
  ov::String filename_label_ = u"Filename:", type_label_ = u"Type:", dimensions_label_ = u"Dimensions:";
  ov::String scroll_bar_name_;
  ui::ScrollBar* scroll_bar_ = nullptr;
  ov::String unselected_icon_name_;
  int32_t video_count_ = 0, picture_count_ = 0, none_count_ = 0;
  ov::String image_text_menu_;
  ov::String saturation_name_, sepia_name_, black_white_name_;
  ui::Element* saturation_mark_ = nullptr;
  ui::Element* sepia_mark_ = nullptr;
  ui::Element* black_white_mark_ = nullptr;
  bool reduce_info_ = false;
  bool show_pictures_ = true;
  bool show_videos_ = true;
  bool assign_locked_ = true;
  int32_t kind_filter_ = 0;
  gfx::Rect repaint_;
  ui::ListTextFont font_;
};

}  // namespace screens
