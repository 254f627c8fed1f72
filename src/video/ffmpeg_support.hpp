#pragma once
// Internal to the video module: owners for FFmpeg's objects, so that every
// object is freed on every path, and the translation of FFmpeg's error
// numbers into the result codes the messages are made of.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace tess::video_detail {

struct InputDeleter {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScaleDeleter {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalePtr = std::unique_ptr<SwsContext, ScaleDeleter>;

/// What the program was doing when FFmpeg failed; the same error number
/// means a different code when opening, reading or writing.
enum class AvActivity { open_input, read, create_output, write };

/// The nearest result code for a negative FFmpeg error: a missing or
/// forbidden file is a failed open, data FFmpeg cannot make sense of is a bad
/// format, a missing decoder or encoder is a missing compressor, I/O errors
/// are read or write errors, out of memory is memory, anything else is the
/// general error. 0 and positive values give 0.
std::uint32_t avi_code_from_av_error(int av_error, AvActivity activity);

/// The name FFmpeg opens `path` by: always as a local file, so that a name
/// like "concat:a.avi" or "http:x" is never taken for one of its protocols.
std::string file_url(const std::filesystem::path& path);

/// Loads FFmpeg's libraries the first time (ffmpeg_library.cpp) and keeps
/// FFmpeg's own log quiet: the program reports every failure in its own
/// words. False when FFmpeg cannot be loaded; nothing of FFmpeg may be
/// called then. Safe to call from any thread, any number of times.
[[nodiscard]] bool init_ffmpeg();

}  // namespace tess::video_detail
