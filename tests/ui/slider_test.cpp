// The slider: dragging, stepping, its option, the mixer it reports to and
// its picture form.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/os/archive.h"
#include "tests/ui/fake_host.h"
#include "ui/menu.h"
#include "ui/slider_control.h"

namespace {

using ui::SliderControl;

// A host whose options are a map (numeric unless told otherwise).
class OptionHost : public ovtest::FakeHost {
 public:
  bool ReadOption(const ov::String& key, ov::String* text, bool* is_numeric) override {
    auto it = values.find(std::u16string(key.View()));
    if (it == values.end()) return false;
    *text = ov::String(std::u16string_view(it->second));
    *is_numeric = !texts.count(std::u16string(key.View()));
    return true;
  }
  std::map<std::u16string, bool> texts;
};

// The mixer of the screen as far as the slider sees it.
class MixerStandIn : public ui::Control {
 public:
  MixerStandIn() { type_ = ui::kTypeMixer; }
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override {
    if (code != ui::kActionInitialise) got.push_back({code, std::u16string(argument.View())});
    return Control::OnAction(code, argument, flag);
  }
  std::vector<std::pair<int32_t, std::u16string>> got;
};

class Slider : public ::testing::Test {
 protected:
  // A slider at (0, 0) of 110 x 10 (horizontal) or 10 x 110, knob 10: the
  // knob travels 99 pixels.
  SliderControl* Make(bool horizontal, bool reverse = false, int32_t knob = 10) {
    auto s = std::make_unique<SliderControl>();
    const std::vector<std::pair<const char16_t*, ov::String>> attrs = {
        {u"xP", u"0"},
        {u"yP", u"0"},
        {u"xS", horizontal ? u"110" : u"10"},
        {u"yS", horizontal ? u"10" : u"110"},
        {u"sliderWidth", ov::String::Format(u"%d", knob)},
        {u"horizontal", horizontal ? u"yes" : u"no"},
        {u"reverse", reverse ? u"true" : u"false"},
        {u"action", u"MX_VOL_2"},
        {u"attribute0", u"Level"},
    };
    for (const auto& [name, value] : attrs) s->LoadAttribute(name, value);
    auto* slider = static_cast<SliderControl*>(menu_.AddChild(std::move(s)));
    slider->OnAction(ui::kActionInitialise, ov::String(), 0);
    return slider;
  }
  void Drag(SliderControl* s, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    s->OnStylusDown(x0, y0);
    s->OnStylusMove(x1, y1);
    s->OnStylusUp(x1, y1);
  }
  void SetUp() override {
    mixer_ = static_cast<MixerStandIn*>(menu_.AddChild(std::make_unique<MixerStandIn>()));
  }

