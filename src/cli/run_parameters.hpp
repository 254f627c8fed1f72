#pragma once
// What the commands that work on a mosaic (summary, mosaic) share: the
// parameters from "Default Settings", a settings file and --set pairs, and
// the Tile Images List.

#include <string>
#include <vector>

#include "settings/mosaic_parameters.hpp"

namespace tess {

class Prompt;

struct ParameterSource {
  std::string settings;  ///< --settings FILE
  std::string section;   ///< --section NAME
  std::vector<std::string> overrides;  ///< --set KEY=VALUE
};

/// "Default Settings", then the named settings, then the --set pairs.
/// `tile_list` receives the list named by the settings or by --set TileList.
/// False after printing a one-line reason (a usage error).
[[nodiscard]] bool parameters_from_options(const ParameterSource& source, MosaicParameters& params, std::string& tile_list,
                             Prompt& prompt);

/// Prints "error: <text>" and gives the usage exit status.
int usage_error(const std::string& text);

}  // namespace tess
