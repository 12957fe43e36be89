// ovtool dmo: runs one codecdmo encoder object through IMediaObject as the
// wrapper filter does, and writes its samples as an elementary stream: H.263,
// MPEG-4 (.m4v, led by the stream header of the output type's format block),
// AAC (ADTS) or AMR ("#!AMR\n" and storage-format frames). Prints the output
// type's format block in hex, then one line per sample with its time,
// duration, size, frame count (sound) and sync flag.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filters/codecdmo/codecdmo.h"
#include "media/wav_file.h"
#include "platform/com/property_bag.h"
#include "platform/dshow/media_buffer.h"
#include "platform/dshow/media_object.h"
#include "platform/dshow/media_type.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

using com::ComPtr;
using com::HRESULT;

struct DmoOptions {
  std::string codec;
  int width = 0, height = 0;
  int fps = 15;
  int kbps = 0;
  int level = -1;
  std::string input_format = "i420";
  int aac_format = 2;
  uint32_t chunk = 0;
  bool mute = false;
  std::string input, output;
};

int DmoUsage() {
  std::fprintf(stderr,
               "usage: ovtool dmo --codec h263|mpeg4 --size WxH --fps N --kbps K [--level L]\n"
               "                  [--input-format i420|yv12|rgb565|yuy2|uyvy] IN.yuv OUT\n"
               "       ovtool dmo --codec aac|amr [--kbps K] [--aac-format 0|2] [--chunk BYTES] [--mute] IN.wav OUT\n"
               "  video input is raw frames of the input format (rgb565 bottom-up); sound input is\n"
               "  16-bit PCM WAV, fed in chunks of BYTES (default: one 15 frames/s step).\n"
               "  --aac-format 0 asks for raw frames (written behind ADTS headers made from the\n"
               "  format block's AudioSpecificConfig), 2 for ADTS frames from the object.\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, DmoOptions* o) {
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&](std::string* v) {
      if (i + 1 >= argc) return false;
      *v = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--codec") {
      if (!next(&o->codec)) return false;
    } else if (a == "--size") {
      if (!next(&v) || std::sscanf(v.c_str(), "%dx%d", &o->width, &o->height) != 2) return false;
    } else if (a == "--fps") {
      if (!next(&v)) return false;
      o->fps = std::atoi(v.c_str());
    } else if (a == "--kbps") {
      if (!next(&v)) return false;
      o->kbps = std::atoi(v.c_str());
    } else if (a == "--level") {
      if (!next(&v)) return false;
      o->level = std::atoi(v.c_str());
    } else if (a == "--input-format") {
      if (!next(&o->input_format)) return false;
    } else if (a == "--aac-format") {
      if (!next(&v)) return false;
      o->aac_format = std::atoi(v.c_str());
    } else if (a == "--chunk") {
      if (!next(&v)) return false;
      o->chunk = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 10));
    } else if (a == "--mute") {
      o->mute = true;
    } else if (!a.empty() && a[0] == '-') {
      return false;
    } else if (files == 0) {
      o->input = a;
      ++files;
    } else if (files == 1) {
      o->output = a;
      ++files;
    } else {
      return false;
    }
  }
  return files == 2;
}


struct Subtype {
  const char* name;
  com::GUID subtype;
  uint32_t bytes_num;  // frame bytes = w x h x num / 2
};

constexpr Subtype kInputFormats[] = {
    {"i420", codecdmo::MEDIASUBTYPE_I420, 3}, {"yv12", codecdmo::MEDIASUBTYPE_YV12, 3},
    {"rgb565", dshow::MEDIASUBTYPE_RGB565, 4}, {"yuy2", codecdmo::MEDIASUBTYPE_YUY2, 4},
    {"uyvy", codecdmo::MEDIASUBTYPE_UYVY, 4},
};

void PrintFormat(const dshow::AM_MEDIA_TYPE& type) {
  std::printf("format %u:", type.cbFormat);
  for (uint32_t i = 0; i < type.cbFormat; ++i) std::printf(" %02X", type.pbFormat[i]);
  std::printf("\n");
}

bool Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "dmo: %s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
  return false;
}

HRESULT WriteValue(dshow::IMediaObject* object, const char16_t* name, com::VARTYPE vt, int32_t value) {
  ComPtr<com::IPropertyBag> bag;
  HRESULT hr = object->QueryInterface(com::IID_IPropertyBag, bag.ReceiveVoid());
  if (com::Failed(hr)) return hr;
  com::VARIANT v;
  com::VariantInit(&v);
  v.vt = vt;
  if (vt == com::VT_BOOL) {
    v.boolVal = value ? com::VARIANT_TRUE : com::VARIANT_FALSE;
  } else {
    v.lVal = value;
  }
  return bag->Write(name, &v);
}

