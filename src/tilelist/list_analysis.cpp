// The list analysis and the list window's commands. Workers take batches of
// entries under the list lock and analyse them unlocked: each entry belongs
// to exactly one batch, so no two threads touch the same entry, and the
// entry set does not change shape while they run.

#include "tilelist/list_analysis.hpp"
#include "tilelist/left_out_summary.hpp"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <utility>

#include "base/file_sink.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/list_scan.hpp"
#include "tilelist/list_share.hpp"

namespace tess {

namespace {

// A message with what the analysis left out after it, as its last sentence.
std::string with_left_out(std::string text, const std::string& left_out) {
  if (left_out.empty()) return text;
  if (!text.empty() && text.back() != '.' && text.back() != '!') text += '.';
  return text + " " + format(tr("Left out: %s."), left_out);
}

std::atomic<long> g_load_failures{0};

constexpr int kMostThreads = 5000;
}  // namespace

long load_failure_count() { return g_load_failures.load(); }

std::string list_file_filter() { return tr("Tessellarium Tile Images List") + " (*.tzc)"; }

std::string elapsed_text(std::int64_t milliseconds) {
  const std::int64_t seconds = std::max<std::int64_t>(0, milliseconds) / 1000;
  return format("%02d:%02d:%02d", seconds / 3600, (seconds / 60) % 60, seconds % 60);
}

std::string progress_text(const AnalysisProgress& progress) {
  return format(tr("Tile# %d, Analysis Completed %.2f%%, Elapsed Time: %s"), progress.processed,
                progress.percentage, elapsed_text(progress.elapsed_ms));
}

std::string list_status_text(const TileImageList& list, bool for_window) {
  if (list.entry_count() == 0)
    return for_window ? tr("No Images are loaded. Please add a Folder to the Folder List")
                      : tr("The list holds no images");
  std::string text;
  const auto add = [&text](long count, const auto& counted) {
    if (count == 0) return;
    if (!text.empty()) text += ", ";
    text += format(counted(static_cast<unsigned long>(count)), count);
  };
  add(list.landscape_images(), [](unsigned long n) { return trn("%ld Landscape image", "%ld Landscape images", n); });
  add(list.portrait_images(), [](unsigned long n) { return trn("%ld Portrait image", "%ld Portrait images", n); });
  add(list.landscape_clips(),
      [](unsigned long n) { return trn("%ld Landscape videoclip", "%ld Landscape videoclips", n); });
  add(list.portrait_clips(),
      [](unsigned long n) { return trn("%ld Portrait videoclip", "%ld Portrait videoclips", n); });
  // The command line saves every list it builds itself.
  text += list.changed() && for_window ? tr(". Remember to Save the Images List!") : std::string(".");
  return text;
}

std::string with_list_extension(const std::string& file) {
  const auto slash = file.rfind('/');
  const auto dot = file.rfind('.');
  const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  // Only exactly "tzc" counts: "list.TZC" is saved as "list.TZC.tzc".
  if (has_extension && file.compare(dot + 1, std::string::npos, "tzc") == 0) return file;
  return file + ".tzc";
}

std::string error_file_line(const std::string& path) {
  std::string line = path;
  // One path per line: a break inside a name would make two lines of it.
  std::replace(line.begin(), line.end(), '\n', '?');
  std::replace(line.begin(), line.end(), '\r', '?');
  return line;
}

bool write_error_file(const std::string& file, const std::vector<std::string>& paths) {
  std::string text = "\xEF\xBB\xBF";
  for (const std::string& path : paths) text += error_file_line(path) + "\r\n";
  return write_file_atomically(file, text);
}

// --- ListAnalysis -----------------------------------------------------------

ListAnalysis::ListAnalysis(TileImageList& list, Prompt& prompt) : m_list(list), m_prompt(prompt) {}

ListAnalysis::~ListAnalysis() {
  // Whoever listened may already be gone.
  m_status_observer = nullptr;
  stop();
}

void ListAnalysis::set_status(std::string text) {
  {
    std::lock_guard lock(m_mutex);
    if (text == m_status) return;
    m_status = text;
  }
  if (m_status_observer) m_status_observer(text);
}

std::string ListAnalysis::status_text() const {
  std::lock_guard lock(m_mutex);
  return m_status;
}

AnalysisProgress ListAnalysis::progress() const {
  std::lock_guard lock(m_mutex);
  AnalysisProgress progress;
  progress.processed = m_processed;
  progress.total = m_total;
  progress.percentage = m_percentage;
  progress.workers_alive = m_alive > 0;
  const auto end = m_alive > 0 ? std::chrono::steady_clock::now() : m_finished;
  progress.elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - m_started).count();
  return progress;
}

