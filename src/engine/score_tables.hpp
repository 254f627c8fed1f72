#pragma once
// ScoreTables: everything the score kernel reads besides the two signatures,
// derived once from the mosaic's parameters before a run so that the kernel
// itself is nothing but table lookups and integer arithmetic. The tables are
// written only by set_up(), before any scoring job runs; afterwards any
// number of threads may read them.

#include <array>
#include <cstdint>
#include <string>

#include "settings/mosaic_parameters.hpp"

namespace tess {

/// Channel differences run from -kChannelRange to kChannelRange in the
/// channel tables (a shifted tile value is clamped to 0..255 first, so only
/// -255..255 is ever read).
inline constexpr int kChannelRange = 350;
/// The curve table covers every entry distance the channel priorities can
/// produce: at most 3 · 255 · priority sum over a divisor of 1, which tops out
/// just below a priority sum of 6, so 1,530.
inline constexpr int kCurveSize = 1531;
/// The tile part of the colour change never moves a channel by more than this.
inline constexpr int kMaxTileColourShift = 684;
/// The fixed point of ScoreTables::channel_multiplier(): 255 times the
/// largest multiplier still fits 32 bits.
inline constexpr int kChannelMultiplierShift = 16;

/// Kernel comparison bits: which transformed forms of a tile are compared
/// with a cell. They are not TileVariantFlags: a quarter turn needs no
/// comparison of its own because every signature is kept in landscape frame.
inline constexpr std::uint32_t kCompareAsIs = 0x02;
inline constexpr std::uint32_t kCompareTurned180 = 0x10;
inline constexpr std::uint32_t kCompareMirrored = 0x20;
inline constexpr std::uint32_t kCompareFlipped = 0x100;

/// The comparison bits allowed by the variant flags for a cell and a tile of
/// the given orientations; 0 when the tile cannot be used for the cell.
std::uint32_t allowed_comparisons(TileVariantFlags variants, bool cell_portrait, bool tile_portrait);

class ScoreTables {
 public:
  /// Neutral tables: channel priorities 1, the "Medium Detail" shares, no
  /// colour change, "Best Quality" and only the unchanged tile allowed.
  ScoreTables();

  /// Rebuilds every table from `parameters` (comparison method, image
  /// detail, colour change and its priority, tile variants and the "Image
  /// Compare" advanced options). `tile_count` is the mosaic's total tile
  /// count, which picks the level shares for "Automatic" detail. Fails, and
  /// leaves the tables as they were, when the colour change lies outside its
  /// field's limits or its priority is not 1..5; `why`, when given, then
  /// says which, and when the perceptual comparison is asked for with
  /// channel priorities, which it has no channels for. A comparison method
  /// other than 1..4 keeps the previous method.
  [[nodiscard]] bool set_up(const MosaicParameters& parameters, std::int64_t tile_count, std::string* why = nullptr);

  /// kCompareStronger, kCompareBest, kCompareWeaker or kComparePerceptual.
  std::int32_t method() const { return m_method; }
  /// Whether signatures are compared in their perceptual form
  /// (TileSignature::perceptual) rather than as red, green and blue.
  bool perceptual() const { return m_method == kComparePerceptual; }
  /// The comparison loop's value of an entry distance, one of the first
  /// three methods: the perceptual comparison squares its distances, so a
  /// tile whose pattern departs from the cell's in a few places loses to one
  /// that follows it everywhere a little off.
  std::int32_t kernel_method() const { return perceptual() ? kCompareStronger : m_method; }
  TileVariantFlags variants() const { return m_variants; }
  /// The channel priority of red, green or blue (0..2) as a real number in 0..100.
  double channel_weight(int channel) const { return m_weights[channel]; }
  /// max(1, integer part of the mean channel priority).
  std::uint32_t divisor() const { return m_divisor; }
  /// Integer part of |d| · the channel's priority, for d in -350..350.
  std::uint32_t channel_distance(int channel, int d) const { return m_channel[channel][d + kChannelRange]; }
  /// The "Best Quality" curve: x, plus (x - 19)^1.5 from 20 on, plus
  /// (x - 99)^2 from 100 on, each term truncated.
  std::uint32_t curve(int x) const { return m_curve[x]; }
  /// Weight of the whole-picture entry (level 0), of each 4 × 3 entry
  /// (level 1) and of each 12 × 9 entry (level 2).
  std::uint32_t level_weight(int level) const { return m_level_weights[level]; }
  /// How far a tile's colour may be moved per channel to match a cell
  /// (0 = not at all).
  int tile_colour_limit() const { return m_tile_colour_limit; }
  /// The part of the colour change left to rendering.
  int detail_colour_limit() const { return m_detail_colour_limit; }

