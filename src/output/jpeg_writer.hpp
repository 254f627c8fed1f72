#pragma once
// JPEG mosaics, frames, tiles and web tiles: baseline JPEG through libjpeg,
// written row by row from a row source.

#include <filesystem>

namespace tess {

class Foto;
class Prompt;
class RowSource;

/// Writes the rows of `source` as a baseline RGB JPEG of the given quality
/// (1..100); a dpi of 0 leaves the density unset, any other value is stored
/// as dots per inch. Returns true only when every row was written and the file
/// closed cleanly. Failures are reported through `prompt` ("Unable to save
/// file '%s'" + ". " + "Error %ld" when the file cannot be opened, "Unable to
/// save file '%s'" otherwise), except when the source stopped on request; a
/// file that was started is removed again on failure, so no half-written
/// picture is left looking like a finished one.
[[nodiscard]] bool write_jpeg_rows(RowSource& source, const std::filesystem::path& path, int quality, int dpi, Prompt& prompt);

/// Writes a whole Foto: in colour, or with `colour` false as one grey
/// component (grey = 0.587 green + 0.299 red + 0.114 blue, truncated).
/// Reports like write_jpeg_rows().
[[nodiscard]] bool write_jpeg_image(const Foto& foto, const std::filesystem::path& path, bool colour, int quality, int dpi,
                      Prompt& prompt);

}  // namespace tess
