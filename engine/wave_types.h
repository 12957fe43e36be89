#pragma once
// The wave-out records that pass between the audio mixer and the software
// wave mixer: PCM format, queued buffer header, open description, time query
// and the driver message codes and results.

#include <cstdint>
#include <memory>

namespace engine {

// PCM format (WAVEFORMATEX); only tag 1 (PCM) is played.
struct WaveFormatEx {
  uint16_t formatTag = 1;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t cbSize = 0;

  static WaveFormatEx Pcm(uint32_t bits, uint32_t rate, uint32_t channels) {
    WaveFormatEx f;
    f.channels = static_cast<uint16_t>(channels);
    f.samplesPerSec = rate;
    f.bitsPerSample = static_cast<uint16_t>(bits);
    f.blockAlign = static_cast<uint16_t>(bits * channels / 8);
    f.avgBytesPerSec = f.blockAlign * rate;
    return f;
  }
};

// Buffer header flags.
enum : uint32_t {
  WHDR_DONE = 1,
  WHDR_PREPARED = 2,
  WHDR_BEGINLOOP = 4,
  WHDR_ENDLOOP = 8,
  WHDR_INQUEUE = 16,
};

// A queued buffer (WAVEHDR). Once queued, the header and its data belong to
// the software wave mixer, which frees both when they have been played.
struct WaveHeader {
  std::unique_ptr<uint8_t[]> data;
  uint32_t bufferLength = 0;
  uintptr_t user = 0;
  uint32_t flags = 0;
  uint32_t loops = 0;
};

// Client notification: (client handle, message, instance, param1, param2).
using WaveCallback = void (*)(uintptr_t handle, uint32_t message, uintptr_t instance, uintptr_t param1,
                              uintptr_t param2);

struct WaveOpenDesc {
  uintptr_t handle = 0;
  const WaveFormatEx* format = nullptr;
  WaveCallback callback = nullptr;
  uintptr_t instance = 0;
};

// Device capabilities (WAVEOUTCAPS, 84 bytes as stored).
struct WaveOutCaps {
  uint16_t manufacturerId = 0;
  uint16_t productId = 0;
  uint32_t driverVersion = 0;
  char16_t name[32] = {};
  uint32_t formats = 0;
  uint16_t channels = 0;
  uint16_t reserved = 0;
  uint32_t support = 0;
};
static_assert(sizeof(WaveOutCaps) == 84, "WAVEOUTCAPS is 84 bytes");

// Time query (MMTIME): type 1 ms, 2 samples, 4 bytes, 64 queued ms.
enum : uint32_t { TIME_MS = 1, TIME_SAMPLES = 2, TIME_BYTES = 4, TIME_QUEUED_MS = 64 };
struct MmTime {
  uint32_t type = TIME_BYTES;
  uint32_t value = 0;
};

// Driver messages (WODM_*).
enum : uint32_t {
  WODM_OPEN = 5,
  WODM_CLOSE = 6,
  WODM_WRITE = 9,
  WODM_PAUSE = 10,
  WODM_RESTART = 11,
  WODM_RESET = 12,
  WODM_GETPOS = 13,
  WODM_GETVOLUME = 16,
  WODM_SETVOLUME = 17,
  WODM_GETPLAYBACKRATE = 18,
  WODM_SETSAMPLERATE = 19,
  WODM_BREAKLOOP = 20,
  WODM_SETGAINSELECT = 1024,
  WODM_SETDEVICEGAIN = 1025,
  WODM_RENDER = 4096,
};

// Client notifications.
enum : uint32_t { WOM_OPEN = 955, WOM_CLOSE = 956, WOM_DONE = 957 };

// Results.
enum : uint32_t {
  MMSYSERR_NOERROR = 0,
  MMSYSERR_ERROR = 1,
  MMSYSERR_INVALHANDLE = 5,
  MMSYSERR_NOMEM = 7,
  MMSYSERR_NOTSUPPORTED = 8,
  MMSYSERR_INVALPARAM = 11,
  WAVERR_BADFORMAT = 32,
  WAVERR_UNPREPARED = 34,
};

// Open flag: only check the format.
constexpr uint32_t WAVE_FORMAT_QUERY = 1;

}  // namespace engine
