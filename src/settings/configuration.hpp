#pragma once
// The program's configuration file, TessellariumConfig.txt in the settings
// folder. Every access reads the file whole, changes one section or key and
// writes it back whole, so two windows (or a window and the command line)
// never keep stale copies of each other's changes.

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/ini_file.hpp"

namespace tess {

inline constexpr const char* kConfigFileName = "TessellariumConfig.txt";
inline constexpr const char* kDefaultValuesSection = "Default Values";
inline constexpr const char* kUserSettingsSection = "UserSettings";

class ConfigFile {
 public:
  /// The configuration file of the settings folder.
  ConfigFile();
  explicit ConfigFile(std::filesystem::path path);

  const std::filesystem::path& path() const { return m_path; }

  /// The whole file; a missing or unreadable file reads as empty.
  IniFile read() const;
  /// Writes the whole file; false when any byte could not be written.
  [[nodiscard]] bool write(const IniFile& ini) const;

  std::optional<std::string> get(const std::string& section, const std::string& key) const;
  std::string get(const std::string& section, const std::string& key, const std::string& fallback) const;
  /// Read, change one key, write back. False when the write failed.
  [[nodiscard]] bool set(const std::string& section, const std::string& key, const std::string& value) const;
  /// Read, change several keys of one section, write back once.
  [[nodiscard]] bool set_all(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values) const;

 private:
  std::filesystem::path m_path;
};

}  // namespace tess
