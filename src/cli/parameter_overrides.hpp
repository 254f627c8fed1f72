#pragma once
// The commands' --set KEY=VALUE options: a settings-file key with its stored
// form (FileFormat=psd, TileUnit=tilesxrow, TileSize=40, Pattern=Parquet (1:1))
// or Advanced.<option key>=<text>, applied in order over a MosaicParameters.

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "settings/mosaic_parameters.hpp"

namespace tess {

/// What a list of overrides did besides changing the record.
struct OverrideResult {
  bool ok = true;
  /// When not ok: one line naming the offending key (or text), for "error: ...".
  std::string error;
  /// "TileList=PATH" was given (the last one wins).
  std::optional<std::string> tile_list;
  /// An "Advanced." option key (or Advanced.Version=1) was given, so the
  /// advanced options belong in a save; Advanced.Version=0 turns it off again.
  bool advanced_changed = false;
};

/// Applies each "KEY=VALUE" of `pairs` in order. Stops at the first text
/// without "=", unknown key or refused value and says which; what came
/// before it is applied.
OverrideResult apply_parameter_overrides(MosaicParameters& params, const std::vector<std::string>& pairs);

/// Registers a repeatable "--set KEY=VALUE" option on `command`.
CLI::Option* add_set_option(CLI::App& command, std::vector<std::string>& pairs);

}  // namespace tess
