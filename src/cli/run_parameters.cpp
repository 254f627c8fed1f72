#include "cli/run_parameters.hpp"

#include <cstdio>

#include "base/ini_file.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "cli/cli_app.hpp"
#include "cli/parameter_overrides.hpp"
#include "settings/automatic_settings.hpp"
#include "settings/configuration.hpp"
#include "settings/settings_file.hpp"

namespace tess {
namespace {

/// The section a settings file is read from when none is named: the copy
/// written beside a mosaic, or the file's only section.
std::string default_section(const IniFile& ini) {
  if (ini.has_section(kMosaicSettingsSection)) return kMosaicSettingsSection;
  const auto sections = ini.sections();
  return sections.size() == 1 ? sections.front() : std::string();
}

}  // namespace

int usage_error(const std::string& text) {
  std::fprintf(stderr, "error: %s\n", text.c_str());
  return kExitUsage;
}

bool parameters_from_options(const ParameterSource& source, MosaicParameters& params, std::string& tile_list,
                             Prompt& prompt) {
  const IniFile config = ConfigFile().read();
  params = default_settings(config);
  if (!source.section.empty() && source.settings.empty()) {
    usage_error("--section needs --settings");
    return false;
  }
  if (!source.settings.empty()) {
    IniFile ini;
    if (!ini.load(source.settings)) {
      usage_error(format("cannot read the settings file '%s'", source.settings));
      return false;
    }
    const std::string section = source.section.empty() ? default_section(ini) : source.section;
    if (section.empty()) {
      usage_error(format("the settings file '%s' holds several settings: name one with --section", source.settings));
      return false;
    }
    const SettingsLoad load = read_settings_section(ini, section, params, config);
    if (!load.loaded) {
      usage_error(format("no settings '%s' of a version this program reads in '%s'", section, source.settings));
      return false;
    }
    for (const auto& key : load.ignored_keys)
      prompt.message(format("%s: the value of %s was ignored", section, key), Icon::warning);
    if (!load.tile_list.empty()) tile_list = load.tile_list;
  }
  const OverrideResult overrides = apply_parameter_overrides(params, source.overrides);
  if (!overrides.ok) {
    usage_error(overrides.error);
    return false;
  }
  if (overrides.tile_list) tile_list = *overrides.tile_list;
  return true;
}

}  // namespace tess
