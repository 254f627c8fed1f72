#pragma once
// Building and analysing a Tile Images List: the folder sets are scanned,
// new and changed pictures are analysed on worker threads of their own, the
// finished list is saved with an error file for the pictures that could not
// be used. The commands of the list window (new, open, save, the
// black-and-white switch, removing items) are functions over a ListAnalysis,
// which owns the list lock, so that a window and the command line drive the
// same steps. The questions these commands need are asked by the window
// (ui/list_questions.hpp): the steps here return what it has to ask.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "tilelist/list_file.hpp"
#include "tilelist/skipped_files.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {

class Prompt;

/// The most entries a worker takes at a time, so the list lock is taken rarely.
inline constexpr int kAnalysisBatchSize = 16;
/// Appended to the list file's path to name its error file.
inline constexpr const char* kErrorFileSuffix = ".imageErrors.txt";
/// The kind of file the list file dialogs remember their folder for.
inline constexpr const char* kListFileKind = "ImageArchive";
/// The list file dialogs' filter: "Tessellarium Tile Images List (*.tzc)".
std::string list_file_filter();
/// How often a front end is expected to poll a running analysis.
inline constexpr std::chrono::milliseconds kAnalysisPollInterval{500};

/// Pictures and clips that no list analysis of this process could load
/// (the main window warns about them). Safe from any thread.
long load_failure_count();

/// What a running analysis has done so far.
struct AnalysisProgress {
  long processed = 0;         ///< entries handed to analysis and finished
  long total = 0;             ///< entries in the list when the analysis started
  double percentage = 0;      ///< processed × 100 / total
  std::int64_t elapsed_ms = 0;
  bool workers_alive = false;
};

/// "%02d:%02d:%02d" hours, minutes and seconds of a duration in milliseconds.
std::string elapsed_text(std::int64_t milliseconds);
/// "Tile# %d, Analysis Completed %.2f%%, Elapsed Time: %s".
std::string progress_text(const AnalysisProgress& progress);

/// The list's status line: its non-zero counts ("3 Landscape images, 1
/// Portrait image") and whether it still needs saving, or the hint for an
/// empty list. Without `for_window` (the command line, which saves what it
/// builds) no hint points at the list window.
std::string list_status_text(const TileImageList& list, bool for_window = true);

/// A list file name as the user chose it, with ".tzc" appended unless its
/// extension is exactly "tzc" ("list.TZC" becomes "list.TZC.tzc").
std::string with_list_extension(const std::string& file);

/// The text of a path as one line of the error file: line breaks become "?".
std::string error_file_line(const std::string& path);

/// Writes the error file: UTF-8 with a byte order mark, one path per line,
/// each ended by CR LF. Every write and the close are checked.
[[nodiscard]] bool write_error_file(const std::string& file, const std::vector<std::string>& paths);

/// How an attempt to analyse and save a list ended.
enum class [[nodiscard]] ListSaveResult {
  started,         ///< the workers are running (only from start())
  saved,           ///< the list file was written
  busy,            ///< an analysis is already running
  no_sources,      ///< no Include or Video item: nothing to analyse
  cancelled,       ///< a question or the file choice was declined
  stopped,         ///< a stop request ended the analysis; what was analysed is kept
  nothing_usable,  ///< no entry survived the analysis; nothing was saved
  save_failed,     ///< the list file could not be written (reported)
  error_file_failed,  ///< the list file was written, the file naming its unusable pictures not (reported)
};

/// One list with its lock and its analysis. The list object outlives this
/// and every reader takes mutex() around its reads while an analysis may run.
class ListAnalysis {
 public:
  ListAnalysis(TileImageList& list, Prompt& prompt);
  /// A running analysis is stopped (what was analysed is kept).
  ~ListAnalysis();
  ListAnalysis(const ListAnalysis&) = delete;
  ListAnalysis& operator=(const ListAnalysis&) = delete;

  TileImageList& list() { return m_list; }
  const TileImageList& list() const { return m_list; }
  Prompt& prompt() { return m_prompt; }
  /// The list lock: held by the workers only to take a batch and to count it.
  std::mutex& mutex() const { return m_mutex; }

