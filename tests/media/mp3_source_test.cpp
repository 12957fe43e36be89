// The MP3 source (Mp3Parser, the platform's MP3 decoder object) against
// ffmpeg's decoding of the same files: every sample of every channel, the
// block times from ReadAudio, seeks, and the parser's edge cases.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "media/decoder_source.h"
#include "media/mp3_parser.h"
#include "platform/com/class_table.h"
#include "platform/decoders/mp3_decoder_object.h"
#include "platform/dshow/media_object.h"
#include "platform/dshow/media_type.h"
#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"

namespace {

using mediatest::U16;

std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes, size_t from = 0) {
  std::vector<int16_t> s(bytes.size() > from ? (bytes.size() - from) / 2 : 0);
  if (!s.empty()) std::memcpy(s.data(), bytes.data() + from, s.size() * 2);
  return s;
}

// Our decoder object rounds its synthesis to 16 bits, ffmpeg's float decoder
// converts its output: the two may part by one step.
constexpr int kMaxSampleDifference = 1;

struct Mp3Case {
  const char* fixture;
  bool infoFrame;            // the encoder wrote a Xing/Info frame first
  uint32_t samplesPerFrame;  // per channel
};

class Mp3Source : public testing::TestWithParam<Mp3Case> {};

// `ovtool adec` (through OpenAudioSource) gives ffmpeg's samples within one
// LSB and as many of them, less the first frame of a file without an Info
// frame (the source drops the file's first frame, which is the Info frame
// where there is one).
TEST_P(Mp3Source, DecodesAsTheReference) {
  const std::string file = ovtest::FixturePath(GetParam().fixture);
  OV_SKIP_WITHOUT_FIXTURE(file);
  const std::string dir = ovtest::ScratchDir();
  ASSERT_EQ(std::system((std::string(OVMIX_BIN_DIR) + "ovtool adec '" + file + "' '" + dir + "/ours.wav' >/dev/null")
                            .c_str()),
            0);
  ASSERT_EQ(std::system(("ffmpeg -v error -y -flags2 +skip_manual -i '" + file + "' -f s16le '" + dir + "/ref.pcm'")
                            .c_str()),
            0);
  const std::vector<int16_t> ours = Samples(ovtest::ReadFileBytes(dir + "/ours.wav"), 44);
  std::vector<int16_t> ref = Samples(ovtest::ReadFileBytes(dir + "/ref.pcm"));
  auto source = media::OpenAudioSource(U16(file));
  ASSERT_TRUE(source);
  media::MediaFormat format;
  ASSERT_TRUE(source->GetFormat(&format));
  if (!GetParam().infoFrame) {
    const size_t dropped = size_t(GetParam().samplesPerFrame) * format.channels;
    ASSERT_GT(ref.size(), dropped);
    ref.erase(ref.begin(), ref.begin() + long(dropped));
  }
  ASSERT_EQ(ours.size(), ref.size());
  int worst = 0;
  for (size_t i = 0; i < ours.size(); ++i) worst = std::max(worst, std::abs(ours[i] - ref[i]));
  EXPECT_LE(worst, kMaxSampleDifference);
}

