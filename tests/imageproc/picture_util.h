#pragma once
// Pictures for the imageproc tests: planes in exact-size heap blocks (so that
// AddressSanitizer sees any access past them), seeded random content,
// canary-padded output buffers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imageproc/imageproc.h"
#include "platform/cpu/cpu.h"

namespace iptest {

// The variants of a kernel family with SSE2 and AVX2 kernels, each as its
// init picks it for a processor with `flags`.
struct SimdVariant {
  const char* name;
  uint32_t flags;
};
inline constexpr SimdVariant kSimdVariants[] = {{"sse2", ov::kCpuSse2}, {"avx2", ov::kCpuSse2 | ov::kCpuAvx2}};

// Fixed seed, printed by the tests that use it.
inline constexpr uint32_t kSeed = 0x1ab5eed;

inline std::mt19937& Rng() {
  static std::mt19937 rng(kSeed);
  return rng;
}

inline void FillRandom(std::vector<uint8_t>& v) {
  for (auto& b : v) b = static_cast<uint8_t>(Rng()());
}
inline void FillRandom(std::vector<uint16_t>& v) {
  for (auto& b : v) b = static_cast<uint16_t>(Rng()());
}

// A planar frame whose planes are separate exact-size blocks. chromaRows and
// chromaCols follow the layout asked for (4:2:0, 4:2:2 or 4:4:4).
enum class Layout { k420, k422, k444 };

struct Frame {
  std::vector<uint8_t> y, u, v;
  YuvFrame f{};
  Layout layout = Layout::k420;

  Frame() = default;
  Frame(int w, int h, Layout l = Layout::k420) { Reset(w, h, l); }
  Frame(const Frame& o) : y(o.y), u(o.u), v(o.v), f(o.f), layout(o.layout) { Bind(); }
  Frame& operator=(const Frame& o) {
    y = o.y;
    u = o.u;
    v = o.v;
    f = o.f;
    layout = o.layout;
    Bind();
    return *this;
  }

  int ChromaCols() const { return layout == Layout::k444 ? f.width : f.width / 2; }
  int ChromaRows() const { return layout == Layout::k420 ? f.height / 2 : f.height; }

  void Reset(int w, int h, Layout l) {
    layout = l;
    f.width = static_cast<uint16_t>(w);
    f.height = static_cast<uint16_t>(h);
    y.assign(size_t(w) * h, 0);
    u.assign(size_t(ChromaCols()) * ChromaRows(), 0);
    v.assign(u.size(), 0);
    Bind();
  }
  // Planes of zero size still get a valid pointer (a one-byte block would
  // hide an overrun; an empty vector has none), so point them at a sentinel.
  void Bind() {
    static uint8_t empty[1];
    f.y = y.empty() ? empty : y.data();
    f.u = u.empty() ? empty : u.data();
    f.v = v.empty() ? empty : v.data();
  }
  void Randomize() {
    FillRandom(y);
    FillRandom(u);
    FillRandom(v);
  }
  void Fill(uint8_t yy, uint8_t uu, uint8_t vv) {
    std::fill(y.begin(), y.end(), yy);
    std::fill(u.begin(), u.end(), uu);
    std::fill(v.begin(), v.end(), vv);
  }
  uint8_t Y(int r, int c) const { return y[size_t(r) * f.width + c]; }
  uint8_t U(int r, int c) const { return u[size_t(r) * ChromaCols() + c]; }
  uint8_t V(int r, int c) const { return v[size_t(r) * ChromaCols() + c]; }
};

// An output buffer with `pad` canary elements on each side; Data() points
// past the front padding, possibly at an odd address (offset) to catch
// alignment assumptions.
template <typename T>
class Padded {
 public:
  Padded(size_t n, T canary, size_t pad = 64) : n_(n), pad_(pad), canary_(canary), buf_(n + 2 * pad, canary) {}
  T* Data() { return buf_.data() + pad_; }
  const T* Data() const { return buf_.data() + pad_; }
  T& operator[](size_t i) { return buf_[pad_ + i]; }
  const T& operator[](size_t i) const { return buf_[pad_ + i]; }
  size_t size() const { return n_; }
  // True when nothing outside [0, n) was written.
  bool PaddingIntact() const {
    for (size_t i = 0; i < pad_; ++i) {
      if (buf_[i] != canary_ || buf_[pad_ + n_ + i] != canary_) return false;
    }
    return true;
  }
  std::vector<T> Inner() const { return std::vector<T>(buf_.begin() + pad_, buf_.begin() + pad_ + n_); }

 private:
  size_t n_, pad_;
  T canary_;
  std::vector<T> buf_;
};

inline int FieldR(uint16_t p) { return p >> 11; }
inline int FieldG(uint16_t p) { return (p >> 5) & 63; }
inline int FieldB(uint16_t p) { return p & 31; }

}  // namespace iptest
