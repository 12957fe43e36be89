#include "engine/video_source_factory.h"

#include <cctype>
#include <string>

#include "engine/raw_frame_cache_source.h"

namespace engine {

namespace {

std::string LowerExtension(const ov::String& path) {
  const std::string utf8 = path.ToUtf8Lossy();
  const size_t dot = utf8.find_last_of('.');
  const size_t slash = utf8.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = utf8.substr(dot);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace

std::unique_ptr<media::DecoderSource> OpenVideoSource(const ov::String& path, uint32_t /*mode*/) {
  const std::string ext = LowerExtension(path);
  std::unique_ptr<media::DecoderSource> source;
  if (ext == ".raw") source = std::make_unique<RawFrameCacheSource>();
  if (!source) return nullptr;
  source->path = path;
  if (!source->Open(path, 1)) return nullptr;
  return source;
}

}  // namespace engine
