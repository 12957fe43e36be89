#pragma once
// MediaDecompressor: decodes the clips of a mix once into cache files in the
// program's temporary folder before the mix plays: pictures and video as
// ".raw" frame caches, sound as a PCM ".qvs" cache, overlays and the
// channel's effect file as ".raw" caches. It walks a table of channels
// through CacheChannel (the channel element and the one-clip channel of an
// effect implement it), records each cache's name in its clip, reports
// progress through a DecodeProgress, and stops early when the named event
// "CANCEL_DECOMPRESSION" is set (one setting stops one run).
//
// Thread: the owner's worker thread constructs, runs and destroys it; the
// UI thread only sets the cancel event.

#include <cstdint>
#include <span>
#include <vector>

#include "engine/picture565.h"
#include "platform/os/event.h"
#include "platform/os/ov_string.h"

namespace engine {

class VideoMixer;

// Kinds of a channel and of a cache as the channels give them.
enum CacheKind : int32_t {
  kCacheKindEmpty = 0,
  kCacheKindAudio = 1,
  kCacheKindImage = 2,
  kCacheKindVideo = 3,
  kCacheKindText = 5,
};

// What the decompressor reads and writes of one channel of a mix.
class CacheChannel {
 public:
  virtual ~CacheChannel() = default;
  virtual int32_t GetKind() const = 0;
  virtual int ClipCount() const = 0;
  virtual ov::String GetClipFile(int i) const = 0;
  virtual ov::String GetClipOverlayFile(int i) const = 0;
  virtual ov::String GetEffectFile() const = 0;
  // The clip's text as its descriptor ("**TEXT**..."); empty when the clip
  // has no text.
  virtual ov::String GetClipTextDescriptor(int i) const = 0;
  virtual int32_t GetClipDisplayTime(int i) const = 0;
  virtual int GetClipCutPoints(int i, int32_t* start, int32_t* end) const = 0;
  virtual uint32_t GetClipCropRect(int i) const = 0;
  virtual bool ClipNeedsAudioCache(int i) const = 0;
  virtual bool ClipNeedsPictureCache(int i, bool second) const = 0;
  virtual bool ClipNeedsOverlayCache(int i) const = 0;
  virtual bool NeedsEffectCache() const = 0;
  virtual int SetClipCache(int i, const ov::String& name, int32_t kind) = 0;
  virtual int SetClipCache2(int i, const ov::String& name, int32_t kind) = 0;
  virtual int SetClipOverlayCache(int i, const ov::String& name, int32_t kind) = 0;
  virtual int SetEffectCache(const ov::String& name, int32_t kind) = 0;
};

// One clip of a CacheClipChannel: what decoding reads of it, which caches
// it needs, and the cache names a run gave it.
struct CacheClip {
  ov::String source, overlay, text;
  int32_t cutStart = 0, cutEnd = 0, displayTime = 0;
  uint32_t crop = kWholePicture;
  bool needsAudio = false, needsPicture = false, needsPicture2 = false, needsOverlay = false;
  ov::String audio, picture, picture2, overlayCache, textCache;  // written by a run
};

// A channel held by value: a copy of a channel element's clips that a
// worker decodes while the screen keeps its own (the names are copied back
// on the UI thread), or a temporary channel of one clip (an effect's mask).
// A cache is needed until a run names it.
class CacheClipChannel : public CacheChannel {
 public:
  CacheClipChannel() = default;
  CacheClipChannel(int32_t kind, std::vector<CacheClip> clips) : kind_(kind), clips_(std::move(clips)) {}
  // What the decompressor reads of `from`, as it stands now.
  static CacheClipChannel CopyOf(const CacheChannel& from);
  // Hands the names this channel was given to `to` (clips whose source
  // still matches). Returns how many were handed.
  int CopyNamesTo(CacheChannel* to) const;

  int32_t GetKind() const override { return kind_; }
  int ClipCount() const override { return static_cast<int>(clips_.size()); }
  ov::String GetClipFile(int i) const override { return Valid(i) ? clips_[size_t(i)].source : ov::String(); }
  ov::String GetClipOverlayFile(int i) const override { return Valid(i) ? clips_[size_t(i)].overlay : ov::String(); }
  ov::String GetEffectFile() const override { return effectFile; }
  ov::String GetClipTextDescriptor(int i) const override { return Valid(i) ? clips_[size_t(i)].text : ov::String(); }
  int32_t GetClipDisplayTime(int i) const override { return Valid(i) ? clips_[size_t(i)].displayTime : 0; }
  int GetClipCutPoints(int i, int32_t* start, int32_t* end) const override;
  uint32_t GetClipCropRect(int i) const override { return Valid(i) ? clips_[size_t(i)].crop : kWholePicture; }
  bool ClipNeedsAudioCache(int i) const override { return Valid(i) && clips_[size_t(i)].needsAudio; }
  bool ClipNeedsPictureCache(int i, bool second) const override;
  bool ClipNeedsOverlayCache(int i) const override { return Valid(i) && clips_[size_t(i)].needsOverlay; }
  bool NeedsEffectCache() const override { return needsEffect; }
  int SetClipCache(int i, const ov::String& name, int32_t kind) override;
  int SetClipCache2(int i, const ov::String& name, int32_t kind) override;
  int SetClipOverlayCache(int i, const ov::String& name, int32_t kind) override;
  int SetEffectCache(const ov::String& name, int32_t kind) override;

