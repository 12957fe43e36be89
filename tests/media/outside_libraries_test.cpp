// The outside codec and window libraries are loaded on their first use, not
// when the program starts: a process that never opens an outside decoder, a
// window or a sound device does not map libavcodec, SDL2 and the hundred
// libraries behind them. Checked in a child process, which no earlier test
// of this one can have made load them.
#include <link.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include <SDL.h>
extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

bool Mapped(const char* name) {
  auto found = [](dl_phdr_info* info, size_t, void* data) {
    return info->dlpi_name != nullptr && std::strstr(info->dlpi_name, static_cast<const char*>(data)) != nullptr ? 1
                                                                                                                 : 0;
  };
  return dl_iterate_phdr(found, const_cast<char*>(name)) != 0;
}

TEST(OutsideLibraries, LoadedOnTheirFirstCall) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int failed = 0;
    if (Mapped("libavcodec.so")) failed |= 1;
    if (Mapped("libSDL2")) failed |= 2;
    // The first call loads the library and reaches its own function.
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_WMAV2);
    if (codec == nullptr || codec->id != AV_CODEC_ID_WMAV2) failed |= 4;
    if (!Mapped("libavcodec.so")) failed |= 8;
    if (SDL_InitSubSystem(SDL_INIT_TIMER) != 0) failed |= 16;
    if (!Mapped("libSDL2")) failed |= 32;
    SDL_QuitSubSystem(SDL_INIT_TIMER);
    _exit(failed);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  const int failed = WEXITSTATUS(status);
  EXPECT_FALSE(failed & 1) << "libavcodec mapped before its first call";
  EXPECT_FALSE(failed & 2) << "SDL2 mapped before its first call";
  EXPECT_FALSE(failed & 4) << "avcodec_find_decoder did not reach the library";
  EXPECT_FALSE(failed & 8) << "libavcodec not mapped after its first call";
  EXPECT_FALSE(failed & 16) << "SDL_InitSubSystem did not reach the library";
  EXPECT_FALSE(failed & 32) << "SDL2 not mapped after its first call";
}

}  // namespace
