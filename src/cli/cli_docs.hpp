// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The manual pages and the shell completions of the command line, written
// from the same command definitions the program parses, so that neither
// can fall behind an option.

#include <string>

#include <CLI/CLI.hpp>

namespace tess {

/// A manual page in roff: the program's own page for the top command, one
/// page for each command under it (its sub-commands in sections of it).
/// `date` is the page's date ("December 2026").
[[nodiscard]] std::string man_page(const CLI::App& command, const std::string& date);
/// The page's file name: "tessellarium.1", "tessellarium-mosaic.1".
[[nodiscard]] std::string man_page_name(const CLI::App& command);

/// Completion scripts of the whole program for bash, zsh and fish.
[[nodiscard]] std::string bash_completion(const CLI::App& app);
[[nodiscard]] std::string zsh_completion(const CLI::App& app);
[[nodiscard]] std::string fish_completion(const CLI::App& app);

}  // namespace tess
