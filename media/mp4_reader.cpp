#include "media/mp4_reader.h"

#include <algorithm>
#include <cstring>

#include "media/byte_view.h"
#include "platform/os/debug_output.h"

namespace media {

namespace {

constexpr uint32_t kVide = FourCC("vide");
constexpr uint32_t kSoun = FourCC("soun");
constexpr uint32_t kHint = FourCC("hint");
constexpr uint32_t kHeader = 8;

[[maybe_unused]] std::string FourCCText(uint32_t code) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    s[i] = (c >= 32 && c < 127) ? c : '?';
  }
  return s;
}

// ISO/IEC 14496-1 8.3.3: a descriptor length is up to four bytes of seven bits,
// continued while the top bit is set.
uint32_t ReadDescriptorLength(ByteView& v) {
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t b = v.U8();
    length = (length << 7) | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  return length;
}

// The DecoderSpecificInfo of an "esds" box body (after its header):
// ES_Descriptor (tag 3), DecoderConfigDescriptor (tag 4), DecoderSpecificInfo
// (tag 5). False when the chain is not there; the copy never runs past `body`.
bool ParseEsds(const uint8_t* body, size_t size, std::vector<uint8_t>* config) {
  ByteView v(body, size);
  v.Skip(4);  // version and flags
  uint8_t tag = v.U8();
  ReadDescriptorLength(v);
  // ES_ID and flags: 3 bytes after an ES_Descriptor tag, else 2.
  v.Skip(tag == 3 ? 3 : 2);
  if (v.U8() != 4) return false;
  ReadDescriptorLength(v);
  v.Skip(13);  // objectTypeIndication, streamType, bufferSizeDB, maxBitrate, avgBitrate
  if (v.U8() != 5) return false;
  uint32_t length = ReadDescriptorLength(v);
  if (v.overrun() || length > v.left()) return false;
  config->assign(v.here(), v.here() + length);
  return true;
}

}  // namespace

Mp4Reader::Mp4Reader(const ov::String& path) : MediaReader(kMp4) {
  if (!file_.Open(path)) return;
  ParseTopLevel();
  // The movie timescale the edits count in may follow the tracks.
  for (Mp4Track& t : tracks_) ApplyEdits(&t);
}

uint64_t Mp4Reader::Rescale(uint64_t value, uint64_t to, uint64_t from) {
  if (from == 0) return 0;
  __extension__ typedef unsigned __int128 Wide;
  const Wide r = static_cast<Wide>(value) * to / from;
  return r > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(r);
}

void Mp4Reader::ApplyEdits(Mp4Track* t) const {
  const std::vector<Mp4Track::Edit>& e = t->edits;
  size_t media = e.size();
  if (e.size() == 1) media = 0;
  if (e.size() == 2 && e[0].media_time == -1) media = 1;
  if (media >= e.size() || e[media].media_time < 0 || t->timescale == 0) return;
  if (media == 1) t->delay = Rescale(e[0].segment_duration, t->timescale, movie_timescale_);
  if (t->handler_type != kSoun) return;
  t->lead_in = static_cast<uint64_t>(e[media].media_time);
  // A segment of 0 (or a movie without a timescale) gives no end.
  const uint64_t length = Rescale(e[media].segment_duration, t->timescale, movie_timescale_);
  if (length != 0) t->edit_end = length > UINT64_MAX - t->lead_in ? UINT64_MAX : t->lead_in + length;
}

uint32_t Mp4Reader::PresentationMs(const Mp4Track& t, uint64_t media) {
  const uint64_t shown = media > t.lead_in ? media - t.lead_in : 0;
  const uint64_t at = shown > UINT64_MAX - t.delay ? UINT64_MAX : shown + t.delay;
  return static_cast<uint32_t>(std::min<uint64_t>(Rescale(at, 1000, t.timescale), UINT32_MAX));
}

