// `tessellarium list create | update | merge | show | gaps`: Tile Images
// Lists from the command line, through the same build, analysis and
// completion as the list window.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "cli/cli_app.hpp"
#include "cli/commands.hpp"
#include "cli/list_progress.hpp"
#include "cli/mosaic_command.hpp"
#include "cli/parameter_overrides.hpp"
#include "cli/run_parameters.hpp"
#include "cli/progress_json.hpp"
#include "cli/terminal_prompt.hpp"
#include "engine/image_gaps.hpp"
#include "engine/run_plan.hpp"
#include "engine/run_threads.hpp"
#include "images/foto.hpp"
#include "output/gap_report.hpp"
#include "settings/advanced_options.hpp"
#include "settings/configuration.hpp"
#include "tilelist/colour_gaps.hpp"
#include "tilelist/list_analysis.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/list_share.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

struct ListArgs {
  std::string file;
  std::vector<std::string> include;
  std::vector<std::string> exclude;
  std::vector<std::string> required;
  std::vector<std::string> video;
  bool black_and_white = false;
  int threads = 0;
  bool entries = false;
  bool reanalyse = false;          ///< list update: every file read again
  std::string shard;               ///< "K/N" of list create, or empty
  std::vector<std::string> parts;  ///< the partial lists of list merge
  std::string image;               ///< the main image of list gaps
  std::string output;              ///< the report folder of list gaps
  ParameterSource source;          ///< the mosaic parameters of list gaps
  ProgressStyle progress = ProgressStyle::text;
};

// --- helpers -------------------------------------------------------------------

/// An absolute, tidied form of a path as the user typed it.
std::string absolute_path(const std::string& path) {
  std::error_code error;
  fs::path absolute = fs::absolute(path, error);
  if (error) absolute = path;
  return absolute.lexically_normal().string();
}

/// Adds the items the user named to one folder set. A path that names
/// nothing is bad input.
bool add_items(TileImageList& list, FolderKind kind, const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error && error != std::errc::no_such_file_or_directory) {
      // There, but out of reach: the system says why.
      std::fprintf(stderr, "error: '%s' cannot be read: %s\n", path.c_str(), error.message().c_str());
      return false;
    }
    if (error || !fs::exists(status)) {
      std::fprintf(stderr, "error: no such file or folder '%s'\n", path.c_str());
      return false;
    }
    list.add_item(kind, absolute_path(path), fs::is_directory(status));
  }
  return true;
}

/// Loads a list for update or show; a refused or unreadable file is bad input.
bool load_for_command(TileImageList& list, const std::string& file, Prompt& prompt) {
  return open_list_file(list, absolute_path(file)).ok_or_show(prompt);
}

// --- the commands ------------------------------------------------------------

int list_create(const ListArgs& args, Prompt& prompt) {
  int share_index = 0, share_count = 0;
  if (!args.shard.empty() && !parse_list_share(args.shard, share_index, share_count)) {
    std::fprintf(stderr, "error: --shard takes K/N with 1 <= K <= N <= %d, not '%s'\n", kMostListShares,
                 args.shard.c_str());
    return kExitUsage;
  }
  if (args.include.empty() && args.video.empty())
    return usage_error(tr("the list needs pictures to analyse: name a folder of them with --include DIR or --video DIR"));
  TileImageList list;
  if (!add_items(list, FolderKind::include, args.include) || !add_items(list, FolderKind::exclude, args.exclude) ||
      !add_items(list, FolderKind::required, args.required) || !add_items(list, FolderKind::video, args.video))
    return kExitUsage;
  list.set_black_and_white(args.black_and_white);
  // The name stands for the one a save dialog would have given.
  list.set_path(with_list_extension(absolute_path(args.file)));
  return analyse_and_save_with_progress(list, analysis_thread_count(args.threads), prompt, args.progress, share_index,
                                        share_count);
}

int list_merge(const ListArgs& args, Prompt& prompt) {
  std::vector<std::string> parts;
  for (const std::string& part : args.parts) parts.push_back(absolute_path(part));
  TileImageList list;
  std::vector<std::string> unusable;
  Status part_status;
  if (const std::string problem = merge_list_shares(parts, list, unusable, part_status); !problem.empty()) {
    (void)part_status.ok_or_show(prompt);
    std::fprintf(stderr, "error: %s\n", problem.c_str());
    return kExitUsage;
  }
  const std::string file = with_list_extension(absolute_path(args.file));
  if (!save_list_file(list, file).ok_or_show(prompt)) return kExitFailed;
  // The same error file as an analysis on one machine writes.
  if (!unusable.empty() && !write_error_file(file + kErrorFileSuffix, unusable)) {
    prompt.message(format(tr("Unable to save file '%s'"), file + kErrorFileSuffix), Icon::error);
    return kExitFailed;
  }
  std::printf("%s: %zu entries from %zu shares, %zu pictures unusable\n", file.c_str(), list.entry_count(),
              parts.size(), unusable.size());
  return kExitOk;
}

