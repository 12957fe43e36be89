#include "engine/video_mixer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/audio_mixer.h"
#include "engine/blind_transition.h"
#include "engine/colour_filter_effect.h"
#include "engine/fade_transition.h"
#include "engine/file_video_effect.h"
#include "engine/pan_zoom_effect.h"
#include "engine/slide_transition.h"
#include "engine/sweep_transition.h"
#include "engine/video_source_factory.h"
#include "engine/zoom_transition.h"

namespace engine {

namespace {

constexpr int64_t kTicksPerMs = 10000;  // 100 ns units
// Frames one compose may read to catch up (or loop over) before it gives up.
constexpr int kMaxReadsPerCompose = 256;

}  // namespace

VideoMixer::VideoMixer(int32_t width, int32_t height, uint32_t fps, uint32_t background)
    : width_(std::clamp(width, 1, 4096)),
      height_(std::clamp(height, 1, 4096)),
      fps_(fps == 0 ? 1 : fps),
      framePeriod_(10000000 / int64_t(fps_)),
      frame_(size_t(width_) * size_t(height_), ColourRefTo565(background)),
      drawEffect_(fps_),
      background_(background),
      opener_([this](const ov::String& path, uint32_t mode) { return OpenVideoSource(path, this, -1, mode); }) {
  for (uint32_t n = 0; n < kVideoChannels; ++n) {
    channels_[n] = std::make_unique<VideoChannel>();
    channels_[n]->number = n;
  }
}

VideoMixer::~VideoMixer() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (uint32_t n = 0; n < kVideoChannels; ++n) StopChannel(n);
}

void VideoMixer::SetEngine(VideoMixerEngineLink* engine) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  engine_ = engine;
}

void VideoMixer::SetAudioMixer(AudioMixer* audio) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  audio_ = audio;
}

void VideoMixer::SetSourceOpener(VideoSourceOpener opener) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  opener_ = std::move(opener);
}

std::vector<uint32_t> VideoMixer::zOrder() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return zOrder_;
}

bool VideoMixer::IsChannelLoaded(uint32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return channel < kVideoChannels && Ch(channel).source != nullptr;
}

bool VideoMixer::IsChannelPlaying(uint32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return channel < kVideoChannels && Ch(channel).source && Ch(channel).playing;
}

uint32_t VideoMixer::GetChannelPosition(uint32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (channel >= kVideoChannels || !Ch(channel).source) return 0;
  const VideoChannel& c = Ch(channel);
  if (c.current.time != kNoTime) return uint32_t(c.current.time / kTicksPerMs);
  return uint32_t(c.seekBase / kTicksPerMs);
}

bool VideoMixer::CanSeekChannel(uint32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return channel < kVideoChannels && Ch(channel).source && Ch(channel).source->CanSeek();
}

bool VideoMixer::AreOverlaysFinished(uint32_t channel) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (channel >= kVideoChannels) return true;
  for (const auto& o : Ch(channel).overlays)
    if (!o->IsFinished()) return false;
  return true;
}

void VideoMixer::ResetChannel(uint32_t n) {
  // In place: callers up the stack may still hold a reference to the record.
  *channels_[n] = VideoChannel();
  channels_[n]->number = n;
}

void VideoMixer::ComputeChannelRect(VideoChannel& c) {
  const uint32_t l = RectLeft(c.crop), r = RectRight(c.crop), t = RectTop(c.crop), b = RectBottom(c.crop);
  int32_t cw = c.sourceWidth, ch = c.sourceHeight;
  if (r > l) cw = int32_t(int64_t(c.sourceWidth) * (r - l) / 256);
  if (b > t) ch = int32_t(int64_t(c.sourceHeight) * (b - t) / 256);
  if (cw <= 0) cw = c.sourceWidth;
  if (ch <= 0) ch = c.sourceHeight;
  c.fitted = FitInFrame(cw, ch, width_, height_);
}

