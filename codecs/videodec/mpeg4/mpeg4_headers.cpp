// Stream header parsing of ISO/IEC 14496-2 6.2: visual object sequence, visual
// object, video object layer, group of VOPs, VOP, video packet, and the short
// video header with its GOB headers (6.2.7, H.263 baseline).
#include <algorithm>

#include "codecs/videodec/mpeg4/mpeg4_state.h"
#include "codecs/videodec/mpeg4/mpeg4_tables.h"

namespace videodec {
namespace {

constexpr uint32_t kVosStartCode = 0x1B0;
constexpr uint32_t kUserDataStartCode = 0x1B2;
constexpr uint32_t kGovStartCode = 0x1B3;
constexpr uint32_t kVisualObjectStartCode = 0x1B5;
constexpr uint32_t kVopStartCode = 0x1B6;

int HighestBit(uint32_t v) {
  int n = -1;
  while (v) {
    ++n;
    v >>= 1;
  }
  return n;
}

void AdvanceSeconds(Mpeg4Vop& vop, uint32_t add) {
  uint32_t s = vop.seconds + add;
  uint32_t m = vop.minutes;
  uint32_t h = vop.hours;
  if (s > 59) {
    m += s / 60;
    s %= 60;
  }
  if (m > 59) {
    h += m / 60;
    m %= 60;
  }
  if (h > 23) h = 0;
  vop.seconds = static_cast<uint8_t>(s);
  vop.minutes = static_cast<uint8_t>(m);
  vop.hours = static_cast<uint8_t>(h);
}

// modulo_time_base: ones, then a zero. Bounded so that a run of ones in a
// damaged stream cannot spin.
uint32_t ReadModuloTimeBase(Mpeg4Bits& bits) {
  uint32_t ones = 0;
  while (bits.Read1() == 1) {
    if (++ones > 3600 || bits.Overrun()) break;
  }
  return ones;
}

void ParseComplexityEstimationHeader(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  Mpeg4Layer& l = d.layer;
  l.complexity_flags = 0;
  const uint32_t method = b.Read(2);
  if (method != 0) return;
  if (b.Read1() == 0) return;  // shape_complexity_estimation_disable must be 1
  uint16_t flags = 0;
  if (b.Read1() == 0) {  // texture_complexity_estimation_set_1_disable
    flags |= static_cast<uint16_t>(b.Read(4) << 10);  // intra, inter, inter4v, not_coded
  }
  b.Skip(1);  // marker
  if (b.Read1() == 0) {  // texture_complexity_estimation_set_2_disable
    flags |= static_cast<uint16_t>(b.Read(4) << 6);  // dct_coefs, dct_lines, vlc_symbols, vlc_bits
  }
  if (b.Read1() == 0) {  // motion_compensation_complexity_disable
    flags |= static_cast<uint16_t>(b.Read(6));  // apm, npm, interpolate_mc_q, forw_back_mc_q, halfpel2, halfpel4
  }
  b.Skip(1);  // marker
  l.complexity_flags = flags;
}

// The estimates a VOP header carries (6.2.5, complexity estimation).
void SkipComplexityEstimation(Mpeg4Decoder& d) {
  const uint16_t f = d.layer.complexity_flags;
  const bool p = d.vop.coding_type == 1;
  int bits = 0;
  if (f & (1 << 13)) bits += 8;  // intra
  if (p && (f & (1 << 12))) bits += 8;  // inter
  if (p && (f & (1 << 11))) bits += 8;  // inter4v
  if (f & (1 << 10)) bits += 8;  // not_coded
  if (f & (1 << 9)) bits += 8;   // dct_coefs
  if (f & (1 << 8)) bits += 8;   // dct_lines
  if (f & (1 << 7)) bits += 8;   // vlc_symbols
  if (f & (1 << 6)) bits += 4;   // vlc_bits
  if (p) {
    if (f & (1 << 5)) bits += 8;  // apm
    if (f & (1 << 4)) bits += 8;  // npm
    if (f & (1 << 2)) bits += 8;  // forw_back_mc_q
    if (f & (1 << 1)) bits += 8;  // halfpel2
    if (f & (1 << 0)) bits += 8;  // halfpel4
  }
  if (bits) d.bits.Skip(bits);
}

}  // namespace

void Mpeg4SkipUserData(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  b.Skip(32);
  // User data ends at the next start code or, in a configuration record, at
  // the end of the data.
  while (b.Show(24) != 1) {
    if (b.BitsLeft() < 24) {
      b.Seek(std::max(b.Pos(), b.SizeBits()));
      return;
    }
    b.Skip(8);
  }
}

int Mpeg4ReadNextStartCode(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  const int k = b.BitsToBoundary();
  if (k) {
    const uint32_t stuffing = b.Read(k);
    if (stuffing != (1u << (k - 1)) - 1) return -1;
  } else if (b.Show(24) == 0x7F0000) {
    b.Skip(8);
  }
  return 0;
}

void Mpeg4SeekStartCode(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  b.AlignUp();
  while (b.BitsLeft() >= 24 && b.Show(24) != 1) b.Skip(8);
  if (b.BitsLeft() < 24) b.Seek(b.SizeBits());
}

int Mpeg4ParseVosHeader(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  if (b.Read(24) != 1 || b.Read(8) != (kVosStartCode & 0xFF)) return -1;
  const uint32_t pli = b.Read(8);
  Mpeg4StreamHeader& s = d.stream;
  if (pli >= 1 && pli <= 5) {
    s.profile_class = 0;
    s.level = static_cast<uint8_t>(pli);
  } else if (pli == 8) {
    s.profile_class = 0;
    s.level = 0;
  } else if (pli == 9) {
    s.profile_class = 0;
    s.level = 11;
  } else {
    s.profile_class = 5;
    s.level = 0;
  }
  while (b.Show(32) == kUserDataStartCode && !b.Overrun()) Mpeg4SkipUserData(d);
  return 0;
}

int Mpeg4ParseVoHeader(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  Mpeg4StreamHeader& s = d.stream;
  if (b.Read(24) != 1) return -1;
  if (b.Show(8) == (kVisualObjectStartCode & 0xFF)) {
    b.Skip(8);
    s.is_visual_object_identifier = static_cast<uint8_t>(b.Read1());
    if (s.is_visual_object_identifier) {
      s.visual_object_verid = static_cast<uint8_t>(b.Read(4));
      s.visual_object_priority = static_cast<uint8_t>(b.Read(3));
    }
    const uint32_t type = b.Read(4);
    s.video_object = type == 1 ? 1 : 0;
    if (b.Read1()) {  // video_signal_type
      s.video_format = static_cast<uint8_t>(b.Read(3));
      s.video_range = static_cast<uint8_t>(b.Read1());
      if (b.Read1()) {  // colour_description
        s.colour_primaries = static_cast<uint8_t>(b.Read(8));
        s.transfer_characteristics = static_cast<uint8_t>(b.Read(8));
        s.matrix_coefficients = static_cast<uint8_t>(b.Read(8));
      }
    }
    if (Mpeg4ReadNextStartCode(d) != 0) return -1;
    while (b.Show(32) == kUserDataStartCode && !b.Overrun()) Mpeg4SkipUserData(d);
    if (b.Read(24) != 1) return -1;
  }
  const uint32_t id = b.Read(8);
  if (id > 31) return -1;
  s.video_object_id = static_cast<uint8_t>(id);
  return 0;
}

int Mpeg4ParseVolHeader(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  Mpeg4Layer& l = d.layer;
  Mpeg4Vop& v = d.vop;
  const uint32_t code = b.Show(32);
  if (code < 0x120 || code > 0x12F) {
    if (b.Show(22) == 0x20 || b.Show(24) == 0) {
      l.id = 1;
      l.short_header = 1;
      l.par_width = 12;
      l.par_height = 11;
      l.priority = 1;
      v.time_increment_resolution = 30000;
      l.complexity_estimation_disable = 1;
      l.resync_marker_disable = 1;
      l.data_partitioned = 0;
      l.reversible_vlc = 0;
      return 0;
    }
    return -1;
  }
  b.Skip(32);
  l.id = static_cast<uint8_t>(code & 15);
  l.short_header = 0;
  l.random_accessible_vol = static_cast<uint8_t>(b.Read1());
  const uint32_t type_indication = b.Read(8);
  l.simple_object = type_indication == 1 ? 1 : 0;
  l.is_object_layer_identifier = static_cast<uint8_t>(b.Read1());
  l.verid = 1;
  l.priority = 1;
  if (l.is_object_layer_identifier) {
    l.verid = static_cast<uint8_t>(b.Read(4));
    l.priority = static_cast<uint8_t>(b.Read(3));
  }
  const uint32_t aspect = b.Read(4);
  static const uint8_t kPar[6][2] = {{12, 11}, {1, 1}, {12, 11}, {10, 11}, {16, 11}, {40, 33}};
  if (aspect == 15) {
    l.par_width = static_cast<uint8_t>(b.Read(8));
    l.par_height = static_cast<uint8_t>(b.Read(8));
    if (l.par_width == 0 || l.par_height == 0) return -1;
  } else if (aspect >= 1 && aspect <= 5) {
    l.par_width = kPar[aspect][0];
    l.par_height = kPar[aspect][1];
  } else {
    l.par_width = 12;
    l.par_height = 11;
  }
  l.vol_control_parameters = static_cast<uint8_t>(b.Read1());
  if (l.vol_control_parameters) {
    b.Skip(2);  // chroma_format
    l.low_delay = static_cast<uint8_t>(b.Read1());
    l.vbv_parameters = static_cast<uint8_t>(b.Read1());
    if (l.vbv_parameters) {
      // first_half_bit_rate (15), marker, latter_half_bit_rate (15), marker,
      // first_half_vbv_buffer_size (15), marker, latter_half (3),
      // first_half_vbv_occupancy (11), marker, latter_half (15), marker.
      const uint32_t br_hi = b.Read(15);
      b.Skip(1);
      const uint32_t br_lo = b.Read(15);
      b.Skip(1);
      const uint32_t bs_hi = b.Read(15);
      b.Skip(1);
      const uint32_t bs_lo = b.Read(3);
      const uint32_t oc_hi = b.Read(11);
      b.Skip(1);
      const uint32_t oc_lo = b.Read(15);
      b.Skip(1);
      l.bit_rate = (br_hi << 15) | br_lo;
      l.vbv_buffer_size = (bs_hi << 3) | bs_lo;
      l.vbv_occupancy = (oc_hi << 15) | oc_lo;
    }
  }
  const uint32_t shape = b.Read(2);
  if (shape != 0) return -1;
  b.Skip(1);  // marker
  const uint32_t resolution = b.Read(16);
  if (resolution == 0) return -1;
  b.Skip(1);  // marker
  v.time_increment_resolution = static_cast<uint16_t>(resolution);
  v.time_increment_bits = static_cast<uint8_t>(resolution == 1 ? 1 : 1 + HighestBit(resolution - 1));
  l.fixed_vop_rate = static_cast<uint8_t>(b.Read1());
  if (l.fixed_vop_rate) {
    l.fixed_vop_time_increment = static_cast<uint16_t>(b.Read(v.time_increment_bits));
    if (l.fixed_vop_time_increment == 0) return -1;
  }
  b.Skip(1);  // marker
  l.width = static_cast<uint16_t>(b.Read(13));
  b.Skip(1);  // marker
  l.height = static_cast<uint16_t>(b.Read(13));
  b.Skip(1);  // marker
  const uint32_t interlaced = b.Read1();
  b.Skip(1);  // obmc_disable
  // Interlaced coding is not Simple Profile: decoding it as progressive would
  // give garbage reported as success.
  if (interlaced) return -1;
  if (b.Read(l.verid == 1 ? 1 : 2) != 0) return -1;  // sprite_enable
  if (b.Read1() != 0) return -1;                      // not_8_bit
  if (b.Read1() != 0) return -1;                      // quant_type (MPEG quantisation)
  if (l.verid != 1 && b.Read1() != 0) return -1;      // quarter_sample
  l.complexity_estimation_disable = static_cast<uint8_t>(b.Read1());
  l.complexity_flags = 0;
  if (!l.complexity_estimation_disable) ParseComplexityEstimationHeader(d);
  l.resync_marker_disable = static_cast<uint8_t>(b.Read1());
  l.data_partitioned = static_cast<uint8_t>(b.Read1());
  l.reversible_vlc = l.data_partitioned ? static_cast<uint8_t>(b.Read1()) : 0;
  if (l.verid != 1) {
    if (b.Read1() != 0) return -1;  // newpred_enable
    if (b.Read1() != 0) return -1;  // reduced_resolution_vop_enable
  }
  if (b.Read1() != 0) return -1;  // scalability
  if (l.width == 0 || l.height == 0) return -1;
  if (Mpeg4ReadNextStartCode(d) != 0) return -1;
  if (b.BitsLeft() >= 40) {
    while (b.Show(32) == kUserDataStartCode && !b.Overrun()) Mpeg4SkipUserData(d);
  }
  return 0;
}

int Mpeg4ParseGovHeader(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  if (b.Show(32) != kGovStartCode) return 0;
  b.Skip(32);
  const uint32_t v = b.Read(20);
  const uint32_t hours = v >> 15;
  const uint32_t minutes = (v >> 9) & 63;
  const uint32_t marker = (v >> 8) & 1;
  const uint32_t seconds = (v >> 2) & 63;
  if (hours > 23 || minutes > 59 || seconds > 59 || marker == 0) return -1;
  d.vop.hours = static_cast<uint8_t>(hours);
  d.vop.minutes = static_cast<uint8_t>(minutes);
  d.vop.seconds = static_cast<uint8_t>(seconds);
  if (Mpeg4ReadNextStartCode(d) != 0) return -1;
  while (b.Show(32) == kUserDataStartCode && !b.Overrun()) Mpeg4SkipUserData(d);
  return 0;
}

int Mpeg4ParseVopHeader(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  Mpeg4Vop& v = d.vop;
  if (b.Read(24) != 1 || b.Read(8) != (kVopStartCode & 0xFF)) return -1;
  const uint32_t type = b.Read(2);
  if (type > 1) return -1;  // B- and S-VOPs are not Simple Profile
  AdvanceSeconds(v, ReadModuloTimeBase(b));
  b.Skip(1);  // marker
  v.time_increment = static_cast<uint16_t>(b.Read(v.time_increment_bits));
  b.Skip(1);  // marker
  v.coding_type = static_cast<uint8_t>(type);
  v.coded = static_cast<uint8_t>(b.Read1());
  if (!v.coded) {
    Mpeg4ReadNextStartCode(d);
    return 0;
  }
  v.rounding = type == 1 ? static_cast<uint8_t>(b.Read1()) : 0;
  if (!d.layer.complexity_estimation_disable) SkipComplexityEstimation(d);
  v.intra_dc_threshold = kMpeg4IntraDcThreshold[b.Read(3)];
  v.quant = static_cast<uint8_t>(b.Read(5));
  if (v.quant == 0) return -1;
  if (type == 1) {
    v.fcode = static_cast<uint8_t>(b.Read(3));
    if (v.fcode == 0) return -1;
  } else {
    v.fcode = 1;
  }
  return 0;
}

int Mpeg4ParseShortVideoHeader(Mpeg4Decoder& d) {
  Mpeg4Bits& b = d.bits;
  Mpeg4Vop& v = d.vop;
  Mpeg4Layer& l = d.layer;
  if (b.Read(22) != 0x20) return -1;
  // temporal_reference (8), marker, zero bit, split_screen_indicator,
  // document_camera_indicator, full_picture_freeze_release, source_format (3),
  // picture_coding_type, four reserved bits.
  const uint32_t h = b.Read(21);
  const uint32_t temporal_reference = h >> 13;
  const uint32_t source_format = (h >> 5) & 7;
  static const uint16_t kSizes[6][2] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
  if (source_format < 1 || source_format > 5) return -1;
  v.time_increment = static_cast<uint16_t>(temporal_reference);
  if (temporal_reference % 30 == 0) AdvanceSeconds(v, 1);
  l.width = kSizes[source_format][0];
  l.height = kSizes[source_format][1];
  v.coding_type = static_cast<uint8_t>((h >> 4) & 1);
  v.quant = static_cast<uint8_t>(b.Read(5));
  if (v.quant == 0) return -1;
  b.Skip(1);  // zero bit
  while (b.Read1() == 1) {  // pei
    b.Skip(8);  // psupp
    if (b.Overrun()) return -1;
  }
  v.intra_dc_threshold = 32;
  v.coded = 1;
  v.rounding = 0;
  v.fcode = 1;
  return 0;
}

int Mpeg4ParseVideoPacketHeader(Mpeg4Decoder& d, uint32_t* first_mb, int* quant) {
  Mpeg4Bits& b = d.bits;
  Mpeg4Vop& v = d.vop;
  if (b.Read(16) != 0) return -1;
  const uint32_t next7 = b.Show(7);
  if (next7 == 0) return -1;
  int zeros = 0;
  while (!((next7 >> (6 - zeros)) & 1)) ++zeros;
  const int marker_fcode = zeros + 1;
  if (v.header_valid && v.coding_type == 1 && marker_fcode != v.fcode) return -1;
  if (v.header_valid && v.coding_type == 0 && marker_fcode != 1) return -1;
  b.Skip(zeros + 1);
  *first_mb = b.Read(v.mb_number_bits);
  *quant = static_cast<int>(b.Read(5));
  if (*quant == 0) return -1;
  const uint32_t hec = b.Read1();
  if (!hec) return v.header_valid ? 0 : -1;
  const uint32_t ones = ReadModuloTimeBase(b);
  const uint32_t m1 = b.Read1();
  const uint32_t increment = b.Read(v.time_increment_bits);
  const uint32_t m2 = b.Read1();
  const uint32_t type = b.Read(2);
  const uint8_t threshold = kMpeg4IntraDcThreshold[b.Read(3)];
  if (v.header_valid) {
    if (!m1 || !m2 || increment != v.time_increment || type != v.coding_type ||
        threshold != v.intra_dc_threshold)
      return -1;
    if (type == 1 && b.Read(3) != v.fcode) return -1;
    return 0;
  }
  if (type > 1) return -1;
  uint32_t fcode = 1;
  if (type == 1) {
    fcode = b.Read(3);
    if (fcode == 0) return -1;
  }
  v.header_valid = 1;
  AdvanceSeconds(v, ones);
  v.time_increment = static_cast<uint16_t>(increment);
  v.coding_type = static_cast<uint8_t>(type);
  v.intra_dc_threshold = threshold;
  v.fcode = static_cast<uint8_t>(fcode);
  v.coded = 1;
  v.quant = static_cast<uint8_t>(*quant);
  return 0;
}

int Mpeg4ParseGobHeader(Mpeg4Decoder& d, int* gob_number, int* quant) {
  Mpeg4Bits& b = d.bits;
  if (b.Show(17) != 1) return 0;
  b.Skip(17);
  *gob_number = static_cast<int>(b.Read(5));
  b.Skip(2);  // gob_frame_id
  *quant = static_cast<int>(b.Read(5));
  if (*quant == 0) return -1;
  return 1;
}

}  // namespace videodec