ListSaveResult ListAnalysis::start(int thread_count, bool save_as) {
  // Step 1: preconditions.
  if (m_active.load()) return ListSaveResult::busy;
  bool has_sources = false;
  {
    std::lock_guard lock(m_mutex);
    has_sources = m_list.has_sources();
  }
  if (!has_sources) {
    m_prompt.message(tr("Please Add First a Folder to the Include/Video Folder List using Add Folder button!"),
                     Icon::warning);
    return ListSaveResult::no_sources;
  }

  // Step 2: the entries from the folder sets.
  set_status(tr("Analyzing..."));
  {
    std::lock_guard lock(m_mutex);
    m_started = m_finished = std::chrono::steady_clock::now();
  }
  set_status(tr("Building Images List..."));
  bool reanalyse = false;
  {
    std::lock_guard lock(m_mutex);
    build_entries(m_list);
    reanalyse = m_list.take_reanalysis_request();
    // A file is read again when its date differs from the one its
    // signature was made at; signatures stay until then, so a stopped
    // analysis leaves every entry usable.
    if (reanalyse) m_list.for_each_entry([](FotoInfo& entry) { entry.modification_time = 0; });
    m_share = m_share_count > 0 ? keep_list_share(m_list, m_share_index, m_share_count) : ListShare{};
    m_kept.clear();
    for (const TileImageList::UnreadableFolder& folder : m_list.unreadable_folders())
      for (const std::string& path : folder.kept)
        if (const FotoInfo* entry = m_list.find(path)) m_kept.insert(entry);
    m_skipped.clear();
  }
  // What an earlier analysis of this list found bad, unless every file is to
  // be read again.
  const std::string list_file = m_list.path();
  if (list_file.empty() || reanalyse)
    m_known_bad = SkippedFiles();
  else
    m_known_bad.load(list_file + kSkippedFileSuffix);
  set_status(tr("Building Images List... Completed"));

  // Step 3: the cursor at the first entry.
  int workers = 0;
  {
    std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_queue.reserve(m_list.entry_count());
    m_list.for_each_entry([this](FotoInfo& entry) { m_queue.push_back(&entry); });
    m_cursor = 0;
    m_total = static_cast<long>(m_queue.size());
    m_processed = 0;
    m_percentage = 0;
    m_long_clips.store(0);
    m_list.set_changed(true);
    m_save_as = save_as;
    m_black_and_white = m_list.black_and_white();
    m_version = m_list.version();
    m_released = false;
    // More workers than entries would only wait for nothing.
    const auto most = std::clamp<long>(static_cast<long>(m_queue.size()), 1, kMostThreads);
    workers = static_cast<int>(std::clamp<long>(thread_count, 1, most));
    m_workers = workers;
    m_alive = workers;
  }
  set_status(tr("Saving..."));
  m_running.store(true);
  m_active.store(true);

  // Step 4: the workers, released together once all exist.
  for (int i = 0; i < workers; ++i) {
    try {
      m_threads.emplace_back([this] { worker(); });
    } catch (const std::system_error&) {
      // The system refused another thread: those that started do the work.
      std::lock_guard lock(m_mutex);
      m_alive -= workers - i;
      m_workers = std::max(i, 1);
      break;
    }
  }
  {
    std::lock_guard lock(m_mutex);
    m_released = true;
  }
  m_released_cv.notify_all();
  if (m_threads.empty()) {
    // Not one thread could start: the analysis runs here.
    {
      std::lock_guard lock(m_mutex);
      m_alive = 1;
    }
    worker();
  }
  return ListSaveResult::started;
}

