#include "app/update_check.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include <curl/curl.h>

#include "base/ini_file.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "base/version.hpp"
#include "settings/user_state.hpp"

namespace tess {
namespace {


// The maker's site is a deployment setting: packagers name theirs in
// package.txt ("UpdateHost"); without it this host is asked.
constexpr const char* kDefaultUpdateHost = "updates.tessellarium.example";

constexpr std::size_t kPackageNameLength = 40;
// An answer is one short tag; anything bigger is not our endpoint talking.
constexpr std::size_t kMaxAnswerBytes = 1 << 20;
constexpr long kConnectTimeoutSeconds = 10;
constexpr long kTransferTimeoutSeconds = 30;


std::string trimmed(const std::string& text) {
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  auto first = std::find_if_not(text.begin(), text.end(), blank);
  auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string with_slash(std::string url) {
  if (url.empty() || url.back() != '/') url += '/';
  return url;
}

std::string base_from_host(const std::string& host) {
  if (host.find("://") != std::string::npos) return with_slash(host);
  return with_slash("https://" + host);
}

// Query values are our own words and the package name from package.txt:
// anything outside the unreserved characters is percent-encoded.
std::string url_encoded(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// "3.53.00" as numbers; nullopt when the text is not digits and dots only.
std::optional<std::vector<long>> dotted_numbers(const std::string& text) {
  std::vector<long> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t dot = text.find('.', start);
    std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (part.empty() || part.size() > 9 ||
        !std::all_of(part.begin(), part.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
      return std::nullopt;
    parts.push_back(std::stol(part));
    if (dot == std::string::npos) return parts;
    start = dot + 1;
  }
}

struct CurlBody {
  std::string text;
  bool overflow = false;
};

size_t collect_body(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<CurlBody*>(user);
  const size_t bytes = size * count;
  if (body->text.size() + bytes > kMaxAnswerBytes) {
    body->overflow = true;
    return 0;  // ends the transfer as a failure
  }
  body->text.append(data, bytes);
  return bytes;
}

int transfer_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* abort = static_cast<const std::atomic<bool>*>(user);
  return abort != nullptr && abort->load() ? 1 : 0;
}

}  // namespace

long effective_schedule_code(long stored) {
  if (stored == kScheduleNotAsked) return kScheduleNotAsked;
  if (stored < kScheduleNever || stored > kScheduleBetaTwoWeeks) return kScheduleTwoWeeks;
  return stored;
}

std::optional<double> update_interval_days(long code) {
  switch (effective_schedule_code(code)) {
    case kScheduleMonthly: return 30.0;
    case kScheduleTwoWeeks: return 15.0;
    case kScheduleBetaDaily: return 2.0;
    case kScheduleBetaWeekly: return 7.0;
    case kScheduleBetaTwoWeeks: return 15.0;
    default: return std::nullopt;
  }
}

bool update_schedule_is_beta(long code) {
  const long effective = effective_schedule_code(code);
  return effective >= kScheduleBetaDaily && effective <= kScheduleBetaTwoWeeks;
}

const std::vector<UpdateScheduleChoice>& update_schedule_choices() {
  static const std::vector<UpdateScheduleChoice> kChoices = {
      {N_("never"), kScheduleNever},
      {N_("every two weeks"), kScheduleTwoWeeks},
      {N_("every month"), kScheduleMonthly},
      {N_("(Beta) every day"), kScheduleBetaDaily},
      {N_("(Beta) every week"), kScheduleBetaWeekly},
      {N_("(Beta) every two weeks"), kScheduleBetaTwoWeeks},
  };
  return kChoices;
}

bool set_update_schedule(const UserState& state, long code) {
  return state.set_text(kCheckVersionKey, format("%d", static_cast<int>(code)));
}

std::string default_update_base() { return base_from_host(kDefaultUpdateHost); }

PackageInfo read_package_info(const std::filesystem::path& data_dir) {
  PackageInfo info;
  info.update_base = default_update_base();
  IniFile ini;
  if (!ini.load(data_dir / "package.txt")) return info;
  if (auto package = ini.get("package", "package"); package && !package->empty())
    info.package = package->substr(0, kPackageNameLength);
  if (auto build = ini.get("package", "build"); build && !build->empty()) info.build = *build;
  info.beta_build = iequals(info.build, "beta");
  if (auto host = ini.get("package", "UpdateHost"); host && !trimmed(*host).empty())
    info.update_base = base_from_host(trimmed(*host));
  return info;
}

UpdateCheckPlan plan_update_check(long code, std::optional<std::int64_t> last_check, std::int64_t now, bool manual,
                                  bool just_agreed, const PackageInfo& package) {
  UpdateCheckPlan plan;
  plan.beta = update_schedule_is_beta(code);
  if (manual || just_agreed) {
    plan.run = true;
    plan.show_messages = true;
    return plan;
  }
  const auto interval = update_interval_days(code);
  if (!interval) return plan;
  if (iequals(package.package, "Other")) return plan;
  if (last_check) {
    const double elapsed_days = static_cast<double>(now - *last_check) / 3600.0 / 24.0;
    // A clock set back gives a negative age: check rather than wait for it.
    if (elapsed_days >= 0.0 && elapsed_days < *interval) return plan;
  }
  plan.run = true;
  return plan;
}

UpdateCheckPlan prepare_update_check(const UserState& state, Prompt& prompt, const PackageInfo& package, bool manual,
                                     std::int64_t now) {
  long code = effective_schedule_code(state.get_int(kCheckVersionKey));
  bool just_agreed = false;
  if (code == kScheduleNotAsked) {
    if (prompt.ask(tr(kUpdateAgreeQuestion), Buttons::yes_no, Answer::yes) == Answer::yes) {
      code = package.beta_build ? kScheduleBetaWeekly : kScheduleTwoWeeks;
      just_agreed = true;
    } else {
      code = kScheduleNever;
    }
    (void)set_update_schedule(state, code);  // asked again next time when it could not be kept
  }
  std::optional<std::int64_t> last_check;
  if (auto text = state.get_text(kCheckVersionDateKey); !trimmed(text).empty()) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno == 0 && end != text.c_str()) last_check = value;
  }
  return plan_update_check(code, last_check, now, manual, just_agreed, package);
}

std::string update_version_text() {
  return format("%d.%02d.%02d", static_cast<int>(kVersionMajor), static_cast<int>(kVersionMinor),
                static_cast<int>(kVersionPatch));
}

std::string update_request_url(const std::string& base, const std::string& version, bool beta) {
  std::string url = with_slash(base) + "checkversion.php?v=" + url_encoded(version);
  if (beta) url += "&beta=1";
  return url;
}

std::string update_download_url(const PackageInfo& package, bool beta, const std::string& version) {
  return format("%s?build=%s&package=%s&beta=%s%s", with_slash(package.update_base) + "download.php",
                url_encoded(package.build), url_encoded(package.package), beta ? "1" : "0",
                "&v=" + url_encoded(version));
}

std::optional<std::string> latest_version_in(const std::string& body) {
  static const std::string kOpen = "<latest>";
  static const std::string kClose = "</latest>";
  const std::size_t close = body.rfind(kClose);
  // The version between the tags holds at least one character.
  if (close == std::string::npos || close < kOpen.size() + 1) return std::nullopt;
  const std::size_t open = body.rfind(kOpen, close - kOpen.size() - 1);
  if (open == std::string::npos) return std::nullopt;
  return trimmed(body.substr(open + kOpen.size(), close - open - kOpen.size()));
}

bool is_newer_version(const std::string& latest, const std::string& own) {
  const auto a = dotted_numbers(latest);
  const auto b = dotted_numbers(own);
  if (a && b) return std::lexicographical_compare(b->begin(), b->end(), a->begin(), a->end());
  return own < latest;
}

UpdateTransfer fetch_update_answer(const std::string& url, const std::atomic<bool>* abort) {
  UpdateTransfer result;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return result;
  CurlBody body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  // A 404 page carries no version: it must not pass for "up to date".
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTransferTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, ("Tessellarium/" + std::string(kVersionText)).c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect_body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, transfer_progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(abort));
  const CURLcode code = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  result.ok = code == CURLE_OK && !body.overflow;
  if (result.ok) result.body = std::move(body.text);
  return result;
}

void report_update_result(const UpdateTransfer& transfer, const UpdateCheckPlan& plan, const PackageInfo& package,
                          const UserState& state, Prompt& prompt, const OpenUrl& open_url, std::int64_t now) {
  if (!transfer.ok) {
    // The date stays as it was, so the next start tries again.
    if (plan.show_messages) prompt.message(tr(kUpdateConnectionMessage), Icon::warning);
    return;
  }
  (void)state.set_text(kCheckVersionDateKey, format("%lld", static_cast<long long>(now)));
  const std::string own = update_version_text();
  const auto latest = latest_version_in(transfer.body);
  if (latest && is_newer_version(*latest, own)) {
    const std::string question = tr(kNewerVersionMessage) + " " + tr(kDownloadQuestion);
    if (prompt.ask(question, Buttons::yes_no, Answer::yes, Icon::question) == Answer::yes && open_url)
      open_url(update_download_url(package, plan.beta, own));
    return;
  }
  if (plan.show_messages) prompt.message(tr(kUpToDateMessage), Icon::information);
}

}  // namespace tess