uint32_t Mp4Reader::PresentedSamples(const Mp4Track& t, uint64_t from, uint64_t at, uint32_t samples, uint32_t rate,
                                     uint32_t* drop) {
  *drop = 0;
  if (t.timescale == 0) return samples;
  const uint64_t front = from > at ? Rescale(from - at, rate, t.timescale) : 0;
  uint64_t stop = samples;
  if (t.edit_end != UINT64_MAX) stop = t.edit_end > at ? std::min<uint64_t>(Rescale(t.edit_end - at, rate, t.timescale), samples) : 0;
  if (front >= stop) {
    *drop = samples;
    return 0;
  }
  *drop = static_cast<uint32_t>(front);
  return static_cast<uint32_t>(stop - front);
}

uint64_t Mp4Reader::MediaTimeAt(const Mp4Track& t, uint32_t time_ms) const {
  const uint64_t at = Rescale(time_ms, t.timescale, 1000);
  if (at <= t.delay) return t.lead_in;
  const uint64_t in = at - t.delay;
  return in > UINT64_MAX - t.lead_in ? UINT64_MAX : t.lead_in + in;
}

Mp4Reader::~Mp4Reader() = default;

template <typename Visit>
void Mp4Reader::WalkChildren(uint32_t start, uint32_t size, Visit visit) {
  if (size < kHeader + 1) return;
  uint64_t end = uint64_t{start} + size;
  uint64_t at = uint64_t{start} + kHeader;
  while (at + kHeader <= end) {
    file_.Seek(static_cast<uint32_t>(at));
    uint8_t h[kHeader];
    if (!file_.ReadBytes(h, kHeader)) return;
    ByteView v(h, kHeader);
    uint32_t child_size = v.BE32();
    uint32_t type = v.BE32();
    if (child_size < kHeader) return;  // also 64-bit sizes (1), not supported
    // A child reaching past its parent is cut at the parent's end.
    uint64_t bounded = std::min<uint64_t>(child_size, end - at);
    visit(type, static_cast<uint32_t>(at), static_cast<uint32_t>(bounded));
    at += child_size;
  }
}

std::vector<uint8_t> Mp4Reader::ReadBody(uint32_t start, uint32_t size) {
  std::vector<uint8_t> body;
  if (size <= kHeader) return body;
  uint64_t want = size - kHeader;
  uint64_t file_left = file_.Size() > start + uint64_t{kHeader} ? file_.Size() - (start + uint64_t{kHeader}) : 0;
  want = std::min(want, file_left);
  body.resize(static_cast<size_t>(want));
  file_.Seek(start + kHeader);
  uint32_t got = 0;
  if (!body.empty()) file_.Read(body.data(), static_cast<uint32_t>(body.size()), &got);
  body.resize(got);
  return body;
}

void Mp4Reader::ParseTopLevel() {
  uint64_t at = 0;
  const uint64_t file_size = file_.Size();
  while (at + kHeader <= file_size) {
    file_.Seek(static_cast<uint32_t>(at));
    uint8_t h[kHeader];
    if (!file_.ReadBytes(h, kHeader)) break;
    ByteView v(h, kHeader);
    uint32_t size = v.BE32();
    uint32_t type = v.BE32();
    // 0 (to the end of the file) ends the parse, as do 64-bit sizes (1) and
    // sizes that cannot hold their own header.
    if (size < kHeader) break;
    uint32_t bounded = static_cast<uint32_t>(std::min<uint64_t>(size, file_size - at));
    if (type == FourCC("ftyp")) {
      std::vector<uint8_t> body = ReadBody(static_cast<uint32_t>(at), bounded);
      ByteView b(body.data(), body.size());
      major_brand_ = b.BE32();
      minor_version_ = b.BE32();
      compatible_brands_.clear();
      while (b.left() >= 4) compatible_brands_.push_back(b.BE32());
    } else if (type == FourCC("moov")) {
      ParseMoov(static_cast<uint32_t>(at), bounded);
    } else if (type == FourCC("mdat")) {
      mdat_offset_ = static_cast<uint32_t>(at);
    }
    at += size;
  }
}

