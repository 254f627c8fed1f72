#include "engine/run_controller.hpp"

#include <malloc.h>

#include <filesystem>
#include <system_error>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/run_plan.hpp"
#include "engine/run_threads.hpp"
#include "settings/advanced_options.hpp"

namespace tess {

RunController::RunController(MosaicBuilder& builder, FinalActions actions)
    : m_builder(builder), m_actions(std::move(actions)) {}

RunController::~RunController() {
  if (m_worker.joinable()) {
    m_builder.request_stop();
    m_worker.join();
  }
}

bool RunController::running() const { return m_worker_running.load(std::memory_order_acquire); }

bool RunController::start(std::function<void(MosaicBuilder&)> work, ThreadPriority priority) {
  if (!request_stop()) return false;
  if (m_worker.joinable()) m_worker.join();
  m_builder.clear_stop();
  m_worker_running.store(true, std::memory_order_release);
  try {
    start_worker(std::move(work), priority);
  } catch (const std::system_error&) {
    // No memory left for the thread's stack (or no thread left at all).
    m_worker_running.store(false, std::memory_order_release);
    return false;
  }
  return true;
}

void RunController::start_worker(std::function<void(MosaicBuilder&)> work, ThreadPriority priority) {
  m_worker = std::thread([this, work = std::move(work), priority] {
    apply_thread_priority(priority);
    work(m_builder);
    m_builder.grid.free();
    // Give the memory of a finished batch back to the system.
    ::malloc_trim(0);
    {
      std::lock_guard lock(m_end_lock);
      m_worker_running.store(false, std::memory_order_release);
    }
    m_end_signal.notify_all();
  });
}

bool RunController::request_stop() {
  if (!running()) return true;
  Prompt& prompt = m_builder.prompt();
  if (m_builder.stop_requested()) {
    prompt.message(tr("Stopping the Mosaic Process. Please Wait..."), Icon::warning);
    return false;
  }
  // A front end without a window stops its run itself (Ctrl-C on the command line).
  if (prompt.has_window() &&
      prompt.ask(tr("There is a Mosaic process running. Do you want to stop it?"), Buttons::yes_no, Answer::no,
                 Icon::question) == Answer::yes)
    m_builder.request_stop();
  return false;
}

MosaicBuilder::ProgressText RunController::poll() {
  MosaicBuilder::ProgressText progress = m_builder.progress_text();
  if (auto message = m_builder.take_message()) {
    if (!message->pixels.empty()) {
      m_builder.prompt().show_picture(PictureView{message->width, message->height, message->pixels.data()},
                                      message->text);
    } else {
      m_builder.prompt().message(message->text, Icon::warning);
    }
  }
  // The flag stays with the builder until the worker has ended, so a poll
  // in between never loses the final action.
  if (!running() && m_builder.take_finished()) run_final_actions();
  return progress;
}

void RunController::wait() {
  if (m_worker.joinable()) m_worker.join();
}

bool RunController::wait_for(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_end_lock);
  return m_end_signal.wait_for(lock, timeout, [this] { return !running(); });
}

void RunController::set_outputs(std::string destination_folder, std::string web_page) {
  std::lock_guard lock(m_outputs_lock);
  m_destination_folder = std::move(destination_folder);
  m_web_page = std::move(web_page);
}

void RunController::run_final_actions() {
  Prompt& prompt = m_builder.prompt();
  if (long failures = m_builder.tile_load_failures(); failures > 0) {
    prompt.message(format(tr("About %ld Tile Images where not loaded due to a File Error. Your Mosaic will have "
                             "missing tiles. Please save again your Tile Images List and then build again your "
                             "Mosaic."),
                          failures),
                   Icon::warning);
  }
  // "nothing" means nothing: no sound, no browser window, no question.
  const std::string action = m_builder.parameters.advanced.value(kOptFinalAction);
  if (action == "nothing") return;
  if (m_actions.beep) m_actions.beep();
  std::string folder, page;
  {
    std::lock_guard lock(m_outputs_lock);
    folder = m_destination_folder;
    page = m_web_page;
  }
  if (!page.empty() && m_actions.open_page) m_actions.open_page(page);
  if (action == "openfolder") {
    if (m_actions.open_folder) m_actions.open_folder(folder);
  } else if (prompt.has_window()) {  // "ask", the factory value, and anything unknown
    // Without a window there is no folder to open: the command line prints
    // the files it wrote instead.
    if (prompt.ask(tr("Mosaic completed! Do you want to open the destination folder?"), Buttons::yes_no,
                   Answer::no, Icon::question) == Answer::yes &&
        m_actions.open_folder)
      m_actions.open_folder(folder);
  }
}

bool start_planned_run(RunController& controller, MosaicBuilder& builder, RunPlan& plan, const ConfigFile& config,
                       const RunOutputsFor& outputs_for) {
  builder.parameters = plan.parameters;
  MosaicRun& run = plan.run;
  run.threads = configured_thread_count(builder.parameters.advanced, config);
  apply_decode_budget(builder.parameters.advanced);
  const ThreadPriority priority = configured_priority(builder.parameters.advanced);
  const RunOutputs outputs = outputs_for(run.threads, priority);
  return controller.start(
      [&controller, &plan, outputs](MosaicBuilder& worker_builder) {
        run_batch(worker_builder, plan.list, plan.run, outputs);
        // The final action opens the folder (and the web page) of the last mosaic written.
        for (const auto& [image, result] : plan.run.results)
          if (result.success)
            controller.set_outputs(std::filesystem::path(result.destination).parent_path().string(),
                                   result.result_file);
      },
      priority);
}

}  // namespace tess
