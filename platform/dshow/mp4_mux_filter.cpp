// The MP4/3GP multiplexer and file sink (see outside_filters.h).
#include <cstring>
#include <new>

#include "platform/com/class_table.h"
#include "platform/dshow/lavf_sink.h"
#include "platform/dshow/outside_filters.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace dshow {
namespace {

using com::S_OK;

constexpr int kAacFrameSamples = 1024;
constexpr int kAmrFrameSamples = 160;
// The AAC-LC encoder of the graph holds its first output frame back by one
// frame: the first frame it delivers starts 1024 samples before the sound.
// MP4 and 3GP writers signal these priming samples with the audio track's
// edit list (media time = the priming samples), so players start the sound
// on time; the ADTS file has no place for them.
constexpr int kAacPrimingSamples = 1024;

enum class Kind { kNone, kH263, kMpeg4, kAac, kAmr };

Kind KindOf(const AM_MEDIA_TYPE& type) {
  if (type.majortype == MEDIATYPE_Video && type.formattype == FORMAT_VideoInfo) {
    if (type.subtype == MEDIASUBTYPE_H263Stream) return Kind::kH263;
    if (type.subtype == MEDIASUBTYPE_M4S2) return Kind::kMpeg4;
  }
  if (type.majortype == MEDIATYPE_Audio && type.formattype == FORMAT_WaveFormatEx) {
    if (type.subtype == MEDIASUBTYPE_AacRaw) return Kind::kAac;
    if (type.subtype == MEDIASUBTYPE_AmrNb) return Kind::kAmr;
  }
  return Kind::kNone;
}

bool SetExtradata(AVCodecParameters* par, const uint8_t* data, size_t bytes) {
  if (bytes > 0xFFFF) return false;
  if (bytes == 0) return true;
  par->extradata = static_cast<uint8_t*>(av_mallocz(bytes + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!par->extradata) return false;
  std::memcpy(par->extradata, data, bytes);
  par->extradata_size = static_cast<int>(bytes);
  return true;
}

class Mp4MuxFilter final : public LavfSinkFilter {
 public:
  Mp4MuxFilter() : LavfSinkFilter(MEDIASUBTYPE_Mp4Mux, {u"Input 0", u"Input 1"}) {}

 protected:
  HRESULT CheckPinType(int, const AM_MEDIA_TYPE& type) override {
    if (KindOf(type) == Kind::kNone) return com::S_FALSE;
    VideoInfoHeader v;
    WaveFormatEx w;
    if (type.majortype == MEDIATYPE_Video) {
      return VideoInfoOf(type, &v) && v.bmiHeader.biWidth > 0 && v.bmiHeader.biHeight != 0 ? S_OK : com::S_FALSE;
    }
    return WaveFormatOf(type, &w) && w.nSamplesPerSec > 0 && w.nChannels > 0 ? S_OK : com::S_FALSE;
  }

  const char* FormatName() override {
    int video = 0, audio = 0;
    bool needs_3gp = false, aac = false, amr = false;
    for (int i = 0; i < GetPinCount(); ++i) {
      if (!PinConnected(i)) continue;
      const Kind k = KindOf(PinType(i));
      (k == Kind::kAac || k == Kind::kAmr ? audio : video)++;
      needs_3gp = needs_3gp || k == Kind::kH263 || k == Kind::kAmr;
      aac = aac || k == Kind::kAac;
      amr = amr || k == Kind::kAmr;
    }
    if (video > 1 || audio > 1) return nullptr;
    const std::string ext = Extension();
    if (ext == ".3gp") return "3gp";
    // Its MP4 writer refuses H.263 and AMR-NB; the 3GP writer takes them.
    if (ext == ".mp4") return needs_3gp ? "3gp" : "mp4";
    if (ext == ".aac") return video == 0 && aac ? "adts" : nullptr;
    if (ext == ".amr") return video == 0 && amr ? "amr" : nullptr;
    return nullptr;
  }

  bool AddStream(int pin, AVFormatContext* context) override {
    const AM_MEDIA_TYPE& type = PinType(pin);
    AVStream* stream = avformat_new_stream(context, nullptr);
    if (!stream) return false;
    AVCodecParameters* par = stream->codecpar;
    const Kind kind = KindOf(type);
    kinds_[pin] = kind;
    // Packets before the stream's start are written with negative times; the
    // MP4/3GP writer turns them into the edit list's media time.
    const std::string format = context->oformat ? context->oformat->name : "";
    next_sample_[pin] = kind == Kind::kAac && (format == "mp4" || format == "3gp") ? -kAacPrimingSamples : 0;
    next_frame_[pin] = 0;
    if (kind == Kind::kH263 || kind == Kind::kMpeg4) {
      // H.263 carries no stream header; MPEG-4's follows the VIDEOINFOHEADER.
      return SetVideoStream(pin, stream, kind == Kind::kH263 ? AV_CODEC_ID_H263 : AV_CODEC_ID_MPEG4,
                            &frame_period_[pin]);
    }
    WaveFormatEx w;
    if (!WaveFormatOf(type, &w)) return false;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = kind == Kind::kAac ? AV_CODEC_ID_AAC : AV_CODEC_ID_AMR_NB;
    par->sample_rate = static_cast<int>(w.nSamplesPerSec);
    av_channel_layout_default(&par->ch_layout, w.nChannels);
    par->frame_size = kind == Kind::kAac ? kAacFrameSamples : kAmrFrameSamples;
    par->bit_rate = static_cast<int64_t>(w.nAvgBytesPerSec) * 8;
    stream->time_base = AVRational{1, par->sample_rate};
    if (kind == Kind::kAac) {
      // The AudioSpecificConfig follows the WAVEFORMATEX.
      const size_t extra = std::min<size_t>(w.cbSize, type.cbFormat - kWaveFormatExSize);
      if (extra < 2 || !SetExtradata(par, type.pbFormat + kWaveFormatExSize, extra)) return false;
    }
    return true;
  }

  bool WriteSample(int pin, IMediaSample* sample) override {
    const Kind kind = kinds_[pin];
    if (kind == Kind::kH263 || kind == Kind::kMpeg4) {
      return WriteVideoSample(pin, sample, frame_period_[pin], &next_frame_[pin]);
    }
    uint8_t* data = nullptr;
    if (com::Failed(sample->GetPointer(&data)) || !data) return false;
    const int32_t length = sample->GetActualDataLength();
    const int32_t size = sample->GetSize();
    if (length <= 0) return true;
    const int stream = StreamOf(pin);
    // The frame table beyond the data: a 32-bit count, then 16-bit sizes. A
    // buffer without a valid table is one frame.
    const int frame_samples = kind == Kind::kAac ? kAacFrameSamples : kAmrFrameSamples;
    const int rate = Context()->streams[stream]->codecpar->sample_rate;
    const uint8_t* table = data + length;
    const int64_t room = int64_t{size} - length;
    uint32_t count = 0;
    if (room >= 4) count = table[0] | table[1] << 8 | table[2] << 16 | uint32_t{table[3]} << 24;
    bool table_ok = room >= 4 && count > 0 && 4 + 2 * int64_t{count} <= room;
    int64_t sum = 0;
    for (uint32_t i = 0; table_ok && i < count; ++i) sum += table[4 + 2 * i] | table[5 + 2 * i] << 8;
    table_ok = table_ok && sum <= length;
    if (!table_ok) {
      const bool ok = WritePacket(stream, data, length, next_sample_[pin], frame_samples, rate, 1, true);
      next_sample_[pin] += frame_samples;
      return ok;
    }
    int32_t offset = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const int bytes = table[4 + 2 * i] | table[5 + 2 * i] << 8;
      if (bytes == 0) continue;
      if (!WritePacket(stream, data + offset, bytes, next_sample_[pin], frame_samples, rate, 1, true)) return false;
      next_sample_[pin] += frame_samples;
      offset += bytes;
    }
    return true;
  }

 private:
  Kind kinds_[2] = {Kind::kNone, Kind::kNone};
  int64_t next_sample_[2] = {0, 0};
  int64_t next_frame_[2] = {0, 0};
  REFERENCE_TIME frame_period_[2] = {0, 0};
};

}  // namespace

HRESULT CreateMp4MuxFilter(const GUID& iid, void** object) { return com::CreateObjectAs<Mp4MuxFilter>(iid, object); }

void RegisterOutsideFilters() {
  com::RegisterClassObject(MEDIASUBTYPE_Mp4Mux, CreateMp4MuxFilter);
  com::RegisterClassObject(CLSID_AsfWriter, CreateAsfWriterFilter);
  com::RegisterClassObject(CLSID_WmvEncoderDmo, CreateWmvEncoderDmo);
}

}  // namespace dshow
