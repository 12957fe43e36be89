#include "media/gsm_acm_converter.h"

namespace media {

namespace {

ov::AcmFormat GsmFormat() {
  ov::AcmFormat gsm;
  gsm.format_tag = ov::kWaveFormatGsm610;
  gsm.channels = 1;
  gsm.samples_per_second = 8000;
  gsm.average_bytes_per_second = 1625;
  gsm.block_align = 65;
  gsm.bits_per_sample = 0;
  gsm.samples_per_block = 320;
  return gsm;
}

ov::AcmFormat PcmFormat() {
  ov::AcmFormat pcm;
  pcm.format_tag = ov::kWaveFormatPcm;
  pcm.channels = 1;
  pcm.samples_per_second = 8000;
  pcm.average_bytes_per_second = 16000;
  pcm.block_align = 2;
  pcm.bits_per_sample = 16;
  return pcm;
}

}  // namespace

bool GsmAcmConverter::Open() {
  if (stream_.IsOpen() || !ov::AcmStream::HasDriver(u"GSM 6.10")) return false;
  return stream_.Open(GsmFormat(), PcmFormat());
}

void GsmAcmConverter::Close() { stream_.Close(); }

bool GsmAcmConverter::Restart() {
  if (!stream_.IsOpen()) return false;
  stream_.Close();
  return stream_.Open(GsmFormat(), PcmFormat());
}

std::unique_ptr<uint8_t[]> GsmAcmConverter::Convert(const uint8_t* source, uint32_t length, uint32_t* converted) {
  *converted = 0;
  auto out = std::make_unique<uint8_t[]>(kBufferBytes);
  uint32_t used = 0;
  if (!stream_.Convert(source, length, out.get(), kBufferBytes, &used, converted)) return nullptr;
  return out;
}

}  // namespace media
