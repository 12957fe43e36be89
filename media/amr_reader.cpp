#include "media/amr_reader.h"

#include <cstring>

namespace media {

namespace {

constexpr uint32_t kFrameMs = 20;
constexpr int kNone = -1;  // frame type carries no payload

// Bits per frame type: TS 26.101 Table 2 (AMR-NB), TS 26.201 Table 2 (AMR-WB).
constexpr int kNarrowBandBits[16] = {95, 103, 118, 134, 148, 159, 204, 244,
                                     39, 43,  38,  37,  kNone, kNone, kNone, 0};
constexpr int kWideBandBits[16] = {132, 177, 253, 285, 317, 365, 397, 461,
                                   477, 40,  kNone, kNone, kNone, kNone, 0, 0};

struct Magic {
  const char* text;
  uint32_t header_size;
  uint32_t samples_per_frame;
  uint32_t sample_rate;
  bool opens;
};

// RFC 4867 section 5: the storage-format magic numbers; the multi-channel
// headers are followed by a 4-byte channel description.
constexpr Magic kMagics[] = {
    {"#!AMR\n", 6, 160, 8000, true},
    {"#!AMR-WB\n", 9, 320, 16000, false},
    {"#!AMR-MC1.0\n", 16, 160, 8000, false},
    {"#!AMR-WB_MC1.0\n", 19, 320, 16000, false},
};

}  // namespace

uint32_t AmrPayloadBytes(uint32_t frame_type, bool wide_band) {
  int bits = (wide_band ? kWideBandBits : kNarrowBandBits)[frame_type & 15];
  return bits <= 0 ? 0 : static_cast<uint32_t>(bits + 7) / 8;
}

AmrReader::AmrReader(const ov::String& path) : FrameReader(kAmr, path) {}

AmrReader::~AmrReader() = default;

bool AmrReader::Open() {
  uint8_t head[15] = {};
  file_.Seek(0);
  file_.Read(head, sizeof(head), nullptr);
  for (const Magic& m : kMagics) {
    size_t n = std::strlen(m.text);
    if (std::memcmp(head, m.text, n) != 0) continue;
    samples_per_frame_ = m.samples_per_frame;
    sample_rate_ = m.sample_rate;
    header_size_ = m.header_size;
    // The multi-channel headers carry the channel count after the magic; the
    // reader refuses them, so only single-channel files need a count.
    channels_ = 1;
    if (!m.opens) return false;
    file_.Seek(header_size_);
    start_ = FrameCursor();
    start_.position = header_size_;
    ResetIndex(header_size_);
    return true;
  }
  return false;
}

uint32_t AmrReader::FrameBytes(const FrameCursor& cursor, uint8_t* header_byte) {
  file_.Seek(cursor.position);
  uint8_t header = 0;
  uint32_t got = 0;
  if (!file_.Read(&header, 1, &got)) return 0;
  uint32_t bytes = 1 + AmrPayloadBytes((header >> 3) & 15, samples_per_frame_ != 160);
  if (uint64_t{cursor.position} + bytes > file_.Size()) return 0;
  *header_byte = header;
  return bytes;
}

bool AmrReader::ReadSample(TrackCursor* track_cursor, std::unique_ptr<uint8_t[]>* buffer,
                           uint32_t* bytes, uint32_t* time) {
  buffer->reset();
  *bytes = 0;
  FrameCursor* cursor = AsFrameCursor(track_cursor);
  if (!cursor || header_size_ == 0) return false;
  uint8_t header = 0;
  uint32_t frame_bytes = FrameBytes(*cursor, &header);
  if (frame_bytes == 0) return false;
  auto frame = std::make_unique<uint8_t[]>(frame_bytes);
  frame[0] = header;
  if (frame_bytes > 1 && !file_.Read(frame.get() + 1, frame_bytes - 1, nullptr)) return false;
  *time = cursor->time;
  cursor->position += frame_bytes;
  cursor->time += kFrameMs;
  cursor->requested = 0;
  UpdateIndex(*cursor);
  *buffer = std::move(frame);
  *bytes = frame_bytes;
  return true;
}

bool AmrReader::NextFrame(FrameCursor* cursor) {
  if (header_size_ == 0) return false;
  uint8_t header = 0;
  uint32_t frame_bytes = FrameBytes(*cursor, &header);
  if (frame_bytes == 0) return false;
  cursor->position += frame_bytes;
  cursor->time += kFrameMs;
  cursor->requested = 0;
  UpdateIndex(*cursor);
  return true;
}

int64_t AmrReader::GetDuration(int) {
  FrameCursor cursor;
  cursor.position = header_size_;
  while (NextFrame(&cursor)) {
  }
  return cursor.time;
}

}  // namespace media