int VideoMixer::LoadClip(uint32_t channel, const ov::String& path, int32_t linkedAudio, uint32_t startMark,
                         uint32_t endMark, uint32_t crop, uint32_t mode) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (channel >= kVideoChannels) return 0;
  if (Ch(channel).source) StopChannel(channel);
  ResetChannel(channel);
  VideoChannel& c = Ch(channel);
  c.fileName = path;
  c.mode = mode;
  std::unique_ptr<media::DecoderSource> source = opener_ ? opener_(path, mode) : nullptr;
  if (!source) return 0;
  source->startMark = startMark;
  source->endMark = endMark;
  source->Seek(startMark);
  c.startMark = startMark;
  c.endMark = endMark;
  c.seekBase = int64_t(startMark) * kTicksPerMs;
  c.linkedAudio = linkedAudio >= 0 && linkedAudio < int32_t(kAudioChannels) ? linkedAudio : -1;
  if (!SetUpRecord(c, std::move(source), crop)) {
    ResetChannel(channel);
    return 0;
  }

  // Above the last entry of the same channel pair; else on top.
  auto at = zOrder_.end();
  for (auto it = zOrder_.begin(); it != zOrder_.end(); ++it) {
    const uint32_t base = *it >= 8 ? *it - 8 : *it;
    if (base == channel) at = it + 1;
  }
  zOrder_.insert(at, channel);
  return 1;
}

bool VideoMixer::SetUpRecord(VideoChannel& c, std::unique_ptr<media::DecoderSource> source, uint32_t crop) {
  media::MediaFormat format;
  source->GetFormat(&format);
  // Sizes come from files: a source without a usable size cannot be shown.
  if (format.width == 0 || format.height == 0 || format.width > 4096 || format.height > 4096) return false;
  c.crop = crop;
  c.frameDuration = format.frameDurationMs == 0xFFFFFFFFu ? -1 : int64_t(format.frameDurationMs);
  c.sourceWidth = int32_t(format.width);
  c.sourceHeight = int32_t(format.height);
  c.hasColourKey = format.hasColourKey != 0;
  c.colourKey = format.colourKey;
  c.source = std::move(source);
  c.picturePixels.assign(size_t(width_) * size_t(height_), ColourRefTo565(background_));
  c.sourceStride = c.sourceWidth;
  c.sourcePixels.assign(size_t(c.sourceWidth) * size_t(c.sourceHeight), 0);
  ComputeChannelRect(c);
  c.fx.picture = Picture565{c.picturePixels.data(), width_, height_, width_};
  c.fx.source = Picture565{c.sourcePixels.data(), c.sourceWidth, c.sourceHeight, c.sourceStride};
  c.fx.bottomUp = c.source->IsBottomUp();
  c.fx.hasColourKey = c.hasColourKey;
  c.fx.colourKey = ColourRefTo565(c.colourKey);
  c.rendered = format.rendered != 0;
  if (c.rendered) {
    // Drawn at the frame size whatever the format says; no key: what the
    // clip leaves undrawn keeps what lies below.
    c.renderBitmap = gfx::CreateBitmap565(width_, height_);
    c.renderDc = gfx::CreateCompatibleDC(nullptr);
    if (!c.renderBitmap || !c.renderDc) return false;
    c.renderDc->SelectBitmap(c.renderBitmap);
    c.hasColourKey = c.fx.hasColourKey = false;
  }
  return true;
}

void VideoMixer::RenderOnto(VideoChannel& c, const Picture565& target, int64_t t) {
  gfx::Bitmap& b = *c.renderBitmap;
  const int32_t w = std::min(target.width, b.width()), h = std::min(target.height, b.height());
  for (int32_t y = 0; y < h; ++y) std::copy_n(target.Row(y), w, b.row(y));
  const uint32_t ms = uint32_t(std::max<int64_t>(0, t - c.startTime) / kTicksPerMs);
  if (!c.source->RenderFrame(ms, c.renderDc.get())) return;
  for (int32_t y = 0; y < h; ++y) std::copy_n(b.row(y), w, target.Row(y));
}

