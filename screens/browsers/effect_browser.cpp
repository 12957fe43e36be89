#include "screens/browsers/effect_browser.h"

#include <algorithm>
#include <memory>

#include "engine/picture565.h"
#include "media/media_package.h"
#include "platform/gfx/dc.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"
#include "platform/picture/fit_rect.h"
#include "platform/picture/picture.h"
#include "screens/browsers/browser_rows.h"
#include "screens/browsers/media_browser.h"  // ui::kActionBrowserPrev, ui::kActionBrowserNext, ui::kActionBrowserPreview
#include "ui/menu.h"
#include "ui/scroll_bar.h"
#include "ui/text_drawing.h"
#include "ui/ui_host.h"

namespace screens {
namespace {

// Option slots the browser writes in place.
constexpr int kOptionAssignOverlayToAll = 7;
constexpr int kOptionAssignPhotoEffectToAll = 8;
constexpr int kOptionPhotoEffect = 9;
constexpr int kOptionOverlayEffect = 18;  // string slot
// Overlay pictures are keyed on the key colour, which the thumbnails show
// black.
constexpr gfx::COLORREF kOverlayKey = engine::kKeyColour;
// A picture of an unknown kind of row.
constexpr int32_t kPlaceholderWidth = 48, kPlaceholderHeight = 32;
// Folders nested deeper than this are not entered (a guard besides the
// links, which are never followed).
constexpr int kMaxFolderDepth = 64;

bool IsOneOf(const ov::String& extension, std::initializer_list<const char16_t*> list) {
  for (const char16_t* e : list) {
    if (extension.EqualsNoCase(e)) return true;
  }
  return false;
}

ov::String WithSlash(ov::String folder) {
  if (!folder.EndsWithNoCase(u"/")) folder += u"/";
  return folder;
}

// A width x height bitmap, black.
gfx::HBitmap BlackPicture(int32_t width, int32_t height) {
  uint16_t* bits = nullptr;
  gfx::HBitmap b = picture::CreateDib565(nullptr, width, height, &bits);
  if (b) std::fill(bits, bits + ptrdiff_t(b->stride()) * height, uint16_t{0});
  return b;
}

}  // namespace

EffectBrowser::EffectBrowser() {
  type_ = ui::kTypeEffectBrowser;
  view_.top = view_.selected = view_.bottom = items_.end();
  font_.height = 12;
}

EffectBrowser::~EffectBrowser() { Clear(); }

void EffectBrowser::LoadAttribute(const ov::String& name, const ov::String& value) {
  using ui::NameIs;
  if (NameIs(name, u"scrollBar")) scroll_bar_name_ = value;
  else if (NameIs(name, u"blackandwhite")) black_white_name_ = value;
  else if (NameIs(name, u"sepia")) sepia_name_ = value;
  else if (NameIs(name, u"saturation")) saturation_name_ = value;
  else if (NameIs(name, u"imageTextMenu")) image_text_menu_ = value;
  else if (NameIs(name, u"filenameStr")) filename_label_ = value;
  else if (NameIs(name, u"typeStr")) type_label_ = value;
  else if (NameIs(name, u"dimenstionsStr")) dimensions_label_ = value;
  else if (NameIs(name, u"preTextAdditionalSpacing")) pre_text_spacing_ = ui::ParseCoordinate(value);
  else if (NameIs(name, u"textAdditionalSpacing")) text_spacing_ = ui::ParseCoordinate(value);
  else if (NameIs(name, u"unselectedIcon")) unselected_icon_name_ = value;
  else if (NameIs(name, u"yThumbnailSize")) thumb_height_ = ui::ParseCoordinate(value);
  else if (NameIs(name, u"xThumbnailSize")) thumb_width_ = ui::ParseCoordinate(value);
  else if (NameIs(name, u"borderSize")) border_ = ui::ParseCoordinate(value);
  else if (NameIs(name, u"focusSelectedIcon")) focus_icon_name_ = value;
  else if (NameIs(name, u"idleSelectedIcon")) idle_icon_name_ = value;
  else if (NameIs(name, u"selectedTransparentColour")) selected_transparent_colour_ = uint32_t(ui::ParseDecimal(value));
  else if (NameIs(name, u"showVideos")) show_videos_ = IsYesFlag(value);
  else if (NameIs(name, u"showPicures")) show_pictures_ = IsYesFlag(value);
  else if (NameIs(name, u"reduceThumbnailInfo")) reduce_info_ = IsYesFlag(value);
  else Control::LoadAttribute(name, value);
}

// ---- the list ----

ScrolledList<EffectBrowser::List> EffectBrowser::Rows() {
  return {items_, [this](const EffectItem& item) { return Shows(item); }};
}

int32_t EffectBrowser::CountForFilter() const {
  switch (kind_filter_) {
    case 0:
      return none_count_ + picture_count_ + video_count_;
    case kEffectPicture:
      return none_count_ + picture_count_;
    case kEffectVideo:
      return none_count_ + video_count_;
    default:
      return 0;
  }
}

void EffectBrowser::Recount() {
  video_count_ = picture_count_ = none_count_ = 0;
  for (const EffectItem& item : items_) {
    if (item.kind == kEffectVideo) ++video_count_;
    else if (item.kind == kEffectPicture) ++picture_count_;
    else if (item.kind == kEffectNone) ++none_count_;
  }
}

void EffectBrowser::Clear() {
  idle_icon_.Release();
  focus_icon_.Release();
  items_.clear();
  view_.top = view_.selected = view_.bottom = items_.end();
  Recount();
}

void EffectBrowser::Rebuild() {
  Clear();
  EffectItem none;
  none.kind = kEffectNone;
  items_.push_back(std::move(none));
  ScanFolder(root_folder_, 0);
  AddPackageEntries();
  Recount();
  view_.top = view_.selected = Rows().First(items_.begin());
  view_.bottom = items_.end();
  UpdateScrollBar();
  UpdateActionStates();
}

void EffectBrowser::ScanFolder(const ov::String& folder, int depth) {
  ov::String app = ov::ApplicationFolder();
  if (ui::UiHost* host = ui::Host(); host && !host->ApplicationFolder().IsEmpty()) app = host->ApplicationFolder();
  while (app.Length() > 1 && app.EndsWithNoCase(u"/")) app = app.Left(app.Length() - 1);
  // The program's own folder is searched as the root only; reached from
  // another folder it is skipped.
  if (folder.IsEmpty() || folder == app || depth > kMaxFolderDepth) return;
  const ov::String base = WithSlash(folder);
  ov::FileFinder finder;
  ov::FindData found;
  if (!finder.First(base + u"*", &found)) return;
  do {
    if (found.attributes & ov::kAttributeDirectory) {
      // A link to a folder may lead back up the tree: never entered.
      if (!(found.attributes & ov::kAttributeLink)) ScanFolder(base + found.name, depth + 1);
    } else if (!(found.attributes & ov::kAttributeSystem) && found.name.Length() >= 5) {
      const int dot = found.name.ReverseFind(u'.');
      ClassifyFile(dot >= 0 ? found.name.Mid(dot) : ov::String(), found.name, base, found.creation);
    }
  } while (finder.Next(&found));
}

void EffectBrowser::AddPackageEntries() {
  media::MediaPackage* package = media::GetMediaPackage();
  if (!package) return;
  const ov::String app = WithSlash(root_folder_);
  media::PackageIterator it;
  for (bool ok = package->FirstEntryName(&it); ok; ok = package->NextEntryName(&it)) {
    const ov::String& entry = it.name;
    const int dot = entry.ReverseFind(u'.');
    const ov::String extension = dot >= 0 ? entry.Mid(dot) : ov::String();
    // An entry in a sub-folder of the package stands in that folder of the
    // application folder; its stored '\' separators become '/'.
    const int slash = entry.ReverseFind(u'\\');
    if (slash >= 0) {
      ov::String sub = entry.Left(slash);
      sub.Replace(u'\\', u'/');
      ClassifyFile(extension, entry.Mid(slash + 1), app + sub + u"/", 0);
    } else {
      ClassifyFile(extension, entry, app, 0);
    }
  }
}

void EffectBrowser::ClassifyFile(const ov::String& extension, const ov::String& name, const ov::String& folder,
                                 uint64_t time) {
  EffectItem item;
  item.folder = folder;
  item.name = name;
  item.creationTime = time;
  if (IsOneOf(extension, {u".jpg", u".gif"}) || (show_pictures_ && extension.EqualsNoCase(u".bmp"))) {
    item.kind = kEffectPicture;
  } else if (IsOneOf(extension, {u".wmv", u".3gpp", u".3g2", u".mp4", u".3gp"}) ||
             (show_videos_ && extension.EqualsNoCase(u".mov"))) {
    // Transitions are the channel effect's, not overlays.
    if (name.Left(10).EqualsNoCase(u"transition")) return;
    item.kind = kEffectVideo;
    const int dot = name.ReverseFind(u'.');
    item.thumbSource = name.Left(dot + 1) + u"tat";
  } else {
    return;
  }
  SortedInsert(std::move(item));
}

void EffectBrowser::SortedInsert(EffectItem item) {
  const ScrolledList<List> rows = Rows();
  Position p = rows.First(items_.begin());
  while (p != items_.end() && p->name.CompareNoCase(item.name.View()) <= 0) p = rows.Next(p);
  items_.insert(p, std::move(item));
}

// ---- navigation ----

bool EffectBrowser::SelectPrevious() { return Rows().SelectPrevious(&view_, 1); }

bool EffectBrowser::SelectNext() {
  bool scrolled = false;
  return Rows().SelectNext(&view_, 1, &scrolled);
}

// A scroll leaves the bottom on the new top: SelectNext takes the selection
// on from there without moving the list until the next paint has set the
// bottom again.
void EffectBrowser::ScrollUp() {
  if (Rows().ScrollUp(&view_)) view_.bottom = view_.top;
}

void EffectBrowser::ScrollDown() {
  if (Rows().ScrollDown(&view_, y_size_, row_height_)) view_.bottom = view_.top;
}

void EffectBrowser::SelectCurrentOverlay() {
  const ScrolledList<List> rows = Rows();
  view_.top = view_.selected = rows.First(items_.begin());
  ui::UiHost* host = ui::Host();
  ov::String* option = host ? host->StringOption(kOptionOverlayEffect) : nullptr;
  if (option && !option->IsEmpty()) {
    // The option arrives as the full path the photo editor keeps in its
    // clips, or already relative to the skin folder as a tap stores it (the
    // video editor hands it over so); it leaves relative. Its row may be
    // anywhere in the list, past the first page too.
    for (Position p = view_.selected; p != items_.end(); p = rows.Next(p)) {
      if (p->folder + p->name == *option || RelativePath(*p) == *option) {
        *option = RelativePath(*p);
        view_.top = view_.selected = p;
        break;
      }
    }
  }
  // The chosen row in view: at the top, or lower where the list ends
  // first, so that the last page stays full.
  const int32_t whole = row_height_ > 0 ? y_size_ / row_height_ : 0;
  int32_t standing = 0;
  for (Position p = view_.top; p != items_.end() && standing < whole; p = rows.Next(p)) ++standing;
  for (; standing < whole; ++standing) {
    const Position previous = rows.Previous(view_.top);
    if (previous == items_.end()) break;
    view_.top = previous;
  }
  view_.bottom = view_.top;
  if (row_height_ > 0) {
    for (int32_t n = whole; n > 0; --n) {
      const Position next = rows.Next(view_.bottom);
      if (next == items_.end()) break;
      view_.bottom = next;
    }
  }
}

// ---- options and menu items ----

ov::String EffectBrowser::SkinFolder() const {
  ui::UiHost* host = ui::Host();
  return host ? host->SkinFolder() : ov::String();
}

ov::String EffectBrowser::RelativePath(const EffectItem& item) const {
  return item.folder.Mid(SkinFolder().Length() + 1) + item.name;
}

void EffectBrowser::SetNumericOption(int slot, uint32_t value) {
  ui::UiHost* host = ui::Host();
  if (uint32_t* option = host ? host->NumericOption(slot) : nullptr) *option = value;
}

void EffectBrowser::SetPhotoEffect(uint32_t effect) {
  ui::UiHost* host = ui::Host();
  uint32_t* option = host ? host->NumericOption(kOptionPhotoEffect) : nullptr;
  if (option) *option = *option == effect ? 0 : effect;
}

void EffectBrowser::UpdateActionStates() {
  ui::UiHost* host = ui::Host();
  if (host) {
    const bool any = !items_.empty();
    host->EnableActionItems(any, nullptr, ui::kActionBrowserPrev, 1);
    host->EnableActionItems(any, nullptr, ui::kActionBrowserNext, 1);
  }
  // A filter that hides the selection moves it on, or back to the top.
  if (Rows().FollowFilter(&view_, kind_filter_ != 0)) InvalidateScreen();
  if (!host) return;
  const uint32_t* overlay_all = host->NumericOption(kOptionAssignOverlayToAll);
  const uint32_t* effect_all = host->NumericOption(kOptionAssignPhotoEffectToAll);
  const uint32_t* effect = host->NumericOption(kOptionPhotoEffect);
  // Only the action that changes the setting is offered.
  const bool overlay_one = overlay_all && *overlay_all == 1, effect_one = effect_all && *effect_all == 1;
  host->EnableActionItems(!assign_locked_ && !overlay_one, nullptr, ui::kActionAssignOverlayToAll, 1);
  host->EnableActionItems(!assign_locked_ && overlay_one, nullptr, ui::kActionAssignOverlayToOne, 1);
  host->EnableActionItems(!assign_locked_ && !effect_one, nullptr, ui::kActionAssignPhotoEffectToAll, 1);
  host->EnableActionItems(!assign_locked_ && effect_one, nullptr, ui::kActionAssignPhotoEffectToOne, 1);
  const uint32_t photo = effect ? *effect : 0;
  if (black_white_mark_) black_white_mark_->SetVisible(photo == 1);
  if (sepia_mark_) sepia_mark_->SetVisible(photo == 2);
  if (saturation_mark_) saturation_mark_->SetVisible(photo == 3);
}

void EffectBrowser::UpdateScrollBar() {
  if (!scroll_bar_ || row_height_ <= 0) return;
  scroll_bar_->SetScrollRange(this, CountForFilter(), IndexOfVisible(view_.top), ScrollPage(y_size_, row_height_));
}

void EffectBrowser::InvalidateScreen() {
  ui::UiHost* host = ui::Host();
  if (!host) return;
  const gfx::Size screen = host->ScreenSize();
  repaint_ = {0, 0, screen.cx, screen.cy};
  host->InvalidateArea(repaint_);
}

void EffectBrowser::Refresh() {
  UpdateActionStates();
  InvalidateScreen();
  UpdateScrollBar();
}

void EffectBrowser::OnMenuShown() {
  assign_locked_ = true;
  ui::Menu* menu = parent_ ? parent_->AsMenu() : nullptr;
  auto find = [&](const ov::String& name) -> ui::Element* {
    return menu && !name.IsEmpty() ? menu->FindDescendant(name, true) : nullptr;
  };
  ui::Element* bar = find(scroll_bar_name_);
  scroll_bar_ = bar && bar->GetType() == ui::kTypeScrollBar ? static_cast<ui::ScrollBar*>(bar) : nullptr;
  saturation_mark_ = find(saturation_name_);
  sepia_mark_ = find(sepia_name_);
  black_white_mark_ = find(black_white_name_);
  SelectCurrentOverlay();
}

int EffectBrowser::OnAction(int32_t code, const ov::String& argument, int32_t flag) {
  switch (code) {
    case ui::kActionMenuShown:
      OnMenuShown();
      Control::OnAction(code, argument, flag);
      UpdateActionStates();
      UpdateScrollBar();
      return 0;
    case ui::kActionLeavingMenu:
    case ui::kActionDeactivated:
      Control::OnAction(code, argument, flag);
      break;
    case ui::kActionInitialise: {
      row_height_ = thumb_height_ + 2 * border_;
      ui::UiHost* host = ui::Host();
      root_folder_ = host && !host->ApplicationFolder().IsEmpty() ? host->ApplicationFolder()
                                                                   : WithSlash(ov::ApplicationFolder());
      Rebuild();
      Control::OnAction(code, argument, flag);
      UpdateActionStates();
      UpdateScrollBar();
      break;
    }
    case ui::kActionMenuOk:
    case ui::kActionMenuCancel:
      break;
    case ui::kActionEffectPicturesOnly:
    case ui::kActionEffectVideosOnly:
      kind_filter_ = code == ui::kActionEffectPicturesOnly ? kEffectPicture : kEffectVideo;
      UpdateActionStates();
      UpdateScrollBar();
      return 1;
    case ui::kActionBrowserPrev:
      SelectPrevious();
      break;
    case ui::kActionBrowserNext:
      SelectNext();
      break;
    case ui::kActionScrollUp:
      ScrollUp();
      break;
    case ui::kActionScrollDown:
      ScrollDown();
      break;
    case ui::kActionEffectBrowserReset:
      assign_locked_ = false;
      break;
    case ui::kActionAssignPhotoEffectToAll:
    case ui::kActionAssignPhotoEffectToOne:
      SetNumericOption(kOptionAssignPhotoEffectToAll, code == ui::kActionAssignPhotoEffectToAll ? 1 : 0);
      break;
    case ui::kActionAssignOverlayToAll:
    case ui::kActionAssignOverlayToOne:
      SetNumericOption(kOptionAssignOverlayToAll, code == ui::kActionAssignOverlayToAll ? 1 : 0);
      break;
    case ui::kActionBlackWhite:
      SetPhotoEffect(1);
      break;
    case ui::kActionSepia:
      SetPhotoEffect(2);
      break;
    case ui::kActionSaturation:
      SetPhotoEffect(3);
      break;
    default:
      return Control::OnAction(code, argument, flag);
  }
  Refresh();
  return 1;
}

// ---- input ----

bool EffectBrowser::OnDirectionKey(int32_t code) {
  return BrowserDirectionKey(
      this, code, [this] { SelectPrevious(); }, [this] { SelectNext(); }, [this] { UpdateScrollBar(); });
}

bool EffectBrowser::OnStylusDoubleTap(int32_t x, int32_t y) {
  (void)x;
  (void)y;
  OnAction(ui::kActionBrowserPreview, ov::String(), 0);
  return true;
}

bool EffectBrowser::OnStylusDown(int32_t x, int32_t y) {
  (void)x;
  // No rows before INITIALISE gave the row height, nor with a height of 0.
  if (row_height_ <= 0 || y < y_) return true;
  const Position p = Rows().RowAt(view_.top, (y - y_) / row_height_);
  if (p == items_.end()) return true;
  view_.selected = p;
  ui::UiHost* host = ui::Host();
  if (ov::String* option = host ? host->StringOption(kOptionOverlayEffect) : nullptr) *option = RelativePath(*p);
  if (host) host->SetPressedElement(this);
  InvalidateScreen();
  return true;
}

// ---- painting ----

void EffectBrowser::OnTick(gfx::Rect* area, uint32_t now) {
  (void)now;
  *area = repaint_;
}

bool EffectBrowser::BuildThumbnail(EffectItem* item) {
  item->thumbnailTried = true;
  gfx::HBitmap picture;
  if (item->kind == kEffectPicture || item->kind == kEffectVideo) {
    if (thumb_width_ <= 0 || thumb_height_ <= 0) return true;
    picture = BlackPicture(thumb_width_, thumb_height_);
    if (!picture) return true;
    const ov::String source = item->folder + (item->kind == kEffectPicture ? item->name : item->thumbSource);
    auto decoded = gfx::CreateCompatibleDC(nullptr);
    uint16_t* bits = nullptr;
    uint32_t size = 0;
    media::MediaPackage* package = media::GetMediaPackage();
    std::unique_ptr<uint8_t[]> bytes = package ? package->ReadEntry(source, &size) : nullptr;
    const int ok = bytes ? picture::DecodeImageBufferFit(bytes.get(), size, thumb_width_, thumb_height_,
                                                         decoded.get(), kOverlayKey, &bits, 1)
                         : picture::DecodeImageFileFit(source, thumb_width_, thumb_height_, decoded.get(),
                                                       kOverlayKey, &bits, 1);
    // A picture that cannot be decoded leaves the thumbnail black.
    if (ok && decoded->surface()) {
      auto target = gfx::CreateCompatibleDC(nullptr);
      target->SelectBitmap(picture);
      const gfx::Bitmap* b = decoded->surface();
      gfx::TransparentImage(target.get(), 0, 0, b->width(), b->height(), decoded.get(), 0, 0, b->width(),
                            b->height(), kOverlayKey);
    }
  } else if (item->kind == kEffectNone) {
    picture = picture::LoadIconPicture(SkinFolder() + u"/" + unselected_icon_name_, true);
  } else {
    picture = BlackPicture(kPlaceholderWidth, kPlaceholderHeight);
  }
  if (!picture || picture->width() == 0 || picture->height() == 0) return true;
  int32_t w = 0, h = 0;
  picture::FitThumbnailRect(&w, &h, picture->width(), picture->height(), thumb_width_, thumb_height_, 0);
  picture::StretchBitmap(picture, nullptr, &item->thumbnail, w, h);
  return true;
}

void EffectBrowser::Draw(gfx::HDC dc, int state) {
  bool built = false;
  // One thumbnail a paint: the row that built it is drawn by the next paint.
  Rows().ForEachRowInView(&view_, y_size_, row_height_, [&](Position p, int32_t y) {
    if (!p->thumbnailTried) built = BuildThumbnail(&*p);
    if (built) return false;
    DrawRow(dc, state, *p, y, p == view_.selected);
    return true;
  });
  if (built) {
    InvalidateScreen();
  } else {
    repaint_ = gfx::Rect();
  }
  UpdateActionStates();
}

void EffectBrowser::DrawRow(gfx::HDC dc, int state, const EffectItem& item, int32_t y, bool selected) {
  const int32_t left = x_, top = y_ + y;
  const int32_t right = x_ + x_size_, bottom = y_ + y_size_;
  if (!idle_icon_.loaded && !idle_icon_name_.IsEmpty()) LoadSkinImage(dc, &idle_icon_, idle_icon_name_, false);
  if (!focus_icon_.loaded && !focus_icon_name_.IsEmpty()) LoadSkinImage(dc, &focus_icon_, focus_icon_name_, false);
  if (selected) {
    DrawRowFrame(dc, state == ui::kDrawFocused ? focus_icon_ : idle_icon_, left, top, x_size_,
                 std::min(thumb_height_ + 2 * border_, bottom - top), selected_transparent_colour_);
  }
  DrawRowThumbnail(dc, item.thumbnail, left + border_, top + border_, right, bottom);
  font_.Set(font_face_.IsEmpty() ? ov::String(u"Tahoma") : font_face_, text_height_ > 0 ? text_height_ : 12,
            antialias_);
  font_.line_size = font_.height + text_spacing_;
  const gfx::Rect box{left + thumb_width_ + 2 * border_, top, right, std::min(top + row_height_, bottom)};
  int32_t line_y = top + pre_text_spacing_;
  const ov::String full[3] = {filename_label_, item.name, type_label_};
  const ov::String* lines = reduce_info_ ? &full[1] : full;
  for (int i = 0, count = reduce_info_ ? 1 : 3; i < count; ++i) {
    gfx::Rect clip = box;
    ui::DrawTextEllipsis(&font_, dc, lines[i], &clip, box.left, &line_y, idle_colour_);
  }
}

}  // namespace screens
