#pragma once
// Machine-readable progress for scripts and other front ends: with
// `--progress json` the list and mosaic commands write one JSON object a line
// on standard error for every change of status, and a last one that says how
// the job ended.

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tess {

enum class ProgressStyle {
  text,  ///< a live line on a terminal, one line per status change on a pipe
  json,  ///< one JSON object per status change
  none,  ///< nothing, as --quiet asks
};

/// Adds `--progress text|json` to `command`; any other value is a usage error
/// that names the values taken.
void add_progress_option(CLI::App& command, ProgressStyle& style);

/// One line of the log.
struct ProgressEvent {
  const char* state = "running";  ///< "running", then "finished", "stopped" or "failed"
  std::string stage;
  double percent = 0;     ///< 0..100 of the whole job
  std::string status;     ///< the status text as the terminal shows it
  double elapsed = 0;     ///< seconds since the job started
};

/// The event as one line of JSON, without the line break:
/// {"state":"running","stage":"placement","percent":42.5,"status":"...","elapsed":12.3}.
/// Bytes of the status that are not UTF-8 become U+FFFD.
std::string progress_json(const ProgressEvent& event);

/// Writes the lines of one job. Each status is noted, from any thread, with
/// the stage and figure of that moment; the thread that follows the job
/// writes the lines, so a slow reader never holds up the work.
class JsonProgressLog {
 public:
  explicit JsonProgressLog(std::FILE* out = stderr);

  /// A new status in `stage` at `percent`. An empty stage or status keeps the
  /// last one. A repeat of the last status in the same stage is dropped
  /// unless the figure went on by a whole point since the last line, so a
  /// long step without new statuses (writing a large file) still shows it
  /// moving. The figure never goes back: a job that stops keeps the one it
  /// reached.
  void note(const std::string& stage, double percent, const std::string& status);
  /// Writes the lines noted since the last call.
  void write_pending();
  /// Writes what is pending, then the last line: how the job ended
  /// ("finished", "stopped" or "failed"), in the stage it ended in, at
  /// `percent` or the figure reached before when that is higher.
  void write_final(const char* state, double percent, const std::string& status);

 private:
  double elapsed() const;
  void write(const ProgressEvent& event);

  std::FILE* m_out;
  const std::chrono::steady_clock::time_point m_start;
  std::mutex m_mutex;
  std::vector<ProgressEvent> m_pending;  // guarded by m_mutex
  std::string m_stage = "starting";      // guarded by m_mutex: the stage of the last note
  std::string m_status;                  // guarded by m_mutex: the status of the last note
  double m_percent = 0;                  // guarded by m_mutex: the highest figure noted
  double m_written_percent = 0;          // guarded by m_mutex: the figure of the last line noted
};

}  // namespace tess
