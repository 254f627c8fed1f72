#pragma once
// The small user state of section "UserSettings" of the configuration file
// (remembered folders, counters, language, interface switches) and the
// remembered start folder of every kind of file and folder dialog.

#include <string>

#include "settings/configuration.hpp"

namespace tess {

class UserState {
 public:
  /// The configuration file of the settings folder.
  UserState() = default;
  explicit UserState(ConfigFile config) : m_config(std::move(config)) {}

  /// The stored text, or `fallback` when the key is absent.
  std::string get_text(const std::string& key, const std::string& fallback = {}) const;
  /// The stored text read as an integer (leading blanks and a sign allowed,
  /// text after the digits ignored, 0 when no digits); `fallback` when absent.
  long get_int(const std::string& key, long fallback = 0) const;
  /// Each call reads, changes and writes back the file; false when the write failed.
  [[nodiscard]] bool set_text(const std::string& key, const std::string& value) const;
  bool set_int(const std::string& key, long value) const;

  // --- dialogs -----------------------------------------------------------
  /// Where a file dialog of `kind` ("ImageList", "MaskFile", ...) opens: the
  /// folder stored under "FileDialog.<kind>.Path", else `default_folder`.
  std::string file_dialog_folder(const std::string& kind, const std::string& default_folder = {}) const;
  /// After a file was chosen: stores its folder (the path up to its last
  /// "/") for the next dialog of the same kind.
  bool remember_file_choice(const std::string& kind, const std::string& chosen_path) const;
  /// The same for folder dialogs, under "FolderDialog.<kind>.Path".
  std::string folder_dialog_folder(const std::string& kind, const std::string& default_folder = {}) const;
  bool remember_folder_choice(const std::string& kind, const std::string& chosen_folder) const;

 private:
  ConfigFile m_config;
};

}  // namespace tess
