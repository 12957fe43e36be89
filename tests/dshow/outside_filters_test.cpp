// The outside filters of the encoding graphs, driven pin by pin: the
// multiplexer's containers and frame tables, its completion once every input
// has ended, interleaving that lets one input run ahead, refused types; the
// WMV encoder object's quality.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/class_table.h"
#include "platform/com/property_bag.h"
#include "platform/dshow/allocator.h"
#include "platform/dshow/base_filter.h"
#include "platform/dshow/filter_graph.h"
#include "platform/dshow/media_buffer.h"
#include "platform/dshow/media_object.h"
#include "platform/dshow/outside_filters.h"
#include "platform/encoders/aac_encoder.h"
#include "tests/support/test_paths.h"

namespace dshow {
namespace {

using com::ComPtr;
using com::S_OK;

// A stand-in for the upstream pin (only held by the connection).
class StubOutput final : public BaseFilter {
 public:
  StubOutput() : BaseFilter(u"stub", GUID{}), pin_(this) {}
  int GetPinCount() override { return 1; }
  BasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  IPin* Pin() { return &pin_; }

 private:
  class StubPin final : public BaseOutputPin {
   public:
    explicit StubPin(BaseFilter* f) : BaseOutputPin(f, u"Out") {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) override { return S_OK; }
  };
  ~StubOutput() override = default;
  StubPin pin_;
};

// A sound type of `subtype` described by `w`, its format `extra` bytes
// longer (left zero for the caller).
MediaType SoundType(const GUID& subtype, const WaveFormatEx& w, size_t extra = 0) {
  MediaType t;
  t->majortype = MEDIATYPE_Audio;
  t->subtype = subtype;
  t->formattype = FORMAT_WaveFormatEx;
  SetFormatBuffer(t.get(), kWaveFormatExSize + extra);
  WriteWaveFormatEx(w, t->pbFormat);
  return t;
}

// A picture type of `major` and `subtype` described by `v`.
MediaType PictureType(const GUID& major, const GUID& subtype, const VideoInfoHeader& v) {
  MediaType t;
  t->majortype = major;
  t->subtype = subtype;
  t->formattype = FORMAT_VideoInfo;
  SetFormatBuffer(t.get(), kVideoInfoHeaderSize);
  WriteVideoInfoHeader(v, t->pbFormat);
  return t;
}

MediaType AmrType() {
  WaveFormatEx w;
  w.wFormatTag = 0x7A22;
  w.nChannels = 1;
  w.nSamplesPerSec = 8000;
  w.nAvgBytesPerSec = 1525;
  return SoundType(MEDIASUBTYPE_AmrNb, w);
}

// config: the AudioSpecificConfig bytes (AAC LC, 22050 Hz, two channels
// unless given).
MediaType AacType(uint16_t config_bytes, uint32_t rate = 22050, uint16_t channels = 2,
                  std::vector<uint8_t> config = {0x13, 0x90}) {
  WaveFormatEx w;
  w.wFormatTag = 0xA106;
  w.nChannels = channels;
  w.nSamplesPerSec = rate;
  w.cbSize = config_bytes;
  MediaType t = SoundType(MEDIASUBTYPE_AacRaw, w, config_bytes);
  for (size_t i = 0; i < config_bytes && i < config.size(); ++i) t->pbFormat[kWaveFormatExSize + i] = config[i];
  return t;
}

MediaType H263Type() {
  VideoInfoHeader v;
  v.AvgTimePerFrame = 666666;
  v.bmiHeader.biWidth = 176;
  v.bmiHeader.biHeight = 144;
  return PictureType(MEDIATYPE_Video, MEDIASUBTYPE_H263Stream, v);
}

// A graph holding the multiplexer, its pins fed by hand.
struct MuxRun {
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> mux;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  std::vector<ComPtr<IBaseFilter>> stubs;
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IMemAllocator> allocator;

