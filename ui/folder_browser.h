#pragma once
// FileBrowser ("FileBrowser"): lets the user choose a folder of the device.
// It lists the sub-folders of its current folder (".." first below the
// device root), moves a selection with the direction keys or the stylus,
// opens folders, keeps the current folder in the option "SetLocationDir" and
// hands the chosen folder to the media browser (action 345). Its list
// scrolls with the scroll bar named by "myScrollBar".
//
// DragIcon ("DragIcon"): the picture that follows the stylus while a clip is
// dragged; the elements that drag switch its drag state.
//
// The sub-folders are listed sorted by name, ignoring case.
//
// Device paths: the browser works on device paths, which begin and end with
// "\" ("\" is the device root, "\Music\" a folder under it). The device root
// is the documents folder (ov::DocumentsFolder: $OVMIX_DOCUMENTS, else
// $HOME); storage cards appear as folders under it where they are mounted
// there.
//
// Thread: UI thread only.

#include <vector>

#include "ui/list_control.h"

namespace ui {

// The local folder of a device path, ending with "/".
ov::String DevicePathToLocal(const ov::String& device_path);

class FileBrowser : public ListControl {
 public:
  FileBrowser();

  void LoadAttribute(const ov::String& name, const ov::String& value) override;
  void Draw(gfx::HDC dc, int state) override;
  bool OnDirectionKey(int32_t code) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  bool OnStylusDown(int32_t x, int32_t y) override;

  void ListFolders();
  void UpdateOkItem();

  const ov::String& current_folder() const { return current_folder_; }
  const std::vector<ov::String>& folders() const { return folders_; }
  int32_t selected() const { return selected_; }
  int32_t top() const { return top_; }
  int32_t last_visible() const { return last_visible_; }

 private:
  // Rows that fit in the box; 0 without a row height.
  int32_t Page() const;
  void OpenSelected();
  void ResetList();
  void UpdateScrollBar();
  void Tail();
  Menu* OwningMenu() const;
  Element* MediaBrowser() const;

  ov::String current_folder_ = u"\\";
  std::vector<ov::String> folders_;
  int32_t selected_ = 0, top_ = 0, last_visible_ = 0;
  Element* mixer_ = nullptr;
  Element* channel_ = nullptr;
  int32_t channel_index_ = -1;
  bool chosen_ = false;
  bool focus_colour_ = false;
  bool announcing_ = false;  // INITIALISE is telling the screen the folder
};

class DragIcon : public Control {
 public:
  DragIcon() { type_ = kTypeDragIcon; }
  void Draw(gfx::HDC dc, int state) override;
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override;
  // 0 idle, 1 and 2 the two drag phases.
  void SetDragState(int32_t state) { drag_state_ = state; }
  int32_t drag_state() const { return drag_state_; }

 private:
  int32_t drag_state_ = 0;
};

}  // namespace ui