void Mp4Reader::ParseMoov(uint32_t start, uint32_t size) {
  WalkChildren(start, size, [&](uint32_t type, uint32_t at, uint32_t box) {
    if (type == FourCC("mvhd")) {
      std::vector<uint8_t> body = ReadBody(at, box);
      ByteView v(body.data(), body.size());
      uint8_t version = v.U8();
      v.Skip(3);
      if (version == 1) {
        movie_creation_time_ = v.BE64();
        movie_modification_time_ = v.BE64();
        movie_timescale_ = v.BE32();
        movie_duration_ = v.BE64();
      } else {
        movie_creation_time_ = v.BE32();
        movie_modification_time_ = v.BE32();
        movie_timescale_ = v.BE32();
        movie_duration_ = v.BE32();
      }
      movie_rate_ = v.BE32();
      movie_volume_ = v.BE16();
      v.Skip(10);
      for (uint32_t& m : movie_matrix_) m = v.BE32();
      v.Skip(24);
      next_track_id_ = v.BE32();
    } else if (type == FourCC("trak")) {
      ParseTrak(at, box);
    }
  });
}

void Mp4Reader::ParseTrak(uint32_t start, uint32_t size) {
  // The movie keeps at most eight tracks; later ones are skipped.
  if (tracks_.size() >= kMaxTracks) return;
  Mp4Track track;
  WalkChildren(start, size, [&](uint32_t type, uint32_t at, uint32_t box) {
    if (type == FourCC("tkhd")) {
      std::vector<uint8_t> body = ReadBody(at, box);
      ByteView v(body.data(), body.size());
      uint8_t version = v.U8();
      v.Skip(3);
      if (version == 1) {
        track.creation_time = v.BE64();
        track.modification_time = v.BE64();
        track.track_id = v.BE32();
        v.Skip(4);
        track.duration = v.BE64();
      } else {
        track.creation_time = v.BE32();
        track.modification_time = v.BE32();
        track.track_id = v.BE32();
        v.Skip(4);
        track.duration = v.BE32();
      }
      v.Skip(8);
      track.layer = v.BE16();
      track.alternate_group = v.BE16();
      track.volume = v.BE16();
      v.Skip(2);
      for (uint32_t& m : track.matrix) m = v.BE32();
      track.width = v.BE32();
      track.height = v.BE32();
    } else if (type == FourCC("mdia")) {
      ParseMdia(&track, at, box);
    } else if (type == FourCC("edts")) {
      WalkChildren(at, box, [&](uint32_t child, uint32_t child_at, uint32_t child_box) {
        if (child == FourCC("elst")) ParseElst(&track, ReadBody(child_at, child_box));
      });
    }
  });
  tracks_.push_back(std::move(track));
}

void Mp4Reader::ParseElst(Mp4Track* track, const std::vector<uint8_t>& body) {
  ByteView v(body.data(), body.size());
  const uint8_t version = v.U8();
  v.Skip(3);
  const uint32_t count = v.BE32();
  const size_t entry_bytes = version == 1 ? 20 : 12;
  // The count is bounded by the entries the box holds.
  const size_t fits = v.left() / entry_bytes;
  track->edits.clear();
  for (uint32_t i = 0; i < count && i < fits; ++i) {
    Mp4Track::Edit e{};
    if (version == 1) {
      e.segment_duration = v.BE64();
      e.media_time = static_cast<int64_t>(v.BE64());
    } else {
      e.segment_duration = v.BE32();
      e.media_time = static_cast<int32_t>(v.BE32());
    }
    e.media_rate = static_cast<int32_t>(v.BE32());
    track->edits.push_back(e);
  }
}

