#include "media/mpa_audio_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace media {

namespace {

// ISO/IEC 11172-3 2.4.2.3 and ISO/IEC 13818-3 2.4.2.3: bit rates in kbit/s by
// (MPEG-1 / lower sampling frequencies, layer) and index; 0 = free format.
constexpr uint16_t kBitRates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};

// Sampling frequencies by raw version field (0 MPEG 2.5, 2 MPEG-2, 3 MPEG-1).
constexpr uint32_t kSampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

constexpr uint32_t kSamplesPerFrame[2][3] = {{384, 1152, 1152}, {384, 1152, 576}};

constexpr uint32_t kWindow = 1024;
constexpr uint32_t kSearchLimit = 65536;

// A seek position computed from a header's table, as a byte offset: tables
// and byte counts read from a damaged file can put it past 32 bits.
uint32_t ToOffset(double position) {
  if (!(position > 0)) return 0;
  return position >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(position);
}
constexpr int kExactTries = 6;

[[noreturn]] void Fail(CMPAException::Id id) { throw CMPAException(id); }

}  // namespace

void CMPAFrameHeader::Parse(const uint8_t b[4]) {
  version = (b[1] >> 3) & 3;
  if (version == 1) Fail(CMPAException::kHeaderCorrupt);
  lsf = version != 3;
  uint32_t layer_field = (b[1] >> 1) & 3;
  if (layer_field == 0) Fail(CMPAException::kHeaderCorrupt);
  layer = 3 - layer_field;
  crc = !(b[1] & 1);
  uint32_t rate_index = b[2] >> 4;
  if (rate_index == 15) Fail(CMPAException::kHeaderCorrupt);
  if (rate_index == 0) Fail(CMPAException::kFreeBitrate);
  bit_rate = kBitRates[lsf ? 1 : 0][layer][rate_index] * 1000u;
  uint32_t sf_index = (b[2] >> 2) & 3;
  if (sf_index == 3) Fail(CMPAException::kHeaderCorrupt);
  sample_rate = kSampleRates[version][sf_index];
  padding = (b[2] >> 1) & 1;
  private_bit = b[2] & 1;
  samples_per_frame = kSamplesPerFrame[lsf ? 1 : 0][layer];
  channel_mode = b[3] >> 6;
  mode_extension = (b[3] >> 4) & 3;
  bound = channel_mode == 1 ? 4 * (mode_extension + 1) : 32;
  copyright = (b[3] >> 3) & 1;
  original = (b[3] >> 2) & 1;
  emphasis = b[3] & 3;
  if (emphasis == 2) Fail(CMPAException::kHeaderCorrupt);
  allocation_table = 0;
  if (layer == 1) {
    uint32_t kbps = bit_rate / 1000;
    if (lsf) {
      allocation_table = 4;
    } else {
      // ISO/IEC 11172-3 Table 3-B.2: allowed bit rate and mode combinations.
      bool mono = channel_mode == 3;
      if (!mono && (kbps == 32 || kbps == 48 || kbps == 56 || kbps == 80)) Fail(CMPAException::kHeaderCorrupt);
      if (mono && (kbps == 224 || kbps == 256 || kbps == 320 || kbps == 384)) Fail(CMPAException::kHeaderCorrupt);
      uint32_t per_channel = mono ? kbps : kbps / 2;
      switch (per_channel) {
        case 56: case 64: case 80: allocation_table = 0; break;
        case 96: case 112: case 128: case 160: case 192: allocation_table = sample_rate == 48000 ? 0 : 1; break;
        case 32: case 48: allocation_table = sample_rate == 32000 ? 3 : 2; break;
        default: allocation_table = 0; break;
      }
    }
  }
}

uint32_t CMPAFrameHeader::FrameLength() const {
  uint32_t coefficient = layer == 0 ? 12 : (layer == 2 && lsf ? 72 : 144);
  uint32_t slot = layer == 0 ? 4 : 1;
  return (coefficient * bit_rate / sample_rate + padding) * slot;
}

uint32_t CMPAFrameHeader::SideInfoSize() const {
  bool mono = channel_mode == 3;
  if (!lsf) return mono ? 17 : 32;
  return mono ? 9 : 17;
}

bool CMPAFrameHeader::IsCompatible(const CMPAFrameHeader& o) const {
  return version == o.version && layer == o.layer && sample_rate == o.sample_rate && emphasis == o.emphasis &&
         (channel_mode == 3) == (o.channel_mode == 3);
}

CMPAFileReader::CMPAFileReader(const ov::String& path) : name_(path) {
  if (!file_.Open(path)) throw CMPAException(CMPAException::kOpenFile, path, "CreateFile", true);
}

