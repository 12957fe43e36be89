// Texture decoding of ISO/IEC 14496-2 7.4: coefficient events, intra DC and
// AC prediction (7.4.3), H.263 inverse quantisation (7.4.4.2) fused with the
// prescale of the scaled inverse transform, and reconstruction.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codecs/videodec/common/transform_tables.h"
#include "codecs/videodec/mpeg4/mpeg4_state.h"
#include "codecs/videodec/mpeg4/mpeg4_tables.h"
#include "codecs/videodec/mpeg4/mpeg4_vlc.h"

namespace videodec {
namespace {

inline int Dequant(int level, int q) { return Mpeg4DequantiseLevel(level, q); }

inline int16_t Prescale(int f, int raster) {
  return static_cast<int16_t>((f * static_cast<int>(kIdctScale[raster]) + 2048) >> 12);
}


// The inverse transform; a block whose last coefficient is the DC takes the
// DC-only path.
inline void Put(Mpeg4Decoder& d, uint8_t* dst, ptrdiff_t stride, const int16_t* blk, int last) {
  (last ? d.idct.idct_put : d.idct.idct_dc_put)(dst, stride, blk);
}
inline void Add(Mpeg4Decoder& d, uint8_t* dst, ptrdiff_t stride, const int16_t* blk, int last) {
  (last ? d.idct.idct_add : d.idct.idct_dc_add)(dst, stride, blk);
}

inline uint8_t* BlockDst(DecodedPicture& p, int x, int y, int b, ptrdiff_t* stride) {
  if (b < 4) {
    *stride = p.width;
    return p.y + (y + (b >> 1) * 8) * p.width + x + (b & 1) * 8;
  }
  *stride = p.width / 2;
  uint8_t* plane = b == 4 ? p.u : p.v;
  return plane + (y / 2) * (p.width / 2) + x / 2;
}

// The TCOEF events (7.4.1.3) of one block from scan index i, each handed to
// put(index, level); returns the last index, or -1 on a bad code or an index
// past 63. Codes without escape are read from a 64-bit window kept in a
// register, so that one event's length feeds the next lookup without a trip
// through memory; an escape goes to Mpeg4ReadEvent. The bits consumed are
// those of Mpeg4ReadEvent, event by event.
template <typename Put>
int ReadEvents(Mpeg4Bits& bits, Mpeg4CoefTable table, int i, Put put) {
  constexpr int kShow = kMpeg4TcoefBits + 1;  // the longest code and its sign
  const Mpeg4CoefEntry* lut = Mpeg4CoefLookup(table);
  uint64_t pos = bits.Pos();
  uint64_t window = bits.WindowAt(pos);
  int used = 0;
  int last = -1;
  for (;;) {
    if (used > Mpeg4Bits::kWindowBits - kShow) {
      pos += static_cast<uint64_t>(used);
      window = bits.WindowAt(pos);
      used = 0;
    }
    const uint32_t next = static_cast<uint32_t>((window << used) >> (64 - kShow));
    const Mpeg4CoefEntry e = lut[next >> 1];
    Mpeg4Event ev;
    if (e.level != 0) {
      used += e.len + 1;
      ev.last = e.last;
      ev.run = e.run;
      ev.level = ((next >> (kMpeg4TcoefBits - e.len)) & 1) ? -e.level : e.level;
    } else {
      bits.Seek(pos + static_cast<uint64_t>(used));
      if (!Mpeg4ReadEvent(bits, table, &ev)) return -1;
      pos = bits.Pos();
      window = bits.WindowAt(pos);
      used = 0;
    }
    i += ev.run;
    if (i >= 64) {
      bits.Seek(pos + static_cast<uint64_t>(used));
      return -1;
    }
    put(i, ev.level);
    last = i;
    ++i;
    if (ev.last) break;
  }
  bits.Seek(pos + static_cast<uint64_t>(used));
  return last;
}

// Events of one block into raw (scan order, levels as decoded) from index i.
// Returns the last index, or -1.
int ReadIntraEvents(Mpeg4Bits& bits, int16_t* raw, int i, bool rvlc) {
  auto store = [raw](int at, int level) { raw[at] = static_cast<int16_t>(std::clamp(level, -2048, 2047)); };
  if (!rvlc) {
    const int last = ReadEvents(bits, kMpeg4TableIntra, i, store);
    if (last < 0) return -1;
    return last;
  }
  Mpeg4Event e;
  int last = i > 0 ? 0 : -1;
  for (;;) {
    if (!Mpeg4ReadRvlcEvent(bits, kMpeg4TableIntra, &e)) return -1;
    i += e.run;
    if (i >= 64) return -1;
    store(i, e.level);
    last = i;
    ++i;
    if (e.last) break;
  }
  return std::max(last, 0);
}

int ReadInterEvents(Mpeg4Bits& bits, int16_t* blk, int q, int i, bool rvlc, bool short_header) {
  auto store = [blk, q](int at, int level) {
    const int pos = kZigzagScan[at];
    blk[pos] = Prescale(Dequant(level, q), pos);
  };
  if (!rvlc && !short_header) return ReadEvents(bits, kMpeg4TableInter, i, store);
  Mpeg4Event e;
  int last = 0;
  for (;;) {
    const bool ok = short_header ? Mpeg4ReadShortHeaderEvent(bits, &e) : Mpeg4ReadRvlcEvent(bits, kMpeg4TableInter, &e);
    if (!ok) return -1;
    i += e.run;
    if (i >= 64) return -1;
    store(i, e.level);
    last = i;
    ++i;
    if (e.last) break;
  }
  return last;
}

struct Neighbours {
  const Mpeg4MacroblockRecord* left;
  const Mpeg4MacroblockRecord* above;
  const Mpeg4MacroblockRecord* above_left;
};

Neighbours IntraNeighbours(Mpeg4Decoder& d, uint32_t mb) {
  const Mpeg4MacroblockRecord* recs = d.cur_records();
  const Mpeg4MacroblockRecord& r = recs[mb];
  const uint32_t col = mb % d.mb_cols;
  const uint32_t row = mb / d.mb_cols;
  auto usable = [&](bool inside, uint32_t index) -> const Mpeg4MacroblockRecord* {
    if (!inside) return nullptr;
    const Mpeg4MacroblockRecord* n = &recs[index];
    return (n->type == kMbIntra && n->packet == r.packet) ? n : nullptr;
  };
  Neighbours n;
  n.left = usable(col > 0, mb - 1);
  n.above = usable(row > 0, mb - d.mb_cols);
  n.above_left = usable(col > 0 && row > 0, mb - d.mb_cols - 1);
  return n;
}

// DC prediction (7.4.3.1) of block b: chooses the direction and returns the
// reconstructed DC, saturated to 0..2047.
int PredictDc(const Mpeg4MacroblockRecord& r, const Neighbours& n, int b, int diff, int scaler, uint8_t* direction) {
  auto dc = [](const Mpeg4MacroblockRecord* m, int blk) { return m ? static_cast<int>(m->dc[blk]) : 1024; };
  int a, bb, c;
  switch (b) {
    case 0: a = dc(n.left, 1); bb = dc(n.above_left, 3); c = dc(n.above, 2); break;
    case 1: a = r.dc[0]; bb = dc(n.above, 2); c = dc(n.above, 3); break;
    case 2: a = dc(n.left, 3); bb = dc(n.left, 1); c = r.dc[0]; break;
    case 3: a = r.dc[2]; bb = r.dc[0]; c = r.dc[1]; break;
    default: a = dc(n.left, b); bb = dc(n.above_left, b); c = dc(n.above, b); break;
  }
  int p;
  if (std::abs(c - bb) <= std::abs(a - bb)) {
    p = a;
    *direction = 0;
  } else {
    p = c;
    *direction = 1;
  }
  const int value = (diff + Mpeg4DcPredictor(p, scaler)) * scaler;
  return std::clamp(value, 0, 2047);
}

// DC and AC prediction, dequantisation and the inverse transform of the six
// blocks of an intra macroblock whose levels are in d.coef (scan order).
void ReconstructIntra(Mpeg4Decoder& d, uint32_t mb) {
  Mpeg4MacroblockRecord& r = d.cur_records()[mb];
  const Neighbours n = IntraNeighbours(d, mb);
  const int q = r.quant;
  const uint32_t col = mb % d.mb_cols;
  int16_t* above_store = d.above_pred.get() + col * 28;
  int16_t* left_store = d.left_pred;
  // Cleared once for the six blocks; each block's levels are then placed up
  // to its last coefficient (the rest of its scan is zero).
  int qf[6][64];
  std::memset(qf, 0, sizeof qf);
  const int x = static_cast<int>(col) * 16;
  const int y = static_cast<int>(mb / d.mb_cols) * 16;
  for (int b = 0; b < 6; ++b) {
    const int16_t* raw = d.coef[b];
    const int scaler = b < 4 ? kMpeg4LumaDcScaler[q] : kMpeg4ChromaDcScaler[q];
    r.dc[b] = static_cast<int16_t>(PredictDc(r, n, b, raw[0], scaler, &d.direction[b]));
    int* f = qf[b];
    const uint8_t* scan = !r.ac_pred ? kZigzagScan
                          : d.direction[b] ? kAlternateHorizontalScan
                                           : kAlternateVerticalScan;
    for (int i = 0; i <= d.last_index[b]; ++i) f[scan[i]] = raw[i];
    if (r.ac_pred) {
      // Predicting block: (macroblock record, store, its quantiser) or a block
      // of this macroblock.
      if (d.direction[b]) {
        const int16_t* src = nullptr;
        int qp = q;
        int inner = -1;
        switch (b) {
          case 0: if (n.above) { src = above_store + 0; qp = n.above->quant; } break;
          case 1: if (n.above) { src = above_store + 7; qp = n.above->quant; } break;
          case 2: inner = 0; break;
          case 3: inner = 1; break;
          default: if (n.above) { src = above_store + (b - 2) * 7; qp = n.above->quant; } break;
        }
        if (inner >= 0) {
          for (int v = 1; v < 8; ++v) f[v] += qf[inner][v];
        } else if (src) {
          for (int v = 1; v < 8; ++v) f[v] += qp == q ? src[v - 1] : Mpeg4RescaleAc(src[v - 1], qp, q);
        }
      } else {
        const int16_t* src = nullptr;
        int qp = q;
        int inner = -1;
        switch (b) {
          case 0: if (n.left) { src = left_store + 0; qp = n.left->quant; } break;
          case 1: inner = 0; break;
          case 2: if (n.left) { src = left_store + 7; qp = n.left->quant; } break;
          case 3: inner = 2; break;
          default: if (n.left) { src = left_store + (b - 2) * 7; qp = n.left->quant; } break;
        }
        if (inner >= 0) {
          for (int u = 1; u < 8; ++u) f[u * 8] += qf[inner][u * 8];
        } else if (src) {
          for (int u = 1; u < 8; ++u) f[u * 8] += qp == q ? src[u - 1] : Mpeg4RescaleAc(src[u - 1], qp, q);
        }
      }
      // The predicted first row and column are saturated to -2048..2047
      // (7.4.3.3) before they are stored and dequantised, as the standard
      // and the reference decoders do; left unclamped, a large prediction
      // would carry into the next macroblock's prediction.
      for (int i = 1; i < 8; ++i) {
        f[i] = std::clamp(f[i], -2048, 2047);
        f[i * 8] = std::clamp(f[i * 8], -2048, 2047);
      }
    }
  }
  // The stores for the macroblocks below and to the right.
  static const int kAboveBlocks[4] = {2, 3, 4, 5};
  static const int kLeftBlocks[4] = {1, 3, 4, 5};
  for (int s = 0; s < 4; ++s) {
    for (int i = 1; i < 8; ++i) {
      above_store[s * 7 + i - 1] = static_cast<int16_t>(qf[kAboveBlocks[s]][i]);
      left_store[s * 7 + i - 1] = static_cast<int16_t>(qf[kLeftBlocks[s]][i * 8]);
    }
  }
  DecodedPicture& pic = d.cur_pic();
  for (int b = 0; b < 6; ++b) {
    int16_t* blk = d.block[b];
    const int* f = qf[b];
    blk[0] = static_cast<int16_t>(r.dc[b] * 8);
    // Every coefficient dequantised and the zero ones selected away: which
    // are zero is too irregular for a branch.
    int any = 0;
    for (int i = 1; i < 64; ++i) {
      const int16_t v = Prescale(Dequant(f[i], q), i);
      blk[i] = f[i] ? v : int16_t{0};
      any |= f[i];
    }
    ptrdiff_t stride;
    uint8_t* dst = BlockDst(pic, x, y, b, &stride);
    Put(d, dst, stride, blk, any);
  }
}

}  // namespace

int Mpeg4DcPredictor(int p, int scaler) { return (p + scaler / 2) / scaler; }

int Mpeg4RescaleAc(int a, int qp, int q) {
  const int64_t v = static_cast<int64_t>(a) * qp;
  return static_cast<int>(v >= 0 ? (v + q / 2) / q : -((-v + q / 2) / q));
}

int Mpeg4DecodeIntraTexture(Mpeg4Decoder& d, uint32_t mb, const int* dc_diff, bool rvlc) {
  Mpeg4MacroblockRecord& r = d.cur_records()[mb];
  Mpeg4Bits& bits = d.bits;
  for (int b = 0; b < 6; ++b) {
    int16_t* raw = d.coef[b];
    ClearBlock(raw);
    int first = 0;
    if (!r.dc_as_ac) {
      int diff = 0;
      if (dc_diff) {
        diff = dc_diff[b];
      } else if (!Mpeg4ReadDcDifferential(bits, b < 4, &diff)) {
        return -1;
      }
      raw[0] = static_cast<int16_t>(diff);
      first = 1;
    }
    int last = 0;
    if (r.cbp & (1 << b)) {
      last = ReadIntraEvents(bits, raw, first, rvlc);
      if (last < 0) return -1;
    }
    d.last_index[b] = static_cast<uint8_t>(last);
  }
  ReconstructIntra(d, mb);
  return 0;
}

void Mpeg4ReconstructDcOnly(Mpeg4Decoder& d, uint32_t mb, const int* dc_diff) {
  Mpeg4MacroblockRecord& r = d.cur_records()[mb];
  const Neighbours n = IntraNeighbours(d, mb);
  for (int b = 0; b < 6; ++b) {
    const int scaler = b < 4 ? kMpeg4LumaDcScaler[r.quant] : kMpeg4ChromaDcScaler[r.quant];
    r.dc[b] = static_cast<int16_t>(PredictDc(r, n, b, dc_diff ? dc_diff[b] : 0, scaler, &d.direction[b]));
  }
}

// The coded blocks of an inter macroblock, each added to its prediction.
static int DecodeInterBlocks(Mpeg4Decoder& d, uint32_t mb, bool rvlc, bool short_header) {
  const Mpeg4MacroblockRecord& r = d.cur_records()[mb];
  DecodedPicture& pic = d.cur_pic();
  const int x = static_cast<int>(mb % d.mb_cols) * 16;
  const int y = static_cast<int>(mb / d.mb_cols) * 16;
  for (int b = 0; b < 6; ++b) {
    if (!(r.cbp & (1 << b))) continue;
    int16_t* blk = d.block[b];
    ClearBlock(blk);
    const int last = ReadInterEvents(d.bits, blk, r.quant, 0, rvlc, short_header);
    if (last < 0) return -1;
    ptrdiff_t stride;
    uint8_t* dst = BlockDst(pic, x, y, b, &stride);
    Add(d, dst, stride, blk, last);
  }
  return 0;
}

int Mpeg4DecodeInterTexture(Mpeg4Decoder& d, uint32_t mb, bool rvlc) { return DecodeInterBlocks(d, mb, rvlc, false); }

int Mpeg4DecodeShortHeaderIntra(Mpeg4Decoder& d, uint32_t mb) {
  const Mpeg4MacroblockRecord& r = d.cur_records()[mb];
  DecodedPicture& pic = d.cur_pic();
  const int x = static_cast<int>(mb % d.mb_cols) * 16;
  const int y = static_cast<int>(mb / d.mb_cols) * 16;
  for (int b = 0; b < 6; ++b) {
    int16_t* blk = d.block[b];
    ClearBlock(blk);
    int dc = static_cast<int>(d.bits.Read(8));
    // ITU-T H.263 Table 15 leaves INTRADC 0 unused as well as 128: both are
    // refused, so a damaged value fails the macroblock rather than painting
    // it black.
    if (dc == 128 || dc == 0) return -1;
    if (dc == 255) dc = 128;
    blk[0] = static_cast<int16_t>(dc * 64);
    int last = 0;
    if (r.cbp & (1 << b)) {
      last = ReadInterEvents(d.bits, blk, r.quant, 1, false, true);
      if (last < 0) return -1;
    }
    ptrdiff_t stride;
    uint8_t* dst = BlockDst(pic, x, y, b, &stride);
    Put(d, dst, stride, blk, last);
  }
  return 0;
}

int Mpeg4DecodeShortHeaderInter(Mpeg4Decoder& d, uint32_t mb) { return DecodeInterBlocks(d, mb, false, true); }

namespace {

// Reads the events of one block backwards (7.4.1.4, reversible VLC). `pending`
// carries the event with last = 1 that ended the block before. Collected
// events are returned in forward order in out[0..count).
int ReadBlockBackward(Mpeg4Decoder& d, uint64_t begin, uint64_t* end, Mpeg4CoefTable table, Mpeg4Event* out,
                      bool* has_pending, Mpeg4Event* pending) {
  Mpeg4Event rev[65];
  int count = 0;
  if (*has_pending) {
    rev[count++] = *pending;
    *has_pending = false;
  }
  for (;;) {
    if (*end <= begin) break;  // the partition starts here
    Mpeg4Event e;
    if (!Mpeg4ReadRvlcEventBackward(d.bits, begin, end, table, &e)) return -1;
    if (e.last && count > 0) {
      *pending = e;
      *has_pending = true;
      break;
    }
    if (count >= 64) return -1;
    rev[count++] = e;
  }
  for (int i = 0; i < count; ++i) out[i] = rev[count - 1 - i];
  return count;
}

}  // namespace

int Mpeg4DecodeInterTextureBackward(Mpeg4Decoder& d, uint32_t mb, uint64_t begin, uint64_t* end) {
  const Mpeg4MacroblockRecord& r = d.cur_records()[mb];
  Mpeg4Event events[64];
  for (int b = 5; b >= 0; --b) {
    if (!(r.cbp & (1 << b))) continue;
    const int count = ReadBlockBackward(d, begin, end, kMpeg4TableInter, events, &d.rvlc_has_pending, &d.rvlc_pending);
    if (count <= 0) return -1;
    int16_t* blk = d.block[b];
    ClearBlock(blk);
    int i = 0;
    int last = 0;
    for (int k = 0; k < count; ++k) {
      i += events[k].run;
      if (i >= 64) return -1;
      const int pos = kZigzagScan[i];
      blk[pos] = Prescale(Dequant(events[k].level, r.quant), pos);
      last = i++;
    }
    d.last_index[b] = static_cast<uint8_t>(last);
  }
  DecodedPicture& pic = d.cur_pic();
  const int x = static_cast<int>(mb % d.mb_cols) * 16;
  const int y = static_cast<int>(mb / d.mb_cols) * 16;
  for (int b = 0; b < 6; ++b) {
    if (!(r.cbp & (1 << b))) continue;
    ptrdiff_t stride;
    uint8_t* dst = BlockDst(pic, x, y, b, &stride);
    Add(d, dst, stride, d.block[b], d.last_index[b]);
  }
  return 0;
}

int Mpeg4SkipIntraTextureBackward(Mpeg4Decoder& d, uint32_t mb, uint64_t begin, uint64_t* end) {
  const Mpeg4MacroblockRecord& r = d.cur_records()[mb];
  Mpeg4Event events[64];
  for (int b = 5; b >= 0; --b) {
    if (!(r.cbp & (1 << b))) continue;
    const int count = ReadBlockBackward(d, begin, end, kMpeg4TableIntra, events, &d.rvlc_has_pending, &d.rvlc_pending);
    if (count <= 0) return -1;
  }
  return 0;
}

}  // namespace videodec
