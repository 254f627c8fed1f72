// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a picture writer is told besides its rows and its file. Every picture
// format is written by a function of one shape, PictureWrite, so whoever
// saves a mosaic picks the format's writer from the writer table
// (output/format_writers.hpp) instead of knowing each format's own options.

#include <cstdint>
#include <filesystem>

namespace tess {

class Prompt;
class RowSource;

/// Where a fourth sample comes from, in the formats that can carry one.
enum class AlphaSample {
  none,    ///< red, green and blue only
  /// 255 (opaque) everywhere: the background transparency of a mosaic, whose
  /// rows never hand their transparency byte to a file.
  opaque,
  from_transparency,  ///< 255 minus the pixel's transparency byte (PNG only; a TIFF takes it as opaque)
};

struct WriteOptions {
  int dpi = 0;            ///< the resolution stored in the file; 0: none
  int jpeg_quality = 75;  ///< 1..100: JPEG, and TIFF with JPEG compression
  AlphaSample alpha = AlphaSample::none;  ///< PNG and uncompressed TIFF
  bool big_tiff = false;  ///< BigTIFF (64-bit offsets), needed for TIFF files above 4 GiB
  /// Threads a writer may compress with, the writing thread included; the
  /// file is the same for every count.
  int threads = 1;
  /// zlib level 0..9 of a PNG; the default trades a few per cent of size for
  /// speed, which matters on mosaics of hundreds of megapixels.
  int png_compression = 3;
  std::uint32_t fourcc = 0;  ///< codec of a compressed video; 0: raw
};

/// Writes the rows of `source` as one file at `path`. True only when every
/// row was written and the file closed cleanly; a failure is reported through
/// `prompt`, except when the source stopped on request (the TIFF writer
/// reports that too). A size the format cannot hold is refused before the
/// writer runs, by write_picture() from the writer table.
using PictureWrite = bool (*)(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                              Prompt& prompt);

}  // namespace tess
