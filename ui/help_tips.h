#pragma once
// HelpTips: which of up to 128 numbered help hints the user has seen (kept in
// options 41-44) and which wait to be shown. The screen manager shows a
// waiting hint by opening the popup named "help%d".
//
// Thread: UI thread only.

#include <cstdint>

#include "platform/os/ov_string.h"

namespace ui {

// The four option words the tracker reads and writes: the shown masks
// (options 41 to 44) and help on (option 45).
struct HelpOptions {
  uint32_t* shown[4] = {nullptr, nullptr, nullptr, nullptr};
  uint32_t* help_on = nullptr;
  void (*save_later)(void* context) = nullptr;
  void* context = nullptr;
};

class HelpTips {
 public:
  void Attach(const HelpOptions& options) {
    options_ = options;
    attached_ = options.help_on != nullptr;
  }
  void Reset();
  void RequestTip(int n);
  void SetInterval(uint32_t ms) { interval_ = ms; }
  ov::String NextTip();
  int pending_count() const { return pending_count_; }

 private:
  HelpOptions options_;
  bool attached_ = false;
  uint32_t pending_[4] = {0, 0, 0, 0};
  int pending_count_ = 0;
  uint32_t interval_ = 0;
  uint32_t last_request_ = 0;
};

}  // namespace ui
