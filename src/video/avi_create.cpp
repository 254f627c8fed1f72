#include "video/avi_create.hpp"

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "base/file_sink.hpp"
#include "images/foto.hpp"
#include "video/ffmpeg_support.hpp"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace tess {

using namespace video_detail;

namespace {

// Marks raw 24-bit frames as stored bottom-up, so that the file's bitmap
// header carries a positive height like every classic AVI.
constexpr char kBottomUp[] = "BottomUp";  // written with its terminating zero: 9 bytes

// FFmpeg writes the file through a sink, so that it takes its name only once
// the trailer is written and the file closed.
constexpr int kIoBufferSize = 1 << 16;

int write_sink(void* sink, std::uint8_t* data, int size) {
  if (size <= 0) return 0;
  if (static_cast<FileSink*>(sink)->write(data, static_cast<std::size_t>(size))) return size;
  return AVERROR(errno != 0 ? errno : EIO);
}

std::int64_t seek_sink(void* sink, std::int64_t offset, int whence) {
  const int fd = static_cast<FileSink*>(sink)->fd();
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : AVERROR(errno);
  }
  const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence);
  return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
}

// The codec FFmpeg reads `fourcc` as; AV_CODEC_ID_NONE when it knows none.
AVCodecID codec_of_fourcc(std::uint32_t fourcc) {
  const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
  return av_codec_get_id(tags, fourcc);
}

// Frees an output context made by open_sink_output().
void free_sink_output(AVIOContext*& io) {
  if (io == nullptr) return;
  av_freep(&io->buffer);
  avio_context_free(&io);
}

}  // namespace

// Everything FFmpeg holds for one file being written.
struct CAviCreate::Encoder {
  AVFormatContext* output = nullptr;
  AVStream* stream = nullptr;
  CodecPtr codec;  // none for raw frames
  FramePtr frame;  // the encoder's input picture
  PacketPtr packet;
  ScalePtr scale;
  AVRational frame_time{1, 1};  // one frame, in seconds
  std::vector<std::uint8_t> rows;  // a Foto turned into bottom-up rows
  std::filesystem::path path;
  FileSink file;  // rolled back unless close() commits it
  bool header_written = false;
  bool failed = false;  // a write failed and was reported

  ~Encoder() {
    if (output != nullptr) {
      free_sink_output(output->pb);
      avformat_free_context(output);
    }
  }
};

CAviCreate::CAviCreate() : CAviError(true) {}

CAviCreate::~CAviCreate() { abandon(); }

void CAviCreate::abandon() {
  m_encoder.reset();  // the sink removes its temporary
  m_format = AviFrameFormat{};
  m_frames = 0;
  m_bytes = 0;
}

bool CAviCreate::is_open() const { return m_encoder != nullptr; }

bool CAviCreate::fail_create(std::uint32_t code, int step) {
  // The file holds nothing usable yet; an earlier one of its name stays.
  m_encoder.reset();
  m_format = AviFrameFormat{};
  m_frames = 0;
  m_bytes = 0;
  check(code, step);
  return false;
}

bool CAviCreate::fail_write(std::uint32_t code) {
  if (m_encoder) m_encoder->failed = true;
  check(code, kAviStepWriteFrame);
  return false;
}

bool CAviCreate::create(const std::filesystem::path& path, int width, int height, std::uint32_t fourcc,
                        std::uint32_t rate) {
  AviFrameFormat format;
  return create(path, width, height, fourcc, rate, format);
}