void Mp4Reader::ParseMdia(Mp4Track* track, uint32_t start, uint32_t size) {
  WalkChildren(start, size, [&](uint32_t type, uint32_t at, uint32_t box) {
    if (type == FourCC("mdhd")) {
      std::vector<uint8_t> body = ReadBody(at, box);
      ByteView v(body.data(), body.size());
      uint8_t version = v.U8();
      v.Skip(3);
      if (version == 1) {
        track->media_creation_time = v.BE64();
        track->media_modification_time = v.BE64();
        track->timescale = v.BE32();
        track->media_duration = v.BE64();
      } else {
        track->media_creation_time = v.BE32();
        track->media_modification_time = v.BE32();
        track->timescale = v.BE32();
        track->media_duration = v.BE32();
      }
      track->language = v.BE16();
    } else if (type == FourCC("hdlr")) {
      std::vector<uint8_t> body = ReadBody(at, box);
      ByteView v(body.data(), body.size());
      v.Skip(4);
      track->handler_predefined = v.BE32();
      track->handler_type = v.BE32();
      v.Skip(12);
      // The name fills the rest of the box (none when the box is short).
      track->handler_name.assign(v.here(), v.here() + v.left());
    } else if (type == FourCC("minf")) {
      ParseMinf(track, at, box);
    }
  });
}

void Mp4Reader::ParseMinf(Mp4Track* track, uint32_t start, uint32_t size) {
  WalkChildren(start, size, [&](uint32_t type, uint32_t at, uint32_t box) {
    if (type == FourCC("vmhd")) {
      std::vector<uint8_t> body = ReadBody(at, box);
      ByteView v(body.data(), body.size());
      v.Skip(4);
      track->graphics_mode = v.BE16();
      for (uint16_t& c : track->opcolor) c = v.BE16();
    } else if (type == FourCC("smhd")) {
      std::vector<uint8_t> body = ReadBody(at, box);
      ByteView v(body.data(), body.size());
      v.Skip(4);
      track->balance = v.BE16();
    } else if (type == FourCC("stbl")) {
      bool have_stco = false;
      ParseStbl(track, at, box, &have_stco);
    }
  });
}

void Mp4Reader::ParseStbl(Mp4Track* track, uint32_t start, uint32_t size, bool* have_stco) {
  WalkChildren(start, size, [&](uint32_t type, uint32_t at, uint32_t box) {
    if (type == FourCC("stsd")) {
      ParseStsd(track, ReadBody(at, box));
      return;
    }
    if (type != FourCC("stts") && type != FourCC("stsc") && type != FourCC("stsz") &&
        type != FourCC("stco") && type != FourCC("co64")) {
      return;
    }
    std::vector<uint8_t> body = ReadBody(at, box);
    ByteView v(body.data(), body.size());
    v.Skip(4);  // version and flags
    if (type == FourCC("stsz")) {
      track->constant_sample_size = v.BE32();
      uint32_t count = v.BE32();
      track->sample_sizes.clear();
      if (track->constant_sample_size == 0) {
        // The table holds no more entries than the box has bytes for.
        count = static_cast<uint32_t>(std::min<size_t>(count, v.left() / 4));
        track->sample_sizes.resize(count);
        for (uint32_t& s : track->sample_sizes) s = v.BE32();
      } else {
        // Samples of a constant size cannot outnumber the bytes of the file.
        count = std::min(count, file_.Size() / track->constant_sample_size);
      }
      track->sample_count = count;
      return;
    }
    uint32_t count = v.BE32();
    if (type == FourCC("stts")) {
      count = static_cast<uint32_t>(std::min<size_t>(count, v.left() / 8));
      track->stts.resize(count);
      for (auto& e : track->stts) {
        e.count = v.BE32();
        e.delta = v.BE32();
      }
    } else if (type == FourCC("stsc")) {
      count = static_cast<uint32_t>(std::min<size_t>(count, v.left() / 12));
      track->stsc.resize(count);
      for (auto& e : track->stsc) {
        e.first_chunk = v.BE32();
        e.samples_per_chunk = v.BE32();
        e.description_index = v.BE32();
      }
    } else if (type == FourCC("stco")) {
      count = static_cast<uint32_t>(std::min<size_t>(count, v.left() / 4));
      track->chunk_offsets.resize(count);
      for (uint64_t& o : track->chunk_offsets) o = v.BE32();
      *have_stco = true;
    } else if (!*have_stco) {
      // "co64": 64-bit chunk offsets, used when the track has no "stco".
      // Deliberate, keep it: writers choose "co64" for any file (some always
      // do), and a track described by it alone would otherwise play as
      // silent or black although its samples lie well inside the file.
      // Offsets beyond the 32-bit file positions of the reader end the track
      // there (ReadSample refuses them). Pinned by
      // Mp4Reader.Co64OffsetsAreUsedWhenThereIsNoStco.
      count = static_cast<uint32_t>(std::min<size_t>(count, v.left() / 8));
      track->chunk_offsets.resize(count);
      for (uint64_t& o : track->chunk_offsets) o = v.BE64();
    }
  });
}

