// OpenAudioSource: picks and opens the audio source for a file name.
#include <memory>

#include "media/aac_decoder_source.h"
#include "media/adts_reader.h"
#include "media/amr_decoder_source.h"
#include "media/amr_reader.h"
#include "media/decoder_source.h"
#include "media/mp3_dmo_source.h"
#include "media/mp4_reader.h"
#include "media/wav_source.h"
#include "media/wma_dmo_source.h"

namespace media {

std::unique_ptr<DecoderSource> OpenAudioSource(const ov::String& path) {
  if (path.Length() < 5) return nullptr;
  std::unique_ptr<DecoderSource> source;
  if (path.EndsWithNoCase(u".wma") || path.EndsWithNoCase(u".wmv")) {
    // The sound of a ".wmv" is its audio stream.
    source = std::make_unique<WmaDmoSource>();
  } else if (path.EndsWithNoCase(u".mp3")) {
    source = std::make_unique<Mp3DmoSource>();
  } else if (path.EndsWithNoCase(u".mid")) {
    return nullptr;
  } else if (path.EndsWithNoCase(u".wav") || path.EndsWithNoCase(u".qvs")) {
    source = std::make_unique<WavSource>();
  } else if (path.EndsWithNoCase(u".amr")) {
    auto reader = std::make_unique<AmrReader>(path);
    if (!reader->Open()) return nullptr;
    source = std::make_unique<AmrDecoderSource>(std::move(reader));
  } else if (path.EndsWithNoCase(u".aac")) {
    auto reader = std::make_unique<AdtsReader>(path);
    if (!reader->Open()) return nullptr;
    source = std::make_unique<AacDecoderSource>(std::move(reader));
  } else if (path.EndsWithNoCase(u".3gpp") || path.EndsWithNoCase(u".3g2") || path.EndsWithNoCase(u".mp4") ||
             path.EndsWithNoCase(u".mpa") || path.EndsWithNoCase(u".m4a") || path.EndsWithNoCase(u".3gp") ||
             path.EndsWithNoCase(u".mov")) {
    auto reader = std::make_unique<Mp4Reader>(path);
    if (reader->amr()) {
      source = std::make_unique<AmrDecoderSource>(std::move(reader));
    } else if (reader->HasDecoderConfig(false)) {
      // An AAC sound track: its "esds" carries the AudioSpecificConfig.
      source = std::make_unique<AacDecoderSource>(std::move(reader));
    } else {
      // Any other track has no audio source. The reader is destroyed here.
      return nullptr;
    }
  } else {
    return nullptr;
  }
  source->path = path;
  if (!source->Open(path, 1)) return nullptr;
  return source;
}

ov::String AudioClipProblem(const ov::String& path) {
  if (path.EndsWithNoCase(u".wav") || path.EndsWithNoCase(u".qvs")) {
    WavSource wav;
    return wav.Open(path, 1) ? ov::String() : ov::String::FromUtf8Lossy(wav.failure());
  }
  if (OpenAudioSource(path)) return ov::String();
  return u"no sound this program can decode";
}

}  // namespace media
