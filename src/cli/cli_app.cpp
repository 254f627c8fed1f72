#include "cli/cli_app.hpp"

#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "base/version.hpp"
#include "cli/commands.hpp"
#include "cli/terminal_prompt.hpp"
#include "tilelist/foto_info.hpp"
#include "video/clip_frames.hpp"

namespace tess {

int run_cli(int argc, char** argv) {
  init_text_from_data_folder();
  TerminalPrompt prompt;
  // Clips in Tile Images Lists are read by the video layer.
  set_clip_reader(read_clip_sample);

  CLI::App app{"Tessellarium: photographic mosaics from the command line", "tessellarium"};
  app.require_subcommand(0, 1);
  bool show_version = false;
  app.add_flag("--version", show_version, "Print the version and exit");

  CommandContext context{prompt, kExitOk};
  add_config_command(app, context);
  add_settings_command(app, context);
  add_list_command(app, context);
  add_summary_command(app, context);
  add_mosaic_command(app, context);
  add_extract_command(app, context);
  add_video_command(app, context);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help
    app.exit(e);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return kExitUsage;
  }
  int status = context.status;
  if (show_version) {
    std::printf("Tessellarium %s\n", kVersionText);
  } else if (app.get_subcommands().empty()) {
    std::fprintf(stderr, "error: no command given (try --help)\n");
    status = kExitUsage;
  }
  return status;
}

}  // namespace tess
