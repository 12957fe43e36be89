#pragma once
// Mp4Reader: ISO base media files (ISO/IEC 14496-12; 3GPP TS 26.244): ".3gp",
// ".3gpp", ".3g2", ".mp4", ".m4a", ".mov", ".mpa". The constructor parses the
// box tree once and keeps the movie and track tables; samples of any track are
// then served by walking the sample tables. Sample times and seek targets are
// in milliseconds; durations in the track's media timescale. A track whose
// edit list is one edit into the media, or an empty edit and then one, is
// presented as that list lays it out: the empty edit delays it (`delay`;
// sample times and seek targets count from the start of the movie), and a
// sound track starts at the media edit's media time (`lead_in`: the samples
// before it, an AAC encoder's priming, read as the track's first time for the
// decoder source to trim) and ends at the edit's end (`edit_end`: the
// encoder's padding after it is not sound of the clip).
//
// Every count and length read from the file is bounded by the bytes of its
// box; damaged tables yield fewer samples, never reads outside them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/buffered_file_reader.h"
#include "media/media_reader.h"
#include "platform/os/ov_string.h"

namespace media {

struct Mp4SampleEntry {
  uint32_t format = 0;  // four-character code ("mp4a", "samr", "s263", "avc1", ...)
  uint16_t data_reference_index = 0;
  // "vide"
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t horizontal_resolution = 0;
  uint32_t vertical_resolution = 0;
  uint16_t frame_count = 0;
  uint8_t compressor_name[32] = {};
  uint16_t depth = 0;
  // "soun"
  uint16_t channels = 0;
  uint16_t sample_size = 0;
  uint32_t sample_rate = 0;  // 16.16
  // Decoder-specific information of an "esds" (ISO/IEC 14496-1 DecoderSpecificInfo).
  bool has_decoder_config = false;
  std::vector<uint8_t> decoder_config;
  // "avcC" (ISO/IEC 14496-15 5.2.4.1)
  bool has_avc_config = false;
  uint8_t avc_version = 0;
  uint8_t avc_profile = 0;
  uint8_t avc_compatibility = 0;
  uint8_t avc_level = 0;
  uint8_t nal_length_size = 0;
  std::vector<std::vector<uint8_t>> sps;
  std::vector<std::vector<uint8_t>> pps;
  // "hint": the entry's bytes as stored
  std::vector<uint8_t> raw;
};

struct Mp4Track {
  // "tkhd"
  uint64_t creation_time = 0;
  uint64_t modification_time = 0;
  uint32_t track_id = 0;
  uint64_t duration = 0;  // movie timescale
  uint16_t layer = 0;
  uint16_t alternate_group = 0;
  uint16_t volume = 0;
  uint32_t matrix[9] = {};
  uint32_t width = 0;  // 16.16
  uint32_t height = 0;
  // "mdhd"
  uint64_t media_creation_time = 0;
  uint64_t media_modification_time = 0;
  uint32_t timescale = 0;
  uint64_t media_duration = 0;
  uint16_t language = 0;
  // "hdlr"
  uint32_t handler_predefined = 0;
  uint32_t handler_type = 0;
  std::vector<uint8_t> handler_name;
  // "vmhd" / "smhd"
  uint16_t graphics_mode = 0;
  uint16_t opcolor[3] = {};
  uint16_t balance = 0;

