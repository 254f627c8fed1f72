#pragma once
// MosaicParameters: every value that describes one mosaic (size, resolution,
// tiles, pattern, matching, output format and destination, RezIroriz, border,
// advanced options). The main window edits it, the run consumes it and the
// settings file stores it. Enumerated values are small integers with keyword
// tables (keyword_table.hpp); dimensioned values travel with their unit.

#include <cstdint>
#include <optional>
#include <string>

#include "settings/advanced_options.hpp"
#include "settings/output_formats.hpp"
#include "settings/units.hpp"

namespace tess {

class IniFile;

/// A tile pattern. The numbers 1..33 are what settings files store and what
/// the pattern box carries; they are converted only where they cross such a
/// boundary (pattern_number, pattern_of_number).
enum class PatternCode : std::int32_t {
  landscape = 1,
  landscape_2_rows = 2,
  landscape_3_rows = 3,
  landscape_5_rows = 4,
  mixed_1to1 = 5,
  mixed_1to2 = 6,
  mixed_1to3 = 7,
  mixed_1to5 = 8,
  mixed_1to8 = 9,
  mixed_2to1 = 10,
  mixed_3to1 = 11,
  mixed_5to1 = 12,
  mixed_b_1to1 = 13,  ///< "Mixed2 (1:1)"
  mixed_b_1to2 = 14,
  mixed_b_1to3 = 15,
  mixed_b_1to5 = 16,
  mixed_b_1to8 = 17,
  mixed_b_2to1 = 18,
  mixed_b_3to1 = 19,
  mixed_b_5to1 = 20,
  parquet_1to1 = 21,
  parquet_2to1 = 22,
  parquet_3to1 = 23,
  parquet_5to1 = 24,
  parquet_1to2 = 25,
  parquet_1to3 = 26,
  parquet_1to5 = 27,
  portrait = 28,
  portrait_2_rows = 29,
  portrait_3_rows = 30,
  portrait_5_rows = 31,
  landscape_7_rows = 32,
  landscape_10_rows = 33,
};
inline constexpr PatternCode kPatternFirst = PatternCode::landscape;
inline constexpr PatternCode kPatternLast = PatternCode::landscape_10_rows;

/// The stored number of `pattern`.
constexpr std::int32_t pattern_number(PatternCode pattern) { return static_cast<std::int32_t>(pattern); }
/// The pattern a stored number stands for; nullopt for a number outside 1..33.
constexpr std::optional<PatternCode> pattern_of_number(std::int64_t number) {
  if (number < pattern_number(kPatternFirst) || number > pattern_number(kPatternLast)) return std::nullopt;
  return static_cast<PatternCode>(number);
}
/// Whether `pattern` lies in first..last by stored number: the families of
/// patterns (mixed, parquet, portrait) are runs of consecutive numbers.
constexpr bool is_pattern_between(PatternCode pattern, PatternCode first, PatternCode last) {
  return pattern_number(pattern) >= pattern_number(first) && pattern_number(pattern) <= pattern_number(last);
}

/// A single tile variant. The bits are those settings files store.
enum class TileVariant : std::int32_t {
  original = 2,
  mirror = 4,
  flip_vertically = 8,
  rotated_180 = 16,
  rotated_90 = 32,
  rotated_270 = 64,
};

/// A set of tile variants. The stored mask is converted only where it
/// crosses the settings file (mask, of_mask).
class TileVariantFlags {
 public:
  constexpr TileVariantFlags() = default;
  constexpr TileVariantFlags(TileVariant variant) : m_mask(static_cast<std::int32_t>(variant)) {}

  /// The set a stored mask stands for; nullopt for a mask with a bit no variant has.
  static constexpr std::optional<TileVariantFlags> of_mask(std::int64_t mask);
  /// The stored mask of the set.
  constexpr std::int32_t mask() const { return m_mask; }

  /// Whether every variant of `variants` is in the set.
  constexpr bool contains(TileVariantFlags variants) const { return (m_mask & variants.m_mask) == variants.m_mask; }
  /// The set less the variants of `variants`.
  constexpr TileVariantFlags without(TileVariantFlags variants) const {
    return TileVariantFlags(m_mask & ~variants.m_mask);
  }

  friend constexpr TileVariantFlags operator|(TileVariantFlags a, TileVariantFlags b) {
    return TileVariantFlags(a.m_mask | b.m_mask);
  }
  friend constexpr TileVariantFlags operator&(TileVariantFlags a, TileVariantFlags b) {
    return TileVariantFlags(a.m_mask & b.m_mask);
  }
  bool operator==(const TileVariantFlags&) const = default;

