#include "platform/dshow/lavf_sink.h"

#include <cstring>
#include <mutex>
#include <string>

#include "platform/dshow/outside_filters.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace dshow {

using com::S_OK;

namespace {
constexpr int64_t kUnitsPerSecond = 10000000;  // REFERENCE_TIME
}  // namespace

class LavfSinkFilter::SinkInputPin final : public BaseInputPin {
 public:
  SinkInputPin(LavfSinkFilter* filter, int index, const char16_t* name)
      : BaseInputPin(filter, name), owner_(filter), index_(index) {}

  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override {
    if (!type) return com::E_POINTER;
    return owner_->CheckPinType(index_, *type);
  }
  HRESULT Receive(IMediaSample* sample) override {
    const HRESULT hr = BaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return owner_->OnSample(index_, sample);
  }
  HRESULT EndOfStream() override {
    if (AtEndOfStream()) return S_OK;
    BaseInputPin::EndOfStream();
    return owner_->OnEnd(index_);
  }

 private:
  LavfSinkFilter* owner_;
  int index_;
};

LavfSinkFilter::LavfSinkFilter(const GUID& clsid, const std::vector<const char16_t*>& pin_names)
    : BaseFilter(u"File Writer", clsid) {
  for (size_t i = 0; i < pin_names.size(); ++i) {
    pins_.push_back(std::make_unique<SinkInputPin>(this, static_cast<int>(i), pin_names[i]));
  }
  stream_of_.assign(pins_.size(), -1);
}

LavfSinkFilter::~LavfSinkFilter() {
  std::lock_guard<std::mutex> hold(write_lock_);
  Close(false);
}

HRESULT LavfSinkFilter::QueryInterface(const GUID& iid, void** object) {
  if (!object) return com::E_POINTER;
  if (iid == IID_IFileSinkFilter) {
    *object = static_cast<IFileSinkFilter*>(this);
    AddRef();
    return S_OK;
  }
  return BaseFilter::QueryInterface(iid, object);
}

HRESULT LavfSinkFilter::SetFileName(const char16_t* file, const AM_MEDIA_TYPE*) {
  if (!file) return com::E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (State() != FilterState::kStopped) return VFW_E_NOT_STOPPED;
  file_ = file;
  return S_OK;
}

HRESULT LavfSinkFilter::GetCurFile(char16_t** file, AM_MEDIA_TYPE* type) {
  if (!file) return com::E_POINTER;
  *file = nullptr;
  if (type) MoInitMediaType(type, 0);
  if (file_.IsEmpty()) return com::E_FAIL;
  const size_t n = static_cast<size_t>(file_.Length()) + 1;
  *file = new char16_t[n];
  std::memcpy(*file, file_.c_str(), n * sizeof(char16_t));
  return S_OK;
}

BasePin* LavfSinkFilter::GetPin(int n) {
  return n >= 0 && n < static_cast<int>(pins_.size()) ? pins_[static_cast<size_t>(n)].get() : nullptr;
}

const AM_MEDIA_TYPE& LavfSinkFilter::PinType(int pin) const { return pins_[static_cast<size_t>(pin)]->ConnectionType(); }

bool LavfSinkFilter::PinConnected(int pin) const { return pins_[static_cast<size_t>(pin)]->IsConnected(); }

std::string LavfSinkFilter::Extension() const {
  const std::string name = file_.ToUtf8Lossy();
  const size_t dot = name.find_last_of('.');
  const size_t slash = name.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = name.substr(dot);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext;
}

void QuietCodecLog() {
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
}

HRESULT LavfSinkFilter::Pause() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (State() == FilterState::kStopped) {
    QuietCodecLog();
    std::lock_guard<std::mutex> write(write_lock_);
    if (!Open()) return com::E_FAIL;
  }
  return BaseFilter::Pause();
}

HRESULT LavfSinkFilter::Stop() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  const HRESULT hr = BaseFilter::Stop();
  std::lock_guard<std::mutex> write(write_lock_);
  // A file still open here was not ended by its inputs: closed as it stands.
  Close(false);
  return hr;
}

