#pragma once
// Private state of the MPEG-4 decoder object and the functions that the
// decoder's files share. Nothing here is part of the public interface.

#include <cstdint>
#include <memory>

#include "codecs/videodec/common/idct.h"
#include "codecs/videodec/common/mc.h"
#include "codecs/videodec/common/video_decoder.h"
#include "codecs/videodec/mpeg4/mpeg4_bits.h"
#include "codecs/videodec/mpeg4/mpeg4_vlc.h"

namespace videodec {

enum Mpeg4MbType : uint8_t {
  kMbInter = 0,
  kMbInterQ = 1,
  kMbInter4v = 2,
  kMbIntra = 3,
  kMbIntraQ = 4,
  kMbStuffing = 5,
};

enum Mpeg4MbStatus : uint8_t {
  kMbDecoded = 0,
  kMbNotCoded = 1,    // copied from the reference
  kMbDamaged = 2,
  kMbDamagedDc = 3,   // damaged, DC values known (data partitioning)
  kMbMotionOnly = 4,  // motion known, texture lost: motion compensation alone
};

// One macroblock of a picture.
struct Mpeg4MacroblockRecord {
  int16_t mv[8];  // (x, y) of luma blocks 0..3 in half-pels
  uint8_t type;
  uint8_t status;
  uint8_t quant;  // 1..31; 20 once concealed
  uint8_t cbp;    // bit i: block i has coefficients (0..3 luma, 4 Cb, 5 Cr)
  int16_t dc[6];  // reconstructed intra DC (after the scaler), 0..2047
  uint8_t ac_pred;
  uint8_t dc_as_ac;
  // Video packet (GOB) within the VOP, from 1; 0 = not decoded in this VOP.
  // 16 bits: a VOP may hold more packets than 8 bits count.
  uint16_t packet;
};

struct Mpeg4StreamHeader {
  uint8_t profile_class = 0;  // 0 Simple Profile, 5 any other
  uint8_t level = 0;
  uint8_t is_visual_object_identifier = 0;
  uint8_t visual_object_verid = 1;
  uint8_t visual_object_priority = 1;
  uint8_t video_object = 0;
  uint8_t video_format = 5;
  uint8_t video_range = 0;
  uint8_t colour_primaries = 1;
  uint8_t transfer_characteristics = 1;
  uint8_t matrix_coefficients = 1;
  uint8_t video_object_id = 0;
};

struct Mpeg4Layer {
  uint8_t id = 0;
  uint8_t short_header = 0;
  uint8_t random_accessible_vol = 0;
  uint8_t simple_object = 0;
  uint8_t is_object_layer_identifier = 0;
  uint8_t verid = 1;
  uint8_t priority = 1;
  uint8_t par_width = 12;
  uint8_t par_height = 11;
  uint8_t vol_control_parameters = 0;
  uint8_t low_delay = 0;
  uint8_t vbv_parameters = 0;
  uint32_t bit_rate = 0;
  uint32_t vbv_buffer_size = 0;
  uint32_t vbv_occupancy = 0;
  uint8_t fixed_vop_rate = 0;
  uint16_t fixed_vop_time_increment = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t complexity_estimation_disable = 1;
  uint16_t complexity_flags = 0;
  uint8_t resync_marker_disable = 1;
  uint8_t data_partitioned = 0;
  uint8_t reversible_vlc = 0;
};

enum Mpeg4ReferenceState : uint8_t {
  kRefDecodingFirstI = 0,
  kRefIsI = 1,
  kRefIsP = 2,
  kRefNone = 3,
};

struct Mpeg4Vop {
  uint8_t coding_type = 0;  // 0 I, 1 P
  uint8_t hours = 0, minutes = 0, seconds = 0;
  uint16_t mb_number_bits = 1;
  uint16_t time_increment = 0;
  uint16_t time_increment_resolution = 30000;
  uint8_t time_increment_bits = 15;
  uint8_t coded = 1;
  uint8_t rounding = 0;
  uint8_t intra_dc_threshold = 32;
  uint8_t quant = 1;
  uint8_t fcode = 1;
  uint8_t reference_state = kRefNone;
  uint8_t new_vop = 1;
  uint8_t header_valid = 0;
  uint16_t packet_counter = 0;
};

// Stages at which resumable decoding continues after VDEC_INPUT_EXHAUSTED.
enum Mpeg4ResumeStage : uint8_t {
  kResumeNone = 0,
  kResumeStartCodeSearch,  // looking for the next start code
};

struct Mpeg4Decoder : VideoDecoder {
  Mpeg4Bits bits;
  IdctDsp idct = {};
  McDsp mc = {};

