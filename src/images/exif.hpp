#pragma once
// The two EXIF questions the program asks of a photograph: how it is turned
// (the JPEG loader straightens it) and when it was taken (the date-ordered
// placement sorts by it).

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace tess {

inline constexpr int kExifTagOrientation = 274;
inline constexpr int kExifTagDateTime = 306;
/// An IFD index beyond the five of a file: search them all.
inline constexpr int kExifAnyIfd = 5;

/// The first entry with `tag` in IFD `ifd` (0 to 4; any other value searches
/// every IFD in order), read by its data size as an unsigned byte (1 byte), a
/// signed 16-bit (2 bytes) or a signed 32-bit integer (4 bytes) in the file's
/// byte order. A value inside [minimum, maximum] is returned; no EXIF, no such
/// entry, another data size or a value out of range give `fallback`.
/// Thread-safe: every call reads the file for itself.
int exif_integer_tag(const std::filesystem::path& path, int tag, int ifd, int minimum, int maximum, int fallback);

/// exif_integer_tag() of an EXIF block as a file holds it (PNG eXIf, a
/// WebP or HEIF Exif item): the TIFF header and its IFDs, with or without
/// the "Exif\0\0" that precedes them in a JPEG.
int exif_block_integer_tag(std::span<const std::uint8_t> block, int tag, int ifd, int minimum, int maximum,
                           int fallback);

/// The DateTime text (tag 306, first found in any IFD), e.g. "2021:06:15 10:20:30";
/// empty when absent, shorter than 10 characters or beginning with "0000".
std::string exif_date_text(const std::filesystem::path& path);

}  // namespace tess
