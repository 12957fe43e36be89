#pragma once
// Internal state of one h263enc encoder object and the routines of its
// picture loop, headers, macroblock layer and deblocking filter.

#include <cstddef>
#include <cstdint>

#include "encoders/common/bit_writer.h"
#include "encoders/common/encoder_core.h"
#include "encoders/common/h263_syntax.h"
#include "encoders/common/video_encoder.h"

namespace venc {

inline constexpr int kSourceFormatCustom = 6;

// What the coded pictures used of the annexes, summed over the stream: for
// the tool's reports and the tests.
struct H263Counts {
  uint32_t outsideVectors = 0;  // inter macroblocks whose prediction reaches outside the picture
  uint32_t sixBitDquant = 0;    // Annex T DQUANTs written as 0 and QUANT
  uint32_t chromaQuant = 0;     // coded macroblocks whose QUANT_C differs from QUANT
  uint32_t maxPackets = 0;      // most GOB or slice packets in one picture
};

struct H263Encoder : EncoderCore {
  bool plusPtype = false;  // PLUSPTYPE picture header (profile 3 or custom size)
  // Profile and annexes (all 0 in profile 0).
  int profile = 0;
  int level = 0;
  int unrestrictedMv = 0;  // Annex D
  int modifiedQuant = 0;   // Annex T
  int slices = 0;          // Annex K, from the creation word videoTelephony
  int deblocking = 0;      // Annex J

  GobFrameId gobFrameId;
  // The quantiser a decoder holds after each macroblock of the last picture
  // (for a skipped macroblock the one in force), raster order.
  uint8_t* decoderQuant = nullptr;
  H263Counts counts;
};

// Headers (h263_headers.cpp).
// Bits of the macroblock address in slice headers (ITU-T H.263 Table K.2) by
// the coded picture's macroblock count; 0 above the largest format.
int MbaBits(int mbCount);
// Picture header: PTYPE or PLUSPTYPE form, and in slice-structured mode the
// first slice's SEPB1, MBA 0 and SEPB2.
void WriteH263PictureHeader(H263Encoder& enc, BitWriter& w, int quant);
// GOB header of GOB `gobNumber` (nothing for GOB 0); outside slice-structured
// mode it ends the packet before it.
void WriteH263GobHeader(H263Encoder& enc, BitWriter& w, int gobNumber, int quant);
// Slice header of slice `packet` starting at macroblock `mbIndex` (nothing
// for slice 0); the writer is byte aligned.
void WriteH263SliceHeader(H263Encoder& enc, BitWriter& w, int packet, int quant, int mbIndex);
// Appends the bytes since the last packet start to the packet-size table.
void RecordPacket(H263Encoder& enc);

// Bits that one macroblock spent.
struct H263MbBits {
  int header = 0;
  int texture = 0;
  int restart = 0;  // alignment and slice header of a new slice
};

// Macroblock layer (h263_mb_coder.cpp). The source (intra) or residual
// (inter, with the luma SADs in `sad`) is in the work area; `runningQp` is
// the quantiser a decoder holds, `packet` the slice counter.
H263MbBits EncodeH263IntraMb(H263Encoder& enc, int mbIndex, int* runningQp, int* packet);
H263MbBits EncodeH263InterMb(H263Encoder& enc, int mbIndex, const int32_t sad[6], int* runningQp, int* packet);
// One component of an Annex D motion vector difference (half pels) under
// PLUSPTYPE; returns the bits written.
int PutAnnexDComponent(BitWriter& w, int v);
// DQUANT of a change from `previous` to `quant` (not equal); returns the bits.
int PutDquant(BitWriter& w, int previous, int quant, bool modifiedQuant);

// The picture loop (picture_encoder.cpp): 0 or VENC_ERR_OVERFLOW.
VideoEncoderResult EncodePicture(H263Encoder& enc);

// Annex J (h263_deblock.cpp). The kernels filter n lines across an edge, each
// line's four samples A B | C D starting at `p`: a vertical edge between
// columns x - 1 and x with `p` at column x - 2 (lines are rows), a horizontal
// edge between rows y - 1 and y with `p` at row y - 2 (lines are columns).
void DeblockAcrossVerticalEdge(uint8_t* p, ptrdiff_t stride, int quant, int n);
void DeblockAcrossHorizontalEdge(uint8_t* p, ptrdiff_t stride, int quant, int n);
// Filters the reconstruction in enc.current with the records of the picture.
void DeblockFrame(H263Encoder& enc);

}  // namespace venc
