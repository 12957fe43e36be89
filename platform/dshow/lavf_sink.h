#pragma once
// LavfSinkFilter: what the multiplexer and the ASF writer share: a file sink
// with input pins whose samples become packets of a libavformat file.
//
// The file is opened and its header written when the filter leaves the
// stopped state (a failure fails Pause and so the graph's Run); packets go
// through the interleaving writer, which buffers a stream that runs ahead
// instead of waiting for the other. When every connected pin has ended the
// trailer is written, the file closed and EC_COMPLETE reported; a failed
// write reports EC_ERRORABORT once and refuses what follows. Stop closes a
// file that is still open.
//
// Thread: Receive and EndOfStream on the upstream threads, serialised by
// write_lock_; state calls on the graph's thread.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dshow/base_filter.h"
#include "platform/dshow/media_type.h"

struct AVFormatContext;
struct AVStream;

namespace dshow {

class LavfSinkFilter : public BaseFilter, public IFileSinkFilter {
 public:
  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override { return BaseFilter::AddRef(); }
  uint32_t Release() override { return BaseFilter::Release(); }
  HRESULT SetFileName(const char16_t* file, const AM_MEDIA_TYPE* type) override;
  HRESULT GetCurFile(char16_t** file, AM_MEDIA_TYPE* type) override;

  int GetPinCount() override { return static_cast<int>(pins_.size()); }
  BasePin* GetPin(int n) override;
  HRESULT Pause() override;
  HRESULT Stop() override;

 protected:
  class SinkInputPin;
  LavfSinkFilter(const GUID& clsid, const std::vector<const char16_t*>& pin_names);
  ~LavfSinkFilter() override;

  // Whether pin takes type (S_OK or S_FALSE).
  virtual HRESULT CheckPinType(int pin, const AM_MEDIA_TYPE& type) = 0;
  // libavformat's name of the container for the connected types; null when
  // none fits.
  virtual const char* FormatName() = 0;
  // Adds the stream of a connected pin to context; false when it cannot.
  virtual bool AddStream(int pin, AVFormatContext* context) = 0;
  // Turns a sample of pin into packets through WritePacket; false on a
  // failed write. Under write_lock_.
  virtual bool WriteSample(int pin, IMediaSample* sample) = 0;
  // Writes what pin still holds at its end (under write_lock_).
  virtual bool FlushPin(int) { return true; }
  // Frees the per-run state (under write_lock_).
  virtual void CloseStreams() {}

  // Writes one packet of stream (its index in the context) at pts and
  // duration in time_base units (den > 0).
  bool WritePacket(int stream, const uint8_t* data, int size, int64_t pts, int64_t duration, int time_base_den,
                   int time_base_num, bool key);
  // Writes a video sample as one packet at its start time (or, untimed, at
  // *next_frame periods), counting *next_frame on.
  bool WriteVideoSample(int pin, IMediaSample* sample, REFERENCE_TIME period, int64_t* next_frame);
  // Fills a video stream's size, rate and stream header (the bytes after
  // the VIDEOINFOHEADER) from pin's type; *period gets the frame period.
  bool SetVideoStream(int pin, AVStream* stream, int codec_id, REFERENCE_TIME* period);
  // The stream index a connected pin's stream got (-1 when none).
  int StreamOf(int pin) const { return stream_of_[static_cast<size_t>(pin)]; }
  const AM_MEDIA_TYPE& PinType(int pin) const;
  bool PinConnected(int pin) const;
  // The file name's extension, lower case, with its dot ("" when none).
  std::string Extension() const;
  AVFormatContext* Context() const { return context_; }

 private:
  HRESULT OnSample(int pin, IMediaSample* sample);
  HRESULT OnEnd(int pin);
  bool Open();
  // Writes the trailer (when ok) and closes the file; false on a failure.
  bool Close(bool write_trailer);
  void FailWrite();

  std::vector<std::unique_ptr<SinkInputPin>> pins_;
  std::vector<int> stream_of_;
  ov::String file_;
  std::mutex write_lock_;
  AVFormatContext* context_ = nullptr;
  bool failed_ = false;
};

}  // namespace dshow
