#pragma once
// Reading videos: the first video stream of any file FFmpeg can read (the AVI
// family, MP4, MKV, MOV, MPEG, ...), decoded frame by frame into 24-bit
// pictures. Frame N is always the same picture, whatever was read before.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "video/avi_error.hpp"

namespace tess {

class Foto;

/// A rectangle of a frame in video pixels.
struct FrameRect {
  std::int64_t left = 0;
  std::int64_t top = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
  friend bool operator==(const FrameRect&, const FrameRect&) = default;
};

/// Frames per second as a fraction (25/1, 30000/1001).
struct FrameRate {
  int num = 0;
  int den = 1;
  double fps() const { return num > 0 && den > 0 ? static_cast<double>(num) / den : 0.0; }
};

/// The lock every fetch of a clip frame for a tile is made under, so that
/// the decoders of many clips never run at once; process-wide.
std::mutex& video_frame_mutex();

/// Empty when `crop` lies inside a frame of frame_width × frame_height with
/// a positive size; otherwise "Internal Error: The specified Position/Size is
/// bigger than the size of a single Frame" (translated).
std::string crop_error(const FrameRect& crop, std::int64_t frame_width, std::int64_t frame_height);

/// The extraction parameters a video starts with before the user changes
/// them.
struct ExtractionDefaults {
  FrameRect crop;           ///< the whole frame; clip mode cuts width and height to multiples of 4
  std::int64_t first = 0;   ///< first frame, from 0
  std::int64_t last = 0;    ///< frame count − 1
  std::int64_t count = 1;   ///< images to take: the frame count within 1..5,000
  std::string prefix = "FR";
  int quality = 90;         ///< JPEG quality of extracted images
};
ExtractionDefaults extraction_defaults(std::int64_t frame_width, std::int64_t frame_height, std::int64_t frame_count,
                                       bool clip_mode);

class CAviStream : public CAviError {
 public:
  CAviStream();
  ~CAviStream() override;
  CAviStream(const CAviStream&) = delete;
  CAviStream& operator=(const CAviStream&) = delete;

  /// Opens the first video stream of `path`, releasing the stream open
  /// before. Failures go through check() with steps 1 (open stream),
  /// 2 (read format), 3 (open frame decoder) and 4 (stream information),
  /// and leave nothing open.
  [[nodiscard]] bool open(const std::filesystem::path& path);
  /// Releases the stream; nothing happens when none is open.
  void close();
  bool is_open() const;

  /// Stream information; zeroes while nothing is open. The frame count is
  /// the count the file declares, else its duration × rate.
  std::int64_t frame_count() const { return m_frame_count; }
  FrameRate rate() const { return m_rate; }
  double fps() const { return m_rate.fps(); }
  int width() const { return m_width; }
  int height() const { return m_height; }
  /// The whole frame: (0, 0, width, height).
  FrameRect frame_rect() const { return FrameRect{0, 0, m_width, m_height}; }

  /// Decodes frame `index` (from 0) into a packed 24-bit bitmap: a 40-byte
  /// BITMAPINFOHEADER, then bottom-up rows of blue, green, red padded to 4
  /// bytes. Frames are decoded exactly: the next frame after the last one is
  /// decoded on, any other is reached by seeking back to a key frame. False,
  /// with the bitmap empty and no message, when the frame does not exist or
  /// cannot be decoded. Not thread-safe: one caller at a time.
  [[nodiscard]] bool decode_frame(std::int64_t index, std::vector<std::uint8_t>& bitmap);

  /// Reading a frame for a tile or an extraction: decodes frame `index`
  /// while holding `lock`, then, with the lock released, converts it into
  /// `out` and cuts `crop` out of it unless `crop` is the whole frame. A
  /// failure reports "Unable to read frame nr.%d. Error %d" with the frame
  /// number from 1 and 1 (no frame), 2 (conversion) or 3 (crop), and leaves
  /// `out` empty.
  [[nodiscard]] bool get_frame(std::int64_t index, Foto& out, std::mutex& lock = video_frame_mutex());
  bool get_frame(std::int64_t index, const FrameRect& crop, Foto& out, std::mutex& lock = video_frame_mutex());

 private:
  struct Decoder;
  [[nodiscard]] bool fail_open(std::uint32_t code, int step);
  bool frame_failure(std::int64_t index, int error);

  std::unique_ptr<Decoder> m_decoder;
  std::int64_t m_frame_count = 0;
  FrameRate m_rate;
  int m_width = 0;
  int m_height = 0;
};

/// The extraction defaults of the open stream `stream`.
ExtractionDefaults extraction_defaults(const CAviStream& stream, bool clip_mode);

}  // namespace tess
