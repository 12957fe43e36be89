#include "engine/video_source_factory.h"

#include <cctype>
#include <string>

#include "engine/picture_source.h"
#include "engine/raw_frame_cache_source.h"
#include "engine/rendered_clip_source.h"
#include "engine/video_mixer.h"
#include "media/mp4_reader.h"
#include "media/qbt_source.h"
#include "media/video_track_source.h"
#include "media/wmv_dmo_source.h"

namespace engine {

namespace {

// The text from the last '.', lower case (empty when there is none).
std::string LowerExtension(const std::string& utf8) {
  const size_t dot = utf8.find_last_of('.');
  if (dot == std::string::npos) return {};
  std::string ext = utf8.substr(dot);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool IsMp4Family(const std::string& ext) {
  return ext == ".3gpp" || ext == ".3g2" || ext == ".mp4" || ext == ".3gp" || ext == ".mov";
}

}  // namespace

bool IsTextClipDescriptor(const ov::String& path) {
  static constexpr std::u16string_view kMarker = u"**TEXT**";
  return path.Length() > int(kMarker.size()) && path.StartsWith(kMarker);
}

std::unique_ptr<media::DecoderSource> OpenVideoSource(const ov::String& path, const VideoMixer* context,
                                                      int32_t index, uint32_t flag) {
  if (IsTextClipDescriptor(path)) {
    if (!context) return nullptr;
    auto text = std::make_unique<RenderedClipSource>(context->width(), context->height());
    text->path = path;
    if (!text->Open(path, 1)) return nullptr;
    return text;
  }
  if (path.Length() < 5) return nullptr;
  const std::string ext = LowerExtension(path.ToUtf8Lossy());
  std::unique_ptr<media::DecoderSource> source;
  uint32_t openFlag = 1;
  if (ext == ".raw") {
    source = std::make_unique<RawFrameCacheSource>();
  } else if (ext == ".gif" || ext == ".jpg" || ext == ".bmp" || ext == ".png") {
    const int32_t w = context ? context->width() : 176;
    const int32_t h = context ? context->height() : 144;
    source = std::make_unique<PictureSource>(w, h, index < 0 ? PictureSource::kNoBackground : uint32_t(index));
    openFlag = flag;
  } else if (ext == ".qbt") {
    source = std::make_unique<media::QbtSource>();
  } else if (ext == ".wmv") {
    source = std::make_unique<media::WmvDmoSource>();
  } else if (IsMp4Family(ext)) {
    // The track's codec picks the source (none for a file without one).
    source = media::MakeVideoTrackSource(std::make_unique<media::Mp4Reader>(path));
  }
  if (!source) return nullptr;
  source->path = path;
  if (!source->Open(path, openFlag)) return nullptr;
  return source;
}

}  // namespace engine
