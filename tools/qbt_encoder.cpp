#include "tools/qbt_encoder.h"

#include "media/qbt_decoder.h"

namespace ovtool {

namespace {

constexpr uint32_t kPlanes = 16;
constexpr uint32_t kLeafSize = 4;

void PutLe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

class FrameEncoder {
 public:
  FrameEncoder(const uint16_t* pixels, uint32_t width, uint32_t height) : width_(width), height_(height) {
    values_.resize(size_t(width) * height);
    // Values are stored high byte first, so the value of a pixel is its
    // RGB565 word byte-swapped.
    for (size_t i = 0; i < values_.size(); ++i) values_[i] = uint16_t(pixels[i] >> 8 | pixels[i] << 8);
    while (tree_ < width || tree_ < height) tree_ *= 2;
  }

  std::vector<uint8_t> Run() {
    for (int i = 0; i < 8; ++i) PutNibble(0);  // final list count 0
    Node(0, 0, tree_ / 2, 0, 0, 0xFFFF);
    std::vector<uint8_t> out;
    PutLe32(&out, 0);
    PutLe32(&out, uint32_t(leaves_.size()));
    // The decoder takes leaf words from the last towards the first.
    for (size_t i = leaves_.size(); i-- > 0;) {
      out.push_back(uint8_t(leaves_[i]));
      out.push_back(uint8_t(leaves_[i] >> 8));
    }
    out.push_back(1);  // the stream begins with a high nibble
    out.insert(out.end(), stream_.begin(), stream_.end());
    return out;
  }

 private:
  struct Planes {
    uint32_t all = 0xFFFF;  // AND of the values: planes all ones
    uint32_t any = 0;       // OR of the values: planes not all zeros
    bool inside = false;
    uint32_t Mixed() const { return any & ~all; }
  };

  Planes Area(uint32_t x, uint32_t y, uint32_t size) const {
    Planes p;
    if (x >= width_ || y >= height_) return p;
    p.inside = true;
    for (uint32_t py = y; py < y + size && py < height_; ++py) {
      for (uint32_t px = x; px < x + size && px < width_; ++px) {
        p.all &= values_[size_t(py) * width_ + px];
        p.any |= values_[size_t(py) * width_ + px];
      }
    }
    return p;
  }

  void PutNibble(uint32_t n) {
    if ((nibbles_ & 1) == 0) {
      stream_.push_back(uint8_t(n << 4));
    } else {
      stream_.back() = uint8_t(stream_.back() | (n & 0x0F));
    }
    ++nibbles_;
  }

  // Mirrors the decoder: at a low nibble the code's bits 0-3 come first.
  void PutCode(uint32_t code) {
    if ((nibbles_ & 1) == 0) {
      PutNibble(code >> 4);
      PutNibble(code & 0x0F);
    } else {
      PutNibble(code & 0x0F);
      PutNibble(code >> 4);
    }
  }

  // Whether a mixed child node of child size `s` at (x, y) may code plane
  // `bit` by nibbles: its own children must all be mixed in it.
  bool NibbleCodable(uint32_t x, uint32_t y, uint32_t s, uint32_t bit) const {
    if (s <= kLeafSize) return true;
    for (uint32_t i = 0; i < 4; ++i) {
      const Planes g = Area(x + (i & 1) * s, y + (i >> 1) * s, s);
      if (g.inside && !(g.Mixed() & bit)) return false;
    }
    return true;
  }

  void Node(uint32_t x, uint32_t y, uint32_t s, uint32_t ones, uint32_t zeros, uint32_t bytes) {
    Planes child[4];
    uint32_t childOnes[4], childZeros[4], childBytes[4];
    for (uint32_t i = 0; i < 4; ++i) {
      child[i] = Area(x + (i & 1) * s, y + (i >> 1) * s, s);
      childOnes[i] = ones;
      childZeros[i] = zeros;
      childBytes[i] = 0;
    }
    for (int p = kPlanes - 1; p >= 0; --p) {
      const uint32_t bit = 1u << p;
      if ((ones | zeros) & bit) continue;
      uint32_t code = 0;
      for (uint32_t i = 0; i < 4; ++i) {
        if (!child[i].inside) continue;
        const uint32_t lowBit = 1u << (3 - i), highBit = 1u << (7 - i);
        const bool byBytes = !NibbleCodable(x + (i & 1) * s, y + (i >> 1) * s, s / 2, bit);
        if (!(bytes & bit)) {
          // A nibble-coded plane: every child is mixed; the nibble picks its coding.
          if (byBytes) code |= highBit;
          if (byBytes) childBytes[i] |= bit;
        } else if (child[i].all & bit) {
          code |= lowBit | highBit;
          childOnes[i] |= bit;
        } else if (!(child[i].any & bit)) {
          code |= lowBit;
          childZeros[i] |= bit;
        } else if (byBytes) {
          code |= highBit;
          childBytes[i] |= bit;
        }
      }
      if (bytes & bit) {
        PutCode(code);
      } else if (s > kLeafSize) {
        PutNibble(code >> 4);
      }
    }
    for (uint32_t i = 0; i < 4; ++i) {
      if (!child[i].inside) continue;
      const uint32_t cx = x + (i & 1) * s, cy = y + (i >> 1) * s;
      if (s == kLeafSize) {
        Leaf(cx, cy, childOnes[i] | childZeros[i]);
      } else {
        Node(cx, cy, s / 2, childOnes[i], childZeros[i], childBytes[i]);
      }
    }
    if (IsPaletteLevel(2 * s)) PutNibble(15);  // no palette pass here
  }

  void Leaf(uint32_t x, uint32_t y, uint32_t known) {
    for (uint32_t p = 0; p < kPlanes; ++p) {
      if (known & (1u << p)) continue;
      uint32_t word = 0;
      for (uint32_t k = 0; k < 16; ++k) {
        const uint32_t group = k / 4, within = k % 4;
        const uint32_t px = x + (group & 1) * 2 + (within & 1), py = y + (group >> 1) * 2 + (within >> 1);
        if (px < width_ && py < height_ && ((values_[size_t(py) * width_ + px] >> p) & 1)) word |= 1u << (15 - k);
      }
      leaves_.push_back(uint16_t(word));
    }
  }

  bool IsPaletteLevel(uint32_t size) const {
    for (uint32_t level = 16; level < tree_ / 2; level *= 4) {
      if (level == size) return true;
    }
    return false;
  }

  const uint32_t width_, height_;
  uint32_t tree_ = kLeafSize;
  std::vector<uint16_t> values_;
  std::vector<uint16_t> leaves_;
  std::vector<uint8_t> stream_;
  uint64_t nibbles_ = 0;
};

}  // namespace

std::vector<uint8_t> QbtEncodeFrame(const uint16_t* pixels, uint32_t width, uint32_t height) {
  if (!media::QbtPictureSizeOk(width, height)) return {};
  return FrameEncoder(pixels, width, height).Run();
}

std::vector<uint8_t> QbtEncodeFile(const std::vector<std::vector<uint16_t>>& frames, uint32_t width,
                                   uint32_t height, uint32_t frameDurationMs) {
  std::vector<uint8_t> out;
  for (uint32_t word : {0u, width, height, 2u, frameDurationMs, 0u, 0u, 0u}) PutLe32(&out, word);
  for (const std::vector<uint16_t>& frame : frames) {
    const std::vector<uint8_t> coded = QbtEncodeFrame(frame.data(), width, height);
    PutLe32(&out, uint32_t(coded.size()));
    out.insert(out.end(), coded.begin(), coded.end());
  }
  return out;
}

}  // namespace ovtool
