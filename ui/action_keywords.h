#pragma once
// The action keyword table: turns the keyword of a skin action binding
// ("JUMP_TO main_menu") into the ActionCode that every action handler switches
// on. Searched front to back with a counted, case-insensitive comparison, so
// an abbreviation finds the first entry it is a prefix of.
//
// Thread: any thread (the table is constant).

#include <cstdint>
#include <string_view>

#include "platform/os/ov_string.h"
#include "ui/action_codes.h"

namespace ui {

// Code of the first table entry whose first n characters equal keyword's
// (case-insensitive, n = keyword.size()); kActionUnknown after the last
// entry. The empty keyword matches the first entry, "JUMP_TO".
ActionCode ActionCodeFromKeyword(std::u16string_view keyword);

// Splits an action text at its first blank: the keyword before it goes
// through ActionCodeFromKeyword; *argument (when given) receives what follows
// the first run of blanks after the keyword (empty when none).
ActionCode ParseAction(std::u16string_view text, ov::String* argument = nullptr);

// Number of entries and entry i of the table, in search order (for the skin
// check and the table's own tests).
int ActionKeywordCount();
std::string_view ActionKeywordAt(int index, ActionCode* code);

}  // namespace ui
