#include "media/wma_dmo_source.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/decoders/codec_dmo.h"
#include "platform/dshow/dshow_types.h"
#include "platform/dshow/media_buffer.h"

namespace media {

WmaDmoSource::~WmaDmoSource() {
  if (decoder_) decoder_->FreeStreamingResources();
}

bool WmaDmoSource::Open(const ov::String& p, uint32_t) {
  reader_ = std::make_unique<AsfReader>(p);
  if (!reader_->IsOpen()) return false;
  const std::vector<uint16_t> streams = reader_->ListAudioStreams();
  if (streams.empty()) return false;
  stream_ = uint8_t(streams[0] & 0xFF);
  const uint32_t position = streams[0] >> 8;
  dshow::WaveFormatEx in;
  if (!reader_->GetWaveFormat(position, &in)) return false;
  if (in.wFormatTag == dshow::WAVE_FORMAT_PCM) {
    pass_through_ = true;
    output_ = in;
    has_output_ = true;
    return true;
  }
  const std::vector<uint8_t> extra = reader_->GetCodecData(position);
  if (in.wFormatTag < 0x160 || in.wFormatTag > 0x163) return false;
  if (com::Failed(decoders::CreateCodecDMO(decoders::CodecLibrary::kWma, decoder_.Receive()))) return false;

  dshow::MediaType input;
  dshow::SetFormatBuffer(input.get(), dshow::kWaveFormatExSize + uint32_t(extra.size()));
  input->majortype = dshow::MEDIATYPE_Audio;
  input->subtype = com::FourccGuid(in.wFormatTag);
  input->bFixedSizeSamples = true;
  input->formattype = dshow::FORMAT_WaveFormatEx;
  dshow::WriteWaveFormatEx(in, input->pbFormat);
  if (!extra.empty()) std::memcpy(input->pbFormat + dshow::kWaveFormatExSize, extra.data(), extra.size());

  dshow::WaveFormatEx out;
  out.wFormatTag = dshow::WAVE_FORMAT_PCM;
  out.nChannels = in.nChannels;
  out.nSamplesPerSec = in.nSamplesPerSec;
  out.wBitsPerSample = 16;
  out.nBlockAlign = uint16_t(16 * in.nChannels / 8);
  out.nAvgBytesPerSec = out.nBlockAlign * in.nSamplesPerSec;
  dshow::MediaType output;
  dshow::SetFormatBuffer(output.get(), dshow::kWaveFormatExSize);
  output->majortype = dshow::MEDIATYPE_Audio;
  output->subtype = dshow::MEDIASUBTYPE_PCM;
  output->bFixedSizeSamples = true;
  output->lSampleSize = out.nBlockAlign;
  output->formattype = dshow::FORMAT_WaveFormatEx;
  dshow::WriteWaveFormatEx(out, output->pbFormat);
  // A decoder that refuses the types would only ever give silence: the clip
  // does not open.
  if (decoder_->SetInputType(0, input.get(), 0) != com::S_OK) return false;
  if (decoder_->SetOutputType(0, output.get(), 0) != com::S_OK) return false;
  if (com::Failed(decoder_->AllocateStreamingResources())) return false;
  output_ = out;
  has_output_ = true;
  return true;
}

bool WmaDmoSource::GetFormat(MediaFormat* out) {
  if (!has_output_) return false;
  *out = MediaFormat{};
  out->sampleRate = output_.nSamplesPerSec;
  out->bitsPerSample = output_.wBitsPerSample;
  out->channels = output_.nChannels;
  return true;
}

bool WmaDmoSource::DecodePacket(std::unique_ptr<uint8_t[]>* out, uint32_t* bytes, uint32_t* timeMs) {
  std::vector<uint8_t> object;
  uint32_t size = 0;
  if (!reader_) return false;
  if (!reader_->ReadMediaObject(&object, stream_, &size, timeMs)) {
    // The objects have run out: what the decoder held back ends the clip.
    if (pass_through_ || drained_) return false;
    drained_ = true;
    decoder_->Discontinuity(0);
    if (!TakeOutput(out, bytes) || *bytes == 0) return false;
    StampBlock(*bytes, timeMs);
    return true;
  }
  if (!base_set_) {
    base_set_ = true;
    base_time_ms_ = *timeMs;
  }
  if (pass_through_) {
    *out = std::make_unique<uint8_t[]>(object.size());
    std::memcpy(out->get(), object.data(), object.size());
    *bytes = uint32_t(object.size());
    StampBlock(*bytes, timeMs);
    return true;
  }
  com::ComPtr<dshow::IMediaBuffer> input = com::ComPtr<dshow::IMediaBuffer>::Adopt(
      dshow::MediaBuffer::Create(uint32_t(object.size())));
  if (!input) return false;
  uint8_t* in = nullptr;
  input->GetBufferAndLength(&in, nullptr);
  std::memcpy(in, object.data(), object.size());
  input->SetLength(uint32_t(object.size()));
  decoder_->ProcessInput(0, input.Get(), 0, 0, 0);
  if (!TakeOutput(out, bytes)) return false;
  StampBlock(*bytes, timeMs);
  return true;
}

void WmaDmoSource::StampBlock(uint32_t bytes, uint32_t* timeMs) {
  const uint32_t frameBytes = output_.nBlockAlign ? output_.nBlockAlign : 1;
  const uint64_t rate = output_.nSamplesPerSec ? output_.nSamplesPerSec : 1;
  *timeMs = uint32_t(base_time_ms_ + samples_since_ * 1000 / rate);
  block_start_ = samples_since_;
  samples_since_ += bytes / frameBytes;
}

bool WmaDmoSource::TakeOutput(std::unique_ptr<uint8_t[]>* out, uint32_t* bytes) {
  // Output into a buffer of the expected size; what does not fit comes in
  // further calls, so no sound is lost.
  std::vector<uint8_t> pcm;
  for (;;) {
    com::ComPtr<dshow::IMediaBuffer> buffer =
        com::ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(next_output_));
    if (!buffer) return false;
    dshow::DMO_OUTPUT_DATA_BUFFER db{buffer.Get(), 0, 0, 0};
    uint32_t status = 0;
    decoder_->ProcessOutput(0, 1, &db, &status);
    uint8_t* data = nullptr;
    uint32_t length = 0;
    buffer->GetBufferAndLength(&data, &length);
    pcm.insert(pcm.end(), data, data + length);
    // The next buffer: twice this output, at least the largest so far.
    next_output_ = std::max(2 * length, largest_output_);
    largest_output_ = next_output_;
    if (!(db.dwStatus & dshow::DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE) || length == 0) break;
  }
  *out = std::make_unique<uint8_t[]>(std::max<size_t>(pcm.size(), 1));
  if (!pcm.empty()) std::memcpy(out->get(), pcm.data(), pcm.size());
  *bytes = uint32_t(pcm.size());
  return true;
}