void ListAnalysis::worker() {
  {
    std::unique_lock lock(m_mutex);
    m_released_cv.wait(lock, [this] { return m_released; });
  }
  std::vector<FotoInfo*> batch;
  batch.reserve(kAnalysisBatchSize);
  while (m_running.load()) {
    {
      std::lock_guard lock(m_mutex);
      // Up to 16 entries, fewer once the rest would not keep every worker
      // busy: a short list or the tail of a long one of large photographs is
      // then still shared out rather than left to one thread.
      const std::size_t left = m_queue.size() - m_cursor;
      const std::size_t share = (left + static_cast<std::size_t>(m_workers) - 1) / static_cast<std::size_t>(m_workers);
      const std::size_t end = m_cursor + std::clamp<std::size_t>(share, std::min<std::size_t>(left, 1), kAnalysisBatchSize);
      batch.assign(m_queue.begin() + static_cast<std::ptrdiff_t>(m_cursor),
                   m_queue.begin() + static_cast<std::ptrdiff_t>(end));
      m_cursor = end;
    }
    if (batch.empty()) break;

    AnalysisCounters counters;
    std::vector<SkippedFile> skipped;
    for (FotoInfo* entry : batch) analyse(*entry, counters, skipped);
    g_load_failures.fetch_add(counters.load_failures);
    m_long_clips.fetch_add(counters.long_clips);

    long processed = 0;
    {
      std::lock_guard lock(m_mutex);
      for (SkippedFile& file : skipped) m_skipped.push_back(std::move(file));
      m_processed += static_cast<long>(batch.size());
      m_percentage = static_cast<double>(m_processed) * 100.0 / static_cast<double>(m_total);
      processed = m_processed;
    }
    if (m_batch_observer) m_batch_observer(processed);
  }
  {
    std::lock_guard lock(m_mutex);
    if (--m_alive == 0) m_finished = std::chrono::steady_clock::now();
  }
  m_done_cv.notify_all();
}

void ListAnalysis::analyse(FotoInfo& entry, AnalysisCounters& counters, std::vector<SkippedFile>& skipped) const {
  // Its folder cannot be read: the entry stays as the list had it.
  if (m_kept.contains(&entry)) return;
  // A file new to the list is stamped before it is read, so a change while
  // it is read makes it new again next time. A file found bad before and
  // unchanged since is not read again.
  FileStamp stamp;
  bool stamped = false;
  if (entry.file_size == kNewEntryFileSize) {
    stamped = read_file_stamp(entry.path, stamp);
    // Reasons of no known kind were written before failures had kinds, by
    // a build that read fewer formats: such files are tried again.
    const std::string* reason = stamped ? m_known_bad.unchanged(entry.path, stamp) : nullptr;
    if (reason != nullptr && !reason_kind(*reason).empty()) {
      entry.usable = 0;
      ++counters.load_failures;
      skipped.push_back({entry.path, stamp, *reason});
      return;
    }
  }
  counters.last_failure.clear();
  if (analyse_entry(entry, m_black_and_white, m_version, counters) || counters.last_failure.empty()) return;
  // Only a file that was there and could not be used is remembered.
  if (stamped || read_file_stamp(entry.path, stamp)) skipped.push_back({entry.path, stamp, counters.last_failure});
}

bool ListAnalysis::wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  return m_done_cv.wait_for(lock, timeout, [this] { return m_alive == 0; });
}

void ListAnalysis::join_workers() {
  for (std::thread& thread : m_threads)
    if (thread.joinable()) thread.join();
  m_threads.clear();
}

void ListAnalysis::leave_unreached_entries_unusable() {
  std::lock_guard lock(m_mutex);
  for (std::size_t i = m_cursor; i < m_queue.size(); ++i) {
    FotoInfo& entry = *m_queue[i];
    // A new entry that was never analysed has no signature to offer.
    if (entry.file_size == kNewEntryFileSize) entry.usable = 0;
  }
  m_queue.clear();
  m_cursor = 0;
  m_list.group_variants(kGroupingFrameNumbers);
}

