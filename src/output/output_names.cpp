#include "output/output_names.hpp"

#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include <sys/stat.h>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "settings/mosaic_parameters.hpp"
#include "settings/output_formats.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

struct FolderEntry {
  std::string name;
  bool is_directory;
};

// Unreadable folders and entries contribute nothing: a suffix is then
// chosen as if they were not there.
std::vector<FolderEntry> list_folder(const std::string& folder) {
  std::vector<FolderEntry> entries;
  std::error_code ec;
  fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code type_error;
    entries.push_back({it->path().filename().string(), it->is_directory(type_error)});
  }
  return entries;
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The folder part of a path (without the last "/") and the rest.
std::pair<std::string, std::string> split_folder(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {std::string(), path};
  return {path.substr(0, slash == 0 ? 1 : slash), path.substr(slash + 1)};
}

// The file name without its extension; a name without a point (or one that
// only starts with a point) is kept whole.
std::string without_extension(const std::string& path) {
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  const auto name_start = slash == std::string::npos ? 0 : slash + 1;
  if (dot == std::string::npos || dot <= name_start) return path;
  return path.substr(0, dot);
}

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::string();
  const auto last = text.find_last_not_of(" \t\r\n");
  std::string result(text.substr(first, last - first + 1));
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

std::string numbered_suffix(int number) { return number == 1 ? std::string() : format("%02d", number); }

// A NEW sub-folder: the first of "", "02", "03", ... for which no folder
// beside it has a name beginning with the candidate's name.
std::string new_folder_suffix(const std::string& folder) {
  const auto [parent, name] = split_folder(folder);
  const std::vector<FolderEntry> entries = list_folder(parent);
  for (int number = 1;; ++number) {
    const std::string candidate = name + numbered_suffix(number);
    bool taken = false;
    for (const FolderEntry& entry : entries) taken = taken || (entry.is_directory && starts_with(entry.name, candidate));
    if (!taken) return numbered_suffix(number);
  }
}

bool folder_holds_a_file(const std::string& folder) {
  for (const FolderEntry& entry : list_folder(folder))
    if (!entry.is_directory) return true;
  return false;
}

// A NEW mosaic: the first of "", "02", "03", ... for which no file beside it
// has a name beginning with the candidate's name and no folder of exactly
// that name holds a file.
std::string new_file_suffix(const std::string& base_name) {
  const auto [folder, title] = split_folder(base_name);
  const std::vector<FolderEntry> entries = list_folder(folder);
  for (int number = 1;; ++number) {
    const std::string candidate = title + numbered_suffix(number);
    bool taken = false;
    for (const FolderEntry& entry : entries) {
      if (!starts_with(entry.name, candidate)) continue;
      if (!entry.is_directory || (entry.name == candidate && folder_holds_a_file(join(folder, candidate)))) taken = true;
    }
    if (!taken) return numbered_suffix(number);
  }
}

bool create_folder(const std::string& folder, Prompt& prompt) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (fs::is_directory(folder, ec)) return true;
  prompt.message(format(tr("Unable to save file '%s'"), folder), Icon::error);
  return false;
}

}  // namespace

std::string OutputNames::settings_file() const { return base_name + " Settings" + ".txt"; }
std::string OutputNames::report_file() const { return base_name + tr(" Text Report") + ".csv"; }
std::string OutputNames::mask_jpeg_file() const { return base_name + " MaskFile.jpg"; }
std::string OutputNames::mask_bmp_file() const { return base_name + " MaskFile.bmp"; }
std::string OutputNames::score_file() const { return base_name + " Score.jpg"; }
std::string OutputNames::tile_list_file() const { return base_name + tr(" Tile List.txt"); }
std::string OutputNames::web_folder() const { return base_name + " RezIroriz/"; }

void plan_output_names(const std::string& main_image, const std::string& label, const MosaicParameters& parameters,
                       const std::string& output_file, OutputNames& names) {
  names = OutputNames{};
  const std::string mosaic_label = label.empty() ? tr("Mosaic") : label;

  if (!output_file.empty()) {
    // The command line named the file itself: no folder or suffix rule
    // applies, and no sub-folder is made that nothing would be written to.
    names.base_name = without_extension(output_file);
    names.extension = mosaic_extension(parameters.output_format, output_file);
  } else {
    // 1. The main image's folder and title.
    auto [folder, title] = split_folder(without_extension(main_image));
    // 2. An explicit destination folder replaces the image's own.
    const std::string destination = trimmed(parameters.mosaic_directory);
    if (!destination.empty()) folder = destination;
    // 3. The sub-folder rule.
    if (parameters.subfolder_rule == kSubfolderOverwrite || parameters.subfolder_rule == kSubfolderNew) {
      folder = join(folder, title + " " + mosaic_label);
      if (parameters.subfolder_rule == kSubfolderNew) folder += new_folder_suffix(folder);
      title = mosaic_label;
      names.subfolder = folder;
    } else {
      title += " " + mosaic_label;
    }
    // 4. The base name, made new when old mosaics are to be kept (always
    // for a RezIroriz, whose folder must not mix two mosaics).
    names.base_name = join(folder, title);
    if (parameters.file_name_rule == kFileNameNew || parameters.web_output)
      names.base_name += new_file_suffix(names.base_name);
  }

  if (names.extension.empty()) names.extension = format_extension(parameters.output_format);

  // 5. The individual tiles folder.
  if (parameters.individual_tiles) names.tiles_folder = names.base_name + " " + tr("Tile Images");
  names.output_folder = split_folder(names.base_name).first;
}

bool make_output_names(const std::string& main_image, const std::string& label, const MosaicParameters& parameters,
                       const std::string& output_file, OutputNames& names, Prompt& prompt) {
  plan_output_names(main_image, label, parameters, output_file, names);
  // A NEW sub-folder is claimed by making it: a run that finds it made by
  // another one meanwhile takes the next name.
  for (int tries = 0; parameters.subfolder_rule == kSubfolderNew && !names.subfolder.empty() && tries < 100; ++tries) {
    std::error_code ec;
    const fs::path folder(names.subfolder);
    if (folder.has_parent_path()) fs::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0777) == 0) break;
    if (errno != EEXIST) break;  // create_folder() says why below
    plan_output_names(main_image, label, parameters, output_file, names);
  }
  return (names.subfolder.empty() || create_folder(names.subfolder, prompt)) &&
         (names.tiles_folder.empty() || create_folder(names.tiles_folder, prompt));
}

bool output_name_taken(const std::string& base_name) { return !new_file_suffix(base_name).empty(); }

}  // namespace tess
