#pragma once
// The automatic entries of the settings list. Seven are computed here from
// the loaded Tile Images List's counts ("Default Settings", "Video Mosaic",
// "Use All Images", "Landscape", "Portrait", "Parquet", "Mixed"); "Last
// Mosaic" and "Auto Save" are sections of the settings file and are loaded
// like a user's settings (settings_file.hpp).

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

class Prompt;

/// The code of an entry of the settings list: 0 for the user's own settings,
/// 1..9 for the automatic ones.
using SettingsEntryCode = std::int32_t;

inline constexpr SettingsEntryCode kSettingsUser = 0;
inline constexpr SettingsEntryCode kSettingsDefault = 1;
inline constexpr SettingsEntryCode kSettingsVideoMosaic = 2;
inline constexpr SettingsEntryCode kSettingsLastMosaic = 3;
inline constexpr SettingsEntryCode kSettingsAutoSave = 4;
inline constexpr SettingsEntryCode kSettingsUseAllImages = 5;
inline constexpr SettingsEntryCode kSettingsLandscape = 6;
inline constexpr SettingsEntryCode kSettingsPortrait = 7;
inline constexpr SettingsEntryCode kSettingsParquet = 8;
inline constexpr SettingsEntryCode kSettingsMixed = 9;

/// True for the codes computed here (1, 2, 5..9); 3 and 4 are stored sections.
bool is_computed_settings(SettingsEntryCode code);

/// The untranslated label of an automatic entry ("Default Settings", ...);
/// nullptr for a user entry or an unknown code.
const char* automatic_settings_label(SettingsEntryCode code);
/// The entry as the list shows it: "(" + translated label + ")".
std::string automatic_settings_entry_name(SettingsEntryCode code);

/// Counts of the loaded Tile Images List.
struct ListCounts {
  std::size_t landscape_images = 0;
  std::size_t portrait_images = 0;
  std::size_t landscape_clips = 0;
  std::size_t portrait_clips = 0;
  std::size_t total = 0;  ///< every entry of the list, the images that "Use All Images" counts
};

inline constexpr const char* kLoadListFirstMessage =
    N_("Please load a Tile Images List before selecting one of the automatic Mosaic Settings");

/// Applies computed setting `code` to `params`. "Use All Images" changes
/// nothing when the list is empty; "Landscape", "Portrait", "Parquet" and
/// "Mixed" with an empty list still apply (with spacing 3) but report
/// kLoadListFirstMessage through `prompt`. False in those two cases and for a
/// code that is not computed; true otherwise. RezIroriz switches, pop-up text,
/// title and the advanced options stay as they are.
[[nodiscard]] bool apply_automatic_settings(SettingsEntryCode code, MosaicParameters& params, const ListCounts& counts,
                              Prompt& prompt);

/// Minimum distance between duplicates for a list of `items` pictures and
/// clips: about half the square root of the count, never below 0 nor above 20.
std::int32_t automatic_duplicate_spacing(std::size_t items);

/// The pattern (and variants) of "Parquet" or "Mixed" for `portrait` and
/// `landscape` items.
struct PatternChoice {
  PatternCode pattern;
  TileVariantFlags variants;
};
PatternChoice parquet_pattern(std::size_t portrait, std::size_t landscape);
PatternChoice mixed_pattern(std::size_t portrait, std::size_t landscape);

/// "Use All Images": the tile count L and the square mosaic side M in
/// megapixels for a list of `images` entries.
struct UseAllImagesSize {
  std::int64_t tiles;
  std::int64_t megapixels;
};
UseAllImagesSize use_all_images_size(std::size_t images);

/// A new record (advanced options from "Default Values" of `config`) with
/// "Default Settings" applied: what a run starts from when no settings are given.
MosaicParameters default_settings(const IniFile& config);

}  // namespace tess