  /// Builds the entries from the folder sets and starts `thread_count`
  /// workers (at least 1, at most one per entry) on them. Each takes up to 16
  /// entries at a time, fewer near the end so the last pictures are shared.
  /// Refused while an analysis runs (busy) and without an Include or Video
  /// item ("Please Add First a Folder ..."). `save_as` makes the completion
  /// always ask for the file name.
  ListSaveResult start(int thread_count, bool save_as);

  /// True while started and not yet completed or stopped.
  [[nodiscard]] bool active() const { return m_active.load(); }
  /// Waits up to `timeout` for the workers; true once all have ended.
  [[nodiscard]] bool wait(std::chrono::milliseconds timeout);
  AnalysisProgress progress() const;
  /// The status line: the step being done, or the list's status text.
  std::string status_text() const;

  /// Asks the workers to end after their current batch. Safe from any
  /// thread, a worker's batch observer included; stop() or complete() joins.
  void request_stop() { m_running.store(false); }
  [[nodiscard]] bool stop_requested() const { return m_active.load() && !m_running.load(); }
  /// Ends a running analysis: the workers finish their batches and are
  /// joined. Entries analysed so far keep their results; entries never
  /// reached keep their previous signatures, and new ones that have none are
  /// left unusable so no mosaic takes an empty signature. The list stays
  /// changed.
  void stop();

  /// Once the workers have ended: removes the unusable entries, regroups,
  /// chooses the file (asking when the list has none or for "save as"),
  /// saves, writes the error file and shows the completion message. A stop
  /// request that ended the workers early gives `stopped` instead.
  ListSaveResult complete();

  /// start(), then `tick` every `interval` while the workers run, then
  /// complete() - or stop() when a stop was requested meanwhile.
  ListSaveResult run(int thread_count, bool save_as, const std::function<void(ListAnalysis&)>& tick = {},
                     std::chrono::milliseconds interval = kAnalysisPollInterval);

  /// Called on the worker thread after each batch with the processed count
  /// (outside the lock). Set it while no analysis runs.
  void set_batch_observer(std::function<void(long)> observer) { m_batch_observer = std::move(observer); }

  /// Makes the next start() analyse and save only share `index` of `count`
  /// (see list_share.hpp); count 0 analyses the whole list. Set it while no
  /// analysis runs. A share is saved even when it holds no picture, so that
  /// the shares can always be joined.
  void set_share(int index, int count) {
    m_share_index = index;
    m_share_count = count;
  }

  /// Long clips met by the last analysis.
  long long_clips() const { return m_long_clips.load(); }

  /// Sets the status line; the status observer hears of every change.
  void set_status(std::string text);
  /// Shows the list's status line (list_status_text()) in the words of
  /// whoever follows the analysis: the window's, or the command line's.
  void show_list_status();
  /// Called with each new status line, on the thread that changed it. Set
  /// it while no analysis runs.
  void set_status_observer(std::function<void(const std::string&)> observer) {
    m_status_observer = std::move(observer);
  }

 private:
  void worker();
  /// Analyses one entry of a batch, or passes over it: an entry kept from a
  /// folder that cannot be read, a file found bad before and unchanged since.
  void analyse(FotoInfo& entry, AnalysisCounters& counters, std::vector<SkippedFile>& skipped) const;
  /// The unreadable folders as warnings; their lines for the error file.
  std::vector<std::string> report_unreadable_folders();
  /// Writes the file of pictures left out beside the list file `file`.
  void save_skipped(const std::string& file, const std::vector<std::string>& unusable);
  void join_workers();
  void leave_unreached_entries_unusable();

  TileImageList& m_list;
  Prompt& m_prompt;
  mutable std::mutex m_mutex;
  std::condition_variable m_released_cv;
  std::condition_variable m_done_cv;
  std::vector<std::thread> m_threads;
  std::function<void(long)> m_batch_observer;
  std::function<void(const std::string&)> m_status_observer;

  // Guarded by m_mutex.
  std::vector<FotoInfo*> m_queue;
  std::size_t m_cursor = 0;
  long m_processed = 0;
  double m_percentage = 0;
  int m_workers = 1;
  int m_alive = 0;
  bool m_released = false;
  bool m_save_as = false;
  bool m_black_and_white = false;
  int m_version = kListFileVersion;
  std::string m_status;
  long m_total = 0;
  std::chrono::steady_clock::time_point m_started;
  std::chrono::steady_clock::time_point m_finished;