// One run: feeds the inputs, collects every output sample.
class Runner {
 public:
  Runner(dshow::IMediaObject* object, bool audio, FILE* out, int aac_format, const std::vector<uint8_t>& asc)
      : object_(object), audio_(audio), out_(out), aac_format_(aac_format), asc_(asc) {}

  bool Start() {
    uint32_t alignment = 0;
    const HRESULT hr = object_->GetOutputSizeInfo(0, &output_size_, &alignment);
    return com::Succeeded(hr) || Fail("GetOutputSizeInfo", hr);
  }

  bool Feed(const uint8_t* data, uint32_t bytes, int64_t time, int64_t length) {
    ComPtr<dshow::IMediaBuffer> in = ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(bytes));
    if (!in) return Fail("MediaBuffer", com::E_OUTOFMEMORY);
    uint8_t* p = nullptr;
    in->GetBufferAndLength(&p, nullptr);
    std::memcpy(p, data, bytes);
    in->SetLength(bytes);
    const uint32_t flags = dshow::DMO_INPUT_DATA_BUFFERF_TIME | dshow::DMO_INPUT_DATA_BUFFERF_TIMELENGTH;
    HRESULT hr = object_->ProcessInput(0, in.Get(), flags, time, length);
    if (hr == dshow::DMO_E_NOTACCEPTING) {
      if (!Drain()) return false;
      hr = object_->ProcessInput(0, in.Get(), flags, time, length);
    }
    if (com::Failed(hr)) return Fail("ProcessInput", hr);
    return Drain();
  }

  bool Finish() {
    object_->Discontinuity(0);
    return Drain();
  }

 private:
  bool Drain() {
    for (;;) {
      ComPtr<dshow::IMediaBuffer> buffer = ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(output_size_));
      if (!buffer) return Fail("MediaBuffer", com::E_OUTOFMEMORY);
      dshow::DMO_OUTPUT_DATA_BUFFER out{buffer.Get(), 0, 0, 0};
      uint32_t status = 0;
      const HRESULT hr = object_->ProcessOutput(0, 1, &out, &status);
      if (com::Failed(hr)) return Fail("ProcessOutput", hr);
      uint8_t* data = nullptr;
      uint32_t length = 0;
      buffer->GetBufferAndLength(&data, &length);
      if (hr == com::S_OK && (length > 0 || audio_)) Emit(out, data, length);
      if (!(out.dwStatus & dshow::DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) return true;
    }
  }

  void Emit(const dshow::DMO_OUTPUT_DATA_BUFFER& out, const uint8_t* data, uint32_t length) {
    const bool sync = (out.dwStatus & dshow::DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT) != 0;
    const bool incomplete = (out.dwStatus & dshow::DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE) != 0;
    if (!audio_) {
      std::printf("sample %d time %" PRId64 " duration %" PRId64 " size %u sync %d\n", samples_++, out.rtTimestamp,
                  out.rtTimelength, length, sync ? 1 : 0);
      std::fwrite(data, 1, length, out_);
      return;
    }
    // Sound: the frames, then their count and sizes beyond the length.
    uint32_t count = 0;
    std::memcpy(&count, data + length, 4);
    std::printf("sample %d time %" PRId64 " duration %" PRId64 " size %u frames %u sync %d incomplete %d\n", samples_++,
                out.rtTimestamp, out.rtTimelength, length, count, sync ? 1 : 0, incomplete ? 1 : 0);
    uint32_t offset = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t size = data[length + 4 + 2 * i] | (data[length + 5 + 2 * i] << 8);
      if (size > 0 && aac_format_ == 0) WriteAdts(size);
      std::fwrite(data + offset, 1, size, out_);
      offset += size;
    }
    if (offset != length) std::printf("table mismatch: sizes add up to %u\n", offset);
  }

  // ISO/IEC 14496-3 1.A.2.2: an ADTS header from the AudioSpecificConfig.
  void WriteAdts(uint32_t payload) {
    if (asc_.size() < 2) return;
    const int object_type = asc_[0] >> 3;
    const int index = ((asc_[0] & 7) << 1) | (asc_[1] >> 7);
    const int channels = (asc_[1] >> 3) & 15;
    const uint32_t total = payload + 7;
    const uint8_t h[7] = {0xFF,
                          0xF1,
                          static_cast<uint8_t>(((object_type - 1) << 6) | (index << 2) | (channels >> 2)),
                          static_cast<uint8_t>(((channels & 3) << 6) | (total >> 11)),
                          static_cast<uint8_t>(total >> 3),
                          static_cast<uint8_t>(((total & 7) << 5) | 0x1F),
                          0xFC};
    std::fwrite(h, 1, 7, out_);
  }

  dshow::IMediaObject* object_;
  bool audio_;
  FILE* out_;
  int aac_format_;
  std::vector<uint8_t> asc_;
  uint32_t output_size_ = 0;
  int samples_ = 0;
};

