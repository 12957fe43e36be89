// Picture, GOB and slice headers of ITU-T H.263 (5.1, 5.2, Annex K) and the
// start-code searches of the picture loop.
#include "codecs/videodec/h263/h263_decoder_internal.h"

namespace videodec {
namespace {

// Slice headers carry SEPB2 from this many macroblocks on (4CIF).
constexpr int kSepb2MinMbs = 1584;

constexpr uint32_t kPictureStartCode = 0x20;  // 22 bits: 0000 0000 0000 0000 1000 00
constexpr uint32_t kEndOfSequence = 0x3F;     // 22 bits: GBSC with GN 31

struct SourceFormat {
  uint16_t width, height;
};
// Source formats 1..5 (Table 6): sub-QCIF, QCIF, CIF, 4CIF, 16CIF.
constexpr SourceFormat kSourceFormats[6] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};

int32_t HeaderResult(const BitReader& br) { return br.Overrun() ? VDEC_INPUT_EXHAUSTED : VDEC_OK; }

void UpdateTime(H263PictureState& ps, uint32_t tr) {
  // Temporal references count 1001/30000 s; the remainder keeps the
  // millisecond conversion exact over time.
  uint32_t diff = tr - ps.temporal_reference;
  if (ps.temporal_reference > tr) diff = tr + 256 - ps.temporal_reference;
  ps.time_remainder += diff * 1001;
  ps.time += ps.time_remainder / 30;
  ps.time_remainder %= 30;
  ps.temporal_reference = static_cast<uint16_t>(tr);
}

}  // namespace

