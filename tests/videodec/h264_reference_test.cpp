// Hand-made H.264 streams of one-macroblock pictures for the reference
// picture rules: list reordering, adaptive marking, the sliding window and
// frame_num gaps; and for the slice-data edges: the macroblocks marked before
// a slice error, the I_PCM length bound and disable_deblocking_filter_idc 2;
// and the sample range that a VUI signals.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "codecs/videodec/h264/h264_decoder.h"
#include "tests/videodec/h264_stream_writer.h"
#include "tests/videodec/h264_test_util.h"

namespace {

using h264test::BitWriter;
using h264test::Concat;
using h264test::FinishSlice;
using h264test::LumaAt;
using h264test::MakePps;
using h264test::MakeSps;
using h264test::SliceSpec;
using h264test::SpsParams;

// One P picture after the IDR picture (frame 0, every sample 10).
struct RefPicture {
  int frame_num;
  // > 0: an I_PCM macroblock of this value; 0: P_Skip; < 0: a copy of
  // reference index -content - 1 with num_ref_idx_active 3.
  int content;
  std::vector<std::pair<int, int>> reordering = {};
  std::vector<SliceSpec::Op> mmco = {};
  bool idr = false;  // an IDR picture (content > 0)
};

struct RefCase {
  const char* name;
  int num_ref_frames;
  bool gaps_allowed;
  std::vector<RefPicture> pictures;
  int expected;  // the last picture's samples; -1: its macroblock is concealed
};

void PrintTo(const RefCase& c, std::ostream* os) { *os << c.name; }

std::vector<uint8_t> RefStream(const RefCase& c) {
  SpsParams sps;
  sps.num_ref_frames = c.num_ref_frames;
  sps.gaps_allowed = c.gaps_allowed;
  std::vector<uint8_t> out = Concat({MakeSps(sps), MakePps({})});
  auto add = [&](const SliceSpec& s, int content) {
    BitWriter w;
    h264test::WriteSliceHeader(w, s);
    if (content > 0) h264test::WritePcmMacroblock(w, s.p_slice, uint8_t(content));
    else if (content == 0) w.Ue(1);  // mb_skip_run over the one macroblock
    else h264test::WriteCopyMacroblock(w, -content - 1, s.num_ref_idx_override);
    const std::vector<uint8_t> nal = FinishSlice(w, s);
    out.insert(out.end(), nal.begin(), nal.end());
  };
  add(h264test::IdrSlice(), 10);
  for (const RefPicture& p : c.pictures) {
    SliceSpec s = p.idr ? h264test::IdrSlice() : SliceSpec{};
    s.frame_num = p.frame_num;
    s.reordering = p.reordering;
    s.mmco = p.mmco;
    if (p.content < 0) s.num_ref_idx_override = 3;
    add(s, p.content);
  }
  return out;
}

class H264References : public ::testing::TestWithParam<RefCase> {};

TEST_P(H264References, LastPictureTakesTheExpectedReference) {
  const RefCase& c = GetParam();
  const ovtest::DecodedStream out = ovtest::DecodeAnnexB(RefStream(c));
  ASSERT_EQ(out.md5.size(), c.pictures.size() + 1);
  if (c.expected < 0) {
    EXPECT_EQ(out.damaged, 1);
  } else {
    EXPECT_EQ(out.damaged, 0);
    EXPECT_EQ(LumaAt(out, 0, 0), c.expected);
  }
}

// Frames 1 to 8 of I_PCM valued 20 to 90 after the IDR frame 0 (10), then
// frame 9 copying the picture that `reordering` puts first. MaxFrameNum is 16.
RefCase NineFrames(const char* name, std::pair<int, int> reordering, int expected) {
  RefCase c{name, 10, false, {}, expected};
  for (int f = 1; f <= 8; ++f) c.pictures.push_back({f, 10 + 10 * f});
  c.pictures.push_back({9, -1, {reordering}});
  return c;
}

std::vector<RefCase> RefCases() {
  using Op = SliceSpec::Op;
  return {
      // Reordering: abs_diff_pic_num_minus1 + 1 reaches MaxFrameNum / 2 back
      // and MaxFrameNum / 2 - 1 forward; a picture it does not find, or one
      // past the sliding window, refuses the slice header.
      {"ReorderedToAnOlderPicture", 3, false, {{1, 20}, {2, 30}, {3, -1, {{0, 1}}}}, 20},
      NineFrames("ReorderBackHalfTheRange", {0, 7}, 20),
      NineFrames("ReorderBackBeyondHalfTheRange", {0, 8}, -1),
      NineFrames("ReorderForwardHalfTheRangeLessOne", {1, 6}, 10),
      NineFrames("ReorderForwardHalfTheRange", {1, 7}, -1),
      {"ReorderedToAPictureOutOfTheWindow", 2, false, {{1, 20}, {2, 30}, {3, -2, {{0, 2}}}}, -1},
      {"ReorderedToAMissingLongTermPicture", 2, false, {{1, 20}, {2, -2, {{2, 0}}}}, -1},
      {"WindowKeepsNumRefFrames", 2, false, {{1, 20}, {2, 30}, {3, -1, {{0, 1}}}}, 20},
      // Adaptive marking: an operation naming no picture or a long-term index
      // that num_ref_frames cannot hold fails, and the next picture's first
      // slice is refused.
      {"MmcoUnmarksAPicture", 3, false, {{1, 20, {}, {Op{1, 0, 0}}}, {2, -1, {{0, 1}}}}, -1},
      {"MmcoUnmarksNoPicture", 3, false, {{1, 20, {}, {Op{1, 4, 0}}}, {2, -1}}, -1},
      {"IdrAfterAFailedMarking", 3, false, {{1, 20, {}, {Op{1, 4, 0}}}, {0, 40, {}, {}, true}}, 40},
      {"MmcoRemovesNothing", 3, false, {{1, 20, {}, {Op{4, 0, 2}}}, {2, -1}}, 20},
      {"MmcoLongTermIndicesBeyondTheStore", 2, false, {{1, 20, {}, {Op{4, 0, 3}}}, {2, -1}}, -1},
      {"MmcoLongTermCurrentPicture", 2, false, {{1, 20, {}, {Op{4, 0, 2}, Op{6, 0, 1}}}, {2, -1, {{2, 1}}}}, 20},
      {"MmcoLongTermIndexBeyondTheStore", 2, false, {{1, 20, {}, {Op{4, 0, 2}, Op{6, 0, 2}}}, {2, -1}}, -1},
      {"MmcoLongTermOfNoPicture", 3, false, {{1, 20, {}, {Op{4, 0, 2}, Op{3, 4, 0}}}, {2, -1}}, -1},
      // frame_num gaps: frames 2 and 3 are missing before frame 4. Allowed by
      // the sequence, they are non-existing frames in the list ([3, 2, 1]),
      // and predicting from one is an error; lost, they carry the latest
      // picture.
      {"GapFrameIsNoReference", 3, true, {{1, 20}, {4, -1}}, -1},
      {"GapFramesKeepTheirPlaces", 3, true, {{1, 20}, {4, -3}}, 20},
      {"SkipFromAGapFrame", 3, true, {{1, 20}, {4, 0}}, -1},
      {"LostFramesCarryTheLatestPicture", 3, false, {{1, 20}, {4, -1}}, 20},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, H264References, ::testing::ValuesIn(RefCases()),
                         [](const ::testing::TestParamInfo<RefCase>& p) { return std::string(p.param.name); });

// A slice error conceals the failing macroblock and the four before it in
// raster order, those of its own slice only. 4 x 3 macroblocks of I_PCM, an
// mb_type of 26 (beyond I_PCM) at `bad`.
struct ErrorCase {
  const char* name;
  int second_slice;  // first macroblock of a second slice, or 0 for one slice
  int bad;
  int damaged;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class H264SliceError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(H264SliceError, MarksTheMacroblocksBefore) {
  const ErrorCase& c = GetParam();
  std::vector<uint8_t> stream = Concat({MakeSps(SpsParams{66, 1, 4, 3, 2}), MakePps({})});
  const int starts[2] = {0, c.second_slice};
  for (int k = 0; k < (c.second_slice ? 2 : 1); ++k) {
    const SliceSpec s = h264test::IdrSlice(starts[k]);
    BitWriter w;
    h264test::WriteSliceHeader(w, s);
    const int end = k == 0 && c.second_slice ? c.second_slice : c.bad;
    for (int mb = starts[k]; mb < end; ++mb) h264test::WritePcmMacroblock(w, false, 50);
    if (end == c.bad) w.Ue(26);
    const std::vector<uint8_t> nal = FinishSlice(w, s);
    stream.insert(stream.end(), nal.begin(), nal.end());
  }
  const ovtest::DecodedStream out = ovtest::DecodeAnnexB(stream);
  ASSERT_EQ(out.md5.size(), 1u);
  EXPECT_EQ(out.damaged, c.damaged);
}

INSTANTIATE_TEST_SUITE_P(Cases, H264SliceError,
                         ::testing::Values(ErrorCase{"FourBefore", 0, 8, 8},        // 4 to 11
                                           ErrorCase{"NearTheStart", 0, 2, 12},     // 0 to 11
                                           ErrorCase{"OwnSliceOnly", 6, 8, 6}),     // 6 to 11
                         [](const ::testing::TestParamInfo<ErrorCase>& p) { return std::string(p.param.name); });

// An mb_skip_run that would pass the picture's last macroblock ends the slice
// with an error before anything is skipped, and the error marking takes the
// four macroblocks before it; a run that ends on the last macroblock completes
// the picture. Eight macroblocks in a row: an I picture, then a P picture of
// six I_PCM macroblocks and the run.
TEST(H264SliceData, SkipRunPastTheLastMacroblockFails) {
  for (const int run : {2, 3}) {
    const SliceSpec idr = h264test::IdrSlice();
    BitWriter wi;
    h264test::WriteSliceHeader(wi, idr);
    for (int mb = 0; mb < 8; ++mb) h264test::WritePcmMacroblock(wi, false, 10);
    SliceSpec p;
    p.frame_num = 1;
    BitWriter wp;
    h264test::WriteSliceHeader(wp, p);
    for (int mb = 0; mb < 6; ++mb) h264test::WritePcmMacroblock(wp, true, 20);
    wp.Ue(uint32_t(run));
    const std::vector<uint8_t> stream = Concat({MakeSps(SpsParams{66, 1, 8, 1, 2}), MakePps({}),
                                                FinishSlice(wi, idr), FinishSlice(wp, p)});
    const ovtest::DecodedStream out = ovtest::DecodeAnnexB(stream);
    ASSERT_EQ(out.md5.size(), 2u);
    EXPECT_EQ(out.damaged, run == 2 ? 0 : 6) << "run " << run;  // 2 to 7
  }
}

// I_PCM needs its 384 bytes: one byte fewer left in the NAL unit ends the
// slice before any sample is read.
TEST(H264SliceData, PcmNeedsAllItsBytes) {
  for (const int bytes : {384, 383}) {
    const SliceSpec s = h264test::IdrSlice();
    BitWriter w;
    h264test::WriteSliceHeader(w, s);
    w.Ue(25);
    w.Align();
    for (int i = 0; i < bytes; ++i) w.Byte(0x55);
    const std::vector<uint8_t> nal = w.Nal(3, 5);  // no trailing bits: the samples end the unit
    const ovtest::DecodedStream out = ovtest::DecodeAnnexB(Concat({MakeSps({}), MakePps({}), nal}));
    ASSERT_EQ(out.md5.size(), 1u) << bytes;
    EXPECT_EQ(out.damaged, bytes == 384 ? 0 : 1) << bytes;
    if (bytes == 384) {
      EXPECT_EQ(LumaAt(out, 0, 0), 0x55);
    }
  }
}

// disable_deblocking_filter_idc 2 filters inside a slice and leaves its edges
// to other slices alone. Three macroblocks in a row: slice A is an I_PCM
// macroblock of 120; slice B (QP 51) a flat intra macroblock of 128, which
// has no neighbour in its slice, then I_PCM of 120. An edge between 128 and
// 120 at QP (51 + 0 + 1) / 2 = 26 is filtered with the bS 4 filter: the
// samples next to it become (2 x 128 + 128 + 120 + 2) >> 2 = 126 and
// (2 x 120 + 120 + 128 + 2) >> 2 = 122.
TEST(H264SliceData, DeblockingIdc2LeavesSliceEdges) {
  for (const int idc : {0, 2}) {
    std::vector<uint8_t> stream = Concat({MakeSps(SpsParams{66, 1, 3, 1, 2}), MakePps({})});
    const SliceSpec a = h264test::IdrSlice();
    BitWriter wa;
    h264test::WriteSliceHeader(wa, a);
    h264test::WritePcmMacroblock(wa, false, 120);
    SliceSpec b = h264test::IdrSlice(1);
    b.qp_delta = 25;
    b.deblocking_idc = idc;
    BitWriter wb;
    h264test::WriteSliceHeader(wb, b);
    h264test::WriteFlatIntraMacroblock(wb, false);
    h264test::WritePcmMacroblock(wb, false, 120);
    stream = Concat({stream, FinishSlice(wa, a), FinishSlice(wb, b)});
    const ovtest::DecodedStream out = ovtest::DecodeAnnexB(stream);
    ASSERT_EQ(out.md5.size(), 1u);
    ASSERT_EQ(out.damaged, 0);
    const uint8_t* row = out.last.data();  // luma row 0
    // The slice edge between macroblocks 0 and 1.
    EXPECT_EQ(row[15], idc == 2 ? 120 : 122) << "idc " << idc;
    EXPECT_EQ(row[16], idc == 2 ? 128 : 126) << "idc " << idc;
    // The edge inside slice B.
    EXPECT_EQ(row[31], 126) << "idc " << idc;
    EXPECT_EQ(row[32], 122) << "idc " << idc;
  }
}

// The VUI's video_full_range_flag is reported; a set without a VUI, or one
// that says 0, is studio range.
TEST(H264Vui, FullRangeFlagIsReported) {
  for (int flag : {-1, 0, 1}) {
    SpsParams sps;
    sps.full_range = flag;
    const std::vector<uint8_t> config = Concat({MakeSps(sps), MakePps({})});
    uint32_t length = uint32_t(config.size());
    videodec::H264StreamInfo info{};
    videodec::VideoDecoder* d = nullptr;
    ASSERT_EQ(videodec::gCreateH264VideoDecoder(&d, config.data(), &length, &info, 0, 0,
                                                videodec::H264_FRAMING_ANNEX_B),
              videodec::VDEC_OK)
        << flag;
    int32_t full = -1;
    EXPECT_EQ(d->GetDecoderParam(d, videodec::VDEC_H264_PARAM_FULL_RANGE, &full), videodec::VDEC_OK);
    EXPECT_EQ(full, flag == 1 ? 1 : 0) << flag;
    d->DestroyDecoder(d);
  }
}

}  // namespace
