// Reversible VLC: hand-made data-partitioned VOPs whose texture is read
// backwards when the forward reading fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codecs/videodec/mpeg4/mpeg4_bits.h"
#include "codecs/videodec/mpeg4/mpeg4_decoder.h"
#include "codecs/videodec/mpeg4/mpeg4_tables.h"
#include "codecs/videodec/mpeg4/mpeg4_vlc.h"
#include "tests/videodec/mpeg4_test_util.h"

namespace {

constexpr int kMbs = 10;  // one row of ten macroblocks, 160 x 16

// Index of a last = 1, run = 0 event of the given level in kMpeg4InterRvlc:
// those follow the 103 last-0 entries.
int RvlcLastRunZero(int level) { return 103 + level - 1; }

// The layer, an I-VOP of flat intra macroblocks and a P-VOP whose ten inter
// macroblocks each carry one coefficient in block 0 (level 1..5, last = 1).
// Returns the stream; *texture_bits receives, per P-VOP macroblock, the bit
// position of its texture in the stream.
std::vector<uint8_t> MakeStream(std::vector<size_t>* texture_bits) {
  mpeg4test::BitWriter w;
  // Video object layer (ISO/IEC 14496-2 6.2.3).
  w.Put(0x00000120, 32);
  w.Put(0, 1);      // random_accessible_vol
  w.Put(1, 8);      // video_object_type_indication: simple object
  w.Put(0, 1);      // is_object_layer_identifier
  w.Put(1, 4);      // aspect_ratio_info 1:1
  w.Put(0, 1);      // vol_control_parameters
  w.Put(0, 2);      // rectangular
  w.Put(1, 1);      // marker
  w.Put(30, 16);    // vop_time_increment_resolution
  w.Put(1, 1);      // marker
  w.Put(0, 1);      // fixed_vop_rate
  w.Put(1, 1);
  w.Put(16 * kMbs, 13);
  w.Put(1, 1);
  w.Put(16, 13);
  w.Put(1, 1);
  w.Put(0, 1);      // interlaced
  w.Put(1, 1);      // obmc_disable
  w.Put(0, 1);      // sprite_enable
  w.Put(0, 1);      // not_8_bit
  w.Put(0, 1);      // quant_type
  w.Put(1, 1);      // complexity_estimation_disable
  w.Put(0, 1);      // resync_marker_disable
  w.Put(1, 1);      // data_partitioned
  w.Put(1, 1);      // reversible_vlc
  w.Put(0, 1);      // scalability
  w.Stuff();
  auto vop_header = [&](int type, int increment) {
    w.Put(0x000001B6, 32);
    w.Put(static_cast<uint32_t>(type), 2);
    w.Put(0, 1);  // modulo_time_base
    w.Put(1, 1);
    w.Put(static_cast<uint32_t>(increment), 5);
    w.Put(1, 1);
    w.Put(1, 1);  // vop_coded
    if (type == 1) w.Put(0, 1);  // rounding
    w.Put(0, 3);   // intra_dc_vlc_thr: DC always with its own code
    w.Put(8, 5);   // vop_quant
    if (type == 1) w.Put(1, 3);  // fcode
  };
  // I-VOP: mcbpc (intra, no chroma), six DC sizes of 0 per macroblock.
  vop_header(0, 0);
  for (int mb = 0; mb < kMbs; ++mb) {
    w.Code(videodec::kMpeg4McbpcIntra[0]);
    for (int b = 0; b < 6; ++b) w.Code(b < 4 ? videodec::kMpeg4DcSizeLuma[0] : videodec::kMpeg4DcSizeChroma[0]);
  }
  w.Put(0x6B001, 19);  // dc_marker
  for (int mb = 0; mb < kMbs; ++mb) {
    w.Put(0, 1);                           // ac_pred_flag
    w.Code(videodec::kMpeg4Cbpy[0]);       // no luma coefficients
  }
  w.Stuff();
  // P-VOP: zero vectors, block 0 coded.
  vop_header(1, 1);
  for (int mb = 0; mb < kMbs; ++mb) {
    w.Put(0, 1);                          // not_coded
    w.Code(videodec::kMpeg4McbpcInter[0]);  // inter, no chroma
    w.Code(videodec::kMpeg4Mvd[0]);
    w.Code(videodec::kMpeg4Mvd[0]);
  }
  w.Put(0x1F001, 17);  // motion_marker
  for (int mb = 0; mb < kMbs; ++mb) w.Code(videodec::kMpeg4Cbpy[15 - 8]);  // inter: block 0
  for (int mb = 0; mb < kMbs; ++mb) {
    texture_bits->push_back(w.pos());
    w.Code(videodec::kMpeg4InterRvlc[RvlcLastRunZero(1 + mb % 5)]);
    w.Put(mb & 1, 1);  // sign
  }
  w.Stuff();
  w.Put(0x000001B1, 32);  // end of sequence: a start code after the packet
  return w.bytes();
}

std::vector<mpeg4test::Frame> Decode(const std::vector<uint8_t>& stream) {
  mpeg4test::Stream s = mpeg4test::SplitM4v(stream);
  mpeg4test::Decoder dec;
  uint32_t len = static_cast<uint32_t>(s.config.size());
  EXPECT_EQ(videodec::gCreateMPEG4VideoDecoder(&dec.d, s.config.data(), &len, 0), 0);
  return mpeg4test::DecodeWhole(dec.d, s, 16 * kMbs, 16);
}

int MacroblockDiff(const mpeg4test::Frame& a, const mpeg4test::Frame& b, int mb) {
  int worst = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = mb * 16; x < mb * 16 + 16; ++x) {
      worst = std::max(worst, std::abs(a.y[static_cast<size_t>(y * a.width + x)] - b.y[static_cast<size_t>(y * b.width + x)]));
    }
  }
  return worst;
}

