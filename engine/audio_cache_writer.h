#pragma once
// AudioCacheWriter: decodes the sound of one mix item once into a PCM WAVE
// file ("audio%d.qvs" in the temporary folder), so that playback and export
// read plain PCM. The item plays through a private AudioMixer in its channel
// 0; the decode-to-cache job calls Step until it reports 100, then Close.
//
// Thread rule: one thread (the decode-to-cache job's) owns a writer.

#include <cstdint>
#include <memory>

#include "engine/audio_mixer.h"
#include "media/wav_file.h"
#include "platform/os/ov_string.h"

namespace engine {

class AudioCacheWriter {
 public:
  // Bytes mixed per Step.
  static constexpr uint32_t kBlockBytes = 10240;

  // Loads `sourcePath` between `startMs` and `endMs` into channel 0 of a new
  // mixer (bits, rate, channels), starts it and creates the PCM WAVE file at
  // `outputPath` (created or truncated). A source that cannot be loaded or a
  // file that cannot be created leaves the writer unusable: Step answers -1.
  AudioCacheWriter(const ov::String& sourcePath, const ov::String& outputPath, uint32_t channels, uint32_t rate,
                   uint32_t bits, uint32_t startMs, uint32_t endMs);
  ~AudioCacheWriter();
  AudioCacheWriter(const AudioCacheWriter&) = delete;
  AudioCacheWriter& operator=(const AudioCacheWriter&) = delete;

  // Mixes and appends one block. Returns 100 once the item has played to its
  // end (the file is then closed), else the bytes written so far in percent of
  // the bytes expected, at most 99 (only the end says 100),
  // or -1 when the writer is unusable or closed, a write fails, or no bytes
  // are expected.
  int Step();
  // Closes the file and drops the mixer; either may already be gone.
  void Close();

  uint32_t bytesExpected() const { return bytesExpected_; }

 private:
  std::unique_ptr<AudioMixer> mixer_;
  std::unique_ptr<media::WavFile> wav_;
  uint32_t bytesExpected_ = 0;
  uint64_t bytesWritten_ = 0;
};

}  // namespace engine