  // Kernel access: raw rows, the channel rows centred on d = 0.
  const std::uint32_t* channel_row(int channel) const { return m_channel[channel].data() + kChannelRange; }
  const std::uint32_t* curve_row() const { return m_curve.data(); }
  /// floor(n / divisor()) == (n · reciprocal) >> 32 for every sum of three
  /// channel distances.
  std::uint64_t divisor_reciprocal() const { return m_reciprocal; }
  /// (|d| · multiplier) >> kChannelMultiplierShift is channel_distance() for
  /// every |d| up to 255, when channel_multipliers_exact().
  std::uint32_t channel_multiplier(int channel) const { return m_multipliers[channel]; }
  /// Whether every channel has such a multiplier; without one the vector
  /// loops leave the work to the scalar one.
  bool channel_multipliers_exact() const { return m_multipliers_exact; }
  /// channel_distance(c, d) ≥ distance_slope(c) · |d| − the channel's
  /// shortfall for every |d| up to 255; distance_shortfall() is the three
  /// channels' shortfalls together.
  double distance_slope(int channel) const { return m_distance_slope[channel]; }
  double distance_shortfall() const { return m_distance_shortfall; }
  /// allowed_comparisons() for this run's variants, by cell and tile portrait flag.
  std::uint32_t comparisons(bool cell_portrait, bool tile_portrait) const {
    return m_comparisons[cell_portrait ? 1 : 0][tile_portrait ? 1 : 0];
  }

 private:
  void set_channel_weights(double red, double green, double blue);
  void set_level_shares(std::array<double, 3> shares);
  void set_variants(TileVariantFlags variants);

  std::int32_t m_method = kCompareBest;
  TileVariantFlags m_variants = TileVariant::original;
  std::array<double, 3> m_weights{1, 1, 1};
  std::uint32_t m_divisor = 1;
  std::uint64_t m_reciprocal = 0;
  std::array<std::uint32_t, 3> m_multipliers{};
  bool m_multipliers_exact = false;
  std::array<double, 3> m_distance_slope{};
  double m_distance_shortfall = 0;
  std::array<std::array<std::uint32_t, 2 * kChannelRange + 1>, 3> m_channel{};
  std::array<std::uint32_t, kCurveSize> m_curve{};
  std::array<std::uint32_t, 3> m_level_weights{};
  int m_tile_colour_limit = 0;
  int m_detail_colour_limit = 0;
  std::array<std::array<std::uint32_t, 2>, 2> m_comparisons{};
};

/// The shares of the whole picture, the 4 × 3 grid and the 12 × 9 grid for an
/// "Image Detail" code; "Automatic" (1) picks them by the mosaic's tile count.
std::array<double, 3> detail_level_shares(std::int32_t detail, std::int64_t tile_count);

/// Reads an advanced option as a real number: leading blanks, an optional
/// sign, digits with "." or "," as the decimal separator; anything after the
/// number (a "%" for instance) is ignored. `fallback` when the text does not
/// start with a finite number.
double read_option_number(const std::string& text, double fallback);

}  // namespace tess
