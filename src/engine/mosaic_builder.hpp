#pragma once
// MosaicBuilder: the engine object of a run. It holds the parameters, the tile
// list in use and everything the stages publish for the window or terminal
// that follows the run: status text, progress, stop request, queued messages.
// Stages are functions taking the builder and returning success; they test
// stop_requested() in their long loops.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/prompt.hpp"
#include "engine/job_pool.hpp"
#include "engine/progress_model.hpp"
#include "images/foto.hpp"
#include "engine/puzzle.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

class TileImageList;

class MosaicBuilder {
 public:
  explicit MosaicBuilder(Prompt& prompt);
  ~MosaicBuilder();
  MosaicBuilder(const MosaicBuilder&) = delete;
  MosaicBuilder& operator=(const MosaicBuilder&) = delete;

  /// Everything the stages tell the user goes through here; the builder
  /// notes the last error shown, so a stage that gives up after reporting
  /// why leaves its reason for the run's outcome.
  Prompt& prompt() { return m_prompt; }

  // --- failure ------------------------------------------------------------
  /// A stage cannot go on: `text` is shown as an error and, the first time
  /// since clear_failure(), kept as the reason the run failed. A failure is
  /// not a stop: whoever follows the run tells the two apart.
  void fail(const std::string& text);
  /// The reason kept by fail(); empty when no stage failed.
  std::string failure() const;
  /// The last error message shown through prompt() since clear_failure().
  std::string last_error() const;
  /// Error messages shown through prompt() so far.
  long errors_shown() const;
  void clear_failure();
  /// After a parallel phase: a job that failed left work undone, so the
  /// stage fails with the reason (the mosaic's out-of-memory text when a job
  /// ran out of memory). Whether every job ran through.
  [[nodiscard]] bool jobs_succeeded(const JobsOutcome& outcome);

  MosaicParameters parameters;
  /// The list the run draws on; set by the run, not owned.
  const TileImageList* tile_list = nullptr;
  /// The cells of the current mosaic; freed at the end of every mosaic.
  PuzzleGrid grid{this};

  // --- stop ---------------------------------------------------------------
  [[nodiscard]] bool stop_requested() const { return m_stop.load(std::memory_order_relaxed); }
  void request_stop() { m_stop.store(true, std::memory_order_relaxed); }
  void clear_stop() { m_stop.store(false, std::memory_order_relaxed); }

  // --- status -------------------------------------------------------------
  /// Keeps at most 255 characters (whole UTF-8 characters), clears the
  /// refresh request and stores the code.
  void set_status(const std::string& text, int code = 0);
  std::string status() const;
  int status_code() const;
  /// Called with each new status text, on the thread that set it and outside
  /// the lock, so a follower can act at a given step of the run (a test
  /// stopping it there). Set it while no run goes.
  void set_status_observer(std::function<void(const std::string&)> observer) {
    m_status_observer = std::move(observer);
  }
  /// Set by whoever polls the progress text; long loops rewrite their status
  /// only while it is set.
  [[nodiscard]] bool status_refresh_requested() const { return m_refresh.load(std::memory_order_relaxed); }
  void request_status_refresh() { m_refresh.store(true, std::memory_order_relaxed); }

  // --- progress -----------------------------------------------------------
  void begin_progress_stage(int stage, double total);
  void add_progress(double amount);
  /// Called after each addition to the progress, on the thread that added
  /// it (a job pool thread too) and outside the lock. Set it while no run goes.
  void set_progress_observer(std::function<void()> observer) { m_progress_observer = std::move(observer); }
  void close_progress_stage();
  void reset_progress();
  void set_progress_weight(int stage, double weight);
  /// Stages 3 and 7 are shown as stage 8 from now on (a split was made).
  void move_progress_into_split_stage();
  /// A copy taken under the lock.
  ProgressModel progress() const;

  // --- batch --------------------------------------------------------------
  /// A new batch of `total` mosaics: counters, timer and finished flag reset.
  void begin_batch(int total);
  /// The start and the end of one mosaic of the batch; `completed` counts it done.
  void begin_mosaic();
  void end_mosaic(bool completed);
  /// The run timer: started when the batch begins, stopped when it ends.
  void end_batch();
  int done_count() const;
  int total_count() const;
  [[nodiscard]] bool running() const;

