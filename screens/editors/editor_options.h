#pragma once
// The user options an editor screen reads and writes through the host's
// slots (UserOptions numbering), each a no-op or 0 without a host or for a
// slot the host does not have. Writing a slot sends no change notice: call
// RefreshBoundTexts once the options are set, so that the elements bound to
// them show the new values.
//
// Thread: UI thread.

#include <cstdint>

#include "platform/os/ov_string.h"
#include "ui/action_keywords.h"
#include "ui/ui_host.h"

namespace screens {

inline uint32_t GetNumeric(ui::UiHost* host, int n) {
  const uint32_t* slot = host ? host->NumericOption(n) : nullptr;
  return slot ? *slot : 0;
}

inline void SetNumeric(ui::UiHost* host, int n, uint32_t value) {
  if (uint32_t* slot = host ? host->NumericOption(n) : nullptr) *slot = value;
}

inline ov::String GetString(ui::UiHost* host, int n) {
  const ov::String* slot = host ? host->StringOption(n) : nullptr;
  return slot ? *slot : ov::String();
}

inline void SetString(ui::UiHost* host, int n, const ov::String& value) {
  if (ov::String* slot = host ? host->StringOption(n) : nullptr) *slot = value;
}

// Code 36: the elements bound to options show them again.
inline void RefreshBoundTexts(ui::UiHost* host) {
  if (host) host->DoAction(ui::kActionOptionsChanged, ov::String(), 1);
}

}  // namespace screens
