#pragma once
// PNG decoding for Foto::load and Foto::read_size (internal to the images
// module). libpng's errors jump back into the decoder, which keeps no C++
// object alive across the jump.

#include <cstdio>
#include <filesystem>

#include "images/foto.hpp"

namespace tess {

class Prompt;

/// Decodes `file` (at its start; null when it could not be opened) into
/// `out` at full size: 8-bit red, green, blue and transparency whatever the
/// colour type, bit depth or interlacing. Every failure, out of memory
/// included, is reported through `report`. On failure `out` is left for the
/// caller to clear.
[[nodiscard]] bool decode_png(std::FILE* file, const std::filesystem::path& path, Foto& out, Prompt& report);

/// Width and height from the header of `file`; false for anything libpng
/// cannot read a header from.
[[nodiscard]] bool read_png_size(std::FILE* file, int& width, int& height);

}  // namespace tess