  OptionHost host_;
  ui::Menu menu_;
  MixerStandIn* mixer_ = nullptr;
};

TEST_F(Slider, DragsClampAndReportToTheMixer) {
  SliderControl* s = Make(true);
  ASSERT_EQ(s->mixer(), mixer_);
  Drag(s, 5, 5, 54, 5);  // 49 px of 99: 49
  EXPECT_EQ(s->value(), 49);
  ASSERT_FALSE(mixer_->got.empty());
  EXPECT_EQ(mixer_->got.back(), (std::pair<int32_t, std::u16string>{154, u"51"}));
  ASSERT_FALSE(host_.options.empty());
  EXPECT_EQ(host_.options.back(), (std::pair<std::u16string, std::u16string>{u"Level", u"49"}));
  Drag(s, 5, 5, 400, 5);
  EXPECT_EQ(s->value(), 100);
  Drag(s, 50, 5, -300, 5);
  EXPECT_EQ(s->value(), 0);
  // A move too small for one step changes nothing.
  const size_t reports = mixer_->got.size();
  Drag(s, 50, 5, 50, 5);
  EXPECT_EQ(mixer_->got.size(), reports);
  // Entering the screen reports the value.
  s->OnAction(ui::kActionMenuShown, ov::String(), 0);
  EXPECT_EQ(mixer_->got.back().second, u"100");
}

TEST_F(Slider, AReverseVerticalSliderRisesWhenDraggedUp) {
  SliderControl* s = Make(false, true);
  s->set_value(20);
  Drag(s, 5, 80, 5, 50);  // 30 px up
  EXPECT_EQ(s->value(), 50);
  EXPECT_EQ(s->SliderKnobPosition(100 - s->value()), 49);
}

TEST_F(Slider, ViewOnlyPressesButNeverMoves) {
  SliderControl* s = Make(true);
  s->LoadAttribute(u"viewOnly", u"y");
  s->set_value(30);
  EXPECT_TRUE(s->OnStylusDown(5, 5));
  EXPECT_FALSE(s->OnStylusMove(90, 5));
  EXPECT_FALSE(s->OnStylusUp(90, 5));
  EXPECT_EQ(s->value(), 30);
  EXPECT_TRUE(host_.options.empty());
}

TEST_F(Slider, StepsOnlyWhenAWholeStepFitsAndTheMixerSetsIt) {
  SliderControl* s = Make(true);
  struct Case {
    int32_t start, code, want;
  } cases[] = {{5, 76, 5}, {10, 76, 0}, {95, 77, 95}, {90, 77, 100}, {40, 77, 50}};
  for (const Case& c : cases) {
    s->set_value(c.start);
    s->OnAction(c.code, ov::String(), 0);
    EXPECT_EQ(s->value(), c.want) << c.start << " " << c.code;
  }
  s->OnAction(78, u"70", 0);
  EXPECT_EQ(s->value(), 30);
}

TEST_F(Slider, AKnobWithoutTravelTakesNoStep) {
  for (int32_t knob : {110, 109, 200}) {
    SliderControl* s = Make(true, false, knob);
    s->set_value(40);
    EXPECT_EQ(s->SliderKnobPosition(100), 0) << knob;
    Drag(s, 5, 5, 100, 5);
    EXPECT_EQ(s->value(), 40) << knob;
  }
}

TEST_F(Slider, TheOptionSetsTheValueAndThePicture) {
  SliderControl* s = Make(true);
  host_.values[u"Level"] = u"64";
  EXPECT_EQ(s->OnAction(ui::kActionOptionsChanged, ov::String(), 0), 1);
  EXPECT_EQ(s->value(), 64);
  // Picture form, nearest match: the nearer number, the earlier on a tie.
  for (auto [name, value] : {std::pair{u"value0", u"10"}, {u"value1", u"20"}, {u"value2", u"30"},
                             {u"valueIdleBitmap1", u"b1.bmp"}}) {
    s->LoadAttribute(name, value);
  }
  s->LoadAttribute(u"NearestMatch", u"true");
  struct Case {
    int32_t number, index;
  } cases[] = {{20, 1}, {27, 2}, {25, 1}, {-5, 0}};
  for (const Case& c : cases) {
    s->FindValueIndex(c.number);
    EXPECT_EQ(s->matched_index(), c.index) << c.number;
  }
  // Without a matching flag nothing matches a number off the table.
  SliderControl* exact = Make(true);
  exact->LoadAttribute(u"value0", u"10");
  exact->LoadAttribute(u"valueIdleBitmap", u"b0.bmp");
  EXPECT_EQ(exact->FindValueIndex(11), 0);
  EXPECT_EQ(exact->matched_index(), -1);
  // Nor after a number that did match: its picture is not kept.
  EXPECT_EQ(exact->FindValueIndex(10), 1);
  EXPECT_EQ(exact->matched_index(), 0);
  EXPECT_EQ(exact->FindValueIndex(11), 0);
  EXPECT_EQ(exact->matched_index(), -1);
}

TEST_F(Slider, StateKeepsTheValue) {
  SliderControl* s = Make(true);
  s->set_value(77);
  ov::Archive out;
  s->SaveState(&out);
  SliderControl* t = Make(true);
  ov::Archive in(out.Bytes());
  t->LoadState(&in);
  EXPECT_EQ(t->value(), 77);
}

}  // namespace