int VideoMixer::LoadLayer(uint32_t channel, const ov::String& path, uint32_t key) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (channel >= kVideoChannels || !Ch(channel).source || Ch(channel).layers.size() >= kMaxLayers) return 0;
  std::unique_ptr<media::DecoderSource> source = opener_ ? opener_(path, 1) : nullptr;
  if (!source) return 0;
  source->startMark = 0;
  source->endMark = 0;
  source->Seek(0);
  auto layer = std::make_unique<VideoChannel>();
  layer->fileName = path;
  layer->number = channel;
  layer->isLayer = true;
  if (!SetUpRecord(*layer, std::move(source), 0)) return 0;
  if (!layer->hasColourKey && key != 0) {
    layer->hasColourKey = true;
    layer->colourKey = key;
    layer->fx.hasColourKey = true;
    layer->fx.colourKey = ColourRefTo565(key);
  }
  layer->loop = true;
  layer->playing = true;
  layer->startTime = 0;
  Ch(channel).layers.push_back(std::move(layer));
  return 1;
}

void VideoMixer::ComposeLayers(VideoChannel& c, int64_t t) {
  c.fx.picture = Picture565{c.picturePixels.data(), width_, height_, width_};
  if (c.layers.empty()) return;
  c.composedPixels = c.picturePixels;
  const Picture565 composed{c.composedPixels.data(), width_, height_, width_};
  for (auto& layer : c.layers) {
    if (layer->rendered) {
      RenderOnto(*layer, composed, t);
    } else if (layer->transition) {
      layer->transition->Draw(composed);
      if (layer->transition->IsFinished()) layer->transition.reset();
    } else {
      ChannelDrawEffect plain(fps_);
      plain.Attach(&layer->fx);
      plain.Draw(composed);
    }
  }
  c.fx.picture = composed;
}

int VideoMixer::StopChannel(uint32_t n) {
  if (n >= kVideoChannels || !Ch(n).source) return 0;
  if (n < 8 && Ch(n + 8).source) StopChannel(n + 8);
  const int32_t linked = Ch(n).linkedAudio;
  zOrder_.erase(std::remove(zOrder_.begin(), zOrder_.end(), n), zOrder_.end());
  ResetChannel(n);
  if (linked >= 0) ApplyToAudio(CMD_STOP, linked, 0, 0);
  return 1;
}

void VideoMixer::ApplyToAudio(uint32_t code, int32_t audioChannel, uint32_t timeMs, int32_t param1) {
  EngineCommand cmd;
  cmd.type = code;
  cmd.channel = uint32_t(audioChannel);
  cmd.timeMs = timeMs;
  cmd.param1 = param1;
  if (audio_) {
    audio_->ApplyAction(cmd, 1);
  } else if (engine_) {
    engine_->DispatchCommand(cmd);
  }
}

void VideoMixer::MoveChannel(uint32_t from, uint32_t to) {
  if (from == to || from >= kVideoChannels || to >= kVideoChannels || !Ch(from).source) return;
  if (Ch(to).source) StopChannel(to);
  std::swap(channels_[from], channels_[to]);
  Ch(to).number = to;
  Ch(to).moved = true;
  ResetChannel(from);
  std::replace(zOrder_.begin(), zOrder_.end(), from, to);
}

void VideoMixer::StopBeneath(uint32_t n, int64_t t) {
  const std::vector<uint32_t> order = zOrder_;
  for (uint32_t below : order) {
    if (below == n) break;
    const uint32_t code = below < 9 ? CMD_PAUSE : CMD_STOP;
    const int32_t linked = Ch(below).linkedAudio;
    EngineCommand cmd;
    cmd.type = code;
    cmd.channel = below + kFirstVideoChannel;
    cmd.timeMs = uint32_t(t / kTicksPerMs);
    ApplyLocked(cmd, 1);
    if (linked >= 0) ApplyToAudio(code, linked, cmd.timeMs, 0);
  }
}

