// The AAC-LC and AMR-NB encoder objects driven through IMediaObject: types,
// format blocks, the packing of frames with their count and size table, the
// leftover frame between buffers, and inputs larger than one output buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "filters/codecdmo/audio_encoder_dmo.h"
#include "filters/codecdmo/codecdmo.h"
#include "tests/filters/codecdmo_test_util.h"
#include "platform/com/property_bag.h"
#include "platform/dshow/media_buffer.h"
#include "platform/dshow/media_object.h"
#include "platform/dshow/media_type.h"

namespace codecdmo {
namespace {

using com::ComPtr;
using com::E_INVALIDARG;
using com::S_FALSE;
using com::S_OK;
using dshow::DMO_E_TYPE_NOT_ACCEPTED;


dshow::MediaType PcmType(uint32_t rate, uint16_t channels, uint16_t bits = 16) {
  dshow::MediaType t;
  dshow::MoInitMediaType(t.get(), dshow::kWaveFormatExSize);
  t->majortype = dshow::MEDIATYPE_PrivateAudio;
  t->subtype = dshow::MEDIASUBTYPE_PCM;
  t->formattype = dshow::FORMAT_WaveFormatEx;
  dshow::WaveFormatEx w;
  w.wFormatTag = dshow::WAVE_FORMAT_PCM;
  w.nChannels = channels;
  w.nSamplesPerSec = rate;
  w.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  w.nAvgBytesPerSec = rate * w.nBlockAlign;
  w.wBitsPerSample = bits;
  dshow::WriteWaveFormatEx(w, t->pbFormat);
  return t;
}

uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }

// A 440 Hz tone, interleaved 16-bit little-endian.
std::vector<uint8_t> Tone(uint32_t bytes, uint32_t rate, int channels) {
  std::vector<uint8_t> pcm(bytes);
  for (uint32_t i = 0; i + 1 < bytes; i += 2) {
    const uint32_t n = i / 2 / static_cast<uint32_t>(channels);
    const auto s = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * n / rate));
    pcm[i] = static_cast<uint8_t>(s);
    pcm[i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
  }
  return pcm;
}

struct Output {
  uint32_t length = 0;
  std::vector<uint32_t> sizes;
  std::vector<uint8_t> frames;
  uint32_t status = 0;
  int64_t time = 0, duration = 0;
};

class AudioRun {
 public:
  // setup runs before the types are set (switches refused once they are).
  AudioRun(CreateFn create, const dshow::MediaType& input, void (*setup)(dshow::IMediaObject*) = nullptr,
           uint32_t output_index = 0)
      : object_(Make(create)) {
    if (setup) setup(object_.Get());
    EXPECT_EQ(object_->SetInputType(0, input.get(), 0), S_OK);
    EXPECT_EQ(object_->GetOutputType(0, output_index, output_.get()), S_OK);
    EXPECT_EQ(object_->SetOutputType(0, output_.get(), 0), S_OK);
    uint32_t alignment = 0;
    EXPECT_EQ(object_->GetOutputSizeInfo(0, &output_bytes_, &alignment), S_OK);
  }

