#pragma once
// The constant table behind ActionCodeFromKeyword (action_keywords.h).

#include <cstdint>

namespace ui {

struct ActionKeywordEntry {
  const char* keyword;  // upper-case ASCII
  int32_t code;
};

extern const ActionKeywordEntry kActionKeywords[];
extern const int kActionKeywordCount;

}  // namespace ui
