#pragma once
// Small helpers shared by the tests: temporary folders and environment
// variables that are restored when the test ends.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tess {
class Prompt;
}

namespace tess::testing {

/// A fresh folder under the system's temporary folder, removed with its
/// contents at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

/// Sets (or with nullopt unsets) an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

/// Whole file as bytes; empty when unreadable.
std::string read_file(const std::filesystem::path& path);
/// Writes bytes to a file; true on success.
bool write_file(const std::filesystem::path& path, const std::string& bytes);
/// The names a folder holds, hidden ones included, sorted; empty when it cannot be read.
std::vector<std::string> names_in(const std::filesystem::path& folder);

/// What a shell command prints on standard output (empty when it cannot run).
std::string command_output(const std::string& command);

/// A Python that has scikit-image (and the SciPy it stands on), for checks
/// of figures against a common library; empty when there is none.
std::string python_with_scikit_image();

/// A prompt that drops every message, for calls whose messages a test does
/// not look at.
Prompt& quiet_prompt();

}  // namespace tess::testing
