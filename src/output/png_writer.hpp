#pragma once
// PNG mosaics and pictures through libpng: 8-bit RGB, or RGBA where the
// picture carries transparency, deflated row by row as a row source delivers
// them, so a mosaic never has to exist in memory and the writer's own memory
// does not grow with the picture.

#include <filesystem>

#include "output/write_options.hpp"

namespace tess {

class Foto;
class Prompt;
class RowSource;

/// Writes the rows of `source` as a non-interlaced 8-bit PNG: RGB, or RGBA
/// with an alpha sample as the options say; deflated at the options' level,
/// at their dpi (0 writes no resolution), marked as sRGB with the sRGB chunk
/// (perceptual intent). Returns true only when every row
/// was written and the file closed cleanly. Every failure is reported through
/// `prompt` with "Unable to save file '%s'" and the path, except when the
/// source stopped on request; the earlier file of that name, if any, is left
/// as it was. Called through write_picture(), which first refuses a side
/// over the format's side limit, libpng's own ("Unable to save file '%s'"
/// with "Image is too big").
[[nodiscard]] bool write_png_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                                  Prompt& prompt);

/// Writes a whole picture (report pictures, tiles) the same way, atomically,
/// through write_picture(), without a resolution. With `keep_transparency`
/// its transparency byte becomes the alpha sample (alpha = 255 -
/// transparency) and the file is RGBA; otherwise RGB.
[[nodiscard]] bool write_png_picture(const Foto& foto, const std::filesystem::path& path, Prompt& prompt,
                                     bool keep_transparency = false);

}  // namespace tess
