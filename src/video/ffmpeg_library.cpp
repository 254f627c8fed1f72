// FFmpeg is loaded when the program first reads or writes a video, not when
// it starts. Its libraries pull in about 130 more shared objects (codecs,
// TLS, X11, ...); loading and relocating them cost every run about 20 ms
// before main(), whether it touches a video or not, and most runs (a mosaic
// of photos, a list of photos) never do.
//
// The video code calls FFmpeg's functions by their own names, as declared in
// FFmpeg's headers. This file defines each of them once: a forwarder that
// jumps to the real function, whose address is looked up when the libraries
// are loaded. The compiler checks every forwarder against FFmpeg's own
// declaration, so a wrong parameter list does not build.

#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/version.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavformat/version.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/macros.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/version.h>
#include <libswscale/swscale.h>
#include <libswscale/version.h>
}

#include "video/ffmpeg_support.hpp"

namespace {

// The libraries by the major version the program was built against: another
// major version has another ABI and must not be taken instead.
enum Library { avutil, swscale, avcodec, avformat, kLibraryCount };
constexpr std::array<const char*, kLibraryCount> kSonames = {
    "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
    "libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR),
    "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
    "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
};

// Every FFmpeg function the program calls: library, return type, name,
// parameters, and the arguments passed on.
#define TESS_FFMPEG_FUNCTIONS(X)                                                                                   \
  X(avutil, void, av_log_set_level, (int level), (level))                                                          \
  X(avutil, void*, av_malloc, (size_t size), (size))                                                               \
  X(avutil, void*, av_mallocz, (size_t size), (size))                                                              \
  X(avutil, void, av_free, (void* ptr), (ptr))                                                                     \
  X(avutil, void, av_freep, (void* ptr), (ptr))                                                                    \
  X(avutil, AVDictionaryEntry*, av_dict_get,                                                                       \
    (const AVDictionary* m, const char* key, const AVDictionaryEntry* prev, int flags), (m, key, prev, flags))     \
  X(avutil, int, av_dict_set, (AVDictionary * *pm, const char* key, const char* value, int flags),                 \
    (pm, key, value, flags))                                                                                       \
  X(avutil, AVFrame*, av_frame_alloc, (void), ())                                                                  \
  X(avutil, void, av_frame_free, (AVFrame * *frame), (frame))                                                      \
  X(avutil, int, av_frame_get_buffer, (AVFrame * frame, int align), (frame, align))                                \
  X(avutil, int, av_frame_make_writable, (AVFrame * frame), (frame))                                               \
  X(avutil, int, av_reduce, (int* dst_num, int* dst_den, int64_t num, int64_t den, int64_t max),                   \
    (dst_num, dst_den, num, den, max))                                                                             \
  X(avutil, int64_t, av_rescale_q, (int64_t a, AVRational bq, AVRational cq), (a, bq, cq))                         \
  X(avutil, int64_t, av_rescale_q_rnd, (int64_t a, AVRational bq, AVRational cq, enum AVRounding rnd),             \
    (a, bq, cq, rnd))                                                                                              \
  X(swscale, void, sws_freeContext, (struct SwsContext * context), (context))                                      \
  X(swscale, struct SwsContext*, sws_getContext,                                                                   \
    (int src_w, int src_h, enum AVPixelFormat src_format, int dst_w, int dst_h, enum AVPixelFormat dst_format,     \
     int flags, SwsFilter* src_filter, SwsFilter* dst_filter, const double* param),                                \
    (src_w, src_h, src_format, dst_w, dst_h, dst_format, flags, src_filter, dst_filter, param))                    \
  X(swscale, struct SwsContext*, sws_getCachedContext,                                                             \
    (struct SwsContext * context, int src_w, int src_h, enum AVPixelFormat src_format, int dst_w, int dst_h,       \
     enum AVPixelFormat dst_format, int flags, SwsFilter* src_filter, SwsFilter* dst_filter, const double* param), \
    (context, src_w, src_h, src_format, dst_w, dst_h, dst_format, flags, src_filter, dst_filter, param))           \
  X(swscale, int, sws_scale,                                                                                       \
    (struct SwsContext * c, const uint8_t* const src_slice[], const int src_stride[], int src_slice_y,             \
     int src_slice_h, uint8_t* const dst[], const int dst_stride[]),                                               \
    (c, src_slice, src_stride, src_slice_y, src_slice_h, dst, dst_stride))                                         \
  X(avcodec, AVPacket*, av_packet_alloc, (void), ())                                                               \
  X(avcodec, void, av_packet_free, (AVPacket * *packet), (packet))                                                 \
  X(avcodec, void, av_packet_unref, (AVPacket * packet), (packet))                                                 \
  X(avcodec, int, av_new_packet, (AVPacket * packet, int size), (packet, size))                                    \
  X(avcodec, void, av_packet_rescale_ts, (AVPacket * packet, AVRational tb_src, AVRational tb_dst),                \
    (packet, tb_src, tb_dst))                                                                                      \
  X(avcodec, AVCodecContext*, avcodec_alloc_context3, (const AVCodec* codec), (codec))                             \
  X(avcodec, void, avcodec_free_context, (AVCodecContext * *context), (context))                                   \
  X(avcodec, enum AVPixelFormat, avcodec_find_best_pix_fmt_of_list,                                                \
    (const enum AVPixelFormat* pix_fmt_list, enum AVPixelFormat src_pix_fmt, int has_alpha, int* loss_ptr),        \
    (pix_fmt_list, src_pix_fmt, has_alpha, loss_ptr))                                                              \
  X(avcodec, const AVCodec*, avcodec_find_decoder, (enum AVCodecID id), (id))                                      \
  X(avcodec, const AVCodec*, avcodec_find_encoder, (enum AVCodecID id), (id))                                      \
  X(avcodec, void, avcodec_flush_buffers, (AVCodecContext * context), (context))                                   \
  X(avcodec, int, avcodec_open2, (AVCodecContext * context, const AVCodec* codec, AVDictionary** options),         \
    (context, codec, options))                                                                                     \
  X(avcodec, int, avcodec_parameters_from_context, (AVCodecParameters * par, const AVCodecContext* codec),         \
    (par, codec))                                                                                                  \
  X(avcodec, int, avcodec_parameters_to_context, (AVCodecContext * codec, const AVCodecParameters* par),           \
    (codec, par))                                                                                                  \
  X(avcodec, int, avcodec_receive_frame, (AVCodecContext * context, AVFrame * frame), (context, frame))            \
  X(avcodec, int, avcodec_receive_packet, (AVCodecContext * context, AVPacket * packet), (context, packet))        \
  X(avcodec, int, avcodec_send_frame, (AVCodecContext * context, const AVFrame* frame), (context, frame))          \
  X(avcodec, int, avcodec_send_packet, (AVCodecContext * context, const AVPacket* packet), (context, packet))      \
  X(avformat, enum AVCodecID, av_codec_get_id, (const struct AVCodecTag* const* tags, unsigned int tag),           \
    (tags, tag))                                                                                                   \
  X(avformat, int, av_find_best_stream,                                                                            \
    (AVFormatContext * context, enum AVMediaType type, int wanted_stream, int related_stream,                      \
     const AVCodec** decoder, int flags),                                                                          \
    (context, type, wanted_stream, related_stream, decoder, flags))                                                \
  X(avformat, const AVInputFormat*, av_find_input_format, (const char* short_name), (short_name))                  \
  X(avformat, AVRational, av_guess_frame_rate, (AVFormatContext * context, AVStream * stream, AVFrame * frame),     \
    (context, stream, frame))                                                                                      \
  X(avformat, int, av_read_frame, (AVFormatContext * context, AVPacket * packet), (context, packet))               \
  X(avformat, int, av_seek_frame, (AVFormatContext * context, int stream_index, int64_t timestamp, int flags),      \
    (context, stream_index, timestamp, flags))                                                                     \
  X(avformat, int, av_write_frame, (AVFormatContext * context, AVPacket * packet), (context, packet))              \
  X(avformat, int, av_write_trailer, (AVFormatContext * context), (context))                                       \
  X(avformat, int, avformat_alloc_output_context2,                                                                 \
    (AVFormatContext * *context, const AVOutputFormat* format, const char* format_name, const char* filename),     \
    (context, format, format_name, filename))                                                                      \
  X(avformat, void, avformat_close_input, (AVFormatContext * *context), (context))                                 \
  X(avformat, int, avformat_find_stream_info, (AVFormatContext * context, AVDictionary * *options),                \
    (context, options))                                                                                            \
  X(avformat, void, avformat_free_context, (AVFormatContext * context), (context))                                 \
  X(avformat, const struct AVCodecTag*, avformat_get_riff_video_tags, (void), ())                                  \
  X(avformat, AVStream*, avformat_new_stream, (AVFormatContext * context, const AVCodec* codec), (context, codec))  \
  X(avformat, int, avformat_open_input,                                                                            \
    (AVFormatContext * *context, const char* url, const AVInputFormat* format, AVDictionary** options),            \
    (context, url, format, options))                                                                               \
  X(avformat, int, avformat_seek_file,                                                                             \
    (AVFormatContext * context, int stream_index, int64_t min_ts, int64_t ts, int64_t max_ts, int flags),          \
    (context, stream_index, min_ts, ts, max_ts, flags))                                                            \
  X(avformat, int, avformat_write_header, (AVFormatContext * context, AVDictionary * *options), (context, options)) \
  X(avformat, AVIOContext*, avio_alloc_context,                                                                    \
    (unsigned char* buffer, int buffer_size, int write_flag, void* opaque,                                         \
     int (*read_packet)(void* opaque, uint8_t* buf, int buf_size),                                                 \
     int (*write_packet)(void* opaque, uint8_t* buf, int buf_size),                                                \
     int64_t (*seek)(void* opaque, int64_t offset, int whence)),                                                   \
    (buffer, buffer_size, write_flag, opaque, read_packet, write_packet, seek))                                    \
  X(avformat, void, avio_context_free, (AVIOContext * *context), (context))                                        \
  X(avformat, void, avio_flush, (AVIOContext * context), (context))

enum Function : std::size_t {
#define TESS_FFMPEG_INDEX(library, result, name, parameters, arguments) k_##name,
  TESS_FFMPEG_FUNCTIONS(TESS_FFMPEG_INDEX)
#undef TESS_FFMPEG_INDEX
      kFunctionCount
};

struct Symbol {
  Library library;
  const char* name;
};
constexpr std::array<Symbol, kFunctionCount> kSymbols = {{
#define TESS_FFMPEG_SYMBOL(library, result, name, parameters, arguments) {library, #name},
    TESS_FFMPEG_FUNCTIONS(TESS_FFMPEG_SYMBOL)
#undef TESS_FFMPEG_SYMBOL
}};

// Filled once, while init_ffmpeg()'s static is initialised; every caller of
// a forwarder has passed through init_ffmpeg() first, which orders the
// writes before its reads.
std::array<void*, kFunctionCount> g_addresses{};

// Every library, then every function; false at the first one missing (a
// library not installed, or of another build lacking a function).
bool load() {
  std::array<void*, kLibraryCount> handles{};
  for (std::size_t i = 0; i < kLibraryCount; ++i) {
    // Kept open for the life of the process, as a linked library would be.
    handles[i] = dlopen(kSonames[i], RTLD_NOW | RTLD_LOCAL);
    if (handles[i] == nullptr) return false;
  }
  std::array<void*, kFunctionCount> addresses{};
  for (std::size_t i = 0; i < kFunctionCount; ++i) {
    addresses[i] = dlsym(handles[kSymbols[i].library], kSymbols[i].name);
    if (addresses[i] == nullptr) return false;
  }
  g_addresses = addresses;
  return true;
}

// A forwarder called before load() succeeded is a fault in this program:
// there is no address to go to, and nothing sensible to return.
[[noreturn]] void called_unloaded(const char* name) {
  std::fprintf(stderr, "tessellarium: %s called before FFmpeg was loaded\n", name);
  std::abort();
}

template <typename Pointer>
Pointer address_of(Function function, const char* name) {
  void* address = g_addresses[function];
  if (address == nullptr) [[unlikely]]
    called_unloaded(name);
  return reinterpret_cast<Pointer>(address);
}

}  // namespace

extern "C" {
#define TESS_FFMPEG_FORWARD(library, result, name, parameters, arguments) \
  result name parameters { return address_of<decltype(&name)>(k_##name, #name) arguments; }
TESS_FFMPEG_FUNCTIONS(TESS_FFMPEG_FORWARD)
#undef TESS_FFMPEG_FORWARD
}

namespace tess::video_detail {

bool init_ffmpeg() {
  static const bool ready = [] {
    if (!load()) return false;
    av_log_set_level(AV_LOG_QUIET);
    return true;
  }();
  return ready;
}

}  // namespace tess::video_detail
