#include "media/adts_reader.h"

#include <cstring>

namespace media {

namespace {

constexpr uint32_t kSamplesPerFrame = 1024;
constexpr uint32_t kHeaderBytes = 7;

// ISO/IEC 14496-3 Table 1.18: sampling frequency by index; 13-15 reserved.
constexpr uint32_t kSampleRates[16] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                       16000, 12000, 11025, 8000,  7350,  0,     0,     0};

}  // namespace

bool ParseAdtsHeader(const uint8_t b[7], AdtsHeader* header) {
  // Only the first sync byte is tested.
  if ((b[0] & 0xF0) != 0xF0) return false;
  uint32_t profile = b[2] >> 6;
  if (profile != 1 && profile != 3) return false;
  uint32_t rate = kSampleRates[(b[2] >> 2) & 15];
  if (rate == 0) return false;
  uint32_t length = ((b[3] & 3u) << 11) | (uint32_t{b[4]} << 3) | (b[5] >> 5);
  // A frame shorter than its own header would make a negative payload and a
  // length of 0 would never advance.
  if (length < kHeaderBytes) return false;
  header->profile = profile;
  header->sample_rate = rate;
  header->channel_config = ((b[2] & 1u) << 2) | (b[3] >> 6);
  header->frame_length = length;
  return true;
}

AdtsReader::AdtsReader(const ov::String& path) : FrameReader(kAdts, path) {}

AdtsReader::~AdtsReader() = default;

bool AdtsReader::ParseFrame(const FrameCursor& cursor, AdtsHeader* header) {
  file_.Seek(cursor.position);
  uint8_t bytes[kHeaderBytes] = {};
  file_.Read(bytes, kHeaderBytes, nullptr);
  if (!ParseAdtsHeader(bytes, header)) return false;
  profile_ = header->profile;
  sample_rate_ = header->sample_rate;
  channels_ = header->channel_config == 2 ? 2 : 1;
  return true;
}

bool AdtsReader::Open() {
  FrameCursor first;
  AdtsHeader header;
  if (!ParseFrame(first, &header)) return false;
  auto config = std::make_unique<uint8_t[]>(header.frame_length);
  file_.Seek(0);
  uint32_t got = 0;
  if (!file_.Read(config.get(), header.frame_length, &got)) return false;
  config_ = std::move(config);
  config_bytes_ = header.frame_length;
  file_.Seek(0);
  start_ = FrameCursor();
  ResetIndex(0);
  return true;
}

bool AdtsReader::ReadSample(TrackCursor* track_cursor, std::unique_ptr<uint8_t[]>* buffer,
                            uint32_t* bytes, uint32_t* time) {
  buffer->reset();
  *bytes = 0;
  FrameCursor* cursor = AsFrameCursor(track_cursor);
  if (!cursor) return false;
  AdtsHeader header;
  if (!ParseFrame(*cursor, &header)) return false;
  auto frame = std::make_unique<uint8_t[]>(header.frame_length);
  file_.Seek(cursor->position);
  if (!file_.Read(frame.get(), header.frame_length, nullptr)) {
    // Cut off by the end of the file: discarded. A frame that ends exactly at
    // the end is complete and delivered.
    return false;
  }
  *time = cursor->time;
  cursor->position = file_.Tell();
  cursor->time += kSamplesPerFrame;
  cursor->requested = 0;
  UpdateIndex(*cursor);
  *buffer = std::move(frame);
  *bytes = header.frame_length;
  return true;
}

bool AdtsReader::NextFrame(FrameCursor* cursor) {
  AdtsHeader header;
  if (!ParseFrame(*cursor, &header)) return false;
  // Only whole frames count, as ReadSample delivers only whole frames.
  if (uint64_t{cursor->position} + header.frame_length > file_.Size()) return false;
  cursor->position += header.frame_length;
  cursor->time += kSamplesPerFrame;
  cursor->requested = 0;
  UpdateIndex(*cursor);
  return true;
}

uint64_t AdtsReader::ScanSamples() {
  FrameCursor cursor;
  uint64_t frames = 0;
  while (NextFrame(&cursor)) ++frames;
  return frames * kSamplesPerFrame;
}

int64_t AdtsReader::GetDuration(int) {
  uint64_t samples = ScanSamples();
  if (sample_rate_ == 0) return -1;
  return static_cast<int64_t>(samples / sample_rate_);
}

uint32_t AdtsReader::ScanDuration() {
  uint64_t samples = ScanSamples();
  if (sample_rate_ == 0) return 0;
  uint64_t ms = samples * 1000 / sample_rate_;
  return ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms);
}

std::unique_ptr<uint8_t[]> AdtsReader::GetDecoderConfig(uint32_t* bytes) const {
  *bytes = 0;
  if (!config_) return nullptr;
  auto copy = std::make_unique<uint8_t[]>(config_bytes_);
  std::memcpy(copy.get(), config_.get(), config_bytes_);
  *bytes = config_bytes_;
  return copy;
}

}  // namespace media