int list_update(const ListArgs& args, Prompt& prompt) {
  TileImageList list;
  if (!load_for_command(list, args.file, prompt)) return kExitUsage;
  if (!list.has_sources())
    return usage_error(format(tr("the list '%s' names no folder of pictures to analyse: make it again with list create "
                                 "--include DIR"),
                              args.file));
  if (list.needs_upgrade()) {
    // Signatures of old lists are not what an analysis gives today.
    prompt.message(format("list version %d is rebuilt and analysed again", list.version()), Icon::information);
    list.clear_entries();
  }
  if (args.reanalyse) list.request_reanalysis();
  return analyse_and_save_with_progress(list, analysis_thread_count(args.threads), prompt, args.progress);
}

const char* yes_no(bool on) { return on ? "yes" : "no"; }

int list_show(const ListArgs& args, Prompt& prompt) {
  TileImageList list;
  if (!load_for_command(list, args.file, prompt)) return kExitUsage;
  std::printf("Version: %d\n", list.version());
  std::printf("Black and white: %s\n", yes_no(list.black_and_white()));
  const std::pair<FolderKind, const char*> sets[] = {{FolderKind::include, "Include"},
                                                     {FolderKind::exclude, "Exclude"},
                                                     {FolderKind::required, "Required"},
                                                     {FolderKind::video, "Video"}};
  for (const auto& [kind, name] : sets)
    for (const std::string& item : list.folders(kind)) std::printf("%s: %s\n", name, error_file_line(item).c_str());
  std::printf("Landscape images: %ld\n", list.landscape_images());
  std::printf("Portrait images: %ld\n", list.portrait_images());
  std::printf("Landscape videoclips: %ld\n", list.landscape_clips());
  std::printf("Portrait videoclips: %ld\n", list.portrait_clips());
  std::printf("Entries: %zu\n", list.entry_count());
  if (args.entries)
    for (const auto& [path, entry] : list.entries())
      std::printf("%s\t%d\t%s\t%s\t%d\n", error_file_line(entry.path).c_str(), static_cast<int>(entry.file_size),
                  entry.is_portrait() ? "portrait" : "landscape", entry.required != 0 ? "required" : "-",
                  static_cast<int>(entry.variant_group));
  if (std::fflush(stdout) == 0) return kExitOk;
  std::fprintf(stderr, "error: the list could not be printed whole\n");
  return kExitFailed;
}

/// A pixel as the six hex digits of a web colour.
unsigned swatch_rgb(std::uint32_t pixel) {
  return (pixel_red(pixel) << 16) | (pixel_green(pixel) << 8) | pixel_blue(pixel);
}

std::string percent(double share) { return format("%.1f %%", share * 100.0); }

int list_gaps(const ListArgs& args, Prompt& prompt) {
  GapReport report;
  report.list_file = absolute_path(args.file);
  std::optional<RunPlan> plan;
  TileImageList alone;
  const TileImageList* list = &alone;
  if (args.image.empty()) {
    if (!args.source.settings.empty() || !args.source.overrides.empty())
      return usage_error("--settings and --set describe a mosaic: they need --image");
    if (!load_for_command(alone, args.file, prompt)) return kExitUsage;
  } else {
    // The image is cut into cells by the run preparation a mosaic goes
    // through, so the report sees what `mosaic` would build.
    MosaicArgs mosaic;
    mosaic.images = {args.image};
    mosaic.list = args.file;
    mosaic.source = args.source;
    PreparedMosaic prepared = prepare_mosaic(mosaic, prompt);
    if (!prepared.plan) return prepared.exit_status;
    plan = std::move(prepared.plan);
    list = &plan->list;
    report.main_image = absolute_path(args.image);
  }
  if (list->entry_count() == 0) return usage_error("the Tile Images List holds no pictures");

  report.coverage = analyse_list_coverage(list_colours(*list));
  Foto image;
  if (plan) {
    const ConfigFile config;
    apply_decode_budget(plan->parameters.advanced);
    ImageGapsResult measured =
        measure_image_gaps(*plan, configured_thread_count(plan->parameters.advanced, config), prompt);
    if (!measured.ok) return usage_error(measured.reason);
    report.image_gaps = std::move(measured.gaps);
    image = std::move(measured.image);
  }
  const fs::path folder = args.output.empty() ? default_gap_report_folder(report.list_file) : fs::path(args.output);
  if (!write_gap_report(report, plan ? &image : nullptr, folder, prompt)) return kExitFailed;

  std::printf("Colour coverage: %s of all colours within dE %d of the %zu distinct tile colours\n",
              percent(report.coverage.covered_share).c_str(), static_cast<int>(kGapDeltaE),
              report.coverage.tile_colours);
  std::printf("Largest holes:\n");
  for (const ColourHole& hole : report.coverage.holes)
    std::printf("  %-13s %s  #%06x\n", hole.name, percent(hole.share).c_str(), swatch_rgb(hole.swatch));
  if (report.image_gaps) {
    const ImageGaps& gaps = *report.image_gaps;
    std::printf("Unmatched within dE %d: %s of the image (mean dE %.1f)\n", static_cast<int>(kGapDeltaE),
                percent(gaps.unmatched_share).c_str(), gaps.mean_delta);
    std::printf("Colours to add:\n");
    for (const ColourToAdd& add : gaps.to_add)
      std::printf("  %-13s %s  #%06x\n", add.name, percent(add.share).c_str(), swatch_rgb(add.swatch));
  }
  std::printf("Report: %s\n", (folder / kGapPageName).string().c_str());
  if (std::fflush(stdout) == 0) return kExitOk;
  std::fprintf(stderr, "error: the report could not be printed whole\n");
  return kExitFailed;
}

}  // namespace

