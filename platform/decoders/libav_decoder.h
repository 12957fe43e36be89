#pragma once
// LibavDecoder: one libavcodec decoder context with its packet and frame,
// the part the WMA and WMV decoder objects share. Single-threaded decoding,
// so that every packet's output comes out after that packet.
//
// Thread: one user at a time (the owning object's lock).

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace decoders {

class LibavDecoder {
 public:
  struct Setup {
    int codecId = 0;  // AVCodecID
    int width = 0, height = 0;
    int sampleRate = 0, channels = 0, blockAlign = 0;
    int64_t bitRate = 0;
    std::vector<uint8_t> extraData;
  };

  LibavDecoder() = default;
  ~LibavDecoder() { Close(); }
  LibavDecoder(const LibavDecoder&) = delete;
  LibavDecoder& operator=(const LibavDecoder&) = delete;

  bool Open(const Setup& setup);
  void Close();
  bool IsOpen() const { return context_ != nullptr; }
  // Hands one packet (copied) to the decoder; false when it refuses it.
  bool Send(const uint8_t* data, size_t bytes);
  // The next decoded frame (valid until the next call); null when the
  // decoder needs more input.
  const AVFrame* Receive();
  // Ends the input: Receive then gives what the decoder held back, and the
  // decoder takes packets again after Flush.
  void Drain();
  // Drops what the decoder holds (a seek).
  void Flush();

 private:
  AVCodecContext* context_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
};

}  // namespace decoders
