#include "tests/media/mp4_builder.h"

#include <cstring>
#include <initializer_list>

namespace mediatest {

static void Put32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}
static void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
static void Put64(Bytes& b, uint64_t v) {
  Put32(b, static_cast<uint32_t>(v >> 32));
  Put32(b, static_cast<uint32_t>(v));
}
Bytes Box(const char* type, const Bytes& body) {
  Bytes b;
  b.reserve(body.size() + 8);
  Put32(b, static_cast<uint32_t>(body.size() + 8));
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}
static Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}
static Bytes FullBox(const char* type, const Bytes& body) { return Box(type, Cat({Bytes(4, 0), body})); }


static Bytes SampleEntry(const TrackSpec& t) {
  Bytes e(6, 0);
  Put16(e, 1);
  if (std::strcmp(t.handler, "vide") == 0) {
    e.insert(e.end(), 16, 0);
    Put16(e, 176);
    Put16(e, 144);
    Put32(e, 0x00480000);
    Put32(e, 0x00480000);
    Put32(e, 0);
    Put16(e, 1);
    e.insert(e.end(), 32, 0);
    Put16(e, 24);
    Put16(e, 0xFFFF);
    return Box("s263", Cat({e, t.entry_children}));
  }
  e.insert(e.end(), 8, 0);
  Put16(e, 1);
  Put16(e, 16);
  Put32(e, 0);
  Put32(e, 8000u << 16);
  return Box("samr", Cat({e, t.entry_children}));
}

static Bytes Trak(const TrackSpec& t) {
  Bytes mdhd;
  Put32(mdhd, 0);
  Put32(mdhd, 0);
  Put32(mdhd, t.timescale);
  Put32(mdhd, 1000);
  Put16(mdhd, 0);
  Put16(mdhd, 0);
  // pre_defined, handler_type, three reserved words and an empty name.
  Bytes hdlr(21, 0);
  std::memcpy(&hdlr[4], t.handler, 4);
  Bytes stsd;
  Put32(stsd, 1);
  stsd = Cat({stsd, SampleEntry(t)});
  Bytes stts;
  Put32(stts, static_cast<uint32_t>(t.stts.size()));
  for (auto [c, d] : t.stts) {
    Put32(stts, c);
    Put32(stts, d);
  }
  Bytes stsc;
  Put32(stsc, static_cast<uint32_t>(t.stsc.size()));
  for (auto& e : t.stsc)
    for (uint32_t v : e) Put32(stsc, v);
  Bytes stsz;
  Put32(stsz, 0);
  Put32(stsz, static_cast<uint32_t>(t.sizes.size()));
  for (uint32_t s : t.sizes) Put32(stsz, s);
  Bytes stco;
  Put32(stco, static_cast<uint32_t>(t.chunks.size()));
  for (uint64_t o : t.chunks) {
    if (t.co64) {
      Put64(stco, o);
    } else {
      Put32(stco, static_cast<uint32_t>(o));
    }
  }
  Bytes stbl = Box("stbl", Cat({FullBox("stsd", stsd), FullBox("stts", stts), FullBox("stsc", stsc),
                                FullBox("stsz", stsz), FullBox(t.co64 ? "co64" : "stco", stco)}));
  Bytes minf = Box("minf", stbl);
  Bytes mdia = Box("mdia", Cat({FullBox("mdhd", mdhd), FullBox("hdlr", hdlr), minf}));
  if (t.edits.empty()) return Box("trak", mdia);
  // Version 0 edits: segment duration, media time, rate 1.0.
  Bytes elst;
  Put32(elst, static_cast<uint32_t>(t.edits.size()));
  for (const auto& e : t.edits) {
    Put32(elst, e.first);
    Put32(elst, static_cast<uint32_t>(e.second));
    Put32(elst, 0x10000);
  }
  return Box("trak", Cat({Box("edts", FullBox("elst", elst)), mdia}));
}

// ftyp, an mdat of `mdat_bytes` (sample data: byte i holds i & 0xFF) starting
// at offset 24, then the moov.
Bytes Movie(const std::vector<TrackSpec>& tracks, uint32_t mdat_bytes) {
  Bytes ftyp;
  ftyp.insert(ftyp.end(), {'3', 'g', 'p', '4'});
  Put32(ftyp, 0);
  Bytes file = Box("ftyp", ftyp);  // 16 bytes
  Bytes data(mdat_bytes);
  for (uint32_t i = 0; i < mdat_bytes; ++i) data[i] = static_cast<uint8_t>(i);
  file = Cat({file, Box("mdat", data)});
  Bytes mvhd(100, 0);
  mvhd[14] = 0x03;
  mvhd[15] = 0xE8;  // timescale 1000 (after the version, flags and two times)
  Bytes moov = FullBox("mvhd", Bytes(mvhd.begin() + 4, mvhd.end()));
  for (const TrackSpec& t : tracks) moov = Cat({moov, Trak(t)});
  return Cat({file, Box("moov", moov)});
}


}  // namespace mediatest
