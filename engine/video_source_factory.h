#pragma once
// OpenVideoSource: turns a file name into an opened video DecoderSource, the
// object through which a picture, a frame cache or the video track of an
// MP4/3GP file yields RGB565 frames. The video mixer opens its channels' clips
// and caches through it; the media browser its thumbnails.

#include <cstdint>
#include <memory>

#include "media/decoder_source.h"
#include "platform/os/ov_string.h"

namespace engine {

class VideoMixer;

// By extension (case-insensitive): ".raw" a RawFrameCacheSource; ".gif",
// ".jpg", ".bmp", ".png" a PictureSource made for `context`'s frame size
// (176 x 144 without a mixer) with background colour `index` (-1: none),
// opened with scale `flag`; ".qbt" a QbtSource; ".wmv" a WmvDmoSource (the
// file's video stream); ".3gpp", ".3g2", ".mp4", ".3gp", ".mov" the video-track source of
// the file's H.263, H.264 or MPEG-4 Part 2 track (media/video_track_source.h:
// bottom-up frames at the track's size). A text clip's descriptor (it starts
// with "**TEXT**") gives a RenderedClipSource at the mixer's frame size (null
// without a mixer or without a registered text renderer). Null for paths
// shorter than 5 characters, other extensions, an MP4-family file without
// such a track and sources that fail to open.
std::unique_ptr<media::DecoderSource> OpenVideoSource(const ov::String& path, const VideoMixer* context,
                                                      int32_t index, uint32_t flag);

// Longer than the marker and starting with "**TEXT**" exactly.
bool IsTextClipDescriptor(const ov::String& path);

}  // namespace engine
