#pragma once
// Private state of the H.263 decoder, shared by its source files.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codecs/videodec/common/bit_reader.h"
#include "codecs/videodec/common/idct.h"
#include "codecs/videodec/common/mc.h"
#include "codecs/videodec/common/motion.h"
#include "codecs/videodec/common/video_decoder.h"
#include "codecs/videodec/common/vlc.h"
#include "codecs/videodec/h263/h263_deblock_dsp.h"

namespace videodec {

// Macroblock types (ITU-T H.263 Table 9), as MCBPC gives them.
enum H263MbType : uint8_t {
  kMbInter = 0,
  kMbInterQ = 1,
  kMbInter4V = 2,
  kMbIntra = 3,
  kMbIntraQ = 4,
  kMbStuffing = 5,
  kMbInter4VQ = 6,
};

// Macroblock status.
enum H263MbStatus : uint8_t {
  kMbDecoded = 0,
  kMbNotCoded = 1,  // COD = 1
  kMbDamaged = 2,
};

struct H263Macroblock {
  MotionVector mv[4];  // per luma block, half samples; one-vector macroblocks repeat it
  int16_t dc[6];       // first coefficient of each block as decoded (REC domain)
  uint8_t type;        // H263MbType; +Q types become their plain type once DQUANT is read
  uint8_t status;      // H263MbStatus
  uint8_t quant;
  uint8_t cbp;         // bits 5..4 CBPC, 3..0 CBPY (complemented for inter)
  uint8_t intra_mode;  // Annex I: 0 DC, 2 vertical (from above), 3 horizontal (from left)
  uint8_t segment;     // segment counter of the GOB or slice that carried it
};

// Decoder states.
enum H263DecoderState : uint8_t {
  kStateDecoding = 0,
  kStateLastIntra = 1,
  kStateLastInter = 2,
  kStateNoPicture = 3,
};

struct H263PictureState {
  uint32_t time = 0;            // ms
  uint32_t time_remainder = 0;  // 0..29
  uint32_t gob_number = 0;      // GOB or slice number of the segment being decoded
  uint32_t rounding_type = 0;
  uint16_t temporal_reference = 0;
  uint16_t coded_width = 0, coded_height = 0;
  uint8_t picture_type = 0;  // 0 intra, 1 inter
  uint8_t annex_d = 0, annex_i = 0;
  uint8_t extended = 0;      // PLUSPTYPE
  uint8_t deblocking = 0, annex_j = 0;
  uint8_t quant = 0;
  uint8_t cpm = 0;
  uint8_t annex_t = 0, annex_k = 0;
  uint8_t state = kStateNoPicture;
  uint8_t new_picture = 1;
  uint8_t header_seen = 0;
  uint8_t segment = 0;
  uint16_t display_width = 0, display_height = 0;
  // Extended header fields that persist when UFEP is 0.
  uint8_t source_format = 0;
  uint8_t custom_clock = 0;
};

// Per block: the reconstructed first row and first column (DC included), for
// Annex I prediction of the blocks that follow.
struct H263AicBlock {
  int16_t row[8];
  int16_t col[8];
};
struct H263AicMacroblock {
  H263AicBlock block[6];
};

struct H263Vlc;  // the decoding tables, built once per process

struct H263Decoder : VideoDecoder {
  BitReader reader;
  DecodedPicture ref{};
  DecodedPicture cur{};
  std::unique_ptr<uint8_t[]> ref_planes;
  std::unique_ptr<uint8_t[]> cur_planes;
  // Annex I neighbour data of every macroblock of the current picture; valid
  // where the macroblock record says intra and decoded.
  std::unique_ptr<H263AicMacroblock[]> aic;
  int16_t* coeffs = nullptr;  // 6 x 64 prescaled coefficients, 32-byte aligned
  std::unique_ptr<int16_t[]> coeff_storage;
  H263PictureState ps;
  std::unique_ptr<H263Macroblock[]> cur_mbs;
  std::unique_ptr<H263Macroblock[]> ref_mbs;
  uint32_t postfilter_level = 0;
  uint16_t display_width = 0, display_height = 0;

  // Derived from the size.
  int mb_cols = 0, mb_rows = 0, mb_count = 0;
  bool has_buffers = false;
  // The first picture of the stream is concealed spatially only.
  bool have_reference = false;
  bool last_finished_inter = false;

  McDsp mc;
  IdctDsp idct;
  DeblockDsp deblock;
  const H263Vlc* vlc = nullptr;
};

struct H263Vlc {
  H263Vlc();
  VlcTable intra_mcbpc{9};
  VlcTable inter_mcbpc{13};
  VlcTable cbpy{6};
  VlcTable mvd{12};
  VlcTable tcoef{12};
  VlcTable aic_tcoef{12};
};
const H263Vlc& GetH263Vlc();

// TCOEF table values: (last << 12) | (run << 6) | level; the escape is:
constexpr int kTcoefEscape = 0x7FFF;

// Headers (h263_headers.cpp). Each returns VDEC_OK, VDEC_ERR_STREAM, or
// VDEC_INPUT_EXHAUSTED when the header ran past the end of the input.
int32_t ParseH263PictureHeader(H263Decoder* d);
int32_t ParseH263GobHeader(H263Decoder* d);
int32_t ParseH263SliceHeader(H263Decoder* d, bool first, int* mba);
int H263MbaBits(int mb_count);
// Start-code searches.
void ResyncAtNextStartCode(BitReader& br);
void FindNextPicture(BitReader& br, size_t input_length);
bool NextIsPictureStartCode(BitReader& br);
// At a segment end: true when the bits up to the next byte boundary are zero
// (stuffing) and a start code, or only zero bits, follow from there.
bool StartCodeAtSegmentEnd(const BitReader& br);

// Macroblock layer (h263_macroblock.cpp): decodes and reconstructs macroblock
// (x, y) into the current picture. VDEC_OK or VDEC_ERR_STREAM.
int32_t DecodeH263Macroblock(H263Decoder* d, int x, int y);

// Concealment (h263_concealment.cpp) of every damaged macroblock of the
// current picture.
void ConcealH263Macroblocks(H263Decoder* d);

// Annex J in-loop filter (h263_deblock.cpp) over the current picture.
void DeblockH263Picture(const DeblockDsp& dsp, const DecodedPicture& picture, const H263Macroblock* mbs, int mb_cols,
                        int mb_rows, bool annex_t);
// One line across an edge: A B | C D with `p` at C and `step` between pixels.
void DeblockH263Line(uint8_t* p, ptrdiff_t step, int strength);

}  // namespace videodec
