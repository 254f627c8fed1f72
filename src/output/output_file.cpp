#include "output/output_file.hpp"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {

void report_unable_to_save(const std::string& name, Prompt& prompt) {
  prompt.message(format(tr("Unable to save file '%s'"), name), Icon::error);
}

void report_unable_to_save(const std::string& name, Prompt& prompt, int error) {
  if (error == 0) return report_unable_to_save(name, prompt);
  prompt.message(format(tr("Unable to save file '%s'"), name) + ": " + system_error_text(error), Icon::error);
}

std::string system_error_text(int error) { return std::system_category().message(error); }

bool make_sibling_folder(const std::string& path, const char* role, std::string& made) {
  made.clear();
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::filesystem::path target(trimmed);
  std::string pattern = (target.parent_path() / ("." + target.filename().string() + "." + role + ".XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return false;
  made = pattern + "/";
  return true;
}

}  // namespace tess
