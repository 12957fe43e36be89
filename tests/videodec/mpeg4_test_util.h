#pragma once
// Helpers of the MPEG-4 decoder tests: cutting elementary streams into
// samples as a track reader does, decoding them in each mode, and comparing
// pictures with the reference decoder's output.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "codecs/videodec/mpeg4/mpeg4_decoder.h"

namespace mpeg4test {

struct Stream {
  std::vector<uint8_t> config;                // headers in front of the first VOP
  std::vector<std::vector<uint8_t>> samples;  // one VOP (with its GOV) each
};

inline bool StartCodeAt(const std::vector<uint8_t>& b, size_t i) {
  return i + 4 <= b.size() && b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1;
}

// .m4v: configuration up to the first GOV or VOP; a sample per VOP.
inline Stream SplitM4v(const std::vector<uint8_t>& b) {
  Stream s;
  size_t start = b.size();
  for (size_t i = 0; i + 4 <= b.size(); ++i) {
    if (StartCodeAt(b, i) && (b[i + 3] == 0xB3 || b[i + 3] == 0xB6)) {
      start = i;
      break;
    }
  }
  s.config.assign(b.begin(), b.begin() + static_cast<ptrdiff_t>(start));
  size_t cur = start;
  for (size_t i = start + 4; i + 4 <= b.size(); ++i) {
    if (StartCodeAt(b, i) && b[i + 3] == 0xB6 && !(b[cur + 3] == 0xB3 && i - cur < 16)) {
      s.samples.emplace_back(b.begin() + static_cast<ptrdiff_t>(cur), b.begin() + static_cast<ptrdiff_t>(i));
      cur = i;
    }
  }
  if (cur < b.size()) s.samples.emplace_back(b.begin() + static_cast<ptrdiff_t>(cur), b.end());
  return s;
}

// Short video header: a sample per picture start code (byte-aligned).
inline Stream SplitH263(const std::vector<uint8_t>& b) {
  Stream s;
  size_t cur = 0;
  for (size_t i = 1; i + 3 <= b.size(); ++i) {
    if (b[i] == 0 && b[i + 1] == 0 && (b[i + 2] & 0xFC) == 0x80) {
      s.samples.emplace_back(b.begin() + static_cast<ptrdiff_t>(cur), b.begin() + static_cast<ptrdiff_t>(i));
      cur = i;
    }
  }
  if (cur < b.size()) s.samples.emplace_back(b.begin() + static_cast<ptrdiff_t>(cur), b.end());
  return s;
}

// A picture as plain planes.
struct Frame {
  int width = 0, height = 0;
  std::vector<uint8_t> y, u, v;
};

inline Frame FromPicture(const videodec::DecodedPicture& p, int width, int height) {
  Frame f;
  f.width = width;
  f.height = height;
  for (int j = 0; j < height; ++j) f.y.insert(f.y.end(), p.y + j * p.width, p.y + j * p.width + width);
  for (int j = 0; j < height / 2; ++j) {
    f.u.insert(f.u.end(), p.u + j * (p.width / 2), p.u + j * (p.width / 2) + width / 2);
    f.v.insert(f.v.end(), p.v + j * (p.width / 2), p.v + j * (p.width / 2) + width / 2);
  }
  return f;
}

// Frames of a raw yuv420p file of the given size, cropped to crop_w x crop_h.
inline std::vector<Frame> ReadYuv(const std::vector<uint8_t>& b, int w, int h, int crop_w, int crop_h) {
  std::vector<Frame> frames;
  const size_t cw = static_cast<size_t>((w + 1) / 2), ch = static_cast<size_t>((h + 1) / 2);
  const size_t size = static_cast<size_t>(w) * static_cast<size_t>(h) + 2 * cw * ch;
  for (size_t off = 0; off + size <= b.size(); off += size) {
    Frame f;
    f.width = crop_w;
    f.height = crop_h;
    for (int j = 0; j < crop_h; ++j) {
      const uint8_t* row = b.data() + off + static_cast<size_t>(j) * static_cast<size_t>(w);
      f.y.insert(f.y.end(), row, row + crop_w);
    }
    const uint8_t* u = b.data() + off + static_cast<size_t>(w) * static_cast<size_t>(h);
    for (const uint8_t* plane : {u, u + cw * ch}) {
      std::vector<uint8_t>& dst = plane == u ? f.u : f.v;
      for (int j = 0; j < crop_h / 2; ++j) {
        const uint8_t* row = plane + static_cast<size_t>(j) * cw;
        dst.insert(dst.end(), row, row + crop_w / 2);
      }
    }
    frames.push_back(std::move(f));
  }
  return frames;
}

inline double PlanePsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sse = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
    sse += d * d;
  }
  if (sse == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sse);
}

inline double LumaPsnr(const Frame& a, const Frame& b) { return PlanePsnr(a.y, b.y); }

// The lower of the two chroma planes' PSNR.
inline double ChromaPsnr(const Frame& a, const Frame& b) {
  return std::min(PlanePsnr(a.u, b.u), PlanePsnr(a.v, b.v));
}

// Owns a decoder object.
struct Decoder {
  videodec::VideoDecoder* d = nullptr;
  ~Decoder() {
    if (d) d->DestroyDecoder(d);
  }
};

