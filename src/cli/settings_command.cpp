#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "cli/cli_app.hpp"
#include "cli/commands.hpp"
#include "cli/parameter_overrides.hpp"
#include "cli/terminal_prompt.hpp"
#include "settings/automatic_settings.hpp"
#include "settings/configuration.hpp"
#include "settings/settings_file.hpp"

namespace tess {
namespace {

struct SettingsArgs {
  std::string name;
  std::vector<std::string> overrides;
};


// The entry a name given on the command line means: a user's settings (names
// compare without regard to case, as in the file) or an automatic entry by
// its shown name, translated or not.
std::optional<SettingsEntry> find_entry(const IniFile& settings, const std::string& name) {
  for (const auto& entry : settings_entries(settings)) {
    if (iequals(entry.name, name)) return entry;
    const char* label = automatic_settings_label(entry.code);
    if (label != nullptr && iequals("(" + std::string(label) + ")", name)) return entry;
  }
  return std::nullopt;
}

int usage_error(const std::string& text) {
  std::fprintf(stderr, "error: %s\n", text.c_str());
  return kExitUsage;
}

int settings_list() {
  for (const auto& entry : settings_entries(SettingsFile().read())) std::printf("%s\n", entry.name.c_str());
  return kExitOk;
}

int settings_show(Prompt& prompt, const std::string& name) {
  SettingsFile file;
  IniFile settings = file.read();
  auto entry = find_entry(settings, name);
  if (!entry) return usage_error(format("no settings named '%s'", name));

  IniFile config = ConfigFile().read();
  MosaicParameters params = default_settings(config);
  // The list-dependent entries need a loaded Tile Images List, which this
  // command does not take.
  if (is_computed_settings(entry->code) && entry->code != kSettingsDefault && entry->code != kSettingsVideoMosaic) {
    prompt.message(tr(kLoadListFirstMessage), Icon::error);
    return kExitUsage;
  }
  SettingsLoad load = load_settings_entry(*entry, settings, params, ListCounts{}, config, prompt);
  if (!load.loaded) return usage_error(format("the settings '%s' have a version this program cannot read", name));
  for (const auto& key : load.ignored_keys)
    prompt.message(format("%s: the value of %s was ignored", name, key), Icon::warning);

  IniFile shown;
  write_settings_section(shown, "s", params, load.tile_list, true);
  for (const auto& key : shown.keys("s")) std::printf("%s = %s\n", key.c_str(), shown.get("s", key, "").c_str());
  return kExitOk;
}

int settings_save(Prompt& prompt, const std::string& given, const std::vector<std::string>& overrides) {
  auto name = valid_settings_name(given);
  if (!name) {
    prompt.message(tr(kInvalidSettingsNameMessage), Icon::error);
    return kExitUsage;
  }
  MosaicParameters params = default_settings(ConfigFile().read());
  OverrideResult result = apply_parameter_overrides(params, overrides);
  if (!result.ok) return usage_error(result.error);

  SettingsFile file;
  // Naming the settings on the command line is the confirmation the window asks for.
  if (file.contains(*name)) prompt.message(format("replacing the existing settings '%s'", *name), Icon::information);
  if (!file.save(*name, params, result.tile_list.value_or(""), result.advanced_changed)) {
    std::fprintf(stderr, "error: could not write the settings file '%s'\n", file.path().c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int settings_delete(Prompt& prompt, const std::string& name) {
  SettingsFile file;
  auto entry = find_entry(file.read(), name);
  if (entry && entry->code != kSettingsUser) {
    prompt.message(tr(kAutomaticSettingsUndeletableMessage), Icon::error);
    return kExitUsage;
  }
  if (!entry) return usage_error(format("no settings named '%s'", name));
  if (!file.remove(entry->name)) {
    std::fprintf(stderr, "error: could not write the settings file '%s'\n", file.path().c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

void add_settings_command(CLI::App& app, CommandContext& context) {
  auto args = std::make_shared<SettingsArgs>();
  CLI::App* settings = app.add_subcommand("settings", "List, show, save or delete named mosaic settings");
  settings->require_subcommand(1);

  settings->add_subcommand("list", "List the saved and the automatic settings")->callback([&context] {
    context.status = settings_list();
  });

  CLI::App* show = settings->add_subcommand("show", "Print every parameter of one settings entry");
  show->add_option("NAME", args->name, "Settings name, or an automatic entry such as \"(Default Settings)\"")
      ->required()
      ->type_name("NAME");
  show->callback([&context, args] { context.status = settings_show(context.prompt, args->name); });

  CLI::App* save = settings->add_subcommand(
      "save", "Save \"(Default Settings)\" changed by --set under a name (replacing settings of that name)");
  save->add_option("NAME", args->name, "Settings name")->required()->type_name("NAME");
  add_set_option(*save, args->overrides);
  set_examples(*save, {{"tessellarium settings save posters --set TileSize=60 --set FileFormat=psd",
                        "Save tiles of 60 pixels, written as PSD, under the name posters."}});
  save->callback([&context, args] { context.status = settings_save(context.prompt, args->name, args->overrides); });

  CLI::App* remove = settings->add_subcommand("delete", "Delete saved settings");
  remove->add_option("NAME", args->name, "Settings name")->required()->type_name("NAME");
  remove->callback([&context, args] { context.status = settings_delete(context.prompt, args->name); });
}

}  // namespace tess