int64_t VideoMixer::MapTime(VideoChannel& c, int64_t t) {
  const int64_t tMs = t / kTicksPerMs;
  if (c.linkedAudio >= 0 && audio_) {
    // The position and the output's count are read under one lock: the feed
    // advances both at once.
    std::lock_guard<std::recursive_mutex> audioLock(audio_->mutex());
    int64_t position = audio_->GetVoicePosition(uint32_t(c.linkedAudio));
    if (position > 0 && engine_) position = std::max<int64_t>(position - engine_->UnplayedOutputMs(uint32_t(tMs)), 0);
    if (position > 0) {
      if (position != c.audioLast) {
        c.audioLast = position;
        c.audioExtrapolated = position;
      } else {
        int64_t elapsed = tMs - c.audioNotedMs;
        if (c.rate != 1000) elapsed = elapsed * c.rate / 1000;
        c.audioExtrapolated += elapsed;
      }
      c.audioNotedMs = tMs;
      c.rateAdjusted = c.audioExtrapolated * kTicksPerMs;
      return c.rateAdjusted;
    }
  }
  int64_t rel = std::max<int64_t>(0, t - c.startTime);
  if (c.rate != 1000) {
    const int64_t delta = rel - c.rateReference;
    c.rateReference = rel;
    c.rateCorrection += delta * c.rate / 1000 - delta;
    rel += c.rateCorrection;
  }
  c.rateAdjusted = rel + c.seekBase;
  return c.rateAdjusted;
}

bool VideoMixer::ReadFrame(VideoChannel& c, VideoFrameSlot& slot, int64_t m) {
  uint32_t timeMs = 0;
  if (!c.source->ReadVideoFrame(&slot.buffer, &slot.bytes, &timeMs, 0)) {
    slot.time = kNoTime;
    return false;
  }
  slot.time = timeMs == 0xFFFFFFFFu ? m : int64_t(timeMs) * kTicksPerMs;
  slot.drawn = false;
  return true;
}

bool VideoMixer::OnClipEnd(VideoChannel& c, int64_t t) {
  if (c.loop) {
    c.source->Rewind();
    if (c.startMark != 0) c.source->Seek(c.startMark);
    c.startTime = t;
    c.seekBase = int64_t(c.startMark) * kTicksPerMs;
    c.pausedAt = 0;
    c.current.time = c.next.time = kNoTime;
    c.rateReference = c.rateCorrection = 0;
    if (c.linkedAudio >= 0) ApplyToAudio(CMD_RESTART, c.linkedAudio, uint32_t(t / kTicksPerMs), 0);
    return false;
  }
  if (!c.hold) {
    StopChannel(c.number);
    return false;
  }
  // Held: the last frame stays, on a companion channel (8-15) too, and
  // while no engine plays. Deliberate, keep it: a held clip that vanished at
  // its end would show what lies below for the moment the screen needs to
  // load the next clip. Pinned by VideoMixer.HeldClipMovesIntoItsCompanion.
  c.next.time = kNeverTime;
  if (c.number >= 8 || !engine_ || !engine_->IsPlaying()) return true;
  // The engine plays: the held clip moves into its companion channel and the
  // screen is asked for the channel's next clip.
  const uint32_t n = c.number;
  const int32_t linked = c.linkedAudio;
  EngineCommand cmd;
  if (linked >= 0) {
    cmd.type = CMD_STOP;
    cmd.channel = uint32_t(linked);
    engine_->PostAction(cmd);
  }
  if (Ch(n + 8).source) {
    cmd = EngineCommand{};
    cmd.type = CMD_STOP;
    cmd.channel = n + 24;
    engine_->PostAction(cmd);
  }
  cmd = EngineCommand{};
  cmd.type = CMD_SET_ZORDER;
  cmd.channel = n + kFirstVideoChannel;
  cmd.param1 = int32_t(n + 24);
  engine_->PostAction(cmd);
  engine_->QueueAppAction(kActionNextClip, ov::String::FromAscii(std::to_string(n)));
  return false;
}

