#include "ui/help_tips.h"

#include <gtest/gtest.h>

#include "platform/os/thread.h"

namespace ui {
namespace {

struct Options {
  uint32_t shown[4] = {};
  uint32_t help_on = 1;
  int saves = 0;
  HelpOptions Attach() {
    HelpOptions h;
    for (int i = 0; i < 4; ++i) h.shown[i] = &shown[i];
    h.help_on = &help_on;
    h.context = this;
    h.save_later = [](void* self) { ++static_cast<Options*>(self)->saves; };
    return h;
  }
};

TEST(HelpTips, PendingOrderShownMarksAndReset) {
  Options o;
  HelpTips tips;
  EXPECT_TRUE(tips.NextTip().IsEmpty());  // not attached
  tips.Attach(o.Attach());
  tips.RequestTip(40);
  tips.RequestTip(3);
  EXPECT_EQ(o.shown[1], 1u << 8);
  EXPECT_EQ(tips.NextTip(), ov::String(u"help3"));
  EXPECT_EQ(tips.NextTip(), ov::String(u"help40"));
  EXPECT_TRUE(tips.NextTip().IsEmpty());
  tips.RequestTip(3);  // already shown
  EXPECT_TRUE(tips.NextTip().IsEmpty());
  tips.Reset();
  EXPECT_EQ(o.saves, 1);
  EXPECT_EQ(o.shown[0], 0u);
  tips.RequestTip(3);
  EXPECT_EQ(tips.NextTip(), ov::String(u"help3"));
  o.help_on = 0;
  tips.RequestTip(5);
  EXPECT_EQ(o.shown[0] & (1u << 5), 0u);
}

TEST(HelpTips, RequestsWithinTheIntervalAreDropped) {
  Options o;
  HelpTips tips;
  tips.Attach(o.Attach());
  ov::SetTickCountForTesting(50000);
  tips.SetInterval(10000);
  tips.RequestTip(1);
  tips.RequestTip(2);  // dropped, stays not shown
  EXPECT_EQ(o.shown[0], 1u << 1);
  ov::SetTickCountForTesting(70000);
  tips.RequestTip(2);
  EXPECT_EQ(o.shown[0], (1u << 1) | (1u << 2));
}

}  // namespace
}  // namespace ui