  // Feeds one buffer and drains what comes out into output buffers of exactly
  // the size the object asks for.
  std::vector<Output> Feed(const std::vector<uint8_t>& pcm, int64_t time) {
    ComPtr<dshow::IMediaBuffer> in =
        ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(static_cast<uint32_t>(pcm.size())));
    uint8_t* p = nullptr;
    in->GetBufferAndLength(&p, nullptr);
    std::memcpy(p, pcm.data(), pcm.size());
    in->SetLength(static_cast<uint32_t>(pcm.size()));
    EXPECT_EQ(object_->ProcessInput(0, in.Get(), dshow::DMO_INPUT_DATA_BUFFERF_TIME, time, 0), S_OK);
    return Collect();
  }

  // Ends the input as the wrapper filter does at the end of the stream and
  // takes what comes out.
  std::vector<Output> Drain() {
    EXPECT_EQ(object_->Discontinuity(0), S_OK);
    return Collect();
  }

  std::vector<Output> Collect() {
    std::vector<Output> outs;
    for (;;) {
      ComPtr<dshow::IMediaBuffer> buffer = ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(output_bytes_));
      dshow::DMO_OUTPUT_DATA_BUFFER out{buffer.Get(), 0, 0, 0};
      uint32_t status = 0;
      const HRESULT hr = object_->ProcessOutput(0, 1, &out, &status);
      EXPECT_TRUE(hr == S_OK || hr == S_FALSE);
      if (hr != S_OK) break;
      Output o;
      uint8_t* data = nullptr;
      buffer->GetBufferAndLength(&data, &o.length);
      const uint32_t count = Le32(data + o.length);
      uint32_t sum = 0;
      for (uint32_t i = 0; i < count; ++i) {
        o.sizes.push_back(Le16(data + o.length + 4 + 2 * i));
        sum += o.sizes.back();
      }
      EXPECT_EQ(sum, o.length) << "the length is the sum of the frame sizes";
      EXPECT_LE(o.length + 4 + 2 * count, output_bytes_) << "the table fits the buffer";
      o.frames.assign(data, data + o.length);
      o.status = out.dwStatus;
      o.time = out.rtTimestamp;
      o.duration = out.rtTimelength;
      outs.push_back(o);
      if (!(out.dwStatus & dshow::DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) break;
    }
    return outs;
  }

  dshow::IMediaObject* object() { return object_.Get(); }
  const dshow::MediaType& output() const { return output_; }

 private:
  ComPtr<dshow::IMediaObject> object_;
  dshow::MediaType output_;
  uint32_t output_bytes_ = 0;
};

size_t FrameCount(const std::vector<Output>& outs) {
  size_t n = 0;
  for (const Output& o : outs) n += o.sizes.size();
  return n;
}

TEST(AacTypes, InputAndOutputChecks) {
  struct Case {
    uint32_t rate;
    uint16_t channels, bits;
    HRESULT expected;
  };
  const Case cases[] = {{22050, 2, 16, S_OK},
                        {8000, 1, 16, S_OK},
                        {96000, 2, 16, S_OK},
                        {6000, 1, 16, DMO_E_TYPE_NOT_ACCEPTED},
                        {22050, 3, 16, DMO_E_TYPE_NOT_ACCEPTED},
                        {22050, 2, 8, DMO_E_TYPE_NOT_ACCEPTED}};
  for (const Case& c : cases) {
    EXPECT_EQ(Make(CreateAacEncDmo)->SetInputType(0, PcmType(c.rate, c.channels, c.bits).get(), 0), c.expected)
        << c.rate << " Hz, " << c.channels << " channels, " << c.bits << " bits";
  }
  // The output type's bit rate: 16000-288000 for mono, 32000-288000 for stereo.
  for (const auto& [channels, avg_bytes, expected] :
       {std::tuple{1, 4000u, S_OK}, std::tuple{1, 1999u, DMO_E_TYPE_NOT_ACCEPTED},
        std::tuple{2, 3999u, DMO_E_TYPE_NOT_ACCEPTED}, std::tuple{2, 36000u, S_OK},
        std::tuple{2, 36001u, DMO_E_TYPE_NOT_ACCEPTED}}) {
    auto object = Make(CreateAacEncDmo);
    ASSERT_EQ(object->SetInputType(0, PcmType(16000, static_cast<uint16_t>(channels)).get(), 0), S_OK);
    dshow::MediaType out;
    ASSERT_EQ(object->GetOutputType(0, 0, out.get()), S_OK);
    out->pbFormat[8] = static_cast<uint8_t>(avg_bytes);
    out->pbFormat[9] = static_cast<uint8_t>(avg_bytes >> 8);
    out->pbFormat[10] = static_cast<uint8_t>(avg_bytes >> 16);
    EXPECT_EQ(object->SetOutputType(0, out.get(), 0), expected) << channels << " " << avg_bytes;
  }
  auto object = Make(CreateAacEncDmo);
  EXPECT_EQ(Write(object.Get(), u"OutputFormat", com::VT_INT, 1), E_INVALIDARG);
  EXPECT_EQ(Write(object.Get(), u"OutputFormat", com::VT_INT, 2), S_OK);
  EXPECT_EQ(Write(object.Get(), u"BitRate", com::VT_UI4, 96000), E_INVALIDARG);
}

