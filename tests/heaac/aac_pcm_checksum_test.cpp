// The AAC-LC decoder's output, sample for sample: every stream below decodes,
// through every kernel variant of the machine and through the references
// alone, to the PCM whose checksum was recorded from the plain C++ decoder. Speed
// work on the decoder (lookup tables, SIMD kernels, reordered loops) must
// leave every sample as it was; the agreement bounds against the reference
// decoders are far too loose to notice a single rounding flip.
//
// The fixtures are made by ffmpeg at configure time, so each row carries the
// checksum of its input as well: a different ffmpeg build that encodes other
// bytes skips the row instead of failing it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/cpu/cpu.h"
#include "tests/heaac/aac_test_util.h"

namespace {

// FNV-1a, 64 bits.
uint64_t Fnv(const uint8_t* p, size_t n, uint64_t h = 0xcbf29ce484222325ull) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return h;
}

uint64_t PcmChecksum(const aactest::Pcm& pcm) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (const int16_t s : pcm.samples) {
    const uint8_t b[2] = {static_cast<uint8_t>(s), static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8)};
    h = Fnv(b, 2, h);
  }
  return h;
}

struct ChecksumCase {
  const char* name;  // fixture, or "shared:" and a path under ../shared/testdata
  uint64_t input;
  uint64_t pcm;
  size_t samples;
};

// Recorded from the decoder before its speed work.
constexpr ChecksumCase kCases[] = {
    {"aac_lc_96000_stereo.aac", 0x0c1855653cfed79dull, 0x614780b628d5df19ull, 194560},
    {"aac_lc_48000_mono.aac", 0xd29365b30ef0b946ull, 0x24758bf7b9b461cbull, 49152},
    {"aac_lc_44100_stereo.aac", 0x937b6636dfaef334ull, 0x3c66d9282803feb8ull, 92160},
    {"aac_lc_22050_stereo.aac", 0x39518c05fed19fa4ull, 0x0687111f8186e419ull, 47104},
    {"aac_lc_8000_mono.aac", 0x1d1a546a6308cd15ull, 0x8c5eb81cb17306fbull, 9216},
    {"aac_ms_on.aac", 0x01ca184d01b0742eull, 0x02f3b58803efe4f9ull, 180224},
    {"aac_is_on.aac", 0x6eb70b3a81cbc2fdull, 0x050635524607c121ull, 180224},
    {"aac_tns_on.aac", 0x2102fc7809ef01d6ull, 0xeaa2888a754f420cull, 180224},
    {"aac_ltp.aac", 0x1ce06bca3483f373ull, 0xf538bf9260432456ull, 180224},
    {"aac_pce.aac", 0x9761a13b735e490bull, 0x3c66d9282803feb8ull, 92160},
    {"aac_quiet.aac", 0x42021f017510c5aaull, 0xed3f46e9bca65631ull, 180224},
    {"aac_pns.aac", 0x8e7bea1d466a1edeull, 0xc57b1d578b45c1d6ull, 90112},
    {"aac_stereo.m4a", 0xc95bb53fd3d6221full, 0xeaa2888a754f420cull, 180224},
    {"aac_bench_60s.aac", 0x0cca78eaef8ce3afull, 0x0fdda8f9588ce460ull, 5294080},
    {"aac_bench_music_60s.aac", 0x34e73c9a36c94e3dull, 0x0d3b708d257c6d1cull, 5294080},
    {"aac_bench_noise_60s.aac", 0xf36161c8becf58caull, 0x308dbfb9f72fb291ull, 5294080},
    {"shared:aac/androidx_sample.adts", 0x86fb39c042e6af0full, 0xbbd386e0751d6085ull, 147456},
    {"shared:aac/androidx_sine.aac", 0x6d13f7f97a362e40ull, 0xcb79a27668fc46d2ull, 46080},
    {"shared:aac/androidx_long_edit_list_audioonly.mp4", 0x562665416b9edbe4ull, 0x8b7650e480d13a2cull, 190464},
};

TEST(AacPcmChecksum, EveryStreamDecodesToTheRecordedSamples) {
  int compared = 0;
  for (const ChecksumCase& c : kCases) {
    std::string name = c.name;
    std::string path;
    if (name.rfind("shared:", 0) == 0) {
      if (!ovtest::HaveSharedTestdata()) continue;
      path = ovtest::SharedTestdataPath(name.substr(7));
    } else {
      path = ovtest::FixturePath(name);
    }
    if (!std::ifstream(path)) continue;
    const std::vector<uint8_t> data = ovtest::ReadFileBytes(path);
    const uint64_t input = Fnv(data.data(), data.size());
    const bool mp4 = path.size() > 4 && (path.compare(path.size() - 4, 4, ".mp4") == 0 ||
                                         path.compare(path.size() - 4, 4, ".m4a") == 0);
    if (input != c.input) continue;  // another encoder build made other bytes
    ++compared;
    // Every kernel variant the machine has, and the references alone; the
    // minute-long streams with all of them only.
    const bool minute = c.samples > 1000000;
    for (const uint32_t mask : {~0u, uint32_t{ov::kCpuSse2}, 0u}) {
      if (minute && mask != ~0u) break;
      ov::SetCpuFlagsMask(mask);
      const aactest::Pcm pcm = mp4 ? aactest::DecodeMp4(path) : aactest::DecodeStream(data);
      ov::SetCpuFlagsMask(~0u);
      const uint64_t sum = PcmChecksum(pcm);
      char row[160];
      std::snprintf(row, sizeof(row), "{\"%s\", 0x%016llxull, 0x%016llxull, %zu}", c.name,
                    static_cast<unsigned long long>(input), static_cast<unsigned long long>(sum), pcm.samples.size());
      EXPECT_EQ(pcm.samples.size(), c.samples) << row << " cpu mask " << mask;
      EXPECT_EQ(sum, c.pcm) << row << " cpu mask " << mask << ": decoded samples differ from the recorded ones";
    }
  }
  if (compared == 0) GTEST_SKIP() << "no stream with its recorded input bytes: run scripts/make-fixtures";
}

}  // namespace
