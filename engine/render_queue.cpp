#include "engine/render_queue.h"

#include <atomic>

#include "platform/os/os_error.h"

namespace engine {
namespace {

std::atomic<bool> g_resultLost{false};

}  // namespace

RenderQueue::RenderQueue(bool readAccess) {
  ov::MessageQueueOptions options;
  options.max_messages = 0;
  options.max_message_bytes = sizeof(RenderMessage);
  options.read_access = readAccess;
  options.allow_broken = true;
  if (!queue_.Create(kRenderQueueName, options)) error_ = ov::GetLastError();
}

RenderQueue::~RenderQueue() { Close(); }

void RenderQueue::Close() { queue_.Close(); }

bool RenderQueue::Write(const RenderMessage& message) {
  if (!IsOpen()) return false;
  if (queue_.Write(&message, sizeof message, kWriteTimeoutMs)) return true;
  error_ = ov::GetLastError();
  return false;
}

bool RenderQueue::SendProgress(int percent) {
  if (percent == lastPercent_) return true;
  RenderMessage m;
  m.kind = kRenderProgress;
  m.value = static_cast<uint8_t>(percent);
  if (!Write(m)) return false;
  lastPercent_ = percent;
  return true;
}

bool RenderQueue::SendResult(bool ok) {
  RenderMessage m;
  m.kind = kRenderResult;
  m.value = ok ? 1 : 0;
  if (Write(m)) return true;
  g_resultLost.store(true);
  return false;
}

bool RenderQueue::ResultLost() { return g_resultLost.load(); }

RenderMessage RenderQueue::Receive(uint32_t timeoutMs) {
  RenderMessage m;
  uint32_t read = 0;
  if (!queue_.Read(&m, sizeof m, &read, timeoutMs) || read != sizeof m) m = RenderMessage();
  return m;
}

}  // namespace engine
