#pragma once
// Where the program's files live: the data folder (catalogues, web viewer,
// examples, package.txt) and the settings folder (configuration and settings
// files).

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tess {

/// The data folder: TESSELLARIUM_DATA_DIR when set, else ../share/tessellarium/
/// beside the executable (the installed layout, and the build tree's), else
/// the build tree's staged copy.
std::filesystem::path data_folder();

/// Reads an environment variable; tests substitute their own.
using EnvLookup = std::function<std::optional<std::string>(const char* name)>;
EnvLookup process_environment();

/// The settings folder, resolved in this order:
///   1. portable mode: package.txt in the data folder says package = WindowsPortable
///      (ignoring case): data folder + "Settings/";
///   2. TESSELLARIUM_CONFIG_PATH when longer than 5 characters;
///   3. $XDG_CONFIG_HOME/Tessellarium/, else $HOME/.config/Tessellarium/;
///   4. else data folder + "Settings/".
/// Then "Tessellarium Standard/" is appended. Every folder is created; the
/// result ends with "/".
std::filesystem::path resolve_settings_folder(const std::filesystem::path& data_dir, const EnvLookup& env);

/// resolve_settings_folder() for this process, computed once and cached.
std::filesystem::path settings_folder();
/// Forgets the cached folder (tests that change the environment).
void reset_settings_folder();

/// The cache folder, for files the program can always make again (the Tile
/// Images Lists of `mosaic --tiles`): $XDG_CACHE_HOME/Tessellarium/ when
/// that is an absolute path, else $HOME/.cache/Tessellarium/, else the
/// settings folder + "Cache/". Not created here; the result ends with "/".
std::filesystem::path resolve_cache_folder(const EnvLookup& env);
/// resolve_cache_folder() for this process.
std::filesystem::path cache_folder();

/// The configuration file, TessellariumConfig.txt in the settings folder.
std::filesystem::path config_file_path();

}  // namespace tess
