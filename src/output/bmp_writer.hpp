#pragma once
// Windows bitmaps: 24 bits a pixel, rows stored bottom-up and padded to four
// bytes, written from a row source that delivers them top first.

#include <cstdint>
#include <filesystem>

#include "output/write_options.hpp"

namespace tess {

class Foto;
class Prompt;
class RowSource;

/// The most pixels a bitmap is written with: within it the sizes fit the
/// header's 32-bit fields. Larger pictures are refused by write_picture()
/// before a file is created ("Unable to save file '%s'" with "Image is too big").
inline constexpr std::int64_t kMaxBmpPixels = 1'000'000'000;

/// Writes the rows of `source` as a 24-bit bottom-up bitmap (nothing of the
/// options is used). The file is sized first and every row goes straight to
/// its place, so rows can arrive top first without being held. Returns true
/// only when every row was written and the file closed cleanly. Every failure
/// is reported through `prompt` ("Unable to save file '%s'" with the path),
/// except when the source stopped on request; a file that was started is
/// removed again on failure. Called through write_picture(), which refuses a
/// picture over kMaxBmpPixels first.
[[nodiscard]] bool write_bmp_rows(RowSource& source, const std::filesystem::path& path, const WriteOptions& options,
                                  Prompt& prompt);

/// Writes a whole Foto the same way, through write_picture().
[[nodiscard]] bool write_bmp_image(const Foto& foto, const std::filesystem::path& path, Prompt& prompt);

}  // namespace tess
