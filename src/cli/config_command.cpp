#include <cstdio>
#include <string>

#include "cli/cli_app.hpp"
#include "cli/commands.hpp"
#include "settings/advanced_options.hpp"
#include "settings/configuration.hpp"

namespace tess {
namespace {

struct ConfigArgs {
  std::string key;
  std::string value;
};

AdvancedOptions current_defaults(const ConfigFile& config) {
  AdvancedOptions options;
  options.initialise_all(true, config);
  return options;
}

int config_show() {
  ConfigFile config;
  AdvancedOptions options = current_defaults(config);
  const auto& table = advanced_option_table();
  for (std::size_t i = 0; i < kAdvancedOptionCount; ++i)
    std::printf("%s = %s\n", table[i].key, options.value(i).c_str());
  return kExitOk;
}

int config_get(const std::string& key) {
  auto index = find_advanced_option(key);
  if (!index) {
    std::fprintf(stderr, "error: unknown option key '%s'\n", key.c_str());
    return kExitUsage;
  }
  std::printf("%s\n", current_defaults(ConfigFile()).value(*index).c_str());
  return kExitOk;
}

int config_set(const std::string& key, const std::string& text) {
  auto index = find_advanced_option(key);
  if (!index) {
    std::fprintf(stderr, "error: unknown option key '%s'\n", key.c_str());
    return kExitUsage;
  }
  auto value = normalise_advanced_value(*index, text);
  if (!value) {
    std::fprintf(stderr, "error: %s does not accept '%s'\n", advanced_option_table()[*index].key, text.c_str());
    return kExitUsage;
  }
  ConfigFile config;
  if (!config.set(kDefaultValuesSection, advanced_option_table()[*index].key, *value)) {
    std::fprintf(stderr, "error: could not write the configuration file '%s'\n", config.path().c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

void add_config_command(CLI::App& app, CommandContext& context) {
  auto args = std::make_shared<ConfigArgs>();
  CLI::App* config = app.add_subcommand("config", "Show or change the advanced options' default values");
  config->require_subcommand(1);

  config->add_subcommand("show", "List every advanced option with its default value")->callback([&context] {
    context.status = config_show();
  });

  CLI::App* get = config->add_subcommand("get", "Print one advanced option's default value");
  get->add_option("KEY", args->key, "Option key, such as Options.ThreadCount")->required()->type_name("KEY");
  get->callback([&context, args] { context.status = config_get(args->key); });

  CLI::App* set = config->add_subcommand("set", "Change one advanced option's default value");
  set->add_option("KEY", args->key, "Option key, such as Options.ThreadCount")->required()->type_name("KEY");
  set->add_option("VALUE", args->value, "New value")->required()->type_name("VALUE");
  set_examples(*set, {{"tessellarium config set Options.ThreadCount 4", "Run on four threads unless told otherwise."}});
  set->callback([&context, args] { context.status = config_set(args->key, args->value); });
}

}  // namespace tess
