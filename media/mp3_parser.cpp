#include "media/mp3_parser.h"

#include <algorithm>

namespace media {

namespace {

constexpr uint32_t kHeaderBytes = 4;
constexpr uint32_t kId3HeaderBytes = 10;

}  // namespace

Mp3Parser::Mp3Parser(const ov::String& path) {
  if (!file_.Open(path)) return;
  uint32_t start = 0;
  uint8_t tag[kId3HeaderBytes] = {};
  uint32_t got = 0;
  file_.Seek(0);
  if (file_.Read(tag, kId3HeaderBytes, &got) && tag[0] == 'I' && tag[1] == 'D' && tag[2] == '3') {
    // ID3v2: a 28-bit sync-safe size (7 bits a byte) after the 10-byte header.
    const uint32_t size = uint32_t(tag[6] & 0x7F) << 21 | uint32_t(tag[7] & 0x7F) << 14 |
                          uint32_t(tag[8] & 0x7F) << 7 | uint32_t(tag[9] & 0x7F);
    start = kId3HeaderBytes + size;
  }
  const uint32_t size = file_.Size();
  const uint32_t last = start > size ? 0 : std::min<uint64_t>(uint64_t(start) + kFirstFrameSearch, size);
  for (uint32_t at = start; at < last; ++at) {
    uint32_t length = 0;
    if (HeaderAt(at, &first_, &length) && Confirmed(at, length)) {
      first_offset_ = at;
      position_ = at;
      open_ = true;
      return;
    }
  }
}

bool Mp3Parser::Confirmed(uint32_t at, uint32_t length) {
  const uint64_t next = uint64_t(at) + length;
  if (next + kHeaderBytes > file_.Size()) return next <= file_.Size();  // the file's only frame
  CMPAFrameHeader first = first_, following;
  uint32_t unused = 0;
  return HeaderAt(uint32_t(next), &following, &unused) && following.IsCompatible(first);
}

bool Mp3Parser::HeaderAt(uint32_t offset, CMPAFrameHeader* header, uint32_t* length) {
  if (uint64_t(offset) + kHeaderBytes > file_.Size()) return false;
  uint8_t b[kHeaderBytes] = {};
  file_.Seek(offset);
  if (!file_.ReadBytes(b, kHeaderBytes)) return false;
  if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return false;
  try {
    CMPAFrameHeader h;
    h.Parse(b);
    const uint32_t n = h.FrameLength();
    if (n < kHeaderBytes) return false;
    *header = h;
    *length = n;
    return true;
  } catch (const CMPAException&) {
    return false;
  }
}

bool Mp3Parser::NextFrame(std::unique_ptr<uint8_t[]>* frame, uint32_t* length, CMPAFrameHeader* header) {
  if (!open_) return false;
  const uint32_t size = file_.Size();
  CMPAFrameHeader h;
  uint32_t n = 0;
  uint32_t at = position_;
  while (at < size && !HeaderAt(at, &h, &n)) ++at;
  if (at >= size || uint64_t(at) + n > size) {
    position_ = size;
    return false;
  }
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[n]);
  if (!bytes) return false;
  file_.Seek(at);
  if (!file_.ReadBytes(bytes.get(), n)) {
    position_ = size;
    return false;
  }
  position_ = at + n;
  clock_ += uint64_t(h.samples_per_frame) * (kClockRate / h.sample_rate);
  if (index_.empty() || index_.back().position < position_) index_.push_back({position_, clock_});
  *frame = std::move(bytes);
  *length = n;
  if (header) *header = h;
  return true;
}

void Mp3Parser::Rewind() {
  position_ = first_offset_;
  clock_ = 0;
}

bool Mp3Parser::SeekToClock(uint64_t target) {
  if (!open_) return false;
  if (target == 0) {
    Rewind();
    return true;
  }
  // The first indexed boundary at or after the target.
  const auto hit = std::lower_bound(index_.begin(), index_.end(), target,
                                    [](const IndexEntry& e, uint64_t t) { return e.clock < t; });
  if (hit != index_.end()) {
    position_ = hit->position;
    clock_ = hit->clock;
    return true;
  }
  // Walk on from the newest entry.
  if (!index_.empty()) {
    position_ = index_.back().position;
    clock_ = index_.back().clock;
  } else {
    Rewind();
  }
  const uint32_t size = file_.Size();
  while (clock_ < target) {
    CMPAFrameHeader h;
    uint32_t n = 0;
    uint32_t at = position_;
    while (at < size && !HeaderAt(at, &h, &n)) ++at;
    if (at >= size || uint64_t(at) + n > size) return false;
    position_ = at + n;
    clock_ += uint64_t(h.samples_per_frame) * (kClockRate / h.sample_rate);
    index_.push_back({position_, clock_});
  }
  return true;
}

}  // namespace media
