#include "encoder_tables.h"

namespace venc {

// Rows 4-7 repeat rows 0, 3, 2, 1 (S[4] = S[0], S[5] = S[3], ...).
#define OV_SCALE_ROW0 32768, 45450, 42813, 38531, 32768, 38531, 42813, 45450
#define OV_SCALE_ROW1 45450, 63041, 59383, 53443, 45450, 53443, 59383, 63041
#define OV_SCALE_ROW2 42813, 59383, 55938, 50343, 42813, 50343, 55938, 59383
#define OV_SCALE_ROW3 38531, 53443, 50343, 45307, 38531, 45307, 50343, 53443
const uint16_t kIdctScaleTable[64] = {
    OV_SCALE_ROW0, OV_SCALE_ROW1, OV_SCALE_ROW2, OV_SCALE_ROW3,
    OV_SCALE_ROW0, OV_SCALE_ROW3, OV_SCALE_ROW2, OV_SCALE_ROW1,
};
#undef OV_SCALE_ROW0
#undef OV_SCALE_ROW1
#undef OV_SCALE_ROW2
#undef OV_SCALE_ROW3

const int32_t kQuantRecipTable[32] = {
    0,    32767, 16383, 10922, 8191, 6553, 5461, 4681, 4095, 3640, 3276,
    2978, 2730,  2520,  2340,  2184, 2047, 1927, 1820, 1724, 1638, 1560,
    1489, 1424,  1365,  1310,  1260, 1213, 1170, 1129, 1092, 1057,
};

const uint8_t kDcScalerLuma[32] = {
    0,  8,  8,  8,  8,  10, 12, 14, 16, 17, 18, 19, 20, 21, 22, 23,
    24, 25, 26, 27, 28, 29, 30, 31, 32, 34, 36, 38, 40, 42, 44, 46,
};
const uint8_t kDcScalerChroma[32] = {
    0,  8,  8,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14,
    14, 15, 15, 16, 16, 17, 17, 18, 18, 19, 20, 21, 22, 23, 24, 25,
};

const uint8_t kZigzagScan[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

const uint8_t kIntraDcVlcThreshold[8] = {32, 13, 15, 17, 19, 21, 23, 1};

#define OV_RECIP(q) (1.0 / (q))
const double kRecipQ[32] = {
    0.0,          OV_RECIP(1),  OV_RECIP(2),  OV_RECIP(3),  OV_RECIP(4),  OV_RECIP(5),  OV_RECIP(6),
    OV_RECIP(7),  OV_RECIP(8),  OV_RECIP(9),  OV_RECIP(10), OV_RECIP(11), OV_RECIP(12), OV_RECIP(13),
    OV_RECIP(14), OV_RECIP(15), OV_RECIP(16), OV_RECIP(17), OV_RECIP(18), OV_RECIP(19), OV_RECIP(20),
    OV_RECIP(21), OV_RECIP(22), OV_RECIP(23), OV_RECIP(24), OV_RECIP(25), OV_RECIP(26), OV_RECIP(27),
    OV_RECIP(28), OV_RECIP(29), OV_RECIP(30), OV_RECIP(31),
};
#undef OV_RECIP
#define OV_RECIP2(q) (1.0 / ((q) * (q)))
const double kRecipQ2[32] = {
    0.0,           OV_RECIP2(1),  OV_RECIP2(2),  OV_RECIP2(3),  OV_RECIP2(4),  OV_RECIP2(5),
    OV_RECIP2(6),  OV_RECIP2(7),  OV_RECIP2(8),  OV_RECIP2(9),  OV_RECIP2(10), OV_RECIP2(11),
    OV_RECIP2(12), OV_RECIP2(13), OV_RECIP2(14), OV_RECIP2(15), OV_RECIP2(16), OV_RECIP2(17),
    OV_RECIP2(18), OV_RECIP2(19), OV_RECIP2(20), OV_RECIP2(21), OV_RECIP2(22), OV_RECIP2(23),
    OV_RECIP2(24), OV_RECIP2(25), OV_RECIP2(26), OV_RECIP2(27), OV_RECIP2(28), OV_RECIP2(29),
    OV_RECIP2(30), OV_RECIP2(31),
};
#undef OV_RECIP2

#define OV_MBQ(q) (65536 / (q))
const int32_t kMbRecipQ[32] = {
    0,          OV_MBQ(1),  OV_MBQ(2),  OV_MBQ(3),  OV_MBQ(4),  OV_MBQ(5),  OV_MBQ(6),  OV_MBQ(7),
    OV_MBQ(8),  OV_MBQ(9),  OV_MBQ(10), OV_MBQ(11), OV_MBQ(12), OV_MBQ(13), OV_MBQ(14), OV_MBQ(15),
    OV_MBQ(16), OV_MBQ(17), OV_MBQ(18), OV_MBQ(19), OV_MBQ(20), OV_MBQ(21), OV_MBQ(22), OV_MBQ(23),
    OV_MBQ(24), OV_MBQ(25), OV_MBQ(26), OV_MBQ(27), OV_MBQ(28), OV_MBQ(29), OV_MBQ(30), OV_MBQ(31),
};
#undef OV_MBQ
#define OV_MBQ2(q) (16777216 / ((q) * (q)))
const int32_t kMbRecipQ2[32] = {
    0,           OV_MBQ2(1),  OV_MBQ2(2),  OV_MBQ2(3),  OV_MBQ2(4),  OV_MBQ2(5),  OV_MBQ2(6),
    OV_MBQ2(7),  OV_MBQ2(8),  OV_MBQ2(9),  OV_MBQ2(10), OV_MBQ2(11), OV_MBQ2(12), OV_MBQ2(13),
    OV_MBQ2(14), OV_MBQ2(15), OV_MBQ2(16), OV_MBQ2(17), OV_MBQ2(18), OV_MBQ2(19), OV_MBQ2(20),
    OV_MBQ2(21), OV_MBQ2(22), OV_MBQ2(23), OV_MBQ2(24), OV_MBQ2(25), OV_MBQ2(26), OV_MBQ2(27),
    OV_MBQ2(28), OV_MBQ2(29), OV_MBQ2(30), OV_MBQ2(31),
};
#undef OV_MBQ2

const int32_t kMpeg4VbvBufferBits[11] = {163840, 163840, 655360, 655360, 1310720, 1835008,
                                         327680, 327680, 327680, 327680, 327680};
const int32_t kH263BufferAddend[5] = {65536, 65536, 262144, 524288, 1048576};

}  // namespace venc
