#include "output/video_writer.hpp"

#include <algorithm>
#include <new>
#include <vector>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "images/foto.hpp"
#include "output/jpeg_writer.hpp"
#include "output/row_source.hpp"
#include "settings/output_formats.hpp"
#include "video/avi_create.hpp"

namespace tess {

namespace {

constexpr std::int64_t kFallbackRate = 5;
constexpr int kFrameJpegQuality = 100;

// Both AVI formats share their extension.
std::string avi_file(const std::string& base_name) {
  return base_name + format_extension(OutputFormatCode::avi_uncompressed);
}

std::string continuation_file(const std::string& base_name, int number) {
  return avi_file(format("%s__%03d", base_name, number));
}

}  // namespace

bool write_avi_rows(RowSource& source, const std::string& base_name, std::uint32_t fourcc, std::int64_t rate,
                    std::int64_t frames, const BeginFrame& begin_frame, Prompt& prompt, std::uint64_t file_limit) {
  // 1. The file, with the frame cut to what the format takes.
  if (rate <= 0) rate = kFallbackRate;
  CAviCreate avi;
  avi.show_messages(prompt);
  AviFrameFormat frame;
  if (!avi.create(avi_file(base_name), source.width(), source.height(), fourcc, static_cast<std::uint32_t>(rate),
                  frame))
    return false;

  // 3. One frame of bottom-up rows.
  std::vector<std::uint8_t> buffer;
  try {
    buffer.resize(frame.image_size);
  } catch (const std::bad_alloc&) {
    prompt.message(out_of_memory_text(source.width(), source.height()) + "!!!!", Icon::error);
    return false;
  }

  int file_number = 1;
  for (std::int64_t k = 1; k <= frames; ++k) {
    // 4. Every row of the rendering is pulled; the frame keeps what it holds.
    if (!begin_frame(k)) return false;
    for (int l = 0; l < source.height(); ++l) {
      const std::uint32_t* row = source.next_row();
      if (row == nullptr) {
        if (!source.stop_requested())
          prompt.message(format(tr("Unable to save file '%s'"), avi_file(base_name)), Icon::error);
        return false;
      }
      if (l >= frame.height) continue;
      std::uint8_t* out = buffer.data() + static_cast<std::size_t>(frame.height - l - 1) * frame.row_bytes;
      for (int x = 0; x < frame.width; ++x, out += 3) {
        out[0] = static_cast<std::uint8_t>(row[x] >> 16);
        out[1] = static_cast<std::uint8_t>(row[x] >> 8);
        out[2] = static_cast<std::uint8_t>(row[x]);
      }
    }
    // 5. A file that would pass the limit makes way for the next one.
    if (avi.frames_written() > 0 && avi.bytes_written() + frame.image_size > file_limit) {
      if (!avi.close()) return false;
      ++file_number;
      if (!avi.create(continuation_file(base_name, file_number), source.width(), source.height(), fourcc,
                      static_cast<std::uint32_t>(rate), frame))
        return false;
    }
    // 6. One key frame.
    if (!avi.write(buffer.data(), buffer.size())) return false;
  }
  // 7. The trailer makes the file playable.
  return avi.close();
}

std::string video_frame_file(const std::string& base_name, std::int64_t frame) {
  return format("%s__%09ld", base_name, static_cast<long>(frame)) + format_extension(OutputFormatCode::video_jpg);
}

bool write_video_frames(RowSource& source, const std::string& base_name, std::int64_t first, std::int64_t last,
                        const BeginFrame& begin_frame, Prompt& prompt) {
  for (std::int64_t k = first; k <= last; ++k) {
    if (!begin_frame(k)) return false;
    if (!write_jpeg_rows(source, video_frame_file(base_name, k), kFrameJpegQuality, 0, prompt)) return false;
  }
  return true;
}

}  // namespace tess
