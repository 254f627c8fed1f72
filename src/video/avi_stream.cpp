#include "video/avi_stream.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/text.hpp"
#include "images/foto.hpp"
#include "video/ffmpeg_support.hpp"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace tess {

using namespace video_detail;

namespace {

constexpr std::size_t kBitmapHeaderSize = 40;
// Frames this close ahead are decoded on from the last one; a seek would land
// on an earlier key frame and decode at least as many.
constexpr std::int64_t kDecodeOnLimit = 16;
// How far back a seek first retries when the key frame it found lies after
// the frame wanted (reordered streams seek by decoding time).
constexpr std::int64_t kFirstSeekBack = 16;
constexpr std::int64_t kMaxDefaultCount = 5000;
// A frame index nobody knows, or no frame at all.
constexpr std::int64_t kNoFrame = INT64_MIN;

void put_u16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put_u32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A 24-bit bottom-up BITMAPINFOHEADER.
void put_bitmap_header(std::uint8_t* p, int width, int height, std::uint32_t image_size) {
  std::memset(p, 0, kBitmapHeaderSize);
  put_u32(p, kBitmapHeaderSize);
  put_u32(p + 4, static_cast<std::uint32_t>(width));
  put_u32(p + 8, static_cast<std::uint32_t>(height));
  put_u16(p + 12, 1);
  put_u16(p + 14, 24);
  put_u32(p + 20, image_size);
}

// The rectangle `crop` of `whole` (already checked to lie inside it). Out of
// memory is a frame failure like any other: frames are counted, not shown.
bool cut_rect(const Foto& whole, const FrameRect& crop, Foto& out) {
  if (!out.try_allocate(static_cast<int>(crop.width), static_cast<int>(crop.height))) return false;
  for (int y = 0; y < out.height(); ++y) {
    const std::uint32_t* source = whole.row(static_cast<int>(crop.top) + y) + crop.left;
    std::memcpy(out.row(y), source, static_cast<std::size_t>(out.width()) * sizeof(std::uint32_t));
  }
  return true;
}

}  // namespace

std::mutex& video_frame_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::string crop_error(const FrameRect& crop, std::int64_t frame_width, std::int64_t frame_height) {
  const bool fits = crop.left >= 0 && crop.top >= 0 && crop.width > 0 && crop.height > 0 &&
                    crop.width <= frame_width - crop.left && crop.height <= frame_height - crop.top;
  if (fits) return {};
  return tr("Internal Error: The specified Position/Size is bigger than the size of a single Frame");
}

ExtractionDefaults extraction_defaults(std::int64_t frame_width, std::int64_t frame_height, std::int64_t frame_count,
                                       bool clip_mode) {
  ExtractionDefaults defaults;
  defaults.crop = FrameRect{0, 0, frame_width, frame_height};
  if (clip_mode) {
    // Clips are written by a writer that cuts frames to these multiples anyway.
    defaults.crop.width -= defaults.crop.width % 4;
    defaults.crop.height -= defaults.crop.height % 4;
  }
  defaults.first = 0;
  defaults.last = std::max<std::int64_t>(frame_count - 1, 0);
  defaults.count = std::clamp<std::int64_t>(frame_count, 1, kMaxDefaultCount);
  return defaults;
}

ExtractionDefaults extraction_defaults(const CAviStream& stream, bool clip_mode) {
  return extraction_defaults(stream.width(), stream.height(), stream.frame_count(), clip_mode);
}

// Everything FFmpeg holds for one open stream, and where decoding stands.
struct CAviStream::Decoder {
  InputPtr input;
  CodecPtr codec;
  FramePtr frame;  // the last decoded frame
  PacketPtr packet;
  ScalePtr scale;
  int stream_index = -1;
  AVRational time_base{0, 1};
  AVRational frame_rate{0, 1};
  std::int64_t start_time = 0;  // in time_base
  std::int64_t frame_index = kNoFrame;  // index of `frame`
  std::int64_t position = -1;     // index of the last frame decoded since the seek
  bool position_known = false;    // false after a seek into the middle, until a timestamp says
  bool draining = false;          // the demuxer ended and the decoder was told so

  // The index of a frame from its timestamp (negative for frames shown before
  // the stream starts); a frame without one follows the frame before it.
  std::int64_t index_of(const AVFrame* decoded) const {
    std::int64_t ts = decoded->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE) ts = decoded->pts;
    if (ts == AV_NOPTS_VALUE) return position_known ? position + 1 : kNoFrame;
    return av_rescale_q_rnd(ts - start_time, time_base, av_inv_q(frame_rate),
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
  }