// Output type 0: raw frames, tag 0xA106, the 2-byte AudioSpecificConfig
// (AAC LC, rate index, channels) behind the 18-byte WAVEFORMATEX.
TEST(AacTypes, FormatBlockCarriesTheConfig) {
  auto object = Make(CreateAacEncDmo);
  ASSERT_EQ(object->SetInputType(0, PcmType(22050, 2).get(), 0), S_OK);
  dshow::MediaType raw, adts;
  ASSERT_EQ(object->GetOutputType(0, 0, raw.get()), S_OK);
  ASSERT_EQ(object->GetOutputType(0, 1, adts.get()), S_OK);
  dshow::MediaType none;
  EXPECT_EQ(object->GetOutputType(0, 2, none.get()), dshow::DMO_E_NO_MORE_ITEMS);
  EXPECT_TRUE(raw->subtype == MEDIASUBTYPE_AacRaw);
  EXPECT_TRUE(adts->subtype == MEDIASUBTYPE_AacAdts);
  const std::vector<uint8_t> golden = {0x06, 0xA1, 0x02, 0x00, 0x22, 0x56, 0x00, 0x00, 0x40, 0x1F,
                                       0x00, 0x00, 0x00, 0x06, 0x10, 0x00, 0x02, 0x00, 0x13, 0x90};
  ASSERT_EQ(raw->cbFormat, golden.size());
  EXPECT_EQ(std::vector<uint8_t>(raw->pbFormat, raw->pbFormat + raw->cbFormat), golden);
}

// 22050 Hz stereo: 10000 bytes make two frames (8192 bytes) with their
// count and sizes; the other 1808 wait for the next buffer, whose first 2288
// complete a third frame, stamped where its sound began.
TEST(AacPacking, TwoFramesAndALeftover) {
  AudioRun run(CreateAacEncDmo, PcmType(22050, 2));
  const std::vector<uint8_t> pcm = Tone(10000 + 2288, 22050, 2);
  const auto first = run.Feed(std::vector<uint8_t>(pcm.begin(), pcm.begin() + 10000), 0);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].sizes.size(), 2u);
  EXPECT_EQ(first[0].duration, 2 * 464399);
  EXPECT_NE(first[0].status & dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT, 0u);
  const int64_t stamp = 10000 * 10000000LL / 88200;
  const auto second = run.Feed(std::vector<uint8_t>(pcm.begin() + 10000, pcm.end()), stamp);
  ASSERT_EQ(second.size(), 1u);
  ASSERT_EQ(second[0].sizes.size(), 1u);
  EXPECT_GT(second[0].sizes[0], 0u);
  EXPECT_EQ(second[0].time, stamp - 1808 * 10000000LL / 88200);
  EXPECT_EQ(second[0].status & dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT, 0u);
}

// Short buffers (a few hundred bytes) lose nothing: every whole frame of
// the sound is coded, in order, and the first carries the sync point.
TEST(AacPacking, ShortBuffersKeepTheirSound) {
  AudioRun run(CreateAacEncDmo, PcmType(22050, 2));
  const std::vector<uint8_t> pcm = Tone(8192 * 6 + 100, 22050, 2);
  std::vector<Output> all;
  for (size_t at = 0; at < pcm.size(); at += 700) {
    const size_t n = std::min<size_t>(700, pcm.size() - at);
    for (Output& o : run.Feed(std::vector<uint8_t>(pcm.begin() + at, pcm.begin() + at + n), 0)) all.push_back(o);
  }
  EXPECT_EQ(FrameCount(all), 12u);
  bool sync_seen = false;
  for (const Output& o : all) {
    if (o.status & dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT) {
      EXPECT_FALSE(sync_seen);
      EXPECT_GT(o.length, 0u);
      sync_seen = true;
    }
  }
  EXPECT_TRUE(sync_seen);
}

