#pragma once
// Windows bitmaps: 24 bits a pixel, rows stored bottom-up and padded to four
// bytes, written from a row source that delivers them top first.

#include <cstdint>
#include <filesystem>

namespace tess {

class Foto;
class Prompt;
class RowSource;

/// The most pixels a bitmap is written with; larger pictures are refused
/// before a file is created.
inline constexpr std::int64_t kMaxBmpPixels = 1'000'000'000;

/// Writes the rows of `source` as a 24-bit bottom-up bitmap. The file is
/// sized first and every row goes straight to its place, so rows can arrive
/// top first without being held. Returns true only when every row was written
/// and the file closed cleanly. Every failure is reported through `prompt`
/// ("Unable to save file '%s'" with the path, or with "Image is too big" for
/// a picture over kMaxBmpPixels), except when the source stopped on request;
/// a file that was started is removed again on failure.
[[nodiscard]] bool write_bmp_rows(RowSource& source, const std::filesystem::path& path, Prompt& prompt);

/// Writes a whole Foto the same way.
[[nodiscard]] bool write_bmp_image(const Foto& foto, const std::filesystem::path& path, Prompt& prompt);

}  // namespace tess
