// ITU-T H.263 macroblock layer (5.3, 5.4, 6.1-6.3) with Annexes D, I, J and T:
// header, motion vectors, coefficients and reconstruction into the current
// picture.
#include <algorithm>
#include <cstring>

#include "codecs/videodec/common/transform_tables.h"
#include "codecs/videodec/h263/h263_decoder_internal.h"
#include "codecs/videodec/h263/h263_tables.h"

namespace videodec {

H263Vlc::H263Vlc() {
  for (int i = 0; i < kH263IntraMcbpcCount; ++i) intra_mcbpc.Add(kH263IntraMcbpc[i].bits, kH263IntraMcbpc[i].value);
  for (int i = 0; i < kH263InterMcbpcCount; ++i) inter_mcbpc.Add(kH263InterMcbpc[i].bits, kH263InterMcbpc[i].value);
  for (int i = 0; i < kH263CbpyCount; ++i) cbpy.Add(kH263Cbpy[i].bits, kH263Cbpy[i].value);
  for (int i = 0; i < kH263MvdCount; ++i) mvd.Add(kH263Mvd[i].bits, kH263Mvd[i].value);
  auto add_tcoef = [](VlcTable& t, const H263TcoefCode* codes, int count) {
    for (int i = 0; i < count; ++i)
      t.Add(codes[i].bits, static_cast<int16_t>((codes[i].last << 12) | (codes[i].run << 6) | codes[i].level));
    t.Add("0000011", kTcoefEscape);
  };
  add_tcoef(tcoef, kH263Tcoef, kH263TcoefCount);
  add_tcoef(aic_tcoef, kH263AdvancedIntraTcoef, kH263AdvancedIntraTcoefCount);
}

const H263Vlc& GetH263Vlc() {
  static const H263Vlc vlc;
  return vlc;
}

namespace {

// Reconstructed coefficients are held in -2048..2047 (H.263 6.2.1).
inline int ClipCoefficient(int v) { return std::clamp(v, -2048, 2047); }

int32_t ReadDquant(H263Decoder* d) {
  BitReader& br = d->reader;
  H263PictureState& ps = d->ps;
  int q = ps.quant;
  if (!ps.annex_t) {
    static constexpr int kDquant[4] = {-1, -2, 1, 2};
    q += kDquant[br.ReadBits(2)];
  } else if (br.ReadBit()) {
    // Annex T.2: short form, change by Table T.1.
    q = kH263ModifiedQuant[br.ReadBit()][std::clamp(q, 1, 31)];
  } else {
    q = static_cast<int>(br.ReadBits(5));
    if (q == 0) return VDEC_ERR_STREAM;
  }
  ps.quant = static_cast<uint8_t>(std::clamp(q, 1, 31));
  return VDEC_OK;
}

// One motion vector component: predictor plus the decoded difference.
int32_t ReadMvComponent(H263Decoder* d, int pred, int* out) {
  BitReader& br = d->reader;
  const H263PictureState& ps = d->ps;
  if (ps.extended && ps.annex_d) {
    // Annex D.2 reversible code: "1" is 0; otherwise bit pairs (continue, bit)
    // build the magnitude behind a leading 1; the last bit is the sign.
    if (br.ReadBit()) {
      *out = pred;
      return VDEC_OK;
    }
    int code = 2 + static_cast<int>(br.ReadBit());
    int pairs = 1;
    while (br.ReadBit()) {
      if (++pairs > 12) return VDEC_ERR_STREAM;
      code = (code << 1) | static_cast<int>(br.ReadBit());
    }
    const int magnitude = code >> 1;
    *out = std::clamp((code & 1) ? pred - magnitude : pred + magnitude, -4096, 4095);
    return VDEC_OK;
  }
  int diff = d->vlc->mvd.Decode(br);
  if (diff < 0) return VDEC_ERR_STREAM;
  if (diff && br.ReadBit()) diff = -diff;
  int v = pred + diff;
  if (!ps.annex_d) {
    // Only one of the pair of values the code stands for lies in -32..31.
    if (v < -32) v += 64;
    else if (v > 31) v -= 64;
  } else {
    // Annex D (baseline, D.1): vectors reach -63..63 around the predictor,
    // as the standard gives them. Wrapping them into -32..31 as without
    // Annex D would turn every vector beyond 16 samples into another one.
    if (pred < -31 && v < -63) v += 64;
    if (pred > 32 && v > 63) v -= 64;
  }
  *out = v;
  return VDEC_OK;
}

bool CandidateAvailable(const H263Decoder* d, int x, int y, uint8_t segment) {
  if (x < 0 || y < 0 || x >= d->mb_cols || y >= d->mb_rows) return false;
  const H263Macroblock& m = d->cur_mbs[y * d->mb_cols + x];
  return m.status != kMbDamaged && m.segment == segment;
}

// Median predictor of ITU-T H.263 6.1.1 and Annex F.2 for luma block `block`
// (0 for a one-vector macroblock).
MotionVector PredictVector(const H263Decoder* d, int x, int y, int block) {
  const H263Macroblock* mbs = d->cur_mbs.get();
  const int cols = d->mb_cols;
  const H263Macroblock& self = mbs[y * cols + x];
  const uint8_t seg = self.segment;
  const MotionVector zero{0, 0};
  MotionVector a, b, c;
  switch (block) {
    case 0:
    case 1: {
      if (block == 0) a = CandidateAvailable(d, x - 1, y, seg) ? mbs[y * cols + x - 1].mv[1] : zero;
      else a = self.mv[0];
      if (!CandidateAvailable(d, x, y - 1, seg)) return a;  // top of the picture or segment
      b = mbs[(y - 1) * cols + x].mv[block == 0 ? 2 : 3];
      c = CandidateAvailable(d, x + 1, y - 1, seg) ? mbs[(y - 1) * cols + x + 1].mv[2] : zero;
      break;
    }
    case 2:
      a = CandidateAvailable(d, x - 1, y, seg) ? mbs[y * cols + x - 1].mv[3] : zero;
      b = self.mv[0];
      c = self.mv[1];
      break;
    default:
      a = self.mv[2];
      b = self.mv[1];
      c = self.mv[0];
      break;
  }
  return MotionVector{static_cast<int16_t>(Median3(a.x, b.x, c.x)), static_cast<int16_t>(Median3(a.y, b.y, c.y))};
}

// Reads the TCOEF events of one block from scan position `start`. Without
// kRaw, each level is dequantised with `quant`, clipped and stored prescaled at
// its natural position; with kRaw the level itself is stored. Returns the
// number of coefficients (including an intra DC stored by the caller), or -1.
// A code and the sign bit after it are shown together (the look-ahead moves
// nothing) and skipped together.
template <bool kRaw>
int ReadCoefficients(H263Decoder* d, int16_t* block, int start, const VlcTable& table, const uint8_t* scan,
                     int quant, bool* ac_seen) {
  BitReader& br = d->reader;
  const bool annex_t = d->ps.annex_t;
  const int code_bits = table.bits();
  int pos = start;
  for (;;) {
    const uint32_t next = br.ShowBits(code_bits + 1);
    const VlcEntry& e = table.Entry(next >> 1);
    if (e.length == 0) return -1;
    const int code = e.value;
    int last, run, level;
    if (code == kTcoefEscape) {
      br.SkipBits(e.length);
      last = static_cast<int>(br.ReadBit());
      run = static_cast<int>(br.ReadBits(6));
      level = static_cast<int>(br.ReadBits(8));
      if (level == 0) return -1;
      if (level == 128) {
        if (!annex_t) return -1;
        // Annex T.4 extended level: 5 low bits, then 6 high bits (signed), in
        // the order of the standard (and of ffmpeg's encoder and decoder);
        // reading 6 low bits first would scramble every extended level.
        const int low = static_cast<int>(br.ReadBits(5));
        const int high = static_cast<int>(br.ReadBits(6));
        level = ((high << 5) | low);
        if (level >= 1024) level -= 2048;
        if (level == 0) return -1;
      } else if (level > 128) {
        level -= 256;
      }
    } else {
      br.SkipBits(e.length + 1);
      last = code >> 12;
      run = (code >> 6) & 63;
      level = code & 63;
      if ((next >> (code_bits - e.length)) & 1) level = -level;
    }
    pos += run;
    if (pos > 63) return -1;
    const int natural = scan[pos];
    if (natural != 0) *ac_seen = true;
    if (kRaw) {
      block[natural] = static_cast<int16_t>(std::clamp(level, -32768, 32767));
    } else {
      // |REC| = QUANT (2 |LEVEL| + 1), less 1 for even QUANT (H.263 6.2.1).
      const int mag = std::abs(level);
      int rec = quant * (2 * mag + 1) - ((quant & 1) ? 0 : 1);
      rec = ClipCoefficient(level < 0 ? -rec : rec);
      block[natural] = static_cast<int16_t>((rec * kIdctScale[natural]) >> 12);
    }
    ++pos;
    if (last) return pos;
  }
}

// Annex I: predicts, reconstructs and stores block `b` of macroblock (x, y)
// from its raw levels; leaves the prescaled coefficients in `block`.
void ReconstructAdvancedIntra(H263Decoder* d, int x, int y, int b, int16_t* block, int quant) {
  const int cols = d->mb_cols;
  const int idx = y * cols + x;
  const H263Macroblock& self = d->cur_mbs[idx];
  H263AicMacroblock& store = d->aic[idx];
  auto intra_neighbour = [&](int nx, int ny) -> const H263AicMacroblock* {
    if (nx < 0 || ny < 0) return nullptr;
    const H263Macroblock& m = d->cur_mbs[ny * cols + nx];
    if (m.status != kMbDecoded || m.type != kMbIntra || m.segment != self.segment) return nullptr;
    return &d->aic[ny * cols + nx];
  };
  const H263AicBlock* above = nullptr;
  const H263AicBlock* left = nullptr;
  if (b < 4) {
    if (b >= 2) above = &store.block[b - 2];
    else if (const H263AicMacroblock* m = intra_neighbour(x, y - 1)) above = &m->block[b + 2];
    if (b & 1) left = &store.block[b - 1];
    else if (const H263AicMacroblock* m = intra_neighbour(x - 1, y)) left = &m->block[b + 1];
  } else {
    if (const H263AicMacroblock* m = intra_neighbour(x, y - 1)) above = &m->block[b];
    if (const H263AicMacroblock* m = intra_neighbour(x - 1, y)) left = &m->block[b];
  }

  int c[64];
  for (int i = 0; i < 64; ++i) c[i] = ClipCoefficient(2 * quant * block[i]);
  switch (self.intra_mode) {
    case 2:  // vertical: DC and first row from the block above
      if (above) {
        for (int i = 0; i < 8; ++i) c[i] += above->row[i];
      } else {
        c[0] += 1024;
      }
      break;
    case 3:  // horizontal: DC and first column from the block to the left
      if (left) {
        for (int i = 0; i < 8; ++i) c[i * 8] += left->col[i];
      } else {
        c[0] += 1024;
      }
      break;
    default:  // DC only
      if (above && left) c[0] += (above->row[0] + left->col[0]) >> 1;
      else if (above) c[0] += above->row[0];
      else if (left) c[0] += left->col[0];
      else c[0] += 1024;
      break;
  }
  for (int i = 0; i < 8; ++i) {
    c[i] = ClipCoefficient(c[i]);
    c[i * 8] = ClipCoefficient(c[i * 8]);
  }
  // Annex I.3: the reconstructed DC is clipped at 0 and made odd, as the
  // standard and the reference decoder do, beyond the -2048..2047 clip of the
  // other coefficients; the DC stored here also predicts the blocks that
  // follow, so it must be the standard's.
  if (c[0] < 0) c[0] = 0;
  else c[0] |= 1;
  H263AicBlock& own = store.block[b];
  for (int i = 0; i < 8; ++i) {
    own.row[i] = static_cast<int16_t>(c[i]);
    own.col[i] = static_cast<int16_t>(c[i * 8]);
  }
  d->cur_mbs[idx].dc[b] = static_cast<int16_t>(c[0]);
  for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>((c[i] * kIdctScale[i] + 2048) >> 12);
}

uint8_t* BlockPointer(const DecodedPicture& pic, int x, int y, int b, ptrdiff_t* stride) {
  if (b < 4) {
    *stride = pic.width;
    return pic.y + static_cast<ptrdiff_t>(y * 16 + (b >> 1) * 8) * pic.width + x * 16 + (b & 1) * 8;
  }
  *stride = pic.width / 2;
  uint8_t* plane = b == 4 ? pic.u : pic.v;
  return plane + static_cast<ptrdiff_t>(y * 8) * (pic.width / 2) + x * 8;
}

}  // namespace

int32_t DecodeH263Macroblock(H263Decoder* d, int x, int y) {
  BitReader& br = d->reader;
  H263PictureState& ps = d->ps;
  const H263Vlc& vlc = *d->vlc;
  H263Macroblock& mb = d->cur_mbs[y * d->mb_cols + x];
  mb.segment = ps.segment;
  mb.intra_mode = 0;
  std::memset(mb.dc, 0, sizeof mb.dc);
  std::memset(mb.mv, 0, sizeof mb.mv);

  int type, cbpc;
  if (ps.picture_type == 0) {
    int v;
    do {
      v = vlc.intra_mcbpc.Decode(br);
      if (v < 0) return VDEC_ERR_STREAM;
    } while ((v >> 4) == kMbStuffing);
    type = v >> 4;
    cbpc = v & 3;
  } else {
    int v;
    for (;;) {
      if (br.ReadBit()) {
        // COD = 1: not coded, copied from the reference.
        mb.type = kMbInter;
        mb.status = kMbNotCoded;
        mb.quant = ps.quant;
        mb.cbp = 0;
        CopyMacroblock(d->ref, d->cur, x, y);
        return VDEC_OK;
      }
      v = vlc.inter_mcbpc.Decode(br);
      if (v < 0) return VDEC_ERR_STREAM;
      if ((v >> 4) != kMbStuffing) break;
    }
    type = v >> 4;
    cbpc = v & 3;
    if (type == kMbInter4VQ && !ps.deblocking) return VDEC_ERR_STREAM;
  }
  const bool intra = type == kMbIntra || type == kMbIntraQ;
  if (intra && ps.annex_i) {
    if (br.ReadBit() == 0) mb.intra_mode = 0;
    else mb.intra_mode = static_cast<uint8_t>(2 + br.ReadBit());
  }
  int cbpy = vlc.cbpy.Decode(br);
  if (cbpy < 0) return VDEC_ERR_STREAM;
  if (!intra) cbpy ^= 15;
  if (type == kMbInterQ || type == kMbIntraQ || type == kMbInter4VQ) {
    if (ReadDquant(d) != VDEC_OK) return VDEC_ERR_STREAM;
    type = type == kMbInterQ ? kMbInter : (type == kMbIntraQ ? kMbIntra : kMbInter4V);
  }
  mb.type = static_cast<uint8_t>(type);
  mb.quant = ps.quant;
  mb.cbp = static_cast<uint8_t>((cbpc << 4) | cbpy);

  const bool four_mv = type == kMbInter4V;
  if (!intra) {
    const int blocks = four_mv ? 4 : 1;
    for (int b = 0; b < blocks; ++b) {
      const MotionVector pred = PredictVector(d, x, y, b);
      int mx, my;
      if (ReadMvComponent(d, pred.x, &mx) != VDEC_OK) return VDEC_ERR_STREAM;
      if (ReadMvComponent(d, pred.y, &my) != VDEC_OK) return VDEC_ERR_STREAM;
      // Annex D.2: after two differences of exactly one half sample a stuffing
      // bit follows, so that no start code can be emulated.
      if (ps.extended && ps.annex_d && mx - pred.x == 1 && my - pred.y == 1) br.SkipBits(1);
      const MotionVector v{static_cast<int16_t>(mx), static_cast<int16_t>(my)};
      if (four_mv) {
        mb.mv[b] = v;
      } else {
        for (auto& m : mb.mv) m = v;
      }
    }
  }

  // Coefficients and reconstruction, block by block.
  const int quant = ps.quant;
  const int chroma_quant = ps.annex_t ? kH263ChromaQuant[quant] : quant;
  const bool advanced_intra = intra && ps.annex_i;
  if (!intra) PredictMacroblock(d->mc, d->ref, d->cur, x, y, mb.mv, four_mv, static_cast<int>(ps.rounding_type));
  for (int b = 0; b < 6; ++b) {
    // CBPY bits 3..0 are blocks 0..3, CBPC bits 5 and 4 blocks 4 and 5.
    const bool coded = (mb.cbp >> (b < 4 ? 3 - b : 9 - b)) & 1;
    const int q = b < 4 ? quant : chroma_quant;
    int16_t* block = d->coeffs + b * 64;
    ptrdiff_t stride;
    uint8_t* dst = BlockPointer(d->cur, x, y, b, &stride);
    if (advanced_intra) {
      ClearBlock(block);
      bool ac_seen = false;
      if (coded) {
        const uint8_t* scan = mb.intra_mode == 2   ? kAlternateHorizontalScan
                              : mb.intra_mode == 3 ? kAlternateVerticalScan
                                                   : kZigzagScan;
        if (ReadCoefficients<true>(d, block, 0, vlc.aic_tcoef, scan, q, &ac_seen) < 0) return VDEC_ERR_STREAM;
      }
      ReconstructAdvancedIntra(d, x, y, b, block, q);
      d->idct.idct_put(dst, stride, block);
      continue;
    }
    if (intra) {
      ClearBlock(block);
      // INTRADC: 8 bits, 128 is not used, 255 stands for 128 (REC 1024).
      int dc = static_cast<int>(br.ReadBits(8));
      if (dc == 128) return VDEC_ERR_STREAM;
      if (dc == 255) dc = 128;
      const int rec = std::min(dc * 8, 2047);
      block[0] = static_cast<int16_t>(rec * 8);
      mb.dc[b] = static_cast<int16_t>(rec);
      bool ac_seen = false;
      if (coded && ReadCoefficients<false>(d, block, 1, vlc.tcoef, kZigzagScan, q, &ac_seen) < 0)
        return VDEC_ERR_STREAM;
      if (ac_seen) d->idct.idct_put(dst, stride, block);
      else d->idct.idct_dc_put(dst, stride, block);
      continue;
    }
    if (!coded) continue;
    ClearBlock(block);
    bool ac_seen = false;
    if (ReadCoefficients<false>(d, block, 0, vlc.tcoef, kZigzagScan, q, &ac_seen) < 0) return VDEC_ERR_STREAM;
    mb.dc[b] = static_cast<int16_t>((block[0] * 4096) / kIdctScale[0]);
    if (ac_seen) d->idct.idct_add(dst, stride, block);
    else d->idct.idct_dc_add(dst, stride, block);
  }
  mb.status = kMbDecoded;
  return VDEC_OK;
}

}  // namespace videodec
