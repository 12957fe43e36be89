#include "engine/render_queue.h"

#include <atomic>
#include <cstdlib>

namespace engine {
namespace {

void EndProcess() { std::_Exit(0); }

std::atomic<RenderQueue::WriteFailure> g_writeFailure{&EndProcess};

}  // namespace

RenderQueue::RenderQueue(bool readAccess) {
  ov::MessageQueueOptions options;
  options.max_messages = 0;
  options.max_message_bytes = sizeof(RenderMessage);
  options.read_access = readAccess;
  options.allow_broken = true;
  queue_.Create(kRenderQueueName, options);
}

RenderQueue::~RenderQueue() { Close(); }

void RenderQueue::Close() { queue_.Close(); }

void RenderQueue::SetWriteFailure(WriteFailure handler) { g_writeFailure.store(handler ? handler : &EndProcess); }

void RenderQueue::Write(const RenderMessage& message) {
  if (!queue_.Write(&message, sizeof message, kWriteTimeoutMs)) g_writeFailure.load()();
}

void RenderQueue::SendProgress(int percent) {
  if (percent == lastPercent_) return;
  RenderMessage m;
  m.kind = kRenderProgress;
  m.value = static_cast<uint8_t>(percent);
  Write(m);
  lastPercent_ = percent;
}

void RenderQueue::SendResult(bool ok) {
  RenderMessage m;
  m.kind = kRenderResult;
  m.value = ok ? 1 : 0;
  Write(m);
}

RenderMessage RenderQueue::Receive(uint32_t timeoutMs) {
  RenderMessage m;
  uint32_t read = 0;
  if (!queue_.Read(&m, sizeof m, &read, timeoutMs) || read != sizeof m) m = RenderMessage();
  return m;
}

}  // namespace engine
