// ovtool render watch [SECONDS] | cancel | pause | restart: the editing
// process's side of a render, for tests and by hand.
//   watch    opens the render queue and prints each message, "progress N"
//            or "result N", until a result arrives (exit 0) or SECONDS
//            (default 120) pass without any message (exit 1). There is one
//            render queue and a message read here is gone: watch only
//            renders started from the command line, never one the mixer
//            started (the mixer would miss the result, report a failure
//            and delete a good file);
//   cancel, pause, restart
//            set the named events "Cancel Encoding", "Pause Encoding",
//            "Restart Encoding" (a named event lives while some process
//            holds it: the render process, or the test, keeps it open).
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>

#include "engine/mix_engine.h"
#include "engine/render_queue.h"
#include "tools/tool_command.h"

namespace {

int Watch(int seconds) {
  engine::RenderQueue queue(true);
  if (!queue.IsOpen()) {
    std::fprintf(stderr, "render: cannot open the render queue\n");
    return 1;
  }
  const int quiet_limit = seconds * 1000 / int(engine::RenderQueue::kReadTimeoutMs);
  int quiet = 0;
  while (quiet < quiet_limit) {
    const engine::RenderMessage m = queue.Receive();
    if (m.kind == engine::kRenderNothing) {
      ++quiet;
      continue;
    }
    quiet = 0;
    if (m.kind == engine::kRenderResult) {
      std::printf("result %d\n", m.value);
      std::fflush(stdout);
      return 0;
    }
    std::printf("%s %d\n", m.kind == engine::kRenderProgress ? "progress" : "kind", m.value);
    std::fflush(stdout);
  }
  std::fprintf(stderr, "render: no message for %d s\n", seconds);
  return 1;
}

int RunRender(int argc, char** argv) {
  const char* verb = argc >= 2 ? argv[1] : "";
  engine::MixEngine engine(nullptr, nullptr);
  if (std::strcmp(verb, "watch") == 0) return Watch(argc >= 3 ? std::max(1, std::atoi(argv[2])) : 120);
  if (std::strcmp(verb, "cancel") == 0) {
    engine.CancelEncoding();
  } else if (std::strcmp(verb, "pause") == 0) {
    engine.PauseEncoding();
  } else if (std::strcmp(verb, "restart") == 0) {
    engine.RestartEncoding();
  } else {
    std::fprintf(stderr,
                 "usage: ovtool render watch [SECONDS] | cancel | pause | restart\n"
                 "  watch takes the messages off the one render queue: use it for renders started from the command\n"
                 "  line, never beside a render the mixer started (the mixer reads the same queue)\n");
    return 2;
  }
  return 0;
}

}  // namespace

OVTOOL_COMMAND(render,
               "render watch [SECONDS]|cancel|pause|restart  follow or steer a render started from the command line "
               "(watch takes the mixer's queue messages)",
               RunRender);
