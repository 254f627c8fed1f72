// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/list_progress.hpp"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "cli/cli_app.hpp"
#include "cli/interrupt.hpp"
#include "engine/run_threads.hpp"
#include "images/foto.hpp"
#include "settings/advanced_options.hpp"
#include "settings/configuration.hpp"
#include "tilelist/list_analysis.hpp"

namespace tess {
namespace {

constexpr std::chrono::milliseconds kInterruptPollInterval{100};

/// Progress on standard error: a live line on a terminal, one line per
/// status change on a pipe, or one JSON object per status change (and per
/// whole percent of the analysis) with --progress json.
class ProgressOutput : public ListAnalysisFollower {
 public:
  explicit ProgressOutput(ProgressStyle style)
      : m_terminal(::isatty(STDERR_FILENO) == 1), m_quiet(style == ProgressStyle::none) {
    if (style == ProgressStyle::json) m_json = std::make_unique<JsonProgressLog>();
  }

  void status(const ListAnalysis& analysis, const std::string& text) override {
    if (m_quiet) return;
    if (m_json) {
      const AnalysisProgress progress = analysis.progress();
      m_json->note(stage_of(progress), percent_of(progress), text);
      return;
    }
    if (m_terminal) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "%s\n", text.c_str());
    m_live = false;
  }

  void tick(ListAnalysis& analysis) override {
    if (InterruptGuard::interrupted()) analysis.request_stop();
    if (m_quiet) return;
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

  /// Ends the live line; the last JSON line says how the analysis and the
  /// save ended.
  void finished(const ListAnalysis& analysis, ListSaveResult result) override {
    finish_line();
    if (!m_json) return;
    const bool saved = result == ListSaveResult::saved;
    m_json->write_final(saved ? "finished" : result == ListSaveResult::stopped ? "stopped" : "failed",
                        percent_of(analysis.progress()), analysis.status_text());
  }

 private:
  void finish_line() {
    if (m_live) std::fputc('\n', stderr);
    m_live = false;
  }

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
  bool m_quiet;
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

}  // namespace

int analysis_thread_count(int requested) {
  ConfigFile config;
  AdvancedOptions options;
  options.initialise_all(true, config);
  // The analysis's threads share the decoding memory the options give.
  apply_decode_budget(options);
  if (requested > 0) return requested;
  return configured_thread_count(options, config);
}

int analyse_and_save_with_progress(TileImageList& list, int threads, Prompt& prompt, ProgressStyle style,
                                   int share_index, int share_count) {
  ProgressOutput output(style);
  InterruptGuard interrupts;
  // Polled more often than a window would, so Ctrl-C is answered at once.
  const ListSaveResult result =
      analyse_and_save(list, threads, prompt, output, kInterruptPollInterval, share_index, share_count);
  return exit_status(result, prompt);
}

}  // namespace tess
