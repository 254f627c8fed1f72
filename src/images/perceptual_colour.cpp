// SPDX-License-Identifier: GPL-3.0-or-later
#include "images/perceptual_colour.hpp"

#include <cmath>
#include <numbers>

#include "images/foto.hpp"

namespace tess {
namespace {

// The DIN99o constants: the opponent axes are turned by 26° and the second
// one shortened, then chroma and lightness are compressed logarithmically.
constexpr double kAngle = 26.0 * std::numbers::pi / 180.0;
const double kCos = std::cos(kAngle);
const double kSin = std::sin(kAngle);
constexpr double kShorten = 0.83;
constexpr double kLightnessFactor = 303.67;
constexpr double kLightnessRate = 0.0039;
constexpr double kChromaRate = 0.075;
constexpr double kChromaDivisor = 0.0435;

std::uint32_t to_byte(double value) {
  return static_cast<std::uint32_t>(std::lround(std::clamp(value, 0.0, 255.0)));
}

}  // namespace

Din99Colour din99_of_lab(const LabColour& colour) {
  const double e = colour.a * kCos + colour.b * kSin;
  const double f = kShorten * (colour.b * kCos - colour.a * kSin);
  const double g = std::hypot(e, f);
  Din99Colour out;
  out.lightness = kLightnessFactor * std::log1p(kLightnessRate * colour.lightness);
  if (g > 0) {
    // The hue is (e, f) turned back by the 26°, the chroma compressed.
    const double c = std::log1p(kChromaRate * g) / kChromaDivisor;
    out.a = c / g * (e * kCos - f * kSin);
    out.b = c / g * (e * kSin + f * kCos);
  }
  return out;
}

std::uint32_t perceptual_pixel(std::uint32_t pixel) {
  const Din99Colour d = din99_of_lab(lab_of_pixel(pixel));
  return make_pixel(to_byte(d.lightness * kPerceptualScale), to_byte(d.a * kPerceptualScale + kPerceptualCentre),
                    to_byte(d.b * kPerceptualScale + kPerceptualCentre), pixel_transparency(pixel));
}

void perceptual_pixels(const std::uint32_t* in, std::uint32_t* out, int count) {
  for (int i = 0; i < count; ++i) out[i] = perceptual_pixel(in[i]);
}

}  // namespace tess
