#pragma once
// TIFF mosaics through libtiff: classic or BigTIFF, uncompressed or JPEG
// compressed, written scan line by scan line from a row source in strips of
// about a megabyte, so the mosaic never has to exist in memory.

#include <filesystem>

#include "output/write_options.hpp"

namespace tess {

class Prompt;
class RowSource;

/// Rows per strip for a picture: 1,000,000 / width / samples, rounded down to
/// a multiple of 16, at least 16 with JPEG compression and 1 without, at most
/// the height. 0 for an empty picture.
int tiff_rows_per_strip(int width, int height, int samples, bool jpeg);

/// Writes the rows of `source` as a single-image uncompressed TIFF with 8-bit
/// RGB samples, and a fourth sample of 255 declared as unassociated alpha
/// when the options ask for any alpha; BigTIFF when they say so; at their dpi
/// (0 writes resolutions of 0); the sRGB profile in the ICC profile tag
/// (34675) of the directory. Returns true only when every row was written
/// and the file closed cleanly. Every failure is reported through `prompt`
/// with "Unable to save file '%s'": filled with the path, or, when libtiff
/// reported an error, with the library's module (as a rule the file name)
/// followed by ". Error: " and the library's message. Unlike the other
/// writers, rows that end on a stop request are reported too. A file that
/// was started is removed again on failure.
[[nodiscard]] bool write_tiff_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                                   Prompt& prompt);

/// The same with JPEG compression (RGB rows stored as YCbCr) at the options'
/// quality and never an alpha sample: the codec takes three colour
/// components, and an alpha that is opaque everywhere adds nothing there.
/// Strips are compressed on the options' threads side by side and written in
/// order, so the file is the same for every count; 1 compresses rows as they
/// arrive.
[[nodiscard]] bool write_tiff_jpeg_rows(RowSource& source, const std::filesystem::path& path,
                                        const WriteOptions& options, Prompt& prompt);

}  // namespace tess
