#include "engine/score_kernel.hpp"
#include "engine/score_bound.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "engine/score_tables.hpp"
#include "images/foto.hpp"
#include "images/perceptual_colour.hpp"

namespace tess {
namespace {

// ---------------------------------------------------------------------------
// A slow scorer written straight from the description of the score, sharing
// nothing with the kernel: its own tables, its own permutations, every entry
// visited in order and the bound tested after each one.

struct ReferenceSetup {
  int method = kCompareBest;
  double weights[3] = {1, 1, 1};
  double shares[3] = {25, 25, 50};  // after the medium-detail override
  int colour_change = 0;
  int colour_priority = 1;
  int variants = TileVariantFlags(TileVariant::original).mask();  // the stored mask
};

struct ReferenceTables {
  int method = kCompareBest;
  long long divisor = 1;
  long long channel[3][701] = {};
  long long curve[kCurveSize] = {};
  long long level[3] = {};
  int limit = 0;
  int variants = 0;
};

ReferenceTables reference_tables(const ReferenceSetup& s) {
  ReferenceTables t;
  t.method = s.method;
  t.variants = s.variants;
  double w[3];
  for (int c = 0; c < 3; ++c) w[c] = s.weights[c] < 0 ? 0 : (s.weights[c] > 100 ? 100 : s.weights[c]);
  t.divisor = std::max(1LL, static_cast<long long>((w[0] + w[1] + w[2]) / 3));
  for (int c = 0; c < 3; ++c) {
    for (int d = -350; d <= 350; ++d) t.channel[c][d + 350] = static_cast<long long>(std::abs(d) * w[c]);
  }
  for (int x = 0; x < kCurveSize; ++x) {
    long long v = x;
    if (x >= 20) v += static_cast<long long>(std::pow(x - 19, 1.5));
    if (x >= 100) v += static_cast<long long>(x - 99) * (x - 99);
    t.curve[x] = v;
  }
  double sum = (s.shares[0] + s.shares[1] + s.shares[2]) / 3;
  if (sum <= 0) sum = 1;
  const double share[3] = {s.shares[0] / sum, s.shares[1] / sum, s.shares[2] / sum};
  t.level[0] = static_cast<long long>(share[0] * 108);
  t.level[1] = static_cast<long long>(share[1] * 108 / 12);
  t.level[2] = static_cast<long long>(share[2] * 108 / 108);
  for (int l = 0; l < 3; ++l) {
    if (share[l] > 0 && t.level[l] == 0) t.level[l] = 1;
  }
  const int b = (s.colour_priority - 1) * 25;
  t.limit = std::min((100 - b) * s.colour_change * 255 / 10000, 684);
  return t;
}

int reference_comparisons(int f, bool cell_portrait, bool tile_portrait) {
  int k = 0;
  if (!cell_portrait && !tile_portrait) {
    k = f & 0x12;
    if ((f & 0x14) == 0x14 || (f & 0x0A) == 0x0A) k |= 0x100;
    if ((f & 0x18) == 0x18 || (f & 0x06) == 0x06) k |= 0x20;
  } else if (cell_portrait && tile_portrait) {
    k = f & 0x12;
    if ((f & 0x18) == 0x18 || (f & 0x06) == 0x06) k |= 0x100;
    if ((f & 0x14) == 0x14 || (f & 0x0A) == 0x0A) k |= 0x20;
  } else if (cell_portrait) {
    if (f & 0x20) k |= 0x02;
    if (f & 0x40) k |= 0x10;
    if ((f & 0x28) == 0x28 || (f & 0x44) == 0x44) k |= 0x100;
    if ((f & 0x24) == 0x24 || (f & 0x48) == 0x48) k |= 0x20;
  } else {
    if (f & 0x40) k |= 0x02;
    if (f & 0x20) k |= 0x10;
    if ((f & 0x28) == 0x28 || (f & 0x44) == 0x44) k |= 0x20;
    if ((f & 0x24) == 0x24 || (f & 0x48) == 0x48) k |= 0x100;
  }
  return k;
}

// The tile entry read for cell entry i under a mirror and/or a flip.
int reference_permute(int i, bool mirror, bool flip) {
  if (i == 0) return 0;
  if (i <= 12) {
    int c = (i - 1) % 4, r = (i - 1) / 4;
    if (mirror) c = 3 - c;
    if (flip) r = 2 - r;
    return 1 + c + 4 * r;
  }
  int c = (i - 13) % 12, r = (i - 13) / 12;
  if (mirror) c = 11 - c;
  if (flip) r = 8 - r;
  return 13 + c + 12 * r;
}

int clamp_int(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

TileScore reference_score(const ReferenceTables& t, const TileSignature& cell_as_given, int p,
                          const TileSignature& tile_as_given, std::uint32_t bound) {
  // The perceptual comparison (4) compares the samples' perceptual forms,
  // its entries' distances squared.
  TileSignature cell = cell_as_given, tile = tile_as_given;
  const bool perceptual = t.method == 4;
  if (perceptual) {
    for (auto& v : cell.samples) v = perceptual_pixel(v);
    for (auto& v : tile.samples) v = perceptual_pixel(v);
  }
  const bool cp = cell.portrait != 0, tp = tile.portrait != 0;
  const int k = reference_comparisons(t.variants, cp, tp);
  if (k == 0) return {0xFFFFFFFFu, 0};

  // Step 1: the kernel bound.
  const unsigned long long q = static_cast<unsigned long long>(bound) * 20 / p;
  bool bounded = !(q > 0xFFFFFFFFull || q == 0xFFFFFFFEull);
  unsigned long long kernel_bound = q + 1;

  // Step 4: the colour shift.
  int shift[3] = {0, 0, 0};
  if (t.limit > 0) {
    const std::uint32_t c0 = cell.samples[0], t0 = tile.samples[0];
    const int d[3] = {static_cast<int>(c0 & 255) - static_cast<int>(t0 & 255),
                      static_cast<int>((c0 >> 8) & 255) - static_cast<int>((t0 >> 8) & 255),
                      static_cast<int>((c0 >> 16) & 255) - static_cast<int>((t0 >> 16) & 255)};
    const int lum = perceptual ? d[0] : (30 * d[0] + 59 * d[1] + 11 * d[2]) / 100;
    const int s = (2 * clamp_int(lum, -t.limit, t.limit)) / 3;
    for (int c = 0; c < 3; ++c) {
      // Red, green and blue share the common part; of the perceptual axes
      // only lightness has one.
      const int common = perceptual && c > 0 ? 0 : s;
      shift[c] = common + clamp_int(d[c] - common, -t.limit, t.limit) / 3;
    }
  }

  // Step 3: the comparisons in their order.
  struct Comparison {
    int bit, code;
    bool mirror, flip;
  };
  const Comparison order[4] = {{0x02, 1, false, false}, {0x10, 4, true, true}, {0x20, 2, true, false},
                               {0x100, 3, false, true}};
  bool found = false;
  unsigned long long best = 0;
  int best_code = 0;
  for (const Comparison& comparison : order) {
    if (!(k & comparison.bit)) continue;
    unsigned long long sum = 0;
    bool aborted = false;
    for (int i = 0; i < 121; ++i) {
      const std::uint32_t ce = cell.samples[i];
      const std::uint32_t te = tile.samples[reference_permute(i, comparison.mirror, comparison.flip)];
      long long dsum = 0;
      for (int c = 0; c < 3; ++c) {
        const int tv = clamp_int(static_cast<int>((te >> (8 * c)) & 255) + shift[c], 0, 255);
        dsum += t.channel[c][static_cast<int>((ce >> (8 * c)) & 255) - tv + 350];
      }
      const long long dist = dsum / t.divisor;
      const long long w = t.level[i == 0 ? 0 : (i <= 12 ? 1 : 2)];
      unsigned long long contribution = 0;
      if (t.method == 2) contribution = static_cast<unsigned long long>(w * t.curve[dist]);
      if (t.method == 1 || t.method == 4) contribution = static_cast<unsigned long long>(w) * dist * dist;
      if (t.method == 3) contribution = static_cast<unsigned long long>(w * dist);
      const unsigned long long transparency = ce >> 24;
      if (transparency > 0) contribution -= contribution * transparency / 255;
      sum += contribution;
      if (bounded && sum > kernel_bound) {
        aborted = true;
        break;
      }
    }
    if (aborted) continue;
    found = true;
    best = sum;
    best_code = comparison.code;
    bounded = true;
    kernel_bound = sum;
  }
  if (!found) return {0xFFFFFFFFu, 0};

  // Step 6 and 7.
  const unsigned long long product = best * static_cast<unsigned long long>(p);
  TileScore result;
  result.score = product >= 20ull * 4294967296ull - 40 ? 0xFFFFFFFEu : static_cast<std::uint32_t>(product / 20);
  int code = best_code;
  if (cp && tp) {
    if (code == 2) code = 3;
    else if (code == 3) code = 2;
  } else if (cp && !tp) {
    code = code == 1 ? 5 : code == 4 ? 6 : code == 2 ? 8 : 7;
  } else if (!cp && tp) {
    code = code == 1 ? 6 : code == 4 ? 5 : code == 2 ? 8 : 7;
  }
  result.variant = static_cast<std::uint8_t>(code);
  return result;
}

// ---------------------------------------------------------------------------

std::string number_text(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

MosaicParameters parameters_for(const ReferenceSetup& s, int detail, int medium) {
  MosaicParameters p;
  p.comparison = s.method;
  p.detail = detail;
  p.colour_change = s.colour_change;
  p.colour_priority = s.colour_priority;
  p.tile_variants = *TileVariantFlags::of_mask(s.variants);
  p.advanced.set_value(kOptPriorityRed, number_text(s.weights[0]));
  p.advanced.set_value(kOptPriorityGreen, number_text(s.weights[1]));
  p.advanced.set_value(kOptPriorityBlue, number_text(s.weights[2]));
  p.advanced.set_value(kOptMediumDetail, std::to_string(medium));
  return p;
}

class SignatureMaker {
 public:
  explicit SignatureMaker(unsigned seed) : m_random(seed) {}

  int below(int n) { return static_cast<int>(m_random() % static_cast<unsigned>(n)); }
  std::uint64_t below(std::uint64_t n) { return ((std::uint64_t{m_random()} << 32) | m_random()) % n; }

  std::uint32_t transparency() {
    const int roll = below(10);
    if (roll < 7) return 0;
    if (roll < 9) return static_cast<std::uint32_t>(below(256));
    return 255;
  }

  TileSignature random_cell() {
    TileSignature s;
    for (auto& v : s.samples) {
      v = make_pixel(static_cast<std::uint32_t>(below(256)), static_cast<std::uint32_t>(below(256)),
                     static_cast<std::uint32_t>(below(256)), transparency());
    }
    return s;
  }

  // Unrelated, close to the cell in some arrangement, or a single colour
  // (whose comparisons all tie).
  TileSignature random_tile(const TileSignature& cell) {
    TileSignature s;
    const int kind = below(10);
    if (kind < 4) {
      for (auto& v : s.samples) {
        v = make_pixel(static_cast<std::uint32_t>(below(256)), static_cast<std::uint32_t>(below(256)),
                       static_cast<std::uint32_t>(below(256)), static_cast<std::uint32_t>(below(256)));
      }
    } else if (kind < 9) {
      const bool mirror = below(2) != 0, flip = below(2) != 0;
      const int offset = below(61) - 30;
      for (int i = 0; i < 121; ++i) {
        const std::uint32_t c = cell.samples[static_cast<std::size_t>(reference_permute(i, mirror, flip))];
        const auto noisy = [&](std::uint32_t v) {
          return static_cast<std::uint32_t>(clamp_int(static_cast<int>(v) + offset + below(21) - 10, 0, 255));
        };
        s.samples[static_cast<std::size_t>(i)] = make_pixel(noisy(pixel_red(c)), noisy(pixel_green(c)),
                                                            noisy(pixel_blue(c)));
      }
    } else {
      s.samples.fill(make_pixel(static_cast<std::uint32_t>(below(256)), 40, 200));
    }
    return s;
  }

 private:
  std::mt19937 m_random;
};

TEST(ScoreKernelProperty, MatchesReferenceForEveryMethodShiftVariantOrientationAndBound) {
  SignatureMaker maker(20240611u);
  const double weight_sets[][3] = {{1, 1, 1}, {2, 2, 1}, {0.5, 3.7, 10}, {100, -4, 40}};
  const int details[] = {1, 2, 3, 4, 5, 6, 7, 8, 0};
  const std::uint8_t priorities[] = {20, 1, 40, 255, 7};
  long cases = 0;
  long finished = 0;
  long proven_out = 0;
  for (int method = 1; method <= 4; ++method) {
    for (int shift = 0; shift < 2; ++shift) {
      for (const auto& weights : weight_sets) {
        // The perceptual comparison takes no channel priorities.
        if (method == kComparePerceptual && weights[0] != 1) continue;
        for (int variants = 0; variants < 128; variants += 2) {
          ReferenceSetup setup;
          setup.method = method;
          std::copy(std::begin(weights), std::end(weights), setup.weights);
          setup.colour_change = shift ? 10 + maker.below(91) : maker.below(50);
          setup.colour_priority = shift ? 1 + maker.below(4) : 5;
          setup.variants = variants;
          const int detail = details[maker.below(9)];
          const std::int64_t tile_count = maker.below(4) == 0 ? 0 : maker.below(50000);
          const int medium = maker.below(3) == 0 ? maker.below(130) : -1;
          const auto shares = detail_level_shares(detail, tile_count);
          std::copy(shares.begin(), shares.end(), setup.shares);
          if (medium >= 0) setup.shares[1] = 2.0 * std::min(medium, 100);

          ScoreTables tables;
          ASSERT_TRUE(tables.set_up(parameters_for(setup, detail, medium), tile_count));
          const ReferenceTables reference = reference_tables(setup);
          ASSERT_EQ(tables.tile_colour_limit() > 0, shift != 0);

          for (int pair = 0; pair < 2; ++pair) {
            TileSignature cell = maker.random_cell();
            // One cell of each pair is opaque, as cells outside masks are.
            if (pair == 0) {
              for (auto& v : cell.samples) v &= 0x00FFFFFFu;
            }
            TileSignature tile = maker.random_tile(cell);
            const std::uint8_t priority = priorities[maker.below(5)];
            for (int orientation = 0; orientation < 4; ++orientation) {
              cell.portrait = static_cast<std::uint8_t>(orientation & 1);
              tile.portrait = static_cast<std::uint8_t>(orientation >> 1);
              const TileScore unbounded = reference_score(reference, cell, priority, tile, kNoBound);
              const std::uint32_t exact = unbounded.score;
              // The cheap bound never proves out a tile that scores below a bound.
              TileBoundBank bank;
              bank.set_perceptual(tables.perceptual());
              bank.add(tile);
              for (const KernelLevel level : supported_kernel_levels()) {
                const CellBound cell_bound(tables, cell, priority, level);
                float lower = -1;
                cell_bound.lower_bounds(bank, 0, 1, &lower);
                ASSERT_GE(lower, 0.0f);
                if (exact < kScoreSaturated) {
                  ASSERT_LE(lower, cell_bound.threshold(exact + 1))
                      << kernel_level_name(level) << " method " << method << " shift " << shift << " exact " << exact;
                }
                if (exact / 2 > 0 && lower > cell_bound.threshold(exact / 2)) ++proven_out;
              }
              const std::uint32_t bounds[] = {kNoBound, exact, exact / 2 + static_cast<std::uint32_t>(maker.below(1000)),
                                              exact == 0 ? 0u : exact - 1};
              for (const KernelLevel level : supported_kernel_levels()) {
                const CellScorer scorer(tables, cell, priority, level);
                for (std::uint32_t bound : bounds) {
                  const TileScore expected = reference_score(reference, cell, priority, tile, bound);
                  const TileScore actual = scorer.score(tile, bound);
                  ASSERT_EQ(actual.score, expected.score)
                      << kernel_level_name(level) << " method " << method << " shift " << shift << " variants "
                      << variants << " orientation " << orientation << " priority " << int(priority) << " bound "
                      << bound;
                  ASSERT_EQ(int(actual.variant), int(expected.variant))
                      << kernel_level_name(level) << " method " << method << " variants " << variants
                      << " orientation " << orientation;
                  ASSERT_EQ(score_tile(tables, cell, priority, tile, bound), actual);
                  ++cases;
                  if (expected.score != kScoreUnusable) ++finished;
                }
              }
            }
          }
        }
      }
    }
  }
  // Enough of both kinds of outcome to mean something.
  EXPECT_GT(cases, 20000);
  EXPECT_GT(finished, cases / 3);
  EXPECT_GT(cases - finished, cases / 10);
  // The bound proves out a fair share of the tiles scoring twice a bound.
  EXPECT_GT(proven_out, cases / 100);
}

// ---------------------------------------------------------------------------
// Tables.

TEST(ScoreTables, LevelWeightsFollowTheDetailSharesAndTheMediumDetailOverride) {
  MosaicParameters p;
  ScoreTables tables;
  const auto weights = [&tables] {
    return std::array<std::uint32_t, 3>{tables.level_weight(0), tables.level_weight(1), tables.level_weight(2)};
  };
  p.detail = 2;  // no detail: only the whole picture counts
  ASSERT_TRUE(tables.set_up(p, 500));
  EXPECT_EQ(weights(), (std::array<std::uint32_t, 3>{324, 0, 0}));
  p.detail = 3;  // a tiny 12 × 9 share still counts
  ASSERT_TRUE(tables.set_up(p, 500));
  EXPECT_EQ(weights(), (std::array<std::uint32_t, 3>{226, 5, 1}));
  p.detail = 8;
  ASSERT_TRUE(tables.set_up(p, 500));
  EXPECT_EQ(weights(), (std::array<std::uint32_t, 3>{0, 0, 3}));
  p.detail = 42;  // unknown: medium
  ASSERT_TRUE(tables.set_up(p, 500));
  EXPECT_EQ(weights(), (std::array<std::uint32_t, 3>{81, 6, 1}));

  // Automatic goes by the mosaic's tile count.
  p.detail = kDetailAutomatic;
  const std::pair<std::int64_t, std::array<std::uint32_t, 3>> automatic[] = {
      {0, {81, 6, 1}},     {99, {226, 5, 1}},     {999, {162, 8, 1}},
      {9999, {81, 6, 1}},  {29999, {32, 8, 1}},   {30000, {0, 5, 2}}};
  for (const auto& [count, expected] : automatic) {
    ASSERT_TRUE(tables.set_up(p, count));
    EXPECT_EQ(weights(), expected) << count;
  }

  // Medium detail replaces the 4 × 3 share by twice its value, 100 at most.
  p.detail = 2;
  p.advanced.set_value(kOptMediumDetail, "50");  // 100, 100, 0
  ASSERT_TRUE(tables.set_up(p, 0));
  EXPECT_EQ(weights(), (std::array<std::uint32_t, 3>{162, 13, 0}));
  p.advanced.set_value(kOptMediumDetail, "250 %");
  ASSERT_TRUE(tables.set_up(p, 0));
  EXPECT_EQ(weights(), (std::array<std::uint32_t, 3>{108, 18, 0}));
  p.advanced.set_value(kOptMediumDetail, "-1");
  ASSERT_TRUE(tables.set_up(p, 0));
  EXPECT_EQ(weights(), (std::array<std::uint32_t, 3>{324, 0, 0}));
}

TEST(ScoreTables, ChannelPrioritiesAreClampedAndSetTheDivisor) {
  MosaicParameters p;
  ScoreTables tables;
  p.advanced.set_value(kOptPriorityRed, " 2,5");
  p.advanced.set_value(kOptPriorityGreen, "-3");
  p.advanced.set_value(kOptPriorityBlue, "1000");
  ASSERT_TRUE(tables.set_up(p, 0));
  EXPECT_DOUBLE_EQ(tables.channel_weight(0), 2.5);
  EXPECT_DOUBLE_EQ(tables.channel_weight(1), 0);
  EXPECT_DOUBLE_EQ(tables.channel_weight(2), 100);
  EXPECT_EQ(tables.divisor(), 34u);  // (2.5 + 0 + 100) / 3
  EXPECT_EQ(tables.channel_distance(0, -3), 7u);
  EXPECT_EQ(tables.channel_distance(1, 200), 0u);
  EXPECT_EQ(tables.channel_distance(2, 350), 35000u);

  // Text that is no number keeps the factory priority of 1.
  p.advanced.set_value(kOptPriorityRed, "strong");
  p.advanced.set_value(kOptPriorityGreen, "");
  p.advanced.set_value(kOptPriorityBlue, "0.1");
  ASSERT_TRUE(tables.set_up(p, 0));
  EXPECT_DOUBLE_EQ(tables.channel_weight(0), 1);
  EXPECT_DOUBLE_EQ(tables.channel_weight(1), 1);
  EXPECT_EQ(tables.divisor(), 1u);
}

TEST(ScoreTables, CurveFollowsItsFormulaExactlyAtPerfectPowers) {
  ScoreTables tables;
  EXPECT_EQ(tables.curve(0), 0u);
  EXPECT_EQ(tables.curve(19), 19u);
  EXPECT_EQ(tables.curve(20), 21u);         // 20 + 1
  EXPECT_EQ(tables.curve(23), 23u + 8u);    // 4^1.5 = 8
  EXPECT_EQ(tables.curve(119), 119u + 1000u + 400u);  // 100^1.5, 20^2
  EXPECT_EQ(tables.curve(1199), 1199u + 40534u + 1210000u);
}

TEST(ScoreTables, ColourChangeSplitsBetweenTileAndDetail) {
  MosaicParameters p;
  ScoreTables tables;
  p.colour_change = 30;
  p.colour_priority = kColourPriorityBalanced;
  ASSERT_TRUE(tables.set_up(p, 0));
  EXPECT_EQ(tables.tile_colour_limit(), 38);    // 50 · 30 · 255 / 10000
  EXPECT_EQ(tables.detail_colour_limit(), 38);
  p.colour_change = 100;
  p.colour_priority = kColourPriorityHighTile;
  ASSERT_TRUE(tables.set_up(p, 0));
  EXPECT_EQ(tables.tile_colour_limit(), 255);
  EXPECT_EQ(tables.detail_colour_limit(), 0);
  p.colour_priority = kColourPriorityHighDetail;
  ASSERT_TRUE(tables.set_up(p, 0));
  EXPECT_EQ(tables.tile_colour_limit(), 0);
  EXPECT_EQ(tables.detail_colour_limit(), 255);
}

TEST(ScoreTables, RefusedSetUpKeepsTheTablesAndUnknownMethodKeepsTheMethod) {
  MosaicParameters p;
  p.comparison = kCompareWeaker;
  p.detail = 2;
  ScoreTables tables;
  ASSERT_TRUE(tables.set_up(p, 0));

  MosaicParameters bad = p;
  bad.detail = 8;
  bad.colour_priority = 0;
  EXPECT_FALSE(tables.set_up(bad, 0));
  bad.colour_priority = 6;
  EXPECT_FALSE(tables.set_up(bad, 0));
  bad.colour_priority = 3;
  bad.colour_change = 101;
  EXPECT_FALSE(tables.set_up(bad, 0));
  bad.colour_change = -1;
  EXPECT_FALSE(tables.set_up(bad, 0));
  EXPECT_EQ(tables.level_weight(0), 324u);
  EXPECT_EQ(tables.method(), kCompareWeaker);

  p.comparison = 0;  // a missing key: the method stays
  ASSERT_TRUE(tables.set_up(p, 0));
  EXPECT_EQ(tables.method(), kCompareWeaker);
  p.comparison = kCompareStronger;
  ASSERT_TRUE(tables.set_up(p, 0));
  EXPECT_EQ(tables.method(), kCompareStronger);

  // The perceptual comparison has no red, green or blue to give priority to.
  bad = p;
  bad.comparison = kComparePerceptual;
  bad.advanced.set_value(kOptPriorityGreen, "2");
  std::string why;
  EXPECT_FALSE(tables.set_up(bad, 0, &why));
  EXPECT_NE(why.find("ProrityGreen"), std::string::npos) << why;
  EXPECT_EQ(tables.method(), kCompareStronger);
  bad.advanced.set_value(kOptPriorityGreen, "1");
  ASSERT_TRUE(tables.set_up(bad, 0));
  EXPECT_TRUE(tables.perceptual());
  EXPECT_EQ(tables.kernel_method(), kCompareStronger);
}

// ---------------------------------------------------------------------------
// The score's listed behaviours.

ScoreTables tables_with(int method, TileVariantFlags variants, int detail = 5, int colour_change = 0) {
  MosaicParameters p;
  p.comparison = method;
  p.tile_variants = variants;
  p.detail = detail;
  p.colour_change = colour_change;
  p.colour_priority = kColourPriorityHighTile;
  ScoreTables tables;
  EXPECT_TRUE(tables.set_up(p, 0));
  return tables;
}

TEST(ScoreKernel, OnlyTheUnchangedTileLeavesOtherOrientationsUnusable) {
  SignatureMaker maker(7);
  const ScoreTables tables = tables_with(kCompareBest, TileVariant::original);
  TileSignature cell = maker.random_cell();
  TileSignature tile = maker.random_tile(cell);
  tile.portrait = 1;
  EXPECT_EQ(score_tile(tables, cell, 20, tile), (TileScore{kScoreUnusable, kVariantCodeNone}));
  EXPECT_EQ(CellScorer(tables, cell, 20).distance(tile), kScoreUnusable);
  tile.portrait = 0;
  EXPECT_NE(score_tile(tables, cell, 20, tile).score, kScoreUnusable);
  EXPECT_EQ(tables_with(kCompareBest, TileVariantFlags{}).comparisons(false, false), 0u);
}

TEST(ScoreKernel, FullyTransparentCellScoresZeroAgainstEveryTile) {
  SignatureMaker maker(8);
  TileSignature cell = maker.random_cell();
  for (auto& v : cell.samples) v |= 0xFF000000u;
  for (int method = 1; method <= 3; ++method) {
    const ScoreTables tables = tables_with(method, kVariantAll, 5, 80);
    for (int i = 0; i < 20; ++i) {
      TileSignature tile = maker.random_tile(maker.random_cell());
      tile.portrait = static_cast<std::uint8_t>(i & 1);
      EXPECT_EQ(score_tile(tables, cell, 255, tile).score, 0u);
    }
  }
}

TEST(ScoreKernel, NoDetailComparesTheWholePictureOnly) {
  SignatureMaker maker(9);
  const ScoreTables tables = tables_with(kCompareBest, TileVariant::original, 2);
  TileSignature cell = maker.random_cell();
  cell.samples[0] = make_pixel(100, 100, 100);
  TileSignature tile = maker.random_tile(cell);
  tile.samples[0] = make_pixel(110, 100, 100);
  const TileScore first = score_tile(tables, cell, 20, tile);
  EXPECT_EQ(first.score, 324u * 10u);  // W0 · C[10]
  for (std::size_t i = 1; i < tile.samples.size(); ++i) tile.samples[i] = make_pixel(0, 255, 0);
  EXPECT_EQ(score_tile(tables, cell, 20, tile), first);
}

TEST(ScoreKernel, PriorityScalesEveryScoreOfTheCell) {
  SignatureMaker maker(10);
  for (int method = 1; method <= 3; ++method) {
    const ScoreTables tables = tables_with(method, kVariantAll, 5, 50);
    for (int i = 0; i < 20; ++i) {
      const TileSignature cell = maker.random_cell();
      const TileSignature tile = maker.random_tile(cell);
      const TileScore normal = score_tile(tables, cell, 20, tile);
      const TileScore doubled = score_tile(tables, cell, 40, tile);
      EXPECT_EQ(doubled.score, 2 * normal.score);
      EXPECT_EQ(doubled.variant, normal.variant);
      EXPECT_EQ(score_tile(tables, cell, 10, tile).score, normal.score / 2);
    }
  }
}

TEST(ScoreKernel, EachVariantCodeNamesTheArrangementThatMatches) {
  // A tile that is the cell mirrored matches exactly only through the mirror.
  SignatureMaker maker(11);
  TileSignature cell = maker.random_cell();
  for (auto& v : cell.samples) v &= 0x00FFFFFFu;
  TileSignature mirrored;
  for (int i = 0; i < 121; ++i) mirrored.samples[i] = cell.samples[reference_permute(i, true, false)];
  const ScoreTables tables = tables_with(kCompareBest, kVariantAll);

  struct Case {
    bool cell_portrait, tile_portrait;
    std::uint8_t code;
  };
  const Case cases[] = {{false, false, kVariantCodeMirrored},
                        {true, true, kVariantCodeFlipped},
                        {true, false, kVariantCodeQuarterMirrored},
                        {false, true, kVariantCodeQuarterMirrored}};
  for (const Case& c : cases) {
    cell.portrait = c.cell_portrait;
    mirrored.portrait = c.tile_portrait;
    const TileScore s = score_tile(tables, cell, 20, mirrored);
    EXPECT_EQ(s.score, 0u);
    EXPECT_EQ(s.variant, c.code) << c.cell_portrait << c.tile_portrait;
  }
  // The identical tile in the other orientation is one of the quarter turns.
  TileSignature same = cell;
  cell.portrait = 1;
  same.portrait = 0;
  EXPECT_EQ(score_tile(tables, cell, 20, same).variant, kVariantCodeQuarterA);
  cell.portrait = 0;
  same.portrait = 1;
  EXPECT_EQ(score_tile(tables, cell, 20, same).variant, kVariantCodeQuarterB);
}

TEST(ScoreKernel, BoundOnlyEverHidesScoresAtOrAboveIt) {
  SignatureMaker maker(12);
  const ScoreTables tables = tables_with(kCompareStronger, kVariantAll, 6, 40);
  for (int i = 0; i < 200; ++i) {
    const TileSignature cell = maker.random_cell();
    const TileSignature tile = maker.random_tile(cell);
    const std::uint8_t priority = static_cast<std::uint8_t>(1 + maker.below(255));
    const CellScorer scorer(tables, cell, priority);
    const TileScore exact = scorer.score(tile);
    ASSERT_NE(exact.score, kScoreUnusable);
    const auto bound = static_cast<std::uint32_t>(maker.below(std::uint64_t{exact.score} * 2 + 2));
    const TileScore bounded = scorer.score(tile, bound);
    if (exact.score < bound) {
      EXPECT_EQ(bounded, exact);
    } else {
      EXPECT_TRUE(bounded == exact || bounded.score == kScoreUnusable);
    }
  }
}

// A tile with the cell's colour everywhere on average but none of its
// evenness: the level sums alone prove nothing, the ranks of the values do,
// with and without a colour shift, on every level.
TEST(ScoreKernel, BoundSeesContrastTheMeanHides) {
  TileSignature cell, tile;
  cell.samples.fill(make_pixel(128, 128, 128));
  for (std::size_t i = 0; i < tile.samples.size(); ++i) {
    const std::uint32_t v = i % 2 == 0 ? 28 : 228;
    tile.samples[i] = make_pixel(v, v, v);
  }
  tile.recompute_levels();
  for (const int change : {0, 30}) {
    for (int method = 1; method <= 3; ++method) {
      const ScoreTables tables = tables_with(method, kVariantAll, 5, change);
      const std::uint32_t exact = score_tile(tables, cell, kNeutralPriority, tile).score;
      TileBoundBank bank;
      bank.add(tile);
      for (const KernelLevel level : supported_kernel_levels()) {
        const CellBound bound(tables, cell, kNeutralPriority, level);
        float lower = 0;
        bound.lower_bounds(bank, 0, 1, &lower);
        EXPECT_LE(lower, bound.threshold(exact + 1)) << kernel_level_name(level) << " method " << method;
        EXPECT_GT(lower, bound.threshold(exact / 3)) << kernel_level_name(level) << " method " << method
                                                     << " change " << change;
      }
    }
  }
}

// The bound works on many tiles side by side: each tile's bound must be its
// own, wherever it sits among them and wherever a run of them starts.
TEST(ScoreKernel, EveryTileOfABankGetsItsOwnBound) {
  SignatureMaker maker(77);
  for (const int change : {0, 30, 100}) {
    for (int method = 1; method <= 3; ++method) {
      const ScoreTables tables = tables_with(method, kVariantAll, 5, change);
      TileSignature cell = maker.random_cell();
      for (auto& v : cell.samples) v &= 0x00FFFFFFu;
      TileBoundBank bank;
      for (int t = 0; t < 45; ++t) bank.add(maker.random_tile(cell));
      for (const KernelLevel level : supported_kernel_levels()) {
        const CellBound bound(tables, cell, kNeutralPriority, level);
        for (const std::size_t first : {std::size_t{0}, std::size_t{3}, std::size_t{17}}) {
          std::vector<float> together(bank.size() - first);
          bound.lower_bounds(bank, first, together.size(), together.data());
          for (std::size_t t = 0; t < together.size(); ++t) {
            float alone = -1;
            bound.lower_bounds(bank, first + t, 1, &alone);
            ASSERT_EQ(together[t], alone) << kernel_level_name(level) << " method " << method << " change " << change
                                          << " tile " << first + t;
            // The lanes work out the colour shift and the sums as plain
            // code does; only the "Best Quality" floor is approximated.
            if (method != kCompareBest) {
              float plain = -1;
              CellBound(tables, cell, kNeutralPriority, KernelLevel::scalar).lower_bounds(bank, first + t, 1, &plain);
              ASSERT_NEAR(alone, plain, 1e-5f * plain) << kernel_level_name(level) << " method " << method
                                                       << " change " << change << " tile " << first + t;
            }
          }
        }
      }
    }
  }
}

// The bank's rank halves are the sums of the sorted values' halves, with
// ties, extremes and every value range.
TEST(ScoreKernel, BankKeepsTheHalvesOfEachLevelsSortedValues) {
  std::mt19937 random(5);
  for (int round = 0; round < 200; ++round) {
    const int span = round % 4 == 0 ? 2 : 256;  // many ties, or none to speak of
    const int base = round % 5 == 0 ? 255 - span / 2 : 0;
    TileSignature tile;
    for (auto& sample : tile.samples) {
      const auto value = [&] { return static_cast<std::uint32_t>(std::clamp<int>(base + static_cast<int>(random() % span), 0, 255)); };
      sample = make_pixel(value(), value(), value());
    }
    TileBoundBank bank;
    bank.add(tile);
    for (int level = 0; level < kBoundLevels; ++level) {
      const int first = level == 0 ? kFirstFineSample : kFirstCoarseSample;
      for (int c = 0; c < 3; ++c) {
        std::vector<int> values;
        for (int i = 0; i < kBoundLevelEntries[level]; ++i) values.push_back((tile.samples[first + i] >> (8 * c)) & 0xFF);
        std::sort(values.begin(), values.end());
        const auto half = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
        ASSERT_EQ(bank.field(TileBoundBank::part_field(level, 0, c))[0], std::accumulate(values.begin(), half, 0));
        ASSERT_EQ(bank.field(TileBoundBank::part_field(level, 1, c))[0], std::accumulate(half, values.end(), 0));
      }
    }
  }
}

// The largest colour shifts move a channel past either end: every level must
// clamp as the plain loop does.
TEST(ScoreKernel, ExtremeColourShiftsClampAlikeOnEveryLevel) {
  for (int method = 1; method <= 3; ++method) {
    const ScoreTables tables = tables_with(method, kVariantAll, 5, 100);
    ASSERT_GE(tables.tile_colour_limit(), 255);
    for (const std::uint32_t ground : {0u, 255u}) {
      TileSignature cell, tile;
      cell.samples.fill(make_pixel(255 - ground, 255 - ground, 255 - ground));
      for (std::size_t i = 0; i < tile.samples.size(); ++i) {
        tile.samples[i] = make_pixel(ground, i % 3 == 0 ? 128 : ground, i % 5 == 0 ? 255 - ground : ground);
      }
      tile.recompute_levels();
      const TileScore expected = CellScorer(tables, cell, kNeutralPriority, KernelLevel::scalar).score(tile);
      for (const KernelLevel level : supported_kernel_levels()) {
        EXPECT_EQ(CellScorer(tables, cell, kNeutralPriority, level).score(tile), expected)
            << kernel_level_name(level) << " method " << method << " ground " << ground;
      }
    }
  }
}

TEST(ScoreKernel, LargeChannelPrioritiesStayInsideTheCurve) {
  // Priorities 2, 2, 1 keep a divisor of 1, so a black cell against a white
  // tile reaches an entry distance of 1,275.
  MosaicParameters p;
  p.detail = 2;
  p.tile_variants = TileVariant::original;
  p.colour_change = 0;
  p.advanced.set_value(kOptPriorityRed, "2");
  p.advanced.set_value(kOptPriorityGreen, "2");
  p.advanced.set_value(kOptPriorityBlue, "1");
  ScoreTables tables;
  ASSERT_TRUE(tables.set_up(p, 0));
  TileSignature cell, tile;
  cell.samples.fill(make_pixel(0, 0, 0));
  tile.samples.fill(make_pixel(255, 255, 255));
  EXPECT_EQ(tables.curve(1275), 1275u + 44512u + 1382976u);
  EXPECT_EQ(score_tile(tables, cell, 20, tile).score, 324u * 1428763u);
}

// The open tiles of a walk: every index whose value is at most the limit, in
// order, whatever the count (runs of 32, of 8, and what is left) and with the
// NaN a scored tile leaves never picked.
TEST(ScoreKernel, IndexesAtMostPicksEveryValueUpToTheLimitInOrder) {
  std::mt19937 random(9);
  std::uniform_real_distribution<float> value(0.0f, 100.0f);
  for (const std::size_t count : {0, 1, 7, 8, 31, 32, 33, 64, 95, 1000}) {
    for (const float limit : {-1.0f, 3.0f, 50.0f, 100.0f}) {
      std::vector<float> values(count);
      for (float& v : values) v = random() % 7 == 0 ? std::numeric_limits<float>::quiet_NaN() : value(random);
      if (count > 2) values[1] = limit;  // equal to the limit counts
      std::vector<std::uint32_t> expected;
      for (std::size_t i = 0; i < count; ++i) {
        if (values[i] <= limit) expected.push_back(static_cast<std::uint32_t>(i));
      }
      std::vector<std::uint32_t> picked{12345};
      indexes_at_most(values.data(), count, limit, picked);
      ASSERT_EQ(picked, expected) << "count " << count << " limit " << limit;
    }
  }
}

}  // namespace
}  // namespace tess
