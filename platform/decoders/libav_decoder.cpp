#include "platform/decoders/libav_decoder.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace decoders {

bool LibavDecoder::Open(const Setup& setup) {
  Close();
  // Damaged input is reported by results; the library's own messages would
  // only clutter the program's output.
  av_log_set_level(AV_LOG_QUIET);
  const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(setup.codecId));
  if (!codec) return false;
  context_ = avcodec_alloc_context3(codec);
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (!context_ || !packet_ || !frame_) {
    Close();
    return false;
  }
  context_->thread_count = 1;
  context_->width = setup.width;
  context_->height = setup.height;
  context_->sample_rate = setup.sampleRate;
  if (setup.channels > 0) av_channel_layout_default(&context_->ch_layout, setup.channels);
  context_->block_align = setup.blockAlign;
  context_->bit_rate = setup.bitRate;
  if (!setup.extraData.empty()) {
    context_->extradata = static_cast<uint8_t*>(av_mallocz(setup.extraData.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!context_->extradata) {
      Close();
      return false;
    }
    std::memcpy(context_->extradata, setup.extraData.data(), setup.extraData.size());
    context_->extradata_size = static_cast<int>(setup.extraData.size());
  }
  if (avcodec_open2(context_, codec, nullptr) < 0) {
    Close();
    return false;
  }
  return true;
}

void LibavDecoder::Close() {
  avcodec_free_context(&context_);
  av_packet_free(&packet_);
  av_frame_free(&frame_);
}

bool LibavDecoder::Send(const uint8_t* data, size_t bytes) {
  if (!context_ || bytes == 0 || bytes > size_t(INT32_MAX) - AV_INPUT_BUFFER_PADDING_SIZE) return false;
  av_packet_unref(packet_);
  if (av_new_packet(packet_, static_cast<int>(bytes)) < 0) return false;
  std::memcpy(packet_->data, data, bytes);
  const int result = avcodec_send_packet(context_, packet_);
  av_packet_unref(packet_);
  return result >= 0;
}

const AVFrame* LibavDecoder::Receive() {
  if (!context_) return nullptr;
  return avcodec_receive_frame(context_, frame_) >= 0 ? frame_ : nullptr;
}

void LibavDecoder::Drain() {
  if (context_) avcodec_send_packet(context_, nullptr);
}

void LibavDecoder::Flush() {
  if (context_) avcodec_flush_buffers(context_);
}

}  // namespace decoders
