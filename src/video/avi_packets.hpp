#pragma once
// Reading the frames of an AVI file as they are stored, compressed or raw,
// without decoding them: what joining videos written in parts needs.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tess {

/// The video stream of an AVI file as this program creates it.
struct AviStreamFormat {
  int width = 0;
  int height = 0;
  std::uint32_t fourcc = 0;  ///< 0: raw 24-bit frames
  std::uint32_t rate = 0;    ///< 1/500 frames per second; 0 when the rate is no whole number of those
  std::string comment;       ///< the comment of the file's INFO list
  friend bool operator==(const AviStreamFormat&, const AviStreamFormat&) = default;
};

class AviPacketReader {
 public:
  AviPacketReader();
  ~AviPacketReader();
  AviPacketReader(const AviPacketReader&) = delete;
  AviPacketReader& operator=(const AviPacketReader&) = delete;

  /// Opens the AVI file `path` and its first video stream; false when it is
  /// no AVI file FFmpeg can read or holds no video.
  [[nodiscard]] bool open(const std::filesystem::path& path);
  const AviStreamFormat& format() const { return m_format; }

  /// The next frame of the stream as stored, and whether it is a key frame.
  /// False at the end of the stream, or when the file cannot be read on
  /// (failed() tells which).
  [[nodiscard]] bool next(std::vector<std::uint8_t>& data, bool& key);
  bool failed() const { return m_failed; }

 private:
  struct Input;
  std::unique_ptr<Input> m_input;
  AviStreamFormat m_format;
  bool m_failed = false;
};

}  // namespace tess