  MuxRun(const std::string& path, const std::vector<MediaType>& types, const GUID& clsid = MEDIASUBTYPE_Mp4Mux) {
    RegisterGraphClasses();
    RegisterOutsideFilters();
    EXPECT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    graph.ReceiveVoid()),
              S_OK);
    graph.As(IID_IMediaControl, &control);
    graph.As(IID_IMediaEvent, &events);
    EXPECT_EQ(com::CoCreateInstance(clsid, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    mux.ReceiveVoid()),
              S_OK);
    graph->AddFilter(mux.Get(), u"Mux");
    ComPtr<IFileSinkFilter> sink;
    mux.As(IID_IFileSinkFilter, &sink);
    const ov::String name = ov::String::FromUtf8Lossy(path);
    sink->SetFileName(name.c_str(), nullptr);
    ComPtr<IEnumPins> e;
    mux->EnumPins(e.Receive());
    IPin* pin = nullptr;
    uint32_t got = 0;
    while (e->Next(1, &pin, &got) == S_OK && got == 1) pins.push_back(ComPtr<IPin>::Adopt(pin));
    for (size_t i = 0; i < types.size(); ++i) {
      auto* stub = new StubOutput;
      stubs.push_back(ComPtr<IBaseFilter>::Adopt(stub));
      accepted.push_back(pins[i]->ReceiveConnection(stub->Pin(), types[i].get()));
    }
    allocator = ComPtr<IMemAllocator>::Adopt(MemAllocator::Create());
    ALLOCATOR_PROPERTIES want{4, 4096, 1, 0}, actual{};
    allocator->SetProperties(&want, &actual);
    allocator->Commit();
  }
  ~MuxRun() {
    if (control) control->Stop();
    for (auto& p : pins) p->Disconnect();
  }
  // One sample of data, followed in its buffer by tail (the frame table).
  HRESULT Send(int pin, const std::vector<uint8_t>& data, const std::vector<uint8_t>& tail = {},
               REFERENCE_TIME start = -1, bool sync = true, REFERENCE_TIME duration = 666666) {
    IMediaSample* raw = nullptr;
    if (com::Failed(allocator->GetBuffer(&raw, nullptr, nullptr, 0))) return com::E_FAIL;
    ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Adopt(raw);
    uint8_t* p = nullptr;
    sample->GetPointer(&p);
    std::memcpy(p, data.data(), data.size());
    if (!tail.empty()) std::memcpy(p + data.size(), tail.data(), tail.size());
    sample->SetActualDataLength(static_cast<int32_t>(data.size()));
    if (start >= 0) {
      REFERENCE_TIME stop = start + duration;
      sample->SetTime(&start, &stop);
    }
    sample->SetSyncPoint(sync);
    ComPtr<IMemInputPin> input;
    pins[static_cast<size_t>(pin)].As(IID_IMemInputPin, &input);
    return input->Receive(sample.Get());
  }
  int32_t Completion() {
    int32_t code = 0;
    events->WaitForCompletion(0, &code);
    return code;
  }
  std::vector<HRESULT> accepted;
};

std::vector<uint8_t> Table(std::initializer_list<uint16_t> sizes) {
  std::vector<uint8_t> t;
  const uint32_t n = static_cast<uint32_t>(sizes.size());
  for (int i = 0; i < 4; ++i) t.push_back(static_cast<uint8_t>(n >> (8 * i)));
  for (uint16_t s : sizes) {
    t.push_back(static_cast<uint8_t>(s));
    t.push_back(static_cast<uint8_t>(s >> 8));
  }
  return t;
}

// An AMR-NB 12.2 kbit/s frame: its header byte and 31 bytes.
std::vector<uint8_t> AmrFrame(uint8_t fill) {
  std::vector<uint8_t> f(32, fill);
  f[0] = 0x3C;
  return f;
}

std::string Probe(const std::string& path, const std::string& entries) {
  FILE* f = ::popen(("ffprobe -v error -show_entries " + entries + " -of csv=p=0 '" + path + "' 2>/dev/null").c_str(), "r");
  std::string all;
  char line[256];
  while (f && std::fgets(line, sizeof line, f)) all += line;
  if (f) ::pclose(f);
  return all;
}

