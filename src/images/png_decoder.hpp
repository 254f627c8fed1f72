#pragma once
// PNG decoding for Foto::load and Foto::read_size (internal to the images
// module). libpng's errors jump back into the decoder, which keeps no C++
// object alive across the jump.

#include <cstdio>
#include <filesystem>

#include "images/foto.hpp"
#include "images/picture_colour.hpp"

namespace tess {

/// Decodes `file` (at its start; null when it could not be opened) into
/// `out`: 8-bit red, green, blue and transparency whatever the colour type,
/// bit depth or interlacing, turned as an eXIf chunk before the picture data
/// says, its colour description (cICP, iCCP, sRGB, gAMA, cHRM) in `colour`. Asked for max_w × max_h (0, 0: whole), a picture
/// larger than the ordinary is shrunk by png_load_factor() while its rows are
/// read, so it never costs more than that size; others load whole. The load
/// is charged to the decoding budget before anything is allocated. Every
/// failure, out of memory included, carries the text to show. On failure
/// `out` is left for the caller to clear.
Status decode_png(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                  PictureColour& colour);

/// The whole factor decode_png() shrinks `file` by when asked for
/// max_w × max_h: 1 for a picture loaded whole, 0 when no header can be read.
[[nodiscard]] int png_load_factor(std::FILE* file, int max_w, int max_h);

/// Width and height as seen (turned by an eXIf orientation) from the header of `file`; false for anything libpng
/// cannot read a header from.
[[nodiscard]] bool read_png_size(std::FILE* file, int& width, int& height);

}  // namespace tess
