#pragma once
// MediaCatalogue: the list of media files the media browser shows. It walks
// a root folder and its sub-folders, keeps one MediaFileRecord per listed
// file sorted by name or by date, filters the list by kind and by date,
// counts each kind, builds a record's thumbnail when it is first drawn, and
// notices changes in the file system through folder watches and a checksum
// over every listed file.
//
// Positions are list iterators; records().end() stands for "none". Records
// keep their address until ClearList, so a selection may point at one.
//
// Folders are native paths without a trailing '/'; a record's folder keeps
// its trailing '/'. The root defaults to the documents folder (the device
// root). Symbolic links to folders are not entered, so a link loop ends.
//
// Thread: UI thread only.

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/folder_watch.h"
#include "platform/os/ov_string.h"
#include "screens/browsers/media_file_record.h"
#include "screens/browsers/scrolled_list.h"

namespace screens {

// DateMode values.
enum DateMode : int32_t {
  kDateToday = 0,
  kDateYesterday = 1,
  kDateLast7Days = 2,
  kDateLastMonth = 3,
  kDateThisMonth = 4,
  kDateAll = 5,
  kDateRange = 6,
};

// Milliseconds a burst of folder changes must stay quiet before the
// catalogue checks whether its files changed.
constexpr uint32_t kChangeSettleMs = 1000;

// 1 when the tempo side file of the clip at path (TempoSideFilePath) exists.
int HasTempoSideFile(const ov::String& path);

// The checksum share of one file: an order-sensitive hash of its folder,
// name and last-write time (a rename that only swaps letters changes it).
uint32_t RecordChecksum(const ov::String& folder, const ov::String& name, ov::FileTime last_write);

// What a thumbnail is built from (the browser's skin attributes).
struct ThumbnailSpec {
  int32_t width = 64, height = 48;
  ov::String skin_folder;   // where the icons are looked up
  ov::String audio_icon;    // thumbnail of audio files
  ov::String project_icon;  // thumbnail of projects
};

// Builds record's thumbnail; whether one was built now. A picture or video
// that cannot be read marks the record broken and gets a black (or grey,
// when seeking fails) placeholder; a missing icon leaves it without one.
bool BuildThumbnail(MediaFileRecord* record, const ThumbnailSpec& spec);

// The view (top, selected, bottom) is the browser's; the catalogue clears
// and resets it with the list.
class MediaCatalogue : public ListView<std::list<MediaFileRecord>::iterator> {
 public:
  using List = std::list<MediaFileRecord>;
  using Position = List::iterator;

  MediaCatalogue();
  ~MediaCatalogue();
  MediaCatalogue(const MediaCatalogue&) = delete;
  MediaCatalogue& operator=(const MediaCatalogue&) = delete;

  // The folder the scan walks.
  void set_root(const ov::String& folder);
  const ov::String& root() const { return root_; }
  // Folders the walk never enters: the application folder, the documents
  // folder's "UAContents", its "Bluetooth", the temporary folder. There is
  // no system folder here (none is skipped in its place).
  void LookUpSpecialFolders();
  void AddSkippedFolder(const ov::String& folder) { skipped_.push_back(folder); }

  // Clears the list, scans the root folder, recounts; the first visible
  // record becomes top and selected, the bottom is forgotten.
  void Rebuild();
  void ScanFolder(const ov::String& folder, bool checksum_only);
  void AddFile(const ov::String& name, const ov::String& folder, ov::FileTime last_write, bool checksum_only);
  void InsertSorted(MediaFileRecord record, bool checksum_only);
  void ClearList();

  // Filters and counts.
  int32_t sort_by_name() const { return sort_by_name_; }
  void set_sort_by_name(int32_t on) {
    sort_by_name_ = on;
    indexed_ = false;
  }
  int32_t kind_filter() const { return kind_filter_; }
  void set_kind_filter(int32_t kind) {
    kind_filter_ = kind;
    indexed_ = false;
  }
  int32_t date_mode() const { return date_mode_; }
  // Sets the mode; with kDateRange, [start, end] both included (the
  // calendar hands the last second of its range as end).
  void SetDateMode(int32_t mode, int64_t start = 0, int64_t end = 0);
  // Now, for the date filters, is taken at each Recount and Rebuild.
  bool DateFilter(const MediaFileRecord& record) const;
  bool IsVisible(const MediaFileRecord& record) const;
  // Takes now again and counts the records of each kind passing the date filter.
  void Recount();
  int32_t CountByKind(int32_t kind) const;
  int32_t count(int kind) const { return kind >= 1 && kind <= 4 ? counts_[kind - 1] : 0; }
  void set_counts(const int32_t counts[4]);

  // Visible iteration (ScrolledList's walk under the filters in force).
  ScrolledList<List> Rows();
  Position None() { return list_.end(); }
  // The first visible record at or after *p, where *p moves.
  Position FirstVisible(Position* p);
  // The first visible record at or after *p; *p moves on to the visible
  // record after it (none at the end).
  Position NextVisible(Position* p);
  Position StepVisible(Position p, int n) { return Rows().Step(p, n); }
  int32_t IndexOfVisible(Position p) { return Rows().IndexOf(p); }
  Position FindByName(const MediaFileRecord* record, const ov::String& name);
  bool HasMediaInRange(int64_t start, int64_t span) const;
  bool HasMediaInMonth(int64_t time) const;

  // Change watch: a watch on the documents folder and one on each storage
  // card, for names and attributes (a touch changes the time). Poll calls
  // Next on a signalled watch and moves the settle deadline; once it has
  // passed, rescans for the checksum alone. Returns true when that found the
  // files changed (the caller rebuilds); *settled tells that a check ran.
  void WatchFolders();
  void CloseWatches();
  size_t watch_count() const { return watches_.size(); }
  bool PollWatch(uint32_t now, bool* settled);

  List& records() { return list_; }
  uint32_t checksum() const { return checksum_; }

 private:
  struct Now {
    int64_t seconds = 0;
    int year = 0, month = 0, day = 0;
    int yesterday_year = 0, yesterday_month = 0, yesterday_day = 0;
    int last_month_year = 0, last_month = 0;
  };
  void TakeNow();
  void Reindex();
  bool Skipped(const ov::String& folder) const;
  void ScanFolderAt(const ov::String& folder, bool checksum_only, int depth);

  ov::String root_;
  std::vector<ov::String> skipped_;
  List list_;
  // Visible records by sort key during a scan: the first key greater than a
  // new record's is where it goes, as a walk from the head would find.
  // Names are keyed case-folded, so that the index compares as the list's
  // case-insensitive order does without folding again at each step.
  std::multimap<std::u16string, Position> by_name_;
  std::multimap<int64_t, Position> by_date_;
  bool indexed_ = true;  // the index holds the visible records under the filters in force
  int32_t sort_by_name_ = 1;
  int32_t kind_filter_ = 0;
  int32_t date_mode_ = kDateAll;
  int64_t range_start_ = 0, range_end_ = 0;
  int32_t counts_[4] = {};
  uint32_t checksum_ = 0;
  Now now_;
  std::vector<std::unique_ptr<ov::FolderWatch>> watches_;
  bool pending_ = false;
  uint32_t deadline_ = 0;
};

}  // namespace screens