bool CAviCreate::create(const std::filesystem::path& path, int width, int height, std::uint32_t fourcc,
                        std::uint32_t rate, AviFrameFormat& format) {
  (void)close();  // a file still open from before reported its own failure
  format = AviFrameFormat{};
  if (!init_ffmpeg()) return fail_create(kAviErrNoCompressor, kAviStepCompressedStream);
  const int cut_width = width > 0 ? width - width % 8 : 0;
  const int cut_height = height > 0 ? height - height % 4 : 0;
  // Checked before the file exists, so that a refused size leaves nothing behind.
  if (rate == 0 || rate > static_cast<std::uint32_t>(INT32_MAX))
    return fail_create(kAviErrBadParam, kAviStepCreateStream);
  if (cut_width <= 0 || cut_height <= 0 || static_cast<std::uint64_t>(cut_width) * 3 * cut_height > INT32_MAX)
    return fail_create(kAviErrBadSize, kAviStepSetFormat);

  try {
    m_encoder = std::make_unique<Encoder>();
    Encoder& e = *m_encoder;
    e.path = path;
    e.packet.reset(av_packet_alloc());
    if (!e.packet) return fail_create(kAviErrMemory, kAviStepOpenFile);

    // 10. The file.
    const std::string url = file_url(path);
    int result = avformat_alloc_output_context2(&e.output, nullptr, "avi", url.c_str());
    if (result < 0 || e.output == nullptr)
      return fail_create(avi_code_from_av_error(result < 0 ? result : AVERROR(ENOMEM), AvActivity::create_output),
                         kAviStepOpenFile);
    if (!e.file.open(path))
      return fail_create(avi_code_from_av_error(AVERROR(errno), AvActivity::create_output), kAviStepOpenFile);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (buffer != nullptr) e.output->pb = avio_alloc_context(buffer, kIoBufferSize, 1, &e.file, nullptr, write_sink, seek_sink);
    if (e.output->pb == nullptr) {
      av_free(buffer);
      return fail_create(kAviErrMemory, kAviStepOpenFile);
    }
    e.output->flags |= AVFMT_FLAG_CUSTOM_IO;

    // 11. The stream: one frame lasts 500/rate seconds.
    e.stream = avformat_new_stream(e.output, nullptr);
    if (e.stream == nullptr) return fail_create(kAviErrMemory, kAviStepCreateStream);
    av_reduce(&e.frame_time.num, &e.frame_time.den, 500, rate, INT32_MAX);
    e.stream->time_base = e.frame_time;
    e.stream->avg_frame_rate = av_inv_q(e.frame_time);

    // 12. The compressor the code names.
    if (fourcc != 0) {
      const AVCodecID codec_id = codec_of_fourcc(fourcc);
      const AVCodec* codec = codec_id != AV_CODEC_ID_NONE ? avcodec_find_encoder(codec_id) : nullptr;
      if (codec == nullptr) return fail_create(kAviErrNoCompressor, kAviStepCompressedStream);
      e.codec.reset(avcodec_alloc_context3(codec));
      e.frame.reset(av_frame_alloc());
      if (!e.codec || !e.frame) return fail_create(kAviErrMemory, kAviStepCompressedStream);
      AVCodecContext* c = e.codec.get();
      c->width = cut_width;
      c->height = cut_height;
      c->time_base = e.frame_time;
      c->framerate = av_inv_q(e.frame_time);
      c->sample_aspect_ratio = AVRational{1, 1};
      c->pix_fmt = codec->pix_fmts != nullptr
                       ? avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, AV_PIX_FMT_BGR24, 0, nullptr)
                       : AV_PIX_FMT_YUV420P;
      c->codec_tag = fourcc;
      if (e.output->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
      result = avcodec_open2(c, codec, nullptr);
      if (result < 0)
        return fail_create(avi_code_from_av_error(result, AvActivity::create_output), kAviStepCompressedStream);
      e.frame->format = c->pix_fmt;
      e.frame->width = cut_width;
      e.frame->height = cut_height;
      result = av_frame_get_buffer(e.frame.get(), 0);
      if (result >= 0) {
        e.scale.reset(sws_getContext(cut_width, cut_height, AV_PIX_FMT_BGR24, cut_width, cut_height, c->pix_fmt,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!e.scale) result = AVERROR(ENOMEM);
      }
      if (result < 0)
        return fail_create(avi_code_from_av_error(result, AvActivity::create_output), kAviStepCompressedStream);
    }

    // 13. The frame format, and the file's header.
    AVCodecParameters* parameters = e.stream->codecpar;
    if (e.codec) {
      result = avcodec_parameters_from_context(parameters, e.codec.get());
      if (result < 0) return fail_create(avi_code_from_av_error(result, AvActivity::create_output), kAviStepSetFormat);
      // The muxer would otherwise write its own default tag for the codec.
      parameters->codec_tag = fourcc;
    } else {
      parameters->codec_type = AVMEDIA_TYPE_VIDEO;
      parameters->codec_id = AV_CODEC_ID_RAWVIDEO;
      parameters->codec_tag = 0;
      parameters->format = AV_PIX_FMT_BGR24;
      parameters->width = cut_width;
      parameters->height = cut_height;
      parameters->bits_per_coded_sample = 24;
      parameters->extradata = static_cast<std::uint8_t*>(av_mallocz(sizeof kBottomUp + AV_INPUT_BUFFER_PADDING_SIZE));
      if (parameters->extradata == nullptr) return fail_create(kAviErrMemory, kAviStepSetFormat);
      std::memcpy(parameters->extradata, kBottomUp, sizeof kBottomUp);
      parameters->extradata_size = sizeof kBottomUp;
    }
    if (!m_comment.empty() && av_dict_set(&e.output->metadata, "comment", m_comment.c_str(), 0) < 0)
      return fail_create(kAviErrMemory, kAviStepSetFormat);
    result = avformat_write_header(e.output, nullptr);
    if (result < 0) return fail_create(avi_code_from_av_error(result, AvActivity::create_output), kAviStepSetFormat);
    e.header_written = true;
  } catch (const std::bad_alloc&) {
    return fail_create(kAviErrMemory, kAviStepOpenFile);
  }

  m_format.width = cut_width;
  m_format.height = cut_height;
  m_format.bits = 24;
  m_format.row_bytes = static_cast<std::uint32_t>(cut_width) * 3;
  m_format.image_size = m_format.row_bytes * static_cast<std::uint32_t>(cut_height);
  m_frames = 0;
  m_bytes = 0;
  format = m_format;
  return true;
}

// Hands every packet the encoder has ready to the file.
bool CAviCreate::write_packets() {
  Encoder& e = *m_encoder;
  for (;;) {
    int result = avcodec_receive_packet(e.codec.get(), e.packet.get());
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
    if (result < 0) return fail_write(avi_code_from_av_error(result, AvActivity::write));
    av_packet_rescale_ts(e.packet.get(), e.codec->time_base, e.stream->time_base);
    e.packet->stream_index = e.stream->index;
    const int size = e.packet->size;
    result = av_write_frame(e.output, e.packet.get());
    av_packet_unref(e.packet.get());
    if (result >= 0 && e.output->pb->error < 0) result = e.output->pb->error;
    if (result < 0) return fail_write(avi_code_from_av_error(result, AvActivity::write));
    m_bytes += static_cast<std::uint64_t>(size);
  }
}

bool CAviCreate::write(const std::uint8_t* rows, std::size_t size) {
  if (!m_encoder) return fail_write(kAviErrBadHandle);
  if (rows == nullptr) return fail_write(kAviErrBadParam);
  if (size < m_format.image_size) return fail_write(kAviErrBadSize);
  Encoder& e = *m_encoder;
  const int height = m_format.height;
  const int row_bytes = static_cast<int>(m_format.row_bytes);

  // Raw frames go to the file as they are: bottom-up BGR rows, all key frames.
  if (!e.codec) return write_packet(rows, m_format.image_size, true);

  int result = av_frame_make_writable(e.frame.get());
  if (result < 0) return fail_write(avi_code_from_av_error(result, AvActivity::write));
  // The last row handed in is the top of the picture: read with a negative stride.
  const std::uint8_t* planes[4] = {rows + static_cast<std::size_t>(row_bytes) * static_cast<std::size_t>(height - 1),
                                   nullptr, nullptr, nullptr};
  const int strides[4] = {-row_bytes, 0, 0, 0};
  if (sws_scale(e.scale.get(), planes, strides, 0, height, e.frame->data, e.frame->linesize) != height)
    return fail_write(kAviErrError);
  e.frame->pts = m_frames;
  result = avcodec_send_frame(e.codec.get(), e.frame.get());
  if (result < 0) return fail_write(avi_code_from_av_error(result, AvActivity::write));
  if (!write_packets()) return false;
  ++m_frames;
  return true;
}

bool CAviCreate::write_packet(const std::uint8_t* data, std::size_t size, bool key) {
  if (!m_encoder) return fail_write(kAviErrBadHandle);
  if (data == nullptr || size == 0 || size > static_cast<std::size_t>(INT32_MAX)) return fail_write(kAviErrBadParam);
  Encoder& e = *m_encoder;
  if (!e.codec && size != m_format.image_size) return fail_write(kAviErrBadSize);
  int result = av_new_packet(e.packet.get(), static_cast<int>(size));
  if (result < 0) return fail_write(kAviErrMemory);
  std::memcpy(e.packet->data, data, size);
  // Stamped as write() stamps the frame it compresses: one frame after the last.
  e.packet->pts = e.packet->dts = m_frames;
  e.packet->duration = 1;
  if (key) e.packet->flags |= AV_PKT_FLAG_KEY;
  e.packet->stream_index = e.stream->index;
  av_packet_rescale_ts(e.packet.get(), e.frame_time, e.stream->time_base);
  result = av_write_frame(e.output, e.packet.get());
  av_packet_unref(e.packet.get());
  if (result >= 0 && e.output->pb->error < 0) result = e.output->pb->error;
  if (result < 0) return fail_write(avi_code_from_av_error(result, AvActivity::write));
  m_bytes += size;
  ++m_frames;
  return true;
}

bool CAviCreate::write(const Foto& frame) {
  if (!m_encoder) return fail_write(kAviErrBadHandle);
  if (frame.width() < m_format.width || frame.height() < m_format.height) return fail_write(kAviErrBadSize);
  std::vector<std::uint8_t>& rows = m_encoder->rows;
  try {
    rows.resize(m_format.image_size);
  } catch (const std::bad_alloc&) {
    return fail_write(kAviErrMemory);
  }
  for (int y = 0; y < m_format.height; ++y) {
    const std::uint32_t* source = frame.row(y);
    std::uint8_t* target = rows.data() + static_cast<std::size_t>(m_format.height - 1 - y) * m_format.row_bytes;
    for (int x = 0; x < m_format.width; ++x, target += 3) {
      target[0] = static_cast<std::uint8_t>(pixel_blue(source[x]));
      target[1] = static_cast<std::uint8_t>(pixel_green(source[x]));
      target[2] = static_cast<std::uint8_t>(pixel_red(source[x]));
    }
  }
  return write(rows.data(), rows.size());
}

bool CAviCreate::close() {
  if (!m_encoder) return true;
  Encoder& e = *m_encoder;
  // After a reported write failure the rest is released quietly: one
  // message per failed file.
  bool ok = !e.failed;
  if (e.codec && e.header_written && ok) {
    const int result = avcodec_send_frame(e.codec.get(), nullptr);
    if (result < 0 && result != AVERROR_EOF) ok = fail_write(avi_code_from_av_error(result, AvActivity::write));
    else ok = write_packets();
  }
  int result = 0;
  if (e.header_written) result = av_write_trailer(e.output);
  if (e.output->pb != nullptr) {
    avio_flush(e.output->pb);
    if (result >= 0 && e.output->pb->error < 0) result = e.output->pb->error;
    free_sink_output(e.output->pb);
  }
  // The file takes its name only when complete; otherwise the temporary goes.
  if (result >= 0 && ok && !e.file.commit()) result = AVERROR(errno != 0 ? errno : EIO);
  if (result < 0 && ok) ok = fail_write(avi_code_from_av_error(result, AvActivity::write));
  m_encoder.reset();
  m_format = AviFrameFormat{};
  m_frames = 0;
  m_bytes = 0;
  return ok;
}

bool frames_encoded_alone(std::uint32_t fourcc) {
  // Only raw frames: FFmpeg's encoders carry state from frame to frame, Motion
  // JPEG's too, whose bit-rate budget sets each frame's quantiser from the
  // sizes of the frames before it.
  return fourcc == 0;
}

}  // namespace tess
