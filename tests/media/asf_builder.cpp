#include "tests/media/asf_builder.h"

#include <cstring>

namespace mediatest {

namespace asf = media::asf;

void PutLe(Bytes* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(uint8_t(value >> (8 * i)));
}

void PutGuid(Bytes* out, const asf::GuidBytes& guid) { out->insert(out->end(), guid, guid + 16); }

namespace {

Bytes Object(const asf::GuidBytes& guid, const Bytes& body) {
  Bytes out;
  PutGuid(&out, guid);
  PutLe(&out, 24 + body.size(), 8);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace

Bytes WaveFormat(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align, uint16_t bits,
                 uint16_t cbSize, const Bytes& extra) {
  Bytes out;
  PutLe(&out, tag, 2);
  PutLe(&out, channels, 2);
  PutLe(&out, rate, 4);
  PutLe(&out, avg, 4);
  PutLe(&out, align, 2);
  PutLe(&out, bits, 2);
  PutLe(&out, cbSize, 2);
  out.insert(out.end(), extra.begin(), extra.end());
  return out;
}

Bytes VideoFormat(int32_t width, int32_t height, const char* fourcc, uint16_t formatSize, const Bytes& extra) {
  Bytes out;
  PutLe(&out, uint32_t(width), 4);
  PutLe(&out, uint32_t(height), 4);
  out.push_back(2);
  PutLe(&out, formatSize, 2);
  PutLe(&out, 40, 4);
  PutLe(&out, uint32_t(width), 4);
  PutLe(&out, uint32_t(height), 4);
  PutLe(&out, 1, 2);
  PutLe(&out, 24, 2);
  out.insert(out.end(), fourcc, fourcc + 4);
  out.insert(out.end(), 20, 0);
  out.insert(out.end(), extra.begin(), extra.end());
  return out;
}

Bytes StreamProperties(bool audio, uint8_t number, const Bytes& typeSpecific, const asf::GuidBytes& correction,
                       const Bytes& correctionData) {
  Bytes body;
  PutGuid(&body, audio ? asf::kAudioMedia : asf::kVideoMedia);
  PutGuid(&body, correction);
  PutLe(&body, 0, 8);
  PutLe(&body, typeSpecific.size(), 4);
  PutLe(&body, correctionData.size(), 4);
  PutLe(&body, number, 2);
  PutLe(&body, 0, 4);
  body.insert(body.end(), typeSpecific.begin(), typeSpecific.end());
  body.insert(body.end(), correctionData.begin(), correctionData.end());
  return Object(asf::kStreamProperties, body);
}

Bytes SpreadData(uint8_t span, uint16_t virtualPacket, uint16_t virtualChunk) {
  Bytes out{span};
  PutLe(&out, virtualPacket, 2);
  PutLe(&out, virtualChunk, 2);
  PutLe(&out, 1, 2);
  out.push_back(0);
  return out;
}

Bytes Replicated(uint32_t size, uint32_t time) {
  Bytes out;
  PutLe(&out, size, 4);
  PutLe(&out, time, 4);
  return out;
}

Bytes BuildPacket(const AsfPacketSpec& p, uint32_t packetSize) {
  Bytes out;
  if (p.errorCorrection) {
    out.push_back(p.errorCorrection);
    out.insert(out.end(), p.errorCorrection & 0x0F, 0);
  }
  // Length flags: packet length u16 (or absent), padding u16, sequence absent.
  out.push_back(uint8_t((p.multiple ? 1 : 0) | (2 << 3) | (p.explicitLength ? 2 << 5 : 0)));
  // Property flags: replicated length u8, offset u32, object number u8, stream u8.
  out.push_back(0x5D);
  if (p.explicitLength) PutLe(&out, packetSize, 2);
  const size_t paddingAt = out.size();
  PutLe(&out, 0, 2);
  PutLe(&out, p.sendTime, 4);
  PutLe(&out, 0, 2);
  if (p.multiple) out.push_back(uint8_t(0x80 | p.payloads.size()));  // lengths u16
  uint8_t objectNumber = 0;
  for (const AsfPayloadSpec& s : p.payloads) {
    out.push_back(uint8_t(s.stream | (s.key ? 0x80 : 0)));
    out.push_back(objectNumber++);
    PutLe(&out, s.offset, 4);
    out.push_back(uint8_t(s.replicated.size()));
    out.insert(out.end(), s.replicated.begin(), s.replicated.end());
    if (p.multiple) PutLe(&out, s.lengthOverride >= 0 ? uint32_t(s.lengthOverride) : s.data.size(), 2);
    out.insert(out.end(), s.data.begin(), s.data.end());
  }
  const size_t padding = out.size() < packetSize ? packetSize - out.size() : 0;
  out.insert(out.end(), padding, 0);
  out[paddingAt] = uint8_t(padding);
  out[paddingAt + 1] = uint8_t(padding >> 8);
  return out;
}

Bytes BuildAsf(const AsfFileSpec& spec) {
  Bytes props;
  props.insert(props.end(), 16, 0x11);  // file id
  PutLe(&props, 0, 8);                  // file size
  PutLe(&props, 0, 8);                  // creation date
  PutLe(&props, spec.packets.size(), 8);
  PutLe(&props, spec.playDuration, 8);
  PutLe(&props, spec.playDuration, 8);  // send duration
  PutLe(&props, spec.prerollMs, 8);
  PutLe(&props, 2, 4);  // seekable
  PutLe(&props, spec.packetSize, 4);
  PutLe(&props, spec.packetSize, 4);
  PutLe(&props, 1000000, 4);
  Bytes children = Object(asf::kFileProperties, props);
  for (const Bytes& s : spec.streams) children.insert(children.end(), s.begin(), s.end());
  Bytes out;
  PutGuid(&out, asf::kHeaderObject);
  PutLe(&out, 30 + children.size(), 8);
  PutLe(&out, 1 + spec.streams.size(), 4);
  out.push_back(1);
  out.push_back(2);
  out.insert(out.end(), children.begin(), children.end());
  Bytes data;
  data.insert(data.end(), 16, 0x11);
  PutLe(&data, spec.packets.size(), 8);
  data.push_back(1);
  data.push_back(1);
  for (const AsfPacketSpec& p : spec.packets) {
    Bytes packet = BuildPacket(p, spec.packetSize);
    data.insert(data.end(), packet.begin(), packet.end());
  }
  const Bytes dataObject = Object(asf::kDataObject, data);
  out.insert(out.end(), dataObject.begin(), dataObject.end());
  return out;
}

}  // namespace mediatest
