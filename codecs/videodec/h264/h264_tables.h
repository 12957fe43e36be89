#pragma once
// Constant tables of ITU-T H.264 used by the Baseline decoder. The CAVLC code
// tables are kept as (length, code) pairs exactly as the standard prints them;
// h264_vlc.cpp turns them into lookup tables.

#include <cstdint>

namespace videodec {
namespace h264 {

// Table 9-5, indexed [nC class][TotalCoeff * 4 + TrailingOnes]; nC classes:
// 0 <= nC < 2, 2 <= nC < 4, 4 <= nC < 8, 8 <= nC, nC == -1 (chroma DC).
// Length 0 marks a combination that has no code.
extern const uint8_t kCoeffTokenLen[5][17 * 4];
extern const uint8_t kCoeffTokenCode[5][17 * 4];

// Tables 9-7 and 9-8: total_zeros for 4x4 blocks, [TotalCoeff - 1][total_zeros].
extern const uint8_t kTotalZerosLen[15][16];
extern const uint8_t kTotalZerosCode[15][16];
// Table 9-9 (a): total_zeros for chroma DC 2x2, [TotalCoeff - 1][total_zeros].
extern const uint8_t kTotalZerosDcLen[3][4];
extern const uint8_t kTotalZerosDcCode[3][4];
// Table 9-10: run_before, [min(zerosLeft, 7) - 1][run_before].
extern const uint8_t kRunBeforeLen[7][15];
extern const uint8_t kRunBeforeCode[7][15];

// Table 9-4: coded_block_pattern from its codeNum (chroma format 4:2:0),
// [0] intra 4x4 prediction, [1] inter.
extern const uint8_t kCbpFromCode[2][48];

// 8.5.6: 4x4 frame zig-zag scan, position in raster order of each scan index.
extern const uint8_t kZigzag4x4[16];
// 8.5.9: LevelScale(m, i, j) / 16 for flat scaling lists, [qP % 6][position class]
// with classes 0: both coordinates even, 1: both odd, 2: otherwise.
extern const uint8_t kDequantScale[6][3];
// Class of each raster position of a 4x4 block for kDequantScale.
extern const uint8_t kDequantClass[16];
// Table 8-15: QPc from qPi, for qPi 0..51.
extern const uint8_t kChromaQp[52];
// Table 8-16: alpha' and beta' by indexA / indexB.
extern const uint8_t kDeblockAlpha[52];
extern const uint8_t kDeblockBeta[52];
// Table 8-17: tC0 by indexA and bS 1..3.
extern const uint8_t kDeblockTc0[52][3];

// Luma 4x4 block index to its x and y in 4-sample units inside a macroblock
// (6.4.3), and back.
extern const uint8_t kBlockX[16];
extern const uint8_t kBlockY[16];
extern const uint8_t kBlockIndexAt[4][4];  // [y][x]

}  // namespace h264
}  // namespace videodec