// An input far larger than an output buffer comes out over several buffers,
// each marked incomplete but the last, none written past its end.
TEST(AudioPacking, OversizedInputsGiveIncompleteOutputs) {
  struct Case {
    CreateFn create;
    uint32_t rate;
    int channels;
    uint32_t bytes;
    size_t frames;
  };
  const Case cases[] = {
      {CreateAacEncDmo, 48000, 2, 4096 * 200, 200},
      {CreateAmrNbEncDmo, 8000, 1, 320 * 50, 50},  // 1000 ms at 12200 bit/s
  };
  for (const Case& c : cases) {
    AudioRun run(c.create, PcmType(c.rate, static_cast<uint16_t>(c.channels)));
    const auto outs = run.Feed(Tone(c.bytes, c.rate, c.channels), 0);
    ASSERT_GT(outs.size(), 1u) << c.rate;
    EXPECT_EQ(FrameCount(outs), c.frames);
    for (size_t i = 0; i < outs.size(); ++i) {
      EXPECT_EQ((outs[i].status & dshow::DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE) != 0, i + 1 < outs.size()) << i;
    }
    int64_t time = 0;
    for (const Output& o : outs) {
      EXPECT_EQ(o.time, time);
      time += o.duration;
    }
  }
}

size_t CodedFrames(const std::vector<Output>& outs) {
  size_t n = 0;
  for (const Output& o : outs) n += static_cast<size_t>(std::count_if(o.sizes.begin(), o.sizes.end(), [](uint32_t b) { return b > 0; }));
  return n;
}

