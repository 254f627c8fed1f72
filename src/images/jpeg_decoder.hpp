#pragma once
// JPEG decoding for Foto::load and the JPEG header reader (internal to the
// images module). libjpeg errors come back as return values: its error exit
// jumps back into the decoder, which keeps no C++ object alive across the jump.

#include <cstdio>
#include <filesystem>

#include "images/foto.hpp"
#include "images/picture_colour.hpp"

namespace tess {

/// The DCT scale denominator (1, 2, 4 or 8) for a width × height picture
/// asked for at max_w × max_h: the largest that still decodes at least the
/// maxima (1 unless both maxima are positive).
int jpeg_scale_denominator(int width, int height, int max_w, int max_h);

/// The factor decode_jpeg() shrinks a width × height picture by when asked
/// for max_w × max_h: its DCT scale denominator, times the whole factor of the
/// row-by-row shrinking that follows where the DCT scaling leaves a picture
/// larger than an ordinary photo (only ever after a scale of 8).
int jpeg_load_factor(int width, int height, int max_w, int max_h);

/// Decodes `file` (at its start; null when it could not be opened) into
/// `out`, shrunk by jpeg_load_factor() for max_w × max_h and turned by the EXIF orientation read
/// from `path`. An embedded RGB or grey profile is handed back in `colour`;
/// CMYK is converted through the file's CMYK profile as the rows are read.
/// Every failure, out of memory included, carries the text to show. On
/// failure `out` is left for the caller to clear.
Status decode_jpeg(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                   PictureColour& colour);

/// The header fields of `file` without decoding; false for anything libjpeg
/// cannot read a header from.
[[nodiscard]] bool read_jpeg_header(std::FILE* file, JpegHeader& header);

}  // namespace tess
