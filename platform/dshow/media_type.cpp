#include "platform/dshow/media_type.h"

#include <cstdlib>
#include <cstring>

namespace dshow {
namespace {

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}
void Put64(uint8_t* p, uint64_t v) {
  Put32(p, static_cast<uint32_t>(v));
  Put32(p + 4, static_cast<uint32_t>(v >> 32));
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (static_cast<uint32_t>(Get16(p + 2)) << 16); }
uint64_t Get64(const uint8_t* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }

void PutRect(uint8_t* p, const Rect& r) {
  Put32(p, static_cast<uint32_t>(r.left));
  Put32(p + 4, static_cast<uint32_t>(r.top));
  Put32(p + 8, static_cast<uint32_t>(r.right));
  Put32(p + 12, static_cast<uint32_t>(r.bottom));
}
Rect GetRect(const uint8_t* p) {
  return Rect{static_cast<int32_t>(Get32(p)), static_cast<int32_t>(Get32(p + 4)), static_cast<int32_t>(Get32(p + 8)),
              static_cast<int32_t>(Get32(p + 12))};
}

}  // namespace

HRESULT MoInitMediaType(DMO_MEDIA_TYPE* type, uint32_t format_bytes) {
  if (!type) return com::E_POINTER;
  std::memset(type, 0, sizeof(*type));
  if (format_bytes == 0) return com::S_OK;
  type->pbFormat = static_cast<uint8_t*>(std::calloc(1, format_bytes));
  if (!type->pbFormat) return com::E_OUTOFMEMORY;
  type->cbFormat = format_bytes;
  return com::S_OK;
}

HRESULT MoFreeMediaType(DMO_MEDIA_TYPE* type) {
  if (!type) return com::E_POINTER;
  std::free(type->pbFormat);
  type->pbFormat = nullptr;
  type->cbFormat = 0;
  if (type->pUnk) {
    type->pUnk->Release();
    type->pUnk = nullptr;
  }
  return com::S_OK;
}

HRESULT MoCopyMediaType(DMO_MEDIA_TYPE* dest, const DMO_MEDIA_TYPE* src) {
  if (!dest || !src) return com::E_POINTER;
  *dest = *src;
  dest->pUnk = nullptr;
  dest->pbFormat = nullptr;
  dest->cbFormat = 0;
  if (src->cbFormat == 0 || !src->pbFormat) return com::S_OK;
  dest->pbFormat = static_cast<uint8_t*>(std::malloc(src->cbFormat));
  if (!dest->pbFormat) return com::E_OUTOFMEMORY;
  std::memcpy(dest->pbFormat, src->pbFormat, src->cbFormat);
  dest->cbFormat = src->cbFormat;
  return com::S_OK;
}

HRESULT SetFormatBuffer(AM_MEDIA_TYPE* type, uint32_t format_bytes) {
  if (!type) return com::E_POINTER;
  std::free(type->pbFormat);
  type->pbFormat = nullptr;
  type->cbFormat = 0;
  if (format_bytes == 0) return com::S_OK;
  type->pbFormat = static_cast<uint8_t*>(std::calloc(1, format_bytes));
  if (!type->pbFormat) return com::E_OUTOFMEMORY;
  type->cbFormat = format_bytes;
  return com::S_OK;
}

bool MediaTypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  if (!(a.majortype == b.majortype) || !(a.subtype == b.subtype) || !(a.formattype == b.formattype)) return false;
  if (a.cbFormat != b.cbFormat) return false;
  return a.cbFormat == 0 || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

MediaType& MediaType::operator=(const MediaType& other) {
  if (this != &other) *this = other.mt_;
  return *this;
}

MediaType& MediaType::operator=(const AM_MEDIA_TYPE& other) {
  if (&other != &mt_) {
    MoFreeMediaType(&mt_);
    MoCopyMediaType(&mt_, &other);
  }
  return *this;
}

