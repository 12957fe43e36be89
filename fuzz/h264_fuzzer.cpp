// libFuzzer target of the H.264 decoder: the input is an Annex B byte stream,
// fed NAL unit by NAL unit (each in its own exact-size heap buffer), with the
// open picture finished at the end, a reset, and a second pass after it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codecs/videodec/h264/h264_annexb.h"
#include "codecs/videodec/h264/h264_core.h"
#include "platform/cpu/cpu.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// CIF: large enough for every corpus stream, small enough to stay fast.
constexpr int kMaxMacroblocks = 396;

uint32_t g_sink = 0;

void TouchPicture(void*, const videodec::h264::Picture& pic, int width, int height) {
  // Reading the whole picture lets the sanitizers see uninitialised or stray planes.
  uint32_t sum = 0;
  for (int i = 0; i < width * height * 3 / 2; i += 61) sum += pic.plane[0][i];
  g_sink += sum;
}

void DecodeAll(videodec::h264::Core& core, const uint8_t* data, size_t size) {
  size_t pos = 0, b = 0, e = 0;
  while (videodec::h264::NextAnnexBNal(data, size, pos, &b, &e)) {
    const size_t n = e - b;
    if (n > 0) {
      std::unique_ptr<uint8_t[]> nal(new uint8_t[n]);
      std::memcpy(nal.get(), data + b, n);
      core.DecodeNal(nal.get(), n, (n & 1) != 0);
    }
    pos = e > pos ? e : pos + 1;
  }
  core.FinishPicture();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i)
    if (std::strncmp((*argv)[i], "--cpumask=", 10) == 0)
      ov::SetCpuFlagsMask(static_cast<uint32_t>(std::strtoul((*argv)[i] + 10, nullptr, 0)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  videodec::h264::Core core;
  core.SetMaxMacroblocks(kMaxMacroblocks);
  core.SetPictureCallback(TouchPicture, nullptr);
  DecodeAll(core, data, size);
  core.Reset();
  DecodeAll(core, data, size);
  return 0;
}
