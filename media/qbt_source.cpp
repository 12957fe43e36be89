#include "media/qbt_source.h"

#include <cstring>

#include "media/qbt_decoder.h"

namespace media {

QbtSource::QbtSource() = default;
QbtSource::~QbtSource() = default;

bool QbtSource::Open(const ov::String& openPath, uint32_t /*scale*/) {
  open_ = false;
  if (!reader_.Open(openPath)) return false;
  uint8_t raw[kQbtHeaderBytes];
  uint32_t got = 0;
  if (!reader_.Read(raw, kQbtHeaderBytes, &got) || got != kQbtHeaderBytes) return false;
  for (int i = 0; i < 8; ++i) {
    header_[i] = uint32_t(raw[4 * i]) | uint32_t(raw[4 * i + 1]) << 8 | uint32_t(raw[4 * i + 2]) << 16 |
                 uint32_t(raw[4 * i + 3]) << 24;
  }
  if (header_[3] != 2 || !QbtPictureSizeOk(width(), height())) return false;
  // The cap on each side keeps width x height x 4 well inside 32 bits.
  workBytes_ = width() * height() * 4;
  work_.reset(new uint8_t[workBytes_]);
  open_ = true;
  return Rewind();
}

bool QbtSource::Rewind() {
  if (!open_) return false;
  reader_.Seek(kQbtHeaderBytes);
  timeMs_ = 0;
  blankGiven_ = false;
  return true;
}

bool QbtSource::Seek(uint32_t timeMs) {
  timeMs_ = timeMs;
  return false;
}

bool QbtSource::GetFormat(MediaFormat* out) {
  *out = MediaFormat{};
  if (!open_) return false;
  out->width = width();
  out->height = height();
  out->frameDurationMs = header_[4];
  out->hasColourKey = header_[5];
  out->colourKey = header_[6];
  return true;
}

bool QbtSource::ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs,
                               uint32_t /*single*/) {
  *bytes = 0;
  buffer->reset();
  if (!open_) return false;
  const uint32_t frameBytes = FrameBytes();
  std::unique_ptr<uint8_t[]> frame(new uint8_t[frameBytes]);
  uint8_t lengthBytes[4];
  uint32_t got = 0;
  bool decoded = false;
  if (reader_.Read(lengthBytes, 4, &got)) {
    const uint32_t length = uint32_t(lengthBytes[0]) | uint32_t(lengthBytes[1]) << 8 |
                            uint32_t(lengthBytes[2]) << 16 | uint32_t(lengthBytes[3]) << 24;
    // A length beyond the work buffer is a bad frame; it is not read.
    if (length <= workBytes_ && reader_.Read(work_.get(), length, &got) && got == length) {
      std::memset(frame.get(), 0, frameBytes);  // the padding column of odd widths
      decoded = QbtDecodeFrame(frame.get(), width(), height(), 16, 1, 0, work_.get(), length) == kQbtOk;
    }
  }
  // The time advances on every call, the end included.
  *timeMs = timeMs_;
  const uint64_t next = uint64_t(timeMs_) + header_[4];
  timeMs_ = next > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(next);
  if (!decoded) {
    if (blankGiven_) return false;
    std::memset(frame.get(), 0, frameBytes);
  }
  blankGiven_ = !decoded;
  *buffer = std::move(frame);
  *bytes = frameBytes;
  return true;
}

}  // namespace media