// The sound of `path` as ffmpeg decodes it to 16-bit mono (`options` before
// the output, e.g. "-map 0:a").
std::vector<int16_t> DecodedMono(const std::string& path, const std::string& options = "") {
  std::vector<int16_t> decoded;
  FILE* f = ::popen(("ffmpeg -v error -i '" + path + "' " + options + " -f s16le -ac 1 - 2>/dev/null").c_str(), "r");
  if (!f) return decoded;
  int16_t buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 2, 4096, f)) > 0) decoded.insert(decoded.end(), buffer, buffer + got);
  ::pclose(f);
  return decoded;
}

// ".amr": the magic, then the frames of each sample as its table splits
// them, an empty entry skipped; completion only once the input has ended
// and the file is closed.
TEST(Mp4Mux, AmrFramesFollowTheTableAndCompleteAtTheEnd) {
  const std::string path = ovtest::ScratchDir() + "/t.amr";
  MuxRun run(path, {AmrType()});
  ASSERT_EQ(run.accepted[0], S_OK);
  ASSERT_EQ(run.control->Run(), S_OK);
  std::vector<uint8_t> two = AmrFrame(1);
  const std::vector<uint8_t> second = AmrFrame(2);
  two.insert(two.end(), second.begin(), second.end());
  EXPECT_EQ(run.Send(0, two, Table({32, 0, 32})), S_OK);
  EXPECT_EQ(run.Send(0, AmrFrame(3), Table({32})), S_OK);
  EXPECT_EQ(run.Completion(), 0);
  ASSERT_EQ(run.pins[0]->EndOfStream(), S_OK);
  EXPECT_EQ(run.Completion(), EC_COMPLETE);
  const std::vector<uint8_t> file = ovtest::ReadFileBytes(path);
  ASSERT_EQ(file.size(), 6u + 3 * 32);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "#!AMR\n");
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(file[6 + 32 * k], 0x3C) << k;
    EXPECT_EQ(file[6 + 32 * k + 1], k + 1) << k;
  }
}

// A 3GP with sound and picture: the sound runs far ahead of the picture
// without either input waiting; both streams end up in the file, and the
// graph completes only after the second input ends. H.263 or AMR-NB in
// ".mp4" take the 3GP writer.
TEST(Mp4Mux, InputsInterleaveWithoutWaitingAndCompleteTogether) {
  for (const char* name : {"/t.3gp", "/t.mp4"}) {
    SCOPED_TRACE(name);
    const std::string path = ovtest::ScratchDir() + name;
    MuxRun run(path, {AmrType(), H263Type()});
    ASSERT_EQ(run.accepted[0], S_OK);
    ASSERT_EQ(run.accepted[1], S_OK);
    ASSERT_EQ(run.control->Run(), S_OK);
    // Two frames a sample, an empty entry between them: 200 frames of 20 ms.
    for (int i = 0; i < 100; ++i) {
      std::vector<uint8_t> two = AmrFrame(uint8_t(i));
      two.resize(64, uint8_t(i));
      two[32] = 0x3C;
      ASSERT_EQ(run.Send(0, two, Table({32, 0, 32})), S_OK);
    }
    ASSERT_EQ(run.pins[0]->EndOfStream(), S_OK);
    EXPECT_EQ(run.Completion(), 0);
    // A tiny picture start code stands in for the frames.
    const std::vector<uint8_t> picture = {0x00, 0x00, 0x80, 0x02, 0x08, 0x00, 0x00, 0x00};
    for (int i = 0; i < 60; ++i) ASSERT_EQ(run.Send(1, picture, {}, i * 666666LL, i == 0), S_OK);
    ASSERT_EQ(run.pins[1]->EndOfStream(), S_OK);
    EXPECT_EQ(run.Completion(), EC_COMPLETE);
    EXPECT_EQ(Probe(path, "stream=codec_name"), "amr_nb\nh263\n");
    EXPECT_EQ(Probe(path, "stream=nb_frames,duration"), "4.000000,200\n4.000000,60\n");
    EXPECT_NE(Probe(path, "format=format_name").find("3gp"), std::string::npos);
  }
}