void VideoMixer::AdvanceChannel(VideoChannel& c, int64_t t) {
  if (c.rendered) return;  // drawn on request, nothing to read
  int64_t m = MapTime(c, t);
  bool rewound = false;
  for (int reads = 0;; ++reads) {
    if (!c.source) return;
    // A frame shows from its own time until the next frame's time: at the
    // next frame's time exactly, that frame is due (showing the current one
    // then would put every frame a frame period late, and a clip cut just
    // after a frame's time would never show that frame).
    if ((c.next.time != kNoTime && c.next.time > m && c.current.time != kNoTime) || c.moved) break;
    if (reads >= kMaxReadsPerCompose) break;
    if (c.current.time == kNoTime) {
      if (!ReadFrame(c, c.current, m)) {
        // A clip that gives no frame even from its start ends for good.
        if (rewound) {
          if (c.isLayer) {
            c.source.reset();  // a broken layer goes; its channel stays
          } else {
            StopChannel(c.number);
          }
          return;
        }
        if (!OnClipEnd(c, t)) {
          if (!c.source || !c.loop) return;
          rewound = true;
          m = MapTime(c, t);
          continue;
        }
        break;
      }
      c.next.time = c.frameDuration == -1 ? kNeverTime : kNoTime;
      if (c.next.time == kNeverTime) continue;
    } else if (c.next.buffer == nullptr && c.next.time != kNoTime) {
      // The last frame has had its time: the clip ends.
      if (!OnClipEnd(c, t)) {
        if (!c.source || !c.loop) return;
        rewound = true;
        m = MapTime(c, t);
        continue;
      }
      break;
    } else if (c.next.time == kNoTime) {
      // Nothing read ahead yet (after a seek or a load).
    } else {
      std::swap(c.current, c.next);
      c.next.time = kNoTime;
      c.current.drawn = false;
    }
    if (!ReadFrame(c, c.next, m)) {
      // The current frame is the last: it shows for one frame duration
      // before the clip ends. Deliberate, keep it: ending the clip at the
      // failed read would drop the last frame (it would never be drawn)
      // and cut every clip one frame short; a held channel would stop on
      // the frame before its last. Pinned by VideoMixer.PauseResumeLoopAndEnd.
      const int64_t last = std::max<int64_t>(c.frameDuration, 1) * kTicksPerMs;
      c.next.buffer.reset();
      c.next.time = c.current.time + last;
    }
    c.next.readAt = t;
  }
  if (!c.current.drawn && c.current.buffer && DrawFrameToChannel(c)) {
    c.current.drawn = true;
    for (auto& o : c.overlays) o->Draw(frame());
  }
}

