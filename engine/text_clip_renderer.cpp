#include "engine/text_clip_renderer.h"

#include <atomic>

namespace engine {
namespace {

std::atomic<TextClipRendererFactory> g_factory{nullptr};

}  // namespace

void RegisterTextClipRenderer(TextClipRendererFactory factory) { g_factory.store(factory); }

std::unique_ptr<TextClipRenderer> CreateTextClipRenderer() {
  const TextClipRendererFactory factory = g_factory.load();
  return factory ? factory() : nullptr;
}

}  // namespace engine
