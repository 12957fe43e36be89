#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "media/decoder_source.h"
#include "media/wav_file.h"
#include "media/wav_source.h"
#include "platform/os/os_error.h"
#include "tests/media/media_test_util.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/test_paths.h"

namespace {

using Bytes = std::vector<uint8_t>;
using mediatest::U16;

Bytes Sox(const std::string& args) {
  std::string out = mediatest::RunCommand("sox " + args);
  return Bytes(out.begin(), out.end());
}

Bytes ReadAll(media::DecoderSource& source, uint32_t request = 4096, std::vector<uint32_t>* times = nullptr) {
  Bytes pcm;
  uint32_t bytes = 0, time = 0;
  while (auto block = source.ReadAudio(request, &bytes, &time)) {
    pcm.insert(pcm.end(), block.get(), block.get() + bytes);
    if (times) times->push_back(time);
  }
  return pcm;
}

std::string Scratch(const std::string& name, const Bytes& data) {
  std::string path = ovtest::ScratchDir() + "/" + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                              static_cast<std::streamsize>(data.size()));
  return path;
}

TEST(WavSource, PcmOfEveryWidthMatchesSox) {
  struct Case {
    const char* name;
    uint32_t bits;  // in the file
    uint32_t rate;
    uint32_t channels;
    uint32_t duration_ms;
  };
  const Case cases[] = {
      {"media_pcm8_mono.wav", 8, 8000, 1, 500},        {"media_pcm8_stereo.wav", 8, 11025, 2, 500},
      {"media_pcm16_mono_2s.wav", 16, 8000, 1, 2000},  {"media_pcm16_stereo.wav", 16, 44100, 2, 500},
      {"media_pcm24_mono.wav", 24, 8000, 1, 500},      {"media_pcm32_stereo.wav", 32, 8000, 2, 500},
      {"media_list.wav", 16, 8000, 1, 300},
  };
  for (const Case& c : cases) {
    std::string path = ovtest::FixturePath(c.name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    auto source = media::OpenAudioSource(U16(path));
    ASSERT_NE(source, nullptr) << c.name;
    media::MediaFormat format;
    ASSERT_TRUE(source->GetFormat(&format));
    EXPECT_EQ(format.sampleRate, c.rate) << c.name;
    EXPECT_EQ(format.channels, c.channels) << c.name;
    EXPECT_EQ(format.bitsPerSample, c.bits == 8 ? 8u : 16u) << c.name;
    // sox's raw samples at the file's width; the wider ones keep their high
    // 16 bits.
    Bytes raw = Sox("'" + path + "' -t raw -");
    Bytes expected;
    const uint32_t width = c.bits / 8;
    if (width <= 2) {
      expected = raw;
    } else {
      for (size_t i = 0; i + width <= raw.size(); i += width) {
        expected.push_back(raw[i + width - 2]);
        expected.push_back(raw[i + width - 1]);
      }
    }
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(ReadAll(*source, 4096), expected) << c.name;
    auto* wav = static_cast<media::WavSource*>(source.get());
    EXPECT_NEAR(wav->GetDuration(), c.duration_ms, 1) << c.name;
  }
}

TEST(WavSource, TwentyFourBitBlockSizes) {
  std::string path = ovtest::FixturePath("media_pcm24_mono.wav");
  OV_SKIP_WITHOUT_FIXTURE(path);
  media::WavSource source;
  ASSERT_TRUE(source.Open(U16(path), 1));
  uint32_t bytes = 0, time = 0;
  auto block = source.ReadAudio(4096, &bytes, &time);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(bytes, 4096u);
  EXPECT_EQ(source.bytesLeft, source.dataBytes - 6144);
}

TEST(WavSource, GsmMatchesSoxDecode) {
  std::string path = ovtest::FixturePath("media_gsm.wav");
  OV_SKIP_WITHOUT_FIXTURE(path);
  auto source = media::OpenAudioSource(U16(path));
  ASSERT_NE(source, nullptr);
  auto* wav = static_cast<media::WavSource*>(source.get());
  EXPECT_EQ(wav->blockMs, 40u);
  EXPECT_EQ(wav->GetDuration(), wav->dataBytes * 1000 / 1625);
  media::MediaFormat format;
  ASSERT_TRUE(source->GetFormat(&format));
  EXPECT_EQ(format.bitsPerSample, 16u);
  Bytes expected = Sox("'" + path + "' -t raw -e signed -b 16 -");
  std::vector<uint32_t> times;
  EXPECT_EQ(ReadAll(*source, 4410, &times), expected);
  ASSERT_GE(times.size(), 2u);
  EXPECT_EQ(times[1] - times[0], 280u);  // 4410 bytes ask for 7 blocks of 40 ms

  // Requests larger than one conversion keep every sample.
  ASSERT_TRUE(source->Rewind());
  EXPECT_EQ(ReadAll(*source, 1 << 20), expected);

  // Seek to whole blocks; the time reported is the start of the block
  // reached (120), where its first sample lies, not the 130 asked for: a
  // linked picture follows this time and would run 10 ms ahead otherwise.
  ASSERT_TRUE(source->Seek(130));
  EXPECT_EQ(wav->bytesLeft, wav->dataBytes - 195);
  uint32_t bytes = 0, time = 0;
  ASSERT_NE(source->ReadAudio(640, &bytes, &time), nullptr);
  EXPECT_EQ(time, 120u);

  // An end mark cuts the block that reaches it.
  ASSERT_TRUE(source->Rewind());
  source->endMark = 100;
  Bytes cut = ReadAll(*source, 640);
  EXPECT_EQ(cut.size(), 100u * 16);
}

TEST(WavSource, PcmSeekAlignsToSampleFramesAndReportsThePositionReached) {
  std::string path = ovtest::FixturePath("media_pcm16_stereo.wav");
  std::string mono = ovtest::FixturePath("media_pcm16_mono_2s.wav");
  OV_SKIP_WITHOUT_FIXTURE(path);
  media::WavSource source;
  ASSERT_TRUE(source.Open(U16(path), 1));
  Bytes all = ReadAll(source);
  // 3 ms at 44100 Hz 16-bit stereo is 529.2 bytes: 528, two whole frames short.
  ASSERT_TRUE(source.Seek(3));
  uint32_t bytes = 0, time = 0;
  auto block = source.ReadAudio(400, &bytes, &time);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(time, 2u);
  EXPECT_EQ(0, std::memcmp(block.get(), all.data() + 528, bytes));

  media::WavSource m;
  ASSERT_TRUE(m.Open(U16(mono), 1));
  for (auto [target, offset] : {std::pair<uint32_t, uint32_t>{1500, 24000}, {999, 15984}, {0, 0}}) {
    ASSERT_TRUE(m.Seek(target));
    EXPECT_EQ(m.bytesLeft, m.dataBytes - offset) << target;
    ASSERT_NE(m.ReadAudio(100, &bytes, &time), nullptr);
    EXPECT_EQ(time, target);
  }
  // An end mark ends the clip there.
  ASSERT_TRUE(m.Rewind());
  m.endMark = 250;
  EXPECT_EQ(ReadAll(m, 3000).size(), 4000u);
}

Bytes WavBytes(const std::vector<std::pair<std::string, Bytes>>& chunks) {
  Bytes body = {'W', 'A', 'V', 'E'};
  for (const auto& [id, data] : chunks) {
    body.insert(body.end(), id.begin(), id.end());
    uint32_t n = static_cast<uint32_t>(data.size());
    for (int s = 0; s < 32; s += 8) body.push_back(static_cast<uint8_t>(n >> s));
    body.insert(body.end(), data.begin(), data.end());
    if ((n & 1) && id != "data") body.push_back(0);
  }
  Bytes file = {'R', 'I', 'F', 'F'};
  uint32_t n = static_cast<uint32_t>(body.size());
  for (int s = 0; s < 32; s += 8) file.push_back(static_cast<uint8_t>(n >> s));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits, size_t extra = 0) {
  Bytes f(16 + extra, 0);
  media::WavFormat w;
  w.formatTag = 1;
  w.channels = channels;
  w.samplesPerSecond = rate;
  w.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  w.averageBytesPerSecond = rate * w.blockAlign;
  w.bitsPerSample = bits;
  media::StoreWavFormat(w, f.data());
  return f;
}

TEST(WavFile, HeaderWalk) {
  const Bytes samples = {1, 2, 3, 4, 5, 6, 7, 8};
  struct Case {
    const char* what;
    Bytes file;
    uint32_t status;
    uint32_t fact;
    size_t format_bytes;
  };
  const Case cases[] = {
      {"odd-sized chunk before data", WavBytes({{"fmt ", PcmFormat(1, 8000, 16)}, {"junk", Bytes(3, 9)}, {"data", samples}}),
       0, 0, 18},
      {"LIST and fact", WavBytes({{"fmt ", PcmFormat(1, 8000, 16)}, {"LIST", Bytes(10, 0)}, {"fact", {4, 0, 0, 0}}, {"data", samples}}),
       0, 4, 18},
      {"18-byte format", WavBytes({{"fmt ", PcmFormat(1, 8000, 16, 2)}, {"data", samples}}), 0, 0, 20},
      {"format below 16 bytes", WavBytes({{"fmt ", Bytes(14, 0)}, {"data", samples}}), 1392, 0, 0},
      {"format size past the end", WavBytes({{"fmt ", PcmFormat(1, 8000, 16)}}), 1392, 0, 0},
      {"no data chunk", WavBytes({{"fmt ", PcmFormat(1, 8000, 16)}, {"LIST", Bytes(4, 0)}}), 1392, 0, 0},
      {"not RIFF", Bytes{'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, 1392, 0, 0},
  };
  for (const Case& c : cases) {
    Bytes file = c.file;
    if (std::string(c.what) == "format size past the end") {
      file[16] = 0xF0;  // "fmt " size 0xFFFFFFF0 + 2 must not wrap
      file[17] = file[18] = file[19] = 0xFF;
    }
    std::string path = Scratch("h.wav", file);
    media::WavFile wav;
    std::vector<uint8_t> chunk;
    EXPECT_EQ(wav.Open(U16(path), ov::kGenericRead, ov::CreateMode::kOpenExisting, media::WavFormat(), &chunk),
              c.status)
        << c.what;
    if (c.status != 0) {
      EXPECT_FALSE(wav.IsOpen());
      continue;
    }
    EXPECT_EQ(wav.dataSize, samples.size()) << c.what;
    EXPECT_EQ(wav.dataOffset, file.size() - samples.size()) << c.what;
    EXPECT_EQ(wav.factValue, c.fact) << c.what;
    EXPECT_EQ(chunk.size(), c.format_bytes) << c.what;
    EXPECT_EQ(wav.format.samplesPerSecond, 8000u) << c.what;
    media::WavSource source;
    ASSERT_TRUE(source.Open(U16(path), 1)) << c.what;
    EXPECT_EQ(ReadAll(source), samples) << c.what;
  }
}

TEST(WavSource, RefusesZeroRatesAndOtherFormats) {
  Bytes zero_rate = PcmFormat(1, 0, 16);
  Bytes zero_align = PcmFormat(1, 8000, 16);
  zero_align[12] = 0;
  Bytes zero_bytes = PcmFormat(1, 8000, 16);
  std::memset(zero_bytes.data() + 8, 0, 4);
  Bytes gsm_zero = PcmFormat(1, 8000, 0);
  gsm_zero[0] = 49;
  std::memset(gsm_zero.data() + 8, 0, 4);
  Bytes adpcm = PcmFormat(1, 8000, 4);
  adpcm[0] = 2;
  // GSM 6.10 is mono: a header that declares two channels is refused.
  auto gsm = [](uint16_t channels) {
    media::WavFormat w;
    w.formatTag = 49;
    w.channels = channels;
    w.samplesPerSecond = 8000;
    w.averageBytesPerSecond = 1625;
    w.blockAlign = 65;
    Bytes f(16, 0);
    media::StoreWavFormat(w, f.data());
    return f;
  };
  // 24-bit 96 kHz stereo as sox writes it: WAVE_FORMAT_EXTENSIBLE (0xFFFE),
  // a 40-byte format with the PCM sub-format.
  Bytes extensible = PcmFormat(2, 96000, 24, 24);
  extensible[0] = 0xFE;
  extensible[1] = 0xFF;
  extensible[16] = 22;
  const std::string zero = "its header gives a rate, channel count or block size of 0";
  const struct {
    Bytes format;
    std::string reason;
  } cases[] = {
      {zero_rate, zero},
      {zero_align, zero},
      {zero_bytes, zero},
      {gsm_zero, zero},
      {adpcm, "a sound format other than PCM (format 1) and GSM 6.10 (format 49)"},
      {gsm(2), "GSM 6.10 of more than one channel"},
      {extensible, "sound format 0xFFFE (extensible): only PCM (format 1) and GSM 6.10 (format 49) are read"},
      {PcmFormat(1, 8000, 12), "PCM samples of other than 8, 16, 24 or 32 bits"},
  };
  for (const auto& c : cases) {
    std::string path = Scratch("z.wav", WavBytes({{"fmt ", c.format}, {"data", Bytes(650, 1)}}));
    EXPECT_EQ(media::OpenAudioSource(U16(path)), nullptr) << c.reason;
    EXPECT_EQ(media::AudioClipProblem(U16(path)).ToUtf8Lossy(), c.reason);
  }
  // Files that are no WAVE file at all under the name.
  const std::string no_wave = "not a RIFF WAVE file, or its header is damaged";
  EXPECT_EQ(media::AudioClipProblem(U16(Scratch("text.wav", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}))).ToUtf8Lossy(),
            no_wave);
  EXPECT_EQ(media::AudioClipProblem(U16(Scratch("empty.wav", Bytes{}))).ToUtf8Lossy(), "an empty file");
  EXPECT_EQ(media::AudioClipProblem(U16(ovtest::ScratchDir() + "/absent.wav")).ToUtf8Lossy(), "no such file");
  EXPECT_EQ(media::AudioClipProblem(U16(Scratch("text.aac", Bytes(100, 'x')))).ToUtf8Lossy(),
            "no sound this program can decode");
  // What plays: GSM 6.10 mono and 24-bit PCM under format 1.
  std::string mono = Scratch("m.wav", WavBytes({{"fmt ", gsm(1)}, {"data", Bytes(650, 1)}}));
  EXPECT_NE(media::OpenAudioSource(U16(mono)), nullptr);
  EXPECT_TRUE(media::AudioClipProblem(U16(mono)).IsEmpty());
  std::string pcm24 = Scratch("p.wav", WavBytes({{"fmt ", PcmFormat(2, 96000, 24)}, {"data", Bytes(600, 1)}}));
  EXPECT_TRUE(media::AudioClipProblem(U16(pcm24)).IsEmpty());
}

TEST(WavFile, WrittenFilesAreValidAfterEveryAppend) {
  std::string dir = ovtest::ScratchDir();
  media::WavFormat f;
  f.formatTag = 1;
  f.channels = 2;
  f.samplesPerSecond = 11025;
  f.bitsPerSample = 16;
  f.blockAlign = 4;
  f.averageBytesPerSecond = 44100;
  {
    media::WavFile empty(U16(dir + "/empty.wav"), ov::kGenericRead | ov::kGenericWrite, ov::CreateMode::kCreateAlways, f);
    EXPECT_EQ(empty.status, 0u);
  }
  Bytes e = ovtest::ReadFileBytes(dir + "/empty.wav");
  ASSERT_EQ(e.size(), 44u);
  EXPECT_EQ(e[4], 36);
  EXPECT_EQ(e[40], 0);

  std::string path = dir + "/three.wav";
  {
    media::WavFile wav(U16(path), ov::kGenericRead | ov::kGenericWrite, ov::CreateMode::kCreateAlways, f);
    uint32_t written = 0;
    ASSERT_TRUE(wav.Append("\x01\x02\x03", 3, &written));
    EXPECT_EQ(written, 3u);
    // Already valid before the close.
    Bytes mid = ovtest::ReadFileBytes(path);
    EXPECT_EQ(mid[40], 3);
    EXPECT_EQ(mid[4], 39);
  }
  // The pad byte that makes the length even is counted in the RIFF size.
  Bytes t = ovtest::ReadFileBytes(path);
  ASSERT_EQ(t.size(), 48u);
  EXPECT_EQ(t[4], 40);
  EXPECT_EQ(t[40], 3);
  EXPECT_EQ(t[47], 0);

  // 8-bit mono with an odd data length: the RIFF size is the file length - 8
  // after the close, and a writer reopening the file appends over the pad.
  struct Step {
    uint32_t bytes;       // appended
    uint32_t data_size;   // data size after the close
    uint32_t riff_size;   // RIFF size after the close
    uint64_t length;      // file length after the close
  } steps[] = {{15999, 15999, 16036, 16044}, {1, 16000, 16036, 16044}, {2, 16002, 16038, 16046}};
  const auto Get32 = [](const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  };
  const media::WavFormat mono = media::LoadWavFormat(PcmFormat(1, 8000, 8).data());
  const std::string odd = dir + "/odd.wav";
  bool first = true;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.data_size);
    {
      media::WavFile wav(U16(odd), ov::kGenericRead | ov::kGenericWrite,
                         first ? ov::CreateMode::kCreateAlways : ov::CreateMode::kOpenAlways, mono);
      ASSERT_EQ(wav.status, 0u);
      Bytes block(s.bytes, 0x80);
      uint32_t written = 0;
      ASSERT_TRUE(wav.Append(block.data(), s.bytes, &written));
      EXPECT_EQ(wav.riffSize, 36 + s.data_size);  // before the close: 36 + data size
    }
    first = false;
    const Bytes b = ovtest::ReadFileBytes(odd);
    ASSERT_EQ(b.size(), s.length);
    EXPECT_EQ(Get32(b.data() + 4), s.riff_size);
    EXPECT_EQ(Get32(b.data() + 40), s.data_size);
    EXPECT_EQ(b.back(), s.data_size & 1 ? 0 : 0x80);
  }
  if (mediatest::HaveTool("soxi")) {
    EXPECT_EQ(mediatest::RunCommand("soxi -s '" + odd + "' 2>&1"), "16002\n");
  }

  std::string tone = dir + "/tone.wav";
  {
    media::WavFile wav(U16(tone), ov::kGenericRead | ov::kGenericWrite, ov::CreateMode::kCreateAlways, f);
    Bytes block(4410 * 4);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 13);
    uint32_t written = 0;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(wav.Append(block.data(), static_cast<uint32_t>(block.size()), &written));
  }
  if (mediatest::HaveTool("soxi")) {
    EXPECT_EQ(mediatest::RunCommand("soxi -s '" + tone + "' 2>&1"), "22050\n");
    EXPECT_EQ(mediatest::RunCommand("soxi -r '" + tone + "' 2>&1"), "11025\n");
  }
  auto source = media::OpenAudioSource(U16(tone.substr(0, tone.size() - 4) + ".wav"));
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(static_cast<media::WavSource*>(source.get())->GetDuration(), 2000u);
}

