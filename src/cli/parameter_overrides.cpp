#include "cli/parameter_overrides.hpp"

#include <cctype>

#include "base/text.hpp"
#include "settings/settings_file.hpp"
#include "video/fourcc.hpp"

namespace tess {
namespace {

std::string trimmed(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
  while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}


}  // namespace

OverrideResult apply_parameter_overrides(MosaicParameters& params, const std::vector<std::string>& pairs) {
  OverrideResult result;
  for (const auto& pair : pairs) {
    std::size_t equals = pair.find('=');
    std::string key = trimmed(pair.substr(0, equals));
    if (equals == std::string::npos || key.empty()) {
      result.ok = false;
      result.error = format("--set '%s': expected KEY=VALUE", pair);
      return result;
    }
    // Values keep inner blanks ("Parquet (1:1)"); the file trims the ends too.
    std::string value = trimmed(pair.substr(equals + 1));
    if (iequals(key, kTileListKey)) {
      result.tile_list = value;
      continue;
    }
    switch (apply_setting(params, key, value)) {
      case SettingChange::applied:
        // A codec name nobody knows would otherwise give an uncompressed video.
        if (iequals(key, std::string(kAdvancedKeyPrefix) + "DivarAdadir.FourCC") && !read_fourcc(value)) {
          result.ok = false;
          result.error = format("--set %s: '%s' names no codec this program knows: give a FourCC such as MJPG, "
                                "XVID or DIVX, or uncompressed",
                                key, value);
          return result;
        }
        if (iequals(key, "Advanced.Version")) result.advanced_changed = value == "1";
        else if (key.size() > 9 && iequals(key.substr(0, 9), kAdvancedKeyPrefix)) result.advanced_changed = true;
        break;
      case SettingChange::unknown_key:
        result.ok = false;
        result.error = format("--set %s: unknown settings key", key);
        return result;
      case SettingChange::refused:
        result.ok = false;
        result.error = format("--set %s: the value '%s' is not accepted", key, value);
        return result;
    }
  }
  return result;
}

CLI::Option* add_set_option(CLI::App& command, std::vector<std::string>& pairs) {
  return command
      .add_option("--set", pairs,
                  "Change one parameter: a settings-file key and its stored form (FileFormat=psd, "
                  "TileUnit=tilesxrow, TileSize=40, Pattern=Parquet (1:1), ...) or Advanced.<option key>=<text>")
      ->allow_extra_args(false)
      ->type_name("KEY=VALUE");
}

}  // namespace tess
