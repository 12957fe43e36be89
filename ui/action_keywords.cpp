#include "ui/action_keywords.h"

#include "ui/action_keyword_tables.h"

namespace ui {
namespace {

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Counted comparison of n characters ignoring ASCII case; the entry's end
// compares as 0 against whatever the keyword holds there.
bool PrefixEquals(std::u16string_view keyword, const char* entry) {
  for (size_t i = 0; i < keyword.size(); ++i) {
    const char e = entry[i];
    if (e == 0) return false;
    if (AsciiUpper(keyword[i]) != AsciiUpper(static_cast<char16_t>(static_cast<unsigned char>(e)))) return false;
  }
  return true;
}

}  // namespace

ActionCode ActionCodeFromKeyword(std::u16string_view keyword) {
  for (int i = 0; i < kActionKeywordCount; ++i) {
    if (PrefixEquals(keyword, kActionKeywords[i].keyword)) return kActionKeywords[i].code;
  }
  return kActionUnknown;
}

ActionCode ParseAction(std::u16string_view text, ov::String* argument) {
  const size_t blank = text.find(u' ');
  std::u16string_view keyword = text;
  std::u16string_view rest;
  if (blank != std::u16string_view::npos) {
    keyword = text.substr(0, blank);
    rest = text.substr(blank);
    size_t skip = 0;
    while (skip < rest.size() && rest[skip] == u' ') ++skip;
    rest = rest.substr(skip);
  }
  if (argument) *argument = ov::String(rest);
  return ActionCodeFromKeyword(keyword);
}

int ActionKeywordCount() { return kActionKeywordCount; }

std::string_view ActionKeywordAt(int index, ActionCode* code) {
  if (index < 0 || index >= kActionKeywordCount) {
    if (code) *code = kActionUnknown;
    return {};
  }
  if (code) *code = kActionKeywords[index].code;
  return kActionKeywords[index].keyword;
}

}  // namespace ui
