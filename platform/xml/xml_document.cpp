#include "platform/xml/xml_document.h"

#include <pugixml.hpp>

#include <cstring>

#include "platform/os/file.h"

namespace xml {
namespace {

ov::String FromUtf8(const char* text) { return ov::String::FromUtf8Lossy(text ? text : ""); }

}  // namespace

Document::Document() = default;
Document::~Document() = default;

bool Document::Parse(const uint8_t* text, size_t size) {
  root_.reset();
  error_ = ParseError();
  pugi::xml_document doc;
  const unsigned options = pugi::parse_default | pugi::parse_comments | pugi::parse_ws_pcdata;
  const pugi::xml_parse_result result = doc.load_buffer(text, size, options, pugi::encoding_auto);
  if (!result) {
    error_.code = static_cast<int>(result.status);
    error_.reason = ov::String::FromAscii(result.description());
    int line = 1;
    const ptrdiff_t limit = result.offset < static_cast<ptrdiff_t>(size) ? result.offset : static_cast<ptrdiff_t>(size);
    for (ptrdiff_t i = 0; i < limit; ++i) {
      if (text[i] == '\n') ++line;
    }
    error_.line = line;
    return false;
  }
  const pugi::xml_node element = doc.document_element();
  if (!element) {
    error_.code = static_cast<int>(pugi::status_no_document_element);
    error_.reason = u"no document element";
    error_.line = 1;
    return false;
  }
  // Converted iteratively with an explicit stack: the nesting depth is
  // bounded, but a flat document may still hold very many nodes.
  struct Work {
    pugi::xml_node from;
    Node* to;
    int depth;
  };
  auto root = std::make_unique<Node>();
  std::vector<Work> stack;
  stack.push_back({element, root.get(), 1});
  while (!stack.empty()) {
    const Work w = stack.back();
    stack.pop_back();
    if (w.depth > kMaxDepth) {
      error_.code = -1;
      error_.reason = u"elements nested too deeply";
      error_.line = 0;
      return false;
    }
    switch (w.from.type()) {
      case pugi::node_element:
        w.to->name_ = FromUtf8(w.from.name());
        for (pugi::xml_attribute a = w.from.first_attribute(); a; a = a.next_attribute()) {
          w.to->attributes_.push_back({FromUtf8(a.name()), FromUtf8(a.value())});
        }
        break;
      case pugi::node_comment:
        w.to->name_ = u"#comment";
        break;
      case pugi::node_pcdata:
        w.to->name_ = u"#text";
        break;
      case pugi::node_cdata:
        w.to->name_ = u"#cdata-section";
        break;
      default:
        break;
    }
    // Children are pushed in reverse so that they are converted in order;
    // the node objects are made now so that their order is fixed.
    std::vector<pugi::xml_node> kids;
    for (pugi::xml_node c = w.from.first_child(); c; c = c.next_sibling()) {
      const pugi::xml_node_type t = c.type();
      if (t == pugi::node_element || t == pugi::node_comment || t == pugi::node_pcdata || t == pugi::node_cdata) {
        kids.push_back(c);
      }
    }
    for (const pugi::xml_node& c : kids) {
      (void)c;
      w.to->children_.push_back(std::make_unique<Node>());
    }
    for (size_t i = kids.size(); i-- > 0;) {
      stack.push_back({kids[i], w.to->children_[i].get(), w.depth + 1});
    }
  }
  root_ = std::move(root);
  return true;
}

bool Document::Load(const ov::String& path) {
  std::vector<uint8_t> bytes;
  constexpr uint64_t kMaxDocument = 16u << 20;
  if (!ov::ReadWholeFile(path, &bytes, kMaxDocument)) {
    root_.reset();
    error_ = ParseError();
    error_.code = -2;
    error_.reason = u"cannot read the file";
    return false;
  }
  return Parse(bytes.data(), bytes.size());
}

}  // namespace xml
