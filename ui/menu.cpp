#include "ui/menu.h"

#include "ui/drop_down_menu.h"
#include "ui/ui_host.h"

namespace ui {
namespace {

bool IsYesOne(const ov::String& v) { return v.EqualsNoCase(u"y") || v.EqualsNoCase(u"yes") || v == ov::String(u"1"); }

}  // namespace

Menu::Menu() { type_ = kTypeMenu; }
Menu::~Menu() {
  for (auto& s : sequences_) {
    Element* part = s->ControlPart();
    if (!part) continue;
    for (auto& c : children_) {
      if (c.get() == part) (void)c.release();
    }
  }
  children_.clear();
  sub_menus_.clear();
  sequences_.clear();
}

bool Menu::IsContainer(const Element* e) {
  const int32_t t = e->GetType();
  return t == kTypeDropDownMenu || t == kTypeItemGroup || t == kTypePopupMessageBox;
}

Menu* Menu::CreateSubMenu() {
  auto menu = std::make_unique<Menu>();
  menu->set_parent(this);
  sub_menus_.push_back(std::move(menu));
  return sub_menus_.back().get();
}

Element* Menu::AddChild(std::unique_ptr<Element> child) {
  child->set_parent(this);
  children_.push_back(std::move(child));
  return children_.back().get();
}

SkinItem* Menu::CreateChild(const ov::String& keyword) {
  if (std::unique_ptr<Element> e = CreateElement(keyword)) return AddChild(std::move(e));
  if (keyword.EqualsNoCase(u"MQ") || keyword.EqualsNoCase(u"MOVEMENTSEQUENCE")) {
    sequences_.push_back(std::make_unique<MovementSequence>());
    sequences_.back()->set_parent(this);
    return sequences_.back().get();
  }
  if (keyword.EqualsNoCase(u"FS") || keyword.EqualsNoCase(u"FILECLIPSEQUENCE")) {
    auto sequence = std::make_unique<FileClipSequence>();
    sequence->set_parent(this);
    Element* part = sequence->ControlPart();
    part->set_parent(this);
    children_.emplace_back(part);
    sequences_.push_back(std::move(sequence));
    return sequences_.back().get();
  }
  return nullptr;
}

void Menu::LoadAttribute(const ov::String& name, const ov::String& value) {
  if (NameIs(name, u"backgroundImage", u"bi")) {
    background_ = value;
  } else if (NameIs(name, u"inhibitBack", u"ib")) {
    if (IsYesOne(value)) inhibit_back_ = true;
  } else if (NameIs(name, u"showOk")) {
    show_ok_ = IsYesOne(value);
  } else if (NameIs(name, u"inhibitHome", u"ih")) {
    if (IsYesOne(value)) inhibit_home_ = true;
  } else if (NameIs(name, u"title", u"ti")) {
    title_ = value;
  } else if (NameIs(name, u"timeout")) {
    timeout_ = ParseDecimal(value);
  } else if (NameIs(name, u"manualNav", u"mv")) {
    if (value.EqualsNoCase(u"h")) manual_nav_ = 4;
    else if (value.EqualsNoCase(u"v")) manual_nav_ = 2;
    else if (value.EqualsNoCase(u"hv") || value.EqualsNoCase(u"vh")) manual_nav_ = 6;
  } else if (NameIs(name, u"winTitle", u"wt")) {
    window_title_ = value;
  } else {
    Control::LoadAttribute(name, value);
  }
}

void Menu::ResetChildren(int32_t group) {
  for (auto& c : children_) {
    if (c->group() == group) c->SetState(0);
  }
}

int Menu::IndexOf(const Element* child) const {
  for (size_t i = 0; i < children_.size(); ++i) {
    if (children_[i].get() == child) return static_cast<int>(i);
  }
  return -1;
}

int Menu::OnAction(int32_t code, const ov::String& argument, int32_t depth) {
  Control::OnAction(code, argument, 0);
  if (depth != 0) {
    // Index loops: a handler may append to nothing here, but may change the
    // current menu; the lists themselves only grow while the skin is read.
    for (size_t i = 0; i < children_.size(); ++i) children_[i]->OnAction(code, argument, depth - 1);
    for (size_t i = 0; i < sub_menus_.size(); ++i) sub_menus_[i]->OnAction(code, argument, depth - 1);
  }
  return 0;
}

int Menu::EnableIfAttribute(bool on, const ov::String& name, int32_t depth) {
  if (depth == 0) return 0;
  for (auto& c : children_) c->EnableIfAttribute(on, name, c->GetType() == kTypeMenu ? depth - 1 : depth);
  for (auto& m : sub_menus_) m->EnableIfAttribute(on, name, depth - 1);
  return 0;
}

int Menu::EnableAction(bool on, int32_t code, int32_t depth) {
  if (depth == 0) return 0;
  for (auto& c : children_) c->EnableAction(on, code, c->GetType() == kTypeMenu ? depth - 1 : depth);
  for (auto& m : sub_menus_) m->EnableAction(on, code, depth - 1);
  return 0;
}

int Menu::CheckAction(bool on, int32_t code, int32_t depth) {
  if (depth == 0) return 0;
  for (auto& c : children_) c->CheckAction(on, code, c->GetType() == kTypeMenu ? depth - 1 : depth);
  for (auto& m : sub_menus_) m->CheckAction(on, code, depth - 1);
  return 0;
}

int Menu::ShowIfTitle(bool on, const ov::String& name, int32_t depth) {
  if (depth == 0) return 0;
  int count = 0;
  for (auto& c : children_) count += c->ShowIfTitle(on, name, c->GetType() == kTypeMenu ? depth - 1 : depth);
  for (auto& m : sub_menus_) count += m->ShowIfTitle(on, name, depth - 1);
  return count;
}

Element* Menu::FindByType(int32_t type, bool recurse) {
  for (auto& c : children_) {
    if (IsContainer(c.get())) {
      if (Element* e = c->FindByType(type, recurse)) return e;
    }
    if (c->GetType() == type) return c.get();
    if (recurse && c->GetType() == kTypeMenu) {
      if (Element* e = c->FindByType(type, recurse)) return e;
    }
  }
  for (auto& m : sub_menus_) {
    if (m->GetType() == type) return m.get();
    if (recurse) {
      if (Element* e = m->FindByType(type, recurse)) return e;
    }
  }
  return nullptr;
}

Element* Menu::FindByAction(int32_t code) {
  for (auto& c : children_) {
    if (IsContainer(c.get())) {
      if (Element* e = c->FindByAction(code)) return e;
    }
    const int32_t t = c->GetType();
    if ((t == kTypeMenuItem || t == kTypeSliderControl) && static_cast<Control*>(c.get())->HasAction(code)) {
      return c.get();
    }
  }
  return nullptr;
}

Element* Menu::FindByAttribute(const ov::String& name) {
  for (auto& c : children_) {
    if (IsContainer(c.get())) {
      if (Element* e = c->FindByAttribute(name)) return e;
    }
    if (c->attribute() == name) return c.get();
  }
  return nullptr;
}

Element* Menu::FindDescendant(const ov::String& name, bool recurse) {
  if (title_ == name) return this;
  for (auto& c : children_) {
    if (IsContainer(c.get())) {
      if (Element* e = c->FindByTitle(name)) return e;
    }
    if (c->title() == name) return c.get();
    if (recurse && c->GetType() == kTypeMenu) {
      if (Element* e = static_cast<Menu*>(c.get())->FindDescendant(name, recurse)) return e;
    }
  }
  for (auto& m : sub_menus_) {
    if (m->title() == name) return m.get();
    if (recurse) {
      if (Element* e = m->FindDescendant(name, recurse)) return e;
    }
  }
  return nullptr;
}

Menu* Menu::FindMenu(const ov::String& name) {
  if (title_ == name) return this;
  for (auto& c : children_) {
    if (c->GetType() == kTypeMenu) {
      if (Menu* m = static_cast<Menu*>(c.get())->FindMenu(name)) return m;
    }
  }
  for (auto& m : sub_menus_) {
    if (Menu* found = m->FindMenu(name)) return found;
  }
  return nullptr;
}

// Each record is prefixed with its byte length, so a record whose element
// has gone is skipped whole and the rest of the state still reads right.
void Menu::SaveState(ov::Archive* archive) {
  SaveStrings(archive);
  auto record = [&](Element* e) {
    ov::Archive body;
    e->SaveState(&body);
    archive->WriteI32(e->GetType());
    archive->WriteString(e->title().View());
    archive->WriteU32(static_cast<uint32_t>(body.Bytes().size()));
    archive->WriteBytes(body.Bytes().data(), body.Bytes().size());
  };
  for (auto& c : children_) {
    if (!c->title().IsEmpty() && c->backup()) record(c.get());
  }
  for (auto& m : sub_menus_) {
    if (!m->title().IsEmpty()) record(m.get());
  }
  archive->WriteU32(0xFFFFFFFFu);
}

void Menu::LoadState(ov::Archive* archive) {
  LoadStrings(archive);
  for (;;) {
    int32_t type = 0;
    if (!archive->ReadI32(&type) || type == -1) return;
    ov::String title;
    uint32_t length = 0;
    if (!archive->ReadString(&title) || !archive->ReadU32(&length) || length > archive->Remaining()) return;
    std::vector<uint8_t> body(length);
    if (!archive->ReadBytes(body.data(), length)) return;
    if (Element* e = FindDescendant(title, false)) {
      ov::Archive reader(std::move(body));
      e->LoadState(&reader);
    }
  }
}

}  // namespace ui
