#include "app/update_check_worker.hpp"

#include <atomic>
#include <ctime>
#include <mutex>
#include <thread>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <curl/curl.h>

#include "app/update_check.hpp"
#include "base/paths.hpp"
#include "settings/configuration.hpp"
#include "settings/user_state.hpp"

namespace tess {
namespace {

// Only the GUI thread starts and reports checks; the flag is atomic so that
// nobody has to know that.
std::atomic<bool> g_check_running{false};

void open_in_browser(const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }

// One check: owns its thread, and lives as a child of the window that asked
// for it, so a window closed mid-check takes the check with it.
class UpdateCheckJob final : public QObject {
 public:
  UpdateCheckJob(QObject* parent, ConfigFile config, Prompt& prompt, PackageInfo package, UpdateCheckPlan plan)
      : QObject(parent),
        m_config(std::move(config)),
        m_prompt(prompt),
        m_package(std::move(package)),
        m_plan(plan),
        m_url(update_request_url(m_package.update_base, update_version_text(), m_plan.beta)) {}

  ~UpdateCheckJob() override {
    // Makes a transfer still in progress give up, so closing never waits
    // out a slow network.
    m_abort = true;
    if (m_thread.joinable()) m_thread.join();
    if (!m_reported) g_check_running = false;
  }

  UpdateCheckJob(const UpdateCheckJob&) = delete;
  UpdateCheckJob& operator=(const UpdateCheckJob&) = delete;

  void start() {
    m_thread = std::thread([this] {
      UpdateTransfer transfer = fetch_update_answer(m_url, &m_abort);
      // Queued to this object: if it is destroyed first, the call is dropped with it.
      QMetaObject::invokeMethod(
          this, [this, transfer = std::move(transfer)] { finish(transfer); }, Qt::QueuedConnection);
    });
  }

 private:
  void finish(const UpdateTransfer& transfer) {
    if (m_thread.joinable()) m_thread.join();
    report_update_result(transfer, m_plan, m_package, UserState(m_config), m_prompt, open_in_browser,
                         static_cast<std::int64_t>(std::time(nullptr)));
    // Cleared only after the messages, so no second check opens its own
    // message box on top of this one's.
    m_reported = true;
    g_check_running = false;
    deleteLater();
  }

  ConfigFile m_config;
  Prompt& m_prompt;
  PackageInfo m_package;
  UpdateCheckPlan m_plan;
  std::string m_url;
  std::atomic<bool> m_abort{false};
  bool m_reported = false;
  std::thread m_thread;
};

}  // namespace

bool start_update_check(QWidget* parent, const ConfigFile& config, Prompt& prompt, bool manual) {
  // Taken before the first-run question: its message box runs an event
  // loop in which the timer or "Check Now" could start a second check.
  if (g_check_running.exchange(true)) return false;
  // libcurl's global set-up must not race with a transfer; once is enough
  // for the life of the program.
  static std::once_flag curl_ready;
  std::call_once(curl_ready, [] { curl_global_init(CURL_GLOBAL_ALL); });

  const PackageInfo package = read_package_info(data_folder());
  const UserState state(config);
  const UpdateCheckPlan plan =
      prepare_update_check(state, prompt, package, manual, static_cast<std::int64_t>(std::time(nullptr)));
  if (!plan.run) {
    g_check_running = false;
    return false;
  }

  QObject* owner = parent != nullptr ? static_cast<QObject*>(parent) : QCoreApplication::instance();
  auto* job = new UpdateCheckJob(owner, config, prompt, package, plan);
  job->start();
  return true;
}

bool update_check_running() { return g_check_running; }

}  // namespace tess