// Each block's time is that of its first sample: the samples delivered
// before it x 1000 / rate, for 1152- and 576-sample frames alike.
TEST_P(Mp3Source, BlockTimesCountTheSamplesBefore) {
  const std::string file = ovtest::FixturePath(GetParam().fixture);
  OV_SKIP_WITHOUT_FIXTURE(file);
  auto source = media::OpenAudioSource(U16(file));
  ASSERT_TRUE(source);
  media::MediaFormat format;
  ASSERT_TRUE(source->GetFormat(&format));
  EXPECT_EQ(format.bitsPerSample, 16u);
  uint64_t delivered = 0;
  uint32_t bytes = 0, time = 0;
  int blocks = 0;
  while (auto block = source->ReadAudio(3000, &bytes, &time)) {
    EXPECT_EQ(time, delivered * 1000 / format.sampleRate) << "block " << blocks;
    ASSERT_EQ(bytes % (2 * format.channels), 0u);
    delivered += bytes / (2 * format.channels);
    ++blocks;
  }
  EXPECT_GT(blocks, 3);

  // A seek lands on the first frame boundary at or after the target and
  // reports its time; a rewind starts over as at the first read.
  ASSERT_TRUE(source->Seek(1000));
  ASSERT_TRUE(source->ReadAudio(3000, &bytes, &time));
  const uint32_t frameMs = GetParam().samplesPerFrame * 1000 / format.sampleRate + 1;
  EXPECT_GE(time, 1000u);
  EXPECT_LT(time, 1000u + frameMs);
  uint64_t rest = bytes / (2 * format.channels);
  while (source->ReadAudio(3000, &bytes, &time)) rest += bytes / (2 * format.channels);
  EXPECT_NEAR(double(rest), double(delivered) - 1.0 * format.sampleRate, GetParam().samplesPerFrame);
  ASSERT_TRUE(source->Rewind());
  uint64_t again = 0;
  while (source->ReadAudio(3000, &bytes, &time)) again += bytes / (2 * format.channels);
  EXPECT_EQ(again, delivered);

  // An end mark cuts the last block at the mark.
  ASSERT_TRUE(source->Rewind());
  source->endMark = 700;
  uint64_t marked = 0;
  while (source->ReadAudio(3000, &bytes, &time)) marked += bytes / (2 * format.channels);
  EXPECT_EQ(marked, (uint64_t(700) * format.sampleRate + 999) / 1000);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Mp3Source,
                         testing::Values(Mp3Case{"media_cbr.mp3", true, 1152}, Mp3Case{"media_vbr.mp3", true, 1152},
                                         Mp3Case{"media_mpeg2.mp3", false, 576},
                                         Mp3Case{"media_mpeg25.mp3", false, 576}),
                         [](const testing::TestParamInfo<Mp3Case>& param) {
                           std::string name = param.param.fixture;
                           return name.substr(6, name.find('.') - 6);
                         });

// An ID3v2 tag of sync-safe size 0x00 0x00 0x02 0x01 (257 bytes) puts the
// frame search at byte 267; 70000 bytes without a frame, a lone sync in other
// data, or a file cut inside its first frame, hold nothing to play.
TEST(Mp3Parser, FindsFramesBehindTheTagAndRefusesFilesWithout) {
  const std::string file = ovtest::FixturePath("media_mpeg2.mp3");
  OV_SKIP_WITHOUT_FIXTURE(file);
  const std::vector<uint8_t> frames = ovtest::ReadFileBytes(file);
  std::vector<uint8_t> tagged = {'I', 'D', '3', 3, 0, 0, 0x00, 0x00, 0x02, 0x01};
  // The tag body holds a frame and the next header: taken for the first
  // frame if the tag were not skipped.
  tagged.insert(tagged.end(), frames.begin(), frames.begin() + 257);
  tagged.insert(tagged.end(), frames.begin(), frames.end());
  mediatest::TestPackage package;
  media::Mp3Parser tagged_parser(package.Add("tagged.mp3", tagged));
  ASSERT_TRUE(tagged_parser.IsOpen());
  EXPECT_EQ(tagged_parser.first_frame_offset(), 267u);
  EXPECT_EQ(tagged_parser.sample_rate(), 22050u);
  EXPECT_EQ(tagged_parser.channels(), 1u);
  // The frames are handed out whole, each counting its own 576 samples.
  std::unique_ptr<uint8_t[]> frame;
  uint32_t length = 0;
  media::CMPAFrameHeader header;
  ASSERT_TRUE(tagged_parser.NextFrame(&frame, &length, &header));
  EXPECT_EQ(length, 208u);  // 64 kbit/s at 22050 Hz
  EXPECT_EQ(frame[0], 0xFF);
  EXPECT_EQ(tagged_parser.clock(), 576 * (media::Mp3Parser::kClockRate / 22050));

  EXPECT_FALSE(media::Mp3Parser(package.Add("zeros.mp3", std::vector<uint8_t>(70000, 0))).IsOpen());
  std::vector<uint8_t> lone(frames.begin(), frames.begin() + 4);
  lone.resize(3000, 0x55);
  EXPECT_FALSE(media::Mp3Parser(package.Add("lone.mp3", lone)).IsOpen());
  media::Mp3Parser cut(package.Add("cut.mp3", std::vector<uint8_t>(frames.begin(), frames.begin() + 100)));
  EXPECT_FALSE(cut.NextFrame(&frame, &length, nullptr));
  EXPECT_EQ(media::OpenAudioSource(package.Add("zeros2.mp3", std::vector<uint8_t>(70000, 0))), nullptr);
}

