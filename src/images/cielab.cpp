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

double srgb_to_linear(double value) {
  const double v = value / 255.0;
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

/// Linear light of every 8-bit sRGB level, computed once.
const std::array<double, 256>& linear_levels() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> t{};
    for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = srgb_to_linear(i);
    return t;
  }();
  return table;
}

// The CIELAB companding function: a cube root, with a straight line near
// black where the root would be too steep. The forward way uses the
// customary rounded constants (0.008856 for (6/29)^3, 7.787 for its slope),
// which common colour libraries use too, so figures agree with theirs.
double lab_f(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; }
double lab_f_inverse(double f) {
  const double cube = f * f * f;
  return cube > kEpsilon ? cube : (116.0 * f - 16.0) / kKappa;
}

double encode(double linear) {
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

double degrees(double y, double x) {
  if (x == 0 && y == 0) return 0;
  const double h = std::atan2(y, x) / kRadiansPerDegree;
  return h < 0 ? h + 360.0 : h;
}

double seventh_power_ratio(double chroma) {
  const double c7 = std::pow(chroma, 7.0);
  return std::sqrt(c7 / (c7 + 6103515625.0));  // 25^7
}

}  // namespace

LabColour lab_of_linear(double r, double g, double b) {
  const double x = (0.412453 * r + 0.357580 * g + 0.180423 * b) / kWhiteX;
  const double y = (0.212671 * r + 0.715160 * g + 0.072169 * b) / kWhiteY;
  const double z = (0.019334 * r + 0.119193 * g + 0.950227 * b) / kWhiteZ;
  const double fx = lab_f(x), fy = lab_f(y), fz = lab_f(z);
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

double srgb_of_linear(double linear) { return encode(linear); }

float linear_of_srgb(std::uint8_t value) {
  static const std::array<float, 256> table = [] {
    std::array<float, 256> t{};
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<float>(linear_levels()[i]);
    return t;
  }();
  return table[value];
}

LabColour lab_of_pixel(std::uint32_t pixel) {
  const auto& lin = linear_levels();
  return lab_of_linear(lin[pixel_red(pixel)], lin[pixel_green(pixel)], lin[pixel_blue(pixel)]);
}

LabColour srgb_to_lab(double red, double green, double blue) {
  return lab_of_linear(srgb_to_linear(red), srgb_to_linear(green), srgb_to_linear(blue));
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

double ciede2000(const LabColour& x, const LabColour& y) {
  // 1. a* stretched by G, so that greys stay close to greys, then chroma and hue.
  const double chroma_mean = (std::hypot(x.a, x.b) + std::hypot(y.a, y.b)) / 2.0;
  const double g = 0.5 * (1.0 - seventh_power_ratio(chroma_mean));
  const double a1 = (1.0 + g) * x.a;
  const double a2 = (1.0 + g) * y.a;
  const double c1 = std::hypot(a1, x.b);
  const double c2 = std::hypot(a2, y.b);
  const double h1 = degrees(x.b, a1);
  const double h2 = degrees(y.b, a2);
  const bool achromatic = c1 * c2 == 0;

  // 2. The differences in lightness, chroma and hue; the hue one takes the
  // shorter way round the circle.
  const double delta_l = y.lightness - x.lightness;
  const double delta_c = c2 - c1;
  double delta_h = 0;
  if (!achromatic) {
    delta_h = h2 - h1;
    if (delta_h > 180.0) delta_h -= 360.0;
    else if (delta_h < -180.0) delta_h += 360.0;
  }
  const double delta_hue = 2.0 * std::sqrt(c1 * c2) * std::sin(delta_h / 2.0 * kRadiansPerDegree);

  // 3. The means the weights depend on; the mean hue also goes the shorter way.
  const double l_mean = (x.lightness + y.lightness) / 2.0;
  const double c_mean = (c1 + c2) / 2.0;
  double h_mean = h1 + h2;
  if (!achromatic) {
    if (std::abs(h1 - h2) > 180.0) h_mean += h_mean < 360.0 ? 360.0 : -360.0;
    h_mean /= 2.0;
  }

  // 4. The weights and the rotation term of the blue region.
  const double t = 1.0 - 0.17 * std::cos((h_mean - 30.0) * kRadiansPerDegree) +
                   0.24 * std::cos(2.0 * h_mean * kRadiansPerDegree) +
                   0.32 * std::cos((3.0 * h_mean + 6.0) * kRadiansPerDegree) -
                   0.20 * std::cos((4.0 * h_mean - 63.0) * kRadiansPerDegree);
  const double l50 = (l_mean - 50.0) * (l_mean - 50.0);
  const double s_l = 1.0 + 0.015 * l50 / std::sqrt(20.0 + l50);
  const double s_c = 1.0 + 0.045 * c_mean;
  const double s_h = 1.0 + 0.015 * c_mean * t;
  const double rotation = 30.0 * std::exp(-std::pow((h_mean - 275.0) / 25.0, 2.0));
  const double r_t = -std::sin(2.0 * rotation * kRadiansPerDegree) * 2.0 * seventh_power_ratio(c_mean);

  // 5. The weighted differences together.
  const double dl = delta_l / s_l;
  const double dc = delta_c / s_c;
  const double dh = delta_hue / s_h;
  return std::sqrt(std::max(0.0, dl * dl + dc * dc + dh * dh + r_t * dc * dh));
}

}  // namespace tess
