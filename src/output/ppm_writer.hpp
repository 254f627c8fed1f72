#pragma once
// Portable pixmaps: binary "P6" files with a fixed 100-byte header, or the
// same pixels without any header (RAW), written row by row from a row source.

#include <cstddef>
#include <filesystem>
#include <string>

#include "output/write_options.hpp"

namespace tess {

class Prompt;
class RowSource;

/// The header is always this long, whatever the size, so a reader can find
/// the pixels of a huge file without parsing it.
inline constexpr std::size_t kPixmapHeaderSize = 100;

/// "P6\n# Created by Tessellarium Version 3.53.0", blanks, then
/// "\n<width> <height>\n255\n": exactly kPixmapHeaderSize characters.
std::string pixmap_header(int width, int height);

/// Writes the rows of `source` as a PPM with its header (nothing of the
/// options is used). The file is extended to its final size before the
/// pixels go in. Returns true only when every row was written and the file
/// closed cleanly. Failures are reported through `prompt` ("Unable to save
/// file '%s'" with the path), except when the source stopped on request; a
/// file that was started is removed again on failure.
[[nodiscard]] bool write_ppm_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                                  Prompt& prompt);

/// The same pixels as bare RGB bytes, without a header (RAW).
[[nodiscard]] bool write_raw_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                                  Prompt& prompt);

}  // namespace tess
