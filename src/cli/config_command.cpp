#include "cli/commands.hpp"

namespace tess {

void add_config_command(CLI::App&, CommandContext&) {}

}  // namespace tess
