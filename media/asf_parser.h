#pragma once
// AsfParser: takes an Advanced Systems Format file (".wma", ".wmv") apart:
// the header objects (file properties, stream properties with their audio
// and video formats) and the data packets, whose payloads it hands out one
// at a time, of every stream, in file order. AsfReader (asf_reader.h) builds
// whole media objects and a seek index on top of it.
//
// Every length read from the file is bounded by the bytes that hold it: a
// WAVEFORMATEX's extra bytes and a BITMAPINFOHEADER's codec bytes by the
// stream's type-specific data, replicated data by its own length (2 to 7
// bytes carry no object size and time: the payload is dropped), payload
// lengths by the packet, a packet by the data object.
//
// Thread: one owner thread.

#include <cstdint>
#include <vector>

#include "media/buffered_file_reader.h"
#include "media/byte_view.h"
#include "platform/dshow/media_type.h"

namespace media {

struct AsfStream {
  enum Kind : uint8_t { kVideo = 1, kAudio = 2 };
  uint32_t position = 0;  // place in the stream table
  uint8_t number = 0;     // 1-127
  uint8_t kind = 0;
  // Audio: the WAVEFORMATEX, normalised (cbSize = codecData.size()).
  dshow::WaveFormatEx wave;
  uint16_t validBits = 0;     // PCM only
  uint32_t sampleFormat = 0;  // 4 for PCM of 8 bits or fewer
  uint8_t span = 0;           // audio spread: span, virtual packet and chunk lengths
  uint16_t virtualPacketLength = 0;
  uint16_t virtualChunkLength = 0;
  // Video: the BITMAPINFOHEADER, normalised.
  dshow::BitmapInfoHeader bitmap;
  uint32_t stride = 0;
  uint32_t masks[3] = {};
  uint32_t formatFlags = 0;  // kHeightFlipped: the stored height was negative
  uint32_t firstPlaneBits = 0;
  std::vector<uint8_t> codecData;
  int64_t timeOffsetMs = 0;  // stream time offset less the preroll

  static constexpr uint32_t kHeightFlipped = 1;
};

// One payload as the packets carry it. A compressed payload is handed out as
// its sub-payloads, each a whole media object.
struct AsfPayload {
  uint8_t stream = 0;
  bool keyFrame = false;
  uint32_t objectOffset = 0;      // offset of these bytes inside the media object
  uint32_t objectSize = 0;        // bytes of the whole media object
  uint32_t presentationTime = 0;  // ms, preroll included
  const uint8_t* data = nullptr;  // valid until the next call
  uint32_t length = 0;
  uint32_t packetOffset = 0;  // file offset of the packet that holds it
  uint32_t index = 0;         // payloads handed out of that packet before this one
};

class AsfParser {
 public:
  static constexpr size_t kMaxStreams = 256;
  static constexpr int kHeaderFailed = -3;

  // Walks the header objects up to the data object; 0, or kHeaderFailed for
  // a file that is not ASF, has an object shorter than 24 bytes or ends
  // before its data object. Leaves `file` at the first data packet.
  int ParseHeader(BufferedFileReader& file);

  // The next payload of any stream; false at the end of the data (or after
  // 10 packet headers in a row that fail).
  bool NextPayload(BufferedFileReader& file, AsfPayload* out);

  // Continues at the packet starting at `packetOffset`, dropping the first
  // `discard` payloads handed out of it.
  void SeekPacket(BufferedFileReader& file, uint32_t packetOffset, uint32_t discard);
  void Rewind(BufferedFileReader& file) { SeekPacket(file, first_packet_, 0); }

  const std::vector<AsfStream>& streams() const { return streams_; }
  const AsfStream* FindStream(uint8_t number) const;

  uint64_t packetCount() const { return packet_count_; }
  uint64_t playDuration() const { return play_duration_; }  // 100 ns
  uint32_t prerollMs() const { return preroll_ms_; }
  uint32_t flags() const { return flags_; }
  bool broadcast() const { return (flags_ & 1) != 0; }
  uint32_t minPacketSize() const { return min_packet_size_; }
  uint32_t maxPacketSize() const { return max_packet_size_; }
  // (play duration − preroll) in 1/16384 s; −1 for a broadcast file.
  int64_t durationValue() const { return duration_value_; }
  uint32_t firstPacket() const { return first_packet_; }
  uint32_t dataEnd() const { return data_end_; }

 private:
  bool ReadFileProperties(ByteView& v);
  void ReadStreamProperties(ByteView& v);
  // Parses the packet header at the file position and reads its payload
  // area; false when the header is not valid.
  bool ReadPacket(BufferedFileReader& file);
  // The next payload of the current packet; false when it has none left.
  bool PayloadFromPacket(AsfPayload* out);

  std::vector<AsfStream> streams_;
  uint64_t packet_count_ = 0;
  uint64_t play_duration_ = 0;
  uint32_t preroll_ms_ = 0;
  uint32_t flags_ = 0;
  uint32_t min_packet_size_ = 0;
  uint32_t max_packet_size_ = 0;
  int64_t duration_value_ = 0;
  uint32_t first_packet_ = 0;
  uint32_t data_end_ = 0;

  // The current packet.
  bool in_packet_ = false;
  uint32_t packet_offset_ = 0;
  uint32_t next_packet_ = 0;
  uint8_t property_flags_ = 0;
  uint8_t payload_length_type_ = 0;
  bool multiple_ = false;
  uint32_t payloads_left_ = 0;
  uint32_t send_time_ = 0;
  uint32_t handed_out_ = 0;  // payloads of this packet handed out so far
  uint32_t discard_ = 0;     // payloads still to drop after SeekPacket
  std::vector<uint8_t> packet_;
  ByteView view_;
  // A compressed payload's sub-payloads still to come.
  ByteView sub_;
  AsfPayload sub_base_;
  uint8_t sub_delta_ = 0;
};

}  // namespace media
