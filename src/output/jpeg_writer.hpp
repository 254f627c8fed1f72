#pragma once
// JPEG mosaics, frames, tiles and web tiles: baseline JPEG through libjpeg,
// written row by row from a row source.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "output/write_options.hpp"

namespace tess {

class Foto;
class Prompt;
class RowSource;

/// Writes the rows of `source` as a baseline RGB JPEG of the options' quality
/// (1..100); a dpi of 0 leaves the density unset, any other value is stored
/// as dots per inch. The sRGB profile follows the JFIF header in APP2
/// ICC_PROFILE markers; the pixels are the same with or without it. Returns
/// true only when every row was written and the file closed cleanly.
/// Failures are reported through `prompt` ("Unable to save file '%s'" + ". " +
/// "Error %ld" when the file cannot be opened, "Unable to save file '%s'"
/// otherwise), except when the source stopped on request; a
/// file that was started is removed again on failure, so no half-written
/// picture is left looking like a finished one.
[[nodiscard]] bool write_jpeg_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                                   Prompt& prompt);

/// Writes a whole Foto: in colour, or with `colour` false as one grey
/// component (grey = 0.587 green + 0.299 red + 0.114 blue, truncated). A grey
/// file carries no profile: the sRGB one describes three channels.
/// Reports like write_jpeg_rows().
[[nodiscard]] bool write_jpeg_image(const Foto& foto, const std::filesystem::path& path, bool colour, int quality, int dpi,
                      Prompt& prompt);

/// One colour JPEG encoded into memory a row at a time, with the settings of
/// write_jpeg_image() for a colour picture without a resolution: the same
/// pixels give the same bytes when the sRGB profile is asked for too. One picture after another may go through the
/// same encoder. Used by one thread at a time; nothing is reported, a failure
/// (the codec's, or memory) only returns false.
class JpegStreamEncoder {
 public:
  JpegStreamEncoder();
  ~JpegStreamEncoder();
  JpegStreamEncoder(JpegStreamEncoder&&) noexcept;
  JpegStreamEncoder& operator=(JpegStreamEncoder&&) noexcept;

  /// Begins a width × height picture of the given quality (1..100), with the
  /// sRGB profile when `srgb_profile`. Small pictures shown side by side
  /// (web tiles) leave it out: it would be a large part of each file.
  [[nodiscard]] bool start(int width, int height, int quality, bool srgb_profile);
  /// The next row of `width` pixels (red, green and blue are used).
  [[nodiscard]] bool write_row(const std::uint32_t* row);
  /// After the last row: the whole file goes to `bytes`. False when a row
  /// is missing or the codec failed; the encoder is ready for start() again.
  [[nodiscard]] bool finish(std::string& bytes);
  /// Between start() and finish(), and no row has failed.
  bool open() const { return m_open; }

 private:
  struct State;
  std::unique_ptr<State> m_state;
  bool m_open = false;
};

}  // namespace tess
