// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Colour as a picture file describes it, and its conversion to sRGB, the one
// colour space the program works in. Decoders say what the file declares;
// the loader converts once, right after decoding. A picture that declares
// nothing, or declares sRGB, is left exactly as decoded.

#include <cstdint>
#include <span>
#include <vector>

#include "base/status.hpp"
#include "images/foto.hpp"

namespace tess {

/// What a file says about its colours. Several descriptions may be present;
/// an ICC profile wins over a coded description, which wins over gamma and
/// chromaticities.
struct PictureColour {
  /// An embedded ICC profile, as stored (JPEG APP2, PNG iCCP, HEIF colr,
  /// WebP ICCP, TIFF tag 34675, ...); empty when none.
  std::vector<std::uint8_t> icc;
  /// A coded description (HEIF nclx, PNG cICP, AVIF): ITU-T H.273 code points,
  /// 0 where none is given (1 = BT.709 primaries, 12 = Display P3; transfer
  /// 13 = sRGB, 8 = linear, 1/6/14/15 = BT.709).
  int primaries = 0;
  int transfer = 0;
  /// The file says sRGB in so many words (PNG sRGB chunk).
  bool srgb = false;
  /// PNG gAMA (0.45455 for a 2.2 encoding); 0 when absent.
  double file_gamma = 0;
  /// PNG cHRM: white, red, green, blue as x, y pairs; valid when `has_chromaticities`.
  bool has_chromaticities = false;
  double chromaticities[8] = {};
};

/// Converts `picture` (8-bit red, green, blue, transparency kept as it is)
/// to sRGB from what `colour` describes, with the relative colorimetric
/// intent: colours inside sRGB keep their measured values and the others
/// are clipped to the nearest, so that a tile's colour is scored for what
/// the picture shows. Transforms are kept per distinct profile and shared by
/// every thread. A description that cannot be used (a broken profile, a
/// profile of another colour space than the picture's) leaves the picture
/// as decoded: the colours then are what a viewer that ignores profiles
/// shows. A grey profile maps each channel through its greys.
void convert_to_srgb(Foto& picture, const PictureColour& colour);

/// Converts `count` pixels of CMYK (Adobe's inverted form when `inverted`:
/// 255 is no ink) through `profile` into opaque sRGB pixels; `cmyk` may be
/// the bytes of `out` itself. False when the
/// profile is not a usable CMYK profile; `out` is then untouched.
[[nodiscard]] bool cmyk_to_srgb(std::span<const std::uint8_t> profile, const std::uint8_t* cmyk, std::uint32_t* out,
                                std::size_t count, bool inverted);

/// The sRGB profile written into every picture file the program makes: made
/// by Little CMS once, its creation date cleared so that the same build
/// writes the same bytes.
std::span<const std::uint8_t> srgb_icc_profile();

}  // namespace tess
