// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The colour form the perceptual comparison works in: DIN99o, a reshaping
// of CIELAB in which the straight distance between two colours follows what
// people see far better than in CIELAB itself (lightness near black and
// white, and strong colours, are compressed where CIELAB overstates their
// differences). A colour's lightness and its two opponent axes are each
// scaled to a byte and packed like a pixel, so that the comparison loops,
// the bounds and the colour shift of the other comparisons run on them
// unchanged.

#include <algorithm>
#include <array>
#include <cstdint>

#include "images/cielab.hpp"

namespace tess {

/// DIN99o coordinates: lightness 0..100 and the two opponent axes (about
/// −55..55 for sRGB colours).
struct Din99Colour {
  double lightness = 0;
  double a = 0;
  double b = 0;
};

/// The DIN99o colour of a CIELAB colour.
Din99Colour din99_of_lab(const LabColour& colour);

/// Byte units per DIN99o unit: lightness 0..100 becomes 0..240; the opponent
/// axes, centred on 128, count half as much. Matching a picture's lightness
/// keeps what it shows inside each tile (its edges and shading), and with the
/// colour axes at full weight tiles of the right hue but the wrong pattern
/// win; half weight keeps most of the colour likeness (measured on photos,
/// paintings and graphics against the image seen from afar and up close).
inline constexpr double kPerceptualLightnessScale = 2.4;
inline constexpr double kPerceptualColourScale = 1.2;
inline constexpr int kPerceptualCentre = 128;

/// The pixel's colour in the perceptual form: DIN99o lightness in the red
/// byte, the two opponent axes in the green and blue bytes (each held to
/// 0..255), its transparency kept.
std::uint32_t perceptual_pixel(std::uint32_t pixel);

/// Every one of `count` pixels in the perceptual form, `out` may be `in`.
void perceptual_pixels(const std::uint32_t* in, std::uint32_t* out, int count);

/// The colour shift of the perceptual form, the counterpart of
/// tile_colour_shift(): two thirds of the lightness difference, then a third
/// of what lightness still lacks and a third of each opponent axis'
/// difference, each difference held to `limit` first. A shift of lightness
/// alone is what moving red, green and blue alike does, so the opponent axes
/// get no common part.
inline std::array<int, 3> perceptual_colour_shift(std::uint32_t cell_overall, std::uint32_t tile_overall,
                                                  int limit) {
  const auto apart = [&](int shift) {
    return static_cast<int>((cell_overall >> shift) & 0xFFu) - static_cast<int>((tile_overall >> shift) & 0xFFu);
  };
  const int dl = apart(0);
  const int s = 2 * std::clamp(dl, -limit, limit) / 3;
  return {s + std::clamp(dl - s, -limit, limit) / 3, std::clamp(apart(8), -limit, limit) / 3,
          std::clamp(apart(16), -limit, limit) / 3};
}

}  // namespace tess