  // Decodes the next frame into `frame`: 0, AVERROR_EOF at the end of the
  // stream, or another error.
  int decode_next() {
    frame_index = kNoFrame;
    for (;;) {
      int result = avcodec_receive_frame(codec.get(), frame.get());
      if (result == 0) {
        frame_index = index_of(frame.get());
        position = frame_index;
        position_known = frame_index != kNoFrame;
        return 0;
      }
      if (result != AVERROR(EAGAIN)) return result;
      if (draining) return AVERROR_EOF;
      result = av_read_frame(input.get(), packet.get());
      if (result == AVERROR_EOF) {
        draining = true;
        avcodec_send_packet(codec.get(), nullptr);
        continue;
      }
      if (result < 0) return result;
      if (packet->stream_index == stream_index) {
        result = avcodec_send_packet(codec.get(), packet.get());
        // A damaged packet costs its frame, not the stream.
        if (result < 0 && result != AVERROR_INVALIDDATA && result != AVERROR(EAGAIN)) {
          av_packet_unref(packet.get());
          return result;
        }
      }
      av_packet_unref(packet.get());
    }
  }

  // Positions the demuxer at the key frame at or before frame `target` and
  // resets the decoder.
  bool seek(std::int64_t target) {
    const std::int64_t ts = start_time + av_rescale_q(target, av_inv_q(frame_rate), time_base);
    AVFormatContext* in = input.get();
    int result = av_seek_frame(in, stream_index, ts, AVSEEK_FLAG_BACKWARD);
    if (result < 0) result = avformat_seek_file(in, stream_index, INT64_MIN, ts, ts, 0);
    if (result < 0 && target == 0) result = av_seek_frame(in, stream_index, 0, AVSEEK_FLAG_BYTE);
    if (result < 0) return false;
    avcodec_flush_buffers(codec.get());
    draining = false;
    frame_index = kNoFrame;
    // Frames without timestamps can only be counted from the very start.
    position = -1;
    position_known = target == 0;
    return true;
  }

  // Seeks so that the first frame decoded is frame `index` or one before it
  // and decodes that frame.
  bool seek_to(std::int64_t index) {
    std::int64_t back = 0;
    for (;;) {
      const std::int64_t target = std::max<std::int64_t>(index - back, 0);
      if (!seek(target) || decode_next() != 0) return false;
      if (target == 0 || (frame_index != kNoFrame && frame_index <= index)) return true;
      // The key frame found lies after the frame wanted (streams whose frames
      // are reordered seek by decoding time) or cannot be placed: go back.
      back = frame_index == kNoFrame ? index : (back == 0 ? kFirstSeekBack : back * 2);
    }
  }

  // Leaves frame `index` in `frame` (or the first one after it, where a
  // stream skips it). The next frames are decoded on; others are sought.
  bool reach(std::int64_t index) {
    if (frame_index == index) return true;
    const bool decode_on = frame_index >= 0 && index > frame_index && index - frame_index <= kDecodeOnLimit;
    if (!decode_on && !seek_to(index)) return false;
    while (frame_index < index)
      if (decode_next() != 0 || frame_index == kNoFrame) return false;
    return true;
  }

