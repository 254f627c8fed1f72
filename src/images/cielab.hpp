#pragma once
// CIELAB colours of sRGB pixels (D65 white), so that colour differences can
// be told in units a person sees (ΔE), and the way back for swatches.

#include <cstdint>

namespace tess {

struct LabColour {
  double lightness = 0;  ///< L*, 0 (black) to 100 (white)
  double a = 0;          ///< green (negative) to red (positive)
  double b = 0;          ///< blue (negative) to yellow (positive)
};

/// The CIELAB colour of the red, green and blue of a pixel (8-bit sRGB);
/// its transparency is ignored.
LabColour lab_of_pixel(std::uint32_t pixel);

/// The opaque sRGB pixel nearest to `colour`: channels outside 0..255 are
/// clipped. `in_gamut`, when given, tells whether nothing had to be clipped.
std::uint32_t pixel_of_lab(const LabColour& colour, bool* in_gamut = nullptr);

/// The CIE 1976 colour difference: the straight distance in CIELAB.
double delta_e76(const LabColour& x, const LabColour& y);

/// Chroma (distance from the grey axis) and hue angle in degrees 0..360.
double chroma(const LabColour& colour);
double hue_degrees(const LabColour& colour);

}  // namespace tess
