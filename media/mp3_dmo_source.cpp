#include "media/mp3_dmo_source.h"

#include <cstring>
#include <vector>

#include "platform/com/class_table.h"
#include "platform/decoders/mp3_decoder_object.h"
#include "platform/dshow/media_buffer.h"
#include "platform/dshow/media_type.h"

namespace media {

namespace {

// The 12 bytes that follow the WAVEFORMATEX of an MPEGLAYER3WAVEFORMAT.
constexpr uint16_t kMp3ExtraBytes = 12;

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

}  // namespace

Mp3DmoSource::~Mp3DmoSource() {
  if (decoder_) {
    decoder_->FreeStreamingResources();
    decoder_->Release();
  }
  if (com_initialised_) com::CoUninitialize();
}

bool Mp3DmoSource::Open(const ov::String& file, uint32_t) {
  parser_ = std::make_unique<Mp3Parser>(file);
  if (!parser_->IsOpen()) return false;
  com::CoInitializeEx(nullptr, 0);
  com_initialised_ = true;
  decoders::RegisterMp3DecoderObject();
  if (com::Failed(com::CoCreateInstance(decoders::CLSID_Mp3DecoderObject, nullptr, com::CLSCTX_INPROC_SERVER,
                                        dshow::IID_IMediaObject, reinterpret_cast<void**>(&decoder_))) ||
      !decoder_) {
    decoder_ = nullptr;
    return false;
  }
  const CMPAFrameHeader& first = parser_->first_header();
  channels_ = parser_->channels();
  rate_ = parser_->sample_rate();
  first_frame_ticks_ = uint64_t(first.samples_per_frame) * (Mp3Parser::kClockRate / rate_);

  // Input: an MPEGLAYER3WAVEFORMAT (30 bytes) from the first frame.
  dshow::MediaType in;
  if (com::Failed(dshow::SetFormatBuffer(in.get(), dshow::kWaveFormatExSize + kMp3ExtraBytes))) return false;
  in->majortype = dshow::MEDIATYPE_Audio;
  in->subtype = com::FourccGuid(decoders::WAVE_FORMAT_MPEGLAYER3);
  in->bFixedSizeSamples = false;
  in->bTemporalCompression = false;
  in->lSampleSize = 1;
  in->formattype = dshow::FORMAT_WaveFormatEx;
  bit_rate_ = first.bit_rate ? first.bit_rate : 128000;
  dshow::WaveFormatEx w;
  w.wFormatTag = decoders::WAVE_FORMAT_MPEGLAYER3;
  w.nChannels = uint16_t(channels_);
  w.nSamplesPerSec = rate_;
  w.nAvgBytesPerSec = bit_rate_ / 8;
  w.nBlockAlign = 1;
  w.wBitsPerSample = 0;
  w.cbSize = kMp3ExtraBytes;
  dshow::WriteWaveFormatEx(w, in->pbFormat);
  uint8_t* extra = in->pbFormat + dshow::kWaveFormatExSize;
  PutU16(extra, 1);       // ID: MPEG
  std::memset(extra + 2, 0, 4);  // flags
  PutU16(extra + 6, 1);   // block size
  PutU16(extra + 8, 1);   // frames per block
  PutU16(extra + 10, 0);  // codec delay
  if (decoder_->SetInputType(0, in.get(), 0) != com::S_OK) return false;

  // Output: what the object proposes.
  dshow::MediaType out;
  if (decoder_->GetOutputType(0, 0, out.get()) != com::S_OK) return false;
  if (decoder_->SetOutputType(0, out.get(), 0) != com::S_OK) return false;
  dshow::WaveFormatEx pcm;
  if (!dshow::WaveFormatOf(*out.get(), &pcm) || pcm.nChannels != channels_ || pcm.wBitsPerSample != 16) return false;
  frame_bytes_ = pcm.wBitsPerSample * pcm.nChannels * 1152u / 8;
  if (com::Failed(decoder_->AllocateStreamingResources())) return false;
  drop_next_ = true;
  clock_ = 0;
  return true;
}

bool Mp3DmoSource::GetFormat(MediaFormat* out) {
  if (!out || !parser_ || !parser_->IsOpen()) return false;
  out->sampleRate = rate_;
  out->bitsPerSample = 16;
  out->channels = channels_;
  out->frameDurationMs = 0;
  out->height = 0;
  out->width = 0;
  return true;
}

bool Mp3DmoSource::Rewind() {
  if (!parser_ || !decoder_) return false;
  parser_->Rewind();
  decoder_->Flush();
  drop_next_ = true;
  clock_ = 0;
  return true;
}

bool Mp3DmoSource::Seek(uint32_t timeMs) {
  if (timeMs == 0) return Rewind();
  if (!parser_ || !decoder_) return false;
  // Clip time 0 is the end of the first frame.
  parser_->Rewind();
  decoder_->Flush();
  drop_next_ = false;
  if (!parser_->SeekToClock(uint64_t(timeMs) * (Mp3Parser::kClockRate / 1000) + first_frame_ticks_)) return false;
  clock_ = parser_->clock() - first_frame_ticks_;
  return true;
}

void Mp3DmoSource::FollowBitRate(uint32_t bitRate) {
  if (bitRate == 0 || bitRate == bit_rate_) return;
  dshow::MediaType current;
  if (decoder_->GetInputCurrentType(0, current.get()) != com::S_OK) return;
  dshow::WaveFormatEx w;
  if (!dshow::WaveFormatOf(*current.get(), &w)) return;
  w.nAvgBytesPerSec = bitRate / 8;
  dshow::WriteWaveFormatEx(w, current->pbFormat);
  if (decoder_->SetInputType(0, current.get(), 0) == com::S_OK) bit_rate_ = bitRate;
}

bool Mp3DmoSource::DecodeFrame(std::vector<uint8_t>* out) {
  std::unique_ptr<uint8_t[]> frame;
  uint32_t length = 0;
  CMPAFrameHeader header;
  if (!parser_->NextFrame(&frame, &length, &header)) return false;
  FollowBitRate(header.bit_rate);
  dshow::MediaBuffer* input = dshow::MediaBuffer::Create(length);
  if (!input) return false;
  uint8_t* data = nullptr;
  input->GetBufferAndLength(&data, nullptr);
  std::memcpy(data, frame.get(), length);
  input->SetLength(length);
  const com::HRESULT fed = decoder_->ProcessInput(0, input, 0, 0, 0);
  input->Release();
  if (com::Failed(fed)) return false;
  // One buffer per ProcessOutput, taken until the object has nothing left.
  const uint32_t capacity = (frame_bytes_ + 8) * 2;
  for (;;) {
    dshow::MediaBuffer* output = dshow::MediaBuffer::Create(capacity);
    if (!output) return false;
    dshow::DMO_OUTPUT_DATA_BUFFER buffer{output, 0, 0, 0};
    uint32_t status = 0;
    const com::HRESULT hr = decoder_->ProcessOutput(0, 1, &buffer, &status);
    uint8_t* pcm = nullptr;
    uint32_t bytes = 0;
    output->GetBufferAndLength(&pcm, &bytes);
    if (hr == com::S_OK && bytes) out->insert(out->end(), pcm, pcm + bytes);
    output->Release();
    if (com::Failed(hr)) return false;
    if (hr != com::S_OK || !(buffer.dwStatus & dshow::DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) return true;
  }
}

std::unique_ptr<uint8_t[]> Mp3DmoSource::ReadAudio(uint32_t requestedBytes, uint32_t* bytes, uint32_t* timeMs) {
  if (bytes) *bytes = 0;
  if (!parser_ || !decoder_ || requestedBytes == 0) return nullptr;
  const uint64_t ticks_per_sample = Mp3Parser::kClockRate / rate_;
  const uint64_t end = uint64_t(endMark) * (Mp3Parser::kClockRate / 1000);
  if (endMark != 0 && clock_ >= end) return nullptr;
  if (drop_next_) {
    std::vector<uint8_t> first;
    if (!DecodeFrame(&first)) return nullptr;
    drop_next_ = false;
  }
  std::vector<uint8_t> pcm;
  while (pcm.size() < requestedBytes && DecodeFrame(&pcm)) {
  }
  const uint32_t frame_size = 2 * channels_;
  size_t keep = pcm.size() / frame_size * frame_size;
  if (endMark != 0) {
    const uint64_t allowed = (end - clock_ + ticks_per_sample - 1) / ticks_per_sample * frame_size;
    if (keep > allowed) keep = size_t(allowed);
  }
  if (keep == 0) return nullptr;
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[keep]);
  if (!block) return nullptr;
  std::memcpy(block.get(), pcm.data(), keep);
  if (timeMs) *timeMs = Mp3Parser::ClockToMs(clock_);
  clock_ += keep / frame_size * ticks_per_sample;
  if (bytes) *bytes = uint32_t(keep);
  return block;
}

}  // namespace media
