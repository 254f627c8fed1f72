#pragma once
// Runs the command-line program as a user does: a separate process with its
// own settings folder, standard output and standard error captured (pipes,
// not a terminal).

#include <filesystem>
#include <string>

namespace tess::testing {

struct CliOutcome {
  int status = -1;  ///< exit status; -1 when the program did not exit normally
  std::string out;  ///< standard output
  std::string err;  ///< standard error
};

/// `text` in single quotes for the shell.
std::string shell_quoted(const std::string& text);

/// Runs the program with `args` (already quoted) with TESSELLARIUM_CONFIG_PATH
/// set to `config_dir`, from `working_dir` when given. `env` is put before the
/// command as it stands ("NAME=value ...").
CliOutcome run_program(const std::filesystem::path& config_dir, const std::string& args,
                       const std::filesystem::path& working_dir = {}, const std::string& env = {});

}  // namespace tess::testing
