#pragma once
// Each command of the program registers its options and its action on the
// CLI11 application; the action stores its exit status in the context.

#include <CLI/CLI.hpp>

#include "cli/help_format.hpp"

namespace tess {

class TerminalPrompt;

struct CommandContext {
  TerminalPrompt& prompt;
  int status;
};

/// `config show | get KEY | set KEY VALUE`: the advanced options' "Default Values".
void add_config_command(CLI::App& app, CommandContext& context);

/// `settings list | show NAME | save NAME [--set KEY=VALUE]... | delete NAME`: named mosaic settings.
void add_settings_command(CLI::App& app, CommandContext& context);

/// `list create | update | show`: build, analyse and inspect Tile Images Lists.
void add_list_command(CLI::App& app, CommandContext& context);

/// `summary IMAGE [--list LIST.tzc] [--settings FILE [--section NAME]] [--set KEY=VALUE]...`: the parameter summary.
void add_summary_command(CLI::App& app, CommandContext& context);

/// `mosaic IMAGE... --list LIST.tzc [...]`: build mosaics.
void add_mosaic_command(CLI::App& app, CommandContext& context);

/// `extract VIDEO [--mode clips|jpg|bmp] [...]`: cut clips or frames out of a video.
void add_extract_command(CLI::App& app, CommandContext& context);

/// `video join OUT.avi PART.avi...`: join AVI parts written with `mosaic --frames` into the whole video.
void add_video_command(CLI::App& app, CommandContext& context);

}  // namespace tess
