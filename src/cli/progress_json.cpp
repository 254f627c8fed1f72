#include "cli/progress_json.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>


namespace tess {
namespace {

// Figures are rounded to what a reader can use; they change often enough.
double rounded(double value, double per_unit) {
  if (!std::isfinite(value)) return 0;
  return std::round(value * per_unit) / per_unit;
}

}  // namespace

void add_progress_option(CLI::App& command, ProgressStyle& style) {
  const CLI::Validator known(
      [](std::string& value) -> std::string {
        if (value == "text" || value == "json") return {};
        return "takes text or json, not '" + value + "'";
      },
      "text|json");
  command
      .add_option_function<std::string>(
          "--progress", [&style](const std::string& value) { style = value == "json" ? ProgressStyle::json : ProgressStyle::text; },
          "Progress on standard error: text (a live line, or a line per status on a pipe) or json (one JSON object "
          "per status change, the last one the final state) (default: text)")
      ->type_name("text|json")
      ->check(known);
}

std::string progress_json(const ProgressEvent& event) {
  nlohmann::ordered_json line;
  line["state"] = event.state;
  line["stage"] = event.stage;
  line["percent"] = rounded(std::clamp(event.percent, 0.0, 100.0), 100);
  line["status"] = event.status;
  line["elapsed"] = rounded(std::max(event.elapsed, 0.0), 1000);
  // Paths in a status need not be UTF-8; the line must stay valid JSON.
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

JsonProgressLog::JsonProgressLog(std::FILE* out) : m_out(out), m_start(std::chrono::steady_clock::now()) {}

double JsonProgressLog::elapsed() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void JsonProgressLog::note(const std::string& stage, double percent, const std::string& status) {
  const std::lock_guard lock(m_mutex);
  const std::string& kept_stage = stage.empty() ? m_stage : stage;
  const std::string& kept_status = status.empty() ? m_status : status;
  if (std::isfinite(percent)) m_percent = std::max(m_percent, percent);
  if (kept_status == m_status && kept_stage == m_stage && m_percent < m_written_percent + 1) return;
  m_stage = kept_stage;
  m_status = kept_status;
  m_written_percent = m_percent;
  ProgressEvent event;
  event.stage = m_stage;
  event.percent = m_percent;
  event.status = m_status;
  event.elapsed = elapsed();
  m_pending.push_back(std::move(event));
}

void JsonProgressLog::write_pending() {
  std::vector<ProgressEvent> pending;
  {
    const std::lock_guard lock(m_mutex);
    pending.swap(m_pending);
  }
  for (const ProgressEvent& event : pending) write(event);
}

void JsonProgressLog::write_final(const char* state, double percent, const std::string& status) {
  write_pending();
  ProgressEvent event;
  event.state = state;
  {
    const std::lock_guard lock(m_mutex);
    event.stage = m_stage;
    event.percent = std::isfinite(percent) ? std::max(m_percent, percent) : m_percent;
  }
  event.status = status;
  event.elapsed = elapsed();
  write(event);
}

void JsonProgressLog::write(const ProgressEvent& event) {
  // One call a line: messages from other threads never cut into it.
  const std::string line = progress_json(event) + "\n";
  std::fwrite(line.data(), 1, line.size(), m_out);
  std::fflush(m_out);
}

}  // namespace tess
