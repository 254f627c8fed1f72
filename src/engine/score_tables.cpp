#include "engine/score_tables.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "base/text.hpp"

namespace tess {
namespace {

constexpr double kMaxChannelWeight = 100;
constexpr double kFactoryChannelWeight = 1;
constexpr double kFactoryMediumDetail = -1;

/// Integer part of v^1.5, exact: the integer square root of v³.
std::uint64_t power_one_and_a_half(std::uint64_t v) {
  const std::uint64_t cube = v * v * v;
  auto root = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(cube)));
  // The double square root may be one off either way for large cubes.
  while (root * root > cube) --root;
  while ((root + 1) * (root + 1) <= cube) ++root;
  return root;
}

/// The tile share of the colour change by its priority code 1..5 ("High Tile
/// Quality" keeps the tiles' colours, "High Detail Quality" moves them most);
/// -1 for any other code.
int detail_share_of_colour_change(std::int32_t priority) {
  switch (priority) {
    case 1: return 0;
    case 2: return 25;
    case 3: return 50;
    case 4: return 75;
    case 5: return 100;
    default: return -1;
  }
}

}  // namespace

std::uint32_t allowed_comparisons(TileVariantFlags variants, bool cell_portrait, bool tile_portrait) {
  // The comparisons are worked out on the variant bits as stored.
  const std::int32_t f = variants.mask();
  const auto all = [f](std::int32_t bits) { return (f & bits) == bits; };
  std::uint32_t k = 0;
  if (cell_portrait == tile_portrait) {
    // Same orientation: the unchanged tile and the half turn map directly; a
    // mirror or a flip is also reached by combining a half turn with the other.
    k = static_cast<std::uint32_t>(f & 0x12);
    const bool flip_pair = all(0x14) || all(0x0A);
    const bool mirror_pair = all(0x18) || all(0x06);
    // In portrait frame the signature is turned, so mirror and flip trade places.
    if (!cell_portrait) {
      if (flip_pair) k |= kCompareFlipped;
      if (mirror_pair) k |= kCompareMirrored;
    } else {
      if (mirror_pair) k |= kCompareFlipped;
      if (flip_pair) k |= kCompareMirrored;
    }
    return k;
  }
  // Different orientations: only quarter turns make the tile fit.
  const bool pair_a = all(0x28) || all(0x44);
  const bool pair_b = all(0x24) || all(0x48);
  if (cell_portrait) {
    if (f & 0x20) k |= kCompareAsIs;
    if (f & 0x40) k |= kCompareTurned180;
    if (pair_a) k |= kCompareFlipped;
    if (pair_b) k |= kCompareMirrored;
  } else {
    if (f & 0x40) k |= kCompareAsIs;
    if (f & 0x20) k |= kCompareTurned180;
    if (pair_a) k |= kCompareMirrored;
    if (pair_b) k |= kCompareFlipped;
  }
  return k;
}

std::array<double, 3> detail_level_shares(std::int32_t detail, std::int64_t tile_count) {
  constexpr std::array<std::array<double, 3>, 9> kShares{{
      {25, 25, 50},   // any other value
      {25, 25, 50},   // 1 automatic: replaced below
      {100, 0, 0},    // 2 no detail
      {70, 20, 10},   // 3 very low
      {50, 30, 20},   // 4 low
      {25, 25, 50},   // 5 medium
      {10, 30, 60},   // 6 high
      {0, 20, 80},    // 7 very high
      {0, 0, 100},    // 8 maximum
  }};
  if (detail == kDetailAutomatic) {
    // Few tiles show little of each picture, many tiles show the detail.
    if (tile_count <= 0) return kShares[5];
    if (tile_count < 100) return kShares[3];
    if (tile_count < 1000) return kShares[4];
    if (tile_count < 10000) return kShares[5];
    if (tile_count < 30000) return kShares[6];
    return kShares[7];
  }
  if (detail >= 2 && detail <= kDetailMaximum) return kShares[static_cast<std::size_t>(detail)];
  return kShares[0];
}

double read_option_number(const std::string& text, double fallback) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return fallback;
  std::string number = text.substr(begin);
  if (!number.empty() && number[0] == '+') number.erase(0, 1);
  // Both decimal separators are accepted, as in every number the user types.
  if (auto comma = number.find(','); comma != std::string::npos) number[comma] = '.';
  double value = 0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec != std::errc() || !std::isfinite(value)) return fallback;
  return value;
}

ScoreTables::ScoreTables() {
  set_channel_weights(kFactoryChannelWeight, kFactoryChannelWeight, kFactoryChannelWeight);
  set_level_shares(detail_level_shares(0, 0));
  set_variants(TileVariant::original);
  for (int x = 0; x < kCurveSize; ++x) {
    std::uint64_t c = static_cast<std::uint64_t>(x);
    if (x >= 20) c += power_one_and_a_half(static_cast<std::uint64_t>(x - 19));
    if (x >= 100) c += static_cast<std::uint64_t>(x - 99) * static_cast<std::uint64_t>(x - 99);
    m_curve[static_cast<std::size_t>(x)] = static_cast<std::uint32_t>(c);
  }
}

