#include "settings/automatic_settings.hpp"

#include <algorithm>
#include <cmath>

#include "base/ini_file.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {
namespace {

// What every computed setting sets; the entry's own values follow.
void apply_common(MosaicParameters& p) {
  p.resolution = {300, kUnitPpi};
  p.tile_duplication = 0;
  p.half_tiles = 0;
  p.quarter_tiles = 0;
  p.tile_adaptation = kAdaptTileSize;
  p.colour_change = 30;
  p.tile_variants = kVariantsStandard;
  p.processing = kProcessingStandard;
  p.comparison = kCompareBest;
  p.detail = kDetailAutomatic;
  p.colour_priority = kColourPriorityBalanced;
  p.use_all_images = false;
  p.output_transparency = false;
  p.output_layers = false;
  p.output_tiff64 = false;
  p.jpeg_quality = kDefaultJpegQuality;
  p.output_format = OutputFormatCode::jpg;
  p.mosaic_directory.clear();
  p.subfolder_rule = kSubfolderNone;
  p.file_name_rule = kFileNameNew;
  p.web_popup_image = kDefaultPopUpImage;
  p.text_report = false;
  p.individual_tiles = false;
  p.split_mosaic = false;
  p.create_mask_file = false;
  p.consecutive_frames = 0;
  p.border_colour = 0;
  p.border_size = {0, kUnitPixel};
}

/// The patterns of one family (Parquet or Mixed) for each balance of
/// portrait and landscape pictures.
struct PatternFamily {
  PatternCode portrait_3;   ///< three portrait pictures or more to one landscape
  PatternCode portrait_2;   ///< two or more to one
  PatternCode landscape_3;  ///< three landscape pictures or more to one portrait
  PatternCode landscape_2;  ///< two or more to one
  PatternCode even;         ///< anything closer
};

/// The family's pattern for p portrait and q landscape pictures: all portrait
/// or all landscape at five to one or more. At three to one or more the tiles
/// keep the standard variants; closer, only the picture and its mirror image.
PatternChoice pattern_for_orientations(std::size_t p, std::size_t q, const PatternFamily& family) {
  constexpr TileVariantFlags kMirrored = TileVariant::original | TileVariant::mirror;
  if (p >= 5 * q) return {PatternCode::portrait, kVariantsStandard};
  if (p >= 3 * q) return {family.portrait_3, kVariantsStandard};
  if (p >= 2 * q) return {family.portrait_2, kMirrored};
  if (q >= 5 * p) return {PatternCode::landscape, kVariantsStandard};
  if (q >= 3 * p) return {family.landscape_3, kVariantsStandard};
  if (q >= 2 * p) return {family.landscape_2, kMirrored};
  return {family.even, kMirrored};
}

void apply_default_entry(MosaicParameters& p) {
  apply_common(p);
  p.mosaic_size = {42, 29, kUnitCm};
  p.tile_size = {40, kUnitTilesPerRow};
  p.pattern = PatternCode::landscape;
  p.duplicate_spacing = 3;
}

}  // namespace

bool is_computed_settings(SettingsEntryCode code) {
  return code == kSettingsDefault || code == kSettingsVideoMosaic ||
         (code >= kSettingsUseAllImages && code <= kSettingsMixed);
}

const char* automatic_settings_label(SettingsEntryCode code) {
  switch (code) {
    case kSettingsDefault: return N_("Default Settings");
    case kSettingsVideoMosaic: return N_("Video Mosaic");
    case kSettingsLastMosaic: return N_("Last Mosaic");
    case kSettingsAutoSave: return N_("Auto Save");
    case kSettingsUseAllImages: return N_("Use All Images");
    case kSettingsLandscape: return N_("Landscape");
    case kSettingsPortrait: return N_("Portrait");
    case kSettingsParquet: return N_("Parquet");
    case kSettingsMixed: return N_("Mixed");
    default: return nullptr;
  }
}

std::string automatic_settings_entry_name(SettingsEntryCode code) {
  const char* label = automatic_settings_label(code);
  return label == nullptr ? std::string() : "(" + tr(label) + ")";
}

