// Hand-made H.264 streams for what the conformance streams do not hold:
// I_PCM, slice groups and arbitrary slice order, redundant slices, and the
// parameter-set rules of the decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_paths.h"
#include "tests/videodec/h264_stream_writer.h"
#include "tests/videodec/h264_test_util.h"

namespace {

using h264test::BitWriter;
using h264test::Concat;
using h264test::LumaAt;
using h264test::MakePcmSlice;
using h264test::MakePps;
using h264test::MakeSps;
using h264test::PpsParams;
using h264test::SpsParams;


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
  PpsParams pps;
  pps.slice_groups = 2;
  pps.map_type = 1;
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

// Every map type on 4x3 macroblocks; the expected maps are worked by hand from
// ITU-T H.264 8.2.2.1 to 8.2.2.7. Each slice group is sent as one slice of
// I_PCM macroblocks valued 10 + group, so the picture shows the map.
struct MapCase {
  const char* name;
  PpsParams pps;
  int cycle_bits, cycle;
  std::vector<int> expected;
};

class H264SliceGroupMap : public ::testing::TestWithParam<MapCase> {};

TEST_P(H264SliceGroupMap, MacroblocksLandInTheirGroups) {
  const MapCase& c = GetParam();
  std::vector<uint8_t> stream = Concat({MakeSps(SpsParams{66, 1, 4, 3, 2}), MakePps(c.pps)});
  for (int g = c.pps.slice_groups - 1; g >= 0; --g) {  // last group first: slice order is free
    int first = -1, count = 0;
    for (size_t i = 0; i < c.expected.size(); ++i)
      if (c.expected[i] == g) {
        if (first < 0) first = int(i);
        ++count;
      }
    if (count == 0) continue;
    const auto slice = MakePcmSlice(first, std::vector<uint8_t>(size_t(count), uint8_t(10 + g)), -1, 0,
                                    c.cycle_bits, c.cycle);
    stream.insert(stream.end(), slice.begin(), slice.end());
  }
  const ovtest::DecodedStream out = ovtest::DecodeAnnexB(stream);
  ASSERT_EQ(out.md5.size(), 1u);
  EXPECT_EQ(out.damaged, 0);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(LumaAt(out, i % 4, i / 4), 10 + c.expected[size_t(i)]) << "macroblock " << i;
}

PpsParams MapPps(int groups, int type) {
  PpsParams p;
  p.slice_groups = groups;
  p.map_type = type;
  return p;
}

std::vector<MapCase> MapCases() {
  std::vector<MapCase> v;
  PpsParams p = MapPps(2, 0);
  p.run_length = {2, 3};
  v.push_back({"Interleaved", p, 0, 0, {0, 0, 1, 1, 1, 0, 0, 1, 1, 1, 0, 0}});
  v.push_back({"Dispersed", MapPps(3, 1), 0, 0, {0, 1, 2, 0, 1, 2, 0, 1, 0, 1, 2, 0}});
  p = MapPps(3, 2);
  p.top_left = {1, 5};
  p.bottom_right = {6, 11};
  v.push_back({"Foreground", p, 0, 0, {2, 0, 0, 2, 2, 0, 0, 1, 2, 1, 1, 1}});
  p = MapPps(2, 3);
  v.push_back({"BoxOut", p, 4, 5, {1, 0, 0, 0, 1, 0, 0, 1, 1, 1, 1, 1}});
  p = MapPps(2, 4);
  p.change_direction = 1;
  p.change_rate = 2;
  v.push_back({"RasterScan", p, 3, 2, {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0}});
  p = MapPps(2, 5);
  v.push_back({"Wipe", p, 4, 5, {0, 0, 1, 1, 0, 0, 1, 1, 0, 1, 1, 1}});
  p = MapPps(2, 6);
  p.group_ids = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0};
  v.push_back({"Explicit", p, 0, 0, p.group_ids});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Types, H264SliceGroupMap, ::testing::ValuesIn(MapCases()),
                         [](const ::testing::TestParamInfo<MapCase>& param) { return std::string(param.param.name); });

TEST(H264Stream, RedundantSliceDoesNotOverwriteThePrimary) {
  PpsParams pps;
  pps.redundant = true;
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
  // Some encoders give every IDR picture idr_pic_id 0: a slice that starts
  // again at macroblock 0 still begins a new picture.
  const auto same_id =
      Concat({MakeSps(sps), MakePps({}), MakePcmSlice(0, {20}, -1, 0), MakePcmSlice(0, {30}, -1, 0)});
  EXPECT_EQ(ovtest::DecodeAnnexB(same_id).md5.size(), 2u);
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

// A refused picture parameter set does not disturb a valid one of the same
// identifier; one that never was valid leaves slices naming it undecodable.
TEST(H264Stream, RefusedPictureParameterSet) {
  videodec::h264::Core core;
  int pictures = 0;
  core.SetPictureCallback([](void* u, const videodec::h264::Picture&, int, int) { ++*static_cast<int*>(u); },
                          &pictures);
  auto feed = [&](const std::vector<uint8_t>& nal) { return core.DecodeNal(nal.data() + 4, nal.size() - 4); };
  ASSERT_EQ(feed(MakeSps({})), 0);
  ASSERT_EQ(feed(MakePps({})), 0);
  // pic_parameter_set_id 0, seq_parameter_set_id 0, entropy_coding_mode_flag 1 (CABAC).
  BitWriter cabac;
  cabac.Ue(0);
  cabac.Ue(0);
  cabac.Bit(1);
  cabac.Trailing();
  EXPECT_NE(feed(cabac.Nal(3, 8)), 0);
  ASSERT_EQ(feed(MakePcmSlice(0, {33})), 0);
  core.FinishPicture();
  EXPECT_EQ(pictures, 1);
  EXPECT_EQ(core.damaged_in_last_picture(), 0);
}

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

namespace {

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double se = 0;
  for (size_t i = 0; i < a.size(); ++i) se += double(a[i] - b[i]) * double(a[i] - b[i]);
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * double(a.size()) / se);
}

