// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/earlier_files.hpp"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "base/prompt.hpp"
#include "output/output_file.hpp"

namespace tess {

EarlierFiles::EarlierFiles(std::string beside) : m_beside(std::move(beside)) {}

EarlierFiles::~EarlierFiles() { forget(); }

void EarlierFiles::keep(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (!fs::exists(status)) {
    m_kept.emplace_back(path, std::string());
    return;
  }
  if (!fs::is_regular_file(status)) return;
  if (m_folder.empty() && !make_sibling_folder(m_beside, "old", m_folder)) return;
  const std::string copy = m_folder + std::to_string(m_kept.size());
  if (::link(path.c_str(), copy.c_str()) != 0 && !fs::copy_file(path, copy, ec)) return;
  m_kept.emplace_back(path, copy);
}

bool EarlierFiles::move_aside(const std::string& folder) {
  if (m_folder.empty() && !make_sibling_folder(m_beside, "old", m_folder)) return false;
  // The empty hidden folder is taken over by the earlier folder itself.
  const std::string target = without_trailing_slash(folder);
  const std::string aside = without_trailing_slash(m_folder);
  if (::rename(target.c_str(), aside.c_str()) != 0) {
    const int error = errno;
    std::error_code ec;
    std::filesystem::remove(aside, ec);
    m_folder.clear();
    errno = error;
    return false;
  }
  m_kept.emplace_back(target, aside);
  return true;
}

bool EarlierFiles::restore(Prompt& prompt, const char* kept_text) {
  std::error_code ec;
  bool all_back = true;
  for (const auto& [target, copy] : m_kept) {
    if (copy.empty()) {
      std::filesystem::remove(target, ec);
    } else if (::rename(copy.c_str(), target.c_str()) != 0) {
      all_back = false;
      prompt.message(format(tr(kept_text), target, copy) + " " + system_error_text(errno, target), Icon::error);
    }
  }
  if (all_back) {
    forget();
  } else {
    m_kept.clear();
    m_folder.clear();  // kept for the user
  }
  return all_back;
}

void EarlierFiles::forget() {
  m_kept.clear();
  if (m_folder.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(m_folder, ec);
  m_folder.clear();
}

bool replace_folder(const std::string& made, const std::string& folder, const char* kept_text, Prompt& prompt) {
  // The new folder is seen as the earlier one was: by the same people and
  // web server (its mode and group), not only by this user.
  struct stat earlier_status {};
  if (::stat(without_trailing_slash(folder).c_str(), &earlier_status) == 0) {
    (void)::chmod(without_trailing_slash(made).c_str(), earlier_status.st_mode & 07777);
    // A group this user is not in cannot be given; the mode still holds.
    (void)::chown(without_trailing_slash(made).c_str(), static_cast<uid_t>(-1), earlier_status.st_gid);
  }
  // The earlier folder steps aside, the new one takes its name, and only
  // then is the earlier one removed; a failed step puts it back.
  EarlierFiles earlier(folder);
  if (!earlier.move_aside(folder)) {
    report_unable_to_save(folder, errno, prompt);
    return false;
  }
  if (::rename(without_trailing_slash(made).c_str(), without_trailing_slash(folder).c_str()) != 0) {
    const int error = errno;
    // One that cannot be put back is never lost: the user learns where it is.
    if (earlier.restore(prompt, kept_text)) report_unable_to_save(folder, error, prompt);
    return false;
  }
  return true;  // the earlier folder goes with `earlier`
}

}  // namespace tess