  CacheClip& clip(int i) { return clips_[size_t(i)]; }
  ov::String effectFile, effectCache;
  bool needsEffect = false;

 private:
  bool Valid(int i) const { return i >= 0 && i < ClipCount(); }
  int32_t kind_ = kCacheKindEmpty;
  std::vector<CacheClip> clips_;
};

// Where the progress goes: "n / total" at each new cache file (the file's
// percentage back to 0), then the file's percentage as it grows. Called on
// the worker thread.
class DecodeProgress {
 public:
  virtual ~DecodeProgress() = default;
  virtual void Item(int n, int total) = 0;
  virtual void Percent(int percent) = 0;
};

// The name of the cancel event.
inline constexpr char16_t kCancelDecompressionEvent[] = u"CANCEL_DECOMPRESSION";

// The length of a clip in ms for a cut end of 0: a WAV's (or a sound cache's)
// from its source, a ".raw" cache's from its frames, a ".qbt" animation's
// from its complete coded frames, others from their media information. 0
// when unknown.
uint32_t ClipDurationMs(const ov::String& path);

class MediaDecompressor {
 public:
  enum Mode : uint32_t { kVideo = 0, kPictures = 1, kOverlays = 2, kEffects = 3, kAudio = 4, kAll = 6 };

  // `mixer` gives the frame size and rate of the picture caches (null: the
  // live picture's defaults). `preview` writes the second picture caches,
  // uncut and uncropped, and no overlays.
  MediaDecompressor(const VideoMixer* mixer, std::span<CacheChannel* const> channels, bool preview,
                    DecodeProgress* progress = nullptr);
  ~MediaDecompressor();
  MediaDecompressor(const MediaDecompressor&) = delete;
  MediaDecompressor& operator=(const MediaDecompressor&) = delete;

  void SetMode(uint32_t mode) { mode_ = mode; }
  void SetIndexBase(int n) { indexBase_ = n; }
  // The folder the caches go to (the program's temporary folder by default).
  void SetFolder(const ov::String& folder) { folder_ = folder; }
  const ov::String& folder() const { return folder_; }
  // The frame rate the picture caches are written at, in place of the
  // mixer's (0 keeps it).
  void SetFrameRate(uint32_t fps) {
    if (fps != 0) fps_ = fps;
  }

  int CountWork() const;
  // 1 when every cache was written; 0 at the first failure or a cancel.
  int DecompressAll();
  int DecompressImage(int clip, CacheChannel* channel, int index);
  int DecompressVideo(CacheChannel* channel, int index);
  int DecompressAudio(CacheChannel* channel, int index);
  int DecompressOverlay(int clip, CacheChannel* channel, int index);
  int DecompressEffect(int clip, CacheChannel* channel, int index);
  // The clip's text drawn at the mixer's size on its key colour, one still
  // frame keyed on that colour ("text%d-%d.raw"), stored as the clip's text
  // cache. 0 for a clip without text or when no text renderer is
  // registered.
  int DecompressText(int clip, CacheChannel* channel, int index);
  bool cancelled() const { return cancelled_; }
  // The file of the item whose decoding failed (empty after a success or a
  // cancel), so that the failure can name it.
  const ov::String& failedFile() const { return failedFile_; }

 private:
  bool Wants(uint32_t mode) const { return mode_ == kAll || mode_ == mode; }
  void Report();
  void ReportPercent(int percent);
  bool PollCancel();
  int WritePictures(const ov::String& source, const ov::String& cache, uint32_t duration, uint32_t start,
                    uint32_t end, uint32_t crop, bool key, uint32_t keyColour = kKeyColour);
  // Remembers `file` as the one that failed (unless cancelled); 0.
  int Failed(const ov::String& file);

  uint32_t mode_ = kAll;
  std::span<CacheChannel* const> channels_;
  int indexBase_ = 0;
  ov::String folder_;
  ov::Event cancel_;
  bool cancelled_ = false;
  ov::String failedFile_;
  int32_t width_, height_;
  uint32_t fps_;
  bool preview_;
  DecodeProgress* progress_;
  int n_ = 1, total_ = 0;
};

}  // namespace engine
