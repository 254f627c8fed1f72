#pragma once
// How far apart two colours look: sRGB turned into CIELAB (D65 white, the
// 2° observer) and the CIEDE2000 difference between two CIELAB colours, so
// that the run can say in numbers how close each cell of a mosaic came to
// the main image under it.

namespace tess {

struct LabColour {
  double lightness = 0;  ///< L*, 0..100
  double a = 0;          ///< a*, green (-) to red (+)
  double b = 0;          ///< b*, blue (-) to yellow (+)
};

/// The CIELAB colour of an sRGB colour given as red, green and blue in
/// 0..255 (fractions allowed: a mean of pixels is one). The sRGB curve is
/// undone, the linear light goes through the sRGB-to-XYZ matrix and XYZ is
/// taken relative to the D65 white (0.95047, 1, 1.08883).
LabColour srgb_to_lab(double red, double green, double blue);

/// The CIEDE2000 colour difference of `x` and `y` with the parametric
/// factors kL = kC = kH = 1. Symmetric; 0 for equal colours. About 1 is the
/// smallest difference most people see side by side.
double ciede2000(const LabColour& x, const LabColour& y);

}  // namespace tess
