#pragma once
// ChannelClip: one clip of a mix channel: the media file and everything the
// user set on it in the editors, plus the names of the cache files decoding
// produced for it. Owned by its ChannelSelection; never copied as a whole.

#include <cstdint>

#include "engine/picture565.h"
#include "platform/os/ov_string.h"
#include "screens/project/text_clip.h"

namespace screens {

using engine::kWholePicture;
inline constexpr int32_t kDefaultPanSpeed = 500;

struct ChannelClip {
  int32_t fileType = 0;
  ov::String sourceFile;  // empty for a text-only clip
  ov::String overlayFile;
  int32_t photoEffect = 0;  // 0 none, else effect number + 1
  ov::String effectFile;    // meaningful on the first clip of a channel
  ov::String effectCache;
  ov::String pictureCache;
  ov::String overlayCache;
  ov::String pictureCache2;
  ov::String audioCache;
  ov::String textCache;
  int32_t displayTime = 0;  // ms a photo stays on screen
  uint32_t panStart = kWholePicture;
  uint32_t panEnd = kWholePicture;
  int32_t panSpeed = kDefaultPanSpeed;
  uint32_t cropRect = kWholePicture;
  int32_t cropOn = 0;
  int32_t pictureWidth = 0;  // not stored
  int32_t pictureHeight = 0;
  int32_t cutStart = 0;
  int32_t cutEnd = 0;
  int32_t audioProbe = 0;  // 0 not probed, 1 no sound, 2 sound; not stored
  TextClip clipText;
};

}  // namespace screens