  std::atomic<bool> m_running{false};  // cleared to stop the workers
  std::atomic<bool> m_active{false};   // started and not yet completed or stopped
  std::atomic<long> m_long_clips{0};
  int m_share_index = 0;
  int m_share_count = 0;
  ListShare m_share;  // the share being analysed, guarded by m_mutex
  // Files left out by the analysis that saved the list, read at start and
  // not changed while the workers run.
  SkippedFiles m_known_bad;
  // Entries under folders that cannot be read: kept, never analysed. Set at
  // start, read by the workers.
  std::unordered_set<const FotoInfo*> m_kept;
  std::vector<SkippedFile> m_skipped;  // left out by this analysis, guarded by m_mutex
};

/// Hears one analysis-and-save step as it goes.
class ListAnalysisFollower {
 public:
  virtual ~ListAnalysisFollower() = default;
  /// Each new status line, on the thread that set it.
  virtual void status(const ListAnalysis& analysis, const std::string& text) = 0;
  /// On the caller's thread every poll interval while the workers run, and
  /// once more when they have ended; it may ask the analysis to stop.
  virtual void tick(ListAnalysis& analysis) = 0;
  /// Once, after the save or whatever ended the step before it.
  virtual void finished(const ListAnalysis& analysis, ListSaveResult result) = 0;
};

/// The step every command that builds a list from its folder sets takes:
/// analyses `list` (or share `share_index` of `share_count` of it, see
/// list_share.hpp) on `threads` workers and saves it to its own path,
/// reporting through `prompt`, with `follower` polled every `interval`.
ListSaveResult analyse_and_save(TileImageList& list, int threads, Prompt& prompt, ListAnalysisFollower& follower,
                                std::chrono::milliseconds interval = kAnalysisPollInterval, int share_index = 0,
                                int share_count = 0);

/// Whether the list changed since it was opened or last saved.
[[nodiscard]] bool list_changed(const ListAnalysis& analysis);

/// "New List", once the user agreed to leave the list: an empty colour list
/// without a path.
void clear_list(ListAnalysis& analysis);

/// How "Open List..." ended.
enum class [[nodiscard]] OpenListResult {
  opened,            ///< the list holds the file
  upgrading,         ///< an old list is being rebuilt and analysed; complete() saves it
  upgrade_declined,  ///< an old list was not upgraded: the list is empty
  refused,           ///< another version or grid (reported): the list is empty
  unreadable,        ///< "Error while reading the Images List!" was shown
  cancelled,         ///< the leave check or the file choice was declined
  outdated,          ///< read, but older than version 118: upgrade it or forget it
};

/// Reads `file` into the list, a refusal or an unreadable file reported.
/// `outdated` for a list older than version 118, which the caller offers
/// for upgrading (upgrade_question()).
OpenListResult load_list(ListAnalysis& analysis, const std::string& file);
/// The question that offers an outdated list for upgrading.
std::string upgrade_question();
/// The upgrade agreed to: empties the entries and starts a "save as"
/// analysis on `thread_count` workers (`upgrading`, else `cancelled`).
OpenListResult upgrade_list(ListAnalysis& analysis, int thread_count);
/// The upgrade declined: the list is emptied (`upgrade_declined`).
OpenListResult forget_list(ListAnalysis& analysis);

/// The question the "Black & White" check box asks before it converts the
/// signatures (grey) or empties the entries (colour); empty when switching
/// to `black_and_white` needs none (the list has no entries or is so already).
std::string black_and_white_question(const ListAnalysis& analysis, bool black_and_white);
/// Switches the list's mode: grey converts the stored signatures in place,
/// colour empties the entries (they must be analysed again). False while an
/// analysis runs (the list is unchanged).
[[nodiscard]] bool apply_black_and_white(ListAnalysis& analysis, bool black_and_white);

/// "Remove Selected": in a folder view (`view` set) the items leave that set;
/// in the All Images view each path leaves the Include, Required or Video
/// set that holds it as an item, or else joins the Exclude set, and the user
/// is told to save.
void remove_selected(ListAnalysis& analysis, std::optional<FolderKind> view, const std::vector<std::string>& selected);

}  // namespace tess
