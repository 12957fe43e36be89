#include "media/qbt_decoder.h"

#include <cstddef>
#include <vector>

namespace media {

namespace {

constexpr uint32_t kPlanes = 16;
constexpr uint32_t kLeafSize = 4;
constexpr uint32_t kNoPass = 15;  // palette depth nibble that skips the pass

// Packs the even bits (0, 2, ..., 14) of `v` into bits 0-7.
uint8_t EvenBits(uint32_t v) {
  uint8_t out = 0;
  for (int i = 0; i < 8; ++i) out = uint8_t(out | (((v >> (2 * i)) & 1u) << i));
  return out;
}

class FrameDecoder {
 public:
  FrameDecoder(uint32_t width, uint32_t height, bool palettes, const uint8_t* coded, uint32_t codedBytes)
      : width_(width), height_(height), palettes_(palettes), coded_(coded), values_(size_t(width) * height) {
    endNibble_ = uint64_t(codedBytes) * 2;
    tree_ = kLeafSize;
    while (tree_ < width || tree_ < height) tree_ *= 2;
  }

  // Steps 2-4: the header, the tree and the final list. False: a bad frame.
  bool Run(uint32_t codedBytes) {
    if (codedBytes < 9) return false;
    leafCount_ = Le32(4);
    if (leafCount_ > (codedBytes - 9) / 2) return false;
    leafNext_ = leafCount_;
    const uint32_t startByte = 8 + 2 * leafCount_;
    nibble_ = uint64_t(startByte + 1) * 2 + (coded_[startByte] == 0 ? 1 : 0);
    uint32_t listCount = 0;
    if (palettes_) {
      for (int i = 0; i < 8; ++i) listCount = listCount << 4 | ReadNibble();
      if (!ok_ || listCount > (1u << kPlanes)) return false;
      list_.resize(listCount);
    }
    Node(0, 0, tree_ / 2, 0, 0, 0xFFFF);
    if (!ok_) return false;
    final_ = palettes_ && listCount != 0;
    if (final_) PalettePass(0, 0, tree_, kPlanes / 2 - 1);
    return ok_;
  }

  // Writes the decoded values: as stored (high byte first), or the final
  // list's entries de-interleaved (odd bits to the first byte).
  void Store(uint8_t* destination) const {
    const size_t stride = size_t((width_ + 1) & ~1u) * 2;
    for (uint32_t y = 0; y < height_; ++y) {
      uint8_t* row = destination + y * stride;
      const uint16_t* v = &values_[size_t(y) * width_];
      for (uint32_t x = 0; x < width_; ++x) {
        if (final_) {
          row[2 * x] = EvenBits(uint32_t(v[x]) >> 1);
          row[2 * x + 1] = EvenBits(v[x]);
        } else {
          row[2 * x] = uint8_t(v[x] >> 8);
          row[2 * x + 1] = uint8_t(v[x]);
        }
      }
    }
  }

 private:
  uint32_t Le32(uint32_t at) const {
    return uint32_t(coded_[at]) | uint32_t(coded_[at + 1]) << 8 | uint32_t(coded_[at + 2]) << 16 |
           uint32_t(coded_[at + 3]) << 24;
  }

  uint32_t ReadNibble() {
    if (!ok_ || nibble_ >= endNibble_) {
      ok_ = false;
      return 0;
    }
    const uint8_t b = coded_[nibble_ / 2];
    const uint32_t n = (nibble_ & 1) ? (b & 0x0F) : (b >> 4);
    ++nibble_;
    return n;
  }

  // Two nibbles: at a byte boundary the byte itself; at a low nibble, that
  // nibble in bits 0-3 and the next byte's high nibble in bits 4-7.
  uint32_t ReadCode() {
    const bool aligned = (nibble_ & 1) == 0;
    const uint32_t first = ReadNibble();
    const uint32_t second = ReadNibble();
    return aligned ? (first << 4 | second) : (first | second << 4);
  }

  uint32_t TakeLeafWord() {
    if (leafNext_ == 0) {
      ok_ = false;
      return 0;
    }
    --leafNext_;
    const uint32_t at = 8 + 2 * leafNext_;
    return uint32_t(coded_[at]) | uint32_t(coded_[at + 1]) << 8;
  }

  bool IsPaletteLevel(uint32_t size) const {
    if (!palettes_) return false;
    for (uint32_t level = 16; level < tree_ / 2; level *= 4) {
      if (level == size) return true;
    }
    return false;
  }