  // Picture buffers: `ref` indexes the reference, 1 - ref the current picture.
  DecodedPicture pictures[2] = {};
  std::unique_ptr<uint8_t[]> plane_blocks[2];
  std::unique_ptr<Mpeg4MacroblockRecord[]> records[2];
  int ref = 0;

  Mpeg4StreamHeader stream;
  Mpeg4Layer layer;
  Mpeg4Vop vop;

  // Work area: coefficients as decoded (scan order for intra blocks) and the
  // prescaled blocks in raster order for the inverse transform.
  alignas(16) int16_t coef[6][64] = {};
  alignas(16) int16_t block[6][64] = {};
  uint8_t last_index[6] = {};
  uint8_t direction[6] = {};  // 1 predicted from above, 0 from the left
  int mb_x = 0, mb_y = 0;     // position of the current macroblock in pixels

  // AC prediction stores: first rows of blocks 2, 3, 4, 5 of the last
  // macroblock of each column (7 values each), first columns of blocks 1, 3,
  // 4, 5 of the macroblock to the left.
  std::unique_ptr<int16_t[]> above_pred;
  int16_t left_pred[28] = {};

  int32_t postfilter_level = 0;
  bool has_buffers = false;
  uint16_t setup_width = 0, setup_height = 0;
  uint32_t setup_profile = 0, setup_level = 0;
  uint32_t mb_cols = 0, mb_rows = 0, mb_count = 0;

  uint32_t option_flag = 0;   // 1 = never pad the reference picture
  uint32_t variant_flag = 0;  // 1 = resumable DecodeFrame

  // Data partitioning: the DC differentials of the packet's macroblocks,
  // read in the first partitions, 6 per macroblock.
  std::unique_ptr<int16_t[]> dc_diffs;
  // Reversible VLC read backwards: the event that ended the block before.
  Mpeg4Event rvlc_pending = {};
  bool rvlc_has_pending = false;

  // Resumable mode.
  uint8_t resume_stage = kResumeNone;
  // Short header: GOB geometry and the GOB being decoded.
  uint32_t gob_rows = 1, gob_count = 0;
  int32_t last_gob = -1;
  // Bit position of the current VOP's start code (resumable mode).
  uint64_t vop_start = 0;
  // Resumable mode: the current unit ran past the end of the input.
  bool overran = false;
  // A coded VOP has been started and not yet finished.
  bool picture_pending = false;
  // One past the last macroblock that the current packet reached.
  uint32_t next_mb = 0;

