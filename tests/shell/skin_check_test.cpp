// Checks every shipped skin package: the XML parses, every element and
// action keyword is known, every JUMP_TO and SHOW_POPUP target exists where
// the shell looks for it, every menu an element names for its editors and
// sub-menus exists, every picture is in a package, and every font face is
// the bundled font or a font file beside the skin.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/os/file.h"
#include "platform/xml/xml_document.h"
#include "shell/pak_archive.h"
#include "ui/action_keywords.h"
#include "ui/menu.h"

namespace {

const std::string kBin = OVMIX_BIN_DIR;

struct Checker {
  shell::PakArchive skin;
  shell::PakArchive common;
  std::set<std::u16string> menus;
  std::vector<std::string> problems;

  void Problem(const std::string& what) { problems.push_back(what); }
  static std::string U8(const ov::String& s) { return s.ToUtf8Lossy(); }

  bool HasPicture(const ov::String& name) {
    uint32_t size = 0;
    return skin.ReadEntryByName(name, &size) || common.ReadEntryByName(name, &size);
  }

  static bool IsActionAttribute(const ov::String& name) {
    return name.Left(2).EqualsNoCase(u"ac") || name.EqualsNoCase(u"menuAction") ||
           name.Left(14).EqualsNoCase(u"menuItemAction");
  }

  static bool IsPictureAttribute(const ov::String& name) {
    static const char16_t* const kNames[] = {u"il", u"idleImage", u"fi", u"focusImage", u"di", u"disabledImage",
                                             u"il2", u"idleImage2", u"fi2", u"focusImage2", u"di2",
                                             u"disabledImage2", u"bi", u"backgroundImage", u"startSplash",
                                             u"shutdownSplash", u"al", u"ar", u"al2", u"ar2", u"bitmap",
                                             u"image", u"folderIcon", u"idleSelectedIcon", u"focusSelectedIcon",
                                             u"unselectedIcon"};
    for (const char16_t* n : kNames) {
      if (name.EqualsNoCase(n)) return true;
    }
    return false;
  }

  // Attributes whose value names a menu that an element jumps to.
  static bool IsMenuNameAttribute(const ov::String& name) {
    static const char16_t* const kNames[] = {u"audioEditMenu",    u"imageEditMenu",    u"videoEditMenu",
                                             u"imageEffectMenu",  u"imageOverlayMenu", u"panzoomMenu",
                                             u"imageTextMenu",    u"credits_overlay_menu"};
    for (const char16_t* n : kNames) {
      if (name.EqualsNoCase(n)) return true;
    }
    return false;
  }

  void CollectMenus(const xml::Node& node) {
    for (const auto& c : node.children()) {
      if (c->name().EqualsNoCase(u"MENU") || c->name().EqualsNoCase(u"MN")) {
        for (const auto& a : c->attributes()) {
          if (a.name.EqualsNoCase(u"ti") || a.name.EqualsNoCase(u"title")) menus.insert(std::u16string(a.value.View()));
        }
      }
      CollectMenus(*c);
    }
  }

  // Popup names directly in this menu (and inside its containers).
  static void CollectPopups(const xml::Node& menu, std::set<std::u16string>* popups) {
    for (const auto& c : menu.children()) {
      if (c->name().EqualsNoCase(u"PM") || c->name().EqualsNoCase(u"POPUPMESSAGEBOX")) {
        for (const auto& a : c->attributes()) {
          if (a.name.EqualsNoCase(u"ti") || a.name.EqualsNoCase(u"title")) popups->insert(std::u16string(a.value.View()));
        }
      }
    }
  }

  // The media browser's own pictures; a channel cell's audioIcon names an
  // element, so these count on the browser alone.
  static bool IsBrowserPictureAttribute(const xml::Node& node, const ov::String& name) {
    const bool browser = node.name().EqualsNoCase(u"MEDIABROWSER") || node.name().EqualsNoCase(u"PB");
    return browser && (name.EqualsNoCase(u"audioIcon") || name.EqualsNoCase(u"projectIcon") ||
                       name.EqualsNoCase(u"tempoImage"));
  }

