#include "engine/mosaic_builder.hpp"

#include <utility>

#include "base/text.hpp"
#include "engine/mosaic_sketch.hpp"

namespace tess {
namespace {

constexpr std::size_t kMaxStatusCharacters = 255;

// The first `limit` characters of a UTF-8 text, never cutting one in two.
std::string first_characters(const std::string& text, std::size_t limit) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == limit) return text.substr(0, i);
      ++chars;
    }
  }
  return text;
}

}  // namespace

MosaicBuilder::MosaicBuilder(Prompt& prompt) : m_prompt(prompt) {}

MosaicBuilder::~MosaicBuilder() = default;

void MosaicBuilder::ErrorNotingPrompt::message(const std::string& text, Icon icon) {
  if (icon == Icon::error) {
    std::lock_guard guard(lock);
    last_error = text;
    ++errors;
  }
  m_target.message(text, icon);
}

void MosaicBuilder::fail(const std::string& text) {
  if (text.empty()) return;
  {
    std::lock_guard guard(m_prompt.lock);
    if (m_failure.empty()) m_failure = text;
  }
  m_prompt.message(text, Icon::error);
}

std::string MosaicBuilder::failure() const {
  std::lock_guard guard(m_prompt.lock);
  return m_failure;
}

std::string MosaicBuilder::last_error() const {
  std::lock_guard guard(m_prompt.lock);
  return m_prompt.last_error;
}

long MosaicBuilder::errors_shown() const {
  std::lock_guard guard(m_prompt.lock);
  return m_prompt.errors;
}

bool MosaicBuilder::jobs_succeeded(const JobsOutcome& outcome) {
  if (outcome.ok()) return true;
  fail(failed_jobs_text(outcome, grid.pixel_width(), grid.pixel_height()));
  return false;
}

void MosaicBuilder::clear_failure() {
  std::lock_guard guard(m_prompt.lock);
  m_failure.clear();
  m_prompt.last_error.clear();
}

void MosaicBuilder::set_status(const std::string& text, int code) {
  std::string kept = first_characters(text, kMaxStatusCharacters);
  {
    std::lock_guard lock(m_lock);
    m_status = kept;
    m_status_code = code;
    m_refresh.store(false, std::memory_order_relaxed);
  }
  if (m_status_observer) m_status_observer(kept);
}

std::string MosaicBuilder::status() const {
  std::lock_guard lock(m_lock);
  return m_status;
}

int MosaicBuilder::status_code() const {
  std::lock_guard lock(m_lock);
  return m_status_code;
}

void MosaicBuilder::begin_progress_stage(int stage, double total) {
  std::lock_guard lock(m_lock);
  m_progress.begin_stage(stage, total);
}

void MosaicBuilder::add_progress(double amount) {
  {
    std::lock_guard lock(m_lock);
    m_progress.add_progress(amount);
  }
  if (m_progress_observer) m_progress_observer();
}

void MosaicBuilder::close_progress_stage() {
  std::lock_guard lock(m_lock);
  m_progress.close_stage();
}

void MosaicBuilder::reset_progress() {
  std::lock_guard lock(m_lock);
  m_progress.reset();
}

void MosaicBuilder::set_progress_weight(int stage, double weight) {
  std::lock_guard lock(m_lock);
  m_progress.set_weight(stage, weight);
}

void MosaicBuilder::move_progress_into_split_stage() {
  std::lock_guard lock(m_lock);
  m_progress.close_stage();
  m_progress.move_into(kStageSplitPlacement, kStageMainImageAnalysis);
  m_progress.move_into(kStageSplitPlacement, kStagePlacement);
}

ProgressModel MosaicBuilder::progress() const {
  std::lock_guard lock(m_lock);
  return m_progress;
}

void MosaicBuilder::begin_batch(int total) {
  std::lock_guard lock(m_lock);
  m_done_count = 0;
  m_total_count = total;
  m_mosaic_in_progress = false;
  m_last_mosaic_completed = false;
  m_finished = false;
  m_running = true;
  m_accumulated_ms = 0;
  m_start_tick = std::chrono::steady_clock::now();
  m_tile_load_failures.store(0, std::memory_order_relaxed);
}

void MosaicBuilder::begin_mosaic() {
  m_sketch_canvas.clear();
  m_sketch_scale = 0;
  std::lock_guard lock(m_lock);
  m_mosaic_in_progress = true;
  m_progress.reset();
  m_sketch.pixels.clear();
  m_sketch.width = m_sketch.height = 0;
  ++m_sketch.mosaic;
  ++m_sketch.serial;
}

void MosaicBuilder::refresh_sketch(bool always) {
  if (!m_sketch_watched.load(std::memory_order_relaxed)) return;
  if (!always && !m_sketch_request.load(std::memory_order_relaxed)) return;
  m_sketch_scale = sketch_scale(grid.pixel_width(), grid.pixel_height());
  if (m_sketch_scale <= 0 || !sketch_cells(grid, m_sketch_scale, m_sketch_canvas)) return;
  publish_sketch();
}