void ListAnalysis::show_list_status() { set_status(list_status_text(m_list, m_prompt.has_window())); }

void ListAnalysis::stop() {
  if (!m_active.load()) return;
  request_stop();
  join_workers();
  leave_unreached_entries_unusable();
  m_active.store(false);
  show_list_status();
}

ListSaveResult ListAnalysis::complete() {
  // Step 1: the workers are done.
  if (!m_active.load()) return ListSaveResult::cancelled;
  join_workers();
  if (!m_running.load()) {
    leave_unreached_entries_unusable();
    m_active.store(false);
    show_list_status();
    return ListSaveResult::stopped;
  }
  m_running.store(false);
  m_active.store(false);

  // Step 2: what could not be used goes; its paths are the unusable paths.
  std::size_t entries = 0;
  std::string file;
  {
    std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_list.remove_unusable();
    m_list.group_variants(kGroupingFrameNumbers);
    entries = m_list.entry_count();
    file = m_list.path();
  }
  show_list_status();
  const std::vector<std::string> unreadable = report_unreadable_folders();
  std::string left_out;
  {
    std::lock_guard lock(m_mutex);
    left_out = left_out_summary(m_list.unsupported_types(), m_skipped);
  }

  // Step 3: nothing usable, nothing to save (a share is saved all the same:
  // it still tells the join which pictures it could not use). What the
  // folders held instead is said.
  if (entries == 0 && m_share.count == 0) {
    m_prompt.message(with_left_out(tr("Please add folders containing JPG/PNG Images!"), left_out), Icon::warning);
    return ListSaveResult::nothing_usable;
  }

  // Step 4: long clips make poor animated tiles.
  if (const long long_clips = m_long_clips.load(); long_clips != 0)
    m_prompt.message(format(tr("Your List has %ld video clips with over %ld frames each."), long_clips, kLongClipFrames) +
                         tr(" For DivarAdadirs you should have many short video clips with relative static frames."),
                     Icon::information);

  // Step 5: the file.
  if (m_save_as || file.empty()) {
    FileRequest request;
    request.caption = tr("Create a new Image List File");
    request.kind = kListFileKind;
    request.default_name = tr("My Images List");
    request.filter = list_file_filter();
    request.save = true;
    const std::vector<std::string> chosen = m_prompt.choose_files(request);
    if (chosen.empty() || chosen.front().empty()) return ListSaveResult::cancelled;
    file = with_list_extension(chosen.front());
  }

  // Step 6: save.
  set_status(tr("Saving..."));
  Status save_status;
  std::vector<std::string> unusable;
  {
    std::lock_guard lock(m_mutex);
    // Shown below, once the list is unlocked.
    m_share.unusable = m_list.unusable_paths();
    save_status = save_list_file(m_list, file, &m_share);
    if (save_status) unusable = m_list.unusable_paths();
  }
  show_list_status();
  if (!save_status.ok_or_show(m_prompt)) return ListSaveResult::save_failed;

  save_skipped(file, unusable);

  // Step 7: the completion message, with the error file when pictures failed.
  // The command line has no window to go back to: it says where the list is.
  std::string text =
      m_prompt.has_window()
          ? format(tr("You are ready to create a mosaic using this List of %ld images/videos. You can go back to the "
                      "Main Window"),
                   static_cast<long>(entries))
          : format(tr("the list of %ld images/videos is saved as '%s'"), static_cast<long>(entries), file);
  Icon icon = Icon::information;
  bool error_file_written = true;
  if (!unusable.empty() || !unreadable.empty()) {
    const std::string error_file = file + kErrorFileSuffix;
    // The folders that could not be read are named after the pictures.
    std::vector<std::string> lines = unusable;
    lines.insert(lines.end(), unreadable.begin(), unreadable.end());
    error_file_written = write_error_file(error_file, lines);
    if (!error_file_written) m_prompt.message(format(tr("Unable to save file '%s'"), error_file), Icon::error);
    {
      std::lock_guard lock(m_mutex);
      m_list.clear_unusable_paths();
    }
    // A file left from an earlier save names other pictures: it is not pointed to.
    if (error_file_written && !unusable.empty())
      text += ". " + format(tr("Unable to load and use %ld Images. Please see file %s for more information."),
                            static_cast<long>(unusable.size()), error_file);
    icon = Icon::warning;
  }
  if (!left_out.empty()) icon = Icon::warning;
  m_prompt.message(with_left_out(text, left_out), icon);
  return error_file_written ? ListSaveResult::saved : ListSaveResult::error_file_failed;
}

