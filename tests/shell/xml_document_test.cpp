#include "platform/xml/xml_document.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace xml {
namespace {

bool ParseText(Document* doc, const char* text) {
  return doc->Parse(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

TEST(XmlDocument, NodesAndAttributesInDocumentOrder) {
  Document doc;
  ASSERT_TRUE(ParseText(&doc, "<?xml version=\"1.0\"?>\n<SKIN version=\"1.0\" b='2' a='1'>\n"
                              "  <!-- note -->\n  <MENU ti=\"main\"><MI tx=\"caf\xC3\xA9\"/></MENU>\n</SKIN>"));
  const Node* root = doc.root();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->name(), ov::String(u"SKIN"));
  ASSERT_EQ(root->attributes().size(), 3u);
  EXPECT_EQ(root->attributes()[1].name, ov::String(u"b"));
  EXPECT_EQ(root->attributes()[2].value, ov::String(u"1"));
  std::vector<std::u16string> names;
  for (const auto& c : root->children()) names.emplace_back(c->name().View());
  const std::vector<std::u16string> expected = {u"#text", u"#comment", u"#text", u"MENU", u"#text"};
  EXPECT_EQ(names, expected);
  const Node* item = root->children()[3]->children()[0].get();
  EXPECT_EQ(item->attributes()[0].value, ov::String(u"caf\u00e9"));
}

TEST(XmlDocument, ErrorsCarryLineAndReason) {
  Document doc;
  EXPECT_FALSE(ParseText(&doc, "<A>\n<B>\n</A>"));
  EXPECT_NE(doc.error().code, 0);
  EXPECT_EQ(doc.error().line, 3);
  EXPECT_FALSE(doc.error().reason.IsEmpty());
  EXPECT_EQ(doc.root(), nullptr);
  EXPECT_FALSE(ParseText(&doc, ""));
  std::string deep;
  for (int i = 0; i < Document::kMaxDepth + 5; ++i) deep += "<a>";
  for (int i = 0; i < Document::kMaxDepth + 5; ++i) deep += "</a>";
  EXPECT_FALSE(ParseText(&doc, deep.c_str()));
}

}  // namespace
}  // namespace xml