// Seeking counts each frame's own samples exactly: three minutes of 26.12 ms
// frames (1152 samples at 44100 Hz, 576 at 22050 Hz) land on the first frame
// at or after the target, not 0.9 s late nor at half the time.
TEST(Mp3Parser, SeekCountsEachFramesSamples) {
  for (const char* name : {"media_cbr.mp3", "media_mpeg2.mp3"}) {
    const std::string file = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(file);
    // Four minutes of the fixture's second frame, one after another.
    media::Mp3Parser probe(U16(file));
    std::unique_ptr<uint8_t[]> data;
    uint32_t frameBytes = 0;
    media::CMPAFrameHeader header;
    ASSERT_TRUE(probe.NextFrame(&data, &frameBytes, &header));
    ASSERT_TRUE(probe.NextFrame(&data, &frameBytes, &header));
    const uint32_t rate = header.sample_rate;
    const uint32_t samples = header.samples_per_frame;
    const std::vector<uint8_t> frame(data.get(), data.get() + frameBytes);
    std::vector<uint8_t> longFile;
    const size_t count = size_t(240) * rate / samples;
    for (size_t i = 0; i < count; ++i) longFile.insert(longFile.end(), frame.begin(), frame.end());
    mediatest::TestPackage package;
    media::Mp3Parser parser(package.Add(std::string("long_") + name, longFile));
    // Frames before a target: the first n with n x samples / rate >= target.
    auto framesTo = [&](uint64_t ms) { return (ms * rate + uint64_t(samples) * 1000 - 1) / (uint64_t(samples) * 1000); };
    for (const uint32_t target : {180000u, 60000u, 200000u}) {  // on, back through the index, on past it
      ASSERT_TRUE(parser.SeekTo(target)) << name;
      EXPECT_EQ(parser.position(), framesTo(target) * frameBytes) << name << " " << target;
      EXPECT_EQ(media::Mp3Parser::ClockToMs(parser.clock()), framesTo(target) * samples * 1000 / rate) << name;
    }
    EXPECT_FALSE(parser.SeekTo(250000)) << name;
  }
}

// A stand-in for the MP3 decoder object that records, for every frame fed,
// the average rate of the input type in force, and gives no output; it can
// refuse its output type.
class RecordingMp3Object final : public dshow::IMediaObjectImpl<RecordingMp3Object> {
 public:
  static std::vector<uint32_t> fedRates;  // nAvgBytesPerSec at each ProcessInput
  static bool refuseOutput;

