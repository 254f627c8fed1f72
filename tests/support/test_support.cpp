#include "support/test_support.hpp"

#include "base/prompt.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tess::testing {

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "tess-test-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : m_name(std::move(name)) {
  if (const char* old = std::getenv(m_name.c_str())) m_old = old;
  if (value)
    ::setenv(m_name.c_str(), value->c_str(), 1);
  else
    ::unsetenv(m_name.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (m_old)
    ::setenv(m_name.c_str(), m_old->c_str(), 1);
  else
    ::unsetenv(m_name.c_str());
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::vector<std::string> names_in(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string command_output(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  ::pclose(pipe);
  return output;
}

std::string python_with_scikit_image() {
  // The python3 first on the path may be another one (a virtual
  // environment's) without the system's packages.
  for (const char* python : {"python3", "/usr/bin/python3"})
    if (command_output(std::string(python) +
                       " -c 'import skimage.color, skimage.metrics, scipy.ndimage; print(1)' 2>/dev/null") == "1\n")
      return python;
  return {};
}

Prompt& quiet_prompt() {
  static SilentPrompt quiet;
  return quiet;
}

}  // namespace tess::testing
