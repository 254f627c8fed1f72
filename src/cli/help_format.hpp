// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's help in the GNU form, and what the help, the manual pages
// and the shell completions read alike from the command definitions: each
// option's value word, a command's examples, its usage line.

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace tess {

/// One example of a command: the command line and what it does.
struct HelpExample {
  std::string command;
  std::string what;
};

/// Stores a command's examples; its help and its manual page show them.
void set_examples(CLI::App& command, const std::vector<HelpExample>& examples);
/// The examples stored with set_examples.
[[nodiscard]] std::vector<HelpExample> examples_of(const CLI::App& command);

/// What an option takes, as its help names it (FILE, DIR, N, WxH,
/// FIRST-LAST, a|b|c for a choice); empty for a flag.
[[nodiscard]] std::string value_word(const CLI::Option& option);
/// The words of a choice value ("clips|jpg|bmp"); empty when the value is free.
[[nodiscard]] std::vector<std::string> value_choices(const CLI::Option& option);

/// The options a command shows, its help flag last.
[[nodiscard]] std::vector<const CLI::Option*> shown_options(const CLI::App& command);
/// The positional arguments of a command, in their order.
[[nodiscard]] std::vector<const CLI::Option*> positional_arguments(const CLI::App& command);
/// The sub-commands of a command, in the order they were added.
[[nodiscard]] std::vector<const CLI::App*> sub_commands(const CLI::App& command);
/// "tessellarium list create".
[[nodiscard]] std::string command_path(const CLI::App& command);
/// The usage after the command's path: "[OPTION]... IMAGE...".
[[nodiscard]] std::string usage_arguments(const CLI::App& command);

/// Where users report bugs (set when the program is built); empty when none.
[[nodiscard]] std::string bug_report_address();

/// Prints the help in the GNU layout: usage, description, arguments,
/// options with their value words, commands, examples and the bug address.
class GnuHelpFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override;
};

/// The first argument that should name a (sub-)command but names none, as
/// an error line's text ("unknown command 'mosiac'; did you mean
/// 'mosaic'?"), or a command that holds others given none of them; empty
/// when every command word is known.
[[nodiscard]] std::string unknown_command(const CLI::App& app, int argc, const char* const* argv);

/// The number of single-character edits (insertions, deletions,
/// substitutions, swaps of neighbours) that turn `a` into `b`.
[[nodiscard]] std::size_t edit_distance(const std::string& a, const std::string& b);

}  // namespace tess
