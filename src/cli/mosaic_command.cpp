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
#include <string_view>
#include <thread>
#include <vector>

#include <unistd.h>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "cli/cli_app.hpp"
#include "cli/commands.hpp"
#include "cli/interrupt.hpp"
#include "cli/mosaic_command.hpp"
#include "cli/parameter_overrides.hpp"
#include "cli/run_parameters.hpp"
#include "cli/terminal_prompt.hpp"
#include "cli/tile_cache.hpp"
#include "engine/colour_fidelity.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/run_controller.hpp"
#include "engine/run_driver.hpp"
#include "engine/run_plan.hpp"
#include "engine/tile_list_file.hpp"
#include "engine/tile_priority.hpp"
#include "images/foto.hpp"
#include "output/run_outputs.hpp"
#include "output/split_pieces.hpp"
#include "output/web_pyramid.hpp"
#include "settings/configuration.hpp"
#include "settings/geometry.hpp"
#include "settings/output_formats.hpp"
#include "settings/size_checks.hpp"
#include "settings/user_state.hpp"
#include "tilelist/tile_image_list.hpp"
#include "video/avi_create.hpp"
#include "video/fourcc.hpp"
#include "video/video_timing.hpp"

namespace tess {
namespace {

/// "A-B" with 1 <= A <= B.
bool parse_range(const std::string& text, int& first, int& last) {
  const auto dash = text.find('-');
  if (dash == std::string::npos) return false;
  const auto number = [](std::string_view digits, int& value) {
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc{} && end == digits.data() + digits.size() && !digits.empty();
  };
  const std::string_view whole(text);
  return number(whole.substr(0, dash), first) && number(whole.substr(dash + 1), last) && first >= 1 && last >= first;
}

// Follows the run until its worker has ended: the progress text on one live
// line on a terminal, one line per change of status on a pipe, or with
// `json` one JSON object per change of status.
void follow(RunController& controller, MosaicBuilder& builder, bool quiet, JsonProgressLog* json) {
  const bool live = ::isatty(STDERR_FILENO) != 0;
  std::string last_status;
  bool stop_sent = false;
  while (controller.running()) {
    controller.wait_for(std::chrono::milliseconds(100));
    if (InterruptGuard::interrupted() && !stop_sent) {
      builder.request_stop();
      stop_sent = true;
    }
    if (TerminalPrompt::waiting_for_answer()) continue;  // the question stays readable
    auto progress = controller.poll();
    if (json != nullptr) {
      // A stage often begins after its status was set: its start is a change too.
      if (const auto [percent, stage] = builder.batch_progress(); stage >= 0)
        json->note(progress_stage_keyword(stage), percent, builder.status());
      json->write_pending();
      continue;
    }
    if (quiet) continue;
    if (live) {
      std::fprintf(stderr, "\r\033[K%s", progress.text.c_str());
    } else if (const std::string status = builder.status(); status != last_status) {
      std::fprintf(stderr, "%s\n", progress.text.c_str());
      last_status = status;
    }
    std::fflush(stderr);
  }
  if (live && !quiet && json == nullptr) std::fprintf(stderr, "\r\033[K");
}

// --mask and --mask-folder make a mask-file mosaic: the mask gives the
// mosaic its shape, so a mosaic size named on the command line contradicts it.
bool take_mask_mode(const MosaicArgs& args, MosaicParameters& params) {
  if (args.mask.empty() && args.mask_folder.empty()) return true;
  MosaicLayout layout;
  (void)first_image_layout(params, args.images, layout);  // only the mask-file flag is wanted here
  if (layout.mask_file > 0) return true;
  for (const std::string& pair : args.source.overrides)
    if (starts_with_ignoring_case(pair, "MosaicSize")) {
      usage_error(format("--mask and --mask-folder take the mosaic's shape from the mask, but --set %s asks for "
                         "another size: leave one of them out",
                         pair));
      return false;
    }
  params.mosaic_size = kMaskFileSize;
  return true;
}

// Options that contradict each other or the images: why, or empty.
std::string option_conflict(const MosaicArgs& args) {
  if (args.yes && args.no) return "--yes and --no exclude each other";
  if (args.quiet && args.progress == ProgressStyle::json) return "--quiet and --progress json exclude each other";
  if (!args.output.empty() && args.images.size() != 1) return "--output needs exactly one IMAGE";
  // A folder is no name for a mosaic: its files would be hidden ones without a name.
  if (const std::string name = std::filesystem::path(args.output).filename().string();
      !args.output.empty() && (name.empty() || name == "." || name == ".."))
    return format("--output '%s' names a folder: name the mosaic's file in it, such as '%s'", args.output,
                  (std::filesystem::path(args.output) / "mosaic.jpg").lexically_normal().string());
  if (!args.mask.empty() && !args.mask_folder.empty()) return "--mask and --mask-folder exclude each other";
  // One placement is of one mosaic.
  if ((!args.placement.empty() || !args.save_placement.empty()) &&
      (args.images.size() != 1 || !args.mask_folder.empty()))
    return "--placement and --save-placement are of one mosaic: give one IMAGE and no --mask-folder";
  return {};
}

// A placement is rendered only for the main image, list and cells it was
// made for: why not, or empty. One that does not say (written before it was
// kept, or the tile list beside a mosaic) is taken as it stands, with a
// warning; the run still checks it cell by cell.
std::string placement_mismatch(const std::string& placement, const std::string& main_image, const RunPlan& plan) {
  IniFile file;
  if (!file.load(placement)) return {};  // the run says it cannot read it
  const std::optional<PlacementOrigin> made_for = read_placement_origin(file);
  if (!made_for) {
    std::fprintf(stderr,
                 "warning: the placement '%s' does not say which main image, list and cells it was made for: it is "
                 "rendered as it stands\n",
                 placement.c_str());
    return {};
  }
  const MosaicLayout& layout = plan.run.layout;
  PlacementOrigin run;
  if (!placement_origin(main_image, static_cast<int>(layout.image_width), static_cast<int>(layout.image_height),
                        plan.list.path(), layout, plan.parameters.pattern, plan.run.mask_file, run))
    return format("the placement '%s' cannot be checked: the main image or the list cannot be read", placement);
  const std::string difference = placement_difference(*made_for, run);
  if (difference.empty()) return {};
  return format("the placement '%s' was made for %s; save a placement of this mosaic with --save-placement",
                placement, difference);
}

// A --pieces or --frames range past the end of what the run will write, as
// a reason naming the range there is; empty when it fits or cannot be known
// before the tiles are placed (the saver refuses it then).
std::string range_past_the_end(const RunPlan& plan, const PreparedMosaic& prepared) {
  const MosaicLayout& layout = plan.run.layout;
  if (prepared.split.first_piece > 0 && layout.mask_file == 0 && layout.final_width > 0 && layout.final_height > 0) {
    const int pieces = split_grid(static_cast<int>(layout.final_width), static_cast<int>(layout.final_height),
                                  plan.parameters.split_mosaic ? prepared.split : SplitPieceSize{})
                           .pieces();
    if (pieces < 2)
      return format("--pieces %d-%d: pieces of %dx%d leave the mosaic of %lldx%lld pixels in one piece",
                    prepared.split.first_piece, prepared.split.last_piece, prepared.split.width,
                    prepared.split.height, static_cast<long long>(layout.final_width),
                    static_cast<long long>(layout.final_height));
    if (prepared.split.last_piece > pieces)
      return format("--pieces %d-%d: the mosaic has %d split pieces, 1-%d", prepared.split.first_piece,
                    prepared.split.last_piece, pieces, pieces);
  }
  if (prepared.frames.first > 0) {
    // A video mosaic's length comes from the settings, and from the lengths
    // of the clips placed where the settings count from them: it is known
    // in advance unless it hangs on which tiles are placed.
    bool clips = false, pictures = false;
    for (const auto& [path, entry] : plan.list.entries()) (entry.is_video() ? clips : pictures) = true;
    const auto& options = plan.parameters.advanced;
    const std::int64_t without_clips = video_timing(ClipStatistics{}, options).frames;
    const auto with_clips = [&options](std::int64_t length) {
      return video_timing(ClipStatistics{1, length, length, length, 1, 1, 1}, options).frames;
    };
    std::int64_t frames = 0;  // unknown
    if (!clips)
      frames = without_clips;
    else if (with_clips(1) == with_clips(997) && (!pictures || with_clips(1) == without_clips))
      frames = with_clips(1);
    if (frames > 0 && prepared.frames.last > frames)
      return format("--frames %lld-%lld: the video mosaic has %lld frames, 1-%lld",
                    static_cast<long long>(prepared.frames.first), static_cast<long long>(prepared.frames.last),
                    static_cast<long long>(frames), static_cast<long long>(frames));
  }
  return {};
}

}  // namespace

PreparedMosaic prepare_mosaic(const MosaicArgs& args, Prompt& prompt) {
  PreparedMosaic prepared;
  prepared.exit_status = kExitUsage;
  const auto refuse = [&prepared](const std::string& reason) {
    usage_error(reason);
    return prepared;
  };
  if (const std::string conflict = option_conflict(args); !conflict.empty()) return refuse(conflict);

  if (!args.tiles.empty() && !args.list.empty())
    return refuse("--tiles and --list exclude each other: --tiles makes and keeps its own list of the folders");
  if (args.tiles_bw && args.tiles.empty()) return refuse("--bw analyses the pictures of --tiles: give --tiles DIR");
  std::vector<std::string> tile_folders;
  if (std::string problem; !args.tiles.empty() && !canonical_tile_folders(args.tiles, tile_folders, problem))
    return refuse(problem);

  RunRequest request;
  MosaicParameters& params = request.parameters;
  std::string named_list;
  if (!parameters_from_options(args.source, params, named_list, prompt)) return prepared;  // it said why
  request.list_file = args.list.empty() ? named_list : args.list;
  if (request.list_file.empty() && tile_folders.empty())
    return refuse("no Tile Images List: give one with --list, or folders of pictures with --tiles");
  for (const auto& image : args.images) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(image, ec))
      return refuse(format("no such picture '%s'", image));
  }

  if (!take_mask_mode(args, params)) return prepared;  // it said why
  if (!args.priority_map.empty()) params.advanced.set_value(kOptTilePriorityArea, "CUSTOM_PRIORITY");
  if (args.priority_map.empty() && priority_area_from_word(params.advanced.value(kOptTilePriorityArea)) ==
                                       PriorityArea::custom)
    return refuse("the settings ask for the custom tile priority area: give its map with --priority-map FILE");

  if (!args.split.empty()) {
    if (!parse_split_size(args.split, prepared.split))
      return refuse(format("--split '%s' is not WIDTHxHEIGHT", args.split));
    // The split window's own check: a refused size is a usage error.
    const SizeCheck check =
        check_split_size(params.output_format, params.output_tiff64, prepared.split.width, prepared.split.height);
    if (check.verdict == SizeVerdict::refuse) return refuse(check.text);
    params.split_mosaic = true;
  }
  if (!args.placement.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(args.placement, ec))
      return refuse(format("no such placement file '%s'", args.placement));
  }
  if (params.output_format == OutputFormatCode::avi_compressed && !read_fourcc(params.advanced.value(kOptFourCC)))
    return refuse(format("the settings name the codec '%s', which this program does not know: give a FourCC such as "
                         "MJPG, XVID or DIVX with --set Advanced.DivarAdadir.FourCC=",
                         params.advanced.value(kOptFourCC)));
  if (!args.frames.empty()) {
    int first = 0, last = 0;
    if (!parse_range(args.frames, first, last))
      return refuse(format("--frames '%s' is not FIRST-LAST, counted from 1", args.frames));
    if (!is_video_format(params.output_format))
      return refuse("--frames writes some frames of a video mosaic: add --set FileFormat=video_jpg, avi_uncompressed "
                    "or avi_compressed");
    // Joined parts equal the whole video only when no frame's encoding
    // depends on the frames before it.
    if (const std::uint32_t fourcc = parse_fourcc(params.advanced.value(kOptFourCC));
        params.output_format == OutputFormatCode::avi_compressed && !frames_encoded_alone(fourcc))
      return refuse(format("--frames cannot write a video compressed by '%s' in parts: its encoder carries each frame "
                           "over into the next, so joined parts would not be the whole video; use --set "
                           "FileFormat=video_jpg or avi_uncompressed",
                           fourcc_text(fourcc)));
    if (params.web_output) return refuse("--frames cannot write a web mosaic (RezIroriz) from some of the frames");
    prepared.frames = {first, last};
  }
  if (!args.pieces.empty()) {
    if (args.split.empty()) return refuse("--pieces needs --split");
    if (!parse_range(args.pieces, prepared.split.first_piece, prepared.split.last_piece))
      return refuse(format("--pieces '%s' is not FIRST-LAST, counted from 1", args.pieces));
    // Pieces written apart cannot make one web mosaic or one video.
    if (params.output_format == OutputFormatCode::web)
      return refuse("--pieces cannot write a web mosaic (RezIroriz) from some of the pieces");
    if (params.web_output)
      return refuse("--pieces cannot write a web mosaic (RezIroriz) from some of the pieces: add --set RezIroriz=0, "
                    "and make the web mosaic with one run of the whole mosaic");
    if (is_video_format(params.output_format)) return refuse("--pieces does not split video mosaics");
  }

  // Every check of the options has passed before a folder is analysed.
  if (!tile_folders.empty()) {
    prepared.exit_status = update_cached_list(tile_folders, args.tiles_bw, args.quiet, prompt, request.list_file);
    if (prepared.exit_status != kExitOk) return prepared;
    prepared.exit_status = kExitUsage;
  }

  request.main_images = args.images;
  request.mask_file = args.mask;
  request.mask_folder = args.mask_folder;
  request.priority_map = args.priority_map;
  request.other_inputs = {args.source.settings, args.placement};
  RunOutputOptions outputs;
  outputs.output_file = args.output;
  outputs.save_placement = args.save_placement;
  request.check_outputs = make_output_check(outputs);
  request.before_start = warn_of_web_links;  // what the web page will link, said once
  PlanResult planned = prepare_run(request, prompt);
  // A question nobody could answer has said so itself: the call lacks --yes or --no.
  const auto* terminal = dynamic_cast<const TerminalPrompt*>(&prompt);
  const auto unanswered = [terminal] { return terminal != nullptr && terminal->refused(); };
  if (!planned.plan) {
    if (unanswered()) return prepared;
    std::fprintf(stderr, "error: %s\n", planned.reason.c_str());
    prepared.exit_status = planned.refusal == PlanRefusal::declined ? kExitFailed : kExitUsage;
    return prepared;
  }
  if (!args.placement.empty())
    if (const std::string mismatch = placement_mismatch(args.placement, args.images.front(), *planned.plan);
        !mismatch.empty())
      return refuse(mismatch);
  // The split window comes after the checks; its question is the user's call.
  if (planned.plan->parameters.split_mosaic && !args.split.empty() &&
      !confirm_split_size(planned.plan->parameters, prepared.split.width, prepared.split.height, prompt)) {
    if (unanswered()) return prepared;
    std::fprintf(stderr, "error: the split size question was answered No\n");
    prepared.exit_status = kExitFailed;
    return prepared;
  }
  // A range past the end is refused before any tile is placed.
  if (const std::string past = range_past_the_end(*planned.plan, prepared); !past.empty()) return refuse(past);
  prepared.plan = std::move(planned.plan);
  prepared.exit_status = kExitOk;
  return prepared;
}