void Mp4Reader::ParseStsd(Mp4Track* track, const std::vector<uint8_t>& body) {
  ByteView v(body.data(), body.size());
  v.Skip(4);
  uint32_t count = v.BE32();
  for (uint32_t i = 0; i < count && v.left() >= kHeader; ++i) {
    size_t at = v.pos();
    uint32_t entry_size = v.BE32();
    if (entry_size < kHeader) break;
    size_t bounded = std::min<size_t>(entry_size, body.size() - at);
    ParseSampleEntry(track, body.data() + at, bounded);
    v.Seek(at + bounded);
  }
}

void Mp4Reader::ParseSampleEntry(Mp4Track* track, const uint8_t* data, size_t size) {
  Mp4SampleEntry entry;
  ByteView v(data, size);
  v.Skip(4);
  entry.format = v.BE32();
  v.Skip(6);
  entry.data_reference_index = v.BE16();
  if (track->handler_type == kVide) {
    // ISO/IEC 14496-12 8.5.2.2 VisualSampleEntry
    v.Skip(16);
    entry.width = v.BE16();
    entry.height = v.BE16();
    entry.horizontal_resolution = v.BE32();
    entry.vertical_resolution = v.BE32();
    v.Skip(4);
    entry.frame_count = v.BE16();
    v.Bytes(entry.compressor_name, sizeof(entry.compressor_name));
    entry.depth = v.BE16();
    v.Skip(2);
    if (!v.overrun()) ParseEntryChildren(track, &entry, data + v.pos(), v.left(), 0);
  } else if (track->handler_type == kSoun) {
    // ISO/IEC 14496-12 8.5.2.2 AudioSampleEntry; QuickTime sound descriptions
    // of version 1 and 2 carry 16 and 36 more bytes before their children.
    uint16_t version = v.BE16();
    v.Skip(6);
    entry.channels = v.BE16();
    entry.sample_size = v.BE16();
    v.Skip(4);
    entry.sample_rate = v.BE32();
    if (version == 1) v.Skip(16);
    if (version == 2) v.Skip(36);
    if (!v.overrun()) ParseEntryChildren(track, &entry, data + v.pos(), v.left(), 0);
  } else if (track->handler_type == kHint) {
    entry.raw.assign(data, data + size);
  }
  track->entries.push_back(std::move(entry));
}

