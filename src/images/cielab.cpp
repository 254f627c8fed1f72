#include "images/cielab.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "images/foto.hpp"

namespace tess {
namespace {

// The D65 white of sRGB.
constexpr double kWhiteX = 0.95047;
constexpr double kWhiteY = 1.0;
constexpr double kWhiteZ = 1.08883;
constexpr double kEpsilon = 216.0 / 24389.0;  // (6/29)^3
constexpr double kKappa = 24389.0 / 27.0;

/// Linear light of every 8-bit sRGB level, computed once.
const std::array<double, 256>& linear_levels() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> t{};
    for (int i = 0; i < 256; ++i) {
      const double c = i / 255.0;
      t[static_cast<std::size_t>(i)] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    }
    return t;
  }();
  return table;
}

double lab_f(double t) { return t > kEpsilon ? std::cbrt(t) : (kKappa * t + 16.0) / 116.0; }
double lab_f_inverse(double f) {
  const double cube = f * f * f;
  return cube > kEpsilon ? cube : (116.0 * f - 16.0) / kKappa;
}

double encode(double linear) {
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

}  // namespace

LabColour lab_of_pixel(std::uint32_t pixel) {
  const auto& lin = linear_levels();
  const double r = lin[pixel_red(pixel)];
  const double g = lin[pixel_green(pixel)];
  const double b = lin[pixel_blue(pixel)];
  const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / kWhiteX;
  const double y = (0.2126729 * r + 0.7151522 * g + 0.0721750 * b) / kWhiteY;
  const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / kWhiteZ;
  const double fx = lab_f(x), fy = lab_f(y), fz = lab_f(z);
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

std::uint32_t pixel_of_lab(const LabColour& colour, bool* in_gamut) {
  const double fy = (colour.lightness + 16.0) / 116.0;
  const double fx = fy + colour.a / 500.0;
  const double fz = fy - colour.b / 200.0;
  const double x = lab_f_inverse(fx) * kWhiteX;
  const double y = lab_f_inverse(fy) * kWhiteY;
  const double z = lab_f_inverse(fz) * kWhiteZ;
  const std::array<double, 3> linear = {3.2404542 * x - 1.5371385 * y - 0.4985314 * z,
                                        -0.9692660 * x + 1.8760108 * y + 0.0415560 * z,
                                        0.0556434 * x - 0.2040259 * y + 1.0572252 * z};
  bool inside = true;
  std::array<std::uint32_t, 3> level{};
  for (std::size_t i = 0; i < 3; ++i) {
    // A hair of tolerance, so that the colours of real pixels count as inside.
    if (linear[i] < -1e-4 || linear[i] > 1.0 + 1e-4) inside = false;
    const double encoded = encode(std::clamp(linear[i], 0.0, 1.0)) * 255.0;
    level[i] = static_cast<std::uint32_t>(std::lround(std::clamp(encoded, 0.0, 255.0)));
  }
  if (in_gamut != nullptr) *in_gamut = inside;
  return make_pixel(level[0], level[1], level[2]);
}

double delta_e76(const LabColour& x, const LabColour& y) {
  const double dl = x.lightness - y.lightness, da = x.a - y.a, db = x.b - y.b;
  return std::sqrt(dl * dl + da * da + db * db);
}

double chroma(const LabColour& colour) { return std::hypot(colour.a, colour.b); }

double hue_degrees(const LabColour& colour) {
  const double h = std::atan2(colour.b, colour.a) * 180.0 / std::numbers::pi;
  return h < 0 ? h + 360.0 : h;
}

}  // namespace tess
