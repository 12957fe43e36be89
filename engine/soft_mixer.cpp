#include "engine/soft_mixer.h"

#include <algorithm>
#include <cstring>

#include "engine/soft_mixer_tables.h"

namespace engine {

std::unique_ptr<uint8_t[]> SilenceBlock(uint32_t bytes, uint32_t bits) {
  auto block = std::make_unique<uint8_t[]>(bytes ? bytes : 1);
  std::memset(block.get(), bits == 8 ? 0x80 : 0, bytes ? bytes : 1);
  return block;
}

SoftMixer::SoftMixer(uint32_t bits, uint32_t rate, uint32_t channels) : rate_(rate), bits_(bits), channels_(channels) {
  SetMasterVolume(65535);
}

SoftMixer::~SoftMixer() {
  for (auto& s : streams_) s->Close();
}

WaveStream* SoftMixer::Find(uintptr_t voice) const {
  for (const auto& s : streams_) {
    if (reinterpret_cast<uintptr_t>(s.get()) == voice) return s.get();
  }
  return nullptr;
}

uint32_t SoftMixer::CheckFormat(const WaveFormatEx* format) const {
  if (!format || format->formatTag != 1 || (format->channels != 1 && format->channels != 2) ||
      (format->bitsPerSample != 8 && format->bitsPerSample != 16) || format->samplesPerSec == 0 ||
      format->samplesPerSec > WaveStream::kMaxSampleRate)
    return WAVERR_BADFORMAT;
  return MMSYSERR_NOERROR;
}

void SoftMixer::GetCaps(WaveOutCaps* caps, uint32_t bytes) const {
  if (!caps) return;
  WaveOutCaps c;
  c.manufacturerId = 1;
  c.productId = 24;
  c.driverVersion = 1;
  const char16_t name[] = u"Audio Output";
  std::memcpy(c.name, name, sizeof(name));
  c.formats = 0xFFF;
  c.channels = 1;
  c.support = 6;
  std::memcpy(caps, &c, std::min<size_t>(bytes, sizeof(WaveOutCaps)));
}

void SoftMixer::SetMasterVolume(uint32_t word) {
  // Only the low 16 bits are a volume; the gain index must stay in the table.
  masterVolume_ = word & 0xFFFF;
  masterGain_ = kSoftMixerGain[63 - (masterVolume_ >> 10)];
}

int SoftMixer::Message(const SoftMixerMessage& m, uintptr_t* result) {
  uintptr_t r = MMSYSERR_NOERROR;
  WaveStream* stream = m.voice ? Find(m.voice) : nullptr;
  auto need_stream = [&]() {
    if (!stream) r = MMSYSERR_INVALHANDLE;
    return stream != nullptr;
  };
  switch (m.message) {
    case WODM_OPEN: {
      auto* desc = reinterpret_cast<const WaveOpenDesc*>(m.param1);
      auto* handle_out = reinterpret_cast<uintptr_t*>(m.voice);
      r = desc ? CheckFormat(desc->format) : WAVERR_BADFORMAT;
      if (r != MMSYSERR_NOERROR || (m.param2 & WAVE_FORMAT_QUERY)) break;
      if (rate_ == 0) {
        r = MMSYSERR_ERROR;
        break;
      }
      auto s = WaveStream::Create(this, *desc->format);
      if (!s) {
        r = MMSYSERR_NOMEM;
        break;
      }
      r = s->Open(*desc, static_cast<uint32_t>(m.param2));
      if (r != MMSYSERR_NOERROR) {
        r = MMSYSERR_ERROR;
        break;
      }
      if (handle_out) *handle_out = reinterpret_cast<uintptr_t>(s.get());
      streams_.push_back(std::move(s));
      break;
    }
    case WODM_CLOSE:
      if (!need_stream()) break;
      r = stream->Close();
      if (r == MMSYSERR_NOERROR) {
        streams_.erase(std::find_if(streams_.begin(), streams_.end(),
                                    [&](const std::unique_ptr<WaveStream>& s) { return s.get() == stream; }));
      }
      break;
    case WODM_WRITE:
    {
      if (!need_stream()) break;
      auto* header = reinterpret_cast<WaveHeader*>(m.param1);
      // A refused buffer stays the client's; an accepted one is the mixer's.
      if (!header || !(header->flags & WHDR_PREPARED)) {
        r = WAVERR_UNPREPARED;
        break;
      }
      r = stream->AddBuffer(std::unique_ptr<WaveHeader>(header));
    }
      break;
    case WODM_PAUSE:
      if (need_stream()) stream->Stop();
      break;
    case WODM_RESTART:
      if (need_stream()) stream->Start();
      break;
    case WODM_RESET:
      if (need_stream()) stream->Reset();
      break;
    case WODM_GETPOS:
      if (need_stream()) r = stream->GetPosition(reinterpret_cast<MmTime*>(m.param1));
      break;
    case WODM_GETVOLUME:
      if (m.voice == 0)
        r = masterVolume_;
      else if (need_stream())
        r = stream->Volume();
      break;
    case WODM_SETVOLUME:
      if (m.voice == 0)
        SetMasterVolume(static_cast<uint32_t>(m.param1));
      else if (need_stream())
        r = stream->SetVolume(static_cast<uint32_t>(m.param1));
      break;
    case WODM_GETPLAYBACKRATE:
      r = 0x10000;
      break;
    case WODM_SETSAMPLERATE:
      if (need_stream()) r = stream->SetSampleRate(static_cast<uint32_t>(m.param1));
      break;
    case WODM_BREAKLOOP:
      // Looping buffers play once; nothing to end.
      break;
    case WODM_SETGAINSELECT:
      if (need_stream()) stream->SetGainSelect(static_cast<uint32_t>(m.param1));
      break;
    case WODM_SETDEVICEGAIN:
      gainSelect_[m.param1 <= 1 ? m.param1 : 1] = static_cast<uint32_t>(m.param2) & 0xFFFF;
      for (auto& s : streams_) s->SetGain();
      break;
    case WODM_RENDER: {
      auto* buffer = reinterpret_cast<uint8_t*>(m.param1);
      uint32_t bytes = static_cast<uint32_t>(m.param2);
      uint32_t frames = bytes / 4;
      // 8-bit output is mixed in 16 bits first and converted in place, so the
      // caller's buffer holds the 16-bit mix (BytesForDuration doubles it).
      uint32_t reached = 0;
      if (buffer && frames && rate_) {
        auto* out = reinterpret_cast<int16_t*>(buffer);
        bool aligned = reinterpret_cast<uintptr_t>(buffer) % alignof(int16_t) == 0;
        if (!aligned) {
          scratch_.assign(static_cast<size_t>(frames) * 2, 0);
          out = scratch_.data();
        }
        for (auto& s : streams_) reached = std::max(reached, s->RenderLoop(out, frames, reached));
        if (!aligned) std::memcpy(buffer, out, static_cast<size_t>(reached) * 4);
        if (bits_ == 8) {
          const int16_t* src = reinterpret_cast<const int16_t*>(buffer);
          for (uint32_t i = 0; i < reached * 2; ++i) {
            int16_t v;
            std::memcpy(&v, reinterpret_cast<const uint8_t*>(src) + 2 * i, 2);
            buffer[i] = static_cast<uint8_t>(((v >> 8) & 0xFF) ^ 0x80);
          }
          r = reached * 2;
        } else {
          r = reached * 4;
        }
      } else {
        r = 0;
      }
      break;
    }
    default:
      r = MMSYSERR_NOTSUPPORTED;
      break;
  }
  if (result) *result = r;
  return 1;
}

uintptr_t SoftMixer::OpenVoice(const WaveFormatEx& format) {
  uintptr_t handle = 0, r = 0;
  WaveOpenDesc desc;
  desc.format = &format;
  Message({0, WODM_OPEN, reinterpret_cast<uintptr_t>(&handle), reinterpret_cast<uintptr_t>(&desc), 0}, &r);
  return r == MMSYSERR_NOERROR ? handle : 0;
}

uint32_t SoftMixer::CloseVoice(uintptr_t voice) {
  uintptr_t r = 0;
  Message({0, WODM_CLOSE, voice, 0, 0}, &r);
  return static_cast<uint32_t>(r);
}

uint32_t SoftMixer::WriteVoice(uintptr_t voice, std::unique_ptr<uint8_t[]> data, uint32_t bytes) {
  if (!Find(voice)) return MMSYSERR_INVALHANDLE;
  auto h = std::make_unique<WaveHeader>();
  h->data = std::move(data);
  h->bufferLength = bytes;
  h->flags = WHDR_PREPARED;
  uintptr_t r = 0;
  Message({0, WODM_WRITE, voice, reinterpret_cast<uintptr_t>(h.release()), sizeof(WaveHeader)}, &r);
  return static_cast<uint32_t>(r);
}

uint32_t SoftMixer::WriteVoice(uintptr_t voice, const uint8_t* data, uint32_t bytes) {
  auto copy = std::make_unique<uint8_t[]>(bytes ? bytes : 1);
  if (bytes) std::memcpy(copy.get(), data, bytes);
  return WriteVoice(voice, std::move(copy), bytes);
}

uint32_t SoftMixer::SetVolume(uintptr_t voice, uint32_t word) {
  uintptr_t r = 0;
  Message({0, WODM_SETVOLUME, voice, word, 0}, &r);
  return static_cast<uint32_t>(r);
}

uint32_t SoftMixer::GetVolume(uintptr_t voice) {
  uintptr_t r = 0;
  Message({0, WODM_GETVOLUME, voice, 0, 0}, &r);
  return static_cast<uint32_t>(r);
}

uint32_t SoftMixer::SetSampleRate(uintptr_t voice, uint32_t rate) {
  uintptr_t r = 0;
  Message({0, WODM_SETSAMPLERATE, voice, rate, 0}, &r);
  return static_cast<uint32_t>(r);
}

uint32_t SoftMixer::QueuedMs(uintptr_t voice) {
  MmTime t;
  t.type = TIME_QUEUED_MS;
  uintptr_t r = 0;
  Message({0, WODM_GETPOS, voice, reinterpret_cast<uintptr_t>(&t), sizeof(MmTime)}, &r);
  return r == MMSYSERR_NOERROR ? t.value : 0;
}

uint64_t SoftMixer::QueuedBytes(uintptr_t voice) const {
  const WaveStream* s = Find(voice);
  return s ? s->QueuedBytes() : 0;
}

uint32_t SoftMixer::Render(uint8_t* buffer, uint32_t bytes) {
  uintptr_t r = 0;
  Message({0, WODM_RENDER, 0, reinterpret_cast<uintptr_t>(buffer), bytes}, &r);
  return static_cast<uint32_t>(r);
}

}  // namespace engine
