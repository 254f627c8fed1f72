// `tessellarium mosaic`: builds one mosaic per main image (and mask) with the
// same run driver, stages and writers as the desktop program, following the
// run with a live progress line.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "cli/cli_app.hpp"
#include "cli/commands.hpp"
#include "cli/interrupt.hpp"
#include "cli/parameter_overrides.hpp"
#include "cli/run_parameters.hpp"
#include "cli/terminal_prompt.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/run_controller.hpp"
#include "engine/run_driver.hpp"
#include "engine/run_threads.hpp"
#include "images/foto.hpp"
#include "output/run_outputs.hpp"
#include "output/size_checks.hpp"
#include "settings/configuration.hpp"
#include "settings/geometry.hpp"
#include "settings/user_state.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

struct MosaicArgs {
  std::vector<std::string> images;
  std::string list;
  ParameterSource source;
  std::string output;
  std::string mask;
  std::string mask_folder;
  std::string priority_map;
  std::string split;
  bool yes = false;
  bool no = false;
  bool quiet = false;
};

bool parse_split(const std::string& text, SplitPieceSize& size) {
  const auto x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  std::int64_t w = 0, h = 0;
  const char* end = text.data() + text.size();
  const auto [w_end, w_error] = std::from_chars(text.data(), text.data() + x, w);
  const auto [h_end, h_error] = std::from_chars(text.data() + x + 1, end, h);
  if (w_error != std::errc{} || h_error != std::errc{} || w_end != text.data() + x || h_end != end) return false;
  // Sizes beyond any piece the window accepts are held just past its limit,
  // so its own check refuses them with its message.
  size = {static_cast<int>(std::clamp<std::int64_t>(w, 0, kMaxSplitPieceSide + 1)),
          static_cast<int>(std::clamp<std::int64_t>(h, 0, kMaxSplitPieceSide + 1))};
  return true;
}

// Follows the run until its worker has ended: the progress text on one live
// line on a terminal, one line per change of status on a pipe.
void follow(RunController& controller, MosaicBuilder& builder, bool quiet) {
  const bool live = ::isatty(STDERR_FILENO) != 0;
  std::string last_status;
  bool stop_sent = false;
  while (controller.running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (InterruptGuard::interrupted() && !stop_sent) {
      builder.request_stop();
      stop_sent = true;
    }
    auto progress = controller.poll();
    if (quiet) continue;
    if (live) {
      std::fprintf(stderr, "\r\033[K%s", progress.text.c_str());
    } else if (const std::string status = builder.status(); status != last_status) {
      std::fprintf(stderr, "%s\n", progress.text.c_str());
      last_status = status;
    }
    std::fflush(stderr);
  }
  if (live && !quiet) std::fprintf(stderr, "\r\033[K");
}

