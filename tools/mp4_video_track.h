#pragma once
// The first MPEG-4 Part 2 video track of an MP4/3GP file as ovtool's vdec
// needs it: the decoder-specific configuration of its "mp4v" entry (the
// visual object sequence, visual object and layer headers) and the byte
// range of every sample. A test instrument, as mp4_audio_track.h: every
// length is checked against the file and anything unexpected gives an empty
// track.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mp4_audio_track.h"

namespace ovtool {

struct Mp4VideoTrack {
  std::vector<uint8_t> config;
  std::vector<uint64_t> offsets;
  std::vector<uint32_t> sizes;
  bool Valid() const { return !config.empty() && !sizes.empty() && offsets.size() == sizes.size(); }
};

inline Mp4VideoTrack ReadMp4VideoTrack(const std::vector<uint8_t>& f) {
  using namespace mp4detail;
  Mp4VideoTrack track;
  const auto top = Children(f, 0, f.size());
  const Box* moov = Find(top, "moov");
  if (!moov) return track;
  for (const Box& trak : Children(f, moov->body, moov->end)) {
    if (trak.type != Be32(reinterpret_cast<const uint8_t*>("trak"))) continue;
    const auto trakKids = Children(f, trak.body, trak.end);
    const Box* mdia = Find(trakKids, "mdia");
    if (!mdia) continue;
    const auto mdiaKids = Children(f, mdia->body, mdia->end);
    const Box* hdlr = Find(mdiaKids, "hdlr");
    const Box* minf = Find(mdiaKids, "minf");
    if (!hdlr || !minf || hdlr->body + 12 > hdlr->end || std::string(&f[hdlr->body + 8], &f[hdlr->body + 12]) != "vide") {
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
    // The mp4v sample entry: 78 bytes of visual fields after its header.
    const auto entries = Children(f, stsd->body + 8, stsd->end);
    const Box* mp4v = Find(entries, "mp4v");
    if (!mp4v || mp4v->body + 78 > mp4v->end) continue;
    const auto mp4vKids = Children(f, mp4v->body + 78, mp4v->end);
    const Box* esds = Find(mp4vKids, "esds");
    if (!esds) continue;
    track.config = EsdsConfig(f, esds->body, esds->end);
    if (stsz->body + 12 > stsz->end) return {};
    const uint32_t fixedSize = Be32(&f[stsz->body + 4]);
    const uint32_t count = Be32(&f[stsz->body + 8]);
    if (fixedSize == 0 && count > (stsz->end - stsz->body - 12) / 4) return {};
    for (uint32_t i = 0; i < count; ++i) track.sizes.push_back(fixedSize ? fixedSize : Be32(&f[stsz->body + 12 + 4 * i]));
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