// At the end of the input the kept part of a frame is coded (filled with
// silence) and the AAC coder gives up the frame its delay holds, so every
// input frame and the priming frame come out, stamped on from the last
// output; a second end gives nothing, and new input after it is coded again.
TEST(AudioPacking, EndDrainsTheKeptSoundAndTheEncoder) {
  struct Case {
    CreateFn create;
    uint32_t rate;
    int channels;
    uint32_t frame_bytes;
    size_t delay_frames;
  };
  const Case cases[] = {
      {CreateAacEncDmo, 22050, 2, 4096, 1},
      {CreateAmrNbEncDmo, 8000, 1, 320, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    AudioRun run(c.create, PcmType(c.rate, static_cast<uint16_t>(c.channels)));
    const uint32_t bytes = c.frame_bytes * 5 + c.frame_bytes / 3;
    const auto fed = run.Feed(Tone(bytes, c.rate, c.channels), 0);
    const auto drained = run.Drain();
    ASSERT_FALSE(drained.empty());
    EXPECT_EQ(CodedFrames(fed) + CodedFrames(drained), 6 + c.delay_frames);
    EXPECT_EQ(drained.front().time, fed.back().time + fed.back().duration);
    EXPECT_TRUE(run.Drain().empty());
    const auto again = run.Feed(Tone(c.frame_bytes * 3, c.rate, c.channels), 0);
    EXPECT_EQ(CodedFrames(again), 3 - c.delay_frames);
  }
}

// An audio object over a codec that fails: 8-byte PCM frames, each coded
// as its first byte, until the codec's fail_at-th frame (1 the first; 0
// never), and a drain that fails when asked.
class FailingCodecObject final : public AudioEncoderDmo {
 public:
  FailingCodecObject(int fail_at, bool drain_fails) : fail_at_(fail_at), drain_fails_(drain_fails) {}
  HRESULT Read(const char16_t*, com::VARIANT*, com::IErrorLog*) override { return E_INVALIDARG; }
  HRESULT Write(const char16_t*, com::VARIANT*) override { return E_INVALIDARG; }

 protected:
  com::IUnknown* SettingsInterface(const GUID&) override { return nullptr; }
  HRESULT CheckInput(const dshow::DMO_MEDIA_TYPE*) override { return S_OK; }
  HRESULT CheckOutput(const dshow::DMO_MEDIA_TYPE*) override { return S_OK; }
  HRESULT OutputTypeAt(uint32_t position, dshow::DMO_MEDIA_TYPE* type) override {
    if (position > 0) return dshow::DMO_E_NO_MORE_ITEMS;
    if (type) {
      dshow::MoInitMediaType(type, 0);
      type->majortype = dshow::MEDIATYPE_Audio;
      type->subtype = dshow::MEDIASUBTYPE_PCM;
    }
    return S_OK;
  }
  uint32_t FrameBytes() const override { return 8; }
  uint32_t OutputBytes() const override { return 64; }
  uint32_t MaxCodedBytes() const override { return 1; }
  dshow::REFERENCE_TIME FrameDuration() const override { return 10000; }
  uint32_t InputBytesPerSecond() const override { return 8000; }
  HRESULT ResetForStreaming() override { return S_OK; }
  int32_t EncodeOne(const uint8_t* pcm, uint8_t* out, uint32_t, uint32_t* written) override {
    if (fail_at_ > 0 && ++frames_ >= fail_at_) return -1;
    out[0] = pcm[0];
    *written = 1;
    return 0;
  }
  int32_t DrainOne(uint8_t*, uint32_t, uint32_t* written) override {
    *written = 0;
    return drain_fails_ ? -1 : 0;
  }

 private:
  ~FailingCodecObject() override = default;
  const int fail_at_;
  const bool drain_fails_;
  int frames_ = 0;
};

// A frame the codec fails on fails ProcessOutput (the sound would go on
// without it), the first frame, one in mid-buffer and the drain alike; the
// input held is dropped, so the object takes the next buffer.
TEST(AudioEncoderErrors, AFailingCodecFailsProcessOutput) {
  struct Case {
    const char* name;
    int fail_at;
    bool drain_fails;
  } cases[] = {{"first frame", 1, false}, {"third frame", 3, false}, {"drain", 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<dshow::IMediaObject> object = ComPtr<dshow::IMediaObject>::Adopt(new FailingCodecObject(c.fail_at, c.drain_fails));
    ASSERT_EQ(object->SetInputType(0, PcmType(8000, 1).get(), 0), S_OK);
    dshow::MediaType output;
    ASSERT_EQ(object->GetOutputType(0, 0, output.get()), S_OK);
    ASSERT_EQ(object->SetOutputType(0, output.get(), 0), S_OK);
    auto feed = [&] {
      ComPtr<dshow::IMediaBuffer> in = ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(40));
      in->SetLength(40);  // five frames
      return object->ProcessInput(0, in.Get(), 0, 0, 0);
    };
    auto take = [&] {
      ComPtr<dshow::IMediaBuffer> out = ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(64));
      dshow::DMO_OUTPUT_DATA_BUFFER buffer{out.Get(), 0, 0, 0};
      uint32_t status = 0;
      return object->ProcessOutput(0, 1, &buffer, &status);
    };
    ASSERT_EQ(feed(), S_OK);
    if (c.drain_fails) {
      EXPECT_EQ(take(), S_OK);  // the five frames
      ASSERT_EQ(object->Discontinuity(0), S_OK);
      EXPECT_EQ(take(), com::E_FAIL);
      continue;
    }
    EXPECT_EQ(take(), com::E_FAIL);
    EXPECT_EQ(feed(), S_OK);  // nothing held after the failure
  }
}

