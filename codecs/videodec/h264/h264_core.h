#pragma once
// Internal decoder core of the H.264 Baseline decoder: parameter sets, slice
// header, macroblock layer with CAVLC, reconstruction, reference management,
// loop filter and concealment. The public function-table object
// (h264_decoder.h) drives it one NAL unit at a time.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/videodec/h264/h264_bitreader.h"
#include "codecs/videodec/h264/h264_dsp.h"

namespace videodec {
namespace h264 {

// Result codes of the core (the public codes are mapped from these).
enum CoreStatus : int {
  kCoreOk = 0,
  kCoreBadStream = -1,
  kCoreNoMemory = -2,
  kCoreNoSps = -3002,
  kCoreNoPps = -3004,
  kCoreUnsupported = -3005,  // a parameter set of another profile or size
  kCorePictureBoundary = 1,  // DecodeNal stopped in front of a new picture
};

// Largest picture accepted by default, in macroblocks: level 5.1's MaxFS, or
// 720x576 in fuzz builds, which keeps each fuzz run fast.
#if defined(OVMIX_FUZZING)
inline constexpr int kDefaultMaxMacroblocks = 1620;
#else
inline constexpr int kDefaultMaxMacroblocks = 36864;
#endif

inline constexpr int kMaxSps = 32;
inline constexpr int kMaxPps = 256;
inline constexpr int kMaxRefs = 16;
inline constexpr int kMaxMbDim = 255;  // macroblock columns or rows

struct Sps {
  bool valid = false;
  int profile_idc = 0;
  int constraint_flags = 0;
  int level_idc = 0;
  int log2_max_frame_num = 4;
  int poc_type = 0;
  int log2_max_poc_lsb = 4;
  bool delta_pic_order_always_zero = false;
  int num_ref_frames = 0;
  bool gaps_allowed = false;
  int mb_width = 0;
  int mb_height = 0;
  bool frame_cropping = false;
  int crop_left = 0, crop_right = 0, crop_top = 0, crop_bottom = 0;  // in 2-sample units
  bool full_range = false;  // VUI video_full_range_flag (Annex E.2.1); absent = studio range
};

struct Pps {
  bool valid = false;
  int sps_id = 0;
  bool pic_order_present = false;
  int num_slice_groups = 1;
  int slice_group_map_type = 0;
  int run_length[8] = {};
  int top_left[8] = {};
  int bottom_right[8] = {};
  bool change_direction = false;
  int change_rate = 1;
  std::vector<uint8_t> slice_group_id;  // map type 6
  int num_ref_idx_active = 1;
  int pic_init_qp = 26;
  int chroma_qp_offset = 0;
  bool deblocking_control = false;
  bool constrained_intra = false;
  bool redundant_pic_cnt_present = false;
};

struct RefModification {
  int idc;
  int value;
};

struct Mmco {
  int op;
  int a;  // difference_of_pic_nums_minus1 or long_term_pic_num
  int b;  // long_term_frame_idx or max_long_term_frame_idx_plus1
};

struct SliceHeader {
  int nal_ref_idc = 0;
  bool idr = false;
  int first_mb = 0;
  int slice_type = 0;  // 0 P, 2 I (slice_type % 5)
  int pps_id = 0;
  int frame_num = 0;
  int idr_pic_id = 0;
  int poc_lsb = 0;
  int delta_poc_bottom = 0;
  int delta_poc[2] = {};
  int redundant_pic_cnt = 0;
  int num_ref_idx_active = 1;
  int num_ref_mods = 0;
  RefModification ref_mods[33] = {};
  bool no_output_of_prior_pics = false;
  bool long_term_reference = false;
  bool adaptive_marking = false;
  int num_mmco = 0;
  Mmco mmco[66] = {};
  int qp = 26;
  int disable_deblocking = 0;
  int alpha_offset = 0;  // FilterOffsetA
  int beta_offset = 0;   // FilterOffsetB
  int slice_group_change_cycle = 0;
};

struct Picture {
  uint8_t* plane[3] = {};
  int index = 0;  // identity for the loop filter's reference comparison
  int frame_num = 0;
  int frame_num_wrap = 0;
  int long_term_idx = 0;
  bool short_ref = false;
  bool long_ref = false;
  // A frame inserted for a frame_num gap that the sequence allows
  // (gaps_in_frame_num_value_allowed_flag): a short-term reference in the
  // sliding window and the initial list, with no samples; predicting from it
  // is an error.
  bool non_existing = false;
};

enum MbKind : uint8_t { kMbNone = 0, kMbI4x4, kMbI16, kMbPcm, kMbInter, kMbSkip };

// Per-macroblock record of the picture being decoded.
struct MbInfo {
  uint16_t slice;  // slice number within the picture, from 1; 0 = not decoded
  MbKind kind;
  uint8_t qp;          // QPY for the loop filter (0 for I_PCM)
  uint8_t qp_raw;      // QPY as coded
  uint8_t nnz[24];     // TotalCoeff per 4x4 block: 16 luma, 4 Cb, 4 Cr
  int8_t intra_mode[16];
  int8_t ref_idx[4];   // per 8x8, -1 when intra or not decoded
  int8_t ref_pic[4];   // Picture::index per 8x8, -1 when none
  int16_t mv[16][2];
};

struct SliceFilter {
  int8_t disable;
  int8_t alpha_offset;
  int8_t beta_offset;
  int8_t chroma_qp_offset;
};

using PictureCallback = void (*)(void* user, const Picture& picture, int width, int height);

class Core {
 public:
  Core();
  ~Core();
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  // Parses one NAL unit (escaped payload, starting at its header byte).
  // Slices that start a new picture finish the open one first; with
  // stop_at_new_picture such a slice is left undecoded and
  // kCorePictureBoundary returned.
  int DecodeNal(const uint8_t* nal, size_t size, bool stop_at_new_picture = false);
  // Finishes the open picture (conceal, loop filter, reference marking) and
  // hands it to the callback. Nothing happens when no picture is open.
  void FinishPicture();
  // Drops the open picture and the frame-number history; parameter sets,
  // buffers and reference pictures stay.
  void Reset();

