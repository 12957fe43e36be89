#include "screens/browsers/media_catalogue.h"

#include <algorithm>
#include <cstring>

#include "engine/video_source_factory.h"
#include "platform/gfx/dc.h"
#include "platform/os/event.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/os/system_time.h"
#include "platform/picture/fit_rect.h"
#include "platform/picture/picture.h"
#include "screens/project/channel_selection.h"

namespace screens {
namespace {

constexpr int64_t kDaySeconds = 86400;
constexpr int64_t kWeekSeconds = 604800;
// "Last month" steps back from now in ten-day steps until the month changes.
constexpr int64_t kLastMonthStep = 864000;
// Seconds between 1601-01-01 (file times) and 1970-01-01.
constexpr int64_t kSecondsFrom1601 = 11644473600LL;
// Folders nested deeper than this are not entered (a guard besides the
// links, which are never followed).
constexpr int kMaxFolderDepth = 64;

// The name as the case-insensitive order compares it (String::CompareNoCase
// is this order: unit by unit folded, a prefix first).
std::u16string Folded(const ov::String& name) {
  std::u16string folded(name.View());
  for (char16_t& c : folded) c = ov::FoldCase(c);
  return folded;
}

// The local calendar date of seconds since 1970.
bool SplitLocal(int64_t seconds, ov::SystemTime* t) {
  const ov::FileTime ft = static_cast<ov::FileTime>(std::max<int64_t>(seconds + kSecondsFrom1601, 0)) * 10000000u;
  return ov::FileTimeToLocalSystemTime(ft, t);
}

// The date of a record as the filters see it: a year below 1900 is time 0.
ov::SystemTime DateOf(const MediaFileRecord& r) {
  if (r.localTime.year >= 1900) return r.localTime;
  ov::SystemTime t{};
  if (!SplitLocal(0, &t)) t = ov::SystemTime{1970, 1, 4, 1, 0, 0, 0, 0};
  return t;
}

uint32_t Fnv1a(uint32_t h, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

// A bitmap of w x h filled with one 16-bit value.
gfx::HBitmap FilledBitmap(int32_t w, int32_t h, uint16_t value) {
  gfx::HBitmap b = gfx::CreateBitmap565(w, h);
  if (b) std::fill(b->bits(), b->bits() + static_cast<ptrdiff_t>(b->stride()) * h, value);
  return b;
}

// Scales src (rows of stride pixels, bottom-up when flip) to w x h by
// nearest pixel.
gfx::HBitmap ScaleFrame(const uint16_t* src, int32_t sw, int32_t sh, int32_t stride, bool flip, int32_t w,
                        int32_t h) {
  gfx::HBitmap out = gfx::CreateBitmap565(w, h);
  if (!out) return out;
  for (int32_t y = 0; y < h; ++y) {
    int32_t sy = static_cast<int32_t>(int64_t(y) * sh / h);
    if (flip) sy = sh - 1 - sy;
    const uint16_t* row = src + static_cast<ptrdiff_t>(sy) * stride;
    uint16_t* dst = out->row(y);
    for (int32_t x = 0; x < w; ++x) dst[x] = row[int64_t(x) * sw / w];
  }
  return out;
}

gfx::HBitmap ScaleBitmap(const gfx::HBitmap& b, bool flip, int32_t box_w, int32_t box_h) {
  int32_t w = 0, h = 0;
  picture::FitRect(&w, &h, b->width(), b->height(), box_w, box_h);
  if (w <= 0 || h <= 0) return nullptr;
  return ScaleFrame(b->bits(), b->width(), b->height(), b->stride(), flip, w, h);
}

gfx::HBitmap LoadIcon(const ThumbnailSpec& spec, const ov::String& name) {
  if (name.IsEmpty()) return nullptr;
  ov::String path = spec.skin_folder.IsEmpty() ? name : spec.skin_folder + u"/" + name;
  path.Replace(u'\\', u'/');
  return picture::LoadIconPicture(path, true);
}

// The first frame of a video, or a placeholder; *bottom_up tells its row order.
gfx::HBitmap VideoPicture(MediaFileRecord* record, bool* bottom_up) {
  std::unique_ptr<media::DecoderSource> source = engine::OpenVideoSource(record->Path(), nullptr, -1, 1);
  if (!source) {
    record->broken = 1;
    return FilledBitmap(48, 32, 0);
  }
  media::MediaFormat format;
  int32_t w = 60, h = 40;
  if (source->GetFormat(&format) && format.width > 0 && format.height > 0 && format.width <= 4096 &&
      format.height <= 4096) {
    w = static_cast<int32_t>(format.width);
    h = static_cast<int32_t>(format.height);
  }
  if (!source->Seek(0)) return FilledBitmap(w, h, 0x8080);
  std::unique_ptr<uint8_t[]> frame;
  uint32_t bytes = 0, time = 0;
  if (!source->ReadVideoFrame(&frame, &bytes, &time, 1) || !frame) return FilledBitmap(48, 32, 0);
  gfx::HBitmap picture = gfx::CreateBitmap565(w, h);
  if (!picture) return nullptr;
  // Frames have rows of ((width + 1) & ~1) pixels; a short frame leaves the
  // rest black rather than reading past it.
  const size_t row_bytes = static_cast<size_t>(picture->stride()) * 2;
  std::fill(picture->bits(), picture->bits() + static_cast<ptrdiff_t>(picture->stride()) * h, 0);
  for (int32_t y = 0; y < h && (y + 1) * row_bytes <= bytes; ++y) {
    std::memcpy(picture->row(y), frame.get() + y * row_bytes, row_bytes);
  }
  *bottom_up = source->IsBottomUp();
  return picture;
}

}  // namespace

int HasTempoSideFile(const ov::String& path) {
  const ov::String side = TempoSideFilePath(path);
  if (side.IsEmpty()) return 0;
  const uint32_t a = ov::GetFileAttributes(side);
  return a != ov::kInvalidAttributes && (a & ov::kAttributeDirectory) == 0 ? 1 : 0;
}

uint32_t RecordChecksum(const ov::String& folder, const ov::String& name, ov::FileTime last_write) {
  uint32_t h = 2166136261u;
  h = Fnv1a(h, folder.View().data(), folder.View().size() * sizeof(char16_t));
  const char16_t separator = 0;
  h = Fnv1a(h, &separator, sizeof(separator));
  h = Fnv1a(h, name.View().data(), name.View().size() * sizeof(char16_t));
  uint8_t time[8];
  for (int i = 0; i < 8; ++i) time[i] = static_cast<uint8_t>(last_write >> (8 * i));
  return Fnv1a(h, time, sizeof(time));
}

bool BuildThumbnail(MediaFileRecord* record, const ThumbnailSpec& spec) {
  gfx::HBitmap picture;
  bool bottom_up = false;
  switch (record->kind) {
    case kKindAudio:
      picture = LoadIcon(spec, spec.audio_icon);
      break;
    case kKindProject:
      picture = LoadIcon(spec, spec.project_icon);
      break;
    case kKindImage: {
      picture = FilledBitmap(spec.width, spec.height, 0);
      if (!picture) return false;
      std::unique_ptr<gfx::DeviceContext> dc = gfx::CreateCompatibleDC(nullptr);
      dc->SelectBitmap(picture);
      if (!picture::DrawImageFileCentered(record->Path(), spec.width, spec.height, dc.get())) record->broken = 1;
      break;
    }
    case kKindVideo:
      picture = VideoPicture(record, &bottom_up);
      break;
    default:
      return false;
  }
  if (!picture || picture->width() == 0 || picture->height() == 0) return false;
  record->thumbnail = ScaleBitmap(picture, bottom_up, spec.width, spec.height);
  return record->thumbnail != nullptr;
}

// ---- the list ----

MediaCatalogue::MediaCatalogue() {
  top = selected = bottom = list_.end();
  root_ = ov::DocumentsFolder();
  TakeNow();
}

MediaCatalogue::~MediaCatalogue() { CloseWatches(); }

void MediaCatalogue::set_root(const ov::String& folder) {
  root_ = folder;
  while (root_.Length() > 1 && root_.EndsWithNoCase(u"/")) root_ = root_.Left(root_.Length() - 1);
}

void MediaCatalogue::LookUpSpecialFolders() {
  skipped_.clear();
  ov::String app = ov::ApplicationFolder();
  while (app.Length() > 1 && app.EndsWithNoCase(u"/")) app = app.Left(app.Length() - 1);
  const ov::String documents = ov::DocumentsFolder();
  ov::String temp = ov::TempFolder();
  if (temp.EndsWithNoCase(u"/")) temp = temp.Left(temp.Length() - 1);
  for (const ov::String& f : {app, documents + u"/UAContents", documents + u"/Bluetooth", temp}) {
    skipped_.push_back(f);
  }
}

bool MediaCatalogue::Skipped(const ov::String& folder) const {
  for (const ov::String& s : skipped_) {
    if (!s.IsEmpty() && s == folder) return true;
  }
  return false;
}

void MediaCatalogue::ClearList() {
  list_.clear();
  by_name_.clear();
  by_date_.clear();
  indexed_ = true;
  top = selected = bottom = list_.end();
  Recount();
}

void MediaCatalogue::Rebuild() {
  ClearList();
  checksum_ = 0;
  TakeNow();
  ScanFolder(root_, false);
  Recount();
  top = list_.begin();
  selected = FirstVisible(&top);
  bottom = list_.end();
}

void MediaCatalogue::ScanFolder(const ov::String& folder, bool checksum_only) {
  ScanFolderAt(folder, checksum_only, 0);
}

void MediaCatalogue::ScanFolderAt(const ov::String& folder, bool checksum_only, int depth) {
  if (Skipped(folder) || depth > kMaxFolderDepth) return;
  const ov::String base = folder == ov::String(u"/") ? ov::String() : folder;
  ov::FileFinder finder;
  ov::FindData found;
  if (!finder.First(base + u"/*", &found)) return;
  do {
    if (found.attributes & ov::kAttributeDirectory) {
      // A link to a folder may lead back up the tree: never entered.
      if (!(found.attributes & ov::kAttributeLink)) ScanFolderAt(base + u"/" + found.name, checksum_only, depth + 1);
    } else if (!(found.attributes & ov::kAttributeSystem) && found.name.Length() > 4) {
      AddFile(found.name, base + u"/", found.last_write, checksum_only);
    }
  } while (finder.Next(&found));
}

void MediaCatalogue::AddFile(const ov::String& name, const ov::String& folder, ov::FileTime last_write,
                             bool checksum_only) {
  int32_t kind = 0;
  const int32_t type = FileTypeOfPath(name, &kind);
  if (type == kFileTypeNone) return;
  MediaFileRecord r;
  r.folder = folder;
  r.name = name;
  r.kind = kind;
  r.fileType = type;
  r.lastWrite = last_write;
  if (ov::FileTimeToLocalSystemTime(last_write, &r.localTime)) r.localSeconds = ov::LocalSystemTimeToSeconds(r.localTime);
  InsertSorted(std::move(r), checksum_only);
}

void MediaCatalogue::InsertSorted(MediaFileRecord record, bool checksum_only) {
  checksum_ += RecordChecksum(record.folder, record.name, record.lastWrite);
  if (checksum_only) return;
  // The place is the first visible record whose key is greater; the visible
  // records stay in key order, so the index answers what a walk from the
  // head would find, equal keys keeping their arrival order.
  if (!indexed_) Reindex();
  Position place = list_.end();
  std::u16string key;
  if (sort_by_name_) {
    key = Folded(record.name);
    auto it = by_name_.upper_bound(key);
    if (it != by_name_.end()) place = it->second;
  } else {
    auto it = by_date_.upper_bound(record.localSeconds);
    if (it != by_date_.end()) place = it->second;
  }
  const bool visible = IsVisible(record);
  const int64_t seconds = record.localSeconds;
  Position p = list_.insert(place, std::move(record));
  if (visible) {
    if (sort_by_name_) by_name_.emplace(std::move(key), p);
    else by_date_.emplace(seconds, p);
  }
}

void MediaCatalogue::Reindex() {
  by_name_.clear();
  by_date_.clear();
  for (Position p = list_.begin(); p != list_.end(); ++p) {
    if (!IsVisible(*p)) continue;
    if (sort_by_name_) by_name_.emplace_hint(by_name_.end(), Folded(p->name), p);
    else by_date_.emplace_hint(by_date_.end(), p->localSeconds, p);
  }
  indexed_ = true;
}

// ---- filters ----

void MediaCatalogue::TakeNow() {
  indexed_ = false;  // the date filters may pass other records now
  const ov::SystemTime now = ov::GetLocalTime();
  now_.seconds = ov::LocalSystemTimeToSeconds(now);
  now_.year = now.year;
  now_.month = now.month;
  now_.day = now.day;
  ov::SystemTime t{};
  if (SplitLocal(now_.seconds - kDaySeconds, &t)) {
    now_.yesterday_year = t.year;
    now_.yesterday_month = t.month;
    now_.yesterday_day = t.day;
  }
  int64_t back = now_.seconds;
  now_.last_month_year = now.year;
  now_.last_month = now.month;
  for (int i = 0; i < 8; ++i) {
    back -= kLastMonthStep;
    if (SplitLocal(back, &t) && t.month != now.month) {
      now_.last_month_year = t.year;
      now_.last_month = t.month;
      break;
    }
  }
}

void MediaCatalogue::SetDateMode(int32_t mode, int64_t start, int64_t end) {
  date_mode_ = mode;
  indexed_ = false;
  if (mode == kDateRange) {
    range_start_ = start;
    range_end_ = end;
  }
}

bool MediaCatalogue::DateFilter(const MediaFileRecord& r) const {
  const int64_t t = r.localSeconds;
  switch (date_mode_) {
    case kDateToday: {
      const ov::SystemTime d = DateOf(r);
      return d.day == now_.day && d.month == now_.month && d.year == now_.year;
    }
    case kDateYesterday: {
      const ov::SystemTime d = DateOf(r);
      return d.day == now_.yesterday_day && d.month == now_.yesterday_month && d.year == now_.yesterday_year;
    }
    case kDateLast7Days:
      return now_.seconds - kWeekSeconds <= t && t <= now_.seconds;
    case kDateLastMonth: {
      const ov::SystemTime d = DateOf(r);
      return d.month == now_.last_month && d.year == now_.last_month_year;
    }
    case kDateThisMonth: {
      const ov::SystemTime d = DateOf(r);
      return d.month == now_.month && d.year == now_.year;
    }
    case kDateAll:
      return true;
    case kDateRange:
      return range_start_ <= t && t <= range_end_;
    default:
      return false;
  }
}

bool MediaCatalogue::IsVisible(const MediaFileRecord& r) const {
  return (kind_filter_ == 0 || kind_filter_ == r.kind) && DateFilter(r);
}

void MediaCatalogue::Recount() {
  TakeNow();
  std::fill(counts_, counts_ + 4, 0);
  for (const MediaFileRecord& r : list_) {
    if (r.kind >= 1 && r.kind <= 4 && DateFilter(r)) ++counts_[r.kind - 1];
  }
}

int32_t MediaCatalogue::CountByKind(int32_t kind) const {
  if (kind == 0) return counts_[0] + counts_[1] + counts_[2] + counts_[3];
  return count(kind);
}

void MediaCatalogue::set_counts(const int32_t counts[4]) { std::copy(counts, counts + 4, counts_); }

// ---- visible iteration ----

ScrolledList<MediaCatalogue::List> MediaCatalogue::Rows() {
  return {list_, [this](const MediaFileRecord& r) { return IsVisible(r); }};
}

MediaCatalogue::Position MediaCatalogue::FirstVisible(Position* p) {
  *p = Rows().First(*p);
  return *p;
}

MediaCatalogue::Position MediaCatalogue::NextVisible(Position* p) {
  const ScrolledList<List> rows = Rows();
  const Position found = rows.First(*p);
  *p = rows.Next(found);
  return found;
}

MediaCatalogue::Position MediaCatalogue::FindByName(const MediaFileRecord* record, const ov::String& name) {
  if (!record && name.IsEmpty()) return list_.end();
  for (Position q = list_.begin(); q != list_.end(); ++q) {
    if (!IsVisible(*q)) continue;
    if (record) {
      if (q->name == record->name && q->folder == record->folder) return q;
    } else if (q->name == name || q->Path().EqualsNoCase(name.View())) {
      return q;
    }
  }
  return list_.end();
}

bool MediaCatalogue::HasMediaInRange(int64_t start, int64_t span) const {
  for (const MediaFileRecord& r : list_) {
    if (start <= r.localSeconds && r.localSeconds <= start + span) return true;
  }
  return false;
}

bool MediaCatalogue::HasMediaInMonth(int64_t time) const {
  ov::SystemTime m{};
  if (!SplitLocal(time, &m)) return false;
  for (const MediaFileRecord& r : list_) {
    const ov::SystemTime d = DateOf(r);
    if (d.year == m.year && d.month == m.month) return true;
  }
  return false;
}

// ---- change watch ----

void MediaCatalogue::WatchFolders() {
  CloseWatches();
  std::vector<ov::String> folders{ov::DocumentsFolder()};
  for (const ov::StorageCard& card : ov::EnumerateStorageCards()) {
    if (!card.name.IsEmpty()) folders.push_back(card.name);
  }
  // The root may lie outside the documents folder only through a card; it is
  // watched as well when it is neither.
  bool covered = false;
  for (const ov::String& f : folders) covered = covered || root_ == f || root_.StartsWith((f + u"/").View());
  if (!covered) folders.push_back(root_);
  for (const ov::String& f : folders) {
    auto watch = std::make_unique<ov::FolderWatch>();
    if (watch->Start(f, true, ov::kNotifyFileName | ov::kNotifyDirName | ov::kNotifyAttributes)) {
      watches_.push_back(std::move(watch));
    }
  }
}

void MediaCatalogue::CloseWatches() {
  // Last opened first.
  while (!watches_.empty()) watches_.pop_back();
  pending_ = false;
}

bool MediaCatalogue::PollWatch(uint32_t now, bool* settled) {
  *settled = false;
  for (auto& watch : watches_) {
    if (watch->Wait(0) == ov::kWaitObject0) {
      watch->Next();
      pending_ = true;
      deadline_ = now + kChangeSettleMs;
    }
  }
  if (!pending_ || static_cast<int32_t>(now - deadline_) <= 0) return false;
  pending_ = false;
  *settled = true;
  const uint32_t before = checksum_;
  checksum_ = 0;
  ScanFolder(root_, true);
  if (checksum_ == before) return false;
  return true;
}

}  // namespace screens