void WriteBitmapInfoHeader(const BitmapInfoHeader& h, uint8_t* out) {
  Put32(out, h.biSize);
  Put32(out + 4, static_cast<uint32_t>(h.biWidth));
  Put32(out + 8, static_cast<uint32_t>(h.biHeight));
  Put16(out + 12, h.biPlanes);
  Put16(out + 14, h.biBitCount);
  Put32(out + 16, h.biCompression);
  Put32(out + 20, h.biSizeImage);
  Put32(out + 24, static_cast<uint32_t>(h.biXPelsPerMeter));
  Put32(out + 28, static_cast<uint32_t>(h.biYPelsPerMeter));
  Put32(out + 32, h.biClrUsed);
  Put32(out + 36, h.biClrImportant);
}

void WriteVideoInfoHeader(const VideoInfoHeader& v, uint8_t* out) {
  PutRect(out, v.rcSource);
  PutRect(out + 16, v.rcTarget);
  Put32(out + 32, v.dwBitRate);
  Put32(out + 36, v.dwBitErrorRate);
  Put64(out + 40, static_cast<uint64_t>(v.AvgTimePerFrame));
  WriteBitmapInfoHeader(v.bmiHeader, out + 48);
}

void WriteWaveFormatEx(const WaveFormatEx& w, uint8_t* out) {
  Put16(out, w.wFormatTag);
  Put16(out + 2, w.nChannels);
  Put32(out + 4, w.nSamplesPerSec);
  Put32(out + 8, w.nAvgBytesPerSec);
  Put16(out + 12, w.nBlockAlign);
  Put16(out + 14, w.wBitsPerSample);
  Put16(out + 16, w.cbSize);
}

bool ReadBitmapInfoHeader(const uint8_t* in, size_t bytes, BitmapInfoHeader* h) {
  if (!in || bytes < kBitmapInfoHeaderSize) return false;
  h->biSize = Get32(in);
  h->biWidth = static_cast<int32_t>(Get32(in + 4));
  h->biHeight = static_cast<int32_t>(Get32(in + 8));
  h->biPlanes = Get16(in + 12);
  h->biBitCount = Get16(in + 14);
  h->biCompression = Get32(in + 16);
  h->biSizeImage = Get32(in + 20);
  h->biXPelsPerMeter = static_cast<int32_t>(Get32(in + 24));
  h->biYPelsPerMeter = static_cast<int32_t>(Get32(in + 28));
  h->biClrUsed = Get32(in + 32);
  h->biClrImportant = Get32(in + 36);
  return true;
}

bool ReadVideoInfoHeader(const uint8_t* in, size_t bytes, VideoInfoHeader* v) {
  if (!in || bytes < kVideoInfoHeaderSize) return false;
  v->rcSource = GetRect(in);
  v->rcTarget = GetRect(in + 16);
  v->dwBitRate = Get32(in + 32);
  v->dwBitErrorRate = Get32(in + 36);
  v->AvgTimePerFrame = static_cast<REFERENCE_TIME>(Get64(in + 40));
  return ReadBitmapInfoHeader(in + 48, bytes - 48, &v->bmiHeader);
}

bool ReadWaveFormatEx(const uint8_t* in, size_t bytes, WaveFormatEx* w) {
  if (!in || bytes < kWaveFormatExSize) return false;
  w->wFormatTag = Get16(in);
  w->nChannels = Get16(in + 2);
  w->nSamplesPerSec = Get32(in + 4);
  w->nAvgBytesPerSec = Get32(in + 8);
  w->nBlockAlign = Get16(in + 12);
  w->wBitsPerSample = Get16(in + 14);
  w->cbSize = Get16(in + 16);
  return true;
}

bool VideoInfoOf(const AM_MEDIA_TYPE& type, VideoInfoHeader* v) {
  return type.formattype == FORMAT_VideoInfo && ReadVideoInfoHeader(type.pbFormat, type.cbFormat, v);
}

bool WaveFormatOf(const AM_MEDIA_TYPE& type, WaveFormatEx* w) {
  return type.formattype == FORMAT_WaveFormatEx && ReadWaveFormatEx(type.pbFormat, type.cbFormat, w);
}

}  // namespace dshow
