#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/ini_file.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "cli/cli_app.hpp"
#include "cli/commands.hpp"
#include "cli/parameter_overrides.hpp"
#include "cli/run_parameters.hpp"
#include "cli/terminal_prompt.hpp"
#include "engine/pattern_generator.hpp"
#include "engine/run_plan.hpp"
#include "images/exif.hpp"
#include "images/foto.hpp"
#include "output/split_pieces.hpp"
#include "settings/automatic_settings.hpp"
#include "settings/configuration.hpp"
#include "settings/geometry.hpp"
#include "settings/settings_file.hpp"
#include "settings/size_checks.hpp"
#include "settings/summary.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

struct SummaryArgs {
  std::string image;
  std::string list;
  std::string settings;
  std::string section;
  std::vector<std::string> overrides;
  std::string split;
};

/// The counts of a Tile Images List; false (reported) when it cannot be loaded.
bool load_list_counts(const std::string& file, ListCounts& counts, Prompt& prompt) {
  TileImageList list;
  if (!open_list_file(list, file).ok_or_show(prompt)) return false;
  counts.landscape_images = static_cast<std::size_t>(list.landscape_images());
  counts.portrait_images = static_cast<std::size_t>(list.portrait_images());
  counts.landscape_clips = static_cast<std::size_t>(list.landscape_clips());
  counts.portrait_clips = static_cast<std::size_t>(list.portrait_clips());
  counts.total = list.entry_count();
  return true;
}

int summary(const SummaryArgs& args, Prompt& prompt) {
  MosaicParameters params;
  std::string named_list;  // the summary reads only the list given with --list
  if (!parameters_from_options({args.settings, args.section, args.overrides}, params, named_list, prompt))
    return kExitUsage;

  SplitPieceSize split;
  if (!args.split.empty()) {
    if (!parse_split_size(args.split, split)) return usage_error(format("--split '%s' is not WIDTHxHEIGHT", args.split));
    const SizeCheck check = check_split_size(params.output_format, params.output_tiff64, split.width, split.height);
    if (check.verdict == SizeVerdict::refuse) return usage_error(check.text);
  }

  int width = 0;
  int height = 0;
  if (!read_main_image_size(args.image, width, height))
    return usage_error(format("cannot read the picture '%s' (not a readable JPEG or PNG file)", args.image));
  ListCounts counts;
  if (!args.list.empty() && !load_list_counts(args.list, counts, prompt)) return kExitUsage;

  MosaicLayout layout;
  compute_layout(params, width, height, layout);
  // Tile counts come from the pattern generator itself, so the summary shows
  // the cells the run will really build.
  for (const auto& line : summary_lines(params, layout, layout_cells)) std::printf("%s\n", line.c_str());
  if (!layout.usable()) {
    prompt.message(command_line_layout_message(layout), Icon::error);
    return kExitUsage;
  }
  // The pieces `mosaic --split` cuts this mosaic into, so that a script can
  // share them out (--pieces) without working the count out itself.
  if (!args.split.empty() && layout.mask_file == 0) {
    const SplitGrid cut =
        split_grid(static_cast<int>(layout.final_width), static_cast<int>(layout.final_height), split);
    std::printf("%s\n", format(tr("Split Pieces: %d x %d = %d"), cut.columns, cut.rows, cut.pieces()).c_str());
  }
  if (!args.list.empty()) {
    // The window's hint for an empty list points at its button: the command line says what it found.
    const std::string verdict = counts.total == 0 ? tr("The list holds no images") : validation_text(layout, counts);
    std::printf("%s\n%s\n", list_type_line(counts).c_str(), verdict.c_str());
  }
  return kExitOk;
}

}  // namespace

void add_summary_command(CLI::App& app, CommandContext& context) {
  auto args = std::make_shared<SummaryArgs>();
  CLI::App* command = app.add_subcommand(
      "summary", "Print the parameter summary of a mosaic of IMAGE: sizes, tiles, grid and file size");
  command->add_option("IMAGE", args->image, "Main image (JPEG or PNG)")->required()->type_name("IMAGE");
  command->add_option("--list", args->list, "Tile Images List (.tzc) whose counts are shown as well")->type_name("FILE");
  CLI::Option* settings =
      command->add_option("--settings", args->settings, "Settings file to start from instead of \"(Default Settings)\"")
          ->type_name("FILE");
  command->add_option("--section", args->section, "Section of the settings file (default: \"Mosaic Settings\")")
      ->needs(settings)
      ->type_name("NAME");
  add_set_option(*command, args->overrides);
  command->add_option("--split", args->split,
                      "Also print how many pieces `mosaic --split WxH` cuts the mosaic into")
      ->type_name("WxH");
  set_examples(*command, {{"tessellarium summary --list holidays.tzc --set TileSize=40 beach.jpg",
                           "Sizes, tiles and grid of beach.jpg's mosaic with tiles of 40 pixels."}});
  command->callback([&context, args] { context.status = summary(*args, context.prompt); });
}

}  // namespace tess
