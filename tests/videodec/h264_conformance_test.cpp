// The ITU-T H.264.1 Baseline conformance streams, decoded picture by picture
// and compared with the per-frame MD5 references of ../shared/testdata.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/cpu/cpu.h"
#include "tests/support/test_paths.h"
#include "tests/videodec/h264_test_util.h"

namespace {

// The md5 column of an ffmpeg framemd5 file.
std::vector<std::string> ReadFrameMd5(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t comma = line.rfind(',');
    std::string md5 = line.substr(comma + 1);
    md5.erase(0, md5.find_first_not_of(' '));
    out.push_back(md5);
  }
  return out;
}

const char* const kStreams[] = {
    "BA1_FT_C.264",      "BA1_Sony_D.jsv",   "BAMQ1_JVC_C.264", "BAMQ2_JVC_C.264",    "BANM_MW_D.264",
    "BASQP1_Sony_C.jsv", "BA_MW_D.264",      "CI1_FT_B.264",    "CI_MW_D.264",        "CVFC1_Sony_C.jsv",
    "LS_SVA_D.264",      "MIDR_MW_D.264",    "MPS_MW_A.264",    "MR1_BT_A.h264",      "MR1_MW_A.264",
    "MR2_MW_A.264",      "MR2_TANDBERG_E.264", "NL1_Sony_D.jsv", "NLMQ1_JVC_C.264",   "NLMQ2_JVC_C.264",
    "NRF_MW_E.264",      "SVA_BA1_B.264",    "SVA_BA2_D.264",   "SVA_Base_B.264",     "SVA_CL1_E.264",
    "SVA_FM1_E.264",     "SVA_NL1_B.264",    "SVA_NL2_E.264",
};

struct ConformanceCase {
  const char* stream;
  uint32_t cpu_mask;  // 0: reference kernels only
};

// Test listings show the stream and the kernels rather than raw bytes.
[[maybe_unused]] void PrintTo(const ConformanceCase& c, std::ostream* os) {
  *os << c.stream << (c.cpu_mask ? " (all kernels)" : " (reference kernels)");
}

class H264Conformance : public ::testing::TestWithParam<ConformanceCase> {
 protected:
  void TearDown() override { ov::SetCpuFlagsMask(~0u); }
};

TEST_P(H264Conformance, EveryPictureMatchesTheReference) {
  OV_SKIP_WITHOUT_SHARED_TESTDATA();
  const ConformanceCase& c = GetParam();
  ov::SetCpuFlagsMask(c.cpu_mask);
  const std::string path = ovtest::SharedTestdataPath(std::string("h264-jvt/") + c.stream);
  const std::vector<std::string> ref = ReadFrameMd5(path + ".framemd5");
  ASSERT_FALSE(ref.empty());
  const ovtest::DecodedStream out = ovtest::DecodeAnnexB(ovtest::ReadFileBytes(path));
  ASSERT_EQ(out.md5.size(), ref.size());
  for (size_t i = 0; i < ref.size(); ++i) ASSERT_EQ(out.md5[i], ref[i]) << "picture " << i;
  EXPECT_EQ(out.damaged, 0);
}

std::vector<ConformanceCase> AllCases() {
  std::vector<ConformanceCase> v;
  for (const char* s : kStreams) {
    v.push_back({s, 0u});
    v.push_back({s, ~0u});
  }
  return v;
}

std::string CaseName(const ::testing::TestParamInfo<ConformanceCase>& info) {
  std::string n = info.param.stream;
  for (char& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n + (info.param.cpu_mask ? "_simd" : "_ref");
}

INSTANTIATE_TEST_SUITE_P(Jvt, H264Conformance, ::testing::ValuesIn(AllCases()), CaseName);

// Streams with whole pictures removed: decoding goes on, the damage is
// concealed, and every coded picture still comes out.
struct LossCase {
  const char* stream;
  size_t min_pictures;
};

class H264Loss : public ::testing::TestWithParam<LossCase> {};

TEST_P(H264Loss, DecodesAndConceals) {
  OV_SKIP_WITHOUT_SHARED_TESTDATA();
  const std::string path = ovtest::SharedTestdataPath(std::string("h264-jvt/") + GetParam().stream);
  const ovtest::DecodedStream out = ovtest::DecodeAnnexB(ovtest::ReadFileBytes(path));
  EXPECT_GE(out.md5.size(), GetParam().min_pictures);
  EXPECT_EQ(out.width, 176);
  EXPECT_EQ(out.height, 144);
}

INSTANTIATE_TEST_SUITE_P(Jvt, H264Loss,
                         ::testing::Values(LossCase{"BA_MW_D_IDR_LOST.264", 97}, LossCase{"BA_MW_D_P_LOST.264", 99}),
                         [](const ::testing::TestParamInfo<LossCase>& param) {
                           return std::string(param.param.stream) == "BA_MW_D_IDR_LOST.264" ? "IdrLost" : "PLost";
                         });

}  // namespace