std::vector<std::string> ListAnalysis::report_unreadable_folders() {
  std::vector<TileImageList::UnreadableFolder> folders;
  {
    std::lock_guard lock(m_mutex);
    folders = m_list.unreadable_folders();
  }
  std::vector<std::string> lines;
  for (const TileImageList::UnreadableFolder& folder : folders) {
    // A list made anew knew nothing of the folder: how many pictures it
    // holds cannot be told.
    const bool is_folder = folder.folder.ends_with('/');
    std::string text;
    if (!is_folder)
      text = format("'%s' could not be read (%s): %s", error_file_line(folder.folder), folder.reason,
                    folder.kept.empty() ? "it is not listed" : "its entry is kept as the list had it");
    else if (folder.kept.empty())
      text = format("Folder '%s' could not be read (%s): no picture in it is listed, and how many it holds cannot "
                    "be told",
                    error_file_line(folder.folder), folder.reason);
    else
      text = format("Folder '%s' could not be read (%s): its %ld entries are kept as the list had them",
                    error_file_line(folder.folder), folder.reason, static_cast<long>(folder.kept.size()));
    m_prompt.message(text, Icon::warning);
    lines.push_back(folder.folder);
  }
  return lines;
}

void ListAnalysis::save_skipped(const std::string& file, const std::vector<std::string>& unusable) {
  std::vector<SkippedFile> skipped;
  {
    std::lock_guard lock(m_mutex);
    std::unordered_set<std::string_view> left_out(unusable.begin(), unusable.end());
    for (SkippedFile& known : m_skipped)
      if (left_out.contains(known.path)) skipped.push_back(std::move(known));
    m_skipped.clear();
  }
  const std::string side_file = file + kSkippedFileSuffix;
  // The list is saved all the same: without this file the next update only
  // reads the bad pictures again.
  if (!save_skipped_files(side_file, skipped))
    m_prompt.message(format(tr("Unable to save file '%s'"), side_file), Icon::warning);
}

ListSaveResult ListAnalysis::run(int thread_count, bool save_as, const std::function<void(ListAnalysis&)>& tick,
                                 std::chrono::milliseconds interval) {
  const ListSaveResult started = start(thread_count, save_as);
  if (started != ListSaveResult::started) return started;
  while (!wait(interval))
    if (tick) tick(*this);
  if (tick) tick(*this);
  return complete();
}

ListSaveResult analyse_and_save(TileImageList& list, int threads, Prompt& prompt, ListAnalysisFollower& follower,
                                std::chrono::milliseconds interval, int share_index, int share_count) {
  ListAnalysis analysis(list, prompt);
  analysis.set_share(share_index, share_count);
  analysis.set_status_observer([&](const std::string& text) { follower.status(analysis, text); });
  const ListSaveResult result =
      analysis.run(threads, false, [&follower](ListAnalysis& running) { follower.tick(running); }, interval);
  follower.finished(analysis, result);
  return result;
}

// --- the list window's commands ----------------------------------------------

bool list_changed(const ListAnalysis& analysis) {
  std::lock_guard lock(analysis.mutex());
  return analysis.list().changed();
}

