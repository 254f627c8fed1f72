#pragma once
// Writing videos: an AVI file with one video stream, either raw 24-bit frames
// (stored bottom-up, as every AVI player expects them) or frames compressed by
// the codec a four-character code names.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "video/avi_error.hpp"

namespace tess {

class Foto;

/// The frame format of a created video: frames are handed to write() as
/// bottom-up rows of blue, green, red, `row_bytes` each.
struct AviFrameFormat {
  int width = 0;   ///< the requested width cut to a multiple of 8
  int height = 0;  ///< the requested height cut to a multiple of 4
  int bits = 24;
  std::uint32_t row_bytes = 0;   ///< width × 3 (already a multiple of 4)
  std::uint32_t image_size = 0;  ///< row_bytes × height
};

class CAviCreate : public CAviError {
 public:
  CAviCreate();
  /// Abandons a file that close() did not finish, as abandon() does.
  ~CAviCreate() override;
  CAviCreate(const CAviCreate&) = delete;
  CAviCreate& operator=(const CAviCreate&) = delete;

  /// Creates (or, on close(), replaces) the AVI file `path` with one video stream of
  /// width × height cut to multiples of 8 and 4, `rate` in 1/500 frame per
  /// second (25 fps = 12,500), raw BGR24 frames for `fourcc` 0, else the
  /// encoder FFmpeg knows for that code (first character in the lowest byte),
  /// written with that code as its tag. Closes what was open first. Failures
  /// go through check() with steps 10 (open file), 11 (create stream),
  /// 12 (compressor), 13 (set format) and leave nothing open; `format` is
  /// filled on success.
  [[nodiscard]] bool create(const std::filesystem::path& path, int width, int height, std::uint32_t fourcc, std::uint32_t rate,
              AviFrameFormat& format);
  [[nodiscard]] bool create(const std::filesystem::path& path, int width, int height, std::uint32_t fourcc, std::uint32_t rate);

  /// Writes one frame at the next index: `size` bytes of bottom-up BGR rows
  /// in the frame format (at least image_size). Raw frames are all key
  /// frames. Failures go through check() with step 15.
  [[nodiscard]] bool write(const std::uint8_t* rows, std::size_t size);
  /// Writes the top-left width × height pixels of `frame`, which must be at
  /// least that large.
  [[nodiscard]] bool write(const Foto& frame);

  /// Writes one frame already compressed as this file's frames are (raw:
  /// image_size bytes of bottom-up rows), at the next index, marked a key
  /// frame when `key`. The file takes it as write() would have taken the
  /// frame it was made from. Failures go through check() with step 15.
  [[nodiscard]] bool write_packet(const std::uint8_t* data, std::size_t size, bool key);

  /// Text the next create() records in the file's INFO list as its comment;
  /// empty (the default): none.
  void set_comment(std::string comment) { m_comment = std::move(comment); }

  /// Flushes the encoder, finishes the file and releases everything; the
  /// frame and byte counts start again at 0. False (through check() with
  /// step 15) when the end of the file could not be written. Nothing happens
  /// when nothing is open.
  /// The file is written beside `path` under a temporary name and takes
  /// its name only here, once complete: a failed or abandoned file leaves an
  /// earlier one of that name as it was.
  [[nodiscard]] bool close();
  /// Releases everything without finishing the file: nothing new appears
  /// and an earlier file of that name stays as it was.
  void abandon();

  bool is_open() const;
  const AviFrameFormat& frame_format() const { return m_format; }
  /// Frames handed to write() since create().
  std::int64_t frames_written() const { return m_frames; }
  /// Bytes of frame data written to the file since create().
  std::uint64_t bytes_written() const { return m_bytes; }

 private:
  struct Encoder;
  [[nodiscard]] bool fail_create(std::uint32_t code, int step);
  bool fail_write(std::uint32_t code);
  [[nodiscard]] bool write_packets();

  std::unique_ptr<Encoder> m_encoder;
  AviFrameFormat m_format;
  std::int64_t m_frames = 0;
  std::uint64_t m_bytes = 0;
  std::string m_comment;
};

/// True when frames compressed by `fourcc` (0: raw) are each encoded on their
/// own, whatever came before: a video written in parts and joined is then the
/// video written whole, byte for byte. False for codecs that carry one frame
/// over into the next (predicted frames, a bit-rate budget).
bool frames_encoded_alone(std::uint32_t fourcc);

}  // namespace tess
