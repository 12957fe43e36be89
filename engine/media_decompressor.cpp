#include "engine/media_decompressor.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include "engine/audio_cache_writer.h"
#include "engine/raw_frame_cache_format.h"
#include "engine/raw_frame_cache_writer.h"
#include "engine/text_clip_renderer.h"
#include "engine/video_mixer.h"
#include "media/media_info.h"
#include "media/qbt_source.h"
#include "media/wav_source.h"
#include "platform/os/file.h"
#include "platform/os/folders.h"

namespace engine {
namespace {

constexpr uint32_t kCacheRate = 11025;
constexpr uint32_t kCacheBits = 16;
constexpr uint32_t kCacheChannels = 2;
constexpr int32_t kDefaultWidth = 176, kDefaultHeight = 144;
constexpr uint32_t kDefaultFps = 10;

void Breathe() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

bool EndsWithNoCase(const ov::String& s, std::u16string_view tail) {
  const int n = static_cast<int>(tail.size());
  return s.Length() >= n && s.Mid(s.Length() - n).EqualsNoCase(tail);
}

// The header of the ".raw" cache at `path` and the file's size.
bool ReadRawHeader(const ov::String& path, RawFrameHeader* h, uint64_t* size) {
  ov::File f;
  if (!f.Open(path, ov::kGenericRead, ov::kShareRead, ov::CreateMode::kOpenExisting)) return false;
  uint8_t bytes[kRawHeaderBytes] = {};
  uint32_t got = 0;
  return f.Read(bytes, kRawHeaderBytes, &got) && got == kRawHeaderBytes && h->Parse(bytes) && f.GetSize(size);
}

uint32_t RawCacheDuration(const ov::String& path) {
  RawFrameHeader h;
  uint64_t size = 0;
  if (!ReadRawHeader(path, &h, &size) || h.isMask || h.frameDuration == kRawStillDuration) return 0;
  const uint64_t frames = size > kRawHeaderBytes ? (size - kRawHeaderBytes) / h.FrameBytes() : 0;
  return static_cast<uint32_t>(std::min<uint64_t>(frames * h.frameDuration, UINT32_MAX));
}

// A ".qbt" animation lasts its complete coded frames times the header's
// frame duration. The source reads one black frame after the last good one
// (the end of the file or a damaged frame) before it ends: that frame is not
// part of the clip, so a cache written to this duration ends on the last
// coded frame.
uint32_t QbtDuration(const ov::String& path) {
  media::QbtSource qbt;
  media::MediaFormat format;
  if (!qbt.Open(path, 0) || !qbt.GetFormat(&format)) return 0;
  uint64_t delivered = 0;
  std::unique_ptr<uint8_t[]> frame;
  uint32_t bytes = 0, time = 0;
  while (qbt.ReadVideoFrame(&frame, &bytes, &time, 0)) ++delivered;
  const uint64_t coded = delivered > 0 ? delivered - 1 : 0;
  return static_cast<uint32_t>(std::min<uint64_t>(coded * format.frameDurationMs, UINT32_MAX));
}

// The time one coded frame of an effect file lasts: the ".qbt" header's or
// the ".raw" header's frame duration; 0 when the file has none.
uint32_t CodedFrameDurationMs(const ov::String& path) {
  if (EndsWithNoCase(path, u".qbt")) {
    media::QbtSource qbt;
    media::MediaFormat format;
    return qbt.Open(path, 0) && qbt.GetFormat(&format) ? format.frameDurationMs : 0;
  }
  RawFrameHeader h;
  uint64_t size = 0;
  if (!EndsWithNoCase(path, u".raw") || !ReadRawHeader(path, &h, &size)) return 0;
  return h.frameDuration == kRawStillDuration ? 0 : h.frameDuration;
}

}  // namespace

CacheClipChannel CacheClipChannel::CopyOf(const CacheChannel& from) {
  std::vector<CacheClip> clips;
  for (int i = 0; i < from.ClipCount(); ++i) {
    CacheClip c;
    c.source = from.GetClipFile(i);
    c.overlay = from.GetClipOverlayFile(i);
    c.text = from.GetClipTextDescriptor(i);
    from.GetClipCutPoints(i, &c.cutStart, &c.cutEnd);
    c.displayTime = from.GetClipDisplayTime(i);
    c.crop = from.GetClipCropRect(i);
    c.needsAudio = from.ClipNeedsAudioCache(i);
    c.needsPicture = from.ClipNeedsPictureCache(i, false);
    c.needsPicture2 = from.ClipNeedsPictureCache(i, true);
    c.needsOverlay = from.ClipNeedsOverlayCache(i);
    clips.push_back(std::move(c));
  }
  CacheClipChannel copy(from.GetKind(), std::move(clips));
  copy.effectFile = from.GetEffectFile();
  copy.needsEffect = from.NeedsEffectCache();
  return copy;
}

int CacheClipChannel::CopyNamesTo(CacheChannel* to) const {
  int handed = 0;
  for (int i = 0; i < ClipCount(); ++i) {
    const CacheClip& c = clips_[size_t(i)];
    // The user may have changed the channel since the copy: a name goes
    // only to the clip it was made from.
    if (i >= to->ClipCount() || !(to->GetClipFile(i) == c.source)) continue;
    const int32_t picture_kind = kind_ == kCacheKindVideo ? kCacheKindVideo : kCacheKindImage;
    if (!c.audio.IsEmpty()) handed += to->SetClipCache(i, c.audio, kCacheKindAudio);
    if (!c.picture.IsEmpty()) handed += to->SetClipCache(i, c.picture, picture_kind);
    if (!c.picture2.IsEmpty()) handed += to->SetClipCache2(i, c.picture2, picture_kind);
    if (!c.overlayCache.IsEmpty()) handed += to->SetClipOverlayCache(i, c.overlayCache, kCacheKindImage);
    if (!c.textCache.IsEmpty() && to->GetClipTextDescriptor(i) == c.text) {
      handed += to->SetClipCache(i, c.textCache, kCacheKindText);
    }
  }
  if (!effectCache.IsEmpty() && to->GetEffectFile() == effectFile) handed += to->SetEffectCache(effectCache, kind_);
  return handed;
}

int CacheClipChannel::GetClipCutPoints(int i, int32_t* start, int32_t* end) const {
  if (!Valid(i)) return 0;
  *start = clips_[size_t(i)].cutStart;
  *end = clips_[size_t(i)].cutEnd;
  return 1;
}

bool CacheClipChannel::ClipNeedsPictureCache(int i, bool second) const {
  return Valid(i) && (second ? clips_[size_t(i)].needsPicture2 : clips_[size_t(i)].needsPicture);
}

int CacheClipChannel::SetClipCache(int i, const ov::String& name, int32_t kind) {
  if (!Valid(i)) return 0;
  CacheClip& c = clips_[size_t(i)];
  if (kind == kCacheKindAudio) {
    c.audio = name;
    c.needsAudio = false;
  } else if (kind == kCacheKindText) {
    c.textCache = name;
  } else {
    c.picture = name;
    c.needsPicture = false;
  }
  return 1;
}

int CacheClipChannel::SetClipCache2(int i, const ov::String& name, int32_t) {
  if (!Valid(i)) return 0;
  clips_[size_t(i)].picture2 = name;
  clips_[size_t(i)].needsPicture2 = false;
  return 1;
}

int CacheClipChannel::SetClipOverlayCache(int i, const ov::String& name, int32_t) {
  if (!Valid(i)) return 0;
  clips_[size_t(i)].overlayCache = name;
  clips_[size_t(i)].needsOverlay = false;
  return 1;
}

int CacheClipChannel::SetEffectCache(const ov::String& name, int32_t) {
  effectCache = name;
  needsEffect = false;
  return 1;
}

uint32_t ClipDurationMs(const ov::String& path) {
  if (EndsWithNoCase(path, u".wav") || EndsWithNoCase(path, u".qvs")) {
    media::WavSource wav;
    return wav.Open(path, 0) ? wav.GetDuration() : 0;
  }
  if (EndsWithNoCase(path, u".raw")) return RawCacheDuration(path);
  if (EndsWithNoCase(path, u".qbt")) return QbtDuration(path);
  media::MediaInfo info;
  info.ReadMediaInfo(path, 0);
  return info.durationMs;
}

MediaDecompressor::MediaDecompressor(const VideoMixer* mixer, std::span<CacheChannel* const> channels, bool preview,
                                     DecodeProgress* progress)
    : channels_(channels),
      width_(mixer ? mixer->width() : kDefaultWidth),
      height_(mixer ? mixer->height() : kDefaultHeight),
      fps_(mixer ? mixer->fps() : kDefaultFps),
      preview_(preview),
      progress_(progress) {
  folder_ = ov::TempFolder();
  // A folder that cannot be made leaves the bare temporary path.
  if (!ov::FolderExists(folder_) && !ov::CreateFolderTree(folder_)) folder_ = ov::TempPath();
  cancel_.Create(true, false, ov::String(kCancelDecompressionEvent));
  cancel_.Reset();
}

MediaDecompressor::~MediaDecompressor() { cancel_.Close(); }

int MediaDecompressor::CountWork() const {
  int total = 0;
  for (CacheChannel* ch : channels_) {
    if (!ch) continue;
    for (int c = 0; c < ch->ClipCount(); ++c) {
      total += Wants(kAudio) && ch->ClipNeedsAudioCache(c);
      total += Wants(kVideo) && ch->ClipNeedsPictureCache(c, preview_);
      total += Wants(kOverlays) && !preview_ && ch->ClipNeedsOverlayCache(c);
    }
    total += Wants(kEffects) && ch->NeedsEffectCache();
  }
  return total;
}

void MediaDecompressor::Report() {
  if (progress_) progress_->Item(n_, total_);
  ++n_;
  Breathe();
}

void MediaDecompressor::ReportPercent(int percent) {
  if (progress_) progress_->Percent(percent);
  Breathe();
}

bool MediaDecompressor::PollCancel() {
  if (cancelled_) return true;
  if (cancel_.Wait(0) == ov::kWaitObject0) {
    cancel_.Reset();
    cancelled_ = true;
  }
  return cancelled_;
}

int MediaDecompressor::DecompressAll() {
  failedFile_ = ov::String();
  total_ = CountWork();
  n_ = 1;
  int result = 1;
  for (size_t k = 0; k < channels_.size() && total_ != 0 && result == 1 && !PollCancel(); ++k) {
    CacheChannel* ch = channels_[k];
    if (!ch) continue;
    const int index = static_cast<int>(k);
    bool needed = ch->NeedsEffectCache();
    for (int c = 0; c < ch->ClipCount() && !needed; ++c) {
      needed = ch->ClipNeedsAudioCache(c) || ch->ClipNeedsPictureCache(c, preview_) ||
               (!preview_ && ch->ClipNeedsOverlayCache(c));
    }
    if (!needed) continue;
    switch (ch->GetKind()) {
      case kCacheKindAudio:
        if (Wants(kAudio) && ch->ClipNeedsAudioCache(0)) result = DecompressAudio(ch, index);
        break;
      case kCacheKindVideo:
        if (Wants(kVideo) && ch->ClipNeedsPictureCache(0, preview_)) result = DecompressVideo(ch, index);
        // The sound of a video is written in every mode for the mix.
        if (result == 1 && !preview_ && !PollCancel() && ch->ClipNeedsAudioCache(0)) {
          result = DecompressAudio(ch, index);
        }
        if (result == 1 && !preview_ && !PollCancel() && Wants(kOverlays) && ch->ClipNeedsOverlayCache(0)) {
          result = DecompressOverlay(0, ch, index);
        }
        if (result == 1 && !PollCancel() && Wants(kEffects) && ch->NeedsEffectCache()) {
          result = DecompressEffect(0, ch, index);
        }
        break;
      case kCacheKindImage:
      case kCacheKindText:
        for (int c = 0; c < ch->ClipCount() && result == 1 && !PollCancel(); ++c) {
          if (ch->GetKind() == kCacheKindImage && Wants(kPictures) && ch->ClipNeedsPictureCache(c, preview_)) {
            result = DecompressImage(c, ch, index);
          }
          if (result == 1 && !preview_ && !PollCancel() && Wants(kOverlays) && ch->ClipNeedsOverlayCache(c)) {
            result = DecompressOverlay(c, ch, index);
          }
        }
        if (ch->GetKind() == kCacheKindImage && result == 1 && !PollCancel() && Wants(kEffects) &&
            ch->NeedsEffectCache()) {
          result = DecompressEffect(0, ch, index);
        }
        break;
      default:
        break;
    }
  }
  if (cancelled_) failedFile_ = ov::String();
  return cancelled_ ? 0 : result;
}

// Steps a frame writer until it reports 100 or more (a span that is not a
// whole number of frame periods jumps past 100), then closes and checks it.
int MediaDecompressor::WritePictures(const ov::String& source, const ov::String& cache, uint32_t duration,
                                     uint32_t start, uint32_t end, uint32_t crop, bool key, uint32_t keyColour) {
  RawFrameCacheWriter writer(source, cache, static_cast<uint32_t>(width_), static_cast<uint32_t>(height_), fps_,
                             duration, start, end, key ? 1 : 0, key ? keyColour : 0, 0, crop);
  ReportPercent(0);
  int last = 0;
  for (;;) {
    const int p = writer.WriteFrame();
    if (p < 0) break;
    if (p != last) ReportPercent(std::min(p, 100));
    last = p;
    if (p >= 100 || duration == kRawStillDuration) {
      if (writer.Close()) return 1;
      break;
    }
    if (PollCancel()) break;
  }
  writer.Close();
  ov::DeleteFile(cache);
  return 0;
}

int MediaDecompressor::Failed(const ov::String& file) {
  if (!cancelled_ && failedFile_.IsEmpty()) failedFile_ = file;
  return 0;
}

int MediaDecompressor::DecompressImage(int clip, CacheChannel* ch, int index) {
  if (PollCancel()) return 0;
  Report();
  const ov::String cache = folder_ + ov::String::Format(u"image%d-%d-%d.raw", indexBase_ + index, clip, preview_ ? 1 : 0);
  const uint32_t crop = preview_ ? kWholePicture : ch->GetClipCropRect(clip);
  // A picture is one frame lasting its display time, so that its cache ends
  // when the next picture of the channel is due; a display time of 0 (a
  // channel's only picture) makes a still that shows until it is stopped.
  const int32_t shown = ch->GetClipDisplayTime(clip);
  const uint32_t duration = shown > 0 ? uint32_t(shown) : kRawStillDuration;
  if (!WritePictures(ch->GetClipFile(clip), cache, duration, 0, 0, crop, false)) return Failed(ch->GetClipFile(clip));
  if (preview_) ch->SetClipCache2(clip, cache, kCacheKindImage);
  else ch->SetClipCache(clip, cache, kCacheKindImage);
  return 1;
}

int MediaDecompressor::DecompressVideo(CacheChannel* ch, int index) {
  if (PollCancel()) return 0;
  Report();
  const ov::String source = ch->GetClipFile(0);
  const ov::String cache = folder_ + ov::String::Format(u"video%d-%d.raw", indexBase_ + index, preview_ ? 1 : 0);
  int32_t start = 0, end = 0;
  if (!preview_) ch->GetClipCutPoints(0, &start, &end);
  // An uncut clip (cut end 0) runs to its end.
  if (end <= 0) end = static_cast<int32_t>(ClipDurationMs(source));
  if (end <= start) return Failed(source);
  const uint32_t crop = preview_ ? kWholePicture : ch->GetClipCropRect(0);
  if (!WritePictures(source, cache, 0, uint32_t(start), uint32_t(end), crop, false)) return Failed(source);
  if (preview_) ch->SetClipCache2(0, cache, kCacheKindVideo);
  else ch->SetClipCache(0, cache, kCacheKindVideo);
  return 1;
}

int MediaDecompressor::DecompressAudio(CacheChannel* ch, int index) {
  if (PollCancel()) return 0;
  Report();
  const ov::String source = ch->GetClipFile(0);
  const ov::String cache = folder_ + ov::String::Format(u"audio%d.qvs", indexBase_ + index);
  int32_t start = 0, end = 0;
  if (!preview_) ch->GetClipCutPoints(0, &start, &end);
  // An uncut clip (cut end 0) runs to its end; without it a clip cut only
  // at its start would expect no bytes.
  if (end <= 0) end = static_cast<int32_t>(ClipDurationMs(source));
  if (start < 0 || end <= start) return Failed(source);
  AudioCacheWriter writer(source, cache, kCacheChannels, kCacheRate, kCacheBits, uint32_t(start), uint32_t(end));
  ReportPercent(0);
  int last = 0, result = 0;
  for (;;) {
    const int p = writer.Step();
    if (p < 0) break;
    if (p != last) ReportPercent(p);
    last = p;
    if (p >= 100) {
      result = 1;
      break;
    }
    if (PollCancel()) break;
  }
  writer.Close();
  if (!result) {
    ov::DeleteFile(cache);
    return Failed(source);
  }
  ch->SetClipCache(0, cache, kCacheKindAudio);
  return 1;
}

int MediaDecompressor::DecompressOverlay(int clip, CacheChannel* ch, int index) {
  if (PollCancel()) return 0;
  Report();
  const ov::String cache = folder_ + ov::String::Format(u"overlay%d-%d.raw", indexBase_ + index, clip);
  if (!WritePictures(ch->GetClipOverlayFile(clip), cache, kRawStillDuration, 0, 0, kWholePicture, true, kKeyColour)) {
    return Failed(ch->GetClipOverlayFile(clip));
  }
  ch->SetClipOverlayCache(clip, cache, kCacheKindImage);
  return 1;
}

int MediaDecompressor::DecompressEffect(int clip, CacheChannel* ch, int index) {
  (void)clip;
  if (PollCancel()) return 0;
  Report();
  const ov::String source = ch->GetEffectFile();
  const ov::String cache = folder_ + ov::String::Format(u"effect%d.raw", indexBase_ + index);
  const uint32_t end = ClipDurationMs(source);
  if (end == 0) return Failed(source);
  // One cache frame per coded frame, never more than one per composed frame:
  // a mask whose frames last an hour writes its few frames, not an hour of
  // frames. The header keeps the duration, and the effect reads the frames
  // by their time.
  const uint32_t period = 1000 / std::max<uint32_t>(fps_, 1);
  const uint32_t duration = std::max(CodedFrameDurationMs(source), period);
  // Frames start before the end, never at it: a frame at the end would show
  // what the source gives past its last frame (black for a ".qbt").
  if (!WritePictures(source, cache, duration, 0, end - 1, kWholePicture, false)) return Failed(source);
  ch->SetEffectCache(cache, kCacheKindImage);
  return 1;
}

int MediaDecompressor::DecompressText(int clip, CacheChannel* ch, int index) {
  if (PollCancel()) return 0;
  Report();
  const ov::String text = ch->GetClipTextDescriptor(clip);
  const ov::String cache = folder_ + ov::String::Format(u"text%d-%d.raw", indexBase_ + index, clip);
  // The private mixer of the writer draws the clip through a renderer of its
  // own; this one only reads the key colour the picture is keyed on.
  std::unique_ptr<TextClipRenderer> renderer = CreateTextClipRenderer();
  if (text.IsEmpty() || !renderer || !renderer->Prepare(text, width_, height_)) return Failed(text);
  if (!WritePictures(text, cache, kRawStillDuration, 0, 0, kWholePicture, true, renderer->KeyColour())) {
    return Failed(text);
  }
  ch->SetClipCache(clip, cache, kCacheKindText);
  return 1;
}

}  // namespace engine
