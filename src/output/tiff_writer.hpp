#pragma once
// TIFF mosaics through libtiff: classic or BigTIFF, uncompressed or JPEG
// compressed, written scan line by scan line from a row source in strips of
// about a megabyte, so the mosaic never has to exist in memory.

#include <filesystem>

namespace tess {

class Prompt;
class RowSource;

/// How a TIFF is laid out.
struct TiffFormat {
  bool big_tiff = false;  ///< BigTIFF (64-bit offsets), needed for files above 4 GiB
  bool jpeg = false;      ///< JPEG compression (RGB rows stored as YCbCr) instead of none
  int jpeg_quality = 75;  ///< 1..100, only with jpeg
  bool alpha = false;     ///< a fourth sample of 255 declared as unassociated alpha (uncompressed only)
  /// Threads compressing JPEG strips side by side (the writing thread
  /// included); the strips are written in order, and the file is the same
  /// for every count. 1 compresses rows as they arrive.
  int threads = 1;
};

/// Rows per strip for a picture: 1,000,000 / width / samples, rounded down to
/// a multiple of 16, at least 16 with JPEG compression and 1 without, at most
/// the height. 0 for an empty picture.
int tiff_rows_per_strip(int width, int height, int samples, bool jpeg);

/// Writes the rows of `source` as a single-image TIFF with 8-bit RGB samples
/// at `dpi` dots per inch (0 writes resolutions of 0). An alpha sample is
/// added only to uncompressed files: the JPEG codec takes three colour
/// components, and an alpha that is opaque everywhere adds nothing there.
/// Returns true only when every row was written and the file closed cleanly.
/// Every failure is reported through `prompt` with "Unable to save file
/// '%s'": filled with the path, or, when libtiff reported an error, with the
/// library's module (as a rule the file name) followed by ". Error: " and the
/// library's message. Unlike the other writers, rows that end on a stop
/// request are reported too. A file that was started is removed again on
/// failure.
[[nodiscard]] bool write_tiff_rows(RowSource& source, const std::filesystem::path& path, const TiffFormat& tiff_format, int dpi,
                     Prompt& prompt);

}  // namespace tess
