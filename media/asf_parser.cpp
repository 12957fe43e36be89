#include "media/asf_parser.h"

#include <algorithm>
#include <cctype>

#include "media/asf_guids.h"

namespace media {

namespace {

constexpr uint32_t kObjectHeaderBytes = 24;  // GUID and u64 size
constexpr int kPacketRetries = 10;

// Bytes of a field whose length type (two bits) is 0, 1, 2 or 3.
constexpr uint32_t FieldBytes(uint32_t type) { return type == 3 ? 4 : type; }

uint32_t ReadField(BufferedFileReader& file, uint32_t type) {
  switch (type) {
    case 1:
      return file.ReadU8();
    case 2:
      return file.ReadU16();
    case 3:
      return file.ReadU32();
    default:
      return 0;
  }
}

uint32_t ReadField(ByteView& v, uint32_t type) {
  switch (type) {
    case 1:
      return v.U8();
    case 2:
      return v.LE16();
    case 3:
      return v.LE32();
    default:
      return 0;
  }
}

void NormaliseAudio(AsfStream& s) {
  dshow::WaveFormatEx& w = s.wave;
  // A private tag whose sizes are those of plain PCM is read as PCM.
  if (w.wFormatTag > 0x2000 && w.nBlockAlign > 0 && w.nAvgBytesPerSec > 0 &&
      w.nBlockAlign == uint32_t(w.nChannels) * w.wBitsPerSample / 8 &&
      w.nAvgBytesPerSec == uint64_t(w.nSamplesPerSec) * w.nBlockAlign) {
    w.wFormatTag = dshow::WAVE_FORMAT_PCM;
  }
  if (w.wFormatTag != dshow::WAVE_FORMAT_PCM) return;
  s.validBits = static_cast<uint16_t>(w.wBitsPerSample - 1);
  w.wBitsPerSample = static_cast<uint16_t>((uint32_t(w.wBitsPerSample) + 7) / 8 * 8);
  w.nBlockAlign = static_cast<uint16_t>(uint32_t(w.nChannels) * w.wBitsPerSample / 8);
  if (w.wBitsPerSample < 9) s.sampleFormat = 4;
}

void NormaliseVideo(AsfStream& s) {
  dshow::BitmapInfoHeader& b = s.bitmap;
  const bool fourcc = b.biCompression != dshow::BI_RGB && b.biCompression != dshow::BI_BITFIELDS;
  if (fourcc) {
    uint32_t upper = 0;
    for (int i = 3; i >= 0; --i) {
      upper = (upper << 8) | uint32_t(std::toupper(int((b.biCompression >> (8 * i)) & 0xFF)));
    }
    b.biCompression = upper;
  } else if (b.biBitCount == 16) {
    s.masks[0] = 0x7C00;
    s.masks[1] = 0x03E0;
    s.masks[2] = 0x001F;
  } else if (b.biBitCount == 24 || b.biBitCount == 32) {
    s.masks[0] = 0xFF0000;
    s.masks[1] = 0x00FF00;
    s.masks[2] = 0x0000FF;
  }
  if (b.biHeight < 0) {
    // INT32_MIN has no positive twin: it stays as the largest height.
    b.biHeight = b.biHeight == INT32_MIN ? INT32_MAX : -b.biHeight;
    s.formatFlags |= AsfStream::kHeightFlipped;
  }
  const uint64_t rowBits = uint64_t(b.biBitCount) * uint64_t(uint32_t(b.biWidth));
  s.stride = uint32_t(fourcc ? (rowBits + 7) / 8 : (rowBits + 31) / 32 * 4);
  s.firstPlaneBits = b.biBitCount;
  using com::FourccCode;
  for (uint32_t planar : {FourccCode("YV12"), FourccCode("IYUV"), FourccCode("I420"), FourccCode("IMC2"),
                          FourccCode("IMC4"), FourccCode("YV16")}) {
    if (b.biCompression == planar) s.firstPlaneBits = 8;
  }
  for (uint32_t packed : {FourccCode("YUY2"), FourccCode("YUNV"), FourccCode("V422"), FourccCode("YUYV"),
                          FourccCode("VYUY"), FourccCode("UYVY"), FourccCode("Y422"), FourccCode("UYNV")}) {
    if (b.biCompression == packed) s.firstPlaneBits = 16;
  }
}

}  // namespace

int AsfParser::ParseHeader(BufferedFileReader& file) {
  *this = AsfParser{};
  uint8_t guid[16];
  if (!file.ReadGuid(guid) || !asf::SameGuid(guid, asf::kHeaderObject)) return kHeaderFailed;
  file.Skip(14);  // object size, object count, two reserved bytes
  while (!file.AtEnd()) {
    const uint32_t start = file.Tell();
    if (!file.ReadGuid(guid)) return kHeaderFailed;
    const uint64_t size = file.ReadU64();
    if (size < kObjectHeaderBytes) return kHeaderFailed;
    if (asf::SameGuid(guid, asf::kDataObject)) {
      file.Skip(26);  // file id, total data packets, reserved
      first_packet_ = file.Tell();
      // A data object larger than the file (a cut copy) ends with the file.
      const uint64_t end = uint64_t(start) + size;
      data_end_ = size <= 50 || end > file.Size() ? file.Size() : uint32_t(end);
      if (first_packet_ > data_end_) return kHeaderFailed;
      in_packet_ = false;
      next_packet_ = first_packet_;
      return 0;
    }
    // The object must lie inside the file; only its bytes are read.
    if (size > uint64_t(file.Size()) - start) return kHeaderFailed;
    const uint32_t body = uint32_t(size) - kObjectHeaderBytes;
    if (asf::SameGuid(guid, asf::kFileProperties) || asf::SameGuid(guid, asf::kStreamProperties)) {
      std::vector<uint8_t> bytes(body);
      if (!file.ReadBytes(bytes.data(), body)) return kHeaderFailed;
      ByteView v(bytes.data(), bytes.size());
      if (asf::SameGuid(guid, asf::kFileProperties)) {
        if (!ReadFileProperties(v)) return kHeaderFailed;
      } else {
        ReadStreamProperties(v);
      }
    }
    file.Seek(start + uint32_t(size));
  }
  return kHeaderFailed;
}

bool AsfParser::ReadFileProperties(ByteView& v) {
  v.Skip(32);  // file id, file size, creation date
  packet_count_ = v.LE64();
  play_duration_ = v.LE64();
  v.Skip(8);  // send duration
  preroll_ms_ = uint32_t(v.LE64());
  flags_ = v.LE32();
  min_packet_size_ = v.LE32();
  max_packet_size_ = v.LE32();
  v.LE32();  // maximum bitrate
  if (v.overrun()) return false;
  if (broadcast()) {
    duration_value_ = -1;
    if (int32_t(min_packet_size_) < 1) min_packet_size_ = 0;
    if (int32_t(max_packet_size_) < 1) max_packet_size_ = 0x400000;
  } else {
    const int64_t d = int64_t(play_duration_ & 0x7FFFFFFFFFFFFFFF) - int64_t(preroll_ms_) * 10000;
    duration_value_ = int64_t(double(d) * 16384.0 / 1e7);
  }
  return true;
}

void AsfParser::ReadStreamProperties(ByteView& v) {
  if (streams_.size() >= kMaxStreams) return;
  AsfStream s;
  s.position = uint32_t(streams_.size());
  uint8_t type[16], correction[16];
  v.Bytes(type, 16);
  v.Bytes(correction, 16);
  const uint64_t timeOffset = v.LE64();
  const uint32_t typeLength = v.LE32();
  const uint32_t correctionLength = v.LE32();
  const uint16_t flags = v.LE16();
  v.Skip(4);
  if (v.overrun()) return;
  s.number = uint8_t(flags & 0x7F);
  s.timeOffsetMs = int64_t(timeOffset / 10000) - preroll_ms_;
  // The type-specific and error-correction data, each bounded by what is held.
  ByteView t(v.here(), std::min<size_t>(typeLength, v.left()));
  v.Skip(t.size());
  ByteView e(v.here(), std::min<size_t>(correctionLength, v.left()));
  if (asf::SameGuid(type, asf::kAudioMedia)) {
    s.kind = AsfStream::kAudio;
    dshow::WaveFormatEx& w = s.wave;
    w.wFormatTag = t.LE16();
    w.nChannels = t.LE16();
    w.nSamplesPerSec = t.LE32();
    w.nAvgBytesPerSec = t.LE32();
    w.nBlockAlign = t.LE16();
    w.wBitsPerSample = t.LE16();
    if (t.overrun()) return;
    if (t.left() >= 2) {
      const uint16_t cbSize = t.LE16();
      s.codecData.assign(t.here(), t.here() + std::min<size_t>(cbSize, t.left()));
    }
    w.cbSize = uint16_t(s.codecData.size());
    NormaliseAudio(s);
    if (asf::SameGuid(correction, asf::kAudioSpread)) {
      s.span = e.U8();
      s.virtualPacketLength = e.LE16();
      s.virtualChunkLength = e.LE16();
      if (e.overrun()) s.span = 0;
      if (s.span > 1 && (s.virtualChunkLength == 0 || s.virtualPacketLength / s.virtualChunkLength < 2)) s.span = 0;
    }
  } else if (asf::SameGuid(type, asf::kVideoMedia)) {
    s.kind = AsfStream::kVideo;
    t.Skip(9);  // encoded width and height, reserved flag
    const uint16_t formatSize = t.LE16();
    t.Skip(4);  // header size
    dshow::BitmapInfoHeader& b = s.bitmap;
    b.biWidth = int32_t(t.LE32());
    b.biHeight = int32_t(t.LE32());
    t.LE16();  // planes
    b.biBitCount = t.LE16();
    b.biCompression = t.LE32();
    t.Skip(20);
    if (t.overrun()) return;
    if (formatSize > dshow::kBitmapInfoHeaderSize) {
      s.codecData.assign(t.here(), t.here() + std::min<size_t>(formatSize - dshow::kBitmapInfoHeaderSize, t.left()));
    }
    NormaliseVideo(s);
  }
  streams_.push_back(std::move(s));
}

const AsfStream* AsfParser::FindStream(uint8_t number) const {
  for (const AsfStream& s : streams_) {
    if (s.number == number) return &s;
  }
  return nullptr;
}

void AsfParser::SeekPacket(BufferedFileReader& file, uint32_t packetOffset, uint32_t discard) {
  in_packet_ = false;
  sub_ = ByteView();
  next_packet_ = packetOffset;
  discard_ = discard;
  file.Seek(packetOffset);
}

bool AsfParser::ReadPacket(BufferedFileReader& file) {
  const uint32_t start = file.Tell();
  packet_offset_ = start;
  handed_out_ = 0;
  // A packet of unknown length is at least its fixed size apart from the next.
  next_packet_ = start + std::max<uint32_t>(min_packet_size_, 1);
  if (start >= data_end_) return false;
  uint8_t b = file.ReadU8();
  if (b & 0x80) {
    // Error-correction flags: data of (b & 0x0F) bytes follows. 0x82 is the
    // usual two bytes; 0x90 carries none.
    if (b != 0x82 && b != 0x90) return false;
    file.Skip(b & 0x0F);
    b = file.ReadU8();
  }
  const uint8_t lengthFlags = b;
  property_flags_ = file.ReadU8();
  uint32_t packetLength = ReadField(file, (lengthFlags >> 5) & 3);
  if (((lengthFlags >> 5) & 3) == 0) packetLength = max_packet_size_;
  if (packetLength < 8 || packetLength > max_packet_size_) return false;
  file.Skip(FieldBytes((lengthFlags >> 1) & 3));  // sequence
  const uint32_t padding = ReadField(file, (lengthFlags >> 3) & 3);
  if (padding >= max_packet_size_) return false;
  send_time_ = file.ReadU32();
  file.ReadU16();  // duration
  multiple_ = (lengthFlags & 1) != 0;
  if (multiple_) {
    const uint8_t payloadFlags = file.ReadU8();
    payloads_left_ = payloadFlags & 0x3F;
    payload_length_type_ = uint8_t(payloadFlags >> 6);
  } else {
    payloads_left_ = 1;
  }
  const int64_t left = int64_t(packetLength) - padding - (int64_t(file.Tell()) - start);
  if (left < 0 || file.Tell() > data_end_ || uint64_t(file.Tell()) + uint64_t(left) > data_end_) return false;
  packet_.resize(size_t(left));
  if (!file.ReadBytes(packet_.data(), uint32_t(left))) return false;
  view_ = ByteView(packet_.data(), packet_.size());
  next_packet_ = start + std::max(packetLength, min_packet_size_);
  in_packet_ = true;
  return true;
}

bool AsfParser::PayloadFromPacket(AsfPayload* out) {
  while (payloads_left_ > 0) {
    --payloads_left_;
    ByteView& v = view_;
    const uint8_t streamByte = v.U8();
    AsfPayload p;
    p.stream = streamByte & 0x7F;
    p.keyFrame = (streamByte & 0x80) != 0;
    v.Skip(FieldBytes((property_flags_ >> 4) & 3));  // media object number
    const uint32_t offset = ReadField(v, (property_flags_ >> 2) & 3);
    const uint32_t replicated = ReadField(v, property_flags_ & 3);
    bool compressed = false;
    bool usable = true;
    if (replicated >= 8) {
      p.objectSize = v.LE32();
      p.presentationTime = v.LE32();
      v.Skip(replicated - 8);
      p.objectOffset = offset;
    } else if (replicated == 1) {
      // A compressed payload: the offset field is its presentation time.
      compressed = true;
      p.presentationTime = offset;
      sub_delta_ = v.U8();
    } else if (replicated == 0) {
      p.objectOffset = offset;
      p.presentationTime = send_time_;
    } else {
      // 2 to 7 bytes hold no object size and time: the payload is dropped.
      v.Skip(replicated);
      usable = false;
    }
    const uint32_t length = multiple_ ? ReadField(v, payload_length_type_) : uint32_t(v.left());
    if (v.overrun() || length > v.left()) {
      // A payload that runs past its packet ends the packet.
      payloads_left_ = 0;
      return false;
    }
    const uint8_t* data = v.here();
    v.Skip(length);
    if (!usable || length == 0) continue;
    p.packetOffset = packet_offset_;
    if (compressed) {
      sub_ = ByteView(data, length);
      sub_base_ = p;
      return false;  // NextPayload hands out the sub-payloads
    }
    if (replicated == 0) p.objectSize = length;
    p.data = data;
    p.length = length;
    *out = p;
    return true;
  }
  return false;
}

bool AsfParser::NextPayload(BufferedFileReader& file, AsfPayload* out) {
  int failures = 0;
  for (;;) {
    AsfPayload p;
    bool got = false;
    if (sub_.left() > 0) {
      // One sub-payload of a compressed payload: a length byte and the object.
      const uint8_t n = sub_.U8();
      if (n == 0 || n > sub_.left()) {
        sub_ = ByteView();
        continue;
      }
      p = sub_base_;
      p.data = sub_.here();
      p.length = n;
      p.objectSize = n;
      p.objectOffset = 0;
      sub_.Skip(n);
      sub_base_.presentationTime += sub_delta_;
      got = true;
    } else if (in_packet_) {
      got = PayloadFromPacket(&p);
      if (!got && sub_.left() == 0) in_packet_ = false;
      if (!got) continue;
    } else {
      file.Seek(next_packet_);
      if (next_packet_ >= data_end_) return false;
      if (!ReadPacket(file)) {
        // A damaged packet header: try the next packet, 10 times in a row.
        in_packet_ = false;
        if (++failures >= kPacketRetries) return false;
        continue;
      }
      failures = 0;
      continue;
    }
    if (!got) continue;
    p.index = handed_out_++;
    if (discard_ > 0) {
      --discard_;
      continue;
    }
    *out = p;
    return true;
  }
}

}  // namespace media