bool LavfSinkFilter::Open() {
  Close(false);
  failed_ = false;
  if (file_.IsEmpty()) return false;
  bool any = false;
  for (size_t i = 0; i < pins_.size(); ++i) any = any || pins_[i]->IsConnected();
  const char* format = any ? FormatName() : nullptr;
  if (!format) return false;
  const std::string path = file_.ToUtf8Lossy();
  if (avformat_alloc_output_context2(&context_, nullptr, format, path.c_str()) < 0 || !context_) {
    context_ = nullptr;
    return false;
  }
  for (size_t i = 0; i < pins_.size(); ++i) {
    stream_of_[i] = -1;
    if (!pins_[i]->IsConnected()) continue;
    const int index = static_cast<int>(context_->nb_streams);
    if (!AddStream(static_cast<int>(i), context_) || static_cast<int>(context_->nb_streams) != index + 1) {
      Close(false);
      return false;
    }
    stream_of_[i] = index;
  }
  if (avio_open(&context_->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(context_, nullptr) < 0) {
    Close(false);
    return false;
  }
  return true;
}

bool LavfSinkFilter::Close(bool write_trailer) {
  if (!context_) return true;
  bool ok = true;
  if (write_trailer && context_->pb) ok = av_write_trailer(context_) >= 0;
  if (context_->pb) {
    if (context_->pb->error < 0) ok = false;
    avio_flush(context_->pb);
    if (context_->pb->error < 0) ok = false;
    if (avio_closep(&context_->pb) < 0) ok = false;
  }
  CloseStreams();
  avformat_free_context(context_);
  context_ = nullptr;
  return ok;
}

void LavfSinkFilter::FailWrite() {
  if (failed_) return;
  failed_ = true;
  NotifyEvent(EC_ERRORABORT, com::E_FAIL, 0);
}

bool LavfSinkFilter::WritePacket(int stream, const uint8_t* data, int size, int64_t pts, int64_t duration,
                                 int time_base_den, int time_base_num, bool key) {
  AVPacket* packet = av_packet_alloc();
  if (!packet) return false;
  bool ok = av_new_packet(packet, size) >= 0;
  if (ok) {
    std::memcpy(packet->data, data, static_cast<size_t>(size));
    packet->stream_index = stream;
    const AVRational from{time_base_num, time_base_den};
    const AVRational to = context_->streams[stream]->time_base;
    packet->pts = packet->dts = av_rescale_q(pts, from, to);
    packet->duration = av_rescale_q(duration, from, to);
    if (key) packet->flags |= AV_PKT_FLAG_KEY;
    ok = av_interleaved_write_frame(context_, packet) >= 0 && context_->pb->error >= 0;
  }
  av_packet_free(&packet);
  return ok;
}

bool LavfSinkFilter::SetVideoStream(int pin, AVStream* stream, int codec_id, REFERENCE_TIME* period) {
  const AM_MEDIA_TYPE& type = PinType(pin);
  VideoInfoHeader v;
  if (!VideoInfoOf(type, &v)) return false;
  AVCodecParameters* par = stream->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = static_cast<AVCodecID>(codec_id);
  par->width = v.bmiHeader.biWidth;
  par->height = v.bmiHeader.biHeight < 0 ? -v.bmiHeader.biHeight : v.bmiHeader.biHeight;
  par->bit_rate = v.dwBitRate;
  *period = v.AvgTimePerFrame > 0 ? v.AvgTimePerFrame : kUnitsPerSecond / 15;
  stream->time_base = AVRational{1, 1000};
  stream->avg_frame_rate = av_d2q(double(kUnitsPerSecond) / double(*period), 1000);
  const size_t extra = type.cbFormat > kVideoInfoHeaderSize ? type.cbFormat - kVideoInfoHeaderSize : 0;
  if (extra == 0) return true;
  par->extradata = static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!par->extradata) return false;
  std::memcpy(par->extradata, type.pbFormat + kVideoInfoHeaderSize, extra);
  par->extradata_size = static_cast<int>(extra);
  return true;
}

bool LavfSinkFilter::WriteVideoSample(int pin, IMediaSample* sample, REFERENCE_TIME period, int64_t* next_frame) {
  uint8_t* data = nullptr;
  if (com::Failed(sample->GetPointer(&data)) || !data) return false;
  const int32_t length = sample->GetActualDataLength();
  if (length <= 0) return true;
  REFERENCE_TIME start = 0, stop = 0;
  const bool timed = sample->GetTime(&start, &stop) == S_OK;
  if (!timed) start = *next_frame * period;
  const REFERENCE_TIME duration = timed && stop > start ? stop - start : period;
  ++*next_frame;
  return WritePacket(StreamOf(pin), data, length, start, duration, kUnitsPerSecond, 1, sample->IsSyncPoint() == S_OK);
}

HRESULT LavfSinkFilter::OnSample(int pin, IMediaSample* sample) {
  bool ok = false;
  {
    std::lock_guard<std::mutex> hold(write_lock_);
    if (!context_ || failed_) return com::E_FAIL;
    ok = WriteSample(pin, sample);
    if (!ok) FailWrite();
  }
  return ok ? S_OK : com::E_FAIL;
}

HRESULT LavfSinkFilter::OnEnd(int pin) {
  bool complete = false;
  {
    std::lock_guard<std::mutex> hold(write_lock_);
    if (!context_) return failed_ ? com::E_FAIL : S_OK;
    if (!failed_ && !FlushPin(pin)) FailWrite();
    for (auto& p : pins_) {
      if (p->IsConnected() && !p->AtEndOfStream()) return failed_ ? com::E_FAIL : S_OK;
    }
    complete = Close(!failed_) && !failed_;
    if (!complete) FailWrite();
  }
  if (complete) NotifyEvent(EC_COMPLETE, S_OK, 0);
  return complete ? S_OK : com::E_FAIL;
}

}  // namespace dshow
