#pragma once
// MosaicParameters: every value that describes one mosaic (size, resolution,
// tiles, pattern, matching, output format and destination, RezIroriz, border,
// advanced options). The main window edits it, the run consumes it and the
// settings file stores it. Enumerated values are small integers with keyword
// tables (keyword_table.hpp); dimensioned values travel with their unit.

#include <cstdint>
#include <string>

#include "settings/advanced_options.hpp"
#include "settings/output_formats.hpp"
#include "settings/units.hpp"

namespace tess {

class IniFile;

/// A tile pattern, 1..33. The codes are stored in settings files.
using PatternCode = std::int32_t;

inline constexpr PatternCode kPatternLandscape = 1;
inline constexpr PatternCode kPatternLandscape2Rows = 2;
inline constexpr PatternCode kPatternLandscape3Rows = 3;
inline constexpr PatternCode kPatternLandscape5Rows = 4;
inline constexpr PatternCode kPatternMixed1to1 = 5;
inline constexpr PatternCode kPatternMixed1to2 = 6;
inline constexpr PatternCode kPatternMixed1to3 = 7;
inline constexpr PatternCode kPatternMixed1to5 = 8;
inline constexpr PatternCode kPatternMixed1to8 = 9;
inline constexpr PatternCode kPatternMixed2to1 = 10;
inline constexpr PatternCode kPatternMixed3to1 = 11;
inline constexpr PatternCode kPatternMixed5to1 = 12;
inline constexpr PatternCode kPatternMixedB1to1 = 13;  ///< "Mixed2 (1:1)"
inline constexpr PatternCode kPatternMixedB1to2 = 14;
inline constexpr PatternCode kPatternMixedB1to3 = 15;
inline constexpr PatternCode kPatternMixedB1to5 = 16;
inline constexpr PatternCode kPatternMixedB1to8 = 17;
inline constexpr PatternCode kPatternMixedB2to1 = 18;
inline constexpr PatternCode kPatternMixedB3to1 = 19;
inline constexpr PatternCode kPatternMixedB5to1 = 20;
inline constexpr PatternCode kPatternParquet1to1 = 21;
inline constexpr PatternCode kPatternParquet2to1 = 22;
inline constexpr PatternCode kPatternParquet3to1 = 23;
inline constexpr PatternCode kPatternParquet5to1 = 24;
inline constexpr PatternCode kPatternParquet1to2 = 25;
inline constexpr PatternCode kPatternParquet1to3 = 26;
inline constexpr PatternCode kPatternParquet1to5 = 27;
inline constexpr PatternCode kPatternPortrait = 28;
inline constexpr PatternCode kPatternPortrait2Rows = 29;
inline constexpr PatternCode kPatternPortrait3Rows = 30;
inline constexpr PatternCode kPatternPortrait5Rows = 31;
inline constexpr PatternCode kPatternLandscape7Rows = 32;
inline constexpr PatternCode kPatternLandscape10Rows = 33;
inline constexpr PatternCode kPatternFirst = kPatternLandscape;
inline constexpr PatternCode kPatternLast = kPatternLandscape10Rows;

/// A set of tile variants, one bit each.
using TileVariantFlags = std::int32_t;

inline constexpr TileVariantFlags kVariantOriginal = 2;
inline constexpr TileVariantFlags kVariantMirror = 4;
inline constexpr TileVariantFlags kVariantFlipVertically = 8;
inline constexpr TileVariantFlags kVariantRotated180 = 16;
inline constexpr TileVariantFlags kVariantRotated90 = 32;
inline constexpr TileVariantFlags kVariantRotated270 = 64;
inline constexpr TileVariantFlags kVariantAll = 2 | 4 | 8 | 16 | 32 | 64;
/// Original, mirror and rotated90: the variants of a newly created record.
inline constexpr TileVariantFlags kVariantsAtCreation = kVariantOriginal | kVariantMirror | kVariantRotated90;
/// Original, mirror, rotated90 and rotated270: the automatic settings' variants.
inline constexpr TileVariantFlags kVariantsStandard = kVariantsAtCreation | kVariantRotated270;

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
/// Only variant bits, none other.
bool is_valid_variants(TileVariantFlags variants);
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
  PatternCode pattern = kPatternLandscape;
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
