#include "app/update_check.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

#include <QCoreApplication>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include "app/update_check_worker.hpp"
#include "base/scripted_prompt.hpp"
#include "settings/user_state.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

using testing::ScopedEnv;
using testing::TempDir;
using testing::write_file;

constexpr std::int64_t kDay = 24 * 3600;

// A one-page HTTP server on 127.0.0.1 that answers every request with the
// same body and remembers what it was asked.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::string body, int delay_ms = 0) : m_body(std::move(body)), m_delay_ms(delay_ms) {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(m_fd, 8) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "no loopback socket";
      return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
  }

  ~LoopbackServer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    ::close(m_fd);
  }

  std::string base_url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }
  int requests() const { return m_requests; }
  std::string last_request_line() const {
    std::lock_guard lock(m_mutex);
    return m_last_line;
  }

 private:
  void serve() {
    while (!m_stop) {
      pollfd waiting{m_fd, POLLIN, 0};
      if (::poll(&waiting, 1, 20) <= 0) continue;
      const int client = ::accept(m_fd, nullptr, nullptr);
      if (client < 0) continue;
      std::string request;
      char buffer[1024];
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd reading{client, POLLIN, 0};
        if (::poll(&reading, 1, 2000) <= 0) break;
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        request.append(buffer, static_cast<std::size_t>(got));
      }
      {
        std::lock_guard lock(m_mutex);
        m_last_line = request.substr(0, request.find("\r\n"));
      }
      ++m_requests;
      if (m_delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(m_delay_ms));
      const std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                                 std::to_string(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body;
      (void)::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
      ::close(client);
    }
  }

  std::string m_body;
  int m_delay_ms;
  int m_fd = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_requests{0};
  mutable std::mutex m_mutex;
  std::string m_last_line;
  std::thread m_thread;
};

