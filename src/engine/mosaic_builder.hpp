#pragma once
// MosaicBuilder: the engine object of a run. It holds the parameters, the tile
// list in use and everything the stages publish for the window or terminal
// that follows the run: status text, progress, stop request, queued messages.
// Stages are functions taking the builder and returning success; they test
// stop_requested() in their long loops.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/progress_model.hpp"
#include "engine/puzzle.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

class Prompt;
class TileImageList;

class MosaicBuilder {
 public:
  explicit MosaicBuilder(Prompt& prompt);
  ~MosaicBuilder();
  MosaicBuilder(const MosaicBuilder&) = delete;
  MosaicBuilder& operator=(const MosaicBuilder&) = delete;

  Prompt& prompt() { return m_prompt; }

  MosaicParameters parameters;
  /// The list the run draws on; set by the run, not owned.
  const TileImageList* tile_list = nullptr;
  /// The cells of the current mosaic; freed at the end of every mosaic.
  PuzzleGrid grid{this};

  // --- stop ---------------------------------------------------------------
  bool stop_requested() const { return m_stop.load(std::memory_order_relaxed); }
  void request_stop() { m_stop.store(true, std::memory_order_relaxed); }
  void clear_stop() { m_stop.store(false, std::memory_order_relaxed); }

  // --- status -------------------------------------------------------------
  /// Keeps at most 255 characters (whole UTF-8 characters), clears the
  /// refresh request and stores the code.
  void set_status(const std::string& text, int code = 0);
  std::string status() const;
  int status_code() const;
  /// Set by whoever polls the progress text; long loops rewrite their status
  /// only while it is set.
  bool status_refresh_requested() const { return m_refresh.load(std::memory_order_relaxed); }
  void request_status_refresh() { m_refresh.store(true, std::memory_order_relaxed); }

  // --- progress -----------------------------------------------------------
  void begin_progress_stage(int stage, double total);
  void add_progress(double amount);
  void close_progress_stage();
  void reset_progress();
  /// A copy taken under the lock.
  ProgressModel progress() const;

 private:
  Prompt& m_prompt;
  mutable std::mutex m_lock;  // status, progress and everything the polling thread reads
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_refresh{false};
  std::string m_status;
  int m_status_code = 0;
  ProgressModel m_progress;
};

}  // namespace tess
