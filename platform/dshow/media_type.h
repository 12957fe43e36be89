#pragma once
// Media types and their format blocks.
//
// AM_MEDIA_TYPE (DMO_MEDIA_TYPE is the same record) describes a connection:
// major type, subtype, sample properties and a format block of cbFormat
// bytes at pbFormat, owned by the record (freed by MoFreeMediaType). Format
// blocks hold the platform's byte layouts, little-endian, written and read
// field by field: VIDEOINFOHEADER (88 bytes, its BITMAPINFOHEADER of 40
// bytes at offset 48) and WAVEFORMATEX (18 bytes, then cbSize extra bytes).
//
// Thread: any thread; a record is used by one thread at a time.

#include <cstddef>
#include <cstdint>

#include "platform/com/unknown.h"
#include "platform/dshow/dshow_types.h"

namespace dshow {

struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  bool bFixedSizeSamples;
  bool bTemporalCompression;
  uint32_t lSampleSize;
  GUID formattype;
  com::IUnknown* pUnk;  // never used; kept null
  uint32_t cbFormat;
  uint8_t* pbFormat;
};
using DMO_MEDIA_TYPE = AM_MEDIA_TYPE;

// Clears *type and, with format_bytes > 0, allocates a zeroed format block of
// that size. E_POINTER for null, E_OUTOFMEMORY.
HRESULT MoInitMediaType(DMO_MEDIA_TYPE* type, uint32_t format_bytes);
// Frees the format block and clears the format fields.
HRESULT MoFreeMediaType(DMO_MEDIA_TYPE* type);
// *dest becomes a deep copy of *src (dest's old block is not freed).
HRESULT MoCopyMediaType(DMO_MEDIA_TYPE* dest, const DMO_MEDIA_TYPE* src);
// Replaces dest's format block by a new one of format_bytes (zeroed).
HRESULT SetFormatBuffer(AM_MEDIA_TYPE* type, uint32_t format_bytes);
// Same major type, subtype and format type, and equal format blocks.
bool MediaTypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

// An owned media type that frees its block.
class MediaType {
 public:
  MediaType() { MoInitMediaType(&mt_, 0); }
  ~MediaType() { MoFreeMediaType(&mt_); }
  MediaType(const MediaType& other) { MoCopyMediaType(&mt_, &other.mt_); }
  MediaType& operator=(const MediaType& other);
  explicit MediaType(const AM_MEDIA_TYPE& other) { MoCopyMediaType(&mt_, &other); }
  MediaType& operator=(const AM_MEDIA_TYPE& other);
  AM_MEDIA_TYPE* get() { return &mt_; }
  const AM_MEDIA_TYPE* get() const { return &mt_; }
  AM_MEDIA_TYPE* operator->() { return &mt_; }
  const AM_MEDIA_TYPE* operator->() const { return &mt_; }

 private:
  AM_MEDIA_TYPE mt_;
};

// RECT of the video formats.
struct Rect {
  int32_t left, top, right, bottom;
};

constexpr uint32_t kBitmapInfoHeaderSize = 40;
constexpr uint32_t kVideoInfoHeaderSize = 88;
constexpr uint32_t kWaveFormatExSize = 18;
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint16_t WAVE_FORMAT_PCM = 1;

struct BitmapInfoHeader {
  uint32_t biSize = kBitmapInfoHeaderSize;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // positive: rows bottom-up
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = BI_RGB;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};

struct VideoInfoHeader {
  Rect rcSource{};
  Rect rcTarget{};
  uint32_t dwBitRate = 0;
  uint32_t dwBitErrorRate = 0;
  REFERENCE_TIME AvgTimePerFrame = 0;
  BitmapInfoHeader bmiHeader;
};

struct WaveFormatEx {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
};

// Writers: out must hold the layout's size.
void WriteBitmapInfoHeader(const BitmapInfoHeader& h, uint8_t* out);
void WriteVideoInfoHeader(const VideoInfoHeader& v, uint8_t* out);
void WriteWaveFormatEx(const WaveFormatEx& w, uint8_t* out);
// Readers: false when fewer bytes than the layout are given.
bool ReadBitmapInfoHeader(const uint8_t* in, size_t bytes, BitmapInfoHeader* h);
bool ReadVideoInfoHeader(const uint8_t* in, size_t bytes, VideoInfoHeader* v);
bool ReadWaveFormatEx(const uint8_t* in, size_t bytes, WaveFormatEx* w);

// The video info header of a FORMAT_VideoInfo type; false for another
// format type or a short block.
bool VideoInfoOf(const AM_MEDIA_TYPE& type, VideoInfoHeader* v);
// The wave format of a FORMAT_WaveFormatEx type; false likewise.
bool WaveFormatOf(const AM_MEDIA_TYPE& type, WaveFormatEx* w);

}  // namespace dshow
