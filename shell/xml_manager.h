#pragma once
// XmlManager: turns the skin into the live element tree. It opens the skin
// package for the screen size, reads the skin XML (from the package when it
// holds it, else from the file system), applies the root attributes to the
// shell's look and walks the nodes below the root, creating each element
// through the element factory and handing it its attributes in document
// order. The same walker reads language files into a numbered string table
// that attribute values refer to as "#" and a number.
//
// Thread: UI thread only.

#include <memory>
#include <vector>

#include "platform/os/ov_string.h"
#include "platform/xml/xml_document.h"

namespace ui {
class Menu;
class SkinItem;
}

namespace shell {

class ScreenManager;

class XmlManager {
 public:
  enum Mode { kSkin = 0, kLanguage = 1 };

  // Opens the skin package: application folder + package name, else
  // "Vex_%d_%d.pak" for the screen, else "vex.pak".
  XmlManager(ScreenManager* manager, const ov::String& application_folder, const ov::String& package_name);

  // Reads string option 21 as the skin path and loads it; 1 on success.
  int LoadShell();
  // Loads and walks one document; 1 on success.
  int ParseSkinXml(const ov::String& path);
  // Parses text already in memory (the same walk).
  int ParseSkinText(const uint8_t* text, size_t size);

  void set_mode(Mode mode) { mode_ = mode; }
  // An attribute value with "#n" and "##" references resolved.
  ov::String ResolveValue(const ov::String& value) const;
  const std::vector<std::unique_ptr<ov::String>>& language_table() const { return language_; }
  const ov::String& last_error() const { return last_error_; }

 private:
  int Walk(const xml::Document& doc);
  void WalkDocument(const xml::Node& root, ui::SkinItem* element, int depth);
  void BuildMenus(const xml::Node& node, ui::SkinItem* parent, int depth);
  void BuildMenu(const xml::Node& node, ui::SkinItem* element, int depth);
  void ApplyShellAttributes(const ov::String& name, const ov::String& value);
  int CheckImageFile(const ov::String& value);
  void ReportXmlError(const xml::Document* doc);

  ScreenManager* manager_;
  ov::String application_folder_;
  ov::String path_;
  std::vector<std::unique_ptr<ov::String>> language_;
  Mode mode_ = kSkin;
  ov::String last_error_;
};

// Process-wide: set by a skin's "imageCheck" and never cleared.
bool ImageCheckEnabled();
void SetImageCheckForTesting(bool on);

}  // namespace shell
