// SPDX-License-Identifier: GPL-3.0-or-later
// tessellarium-docs OUTDIR DATE: writes the manual pages and the shell
// completions of the command line into OUTDIR, from the same command
// definitions the program parses. Run by the build.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/cli_app.hpp"
#include "cli/cli_docs.hpp"
#include "cli/commands.hpp"
#include "cli/terminal_prompt.hpp"

namespace {

bool write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (file) return true;
  std::fprintf(stderr, "error: cannot write '%s'\n", path.string().c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: %s OUTDIR DATE\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(folder / "man", ec);
  std::filesystem::create_directories(folder / "completions", ec);

  tess::TerminalPrompt prompt;
  tess::CommandContext context{prompt, tess::kExitOk};
  bool show_version = false;
  const std::unique_ptr<CLI::App> app = tess::make_cli_app(context, show_version);

  bool ok = write(folder / "man" / tess::man_page_name(*app), tess::man_page(*app, argv[2]));
  for (const CLI::App* command : app->get_subcommands([](const CLI::App*) { return true; }))
    ok = write(folder / "man" / tess::man_page_name(*command), tess::man_page(*command, argv[2])) && ok;
  ok = write(folder / "completions" / "tessellarium", tess::bash_completion(*app)) && ok;
  ok = write(folder / "completions" / "_tessellarium", tess::zsh_completion(*app)) && ok;
  ok = write(folder / "completions" / "tessellarium.fish", tess::fish_completion(*app)) && ok;
  return ok ? 0 : 1;
}