void Mp4Reader::ParseEntryChildren(Mp4Track* track, Mp4SampleEntry* entry, const uint8_t* data, size_t size,
                                   int depth) {
  ByteView v(data, size);
  while (v.left() >= kHeader) {
    size_t at = v.pos();
    uint32_t box = v.BE32();
    uint32_t type = v.BE32();
    if (box < kHeader) return;
    size_t bounded = std::min<size_t>(box, size - at);
    const uint8_t* body = data + at + kHeader;
    size_t body_size = bounded - kHeader;
    const int track_index = static_cast<int>(tracks_.size());
    if (type == FourCC("esds")) {
      entry->has_decoder_config = ParseEsds(body, body_size, &entry->decoder_config);
    } else if (type == FourCC("wave") && depth == 0) {
      // QuickTime sound descriptions keep their "esds" inside a "wave" box.
      ParseEntryChildren(track, entry, body, body_size, depth + 1);
    } else if (type == FourCC("damr") && track->handler_type == kSoun) {
      amr_ = true;
    } else if (type == FourCC("d263") && track->handler_type == kVide) {
      h263_ = true;
    } else if (type == FourCC("avcC") && track->handler_type == kVide) {
      // ISO/IEC 14496-15 5.2.4.1 AVCDecoderConfigurationRecord
      ByteView a(body, body_size);
      entry->avc_version = a.U8();
      entry->avc_profile = a.U8();
      entry->avc_compatibility = a.U8();
      entry->avc_level = a.U8();
      entry->nal_length_size = static_cast<uint8_t>((a.U8() & 3) + 1);
      uint32_t sps_count = a.U8() & 31;
      for (uint32_t i = 0; i < sps_count && !a.overrun(); ++i) {
        uint16_t n = a.BE16();
        if (n > a.left()) break;
        entry->sps.emplace_back(a.here(), a.here() + n);
        a.Skip(n);
      }
      uint32_t pps_count = a.U8();
      for (uint32_t i = 0; i < pps_count && !a.overrun(); ++i) {
        uint16_t n = a.BE16();
        if (n > a.left()) break;
        entry->pps.emplace_back(a.here(), a.here() + n);
        a.Skip(n);
      }
      entry->has_avc_config = true;
      avc_ = true;
      avc_track_ = track_index;
    }
    v.Seek(at + bounded);
  }
}

bool Mp4Reader::Open() { return !tracks_.empty(); }

const Mp4Track* Mp4Reader::track(int index) const {
  if (index < 0 || index >= static_cast<int>(tracks_.size())) return nullptr;
  return &tracks_[index];
}

std::unique_ptr<TrackCursor> Mp4Reader::OpenTrack(int index) {
  const Mp4Track* t = track(index);
  if (!t) return nullptr;
  uint64_t seconds = movie_timescale_ ? t->duration / movie_timescale_ : 0;
#ifndef OVMIX_FUZZING
  ov::DebugOutput("Track %d/%d duration=%ds type=%s\n", index, track_count(), static_cast<int>(seconds),
                  FourCCText(t->handler_type).c_str());
#else
  (void)seconds;
#endif
  auto cursor = std::make_unique<Mp4Cursor>();
  cursor->track = index;
  return cursor;
}

