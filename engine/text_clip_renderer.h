#pragma once
// TextClipRenderer: draws a text clip (a caption or credits) from its
// descriptor string. The engine reads text clips through this interface
// only: the clip record and its drawing belong to the editing screens, which
// register their renderer at start-up. Without a registered renderer text
// clips do not open.
//
// Thread: a renderer is used by one thread at a time (its source's owner);
// registration happens once at start-up, before any clip opens.

#include <cstdint>
#include <memory>

#include "platform/gfx/dc.h"
#include "platform/os/ov_string.h"

namespace engine {

class TextClipRenderer {
 public:
  virtual ~TextClipRenderer() = default;
  // Reads `descriptor` and lays the clip out for a width x height picture.
  // False when the descriptor is damaged or the size is empty.
  virtual bool Prepare(const ov::String& descriptor, int32_t width, int32_t height) = 0;
  // True when the prepared clip fills its box with a background colour.
  virtual bool HasBackground() const = 0;
  // The colour no glyph takes (0x00BBGGRR): a picture of the clip drawn on
  // it is keyed on it.
  virtual uint32_t KeyColour() const = 0;
  // Draws the clip as at `timeMs` onto `dc` at (0, 0, width, height); pixels
  // outside the text keep the surface's own unless the clip has a background.
  virtual bool Draw(uint32_t timeMs, gfx::HDC dc) = 0;
};

using TextClipRendererFactory = std::unique_ptr<TextClipRenderer> (*)();

// Sets the maker of renderers (null: none, text clips fail to open).
void RegisterTextClipRenderer(TextClipRendererFactory factory);
// A new renderer from the registered maker; null when none is registered.
std::unique_ptr<TextClipRenderer> CreateTextClipRenderer();

}  // namespace engine
