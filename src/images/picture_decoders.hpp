// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The decoders behind Foto::load and the header readers (internal to the
// images module): which format a file holds, by its contents, and one entry
// per format with the same three services.
//
// Every decoder
// - reads no further than the file's written data (BoundedInput, or
//   read_file_bytes() for libraries that take the file in memory);
// - checks the sizes its header declares against the file before it
//   allocates, and charges what the load will cost to the decoding budget
//   (DecodeCharge) before it allocates;
// - hands back 8-bit red, green, blue and transparency (foto.hpp), turned as
//   the file says the picture is seen, and what the file says about its
//   colours; the loader converts to sRGB afterwards;
// - fails with a Status carrying its text and its kind (load_failure.hpp).

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "base/status.hpp"
#include "images/foto.hpp"
#include "images/picture_colour.hpp"

namespace tess {

enum class PictureFormat { jpeg, png, heif, webp, tiff, jxl, gif, bmp, raw, unknown };

/// The format `file` holds, by its first bytes (the file is rewound). The
/// name is looked at only where the contents leave a choice: a TIFF whose
/// name is a camera's RAW ending is a RAW file, and a file that cannot be
/// opened (null) is reported by the decoder its name promises (PNG for a
/// ".png", JPEG otherwise); one that holds no signature at all is the JPEG
/// decoder's to refuse when named as a JPEG or PNG, and unsupported otherwise.
PictureFormat sniff_picture_format(std::FILE* file, const std::filesystem::path& path);

/// One decoder's services. `file` is at its start; null when it could not
/// be opened (decode() then reports that).
struct PictureDecoder {
  /// Decodes into `out`, asked for max_w × max_h (0, 0: whole), which bound
  /// the picture as seen (after its orientation). A decoder that can shrink
  /// while it reads (a reduced decode, an embedded thumbnail or preview)
  /// never gives less than the size asked for. On failure `out` is left for
  /// the caller to clear.
  Status (*decode)(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h, Foto& out,
                   PictureColour& colour);
  /// Width and height as seen (after the orientation) without decoding;
  /// false for a file it cannot read a header from.
  bool (*read_size)(std::FILE* file, const std::filesystem::path& path, int& width, int& height);
  /// A number that is the same for two requests exactly when decode() gives
  /// the same picture for both: 1 for the whole picture, the shrinking factor
  /// otherwise; 0 when no header can be read.
  int (*load_factor)(std::FILE* file, const std::filesystem::path& path, int max_w, int max_h);
};

/// The decoder of each format; null for a format this build does not read.
const PictureDecoder* decoder_for(PictureFormat format);

// The formats' own entries (each in its decoder's file).
const PictureDecoder& jpeg_picture_decoder();
const PictureDecoder& png_picture_decoder();
const PictureDecoder& webp_picture_decoder();
const PictureDecoder& gif_picture_decoder();
const PictureDecoder& bmp_picture_decoder();
const PictureDecoder& jxl_picture_decoder();
const PictureDecoder& tiff_picture_decoder();
const PictureDecoder& raw_picture_decoder();
const PictureDecoder& heif_picture_decoder();

/// Reads `file` whole into `bytes` through BoundedInput, for the libraries
/// that decode from memory: damaged when it is empty or stops at a hole,
/// too large when it holds more than `limit` bytes.
Status read_file_bytes(std::FILE* file, const std::filesystem::path& path, const char* what, std::uint64_t limit,
                       std::vector<std::uint8_t>& bytes);

/// Pixels a library wrote as red, green, blue and alpha bytes into the
/// picture's own words become pixel words in place, alpha turned into
/// transparency.
void rgba_bytes_to_pixels(Foto& picture);

/// Turns a decoded picture as EXIF orientation `orientation` (1-8) says the
/// camera was held; any other value leaves it as it is.
Status apply_orientation(Foto& picture, int orientation);

}  // namespace tess
