#pragma once
// Writers of hand-made H.264 streams for the decoder tests: a bit writer with
// Exp-Golomb codes and NAL framing, parameter sets, and I_PCM slices.

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "tests/videodec/h264_test_util.h"

namespace h264test {

class BitWriter {
 public:
  void U(int n, uint32_t v) {
    for (int i = n - 1; i >= 0; --i) Bit((v >> i) & 1);
  }
  void Ue(uint32_t v) {
    const uint64_t x = uint64_t(v) + 1;
    int len = 0;
    while ((x >> len) > 1) ++len;
    U(len, 0);
    for (int i = len; i >= 0; --i) Bit(uint32_t(x >> i) & 1);
  }
  void Se(int32_t v) { Ue(v > 0 ? uint32_t(2 * v - 1) : uint32_t(-2 * v)); }
  void Bit(uint32_t b) {
    cur_ = uint8_t((cur_ << 1) | b);
    if (++bits_ == 8) Flush();
  }
  void Align() {
    while (bits_) Bit(0);
  }
  void Trailing() {
    Bit(1);
    Align();
  }
  void Byte(uint8_t b) { U(8, b); }
  // The NAL unit with a start code and emulation prevention.
  std::vector<uint8_t> Nal(int ref_idc, int type) {
    std::vector<uint8_t> out = {0, 0, 0, 1, uint8_t((ref_idc << 5) | type)};
    int zeros = 0;
    for (uint8_t b : bytes_) {
      if (zeros >= 2 && b <= 3) {
        out.push_back(3);
        zeros = 0;
      }
      out.push_back(b);
      zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
  }

 private:
  void Flush() {
    bytes_.push_back(cur_);
    cur_ = 0;
    bits_ = 0;
  }
  std::vector<uint8_t> bytes_;
  uint8_t cur_ = 0;
  int bits_ = 0;
};

struct SpsParams {
  int profile = 66;
  int num_ref_frames = 1;
  int mb_w = 1, mb_h = 1;
  int poc_type = 2;
  bool gaps_allowed = false;  // gaps_in_frame_num_value_allowed_flag
  int full_range = -1;        // -1: no VUI; 0 or 1: a VUI with this video_full_range_flag
};

inline std::vector<uint8_t> MakeSps(const SpsParams& p) {
  BitWriter w;
  w.U(8, uint32_t(p.profile));
  w.U(8, 0);
  w.U(8, 30);
  w.Ue(0);  // seq_parameter_set_id
  w.Ue(0);  // log2_max_frame_num_minus4
  w.Ue(uint32_t(p.poc_type));
  w.Ue(uint32_t(p.num_ref_frames));
  w.Bit(p.gaps_allowed ? 1 : 0);
  w.Ue(uint32_t(p.mb_w - 1));
  w.Ue(uint32_t(p.mb_h - 1));
  w.Bit(1);  // frame_mbs_only_flag
  w.Bit(1);
  w.Bit(0);  // no cropping
  w.Bit(p.full_range >= 0 ? 1 : 0);
  if (p.full_range >= 0) {
    w.Bit(0);  // aspect_ratio_info_present_flag
    w.Bit(0);  // overscan_info_present_flag
    w.Bit(1);  // video_signal_type_present_flag
    w.U(3, 5);
    w.Bit(uint32_t(p.full_range));
    w.Bit(1);  // colour_description_present_flag: BT.601 primaries, transfer, matrix
    w.U(8, 6);
    w.U(8, 6);
    w.U(8, 6);
    w.Bit(0);  // chroma_loc_info_present_flag
    w.Bit(0);  // timing_info_present_flag
    w.Bit(0);  // nal_hrd_parameters_present_flag
    w.Bit(0);  // vcl_hrd_parameters_present_flag
    w.Bit(0);  // pic_struct_present_flag
    w.Bit(0);  // bitstream_restriction_flag
  }
  w.Trailing();
  return w.Nal(3, 7);
}

struct PpsParams {
  int slice_groups = 1;
  int map_type = 1;
  bool redundant = false;
  int num_ref_idx = 1;
  std::vector<int> run_length;              // type 0
  std::vector<int> top_left, bottom_right;  // type 2
  int change_direction = 0, change_rate = 1;  // types 3 to 5
  std::vector<int> group_ids;               // type 6
};

inline std::vector<uint8_t> MakePps(const PpsParams& p) {
  BitWriter w;
  w.Ue(0);
  w.Ue(0);
  w.Bit(0);  // CAVLC
  w.Bit(0);
  w.Ue(uint32_t(p.slice_groups - 1));
  if (p.slice_groups > 1) {
    w.Ue(uint32_t(p.map_type));
    if (p.map_type == 0)
      for (int r : p.run_length) w.Ue(uint32_t(r - 1));
    if (p.map_type == 2)
      for (size_t i = 0; i < p.top_left.size(); ++i) {
        w.Ue(uint32_t(p.top_left[i]));
        w.Ue(uint32_t(p.bottom_right[i]));
      }
    if (p.map_type >= 3 && p.map_type <= 5) {
      w.Bit(uint32_t(p.change_direction));
      w.Ue(uint32_t(p.change_rate - 1));
    }
    if (p.map_type == 6) {
      w.Ue(uint32_t(p.group_ids.size() - 1));
      const int bits = p.slice_groups > 4 ? 3 : (p.slice_groups > 2 ? 2 : 1);
      for (int g : p.group_ids) w.U(bits, uint32_t(g));
    }
  }
  w.Ue(uint32_t(p.num_ref_idx - 1));
  w.Ue(0);
  w.Bit(0);
  w.U(2, 0);
  w.Se(0);
  w.Se(0);
  w.Se(0);
  w.Bit(1);  // deblocking_filter_control_present_flag
  w.Bit(0);
  w.Bit(p.redundant ? 1 : 0);
  w.Trailing();
  return w.Nal(3, 8);
}

// An IDR I slice of I_PCM macroblocks, each filled with one value.
inline std::vector<uint8_t> MakePcmSlice(int first_mb, const std::vector<uint8_t>& values, int redundant_cnt = -1,
                                  int idr_pic_id = 0, int cycle_bits = 0, int cycle = 0) {
  BitWriter w;
  w.Ue(uint32_t(first_mb));
  w.Ue(7);  // I, all slices of the picture
  w.Ue(0);
  w.U(4, 0);  // frame_num
  w.Ue(uint32_t(idr_pic_id));
  if (redundant_cnt >= 0) w.Ue(uint32_t(redundant_cnt));
  w.Bit(0);  // no_output_of_prior_pics_flag
  w.Bit(0);  // long_term_reference_flag
  w.Se(0);   // slice_qp_delta
  w.Ue(1);   // loop filter off
  if (cycle_bits) w.U(cycle_bits, uint32_t(cycle));
  for (uint8_t v : values) {
    w.Ue(25);  // I_PCM
    w.Align();
    for (int i = 0; i < 384; ++i) w.Byte(v);
  }
  w.Trailing();
  return w.Nal(3, 5);
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Luma value at the top-left sample of macroblock (mx, my).
inline uint8_t LumaAt(const ovtest::DecodedStream& s, int mx, int my) {
  return s.last[size_t(my * 16 * s.width + mx * 16)];
}

// A slice header with the fields the reference and filter tests vary; the
// parameter sets are MakeSps (log2_max_frame_num 4, POC type 2) and MakePps
// (deblocking control present).
struct SliceSpec {
  bool idr = false;
  int ref_idc = 3;
  bool p_slice = true;
  int first_mb = 0;
  int frame_num = 0;
  int num_ref_idx_override = 0;                 // 0: the parameter set's count
  std::vector<std::pair<int, int>> reordering;  // reordering_of_pic_nums_idc, its value
  struct Op {
    int op, a, b;  // memory_management_control_operation and its one or two values
  };
  std::vector<Op> mmco;  // adaptive marking when not empty
  int qp_delta = 0;
  int deblocking_idc = 1;  // the loop filter off unless a test needs it
};

// The header of an I slice of an IDR picture from macroblock `first_mb`.
inline SliceSpec IdrSlice(int first_mb = 0) {
  SliceSpec s;
  s.idr = true;
  s.p_slice = false;
  s.first_mb = first_mb;
  return s;
}

inline void WriteSliceHeader(BitWriter& w, const SliceSpec& s) {
  w.Ue(uint32_t(s.first_mb));
  w.Ue(s.p_slice ? 5 : 7);
  w.Ue(0);
  w.U(4, uint32_t(s.frame_num));
  if (s.idr) w.Ue(0);  // idr_pic_id
  if (s.p_slice) {
    w.Bit(s.num_ref_idx_override ? 1 : 0);
    if (s.num_ref_idx_override) w.Ue(uint32_t(s.num_ref_idx_override - 1));
    w.Bit(s.reordering.empty() ? 0 : 1);
    if (!s.reordering.empty()) {
      for (const auto& r : s.reordering) {
        w.Ue(uint32_t(r.first));
        w.Ue(uint32_t(r.second));
      }
      w.Ue(3);
    }
  }
  if (s.ref_idc) {
    if (s.idr) {
      w.Bit(0);  // no_output_of_prior_pics_flag
      w.Bit(0);  // long_term_reference_flag
    } else {
      w.Bit(s.mmco.empty() ? 0 : 1);
      if (!s.mmco.empty()) {
        for (const SliceSpec::Op& o : s.mmco) {
          w.Ue(uint32_t(o.op));
          if (o.op == 1 || o.op == 2 || o.op == 3) w.Ue(uint32_t(o.a));
          if (o.op == 3 || o.op == 4 || o.op == 6) w.Ue(uint32_t(o.b));
        }
        w.Ue(0);
      }
    }
  }
  w.Se(s.qp_delta);
  w.Ue(uint32_t(s.deblocking_idc));
  if (s.deblocking_idc != 1) {
    w.Se(0);
    w.Se(0);
  }
}

// Macroblocks. In a P slice each coded macroblock follows an mb_skip_run of 0.
inline void WritePcmMacroblock(BitWriter& w, bool p_slice, uint8_t value) {
  if (p_slice) w.Ue(0);
  w.Ue(p_slice ? 30 : 25);  // I_PCM
  w.Align();
  for (int i = 0; i < 384; ++i) w.Byte(value);
}

// Intra 16x16 with DC prediction and no coefficients: the mean of the
// neighbours in the slice, 128 without any.
inline void WriteFlatIntraMacroblock(BitWriter& w, bool p_slice) {
  if (p_slice) w.Ue(0);
  w.Ue(p_slice ? 8 : 3);  // I_16x16_2_0_0
  w.Ue(0);                // intra_chroma_pred_mode DC
  w.Se(0);                // mb_qp_delta
  w.Bit(1);               // the DC block: coeff_token of no coefficients
}

// P_L0_16x16 with a zero vector difference and no residual: a copy of the
// reference picture `ref_idx` when the neighbours carry no motion.
inline void WriteCopyMacroblock(BitWriter& w, int ref_idx, int num_ref_idx_active) {
  w.Ue(0);  // mb_skip_run
  w.Ue(0);  // P_L0_16x16
  if (num_ref_idx_active == 2) w.Bit(ref_idx ? 0 : 1);
  else if (num_ref_idx_active > 2) w.Ue(uint32_t(ref_idx));
  w.Se(0);
  w.Se(0);
  w.Ue(0);  // coded_block_pattern 0
}

inline std::vector<uint8_t> FinishSlice(BitWriter& w, const SliceSpec& s) {
  w.Trailing();
  return w.Nal(s.ref_idc, s.idr ? 5 : 1);
}

}  // namespace h264test