std::int32_t automatic_duplicate_spacing(std::size_t items) {
  auto root = static_cast<std::int64_t>(std::sqrt(static_cast<double>(items)));
  // Lists of 1 to 8 items make this negative; a spacing below 0 means nothing.
  std::int64_t spacing = (root > 1 ? root - 1 : root) / 2 - 1;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(spacing, 0, 20));
}

PatternChoice parquet_pattern(std::size_t p, std::size_t q) {
  return pattern_for_orientations(p, q, {PatternCode::parquet_1to3, PatternCode::parquet_1to2,
                                         PatternCode::parquet_3to1, PatternCode::parquet_2to1,
                                         PatternCode::parquet_1to1});
}

PatternChoice mixed_pattern(std::size_t p, std::size_t q) {
  return pattern_for_orientations(p, q, {PatternCode::mixed_3to1, PatternCode::mixed_2to1, PatternCode::mixed_1to3,
                                         PatternCode::mixed_1to2, PatternCode::mixed_1to1});
}

UseAllImagesSize use_all_images_size(std::size_t images) {
  std::int64_t tiles = std::max<std::int64_t>(500, 2 * static_cast<std::int64_t>(images));
  std::int64_t megapixels = tiles / 4;
  if (megapixels > 205) megapixels = megapixels < 824 ? 205 : megapixels / 4;
  return {tiles, megapixels};
}

bool apply_automatic_settings(SettingsEntryCode code, MosaicParameters& p, const ListCounts& counts, Prompt& prompt) {
  switch (code) {
    case kSettingsDefault:
      apply_default_entry(p);
      return true;
    case kSettingsVideoMosaic:
      apply_common(p);
      p.mosaic_size = {1280, 720, kUnitPixel};
      p.tile_size = {300, kUnitTiles};
      p.pattern = PatternCode::landscape;
      p.duplicate_spacing = 3;
      p.output_format = OutputFormatCode::avi_uncompressed;
      return true;
    case kSettingsUseAllImages: {
      if (counts.total == 0) return false;
      UseAllImagesSize size = use_all_images_size(counts.total);
      apply_common(p);
      p.mosaic_size = {static_cast<double>(size.megapixels), static_cast<double>(size.megapixels), kUnitMegapixel};
      p.tile_size = {static_cast<double>(size.tiles), kUnitTiles};
      p.pattern = PatternCode::landscape;
      p.duplicate_spacing = 3;
      p.use_all_images = true;
      p.split_mosaic = size.megapixels > 500;
      return true;
    }
    case kSettingsLandscape:
    case kSettingsPortrait:
    case kSettingsParquet:
    case kSettingsMixed:
      break;
    default:
      return false;
  }

  apply_common(p);
  p.mosaic_size = {42, 29, kUnitCm};
  p.tile_size = {2000, kUnitTiles};
  std::size_t portrait = counts.portrait_images + counts.portrait_clips;
  std::size_t landscape = counts.landscape_images + counts.landscape_clips;
  PatternChoice choice{PatternCode::landscape_2_rows, kVariantsStandard};
  if (code == kSettingsPortrait) choice = {PatternCode::portrait_2_rows, kVariantsStandard};
  if (code == kSettingsParquet) choice = parquet_pattern(portrait, landscape);
  if (code == kSettingsMixed) choice = mixed_pattern(portrait, landscape);
  p.pattern = choice.pattern;
  p.tile_variants = choice.variants;

  std::size_t items = portrait + landscape;
  p.colour_change = items < 3000 ? 30 : 15;
  if (items == 0) {
    p.duplicate_spacing = 3;
    prompt.message(tr(kLoadListFirstMessage), Icon::warning);
    return false;
  }
  if (items > 6000) {
    // Large lists trade the spacing rule for one allowed duplicate.
    p.duplicate_spacing = 0;
    p.tile_duplication = 1;
  } else {
    p.duplicate_spacing = automatic_duplicate_spacing(items);
  }
  return true;
}

MosaicParameters default_settings(const IniFile& config) {
  MosaicParameters params = MosaicParameters::created(config);
  apply_default_entry(params);
  return params;
}

}  // namespace tess
