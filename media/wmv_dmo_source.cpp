#include "media/wmv_dmo_source.h"

#include <cstdio>
#include <cstring>

#include "platform/decoders/codec_dmo.h"
#include "platform/dshow/dshow_types.h"
#include "platform/dshow/media_buffer.h"

namespace media {

WmvDmoSource::~WmvDmoSource() {
  if (decoder_) decoder_->FreeStreamingResources();
}

bool WmvDmoSource::OpenReader() {
  reader_ = std::make_unique<AsfReader>(own_path_);
  if (!reader_->IsOpen()) return false;
  const std::vector<uint16_t> streams = reader_->ListVideoStreams();
  if (streams.empty()) return false;
  stream_ = uint8_t(streams[0] & 0xFF);
  const uint32_t position = streams[0] >> 8;
  if (!reader_->GetVideoInfo(position, &header_)) return false;
  extra_ = reader_->GetCodecData(position);
  return true;
}

bool WmvDmoSource::Open(const ov::String& p, uint32_t) {
  own_path_ = p;
  if (!OpenReader()) return false;
  const uint32_t codec = header_.biCompression;
  if (codec != com::FourccCode("WMV1") && codec != com::FourccCode("WMV2") && codec != com::FourccCode("WMV3")) {
    return false;
  }
  if (com::Failed(decoders::CreateCodecDMO(decoders::CodecLibrary::kWmv, decoder_.Receive()))) return false;
  if (header_.biWidth <= 0 || header_.biHeight <= 0) return false;

  dshow::VideoInfoHeader in;
  in.rcSource = in.rcTarget = dshow::Rect{0, 0, header_.biWidth, header_.biHeight};
  in.bmiHeader = header_;
  dshow::MediaType input;
  dshow::SetFormatBuffer(input.get(), dshow::kVideoInfoHeaderSize + uint32_t(extra_.size()));
  input->majortype = dshow::MEDIATYPE_Video;
  input->subtype = com::FourccGuid(codec);
  input->formattype = dshow::FORMAT_VideoInfo;
  dshow::WriteVideoInfoHeader(in, input->pbFormat);
  if (!extra_.empty()) std::memcpy(input->pbFormat + dshow::kVideoInfoHeaderSize, extra_.data(), extra_.size());
  if (decoder_->SetInputType(0, input.get(), 0) != com::S_OK) return false;

  width_ = uint32_t(header_.biWidth);
  height_ = uint32_t(header_.biHeight);
  image_bytes_ = width_ * 16 * height_ / 8;
  dshow::VideoInfoHeader out;
  out.rcSource = out.rcTarget = in.rcSource;
  out.bmiHeader.biWidth = header_.biWidth;
  out.bmiHeader.biHeight = header_.biHeight;
  out.bmiHeader.biBitCount = 16;
  out.bmiHeader.biCompression = dshow::BI_BITFIELDS;
  out.bmiHeader.biSizeImage = image_bytes_;
  dshow::MediaType output;
  dshow::SetFormatBuffer(output.get(), dshow::kVideoInfoHeaderSize);
  output->majortype = dshow::MEDIATYPE_Video;
  output->subtype = dshow::MEDIASUBTYPE_RGB565;
  output->bFixedSizeSamples = true;
  output->lSampleSize = image_bytes_;
  output->formattype = dshow::FORMAT_VideoInfo;
  dshow::WriteVideoInfoHeader(out, output->pbFormat);
  if (decoder_->SetOutputType(0, output.get(), 0) != com::S_OK) return false;
  return com::Succeeded(decoder_->AllocateStreamingResources());
}

bool WmvDmoSource::GetFormat(MediaFormat* out) {
  if (image_bytes_ == 0) return false;
  *out = MediaFormat{};
  out->height = height_;
  out->width = width_;
  return true;
}

bool WmvDmoSource::DecodePacket(std::vector<uint8_t>* frame, uint32_t* timeMs) {
  std::vector<uint8_t> object;
  uint32_t size = 0;
  if (!reader_ || !reader_->ReadMediaObject(&object, stream_, &size, timeMs)) {
    std::printf("GetPacket FAILED\n");
    return false;
  }
  // The decoder takes the bitmap header (its image size the frame's length),
  // the codec bytes and the frame in one buffer.
  const uint32_t total = dshow::kBitmapInfoHeaderSize + uint32_t(extra_.size()) + uint32_t(object.size());
  auto input = com::ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(total));
  if (!input) return false;
  uint8_t* in = nullptr;
  input->GetBufferAndLength(&in, nullptr);
  dshow::BitmapInfoHeader h = header_;
  h.biSizeImage = uint32_t(object.size());
  dshow::WriteBitmapInfoHeader(h, in);
  if (!extra_.empty()) std::memcpy(in + dshow::kBitmapInfoHeaderSize, extra_.data(), extra_.size());
  std::memcpy(in + dshow::kBitmapInfoHeaderSize + extra_.size(), object.data(), object.size());
  input->SetLength(total);
  if (com::Failed(decoder_->ProcessInput(0, input.Get(),
                                         dshow::DMO_INPUT_DATA_BUFFERF_SYNCPOINT | dshow::DMO_INPUT_DATA_BUFFERF_TIME,
                                         0, 0))) {
    std::printf("ProcessInput failed\n");
    return false;
  }
  auto output = com::ComPtr<dshow::IMediaBuffer>::Adopt(dshow::MediaBuffer::Create(image_bytes_));
  if (!output) return false;
  dshow::DMO_OUTPUT_DATA_BUFFER db{output.Get(), 0, 0, 0};
  uint32_t status = 0;
  decoder_->ProcessOutput(0, 1, &db, &status);
  uint8_t* data = nullptr;
  uint32_t length = 0;
  if (com::Failed(output->GetBufferAndLength(&data, &length))) {
    std::printf("GetBufferAndLength failed\n");
    return false;
  }
  frame->assign(data, data + length);
  return true;
}

bool WmvDmoSource::ReadVideoFrame(std::unique_ptr<uint8_t[]>* buffer, uint32_t* bytes, uint32_t* timeMs,
                                  uint32_t single) {
  if (!buffer || !bytes || !timeMs) return false;
  *bytes = 0;
  buffer->reset();
  const uint32_t packets = single ? 1 : frames_to_skip_ + 1;
  std::vector<uint8_t> frame;
  uint32_t time = 0;
  for (uint32_t i = 0; i < packets; ++i) {
    if (!DecodePacket(&frame, &time)) return false;
  }
  // A decoder that held its picture back gives nothing: the clip ends
  // rather than show an empty frame.
  if (frame.size() != image_bytes_) return false;
  if (endMark != 0 && time >= endMark) return false;
  *buffer = std::make_unique<uint8_t[]>(frame.size());
  std::memcpy(buffer->get(), frame.data(), frame.size());
  *bytes = uint32_t(frame.size());
  *timeMs = time;
  frames_to_skip_ = 0;
  return true;
}

bool WmvDmoSource::Seek(uint32_t timeMs) {
  if (timeMs == 0) return Rewind();
  if (!reader_) return false;
  AsfReader::SeekEntry entry;
  if (!reader_->Seek(timeMs, stream_, &entry)) return false;
  if (decoder_) decoder_->Flush();
  frames_to_skip_ = entry.deltaFrames + (entry.timeMs == timeMs ? 1 : 0);
  return true;
}

bool WmvDmoSource::Rewind() {
  frames_to_skip_ = 0;
  if (decoder_) decoder_->Flush();
  return OpenReader();
}

}  // namespace media