  com::HRESULT QueryInterface(const com::GUID& iid, void** object) override {
    return com::QuerySingleInterface<dshow::IMediaObject>(this, dshow::IID_IMediaObject, iid, object);
  }
  uint32_t AddRef() override { return refs_.Increment(); }
  uint32_t Release() override {
    const uint32_t left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }
  com::HRESULT InternalGetInputStreamInfo(uint32_t* flags) { return *flags = 0, com::S_OK; }
  com::HRESULT InternalGetOutputStreamInfo(uint32_t* flags) { return *flags = 0, com::S_OK; }
  com::HRESULT InternalGetInputType(uint32_t, dshow::DMO_MEDIA_TYPE*) { return dshow::DMO_E_NO_MORE_ITEMS; }
  com::HRESULT InternalGetOutputType(uint32_t position, dshow::DMO_MEDIA_TYPE* type) {
    dshow::WaveFormatEx in;
    if (!InputType() || !dshow::WaveFormatOf(*InputType(), &in)) return dshow::DMO_E_TYPE_NOT_SET;
    if (position > 0) return dshow::DMO_E_NO_MORE_ITEMS;
    if (!type) return com::S_OK;
    dshow::MoInitMediaType(type, dshow::kWaveFormatExSize);
    type->majortype = dshow::MEDIATYPE_Audio;
    type->subtype = dshow::MEDIASUBTYPE_PCM;
    type->formattype = dshow::FORMAT_WaveFormatEx;
    dshow::WaveFormatEx pcm;
    pcm.wFormatTag = 1;
    pcm.nChannels = in.nChannels;
    pcm.nSamplesPerSec = in.nSamplesPerSec;
    pcm.wBitsPerSample = 16;
    pcm.nBlockAlign = uint16_t(2 * in.nChannels);
    dshow::WriteWaveFormatEx(pcm, type->pbFormat);
    return com::S_OK;
  }
  com::HRESULT InternalCheckInputType(const dshow::DMO_MEDIA_TYPE*) { return com::S_OK; }
  com::HRESULT InternalCheckOutputType(const dshow::DMO_MEDIA_TYPE*) {
    return refuseOutput ? dshow::DMO_E_TYPE_NOT_ACCEPTED : com::S_OK;
  }
  com::HRESULT InternalGetInputSizeInfo(uint32_t*, uint32_t*, uint32_t*) { return com::S_OK; }
  com::HRESULT InternalGetOutputSizeInfo(uint32_t*, uint32_t*) { return com::S_OK; }
  com::HRESULT InternalFlush() { return com::S_OK; }
  com::HRESULT InternalDiscontinuity() { return com::S_OK; }
  com::HRESULT InternalAllocateStreamingResources() { return com::S_OK; }
  com::HRESULT InternalFreeStreamingResources() { return com::S_OK; }
  com::HRESULT InternalAcceptingInput() { return com::S_OK; }
  com::HRESULT InternalProcessInput(dshow::IMediaBuffer*, uint32_t, dshow::REFERENCE_TIME, dshow::REFERENCE_TIME) {
    dshow::WaveFormatEx in;
    dshow::WaveFormatOf(*InputType(), &in);
    fedRates.push_back(in.nAvgBytesPerSec);
    return com::S_OK;
  }
  com::HRESULT InternalProcessOutput(uint32_t, dshow::DMO_OUTPUT_DATA_BUFFER*, uint32_t*) { return com::S_FALSE; }

 private:
  ~RecordingMp3Object() = default;
  com::RefCount refs_;
};
std::vector<uint32_t> RecordingMp3Object::fedRates;
bool RecordingMp3Object::refuseOutput = false;

com::HRESULT CreateRecordingMp3Object(const com::GUID& iid, void** object) {
  return com::CreateObjectAs<RecordingMp3Object>(iid, object);
}

// The source's side of the object: each frame goes in under an input type
// whose average rate is that frame's bit rate (a VBR stream changes it
// between frames), and an object that refuses a type fails Open.
TEST(Mp3DmoSourceObject, InputTypeFollowsTheBitRateAndARefusalFailsOpen) {
  const std::string file = ovtest::FixturePath("media_vbr.mp3");
  OV_SKIP_WITHOUT_FIXTURE(file);
  std::vector<uint32_t> rates;  // bytes a second of every frame, in file order
  {
    media::Mp3Parser parser(U16(file));
    std::unique_ptr<uint8_t[]> frame;
    uint32_t length = 0;
    media::CMPAFrameHeader header;
    while (parser.NextFrame(&frame, &length, &header)) rates.push_back(header.bit_rate / 8);
  }
  ASSERT_GT(std::set<uint32_t>(rates.begin(), rates.end()).size(), 2u);  // the rate does change

  decoders::RegisterMp3DecoderObject();
  com::RegisterClassObject(decoders::CLSID_Mp3DecoderObject, CreateRecordingMp3Object);
  struct Restore {
    ~Restore() { com::RegisterClassObject(decoders::CLSID_Mp3DecoderObject, decoders::CreateMp3DecoderObject); }
  } restore;
  RecordingMp3Object::fedRates.clear();
  RecordingMp3Object::refuseOutput = false;
  auto source = media::OpenAudioSource(U16(file));
  ASSERT_TRUE(source);
  uint32_t bytes = 0, time = 0;
  EXPECT_EQ(source->ReadAudio(4096, &bytes, &time), nullptr);  // the stand-in gives nothing
  EXPECT_EQ(RecordingMp3Object::fedRates, rates);
  source.reset();

  RecordingMp3Object::refuseOutput = true;
  EXPECT_EQ(media::OpenAudioSource(U16(file)), nullptr);
}

