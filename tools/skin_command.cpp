// ovtool skin dump PACKAGE: loads the package's "#default.xml" the way the
// shell does and prints the element tree the loader builds.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/os/file.h"
#include "shell/packages.h"
#include "shell/screen_manager.h"
#include "shell/xml_manager.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"
#include "ui/drop_down_menu.h"
#include "ui/softkey_menu.h"

namespace {

void Print(const ui::Element* e, int depth) {
  const std::string pad(static_cast<size_t>(depth) * 2, ' ');
  std::string text = e->text().ToUtf8Lossy();
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  if (text.size() > 40) text = text.substr(0, 37) + "...";
  std::printf("%s%s \"%s\" type %d at (%d,%d) size %dx%d%s%s\n", pad.c_str(), ui::TypeName(e->GetType()),
              e->title().ToUtf8Lossy().c_str(), e->GetType(), e->x(), e->y(), e->GetXSize(), e->GetYSize(),
              text.empty() ? "" : " text \"", text.empty() ? "" : (text + "\"").c_str());
  if (e->GetType() == ui::kTypeSoftkeyMenu) {
    auto* s = static_cast<const ui::SoftkeyMenu*>(e);
    std::printf("%s  soft key %s \"%s\"\n", pad.c_str(), s->is_left() ? "left" : "right",
                s->menu_title().ToUtf8Lossy().c_str());
  }
  const int32_t t = e->GetType();
  if (t == ui::kTypeDropDownMenu || t == ui::kTypeItemGroup || t == ui::kTypePopupMessageBox) {
    for (const auto& i : static_cast<const ui::DropDownMenu*>(e)->items()) Print(i.get(), depth + 1);
  }
  if (t == ui::kTypeMenu || t == ui::kTypeDropDownMenu || t == ui::kTypeItemGroup || t == ui::kTypePopupMessageBox) {
    auto* m = static_cast<const ui::Menu*>(e);
    for (const auto& c : m->children()) Print(c.get(), depth + 1);
    for (const auto& s : m->sub_menus()) Print(s.get(), depth + 1);
  }
}

int RunSkin(int argc, char** argv) {
  if (argc < 3 || std::strcmp(argv[1], "dump") != 0) {
    std::fprintf(stderr, "usage: skin dump PACKAGE\n");
    return 2;
  }
  if (!ovtool::CheckInputFile("skin", argv[2])) return 1;
  const ov::String package = ov::String::FromUtf8Lossy(argv[2]);
  ov::String folder = ov::FolderOf(package);
  if (folder.IsEmpty()) folder = u".";
  folder += u"/";
  const ov::String name = ov::FileNameOf(package);
  shell::ScreenManager manager(240, 320, u"/nonexistent/user.opt", nullptr);
  *manager.options().GetStringOption(shell::UserOptions::kSkinPathSlot) = folder + u"#default.xml";
  shell::XmlManager loader(&manager, folder, name);
  if (!shell::SkinPackage().IsOpen()) {
    std::fprintf(stderr, "skin: cannot open %s\n", argv[2]);
    return 1;
  }
  if (!loader.LoadShell()) {
    // The loader's text spans lines ("XML Error ... at line N", "Reason :
    // ..."): one line here, after the package's name.
    ov::String why = loader.last_error();
    why.Replace(u"\r\n", u" ");
    why.Replace(u'\n', u' ');
    why.TrimRight();
    std::fprintf(stderr, "skin: %s: %s\n", argv[2], why.ToUtf8Lossy().c_str());
    return 1;
  }
  std::printf("version %s, title \"%s\"\n", manager.texts().version.ToUtf8Lossy().c_str(),
              manager.texts().title.ToUtf8Lossy().c_str());
  Print(manager.menu_container(), 0);
  return 0;
}

}  // namespace

OVTOOL_COMMAND(skin, "skin dump PACKAGE  print the element tree a skin package builds", RunSkin);