// A port nothing listens on: bound once, then released.
int unused_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Runs the GUI thread's events until the check has reported.
bool wait_for_check() {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (update_check_running() && std::chrono::steady_clock::now() < give_up) {
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  QCoreApplication::processEvents();
  return !update_check_running();
}

std::int64_t now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// A data folder whose package.txt sends the check to `base`, and a
// configuration file of its own.
struct CheckSetup {
  explicit CheckSetup(const std::string& base, const std::string& extra = {})
      : data_env("TESSELLARIUM_DATA_DIR", data.path().string()), config(data / "TessellariumConfig.txt") {
    write_file(data / "package.txt", "[package]\nUpdateHost = " + base + "\n" + extra);
  }
  TempDir data;
  ScopedEnv data_env;
  ConfigFile config;
  UserState state() const { return UserState(config); }
};

std::string latest_answer(const std::string& version) {
  return "<?xml version=\"1.0\"?>\n<version>\n  <latest>" + version + "</latest>\n</version>\n";
}

// --- schedule --------------------------------------------------------------

TEST(UpdateSchedule, CodesIntervalsAndBeta) {
  EXPECT_EQ(effective_schedule_code(0), 0);
  EXPECT_EQ(effective_schedule_code(7), 3);
  EXPECT_EQ(effective_schedule_code(-2), 3);
  EXPECT_EQ(effective_schedule_code(5), 5);
  EXPECT_FALSE(update_interval_days(1));
  EXPECT_EQ(*update_interval_days(2), 30.0);
  EXPECT_EQ(*update_interval_days(3), 15.0);
  EXPECT_EQ(*update_interval_days(4), 2.0);
  EXPECT_EQ(*update_interval_days(5), 7.0);
  EXPECT_EQ(*update_interval_days(6), 15.0);
  EXPECT_EQ(*update_interval_days(42), 15.0);  // counts as 3
  EXPECT_FALSE(update_schedule_is_beta(3));
  EXPECT_TRUE(update_schedule_is_beta(4));
  EXPECT_TRUE(update_schedule_is_beta(6));
  ASSERT_EQ(update_schedule_choices().size(), 6u);
  EXPECT_STREQ(update_schedule_choices()[1].label, "every two weeks");
  EXPECT_EQ(update_schedule_choices()[1].code, 3);
  EXPECT_EQ(update_schedule_choices()[2].code, 2);
}

TEST(UpdateSchedule, AutomaticChecksWaitOutTheInterval) {
  const PackageInfo package;
  const std::int64_t t = 1'700'000'000;
  const auto at = [&](double days_ago) { return t - static_cast<std::int64_t>(days_ago * kDay); };
  EXPECT_FALSE(plan_update_check(3, at(14.9), t, false, false, package).run);
  EXPECT_TRUE(plan_update_check(3, at(15.0), t, false, false, package).run);
  EXPECT_TRUE(plan_update_check(3, std::nullopt, t, false, false, package).run);
  // A clock set back gives a negative age, which checks.
  EXPECT_TRUE(plan_update_check(3, t + kDay, t, false, false, package).run);
  EXPECT_FALSE(plan_update_check(1, std::nullopt, t, false, false, package).run);
  const UpdateCheckPlan automatic = plan_update_check(4, at(3), t, false, false, package);
  EXPECT_TRUE(automatic.run);
  EXPECT_TRUE(automatic.beta);
  EXPECT_FALSE(automatic.show_messages);

  PackageInfo other;
  other.package = "other";
  EXPECT_FALSE(plan_update_check(3, std::nullopt, t, false, false, other).run);
  // Manual checks, and the one just agreed to, ignore schedule and package.
  for (bool manual : {true, false}) {
    const UpdateCheckPlan plan = plan_update_check(1, at(0.1), t, manual, !manual, other);
    EXPECT_TRUE(plan.run);
    EXPECT_TRUE(plan.show_messages);
  }
}

TEST(UpdateSchedule, FirstRunQuestionStoresTheAnswer) {
  TempDir dir;
  ConfigFile config(dir / "TessellariumConfig.txt");
  UserState state(config);
  PackageInfo package;

  ScriptedPrompt no;
  no.plan_answer(Answer::no);
  EXPECT_FALSE(prepare_update_check(state, no, package, false, now()).run);
  ASSERT_EQ(no.calls().size(), 1u);
  EXPECT_EQ(no.calls()[0].text, kUpdateAgreeQuestion);
  EXPECT_EQ(state.get_int(kCheckVersionKey), 1);

  ASSERT_TRUE(state.set_text(kCheckVersionKey, "0"));
  ScriptedPrompt yes;
  yes.plan_answer(Answer::yes);
  UpdateCheckPlan plan = prepare_update_check(state, yes, package, false, now());
  EXPECT_TRUE(plan.run);
  EXPECT_TRUE(plan.show_messages);  // the check just agreed to runs at once, with its messages
  EXPECT_EQ(state.get_int(kCheckVersionKey), 3);

  ASSERT_TRUE(state.set_text(kCheckVersionKey, "0"));
  package.beta_build = true;
  ScriptedPrompt beta;
  beta.plan_answer(Answer::yes);
  (void)prepare_update_check(state, beta, package, false, now());
  EXPECT_EQ(state.get_int(kCheckVersionKey), 5);

  // Once asked, never again; the stored date decides.
  ASSERT_TRUE(state.set_text(kCheckVersionDateKey, std::to_string(now() - 2 * kDay)));
  ScriptedPrompt quiet;
  EXPECT_FALSE(prepare_update_check(state, quiet, package, false, now()).run);
  EXPECT_TRUE(quiet.calls().empty());
}

// --- the answer --------------------------------------------------------------

TEST(UpdateAnswer, LatestTagAndVersionOrder) {
  EXPECT_EQ(latest_version_in("<latest>3.54.00</latest>"), "3.54.00");
  EXPECT_EQ(latest_version_in(latest_answer("3.60.01")), "3.60.01");  // across lines
  EXPECT_EQ(latest_version_in("<latest>1</latest> <latest>2</latest>"), "2");
  EXPECT_FALSE(latest_version_in("<latest></latest>"));
  EXPECT_FALSE(latest_version_in("no version here"));
  EXPECT_FALSE(latest_version_in("</latest><latest>"));
  EXPECT_FALSE(latest_version_in(""));

  EXPECT_EQ(update_version_text(), "3.53.00");
  EXPECT_TRUE(is_newer_version("3.54.00", "3.53.00"));
  EXPECT_TRUE(is_newer_version("3.53.01", "3.53.00"));
  EXPECT_FALSE(is_newer_version("3.53.00", "3.53.00"));
  EXPECT_FALSE(is_newer_version("3.52.99", "3.53.00"));
  EXPECT_TRUE(is_newer_version("10.00.00", "9.99.99"));  // numbers, not text
  EXPECT_TRUE(is_newer_version("3.54.00beta", "3.53.00"));  // other forms compare as text
}

TEST(UpdateAnswer, RequestAndDownloadAddresses) {
  EXPECT_EQ(update_request_url("http://h.example/", "3.53.00", false), "http://h.example/checkversion.php?v=3.53.00");
  EXPECT_EQ(update_request_url("http://h.example", "3.53.00", true),
            "http://h.example/checkversion.php?v=3.53.00&beta=1");
  PackageInfo package;
  package.update_base = "https://h.example/";
  package.package = "My Package";
  EXPECT_EQ(update_download_url(package, true, "3.53.00"),
            "https://h.example/download.php?build=standard&package=My%20Package&beta=1&v=3.53.00");
}

TEST(UpdateAnswer, PackageFileNamesHostAndBuild) {
  TempDir dir;
  PackageInfo plain = read_package_info(dir.path());
  EXPECT_EQ(plain.update_base, default_update_base());
  EXPECT_EQ(plain.build, "standard");
  EXPECT_FALSE(plain.beta_build);

  ASSERT_TRUE(write_file(dir / "package.txt", "[package]\npackage = " + std::string(50, 'p') +
                                                  "\nbuild = BETA\nUpdateHost = updates.example.org\n"));
  PackageInfo info = read_package_info(dir.path());
  EXPECT_EQ(info.package, std::string(40, 'p'));
  EXPECT_TRUE(info.beta_build);
  EXPECT_EQ(info.update_base, "https://updates.example.org/");

  ASSERT_TRUE(write_file(dir / "package.txt", "[package]\nUpdateHost = http://127.0.0.1:8080/tess\n"));
  EXPECT_EQ(read_package_info(dir.path()).update_base, "http://127.0.0.1:8080/tess/");
}

TEST(UpdateAnswer, MessagesFollowTheOutcome) {
  TempDir dir;
  UserState state(ConfigFile(dir / "TessellariumConfig.txt"));
  PackageInfo package;
  package.update_base = "https://h.example/";
  const UpdateCheckPlan automatic{true, false, false};
  const UpdateCheckPlan manual{true, false, true};
  std::vector<std::string> opened;
  const OpenUrl open = [&](const std::string& url) { opened.push_back(url); };

  // Failures: silent unless manual, and the date is not stored.
  ScriptedPrompt quiet;
  report_update_result(UpdateTransfer{}, automatic, package, state, quiet, open, 1000);
  EXPECT_TRUE(quiet.calls().empty());
  ScriptedPrompt loud;
  report_update_result(UpdateTransfer{}, manual, package, state, loud, open, 1000);
  EXPECT_EQ(loud.messages(), std::vector<std::string>{kUpdateConnectionMessage});
  EXPECT_EQ(state.get_text(kCheckVersionDateKey), "");

  // The same version: only a manual check says so; both store the date.
  ScriptedPrompt same_auto;
  report_update_result(UpdateTransfer{true, latest_answer("3.53.00")}, automatic, package, state, same_auto, open,
                       2000);
  EXPECT_TRUE(same_auto.calls().empty());
  EXPECT_EQ(state.get_text(kCheckVersionDateKey), "2000");
  ScriptedPrompt same_manual;
  report_update_result(UpdateTransfer{true, "no tag"}, manual, package, state, same_manual, open, 3000);
  EXPECT_EQ(same_manual.messages(), std::vector<std::string>{kUpToDateMessage});

  // A newer version asks, and Yes opens the download page.
  ScriptedPrompt newer;
  newer.plan_answer(Answer::yes);
  report_update_result(UpdateTransfer{true, latest_answer("3.54.00")}, automatic, package, state, newer, open, 4000);
  ASSERT_EQ(newer.calls().size(), 1u);
  EXPECT_EQ(newer.calls()[0].text, std::string(kNewerVersionMessage) + " " + kDownloadQuestion);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], "https://h.example/download.php?build=standard&package=linux&beta=0&v=3.53.00");
}