  void SetPictureCallback(PictureCallback cb, void* user) {
    callback_ = cb;
    callback_user_ = user;
  }
  // Caps the picture size accepted (in macroblocks); 0 = no cap.
  void SetMaxMacroblocks(int mbs) { max_mbs_ = mbs; }

  bool HasSps() const { return active_sps_ >= 0; }
  const Sps* ActiveSps() const { return active_sps_ >= 0 ? &sps_[active_sps_] : nullptr; }
  bool Allocated() const { return !pool_.empty(); }
  int Width() const { return mb_width_ * 16; }
  int Height() const { return mb_height_ * 16; }
  int last_nal_type() const { return nal_type_; }
  bool picture_open() const { return cur_ != nullptr; }
  // Kind of the last finished picture: 0 P, 2 I.
  int last_picture_kind() const { return last_kind_; }
  bool last_picture_idr() const { return last_idr_; }
  const Picture* last_picture() const { return last_output_; }
  int damaged_in_last_picture() const { return last_damaged_; }

  // Parses a sequence parameter set payload; used by the factory too.
  int ParseSps(BitReader& br);
  int ParsePps(BitReader& br);

 private:
  int Allocate(const Sps& sps);
  int DecodeSlice(BitReader& br, int nal_ref_idc, bool idr, bool stop_at_new_picture);
  int ParseVui(BitReader& br, Sps& s);
  int ParseSliceHeader(BitReader& br, SliceHeader& sh);
  bool NewPicture(const SliceHeader& sh, int nal_type) const;
  int StartPicture(const SliceHeader& sh, bool* refuse_slice);
  int HandleFrameNumGap(const SliceHeader& sh);
  Picture* FreeBuffer();
  void BuildRefList(const SliceHeader& sh);
  int ModifyRefList(const SliceHeader& sh);
  int MarkReferences();
  int SlidingWindow();
  // True when RefPicList0 entry idx holds a picture to predict from.
  bool UsableRef(int idx) const {
    return idx >= 0 && idx < ref_list_len_ && ref_list_[idx] && !ref_list_[idx]->non_existing;
  }
  void UpdateFrameNumWrap(int frame_num);
  void BuildSliceGroupMap(const SliceHeader& sh);
  int NextMbAddr(int addr) const;