// MP4 and 3GP: the AAC encoder's 1024 priming samples are the edit's media
// time, so a player starts the sound on time: a click at sample 5000 decodes
// (ffmpeg) at sample 5000, and the sound is as long as what went in. In
// ADTS there is no edit: the priming stays in front.
TEST(Mp4Mux, AacPrimingIsTheEditsMediaTime) {
  const int rate = 44100, frames = 12, click = 5000;
  std::vector<uint8_t> pcm(static_cast<size_t>(frames) * 1024 * 2, 0);
  for (int n = click; n < click + 400; ++n) {
    const auto s = static_cast<int16_t>(n % 20 < 10 ? 12000 : -12000);
    pcm[2 * static_cast<size_t>(n)] = static_cast<uint8_t>(s);
    pcm[2 * static_cast<size_t>(n) + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
  }
  const AacEncConfig config{1, rate, 1, 0, 2, 0, 96000};
  uint8_t asc[17];
  uint32_t asc_bytes = sizeof asc;
  ASSERT_EQ(Mpeg4AacEnc_GenerateHeader(&config, asc, &asc_bytes, nullptr), AACENC_OK);
  AacEncoder* enc = nullptr;
  ASSERT_EQ(Mpeg4AacEnc_Create(&enc), AACENC_OK);
  ASSERT_EQ(Mpeg4AacEnc_Reset(enc, &config), AACENC_OK);
  std::vector<std::vector<uint8_t>> coded;
  for (int k = 0; k <= frames + 4; ++k) {
    std::vector<uint8_t> out(2048);
    uint32_t bytes = static_cast<uint32_t>(out.size());
    if (k < frames) {
      ASSERT_EQ(Mpeg4AacEnc_Encode(enc, pcm.data() + k * 2048, 2048, out.data(), &bytes), AACENC_OK);
    } else {
      ASSERT_EQ(Mpeg4AacEnc_Flush(enc, out.data(), &bytes), AACENC_OK);
    }
    out.resize(bytes);
    if (!out.empty()) coded.push_back(out);
  }
  Mpeg4AacEnc_Delete(enc);
  ASSERT_EQ(coded.size(), static_cast<size_t>(frames) + 1);

  struct Case {
    const char* name;
    int expected_start;  // sample of the click as decoded
    int expected_samples;
  } cases[] = {{"/prime.mp4", click, frames * 1024},
               {"/prime.3gp", click, frames * 1024},
               {"/prime.aac", click + 1024, (frames + 1) * 1024}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = ovtest::ScratchDir() + c.name;
    MuxRun run(path, {AacType(static_cast<uint16_t>(asc_bytes), rate, 1, {asc, asc + asc_bytes})});
    ASSERT_EQ(run.accepted[0], S_OK);
    ASSERT_EQ(run.control->Run(), S_OK);
    for (const auto& frame : coded) {
      ASSERT_EQ(run.Send(0, frame, Table({static_cast<uint16_t>(frame.size())})), S_OK);
    }
    ASSERT_EQ(run.pins[0]->EndOfStream(), S_OK);
    EXPECT_EQ(run.Completion(), EC_COMPLETE);
    const std::vector<int16_t> decoded = DecodedMono(path);
    EXPECT_EQ(static_cast<int>(decoded.size()), c.expected_samples);
    int onset = -1;
    for (size_t n = 0; n < decoded.size() && onset < 0; ++n) {
      if (std::abs(decoded[n]) > 6000) onset = static_cast<int>(n);
    }
    EXPECT_NEAR(onset, c.expected_start, 32);
  }
}

// The ASF writer's sound decodes (by ffmpeg) from the stream's start with
// the mix's first sample, and the picture starts at 0 beside it: a click at
// a known sample is heard there within a millisecond, at 22050 and 44100 Hz
// (WMA frames of 1024 and 2048 samples), and the sound lasts the mix within
// one WMA frame. The coder's priming must neither shift the streams nor
// swallow the sound's first frame.
TEST(AsfWriter, SoundDecodesFromTheStartInStepWithThePicture) {
  for (const uint32_t rate : {22050u, 44100u}) {
    SCOPED_TRACE(rate);
    const uint32_t seconds = 2, total = seconds * rate, click = rate / 2 + 123;
    std::vector<int16_t> pcm(size_t{total} * 2, 0);
    // A click at the very start too: the first frame must not be lost.
    for (uint32_t start : {0u, click}) {
      for (uint32_t n = start; n < start + 400; ++n) pcm[2 * n] = pcm[2 * n + 1] = int16_t(n % 20 < 10 ? 12000 : -12000);
    }
    WaveFormatEx w;
    w.wFormatTag = 1;
    w.nChannels = 2;
    w.nSamplesPerSec = rate;
    w.nAvgBytesPerSec = rate * 4;
    w.nBlockAlign = 4;
    w.wBitsPerSample = 16;
    const MediaType audio = SoundType(MEDIASUBTYPE_PCM, w);
    VideoInfoHeader v;
    v.AvgTimePerFrame = 1000000;
    v.bmiHeader.biWidth = 176;
    v.bmiHeader.biHeight = 144;
    const MediaType video = PictureType(MEDIATYPE_Video, MEDIASUBTYPE_WMV2, v);

    const std::string path = ovtest::ScratchDir() + "/sync" + std::to_string(rate) + ".wmv";
    MuxRun run(path, {audio, video}, CLSID_AsfWriter);
    ASSERT_EQ(run.accepted[0], S_OK);
    ASSERT_EQ(run.accepted[1], S_OK);
    ASSERT_EQ(run.control->Run(), S_OK);
    const size_t chunk = 4096 / 4;  // sample frames per buffer
    for (size_t first = 0, picture = 0; first < total; first += chunk) {
      const size_t n = std::min<size_t>(chunk, total - first);
      std::vector<uint8_t> bytes(n * 4);
      std::memcpy(bytes.data(), pcm.data() + 2 * first, bytes.size());
      ASSERT_EQ(run.Send(0, bytes), S_OK);
      // A picture every 100 ms of sound sent (its bytes are not decoded here).
      for (; picture * rate / 10 <= first; ++picture) {
        ASSERT_EQ(run.Send(1, std::vector<uint8_t>(64, uint8_t(picture)), {}, REFERENCE_TIME(picture) * 1000000, true,
                           1000000),
                  S_OK);
      }
    }
    ASSERT_EQ(run.pins[0]->EndOfStream(), S_OK);
    ASSERT_EQ(run.pins[1]->EndOfStream(), S_OK);
    EXPECT_EQ(run.Completion(), EC_COMPLETE);

    EXPECT_EQ(Probe(path, "stream=start_time -select_streams v"), "0.000000\n");
    EXPECT_EQ(Probe(path, "stream=start_time -select_streams a"), "0.000000\n");
    const std::vector<int16_t> decoded = DecodedMono(path, "-map 0:a");
    const size_t frame = rate < 32000 ? 1024 : 2048;
    EXPECT_GE(decoded.size(), size_t{total});
    EXPECT_LE(decoded.size(), size_t{total} + frame);
    // Each click's onset as decoded, within a millisecond of its sample.
    for (uint32_t start : {0u, click}) {
      int onset = -1;
      const size_t from = start == 0 ? 0 : start - rate / 4;
      for (size_t n = from; n < decoded.size() && n < from + rate / 2 && onset < 0; ++n) {
        if (std::abs(decoded[n]) > 6000) onset = static_cast<int>(n);
      }
      EXPECT_NEAR(onset, int(start), int(rate / 1000)) << "click at " << start;
    }
  }
}

// Types it cannot write are refused at connection; an AAC stream without its
// configuration, or an extension no container has, fails the start.
TEST(Mp4Mux, RefusedTypesAndStarts) {
  const std::string dir = ovtest::ScratchDir();
  const MediaType pcm = SoundType(MEDIASUBTYPE_PCM, WaveFormatEx{});
  {
    MuxRun run(dir + "/pcm.3gp", {pcm});
    EXPECT_EQ(run.accepted[0], VFW_E_TYPE_NOT_ACCEPTED);
  }
  struct Case {
    const char* name;
    MediaType type;
  } cases[] = {{"/noconfig.mp4", AacType(0)}, {"/t.ogg", AacType(2)}, {"/video.aac", H263Type()}};
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    MuxRun run(dir + c.name, {c.type});
    ASSERT_EQ(run.accepted[0], S_OK);
    EXPECT_TRUE(com::Failed(run.control->Run()));
  }
  MuxRun good(dir + "/good.aac", {AacType(2)});
  EXPECT_EQ(good.control->Run(), S_OK);
}