bool Mp4Reader::StepSample(Mp4Cursor* c, uint64_t* file_offset, uint32_t* size, uint64_t* decode_time) const {
  const Mp4Track* t = track(c->track);
  if (!t || t->timescale == 0) return false;  // a timescale of 0 gives no times
  const uint32_t chunks = static_cast<uint32_t>(t->chunk_offsets.size());
  if (c->chunk >= chunks) return false;
  if (c->sample_in_chunk == 0) c->chunk_offset = 0;
  auto samples_in_chunk = [&]() -> uint32_t {
    return c->stsc_entry < t->stsc.size() ? t->stsc[c->stsc_entry].samples_per_chunk : t->sample_count;
  };
  const uint32_t first_chunk = t->stsc.empty() ? 1 : t->stsc[0].first_chunk;
  while (c->sample_in_chunk >= samples_in_chunk()) {
    ++c->chunk;
    c->sample_in_chunk = 0;
    c->chunk_offset = 0;
    if (c->chunk >= chunks) return false;
    if (c->stsc_entry + 1 < t->stsc.size() &&
        t->stsc[c->stsc_entry + 1].first_chunk <= uint64_t{c->chunk} + first_chunk) {
      ++c->stsc_entry;
    }
  }
  if (c->sample >= t->sample_count) return false;
  uint32_t sample_size = t->constant_sample_size;
  if (sample_size == 0) {
    if (c->sample >= t->sample_sizes.size()) return false;
    sample_size = t->sample_sizes[c->sample];
  }
  // Time: the entry's delta applies to each of its samples; entries of 0
  // samples are passed over; past the table the last delta goes on.
  uint32_t delta = 0;
  if (c->stts_left == 0) {
    int64_t next = c->stts_entry + 1;
    while (next < static_cast<int64_t>(t->stts.size()) && t->stts[next].count == 0) ++next;
    if (next < static_cast<int64_t>(t->stts.size())) {
      c->stts_entry = next;
      c->stts_left = t->stts[next].count - 1;
      delta = t->stts[next].delta;
    } else if (c->stts_entry >= 0 && c->stts_entry < static_cast<int64_t>(t->stts.size())) {
      delta = t->stts[c->stts_entry].delta;
    }
  } else {
    --c->stts_left;
    delta = t->stts[c->stts_entry].delta;
  }
  *file_offset = t->chunk_offsets[c->chunk] + c->chunk_offset;
  // A sample outside the file ends the track (also for Seek).
  if (*file_offset + sample_size > file_.Size()) return false;
  *size = sample_size;
  *decode_time = c->decode_time;
  c->decode_time += delta;
  ++c->sample;
  c->chunk_offset += sample_size;
  ++c->sample_in_chunk;
  return true;
}

bool Mp4Reader::ReadSample(TrackCursor* track_cursor, std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes,
                           uint32_t* time_ms) {
  buffer->reset();
  *bytes = 0;
  if (!track_cursor || track_cursor->kind != TrackCursor::kMp4) return false;
  auto* c = static_cast<Mp4Cursor*>(track_cursor);
  uint64_t offset = 0;
  uint32_t size = 0;
  uint64_t decode_time = 0;
  if (!StepSample(c, &offset, &size, &decode_time)) return false;
  const Mp4Track& t = tracks_[c->track];
  if (decode_time >= t.edit_end) return false;
  auto sample = std::make_unique<uint8_t[]>(size ? size : 1);
  file_.Seek(static_cast<uint32_t>(offset));
  if (size && !file_.ReadBytes(sample.get(), size)) return false;
  // Times count from the track's lead-in after its delay; a sample before
  // the lead-in reads as the track's first time.
  *time_ms = PresentationMs(t, decode_time);
  c->read_time = decode_time;
  *buffer = std::move(sample);
  *bytes = size;
  return true;
}

bool Mp4Reader::Seek(TrackCursor* track_cursor, uint32_t time_ms) { return SeekWithPreroll(track_cursor, time_ms, 0); }

bool Mp4Reader::SeekWithPreroll(TrackCursor* track_cursor, uint32_t time_ms, uint32_t preroll) {
  if (!track_cursor || track_cursor->kind != TrackCursor::kMp4) return false;
  auto* c = static_cast<Mp4Cursor*>(track_cursor);
  const Mp4Track* t = track(c->track);
  if (!t || t->timescale == 0) return false;
  const uint64_t target = MediaTimeAt(*t, time_ms);
  int index = c->track;
  *c = Mp4Cursor();
  c->track = index;
  if (t->chunk_offsets.empty() || target >= t->edit_end) return false;
  // The cursors before the last preroll + 1 samples walked.
  std::vector<Mp4Cursor> remembered(size_t{preroll} + 1);
  for (uint64_t walked = 0;; ++walked) {
    remembered[walked % remembered.size()] = *c;
    uint64_t offset = 0;
    uint32_t size = 0;
    uint64_t decode_time = 0;
    if (!StepSample(c, &offset, &size, &decode_time)) return false;
    if (c->decode_time > target) {
      const uint64_t back = std::min<uint64_t>(preroll, walked);
      *c = remembered[(walked - back) % remembered.size()];
      return true;
    }
  }
}

