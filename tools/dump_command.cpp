// ovtool dump FILE: a media file's structure as the readers see it: tracks,
// sample entries, every sample (time, size) and the durations. The reader is
// chosen by the extension, as the program does.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

#include "media/adts_reader.h"
#include "media/amr_reader.h"
#include "media/mp4_reader.h"
#include "media/mpa_audio_file.h"
#include "media/wav_file.h"
#include "platform/os/os_error.h"
#include "platform/os/ov_string.h"
#include "tools/tool_command.h"
#include "tools/tool_input.h"

namespace {

std::string FourCC(uint32_t code) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    char c = static_cast<char>((code >> shift) & 0xFF);
    s.push_back(c >= 32 && c < 127 ? c : '.');
  }
  return s;
}

void DumpSamples(media::MediaReader& reader, int track, const char* unit) {
  auto cursor = reader.OpenTrack(track);
  if (!cursor) return;
  std::unique_ptr<uint8_t[]> sample;
  uint32_t bytes = 0, time = 0, count = 0;
  uint64_t total = 0;
  while (reader.ReadSample(cursor.get(), &sample, &bytes, &time)) {
    std::printf("  sample %u time=%u%s size=%u\n", count, time, unit, bytes);
    ++count;
    total += bytes;
  }
  std::printf("  samples=%u bytes=%" PRIu64 "\n", count, total);
}

int DumpMp4(const ov::String& path) {
  media::Mp4Reader reader(path);
  if (!reader.Open()) {
    std::fprintf(stderr, "dump: %s: no tracks\n", path.ToUtf8Lossy().c_str());
    return 1;
  }
  std::printf("mp4 brand=%s minor=%u mdat=%u timescale=%u duration=%" PRIu64 " tracks=%d amr=%d h263=%d avc=%d\n",
              FourCC(reader.major_brand()).c_str(), reader.minor_version(), reader.mdat_offset(),
              reader.movie_timescale(), reader.movie_duration(), reader.track_count(), reader.amr(), reader.h263(),
              reader.avc());
  for (int t = 0; t < reader.track_count(); ++t) {
    const media::Mp4Track* track = reader.track(t);
    uint64_t ms = track->timescale ? track->media_duration * 1000 / track->timescale : 0;
    std::printf("track %d id=%u handler=%s timescale=%u duration=%" PRIu64 " (%" PRIu64
                " ms) samples=%u chunks=%zu entries=%zu\n",
                t, track->track_id, FourCC(track->handler_type).c_str(), track->timescale, track->media_duration,
                ms, track->sample_count, track->chunk_offsets.size(), track->entries.size());
    for (const media::Mp4SampleEntry& e : track->entries) {
      std::printf("  entry %s size=%ux%u channels=%u rate=%u config=%zu sps=%zu pps=%zu\n",
                  FourCC(e.format).c_str(), e.width, e.height, e.channels, e.sample_rate >> 16,
                  e.decoder_config.size(), e.sps.size(), e.pps.size());
    }
    DumpSamples(reader, t, "ms");
  }
  return 0;
}

int DumpAdts(const ov::String& path) {
  media::AdtsReader reader(path);
  if (!reader.Open()) {
    std::fprintf(stderr, "dump: %s: not an ADTS file\n", path.ToUtf8Lossy().c_str());
    return 1;
  }
  std::printf("adts profile=%u rate=%u channels=%u duration=%" PRId64 " s (%u ms)\n", reader.profile(),
              reader.sample_rate(), reader.channels(), reader.GetDuration(0), reader.ScanDuration());
  DumpSamples(reader, 0, " samples");
  return 0;
}

int DumpAmr(const ov::String& path) {
  media::AmrReader reader(path);
  if (!reader.Open()) {
    // The header fields tell which storage format was met, when any was.
    std::fprintf(stderr, "dump: %s: not a single-channel AMR-NB file (header=%u rate=%u samples/frame=%u): refused\n",
                 path.ToUtf8Lossy().c_str(), reader.header_size(), reader.sample_rate(), reader.samples_per_frame());
    return 1;
  }
  std::printf("amr header=%u rate=%u samples/frame=%u\n", reader.header_size(), reader.sample_rate(),
              reader.samples_per_frame());
  std::printf("duration=%" PRId64 " ms\n", reader.GetDuration(0));
  DumpSamples(reader, 0, "ms");
  return 0;
}

int DumpMpa(const ov::String& path) {
  try {
    media::CMPAAudioFile file(path);
    const media::CMPAFrame& f = file.first_frame();
    std::printf("mpeg version=%u layer=%u rate=%u bitrate=%u mode=%u first_frame=%u length=%u\n", f.header.version,
                f.header.layer + 1, f.header.sample_rate, f.header.bit_rate, f.header.channel_mode, f.offset,
                f.length);
    if (const media::CMPAVbrHeader* vbr = file.vbr()) {
      std::printf("vbr frames=%u bytes=%u toc=%zu\n", vbr->frames, vbr->bytes, vbr->toc.size());
    }
    std::printf("bytes/s=%u duration=%u ms\n", file.average_bytes_per_second(), file.DurationMs());
  } catch (const media::CMPAException& e) {
    std::fprintf(stderr, "dump: %s: MPEG audio error %u %s\n", path.ToUtf8Lossy().c_str(), static_cast<unsigned>(e.id()),
                 e.call().c_str());
    return 1;
  }
  return 0;
}

int DumpWav(const ov::String& path) {
  media::WavFile wav;
  std::vector<uint8_t> chunk;
  uint32_t status = wav.Open(path, ov::kGenericRead, ov::CreateMode::kOpenExisting, media::WavFormat(), &chunk);
  if (status != 0) {
    std::fprintf(stderr, "dump: %s: not a WAVE file we read (%s)\n", path.ToUtf8Lossy().c_str(), ov::ErrorText(status));
    return 1;
  }
  const media::WavFormat& f = wav.format;
  std::printf("wav tag=%u channels=%u rate=%u bytes/s=%u align=%u bits=%u fmt=%zu fact=%u data_offset=%u data=%u\n",
              f.formatTag, f.channels, f.samplesPerSecond, f.averageBytesPerSecond, f.blockAlign, f.bitsPerSample,
              chunk.size() - 2, wav.factValue, wav.dataOffset, wav.dataSize);
  return 0;
}

int RunDump(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ovtool dump FILE\n");
    return 2;
  }
  if (!ovtool::CheckInputFile("dump", argv[1])) return 1;
  ov::String path = ov::String::FromUtf8Lossy(argv[1]);
  if (path.EndsWithNoCase(u".aac")) return DumpAdts(path);
  if (path.EndsWithNoCase(u".amr")) return DumpAmr(path);
  if (path.EndsWithNoCase(u".mp3") || path.EndsWithNoCase(u".mp2")) return DumpMpa(path);
  if (path.EndsWithNoCase(u".wav") || path.EndsWithNoCase(u".qvs")) return DumpWav(path);
  return DumpMp4(path);
}

}  // namespace

OVTOOL_COMMAND(dump, "dump FILE  print a media file's tracks, samples and durations", RunDump);