namespace {

int mosaic(const MosaicArgs& args, TerminalPrompt& prompt) {
  if (args.yes) prompt.set_preset(Answer::yes);
  if (args.no) prompt.set_preset(Answer::no);
  // With --progress json the last line says how the command ended, whenever
  // it got as far as trying.
  std::unique_ptr<JsonProgressLog> json;
  if (args.progress == ProgressStyle::json) json = std::make_unique<JsonProgressLog>();
  PreparedMosaic prepared = prepare_mosaic(args, prompt);
  if (!prepared.plan) {
    if (json && prepared.exit_status == kExitFailed) json->write_final("failed", 0, "");
    return prepared.exit_status;
  }
  RunPlan& plan = *prepared.plan;

  if (!args.output.empty()) {
    // A folder named with --output is made, as a user naming it expects; when
    // that fails, the save reports why.
    std::error_code ec;
    const auto folder = std::filesystem::path(args.output).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  }

  MosaicRun& run = plan.run;
  run.placement_file = args.placement;
  run.save_placement_file = args.save_placement;

  const ConfigFile config;
  const UserState user_state(config);
  MosaicBuilder builder(prompt);
  RunController::FinalActions actions;
  actions.open_folder = [](const std::string& folder) {
    if (!folder.empty()) std::fprintf(stderr, "info: destination folder: %s\n", folder.c_str());
  };
  actions.open_page = [](const std::string& page) { std::fprintf(stderr, "info: web page: %s\n", page.c_str()); };
  RunController controller(builder, actions);
  if (json)
    builder.set_status_observer([&json, &builder](const std::string& status) {
      const auto [percent, stage] = builder.batch_progress();
      json->note(stage >= 0 ? progress_stage_keyword(stage) : "", percent, status);
    });
  // Steps that keep their status for long (placing, writing the file) show
  // their figure as it moves, from whichever thread moved it.
  if (json)
    builder.set_progress_observer([&json, &builder] {
      const auto [percent, stage] = builder.batch_progress();
      json->note(stage >= 0 ? progress_stage_keyword(stage) : "", percent, "");
    });

  InterruptGuard interrupts;
  const bool started =
      start_planned_run(controller, builder, plan, config, [&](int threads, ThreadPriority priority) {
        RunOutputOptions options;
        options.output_file = args.output;
        options.split = prepared.split;
        options.frames = prepared.frames;
        options.threads = threads;
        options.priority = priority;
        options.user_state = &user_state;
        options.save_placement = args.save_placement;
        options.wait_for_outputs = !args.no_wait;
        return make_run_outputs(options);
      });
  if (!started) {
    std::fprintf(stderr, "error: the run could not be started\n");
    if (json) json->write_final("failed", 0, builder.status());
    return kExitFailed;
  }
  follow(controller, builder, args.quiet, json.get());
  controller.wait();
  const double percent = controller.poll().percent;  // the last queued message and the final action

  const std::string status = builder.status();
  // A stage that failed ends with the texts of a stop; a script must not
  // take it for one, so the final state says failed and gives the reason.
  const bool failed_stage = !run.stopped && !run.failure.empty();
  const bool failed = !run.stopped && (run.failed > 0 || builder.done_count() == 0);
  std::string final_status = status;
  if (failed_stage)
    final_status = run.failure;
  else if (failed && !builder.failure().empty())
    final_status = builder.failure();  // why the last mosaic failed, not "Ok"
  else if (failed && !builder.last_error().empty())
    final_status = builder.last_error();
  if (json) json->write_final(run.stopped ? "stopped" : failed ? "failed" : "finished", percent, final_status);
  else if (!args.quiet)
    std::fprintf(stderr, "%s\n", status.c_str());
  // How much of the likeness the colour change supplies, mosaic by mosaic.
  for (const auto& [image, result] : run.results)
    if (!args.quiet && result.success && result.colour_fidelity.cells > 0) {
      const std::string figures = colour_fidelity_text(result.colour_fidelity);
      if (run.results.size() == 1) std::fprintf(stderr, "info: %s\n", figures.c_str());
      else std::fprintf(stderr, "info: %s: %s\n", result.destination.c_str(), figures.c_str());
    }
  for (const auto& [image, result] : run.results)
    if (result.success)
      for (const std::string& file : result.written_files) std::printf("%s\n", file.c_str());
  // A question that came up mid-batch had nobody to answer it: the mosaic
  // that asked was not written (it said why), those before it stand.
  if (prompt.refused()) return kExitUsage;
  // Every way a run can fail says so on its own line.
  if (failed_stage) {
    std::fprintf(stderr, "error: the run failed: %s\n", run.failure.c_str());
    return kExitFailed;
  }
  if (run.stopped) {
    std::fprintf(stderr, "error: the run was stopped\n");
    return kExitFailed;
  }
  if (run.failed > 0) {
    std::fprintf(stderr, "error: %d of %d mosaics could not be written whole\n", run.failed, builder.total_count());
    return kExitFailed;
  }
  if (builder.done_count() == 0) {
    std::fprintf(stderr, "error: no mosaic was built\n");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

void add_mosaic_command(CLI::App& app, CommandContext& context) {
  auto args = std::make_shared<MosaicArgs>();
  CLI::App* command = app.add_subcommand("mosaic", "Build a mosaic of each IMAGE from a Tile Images List");
  command->add_option("IMAGE", args->images, "Main images (JPEG or PNG)")->required()->type_name("IMAGE");
  command->add_option("--list", args->list, "Tile Images List (.tzc) (default: the list the settings name)")
      ->type_name("FILE");
  command->add_option("--tiles", args->tiles,
                      "Folder of tile pictures (repeatable), instead of --list: its list is kept in the cache folder "
                      "and brought up to date on every run")
      ->allow_extra_args(false)  // one folder an option: the IMAGEs after it stay images
      ->type_name("DIR");
  command->add_flag("--bw", args->tiles_bw, "With --tiles: compare the pictures in black and white");
  CLI::Option* settings =
      command->add_option("--settings", args->source.settings, "Settings file to start from instead of \"(Default Settings)\"")
          ->type_name("FILE");
  command->add_option("--section", args->source.section, "Section of the settings file")->needs(settings)->type_name("NAME");
  add_set_option(*command, args->source.overrides);
  command->add_option("--output", args->output, "The mosaic's file (one IMAGE only; default: beside the IMAGE)")
      ->type_name("FILE");
  command->add_option("--mask", args->mask, "Mask file for mask-file mosaics")->type_name("FILE");
  command->add_option("--mask-folder", args->mask_folder, "Folder of mask files for mask-file mosaics")->type_name("DIR");
  command->add_option("--priority-map", args->priority_map, "Grayscale picture for the custom tile priority")
      ->type_name("FILE");
  command->add_option("--split", args->split, "Split the mosaic into pieces of W by H pixels")->type_name("WxH");
  command->add_option("--pieces", args->pieces,
                      "With --split, write only split pieces FIRST to LAST, counted from 1 column by column as "
                      "the pieces' file names number them")
      ->type_name("FIRST-LAST");
  command->add_option("--frames", args->frames,
                      "Of a video mosaic, write only frames FIRST-LAST (counted from 1): one JPEG a frame, or an "
                      "AVI part for `video join`")
      ->type_name("FIRST-LAST");
  command->add_option("--placement", args->placement,
                      "Render the placement a run wrote with --save-placement, without placing tiles again")
      ->type_name("FILE");
  command->add_option("--save-placement", args->save_placement,
                      "Write the mosaic's final placement (cells and tiles) to this file for --placement")
      ->type_name("FILE");
  command->add_flag("--yes", args->yes, "Answer every question with Yes (or OK)");
  command->add_flag("--no", args->no, "Answer every question with No (or Cancel)");
  command->add_flag("--quiet", args->quiet, "No progress and no final status");
  command->add_flag("--no-wait", args->no_wait,
                    "Fail at once, instead of waiting, when another run is writing the same mosaic");
  add_progress_option(*command, args->progress);
  set_examples(*command,
               {{"tessellarium mosaic --list holidays.tzc beach.jpg",
                 "Build a mosaic of beach.jpg with \"(Default Settings)\"; the files written are printed."},
                {"tessellarium mosaic --list holidays.tzc --set TileUnit=tilesxrow --set TileSize=100 "
                 "--output mosaics/beach.jpg beach.jpg",
                 "100 tiles a row, the mosaic written to mosaics/beach.jpg."},
                {"tessellarium mosaic --tiles ~/Pictures --yes --quiet beach.jpg",
                 "From the pictures of a folder, answering every question with Yes, without progress."},
                {"tessellarium mosaic --list holidays.tzc --split 4000x4000 --pieces 1-4 beach.jpg",
                 "Write the first four pieces of 4000 by 4000 pixels only."}});
  command->callback([&context, args] { context.status = mosaic(*args, context.prompt); });
}

}  // namespace tess
