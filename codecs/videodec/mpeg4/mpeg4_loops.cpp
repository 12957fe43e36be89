// VOP decoding loops of ISO/IEC 14496-2: the start of a VOP, video packets and
// resynchronisation (E.1.1), the combined and data-partitioned macroblock
// syntaxes (6.2.6, E.1.2), reversible VLC read in both directions (E.1.3), and
// the short video header with its GOBs (6.2.7). Three modes share them: whole
// picture, one packet per call, and resumable packets.
#include <algorithm>
#include <climits>
#include <cstring>

#include "codecs/videodec/mpeg4/mpeg4_state.h"
#include "codecs/videodec/mpeg4/mpeg4_vlc.h"

namespace videodec {
namespace {

constexpr int kDquant[4] = {-1, -2, 1, 2};
constexpr uint32_t kDcMarker = 0x6B001;     // 19 bits
constexpr uint32_t kMotionMarker = 0x1F001;  // 17 bits

// How a packet ended.
enum PacketEnd {
  kEndNextPacket,  // a resync marker follows
  kEndVop,         // the VOP's last macroblock, a start code, or the end of data
  kEndFailed,      // a macroblock or partition failed; the reader is resynchronised
};

uint8_t CodedPattern(int cbpy, int cbpc) {
  uint8_t cbp = 0;
  for (int i = 0; i < 4; ++i) {
    if (cbpy & (8 >> i)) cbp |= static_cast<uint8_t>(1 << i);
  }
  if (cbpc & 2) cbp |= 16;
  if (cbpc & 1) cbp |= 32;
  return cbp;
}

int ResyncBits(const Mpeg4Decoder& d) { return d.vop.coding_type == 1 ? 16 + d.vop.fcode : 17; }

// The stuffing in front of a resync marker or start code: a 0 and ones up to
// the byte boundary (a whole byte 0x7F when aligned). Returns its length, or
// 0 when the bits are no stuffing.
int StuffingLength(const Mpeg4Bits& b) {
  int k = b.BitsToBoundary();
  if (k == 0) k = 8;
  return b.Show(k) == (1u << (k - 1)) - 1 ? k : 0;
}

bool IsResyncAt(const Mpeg4Decoder& d, uint64_t pos) {
  const int n = ResyncBits(d);
  return d.bits.Peek(pos, n) == 1;
}

// A resync marker of any forward code (16 zero bits, then a one within the
// next 7 bits): what the marker may be when the VOP header was lost.
bool IsAnyResyncAt(const Mpeg4Bits& b, uint64_t pos) {
  const uint32_t v = b.Peek(pos, 23);
  return (v >> 7) == 0 && (v & 0x7F) != 0;
}

bool IsStartOrZerosAt(const Mpeg4Bits& b, uint64_t pos) {
  const uint32_t v = b.Peek(pos, 32);
  return v == 0 || (v >> 8) == 1;
}

// Moves forward byte by byte from the next boundary to a resync marker, a
// start code or 32 zero bits (or the end of data).
void Resync(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  if (b.Overrun()) d.overran = true;
  b.AlignUp();
  while (b.BitsLeft() >= 32) {
    if (IsStartOrZerosAt(b, b.Pos())) return;
    if (d.vop.header_valid ? IsResyncAt(d, b.Pos()) : IsAnyResyncAt(b, b.Pos())) return;
    b.Skip(8);
  }
  // The search ran out of input: in resumable mode the unit is taken again
  // with more data.
  d.overran = true;
  b.Seek(std::max(b.Pos(), b.SizeBits()));
}

// Short header: a bit-wise search for a picture (22 bits 0x20) or GOB start
// code (17 bits 1), or 32 zero bits.
void ResyncShortHeader(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  if (b.Overrun()) d.overran = true;
  while (b.BitsLeft() >= 32) {
    const uint32_t v = b.Show(32);
    if (v == 0 || (v >> 10) == 0x20 || (v >> 15) == 1) return;
    b.Skip(1);
  }
  d.overran = true;
  b.Seek(std::max(b.Pos(), b.SizeBits()));
}

void MarkDamaged(Mpeg4Decoder& d, uint32_t from, uint32_t to_inclusive, uint8_t status) {
  Mpeg4MacroblockRecord* recs = d.cur_records();
  for (uint32_t i = from; i <= to_inclusive && i < d.mb_count; ++i) recs[i].status = status;
}

// After a failed macroblock: it and the one or two before it in the packet.
void MarkFailure(Mpeg4Decoder& d, uint32_t mb, uint32_t first_mb) {
  const uint32_t from = mb >= first_mb + 2 ? mb - 2 : first_mb;
  MarkDamaged(d, from, mb, kMbDamaged);
}

// After a macroblock: decides whether the packet goes on. Consumes the
// stuffing when the packet ends.
PacketEnd CheckPacketEnd(Mpeg4Decoder& d, uint32_t next_mb, bool* more) {
  Mpeg4Bits& b = d.bits;
  *more = false;
  const int k = StuffingLength(b);
  if (k) {
    const uint64_t after = b.Pos() + static_cast<uint64_t>(k);
    if (IsResyncAt(d, after)) {
      b.Skip(k);
      return next_mb >= d.mb_count ? kEndVop : kEndNextPacket;
    }
    if (IsStartOrZerosAt(b, after)) {
      b.Skip(k);
      return kEndVop;
    }
  }
  if (next_mb >= d.mb_count) {
    if (k) b.Skip(k);
    return kEndVop;
  }
  if (b.BitsLeft() == 0) return kEndVop;
  *more = true;
  return kEndVop;
}

void SetNotCoded(Mpeg4MacroblockRecord& r, int qp) {
  r.status = kMbNotCoded;
  r.type = kMbInter;
  r.cbp = 0;
  r.quant = static_cast<uint8_t>(qp);
  r.ac_pred = 0;
  std::memset(r.mv, 0, sizeof(r.mv));
}

bool ReadVectors(Mpeg4Decoder& d, Mpeg4MacroblockRecord& r) {
  const int pairs = r.type == kMbInter4v ? 4 : 1;
  for (int k = 0; k < pairs; ++k) {
    const int x = Mpeg4ReadMvd(d.bits, d.vop.fcode);
    if (x == INT_MIN) return false;
    const int y = Mpeg4ReadMvd(d.bits, d.vop.fcode);
    if (y == INT_MIN) return false;
    r.mv[k * 2] = static_cast<int16_t>(x);
    r.mv[k * 2 + 1] = static_cast<int16_t>(y);
  }
  return true;
}

// Reads a macroblock's not-coded flag (P-VOPs) and its MCBPC, passing over
// stuffing. Returns 0 when the macroblock is not coded (it is copied from the
// reference), 1 with *mcbpc set when its data follows, -1 on a bad code.
int ReadMcbpc(Mpeg4Decoder& d, uint32_t mb, int qp, int* mcbpc) {
  Mpeg4Bits& b = d.bits;
  const bool p_vop = d.vop.coding_type == 1;
  for (;;) {
    if (p_vop) {
      if (b.Read1()) {
        SetNotCoded(d.cur_records()[mb], qp);
        Mpeg4CopyMacroblock(d, mb);
        return 0;
      }
      *mcbpc = Mpeg4ReadMcbpcInter(b);
    } else {
      *mcbpc = Mpeg4ReadMcbpcIntra(b);
    }
    if (*mcbpc < 0) return -1;
    if (*mcbpc != kMpeg4Stuffing) return 1;
    if (b.Overrun()) return -1;
  }
}

// --- Combined syntax --------------------------------------------------------

int DecodeCombinedMacroblock(Mpeg4Decoder& d, uint32_t mb, int* qp, bool first_in_packet, bool rvlc) {
  Mpeg4Bits& b = d.bits;
  Mpeg4MacroblockRecord& r = d.cur_records()[mb];
  int mcbpc;
  const int coded = ReadMcbpc(d, mb, *qp, &mcbpc);
  if (coded <= 0) return coded;
  const int type = mcbpc & 15;
  const bool intra = type >= kMbIntra;
  r.ac_pred = intra ? static_cast<uint8_t>(b.Read1()) : 0;
  int cbpy = Mpeg4ReadCbpy(b);
  if (cbpy < 0) return -1;
  if (!intra) cbpy = 15 - cbpy;
  const int running = *qp;
  if (type == kMbInterQ || type == kMbIntraQ) *qp = std::clamp(*qp + kDquant[b.Read(2)], 1, 31);
  r.quant = static_cast<uint8_t>(*qp);
  r.cbp = CodedPattern(cbpy, mcbpc >> 4);
  if (intra) {
    r.type = kMbIntra;
    std::memset(r.mv, 0, sizeof(r.mv));
    r.dc_as_ac = (first_in_packet ? *qp : running) >= d.vop.intra_dc_threshold ? 1 : 0;
    if (Mpeg4DecodeIntraTexture(d, mb, nullptr, rvlc) != 0) return -1;
  } else {
    r.type = type == kMbInter4v ? kMbInter4v : kMbInter;
    if (!ReadVectors(d, r)) return -1;
    Mpeg4ReconstructVectors(d, mb);
    Mpeg4PredictMacroblock(d, mb);
    if (r.cbp && Mpeg4DecodeInterTexture(d, mb, rvlc) != 0) return -1;
  }
  r.status = kMbDecoded;
  return 0;
}

PacketEnd DecodeCombinedPacket(Mpeg4Decoder& d, uint32_t first_mb, int quant) {
  const uint16_t packet = ++d.vop.packet_counter;
  int qp = quant;
  uint32_t mb = first_mb;
  bool first = true;
  while (mb < d.mb_count) {
    Mpeg4MacroblockRecord& r = d.cur_records()[mb];
    r.packet = packet;
    if (DecodeCombinedMacroblock(d, mb, &qp, first, false) != 0) {
      MarkFailure(d, mb, first_mb);
      Resync(d);
      return kEndFailed;
    }
    first = false;
    ++mb;
    d.next_mb = mb;
    bool more;
    const PacketEnd end = CheckPacketEnd(d, mb, &more);
    if (!more) return end;
  }
  return kEndVop;
}

// --- Partitioned syntax -----------------------------------------------------

// Statuses after a failure in the second or texture partition: intra -> 2,
// coded inter -> 4 (motion known).
void DemotePacket(Mpeg4Decoder& d, uint32_t from, uint32_t to_inclusive) {
  Mpeg4MacroblockRecord* recs = d.cur_records();
  for (uint32_t i = from; i <= to_inclusive; ++i) {
    Mpeg4MacroblockRecord& r = recs[i];
    if (r.status == kMbNotCoded) continue;
    r.status = r.type == kMbIntra ? kMbDamaged : kMbMotionOnly;
  }
}

// Finishes each macroblock of the packet by its status.
void FinishPacket(Mpeg4Decoder& d, uint32_t first_mb, uint32_t last_mb) {
  Mpeg4MacroblockRecord* recs = d.cur_records();
  for (uint32_t i = first_mb; i <= last_mb; ++i) {
    Mpeg4MacroblockRecord& r = recs[i];
    if (r.status == kMbNotCoded) {
      Mpeg4CopyMacroblock(d, i);
    } else if (r.status == kMbMotionOnly) {
      Mpeg4PredictMacroblock(d, i);
    } else if (r.status == kMbDamagedDc) {
      int diff[6];
      for (int k = 0; k < 6; ++k) diff[k] = d.dc_diffs[(i - first_mb) * 6 + static_cast<uint32_t>(k)];
      Mpeg4ReconstructDcOnly(d, i, diff);
    }
  }
}

int ReadDcDiffs(Mpeg4Decoder& d, uint32_t slot) {
  for (int k = 0; k < 6; ++k) {
    int diff;
    if (!Mpeg4ReadDcDifferential(d.bits, k < 4, &diff)) return -1;
    d.dc_diffs[slot * 6 + static_cast<uint32_t>(k)] = static_cast<int16_t>(diff);
  }
  return 0;
}

// Reversible VLC: decodes the packet's texture backwards from its end down to
// macroblock `low` after a forward failure.
void DecodeBackward(Mpeg4Decoder& d, uint32_t last_mb, uint32_t low, uint64_t texture_begin) {
  Mpeg4Bits& b = d.bits;
  Resync(d);
  uint64_t end = std::min(b.Pos(), b.SizeBits());
  // Remove the stuffing backwards: up to seven ones and the zero before them.
  int ones = 0;
  while (ones < 7 && end > texture_begin && b.Peek(end - 1, 1) == 1) {
    --end;
    ++ones;
  }
  if (end > texture_begin && b.Peek(end - 1, 1) == 0) --end;
  d.rvlc_has_pending = false;
  Mpeg4MacroblockRecord* recs = d.cur_records();
  for (uint32_t j = last_mb + 1; j-- > low;) {
    Mpeg4MacroblockRecord& r = recs[j];
    if (r.status == kMbNotCoded) continue;
    int ok;
    if (r.type == kMbIntra) {
      r.status = kMbDamaged;
      ok = Mpeg4SkipIntraTextureBackward(d, j, texture_begin, &end);
    } else {
      Mpeg4PredictMacroblock(d, j);
      ok = Mpeg4DecodeInterTextureBackward(d, j, texture_begin, &end);
      if (ok == 0) r.status = kMbDecoded;
    }
    if (ok != 0) {
      DemotePacket(d, low, std::min(j + 2, last_mb));
      break;
    }
  }
}

PacketEnd DecodePartitionedPacket(Mpeg4Decoder& d, uint32_t first_mb, int quant) {
  Mpeg4Bits& b = d.bits;
  const uint16_t packet = ++d.vop.packet_counter;
  const bool p_vop = d.vop.coding_type == 1;
  const bool rvlc = d.layer.reversible_vlc != 0;
  Mpeg4MacroblockRecord* recs = d.cur_records();
  int qp = quant;
  uint32_t mb = first_mb;
  // First partition: DC (I-VOP) or motion (P-VOP), up to its marker.
  const uint32_t marker = p_vop ? kMotionMarker : kDcMarker;
  const int marker_bits = p_vop ? 17 : 19;
  while (b.Show(marker_bits) != marker) {
    if (mb >= d.mb_count || b.Overrun()) {
      if (mb > first_mb) MarkDamaged(d, first_mb, mb - 1, kMbDamaged);
      Resync(d);
      return kEndFailed;
    }
    Mpeg4MacroblockRecord& r = recs[mb];
    r.packet = packet;
    r.status = kMbDecoded;
    r.ac_pred = 0;
    std::memset(r.mv, 0, sizeof(r.mv));
    bool ok = true;
    if (p_vop) {
      int mcbpc;
      for (;;) {
        if (b.Read1()) {
          mcbpc = -2;
          break;
        }
        mcbpc = Mpeg4ReadMcbpcInter(b);
        if (mcbpc != kMpeg4Stuffing || b.Overrun()) break;
      }
      if (mcbpc == -2) {
        SetNotCoded(r, qp);
      } else if (mcbpc < 0 || mcbpc == kMpeg4Stuffing) {
        ok = false;
      } else {
        const int type = mcbpc & 15;
        r.cbp = CodedPattern(0, mcbpc >> 4);
        if (type >= kMbIntra) {
          r.type = static_cast<uint8_t>(type);  // 3 or 4 until the second partition
        } else {
          r.type = static_cast<uint8_t>(type);
          const uint8_t saved = r.type;
          r.type = type == kMbInter4v ? kMbInter4v : kMbInter;
          ok = ReadVectors(d, r);
          if (ok) Mpeg4ReconstructVectors(d, mb);
          r.type = saved;
        }
      }
    } else {
      int mcbpc;
      do {
        mcbpc = Mpeg4ReadMcbpcIntra(b);
      } while (mcbpc == kMpeg4Stuffing && !b.Overrun());
      if (mcbpc < 0 || mcbpc == kMpeg4Stuffing) {
        ok = false;
      } else {
        const int type = mcbpc & 15;
        r.cbp = CodedPattern(0, mcbpc >> 4);
        const int running = qp;
        if (type == kMbIntraQ) qp = std::clamp(qp + kDquant[b.Read(2)], 1, 31);
        r.type = kMbIntra;
        r.quant = static_cast<uint8_t>(qp);
        r.dc_as_ac = (mb == first_mb ? qp : running) >= d.vop.intra_dc_threshold ? 1 : 0;
        if (!r.dc_as_ac) ok = ReadDcDiffs(d, mb - first_mb) == 0;
      }
    }
    if (!ok) {
      MarkDamaged(d, first_mb, mb, kMbDamaged);
      Resync(d);
      return kEndFailed;
    }
    ++mb;
  }
  b.Skip(marker_bits);
  const uint32_t end_mb = mb;  // one past the packet's last macroblock
  d.next_mb = end_mb;
  if (end_mb == first_mb) {
    Resync(d);
    return kEndFailed;
  }
  const uint32_t last_mb = end_mb - 1;
  // Second partition.
  bool failed = false;
  for (uint32_t i = first_mb; i < end_mb && !failed; ++i) {
    Mpeg4MacroblockRecord& r = recs[i];
    if (!p_vop) {
      r.ac_pred = static_cast<uint8_t>(b.Read1());
      const int cbpy = Mpeg4ReadCbpy(b);
      if (cbpy < 0) {
        failed = true;
        break;
      }
      r.cbp = static_cast<uint8_t>(r.cbp | CodedPattern(cbpy, 0));
      continue;
    }
    if (r.status == kMbNotCoded) continue;
    const bool intra = r.type >= kMbIntra;
    if (intra) r.ac_pred = static_cast<uint8_t>(b.Read1());
    int cbpy = Mpeg4ReadCbpy(b);
    if (cbpy < 0) {
      failed = true;
      break;
    }
    if (!intra) cbpy = 15 - cbpy;
    r.cbp = static_cast<uint8_t>(r.cbp | CodedPattern(cbpy, 0));
    const int running = qp;
    if (r.type == kMbInterQ || r.type == kMbIntraQ) qp = std::clamp(qp + kDquant[b.Read(2)], 1, 31);
    r.quant = static_cast<uint8_t>(qp);
    if (intra) {
      r.type = kMbIntra;
      r.dc_as_ac = (i == first_mb ? qp : running) >= d.vop.intra_dc_threshold ? 1 : 0;
      if (!r.dc_as_ac && ReadDcDiffs(d, i - first_mb) != 0) {
        failed = true;
        break;
      }
    } else if (r.type == kMbInterQ) {
      r.type = kMbInter;
    }
  }
  if (p_vop) {
    // Not-coded macroblocks take the running quantiser too.
    int q = quant;
    for (uint32_t i = first_mb; i < end_mb; ++i) {
      if (recs[i].status == kMbNotCoded) recs[i].quant = static_cast<uint8_t>(q);
      else q = recs[i].quant;
    }
  }
  if (failed) {
    if (!p_vop) {
      for (uint32_t i = first_mb; i < end_mb; ++i) recs[i].status = recs[i].dc_as_ac ? kMbDamaged : kMbDamagedDc;
    } else {
      for (uint32_t i = first_mb; i < end_mb; ++i) {
        if (recs[i].type >= kMbIntra && recs[i].status != kMbNotCoded) recs[i].type = kMbIntra;
        if (recs[i].type == kMbInterQ) recs[i].type = kMbInter;
      }
      DemotePacket(d, first_mb, last_mb);
    }
    FinishPacket(d, first_mb, last_mb);
    Resync(d);
    return kEndFailed;
  }
  // Texture partition.
  const uint64_t texture_begin = b.Pos();
  for (uint32_t i = first_mb; i < end_mb; ++i) {
    Mpeg4MacroblockRecord& r = recs[i];
    if (r.status != kMbDecoded) continue;
    int ok;
    if (r.type == kMbIntra) {
      int diff[6] = {0, 0, 0, 0, 0, 0};
      if (!r.dc_as_ac) {
        for (int k = 0; k < 6; ++k) diff[k] = d.dc_diffs[(i - first_mb) * 6 + static_cast<uint32_t>(k)];
      }
      ok = Mpeg4DecodeIntraTexture(d, i, r.dc_as_ac ? nullptr : diff, rvlc);
    } else {
      Mpeg4PredictMacroblock(d, i);
      ok = r.cbp ? Mpeg4DecodeInterTexture(d, i, rvlc) : 0;
    }
    if (ok != 0 || b.Overrun()) {
      const uint32_t low = i >= first_mb + 2 ? i - 2 : first_mb;
      DemotePacket(d, low, last_mb);
      if (rvlc) {
        DecodeBackward(d, last_mb, low, texture_begin);
        FinishPacket(d, first_mb, last_mb);
        return kEndFailed;
      }
      FinishPacket(d, first_mb, last_mb);
      Resync(d);
      return kEndFailed;
    }
  }
  FinishPacket(d, first_mb, last_mb);
  bool more;
  const PacketEnd end = CheckPacketEnd(d, end_mb, &more);
  if (more) {
    // The texture partition ended without stuffing in front of a marker.
    Resync(d);
    return IsResyncAt(d, b.Pos()) ? kEndNextPacket : kEndVop;
  }
  return end;
}

PacketEnd DecodePacket(Mpeg4Decoder& d, uint32_t first_mb, int quant) {
  if (first_mb >= d.mb_count) {
    Resync(d);
    return kEndFailed;
  }
  return d.layer.data_partitioned ? DecodePartitionedPacket(d, first_mb, quant) : DecodeCombinedPacket(d, first_mb, quant);
}

// --- Short header -----------------------------------------------------------

int DecodeShortHeaderMacroblock(Mpeg4Decoder& d, uint32_t mb, int* qp) {
  Mpeg4Bits& b = d.bits;
  Mpeg4MacroblockRecord& r = d.cur_records()[mb];
  int mcbpc;
  const int coded = ReadMcbpc(d, mb, *qp, &mcbpc);
  if (coded <= 0) return coded;
  const int type = mcbpc & 15;
  if (type == kMbInter4v) return -1;
  const bool intra = type >= kMbIntra;
  int cbpy = Mpeg4ReadCbpy(b);
  if (cbpy < 0) return -1;
  if (!intra) cbpy = 15 - cbpy;
  if (type == kMbInterQ || type == kMbIntraQ) *qp = std::clamp(*qp + kDquant[b.Read(2)], 1, 31);
  r.quant = static_cast<uint8_t>(*qp);
  r.cbp = CodedPattern(cbpy, mcbpc >> 4);
  r.ac_pred = 0;
  if (intra) {
    r.type = kMbIntra;
    std::memset(r.mv, 0, sizeof(r.mv));
    if (Mpeg4DecodeShortHeaderIntra(d, mb) != 0) return -1;
  } else {
    r.type = kMbInter;
    if (!ReadVectors(d, r)) return -1;
    Mpeg4ReconstructVectors(d, mb);
    Mpeg4PredictMacroblock(d, mb);
    if (r.cbp && Mpeg4DecodeShortHeaderInter(d, mb) != 0) return -1;
  }
  r.status = kMbDecoded;
  return 0;
}

// One GOB and the GOBs without header that follow it (they continue at any
// bit position, so they belong to the same call): returns kEndVop at the
// picture's end, kEndNextPacket when a GOB header follows, kEndFailed after a
// failure (reader resynchronised).
PacketEnd DecodeGob(Mpeg4Decoder& d, int gob, int quant, bool new_packet) {
  Mpeg4Bits& b = d.bits;
  if (new_packet || d.vop.packet_counter == 0) ++d.vop.packet_counter;
  const uint16_t packet = d.vop.packet_counter;
  const uint32_t per_gob = d.gob_rows * d.mb_cols;
  int qp = quant;
  for (;;) {
    const uint32_t first = static_cast<uint32_t>(gob) * per_gob;
    const uint32_t end = std::min(first + per_gob, d.mb_count);
    d.last_gob = gob;
    for (uint32_t mb = first; mb < end; ++mb) {
      d.cur_records()[mb].packet = packet;
      d.next_mb = mb + 1;
      if (DecodeShortHeaderMacroblock(d, mb, &qp) != 0) {
        MarkFailure(d, mb, first);
        ResyncShortHeader(d);
        return kEndFailed;
      }
    }
    d.vop.quant = static_cast<uint8_t>(qp);
    // Zero stuffing to the byte boundary in front of a start code.
    const int k = b.BitsToBoundary();
    if (k && b.Show(k) == 0) {
      const uint32_t v = b.Peek(b.Pos() + static_cast<uint64_t>(k), 32);
      if (v == 0 || (v >> 10) == 0x20 || (v >> 15) == 1) b.Skip(k);
    }
    const uint32_t v = b.Show(32);
    if (v == 0 || (v >> 10) == 0x20 || b.BitsLeft() == 0) return kEndVop;
    if (end >= d.mb_count) return kEndVop;
    if ((v >> 15) == 1) return kEndNextPacket;
    ++gob;
  }
}

// --- Start of a VOP ---------------------------------------------------------

void ResetRecords(Mpeg4Decoder& d) {
  Mpeg4MacroblockRecord* recs = d.cur_records();
  for (uint32_t i = 0; i < d.mb_count; ++i) {
    recs[i].status = kMbDamaged;
    recs[i].packet = 0;
  }
  d.vop.packet_counter = 0;
  d.last_gob = -1;
  d.next_mb = 0;
}

enum StartResult {
  kStartDecode = 1,      // a coded VOP header was read: decode its packets
  kStartLostHeader = 2,  // the VOP header failed but packets follow: they may carry it
};

// What follows a VOP header (or the header extension that stands in for a
// lost one): refuses a P-VOP without reference, pads the reference, and
// marks the picture as being decoded. kStartDecode, 0 (not coded) or a status.
int32_t BeginVop(Mpeg4Decoder& d) {
  d.vop.header_valid = 1;
  if (!d.vop.coded) return 0;
  if (d.vop.coding_type == 1 && d.vop.reference_state == kRefNone) {
    if (d.layer.short_header) ResyncShortHeader(d);
    else Mpeg4SeekStartCode(d);
    return VDEC_WAITING_FOR_INTRA;
  }
  if (d.vop.coding_type == 0 && d.vop.reference_state == kRefNone) d.vop.reference_state = kRefDecodingFirstI;
  d.picture_pending = true;
  if (d.vop.coding_type == 1 && !d.option_flag && ((d.layer.width & 15) || (d.layer.height & 15))) {
    Mpeg4PadReference(d);
  }
  return kStartDecode;
}

// Reads the headers in front of a VOP and the VOP header. Returns kStartDecode,
// 0 for a VOP that is not coded, or a status.
int32_t StartVop(Mpeg4Decoder& d, bool resumable) {
  Mpeg4Bits& b = d.bits;
  for (int guard = 0; guard < 64; ++guard) {
    if (b.BitsLeft() < 32) return resumable ? VDEC_INPUT_EXHAUSTED : VDEC_ERR_STREAM;
    const uint32_t code = b.Show(32);
    if (d.layer.short_header) {
      if ((code >> 10) == 0x20) {
        d.vop_start = b.Pos();
        ResetRecords(d);
        const uint64_t at = b.Pos();
        const Mpeg4Layer saved_layer = d.layer;
        if (Mpeg4ParseShortVideoHeader(d) != 0) {
          d.layer = saved_layer;
          if (resumable && b.Overrun()) {
            b.Seek(at);
            return VDEC_INPUT_EXHAUSTED;
          }
          b.Skip(1);
          ResyncShortHeader(d);
          continue;
        }
        if (Mpeg4CheckStreamSize(d) != 0) {
          d.layer = saved_layer;
          return VDEC_SIZE_CHANGED;
        }
        return BeginVop(d);
      }
      if (code == 0x1B1) {
        b.Skip(32);
        d.vop.new_vop = 1;
        return VDEC_END_OF_SEQUENCE;
      }
      b.Skip(8);
      ResyncShortHeader(d);
      continue;
    }
    if ((code >> 8) != 1) {
      Mpeg4SeekStartCode(d);
      continue;
    }
    const uint64_t at = b.Pos();
    if (code == 0x1B1) {
      b.Skip(32);
      d.vop.new_vop = 1;
      return VDEC_END_OF_SEQUENCE;
    }
    if (code == 0x1B0) {
      if (Mpeg4ParseVosHeader(d) != 0 || Mpeg4ParseVoHeader(d) != 0) {
        if (resumable && b.Overrun()) {
          b.Seek(at);
          return VDEC_INPUT_EXHAUSTED;
        }
        b.Seek(at + 8);
        Mpeg4SeekStartCode(d);
      }
      continue;
    }
    if (code >= 0x100 && code <= 0x11F) {
      b.Skip(32);
      d.stream.video_object_id = static_cast<uint8_t>(code & 0xFF);
      continue;
    }
    if (code >= 0x120 && code <= 0x12F) {
      // A layer header that is refused, or that changes the size, leaves the
      // set-up layer in place.
      const Mpeg4Layer saved_layer = d.layer;
      const Mpeg4Vop saved_vop = d.vop;
      if (Mpeg4ParseVolHeader(d) != 0) {
        d.layer = saved_layer;
        d.vop = saved_vop;
        if (resumable && b.Overrun()) {
          b.Seek(at);
          return VDEC_INPUT_EXHAUSTED;
        }
        b.Seek(at + 8);
        Mpeg4SeekStartCode(d);
        continue;
      }
      if (Mpeg4CheckStreamSize(d) != 0) {
        d.layer = saved_layer;
        d.vop = saved_vop;
        return VDEC_SIZE_CHANGED;
      }
      continue;
    }
    if (code == 0x1B3) {
      if (Mpeg4ParseGovHeader(d) != 0) {
        if (resumable && b.Overrun()) {
          b.Seek(at);
          return VDEC_INPUT_EXHAUSTED;
        }
        b.Seek(at + 8);
        Mpeg4SeekStartCode(d);
      }
      continue;
    }
    if (code == 0x1B6) {
      d.vop_start = at;
      ResetRecords(d);
      d.vop.header_valid = 0;
      if (Mpeg4ParseVopHeader(d) != 0) {
        if (resumable && b.Overrun()) {
          b.Seek(at);
          return VDEC_INPUT_EXHAUSTED;
        }
        // The VOP's packets may still carry the header in their extension.
        d.vop.header_valid = 0;
        b.Seek(at + 8);
        Resync(d);
        if (b.BitsLeft() >= 32 && IsAnyResyncAt(b, b.Pos())) return kStartLostHeader;
        return VDEC_ERR_STREAM;
      }
      if (resumable && b.Overrun()) {
        b.Seek(at);
        return VDEC_INPUT_EXHAUSTED;
      }
      return BeginVop(d);
    }
    // User data and start codes this decoder does not use.
    b.Skip(32);
    Mpeg4SeekStartCode(d);
  }
  return VDEC_ERR_STREAM;  // no VOP among this many headers
}

// The first packet (GOB) of a VOP, right after its header.
PacketEnd DecodeFirstPacket(Mpeg4Decoder& d) {
  if (d.layer.short_header) return DecodeGob(d, 0, d.vop.quant, true);
  return DecodePacket(d, 0, d.vop.quant);
}

// A packet that starts with its header (resync marker or GOB header).
PacketEnd DecodeNextPacket(Mpeg4Decoder& d, int32_t* status) {
  Mpeg4Bits& b = d.bits;
  if (d.layer.short_header) {
    int gob = d.last_gob + 1, quant = d.vop.quant;
    const int has = Mpeg4ParseGobHeader(d, &gob, &quant);
    if (has < 0 || gob >= static_cast<int>(d.gob_count) || gob <= d.last_gob) {
      *status = VDEC_ERR_STREAM;
      ResyncShortHeader(d);
      if ((b.Show(32) >> 10) != 0x20 && b.Show(32) != 0 && b.BitsLeft() >= 32) b.Skip(1), ResyncShortHeader(d);
      return kEndFailed;
    }
    return DecodeGob(d, gob, quant, has == 1);
  }
  uint32_t first_mb = 0;
  int quant = 0;
  const uint64_t at = b.Pos();
  const bool had_header = d.vop.header_valid != 0;
  if (Mpeg4ParseVideoPacketHeader(d, &first_mb, &quant) != 0) {
    *status = VDEC_ERR_STREAM;
    b.Seek(at + 8);
    Resync(d);
    return kEndFailed;
  }
  if (!had_header) {
    // The header extension stands in for the lost VOP header.
    const int32_t begun = BeginVop(d);
    if (begun != kStartDecode) {
      *status = begun;
      return kEndVop;
    }
  }
  return DecodePacket(d, first_mb, quant);
}

// Resumable mode: the packet ran into the end of the input rather than into
// its real end (the VOP's last macroblock, a marker or a start code).
bool Interrupted(const Mpeg4Decoder& d, PacketEnd end) {
  const Mpeg4Bits& b = d.bits;
  if (b.Overrun() || d.overran) return true;
  if (d.next_mb >= d.mb_count) return false;
  if (end == kEndNextPacket) return false;
  return b.BitsLeft() < 32;
}

bool AtStartCode(const Mpeg4Decoder& d) {
  const uint32_t v = d.bits.Show(32);
  if (d.layer.short_header) return (v >> 10) == 0x20 || (v >> 8) == 1;
  return (v >> 8) == 1;
}

}  // namespace

int32_t Mpeg4DecodeWholePicture(Mpeg4Decoder& d) {
  d.vop.new_vop = 1;
  const int32_t start = StartVop(d, false);
  PacketEnd end;
  if (start == kStartLostHeader) {
    end = kEndNextPacket;
  } else if (start != kStartDecode) {
    return start;
  } else {
    d.vop.new_vop = 0;
    end = DecodeFirstPacket(d);
  }
  d.vop.new_vop = 0;
  for (int guard = 0; end != kEndVop && guard < static_cast<int>(d.mb_count) + 64; ++guard) {
    if (d.bits.BitsLeft() < 8 || AtStartCode(d)) break;
    if (!d.layer.short_header && d.bits.Show(32) == 0) break;
    int32_t status = 0;
    end = DecodeNextPacket(d, &status);
    if (status == VDEC_WAITING_FOR_INTRA) return status;
  }
  // A lost VOP header whose packets carried no extension: nothing decoded.
  if (!d.picture_pending) return VDEC_ERR_STREAM;
  Mpeg4ConcealPicture(d, d.layer.data_partitioned != 0);
  return 0;
}

int32_t Mpeg4DecodePacketMode(Mpeg4Decoder& d, bool resumable) {
  Mpeg4Bits& b = d.bits;
  int32_t status = 0;
  d.overran = false;
  const uint64_t unit_start = b.Pos();
  const uint16_t packets_before = d.vop.packet_counter;
  const int32_t gob_before = d.last_gob;
  PacketEnd end;
  if (resumable && d.resume_stage == kResumeStartCodeSearch) {
    d.resume_stage = kResumeNone;
    if (d.layer.short_header) ResyncShortHeader(d);
    else Mpeg4SeekStartCode(d);
    if (b.BitsLeft() < 32) {
      d.resume_stage = kResumeStartCodeSearch;
      b.Seek(b.SizeBits());
      return VDEC_INPUT_EXHAUSTED;
    }
  }
  if (d.vop.new_vop) {
    const uint8_t state_before = d.vop.reference_state;
    const int32_t start = StartVop(d, resumable);
    if (start == VDEC_WAITING_FOR_INTRA && resumable && b.BitsLeft() < 32) {
      d.resume_stage = kResumeStartCodeSearch;
      b.Seek(b.SizeBits());
      return VDEC_INPUT_EXHAUSTED;
    }
    if (start == 0) {
      d.vop.new_vop = 0;
      return 0;
    }
    if (start == kStartLostHeader) {
      // Later calls take the packets, accepting those with a header extension.
      d.vop.new_vop = 0;
      return VDEC_ERR_STREAM;
    }
    if (start != kStartDecode) return start;
    d.vop.new_vop = 0;
    end = DecodeFirstPacket(d);
    if (resumable && Interrupted(d, end)) {
      // The first packet follows the VOP header without byte alignment: the
      // VOP is taken again from its start code.
      b.Seek(d.vop_start);
      d.vop.new_vop = 1;
      d.picture_pending = false;
      if (state_before == kRefNone) d.vop.reference_state = kRefNone;
      return VDEC_INPUT_EXHAUSTED;
    }
  } else {
    // Resumable: a marker or start code cut by the end of the input cannot be
    // told apart yet.
    if (resumable && b.BitsLeft() < 32) return VDEC_INPUT_EXHAUSTED;
    if (AtStartCode(d) && d.vop.reference_state != kRefNone) return VDEC_PICTURE_OPEN;
    end = DecodeNextPacket(d, &status);
  }
  if (resumable && Interrupted(d, end)) {
    b.Seek(unit_start);
    d.vop.packet_counter = packets_before;
    d.last_gob = gob_before;
    return VDEC_INPUT_EXHAUSTED;
  }
  if (b.BitsLeft() >= 32 && AtStartCode(d) && !d.vop.new_vop) return VDEC_NEXT_PICTURE;
  return status;
}

}  // namespace videodec
