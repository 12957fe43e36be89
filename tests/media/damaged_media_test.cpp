// Every media fixture, cut off at several points and with bytes overwritten,
// through every way the program opens it: the reader of its extension with
// all its samples and seeks, the audio source factory, and the media
// information. Each must fail cleanly or deliver, never crash or hang.
#include <gtest/gtest.h>

#include <fstream>

#include "media/adts_reader.h"
#include "media/amr_reader.h"
#include "media/decoder_source.h"
#include "media/media_info.h"
#include "media/mp4_reader.h"
#include "tests/media/media_test_util.h"
#include "tests/support/test_paths.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Exercise(const std::string& path) {
  ov::String p = mediatest::U16(path);
  std::unique_ptr<media::MediaReader> reader;
  if (p.EndsWithNoCase(u".aac")) {
    reader = std::make_unique<media::AdtsReader>(p);
  } else if (p.EndsWithNoCase(u".amr")) {
    reader = std::make_unique<media::AmrReader>(p);
  } else if (!p.EndsWithNoCase(u".wav") && !p.EndsWithNoCase(u".mp3")) {
    reader = std::make_unique<media::Mp4Reader>(p);
  }
  if (reader && reader->Open()) {
    int tracks = reader->kind == media::MediaReader::kMp4 ? static_cast<media::Mp4Reader*>(reader.get())->track_count() : 1;
    for (int t = 0; t < tracks; ++t) {
      auto cursor = reader->OpenTrack(t);
      std::unique_ptr<uint8_t[]> sample;
      uint32_t bytes = 0, time = 0;
      while (reader->ReadSample(cursor.get(), &sample, &bytes, &time)) {
      }
      reader->Seek(cursor.get(), 700);
      reader->ReadSample(cursor.get(), &sample, &bytes, &time);
      reader->GetDuration(t);
    }
  }
  if (auto source = media::OpenAudioSource(p)) {
    uint32_t bytes = 0, time = 0;
    while (source->ReadAudio(4096, &bytes, &time)) {
    }
    source->Seek(300);
    source->ReadAudio(4096, &bytes, &time);
  }
  media::MediaInfo info;
  info.ReadMediaInfo(p, 0);
}

TEST(DamagedMedia, EveryFixtureCutAndCorrupted) {
  const char* fixtures[] = {
      "media_pcm8_mono.wav",   "media_pcm16_stereo.wav", "media_pcm24_mono.wav", "media_pcm32_stereo.wav",
      "media_gsm.wav",         "media_list.wav",         "media_122.amr",        "media_475.amr",
      "media_22k_mono.aac",    "media_44k_stereo.aac",   "media_h263_amr.3gp",   "media_mpeg4_aac.mp4",
      "media_h264_aac.mp4",    "media_aac.m4a",          "media_mpeg4_aac.3g2",  "media_cbr.mp3",
      "media_vbr.mp3",         "media_mpeg2.mp3",        "media_mpeg25.mp3",     "media_trunc_h264_aac.mp4",
      "media_trunc_44k_stereo.aac", "media_trunc_122.amr", "media_trunc_gsm.wav", "media_damaged_h263_amr.3gp",
  };
  std::string dir = ovtest::ScratchDir();
  for (const char* name : fixtures) {
    std::string path = ovtest::FixturePath(name);
    OV_SKIP_WITHOUT_FIXTURE(path);
    Bytes original = ovtest::ReadFileBytes(path);
    Exercise(path);
    std::string ext = std::string(name).substr(std::string(name).rfind('.'));
    for (uint32_t variant = 0; variant < 12; ++variant) {
      Bytes bytes = variant < 6 ? Bytes(original.begin(), original.begin() + original.size() * variant / 6 + variant)
                                : mediatest::Corrupt(original, variant * 7919 + static_cast<uint32_t>(original.size()),
                                                     16, variant % 2 ? 0 : 64);
      std::string copy = dir + "/copy" + ext;
      std::ofstream(copy, std::ios::binary | std::ios::trunc)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      SCOPED_TRACE(std::string(name) + " variant " + std::to_string(variant));
      Exercise(copy);
    }
  }
}

}  // namespace
