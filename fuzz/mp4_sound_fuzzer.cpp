// Drives the MP4/3GP sound sources as the mixers do, where the edit lists
// are applied (the lead-in and the edit's end trimmed, an empty edit's
// silence delivered): the AAC or AMR source over an Mp4Reader opened, every
// block read, a seek with an end mark, a rewind and a seek to 0.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_target.h"
#include "fuzz/sound_source_fuzz.h"
#include "media/aac_decoder_source.h"
#include "media/amr_decoder_source.h"
#include "media/mp4_reader.h"

namespace {

// Blocks read in each pass: a hostile edit may ask for hours of silence.
constexpr int kMaxBlocks = 2048;

void ReadBlocks(media::DecoderSource& source, int limit) { ovfuzz::ReadBlocks(source, 4096, limit); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ovfuzz::InputAsPackageFile input(u"fuzz.mp4", data, size);
  auto reader = std::make_unique<media::Mp4Reader>(u"fuzz.mp4");
  if (!reader->Open()) return 0;
  std::unique_ptr<media::DecoderSource> source;
  if (reader->amr()) {
    source = std::make_unique<media::AmrDecoderSource>(std::move(reader));
  } else {
    source = std::make_unique<media::AacDecoderSource>(std::move(reader));
  }
  if (!source->Open(u"fuzz.mp4", 1)) return 0;
  ReadBlocks(*source, kMaxBlocks);
  if (source->Seek(700)) {
    source->endMark = 900;
    ReadBlocks(*source, 64);
  }
  source->endMark = 0;
  if (source->Rewind()) ReadBlocks(*source, kMaxBlocks);
  if (source->Seek(0)) ReadBlocks(*source, 16);
  return 0;
}
