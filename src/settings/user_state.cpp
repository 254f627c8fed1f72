#include "settings/user_state.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace tess {
namespace {

std::string file_key(const std::string& kind) { return "FileDialog." + kind + ".Path"; }
std::string folder_key(const std::string& kind) { return "FolderDialog." + kind + ".Path"; }

}  // namespace

std::string UserState::get_text(const std::string& key, const std::string& fallback) const {
  return m_config.get(kUserSettingsSection, key, fallback);
}

long UserState::get_int(const std::string& key, long fallback) const {
  auto text = m_config.get(kUserSettingsSection, key);
  if (!text) return fallback;
  errno = 0;
  long value = std::strtol(text->c_str(), nullptr, 10);
  if (errno == ERANGE) return 0;  // a counter that overflowed starts again rather than turning huge
  return value;
}

bool UserState::set_text(const std::string& key, const std::string& value) const {
  return m_config.set(kUserSettingsSection, key, value);
}

bool UserState::set_int(const std::string& key, long value) const { return set_text(key, std::to_string(value)); }

std::string UserState::file_dialog_folder(const std::string& kind, const std::string& default_folder) const {
  std::string stored = get_text(file_key(kind));
  return stored.empty() ? default_folder : stored;
}

bool UserState::remember_file_choice(const std::string& kind, const std::string& chosen_path) const {
  auto slash = chosen_path.find_last_of('/');
  if (slash == std::string::npos) return true;  // a bare name carries no folder to remember
  // "/list.tzc" lies in the root folder, which is "/" rather than "".
  return set_text(file_key(kind), chosen_path.substr(0, slash == 0 ? 1 : slash));
}

std::string UserState::folder_dialog_folder(const std::string& kind, const std::string& default_folder) const {
  std::string stored = get_text(folder_key(kind));
  return stored.empty() ? default_folder : stored;
}

bool UserState::remember_folder_choice(const std::string& kind, const std::string& chosen_folder) const {
  if (chosen_folder.empty()) return true;
  return set_text(folder_key(kind), chosen_folder);
}

}  // namespace tess
