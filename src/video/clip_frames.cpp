#include "video/clip_frames.hpp"

#include <algorithm>
#include <mutex>
#include <vector>

#include "images/foto.hpp"
#include "tilelist/foto_info.hpp"
#include "video/avi_stream.hpp"

namespace tess {

ClipFrames::ClipFrames(std::size_t open_limit) : m_open_limit(std::max<std::size_t>(open_limit, 1)) {}

ClipFrames::~ClipFrames() {
  std::lock_guard lock(video_frame_mutex());
  m_clips.clear();
}

CAviStream* ClipFrames::find_or_open(const std::string& path) {
  const auto found = std::find_if(m_clips.begin(), m_clips.end(), [&](const Clip& clip) { return clip.path == path; });
  if (found != m_clips.end()) {
    m_clips.splice(m_clips.begin(), m_clips, found);
    return m_clips.front().stream.get();
  }
  auto stream = std::make_unique<CAviStream>();
  if (!stream->open(path)) return nullptr;
  if (m_clips.size() >= m_open_limit) m_clips.pop_back();
  m_clips.push_front(Clip{path, std::move(stream)});
  return m_clips.front().stream.get();
}

bool ClipFrames::load(const std::string& path, std::int64_t index, Foto& out) {
  out.clear();
  std::vector<std::uint8_t> bitmap;
  {
    // One decoder at a time for the whole process; the conversion below
    // runs in parallel again.
    std::lock_guard lock(video_frame_mutex());
    CAviStream* stream = find_or_open(path);
    if (stream == nullptr) return false;
    const std::int64_t last = std::max<std::int64_t>(stream->frame_count() - 1, 0);
    if (!stream->decode_frame(std::clamp<std::int64_t>(index, 0, last), bitmap)) return false;
  }
  return out.load_frame(bitmap.data(), bitmap.size());
}

std::size_t ClipFrames::open_count() const {
  std::lock_guard lock(video_frame_mutex());
  return m_clips.size();
}

bool read_clip_sample(const std::string& path, int /*max_side*/, ClipSample& sample) {
  sample = ClipSample{};
  std::vector<std::uint8_t> bitmap;
  {
    std::lock_guard lock(video_frame_mutex());
    CAviStream stream;
    if (!stream.open(path) || stream.frame_count() <= 0) return false;
    sample.frame_count = stream.frame_count();
    sample.frames_per_second = stream.fps();
    if (!stream.decode_frame(0, bitmap)) return false;
  }
  // Clip frames are small already: the analysis samples whatever size it gets.
  return sample.frame.load_frame(bitmap.data(), bitmap.size());
}

}  // namespace tess
