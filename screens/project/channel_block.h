#pragma once
// The channel block of the project file and the mixer's channel entry.
//
// Channel block (little-endian; strings as engine::PutString stores them):
// u32 clip count; per clip: source, overlay, the first clip's effect file,
// the cache named by the channel's kind (strings), then kind, fileType,
// displayTime (0 for an image channel of one clip), photoEffect, cutStart,
// cutEnd, cropRect (whole picture while crop is off), cropOn, panStart,
// panEnd, panSpeed (words) and the caption's text-clip descriptor; then
// loopOn, beatMatch, effectOn and the channel effect in the engine
// command's stored form. An empty channel's block is 60 bytes.

#include <cstdint>
#include <vector>

#include "platform/os/archive.h"
#include "platform/os/ov_string.h"
#include "screens/project/record_reader.h"

namespace ui {
class Element;
}

namespace screens {

class ChannelSelection;

void SaveChannel(const ChannelSelection& channel, std::vector<uint8_t>* out);

// Empties the channel and reads one block into it. 1 when the whole block
// was read and applied; 0 when it is short or damaged (a count or length
// beyond the bytes left, a damaged caption) or a clip's source file no
// longer exists. The clips read before a failure stay. `keep_caches` (a
// rotation reads its own copy back) keeps the cache names; otherwise they
// are dropped and the clips are decoded to cache again. No message is shown
// here: when a clip's file is missing, `missing` (when given) receives its
// name as stored, so that the caller can report it.
int LoadChannel(ChannelSelection* channel, RecordReader* in, bool keep_caches, ov::String* missing = nullptr);

// The mixer's record of one channel of its table: the channel element, the
// names of its indicator elements from the mixer's skin and those elements,
// and the live settings kept beside the document.
struct MixChannelEntry {
  ChannelSelection* channel = nullptr;
  ov::String iconVidName, iconAudName, iconPicName, fileNameName, invalidIconName, tempoIconName, speakerIconName;
  ui::Element* iconVid = nullptr;
  ui::Element* iconAud = nullptr;
  ui::Element* iconPic = nullptr;
  ui::Element* fileNameText = nullptr;
  ui::Element* invalidIcon = nullptr;
  ui::Element* tempoIcon = nullptr;
  ui::Element* speakerIcon = nullptr;
  int32_t speakerMode = 1;  // 1: the level control sets the volume; 0: the tempo
  int32_t volume = 0;       // 0-100
  int32_t tempoLevel = 50;  // 0-100, 50 normal speed
  int32_t active = 0;
  int32_t playIndex = 0;

  // The live settings back to their start values; channel, names and the
  // volume (which its slider keeps drawing) stay.
  void Reset();
  // Rotation state: volume, active, playIndex, tempoLevel, speakerMode.
  void Save(ov::Archive* archive) const;
  void Load(ov::Archive* archive);
};

}  // namespace screens
