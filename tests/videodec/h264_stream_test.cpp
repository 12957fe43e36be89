// Hand-made H.264 streams for what the conformance streams do not hold:
// I_PCM, slice groups and arbitrary slice order, redundant slices, and the
// parameter-set rules of the decoder.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/videodec/h264_test_util.h"

namespace {

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
};

std::vector<uint8_t> MakeSps(const SpsParams& p) {
  BitWriter w;
  w.U(8, uint32_t(p.profile));
  w.U(8, 0);
  w.U(8, 30);
  w.Ue(0);  // seq_parameter_set_id
  w.Ue(0);  // log2_max_frame_num_minus4
  w.Ue(uint32_t(p.poc_type));
  w.Ue(uint32_t(p.num_ref_frames));
  w.Bit(0);
  w.Ue(uint32_t(p.mb_w - 1));
  w.Ue(uint32_t(p.mb_h - 1));
  w.Bit(1);  // frame_mbs_only_flag
  w.Bit(1);
  w.Bit(0);  // no cropping
  w.Bit(0);  // no VUI
  w.Trailing();
  return w.Nal(3, 7);
}

struct PpsParams {
  int slice_groups = 1;
  int map_type = 1;
  bool redundant = false;
  int num_ref_idx = 1;
};

std::vector<uint8_t> MakePps(const PpsParams& p) {
  BitWriter w;
  w.Ue(0);
  w.Ue(0);
  w.Bit(0);  // CAVLC
  w.Bit(0);
  w.Ue(uint32_t(p.slice_groups - 1));
  if (p.slice_groups > 1) w.Ue(uint32_t(p.map_type));
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
std::vector<uint8_t> MakePcmSlice(int first_mb, const std::vector<uint8_t>& values, int redundant_cnt = -1,
                                  int idr_pic_id = 0) {
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
  for (uint8_t v : values) {
    w.Ue(25);  // I_PCM
    w.Align();
    for (int i = 0; i < 384; ++i) w.Byte(v);
  }
  w.Trailing();
  return w.Nal(3, 5);
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Luma value at the top-left sample of macroblock (mx, my).
uint8_t LumaAt(const ovtest::DecodedStream& s, int mx, int my) {
  return s.last[size_t(my * 16 * s.width + mx * 16)];
}

TEST(H264Stream, PcmMacroblockKeepsItsSamplesThroughEscapes) {
  // Values 0 and 1 make runs of zero bytes that need emulation prevention.
  const std::vector<uint8_t> stream = Concat({MakeSps({}), MakePps({}), MakePcmSlice(0, {0})});
  const ovtest::DecodedStream out = ovtest::DecodeAnnexB(stream);
  ASSERT_EQ(out.md5.size(), 1u);
  for (uint8_t b : out.last) ASSERT_EQ(b, 0);
  const ovtest::DecodedStream one = ovtest::DecodeAnnexB(Concat({MakeSps({}), MakePps({}), MakePcmSlice(0, {1})}));
  ASSERT_EQ(one.md5.size(), 1u);
  for (uint8_t b : one.last) ASSERT_EQ(b, 1);
}

// Slice-group map type 1 (dispersed) on 2x2 macroblocks, from clause 8.2.2.2:
// group = ((i % 2) + (((i / 2) * 2) / 2)) % 2, so group 0 holds macroblocks 0
// and 3, group 1 holds 1 and 2. The slices arrive in either order.
TEST(H264Stream, DispersedSliceGroupsInAnyOrder) {
  const SpsParams sps{66, 1, 2, 2, 2};
  const PpsParams pps{2, 1, false, 1};
  for (bool group1_first : {false, true}) {
    const auto g0 = MakePcmSlice(0, {10, 13});
    const auto g1 = MakePcmSlice(1, {11, 12});
    const auto stream = group1_first ? Concat({MakeSps(sps), MakePps(pps), g1, g0})
                                     : Concat({MakeSps(sps), MakePps(pps), g0, g1});
    const ovtest::DecodedStream out = ovtest::DecodeAnnexB(stream);
    ASSERT_EQ(out.md5.size(), 1u);
    EXPECT_EQ(LumaAt(out, 0, 0), 10);
    EXPECT_EQ(LumaAt(out, 1, 0), 11);
    EXPECT_EQ(LumaAt(out, 0, 1), 12);
    EXPECT_EQ(LumaAt(out, 1, 1), 13);
    EXPECT_EQ(out.damaged, 0);
  }
}

TEST(H264Stream, RedundantSliceDoesNotOverwriteThePrimary) {
  const PpsParams pps{1, 0, true, 1};
  const auto stream = Concat({MakeSps({}), MakePps(pps), MakePcmSlice(0, {50}, 0), MakePcmSlice(0, {90}, 1)});
  const ovtest::DecodedStream out = ovtest::DecodeAnnexB(stream);
  ASSERT_EQ(out.md5.size(), 1u);
  EXPECT_EQ(LumaAt(out, 0, 0), 50);
  // Without its primary the redundant slice is used.
  const auto lost = Concat({MakeSps({}), MakePps(pps), MakePcmSlice(0, {90}, 1)});
  const ovtest::DecodedStream out2 = ovtest::DecodeAnnexB(lost);
  ASSERT_EQ(out2.md5.size(), 1u);
  EXPECT_EQ(LumaAt(out2, 0, 0), 90);
}

TEST(H264Stream, IntraOnlyStreamWithNoReferenceFramesDecodes) {
  // num_ref_frames 0 with one active reference in the PPS, as intra-only
  // encoders write it; two IDR pictures.
  SpsParams sps;
  sps.num_ref_frames = 0;
  const auto stream =
      Concat({MakeSps(sps), MakePps({}), MakePcmSlice(0, {20}, -1, 0), MakePcmSlice(0, {30}, -1, 1)});
  const ovtest::DecodedStream out = ovtest::DecodeAnnexB(stream);
  ASSERT_EQ(out.md5.size(), 2u);
  EXPECT_EQ(LumaAt(out, 0, 0), 30);
  EXPECT_EQ(out.damaged, 0);
}

struct SpsCase {
  const char* name;
  SpsParams later;
  int expected;
};

class H264SpsRules : public ::testing::TestWithParam<SpsCase> {};

// A first valid SPS, then a second one with the same id: refused ones leave
// the first in force, so the slice that follows still decodes.
TEST_P(H264SpsRules, LaterSequenceParameterSet) {
  const SpsCase& c = GetParam();
  videodec::h264::Core core;
  int pictures = 0;
  core.SetPictureCallback([](void* u, const videodec::h264::Picture&, int, int) { ++*static_cast<int*>(u); },
                          &pictures);
  auto feed = [&](const std::vector<uint8_t>& nal) { return core.DecodeNal(nal.data() + 4, nal.size() - 4); };
  ASSERT_EQ(feed(MakeSps({})), 0);
  EXPECT_EQ(feed(MakeSps(c.later)), c.expected);
  ASSERT_EQ(feed(MakePps({})), 0);
  ASSERT_EQ(feed(MakePcmSlice(0, {77})), 0);
  core.FinishPicture();
  EXPECT_EQ(pictures, 1);
  ASSERT_NE(core.last_picture(), nullptr);
  EXPECT_EQ(core.last_picture()->plane[0][0], 77);
  EXPECT_EQ(core.Width(), 16);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, H264SpsRules,
    ::testing::Values(SpsCase{"Same", SpsParams{}, 0}, SpsCase{"MainProfile", SpsParams{77, 1, 1, 1, 2}, -3005},
                      SpsCase{"OtherSize", SpsParams{66, 1, 2, 1, 2}, -1},
                      SpsCase{"OtherRefCount", SpsParams{66, 4, 1, 1, 2}, -1},
                      SpsCase{"TooWide", SpsParams{66, 1, 256, 1, 2}, -1},
                      SpsCase{"BadPocType", SpsParams{66, 1, 1, 1, 3}, -1}),
    [](const ::testing::TestParamInfo<SpsCase>& param) { return std::string(param.param.name); });

TEST(H264Stream, FirstSequenceWiderThan255MacroblocksIsRefused) {
  videodec::h264::Core core;
  const auto sps = MakeSps(SpsParams{66, 1, 256, 1, 2});
  EXPECT_EQ(core.DecodeNal(sps.data() + 4, sps.size() - 4), -1);
  EXPECT_FALSE(core.HasSps());
}

TEST(H264Stream, SliceBeforeItsPictureParameterSet) {
  videodec::h264::Core core;
  const auto sps = MakeSps({});
  ASSERT_EQ(core.DecodeNal(sps.data() + 4, sps.size() - 4), 0);
  const auto slice = MakePcmSlice(0, {1});
  EXPECT_EQ(core.DecodeNal(slice.data() + 4, slice.size() - 4), -3004);
}

TEST(H264Stream, TruncatedAndFlippedStreamsAreConcealed) {
  const auto good = Concat({MakeSps(SpsParams{66, 1, 2, 2, 2}), MakePps({}), MakePcmSlice(0, {40, 41, 42, 43})});
  // Cut the slice short: the missing macroblocks are concealed.
  std::vector<uint8_t> cut(good.begin(), good.end() - 600);
  const ovtest::DecodedStream out = ovtest::DecodeAnnexB(cut);
  ASSERT_EQ(out.md5.size(), 1u);
  EXPECT_GT(out.damaged, 0);
  // Flip bits all over the stream: no crash, whatever comes out.
  for (size_t i = 5; i < good.size(); i += 7) {
    std::vector<uint8_t> bad = good;
    bad[i] ^= uint8_t(1u << (i % 8));
    ovtest::DecodeAnnexB(bad);
  }
}

}  // namespace
