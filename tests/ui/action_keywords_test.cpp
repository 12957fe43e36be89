#include "ui/action_keywords.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace ui {
namespace {

struct KeywordCase {
  const char16_t* text;
  ActionCode code;
};

// Prefix matching in table order, case-insensitive, the shadowed entries.
TEST(ActionKeywords, LookupFollowsTableOrderAndPrefixes) {
  const KeywordCase cases[] = {
      {u"JUMP_TO", 1},          {u"jump_to", 1},         {u"Jump_To", 1},        {u"JUMP", 1},
      {u"JUMP_TOO", 4},         {u"", 1},                {u"HW_HELPON", 35},     {u"HW_HELPRESET", 34},
      {u"HW_DISMISSHELP", 32},  {u"MX_SAVE", 330},       {u"MX_SAVEMENU", 226},  {u"PB_PREV", 53},
      {u"PB_PREVIEW", 62},      {u"MX_TEMPO_3", 184},    {u"CH_CLEAR", 81},      {u"PREVIOUS_MENU", 0},
      {u"ED_AUD_CHORUS", 252},  {u"NOT_A_KEYWORD", 4},   {u"SHOW_POPUP", 37},    {u"SETATTRIBUTE", 38},
  };
  for (const KeywordCase& c : cases) {
    EXPECT_EQ(ActionCodeFromKeyword(c.text), c.code) << std::string(c.text, c.text + std::u16string_view(c.text).size());
  }
}

TEST(ActionKeywords, ParseActionSplitsAtFirstBlank) {
  ov::String arg;
  EXPECT_EQ(ParseAction(u"CH_CLEAR  some thing", &arg), 81);
  EXPECT_EQ(arg, ov::String(u"some thing"));
  EXPECT_EQ(ParseAction(u"JUMP_TO main_menu", &arg), 1);
  EXPECT_EQ(arg, ov::String(u"main_menu"));
  // Empty text and text beginning with a blank give the first entry.
  EXPECT_EQ(ParseAction(u"", &arg), 1);
  EXPECT_EQ(ParseAction(u" PREVIOUS_MENU", &arg), 1);
  EXPECT_EQ(arg, ov::String(u"PREVIOUS_MENU"));
}

TEST(ActionKeywords, TableShape) {
  ASSERT_EQ(ActionKeywordCount(), 253);
  std::set<std::string> distinct;
  for (int i = 0; i < ActionKeywordCount(); ++i) distinct.insert(std::string(ActionKeywordAt(i, nullptr)));
  EXPECT_EQ(distinct.size(), 247u);
  // Code 33 is not reachable by any keyword.
  for (int i = 0; i < ActionKeywordCount(); ++i) {
    ActionCode code = 0;
    const std::string_view k = ActionKeywordAt(i, &code);
    const std::u16string wide(k.begin(), k.end());
    EXPECT_NE(ActionCodeFromKeyword(wide), 33) << k;
  }
}

}  // namespace
}  // namespace ui