int64_t Mp4Reader::GetDuration(int index) {
  const Mp4Track* t = track(index);
  if (!t) return -1;
  return static_cast<int64_t>(std::min<uint64_t>(t->media_duration, UINT32_MAX));
}

uint32_t Mp4Reader::GetTimescale(int index) {
  const Mp4Track* t = track(index);
  return t ? t->timescale : 0;
}

int Mp4Reader::FirstTrack(uint32_t handler) const {
  for (size_t i = 0; i < tracks_.size(); ++i) {
    if (tracks_[i].handler_type == handler) return static_cast<int>(i);
  }
  return -1;
}

int Mp4Reader::GetVideoTrack() { return FirstTrack(kVide); }
int Mp4Reader::GetAudioTrack() { return FirstTrack(kSoun); }

bool Mp4Reader::GetVideoSize(uint32_t* width, uint32_t* height, int* track_index) {
  for (size_t i = 0; i < tracks_.size(); ++i) {
    if (tracks_[i].handler_type == kVide && !tracks_[i].entries.empty()) {
      *width = tracks_[i].entries[0].width;
      *height = tracks_[i].entries[0].height;
      *track_index = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

const Mp4SampleEntry* Mp4Reader::FirstEntry(uint32_t handler) const {
  for (const Mp4Track& t : tracks_) {
    if (t.handler_type == handler && !t.entries.empty()) return &t.entries[0];
  }
  return nullptr;
}

bool Mp4Reader::HasDecoderConfig(bool video) const {
  const Mp4SampleEntry* e = FirstEntry(video ? kVide : kSoun);
  return e && e->has_decoder_config;
}

std::unique_ptr<uint8_t[]> Mp4Reader::GetDecoderConfig(bool video, uint32_t* bytes) const {
  *bytes = 0;
  const Mp4SampleEntry* e = FirstEntry(video ? kVide : kSoun);
  if (!e || !e->has_decoder_config) return nullptr;
  auto copy = std::make_unique<uint8_t[]>(e->decoder_config.size() + 1);
  if (!e->decoder_config.empty()) std::memcpy(copy.get(), e->decoder_config.data(), e->decoder_config.size());
  *bytes = static_cast<uint32_t>(e->decoder_config.size());
  return copy;
}

int Mp4Reader::FindConfiguredTrack(uint32_t handler, uint32_t format, const Mp4SampleEntry** entry) const {
  for (size_t i = 0; i < tracks_.size(); ++i) {
    const Mp4Track& t = tracks_[i];
    if (t.handler_type != handler || t.sample_count == 0) continue;
    for (const Mp4SampleEntry& e : t.entries) {
      if (e.format != format) continue;
      if (!e.has_decoder_config || e.decoder_config.empty()) break;
      *entry = &e;
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::unique_ptr<uint8_t[]> Mp4Reader::GetAvcConfig(uint32_t* bytes) const {
  *bytes = 0;
  const Mp4Track* t = track(avc_track_);
  if (!t) return nullptr;
  for (const Mp4SampleEntry& e : t->entries) {
    if (!e.has_avc_config || e.sps.empty() || e.pps.empty()) continue;
    const auto& sps = e.sps[0];
    const auto& pps = e.pps[0];
    size_t total = 8 + sps.size() + pps.size();
    auto out = std::make_unique<uint8_t[]>(total);
    uint8_t* p = out.get();
    auto put = [&p](const std::vector<uint8_t>& nal) {
      uint32_t n = static_cast<uint32_t>(nal.size());
      p[0] = static_cast<uint8_t>(n >> 24);
      p[1] = static_cast<uint8_t>(n >> 16);
      p[2] = static_cast<uint8_t>(n >> 8);
      p[3] = static_cast<uint8_t>(n);
      if (n) std::memcpy(p + 4, nal.data(), n);
      p += 4 + n;
    };
    put(sps);
    put(pps);
    *bytes = static_cast<uint32_t>(total);
    return out;
  }
  return nullptr;
}

}  // namespace media