int mosaic(const MosaicArgs& args, TerminalPrompt& prompt) {
  if (args.yes && args.no) return usage_error("--yes and --no exclude each other");
  if (!args.output.empty() && args.images.size() != 1) return usage_error("--output needs exactly one IMAGE");
  if (!args.mask.empty() && !args.mask_folder.empty()) return usage_error("--mask and --mask-folder exclude each other");
  if (args.yes) prompt.set_preset(Answer::yes);
  if (args.no) prompt.set_preset(Answer::no);

  MosaicParameters params;
  std::string list_file = args.list;
  std::string named_list;
  if (!parameters_from_options(args.source, params, named_list, prompt)) return kExitUsage;
  if (list_file.empty()) list_file = named_list;
  if (list_file.empty()) return usage_error("no Tile Images List: give one with --list");

  SplitPieceSize split;
  if (!args.split.empty()) {
    if (!parse_split(args.split, split)) return usage_error(format("--split '%s' is not WIDTHxHEIGHT", args.split));
    // The split window's own check: a refused size is a usage error, a
    // piece the format may not suit is the user's call.
    const SizeCheck check = check_split_size(params.output_format, params.output_tiff64, split.width, split.height);
    if (check.verdict == SizeVerdict::refuse) return usage_error(check.text);
    if (!confirm_split_size(params, split.width, split.height, prompt)) return kExitFailed;
    params.split_mosaic = true;
  }
  for (const auto& image : args.images) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(image, ec)) return usage_error(format("no such picture '%s'", image));
  }

  if (!args.output.empty()) {
    // A folder named with --output is made, as a user naming it expects; when
    // that fails, the save reports why.
    std::error_code ec;
    const auto folder = std::filesystem::path(args.output).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  }

  TileImageList list;
  if (!load_tile_list(list_file, list, prompt)) return kExitUsage;
  if (list.entry_count() == 0) return usage_error(format("the Tile Images List '%s' holds no pictures", list_file));

  // The check made before a run starts: a layout that can be built and a size
  // every writer of the format can hold.
  {
    int w = 0, h = 0;
    Foto::read_size(args.images.front(), w, h);
    MosaicLayout layout;
    if (w > 0 && h > 0) {
      if (!compute_layout(params, w, h, layout, &prompt)) return kExitUsage;
      if (layout.mask_file == 0 &&
          !confirm_mosaic_size(params, static_cast<int>(layout.final_width), static_cast<int>(layout.final_height),
                               prompt))
        return kExitFailed;
    }
  }

  const ConfigFile config;
  MosaicBuilder builder(prompt);
  builder.parameters = params;
  MosaicRun run;
  run.main_images = args.images;
  run.mask_file = args.mask;
  run.mask_folder = args.mask_folder;
  run.priority_map = args.priority_map;
  run.threads = configured_thread_count(builder.parameters.advanced, config);

  const UserState user_state(config);
  RunOutputOptions options;
  options.output_file = args.output;
  options.split = split;
  options.threads = run.threads;
  options.priority = configured_priority(builder.parameters.advanced);
  options.user_state = &user_state;
  const RunOutputs outputs = make_run_outputs(options);

  RunController::FinalActions actions;
  actions.open_folder = [](const std::string& folder) {
    if (!folder.empty()) std::fprintf(stderr, "info: destination folder: %s\n", folder.c_str());
  };
  actions.open_page = [](const std::string& page) { std::fprintf(stderr, "info: web page: %s\n", page.c_str()); };
  RunController controller(builder, actions);

  InterruptGuard interrupts;
  controller.start(
      [&](MosaicBuilder& b) {
        run_batch(b, list, run, outputs);
        // The final action opens the folder (and the web page) of the last mosaic written.
        for (const auto& [image, result] : run.results)
          if (result.success)
            controller.set_outputs(std::filesystem::path(result.destination).parent_path().string(),
                                   result.result_file);
      },
      options.priority);
  follow(controller, builder, args.quiet);
  controller.wait();
  controller.poll();  // the last queued message and the final action

  const std::string status = builder.status();
  if (!args.quiet) std::fprintf(stderr, "%s\n", status.c_str());
  for (const auto& [image, result] : run.results)
    if (result.success)
      for (const std::string& file : result.written_files) std::printf("%s\n", file.c_str());
  if (run.stopped || run.failed > 0 || builder.done_count() == 0) return kExitFailed;
  return kExitOk;
}

}  // namespace

void add_mosaic_command(CLI::App& app, CommandContext& context) {
  auto args = std::make_shared<MosaicArgs>();
  CLI::App* command = app.add_subcommand("mosaic", "Build a mosaic of each IMAGE from a Tile Images List");
  command->add_option("IMAGE", args->images, "Main images (JPEG or PNG)")->required();
  command->add_option("--list", args->list, "Tile Images List (.tzc); default: the list the settings name");
  CLI::Option* settings =
      command->add_option("--settings", args->source.settings, "Settings file to start from instead of \"Default Settings\"");
  command->add_option("--section", args->source.section, "Section of the settings file")->needs(settings);
  add_set_option(*command, args->source.overrides);
  command->add_option("--output", args->output, "The mosaic's file (one IMAGE only)");
  command->add_option("--mask", args->mask, "Mask file for mask-file mosaics");
  command->add_option("--mask-folder", args->mask_folder, "Folder of mask files for mask-file mosaics");
  command->add_option("--priority-map", args->priority_map, "Grayscale picture for the custom tile priority");
  command->add_option("--split", args->split, "Split the mosaic into pieces of WIDTHxHEIGHT pixels");
  command->add_flag("--yes", args->yes, "Answer every question with Yes (or OK)");
  command->add_flag("--no", args->no, "Answer every question with No (or Cancel)");
  command->add_flag("--quiet", args->quiet, "No progress and no final status");
  command->callback([&context, args] { context.status = mosaic(*args, context.prompt); });
}

}  // namespace tess
