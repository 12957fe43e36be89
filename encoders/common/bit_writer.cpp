#include "encoders/common/bit_writer.h"

namespace venc {

void ResetWriter(BitWriter& w) {
  const uint32_t earlier = w.earlierBits;
  w = BitWriter{};
  w.earlierBits = earlier;
}

void AttachBuffer(BitWriter& w, uint8_t* buffer, uint32_t capacity) {
  w.buffer = buffer;
  w.capacity = capacity;
  w.pending = 0;
  w.pendingCount = 0;
  w.offset = 0;
  w.overflow = false;
}

uint8_t* FlushWriter(BitWriter& w, uint32_t* bits) {
  if (!w.buffer) return nullptr;
  if (bits) *bits = BitsWritten(w);
  if (w.pendingCount > 0) {
    // The partial word, shifted to the top and zero filled; only its bytes
    // that carry bits are needed, and only those are stored.
    const uint32_t word = w.pending << (32 - w.pendingCount);
    const uint32_t bytes = (w.pendingCount + 7) / 8;
    for (uint32_t i = 0; i < bytes; ++i) {
      if (w.offset + i < w.capacity) {
        w.buffer[w.offset + i] = static_cast<uint8_t>(word >> (24 - 8 * i));
      } else {
        w.overflow = true;
      }
    }
  }
  uint8_t* buffer = w.buffer;
  w.buffer = nullptr;
  return buffer;
}

WriterPosition SavePosition(const BitWriter& w) {
  return WriterPosition{w.pending, w.pendingCount, w.offset, w.segmentBits};
}

void RestorePosition(BitWriter& w, const WriterPosition& p) {
  w.pending = p.pending;
  w.pendingCount = p.pendingCount;
  w.offset = p.offset;
  w.segmentBits = p.segmentBits;
}

void AlignWithZeros(BitWriter& w) {
  const uint32_t r = w.pendingCount % 8;
  if (r != 0) PutBits(w, 8 - r, 0);
}

void PutMpeg4Stuffing(BitWriter& w) {
  PutBits(w, 1, 0);
  const uint32_t r = w.pendingCount % 8;
  if (r != 0) PutBits(w, 8 - r, (1u << (8 - r)) - 1);
}

void StreamWriter::InitPlain() {
  main_ = BitWriter{};
  part_[0] = BitWriter{};
  part_[1] = BitWriter{};
  partitioned_ = false;
  partBuffer_[0] = partBuffer_[1] = nullptr;
  partCapacity_ = 0;
}

void StreamWriter::InitPartitioned(uint8_t* partition1, uint8_t* partition2, uint32_t capacity) {
  InitPlain();
  partitioned_ = true;
  partBuffer_[0] = partition1;
  partBuffer_[1] = partition2;
  partCapacity_ = capacity;
  AttachBuffer(part_[0], partition1, capacity);
  AttachBuffer(part_[1], partition2, capacity);
}

int StreamWriter::Query(int kind, uint32_t* out) const {
  auto one = [kind](const BitWriter& w) {
    return kind == kQueryTotalBits ? w.segmentBits + w.earlierBits : w.segmentBits;
  };
  if (kind != kQueryTotalBits && kind != kQuerySegmentBits) return -1;
  uint32_t sum = one(main_);
  if (partitioned_) sum += one(part_[0]) + one(part_[1]);
  *out = sum;
  return 0;
}

void StreamWriter::AppendPartition(BitWriter& part) {
  const bool partOverflow = part.overflow;
  uint32_t bits = 0;
  uint8_t* data = FlushWriter(part, &bits);
  if (data) {
    const uint32_t words = bits / 32;
    for (uint32_t i = 0; i < words; ++i) {
      const uint8_t* p = data + 4 * i;
      PutBits(main_, 32,
              (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]);
    }
    const uint32_t r = bits % 32;
    if (r != 0) {
      const uint8_t* p = data + 4 * words;
      uint32_t word = 0;
      for (uint32_t i = 0; i < (r + 7) / 8; ++i) word |= uint32_t{p[i]} << (24 - 8 * i);
      PutBits(main_, r, word >> (32 - r));
    }
  }
  if (partOverflow || part.overflow) main_.overflow = true;
  AttachBuffer(part, data ? data : nullptr, partCapacity_);
}

int StreamWriter::Control(int kind, uint32_t value) {
  if (kind != kControlResetCounts && kind != kControlCloseSegment) return -1;
  if (partitioned_) {
    AppendPartition(part_[0]);
    AppendPartition(part_[1]);
    // The partition bits now count in the main writer's segment.
    part_[0].segmentBits = part_[0].earlierBits = 0;
    part_[1].segmentBits = part_[1].earlierBits = 0;
  }
  if (kind == kControlResetCounts) {
    main_.segmentBits = 0;
    main_.earlierBits = 0;
  } else {
    main_.earlierBits += main_.segmentBits;
    main_.segmentBits = value;
  }
  return 0;
}

uint32_t StreamWriter::FrameBits() const {
  uint32_t bits = BitsWritten(main_);
  if (partitioned_) bits += BitsWritten(part_[0]) + BitsWritten(part_[1]);
  return bits;
}

uint32_t StreamWriter::PendingSum() const {
  uint32_t sum = main_.pendingCount;
  if (partitioned_) sum += part_[0].pendingCount + part_[1].pendingCount;
  return sum;
}

void StreamWriter::PutPacketStuffing() {
  if (!partitioned_) {
    PutMpeg4Stuffing(main_);
    return;
  }
  PutBits(part_[1], 1, 0);
  const uint32_t r = PendingSum() % 8;
  if (r != 0) PutBits(part_[1], 8 - r, (1u << (8 - r)) - 1);
}

bool StreamWriter::overflow() const {
  return main_.overflow || (partitioned_ && (part_[0].overflow || part_[1].overflow));
}

StreamWriter::Position StreamWriter::Save() const {
  return Position{{SavePosition(main_), SavePosition(part_[0]), SavePosition(part_[1])}};
}

void StreamWriter::Restore(const Position& p) {
  RestorePosition(main_, p.w[0]);
  if (partitioned_) {
    RestorePosition(part_[0], p.w[1]);
    RestorePosition(part_[1], p.w[2]);
  }
}

}  // namespace venc
