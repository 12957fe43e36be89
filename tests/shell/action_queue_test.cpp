// The action queue: records queued from any thread are dispatched on the UI
// thread in order, outside the queue's lock.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "shell/screen_manager.h"
#include "tests/support/test_paths.h"
#include "ui/placeholder_control.h"

namespace shell {
namespace {

// Takes `lock` in its handler, as the mix screens' handlers take the video
// mixer's mutex.
class LockingElement : public ui::PlaceholderControl {
 public:
  explicit LockingElement(std::mutex* lock) : ui::PlaceholderControl(ui::kTypeMenuItem), lock_(lock) {}
  int OnAction(int32_t code, const ov::String& argument, int32_t flag) override {
    if (code == 227) {
      in_handler.store(true);
      std::lock_guard<std::mutex> hold(*lock_);
      order.push_back(code);
      return 1;
    }
    if (code == 228) {
      order.push_back(code);
      return 1;
    }
    return ui::PlaceholderControl::OnAction(code, argument, flag);
  }
  std::atomic<bool> in_handler{false};
  std::vector<int32_t> order;

 private:
  std::mutex* lock_;
};

TEST(ActionQueue, WorkerQueuingUnderItsLockDoesNotDeadlockTheDispatch) {
  ScreenManager manager(240, 320, ov::String::FromUtf8Lossy(ovtest::ScratchDir() + "/user.opt"), nullptr);
  manager.SetMenuContainer(std::make_unique<ui::Menu>());
  std::mutex mixer_lock;
  auto* element = static_cast<LockingElement*>(
      manager.menu_container()->AddChild(std::make_unique<LockingElement>(&mixer_lock)));
  manager.QueueAction(element, 227, u"3", 0);
  std::atomic<bool> worker_locked{false};
  std::thread worker([&] {
    std::lock_guard<std::mutex> hold(mixer_lock);
    worker_locked.store(true);
    while (!element->in_handler.load()) std::this_thread::yield();
    // The UI thread now waits for mixer_lock inside the dispatch; queuing
    // must still go through.
    manager.QueueAction(element, 228, ov::String(), 0);
  });
  while (!worker_locked.load()) std::this_thread::yield();
  EXPECT_EQ(manager.ProcessQueuedActions(), 1);
  worker.join();
  // What was queued during the pass was drained in the same pass, in order.
  EXPECT_EQ(element->order, (std::vector<int32_t>{227, 228}));
  EXPECT_EQ(manager.ProcessQueuedActions(), 0);
}

}  // namespace
}  // namespace shell