  // Records and pictures by role.
  Mpeg4MacroblockRecord* cur_records() { return records[1 - ref].get(); }
  Mpeg4MacroblockRecord* ref_records() { return records[ref].get(); }
  DecodedPicture& cur_pic() { return pictures[1 - ref]; }
  DecodedPicture& ref_pic() { return pictures[ref]; }
};

// Header parsers (mpeg4_headers.cpp). Each returns 0 or -1.
int Mpeg4ParseVosHeader(Mpeg4Decoder& d);
int Mpeg4ParseVoHeader(Mpeg4Decoder& d);
int Mpeg4ParseVolHeader(Mpeg4Decoder& d);
int Mpeg4ParseGovHeader(Mpeg4Decoder& d);
int Mpeg4ParseVopHeader(Mpeg4Decoder& d);
int Mpeg4ParseShortVideoHeader(Mpeg4Decoder& d);
int Mpeg4ParseVideoPacketHeader(Mpeg4Decoder& d, uint32_t* first_mb, int* quant);
// Short header GOB header: 1 when present (gob number and quant set), 0 when
// absent, -1 on error.
int Mpeg4ParseGobHeader(Mpeg4Decoder& d, int* gob_number, int* quant);
void Mpeg4SkipUserData(Mpeg4Decoder& d);
int Mpeg4ReadNextStartCode(Mpeg4Decoder& d);
// Moves to the next byte-aligned start code prefix 00 00 01 (or the end).
void Mpeg4SeekStartCode(Mpeg4Decoder& d);

// Set-up (mpeg4_decoder.cpp): sizes the picture buffers for the layer.
int32_t Mpeg4AllocateBuffers(Mpeg4Decoder& d);
// -3107 when the layer (or profile class) differs from the set-up, else 0.
int32_t Mpeg4CheckStreamSize(Mpeg4Decoder& d);

// Picture loops (mpeg4_loops.cpp).
int32_t Mpeg4DecodeWholePicture(Mpeg4Decoder& d);
int32_t Mpeg4DecodePacketMode(Mpeg4Decoder& d, bool resumable);

// Texture (mpeg4_texture.cpp).
// Reconstructed coefficient of level L at quantiser q (7.4.4.2, H.263
// method), saturated to -2048..2047 so that large escape levels cannot
// overflow the prescaled 16-bit store.
inline int Mpeg4DequantiseLevel(int level, int q) {
  const int odd = (q & 1) ? q : q - 1;
  const int f = level > 0 ? 2 * q * level + odd : 2 * q * level - odd;
  return f < -2048 ? -2048 : (f > 2047 ? 2047 : f);
}
// DC predictor p / scaler rounded to nearest (7.4.3.1 "//"); p is 0..2047.
// Exact division as the standard writes it, on purpose: a 16-bit reciprocal
// ((p x round(65536 / scaler) + 32768) >> 16) is off by one at exact halves
// for the scalers 12, 14, 36, 40, 42 and 44 and drifts from every other
// decoder; keep the division.
int Mpeg4DcPredictor(int p, int scaler);
// AC predictor a of a macroblock with quantiser qp rescaled to quantiser q,
// (a x qp) // q with 64-bit product and exact rounding half away from zero,
// as 7.4.3.3 writes it. Deliberately not the reciprocal form
// (a x qp x (floor(65536 / q) + 1) + 32768) >> 16, which rounds differently
// at halves and for large products.
int Mpeg4RescaleAc(int a, int qp, int q);
// Decodes and reconstructs the six blocks of an intra macroblock into the
// current picture; dc_diff holds the DC differentials when they were read
// before (data partitioning), else null. Returns 0 or -1.
int Mpeg4DecodeIntraTexture(Mpeg4Decoder& d, uint32_t mb, const int* dc_diff, bool rvlc);
// Decodes the coded blocks of an inter macroblock and adds them to the
// prediction already in the current picture. Returns 0 or -1.
int Mpeg4DecodeInterTexture(Mpeg4Decoder& d, uint32_t mb, bool rvlc);
// Reconstructs only the DC of each block of an intra macroblock (status 3).
void Mpeg4ReconstructDcOnly(Mpeg4Decoder& d, uint32_t mb, const int* dc_diff);
// Short header blocks (no prediction).
int Mpeg4DecodeShortHeaderIntra(Mpeg4Decoder& d, uint32_t mb);
int Mpeg4DecodeShortHeaderInter(Mpeg4Decoder& d, uint32_t mb);
// Reversible VLC texture read backwards: the blocks of macroblock `mb` ending
// at *end; *end moves back to their start.
int Mpeg4DecodeInterTextureBackward(Mpeg4Decoder& d, uint32_t mb, uint64_t begin, uint64_t* end);
int Mpeg4SkipIntraTextureBackward(Mpeg4Decoder& d, uint32_t mb, uint64_t begin, uint64_t* end);

// Motion (mpeg4_motion.cpp).
// Reconstructs the vectors of macroblock mb from the differences in its record.
void Mpeg4ReconstructVectors(Mpeg4Decoder& d, uint32_t mb);
// Forms the prediction of macroblock mb from the reference into the current
// picture with its record's vectors.
void Mpeg4PredictMacroblock(Mpeg4Decoder& d, uint32_t mb);
void Mpeg4CopyMacroblock(Mpeg4Decoder& d, uint32_t mb);
void Mpeg4PadReference(Mpeg4Decoder& d);

// Concealment (mpeg4_conceal.cpp).
void ConcealMpeg4Macroblocks(Mpeg4Decoder& d, int x, int y, uint32_t mb);
// Conceals every damaged record (status 2, and 3 when with_dc) in raster order.
void Mpeg4ConcealPicture(Mpeg4Decoder& d, bool with_dc);

}  // namespace videodec
