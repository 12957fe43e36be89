#include "ui/help_tips.h"

#include "platform/os/thread.h"

namespace ui {

void HelpTips::Reset() {
  if (!attached_) return;
  for (int i = 0; i < 4; ++i) {
    if (options_.shown[i]) *options_.shown[i] = 0;
    pending_[i] = 0;
  }
  pending_count_ = 0;
  if (options_.save_later) options_.save_later(options_.context);
}

void HelpTips::RequestTip(int n) {
  if (!attached_ || *options_.help_on == 0 || n < 0 || n > 127) return;
  const uint32_t now = ov::GetTickCount();
  if (last_request_ + interval_ > now) return;
  uint32_t* shown = options_.shown[n / 32];
  const uint32_t bit = 1u << (n % 32);
  if (!shown || (*shown & bit)) return;
  pending_[n / 32] |= bit;
  *shown |= bit;
  ++pending_count_;
  last_request_ = now;
}

ov::String HelpTips::NextTip() {
  if (!attached_ || *options_.help_on == 0 || pending_count_ == 0) return ov::String();
  for (int m = 0; m < 4; ++m) {
    if (pending_[m] == 0) continue;
    for (int b = 0; b < 32; ++b) {
      if (pending_[m] & (1u << b)) {
        pending_[m] &= ~(1u << b);
        --pending_count_;
        return ov::String::Format(u"help%d", b + 32 * m);
      }
    }
  }
  return ov::String();
}

}  // namespace ui
