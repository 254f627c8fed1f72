#include "video/avi_packets.hpp"

#include <new>

#include "video/ffmpeg_support.hpp"

namespace tess {

using namespace video_detail;

struct AviPacketReader::Input {
  InputPtr input;
  PacketPtr packet;
  int stream = -1;
};

AviPacketReader::AviPacketReader() = default;
AviPacketReader::~AviPacketReader() = default;

bool AviPacketReader::open(const std::filesystem::path& path) {
  m_input.reset();
  m_format = AviStreamFormat{};
  m_failed = false;
  if (!init_ffmpeg()) return false;
  auto input = std::make_unique<Input>();
  input->packet.reset(av_packet_alloc());
  if (!input->packet) return false;
  AVFormatContext* context = nullptr;
  const std::string url = file_url(path);
  if (avformat_open_input(&context, url.c_str(), av_find_input_format("avi"), nullptr) < 0) return false;
  input->input.reset(context);
  if (avformat_find_stream_info(context, nullptr) < 0) return false;
  input->stream = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (input->stream < 0) return false;

  const AVStream* stream = context->streams[input->stream];
  const AVCodecParameters* parameters = stream->codecpar;
  m_format.width = parameters->width;
  m_format.height = parameters->height;
  m_format.fourcc = parameters->codec_id == AV_CODEC_ID_RAWVIDEO ? 0 : parameters->codec_tag;
  // One frame lasts one unit of the stream's time base: 500/rate seconds.
  const AVRational frame_time = stream->time_base;
  if (frame_time.num > 0 && frame_time.den > 0 && (500LL * frame_time.den) % frame_time.num == 0 &&
      500LL * frame_time.den / frame_time.num <= INT32_MAX)
    m_format.rate = static_cast<std::uint32_t>(500LL * frame_time.den / frame_time.num);
  if (const AVDictionaryEntry* comment = av_dict_get(context->metadata, "comment", nullptr, 0); comment != nullptr)
    m_format.comment = comment->value;
  m_input = std::move(input);
  return true;
}

bool AviPacketReader::next(std::vector<std::uint8_t>& data, bool& key) {
  if (!m_input) return false;
  AVPacket* packet = m_input->packet.get();
  for (;;) {
    const int result = av_read_frame(m_input->input.get(), packet);
    if (result == AVERROR_EOF) return false;
    if (result < 0) {
      m_failed = true;
      return false;
    }
    if (packet->stream_index != m_input->stream) {
      av_packet_unref(packet);
      continue;
    }
    try {
      data.assign(packet->data, packet->data + packet->size);
    } catch (const std::bad_alloc&) {
      av_packet_unref(packet);
      m_failed = true;
      return false;
    }
    key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(packet);
    return true;
  }
}

}  // namespace tess
