#include "screens/editors/preview_engine.h"

#include <gtest/gtest.h>

#include "engine/mix_engine.h"
#include "tests/ui/fake_host.h"

namespace {

TEST(PreviewEngine, IsTheBoxSizeAndSendsItsActionsToTheHost) {
  ovtest::FakeHost host;
  std::shared_ptr<engine::MixEngine> mix = screens::MakePreviewEngine(&host, 176, 144, 15);
  ASSERT_TRUE(mix);
  ASSERT_TRUE(mix->videoMixer());
  EXPECT_EQ(mix->videoMixer()->width(), 176);
  EXPECT_EQ(mix->videoMixer()->height(), 144);
  EXPECT_EQ(mix->videoMixer()->fps(), 15u);
  mix->QueueAppAction(227, u"clip");
  ASSERT_EQ(host.queued.size(), 1u);
  EXPECT_EQ(host.queued[0].code, 227);
  EXPECT_EQ(host.queued[0].parameter, u"clip");

  EXPECT_FALSE(screens::MakePreviewEngine(&host, 0, 144, 15));
  EXPECT_FALSE(screens::MakePreviewEngine(&host, 176, -1, 15));
}

TEST(PreviewEngine, AReplacedMakerBuildsItAndTheQueueIsStillSet) {
  ovtest::FakeHost host;
  int made = 0;
  screens::SetPreviewEngineMaker([&made](int32_t width, int32_t height, uint32_t fps) {
    ++made;
    return std::make_shared<engine::MixEngine>(nullptr, std::make_unique<engine::VideoMixer>(width, height, fps, 0));
  });
  std::shared_ptr<engine::MixEngine> mix = screens::MakePreviewEngine(&host, 88, 72, 10);
  screens::SetPreviewEngineMaker(nullptr);
  ASSERT_TRUE(mix);
  EXPECT_EQ(made, 1);
  EXPECT_FALSE(mix->audioMixer());
  mix->QueueAppAction(5, u"");
  ASSERT_EQ(host.queued.size(), 1u);
  EXPECT_EQ(host.queued[0].code, 5);
}

}  // namespace