 private:
  constexpr explicit TileVariantFlags(std::int32_t mask) : m_mask(mask) {}
  std::int32_t m_mask = 0;
};

constexpr TileVariantFlags operator|(TileVariant a, TileVariant b) { return TileVariantFlags(a) | b; }

inline constexpr TileVariantFlags kVariantAll = TileVariant::original | TileVariant::mirror |
                                                TileVariant::flip_vertically | TileVariant::rotated_180 |
                                                TileVariant::rotated_90 | TileVariant::rotated_270;

constexpr std::optional<TileVariantFlags> TileVariantFlags::of_mask(std::int64_t mask) {
  if (mask < 0 || (mask & ~static_cast<std::int64_t>(kVariantAll.m_mask)) != 0) return std::nullopt;
  return TileVariantFlags(static_cast<std::int32_t>(mask));
}

/// Original, mirror and rotated90: the variants of a newly created record.
inline constexpr TileVariantFlags kVariantsAtCreation = TileVariant::original | TileVariant::mirror |
                                                        TileVariant::rotated_90;
/// Original, mirror, rotated90 and rotated270: the automatic settings' variants.
inline constexpr TileVariantFlags kVariantsStandard = kVariantsAtCreation | TileVariant::rotated_270;

/// Tile adaptation.
inline constexpr std::int32_t kAdaptNo = 0;
inline constexpr std::int32_t kAdaptTileSize = 1;
inline constexpr std::int32_t kAdaptMosaicSize = 2;

/// Mosaic processing.
inline constexpr std::int32_t kProcessingStandard = 1;
inline constexpr std::int32_t kProcessingFaster = 2;
inline constexpr std::int32_t kProcessingCustom = 3;
inline constexpr std::int32_t kProcessingSequential = 4;
inline constexpr std::int32_t kProcessingRandom = 5;
inline constexpr std::int32_t kProcessingFolder = 6;
inline constexpr std::int32_t kProcessingSequentialDate = 7;
inline constexpr std::int32_t kProcessingStandard1 = 8;
inline constexpr std::int32_t kProcessingStandard2 = 9;

/// Image comparison.
inline constexpr std::int32_t kCompareStronger = 1;
inline constexpr std::int32_t kCompareBest = 2;
inline constexpr std::int32_t kCompareWeaker = 3;
/// Distances in a perceptual colour form (see images/perceptual_colour.hpp).
inline constexpr std::int32_t kComparePerceptual = 4;

/// Image detail, 1 (automatic) .. 8 (maximum).
inline constexpr std::int32_t kDetailAutomatic = 1;
inline constexpr std::int32_t kDetailMaximum = 8;

/// Colour change priority, 1 (high tile) .. 5 (high detail).
inline constexpr std::int32_t kColourPriorityHighTile = 1;
inline constexpr std::int32_t kColourPriorityBalanced = 3;
inline constexpr std::int32_t kColourPriorityHighDetail = 5;

/// Sub-folder rule.
inline constexpr std::int32_t kSubfolderNone = 1;
inline constexpr std::int32_t kSubfolderOverwrite = 2;
inline constexpr std::int32_t kSubfolderNew = 3;

/// File-name rule.
inline constexpr std::int32_t kFileNameOverwrite = 1;
inline constexpr std::int32_t kFileNameNew = 2;

// ---- Limits of the edit fields --------------------------------------------------
// The loader and the command line hold values to the same limits, so the
// engine never sees a value its fields would have refused.

/// Units a mosaic size may be given in: lengths, pixel counts and areas, tiles.
inline constexpr UnitSet kMosaicSizeUnits{kUnitCm, kUnitInch,  kUnitPixel, kUnitKilopixel, kUnitMegapixel,
                                          kUnitGigapixel, kUnitMm, kUnitMeter, kUnitFoot, kUnitTiles};
inline constexpr ParameterField kResolutionField{{300, kUnitPpi}, 0.0001, 10000.0, UnitSet{kUnitPpi, kUnitDpi}};
inline constexpr ParameterField kTileSizeField{
    {40, kUnitTilesPerRow},
    0.0001,
    10000000.0,
    UnitSet{kUnitCm, kUnitInch, kUnitPixel, kUnitMm, kUnitMeter, kUnitFoot, kUnitTiles, kUnitTilesPerRow,
            kUnitKilopixel, kUnitMegapixel, kUnitGigapixel}};
inline constexpr ParameterField kBorderSizeField{
    {0, kUnitPixel},
    0,
    100000.0,
    UnitSet{kUnitCm, kUnitInch, kUnitPixel, kUnitMm, kUnitMeter, kUnitFoot, kUnitKilopixel, kUnitMegapixel,
            kUnitGigapixel}};
inline constexpr ParameterField kTileShareField = ParameterField::plain(0, 80, 0);  ///< half and quarter tiles, %
inline constexpr ParameterField kTileDuplicationField = ParameterField::plain(0, 10000, 0);
inline constexpr ParameterField kDuplicateSpacingField = ParameterField::plain(0, 10000, 3);
inline constexpr ParameterField kColourChangeField = ParameterField::plain(0, 100, 30);
inline constexpr ParameterField kJpegQualityField = ParameterField::plain(1, 100, 95);
inline constexpr ParameterField kPopUpImageField = ParameterField::plain(0, 10000, 300);
inline constexpr ParameterField kConsecutiveFramesField = ParameterField::plain(0, 10000, 0);

inline constexpr std::int32_t kDefaultJpegQuality = 95;
inline constexpr std::int32_t kDefaultPopUpImage = 300;
inline constexpr std::int32_t kDefaultPopUpText = 4;

bool is_valid_pattern(PatternCode pattern);
/// A mosaic size side: finite and above 0.
bool is_valid_size_side(double value);
/// A packed colour red + green*256 + blue*65536.
bool is_valid_colour(std::int64_t colour);

/// The RezIroriz title of a new record: "Mosaic created by Tessellarium", translated.
std::string default_web_title();

/// Every value of one mosaic. The members' initial values are those of a
/// newly created record: the "Default Settings" values, except tile variants
/// (original, mirror, rotated90), with RezIroriz on and every other output
/// flag off. The advanced options start empty: use created() for a record
/// whose options come from the configuration file's "Default Values".
struct MosaicParameters {
  SizeValue mosaic_size{42.0, 29.0, kUnitCm};
  UnitValue resolution{300, kUnitPpi};
  UnitValue tile_size{40.0, kUnitTilesPerRow};
  std::int32_t half_tiles = 0;     ///< share of half-size tiles, percent ("MultiSize2")
  std::int32_t quarter_tiles = 0;  ///< share of quarter-size tiles, percent ("MultiSize4")
  std::int32_t tile_duplication = 0;
  std::int32_t duplicate_spacing = 3;  ///< minimum distance between duplicates, in tiles
  PatternCode pattern = PatternCode::landscape;
  std::int32_t tile_adaptation = kAdaptTileSize;
  std::int32_t colour_change = 30;  ///< percent
  TileVariantFlags tile_variants = kVariantsAtCreation;
  std::int32_t processing = kProcessingStandard;
  std::int32_t comparison = kCompareBest;
  std::int32_t detail = kDetailAutomatic;
  std::int32_t colour_priority = kColourPriorityBalanced;
  bool use_all_images = false;
  OutputFormatCode output_format = OutputFormatCode::jpg;
  std::int32_t jpeg_quality = kDefaultJpegQuality;
  bool output_transparency = false;
  bool output_layers = false;
  bool output_tiff64 = false;
  std::string mosaic_directory;
  std::int32_t subfolder_rule = kSubfolderNone;
  std::int32_t file_name_rule = kFileNameNew;
  bool web_output = true;           ///< "RezIroriz"
  bool web_copy_images = false;     ///< never running under Wine
  std::int32_t web_popup_image = kDefaultPopUpImage;  ///< pixels
  std::int32_t web_popup_text = kDefaultPopUpText;
  std::string web_title = default_web_title();
  bool text_report = false;
  bool individual_tiles = false;
  bool split_mosaic = false;
  bool create_mask_file = false;
  std::int32_t consecutive_frames = 0;
  std::int32_t border_colour = 0;  ///< red + green*256 + blue*65536
  UnitValue border_size{0, kUnitPixel};
  AdvancedOptions advanced;

  /// A new record with every advanced option forced from "Default Values"
  /// of `config` (the factory default where it holds none).
  static MosaicParameters created(const IniFile& config);

  bool operator==(const MosaicParameters&) const = default;
};

}  // namespace tess
