#include "images/colour_difference.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tess {
namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

double srgb_to_linear(double value) {
  const double v = value / 255.0;
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// The CIELAB companding function: a cube root, with a straight line near
// black where the root would be too steep. The constants are the customary
// rounded ones (0.008856 for (6/29)^3, 7.787 for its slope), which common
// colour libraries use too, so figures agree with theirs.
double lab_f(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; }

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

LabColour srgb_to_lab(double red, double green, double blue) {
  const double r = srgb_to_linear(red);
  const double g = srgb_to_linear(green);
  const double b = srgb_to_linear(blue);
  const double x = (0.412453 * r + 0.357580 * g + 0.180423 * b) / 0.95047;
  const double y = 0.212671 * r + 0.715160 * g + 0.072169 * b;
  const double z = (0.019334 * r + 0.119193 * g + 0.950227 * b) / 1.08883;
  const double fx = lab_f(x);
  const double fy = lab_f(y);
  const double fz = lab_f(z);
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
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