bool VideoMixer::DrawFrameToChannel(VideoChannel& c) {
  const int32_t sh = c.sourceHeight, sw = c.sourceWidth;
  const uint32_t pixels = c.current.bytes / 2;
  if (sh <= 0 || pixels / uint32_t(sh) < uint32_t(sw)) return false;
  const int32_t stride = int32_t(pixels / uint32_t(sh));
  if (stride != c.sourceStride || c.sourcePixels.size() != size_t(stride) * size_t(sh)) {
    c.sourceStride = stride;
    c.sourcePixels.assign(size_t(stride) * size_t(sh), 0);
    c.fx.source = Picture565{c.sourcePixels.data(), sw, sh, stride};
  }
  const uint8_t* in = c.current.buffer.get();
  for (size_t i = 0; i < c.sourcePixels.size(); ++i) c.sourcePixels[i] = uint16_t(in[2 * i] | in[2 * i + 1] << 8);

  const Picture565 pic = c.fx.picture;
  // Letterbox bands: black, but a keyed layer's are its key colour, so that
  // an overlay of another shape than the frame leaves the picture below it
  // visible at its sides rather than hiding it behind black bands.
  FillRect565(pic, 0, 0, pic.width, pic.height, c.isLayer && c.fx.hasColourKey ? c.fx.colourKey : uint16_t(0));
  const uint32_t l = RectLeft(c.crop), r = RectRight(c.crop), t = RectTop(c.crop), b = RectBottom(c.crop);
  int32_t cw = sw, ch = sh, sx = 0, sy = 0;
  if (r > l) {
    cw = int32_t(int64_t(sw) * (r - l) / 256);
    sx = int32_t(int64_t(sw) * l / 256);
  }
  if (b > t) {
    ch = int32_t(int64_t(sh) * (b - t) / 256);
    sy = int32_t(int64_t(sh) * t / 256);
  }
  if (cw <= 0 || ch <= 0) return true;
  if (c.fx.bottomUp) {
    Stretch565(pic, c.fitted.x, c.fitted.y, c.fitted.width, c.fitted.height, c.fx.source, sx, sh - sy, cw, -ch);
  } else {
    Stretch565(pic, c.fitted.x, c.fitted.y, c.fitted.width, c.fitted.height, c.fx.source, sx, sy, cw, ch);
  }
  return true;
}

bool VideoMixer::DrawChannel(VideoChannel& c, int64_t t) {
  if (!c.source || !c.playing) return false;
  DrawComposed(c, t);
  // The picture with its layers serves this drawing only: the channel's next
  // frame and its overlay effects draw on the channel's own picture. Left on
  // the composed one, a new frame would be drawn there and then covered by
  // the old picture the layers are composed over, so a clip under an
  // overlay would stand on its first frame.
  if (c.source) c.fx.picture = Picture565{c.picturePixels.data(), width_, height_, width_};
  return true;
}

void VideoMixer::DrawComposed(VideoChannel& c, int64_t t) {
  if (c.rendered && !c.transition) {
    if (c.layers.empty()) {
      RenderOnto(c, frame(), t);
      return;
    }
    // Layers go over the clip: the clip on black, its layers, then the
    // whole picture into the frame.
    const Picture565 pic{c.picturePixels.data(), width_, height_, width_};
    FillRect565(pic, 0, 0, width_, height_, 0);
    RenderOnto(c, pic, t);
    ComposeLayers(c, t);
    Copy565(frame(), 0, 0, c.fx.picture);
    return;
  }
  if (c.rendered) {
    const Picture565 pic{c.picturePixels.data(), width_, height_, width_};
    FillRect565(pic, 0, 0, width_, height_, 0);
    RenderOnto(c, pic, t);
  }
  ComposeLayers(c, t);
  if (!c.transition) {
    drawEffect_.Attach(&c.fx);
    drawEffect_.Draw(frame());
    return;
  }
  c.transition->Draw(frame());
  if (c.transition->IsFinished()) {
    StopBeneath(c.number, t);
    c.transition.reset();
  }
}

bool VideoMixer::ComposeFrame(uint32_t ms) {
  const int64_t t = int64_t(ms) * kTicksPerMs;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (uint32_t n = 0; n < kVideoChannels; ++n) {
    VideoChannel& c = Ch(n);
    if (!c.source || !c.playing) continue;
    AdvanceChannel(c, t);
    VideoChannel& after = Ch(n);  // a clip end may have moved or stopped it
    if (!after.source) continue;
    if (!after.moved) {
      for (auto& o : after.overlays)
        if (o->IsContinuous()) o->Draw(frame());
    }
    for (auto& layer : after.layers) {
      if (!layer->source) continue;
      AdvanceChannel(*layer, t);
      for (auto& o : layer->overlays)
        if (o->IsContinuous()) o->Draw(frame());
    }
  }
  std::fill(frame_.begin(), frame_.end(), background_ == 0 ? uint16_t(0) : ColourRefTo565(background_));
  bool changed = false;
  const std::vector<uint32_t> order = zOrder_;
  for (uint32_t n : order) {
    if (DrawChannel(Ch(n), t)) changed = true;
  }
  if (changed) {
    blankShown_ = false;
    return true;
  }
  if (!blankShown_) {
    blankShown_ = true;
    return true;
  }
  return false;
}

