#include "screens/project/channel_block.h"

#include <utility>
#include <vector>

#include "engine/engine_command.h"
#include "platform/os/file.h"
#include "screens/project/channel_selection.h"

namespace screens {
namespace {

// The smallest stored clip: four strings of one unit (6 bytes each), eleven
// words and a caption string. A clip count beyond bytes left / this cannot
// be satisfied and is refused before anything is read.
constexpr size_t kMinClipBytes = 4 * 6 + 11 * 4 + 6;

// A clip with no source file (credits, captions) counts as present.
bool SourcePresent(const ov::String& source) {
  return source.IsEmpty() || ov::GetFileAttributes(source) != ov::kInvalidAttributes;
}

}  // namespace

void SaveChannel(const ChannelSelection& ch, std::vector<uint8_t>* out) {
  const int count = ch.ClipCount();
  engine::PutU32(out, static_cast<uint32_t>(count));
  const ov::String effect_file = ch.GetEffectFile();
  for (int i = 0; i < count; ++i) {
    const ChannelClip& c = *ch.clip(i);
    engine::PutString(out, c.sourceFile);
    engine::PutString(out, c.overlayFile);
    engine::PutString(out, effect_file);
    engine::PutString(out, ch.GetClipCache(i, ch.GetKind()));
    PutI32(out, ch.GetKind());
    PutI32(out, c.fileType);
    PutI32(out, ch.GetClipDisplayTime(i));
    PutI32(out, c.photoEffect);
    PutI32(out, c.cutStart);
    PutI32(out, c.cutEnd);
    engine::PutU32(out, ch.GetClipCropRect(i));
    PutI32(out, c.cropOn);
    engine::PutU32(out, c.panStart);
    engine::PutU32(out, c.panEnd);
    PutI32(out, c.panSpeed);
    WriteTextClip(c.clipText, out);
  }
  PutI32(out, ch.loop_on());
  PutI32(out, ch.beat_match());
  PutI32(out, ch.effect_on());
  ch.channel_effect().Write(out);
}

int LoadChannel(ChannelSelection* ch, RecordReader* in, bool keep_caches, ov::String* missing) {
  ch->Clear();
  uint32_t count = 0;
  if (!in->ReadU32(&count) || count > in->left() / kMinClipBytes) return 0;
  // Each clip's cache and kind, restored once every clip is in: adding a
  // photo changes the one before it from a still, which drops its cache.
  std::vector<std::pair<ov::String, int32_t>> caches;
  for (uint32_t i = 0; i < count; ++i) {
    ov::String source, overlay, effect, cache;
    if (!in->ReadString(&source) || !in->ReadString(&overlay) || !in->ReadString(&effect)) return 0;
    if (!SourcePresent(source)) {
      if (missing) *missing = source;
      return 0;
    }
    if (!in->ReadString(&cache)) return 0;
    int32_t kind = 0, file_type = 0, display = 0, photo = 0, cut_start = 0, cut_end = 0, crop_on = 0, speed = 0;
    uint32_t crop = 0, pan_start = 0, pan_end = 0;
    if (!in->ReadI32(&kind) || !in->ReadI32(&file_type) || !in->ReadI32(&display) || !in->ReadI32(&photo) ||
        !in->ReadI32(&cut_start) || !in->ReadI32(&cut_end) || !in->ReadU32(&crop) || !in->ReadI32(&crop_on) ||
        !in->ReadU32(&pan_start) || !in->ReadU32(&pan_end) || !in->ReadI32(&speed)) {
      return 0;
    }
    TextClip caption;
    if (!ReadTextClip(&caption, in)) return 0;
    // The kind goes into the channel first, so that AddClip keeps adding
    // photos to an image channel and replaces any other content. Only once
    // the clip is whole: a clip that fails leaves the kind of the clips
    // before it, which every one of them is stored with.
    ch->SetKind(kind);
    ch->AddClip(kind, file_type, source, overlay, effect, pan_start, pan_end, speed, display, photo, cut_start, cut_end,
                crop, crop_on, &caption);
    caches.resize(static_cast<size_t>(ch->ClipCount()));  // a clip of another kind replaced the others
    caches.back() = {cache, kind};
  }
  for (size_t i = 0; keep_caches && i < caches.size(); ++i) {
    ch->SetClipCache(static_cast<int>(i), caches[i].first, caches[i].second);
  }
  int32_t loop = 0, beat = 0, effect_on = 0;
  if (!in->ReadI32(&loop) || !in->ReadI32(&beat) || !in->ReadI32(&effect_on)) return 0;
  ch->set_loop_on(loop);
  ch->set_beat_match(beat);
  ch->set_effect_on(effect_on);
  // The flag is not stored: the effect read back has it clear.
  ch->channel_effect().flag = 0;
  std::span<const uint8_t> rest = in->rest();
  if (!ch->channel_effect().Read(&rest)) return 0;
  in->Skip(in->left() - rest.size());
  ch->Refresh();
  return 1;
}

void MixChannelEntry::Reset() {
  // The volume stays: the channel's slider keeps the level it draws across a
  // clear, a change of kind or a load, and a channel reset to 0 would play
  // silent under a slider drawn at that level.
  speakerMode = 1;
  tempoLevel = 50;
  active = 0;
  playIndex = 0;
}

void MixChannelEntry::Save(ov::Archive* a) const {
  for (int32_t v : {volume, active, playIndex, tempoLevel, speakerMode}) a->WriteI32(v);
}

void MixChannelEntry::Load(ov::Archive* a) {
  for (int32_t* v : {&volume, &active, &playIndex, &tempoLevel, &speakerMode}) a->ReadI32(v);
}

}  // namespace screens