  // Scales the decoded frame into a bottom-up 24-bit bitmap of width × height.
  bool to_bitmap(int width, int height, std::vector<std::uint8_t>& bitmap) {
    const AVFrame* decoded = frame.get();
    scale.reset(sws_getCachedContext(scale.release(), decoded->width, decoded->height,
                                     static_cast<AVPixelFormat>(decoded->format), width, height, AV_PIX_FMT_BGR24,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scale) return false;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    const std::size_t image_size = stride * static_cast<std::size_t>(height);
    // The scaler's vector loops may store a few bytes past a row's end, and
    // the first row it writes is the last in memory: room after the picture
    // keeps those stores inside the allocation; the size is set back after.
    constexpr std::size_t kScalerSlack = 64;
    bitmap.resize(kBitmapHeaderSize + image_size + kScalerSlack);
    put_bitmap_header(bitmap.data(), width, height, static_cast<std::uint32_t>(image_size));
    // The last bitmap row is the top of the picture: scale with a negative stride.
    std::uint8_t* planes[4] = {bitmap.data() + kBitmapHeaderSize + stride * static_cast<std::size_t>(height - 1),
                               nullptr, nullptr, nullptr};
    int strides[4] = {-static_cast<int>(stride), 0, 0, 0};
    const bool scaled =
        sws_scale(scale.get(), decoded->data, decoded->linesize, 0, decoded->height, planes, strides) == height;
    bitmap.resize(kBitmapHeaderSize + image_size);
    return scaled;
  }
};

CAviStream::CAviStream() : CAviError(false) {}
CAviStream::~CAviStream() = default;

bool CAviStream::is_open() const { return m_decoder != nullptr; }

void CAviStream::close() {
  m_decoder.reset();
  m_frame_count = 0;
  m_rate = FrameRate{};
  m_width = 0;
  m_height = 0;
}

bool CAviStream::fail_open(std::uint32_t code, int step) {
  close();
  check(code, step);
  return false;
}

bool CAviStream::open(const std::filesystem::path& path) {
  close();
  if (!init_ffmpeg()) return fail_open(kAviErrNoCompressor, kAviStepOpenStream);
  try {
    auto decoder = std::make_unique<Decoder>();

    // 1. The file and its first video stream (cover pictures do not count).
    AVFormatContext* raw_input = nullptr;
    const std::string url = file_url(path);
    int result = avformat_open_input(&raw_input, url.c_str(), nullptr, nullptr);
    if (result < 0) return fail_open(avi_code_from_av_error(result, AvActivity::open_input), kAviStepOpenStream);
    decoder->input.reset(raw_input);
    result = avformat_find_stream_info(raw_input, nullptr);
    if (result < 0) return fail_open(avi_code_from_av_error(result, AvActivity::read), kAviStepOpenStream);
    AVStream* stream = nullptr;
    for (unsigned i = 0; i < raw_input->nb_streams && stream == nullptr; ++i) {
      AVStream* candidate = raw_input->streams[i];
      if (candidate->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
          (candidate->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0)
        stream = candidate;
    }
    if (stream == nullptr) return fail_open(kAviErrBadFormat, kAviStepOpenStream);
    decoder->stream_index = stream->index;
    for (unsigned i = 0; i < raw_input->nb_streams; ++i)
      if (static_cast<int>(i) != stream->index) raw_input->streams[i]->discard = AVDISCARD_ALL;

    // 2. The frame format.
    const AVCodecParameters* parameters = stream->codecpar;
    if (parameters->width <= 0 || parameters->height <= 0) return fail_open(kAviErrBadFormat, kAviStepReadFormat);

    // 3. The frame decoder.
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr) return fail_open(kAviErrNoCompressor, kAviStepOpenDecoder);
    decoder->codec.reset(avcodec_alloc_context3(codec));
    decoder->frame.reset(av_frame_alloc());
    decoder->packet.reset(av_packet_alloc());
    if (!decoder->codec || !decoder->frame || !decoder->packet) return fail_open(kAviErrMemory, kAviStepOpenDecoder);
    result = avcodec_parameters_to_context(decoder->codec.get(), parameters);
    if (result >= 0) {
      decoder->codec->pkt_timebase = stream->time_base;
      result = avcodec_open2(decoder->codec.get(), codec, nullptr);
    }
    if (result < 0) return fail_open(avi_code_from_av_error(result, AvActivity::read), kAviStepOpenDecoder);

    // 4. Stream information.
    const AVRational rate = av_guess_frame_rate(raw_input, stream, nullptr);
    if (rate.num <= 0 || rate.den <= 0) return fail_open(kAviErrBadFormat, kAviStepStreamInfo);
    decoder->time_base = stream->time_base;
    decoder->frame_rate = rate;
    decoder->start_time = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    std::int64_t frames = stream->nb_frames;
    if (frames <= 0 && stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
      frames = av_rescale_q_rnd(stream->duration, stream->time_base, av_inv_q(rate), AV_ROUND_NEAR_INF);
    if (frames <= 0 && raw_input->duration != AV_NOPTS_VALUE && raw_input->duration > 0)
      frames = av_rescale_q_rnd(raw_input->duration, AV_TIME_BASE_Q, av_inv_q(rate), AV_ROUND_NEAR_INF);

    m_decoder = std::move(decoder);
    m_frame_count = std::max<std::int64_t>(frames, 0);
    m_rate = FrameRate{rate.num, rate.den};
    m_width = parameters->width;
    m_height = parameters->height;
    return true;
  } catch (const std::bad_alloc&) {
    return fail_open(kAviErrMemory, kAviStepOpenStream);
  }
}

bool CAviStream::decode_frame(std::int64_t index, std::vector<std::uint8_t>& bitmap) {
  bitmap.clear();
  if (!m_decoder || index < 0 || index >= m_frame_count) return false;
  try {
    if (!m_decoder->reach(index) || !m_decoder->to_bitmap(m_width, m_height, bitmap)) {
      bitmap.clear();
      return false;
    }
    return true;
  } catch (const std::bad_alloc&) {
    bitmap.clear();
    return false;
  }
}

bool CAviStream::frame_failure(std::int64_t index, int error) {
  report(format(tr("Unable to read frame nr.%d. Error %d"), index + 1, error));
  return false;
}

bool CAviStream::get_frame(std::int64_t index, Foto& out, std::mutex& lock) {
  return get_frame(index, frame_rect(), out, lock);
}

bool CAviStream::get_frame(std::int64_t index, const FrameRect& crop, Foto& out, std::mutex& lock) {
  out.clear();
  std::vector<std::uint8_t> bitmap;
  bool fetched = false;
  {
    std::lock_guard<std::mutex> guard(lock);
    fetched = decode_frame(index, bitmap);
  }
  if (!fetched) return frame_failure(index, 1);

  Foto whole;
  if (!whole.load_frame(bitmap.data(), bitmap.size())) return frame_failure(index, 2);
  const FrameRect all{0, 0, whole.width(), whole.height()};
  if (crop == all) {
    out = std::move(whole);
    return true;
  }
  if (!crop_error(crop, whole.width(), whole.height()).empty() || !cut_rect(whole, crop, out)) {
    out.clear();
    return frame_failure(index, 3);
  }
  return true;
}

}  // namespace tess