void clear_list(ListAnalysis& analysis) {
  {
    std::lock_guard lock(analysis.mutex());
    TileImageList& list = analysis.list();
    list.clear();
    list.clear_unusable_paths();
    list.set_path({});
    list.set_black_and_white(false);
    list.set_changed(false);
    list.set_version(kListFileVersion);
  }
  analysis.set_status(
      tr("Please add at least one Folder to the Folder List below using Drag&Drop or the Add Folder button. Then "
         "press the Save List button."));
}

OpenListResult load_list(ListAnalysis& analysis, const std::string& file) {
  // The file is read into a list of its own, so no message is shown while
  // the list lock is held.
  TileImageList loaded;
  ListLoadResult result = ListLoadResult::unreadable;
  // A refusal is shown at once; `result` says how the load ended.
  (void)load_list_file(loaded, file, &result).ok_or_show(analysis.prompt());
  {
    std::lock_guard lock(analysis.mutex());
    analysis.list() = std::move(loaded);
  }
  analysis.show_list_status();
  if (result == ListLoadResult::refused) return OpenListResult::refused;
  if (result == ListLoadResult::unreadable) {
    (void)unreadable_list().ok_or_show(analysis.prompt());
    return OpenListResult::unreadable;
  }
  return analysis.list().needs_upgrade() ? OpenListResult::outdated : OpenListResult::opened;
}

std::string upgrade_question() {
  return tr("Your Images List was created using an older version, it needs to be upgraded. When the process is "
            "complete you will be asked to save the upgraded List. Do you want to continue?");
}

OpenListResult upgrade_list(ListAnalysis& analysis, int thread_count) {
  {
    std::lock_guard lock(analysis.mutex());
    analysis.list().clear_entries();
  }
  return analysis.start(thread_count, true) == ListSaveResult::started ? OpenListResult::upgrading
                                                                        : OpenListResult::cancelled;
}

OpenListResult forget_list(ListAnalysis& analysis) {
  {
    std::lock_guard lock(analysis.mutex());
    analysis.list().clear();
    analysis.list().set_path({});
  }
  analysis.show_list_status();
  return OpenListResult::upgrade_declined;
}

std::string black_and_white_question(const ListAnalysis& analysis, bool black_and_white) {
  {
    std::lock_guard lock(analysis.mutex());
    const TileImageList& list = analysis.list();
    if (list.black_and_white() == black_and_white || list.entry_count() == 0) return {};
  }
  return black_and_white ? tr("Are you sure you want to use the Black & White process to compare Images?")
                         : tr("Are you sure you want to use the Color process to compare Images? Note that you must "
                              "Analyze the images again.");
}

bool apply_black_and_white(ListAnalysis& analysis, bool black_and_white) {
  // Converting signatures while workers write them would mix both modes.
  if (analysis.active()) return false;
  {
    std::lock_guard lock(analysis.mutex());
    TileImageList& list = analysis.list();
    if (list.black_and_white() == black_and_white) return true;
    if (list.entry_count() == 0) {
      list.set_black_and_white(black_and_white);
      return true;
    }
    // Grey can be made from the colour samples; colour cannot be made from grey.
    if (black_and_white)
      list.for_each_entry([](FotoInfo& entry) { entry.signature.to_black_and_white(); });
    else
      list.clear_entries();
    list.set_black_and_white(black_and_white);
    list.set_changed(true);
  }
  analysis.show_list_status();
  return true;
}

void remove_selected(ListAnalysis& analysis, std::optional<FolderKind> view, const std::vector<std::string>& selected) {
  {
    std::lock_guard lock(analysis.mutex());
    TileImageList& list = analysis.list();
    for (const std::string& item : selected) {
      if (view) {
        list.remove_folder(*view, item);
        continue;
      }
      bool removed = false;
      for (FolderKind kind : {FolderKind::include, FolderKind::required, FolderKind::video})
        removed = list.remove_folder(kind, item) || removed;
      if (!removed) list.add_folder(FolderKind::exclude, item);
    }
    list.set_changed(true);
  }
  if (!view) analysis.prompt().message(tr("Please save the List to update the shown Images"), Icon::information);
  analysis.show_list_status();
}

}  // namespace tess