  std::vector<Mp4SampleEntry> entries;
  struct TimeToSample {
    uint32_t count;
    uint32_t delta;
  };
  std::vector<TimeToSample> stts;
  struct SampleToChunk {
    uint32_t first_chunk;
    uint32_t samples_per_chunk;
    uint32_t description_index;
  };
  std::vector<SampleToChunk> stsc;
  uint32_t constant_sample_size = 0;
  uint32_t sample_count = 0;
  std::vector<uint32_t> sample_sizes;
  std::vector<uint64_t> chunk_offsets;  // "stco", or "co64" when the track has no "stco"
  // "edts"/"elst" (ISO/IEC 14496-12 8.6.6): the edits as stored.
  struct Edit {
    uint64_t segment_duration;  // movie timescale
    int64_t media_time;         // media timescale; -1 an empty edit
    int32_t media_rate;         // 16.16
  };
  std::vector<Edit> edits;
  // The edits applied (an edit into the media, after at most one empty
  // edit); other edit lists are not applied. Media timescale units:
  // where the presentation of a sound track starts (the encoder's priming
  // an AAC writer skips this way), else 0;
  uint64_t lead_in = 0;
  // where a sound track's presentation ends (the media edit's end), no end
  // when UINT64_MAX; samples from there on are not read;
  uint64_t edit_end = UINT64_MAX;
  // how long the leading empty edit delays the track (sound or picture).
  uint64_t delay = 0;
};

// Position in one track of an Mp4Reader.
struct Mp4Cursor : TrackCursor {
  Mp4Cursor() : TrackCursor(kMp4) {}
  int track = 0;
  uint32_t sample = 0;           // global sample index
  uint32_t chunk = 0;            // chunk index
  uint32_t stsc_entry = 0;       // sample-to-chunk entry index
  uint64_t chunk_offset = 0;     // byte offset of the next sample inside its chunk
  uint32_t sample_in_chunk = 0;  // sample index inside the chunk
  int64_t stts_entry = -1;       // time-to-sample entry index (-1 at the start)
  uint32_t stts_left = 0;        // samples left in that entry
  uint64_t decode_time = 0;      // of the next sample, media timescale units
  uint64_t read_time = 0;        // decode time of the sample ReadSample gave last
};

class Mp4Reader : public MediaReader {
 public:
  static constexpr int kMaxTracks = 8;

  explicit Mp4Reader(const ov::String& path);
  ~Mp4Reader() override;

  // True when the parse found at least one track.
  bool Open() override;
  bool Seek(TrackCursor* cursor, uint32_t time_ms) override;
  std::unique_ptr<TrackCursor> OpenTrack(int track) override;
  bool ReadSample(TrackCursor* cursor, std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes,
                  uint32_t* time_ms) override;
  // Media duration from "mdhd" in media timescale units; -1 for a bad track.
  int64_t GetDuration(int track) override;
  bool GetVideoSize(uint32_t* width, uint32_t* height, int* track) override;
  int GetVideoTrack() override;
  int GetAudioTrack() override;
  uint32_t GetTimescale(int track) override;

  // Whether the first video (or sound) track with sample entries carries an
  // "esds" decoder configuration in its first entry.
  bool HasDecoderConfig(bool video) const;
  // A new copy of that configuration; null when absent.
  std::unique_ptr<uint8_t[]> GetDecoderConfig(bool video, uint32_t* bytes) const;
  // The first track of `handler` ("soun", "vide") with samples and a sample
  // entry of `format` ("mp4a", "mp4v") whose "esds" gives a non-empty decoder
  // configuration: its index, with that entry in *entry; -1 when none.
  int FindConfiguredTrack(uint32_t handler, uint32_t format, const Mp4SampleEntry** entry) const;
  // The first SPS and the first PPS, each behind a 4-byte big-endian length,
  // for the H.264 decoder; null when no track carried "avcC".
  std::unique_ptr<uint8_t[]> GetAvcConfig(uint32_t* bytes) const;