bool SetTypes(dshow::IMediaObject* object, const dshow::AM_MEDIA_TYPE& input, uint32_t output_index,
              dshow::MediaType* output) {
  HRESULT hr = object->SetInputType(0, &input, 0);
  if (hr != com::S_OK) return Fail("SetInputType", hr);
  hr = object->GetOutputType(0, output_index, output->get());
  if (hr != com::S_OK) return Fail("GetOutputType", hr);
  hr = object->SetOutputType(0, output->get(), 0);
  if (hr != com::S_OK) return Fail("SetOutputType", hr);
  PrintFormat(*output->get());
  return true;
}

int RunVideo(const DmoOptions& o, FILE* out) {
  const Subtype* format = nullptr;
  for (const Subtype& s : kInputFormats) {
    if (o.input_format == s.name) format = &s;
  }
  if (!format || o.width <= 0 || o.height <= 0 || o.fps <= 0) return DmoUsage();
  std::vector<uint8_t> yuv;
  if (!ovtool::ReadInputFile("dmo", o.input, &yuv)) return 1;
  ComPtr<dshow::IMediaObject> object;
  HRESULT hr = (o.codec == "h263" ? codecdmo::CreateH263EncDmo : codecdmo::CreateMpeg4EncDmo)(
      dshow::IID_IMediaObject, object.ReceiveVoid());
  if (com::Failed(hr)) return Fail("create", hr), 1;
  if (o.kbps > 0) {
    hr = WriteValue(object.Get(), u"BitRate", com::VT_UI4, o.kbps * 1000);
    if (com::Failed(hr)) return Fail("BitRate", hr), 1;
  }
  if (o.level >= 0 && com::Failed(hr = WriteValue(object.Get(), u"SetEncoderLevel", com::VT_INT, o.level))) {
    return Fail("SetEncoderLevel", hr), 1;
  }
  const uint32_t frame_bytes = static_cast<uint32_t>(o.width) * static_cast<uint32_t>(o.height) * format->bytes_num / 2;
  dshow::MediaType input;
  dshow::MoInitMediaType(input.get(), dshow::kVideoInfoHeaderSize);
  input->majortype = dshow::MEDIATYPE_PrivateVideo;
  input->subtype = format->subtype;
  input->formattype = dshow::FORMAT_VideoInfo;
  input->bFixedSizeSamples = true;
  input->lSampleSize = frame_bytes;
  dshow::VideoInfoHeader info;
  info.AvgTimePerFrame = 10000000 / o.fps;
  info.bmiHeader.biWidth = o.width;
  info.bmiHeader.biHeight = o.height;
  info.bmiHeader.biBitCount = static_cast<uint16_t>(format->bytes_num == 3 ? 12 : 16);
  info.bmiHeader.biSizeImage = frame_bytes;
  dshow::WriteVideoInfoHeader(info, input->pbFormat);
  dshow::MediaType output;
  if (!SetTypes(object.Get(), *input.get(), 0, &output)) return 1;
  if (o.codec == "mpeg4") {
    // The stream header rides in the format block behind the bitmap header.
    std::fwrite(output->pbFormat + dshow::kVideoInfoHeaderSize, 1, output->cbFormat - dshow::kVideoInfoHeaderSize,
                out);
  }
  Runner runner(object.Get(), false, out, 0, {});
  if (!runner.Start()) return 1;
  const int64_t period = 10000000 / o.fps;
  for (size_t i = 0; (i + 1) * frame_bytes <= yuv.size(); ++i) {
    if (!runner.Feed(yuv.data() + i * frame_bytes, frame_bytes, static_cast<int64_t>(i) * period, period)) return 1;
  }
  return runner.Finish() ? 0 : 1;
}