std::unique_ptr<uint8_t[]> WmaDmoSource::ReadAudio(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs) {
  *bytes = 0;
  if (requestedBytes == 0 || !has_output_) return nullptr;
  std::unique_ptr<uint8_t[]> block;
  uint32_t length = 0, time = 0;
  // Trims count whole sample frames from the first object's time since the
  // seek (block times are whole milliseconds; the frames are exact).
  const uint64_t rate = output_.nSamplesPerSec, frameBytes = output_.nBlockAlign;
  auto bytesBefore = [&](uint32_t ms) -> uint64_t {
    const uint64_t frames = ms > base_time_ms_ ? uint64_t{ms - base_time_ms_} * rate / 1000 : 0;
    return frames > block_start_ ? (frames - block_start_) * frameBytes : 0;
  };
  // Objects whose sound the decoder holds back give empty blocks, and after
  // a seek whole blocks may lie before the target: both are skipped.
  for (;;) {
    if (!DecodePacket(&block, &length, &time)) return nullptr;
    if (length == 0) continue;
    if (seek_target_ms_ > time && bytesBefore(seek_target_ms_) >= length) continue;
    break;
  }
  if (endMark != 0 && time >= endMark) return nullptr;
  if (seek_target_ms_ > time) {
    const uint64_t skip = bytesBefore(seek_target_ms_);
    std::memmove(block.get(), block.get() + skip, length - skip);
    length -= uint32_t(skip);
    time = seek_target_ms_;
  }
  if (endMark != 0 && bytesBefore(endMark) < length) length = uint32_t(bytesBefore(endMark));
  *bytes = length;
  *timeMs = time;
  return block;
}

bool WmaDmoSource::Seek(uint32_t timeMs) {
  if (!reader_) return false;
  AsfReader::SeekEntry entry;
  if (!reader_->Seek(timeMs, stream_, &entry)) return false;
  if (decoder_) decoder_->Flush();
  drained_ = false;
  base_set_ = false;
  samples_since_ = 0;
  if (entry.steppedBack) {
    // The object before the target's primes the decoder and is dropped.
    std::unique_ptr<uint8_t[]> block;
    uint32_t length = 0, time = 0;
    if (!DecodePacket(&block, &length, &time)) return false;
  }
  seek_target_ms_ = timeMs;
  return true;
}

}  // namespace media