int VideoMixer::ApplyAction(const EngineCommand& command, int replaying) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  replaying_ = replaying;
  return ApplyLocked(command, replaying);
}

int VideoMixer::ApplyLocked(const EngineCommand& cmd, int replaying) {
  if (cmd.channel < kFirstVideoChannel || cmd.channel >= kFirstVideoChannel + kVideoChannels) return 0;
  const uint32_t n = cmd.channel - kFirstVideoChannel;
  VideoChannel& c = Ch(n);
  const int64_t tc = int64_t(cmd.timeMs) * kTicksPerMs;
  switch (cmd.type) {
    case CMD_NOP:
    case CMD_ACK:
    case CMD_VOLUME:
      return 1;
    case CMD_LOAD: {
      const uint32_t mode = cmd.param5 == 1 ? 1 : replaying ? 4 : 2;
      if (replaying && !cmd.altPath.IsEmpty()) return LoadClip(n, cmd.altPath, cmd.param1, 0, 0, 0, mode);
      return LoadClip(n, cmd.path, cmd.param1, uint32_t(cmd.param2), uint32_t(cmd.param3), uint32_t(cmd.param4), mode);
    }
    case CMD_LOAD_IMAGE:
      return LoadLayer(n, replaying && !cmd.altPath.IsEmpty() ? cmd.altPath : cmd.path, uint32_t(cmd.param1));
    case CMD_STOP:
      StopChannel(n);
      return 1;
    case CMD_SET_ZORDER:
      if (cmd.param1 >= int32_t(kFirstVideoChannel)) MoveChannel(n, uint32_t(cmd.param1) - kFirstVideoChannel);
      return 1;
    case CMD_SET_LOOP:
      c.loop = cmd.flag == 0;
      return 1;
    case CMD_PLAY: {
      if (!c.source || c.playing) return 1;
      if (cmd.param1 != 0) {
        zOrder_.erase(std::remove(zOrder_.begin(), zOrder_.end(), n), zOrder_.end());
        zOrder_.push_back(n);
      }
      c.playing = true;
      c.startTime = tc - c.pausedAt;
      c.rateReference = tc - c.startTime;
      c.pausedAt = 0;
      c.rateCorrection = 0;
      if (c.audioNotedMs >= 0) c.audioNotedMs = int64_t(cmd.timeMs) - c.audioNotedMs;
      if (!c.transition) StopBeneath(n, tc);
      for (auto& o : c.overlays) o->Reset();
      if (cmd.param2 != 0) {
        for (uint32_t k = 0; k < kVideoChannels; ++k)
          if (Ch(k).source && Ch(k).playing) AdvanceChannel(Ch(k), int64_t(uint32_t(cmd.param3)));
      }
      if (c.linkedAudio >= 0) {
        const int32_t linked = c.linkedAudio;
        const int64_t pos = c.current.time != kNoTime ? c.current.time / kTicksPerMs : c.seekBase / kTicksPerMs;
        ApplyToAudio(CMD_SEEK, linked, cmd.timeMs, int32_t(pos));
        ApplyToAudio(CMD_PLAY, linked, cmd.timeMs, 1);
      }
      return 1;
    }
    case CMD_PAUSE:
      if (!c.source || !c.playing) return 1;
      c.playing = false;
      // Kept relative to the seek base, which CMD_PLAY adds again: at a rate
      // other than 1000 the clock no longer tells the media position, so it
      // is taken from the time mapping at the pause.
      c.pausedAt = c.rate != 1000 ? std::max<int64_t>(0, MapTime(c, tc) - c.seekBase) : tc - c.startTime;
      if (c.audioNotedMs >= 0) c.audioNotedMs = int64_t(cmd.timeMs) - c.audioNotedMs;
      if (c.linkedAudio >= 0) ApplyToAudio(CMD_PAUSE, c.linkedAudio, cmd.timeMs, 0);
      return 1;
    case CMD_SET_HOLD:
      c.hold = true;
      return 1;
    case CMD_SEEK:
      if (!c.source || cmd.param1 == -1) return 1;
      c.current.time = c.next.time = kNoTime;
      c.next.buffer.reset();
      c.audioLast = c.audioExtrapolated = c.audioNotedMs = -1;
      c.rateCorrection = 0;
      c.startTime = tc;
      c.seekBase = int64_t(cmd.param1) * kTicksPerMs;
      c.pausedAt = 0;
      c.source->Seek(uint32_t(cmd.param1));
      if (c.linkedAudio >= 0) ApplyToAudio(CMD_SEEK, c.linkedAudio, cmd.timeMs, cmd.param1);
      return 1;
    case CMD_SET_RATE:
      if (!c.source) return 1;
      c.rate = cmd.param1 > 0 ? cmd.param1 : 1000;
      c.rateReference = tc - c.startTime;
      if (c.rateReference == -1) c.rateReference = 0;
      return 1;
    case CMD_SLIDE:
    case CMD_BLIND:
    case CMD_FADE:
    case CMD_SWEEP:
    case CMD_FILE_EFFECT:
    case CMD_ZOOM: {
      if (cmd.flag != 0 || !c.source || c.transition) return 1;
      std::unique_ptr<VideoEffect> fx;
      switch (cmd.type) {
        case CMD_SLIDE: fx = std::make_unique<SlideTransition>(fps_, cmd.param1, cmd.param2); break;
        case CMD_BLIND: fx = std::make_unique<BlindTransition>(fps_, cmd.param1, cmd.param2); break;
        case CMD_FADE: fx = std::make_unique<FadeTransition>(fps_, cmd.param1, cmd.param2); break;
        case CMD_SWEEP: fx = std::make_unique<SweepTransition>(fps_, cmd.param1, cmd.param2); break;
        case CMD_ZOOM:
          fx = std::make_unique<ZoomTransition>(fps_, cmd.param1, uint32_t(cmd.param2), uint32_t(cmd.param3));
          break;
        default:
          if (replaying && !cmd.altPath.IsEmpty()) {
            // A cache deleted since the recording is decoded again.
            fx = std::make_unique<FileVideoEffect>(fps_, cmd.altPath, 0, 0, cmd.path, true);
          } else if (!cmd.path.EndsWithNoCase(u".raw")) {
            // An effect file (a ".qbt" mask) is no frame cache: the render and
            // the previews have it decoded into one first.
            fx = std::make_unique<FileVideoEffect>(fps_, ov::String(), uint32_t(cmd.param2), uint32_t(cmd.param3),
                                                   cmd.path, true);
          } else {
            fx = std::make_unique<FileVideoEffect>(fps_, cmd.path, uint32_t(cmd.param2), uint32_t(cmd.param3));
          }
          break;
      }
      fx->Attach(&c.fx);
      c.transition = std::move(fx);
      return 1;
    }
    case CMD_COLOUR_FILTER:
    case CMD_PAN_ZOOM: {
      if (cmd.flag != 0 || !c.source || c.overlays.size() >= kMaxOverlays) return 1;
      std::unique_ptr<VideoEffect> fx;
      if (cmd.type == CMD_COLOUR_FILTER) {
        fx = std::make_unique<ColourFilterEffect>(fps_, uint32_t(cmd.param1));
      } else {
        fx = std::make_unique<PanZoomEffect>(fps_, cmd.param1, uint32_t(cmd.param2), uint32_t(cmd.param3));
      }
      fx->Attach(&c.fx);
      c.overlays.push_back(std::move(fx));
      return 1;
    }
    default:
      return 0;
  }
}

}  // namespace engine
