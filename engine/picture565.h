#pragma once
// Picture565: a view of RGB565 pixels (top-down rows, stride in pixels) and the
// few drawing steps the video mixer and the video effects need on them. The
// engine composes its frames with these on the present thread, without any
// device or window.

#include <cstdint>

namespace engine {

struct Picture565 {
  uint16_t* bits = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;  // pixels per row

  uint16_t* Row(int32_t y) const { return bits + int64_t(y) * stride; }
  bool Empty() const { return !bits || width <= 0 || height <= 0; }
};

// 0x00BBGGRR to an RGB565 word.
uint16_t ColourRefTo565(uint32_t colour);

// Fills the rectangle (clipped to the picture).
void FillRect565(const Picture565& dst, int32_t x, int32_t y, int32_t w, int32_t h, uint16_t colour);

// Copies `src` with its top-left at (x, y) of `dst`, clipped.
void Copy565(const Picture565& dst, int32_t x, int32_t y, const Picture565& src);

// Copies the part (sx, sy, w, h) of `src` to (x, y) of `dst`, clipped to both.
void CopyPart565(const Picture565& dst, int32_t x, int32_t y, const Picture565& src, int32_t sx, int32_t sy, int32_t w,
                 int32_t h);

// Stretches the part (sx, sy, sw, sh) of `src` onto (x, y, w, h) of `dst`,
// nearest pixel, clipped. A negative `sh` reads the rows upwards from row
// sy - 1 (a bottom-up picture drawn the right way up: sy = its height).
void Stretch565(const Picture565& dst, int32_t x, int32_t y, int32_t w, int32_t h, const Picture565& src, int32_t sx,
                int32_t sy, int32_t sw, int32_t sh);

// Copies `src` over `dst` at (x, y) except the pixels equal to `key`.
void CopyKeyed565(const Picture565& dst, int32_t x, int32_t y, const Picture565& src, uint16_t key);

// Rectangle words (crop, pan and zoom): bits 24-31 left, 16-23 right, 8-15 top,
// 0-7 bottom, each in 1/256 of the picture. 0x00FF00FF is the whole picture.
inline constexpr uint32_t kWholePicture = 0x00FF00FF;

// The transparent key colour, 0x00BBGGRR: magenta (RGB565 0xF81F). Overlay
// pictures, rendered texts without a background and the editors' skin
// images are keyed on it.
inline constexpr uint32_t kKeyColour = 0x00FF00FF;
inline uint32_t RectLeft(uint32_t r) { return (r >> 24) & 0xFF; }
inline uint32_t RectRight(uint32_t r) { return (r >> 16) & 0xFF; }
inline uint32_t RectTop(uint32_t r) { return (r >> 8) & 0xFF; }
inline uint32_t RectBottom(uint32_t r) { return r & 0xFF; }

// Where a picture lands in a frame: its fitted size and the centring offsets.
struct FittedRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

// The letterbox placement of a `cropW` x `cropH` picture in a frame: the
// FitRect size, centred across the dimension it does not fill.
FittedRect FitInFrame(int32_t cropW, int32_t cropH, int32_t frameW, int32_t frameH);

// Draws `src` through a window into the whole of `dst`: the window's edges are
// 16.16 fixed-point values of 0-255 (1/256 of the picture). The cropped part
// is fitted and centred with black bands; a crop of no width paints black.
// `bottomUp` draws a bottom-up picture flipped.
void DrawThroughWindow(const Picture565& dst, const Picture565& src, int64_t left, int64_t right, int64_t top,
                       int64_t bottom, bool bottomUp);

}  // namespace engine
