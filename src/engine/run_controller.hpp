#pragma once
// Follows a mosaic run for whoever shows it (the command line now, the main
// window later): starts the worker thread, polls the progress text twice a
// second, hands queued messages to the prompt one per poll, asks before
// stopping, and carries out the final action when a batch has finished.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <functional>
#include <string>
#include <thread>

#include "engine/mosaic_builder.hpp"
#include "engine/run_driver.hpp"
#include "engine/thread_priority.hpp"

namespace tess {

class ConfigFile;
struct RunPlan;

class RunController {
 public:
  /// What the front end does at the end of a batch.
  struct FinalActions {
    std::function<void()> beep;
    std::function<void(const std::string& folder)> open_folder;
    std::function<void(const std::string& page)> open_page;
  };

  static constexpr int kPollIntervalMs = 500;

  RunController(MosaicBuilder& builder, FinalActions actions);
  /// Waits for a worker still running (after asking it to stop).
  ~RunController();
  RunController(const RunController&) = delete;
  RunController& operator=(const RunController&) = delete;

  /// Starts `work` (the run driver) on the worker thread at `priority`.
  /// False when a run is going and the user did not let it be replaced, or
  /// when no thread could be made for it (no memory left for its stack).
  [[nodiscard]] bool start(std::function<void(MosaicBuilder&)> work, ThreadPriority priority);

  /// True while the worker thread runs.
  [[nodiscard]] bool running() const;

  /// Whether the caller may go on (no run going). During a run it asks
  /// "There is a Mosaic process running. Do you want to stop it?" and raises
  /// the stop request on Yes; a second request only says the run is stopping.
  /// A prompt without a window is not asked: the run goes on.
  bool request_stop();

  /// One tick of the poll: the progress text, one queued message, and the
  /// final actions once the batch has finished and the worker has ended (a
  /// poll in between leaves them for the next one).
  MosaicBuilder::ProgressText poll();

  /// Blocks until the worker thread has ended.
  void wait();
  /// Blocks until the worker thread has ended or `timeout` has passed, so a
  /// caller that follows the run sees its end at once; whether it has ended.
  bool wait_for(std::chrono::milliseconds timeout);

  /// The destination folder and web page of the last mosaic (set by the run).
  void set_outputs(std::string destination_folder, std::string web_page);

 private:
  void start_worker(std::function<void(MosaicBuilder&)> work, ThreadPriority priority);
  void run_final_actions();

  MosaicBuilder& m_builder;
  FinalActions m_actions;
  std::thread m_worker;
  std::atomic<bool> m_worker_running{false};
  std::mutex m_end_lock;
  std::condition_variable m_end_signal;
  std::mutex m_outputs_lock;
  std::string m_destination_folder;
  std::string m_web_page;
};

/// Names the outputs of a run that takes `threads` threads at `priority`
/// (the front end's own output options: its file name, split size, ...).
using RunOutputsFor = std::function<RunOutputs(int threads, ThreadPriority priority)>;

/// Starts a planned run on the controller's worker, the same way for both
/// front ends: the builder takes the plan's parameters, the run its threads
/// from the advanced options and `config`, the decoders their memory budget;
/// the worker builds the batch with the outputs `outputs_for` names, then
/// leaves the folder and page of the last mosaic written for the final
/// action. `plan` must outlive the run. False when it did not start (see
/// RunController::start).
[[nodiscard]] bool start_planned_run(RunController& controller, MosaicBuilder& builder, RunPlan& plan,
                                     const ConfigFile& config, const RunOutputsFor& outputs_for);

}  // namespace tess