const uint8_t* CMPAFileReader::Read(uint32_t offset, uint32_t count, bool backwards) {
  if (offset >= window_offset_ && uint64_t{offset} + count <= uint64_t{window_offset_} + window_.size()) {
    return window_.data() + (offset - window_offset_);
  }
  if (uint64_t{offset} + count > file_.Size()) {
    throw CMPAException(CMPAException::kReadFile, name_, "ReadFile", true);
  }
  uint32_t size = std::max(kWindow, count);
  uint64_t start = offset;
  if (backwards) start = uint64_t{offset} + count >= size ? uint64_t{offset} + count - size : 0;
  uint64_t end = std::min<uint64_t>(start + size, file_.Size());
  window_.resize(static_cast<size_t>(end - start));
  file_.Seek(static_cast<uint32_t>(start));
  uint32_t got = 0;
  file_.Read(window_.data(), static_cast<uint32_t>(window_.size()), &got);
  window_.resize(got);
  window_offset_ = static_cast<uint32_t>(start);
  if (offset < window_offset_ || uint64_t{offset} + count > uint64_t{window_offset_} + window_.size()) {
    throw CMPAException(CMPAException::kReadFile, name_, "ReadFile", true);
  }
  return window_.data() + (offset - window_offset_);
}

uint32_t CMPAFileReader::ReadBE(uint32_t offset, uint32_t bytes) {
  const uint8_t* p = Read(offset, bytes);
  uint32_t v = 0;
  for (uint32_t i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

uint32_t CMPAXingInfo::SeekPoint(float percent) const {
  if (toc.size() < 100) return 0;
  percent = std::clamp(percent, 0.0f, 100.0f);
  int i = std::min(static_cast<int>(percent), 99);
  float a = static_cast<float>(toc[i]);
  float b = i < 99 ? static_cast<float>(toc[i + 1]) : 256.0f;
  float position = (a + (percent - static_cast<float>(i)) * (b - a)) * static_cast<float>(bytes) / 256.0f;
  return ToOffset(position);
}

uint32_t CMPAVbriInfo::SeekPoint(float percent) const {
  if (toc.empty() || frames_per_entry == 0) return 0;
  double total_ms = duration_seconds * 1000.0;
  double target = std::min<double>(std::clamp(percent, 0.0f, 100.0f) / 100.0 * total_ms, total_ms);
  double per_entry = total_ms / static_cast<double>(toc.size());
  double accumulated = 0;
  double position = 0;
  size_t i = 0;
  for (; i < toc.size() && accumulated + per_entry <= target; ++i) {
    position += toc[i];
    accumulated += per_entry;
  }
  if (i < toc.size() && per_entry > 0) {
    // The part of the next value up to the target, in whole steps of
    // 1 / frames per entry.
    double fraction = (target - accumulated) / per_entry;
    fraction = std::floor(fraction * frames_per_entry) / frames_per_entry;
    position += toc[i] * fraction;
  }
  return ToOffset(position);
}

CMPAAudioFile::CMPAAudioFile(const ov::String& path, uint32_t begin, uint32_t end) : reader_(path) {
  begin_ = begin;
  end_ = end == 0 ? reader_.Size() : std::min(end, reader_.Size());
  if (end_ < 4 || begin_ > end_ - 4) Fail(CMPAException::kEndReached);
  first_ = FindFrame(begin_, true, false, false, nullptr);
  ReadVbrHeader();
  const CMPAFrameHeader& h = first_.header;
  if (vbr_) {
    // Bytes per second = bytes × rate ÷ (frames × samples per frame), in 64
    // bits, so that a header covering less than a second still gives a rate.
    uint64_t bytes = vbr_->bytes ? vbr_->bytes : end_ - first_.offset;
    uint64_t rate = bytes * h.sample_rate / (uint64_t{vbr_->frames} * h.samples_per_frame);
    average_bytes_per_second_ = static_cast<uint32_t>(std::min<uint64_t>(rate, UINT32_MAX));
    return;
  }
  average_bytes_per_second_ = h.bit_rate / 8;
  if (h.bit_rate <= 32000) {
    // A quiet start is often coded at a low rate: take the first frame above
    // 48 kbit/s within the next 27 as the file's rate.
    CMPAFrame frame = first_;
    for (int i = 0; i < 27; ++i) {
      try {
        frame = NextFrame(frame);
      } catch (const CMPAException&) {
        break;
      }
      if (frame.header.bit_rate > 48000) break;
    }
    average_bytes_per_second_ = frame.header.bit_rate / 8;
  }
}

uint32_t CMPAAudioFile::DurationMs() const {
  if (average_bytes_per_second_ == 0) return 0;
  uint64_t ms = uint64_t{end_ - begin_} * 1000 / average_bytes_per_second_;
  return static_cast<uint32_t>(std::min<uint64_t>(ms, UINT32_MAX));
}

CMPAFrame CMPAAudioFile::FindFrame(uint32_t offset, bool check_next, bool exact, bool backwards,
                                   const CMPAFrameHeader* match) {
  int64_t pos = offset;
  int tries = 0;
  uint32_t stepped = 0;
  for (;;) {
    if (pos < begin_ || pos + 4 > end_) Fail(CMPAException::kEndReached);
    const uint8_t* b = reader_.Read(static_cast<uint32_t>(pos), 4, backwards);
    if (b[0] == 0xFF && (b[1] & 0xE0) == 0xE0) {
      CMPAFrameHeader h;
      bool valid = true;
      try {
        h.Parse(b);
      } catch (const CMPAException&) {
        valid = false;
      }
      if (valid) {
        if (match && !h.IsCompatible(*match)) Fail(CMPAException::kIncompatibleHeader);
        CMPAFrame frame;
        frame.header = h;
        frame.offset = static_cast<uint32_t>(pos);
        frame.length = h.FrameLength();
        if (!check_next || pos + frame.length >= int64_t{end_} - 4) return frame;
        try {
          FindFrame(static_cast<uint32_t>(pos + frame.length), false, true, false, &h);
          return frame;
        } catch (const CMPAException&) {
          // Not confirmed by a following frame: go on searching.
        }
      }
    }
    if (exact) {
      // Alternately after and before the start: +1, -2, +3, -4, ...
      if (++tries > kExactTries) Fail(CMPAException::kNoFrame);
      pos += (tries & 1) ? tries : -tries;
    } else {
      if (++stepped > kSearchLimit) Fail(CMPAException::kNoFrame);
      pos += backwards ? -1 : 1;
    }
  }
}

CMPAFrame CMPAAudioFile::NextFrame(const CMPAFrame& frame) {
  return FindFrame(frame.offset + frame.length, false, true, false, &first_.header);
}

void CMPAAudioFile::ReadVbrHeader() {
  const CMPAFrameHeader& h = first_.header;
  const uint64_t xing_at = uint64_t{first_.offset} + 4 + h.SideInfoSize();
  try {
    if (xing_at + 8 <= end_) {
      const uint8_t* id = reader_.Read(static_cast<uint32_t>(xing_at), 4);
      if (std::memcmp(id, "Xing", 4) == 0 || std::memcmp(id, "Info", 4) == 0) {
        auto xing = std::make_unique<CMPAXingInfo>();
        uint32_t at = static_cast<uint32_t>(xing_at + 4);
        xing->offset = static_cast<uint32_t>(xing_at);
        xing->flags = reader_.ReadBE(at, 4);
        at += 4;
        if (xing->flags & 1) {
          xing->frames = reader_.ReadBE(at, 4);
          at += 4;
        }
        if (xing->flags & 2) {
          xing->bytes = reader_.ReadBE(at, 4);
          at += 4;
        }
        if (xing->flags & 4) {
          const uint8_t* t = reader_.Read(at, 100);
          xing->toc.assign(t, t + 100);
          at += 100;
        }
        if (xing->flags & 8) xing->quality = reader_.ReadBE(at, 4);
        // Without a frame count the header cannot give a rate.
        if (xing->frames != 0) vbr_ = std::move(xing);
        return;
      }
    }
    const uint64_t vbri_at = uint64_t{first_.offset} + 36;
    if (vbri_at + 26 <= end_) {
      const uint8_t* id = reader_.Read(static_cast<uint32_t>(vbri_at), 4);
      if (std::memcmp(id, "VBRI", 4) != 0) return;
      auto vbri = std::make_unique<CMPAVbriInfo>();
      uint32_t at = static_cast<uint32_t>(vbri_at + 4);
      vbri->offset = static_cast<uint32_t>(vbri_at);
      vbri->version = reader_.ReadBE(at, 2);
      vbri->delay = reader_.ReadBE(at + 2, 2);
      vbri->quality = reader_.ReadBE(at + 4, 2);
      vbri->bytes = reader_.ReadBE(at + 6, 4);
      vbri->frames = reader_.ReadBE(at + 10, 4);
      uint32_t entries = reader_.ReadBE(at + 14, 2);
      vbri->scale = reader_.ReadBE(at + 16, 2);
      vbri->bytes_per_entry = reader_.ReadBE(at + 18, 2);
      vbri->frames_per_entry = reader_.ReadBE(at + 20, 2);
      at += 22;
      if (h.sample_rate) {
        vbri->duration_seconds =
            static_cast<uint32_t>(uint64_t{vbri->frames} * h.samples_per_frame / h.sample_rate);
      }
      if (vbri->bytes_per_entry >= 1 && vbri->bytes_per_entry <= 4) {
        for (uint32_t i = 0; i <= entries && uint64_t{at} + vbri->bytes_per_entry <= end_; ++i) {
          vbri->toc.push_back(reader_.ReadBE(at, vbri->bytes_per_entry) * std::max<uint32_t>(vbri->scale, 1));
          at += vbri->bytes_per_entry;
        }
      }
      if (vbri->frames != 0) vbr_ = std::move(vbri);
    }
  } catch (const CMPAException&) {
    // A VBR header cut off by the end of the file is not used.
    vbr_.reset();
  }
}

}  // namespace media
