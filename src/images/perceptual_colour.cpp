// SPDX-License-Identifier: GPL-3.0-or-later
#include "images/perceptual_colour.hpp"

#include <algorithm>
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

std::uint32_t to_byte(float value) { return static_cast<std::uint32_t>(std::clamp(value, 0.0f, 255.0f) + 0.5f); }

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

namespace {

/// A smooth function of [0, top] read from a table of `kSteps` steps with
/// linear interpolation: the conversion runs over a million times for a
/// list of ten thousand pictures, and the curves it needs are smooth enough
/// that the table never moves a byte of the result by more than one.
class CurveTable {
 public:
  static constexpr int kSteps = 4096;
  template <class Function>
  CurveTable(float top, Function function) : m_scale(kSteps / top) {
    for (int i = 0; i <= kSteps + 1; ++i) m_values[static_cast<std::size_t>(i)] = static_cast<float>(function(i * (static_cast<double>(top) / kSteps)));
  }
  float operator()(float x) const {
    const float position = std::clamp(x * m_scale, 0.0f, static_cast<float>(kSteps));
    const auto i = static_cast<int>(position);
    const float fraction = position - static_cast<float>(i);
    const float low = m_values[static_cast<std::size_t>(i)];
    return low + fraction * (m_values[static_cast<std::size_t>(i) + 1] - low);
  }

 private:
  float m_scale;
  std::array<float, kSteps + 2> m_values{};
};

}  // namespace

std::uint32_t perceptual_pixel(std::uint32_t pixel) {
  // The steps of lab_of_pixel() and din99_of_lab() in single precision,
  // without the hue angle, the curves read from tables.
  // The CIELAB companding function over 0..1.1 (an sRGB colour's X/Xn and
  // Z/Zn stay below 1.1), DIN99o lightness of the companded Y, and the
  // chroma compression as a factor of the chroma (up to 200: sRGB's reach
  // is about 130).
  static const CurveTable companding(1.1f, [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; });
  static const CurveTable lightness(1.1f, [](double fy) {
    return kLightnessFactor * std::log1p(kLightnessRate * std::max(116.0 * fy - 16.0, 0.0));
  });
  static const CurveTable chroma_factor(200.0f, [](double g) {
    return g > 0 ? std::log1p(kChromaRate * g) / kChromaDivisor / g : kChromaRate / kChromaDivisor;
  });
  const float r = linear_of_srgb(static_cast<std::uint8_t>(pixel_red(pixel)));
  const float g = linear_of_srgb(static_cast<std::uint8_t>(pixel_green(pixel)));
  const float b = linear_of_srgb(static_cast<std::uint8_t>(pixel_blue(pixel)));
  const float fx = companding((0.412453f * r + 0.357580f * g + 0.180423f * b) / 0.95047f);
  const float fy = companding(0.212671f * r + 0.715160f * g + 0.072169f * b);
  const float fz = companding((0.019334f * r + 0.119193f * g + 0.950227f * b) / 1.08883f);
  const float lab_a = 500.0f * (fx - fy), lab_b = 200.0f * (fy - fz);
  const auto cosine = static_cast<float>(kCos), sine = static_cast<float>(kSin);
  const float e = lab_a * cosine + lab_b * sine;
  const float n = static_cast<float>(kShorten) * (lab_b * cosine - lab_a * sine);
  const float k = chroma_factor(std::sqrt(e * e + n * n));
  const float da = k * (e * cosine - n * sine), db = k * (e * sine + n * cosine);
  constexpr auto kLight = static_cast<float>(kPerceptualLightnessScale);
  constexpr auto kColour = static_cast<float>(kPerceptualColourScale);
  return make_pixel(to_byte(lightness(fy) * kLight), to_byte(da * kColour + kPerceptualCentre),
                    to_byte(db * kColour + kPerceptualCentre), pixel_transparency(pixel));
}

void perceptual_pixels(const std::uint32_t* in, std::uint32_t* out, int count) {
  for (int i = 0; i < count; ++i) out[i] = perceptual_pixel(in[i]);
}

}  // namespace tess
