#include "settings/configuration.hpp"

#include "base/paths.hpp"

namespace tess {

ConfigFile::ConfigFile() : m_path(config_file_path()) {}

ConfigFile::ConfigFile(std::filesystem::path path) : m_path(std::move(path)) {}

IniFile ConfigFile::read() const {
  IniFile ini;
  (void)ini.load(m_path);  // missing or unreadable: empty, every option takes its factory default
  return ini;
}

bool ConfigFile::write(const IniFile& ini) const { return ini.save(m_path); }

std::optional<std::string> ConfigFile::get(const std::string& section, const std::string& key) const {
  return read().get(section, key);
}

std::string ConfigFile::get(const std::string& section, const std::string& key, const std::string& fallback) const {
  return read().get(section, key, fallback);
}

bool ConfigFile::set(const std::string& section, const std::string& key, const std::string& value) const {
  return set_all(section, {{key, value}});
}

bool ConfigFile::set_all(const std::string& section,
                         const std::vector<std::pair<std::string, std::string>>& values) const {
  // The desktop program and the command line may both be writing it.
  return IniFile::update(m_path, [&](IniFile& ini) {
    for (const auto& [key, value] : values) ini.set(section, key, value);
    return true;
  });
}

}  // namespace tess
