#pragma once
// The codecdmo plug-in: four encoder media objects (H.263, MPEG-4 Simple
// Profile, AAC-LC, AMR-NB), each an IMediaObject with an IPropertyBag and a
// settings interface of its own.
//
// The static codecdmo_objects holds the objects and their registration (tests
// and ovtool link it); the module adds the exports of codecdmo_exports.cpp.
//
// Thread: objects may be called from any thread; each serialises its own
// state under its lock (property reads and the settings interfaces excepted).

#include <cstdint>

#include "encoders/common/video_encoder.h"
#include "platform/com/unknown.h"
#include "platform/dshow/dshow_types.h"
#include "platform/dshow/encoded_types.h"
#include "platform/dshow/encoder_ids.h"

namespace codecdmo {

using com::GUID;
using com::HRESULT;

// Class ids (shared with the encoding graphs that create the objects).
using dshow::CLSID_CAacEncDmo;
using dshow::CLSID_CAmrNbEncDmo;
using dshow::CLSID_CH263EncDmo;
using dshow::CLSID_CMpeg4EncDmo;

// Settings interfaces.
constexpr GUID IID_IH263EncSettings{0x91046071, 0xC5BF, 0x4070, {0x96, 0x54, 0xBA, 0xB9, 0xA0, 0xE9, 0xE6, 0x47}};
constexpr GUID IID_IMpeg4EncSettings{0x6FD364CF, 0xDB4B, 0x47DF, {0x9C, 0xDE, 0xE0, 0x73, 0xA5, 0xA7, 0x47, 0xC0}};
constexpr GUID IID_IAacEncSettings{0xE593EDA8, 0xC2C3, 0x430B, {0xBD, 0xB5, 0x29, 0x67, 0x17, 0x87, 0xC7, 0x92}};
constexpr GUID IID_IAmrNbEncSettings{0x10E39CAA, 0x9534, 0x4A72, {0x96, 0x20, 0xA0, 0xAB, 0x0A, 0x84, 0xCA, 0x60}};

// Media subtypes (the encoded ones are the platform's, shared with the
// multiplexer).
constexpr GUID MEDIASUBTYPE_H263Stream = dshow::MEDIASUBTYPE_H263Stream;
constexpr uint32_t kFourccM4S2 = dshow::kFourccM4S2;
constexpr GUID MEDIASUBTYPE_M4S2 = dshow::MEDIASUBTYPE_M4S2;
constexpr GUID MEDIASUBTYPE_YV12 = com::FourccGuid(0x32315659);
constexpr GUID MEDIASUBTYPE_IYUV = com::FourccGuid(0x56555949);
constexpr GUID MEDIASUBTYPE_I420 = com::FourccGuid(0x30323449);
constexpr GUID MEDIASUBTYPE_YVYU = com::FourccGuid(0x55595659);
constexpr GUID MEDIASUBTYPE_UYVY = com::FourccGuid(0x59565955);
constexpr GUID MEDIASUBTYPE_YUY2 = com::FourccGuid(0x32595559);
constexpr GUID MEDIASUBTYPE_YV16 = com::FourccGuid(0x36315659);
// AAC output format 0: raw frames, the AudioSpecificConfig in the format block.
constexpr GUID MEDIASUBTYPE_AacRaw = dshow::MEDIASUBTYPE_AacRaw;
// AAC output format 2: ADTS frames.
constexpr GUID MEDIASUBTYPE_AacAdts = dshow::MEDIASUBTYPE_AacAdts;
// AMR-NB storage-format frames.
constexpr GUID MEDIASUBTYPE_AmrNb = dshow::MEDIASUBTYPE_AmrNb;
constexpr uint16_t kWaveFormatAac = 0xA106;
constexpr uint16_t kWaveFormatAmrNb = 0x7A22;

// The video objects' input format record (GetInputFormat), 24 bytes.
struct DmoInputFormat {
  uint8_t valid;
  double frameRate;  // frames per second
  uint16_t width;
  uint16_t height;
};
static_assert(sizeof(DmoInputFormat) == 24, "the input format record is 24 bytes");

// The MPEG-4 object's settings record, 128 bytes (defaults in brackets).
struct Mpeg4EncSettings {
  uint32_t size;                 // 0: 128 [128]
  uint8_t rateControl;           // 4: non-zero selects rcMode 1 [0]
  uint8_t pad4[3];
  uint32_t bitRate;              // 8 [115000]
  uint16_t height;               // 12 [0]
  uint16_t width;                // 14 [0]
  uint32_t frameRate;            // 16: whole frames per second [15]
  uint32_t gopLength;            // 20 [45]
  uint32_t reserved24[5];        // 24 [0, 0, 1, 1, 0]
  uint32_t packetSize;           // 44: bits [1024]
  uint32_t dataPartitioningMode; // 48: 2 on, 0 or 1 off [0]
  uint32_t reserved52[2];        // 52
  uint32_t adaptivePacketSize;   // 60 [0]
  uint32_t reserved64[2];        // 64
  uint8_t videoTelephony;        // 72 [0]
  uint8_t pad73[3];
  uint32_t complexity;           // 76 [1]
  int32_t intraRefreshMbs;       // 80 [0]
  uint32_t preprocessingLevel;   // 84 [0]
  uint32_t searchRange;          // 88 [15]
  uint32_t bandwidthAdaptation;  // 92 [0]
  uint32_t cyclicIntraRefresh;   // 96 [0]
  uint32_t dataPartitioning;     // 100: the "SetDataPartitioning" value [0]
  uint32_t reserved104[6];       // 104
};
static_assert(sizeof(Mpeg4EncSettings) == 128, "the settings record is 128 bytes");

// The settings interfaces, methods in their published order.
class IH263EncSettings : public com::IUnknown {
 public:
  virtual HRESULT Reserved1() = 0;
  virtual HRESULT Reserved2() = 0;
  // E_FAIL once the output type is set; E_INVALIDARG for a bit rate above
  // 2048000 or a GOP above 90, or when the encoder cannot be made from it.
  virtual HRESULT SetCreateParams(const venc::EncoderCreateParams* params) = 0;
  virtual HRESULT GetCreateParams(venc::EncoderCreateParams* params) = 0;
  virtual HRESULT GetInputFormat(DmoInputFormat* format) = 0;
  virtual HRESULT IsOutputTypeSet(uint8_t* set) = 0;

