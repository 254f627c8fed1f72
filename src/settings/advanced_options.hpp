#pragma once
// The 30 advanced options: named text values that tune performance, tile
// priority, image comparison, web and video output and video extraction.
// Each part of the program converts the text it reads; this file fixes only
// their names, defaults, choices and storage.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tess {

class ConfigFile;
class IniFile;

/// One entry of an option's keyword list: the label shown (translated at
/// display) and the word stored.
struct OptionChoice {
  const char* label;
  const char* word;
};

/// The fixed description of one option.
struct AdvancedOptionInfo {
  const char* group;            ///< group label (message id)
  const char* label;            ///< option label (message id)
  const char* unit_label;       ///< unit shown beside the value (message id), or ""
  const char* key;              ///< key in "Default Values" and, prefixed with "Advanced.", in settings files
  const char* factory_default;  ///< value when nothing is stored
  std::int32_t value_kind;      ///< UnitCode of the value; kUnitBareNumber for a bare value
  std::vector<OptionChoice> keywords;  ///< label → stored word; empty when the value is free
  std::vector<std::string> offered;    ///< values offered in the drop-down list (free values)
};

inline constexpr std::size_t kAdvancedOptionCount = 30;

/// Indexes of the options, in their fixed order.
enum AdvancedOptionIndex : std::size_t {
  kOptThreadCount,
  kOptMemoryBlockSize,
  kOptMemoryMaxSize,
  kOptDecodeMemoryMaxSize,
  kOptPriority,
  kOptMosaicFastPreview,
  kOptTileListLoad,
  kOptTileListSave,
  kOptFinalAction,
  kOptTilePriorityArea,
  kOptTilePrioritySize,
  kOptTileSplit,
  kOptPriorityRed,
  kOptPriorityGreen,
  kOptPriorityBlue,
  kOptMediumDetail,
  kOptNativeFileOpen,
  kOptWebPageDontCopyTiles,
  kOptVideoFrameCount,
  kOptVideoFrameRate,
  kOptImageFrameCount,
  kOptImageFrameRate,
  kOptReverseLoop,
  kOptFourCC,
  kOptExtractMinFrames,
  kOptExtractMaxFrames,
  kOptVideoTileThreshold,
  kOptStaticVideoTileThreshold,
  kOptMinimumStaticFrames,
  kOptExtractStaticVideo,
};

/// The table of every option, in order.
const std::array<AdvancedOptionInfo, kAdvancedOptionCount>& advanced_option_table();

/// The help text of option `index`, translated, with its choices and the line
/// "Default factory value: <default>".
std::string advanced_option_help(std::size_t index);

/// Index of the option with `key` (compared without regard to case).
std::optional<std::size_t> find_advanced_option(const std::string& key);

/// For an option with a keyword list: the stored word that `text` names (the
/// word itself or its label, ignoring case); for a No / Yes option also "no",
/// "yes", "0", "1". Free options take any single-line text. nullopt when the
/// option refuses the text.
std::optional<std::string> normalise_advanced_value(std::size_t index, const std::string& text);

/// The current values of the 30 options, as held by a mosaic's parameters.
class AdvancedOptions {
 public:
  /// Every value empty; call initialise_all() to fill them.
  AdvancedOptions() = default;

  /// Option `index`: when forced, or when its value is empty, the value comes
  /// from section "Default Values" of `config`, else its factory default.
  void initialise(bool force, std::size_t index, const IniFile& config);
  void initialise_all(bool force, const IniFile& config);
  /// Reads the configuration file once and initialises every option from it.
  void initialise_all(bool force, const ConfigFile& config);

  /// Writes every current value into "Default Values" (one write). False
  /// when the file could not be written.
  [[nodiscard]] bool save_defaults(const ConfigFile& config) const;

  const std::string& value(std::size_t index) const { return m_values.at(index); }
  void set_value(std::size_t index, std::string text) { m_values.at(index) = std::move(text); }
  /// Value by key; empty for an unknown key.
  std::string value(const std::string& key) const;

  bool operator==(const AdvancedOptions&) const = default;

 private:
  std::array<std::string, kAdvancedOptionCount> m_values;
};

}  // namespace tess
