// Drives the picture decoders as the picture helpers do: header, whole
// decode, drawing into a small rectangle and a thumbnail. A low pixel limit
// keeps each input quick and within the fuzzer's memory.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_target.h"
#include "platform/gfx/dc.h"
#include "platform/imaging/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imaging::SetMaxDecodePixels(int64_t(4) << 20);
  imaging::Status status;
  auto image = imaging::Image::FromBuffer(data, size, &status);
  if (!image) return 0;
  imaging::Picture picture;
  image->Decode(&picture);
  auto dc = gfx::CreateCompatibleDC(nullptr);
  dc->SelectBitmap(gfx::CreateBitmap565(40, 30));
  image->Draw(dc.get(), {-3, 2, 37, 29});
  if (auto thumb = image->GetThumbnail(17, 11, &status)) thumb->Draw(dc.get(), {0, 0, 17, 11});
  return 0;
}
