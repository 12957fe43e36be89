#include "shell/xml_manager.h"

#include <algorithm>

#include "platform/gfx/gfx_types.h"
#include "platform/os/file.h"
#include "shell/packages.h"
#include "shell/screen_manager.h"
#include "ui/menu.h"

namespace shell {
namespace {

int g_image_check = 0;

bool IsNamed(const ov::String& name, std::u16string_view a) { return name.EqualsNoCase(a); }

bool IsMenuNode(const ov::String& name) { return IsNamed(name, u"MENU") || IsNamed(name, u"MN"); }

}  // namespace

bool ImageCheckEnabled() { return g_image_check != 0; }
void SetImageCheckForTesting(bool on) { g_image_check = on ? 1 : 0; }

XmlManager::XmlManager(ScreenManager* manager, const ov::String& application_folder, const ov::String& package_name)
    : manager_(manager), application_folder_(application_folder) {
  PakArchive& pak = SkinPackage();
  bool open = false;
  if (!package_name.IsEmpty()) open = pak.Open(application_folder_ + package_name);
  if (!open && !package_name.IsEmpty() && manager_) {
    const gfx::Size s = manager_->ScreenSize();
    open = pak.Open(application_folder_ + ov::String::Format(u"Vex_%d_%d.pak", s.cx, s.cy));
  }
  if (!open) pak.Open(application_folder_ + u"vex.pak");
}

ov::String XmlManager::ResolveValue(const ov::String& value) const {
  if (value.Length() < 2 || value[0] != u'#') return value;
  if (value[1] == u'#') return value.Mid(1);
  int64_t n = 0;
  int i = 1;
  bool digits = false;
  while (i < value.Length() && value[i] >= u'0' && value[i] <= u'9' && n < 100000000) {
    n = n * 10 + (value[i] - u'0');
    ++i;
    digits = true;
  }
  if (digits && n < static_cast<int64_t>(language_.size()) && language_[static_cast<size_t>(n)]) {
    return *language_[static_cast<size_t>(n)];
  }
  return u"#!";
}

int XmlManager::LoadShell() {
  if (mode_ != kSkin || !manager_) return 0;
  const ov::String* option = manager_->options().GetStringOption(UserOptions::kSkinPathSlot);
  if (!option) return 0;
  const ov::String path = *option;
  const int slash = std::max(path.ReverseFind(u'/'), path.ReverseFind(u'\\'));
  if (slash >= 0) {
    manager_->set_skin_folder(path.Left(slash));
    *manager_->options().GetStringOption(0) = path;
  }
  SetPackageFolders(manager_->skin_folder(), application_folder_);
  path_ = path.Left(255);
  return ParseSkinXml(path_);
}

int XmlManager::ParseSkinXml(const ov::String& path) {
  if (mode_ == kSkin && manager_) {
    manager_->SetMenuContainer(std::make_unique<ui::Menu>());
    manager_->texts().version = u"0.0";
  }
  xml::Document doc;
  uint32_t size = 0;
  std::unique_ptr<uint8_t[]> entry = SkinPackage().ReadEntry(path, &size);
  bool ok;
  if (entry) {
    ok = doc.Parse(entry.get(), size);
  } else {
    ov::String native = path;
    native.Replace(u'\\', u'/');
    ok = !native.IsEmpty() && ov::FileExists(native) && doc.Load(native);
  }
  if (!ok) {
    ReportXmlError(&doc);
    return 0;
  }
  return Walk(doc);
}

int XmlManager::ParseSkinText(const uint8_t* text, size_t size) {
  if (mode_ == kSkin && manager_) {
    manager_->SetMenuContainer(std::make_unique<ui::Menu>());
    manager_->texts().version = u"0.0";
  }
  xml::Document doc;
  if (!doc.Parse(text, size)) {
    ReportXmlError(&doc);
    return 0;
  }
  return Walk(doc);
}

int XmlManager::Walk(const xml::Document& doc) {
  ui::SkinItem* container = (mode_ == kSkin && manager_) ? manager_->menu_container() : nullptr;
  WalkDocument(*doc.root(), container, 1);
  if (container) {
    // A skin without a top-level menu would start on a black window every
    // time: it fails like one that cannot be read, and the next load takes
    // the default skin.
    const auto& nodes = doc.root()->children();
    if (std::none_of(nodes.begin(), nodes.end(), [](const auto& n) { return IsMenuNode(n->name()); })) {
      ReportXmlError(nullptr);
      last_error_ = u"No menu in the skin";
      return 0;
    }
  }
  return 1;
}

void XmlManager::WalkDocument(const xml::Node& root, ui::SkinItem* element, int depth) {
  for (const xml::Attribute& a : root.attributes()) {
    if (IsNamed(a.value, u"#comment")) continue;
    const ov::String value = ResolveValue(a.value);
    if (g_image_check) CheckImageFile(value);
    ApplyShellAttributes(a.name, value);
  }
  if (element) BuildMenus(root, element, depth);
}

void XmlManager::BuildMenus(const xml::Node& node, ui::SkinItem* parent, int depth) {
  bool first_menu = true;
  for (const auto& child : node.children()) {
    const ov::String& name = child->name();
    if (IsNamed(name, u"#comment") || IsNamed(name, u"#text") || name.StartsWith(u"#")) continue;
    if (IsMenuNode(name)) {
      if (depth == 1) {
        if (first_menu) {
          first_menu = false;
          BuildMenu(*child, parent, 2);
        } else if (ui::Menu* sub = parent->CreateSubMenu()) {
          BuildMenu(*child, sub, 2);
        }
        continue;
      }
      if (ui::SkinItem* made = parent->CreateChild(name)) BuildMenu(*child, made, depth + 1);
      continue;
    }
    if (!parent) continue;
    if (ui::SkinItem* made = parent->CreateChild(name)) BuildMenu(*child, made, depth + 1);
  }
}

void XmlManager::BuildMenu(const xml::Node& node, ui::SkinItem* element, int depth) {
  for (const xml::Attribute& a : node.attributes()) {
    if (IsNamed(a.value, u"#comment")) continue;
    const ov::String value = ResolveValue(a.value);
    if (g_image_check) CheckImageFile(value);
    if (element) element->LoadAttribute(a.name, value);
  }
  if (element) BuildMenus(node, element, depth);
}

void XmlManager::ApplyShellAttributes(const ov::String& name, const ov::String& value) {
  if (mode_ == kLanguage) {
    if (name.Length() > 3 && name.Left(3).EqualsNoCase(u"tag")) {
      const int32_t n = name.Mid(3).ToInt();
      if (n == -1 || n < 0) return;
      // A table beyond this would only hold empty entries; larger numbers
      // are refused rather than allocated.
      constexpr int32_t kMaxLanguageStrings = 100000;
      if (n >= kMaxLanguageStrings) return;
      if (static_cast<size_t>(n) >= language_.size()) language_.resize(static_cast<size_t>(n) + 500);
      language_[static_cast<size_t>(n)] = std::make_unique<ov::String>(value);
    } else if (name.Length() >= 10 && name.Left(10).EqualsNoCase(u"languageID")) {
      if (manager_) manager_->texts().language_id = static_cast<uint32_t>(value.ToInt());
    }
    return;
  }
  if (mode_ != kSkin || !manager_) {
    if (IsNamed(name, u"version") && !(value == ov::String(u"1.0") || value == ov::String(u"0.1"))) EndProcess(0);
    return;
  }
  ScreenManager::ShellTexts& t = manager_->texts();
  ui::TextStyle& style = manager_->text_style();
  auto colour = [&](uint32_t* out) {
    uint32_t c = 0;
    *out = manager_->LookupPaletteColour(value, &c) ? c : ui::ParseHex(value);
  };
  if (IsNamed(name, u"author")) {
    t.author = value;
  } else if (IsNamed(name, u"startup")) {
    t.startup = value;
  } else if (IsNamed(name, u"copyright")) {
    t.copyright = value;
  } else if (IsNamed(name, u"title") || IsNamed(name, u"ti")) {
    t.title = value;
  } else if (name.Length() >= 5 && name.Left(5).EqualsNoCase(u"color")) {
    manager_->SetPaletteColour(name, value);
  } else if (IsNamed(name, u"version")) {
    t.version = value;
    if (!(value == ov::String(u"1.0") || value == ov::String(u"0.1"))) EndProcess(0);
  } else if (IsNamed(name, u"startSplash")) {
    t.start_splash = value;
  } else if (IsNamed(name, u"shutdownSplash")) {
    t.shutdown_splash = value;
  } else if (IsNamed(name, u"verboseLevel")) {
    t.verbose_level = value.ToInt();
  } else if (IsNamed(name, u"imageCheck")) {
    g_image_check = value.ToInt();
  } else if (IsNamed(name, u"font") || IsNamed(name, u"ft")) {
    style.font = value;
  } else if (IsNamed(name, u"aa") || IsNamed(name, u"antialias")) {
    if (ui::IsTrueValue(value)) style.antialias = true;
  } else if (IsNamed(name, u"tfc") || IsNamed(name, u"textFcColor")) {
    colour(&style.focused_text);
  } else if (IsNamed(name, u"tic") || IsNamed(name, u"textIdColor")) {
    colour(&style.idle_text);
  } else if (IsNamed(name, u"tdc") || IsNamed(name, u"textDisabledColor")) {
    colour(&style.disabled_text);
  } else if (IsNamed(name, u"tbfc") || IsNamed(name, u"textBgFcColor")) {
    colour(&style.focused_background);
  } else if (IsNamed(name, u"DisplayDateFormat")) {
    t.date_format = value;
  }
}

int XmlManager::CheckImageFile(const ov::String& value) {
  if (value.Length() <= 4) return 0;
  if (!(value.EndsWithNoCase(u".jpg") || value.EndsWithNoCase(u".gif") || value.EndsWithNoCase(u".bmp"))) return 0;
  const ov::String folder = manager_ ? manager_->skin_folder() : ov::String();
  ov::String path = folder + u"/" + value;
  path.Replace(u'\\', u'/');
  if (ov::FileExists(path)) return 1;
  if (manager_) {
    *manager_->options().GetStringOption(UserOptions::kSkinPathSlot) = u"\\shell.xml";
    manager_->options().SaveOptionsLater(true);
  }
  EndProcess(0);
}

void XmlManager::ReportXmlError(const xml::Document* doc) {
  if (doc && doc->error().code != 0) {
    last_error_ = ov::String::Format(u"XML Error %x at line %d\r\nReason : %s\r\n", doc->error().code,
                                     doc->error().line, doc->error().reason);
  } else {
    last_error_ = u"Error in XML";
  }
  if (!manager_) return;
  manager_->set_skin_folder(application_folder_.Left(application_folder_.Length() - 1));
  *manager_->options().GetStringOption(UserOptions::kSkinPathSlot) = application_folder_ + u"#default.xml";
  manager_->options().SaveOptionsLater(true);
  SetPackageFolders(manager_->skin_folder(), application_folder_);
}

}  // namespace shell