void MosaicBuilder::sketch_band(const Foto& band, int x, int y) {
  if (m_sketch_canvas.empty() || !m_sketch_watched.load(std::memory_order_relaxed)) return;
  tess::sketch_band(band, x, y, m_sketch_scale, m_sketch_canvas);
  // The bands arrive faster than anybody looks: only the asked-for ones go out.
  if (m_sketch_request.load(std::memory_order_relaxed)) publish_sketch();
}

void MosaicBuilder::publish_sketch() {
  m_sketch_request.store(false, std::memory_order_relaxed);
  std::lock_guard lock(m_lock);
  m_sketch.width = m_sketch_canvas.width();
  m_sketch.height = m_sketch_canvas.height();
  m_sketch.pixels.assign(m_sketch_canvas.pixels(), m_sketch_canvas.pixels() + m_sketch_canvas.pixel_count());
  ++m_sketch.serial;
}

MosaicBuilder::Sketch MosaicBuilder::sketch() const {
  std::lock_guard lock(m_lock);
  return m_sketch;
}

void MosaicBuilder::end_mosaic(bool completed) {
  std::lock_guard lock(m_lock);
  // Stages a mosaic had no use for (no neighbour lists, nothing to insert)
  // must not keep a finished mosaic below 100 %.
  if (completed)
    m_progress.complete();
  else
    m_progress.close_stage();
  m_mosaic_in_progress = false;
  m_last_mosaic_completed = completed;
  if (completed) ++m_done_count;
}

void MosaicBuilder::end_batch() {
  std::lock_guard lock(m_lock);
  if (m_running) {
    m_accumulated_ms += std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                               m_start_tick)
                            .count();
  }
  m_running = false;
  m_mosaic_in_progress = false;
  if (m_done_count > 0) m_finished = true;
}

int MosaicBuilder::done_count() const {
  std::lock_guard lock(m_lock);
  return m_done_count;
}

int MosaicBuilder::total_count() const {
  std::lock_guard lock(m_lock);
  return m_total_count;
}

bool MosaicBuilder::running() const {
  std::lock_guard lock(m_lock);
  return m_running;
}

double MosaicBuilder::batch_percent_locked() const {
  if (m_total_count == 0) return 0;
  // Between mosaics the one that ended last is in the progress model; it is
  // among the done ones only when it was completed. One that stopped keeps
  // the figure it reached instead of falling back below the mosaics before it.
  int finished_before = m_done_count - (!m_mosaic_in_progress && m_last_mosaic_completed ? 1 : 0);
  double percent = (finished_before * 100.0 + m_progress.overall_percent()) / m_total_count;
  return percent < 0 ? 0 : percent;
}

std::pair<double, int> MosaicBuilder::batch_progress() const {
  std::lock_guard lock(m_lock);
  return {batch_percent_locked(), m_progress.current_stage()};
}

MosaicBuilder::ProgressText MosaicBuilder::progress_text() {
  std::lock_guard lock(m_lock);
  ProgressText result;
  // 1. No batch: the status alone.
  if (m_total_count == 0) {
    result.text = m_status;
    return result;
  }
  // 2. Ask long loops for a fresh status; the stage's own figure when it has one.
  m_refresh.store(true, std::memory_order_relaxed);
  m_status_code = 0;
  double stage_percent = m_progress.stage_percent();
  // 3. The batch's figure: whole mosaics done plus the current one's share.
  result.percent = batch_percent_locked();
  // 4. The status with the stage figure and the batch position.
  std::string text = m_status;
  if (!text.empty() && stage_percent >= 0) text += format(" %.2f%%", stage_percent);
  text += ".";
  if (m_total_count > 1)
    text += format(" Mosaic# %d/%d ", m_done_count + (m_mosaic_in_progress ? 1 : 0), m_total_count);
  // 5. The overall figure and the elapsed time in front.
  long long ms = m_accumulated_ms;
  if (m_running)
    ms += std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start_tick)
              .count();
  long long seconds = ms / 1000;
  std::string elapsed = format("%02d:%02d:%02d", static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                               static_cast<int>(seconds % 60));
  result.text = format(tr("Completed %.2f%%, Time %s, "), result.percent, elapsed) + text;
  return result;
}

void MosaicBuilder::queue_message(QueuedMessage message) {
  std::lock_guard lock(m_lock);
  m_messages.push_back(std::move(message));
}

std::optional<MosaicBuilder::QueuedMessage> MosaicBuilder::take_message() {
  std::lock_guard lock(m_lock);
  if (m_messages.empty()) return std::nullopt;
  QueuedMessage m = std::move(m_messages.front());
  m_messages.pop_front();
  return m;
}

bool MosaicBuilder::take_finished() {
  std::lock_guard lock(m_lock);
  return std::exchange(m_finished, false);
}

}  // namespace tess
