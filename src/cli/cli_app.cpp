#include "cli/cli_app.hpp"

#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "base/version.hpp"
#include "cli/commands.hpp"
#include "cli/help_format.hpp"
#include "cli/terminal_prompt.hpp"
#include "tilelist/foto_info.hpp"
#include "video/clip_frames.hpp"

namespace tess {

std::unique_ptr<CLI::App> make_cli_app(CommandContext& context, bool& show_version) {
  auto app = std::make_unique<CLI::App>("Build photographic mosaics from the command line", "tessellarium");
  // Set before the commands are added: each takes its parent's help layout.
  app->formatter(std::make_shared<GnuHelpFormatter>());
  app->set_help_flag("-h,--help", "Print this help and exit");
  app->require_subcommand(0, 1);
  app->add_flag("--version", show_version, "Print the version and the licence and exit");

  add_config_command(*app, context);
  add_settings_command(*app, context);
  add_list_command(*app, context);
  add_summary_command(*app, context);
  add_mosaic_command(*app, context);
  add_extract_command(*app, context);
  add_video_command(*app, context);
  set_examples(*app, {{"tessellarium list create holidays.tzc --include ~/Pictures/2025",
                       "Analyse the pictures of a folder into a Tile Images List."},
                      {"tessellarium mosaic --list holidays.tzc --set TileSize=40 beach.jpg",
                       "Build a mosaic of beach.jpg from the list's pictures."},
                      {"tessellarium mosaic --tiles ~/Pictures/2025 --output mosaic.jpg beach.jpg",
                       "Build it straight from a folder; its list is kept in the cache."}});
  return app;
}

int run_cli(int argc, char** argv) {
  init_text_from_data_folder();
  TerminalPrompt prompt;
  // Clips in Tile Images Lists are read by the video layer.
  set_clip_reader(read_clip_sample);

  CommandContext context{prompt, kExitOk};
  bool show_version = false;
  const std::unique_ptr<CLI::App> app = make_cli_app(context, show_version);

  // A misspelt command is named as such, with the nearest one, rather than
  // as arguments no command expected.
  if (const std::string unknown = unknown_command(*app, argc, argv); !unknown.empty()) {
    std::fprintf(stderr, "error: %s\n", unknown.c_str());
    return kExitUsage;
  }
  try {
    app->parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help
    app->exit(e);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return kExitUsage;
  }
  int status = context.status;
  if (show_version) {
    std::fputs(version_text().c_str(), stdout);
  } else if (app->get_subcommands().empty()) {
    std::fprintf(stderr, "error: no command given (try 'tessellarium --help')\n");
    status = kExitUsage;
  }
  return status;
}

}  // namespace tess
