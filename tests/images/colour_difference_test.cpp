// CIEDE2000 against the published test pairs of Sharma, Wu and Dalal, which
// were chosen to catch the usual mistakes (the hue wrap, the mean hue across
// 0°, the rotation term of the blues, greys of no chroma), and the sRGB to
// CIELAB conversion against fixed points.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "images/cielab.hpp"
#include "images/foto.hpp"
#include "images/perceptual_colour.hpp"

namespace tess {
namespace {

struct Pair {
  std::array<double, 3> first;
  std::array<double, 3> second;
  double difference;
};

// "The CIEDE2000 Color-Difference Formula: Implementation Notes,
// Supplementary Test Data, and Mathematical Observations", Table 1.
constexpr Pair kSharmaPairs[] = {
    {{50.0000, 2.6772, -79.7751}, {50.0000, 0.0000, -82.7485}, 2.0425},
    {{50.0000, 3.1571, -77.2803}, {50.0000, 0.0000, -82.7485}, 2.8615},
    {{50.0000, 2.8361, -74.0200}, {50.0000, 0.0000, -82.7485}, 3.4412},
    {{50.0000, -1.3802, -84.2814}, {50.0000, 0.0000, -82.7485}, 1.0000},
    {{50.0000, -1.1848, -84.8006}, {50.0000, 0.0000, -82.7485}, 1.0000},
    {{50.0000, -0.9009, -85.5211}, {50.0000, 0.0000, -82.7485}, 1.0000},
    {{50.0000, 0.0000, 0.0000}, {50.0000, -1.0000, 2.0000}, 2.3669},
    {{50.0000, -1.0000, 2.0000}, {50.0000, 0.0000, 0.0000}, 2.3669},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0009}, 7.1792},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0010}, 7.1792},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0011}, 7.2195},
    {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0012}, 7.2195},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0009, -2.4900}, 4.8045},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0010, -2.4900}, 4.8045},
    {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0011, -2.4900}, 4.7461},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 0.0000, -2.5000}, 4.3065},
    {{50.0000, 2.5000, 0.0000}, {73.0000, 25.0000, -18.0000}, 27.1492},
    {{50.0000, 2.5000, 0.0000}, {61.0000, -5.0000, 29.0000}, 22.8977},
    {{50.0000, 2.5000, 0.0000}, {56.0000, -27.0000, -3.0000}, 31.9030},
    {{50.0000, 2.5000, 0.0000}, {58.0000, 24.0000, 15.0000}, 19.4535},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.1736, 0.5854}, 1.0000},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.2972, 0.0000}, 1.0000},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 1.8634, 0.5757}, 1.0000},
    {{50.0000, 2.5000, 0.0000}, {50.0000, 3.2592, 0.3350}, 1.0000},
    {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
    {{63.0109, -31.0961, -5.8663}, {62.8187, -29.7946, -4.0864}, 1.2630},
    {{61.2901, 3.7196, -5.3901}, {61.4292, 2.2480, -4.9620}, 1.8731},
    {{35.0831, -44.1164, 3.7933}, {35.0232, -40.0716, 1.5901}, 1.8645},
    {{22.7233, 20.0904, -46.6940}, {23.0331, 14.9730, -42.5619}, 2.0373},
    {{36.4612, 47.8580, 18.3852}, {36.2715, 50.5065, 21.2231}, 1.4146},
    {{90.8027, -2.0831, 1.4410}, {91.1528, -1.6435, 0.0447}, 1.4441},
    {{90.9257, -0.5406, -0.9208}, {88.6381, -0.8985, -0.7239}, 1.5381},
    {{6.7747, -0.2908, -2.4247}, {5.8714, -0.0985, -2.2286}, 0.6377},
    {{2.0776, 0.0795, -1.1350}, {0.9033, -0.0636, -0.5514}, 0.9082},
};

LabColour lab(const std::array<double, 3>& v) { return {v[0], v[1], v[2]}; }

TEST(Ciede2000, MatchesEveryPublishedPairBothWaysRound) {
  int row = 0;
  for (const Pair& pair : kSharmaPairs) {
    ++row;
    // The table gives four decimals.
    EXPECT_NEAR(ciede2000(lab(pair.first), lab(pair.second)), pair.difference, 1e-4) << "row " << row;
    EXPECT_NEAR(ciede2000(lab(pair.second), lab(pair.first)), pair.difference, 1e-4) << "row " << row << " swapped";
    EXPECT_EQ(ciede2000(lab(pair.first), lab(pair.first)), 0.0) << "row " << row;
  }
}

TEST(SrgbToLab, WhiteBlackAndThePrimaries) {
  struct Point {
    std::array<double, 3> rgb;
    std::array<double, 3> lab;
  };
  // CIELAB of sRGB colours under D65 as colour references list them.
  const Point points[] = {
      {{255, 255, 255}, {100.0, 0.0, 0.0}},      {{0, 0, 0}, {0.0, 0.0, 0.0}},
      {{255, 0, 0}, {53.24, 80.09, 67.20}},      {{0, 255, 0}, {87.73, -86.18, 83.18}},
      {{0, 0, 255}, {32.30, 79.19, -107.86}},    {{128, 128, 128}, {53.59, 0.0, 0.0}},
      {{1, 1, 1}, {0.27, 0.0, 0.0}},  // on the straight part of the curve near black
  };
  for (const Point& p : points) {
    const LabColour got = srgb_to_lab(p.rgb[0], p.rgb[1], p.rgb[2]);
    EXPECT_NEAR(got.lightness, p.lab[0], 0.01) << p.rgb[0] << "," << p.rgb[1] << "," << p.rgb[2];
    EXPECT_NEAR(got.a, p.lab[1], 0.01) << p.rgb[0] << "," << p.rgb[1] << "," << p.rgb[2];
    EXPECT_NEAR(got.b, p.lab[2], 0.01) << p.rgb[0] << "," << p.rgb[1] << "," << p.rgb[2];
  }
}