TEST(AmrTypes, InputOutputAndBitRates) {
  for (const auto& [rate, channels, expected] :
       {std::tuple{8000u, 1, S_OK}, std::tuple{16000u, 1, DMO_E_TYPE_NOT_ACCEPTED},
        std::tuple{8000u, 2, DMO_E_TYPE_NOT_ACCEPTED}}) {
    EXPECT_EQ(Make(CreateAmrNbEncDmo)->SetInputType(0, PcmType(rate, static_cast<uint16_t>(channels)).get(), 0),
              expected);
  }
  // Without a fixed bit rate the offers go down from mode 7; "BitRate" 12200
  // with mode 7 in force fixes it, and every offer is mode 7.
  auto object = Make(CreateAmrNbEncDmo);
  ASSERT_EQ(object->SetInputType(0, PcmType(8000, 1).get(), 0), S_OK);
  const uint32_t free_offers[] = {1600, 1600, 1350, 1350, 1050, 1050, 1000};
  for (uint32_t i = 0; i < 7; ++i) {
    dshow::MediaType t;
    ASSERT_EQ(object->GetOutputType(0, i, t.get()), S_OK);
    EXPECT_EQ(Le32(t->pbFormat + 8), free_offers[i]) << i;
  }
  dshow::MediaType t;
  EXPECT_EQ(object->GetOutputType(0, 7, t.get()), dshow::DMO_E_NO_MORE_ITEMS);
  EXPECT_EQ(Write(object.Get(), u"BitRate", com::VT_I4, 8000), E_INVALIDARG);
  ASSERT_EQ(Write(object.Get(), u"BitRate", com::VT_I4, 12200), S_OK);
  for (uint32_t i = 0; i < 7; ++i) {
    dshow::MediaType fixed;
    ASSERT_EQ(object->GetOutputType(0, i, fixed.get()), S_OK);
    EXPECT_EQ(Le32(fixed->pbFormat + 8), 1600u) << i;
  }
  dshow::MediaType golden;
  ASSERT_EQ(object->GetOutputType(0, 0, golden.get()), S_OK);
  EXPECT_TRUE(golden->subtype == MEDIASUBTYPE_AmrNb);
  const std::vector<uint8_t> bytes = {0x22, 0x7A, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x40,
                                      0x06, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(golden->pbFormat, golden->pbFormat + golden->cbFormat), bytes);
  ASSERT_EQ(object->SetOutputType(0, golden.get(), 0), S_OK);
  EXPECT_EQ(Write(object.Get(), u"DTXMode", com::VT_INT, 0), com::E_FAIL);  // the output type is set
  EXPECT_EQ(Write(object.Get(), u"MediaType", com::VT_INT, 2), E_INVALIDARG);
}

// Without a fixed bit rate the frames follow the output type taken: offer 2
// (1350 bytes per second) gives 10200 bit/s frames of 27 bytes.
TEST(AmrFrames, FollowTheOutputType) {
  AudioRun run(CreateAmrNbEncDmo, PcmType(8000, 1), nullptr, 2);
  const auto outs = run.Feed(Tone(320 * 10, 8000, 1), 0);
  ASSERT_EQ(FrameCount(outs), 10u);
  for (uint32_t size : outs[0].sizes) EXPECT_EQ(size, 27u);
  EXPECT_EQ(outs[0].frames[0], (6 << 3) | 4);
}

// Muted, 1000 ms make 50 one-byte frames of 0x7C; unmuted 12200 bit/s frames
// are 32 bytes led by their header 0x3C.
TEST(AmrFrames, MutedAndSpeechFrames) {
  for (bool mute : {true, false}) {
    // Both media type values give storage-format frames.
    AudioRun run(CreateAmrNbEncDmo, PcmType(8000, 1), [](dshow::IMediaObject* object) {
      EXPECT_EQ(Write(object, u"DTXMode", com::VT_INT, 0), S_OK);
      EXPECT_EQ(Write(object, u"MediaType", com::VT_INT, 1), S_OK);
    });
    if (mute) {
      ASSERT_EQ(Write(run.object(), u"SetMuteSamples", com::VT_BOOL, com::VARIANT_TRUE), S_OK);
    }
    std::vector<Output> outs;
    const std::vector<uint8_t> pcm = Tone(16000, 8000, 1);
    for (size_t at = 0; at < pcm.size(); at += 1066) {
      const size_t n = std::min<size_t>(1066, pcm.size() - at);
      for (Output& o : run.Feed(std::vector<uint8_t>(pcm.begin() + at, pcm.begin() + at + n), 0)) outs.push_back(o);
    }
    std::vector<uint8_t> frames;
    std::vector<uint32_t> sizes;
    for (const Output& o : outs) {
      frames.insert(frames.end(), o.frames.begin(), o.frames.end());
      sizes.insert(sizes.end(), o.sizes.begin(), o.sizes.end());
    }
    ASSERT_EQ(sizes.size(), 50u);
    if (mute) {
      EXPECT_EQ(frames, std::vector<uint8_t>(50, 0x7C));
    } else {
      size_t at = 0;
      for (uint32_t size : sizes) {
        EXPECT_EQ(size, 32u);
        EXPECT_EQ(frames[at], 0x3C);
        at += size;
      }
    }
  }
}

}  // namespace
}  // namespace codecdmo
