#include "media/media_info.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "media/adts_reader.h"
#include "media/amr_reader.h"
#include "media/asf_guids.h"
#include "media/buffered_file_reader.h"
#include "media/mp4_reader.h"
#include "media/mpa_audio_file.h"
#include "platform/os/thread.h"

namespace media {

namespace {

constexpr uint32_t kAsfHeaderBytes = 4096;

using asf::kContentDescription;
using asf::kFileProperties;
using asf::kStreamBitrateProperties;

uint64_t Le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Zero-terminated single-byte text (ISO/IEC 8859-1) of at most `max` bytes.
std::u16string Latin1(const uint8_t* p, size_t max) {
  std::u16string s;
  for (size_t i = 0; i < max && p[i]; ++i) s.push_back(p[i]);
  return s;
}

std::u16string Utf8(const uint8_t* p, size_t n) {
  std::u16string s;
  size_t i = 0;
  while (i < n && p[i]) {
    uint32_t c = p[i];
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra) c &= 0x3F >> extra;
    ++i;
    for (int k = 0; k < extra && i < n; ++k, ++i) c = (c << 6) | (p[i] & 0x3F);
    if (c >= 0x10000) {
      c -= 0x10000;
      s.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      s.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      s.push_back(static_cast<char16_t>(c));
    }
  }
  return s;
}

std::u16string Utf16(const uint8_t* p, size_t n, bool big_endian) {
  std::u16string s;
  for (size_t i = 0; i + 1 < n; i += 2) {
    char16_t c = big_endian ? static_cast<char16_t>((p[i] << 8) | p[i + 1])
                            : static_cast<char16_t>(p[i] | (p[i + 1] << 8));
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

// ID3v2 text frame: an encoding byte, then the text (ID3v2.4 4.2).
std::u16string Id3Text(const uint8_t* p, size_t n) {
  if (n == 0) return {};
  uint8_t encoding = p[0];
  ++p;
  --n;
  switch (encoding) {
    case 1: {
      bool big = !(n >= 2 && p[0] == 0xFF && p[1] == 0xFE);
      if (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        p += 2;
        n -= 2;
      }
      return Utf16(p, n, big);
    }
    case 2:
      return Utf16(p, n, true);
    case 3:
      return Utf8(p, n);
    default:
      return Latin1(p, n);
  }
}

uint32_t SyncSafe(const uint8_t* p) {
  return (uint32_t{p[0] & 0x7Fu} << 21) | (uint32_t{p[1] & 0x7Fu} << 14) | (uint32_t{p[2] & 0x7Fu} << 7) |
         (p[3] & 0x7Fu);
}

const uint8_t* FindGuid(const uint8_t* data, size_t size, const uint8_t guid[16]) {
  for (size_t i = 0; i + 16 <= size; ++i) {
    if (std::memcmp(data + i, guid, 16) == 0) return data + i;
  }
  return nullptr;
}

}  // namespace

bool HasMp4FamilyExtension(const ov::String& path) {
  for (const char16_t* ext : {u".3gpp", u".3g2", u".mp4", u".mpa", u".m4a", u".3gp", u".mov"}) {
    if (path.EndsWithNoCase(ext)) return true;
  }
  return false;
}

void MediaInfo::Pause(int ms) const {
  if (yield) ov::Sleep(static_cast<uint32_t>(ms));
}

void MediaInfo::ReadMediaInfo(const ov::String& p, uint32_t y) {
  path = p;
  yield = y;
  if (path.EndsWithNoCase(u".WMA") || path.EndsWithNoCase(u".wmv")) {
    ReadAsfProperties();
  } else if (path.EndsWithNoCase(u".mp3")) {
    title = ov::String();
    if (!ReadId3v2()) ReadId3v1();
    ReadMpegDuration();
  } else if (path.EndsWithNoCase(u".amr")) {
    AmrReader reader(path);
    if (reader.Open()) durationMs = static_cast<uint32_t>(reader.GetDuration(0));
  } else if (path.EndsWithNoCase(u".aac")) {
    AdtsReader reader(path);
    if (reader.Open()) durationMs = reader.ScanDuration();
  } else if (HasMp4FamilyExtension(path)) {
    Mp4Reader reader(path);
    if (reader.Open()) {
      uint32_t timescale = reader.GetTimescale(0);
      int64_t duration = reader.GetDuration(0);
      // A timescale of 0 gives no duration rather than a division by zero.
      durationMs = (timescale && duration > 0) ? static_cast<uint32_t>(std::min<uint64_t>(
                                                     uint64_t(duration) * 1000 / timescale, UINT32_MAX))
                                               : 0;
    }
  } else {
    durationMs = 0;
  }
}

void MediaInfo::ReadAsfProperties() {
  BufferedFileReader file;
  if (!file.Open(path)) return;
  std::vector<uint8_t> header(kAsfHeaderBytes);
  if (!file.Read(header.data(), kAsfHeaderBytes, nullptr)) return;  // shorter files: nothing
  const uint8_t* data = header.data();
  const uint8_t* end = data + header.size();
  // Every read below stays inside the 4096 bytes: a field past them is left
  // unset, and an unterminated title ends at the buffer's end.
  if (const uint8_t* o = FindGuid(data, header.size(), kStreamBitrateProperties); o && o + 32 <= end) {
    bitRate = static_cast<uint32_t>(Le(o + 28, 4));
  }
  Pause(1);
  if (const uint8_t* o = FindGuid(data, header.size(), kFileProperties); o && o + 88 <= end) {
    int64_t play = static_cast<int64_t>(Le(o + 64, 8) / 10000);
    int64_t preroll = static_cast<int64_t>(Le(o + 80, 8));
    int64_t ms = play - preroll;
    durationMs = ms <= 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(ms, UINT32_MAX));
  }
  Pause(1);
  if (const uint8_t* o = FindGuid(data, header.size(), kContentDescription); o && o + 34 <= end) {
    title = ov::String(Utf16(o + 34, static_cast<size_t>(end - (o + 34)), false));
  }
}

bool MediaInfo::ReadId3v2() {
  BufferedFileReader file;
  if (!file.Open(path)) return false;
  uint8_t h[10];
  if (!file.ReadBytes(h, 10) || std::memcmp(h, "ID3", 3) != 0) return false;
  const uint32_t version = h[3];
  uint32_t size = SyncSafe(h + 6);
  size = std::min<uint32_t>(size, file.Size() > 10 ? file.Size() - 10 : 0);
  std::vector<uint8_t> tag(size);
  uint32_t got = 0;
  if (size) file.Read(tag.data(), size, &got);
  tag.resize(got);
  size_t at = 0;
  if ((h[5] & 0x40) && version >= 3 && tag.size() >= 4) {
    // Extended header: its size counts itself in ID3v2.4, not in ID3v2.3.
    uint32_t ext = version == 3 ? static_cast<uint32_t>((tag[0] << 24) | (tag[1] << 16) | (tag[2] << 8) | tag[3]) + 4
                                : SyncSafe(tag.data());
    at = ext;
  }
  const size_t id_bytes = version == 2 ? 3 : 4;
  const size_t header_bytes = version == 2 ? 6 : 10;
  ov::String length;
  while (at + header_bytes <= tag.size()) {
    const uint8_t* f = tag.data() + at;
    if (f[0] == 0) break;  // padding
    std::string id(reinterpret_cast<const char*>(f), id_bytes);
    uint32_t frame_size;
    if (version == 2) {
      frame_size = (uint32_t{f[3]} << 16) | (uint32_t{f[4]} << 8) | f[5];
    } else if (version >= 4) {
      frame_size = SyncSafe(f + 4);
    } else {
      frame_size = (uint32_t{f[4]} << 24) | (uint32_t{f[5]} << 16) | (uint32_t{f[6]} << 8) | f[7];
    }
    at += header_bytes;
    if (frame_size > tag.size() - at) break;
    if (id[0] == 'T') id3Frames.emplace_back(id, ov::String(Id3Text(tag.data() + at, frame_size)));
    at += frame_size;
    Pause(0);
  }
  for (const auto& [id, text] : id3Frames) {
    if (id == (version == 2 ? "TT2" : "TIT2") && title.IsEmpty()) title = text;
    if (id == (version == 2 ? "TLE" : "TLEN") && length.IsEmpty()) length = text;
  }
  return true;
}

void MediaInfo::ReadId3v1() {
  BufferedFileReader file;
  if (!file.Open(path) || file.Size() < 128) return;
  uint8_t tag[128];
  file.Seek(file.Size() - 128);
  if (!file.ReadBytes(tag, 128) || std::memcmp(tag, "TAG", 3) != 0) return;
  title = ov::String(Latin1(tag + 3, 30));
  artist = ov::String(Latin1(tag + 33, 30));
  album = ov::String(Latin1(tag + 63, 30));
  year = ov::String(Latin1(tag + 93, 4));
  genre = u"UNKNOWN";
}

void MediaInfo::ReadMpegDuration() {
  try {
    CMPAAudioFile mpa(path);
    durationMs = mpa.DurationMs();
  } catch (const CMPAException&) {
    durationMs = 0;
  }
}

}  // namespace media