// Quality 100 codes finer (larger frames) than quality 0; the quality is
// read back; values beyond 0-100 are refused.
TEST(WmvEncoder, QualitySetsTheQuantiser) {
  RegisterOutsideFilters();
  VideoInfoHeader v;
  v.AvgTimePerFrame = 666666;
  v.bmiHeader.biWidth = 64;
  v.bmiHeader.biHeight = 48;
  v.bmiHeader.biBitCount = 16;
  const MediaType in = PictureType(MEDIATYPE_PrivateVideo, MEDIASUBTYPE_RGB555, v);
  std::vector<uint8_t> frame(64 * 48 * 2);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 37 % 251);
  size_t sizes[2] = {};
  for (int k = 0; k < 2; ++k) {
    const int quality = k == 0 ? 100 : 0;
    ComPtr<IMediaObject> object;
    ASSERT_EQ(CreateWmvEncoderDmo(IID_IMediaObject, object.ReceiveVoid()), S_OK);
    ComPtr<com::IPropertyBag> bag;
    ASSERT_EQ(object.As(com::IID_IPropertyBag, &bag), S_OK);
    com::VARIANT value;
    com::VariantInit(&value);
    value.vt = com::VT_INT;
    value.intVal = 101;
    EXPECT_EQ(bag->Write(u"_VBRQUALITY", &value), com::E_INVALIDARG);
    value.intVal = quality;
    ASSERT_EQ(bag->Write(u"_VBRQUALITY", &value), S_OK);
    com::VariantInit(&value);
    ASSERT_EQ(bag->Read(u"_VBRQUALITY", &value, nullptr), S_OK);
    EXPECT_EQ(value.intVal, quality);
    ASSERT_EQ(object->SetInputType(0, in.get(), 0), S_OK);
    MediaType out;
    ASSERT_EQ(object->GetOutputType(0, 0, out.get()), S_OK);
    EXPECT_TRUE(out->subtype == MEDIASUBTYPE_WMV2);
    ASSERT_EQ(object->SetOutputType(0, out.get(), 0), S_OK);
    ComPtr<IMediaBuffer> input = ComPtr<IMediaBuffer>::Adopt(MediaBuffer::Create(static_cast<uint32_t>(frame.size())));
    uint8_t* p = nullptr;
    input->GetBufferAndLength(&p, nullptr);
    std::memcpy(p, frame.data(), frame.size());
    input->SetLength(static_cast<uint32_t>(frame.size()));
    ASSERT_EQ(object->ProcessInput(0, input.Get(), DMO_INPUT_DATA_BUFFERF_TIME, 0, 0), S_OK);
    ComPtr<IMediaBuffer> output = ComPtr<IMediaBuffer>::Adopt(MediaBuffer::Create(64 * 48 * 4 + 4096));
    DMO_OUTPUT_DATA_BUFFER buffer{output.Get(), 0, 0, 0};
    uint32_t status = 0;
    ASSERT_EQ(object->ProcessOutput(0, 1, &buffer, &status), S_OK);
    EXPECT_TRUE(buffer.dwStatus & DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT);
    uint32_t length = 0;
    output->GetBufferAndLength(nullptr, &length);
    sizes[k] = length;
  }
  EXPECT_GT(sizes[0], 2 * sizes[1]);
}

}  // namespace
}  // namespace dshow