// DIN99o worked out the textbook way (hue angle by atan2, turned by 26°,
// then cosine and sine), against the conversion, which never takes the
// angle; and the bytes the perceptual comparison packs of them (lightness
// 2.4 bytes a unit, the colour axes 1.2 about 128).
TEST(PerceptualColour, Din99oAndItsBytesMatchTheTextbookWay) {
  struct Case {
    std::array<std::uint32_t, 3> rgb;
    std::array<double, 3> din99;
    std::array<std::uint32_t, 3> bytes;
  };
  constexpr Case kCases[] = {
      {{255, 255, 255}, {99.9997, -0.0036, 0.0066}, {240, 128, 128}},
      {{0, 0, 0}, {0, 0, 0}, {0, 128, 128}},
      {{128, 128, 128}, {57.6300, -0.0021, 0.0040}, {138, 128, 128}},
      {{255, 0, 0}, {57.2924, 39.4987, 30.5180}, {138, 175, 165}},
      {{0, 255, 0}, {89.3656, -37.8273, 32.0838}, {214, 83, 167}},
      {{0, 0, 255}, {36.0243, 31.9314, -40.3852}, {86, 166, 80}},
      {{200, 150, 50}, {68.8187, 9.0727, 35.1905}, {165, 139, 170}},
      {{30, 60, 90}, {27.6762, -2.1363, -19.9023}, {66, 125, 104}},
  };
  for (const Case& c : kCases) {
    const std::uint32_t pixel = make_pixel(c.rgb[0], c.rgb[1], c.rgb[2], 77);
    const Din99Colour d = din99_of_lab(lab_of_pixel(pixel));
    EXPECT_NEAR(d.lightness, c.din99[0], 1e-3) << c.rgb[0] << "," << c.rgb[1] << "," << c.rgb[2];
    EXPECT_NEAR(d.a, c.din99[1], 1e-3) << c.rgb[0] << "," << c.rgb[1] << "," << c.rgb[2];
    EXPECT_NEAR(d.b, c.din99[2], 1e-3) << c.rgb[0] << "," << c.rgb[1] << "," << c.rgb[2];
    EXPECT_EQ(perceptual_pixel(pixel), make_pixel(c.bytes[0], c.bytes[1], c.bytes[2], 77));
  }
}

// The quick single-precision conversion lands on the byte the double
// precision steps give, or at most one off where those fall on a half.
TEST(PerceptualColour, QuickConversionAgreesWithTheDoublePrecisionSteps) {
  int off_by_one = 0;
  for (std::uint32_t r = 0; r < 256; r += 5)
    for (std::uint32_t g = 0; g < 256; g += 5)
      for (std::uint32_t b = 0; b < 256; b += 5) {
        const std::uint32_t pixel = make_pixel(r, g, b);
        const Din99Colour d = din99_of_lab(lab_of_pixel(pixel));
        const double expected[3] = {d.lightness * kPerceptualLightnessScale,
                                    d.a * kPerceptualColourScale + kPerceptualCentre,
                                    d.b * kPerceptualColourScale + kPerceptualCentre};
        const std::uint32_t quick = perceptual_pixel(pixel);
        for (int c = 0; c < 3; ++c) {
          const double want = std::clamp(std::round(expected[c]), 0.0, 255.0);
          const auto got = static_cast<double>((quick >> (8 * c)) & 0xFFu);
          ASSERT_LE(std::abs(got - want), 1.0) << r << "," << g << "," << b << " channel " << c;
          if (got != want) ++off_by_one;
        }
      }
  EXPECT_LT(off_by_one, 200) << "of 3 · 52³ channel values";
}

// The perceptual colour shift: two thirds of the lightness difference plus a
// third of the rest, a third of each colour axis' difference, every
// difference held to the limit first.
TEST(PerceptualColour, ShiftMovesLightnessMostAndTheColourAxesByAThird) {
  struct Case {
    std::array<std::uint32_t, 3> cell, tile;
    int limit;
    std::array<int, 3> shift;
  };
  constexpr Case kCases[] = {
      {{100, 128, 128}, {100, 128, 128}, 50, {0, 0, 0}},
      {{160, 128, 128}, {100, 128, 128}, 90, {46, 0, 0}},     // 40 + 20 / 3
      {{160, 128, 128}, {100, 128, 128}, 30, {30, 0, 0}},     // 20 + min(40, 30) / 3
      {{100, 158, 98}, {100, 128, 128}, 90, {0, 10, -10}},
      {{100, 255, 0}, {100, 0, 255}, 60, {0, 20, -20}},
      {{40, 120, 140}, {100, 128, 128}, 12, {-12, -2, 4}},   // -8 + max(-52, -12) / 3
  };
  for (const Case& c : kCases) {
    const std::array<int, 3> shift =
        perceptual_colour_shift(make_pixel(c.cell[0], c.cell[1], c.cell[2]), make_pixel(c.tile[0], c.tile[1], c.tile[2]),
                                c.limit);
    EXPECT_EQ(shift, c.shift) << c.cell[0] << " against " << c.tile[0] << ", limit " << c.limit;
  }
}

}  // namespace
}  // namespace tess