int RunAudio(const DmoOptions& o, FILE* out) {
  media::WavFile wav;
  if (!ovtool::CheckInputFile("dmo", o.input)) return 1;
  if (wav.Open(ov::String::FromUtf8Lossy(o.input.c_str()), ov::kGenericRead, ov::CreateMode::kOpenExisting, {}) !=
      0) {
    std::fprintf(stderr, "dmo: %s: not a WAV file\n", o.input.c_str());
    return 1;
  }
  const media::WavFormat format = wav.format;
  const uint32_t data_offset = wav.dataOffset, data_size = wav.dataSize;
  wav.Close();
  std::vector<uint8_t> file;
  if (!ovtool::ReadInputFile("dmo", o.input, &file)) return 1;
  if (data_offset > file.size()) return 1;
  const uint32_t pcm_bytes = std::min<uint32_t>(data_size, static_cast<uint32_t>(file.size() - data_offset));
  const uint8_t* pcm = file.data() + data_offset;

  const bool aac = o.codec == "aac";
  ComPtr<dshow::IMediaObject> object;
  HRESULT hr =
      (aac ? codecdmo::CreateAacEncDmo : codecdmo::CreateAmrNbEncDmo)(dshow::IID_IMediaObject, object.ReceiveVoid());
  if (com::Failed(hr)) return Fail("create", hr), 1;
  if (o.kbps > 0) {
    hr = WriteValue(object.Get(), u"BitRate", com::VT_I4, o.kbps * (aac ? 1000 : 1));
    if (com::Failed(hr)) return Fail("BitRate", hr), 1;
  }
  if (o.mute && com::Failed(hr = WriteValue(object.Get(), u"SetMuteSamples", com::VT_BOOL, 1))) {
    return Fail("SetMuteSamples", hr), 1;
  }
  dshow::MediaType input;
  dshow::MoInitMediaType(input.get(), dshow::kWaveFormatExSize);
  input->majortype = dshow::MEDIATYPE_PrivateAudio;
  input->subtype = dshow::MEDIASUBTYPE_PCM;
  input->formattype = dshow::FORMAT_WaveFormatEx;
  dshow::WaveFormatEx wave;
  wave.wFormatTag = dshow::WAVE_FORMAT_PCM;
  wave.nChannels = format.channels;
  wave.nSamplesPerSec = format.samplesPerSecond;
  wave.nBlockAlign = static_cast<uint16_t>(format.channels * format.bitsPerSample / 8);
  wave.nAvgBytesPerSec = wave.nBlockAlign * format.samplesPerSecond;
  wave.wBitsPerSample = format.bitsPerSample;
  dshow::WriteWaveFormatEx(wave, input->pbFormat);
  dshow::MediaType output;
  if (!SetTypes(object.Get(), *input.get(), aac && o.aac_format == 2 ? 1 : 0, &output)) return 1;
  std::vector<uint8_t> asc;
  if (aac) {
    asc.assign(output->pbFormat + dshow::kWaveFormatExSize, output->pbFormat + output->cbFormat);
  } else {
    std::fwrite("#!AMR\n", 1, 6, out);
  }
  Runner runner(object.Get(), true, out, aac ? o.aac_format : 2, asc);
  if (!runner.Start()) return 1;
  const uint32_t block = wave.nBlockAlign ? wave.nBlockAlign : 1;
  uint32_t chunk = o.chunk ? o.chunk : (format.samplesPerSecond / 15) * block;
  if (chunk == 0) chunk = block;
  const uint64_t bytes_per_second = static_cast<uint64_t>(wave.nAvgBytesPerSec ? wave.nAvgBytesPerSec : 1);
  for (uint32_t at = 0; at < pcm_bytes; at += chunk) {
    const uint32_t n = std::min(chunk, pcm_bytes - at);
    const int64_t time = static_cast<int64_t>(at * uint64_t{10000000} / bytes_per_second);
    const int64_t length = static_cast<int64_t>(n * uint64_t{10000000} / bytes_per_second);
    if (!runner.Feed(pcm + at, n, time, length)) return 1;
  }
  return runner.Finish() ? 0 : 1;
}

int RunDmo(int argc, char** argv) {
  DmoOptions o;
  if (!ParseOptions(argc, argv, &o)) return DmoUsage();
  const bool video = o.codec == "h263" || o.codec == "mpeg4";
  if (!video && o.codec != "aac" && o.codec != "amr") return DmoUsage();
  FILE* out = std::fopen(o.output.c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "dmo: cannot write %s\n", o.output.c_str());
    return 1;
  }
  const int result = video ? RunVideo(o, out) : RunAudio(o, out);
  if (std::fclose(out) != 0) return 1;
  return result;
}

}  // namespace

OVTOOL_COMMAND(dmo, "dmo --codec h263|mpeg4|aac|amr ... IN OUT  encode through one codecdmo object", RunDmo);
