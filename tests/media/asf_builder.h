#pragma once
// Hand-made ASF files for the reader tests: a header object with file
// properties and the given stream properties objects, then a data object of
// fixed-size packets built payload by payload, so that each edge of the
// packet and payload layout can be set on its own.

#include <cstdint>
#include <vector>

#include "media/asf_guids.h"

namespace mediatest {

using Bytes = std::vector<uint8_t>;

void PutLe(Bytes* out, uint64_t value, int bytes);
void PutGuid(Bytes* out, const media::asf::GuidBytes& guid);

// An audio stream's type-specific data: a WAVEFORMATEX whose cbSize field
// may claim more bytes than `extra` holds.
Bytes WaveFormat(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align, uint16_t bits,
                 uint16_t cbSize, const Bytes& extra);
// A video stream's type-specific data; `formatSize` may claim more than
// the 40 header bytes and `extra`.
Bytes VideoFormat(int32_t width, int32_t height, const char* fourcc, uint16_t formatSize, const Bytes& extra);
// A stream properties object.
Bytes StreamProperties(bool audio, uint8_t number, const Bytes& typeSpecific,
                       const media::asf::GuidBytes& correction = media::asf::kNoErrorCorrection,
                       const Bytes& correctionData = {});
// Audio spread error-correction data.
Bytes SpreadData(uint8_t span, uint16_t virtualPacket, uint16_t virtualChunk);

struct AsfPayloadSpec {
  uint8_t stream = 1;
  bool key = true;
  uint32_t offset = 0;   // offset into the media object (compressed: presentation time)
  Bytes replicated;      // object size and time (8 bytes), 1 byte for compressed, any for damage
  Bytes data;
  int32_t lengthOverride = -1;  // the stored payload length when >= 0
};
// Replicated data of an object of `size` bytes at `time` ms (preroll included).
Bytes Replicated(uint32_t size, uint32_t time);

struct AsfPacketSpec {
  uint8_t errorCorrection = 0x82;  // 0: no error-correction byte; 0x82 adds two data bytes
  bool explicitLength = true;      // false: length type 0 (the maximum packet size)
  bool multiple = true;
  uint32_t sendTime = 0;
  std::vector<AsfPayloadSpec> payloads;
};

struct AsfFileSpec {
  uint32_t packetSize = 512;
  uint32_t prerollMs = 0;
  uint64_t playDuration = 100'000'000;  // 100 ns units: 10 s
  std::vector<Bytes> streams;           // stream properties objects
  std::vector<AsfPacketSpec> packets;
};

Bytes BuildAsf(const AsfFileSpec& spec);
// One packet's bytes (packetSize long).
Bytes BuildPacket(const AsfPacketSpec& packet, uint32_t packetSize);

}  // namespace mediatest
