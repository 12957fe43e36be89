#pragma once
// What the widgets of this toolkit ask of the mix screens, declared here so
// that ui/ does not depend on screens/. The screens' media browser, mixer
// and channel elements implement these and answer them through
// Element::AsMediaBrowser, AsMixer and AsChannel; tests use small fakes.
//
// Thread: UI thread only.

#include <cstdint>

#include "platform/os/ov_string.h"

namespace ui {

class Element;

// The media browser of a screen, as the calendar and the folder browser see
// it. Dates are seconds since 1970 of local calendar dates.
class MediaBrowserLink {
 public:
  virtual ~MediaBrowserLink() = default;
  // Whether a listed file's date lies in the year and month of date.
  virtual bool HasMediaInMonth(int64_t date) = 0;
  // Whether a listed file's date lies in [start, start + span].
  virtual bool HasMediaInRange(int64_t start, int64_t span) = 0;
  // Sets the browser's date filter to [start, end], rebuilds and repaints.
  virtual void ShowDateRange(int64_t start, int64_t end) = 0;
};

// One channel of the mix, as the clip order list sees it.
class ChannelLink {
 public:
  virtual ~ChannelLink() = default;
  virtual int32_t ClipCount() = 0;
  // The source file path of a clip, empty when there is none.
  virtual ov::String GetClipFile(int32_t index) = 0;
  // Moves clip from to position to; the others keep their order.
  virtual void MoveClip(int32_t from, int32_t to) = 0;
  virtual void RemoveClip(int32_t index) = 0;
  // Deletes the clips' cache files of kind (0 every kind) so that they are
  // built again; the clips stay.
  virtual void ClearChannel(int32_t kind) = 0;
};

// The mixer element of a screen.
class MixerLink {
 public:
  virtual ~MixerLink() = default;
  // Index of channel in the mixer's channel table, -1 when it is not there.
  virtual int32_t FindChannelIndex(Element* channel) = 0;
  // Before the program ends (ACTION_QUIT, the window closed): false when
  // the user chose to keep a recorded take that was not saved.
  virtual bool MayQuit() { return true; }
};

}  // namespace ui