namespace {

int32_t ParsePictureHeader(H263Decoder* d) {
  BitReader& br = d->reader;
  H263PictureState& ps = d->ps;
  if (br.ReadBits(22) != kPictureStartCode) return VDEC_ERR_STREAM;
  UpdateTime(ps, br.ReadBits(8));

  // PTYPE bits 1..8: marker 1, zero bit, split screen, document camera, freeze
  // release, source format.
  const uint32_t ptype = br.ReadBits(8);
  if (!(ptype & 0x80) || (ptype & 0x40)) return VDEC_ERR_STREAM;
  const uint32_t format = ptype & 7;
  if (format == 0 || format == 6) return VDEC_ERR_STREAM;

  uint16_t width = 0, height = 0;
  if (format != 7) {
    // Baseline: coding type, Annex D, Annex E, Annex F, Annex G.
    const uint32_t bits = br.ReadBits(5);
    ps.picture_type = static_cast<uint8_t>((bits >> 4) & 1);
    ps.annex_d = static_cast<uint8_t>((bits >> 3) & 1);
    // Syntax-based arithmetic coding, advanced prediction and PB-frames are
    // not decoded here: refuse them rather than decode garbage.
    if (bits & 7) return VDEC_ERR_STREAM;
    ps.extended = 0;
    ps.annex_i = ps.annex_j = ps.annex_k = ps.annex_t = 0;
    ps.rounding_type = 0;
    ps.custom_clock = 0;
    ps.source_format = static_cast<uint8_t>(format);
    width = kSourceFormats[format].width;
    height = kSourceFormats[format].height;
  } else {
    ps.extended = 1;
    const uint32_t ufep = br.ReadBits(3);
    if (ufep > 1) return VDEC_ERR_STREAM;
    if (ufep == 1) {
      // OPPTYPE: format, PCF, UMV, SAC, AP, AIC, DF, SS, RPS, ISD, AIV, MQ, 1000.
      const uint32_t op = br.ReadBits(18);
      if ((op & 0xF) != 0x8) return VDEC_ERR_STREAM;
      const uint32_t fmt = op >> 15;
      if (fmt == 0 || fmt == 7) return VDEC_ERR_STREAM;
      ps.source_format = static_cast<uint8_t>(fmt);
      ps.custom_clock = static_cast<uint8_t>((op >> 14) & 1);
      ps.annex_d = static_cast<uint8_t>((op >> 13) & 1);
      const bool sac = (op >> 12) & 1;
      const bool ap = (op >> 11) & 1;
      ps.annex_i = static_cast<uint8_t>((op >> 10) & 1);
      ps.annex_j = static_cast<uint8_t>((op >> 9) & 1);
      ps.annex_k = static_cast<uint8_t>((op >> 8) & 1);
      const bool rps = (op >> 7) & 1;
      const bool isd = (op >> 6) & 1;
      const bool aiv = (op >> 5) & 1;
      ps.annex_t = static_cast<uint8_t>((op >> 4) & 1);
      // Annexes E, F, N, R and S are not decoded: refuse them.
      if (sac || ap || rps || isd || aiv) return VDEC_ERR_STREAM;
    } else if (ps.source_format == 0) {
      return VDEC_ERR_STREAM;  // no earlier extended header to update
    }
    // MPPTYPE: picture type (3), RPR, RRU, rounding type, 001.
    const uint32_t mp = br.ReadBits(9);
    if ((mp & 7) != 1) return VDEC_ERR_STREAM;
    const uint32_t type = mp >> 6;
    if (type > 1) return VDEC_ERR_STREAM;
    // Reference picture resampling (Annex P) and reduced-resolution update
    // (Annex Q) are not decoded: refuse them.
    if ((mp >> 5) & 1) return VDEC_ERR_STREAM;
    if ((mp >> 4) & 1) return VDEC_ERR_STREAM;
    ps.picture_type = static_cast<uint8_t>(type);
    ps.rounding_type = (mp >> 3) & 1;
    ps.cpm = static_cast<uint8_t>(br.ReadBit());
    if (ps.cpm) br.SkipBits(2);  // PSBI
    if (ps.source_format == 6) {
      if (ufep == 1) {
        // CPFMT: pixel aspect ratio (4), PWI (9), marker, PHI (9).
        const uint32_t par = br.ReadBits(4);
        if (par == 0 || (par >= 6 && par <= 14)) return VDEC_ERR_STREAM;
        const uint32_t pwi = br.ReadBits(9);
        if (br.ReadBit() != 1) return VDEC_ERR_STREAM;
        const uint32_t phi = br.ReadBits(9);
        if (phi == 0 || phi > 288) return VDEC_ERR_STREAM;
        if (par == 15) br.SkipBits(16);  // EPAR
        width = static_cast<uint16_t>((pwi + 1) * 4);
        height = static_cast<uint16_t>(phi * 4);
        ps.display_width = width;
        ps.display_height = height;
      } else {
        width = ps.display_width;
        height = ps.display_height;
      }
    } else {
      width = kSourceFormats[ps.source_format].width;
      height = kSourceFormats[ps.source_format].height;
    }
    if (ps.custom_clock && ufep == 1) br.SkipBits(8);  // CPCFC
    if (ps.custom_clock) br.SkipBits(2);               // ETR
    if (ps.annex_d && ufep == 1) {
      if (br.ReadBit() == 0) br.SkipBits(1);  // UUI
    }
    if (ps.annex_k && ufep == 1) {
      // SSS: rectangular slices and arbitrary slice ordering are not decoded.
      if (br.ReadBits(2) != 0) return VDEC_ERR_STREAM;
    }
  }
  if (width == 0 || height == 0) return VDEC_ERR_STREAM;
  ps.display_width = width;
  ps.display_height = height;
  ps.coded_width = static_cast<uint16_t>((width + 15) & ~15);
  ps.coded_height = static_cast<uint16_t>((height + 15) & ~15);

  const uint32_t pquant = br.ReadBits(5);
  if (pquant == 0) return VDEC_ERR_STREAM;
  ps.quant = static_cast<uint8_t>(pquant);
  if (!ps.extended) {
    ps.cpm = static_cast<uint8_t>(br.ReadBit());
    if (ps.cpm) br.SkipBits(2);  // PSBI
  }
  // PEI / PSUPP: supplemental enhancement information, skipped. Bounded so a
  // hostile run of ones past the end of the input cannot loop for long (the
  // reader hands out zeros there).
  while (br.ReadBit()) {
    br.SkipBits(8);
    if (br.Overrun()) break;
  }
  ps.deblocking = ps.annex_j;
  return HeaderResult(br);
}

}  // namespace

int32_t ParseH263PictureHeader(H263Decoder* d) {
  const int32_t r = ParsePictureHeader(d);
  // A header refused after running past the end of the input was cut short,
  // not wrong.
  if (r == VDEC_ERR_STREAM && d->reader.Overrun()) return VDEC_INPUT_EXHAUSTED;
  return r;
}

