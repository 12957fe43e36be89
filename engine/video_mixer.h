#pragma once
// VideoMixer: composes the picture of a mix. Sixteen video channels each play
// one clip (a media::DecoderSource) with up to five overlay effects and at most
// one running transition; ComposeFrame advances every playing channel to a
// clock time and draws the channels bottom to top into one RGB565 frame, which
// the present thread hands to the screen and the export to its encoder.
// Commands arrive through ApplyAction (codes in engine_command.h). A video
// channel may be linked to a sound channel of the AudioMixer: it then drives
// that channel and follows its position.
//
// Thread: every public operation takes the mixer's recursive mutex. Lock
// order: this mixer's mutex, then the audio mixer's (ApplyAction may apply
// commands to the audio mixer); the audio mixer never calls back. The engine
// link may post commands from inside the mutex (they come back into
// ApplyAction on the same thread).

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/engine_command.h"
#include "engine/picture565.h"
#include "engine/video_effect.h"
#include "media/decoder_source.h"
#include "platform/gfx/dc.h"
#include "platform/os/ov_string.h"

namespace engine {

class AudioMixer;

// What the mixer needs of the engine that plays it: whether it plays, and
// posting stamped commands and application actions from a clip's end.
class VideoMixerEngineLink {
 public:
  virtual ~VideoMixerEngineLink() = default;
  virtual bool IsPlaying() = 0;
  // Stamps, records and applies a command as a gesture would.
  virtual void PostAction(const EngineCommand& command) = 0;
  // Applies a command at once without recording it.
  virtual void DispatchCommand(const EngineCommand& command) = 0;
  // Queues an application action for the UI thread.
  virtual void QueueAppAction(uint32_t action, const ov::String& argument) = 0;
  // The milliseconds of mixed sound handed to the sound output that it has
  // not played by `clockMs`: a linked picture shows what is heard, not what
  // was mixed. 0 without a playing output (a render mixes no further than
  // the frame it composes). Called with the audio mixer's mutex held.
  virtual int64_t UnplayedOutputMs(uint32_t clockMs) {
    (void)clockMs;
    return 0;
  }
};

// Opens the video source for a clip: (path, load mode). Null when it cannot.
using VideoSourceOpener = std::function<std::unique_ptr<media::DecoderSource>(const ov::String&, uint32_t)>;

inline constexpr int64_t kNoTime = -1;                   // 100 ns time unknown
inline constexpr int64_t kNeverTime = INT64_MAX;         // a still's next frame
inline constexpr uint32_t kVideoChannels = 16;
inline constexpr uint32_t kMaxOverlays = 5;
inline constexpr uint32_t kMaxLayers = 5;
// Application action that asks the screen for a held channel's next clip.
inline constexpr uint32_t kActionNextClip = 227;

struct VideoFrameSlot {
  std::unique_ptr<uint8_t[]> buffer;
  uint32_t bytes = 0;
  int64_t time = kNoTime;  // media time, 100 ns
  bool drawn = false;
  int64_t readAt = 0;      // mix time of the read (next slot)
};

// One video channel.
struct VideoChannel {
  ov::String fileName;
  uint32_t mode = 1;
  uint32_t startMark = 0, endMark = 0;  // ms
  int64_t startTime = 0;  // 100 ns: mix time at which media time 0 plays
  int64_t seekBase = 0;   // 100 ns: media position at the start time
  int64_t pausedAt = 0;   // 100 ns
  std::unique_ptr<media::DecoderSource> source;
  bool moved = false;     // target of a z-order move: frames do not advance
  VideoFrameSlot current, next;
  int64_t audioLast = -1, audioExtrapolated = -1, audioNotedMs = -1;
  int64_t frameDuration = 0;  // ms; -1 still picture
  std::vector<uint16_t> picturePixels;  // frame size: the fitted current frame
  std::vector<uint16_t> sourcePixels;   // the source's own size
  int32_t sourceStride = 0;
  FittedRect fitted;
  int32_t sourceWidth = 0, sourceHeight = 0;
  uint32_t crop = 0;
  bool loop = false, playing = false, hold = false;
  int32_t rate = 1000;  // per mille
  int64_t rateAdjusted = 0, rateReference = 0, rateCorrection = 0;
  int32_t linkedAudio = -1;
  bool hasColourKey = false;
  uint32_t colourKey = 0;
  uint32_t number = 0;
  std::vector<std::unique_ptr<VideoEffect>> overlays;
  std::unique_ptr<VideoEffect> transition;
  EffectChannel fx;  // views of the pictures above for the effects
  // Picture layers drawn over the channel's picture (same record kind).
  std::vector<std::unique_ptr<VideoChannel>> layers;
  std::vector<uint16_t> composedPixels;  // the picture with its layers, frame size
  bool isLayer = false;
  // A rendered clip (a text clip): no frames are read; the source draws
  // onto this frame-sized surface when the channel is drawn.
  bool rendered = false;
  std::unique_ptr<gfx::DeviceContext> renderDc;
  gfx::HBitmap renderBitmap;
};

class VideoMixer {
 public:
  // A width x height frame at `fps`, cleared to `background` (0x00BBGGRR).
  VideoMixer(int32_t width, int32_t height, uint32_t fps, uint32_t background);
  ~VideoMixer();
  VideoMixer(const VideoMixer&) = delete;
  VideoMixer& operator=(const VideoMixer&) = delete;