// --- against a loopback server ------------------------------------------------

TEST(UpdateCheckRun, NewerVersionAsksToDownload) {
  LoopbackServer server(latest_answer("3.54.00"));
  CheckSetup setup(server.base_url());
  ASSERT_TRUE(setup.state().set_text(kCheckVersionKey, "3"));
  QWidget window;
  ScriptedPrompt prompt;
  prompt.plan_answer(Answer::no);
  ASSERT_TRUE(start_update_check(&window, setup.config, prompt, false));
  ASSERT_TRUE(wait_for_check());
  EXPECT_EQ(server.requests(), 1);
  EXPECT_EQ(server.last_request_line(), "GET /checkversion.php?v=3.53.00 HTTP/1.1");
  ASSERT_EQ(prompt.calls().size(), 1u);
  EXPECT_EQ(prompt.calls()[0].kind, ScriptedPrompt::Kind::ask);
  EXPECT_EQ(prompt.calls()[0].text, std::string(kNewerVersionMessage) + " " + kDownloadQuestion);
  EXPECT_GE(std::stoll(setup.state().get_text(kCheckVersionDateKey, "0")), now() - 60);
}

TEST(UpdateCheckRun, SameVersionManualCheckIsUpToDate) {
  LoopbackServer server(latest_answer("3.53.00"));
  CheckSetup setup(server.base_url());
  ASSERT_TRUE(setup.state().set_text(kCheckVersionKey, "6"));  // beta schedule: asks for betas too
  ASSERT_TRUE(setup.state().set_text(kCheckVersionDateKey, std::to_string(now())));
  QWidget window;
  ScriptedPrompt prompt;
  ASSERT_TRUE(start_update_check(&window, setup.config, prompt, true));
  ASSERT_TRUE(wait_for_check());
  EXPECT_EQ(server.last_request_line(), "GET /checkversion.php?v=3.53.00&beta=1 HTTP/1.1");
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Your version of Tessellarium is up to date."});
}

