#pragma once
// CIELAB colours of sRGB pixels (D65 white, the 2° observer), so that colour
// differences can be told in units a person sees (ΔE: CIE 1976 and
// CIEDE2000), and the way back for swatches.

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

/// The CIELAB colour of an sRGB colour given as red, green and blue in
/// 0..255 (fractions allowed: a mean of pixels is one).
LabColour srgb_to_lab(double red, double green, double blue);

/// The linear-light value (0..1) of an 8-bit sRGB level, from a table of the
/// exact sRGB curve in single precision, for code that converts many pixels.
float linear_of_srgb(std::uint8_t value);

/// The CIELAB colour of linear-light red, green and blue (0..1), for colours
/// that were mixed in linear light and never rounded to 8 bits.
LabColour lab_of_linear(double red, double green, double blue);

/// The sRGB-encoded value (0..1) of a linear-light value (0..1): the exact
/// sRGB curve, without rounding.
double srgb_of_linear(double linear);

/// The opaque sRGB pixel nearest to `colour`: channels outside 0..255 are
/// clipped. `in_gamut`, when given, tells whether nothing had to be clipped.
std::uint32_t pixel_of_lab(const LabColour& colour, bool* in_gamut = nullptr);

/// The CIE 1976 colour difference: the straight distance in CIELAB.
double delta_e76(const LabColour& x, const LabColour& y);

/// The CIEDE2000 colour difference of `x` and `y` with the parametric
/// factors kL = kC = kH = 1. Symmetric; 0 for equal colours. About 1 is the
/// smallest difference most people see side by side.
double ciede2000(const LabColour& x, const LabColour& y);

/// Chroma (distance from the grey axis) and hue angle in degrees 0..360.
double chroma(const LabColour& colour);
double hue_degrees(const LabColour& colour);

}  // namespace tess
