#pragma once
// The encoders' frame record and its bordered planes. One block of
// (w + 16) x (h + 16) x 3 / 2 bytes holds a frame of coded size w x h: luma
// rows of w + 16 bytes with an 8-pixel border on every side, chroma rows of
// w / 2 + 8 bytes with a 4-pixel border.

#include <cstddef>
#include <cstdint>

namespace venc {

inline constexpr int kLumaBorder = 8;
inline constexpr int kChromaBorder = 4;

struct EncoderFrame {
  uint8_t* y;  // plane bases: the top-left border sample
  uint8_t* u;
  uint8_t* v;
  uint16_t width;   // coded size, multiples of 16
  uint16_t height;
  int32_t time;

  ptrdiff_t lumaStride() const { return width + 2 * kLumaBorder; }
  ptrdiff_t chromaStride() const { return width / 2 + 2 * kChromaBorder; }
  // Top-left picture sample of each plane.
  uint8_t* lumaOrigin() const { return y + kLumaBorder * lumaStride() + kLumaBorder; }
  uint8_t* uOrigin() const { return u + kChromaBorder * chromaStride() + kChromaBorder; }
  uint8_t* vOrigin() const { return v + kChromaBorder * chromaStride() + kChromaBorder; }
};

// Bytes of one frame block for a coded size.
inline size_t FrameBlockBytes(int width, int height) {
  return static_cast<size_t>(width + 16) * static_cast<size_t>(height + 16) * 3 / 2;
}

// Points the frame's planes into `block` (FrameBlockBytes long).
void BindFrame(EncoderFrame& frame, uint8_t* block, int width, int height);

// Copies a YUV 4:2:0 picture of real size w x h (luma rows, then two chroma
// planes of (h / 2) rows of (w / 2) bytes) into the frame; `swapChroma` puts
// the first chroma plane into V.
void CopyInputToFrame(EncoderFrame& frame, const uint8_t* input, int w, int h, bool swapChroma);

// Fills the whole border of one plane by replicating its edge samples: every
// border sample equals the picture sample at the clamped coordinate.
void PadPlane(uint8_t* base, int border, int width, int height);
// Pads the three planes of a frame at its coded size.
void PadFrame(EncoderFrame& frame);
// Extends one plane of real size w x h by `extraCols` columns and `extraRows`
// rows of replicated edge samples (stride w + extraCols + 2 x border).
void ExtendPlane(uint8_t* base, int border, int extraCols, int extraRows, int w, int h);
// Extends a frame whose real size w x h is below its coded size to the
// macroblock grid.
void ExtendToMbGrid(EncoderFrame& frame, int w, int h);

}  // namespace venc
