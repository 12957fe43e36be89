#include "encoders/common/encoder_frame.h"

#include <cstring>

namespace venc {

void BindFrame(EncoderFrame& frame, uint8_t* block, int width, int height) {
  frame.width = static_cast<uint16_t>(width);
  frame.height = static_cast<uint16_t>(height);
  const size_t lumaBytes = static_cast<size_t>(width + 16) * static_cast<size_t>(height + 16);
  const size_t chromaBytes = static_cast<size_t>(width / 2 + 8) * static_cast<size_t>(height / 2 + 8);
  frame.y = block;
  frame.u = block + lumaBytes;
  frame.v = block + lumaBytes + chromaBytes;
  frame.time = 0;
}

void CopyInputToFrame(EncoderFrame& frame, const uint8_t* input, int w, int h, bool swapChroma) {
  uint8_t* dst = frame.lumaOrigin();
  for (int row = 0; row < h; ++row) std::memcpy(dst + row * frame.lumaStride(), input + row * w, w);
  const uint8_t* chroma = input + static_cast<size_t>(w) * h;
  const int cw = w / 2, ch = h / 2;
  uint8_t* first = swapChroma ? frame.vOrigin() : frame.uOrigin();
  uint8_t* second = swapChroma ? frame.uOrigin() : frame.vOrigin();
  for (int row = 0; row < ch; ++row) {
    std::memcpy(first + row * frame.chromaStride(), chroma + row * cw, cw);
    std::memcpy(second + row * frame.chromaStride(), chroma + static_cast<size_t>(cw) * ch + row * cw, cw);
  }
}

void PadPlane(uint8_t* base, int b, int width, int height) {
  const ptrdiff_t stride = width + 2 * b;
  uint8_t* pic = base + b * stride + b;
  for (int x = width - 1; x >= 0; --x) {
    const uint8_t top = pic[x];
    const uint8_t bottom = pic[(height - 1) * stride + x];
    for (int k = 1; k <= b; ++k) {
      pic[-k * stride + x] = top;
      pic[(height - 1 + k) * stride + x] = bottom;
    }
  }
  for (int y = 0; y < height; ++y) {
    uint8_t* row = pic + y * stride;
    std::memset(row - b, row[0], b);
    std::memset(row + width, row[width - 1], b);
  }
  const uint8_t topRight = pic[width - 1];
  const uint8_t bottomRight = pic[(height - 1) * stride + width - 1];
  const uint8_t bottomLeft = pic[(height - 1) * stride];
  const uint8_t topLeft = pic[0];
  for (int k = 1; k <= b; ++k) {
    std::memset(pic - k * stride + width, topRight, b);
    std::memset(pic + (height - 1 + k) * stride + width, bottomRight, b);
    std::memset(pic + (height - 1 + k) * stride - b, bottomLeft, b);
    std::memset(pic - k * stride - b, topLeft, b);
  }
}

void PadFrame(EncoderFrame& frame) {
  PadPlane(frame.y, kLumaBorder, frame.width, frame.height);
  PadPlane(frame.u, kChromaBorder, frame.width / 2, frame.height / 2);
  PadPlane(frame.v, kChromaBorder, frame.width / 2, frame.height / 2);
}

void ExtendPlane(uint8_t* base, int b, int extraCols, int extraRows, int w, int h) {
  const ptrdiff_t stride = w + extraCols + 2 * b;
  uint8_t* pic = base + b * stride + b;
  for (int x = 0; x < w; ++x) {
    const uint8_t s = pic[(h - 1) * stride + x];
    for (int y = h; y < h + extraRows; ++y) pic[y * stride + x] = s;
  }
  for (int y = 0; y < h; ++y) {
    if (extraCols > 0) std::memset(pic + y * stride + w, pic[y * stride + w - 1], extraCols);
  }
  const uint8_t corner = pic[(h - 1) * stride + w - 1];
  for (int y = h; y < h + extraRows; ++y) {
    if (extraCols > 0) std::memset(pic + y * stride + w, corner, extraCols);
  }
}

void ExtendToMbGrid(EncoderFrame& frame, int w, int h) {
  ExtendPlane(frame.y, kLumaBorder, frame.width - w, frame.height - h, w, h);
  ExtendPlane(frame.u, kChromaBorder, frame.width / 2 - w / 2, frame.height / 2 - h / 2, w / 2, h / 2);
  ExtendPlane(frame.v, kChromaBorder, frame.width / 2 - w / 2, frame.height / 2 - h / 2, w / 2, h / 2);
}

}  // namespace venc