// Near the format's limit (the sizes of a writer some 4 GiB on, set through
// its public state rather than written): the append that would carry the
// RIFF size past 32 bits, or to an odd length whose pad byte would, is
// refused with ERROR_FILE_TOO_LARGE, and the header keeps describing the
// data written before it.
TEST(WavFile, AppendStopsBeforeTheSizesWrap) {
  const std::string path = ovtest::ScratchDir() + "/long.wav";
  const media::WavFormat f = media::LoadWavFormat(PcmFormat(2, 48000, 16).data());
  const uint32_t before = UINT32_MAX - 1 - 64;  // RIFF size before the last block that fits
  {
    media::WavFile wav(U16(path), ov::kGenericRead | ov::kGenericWrite, ov::CreateMode::kCreateAlways, f);
    ASSERT_EQ(wav.status, 0u);
    wav.riffSize = before;
    wav.dataSize = before - 36;
    Bytes block(64, 7);
    uint32_t written = 0;
    ASSERT_TRUE(wav.Append(block.data(), 64, &written));
    EXPECT_EQ(wav.riffSize, UINT32_MAX - 1);
    EXPECT_FALSE(wav.Append(block.data(), 2, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(wav.status, 223u);
    EXPECT_FALSE(wav.Append(block.data(), 1, &written));  // odd: its pad byte would wrap
    EXPECT_EQ(wav.riffSize, UINT32_MAX - 1);
    EXPECT_EQ(wav.dataSize, UINT32_MAX - 1 - 36);
    Bytes now = ovtest::ReadFileBytes(path);
    ASSERT_EQ(now.size(), 44u + 64u);
    auto u32 = [&](size_t at) { return uint32_t(now[at]) | uint32_t(now[at + 1]) << 8 | uint32_t(now[at + 2]) << 16 | uint32_t(now[at + 3]) << 24; };
    EXPECT_EQ(u32(4), UINT32_MAX - 1);
    EXPECT_EQ(u32(40), UINT32_MAX - 1 - 36);
  }
}

// A pad byte that the file-size limit refuses fails the close with the
// limit's error: the file keeps its odd length and the old RIFF size, and
// its writer learns it. The handles are closed all the same.
TEST(WavFile, ARefusedPadByteFailsTheClose) {
  const std::string path = ovtest::ScratchDir() + "/pad.wav";
  const media::WavFormat mono = media::LoadWavFormat(PcmFormat(1, 8000, 8).data());
  media::WavFile wav(U16(path), ov::kGenericRead | ov::kGenericWrite, ov::CreateMode::kCreateAlways, mono);
  ASSERT_EQ(wav.status, 0u);
  {
    ovtest::ScopedFileSizeLimit limit(44 + 3);
    ASSERT_TRUE(limit.ok());
    uint32_t written = 0;
    ASSERT_TRUE(wav.Append("\x80\x81\x82", 3, &written));
    EXPECT_FALSE(wav.Close());
  }
  EXPECT_EQ(wav.status, ov::kErrorFileTooLarge);
  EXPECT_STREQ(ov::ErrorText(wav.status), "the file-size limit is reached");
  EXPECT_FALSE(wav.IsOpen());
  const Bytes b = ovtest::ReadFileBytes(path);
  ASSERT_EQ(b.size(), 47u);
  EXPECT_EQ(b[4], 39);
  // Without a limit the same close pads and succeeds.
  media::WavFile again(U16(path), ov::kGenericRead | ov::kGenericWrite, ov::CreateMode::kCreateAlways, mono);
  uint32_t written = 0;
  ASSERT_TRUE(again.Append("\x80\x81\x82", 3, &written));
  EXPECT_TRUE(again.Close());
  EXPECT_EQ(ovtest::ReadFileBytes(path).size(), 48u);
}

TEST(OpenAudioSource, ChoosesByExtension) {
  std::string amr = ovtest::FixturePath("media_122.amr");
  std::string gp = ovtest::FixturePath("media_h263_amr.3gp");
  std::string m4a = ovtest::FixturePath("media_aac.m4a");
  std::string wav = ovtest::FixturePath("media_pcm16_stereo.wav");
  OV_SKIP_WITHOUT_FIXTURE(amr);
  std::string dir = ovtest::ScratchDir();
  auto copy = [&](const std::string& from, const std::string& name) {
    std::string to = dir + "/" + name;
    Bytes data = ovtest::ReadFileBytes(from);
    std::ofstream(to, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                              static_cast<std::streamsize>(data.size()));
    return to;
  };
  struct Case {
    std::string path;
    bool opens;
  };
  const Case cases[] = {
      {copy(amr, "a.AMR"), true},
      {copy(gp, "a.3gpp"), true},
      {copy(gp, "b.3GP"), true},
      {copy(wav, "cache.qvs"), true},
      {copy(m4a, "a.m4a"), true},    // the AAC decoder source
      {copy(m4a, "a.aac"), false},   // an MP4 file is no ADTS file
      {copy(wav, "a.mid"), false},
      {copy(wav, "a.MP3"), false},   // a WAV file holds no run of MPEG audio frames
      {copy(wav, "a.wmv"), false},
      {copy(wav, "a.txt"), false},
      {copy(amr, "b.wav"), false},   // an AMR file is no WAV file
      {".wav", false},
      {dir + "/missing.amr", false},
  };
  for (const Case& c : cases) {
    auto source = media::OpenAudioSource(U16(c.path));
    EXPECT_EQ(source != nullptr, c.opens) << c.path;
    if (source) {
      EXPECT_EQ(source->path, U16(c.path));
      media::MediaFormat format;
      EXPECT_TRUE(source->GetFormat(&format));
    }
  }
}

TEST(WavSource, DamagedCopiesNeverCrash) {
  for (const char* name : {"media_gsm.wav", "media_pcm24_mono.wav"}) {
    std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    Bytes original = ovtest::ReadFileBytes(path);
    for (uint32_t seed = 0; seed < 20; ++seed) {
      Bytes bytes = seed < 10 ? Bytes(original.begin(), original.begin() + original.size() * seed / 10)
                              : mediatest::Corrupt(original, seed, 8, 0);
      auto source = media::OpenAudioSource(U16(Scratch("d.wav", bytes)));
      if (!source) continue;
      ReadAll(*source, 3000);
      source->Seek(100);
      ReadAll(*source, 700);
    }
  }
}

}  // namespace