bool ScoreTables::set_up(const MosaicParameters& p, std::int64_t tile_count, std::string* why) {
  // 1. Check before touching anything, so a refused set-up leaves the old
  // tables. Only a settings file edited by hand gets values the window never offers.
  const int detail_share = detail_share_of_colour_change(p.colour_priority);
  if (detail_share < 0) {
    if (why != nullptr)
      *why = format(tr("The tiles cannot be compared: ColorChangePriority is none of high_tile, good_tile, balanced, "
                       "good_detail and high_detail (%d)"),
                    static_cast<int>(p.colour_priority));
    return false;
  }
  if (p.colour_change < kColourChangeField.minimum || p.colour_change > kColourChangeField.maximum) {
    if (why != nullptr)
      *why = format(tr("The tiles cannot be compared: ColorChange %d is not a percentage from 0 to 100"),
                    static_cast<int>(p.colour_change));
    return false;
  }

  // 2. Channel priorities. The perceptual form has lightness and two colour
  // axes instead of red, green and blue: priorities for those it cannot
  // honour, and they are refused rather than read as something else.
  const auto weight = [&p](std::size_t option) {
    return read_option_number(p.advanced.value(option), kFactoryChannelWeight);
  };
  if (p.comparison == kComparePerceptual &&
      (weight(kOptPriorityRed) != kFactoryChannelWeight || weight(kOptPriorityGreen) != kFactoryChannelWeight ||
       weight(kOptPriorityBlue) != kFactoryChannelWeight)) {
    if (why != nullptr)
      *why = tr("The tiles cannot be compared: the perceptual comparison weighs lightness and colour as people see "
                "them and takes no red, green or blue priority (ImageCompare.ProrityRed, ProrityGreen and "
                "ProrityBlue must be 1)");
    return false;
  }
  set_channel_weights(weight(kOptPriorityRed), weight(kOptPriorityGreen), weight(kOptPriorityBlue));

  // 3. Level weights, with the medium-detail override of the 4 × 3 share.
  std::array<double, 3> shares = detail_level_shares(p.detail, tile_count);
  const double medium = read_option_number(p.advanced.value(kOptMediumDetail), kFactoryMediumDetail);
  if (medium >= 0) shares[1] = 2 * std::min(medium, 100.0);
  set_level_shares(shares);

  // 4. Colour change: the tile part is used here, the rest by rendering.
  m_tile_colour_limit = std::min((100 - detail_share) * p.colour_change * 255 / 10000, kMaxTileColourShift);
  m_detail_colour_limit = p.colour_change * detail_share * 255 / 10000;

  // 5. Method and variants.
  if (p.comparison == kCompareStronger || p.comparison == kCompareBest || p.comparison == kCompareWeaker ||
      p.comparison == kComparePerceptual) {
    m_method = p.comparison;
  }
  set_variants(p.tile_variants);
  return true;
}

void ScoreTables::set_channel_weights(double red, double green, double blue) {
  m_weights = {red, green, blue};
  for (double& w : m_weights) w = std::clamp(w, 0.0, kMaxChannelWeight);
  const double mean = (m_weights[0] + m_weights[1] + m_weights[2]) / 3;
  m_divisor = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(mean));
  m_reciprocal = ((std::uint64_t{1} << 32) + m_divisor - 1) / m_divisor;
  m_multipliers_exact = true;
  for (std::size_t c = 0; c < 3; ++c) {
    for (int d = -kChannelRange; d <= kChannelRange; ++d) {
      m_channel[c][static_cast<std::size_t>(d + kChannelRange)] =
          static_cast<std::uint32_t>(std::abs(d) * m_weights[c]);
    }
    // The same distances as one multiplication and a shift, for the vector
    // loops: the fixed-point weight rounded either way, whichever reproduces
    // the table for every distance a channel can have.
    bool found = false;
    const auto base = static_cast<std::uint32_t>(m_weights[c] * (1 << kChannelMultiplierShift));
    for (std::uint32_t multiplier : {base, base + 1}) {
      bool exact = true;
      for (std::uint32_t d = 0; d <= 255 && exact; ++d) {
        exact = (d * multiplier) >> kChannelMultiplierShift == m_channel[c][d + kChannelRange];
      }
      if (exact) {
        m_multipliers[c] = multiplier;
        found = true;
        break;
      }
    }
    m_multipliers_exact = m_multipliers_exact && found;
  }
  // A line below each channel's distances, for bounds that work on sums:
  // the table's mean slope, moved down by its largest shortfall.
  m_distance_shortfall = 0;
  for (std::size_t c = 0; c < 3; ++c) {
    const double slope = m_channel[c][255 + kChannelRange] / 255.0;
    double shortfall = 0;
    for (int d = 0; d <= 255; ++d) {
      shortfall = std::max(shortfall, slope * d - m_channel[c][static_cast<std::size_t>(d + kChannelRange)]);
    }
    m_distance_slope[c] = slope;
    m_distance_shortfall += shortfall + 1e-9;
  }
}

void ScoreTables::set_level_shares(std::array<double, 3> shares) {
  double s = (shares[0] + shares[1] + shares[2]) / 3;
  if (s <= 0) s = 1;
  for (double& share : shares) share /= s;
  // Each grid weighs by its share whatever its number of entries.
  const std::array<double, 3> scaled{shares[0] * 108, shares[1] * 108 / 12, shares[2] * 108 / 108};
  for (std::size_t level = 0; level < 3; ++level) {
    auto w = static_cast<std::uint32_t>(scaled[level]);
    if (w == 0 && shares[level] > 0) w = 1;
    m_level_weights[level] = w;
  }
}

void ScoreTables::set_variants(TileVariantFlags variants) {
  m_variants = variants;
  for (int cell = 0; cell < 2; ++cell) {
    for (int tile = 0; tile < 2; ++tile) {
      m_comparisons[static_cast<std::size_t>(cell)][static_cast<std::size_t>(tile)] =
          allowed_comparisons(variants, cell != 0, tile != 0);
    }
  }
}

}  // namespace tess
