// Drives AmrReader and the AMR decoder source over it: open, duration, decode
// every frame, seek.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_target.h"
#include "fuzz/sound_source_fuzz.h"
#include "media/amr_decoder_source.h"
#include "media/amr_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ovfuzz::InputAsPackageFile input(u"fuzz.amr", data, size);
  auto reader = std::make_unique<media::AmrReader>(u"fuzz.amr");
  if (!reader->Open()) return 0;
  reader->GetDuration(0);
  media::AmrDecoderSource source(std::move(reader));
  if (!source.Open(u"fuzz.amr", 1)) return 0;
  ovfuzz::ReadBlocks(source, 320, 2048);
  source.Seek(1005);
  ovfuzz::ReadBlocks(source, 320, 1);
  return 0;
}