void add_list_command(CLI::App& app, CommandContext& context) {
  auto args = std::make_shared<ListArgs>();
  CLI::App* list = app.add_subcommand("list", "Build, update or show a Tile Images List");
  list->require_subcommand(1);

  CLI::App* create = list->add_subcommand("create", "Scan folders, analyse the pictures and save a new list");
  create->add_option("LIST", args->file, "List file (.tzc)")->required()->type_name("LIST");
  create->add_option("--include", args->include, "Folder or picture to use (repeatable)")->type_name("PATH");
  create->add_option("--exclude", args->exclude, "Folder or picture never to use (repeatable)")->type_name("PATH");
  create->add_option("--required", args->required, "Folder or picture to use always (repeatable)")->type_name("PATH");
  create->add_option("--video", args->video, "Folder or clip of video tiles (repeatable)")->type_name("PATH");
  create->add_flag("--bw", args->black_and_white, "Compare pictures in black and white");
  create->add_option("--threads", args->threads, "Analysis threads, 1 to 5000 (default: Options.ThreadCount)")
      ->check(CLI::Range(1, 5000))
      ->type_name("N");
  add_progress_option(*create, args->progress);
  create->add_option("--shard", args->shard,
                     "Analyse only share K of N (K/N) of the pictures and save a partial list for list merge")
      ->type_name("K/N");
  set_examples(*create, {{"tessellarium list create holidays.tzc --include ~/Pictures --exclude ~/Pictures/scans",
                          "Analyse a folder's pictures, leaving one of its folders out."},
                         {"tessellarium list create part-3.tzc --include ~/Pictures --shard 3/8",
                          "Analyse the third of eight shares, to be joined by list merge."}});
  create->callback([&context, args] { context.status = list_create(*args, context.prompt); });

  CLI::App* update = list->add_subcommand("update", "Rescan a list's folders, analyse what changed and save it");
  update->add_option("LIST", args->file, "List file (.tzc)")->required()->type_name("LIST");
  update->add_option("--threads", args->threads, "Analysis threads, 1 to 5000 (default: Options.ThreadCount)")
      ->check(CLI::Range(1, 5000))
      ->type_name("N");
  update->add_flag("--reanalyse", args->reanalyse,
                   "Analyse every file again, changed or not, and retry those found bad before");
  add_progress_option(*update, args->progress);
  update->callback([&context, args] { context.status = list_update(*args, context.prompt); });

  CLI::App* merge = list->add_subcommand("merge", "Join the partial lists of list create --shard into one list");
  merge->add_option("LIST", args->file, "List file to write (.tzc)")->required()->type_name("LIST");
  merge->add_option("PARTS", args->parts, "Every partial list, one for each share")->required()->type_name("PARTS");
  set_examples(*merge, {{"tessellarium list merge holidays.tzc part-*.tzc", "Join the shares into holidays.tzc."}});
  merge->callback([&context, args] { context.status = list_merge(*args, context.prompt); });

  CLI::App* show = list->add_subcommand("show", "Print a list's folders, counts and entries");
  show->add_option("LIST", args->file, "List file (.tzc)")->required()->type_name("LIST");
  show->add_flag("--entries", args->entries, "One line per entry: path, size, orientation, required, group");
  show->callback([&context, args] { context.status = list_show(*args, context.prompt); });

  CLI::App* gaps = list->add_subcommand(
      "gaps", "Report which colours a list lacks and, with --image, which parts of a picture it cannot match");
  gaps->add_option("LIST", args->file, "List file (.tzc)")->required()->type_name("LIST");
  gaps->add_option("--image", args->image, "Main image whose cells are matched with the list (JPEG or PNG)")
      ->type_name("FILE");
  gaps->add_option("--output", args->output, "Folder for the report (default: \"<list name> gaps\" beside the list)")
      ->type_name("DIR");
  CLI::Option* settings = gaps->add_option("--settings", args->source.settings,
                                           "With --image: settings file to start from instead of \"(Default Settings)\"")
                              ->type_name("FILE");
  gaps->add_option("--section", args->source.section, "Section of the settings file")->needs(settings)->type_name("NAME");
  add_set_option(*gaps, args->source.overrides);
  set_examples(*gaps, {{"tessellarium list gaps holidays.tzc --image beach.jpg",
                        "Report the colours the list lacks and the parts of beach.jpg it cannot match."}});
  gaps->callback([&context, args] {
    // The report writes no mosaic: the questions of its run keep their default answers.
    context.prompt.take_defaults();
    context.status = list_gaps(*args, context.prompt);
  });
}

}  // namespace tess
