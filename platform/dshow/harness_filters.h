#pragma once
// Test instruments of the filter graph (tests, ovtool and benchmarks):
// - PassThroughDmo (CLSID_PassThroughDmo): a media object that takes any
//   type and gives it back unchanged; its output buffers hold one input
//   buffer (the video image size, the audio sample size, else 64 KB), and a
//   larger input comes out in pieces marked incomplete. Its property bag
//   keeps one property, "Label" (VT_UI4).
// - SampleSinkFilter (CLSID_SampleSink): a sink with input pins "Input 0",
//   "Input 1", ... that takes any type, keeps every sample (or, as a null
//   sink, only counts them), and reports EC_COMPLETE once every connected
//   input has ended. It is also a file sink (the name is only kept), so the
//   capture graph builder's SetOutputFileName can create it. A receive delay
//   per pin makes a slow consumer, a refusal from a sample on a failing or a
//   satisfied one.
// RegisterHarnessClasses makes both creatable by class id in this process.

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/dshow/base_filter.h"

namespace dshow {

constexpr GUID CLSID_PassThroughDmo{0x6E0B3C51, 0x9A2D, 0x4F7E, {0xB4, 0x13, 0x57, 0xC8, 0x2A, 0x90, 0x1D, 0x64}};
constexpr GUID CLSID_SampleSink{0x6E0B3C52, 0x9A2D, 0x4F7E, {0xB4, 0x13, 0x57, 0xC8, 0x2A, 0x90, 0x1D, 0x64}};
// QueryInterface of a sink filter with this id gives its SampleSinkFilter
// (with a reference).
constexpr GUID IID_SampleSinkFilter{0x6E0B3C53, 0x9A2D, 0x4F7E, {0xB4, 0x13, 0x57, 0xC8, 0x2A, 0x90, 0x1D, 0x64}};

void RegisterHarnessClasses();
HRESULT CreatePassThroughDmo(const GUID& iid, void** object);

struct SinkSample {
  std::vector<uint8_t> data;  // empty for a null sink
  std::vector<uint8_t> tail;  // the buffer beyond the data, when kept
  int32_t length = 0;
  bool has_time = false;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
};

class SampleSinkFilter final : public BaseFilter, public IFileSinkFilter {
 public:
  // A new sink with pin_count input pins (one reference).
  static SampleSinkFilter* Create(int pin_count);

  HRESULT QueryInterface(const GUID& iid, void** object) override;
  uint32_t AddRef() override { return BaseFilter::AddRef(); }
  uint32_t Release() override { return BaseFilter::Release(); }
  HRESULT SetFileName(const char16_t* file, const AM_MEDIA_TYPE* type) override;
  HRESULT GetCurFile(char16_t** file, AM_MEDIA_TYPE* type) override;

  int GetPinCount() override { return static_cast<int>(pins_.size()); }
  BasePin* GetPin(int n) override;

  // Settings, before the graph runs.
  void SetKeepData(bool keep) { keep_data_ = keep; }
  // Keeps each buffer's bytes beyond its data too (where the encoder objects
  // put their frame tables).
  void SetKeepTail(bool keep) { keep_tail_ = keep; }
  void SetReceiveDelay(int pin, uint32_t ms);
  // From its sample number `sample` (0 the first) on, pin answers every
  // Receive with result and keeps nothing: an error as a downstream filter
  // that fails, S_FALSE as one that takes no more.
  void RefuseFrom(int pin, uint64_t sample, HRESULT result);

  // Results, once the graph has stopped (or under their own lock).
  std::vector<SinkSample> Samples(int pin) const;
  uint64_t SampleCount(int pin) const;
  uint64_t ByteCount(int pin) const;
  bool Ended(int pin) const;
  // The connection type of pin (empty when not connected).
  MediaType ConnectionTypeOf(int pin) const;
  const ov::String& FileName() const { return file_; }
  // Completion reports sent (1 after a whole run).
  int CompleteCount() const;

 private:
  class SinkPin;
  explicit SampleSinkFilter(int pin_count);
  ~SampleSinkFilter() override;
  void OnSample(int pin, IMediaSample* sample);
  void OnEnd();

  std::vector<SinkPin*> pins_;
  bool keep_data_ = true;
  bool keep_tail_ = false;
  ov::String file_;
  mutable std::mutex lock_samples_;
  int complete_count_ = 0;
};

}  // namespace dshow
