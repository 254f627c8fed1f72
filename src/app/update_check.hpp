#pragma once
// The update check: asks the maker's version-check endpoint whether a newer
// Tessellarium exists, on the schedule the user chose ("CheckVersion") or on
// demand ("Check Now"). Everything here is plain C++ (schedule, version
// comparison, the answer's parsing, the messages) so it can be tested without
// a window; update_check_worker.hpp runs it on its own thread for the GUI.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/text.hpp"

namespace tess {

class Prompt;
class UserState;

inline constexpr const char* kCheckVersionKey = "CheckVersion";
inline constexpr const char* kCheckVersionDateKey = "CheckVersionDate";

inline constexpr const char* kUpdateAgreeQuestion =
    N_("Do you want Tessellarium to check for new updates at startup? (You can change automatic updates settings in "
    "the Options window).");
inline constexpr const char* kUpdateConnectionMessage =
    N_("Unable to verify if a new version is available. Please check your internet connection.");
inline constexpr const char* kNewerVersionMessage = N_("A newer version of Tessellarium is available!");
inline constexpr const char* kDownloadQuestion = N_("Click YES to download the new version.");
inline constexpr const char* kUpToDateMessage = N_("Your version of Tessellarium is up to date.");

/// Schedule codes stored under "CheckVersion" (0: the user was never asked).
inline constexpr long kScheduleNotAsked = 0;
inline constexpr long kScheduleNever = 1;
inline constexpr long kScheduleMonthly = 2;
inline constexpr long kScheduleTwoWeeks = 3;
inline constexpr long kScheduleBetaDaily = 4;
inline constexpr long kScheduleBetaWeekly = 5;
inline constexpr long kScheduleBetaTwoWeeks = 6;

/// The schedule a stored code stands for: 0 stays 0 (not asked yet), a code
/// outside 1..6 counts as 3.
long effective_schedule_code(long stored);
/// Days between automatic checks; nullopt for "never" (and for 0).
std::optional<double> update_interval_days(long code);
/// Codes 4 to 6 also announce beta builds.
[[nodiscard]] bool update_schedule_is_beta(long code);

/// One choice of the "Check for updates:" row: the label (message id) and
/// the code it stores, in the order the row shows them.
struct UpdateScheduleChoice {
  const char* label;
  long code;
};
const std::vector<UpdateScheduleChoice>& update_schedule_choices();

/// Stores a schedule code under "CheckVersion". False when the
/// configuration file could not be written.
[[nodiscard]] bool set_update_schedule(const UserState& state, long code);

/// What package.txt of the data folder says about this installation.
struct PackageInfo {
  std::string package = "linux";  ///< "package", first 40 characters; "Other" turns automatic checks off
  std::string build = "standard";  ///< "build"
  bool beta_build = false;         ///< "build" is "beta" (ignoring case)
  std::string update_base;         ///< endpoint base URL, ending in "/"
};

/// Reads package.txt (section "package", keys "package", "build" and
/// "UpdateHost") in `data_dir`. A missing file or key keeps the defaults; the
/// host is the built-in one unless "UpdateHost" names another. A bare host
/// name is reached over https; a value with a scheme is taken as it is.
PackageInfo read_package_info(const std::filesystem::path& data_dir);

/// The built-in endpoint base, used when package.txt names none.
std::string default_update_base();

/// Whether, and how, a check is to run now.
struct UpdateCheckPlan {
  bool run = false;
  bool beta = false;           ///< ask for beta builds as well
  bool show_messages = false;  ///< report the outcome, failures included
};

/// The decision of one scheduled or manual check, for a schedule `code` that
/// is already effective (never 0): a manual check, or one the user just
/// agreed to, always runs and reports; "never" runs nothing else; otherwise
/// it runs unless the last successful check (`last_check`, seconds since
/// 1970) lies at least 0 and less than the interval in days before `now`.
/// An automatic check of a package called "Other" never runs.
UpdateCheckPlan plan_update_check(long code, std::optional<std::int64_t> last_check, std::int64_t now,
                                  bool manual, bool just_agreed, const PackageInfo& package);

/// Reads the schedule (asking the first-run question through `prompt` when
/// the user was never asked, and storing the answer) and plans the check.
UpdateCheckPlan prepare_update_check(const UserState& state, Prompt& prompt, const PackageInfo& package,
                                     bool manual, std::int64_t now);

/// The program's version as the endpoint knows it: "%d.%02d.%02d" ("3.53.00").
std::string update_version_text();

/// base + "checkversion.php?v=<version>", with "&beta=1" for a beta check.
std::string update_request_url(const std::string& base, const std::string& version, bool beta);

/// The download page opened when the user wants the newer version, with the
/// query "?build=..&package=..&beta=0|1&v=<own version>".
std::string update_download_url(const PackageInfo& package, bool beta, const std::string& version);

/// The text between <latest> and </latest> in an answer (the last opening
/// tag before the last closing one, as a greedy match of the whole body
/// finds it), blanks around it removed; nullopt when the body has no tag.
std::optional<std::string> latest_version_in(const std::string& body);

/// True when `latest` names a later version than `own`. Dotted numbers are
/// compared number by number, so "10.00.00" is later than "9.99.99"; texts
/// of another form are compared as text.
bool is_newer_version(const std::string& latest, const std::string& own);

/// The outcome of one request.
struct UpdateTransfer {
  bool ok = false;   ///< the server answered (HTTP errors count as failures)
  std::string body;  ///< the answer, at most 1 MiB
};

/// GETs `url` with libcurl (http and https only, time-limited). Setting
/// `*abort` makes a transfer in progress give up soon. Thread-safe.
UpdateTransfer fetch_update_answer(const std::string& url, const std::atomic<bool>* abort = nullptr);

/// Opens a web page; the GUI passes the desktop's browser.
using OpenUrl = std::function<void(const std::string& url)>;

/// Acts on a finished request: a failure is reported only when the plan
/// shows messages; a success stores `now` under "CheckVersionDate", then asks
/// whether to download a newer version (opening the download page on Yes) or,
/// when showing messages, says the version is up to date.
void report_update_result(const UpdateTransfer& transfer, const UpdateCheckPlan& plan, const PackageInfo& package,
                          const UserState& state, Prompt& prompt, const OpenUrl& open_url, std::int64_t now);

}  // namespace tess
