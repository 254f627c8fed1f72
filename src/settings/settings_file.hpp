#pragma once
// The mosaic settings file: named MosaicParameters kept as sections of
// TessellariumSettings12x9.txt in the settings folder, the program's own
// sections "(Last Mosaic)" and "(Auto Save)", and the copy of a run's
// parameters written beside its mosaic (section "Mosaic Settings"). The file
// has the configuration file's key/value format; keys and section names are
// found whatever their letter case.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ini_file.hpp"
#include "base/text.hpp"
#include "settings/automatic_settings.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

inline constexpr const char* kLastMosaicSection = "(Last Mosaic)";
inline constexpr const char* kAutoSaveSection = "(Auto Save)";
inline constexpr const char* kMosaicSettingsSection = "Mosaic Settings";
/// The key of the Tile Images List's path in a section.
inline constexpr const char* kTileListKey = "TileList";
/// Prefix of the advanced options' keys in a section.
inline constexpr const char* kAdvancedKeyPrefix = "Advanced.";

inline constexpr const char* kInvalidSettingsNameMessage = N_("Please insert a valid name for the settings");
inline constexpr const char* kOverwriteSettingsQuestion = N_("Do you want to overwrite the existing settings?");
inline constexpr const char* kSelectSettingsToDeleteMessage = N_("Select first a Settings to delete");
inline constexpr const char* kAutomaticSettingsUndeletableMessage = N_("The automatic settings cannot be deleted");
inline constexpr const char* kDeleteSettingsQuestion = N_("Do you want to delete the selected Settings?");

/// "TessellariumSettings12x9.txt".
std::string settings_file_name();
/// The settings file of the settings folder.
std::filesystem::path settings_file_path();
/// The copy beside a mosaic: the output base name (the mosaic's path without
/// its extension) followed by " Settings" (translated) and ".txt".
std::filesystem::path settings_copy_path(const std::filesystem::path& output_base);

/// The trimmed name when it may name a user's settings: not empty, not
/// beginning with "(" and not ending with ")" (those are the automatic
/// entries' names); nullopt otherwise.
std::optional<std::string> valid_settings_name(std::string_view name);

/// The keys of a section in the order they are written (without the
/// "Advanced." option keys).
const std::vector<std::string>& settings_keys();

/// The "Version" of `section`: 0 when the section or the key is missing or
/// not a number.
std::int64_t settings_version(const IniFile& ini, const std::string& section);

/// Writes `params` into `section`: the keys in their fixed order, each
/// advanced option with its text when `with_advanced` (else empty), and
/// `tile_list` (empty for none). An existing section keeps its place in the
/// file and loses every key it held before.
void write_settings_section(IniFile& ini, const std::string& section, const MosaicParameters& params,
                            const std::string& tile_list, bool with_advanced);

/// What loading a section found besides the parameters.
struct SettingsLoad {
  bool loaded = false;  ///< false: no such section, or its "Version" is not 1
  std::string tile_list;  ///< "TileList": the list to load when it differs from the one held
  /// Keys whose value the loader refused (a pattern outside 1..33, a unit
  /// outside its field's units, a size that is 0, negative or not a number,
  /// an unknown format, a number outside its field's limits); their fields
  /// kept their previous values.
  std::vector<std::string> ignored_keys;
};

/// Loads `section` into `params`. Fields the section leaves out take the
/// loader's defaults or keep their values, as each key's rule says; the
/// advanced options come from the section when it carries them, else every
/// option takes its entry of "Default Values" in `config` (or its factory
/// default).
SettingsLoad read_settings_section(const IniFile& ini, const std::string& section, MosaicParameters& params,
                                   const IniFile& config);

/// How a single key's text changed a record.
enum class [[nodiscard]] SettingChange {
  applied,
  unknown_key,  ///< no key of a settings section
  refused,      ///< a value the field does not accept; the record is unchanged
};

/// Sets the field of one settings key from its stored form, with the field's
/// limits: "FileFormat" = "psd" or "bigtiff_jpg80", "TileUnit" = "tilesxrow",
/// "TileSize" = "40", "Pattern" = "Parquet (1:1)", "Advanced.<option key>" =
/// its text, ... Keywords are also found in other letter case; a number
/// stands for the value one below it, as in the file. "Version" (1) and
/// "Advanced.Version" (0 or 1) are accepted and change nothing. "TileList"
/// is not a field of the record: unknown_key.
SettingChange apply_setting(MosaicParameters& params, const std::string& key, const std::string& text);

/// The settings file. Every access reads it whole and every change writes
/// it back whole, so several windows or commands never keep stale copies.
class SettingsFile {
 public:
  /// The settings file of the settings folder.
  SettingsFile();
  explicit SettingsFile(std::filesystem::path path);

  const std::filesystem::path& path() const { return m_path; }

  /// The whole file; a missing or unreadable file reads as empty.
  IniFile read() const;

  /// True when `section` exists with a "Version" above 0.
  [[nodiscard]] bool contains(const std::string& section) const;

  /// The user's settings, in file order: sections with a "Version" of 1 or
  /// more whose name does not begin with "(".
  std::vector<std::string> user_settings() const;

  /// Replaces `section` with `params` and writes the file back. False when
  /// the file could not be written, or exists but could not be read (it is
  /// then left as it is).
  [[nodiscard]] bool save(const std::string& section, const MosaicParameters& params, const std::string& tile_list,
            bool with_advanced) const;

  /// Saves the parameters of a run about to start as "(Last Mosaic)" and
  /// "(Auto Save)", with the list and the advanced options, in one write.
  [[nodiscard]] bool save_run_settings(const MosaicParameters& params, const std::string& tile_list) const;

  /// Loads `section` (see read_settings_section).
  SettingsLoad load(const std::string& section, MosaicParameters& params, const IniFile& config) const;

  /// Removes `section` when it exists and writes the file back. False only
  /// when a write was needed and failed.
  [[nodiscard]] bool remove(const std::string& section) const;

 private:
  std::filesystem::path m_path;
};

/// Writes the copy of a run's parameters beside its mosaic: a file of its own
/// holding only section "Mosaic Settings". False when it could not be written.
[[nodiscard]] bool save_settings_copy(const std::filesystem::path& file, const MosaicParameters& params,
                        const std::string& tile_list, bool with_advanced);

/// One entry of the settings list.
struct SettingsEntry {
  std::string name;  ///< the user's name, or "(" + translated label + ")" for an automatic entry
  SettingsEntryCode code = kSettingsUser;
};

/// The settings list: the user's settings in file order, then "(Default
/// Settings)", "(Landscape)", "(Portrait)", "(Parquet)", "(Mixed)", "(Use All
/// Images)", "(Video Mosaic)", and "(Last Mosaic)" and "(Auto Save)" when
/// those sections hold a "Version" above 0.
std::vector<SettingsEntry> settings_entries(const IniFile& settings);

/// Loads the settings of a list entry: a user's section, "(Last Mosaic)" or
/// "(Auto Save)" from `settings`, or a computed entry from the list's
/// `counts` (see apply_automatic_settings; `loaded` then says whether it
/// applied, and messages go to `prompt`).
SettingsLoad load_settings_entry(const SettingsEntry& entry, const IniFile& settings, MosaicParameters& params,
                                 const ListCounts& counts, const IniFile& config, Prompt& prompt);

/// The entry selected at start-up: "(Auto Save)" when it exists, else
/// "Default Settings".
SettingsEntryCode startup_settings_code(const IniFile& settings);

}  // namespace tess
