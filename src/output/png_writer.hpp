#pragma once
// PNG mosaics and pictures through libpng: 8-bit RGB, or RGBA where the
// picture carries transparency, deflated row by row as a row source delivers
// them, so a mosaic never has to exist in memory and the writer's own memory
// does not grow with the picture.

#include <filesystem>

namespace tess {

class Foto;
class Prompt;
class RowSource;

/// The longest side a PNG is written with: libpng's own limit, which its
/// readers also keep by default.
inline constexpr int kMaxPngSide = 1'000'000;

/// How the rows of a mosaic become PNG samples.
struct PngFormat {
  /// An alpha sample after red, green and blue: 255 (opaque) everywhere, as
  /// in the other mosaic formats that carry an alpha channel, since the rows
  /// of a mosaic never hand their transparency byte to a file.
  bool alpha = false;
  /// zlib level 0..9; the default trades a few per cent of size for speed,
  /// which matters on mosaics of hundreds of megapixels.
  int compression_level = 3;
};

/// Writes the rows of `source` as a non-interlaced PNG at `dpi` dots per inch
/// (0 writes no resolution). Returns true only when every row was written and
/// the file closed cleanly. Every failure is reported through `prompt` with
/// "Unable to save file '%s'" and the path (or "Image is too big" for a side
/// over kMaxPngSide), except when the source stopped on request; the earlier
/// file of that name, if any, is left as it was.
[[nodiscard]] bool write_png_rows(RowSource& source, const std::filesystem::path& path, const PngFormat& png_format,
                                  int dpi, Prompt& prompt);

/// Writes a whole picture (report pictures, tiles) the same way, atomically.
/// With `keep_transparency` its transparency byte becomes the alpha sample
/// (alpha = 255 - transparency) and the file is RGBA; otherwise RGB.
[[nodiscard]] bool write_png_picture(const Foto& foto, const std::filesystem::path& path, Prompt& prompt,
                                     bool keep_transparency = false);

}  // namespace tess
