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

namespace ui {

using ActionCode = int32_t;

// Codes with a keyword that the shell itself treats, and the internal codes
// without one that pass between the shell and the elements.
enum : ActionCode {
  kActionPreviousMenu = 0,
  kActionJumpTo = 1,
  kActionEmpty = 2,          // preset of every binding slot; activation skips it
  kActionDisabled = 3,
  kActionUnknown = 4,        // keyword in no entry
  kActionQuit = 6,
  kActionIgnore = 7,
  kActionMenuShown = 8,
  kActionAfterRotation = 9,
  kActionBeforeRotation = 10,
  kActionLeavingMenu = 11,
  kActionPopupOpened = 12,
  kActionPopupClosed = 13,
  kActionActivate = 14,
  kActionSaveSettings = 20,
  kActionSaveAndExit = 21,
  kActionInitialise = 22,
  kActionRevert = 23,
  kActionFocusGained = 25,
  kActionFocusLost = 26,
  kActionStartAtLastFrame = 27,
  kActionTypeChars = 28,
  kActionTypeKeys = 29,
  kActionShowImage = 30,
  kActionDeactivated = 31,
  kActionHelpDismiss = 32,
  kActionHelpOn = 33,
  kActionHelpReset = 34,
  kActionHelpOnReset = 35,
  kActionOptionsChanged = 36,
  kActionShowPopup = 37,
  kActionSetAttribute = 38,
  kActionMenuOk = 41,
  kActionMenuCancel = 42,
  kActionFinishEditing = 43,
  kActionCancelEditing = 44,
  kActionPasswordOff = 45,
  kActionPasswordOn = 46,
  kActionSetText = 73,
  kActionOptionChanged = 79,       // an element stored an option; the argument is its key name
  kActionScrollUp = 74,
  kActionScrollDown = 75,
  kActionCalendarNext = 67,
  kActionCalendarPrevious = 68,
  kActionCalendarShowMonths = 69,
  kActionCalendarShowDays = 70,
  kActionCalendarSelect = 71,
  kActionCalendarCancel = 72,
  kActionSetChannel = 90,          // the argument names the channel element
  kActionEditorStop = 231,         // ED_STOP: an editor's preview stops
  kActionClipDeleted = 234,
  kActionAddText = 243,
  kActionPlaylistDelete = 279,
  kActionChannelCleared = 280,
  kActionCancelDecompress = 338,   // MX_CANCEL_DECOMPRESS
  kActionSelectionChanged = 342,
  kActionSelectOk = 345,
  kActionSelectCancel = 346,
  kActionAfterMixerCode = 93,
  kActionMixerStop = 99,           // MX_STOP: live mixing stops
  kActionPlayStop = 114,
  kActionOptionCut = 248,
  kActionItemGroupOpen = 309,
  kActionItemGroupClose = 310,
  kActionMixLoad = 329,
  kActionMixSave = 330,
  kActionDropDownOpened = 343,
  kActionDropDownClosed = 344,
};

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