// Whole-picture mode: DecodeFrameOut per sample, cropped pictures out.
inline std::vector<Frame> DecodeWhole(videodec::VideoDecoder* dec, const Stream& s, int w, int h,
                                      std::vector<int32_t>* results = nullptr) {
  std::vector<Frame> frames;
  const int aw = (w + 15) & ~15, ah = (h + 15) & ~15;
  std::vector<uint8_t> y(static_cast<size_t>(aw * ah)), u(y.size() / 4), v(y.size() / 4);
  for (const auto& sample : s.samples) {
    std::vector<uint8_t> copy(sample);
    uint32_t len = static_cast<uint32_t>(copy.size());
    videodec::DecodedPicture pic{y.data(), u.data(), v.data(), 0, 0, 0};
    const int32_t r = dec->DecodeFrameOut(dec, copy.data(), &len, &pic);
    if (results) results->push_back(r);
    if (r != 0) continue;
    videodec::DecodedPicture view{y.data(), u.data(), v.data(), pic.width, pic.height, 0};
    frames.push_back(FromPicture(view, pic.width, pic.height));
  }
  return frames;
}

// Packet mode (the application's contract): DecodeFrame until the sample is
// used up, then VDEC_PARAM_FINISH_PICTURE.
inline std::vector<Frame> DecodePackets(videodec::VideoDecoder* dec, const Stream& s, int w, int h) {
  std::vector<Frame> frames;
  for (const auto& sample : s.samples) {
    std::vector<uint8_t> copy(sample);
    size_t off = 0;
    bool ok = true;
    for (int guard = 0; off < copy.size() && guard < 10000; ++guard) {
      uint32_t len = static_cast<uint32_t>(copy.size() - off);
      const int32_t r = dec->DecodeFrame(dec, copy.data() + off, &len);
      off += len;
      if (r == videodec::VDEC_NEXT_PICTURE || r == videodec::VDEC_PICTURE_OPEN) break;
      if (r != 0) {
        ok = r == videodec::VDEC_ERR_STREAM;
        if (!ok) break;
      }
      if (len == 0) break;
    }
    const videodec::DecodedPicture* pic = nullptr;
    if (dec->GetDecoderParam(dec, videodec::VDEC_PARAM_FINISH_PICTURE, &pic) != 0 || !pic || !ok) continue;
    frames.push_back(FromPicture(*pic, w & ~1, h & ~1));
  }
  return frames;
}

// Writes bits most significant first, for hand-made streams.
class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (pos_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() = static_cast<uint8_t>(bytes_.back() | (0x80 >> (pos_ % 8)));
      ++pos_;
    }
  }
  template <typename VlcCode>
  void Code(const VlcCode& c) {
    Put(c.code, c.len);
  }
  // next_start_code() stuffing: a 0, then ones to the byte boundary.
  void Stuff() {
    Put(0, 1);
    while (pos_ % 8) Put(1, 1);
  }
  size_t pos() const { return pos_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
};


// A video object layer header (ISO/IEC 14496-2 6.2.3) with the fields the
// tests vary; everything else as a Simple Profile encoder writes it.
struct LayerFields {
  int width = 176, height = 144;
  int verid = 1;
  int shape = 0;
  int resolution = 30;
  int interlaced = 0;
  int sprite = 0;
  int quant_type = 0;
  int data_partitioned = 0, reversible_vlc = 0;
  int scalability = 0;
};

inline std::vector<uint8_t> MakeLayer(const LayerFields& f) {
  BitWriter w;
  w.Put(0x00000120, 32);
  w.Put(0, 1);  // random_accessible_vol
  w.Put(1, 8);  // simple object
  if (f.verid != 1) {
    w.Put(1, 1);
    w.Put(static_cast<uint32_t>(f.verid), 4);
    w.Put(1, 3);
  } else {
    w.Put(0, 1);
  }
  w.Put(1, 4);  // aspect 1:1
  w.Put(0, 1);  // vol_control_parameters
  w.Put(static_cast<uint32_t>(f.shape), 2);
  w.Put(1, 1);
  w.Put(static_cast<uint32_t>(f.resolution), 16);
  w.Put(1, 1);
  w.Put(0, 1);  // fixed_vop_rate
  w.Put(1, 1);
  w.Put(static_cast<uint32_t>(f.width), 13);
  w.Put(1, 1);
  w.Put(static_cast<uint32_t>(f.height), 13);
  w.Put(1, 1);
  w.Put(static_cast<uint32_t>(f.interlaced), 1);
  w.Put(1, 1);  // obmc_disable
  w.Put(static_cast<uint32_t>(f.sprite), f.verid == 1 ? 1 : 2);
  w.Put(0, 1);  // not_8_bit
  w.Put(static_cast<uint32_t>(f.quant_type), 1);
  if (f.verid != 1) w.Put(0, 1);  // quarter_sample
  w.Put(1, 1);  // complexity_estimation_disable
  w.Put(0, 1);  // resync_marker_disable
  w.Put(static_cast<uint32_t>(f.data_partitioned), 1);
  if (f.data_partitioned) w.Put(static_cast<uint32_t>(f.reversible_vlc), 1);
  if (f.verid != 1) w.Put(0, 2);  // newpred, reduced resolution
  w.Put(static_cast<uint32_t>(f.scalability), 1);
  w.Stuff();
  return w.bytes();
}

}  // namespace mpeg4test