TEST(Mpeg4Rvlc, EventsReadBackwardsInReverseOrder) {
  // (last, run, level) events written forward, read back from the end.
  mpeg4test::BitWriter w;
  const int events[][3] = {{0, 0, 3}, {0, 2, 1}, {1, 0, 1}, {0, 1, 2}, {1, 4, 1}};
  // Build from the tables directly: the inter RVLC list is ordered by
  // (last, run, level), so count entries before each event.
  auto position = [](int last, int run, int level) {
    static const uint8_t kLmax0[39] = {19, 10, 7, 7, 5, 4, 4, 4, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1,
                                       1,  1,  1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    static const uint8_t kLmax1[45] = {5, 5, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                       1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    int index = 0;
    if (last) {
      for (int i = 0; i < 39; ++i) index += kLmax0[i];
      for (int r = 0; r < run; ++r) index += kLmax1[r];
    } else {
      for (int r = 0; r < run; ++r) index += kLmax0[r];
    }
    return index + level - 1;
  };
  for (size_t i = 0; i < sizeof(events) / sizeof(events[0]); ++i) {
    w.Code(videodec::kMpeg4InterRvlc[position(events[i][0], events[i][1], events[i][2])]);
    w.Put(i & 1, 1);
  }
  // An escape: last 0, run 5, level 300, negative.
  w.Code(videodec::kMpeg4InterRvlc[169]);
  w.Put(0, 1);
  w.Put(5, 6);
  w.Put(1, 1);
  w.Put(300, 11);
  w.Put(1, 1);
  w.Put(0, 4);
  w.Put(1, 1);
  const size_t end_bits = w.pos();
  videodec::Mpeg4Bits bits;
  bits.Attach(w.bytes().data(), static_cast<uint32_t>(w.bytes().size()));

  // Forward.
  for (size_t i = 0; i < sizeof(events) / sizeof(events[0]); ++i) {
    videodec::Mpeg4Event e;
    ASSERT_TRUE(videodec::Mpeg4ReadRvlcEvent(bits, videodec::kMpeg4TableInter, &e)) << i;
    EXPECT_EQ(e.last, events[i][0]);
    EXPECT_EQ(e.run, events[i][1]);
    EXPECT_EQ(e.level, (i & 1) ? -events[i][2] : events[i][2]);
  }
  videodec::Mpeg4Event esc;
  ASSERT_TRUE(videodec::Mpeg4ReadRvlcEvent(bits, videodec::kMpeg4TableInter, &esc));
  EXPECT_EQ(esc.run, 5);
  EXPECT_EQ(esc.level, -300);
  EXPECT_EQ(bits.Pos(), end_bits);

  // Backward: the escape first, then the events in reverse order.
  uint64_t end = end_bits;
  videodec::Mpeg4Event e;
  ASSERT_TRUE(videodec::Mpeg4ReadRvlcEventBackward(bits, 0, &end, videodec::kMpeg4TableInter, &e));
  EXPECT_EQ(e.run, 5);
  EXPECT_EQ(e.level, -300);
  for (size_t k = sizeof(events) / sizeof(events[0]); k-- > 0;) {
    ASSERT_TRUE(videodec::Mpeg4ReadRvlcEventBackward(bits, 0, &end, videodec::kMpeg4TableInter, &e)) << k;
    EXPECT_EQ(e.last, events[k][0]);
    EXPECT_EQ(e.run, events[k][1]);
    EXPECT_EQ(e.level, (k & 1) ? -events[k][2] : events[k][2]);
  }
  EXPECT_EQ(end, 0u);
}

TEST(Mpeg4Rvlc, PacketDecodesBackwardsAfterForwardFailure) {
  std::vector<size_t> texture;
  const std::vector<uint8_t> clean = MakeStream(&texture);
  const auto reference = Decode(clean);
  ASSERT_EQ(reference.size(), 2u);

  // Macroblock 5's coefficient becomes an escape with broken markers: the
  // forward reading fails there and the packet is read from its end.
  std::vector<uint8_t> broken = clean;
  for (size_t bit = texture[5]; bit < texture[6]; ++bit) broken[bit / 8] = static_cast<uint8_t>(broken[bit / 8] & ~(0x80 >> (bit % 8)));
  const auto damaged = Decode(broken);
  ASSERT_EQ(damaged.size(), 2u);
  const auto& got = damaged[1];
  const auto& want = reference[1];
  // The forward reading stands before k - 2 = 3. Read backwards, each
  // macroblock also meets the last event of the one before it, so the
  // reading fails at macroblock 6 (meeting 5's broken bits): 9 is recovered,
  // 8 down to 3 (j + 2 down to k - 2) keep motion-only prediction.
  for (int mb : {0, 1, 2, 9}) EXPECT_EQ(MacroblockDiff(got, want, mb), 0) << "macroblock " << mb;
  EXPECT_GT(MacroblockDiff(got, want, 5), 0);
  // Reconstructed by motion compensation alone: the flat reference picture.
  for (int mb = 3; mb <= 8; ++mb) EXPECT_EQ(MacroblockDiff(got, reference[0], mb), 0) << "macroblock " << mb;
}

}  // namespace