  /// The text and figure shown while a run goes on:
  /// "Completed 12.34%, Time 00:01:05, <status> 56.00%. Mosaic# 2/3 ".
  /// Asks long loops to refresh their status, as a poll of the run does.
  struct ProgressText {
    std::string text;
    double percent = 0;
  };
  ProgressText progress_text();
  /// The figure of progress_text() and the current progress stage (-1 for
  /// none), without asking long loops for a refresh: for a follower that
  /// reads them at each change of status.
  std::pair<double, int> batch_progress() const;

  // --- messages for the window or terminal that follows the run -----------
  /// A message the worker leaves for the polling thread, with an optional picture.
  struct QueuedMessage {
    std::string text;
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  ///< empty for a text-only message
  };
  void queue_message(QueuedMessage message);
  std::optional<QueuedMessage> take_message();

  // --- sketch: the mosaic as far as it is built ------------------------------
  /// A small picture of the mosaic of the run (see engine/mosaic_sketch.hpp).
  struct Sketch {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  ///< empty until the mosaic has cells to show
    int mosaic = 0;                     ///< counts the mosaics begun, so a follower sees a new one start
    std::uint64_t serial = 0;           ///< grows with every sketch published
  };
  /// Asked by whoever follows the run, on each poll: the worker draws a new
  /// sketch at its next chance. A run nobody asks draws none.
  void request_sketch() {
    m_sketch_watched.store(true, std::memory_order_relaxed);
    m_sketch_request.store(true, std::memory_order_relaxed);
  }
  [[nodiscard]] bool sketch_requested() const { return m_sketch_request.load(std::memory_order_relaxed); }
  /// The worker: draws the grid's cells and publishes them when a sketch was
  /// asked for, or with `always` whenever anybody follows (after a stage).
  void refresh_sketch(bool always = false);
  /// The worker: a band of the mosaic rendered at (x, y) goes into the sketch.
  void sketch_band(const Foto& band, int x, int y);
  /// A copy of the latest sketch, taken under the lock.
  Sketch sketch() const;

  /// Set at the end of a batch that completed at least one mosaic; taking it clears it.
  [[nodiscard]] bool take_finished();

  /// Tile pictures that failed to load during the run (reported at the end).
  void add_tile_load_failure() { m_tile_load_failures.fetch_add(1, std::memory_order_relaxed); }
  long tile_load_failures() const { return m_tile_load_failures.load(std::memory_order_relaxed); }

 private:
  /// The batch's percent; m_lock held.
  double batch_percent_locked() const;
  /// Forwards to the prompt of the run and remembers the last error it showed.
  class ErrorNotingPrompt final : public Prompt {
   public:
    explicit ErrorNotingPrompt(Prompt& target) : m_target(target) {}
    void message(const std::string& text, Icon icon) override;
    Answer ask(const std::string& text, Buttons buttons, Answer default_answer, Icon icon) override {
      return m_target.ask(text, buttons, default_answer, icon);
    }
    std::vector<std::string> choose_files(const FileRequest& request) override {
      return m_target.choose_files(request);
    }
    std::string choose_folder(const FolderRequest& request) override { return m_target.choose_folder(request); }
    void show_picture(const PictureView& view, const std::string& caption) override {
      m_target.show_picture(view, caption);
    }
    bool has_window() const override { return m_target.has_window(); }

    mutable std::mutex lock;
    std::string last_error;  // guarded by lock
    long errors = 0;         // guarded by lock

   private:
    Prompt& m_target;
  };

  ErrorNotingPrompt m_prompt;
  std::string m_failure;  // guarded by m_prompt.lock
  mutable std::mutex m_lock;  // status, progress and everything the polling thread reads
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_refresh{false};
  std::string m_status;
  int m_status_code = 0;
  std::function<void(const std::string&)> m_status_observer;
  ProgressModel m_progress;
  std::function<void()> m_progress_observer;

  int m_done_count = 0;
  int m_total_count = 0;
  bool m_mosaic_in_progress = false;
  bool m_last_mosaic_completed = false;  ///< the mosaic that ended last counts among the done ones
  bool m_running = false;
  bool m_finished = false;
  std::chrono::steady_clock::time_point m_start_tick{};
  long long m_accumulated_ms = 0;
  std::deque<QueuedMessage> m_messages;
  std::atomic<long> m_tile_load_failures{0};

  // The sketch: drawn by the worker alone into m_sketch_canvas, copied under
  // the lock into m_sketch, which the follower copies out on its poll.
  void publish_sketch();
  std::atomic<bool> m_sketch_request{false};
  std::atomic<bool> m_sketch_watched{false};
  Foto m_sketch_canvas;
  double m_sketch_scale = 0;
  Sketch m_sketch;
};

}  // namespace tess
