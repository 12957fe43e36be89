#include "media/asf_reader.h"

#include <algorithm>
#include <cstring>

namespace media {

AsfReader::AsfReader(const ov::String& path) {
  open_ = file_.Open(path) && parser_.ParseHeader(file_) == 0;
}

bool AsfReader::GetWaveFormat(uint32_t position, dshow::WaveFormatEx* out) {
  const auto& streams = parser_.streams();
  if (position >= streams.size() || streams[position].kind != AsfStream::kAudio) return false;
  *out = streams[position].wave;
  audio_mode_ = true;
  return true;
}

bool AsfReader::GetVideoInfo(uint32_t position, dshow::BitmapInfoHeader* out) {
  const auto& streams = parser_.streams();
  if (position >= streams.size() || streams[position].kind != AsfStream::kVideo) return false;
  const dshow::BitmapInfoHeader& b = streams[position].bitmap;
  *out = dshow::BitmapInfoHeader{};
  out->biWidth = b.biWidth;
  out->biHeight = b.biHeight;
  out->biPlanes = 1;
  out->biBitCount = b.biBitCount;
  out->biCompression = b.biCompression;
  audio_mode_ = false;
  return true;
}

std::vector<uint8_t> AsfReader::GetCodecData(uint32_t position) const {
  const auto& streams = parser_.streams();
  return position < streams.size() ? streams[position].codecData : std::vector<uint8_t>{};
}

std::vector<uint16_t> AsfReader::ListStreams(uint8_t kind) const {
  std::vector<uint16_t> list;
  for (const AsfStream& s : parser_.streams()) {
    if (s.kind != kind) continue;
    if (list.size() == kMaxListed) break;
    list.push_back(uint16_t(s.number | (s.position << 8)));
  }
  return list;
}

uint32_t AsfReader::TimeOf(const AsfPayload& p) const {
  return p.presentationTime > parser_.prerollMs() ? p.presentationTime - parser_.prerollMs() : 0;
}

void AsfReader::Observe(const AsfPayload& p) {
  if (p.stream != wanted_) return;
  if ((p.keyFrame && p.objectOffset == 0) || audio_mode_) {
    key_packet_ = p.packetOffset;
    key_index_ = p.index;
  }
  if (p.objectOffset != 0) return;
  delta_frames_ = p.keyFrame ? 0 : delta_frames_ + 1;
  const uint32_t time = TimeOf(p);
  if (index_.empty() || time > index_.back().timeMs) {
    index_.push_back({delta_frames_, time, key_packet_, key_index_, p.stream});
  }
}

void AsfReader::ResetObject() {
  assembling_ = false;
  object_size_ = 0;
}

bool AsfReader::ReadMediaObject(std::vector<uint8_t>* object, uint8_t number, uint32_t* size, uint32_t* timeMs) {
  if (!open_) return false;
  if (number != wanted_) {
    // The index and the object in progress belong to one stream.
    wanted_ = number;
    index_.clear();
    ResetObject();
  }
  // No media object is larger than the data that holds it.
  const uint32_t dataBytes = parser_.dataEnd() - parser_.firstPacket();
  AsfPayload p;
  while (parser_.NextPayload(file_, &p)) {
    if (p.stream != number) continue;
    Observe(p);
    if (p.objectOffset == 0) {
      // A new object; one left unfinished before it had lost a payload.
      if (p.objectSize == 0 || p.objectSize > dataBytes) {
        ResetObject();
        continue;
      }
      assembling_ = true;
      object_size_ = p.objectSize;
      object_time_ = TimeOf(p);
      object->clear();
      object->reserve(p.objectSize);
    } else if (!assembling_ || p.objectOffset != object->size() || p.objectSize != object_size_) {
      // A piece of an object whose start was not read, or a gap: drop it.
      ResetObject();
      continue;
    }
    const uint32_t take = std::min<uint32_t>(p.length, object_size_ - uint32_t(object->size()));
    object->insert(object->end(), p.data, p.data + take);
    if (object->size() == object_size_) {
      *size = object_size_;
      *timeMs = object_time_;
      ResetObject();
      return true;
    }
  }
  ResetObject();
  return false;
}

bool AsfReader::Seek(uint32_t timeMs, uint8_t number, SeekEntry* entry) {
  if (!open_) return false;
  if (number != wanted_) {
    wanted_ = number;
    index_.clear();
  }
  ResetObject();
  *entry = SeekEntry{};
  // A target at or past the end of the play duration fails at once.
  if (!parser_.broadcast() && uint64_t(timeMs) + parser_.prerollMs() >= parser_.playDuration() / 10000) return false;
  if (index_.empty() || index_.back().timeMs < timeMs) {
    // Scan on from the newest entry's key frame (or the first packet),
    // indexing the wanted stream, until its time reaches the target or the
    // data end.
    if (index_.empty()) {
      parser_.Rewind(file_);
      delta_frames_ = 0;
    } else {
      parser_.SeekPacket(file_, index_.back().packetOffset, index_.back().payloadIndex);
    }
    AsfPayload p;
    while (parser_.NextPayload(file_, &p)) {
      Observe(p);
      if (p.stream == number && p.objectOffset == 0 && TimeOf(p) >= timeMs) break;
    }
    if (index_.empty()) {
      parser_.Rewind(file_);
      return false;
    }
  }
  // The newest entry at or before the target, then one older unless the
  // target is 0: a WMA decoder needs the object before to start cleanly.
  auto it = std::upper_bound(index_.begin(), index_.end(), timeMs,
                             [](uint32_t t, const IndexEntry& e) { return t < e.timeMs; });
  if (it == index_.begin()) {
    // The target lies before the first object: start from the beginning.
    parser_.Rewind(file_);
    delta_frames_ = 0;
    return true;
  }
  --it;
  if (timeMs != 0 && it != index_.begin()) {
    --it;
    entry->steppedBack = true;
  }
  entry->deltaFrames = it->deltaFrames;
  entry->timeMs = it->timeMs;
  parser_.SeekPacket(file_, it->packetOffset, it->payloadIndex);
  delta_frames_ = 0;
  return true;
}

}  // namespace media
