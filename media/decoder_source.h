#pragma once
// DecoderSource: an opened clip that hands out decoded media: blocks of PCM
// for audio clips, RGB565 frames for video clips, one frame for a still
// picture, or frames drawn on request for rendered clips. The engine's mixers,
// the export and decode-to-cache jobs and the clip editors read every clip
// through this interface, whatever the container or codec underneath.
//
// Times are milliseconds of clip time everywhere at this interface.
// Failures are reported by results alone (false, null); nothing throws and no
// message is shown. A source has no lock of its own: its owner serialises the
// calls (the mixers under their mutexes).

#include <cstdint>
#include <memory>
#include <string>

#include "platform/os/ov_string.h"

namespace gfx {
class DeviceContext;
}

namespace media {

// What a source delivers (GetFormat). Audio sources fill the first three
// fields and zero the next three; video sources zero the first four (codec
// sources) and fill height and width.
struct MediaFormat {
  uint32_t sampleRate = 0;       // Hz (audio)
  uint32_t bitsPerSample = 0;    // 16, or 8 for 8-bit WAV (audio)
  uint32_t channels = 0;         // 1 or 2 (audio)
  uint32_t frameDurationMs = 0;  // ms per frame of cache and ".qbt" clips; see the sources
  uint32_t height = 0;           // pixels (video)
  uint32_t width = 0;            // pixels (video)
  uint32_t rendered = 0;         // 1: frames come from RenderFrame
  uint32_t hasColourKey = 0;     // 1: colourKey marks transparent pixels
  uint32_t colourKey = 0;        // transparent colour, 0x00BBGGRR
};

class DecoderSource {
 public:
  DecoderSource() = default;
  virtual ~DecoderSource();
  DecoderSource(const DecoderSource&) = delete;
  DecoderSource& operator=(const DecoderSource&) = delete;

  // Positions the source so that the next read delivers media from `timeMs` on.
  virtual bool Seek(uint32_t timeMs) = 0;
  // Back to the start of the clip (decoder sources: Seek(0)).
  virtual bool Rewind() = 0;
  // Describes the decoded media; false when the source delivers none.
  virtual bool GetFormat(MediaFormat* out) = 0;
  // Next block of PCM in a new buffer owned by the caller; `bytes` is its
  // length and `timeMs` the clip time of its first sample. `requestedBytes`
  // is the caller's wish, which sources may ignore. Null: end or failure.
  virtual std::unique_ptr<uint8_t[]> ReadAudio(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs);
  // Next RGB565 frame. `*buffer` holds the previous frame (or null), which
  // the source frees; a new buffer is returned through it. False: end or
  // failure. `single` (0 from the video mixer) is read by the WMV source only.
  virtual bool ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs,
                              uint32_t single);
  // Draws the frame for `timeMs` onto `surface` at (0, 0, width, height)
  // of the format (rendered clips). What the clip leaves undrawn (a caption's
  // background when it has none) keeps the surface's own pixels.
  virtual bool RenderFrame(uint32_t timeMs, gfx::DeviceContext* surface);
  // True when ReadVideoFrame delivers rows bottom-up (first picture row last).
  virtual bool IsBottomUp();
  // Whether Seek reaches an arbitrary time.
  virtual bool CanSeek();
  // Opens the clip. `scale` enlarges the target size of still pictures and is
  // ignored by the other sources (1 from every opener).
  virtual bool Open(const ov::String& path, uint32_t scale) = 0;

  ov::String path;    // the clip's file path, stored by the opener before Open
  uint32_t startMark = 0; // ms; 0 = start of clip
  uint32_t endMark = 0;   // ms; 0 = none. Sources stop once their time passes it;
                          // audio sources cut the last block to end at it.
};

// Opens the audio source for `path`, chosen by its extension (case-insensitive):
// ".wav" and ".qvs" (the decoded-audio cache) give a WavSource, ".amr" and the
// AMR sound track of ".3gp", ".3gpp", ".3g2", ".mp4", ".m4a", ".mov", ".mpa"
// files an AmrDecoderSource. Null when the file cannot be opened as audio,
// for ".mid", for paths shorter than 5 characters and for other extensions.
// ".aac" files and the AAC sound track of the same MP4 family give an
// AacDecoderSource. ".wma" and ".wmv" (the file's audio stream) give a
// WmaDmoSource; ".mp3" an Mp3DmoSource (the platform's MP3 decoder object).
std::unique_ptr<DecoderSource> OpenAudioSource(const ov::String& path);

// Why `path` gives no sound through OpenAudioSource, for the user (a WAV
// file's own reason: a damaged header, a format other than PCM and GSM
// 6.10, ...); empty when it opens.
ov::String AudioClipProblem(const ov::String& path);

}  // namespace media