  // A node at (x, y) whose children are `s` pixels wide. `ones` and `zeros`
  // mark planes known throughout it, `bytes` the planes coded by code bytes.
  void Node(uint32_t x, uint32_t y, uint32_t s, uint32_t ones, uint32_t zeros, uint32_t bytes) {
    uint32_t code[kPlanes] = {};
    for (int p = kPlanes - 1; p >= 0 && ok_; --p) {
      const uint32_t bit = 1u << p;
      if ((ones | zeros) & bit) continue;
      if (bytes & bit) {
        code[p] = ReadCode();
      } else if (s > kLeafSize) {
        code[p] = ReadNibble() << 4;
      }
    }
    for (uint32_t i = 0; i < 4 && ok_; ++i) {
      const uint32_t cx = x + (i & 1) * s, cy = y + (i >> 1) * s;
      if (cx >= width_ || cy >= height_) continue;
      uint32_t childOnes = ones, childZeros = zeros, childBytes = 0;
      for (uint32_t p = 0; p < kPlanes; ++p) {
        const uint32_t bit = 1u << p;
        if ((ones | zeros) & bit) continue;
        const bool low = (code[p] >> (3 - i)) & 1, high = (code[p] >> (7 - i)) & 1;
        if (low && high) {
          childOnes |= bit;
        } else if (low) {
          childZeros |= bit;
        } else if (high) {
          childBytes |= bit;
        }
      }
      if (s == kLeafSize) {
        Leaf(cx, cy, childOnes, childZeros);
      } else {
        Node(cx, cy, s / 2, childOnes, childZeros, childBytes);
      }
    }
    if (ok_ && IsPaletteLevel(2 * s)) {
      const uint32_t depth = ReadNibble();
      if (depth != kNoPass) PalettePass(x, y, 2 * s, depth);
    }
  }

  // A 4 x 4 block: one leaf word per unknown plane from bit 0 up, its bits in
  // Z order (2 x 2 groups top-left, top-right, bottom-left, bottom-right).
  void Leaf(uint32_t x, uint32_t y, uint32_t ones, uint32_t zeros) {
    uint32_t value[16];
    for (uint32_t& v : value) v = ones;
    for (uint32_t p = 0; p < kPlanes && ok_; ++p) {
      const uint32_t bit = 1u << p;
      if ((ones | zeros) & bit) continue;
      const uint32_t word = TakeLeafWord();
      for (uint32_t k = 0; k < 16; ++k) {
        if ((word >> (15 - k)) & 1) value[k] |= bit;
      }
    }
    if (!ok_) return;
    for (uint32_t k = 0; k < 16; ++k) {
      const uint32_t group = k / 4, within = k % 4;
      const uint32_t px = x + (group & 1) * 2 + (within & 1), py = y + (group >> 1) * 2 + (within >> 1);
      if (px < width_ && py < height_) values_[size_t(py) * width_ + px] = uint16_t(value[k]);
    }
  }

  // Pre-order 4-ary tree of depth + 1 levels; the last level's present
  // children are the list's entries, ascending.
  void ListNode(uint32_t level, uint32_t depth, uint32_t prefix) {
    const uint32_t mask = ReadNibble();
    for (uint32_t j = 0; j < 4 && ok_; ++j) {
      if (!((mask >> j) & 1)) continue;
      const uint32_t value = prefix + (j << (2 * (depth - level)));
      if (level < depth) {
        ListNode(level + 1, depth, value);
      } else if (filled_ >= list_.size()) {
        ok_ = false;  // more entries than the frame declared
      } else {
        list_[filled_++] = uint16_t(value);
      }
    }
  }

  // Maps every value of the square (clipped) through a list of `depth` + 1 levels.
  void PalettePass(uint32_t x, uint32_t y, uint32_t size, uint32_t depth) {
    if (depth >= kPlanes / 2) {  // entries wider than a pixel
      ok_ = false;
      return;
    }
    filled_ = 0;
    ListNode(0, depth, 0);
    if (!ok_) return;
    const uint32_t xEnd = x + size < width_ ? x + size : width_;
    const uint32_t yEnd = y + size < height_ ? y + size : height_;
    for (uint32_t py = y; py < yEnd; ++py) {
      uint16_t* row = &values_[size_t(py) * width_];
      for (uint32_t px = x; px < xEnd; ++px) {
        if (row[px] >= filled_) {
          ok_ = false;  // a value with no entry
          return;
        }
        row[px] = list_[row[px]];
      }
    }
  }

  const uint32_t width_, height_;
  const bool palettes_;
  const uint8_t* const coded_;
  uint64_t endNibble_ = 0;
  uint64_t nibble_ = 0;
  uint32_t tree_ = kLeafSize;
  uint32_t leafCount_ = 0, leafNext_ = 0;
  std::vector<uint16_t> values_;
  std::vector<uint16_t> list_;
  uint32_t filled_ = 0;
  bool final_ = false;
  bool ok_ = true;
};

}  // namespace

bool QbtPictureSizeOk(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || width > kQbtMaxSide || height > kQbtMaxSide) return false;
  return width > kLeafSize || height > kLeafSize;
}

int QbtDecodeFrame(uint8_t* destination, uint32_t width, uint32_t height, uint32_t bits, uint32_t mode,
                   uint32_t flags, const uint8_t* coded, uint32_t codedBytes) {
  if (mode > 1) return kQbtBadMode;
  if (bits != 16 || flags != 0 || !QbtPictureSizeOk(width, height)) return kQbtBadPicture;
  if (!destination || !coded) return kQbtBadFrame;
  FrameDecoder decoder(width, height, mode == 1, coded, codedBytes);
  if (!decoder.Run(codedBytes)) return kQbtBadFrame;
  decoder.Store(destination);
  return kQbtOk;
}

}  // namespace media
