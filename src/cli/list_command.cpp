// `tessellarium list create | update | show`: Tile Images Lists from the
// command line, through the same build, analysis and completion as the list
// window.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "cli/cli_app.hpp"
#include "cli/commands.hpp"
#include "cli/interrupt.hpp"
#include "cli/progress_json.hpp"
#include "cli/terminal_prompt.hpp"
#include "engine/run_threads.hpp"
#include "settings/advanced_options.hpp"
#include "settings/configuration.hpp"
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
  std::string shard;               ///< "K/N" of list create, or empty
  std::vector<std::string> parts;  ///< the partial lists of list merge
  ProgressStyle progress = ProgressStyle::text;
};

// --- Ctrl-C ------------------------------------------------------------------

constexpr std::chrono::milliseconds kInterruptPollInterval{100};

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
    if (error || !fs::exists(status)) {
      std::fprintf(stderr, "error: no such file or folder '%s'\n", path.c_str());
      return false;
    }
    list.add_item(kind, absolute_path(path), fs::is_directory(status));
  }
  return true;
}

int thread_count(int requested) {
  if (requested > 0) return requested;
  ConfigFile config;
  AdvancedOptions options;
  options.initialise_all(true, config);
  return configured_thread_count(options, config);
}

/// Progress on standard error: a live line on a terminal, one line per
/// status change on a pipe, or one JSON object per status change (and per
/// whole percent of the analysis) with --progress json.
class ProgressOutput {
 public:
  ProgressOutput(ProgressStyle style, const ListAnalysis& analysis)
      : m_terminal(::isatty(STDERR_FILENO) == 1), m_analysis(analysis) {
    if (style == ProgressStyle::json) m_json = std::make_unique<JsonProgressLog>();
  }

  // Called on the thread that sets the status.
  void status(const std::string& text) {
    if (m_json) {
      const AnalysisProgress progress = m_analysis.progress();
      m_json->note(stage_of(progress), percent_of(progress), text);
      return;
    }
    if (m_terminal) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "%s\n", text.c_str());
    m_live = false;
  }

  void tick(ListAnalysis& analysis) {
    if (InterruptGuard::interrupted()) analysis.request_stop();
    const AnalysisProgress progress = analysis.progress();
    const std::string text = progress_text(progress);
    if (m_json) {
      // The analysis keeps its status while it runs: its figure is noted
      // each time it passes a whole percent.
      const int whole = static_cast<int>(progress.percentage);
      if (progress.workers_alive && whole != m_whole_percent) {
        m_whole_percent = whole;
        m_json->note(stage_of(progress), percent_of(progress), text);
      }
      m_json->write_pending();
      return;
    }
    if (m_terminal) {
      std::fprintf(stderr, "\r%s\033[K", text.c_str());
      m_live = true;
    } else if (!progress.workers_alive) {
      std::fprintf(stderr, "%s\n", text.c_str());
    }
    if (!progress.workers_alive) finish_line();
    std::fflush(stderr);
  }

  void finish_line() {
    if (m_live) std::fputc('\n', stderr);
    m_live = false;
  }

  /// The last JSON line: how the analysis and the save ended.
  void finish(ListSaveResult result) {
    if (!m_json) return;
    const bool saved = result == ListSaveResult::saved;
    m_json->write_final(saved ? "finished" : result == ListSaveResult::stopped ? "stopped" : "failed",
                        percent_of(m_analysis.progress()), m_analysis.status_text());
  }

 private:
  // Scanning the folders before the workers start, the analysis while they
  // run, the save once they are done.
  static const char* stage_of(const AnalysisProgress& progress) {
    if (progress.workers_alive) return "analysis";
    return progress.total > 0 && progress.processed >= progress.total ? "save" : "scan";
  }
  static double percent_of(const AnalysisProgress& progress) {
    if (progress.workers_alive) return progress.percentage;
    return progress.total > 0 && progress.processed >= progress.total ? 100 : 0;
  }

  bool m_terminal;
  const ListAnalysis& m_analysis;
  bool m_live = false;
  std::unique_ptr<JsonProgressLog> m_json;
  int m_whole_percent = -1;
};

int exit_status(ListSaveResult result, Prompt& prompt) {
  switch (result) {
    case ListSaveResult::saved: return kExitOk;
    case ListSaveResult::no_sources: return kExitUsage;
    case ListSaveResult::stopped: prompt.message(tr("Stopped!"), Icon::error); return kExitFailed;
    case ListSaveResult::started:
    case ListSaveResult::busy:
    case ListSaveResult::cancelled:
    case ListSaveResult::nothing_usable:
    case ListSaveResult::save_failed:
    case ListSaveResult::error_file_failed: return kExitFailed;
  }
  return kExitFailed;
}