// The decoder object: made by class id once registered, MP3 in and 16-bit
// PCM out only, nothing out before input.
TEST(Mp3DecoderObject, TakesMp3AndGivesPcm) {
  decoders::RegisterMp3DecoderObject();
  dshow::IMediaObject* object = nullptr;
  ASSERT_EQ(com::CoCreateInstance(decoders::CLSID_Mp3DecoderObject, nullptr, com::CLSCTX_INPROC_SERVER,
                                  dshow::IID_IMediaObject, reinterpret_cast<void**>(&object)),
            com::S_OK);
  dshow::MediaType pcm;
  ASSERT_EQ(dshow::SetFormatBuffer(pcm.get(), dshow::kWaveFormatExSize), com::S_OK);
  pcm->majortype = dshow::MEDIATYPE_Audio;
  pcm->subtype = dshow::MEDIASUBTYPE_PCM;
  pcm->formattype = dshow::FORMAT_WaveFormatEx;
  dshow::WaveFormatEx w;
  w.wFormatTag = 1;
  w.nChannels = 2;
  w.nSamplesPerSec = 44100;
  w.wBitsPerSample = 16;
  w.nBlockAlign = 4;
  w.nAvgBytesPerSec = 176400;
  dshow::WriteWaveFormatEx(w, pcm->pbFormat);
  EXPECT_EQ(object->SetInputType(0, pcm.get(), 0), dshow::DMO_E_TYPE_NOT_ACCEPTED);
  dshow::MediaType mp3(*pcm.get());
  mp3->subtype = com::FourccGuid(decoders::WAVE_FORMAT_MPEGLAYER3);
  w.wFormatTag = decoders::WAVE_FORMAT_MPEGLAYER3;
  dshow::WriteWaveFormatEx(w, mp3->pbFormat);
  ASSERT_EQ(object->SetInputType(0, mp3.get(), 0), com::S_OK);
  dshow::MediaType proposed;
  ASSERT_EQ(object->GetOutputType(0, 0, proposed.get()), com::S_OK);
  EXPECT_EQ(object->GetOutputType(0, 1, nullptr), dshow::DMO_E_NO_MORE_ITEMS);
  dshow::WaveFormatEx out;
  ASSERT_TRUE(dshow::WaveFormatOf(*proposed.get(), &out));
  EXPECT_EQ(out.wFormatTag, 1);
  EXPECT_EQ(out.nChannels, 2);
  EXPECT_EQ(out.nSamplesPerSec, 44100u);
  EXPECT_EQ(out.wBitsPerSample, 16);
  EXPECT_EQ(object->SetOutputType(0, mp3.get(), 0), dshow::DMO_E_TYPE_NOT_ACCEPTED);
  ASSERT_EQ(object->SetOutputType(0, proposed.get(), 0), com::S_OK);
  dshow::IMediaBuffer* buffer = nullptr;
  // Nothing fed: nothing out.
  struct Buffer final : dshow::IMediaBuffer {
    uint8_t data[64] = {};
    uint32_t length = 0;
    com::HRESULT QueryInterface(const com::GUID&, void**) override { return com::E_NOINTERFACE; }
    uint32_t AddRef() override { return 2; }
    uint32_t Release() override { return 1; }
    com::HRESULT SetLength(uint32_t n) override {
      length = n;
      return com::S_OK;
    }
    com::HRESULT GetMaxLength(uint32_t* n) override {
      *n = sizeof(data);
      return com::S_OK;
    }
    com::HRESULT GetBufferAndLength(uint8_t** p, uint32_t* n) override {
      if (p) *p = data;
      if (n) *n = length;
      return com::S_OK;
    }
  } local;
  buffer = &local;
  dshow::DMO_OUTPUT_DATA_BUFFER output{buffer, 0, 0, 0};
  uint32_t status = 0;
  EXPECT_EQ(object->ProcessOutput(0, 1, &output, &status), com::S_FALSE);
  EXPECT_EQ(local.length, 0u);
  object->Release();
}

}  // namespace
