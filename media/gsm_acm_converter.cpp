#include "media/gsm_acm_converter.h"

namespace media {

GsmAcmConverter& GsmAcmConverter::Instance() {
  static GsmAcmConverter converter;
  return converter;
}

bool GsmAcmConverter::Open() {
  std::lock_guard<std::mutex> hold(lock_);
  ++use_count_;
  if (stream_.IsOpen() || !ov::AcmStream::HasDriver(u"GSM 6.10")) return false;
  ov::AcmFormat gsm;
  gsm.format_tag = ov::kWaveFormatGsm610;
  gsm.channels = 1;
  gsm.samples_per_second = 8000;
  gsm.average_bytes_per_second = 1625;
  gsm.block_align = 65;
  gsm.bits_per_sample = 0;
  gsm.samples_per_block = 320;
  ov::AcmFormat pcm;
  pcm.format_tag = ov::kWaveFormatPcm;
  pcm.channels = 1;
  pcm.samples_per_second = 8000;
  pcm.average_bytes_per_second = 16000;
  pcm.block_align = 2;
  pcm.bits_per_sample = 16;
  return stream_.Open(gsm, pcm);
}

void GsmAcmConverter::Close() {
  std::lock_guard<std::mutex> hold(lock_);
  if (use_count_ > 0 && --use_count_ == 0) stream_.Close();
}

bool GsmAcmConverter::IsOpen() {
  std::lock_guard<std::mutex> hold(lock_);
  return stream_.IsOpen();
}

std::unique_ptr<uint8_t[]> GsmAcmConverter::Convert(const uint8_t* source, uint32_t length, uint32_t* converted) {
  *converted = 0;
  auto out = std::make_unique<uint8_t[]>(kBufferBytes);
  std::lock_guard<std::mutex> hold(lock_);
  uint32_t used = 0;
  if (!stream_.Convert(source, length, out.get(), kBufferBytes, &used, converted)) return nullptr;
  return out;
}

}  // namespace media