/// Analyses `list` (or share `share_index` of `share_count` of it) and saves
/// it to its own path.
int analyse_and_save(TileImageList& list, int threads, ProgressStyle style, Prompt& prompt, int share_index = 0,
                     int share_count = 0) {
  ListAnalysis analysis(list, prompt);
  analysis.set_share(share_index, share_count);
  ProgressOutput output(style, analysis);
  analysis.set_status_observer([&output](const std::string& text) { output.status(text); });
  InterruptGuard interrupts;
  // Polled more often than a window would, so Ctrl-C is answered at once.
  const ListSaveResult result = analysis.run(
      threads, false, [&output](ListAnalysis& running) { output.tick(running); }, kInterruptPollInterval);
  output.finish_line();
  output.finish(result);
  return exit_status(result, prompt);
}

/// Loads a list for update or show; a refused or unreadable file is bad input.
bool load_for_command(TileImageList& list, const std::string& file, Prompt& prompt) {
  ListLoadResult result = ListLoadResult::unreadable;
  if (load_list_file(list, absolute_path(file), prompt, &result)) return true;
  // A refused file was already reported with its reason.
  if (result == ListLoadResult::unreadable) prompt.message(tr("Error while reading the Images List!"), Icon::error);
  return false;
}

// --- the commands ------------------------------------------------------------

int list_create(const ListArgs& args, Prompt& prompt) {
  int share_index = 0, share_count = 0;
  if (!args.shard.empty() && !parse_list_share(args.shard, share_index, share_count)) {
    std::fprintf(stderr, "error: --shard takes K/N with 1 <= K <= N <= %d, not '%s'\n", kMostListShares,
                 args.shard.c_str());
    return kExitUsage;
  }
  TileImageList list;
  if (!add_items(list, FolderKind::include, args.include) || !add_items(list, FolderKind::exclude, args.exclude) ||
      !add_items(list, FolderKind::required, args.required) || !add_items(list, FolderKind::video, args.video))
    return kExitUsage;
  list.set_black_and_white(args.black_and_white);
  // The name stands for the one a save dialog would have given.
  list.set_path(with_list_extension(absolute_path(args.file)));
  return analyse_and_save(list, thread_count(args.threads), args.progress, prompt, share_index, share_count);
}

int list_merge(const ListArgs& args, Prompt& prompt) {
  std::vector<std::string> parts;
  for (const std::string& part : args.parts) parts.push_back(absolute_path(part));
  TileImageList list;
  std::vector<std::string> unusable;
  if (const std::string problem = merge_list_shares(parts, list, unusable, prompt); !problem.empty()) {
    std::fprintf(stderr, "error: %s\n", problem.c_str());
    return kExitUsage;
  }
  const std::string file = with_list_extension(absolute_path(args.file));
  if (!save_list_file(list, file, prompt)) return kExitFailed;
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
  if (list.needs_upgrade()) {
    // Signatures of old lists are not what an analysis gives today.
    prompt.message(format("list version %d is rebuilt and analysed again", list.version()), Icon::information);
    list.clear_entries();
  }
  return analyse_and_save(list, thread_count(args.threads), args.progress, prompt);
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

}  // namespace

void add_list_command(CLI::App& app, CommandContext& context) {
  auto args = std::make_shared<ListArgs>();
  CLI::App* list = app.add_subcommand("list", "Build, update or show a Tile Images List");
  list->require_subcommand(1);

  CLI::App* create = list->add_subcommand("create", "Scan folders, analyse the pictures and save a new list");
  create->add_option("LIST", args->file, "List file (.tzc)")->required();
  create->add_option("--include", args->include, "Folder or picture to use (repeatable)");
  create->add_option("--exclude", args->exclude, "Folder or picture never to use (repeatable)");
  create->add_option("--required", args->required, "Folder or picture to use always (repeatable)");
  create->add_option("--video", args->video, "Folder or clip of video tiles (repeatable)");
  create->add_flag("--bw", args->black_and_white, "Compare pictures in black and white");
  create->add_option("--threads", args->threads, "Analysis threads")->check(CLI::Range(1, 5000));
  add_progress_option(*create, args->progress);
  create->add_option("--shard", args->shard,
                     "Analyse only share K of N (K/N) of the pictures and save a partial list for list merge");
  create->callback([&context, args] { context.status = list_create(*args, context.prompt); });

  CLI::App* update = list->add_subcommand("update", "Rescan a list's folders, analyse what changed and save it");
  update->add_option("LIST", args->file, "List file (.tzc)")->required();
  update->add_option("--threads", args->threads, "Analysis threads")->check(CLI::Range(1, 5000));
  add_progress_option(*update, args->progress);
  update->callback([&context, args] { context.status = list_update(*args, context.prompt); });

  CLI::App* merge = list->add_subcommand("merge", "Join the partial lists of list create --shard into one list");
  merge->add_option("LIST", args->file, "List file to write (.tzc)")->required();
  merge->add_option("PARTS", args->parts, "Every partial list, one for each share")->required();
  merge->callback([&context, args] { context.status = list_merge(*args, context.prompt); });

  CLI::App* show = list->add_subcommand("show", "Print a list's folders, counts and entries");
  show->add_option("LIST", args->file, "List file (.tzc)")->required();
  show->add_flag("--entries", args->entries, "One line per entry: path, size, orientation, required, group");
  show->callback([&context, args] { context.status = list_show(*args, context.prompt); });
}

}  // namespace tess
