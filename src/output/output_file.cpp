#include "output/output_file.hpp"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {

void report_unable_to_save(const std::string& name, Prompt& prompt) {
  prompt.message(format(tr("Unable to save file '%s'"), name), Icon::error);
}

std::string system_error_text(int error, const std::string& path) {
  return std::string(std::strerror(error)) + ": " + path;
}

void report_unable_to_save(const std::string& path, int error, Prompt& prompt) {
  std::string text = format(tr("Unable to save file '%s'"), path);
  if (error != 0) text += ". " + system_error_text(error, path);
  prompt.message(text, Icon::error);
}

std::string without_trailing_slash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool make_sibling_folder(const std::string& path, const char* role, std::string& made) {
  made.clear();
  const std::filesystem::path target(without_trailing_slash(path));
  std::string pattern = (target.parent_path() / ("." + target.filename().string() + "." + role + ".XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return false;
  made = pattern + "/";
  return true;
}

}  // namespace tess
