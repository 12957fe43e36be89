// Drives the media information over one input under each extension family:
// ASF header, ID3 tags with the MPEG-audio scan, AMR, ADTS and MP4.
#include <cstddef>
#include <cstdint>

#include "media/media_info.h"
#include "media/media_package.h"
#include "fuzz/fuzz_target.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::MemoryPackage package;
  for (const char16_t* name : {u"f.wma", u"f.mp3", u"f.amr", u"f.aac", u"f.3gp"}) package.Add(name, data, size);
  media::ScopedMediaPackage installed(&package);
  for (const char16_t* name : {u"f.wma", u"f.mp3", u"f.amr", u"f.aac", u"f.3gp"}) {
    media::MediaInfo info;
    info.ReadMediaInfo(name, 0);
  }
  return 0;
}