int32_t ParseH263GobHeader(H263Decoder* d) {
  BitReader& br = d->reader;
  H263PictureState& ps = d->ps;
  if (br.ShowBits(17) != 1) {
    ++ps.gob_number;
    return VDEC_OK;
  }
  br.SkipBits(17);
  ps.gob_number = br.ReadBits(5);
  if (ps.cpm) br.SkipBits(2);  // GSBI
  br.SkipBits(2);              // GFID
  const uint32_t gquant = br.ReadBits(5);
  if (gquant == 0) return VDEC_ERR_STREAM;
  ps.quant = static_cast<uint8_t>(gquant);
  ++ps.segment;
  return HeaderResult(br);
}

int H263MbaBits(int mb_count) {
  // Annex K, Table K.2.
  if (mb_count <= 48) return 6;
  if (mb_count <= 99) return 7;
  if (mb_count <= 396) return 9;
  if (mb_count <= 1584) return 11;
  if (mb_count <= 6336) return 13;
  if (mb_count <= 9216) return 14;
  return 0;
}

int32_t ParseH263SliceHeader(H263Decoder* d, bool first, int* mba) {
  BitReader& br = d->reader;
  H263PictureState& ps = d->ps;
  const int mba_bits = H263MbaBits(d->mb_count);
  if (mba_bits == 0) return VDEC_ERR_STREAM;
  if (first) {
    // Right after the picture header: SEPB1, MBA, SEPB2.
    if (br.ReadBit() != 1) return VDEC_ERR_STREAM;
    *mba = static_cast<int>(br.ReadBits(mba_bits));
    if (br.ReadBit() != 1) return VDEC_ERR_STREAM;
  } else {
    if (br.ShowBits(17) != 1) return VDEC_ERR_STREAM;
    br.SkipBits(17);
    if (br.ReadBit() != 1) return VDEC_ERR_STREAM;  // SEPB1
    if (ps.cpm) br.SkipBits(4);                       // SSBI
    *mba = static_cast<int>(br.ReadBits(mba_bits));
    // SEPB2 from the 4CIF macroblock count on (CIF with CPM), as encoders
    // write it.
    const bool sepb2 = ps.cpm ? mba_bits > 9 : d->mb_count >= kSepb2MinMbs;
    if (sepb2 && br.ReadBit() != 1) return VDEC_ERR_STREAM;
    const uint32_t squant = br.ReadBits(5);
    if (squant == 0) return VDEC_ERR_STREAM;
    ps.quant = static_cast<uint8_t>(squant);
    if (br.ReadBit() != 1) return VDEC_ERR_STREAM;  // SEPB3
    br.SkipBits(2);                                   // GFID
  }
  ++ps.segment;
  ps.gob_number = static_cast<uint32_t>(*mba);
  if (*mba >= d->mb_count) return VDEC_ERR_STREAM;
  return HeaderResult(br);
}

void ResyncAtNextStartCode(BitReader& br) {
  // Bit by bit until a group or picture start code, or all zeros (the end).
  for (;;) {
    const uint32_t next = br.ShowBits(32);
    if ((next >> 15) == 1 || (next >> 10) == kPictureStartCode || next == 0) return;
    br.SkipBits(1);
  }
}

void FindNextPicture(BitReader& br, size_t input_length) {
  br.ByteAlign();
  const uint64_t limit = (static_cast<uint64_t>(input_length) + 8) * 8;
  while (br.BitPosition() < limit) {
    const uint32_t next = br.ShowBits(22);
    if (next == kPictureStartCode || next == kEndOfSequence) return;
    br.SkipBits(8);
  }
}

bool NextIsPictureStartCode(BitReader& br) { return br.ShowBits(22) == kPictureStartCode; }

bool StartCodeAtSegmentEnd(const BitReader& reader) {
  BitReader br = reader;
  const int stuffing = br.BitsToByteBoundary();
  if (stuffing && br.ReadBits(stuffing) != 0) return false;
  const uint32_t next = br.ShowBits(22);
  return next == 0 || (next >> 5) == 1;
}

}  // namespace videodec
