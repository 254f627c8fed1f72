#pragma once
// The `tessellarium` command-line program. Exit status: 0 success, 1 the job
// failed or was stopped, 2 bad usage or bad input (one line on stderr says why).

#include <memory>

namespace CLI {
class App;
}

namespace tess {

struct CommandContext;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

/// The program's commands and options, with their help: what the program
/// parses is what its manual pages and shell completions describe.
/// `show_version` is set by --version.
[[nodiscard]] std::unique_ptr<CLI::App> make_cli_app(CommandContext& context, bool& show_version);

int run_cli(int argc, char** argv);

}  // namespace tess
