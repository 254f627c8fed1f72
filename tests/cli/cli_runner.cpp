#include "cli_runner.hpp"

#include <array>
#include <cstdio>

#include <sys/wait.h>

#include "support/test_support.hpp"

namespace tess::testing {

std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

CliOutcome run_program(const std::filesystem::path& config_dir, const std::string& args,
                       const std::filesystem::path& working_dir, const std::string& env) {
  const std::filesystem::path err_file = config_dir / "stderr.txt";
  std::string command;
  if (!working_dir.empty()) command = "cd " + shell_quoted(working_dir.string()) + " && ";
  command += env + " TESSELLARIUM_CONFIG_PATH=" + shell_quoted(config_dir.string()) + " '" TESS_CLI_EXE "' " + args +
             " 2>" + shell_quoted(err_file.string());
  CliOutcome r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 4096> buffer{};
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.out.append(buffer.data(), n);
  const int raw = ::pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.err = read_file(err_file);
  return r;
}

}  // namespace tess::testing