  // Applies one command to video channel command.channel - 16: 1 when
  // applied, 0 for codes it does not handle, the load result for CMD_LOAD.
  int ApplyAction(const EngineCommand& command, int replaying);
  // Advances the playing channels to `ms` and composes the frame. True when
  // the frame should be shown as changed (once more after the last drawing).
  bool ComposeFrame(uint32_t ms);
  bool IsChannelLoaded(uint32_t channel);
  bool IsChannelPlaying(uint32_t channel);
  // ms of the current frame, else the seek base; 0 without a source.
  uint32_t GetChannelPosition(uint32_t channel);
  bool CanSeekChannel(uint32_t channel);
  bool AreOverlaysFinished(uint32_t channel);
  void SetEngine(VideoMixerEngineLink* engine);
  void SetAudioMixer(AudioMixer* audio);
  // Replaces how clips are opened (default: OpenVideoSource for this mixer's
  // frame size, pictures at their own size bounded by the frame size times
  // the load mode).
  void SetSourceOpener(VideoSourceOpener opener);
  int LoadClip(uint32_t channel, const ov::String& path, int32_t linkedAudio, uint32_t startMark, uint32_t endMark,
               uint32_t crop, uint32_t mode);
  // Lays a picture over a loaded channel (at most kMaxLayers); `key` is its
  // colour key (0x00BBGGRR) when the picture has none (0: none). 1 when laid.
  int LoadLayer(uint32_t channel, const ov::String& path, uint32_t key);

  // The composed frame (valid until the next ComposeFrame; read under mutex()).
  Picture565 frame() { return Picture565{frame_.data(), width_, height_, width_}; }
  // Bottom to top.
  std::vector<uint32_t> zOrder();
  std::recursive_mutex& mutex() { return mutex_; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  uint32_t fps() const { return fps_; }
  // 10,000,000 / fps: one frame in 100 ns units.
  int64_t framePeriod() const { return framePeriod_; }

 private:
  VideoChannel& Ch(uint32_t n) { return *channels_[n]; }
  void ResetChannel(uint32_t n);
  int StopChannel(uint32_t n);
  void MoveChannel(uint32_t from, uint32_t to);
  void StopBeneath(uint32_t n, int64_t t);
  void ComputeChannelRect(VideoChannel& c);
  // Source, pictures and fitted rectangle of a record from an opened source.
  bool SetUpRecord(VideoChannel& c, std::unique_ptr<media::DecoderSource> source, uint32_t crop);
  // The picture the channel shows: its own, or composed with its layers
  // (the channel's effect view points at it until the drawing ends).
  void ComposeLayers(VideoChannel& c, int64_t t);
  // Lets the rendered clip of `c` draw over `target` (frame-sized) as at
  // mixer time `t`.
  void RenderOnto(VideoChannel& c, const Picture565& target, int64_t t);
  int64_t MapTime(VideoChannel& c, int64_t t);
  void AdvanceChannel(VideoChannel& c, int64_t t);
  bool ReadFrame(VideoChannel& c, VideoFrameSlot& slot, int64_t m);
  // Handles the end of a clip; true when the channel keeps its last frame.
  bool OnClipEnd(VideoChannel& c, int64_t t);
  bool DrawFrameToChannel(VideoChannel& c);
  bool DrawChannel(VideoChannel& c, int64_t t);
  // Draws the channel's picture with its layers into the frame (through its
  // transition when one runs).
  void DrawComposed(VideoChannel& c, int64_t t);
  void ApplyToAudio(uint32_t code, int32_t audioChannel, uint32_t timeMs, int32_t param1);
  int ApplyLocked(const EngineCommand& command, int replaying);

  std::array<std::unique_ptr<VideoChannel>, kVideoChannels> channels_;
  int32_t width_, height_;
  uint32_t fps_;
  int64_t framePeriod_;  // 100 ns
  std::vector<uint16_t> frame_;
  std::recursive_mutex mutex_;
  bool blankShown_ = false;
  VideoMixerEngineLink* engine_ = nullptr;
  AudioMixer* audio_ = nullptr;
  int replaying_ = 0;
  ChannelDrawEffect drawEffect_;
  uint32_t background_;
  std::vector<uint32_t> zOrder_;  // bottom first
  VideoSourceOpener opener_;
};

}  // namespace engine
