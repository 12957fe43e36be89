#pragma once
// The XML DOM that the skin loader walks: a parsed document as a tree of
// nodes with their attributes and children in document order. Comment and
// text nodes are kept under the names "#comment" and "#text" (CDATA as
// "#cdata-section"), as the walker skips them by name.
//
// Thread: a document is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/os/ov_string.h"

namespace xml {

struct Attribute {
  ov::String name;
  ov::String value;
};

class Node {
 public:
  const ov::String& name() const { return name_; }
  const std::vector<Attribute>& attributes() const { return attributes_; }
  const std::vector<std::unique_ptr<Node>>& children() const { return children_; }

 private:
  friend class Document;
  ov::String name_;
  std::vector<Attribute> attributes_;
  std::vector<std::unique_ptr<Node>> children_;
};

struct ParseError {
  int code = 0;      // 0 when there was no error
  int line = 0;      // 1-based line of the error
  ov::String reason;
};

class Document {
 public:
  Document();
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Parses text (its encoding from its byte-order mark or declaration, else
  // UTF-8). True on success; false with error() set. White space between
  // elements is kept as text nodes.
  bool Parse(const uint8_t* text, size_t size);
  // Reads and parses a file.
  bool Load(const ov::String& path);

  // The document element; null before a successful parse.
  const Node* root() const { return root_.get(); }
  const ParseError& error() const { return error_; }

  // Deepest nesting accepted; deeper documents are refused so that walkers
  // that recurse stay within the stack.
  static constexpr int kMaxDepth = 256;

 private:
  std::unique_ptr<Node> root_;
  ParseError error_;
};

}  // namespace xml