 protected:
  ~IH263EncSettings() = default;
};

class IMpeg4EncSettings : public com::IUnknown {
 public:
  virtual HRESULT Reserved1() = 0;
  virtual HRESULT Reserved2() = 0;
  virtual HRESULT Reserved3() = 0;
  virtual HRESULT SetSettings(const Mpeg4EncSettings* settings) = 0;
  // E_INVALIDARG (and 128 written into the size word) unless settings->size is 128.
  virtual HRESULT GetSettings(Mpeg4EncSettings* settings) = 0;
  virtual HRESULT GetInputFormat(DmoInputFormat* format) = 0;
  virtual HRESULT Reserved7() = 0;
  virtual HRESULT IsOutputTypeSet(uint8_t* set) = 0;

 protected:
  ~IMpeg4EncSettings() = default;
};

class IAacEncSettings : public com::IUnknown {
 public:
  virtual HRESULT GetBitRate(uint32_t* bit_rate) = 0;
  virtual HRESULT SetBitRate(uint32_t bit_rate) = 0;
  virtual HRESULT GetSampleRate(uint32_t* rate) = 0;
  virtual HRESULT SetSampleRate(uint32_t rate) = 0;
  virtual HRESULT GetOutputFormat(uint32_t* format) = 0;
  virtual HRESULT SetOutputFormat(uint32_t format) = 0;

 protected:
  ~IAacEncSettings() = default;
};

class IAmrNbEncSettings : public com::IUnknown {
 public:
  virtual HRESULT GetBitRate(uint32_t* bit_rate) = 0;
  virtual HRESULT SetBitRate(uint32_t bit_rate) = 0;
  virtual HRESULT GetSampleRate(uint32_t* rate) = 0;
  virtual HRESULT SetDtx(uint32_t dtx) = 0;
  virtual HRESULT GetDtx(uint32_t* dtx) = 0;
  virtual HRESULT IsOutputTypeSet(uint8_t* set) = 0;

 protected:
  ~IAmrNbEncSettings() = default;
};

// New objects answering iid (IMediaObject, IPropertyBag or the settings
// interface).
HRESULT CreateH263EncDmo(const GUID& iid, void** object);
HRESULT CreateMpeg4EncDmo(const GUID& iid, void** object);
HRESULT CreateAacEncDmo(const GUID& iid, void** object);
HRESULT CreateAmrNbEncDmo(const GUID& iid, void** object);

// The module's registration: the class table entries of the four classes
// (the file that holds module_address, threading model "Both"), then their
// media-object entries by category. UnregisterServer removes both.
HRESULT RegisterServer(const void* module_address);
HRESULT UnregisterServer();
HRESULT GetClassObject(const GUID& clsid, const GUID& iid, void** object);
HRESULT CanUnloadNow();

// The display orientation the video objects turn their frames to (0 none, 1
// a quarter turn, 2 a half turn, 4 three quarters). There is no display to
// ask here: 0, unless a test sets another value.
int QueryDisplayOrientation();
void SetDisplayOrientationForTest(int orientation);

// The level choices of the video objects.
int32_t ChooseH263Level(uint32_t height, uint32_t width, float rate, uint32_t bit_rate);
int32_t ChooseMpeg4Level(uint32_t height, uint32_t width, float rate, uint32_t bit_rate, uint32_t packet_size);

}  // namespace codecdmo