// A first picture with its lower part lost: the macroblock next to the
// decoded one takes its low-frequency content, the next repeats it.
TEST(H264Concealment, FirstPictureFilledFromAbove) {
  const auto stream = Concat({MakeSps(SpsParams{66, 1, 1, 3, 2}), MakePps({}), MakePcmSlice(0, {100})});
  const ovtest::DecodedStream out = ovtest::DecodeAnnexB(stream);
  ASSERT_EQ(out.md5.size(), 1u);
  EXPECT_EQ(out.damaged, 2);
  for (uint8_t v : out.last) ASSERT_EQ(v, 100);
}

// A P picture of four slices loses its second slice: the gap is predicted
// with the motion of the decoded neighbours and stays close to the intact
// picture.
TEST(H264Concealment, LostSliceOfAPPictureIsPredicted) {
  const std::string path = ovtest::FixturePath("h264_base_slices.264");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const std::vector<uint8_t> data = ovtest::ReadFileBytes(path);
  // Find the second slice of the sixth picture and cut it out.
  size_t pos = 0, b = 0, e = 0;
  int pictures = 0, slice_in_picture = 0;
  size_t cut_begin = 0, cut_end = 0;
  while (videodec::h264::NextAnnexBNal(data.data(), data.size(), pos, &b, &e)) {
    const int type = data[b] & 31;
    if (type == 1 || type == 5) {
      if (data[b + 1] & 0x80) ++pictures, slice_in_picture = 0;
      ++slice_in_picture;
      if (pictures == 6 && slice_in_picture == 2) cut_begin = b, cut_end = e;
    }
    pos = e;
  }
  ASSERT_GT(cut_end, cut_begin);
  std::vector<uint8_t> damaged(data.begin(), data.begin() + long(cut_begin));
  damaged.insert(damaged.end(), data.begin() + long(cut_end), data.end());
  // Decode both up to the damaged picture and compare it.
  auto nth_picture = [](const std::vector<uint8_t>& s, size_t n) {
    std::vector<uint8_t> out;
    videodec::h264::Core core;
    struct Ctx {
      size_t n, seen;
      std::vector<uint8_t>* out;
      int damaged;
      videodec::h264::Core* core;
    } ctx{n, 0, &out, 0, &core};
    core.SetPictureCallback(
        [](void* u, const videodec::h264::Picture& p, int w, int h) {
          auto* c = static_cast<Ctx*>(u);
          if (c->seen++ == c->n) {
            c->out->assign(p.plane[0], p.plane[0] + w * h);
            c->damaged = c->core->damaged_in_last_picture();
          }
        },
        &ctx);
    size_t p0 = 0, b0 = 0, e0 = 0;
    while (videodec::h264::NextAnnexBNal(s.data(), s.size(), p0, &b0, &e0)) {
      core.DecodeNal(s.data() + b0, e0 - b0);
      p0 = e0;
    }
    core.FinishPicture();
    return std::make_pair(out, ctx.damaged);
  };
  const auto intact = nth_picture(data, 5);
  const auto concealed = nth_picture(damaged, 5);
  ASSERT_FALSE(intact.first.empty());
  EXPECT_EQ(intact.second, 0);
  EXPECT_GT(concealed.second, 0);
  // A quarter of the picture is predicted (25.4 dB here); leaving the stale
  // buffer content in place scores 21.8 dB.
  constexpr double kMinConcealedPsnr = 24.0;
  EXPECT_GT(Psnr(intact.first, concealed.first), kMinConcealedPsnr);
}

}  // namespace

namespace {

// Real streams cut short and with flipped bits: every picture still comes out
// (concealed) and nothing reads or writes out of bounds.
TEST(H264Concealment, TruncatedAndFlippedFixtures) {
  const std::string path = ovtest::FixturePath("h264_base_slices.264");
  OV_SKIP_WITHOUT_FIXTURE(path);
  const std::vector<uint8_t> data = ovtest::ReadFileBytes(path);
  const size_t intact = ovtest::DecodeAnnexB(data).md5.size();
  std::mt19937 rng(4242);
  for (int trial = 0; trial < 12; ++trial) {
    std::vector<uint8_t> bad = data;
    // Skip the parameter sets at the front; damage only picture data.
    for (int k = 0; k < 20; ++k) {
      const size_t at = 64 + rng() % (bad.size() - 64);
      bad[at] ^= uint8_t(1u << (rng() % 8));
    }
    const ovtest::DecodedStream out = ovtest::DecodeAnnexB(bad);
    EXPECT_GE(out.md5.size() + 3, intact) << "trial " << trial;
  }
  std::vector<uint8_t> cut(data.begin(), data.begin() + long(data.size() / 3));
  const ovtest::DecodedStream out = ovtest::DecodeAnnexB(cut);
  EXPECT_GT(out.md5.size(), 5u);
}

}  // namespace
