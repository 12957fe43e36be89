#pragma once
// Bit writers of the video encoders. A BitWriter packs fields most significant
// bit first into 32-bit words and stores each full word big-endian, so the
// buffer is a plain byte stream. Writing is bounded by the capacity given at
// Attach: a word that would not fit is not stored and the writer records the
// overflow, which the frame loops report as VENC_ERR_OVERFLOW.
//
// A StreamWriter is what the frame loops write through: the plain writer, or
// with MPEG-4 data partitioning (ISO/IEC 14496-2, 6.2.5.2) a main writer on the
// output and two partition writers on private buffers that are appended to the
// main writer at the end of every video packet.

#include <cstddef>
#include <cstdint>

namespace venc {

struct BitWriter {
  uint32_t pending = 0;       // accumulator; the newest bit is the least significant
  uint32_t pendingCount = 0;  // 0-31
  uint8_t* buffer = nullptr;
  uint32_t offset = 0;        // byte offset of the next word to store (multiple of 4)
  uint32_t capacity = 0;      // bytes
  uint32_t segmentBits = 0;   // bits put since the last reset or segment close
  uint32_t earlierBits = 0;   // bits of the segments closed before
  bool overflow = false;      // a store was refused for lack of room
};

// Saved position of a writer, for taking back a macroblock.
struct WriterPosition {
  uint32_t pending;
  uint32_t pendingCount;
  uint32_t offset;
  uint32_t segmentBits;
};

inline void StoreWord(BitWriter& w, uint32_t word) {
  if (w.buffer && w.offset <= w.capacity && w.capacity - w.offset >= 4) {
    uint8_t* p = w.buffer + w.offset;
    p[0] = static_cast<uint8_t>(word >> 24);
    p[1] = static_cast<uint8_t>(word >> 16);
    p[2] = static_cast<uint8_t>(word >> 8);
    p[3] = static_cast<uint8_t>(word);
  } else {
    w.overflow = true;
  }
  w.offset += 4;
}

// Appends the low n bits of `value` (1 <= n <= 32; `value` is 0 above bit n).
inline void PutBits(BitWriter& w, uint32_t n, uint32_t value) {
  w.segmentBits += n;
  const uint32_t total = w.pendingCount + n;
  if (total < 32) {
    w.pending = (w.pending << n) | value;
    w.pendingCount = total;
    return;
  }
  const uint32_t room = 32 - w.pendingCount;  // 1..32 bits complete the word
  const uint32_t rest = total - 32;           // bits of value left over
  const uint32_t head = room == 32 ? 0 : (w.pending << room);
  StoreWord(w, head | (rest == 0 ? value : (value >> rest)));
  w.pending = rest == 0 ? 0 : (value & ((1u << rest) - 1));
  w.pendingCount = rest;
}

// Fields 1-7 and the overflow flag cleared; the earlier-segments count stays.
void ResetWriter(BitWriter& w);
// Attaches a buffer of `capacity` bytes: accumulator, pending count and offset
// cleared; the bit counts stay.
void AttachBuffer(BitWriter& w, uint8_t* buffer, uint32_t capacity);
// Stores the pending bits (zero filled to the byte) and detaches the buffer.
// *bits = bits written since Attach. Returns the buffer, or null when none was
// attached (then nothing is written).
uint8_t* FlushWriter(BitWriter& w, uint32_t* bits);
// Bits written since Attach.
inline uint32_t BitsWritten(const BitWriter& w) { return w.offset * 8 + w.pendingCount; }

WriterPosition SavePosition(const BitWriter& w);
void RestorePosition(BitWriter& w, const WriterPosition& p);

// H.263 stuffing: zero bits up to the byte boundary.
void AlignWithZeros(BitWriter& w);
// MPEG-4 next_start_code() stuffing (ISO/IEC 14496-2, 5.2.4): a 0 bit, then 1
// bits to the byte boundary; an aligned writer receives 01111111.
void PutMpeg4Stuffing(BitWriter& w);
// ISO/IEC 14496-2 6.2.5.2 markers of a data-partitioned packet.
inline void PutDcMarker(BitWriter& w) { PutBits(w, 19, 0x6B001); }
inline void PutMotionMarker(BitWriter& w) { PutBits(w, 17, 0x1F001); }

// Query and control kinds of the writer object.
enum WriterKind : int {
  kQueryTotalBits = 1,     // segment + earlier segments
  kQuerySegmentBits = 2,   // bits of the current segment (packet)
  kControlResetCounts = 3, // merge partitions, clear the counts
  kControlCloseSegment = 4 // merge partitions, close the segment
};

class StreamWriter {
 public:
  // A plain writer.
  void InitPlain();
  // A partitioned writer over two caller-owned partition buffers of `capacity`
  // bytes each. Calling it again rebuilds the writer over new buffers.
  void InitPartitioned(uint8_t* partition1, uint8_t* partition2, uint32_t capacity);

  bool partitioned() const { return partitioned_; }
  // The writer of headers and of the first part of a packet (the output).
  BitWriter& main() { return main_; }
  // Data partitioning: the part after the marker, and the texture part. For a
  // plain writer both are the main writer.
  BitWriter& first() { return partitioned_ ? part_[0] : main_; }
  BitWriter& second() { return partitioned_ ? part_[1] : main_; }

  void Attach(uint8_t* buffer, uint32_t capacity) { AttachBuffer(main_, buffer, capacity); }
  uint8_t* Flush(uint32_t* bits) { return FlushWriter(main_, bits); }

  // Kinds 1 and 2 (summed over the three writers when partitioned); -1 otherwise.
  int Query(int kind, uint32_t* out) const;
  // Kinds 3 and 4; with partitions, the partitions are appended to the main
  // writer first. Returns -1 for another kind.
  int Control(int kind, uint32_t value = 0);

  // Bits written into the output so far, partitions included.
  uint32_t FrameBits() const;
  // Pending bits of the three writers, for the byte alignment of a packet.
  uint32_t PendingSum() const;
  // Stuffing that aligns the packet once the partitions are appended (into the
  // texture partition), or MPEG-4 stuffing on a plain writer.
  void PutPacketStuffing();
  bool overflow() const;

  struct Position {
    WriterPosition w[3];
  };
  Position Save() const;
  void Restore(const Position& p);

 private:
  void AppendPartition(BitWriter& part);

  BitWriter main_{};
  BitWriter part_[2]{};
  uint8_t* partBuffer_[2] = {nullptr, nullptr};
  uint32_t partCapacity_ = 0;
  bool partitioned_ = false;
};

}  // namespace venc