  // h264_slice.cpp
  int DecodeSliceData(BitReader& br, const SliceHeader& sh);
  int DecodeMacroblock(BitReader& br, int mb_addr, bool p_slice, int mb_type);
  bool DecodeSkip(int mb_addr);
  bool IntraAvailable(int mb_addr, int neighbour) const;
  void McBlock(const Picture& ref, int mb_addr, int x4, int y4, int w4, int h4, int mvx, int mvy);
  int ReadResidual(BitReader& br, int mb_addr, int cbp, bool i16);
  int ReadBlock(BitReader& br, int nc, int max_coeff, int* level, uint8_t* pos);
  int LumaNc(const MbInfo& m, const MbInfo* left, const MbInfo* top, int blk) const;
  int ChromaNc(const MbInfo& m, const MbInfo* left, const MbInfo* top, int comp, int blk) const;
  bool MbAvailable(int mb_addr, int neighbour) const;
  void PredictMv(int mb_addr, int bx, int by, int bw, int ref, int shape, int16_t mv[2]) const;
  void NeighbourMotion(int mb_addr, int bx, int by, int& ref, int16_t mv[2], bool& avail) const;
  void ReconstructIntra4x4(int mb_addr);
  void ReconstructIntra16(int mb_addr);
  void ReconstructChroma(int mb_addr, bool intra, int chroma_mode);
  void ReconstructInter(int mb_addr);
  void McPartition(int mb_addr, int x4, int y4, int w4, int h4);
  void AddLumaResidual(int mb_addr);
  // Adds the inverse transforms of the coded 4x4 blocks (bit per block in
  // mask) of `pairs` side-by-side pairs: a luma macroblock (8) or one chroma
  // block of 8x8 (2, the pairs row by row).
  void AddResidualPairs(uint8_t* d, int stride, int16_t* coeff, uint32_t mask, int pairs);

  // h264_picture.cpp
  void Deblock();
  void DeblockMb(int mb_addr);
  void Conceal();
  void ConcealSpatial(int mb_addr);

  Sps sps_[kMaxSps];
  Pps pps_[kMaxPps];
  int active_sps_ = -1;
  int max_mbs_ = kDefaultMaxMacroblocks;

  // Dimensions fixed at allocation.
  int mb_width_ = 0, mb_height_ = 0, mb_count_ = 0;
  int num_ref_frames_ = 0;  // buffers hold num_ref_frames_ + 1 pictures
  int alloc_sps_ref_frames_ = -1;
  std::vector<uint8_t> pool_;
  std::vector<Picture> pictures_;
  std::vector<MbInfo> mbs_;
  std::vector<SliceFilter> slice_filter_;
  std::vector<uint8_t> mb_to_slice_group_;
  std::vector<uint8_t> nal_buf_;
  std::vector<uint8_t> edge_buf_;

  // Picture being decoded.
  Picture* cur_ = nullptr;
  SliceHeader first_sh_;   // first slice of the open picture
  SliceHeader last_sh_;    // last slice header parsed of the open picture
  const Pps* pps_cur_ = nullptr;
  const Sps* sps_cur_ = nullptr;
  int cur_pps_id_ = 0;
  int slice_num_ = 0;
  int cur_kind_ = 2;
  bool cur_has_primary_ = false;
  bool ever_decoded_ = false;
  int map_cycle_ = -1;
  Picture* ref_list_[33] = {};
  int ref_list_len_ = 0;

  // Reference state (8.2.4, 8.2.5).
  int prev_ref_frame_num_ = 0;
  bool have_prev_ref_ = false;
  // The last reference picture's marking failed: the first slice of the next
  // picture is not decoded.
  bool marking_failed_ = false;
  int max_long_term_idx_ = -1;  // -1: no long-term frame indices

  // Slice decoding state.
  int qp_ = 26;
  int chroma_qp_offset_ = 0;
  int16_t coeff_[16 * 16 + 2 * 4 * 16];  // luma blocks then Cb, Cr blocks, raster within block
  int16_t dc_luma_[16];
  int16_t dc_chroma_[2][4];
  uint8_t mb_chroma_mode_ = 0;
  uint8_t mb_i16_mode_ = 0;
  uint8_t mb_cbp_ = 0;
  uint32_t coded_mask_ = 0;
  uint32_t filled_ = 0;  // 4x4 blocks of the current macroblock whose motion is set  // luma/chroma blocks with coefficients, bit per block

  H264Dsp dsp_;
  int nal_type_ = 0;
  int last_kind_ = 2;
  bool last_idr_ = true;
  int last_damaged_ = 0;
  const Picture* last_output_ = nullptr;
  PictureCallback callback_ = nullptr;
  void* callback_user_ = nullptr;
};

}  // namespace h264
}  // namespace videodec