  // Seek that leaves the cursor `preroll` samples before the one holding the
  // target (fewer at the track's start), for a decoder that needs the
  // samples before it to decode the target's sample whole.
  bool SeekWithPreroll(TrackCursor* cursor, uint32_t time_ms, uint32_t preroll);
  // Media time (track timescale) where a seek to `time_ms` starts the
  // presentation: the lead-in for a time inside the delay.
  uint64_t MediaTimeAt(const Mp4Track& track, uint32_t time_ms) const;
  // Presentation time in ms of media time `media` (the delay, then the
  // media from the lead-in; media before the lead-in reads as its start).
  static uint32_t PresentationMs(const Mp4Track& track, uint64_t media);
  // Of `samples` decoded samples at `rate` Hz starting at media time `at`,
  // the part inside [`from`, the track's edit end): *drop samples to drop at
  // the front, and the samples kept after them (returned; 0 none).
  static uint32_t PresentedSamples(const Mp4Track& track, uint64_t from, uint64_t at, uint32_t samples,
                                   uint32_t rate, uint32_t* drop);
  // `value` x `to` / `from` without overflow, saturated; 0 when `from` is 0.
  static uint64_t Rescale(uint64_t value, uint64_t to, uint64_t from);

  // Walks the cursor over the next sample without reading it. False at the
  // end of the track or on a table that does not describe the sample.
  bool StepSample(Mp4Cursor* cursor, uint64_t* file_offset, uint32_t* size, uint64_t* decode_time) const;

  int track_count() const { return static_cast<int>(tracks_.size()); }
  const Mp4Track* track(int index) const;
  uint32_t mdat_offset() const { return mdat_offset_; }
  uint32_t movie_timescale() const { return movie_timescale_; }
  uint64_t movie_duration() const { return movie_duration_; }
  uint32_t major_brand() const { return major_brand_; }
  uint32_t minor_version() const { return minor_version_; }
  const std::vector<uint32_t>& compatible_brands() const { return compatible_brands_; }
  bool amr() const { return amr_; }
  bool h263() const { return h263_; }
  bool avc() const { return avc_; }
  int avc_track() const { return avc_track_; }

 private:
  struct Box;
  void ParseTopLevel();
  void ParseMoov(uint32_t start, uint32_t size);
  void ParseTrak(uint32_t start, uint32_t size);
  void ParseMdia(Mp4Track* track, uint32_t start, uint32_t size);
  void ParseMinf(Mp4Track* track, uint32_t start, uint32_t size);
  void ParseStbl(Mp4Track* track, uint32_t start, uint32_t size, bool* have_stco);
  void ParseStsd(Mp4Track* track, const std::vector<uint8_t>& body);
  void ParseSampleEntry(Mp4Track* track, const uint8_t* data, size_t size);
  void ParseElst(Mp4Track* track, const std::vector<uint8_t>& body);
  void ApplyEdits(Mp4Track* track) const;
  void ParseEntryChildren(Mp4Track* track, Mp4SampleEntry* entry, const uint8_t* data, size_t size, int depth);
  // Reads the children's headers of the box at `start` (header included in
  // `size`) and calls `visit(type, child start, child size)` for each.
  template <typename Visit>
  void WalkChildren(uint32_t start, uint32_t size, Visit visit);
  // The body of a box (after its 8-byte header), bounded by the file.
  std::vector<uint8_t> ReadBody(uint32_t start, uint32_t size);
  const Mp4SampleEntry* FirstEntry(uint32_t handler) const;
  int FirstTrack(uint32_t handler) const;

  BufferedFileReader file_;
  std::vector<Mp4Track> tracks_;
  uint32_t mdat_offset_ = 0;
  uint32_t major_brand_ = 0;
  uint32_t minor_version_ = 0;
  std::vector<uint32_t> compatible_brands_;
  uint64_t movie_creation_time_ = 0;
  uint64_t movie_modification_time_ = 0;
  uint32_t movie_timescale_ = 0;
  uint64_t movie_duration_ = 0;
  uint32_t movie_rate_ = 0;
  uint16_t movie_volume_ = 0;
  uint32_t movie_matrix_[9] = {};
  uint32_t next_track_id_ = 0;
  bool amr_ = false;
  bool h263_ = false;
  bool avc_ = false;
  int avc_track_ = -1;
};

}  // namespace media
