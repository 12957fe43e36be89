// The libavcodec, libavformat and libavutil functions that platform/ calls,
// defined here with the libraries' own prototypes. The first call of any of
// them loads all three libraries with dlopen (`Handle`); each function looks
// its symbol up on its own first call and forwards to it, so that the
// libraries (and the hundred libraries behind them) are loaded only by a
// process that uses them, not at every start of the program and its tools.
// Thread-safe: the handles and each function's pointer are function-local
// statics.
//
// The definitions are hidden: they bind only the calls of the program that
// links them, never the libraries' own calls into one another. When a library
// cannot be loaded, functions that return a pointer return null, those that
// return an error code return AVERROR(ENOSYS) and the others do nothing, so
// the callers fail as they do for a codec the library lacks.
#include <dlfcn.h>

#include <cerrno>
#include <type_traits>

#pragma GCC visibility push(hidden)
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace {

enum class Lib { kCodec, kFormat, kUtil };

#define OV_LIBAV_STRING2(x) #x
#define OV_LIBAV_STRING(x) OV_LIBAV_STRING2(x)

// The handle of one library, loaded once by the major version the program
// was built against; null when it cannot be loaded.
void* Handle(Lib lib) {
  static void* const codec = dlopen("libavcodec.so." OV_LIBAV_STRING(LIBAVCODEC_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
  static void* const format =
      dlopen("libavformat.so." OV_LIBAV_STRING(LIBAVFORMAT_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
  static void* const util = dlopen("libavutil.so." OV_LIBAV_STRING(LIBAVUTIL_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
  switch (lib) {
    case Lib::kCodec:
      return codec;
    case Lib::kFormat:
      return format;
    case Lib::kUtil:
      return util;
  }
  return nullptr;
}

void* Symbol(Lib lib, const char* name) {
  void* handle = Handle(lib);
  return handle ? dlsym(handle, name) : nullptr;
}

template <typename R>
R Missing() {
  if constexpr (std::is_same_v<R, int>) {
    return AVERROR(ENOSYS);
  } else if constexpr (!std::is_void_v<R>) {
    return R{};
  }
}

}  // namespace

#define OV_LIBAV(lib, R, name, params, args)                                          \
  R name params {                                                                     \
    static const auto fn = reinterpret_cast<decltype(&name)>(Symbol(Lib::lib, #name)); \
    if (!fn) return Missing<R>();                                                     \
    return fn args;                                                                   \
  }

extern "C" {
// clang-format off
OV_LIBAV(kCodec, const AVCodec*, avcodec_find_decoder, (enum AVCodecID id), (id))
OV_LIBAV(kCodec, const AVCodec*, avcodec_find_encoder, (enum AVCodecID id), (id))
OV_LIBAV(kCodec, AVCodecContext*, avcodec_alloc_context3, (const AVCodec* codec), (codec))
OV_LIBAV(kCodec, void, avcodec_free_context, (AVCodecContext** avctx), (avctx))
OV_LIBAV(kCodec, int, avcodec_open2, (AVCodecContext* avctx, const AVCodec* codec, AVDictionary** options), (avctx, codec, options))
OV_LIBAV(kCodec, void, avcodec_flush_buffers, (AVCodecContext* avctx), (avctx))
OV_LIBAV(kCodec, int, avcodec_parameters_from_context, (AVCodecParameters* par, const AVCodecContext* codec), (par, codec))
OV_LIBAV(kCodec, int, avcodec_send_packet, (AVCodecContext* avctx, const AVPacket* avpkt), (avctx, avpkt))
OV_LIBAV(kCodec, int, avcodec_receive_frame, (AVCodecContext* avctx, AVFrame* frame), (avctx, frame))
OV_LIBAV(kCodec, int, avcodec_send_frame, (AVCodecContext* avctx, const AVFrame* frame), (avctx, frame))
OV_LIBAV(kCodec, int, avcodec_receive_packet, (AVCodecContext* avctx, AVPacket* avpkt), (avctx, avpkt))
OV_LIBAV(kCodec, AVPacket*, av_packet_alloc, (void), ())
OV_LIBAV(kCodec, void, av_packet_free, (AVPacket** pkt), (pkt))
OV_LIBAV(kCodec, void, av_packet_unref, (AVPacket* pkt), (pkt))
OV_LIBAV(kCodec, int, av_new_packet, (AVPacket* pkt, int size), (pkt, size))

OV_LIBAV(kFormat, int, avformat_alloc_output_context2, (AVFormatContext** ctx, const AVOutputFormat* oformat, const char* format_name, const char* filename), (ctx, oformat, format_name, filename))
OV_LIBAV(kFormat, void, avformat_free_context, (AVFormatContext* s), (s))
OV_LIBAV(kFormat, AVStream*, avformat_new_stream, (AVFormatContext* s, const AVCodec* c), (s, c))
OV_LIBAV(kFormat, int, avformat_write_header, (AVFormatContext* s, AVDictionary** options), (s, options))
OV_LIBAV(kFormat, int, av_interleaved_write_frame, (AVFormatContext* s, AVPacket* pkt), (s, pkt))
OV_LIBAV(kFormat, int, av_write_trailer, (AVFormatContext* s), (s))
OV_LIBAV(kFormat, int, avio_open, (AVIOContext** s, const char* url, int flags), (s, url, flags))
OV_LIBAV(kFormat, int, avio_closep, (AVIOContext** s), (s))
OV_LIBAV(kFormat, void, avio_flush, (AVIOContext* s), (s))

OV_LIBAV(kUtil, void, av_log_set_level, (int level), (level))
OV_LIBAV(kUtil, void*, av_mallocz, (size_t size), (size))
OV_LIBAV(kUtil, AVFrame*, av_frame_alloc, (void), ())
OV_LIBAV(kUtil, void, av_frame_free, (AVFrame** frame), (frame))
OV_LIBAV(kUtil, void, av_frame_unref, (AVFrame* frame), (frame))
OV_LIBAV(kUtil, int, av_frame_get_buffer, (AVFrame* frame, int align), (frame, align))
OV_LIBAV(kUtil, int, av_frame_make_writable, (AVFrame* frame), (frame))
OV_LIBAV(kUtil, int, av_channel_layout_copy, (AVChannelLayout* dst, const AVChannelLayout* src), (dst, src))
OV_LIBAV(kUtil, void, av_channel_layout_default, (AVChannelLayout* ch_layout, int nb_channels), (ch_layout, nb_channels))
OV_LIBAV(kUtil, int, av_opt_set_int, (void* obj, const char* name, int64_t val, int search_flags), (obj, name, val, search_flags))
OV_LIBAV(kUtil, AVRational, av_d2q, (double d, int max), (d, max))
OV_LIBAV(kUtil, int64_t, av_rescale_q, (int64_t a, AVRational bq, AVRational cq), (a, bq, cq))
// clang-format on
}

#pragma GCC visibility pop