  void CheckNode(const xml::Node& node, const std::set<std::u16string>& popups, bool root) {
    const std::string where = U8(node.name());
    if (!root && !node.name().StartsWith(u"#") && !node.name().EqualsNoCase(u"MENU") &&
        !node.name().EqualsNoCase(u"MN") && !ui::IsElementKeyword(node.name())) {
      Problem("unknown element keyword " + where);
    }
    for (const auto& a : node.attributes()) {
      if (IsActionAttribute(a.name)) {
        ov::String arg;
        const int32_t code = ui::ParseAction(a.value.View(), &arg);
        if (code == ui::kActionUnknown) Problem("unknown action " + U8(a.value));
        if (code == ui::kActionJumpTo && !menus.count(std::u16string(arg.View()))) {
          Problem("JUMP_TO to a missing menu " + U8(arg));
        }
        if (code == ui::kActionShowPopup && !popups.count(std::u16string(arg.View()))) {
          Problem("SHOW_POPUP of a popup not in its menu " + U8(arg));
        }
      } else if (IsMenuNameAttribute(a.name)) {
        if (!menus.count(std::u16string(a.value.View()))) {
          Problem(U8(a.name) + " names a missing menu " + U8(a.value));
        }
      } else if ((IsPictureAttribute(a.name) || IsBrowserPictureAttribute(node, a.name)) && !HasPicture(a.value)) {
        Problem("picture not in a package: " + U8(a.value));
      } else if (a.name.EqualsNoCase(u"font") || a.name.EqualsNoCase(u"ft")) {
        // The bundled font answers the platform's default face names.
        if (!a.value.EqualsNoCase(u"Tahoma") && !HasPicture(a.value + u".ttf")) {
          Problem("font face without a font file: " + U8(a.value));
        }
      }
    }
  }

  void Walk(const xml::Node& node, const std::set<std::u16string>& popups, bool root) {
    CheckNode(node, popups, root);
    for (const auto& c : node.children()) {
      if (c->name().StartsWith(u"#")) continue;
      if (c->name().EqualsNoCase(u"MENU") || c->name().EqualsNoCase(u"MN")) {
        std::set<std::u16string> inner;
        CollectPopups(*c, &inner);
        Walk(*c, inner, false);
      } else {
        Walk(*c, popups, false);
      }
    }
  }
};

class SkinCheck : public ::testing::TestWithParam<const char*> {};

TEST_P(SkinCheck, PackageIsConsistent) {
  Checker check;
  ASSERT_TRUE(check.skin.Open(ov::String::FromUtf8Lossy(kBin + GetParam())));
  ASSERT_TRUE(check.common.Open(ov::String::FromUtf8Lossy(kBin + "vex_common.pak")));
  uint32_t size = 0;
  std::unique_ptr<uint8_t[]> text = check.skin.ReadEntryByName(u"#default.xml", &size);
  ASSERT_TRUE(text) << "no #default.xml";
  xml::Document doc;
  ASSERT_TRUE(doc.Parse(text.get(), size)) << doc.error().reason.ToUtf8Lossy() << " at line " << doc.error().line;
  check.CollectMenus(*doc.root());
  EXPECT_TRUE(check.menus.count(u"main_menu"));
  EXPECT_TRUE(check.menus.count(u"splash_screen"));
  check.Walk(*doc.root(), {}, true);
  for (const std::string& p : check.problems) ADD_FAILURE() << GetParam() << ": " << p;
}

INSTANTIATE_TEST_SUITE_P(Shipped, SkinCheck, ::testing::Values("Vex_240_320.pak", "Vex_320_240.pak"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                           std::string n = p.param;
                           for (char& c : n) {
                             if (c == '.') c = '_';
                           }
                           return n;
                         });

}  // namespace
