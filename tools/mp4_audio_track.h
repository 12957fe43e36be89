#pragma once
// The first sound track of an MP4/M4A file as ovtool's decoders need it: the
// decoder-specific configuration of its "mp4a" entry (an AudioSpecificConfig)
// and the byte range of every sample, from the sample tables (ISO/IEC 14496-12
// stsd, stsz, stsc, stco/co64; ISO/IEC 14496-1 esds descriptors). A test
// instrument: every length is checked against the file, edit lists are
// ignored, and anything unexpected gives an empty track.

#include <cstdint>
#include <string>
#include <vector>

namespace ovtool {

struct Mp4AudioTrack {
  std::vector<uint8_t> config;  // AudioSpecificConfig
  std::vector<uint64_t> offsets;
  std::vector<uint32_t> sizes;
  bool Valid() const { return !config.empty() && !sizes.empty() && offsets.size() == sizes.size(); }
};

namespace mp4detail {

inline uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
inline uint64_t Be64(const uint8_t* p) { return (static_cast<uint64_t>(Be32(p)) << 32) | Be32(p + 4); }

struct Box {
  uint32_t type;
  size_t body, end;  // body start and end within the file
};

// Boxes between `begin` and `end`; stops at the first malformed size.
inline std::vector<Box> Children(const std::vector<uint8_t>& f, size_t begin, size_t end) {
  std::vector<Box> boxes;
  size_t pos = begin;
  while (pos + 8 <= end) {
    uint64_t size = Be32(&f[pos]);
    size_t header = 8;
    if (size == 1) {
      if (pos + 16 > end) break;
      size = Be64(&f[pos + 8]);
      header = 16;
    } else if (size == 0) {
      size = end - pos;
    }
    if (size < header || size > end - pos) break;
    boxes.push_back({Be32(&f[pos + 4]), pos + header, pos + static_cast<size_t>(size)});
    pos += static_cast<size_t>(size);
  }
  return boxes;
}

inline const Box* Find(const std::vector<Box>& boxes, const char* type) {
  const uint32_t t = Be32(reinterpret_cast<const uint8_t*>(type));
  for (const Box& b : boxes) {
    if (b.type == t) return &b;
  }
  return nullptr;
}

// Length of an ISO/IEC 14496-1 descriptor (up to four 7-bit groups).
inline bool DescriptorLength(const std::vector<uint8_t>& f, size_t* pos, size_t end, size_t* length) {
  *length = 0;
  for (int i = 0; i < 4; ++i) {
    if (*pos >= end) return false;
    const uint8_t b = f[(*pos)++];
    *length = (*length << 7) | (b & 0x7F);
    if (!(b & 0x80)) return *length <= end - *pos;
  }
  return false;
}

// The DecoderSpecificInfo (tag 5) inside an esds box body.
inline std::vector<uint8_t> EsdsConfig(const std::vector<uint8_t>& f, size_t pos, size_t end) {
  pos += 4;  // version and flags
  size_t len = 0;
  if (pos >= end || f[pos++] != 0x03 || !DescriptorLength(f, &pos, end, &len)) return {};
  end = pos + len;
  if (pos + 3 > end) return {};
  const uint8_t flags = f[pos + 2];
  pos += 3;
  if (flags & 0x80) pos += 2;  // dependsOn_ES_ID
  if (flags & 0x40) {          // URL
    if (pos >= end) return {};
    pos += 1 + f[pos];
  }
  if (flags & 0x20) pos += 2;  // OCR_ES_Id
  if (pos >= end || f[pos++] != 0x04 || !DescriptorLength(f, &pos, end, &len)) return {};
  end = pos + len;
  pos += 13;  // objectTypeIndication .. avgBitrate
  if (pos >= end || f[pos++] != 0x05 || !DescriptorLength(f, &pos, end, &len)) return {};
  return std::vector<uint8_t>(f.begin() + static_cast<long>(pos), f.begin() + static_cast<long>(pos + len));
}

}  // namespace mp4detail

inline Mp4AudioTrack ReadMp4AudioTrack(const std::vector<uint8_t>& f) {
  using namespace mp4detail;
  Mp4AudioTrack track;
  const auto top = Children(f, 0, f.size());
  const Box* moov = Find(top, "moov");
  if (!moov) return track;
  const auto moovKids = Children(f, moov->body, moov->end);
  for (const Box& trak : moovKids) {
    if (trak.type != Be32(reinterpret_cast<const uint8_t*>("trak"))) continue;
    const auto trakKids = Children(f, trak.body, trak.end);
    const Box* mdia = Find(trakKids, "mdia");
    if (!mdia) continue;
    const auto mdiaKids = Children(f, mdia->body, mdia->end);
    const Box* hdlr = Find(mdiaKids, "hdlr");
    const Box* minf = Find(mdiaKids, "minf");
    if (!hdlr || !minf || hdlr->body + 12 > hdlr->end || std::string(&f[hdlr->body + 8], &f[hdlr->body + 12]) != "soun") {
      continue;
    }
    const auto minfKids = Children(f, minf->body, minf->end);
    const Box* stbl = Find(minfKids, "stbl");
    if (!stbl) continue;
    const auto st = Children(f, stbl->body, stbl->end);
    const Box* stsd = Find(st, "stsd");
    const Box* stsz = Find(st, "stsz");
    const Box* stsc = Find(st, "stsc");
    const Box* stco = Find(st, "stco");
    const Box* co64 = Find(st, "co64");
    if (!stsd || !stsz || !stsc || (!stco && !co64)) continue;
    // stsd: version/flags, count, then the mp4a sample entry (28 bytes of
    // audio fields after its 8-byte header) holding the esds box.
    const auto entries = Children(f, stsd->body + 8, stsd->end);
    const Box* mp4a = Find(entries, "mp4a");
    if (!mp4a || mp4a->body + 28 > mp4a->end) continue;
    const auto mp4aKids = Children(f, mp4a->body + 28, mp4a->end);
    const Box* esds = Find(mp4aKids, "esds");
    if (!esds) continue;
    track.config = EsdsConfig(f, esds->body, esds->end);
    // Sample sizes.
    if (stsz->body + 12 > stsz->end) return {};
    const uint32_t fixedSize = Be32(&f[stsz->body + 4]);
    const uint32_t count = Be32(&f[stsz->body + 8]);
    if (fixedSize == 0 && count > (stsz->end - stsz->body - 12) / 4) return {};
    if (count > f.size()) return {};  // every sample holds at least one byte
    for (uint32_t i = 0; i < count; ++i) track.sizes.push_back(fixedSize ? fixedSize : Be32(&f[stsz->body + 12 + 4 * i]));
    // Chunk offsets.
    std::vector<uint64_t> chunks;
    const Box* co = stco ? stco : co64;
    const size_t width = stco ? 4 : 8;
    if (co->body + 8 > co->end) return {};
    const uint32_t chunkCount = Be32(&f[co->body + 4]);
    if (chunkCount > (co->end - co->body - 8) / width) return {};
    for (uint32_t i = 0; i < chunkCount; ++i) {
      const uint8_t* p = &f[co->body + 8 + width * i];
      chunks.push_back(stco ? Be32(p) : Be64(p));
    }
    // Samples per chunk, run by run.
    if (stsc->body + 8 > stsc->end) return {};
    const uint32_t runs = Be32(&f[stsc->body + 4]);
    if (runs > (stsc->end - stsc->body - 8) / 12) return {};
    size_t sample = 0;
    for (uint32_t r = 0; r < runs && sample < count; ++r) {
      const uint8_t* p = &f[stsc->body + 8 + 12 * r];
      const uint32_t first = Be32(p), perChunk = Be32(p + 4);
      const uint32_t last = r + 1 < runs ? Be32(p + 12) : chunkCount + 1;
      for (uint32_t c = first == 0 ? 1 : first; c < last && c <= chunkCount && sample < count; ++c) {
        uint64_t offset = chunks[c - 1];
        for (uint32_t k = 0; k < perChunk && sample < count; ++k, ++sample) {
          track.offsets.push_back(offset);
          offset += track.sizes[sample];
        }
      }
    }
    for (size_t i = 0; i < track.offsets.size(); ++i) {
      if (track.offsets[i] > f.size() || track.sizes[i] > f.size() - track.offsets[i]) return {};
    }
    if (track.offsets.size() != track.sizes.size()) return {};
    return track;
  }
  return track;
}

}  // namespace ovtool