TEST(UpdateCheckRun, NoServerFailsLoudlyOnlyWhenManual) {
  CheckSetup setup("http://127.0.0.1:" + std::to_string(unused_port()) + "/");
  ASSERT_TRUE(setup.state().set_text(kCheckVersionKey, "3"));
  QWidget window;
  ScriptedPrompt automatic;
  ASSERT_TRUE(start_update_check(&window, setup.config, automatic, false));
  ASSERT_TRUE(wait_for_check());
  EXPECT_TRUE(automatic.calls().empty());
  EXPECT_EQ(setup.state().get_text(kCheckVersionDateKey), "");  // tried again at the next start

  ScriptedPrompt manual;
  ASSERT_TRUE(start_update_check(&window, setup.config, manual, true));
  ASSERT_TRUE(wait_for_check());
  EXPECT_EQ(manual.messages(), std::vector<std::string>{kUpdateConnectionMessage});
}

TEST(UpdateCheckRun, FifteenDaySchedule) {
  LoopbackServer server(latest_answer("3.53.00"));
  CheckSetup setup(server.base_url());
  ASSERT_TRUE(setup.state().set_text(kCheckVersionKey, "3"));
  QWidget window;
  ScriptedPrompt prompt;

  ASSERT_TRUE(setup.state().set_text(kCheckVersionDateKey, std::to_string(now() - 149 * kDay / 10)));
  EXPECT_FALSE(start_update_check(&window, setup.config, prompt, false));
  EXPECT_FALSE(update_check_running());

  ASSERT_TRUE(setup.state().set_text(kCheckVersionDateKey, std::to_string(now() - 15 * kDay)));
  ASSERT_TRUE(start_update_check(&window, setup.config, prompt, false));
  ASSERT_TRUE(wait_for_check());
  EXPECT_EQ(server.requests(), 1);
  EXPECT_TRUE(prompt.calls().empty());  // up to date, and nobody asked
}

TEST(UpdateCheckRun, OneCheckAtATimeAndClosingAbandonsIt) {
  LoopbackServer server(latest_answer("3.54.00"), 300);
  CheckSetup setup(server.base_url());
  ASSERT_TRUE(setup.state().set_text(kCheckVersionKey, "3"));
  ScriptedPrompt prompt;
  {
    QWidget window;
    ASSERT_TRUE(start_update_check(&window, setup.config, prompt, true));
    EXPECT_TRUE(update_check_running());
    EXPECT_FALSE(start_update_check(&window, setup.config, prompt, true));
  }  // the window goes while the answer is still on its way
  EXPECT_FALSE(update_check_running());
  QCoreApplication::processEvents();
  EXPECT_TRUE(prompt.calls().empty());
}

}  // namespace
}  // namespace tess
