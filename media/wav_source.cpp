#include "media/wav_source.h"

#include <algorithm>
#include <cstring>

#include "media/gsm_acm_converter.h"
#include "media/wav_file.h"
#include "platform/os/os_error.h"

namespace media {

namespace {

constexpr uint32_t kTagPcm = 1;
constexpr uint32_t kTagGsm610 = 49;
constexpr uint32_t kTagExtensible = 0xFFFE;
constexpr uint32_t kGsmPcmBytesPerBlock = 640;  // 320 samples of 16 bits

}  // namespace

WavSource::~WavSource() = default;

bool WavSource::Open(const ov::String& p, uint32_t) {
  failure_ = "";
  // WavFile gives an empty file a new header; a clip is only read.
  ov::FindData info;
  if (ov::GetFileInfo(p, &info) && info.size == 0 && !(info.attributes & ov::kAttributeDirectory)) {
    return Refuse("an empty file");
  }
  std::vector<uint8_t> chunk;
  WavFile wav;
  const uint32_t status = wav.Open(p, ov::kGenericRead, ov::CreateMode::kOpenExisting, WavFormat(), &chunk);
  if (status == ov::kErrorFileCorrupt) return Refuse("not a RIFF WAVE file, or its header is damaged");
  if (status != 0) return Refuse(ov::ErrorText(status));
  if (chunk.size() < 16) return Refuse("its format chunk is cut short");
  dataOffset = wav.dataOffset;
  dataBytes = wav.dataSize;
  bytesLeft = dataBytes;
  const WavFormat f = wav.format;
  wav.Close();
  if (!file_.Open(p, ov::kGenericRead, ov::kShareRead, ov::CreateMode::kOpenExisting)) {
    return Refuse(ov::ErrorText(ov::GetLastError()));
  }
  if (!file_.Seek(dataOffset, ov::SeekFrom::kBegin)) return Refuse("its data cannot be reached");
  bitsPerSample = f.bitsPerSample;
  sampleRate = f.samplesPerSecond;
  channels = f.channels;
  formatTag = f.formatTag;
  avgBytesPerSecond = f.averageBytesPerSecond;
  positionMs = 0;
  if (formatTag == kTagExtensible) {
    return Refuse("sound format 0xFFFE (extensible): only PCM (format 1) and GSM 6.10 (format 49) are read");
  }
  if (formatTag != kTagPcm && formatTag != kTagGsm610) {
    return Refuse("a sound format other than PCM (format 1) and GSM 6.10 (format 49)");
  }
  // Rates and sizes of 0 would divide by zero in every computation below.
  if (sampleRate == 0 || channels == 0 || f.blockAlign == 0 || avgBytesPerSecond == 0) {
    return Refuse("its header gives a rate, channel count or block size of 0");
  }
  if (formatTag == kTagGsm610) {
    // GSM 6.10 is mono speech: the converter makes one channel, so a header
    // that declares more would play at the wrong speed and layout.
    if (channels != 1) return Refuse("GSM 6.10 of more than one channel");
    blockAlign = f.blockAlign;
    blockMs = static_cast<uint32_t>(uint64_t{blockAlign} * 1000 / avgBytesPerSecond);
    pcmBytesPerSecond = channels * sampleRate * 16 / 8;
    bitsPerSample = 16;
    if (blockMs == 0 || pcmBytesPerSecond == 0) return Refuse("GSM 6.10 blocks shorter than a millisecond");
    gsm_buffer_ = std::make_unique<uint8_t[]>(kGsmReadBufferBytes);
    // A converter that does not open makes every read fail (no audio).
    converter_.Open();
  } else if (bitsPerSample != 8 && bitsPerSample != 16 && bitsPerSample != 24 && bitsPerSample != 32) {
    return Refuse("PCM samples of other than 8, 16, 24 or 32 bits");
  }
  if (dataOffset == 0) return Refuse("no data chunk");
  return true;
}

uint32_t WavSource::FileBytesPerSecond() const {
  return static_cast<uint32_t>(uint64_t{bitsPerSample} * sampleRate * channels / 8);
}

uint32_t WavSource::FrameBytes() const { return channels * bitsPerSample / 8; }

bool WavSource::GetFormat(MediaFormat* out) {
  out->sampleRate = sampleRate;
  out->bitsPerSample = bitsPerSample == 8 ? 8 : 16;
  out->channels = channels;
  out->frameDurationMs = 0;
  out->height = 0;
  out->width = 0;
  out->rendered = 0;
  out->hasColourKey = 0;
  out->colourKey = 0;
  return true;
}

uint32_t WavSource::GetDuration() const {
  uint64_t bps = formatTag == kTagGsm610 ? avgBytesPerSecond : FileBytesPerSecond();
  if (bps == 0) return 0;
  return static_cast<uint32_t>(uint64_t{dataBytes} * 1000 / bps);
}

bool WavSource::Rewind() {
  file_.Seek(dataOffset, ov::SeekFrom::kBegin);
  bytesLeft = dataBytes;
  positionMs = 0;
  converter_.Restart();
  return true;
}

bool WavSource::Seek(uint32_t timeMs) {
  uint64_t offset = 0;
  uint64_t reached_ms = 0;
  if (formatTag == kTagPcm && FileBytesPerSecond() != 0) {
    // In 64 bits, aligned to a whole sample frame so that every channel and
    // byte stays in place; the position is what the offset really holds.
    const uint64_t bps = FileBytesPerSecond();
    const uint32_t frame = std::max<uint32_t>(FrameBytes(), 1);
    offset = uint64_t{timeMs} * bps / 1000;
    offset -= offset % frame;
    offset = std::min<uint64_t>(offset, dataBytes - dataBytes % frame);
    reached_ms = offset * 1000 / bps;
  } else if (formatTag == kTagGsm610 && blockMs != 0) {
    // Whole blocks, and the time reported is the start of the block reached
    // (Seek(130) gives 120 with 40 ms blocks), not the time asked for: the
    // first sample delivered is the block's first, and the video mixer times
    // a linked picture by this position, so reporting 130 would show the
    // picture 10 ms ahead of the sound heard. PCM reports the same way.
    uint64_t blocks = timeMs / blockMs;
    offset = std::min<uint64_t>(blocks * blockAlign, dataBytes - dataBytes % blockAlign);
    reached_ms = offset / blockAlign * blockMs;
  }
  file_.Seek(int64_t{dataOffset} + static_cast<int64_t>(offset), ov::SeekFrom::kBegin);
  positionMs = static_cast<uint32_t>(reached_ms);
  bytesLeft = dataBytes - static_cast<uint32_t>(offset);
  converter_.Restart();
  return true;
}

std::unique_ptr<uint8_t[]> WavSource::ReadAudio(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs) {
  *bytes = 0;
  if (!file_.IsOpen()) return nullptr;
  if (formatTag == kTagGsm610) return ReadGsm(requestedBytes, bytes, timeMs);
  if (formatTag == kTagPcm) return ReadPcm(requestedBytes, bytes, timeMs);
  return nullptr;
}

std::unique_ptr<uint8_t[]> WavSource::ReadPcm(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs) {
  const uint64_t bps = FileBytesPerSecond();
  const uint32_t frame = std::max<uint32_t>(FrameBytes(), 1);
  if (bps == 0) return nullptr;
  // File bytes for the output the caller wants, in whole sample frames.
  uint64_t wanted = requestedBytes;
  if (bitsPerSample == 24) wanted = uint64_t{requestedBytes} / 2 * 3;
  if (bitsPerSample == 32) wanted = uint64_t{requestedBytes} * 2;
  wanted -= wanted % frame;
  if (wanted == 0) wanted = frame;
  uint64_t allowed = std::min<uint64_t>(wanted, bytesLeft);
  if (endMark != 0) {
    uint64_t up_to_mark = uint64_t{endMark} * bps / 1000;
    up_to_mark -= up_to_mark % frame;
    allowed = up_to_mark > ConsumedBytes() ? std::min<uint64_t>(allowed, up_to_mark - ConsumedBytes()) : 0;
  }
  if (allowed == 0) return nullptr;
  auto buffer = std::make_unique<uint8_t[]>(static_cast<size_t>(allowed));
  uint32_t got = 0;
  if (!file_.Read(buffer.get(), static_cast<uint32_t>(allowed), &got)) got = 0;
  got -= got % frame;
  if (got == 0) return nullptr;
  bytesLeft -= got;
  *timeMs = positionMs;
  positionMs = static_cast<uint32_t>(uint64_t{ConsumedBytes()} * 1000 / bps);
  uint32_t out = got;
  if (bitsPerSample == 24) {
    // Keep the two high bytes of every three (little-endian samples).
    uint8_t* p = buffer.get();
    for (uint32_t i = 0; i < got / 3; ++i) {
      p[2 * i] = p[3 * i + 1];
      p[2 * i + 1] = p[3 * i + 2];
    }
    out = got / 3 * 2;
  } else if (bitsPerSample == 32) {
    uint8_t* p = buffer.get();
    for (uint32_t i = 0; i < got / 4; ++i) {
      p[2 * i] = p[4 * i + 2];
      p[2 * i + 1] = p[4 * i + 3];
    }
    out = got / 2;
  }
  *bytes = out;
  return buffer;
}

std::unique_ptr<uint8_t[]> WavSource::ReadGsm(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs) {
  if (bytesLeft == 0 || blockMs == 0 || blockAlign == 0) return nullptr;
  uint64_t ms = uint64_t{requestedBytes} * 1000 / pcmBytesPerSecond;
  uint64_t blocks = ms / blockMs + (ms % blockMs ? 1 : 0);
  // No more blocks than the read buffer holds and the converter's output
  // takes: a larger request would overrun the buffer or lose what does not
  // fit the conversion.
  uint64_t max_blocks = std::min<uint64_t>(kGsmReadBufferBytes / blockAlign,
                                           GsmAcmConverter::kBufferBytes / kGsmPcmBytesPerBlock);
  blocks = std::clamp<uint64_t>(blocks, 1, std::max<uint64_t>(max_blocks, 1));
  uint64_t allowed_output = 0;
  bool mark_reached = false;
  if (endMark != 0) {
    uint64_t blocks_so_far = ConsumedBytes() / blockAlign;
    if ((blocks_so_far + blocks) * blockMs >= endMark) {
      mark_reached = true;
      uint64_t done_ms = blocks_so_far * blockMs;
      if (endMark <= done_ms) return nullptr;  // the mark lies before what is read
      allowed_output = (endMark - done_ms) * pcmBytesPerSecond / 1000;
      allowed_output -= allowed_output % 2;
    }
  }
  uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(blocks * blockAlign, bytesLeft));
  want -= want % blockAlign;
  if (want == 0) {
    bytesLeft = 0;
    return nullptr;
  }
  uint32_t got = 0;
  if (!file_.Read(gsm_buffer_.get(), want, &got)) got = 0;
  if (got == 0) {
    bytesLeft = 0;
    return nullptr;
  }
  bytesLeft -= got;
  uint32_t converted = 0;
  auto pcm = converter_.Convert(gsm_buffer_.get(), got, &converted);
  if (!pcm || converted == 0) return nullptr;
  *timeMs = positionMs;
  positionMs += static_cast<uint32_t>(uint64_t{converted} * 1000 / pcmBytesPerSecond);
  if (mark_reached && allowed_output != 0) {
    *bytes = static_cast<uint32_t>(std::min<uint64_t>(allowed_output, converted));
    bytesLeft = 0;  // the clip ends after this block
  } else {
    *bytes = converted;
  }
  return pcm;
}

}  // namespace media
