// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/output_guard.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cctype>
#include <map>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>

#include "base/file_sink.hpp"
#include "base/paths.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "base/version.hpp"
#include "output/output_file.hpp"
#include "output/output_names.hpp"
#include "output/video_writer.hpp"
#include "settings/mosaic_parameters.hpp"
#include "settings/output_formats.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

// A mark lists a page, a viewer and a few files: more than this is no mark of ours.
constexpr std::size_t kMaxMarkBytes = 1 << 20;

std::string without_slash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool all_digits(std::string_view text, std::size_t at_least) {
  return text.size() >= at_least &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// "mosaic", "mosaic/<n>" and "mosaic/<n>/<level>-<column>-<row>.jpg": the
// pyramid's own tiles.
bool is_pyramid_entry(const std::string& relative, bool is_directory) {
  if (relative == "mosaic") return is_directory;
  if (relative.rfind("mosaic/", 0) != 0) return false;
  const std::string rest = relative.substr(7);
  const auto slash = rest.find('/');
  if (slash == std::string::npos) return is_directory && all_digits(rest, 1);
  if (is_directory || !all_digits(std::string_view(rest).substr(0, slash), 1)) return false;
  std::string_view name = std::string_view(rest).substr(slash + 1);
  if (name.size() < 4 || name.substr(name.size() - 4) != ".jpg") return false;
  name.remove_suffix(4);
  int parts = 0;
  for (std::size_t start = 0; start <= name.size(); ++parts) {
    const auto dash = name.find('-', start);
    const std::string_view part = name.substr(start, dash == std::string_view::npos ? std::string_view::npos : dash - start);
    if (!all_digits(part, 1)) return false;
    if (dash == std::string_view::npos) break;
    start = dash + 1;
  }
  return parts == 2;
}

// "<Tile>_x0000000_y0000000__<title>.<ext>": an individual tile, under the
// word of any language the program spoke when it wrote it (English or now).
bool is_individual_tile(const std::string& name) {
  for (const std::string& word : {std::string("Tile"), tr("Tile")}) {
    if (name.rfind(word + "_x", 0) != 0) continue;
    const std::string_view rest = std::string_view(name).substr(word.size() + 2);
    if (rest.size() > 19 && all_digits(rest.substr(0, 7), 7) && rest.substr(7, 2) == "_y" &&
        all_digits(rest.substr(9, 7), 7) && rest.substr(16, 2) == "__")
      return true;
  }
  return false;
}

// The files of the web viewer as every version copies them, relative to it.
std::set<std::string> viewer_files() {
  std::set<std::string> files;
  std::error_code ec;
  const fs::path viewer = data_folder() / "webviewer";
  for (fs::recursive_directory_iterator it(viewer, ec), end; !ec && it != end; it.increment(ec))
    files.insert(it->path().lexically_relative(viewer).generic_string());
  return files;
}

// The lines of a folder's mark after the first, when its first names the program.
bool read_mark(const fs::path& folder, std::set<std::string>& listed) {
  std::FILE* file = std::fopen((folder / kFolderMarkName).c_str(), "rb");
  if (file == nullptr) return false;
  std::string text(kMaxMarkBytes + 1, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file));
  const bool read = std::ferror(file) == 0 && text.size() <= kMaxMarkBytes;
  std::fclose(file);
  if (!read) return false;
  std::size_t start = 0;
  bool first = true;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (first && line.rfind("Tessellarium ", 0) != 0) return false;
    if (!first && !line.empty()) listed.insert(line);
    first = false;
    start = end + 1;
  }
  return !first;
}

struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator<(const Identity& other) const {
    return device != other.device ? device < other.device : inode < other.inode;
  }
  bool operator==(const Identity& other) const { return device == other.device && inode == other.inode; }
};

bool identity_of(const std::string& path, Identity& identity, struct stat* info = nullptr) {
  struct stat found {};
  if (::stat(path.c_str(), &found) != 0) return false;  // follows links: the file they lead to counts
  identity = {found.st_dev, found.st_ino};
  if (info != nullptr) *info = found;
  return true;
}

// The path as the list stores file sizes: the low 32 bits.
std::int32_t stored_size(off_t size) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(size)); }

// Whether `path` lies inside `folder` (an absolute path without its last "/").
bool lies_inside(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

std::string absolute_normal(const std::string& path) {
  std::error_code ec;
  fs::path full = fs::absolute(path, ec);
  if (ec) full = path;
  return without_slash(full.lexically_normal().string());
}

// `output` is a file of the mosaic, or a folder of it that holds `input`.
void report_clash(const std::string& output, const std::string& input, bool folder, Prompt& prompt) {
  std::string text;
  if (folder)
    text = format(tr("The mosaic's folder '%s' would be replaced or written into, and it holds '%s', which this run "
                     "reads: choose another name for the mosaic."),
                  output, input);
  else if (output == input)
    text = format(tr("The mosaic would be written over '%s', which this run reads: choose another name for the mosaic."),
                  output);
  else
    text = format(tr("The mosaic would be written over '%s', which is '%s', read by this run: choose another name for "
                     "the mosaic."),
                  output, input);
  prompt.message(text, Icon::error);
}

// The files of one mosaic that exist now: its single files by name, and the
// split pieces or frame pictures found in its folder.
std::vector<std::string> existing_output_files(const OutputNames& names, const MosaicParameters& parameters,
                                               const std::string& save_placement) {
  const OutputFormatCode code = parameters.output_format;
  // The tile list's writing hangs on an advanced option: it is looked at always.
  std::vector<std::string> candidates = {names.tile_list_file()};
  if (parameters.text_report) candidates.insert(candidates.end(), {names.settings_file(), names.report_file()});
  if (parameters.create_mask_file)
    candidates.insert(candidates.end(), {names.mask_jpeg_file(), names.mask_bmp_file(), names.score_file()});
  if (code != OutputFormatCode::web && code != OutputFormatCode::video_jpg)
    candidates.push_back(names.base_name + names.extension);
  if (!save_placement.empty()) candidates.push_back(save_placement);
  std::vector<std::string> found;
  std::error_code ec;
  for (const std::string& path : candidates)
    if (fs::exists(fs::symlink_status(path, ec))) found.push_back(path);
  // Pieces "<title>01x02.jpg" and frames "<title>__000000001.jpg".
  if (!parameters.split_mosaic && code != OutputFormatCode::video_jpg) return found;
  const fs::path base(names.base_name);
  const std::string title = base.filename().string();
  const std::string extension = code == OutputFormatCode::video_jpg ? format_extension(code) : names.extension;
  const fs::path folder = base.has_parent_path() ? base.parent_path() : fs::path(".");
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= title.size() + extension.size() || name.rfind(title, 0) != 0 ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
      continue;
    const std::string middle = name.substr(title.size(), name.size() - title.size() - extension.size());
    const auto x = middle.find('x');
    const bool piece = x != std::string::npos && all_digits(std::string_view(middle).substr(0, x), 2) &&
                       all_digits(std::string_view(middle).substr(x + 1), 2);
    const bool frame = middle.size() == 11 && middle.compare(0, 2, "__") == 0 && all_digits(middle.substr(2), 9);
    if (piece || frame) found.push_back(it->path().string());
  }
  return found;
}

// A folder of the mosaic's that the program did not write. The command line
// refuses the run; the window asks before the run whether to keep the folder
// under another name, and renames it once the run has the outputs to itself.
bool let_foreign_folder_go(const std::string& folder, KeptFolders* kept, OutputCheckStep step, Prompt& prompt) {
  const std::string name = without_slash(folder);
  const bool let_go = kept != nullptr && kept->folders.count(name) > 0;
  if (kept == nullptr || (step == OutputCheckStep::naming && !let_go)) {
    prompt.message(foreign_folder_text(folder), Icon::error);
    return false;
  }
  if (step == OutputCheckStep::plan) {
    if (let_go) return true;
    const std::string question =
        format(tr("'%s' exists and was not written by Tessellarium. Keep it under another name and write the "
                  "mosaic's folder in its place?"),
               name);
    if (prompt.ask(question, Buttons::yes_no, Answer::no, Icon::warning) != Answer::yes) return false;
    kept->folders.insert(name);
    return true;
  }
  std::string kept_as;
  if (int error = 0; !keep_aside(name, kept_as, error)) {
    prompt.message(format(tr("'%s' could not be kept under another name. %s"), name, system_error_text(error, name)),
                   Icon::error);
    return false;
  }
  prompt.message(format(tr("'%s' was not written by Tessellarium: it is kept as '%s'"), name, kept_as),
                 Icon::information);
  return true;
}

}  // namespace

bool mark_folder(const std::string& folder, const std::vector<std::string>& files) {
  std::string text = std::string("Tessellarium ") + kVersionText + "\n";
  for (const std::string& file : files) text += file + "\n";
  return write_file_atomically(fs::path(without_slash(folder)) / kFolderMarkName, text);
}

bool folder_is_ours(const std::string& folder, OwnedFolder kind, std::string& foreign) {
  foreign.clear();
  const fs::path root(without_slash(folder));
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(root, ec);
  if (!fs::exists(status)) return true;
  if (!fs::is_directory(status)) {
    foreign = root.string();
    return false;
  }
  std::set<std::string> listed;
  read_mark(root, listed);
  std::set<std::string> viewer;
  if (kind == OwnedFolder::web) viewer = viewer_files();
  fs::recursive_directory_iterator it(root, ec);
  for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
    std::error_code type_error;
    const fs::file_status entry = it->symlink_status(type_error);
    const bool is_directory = fs::is_directory(entry);
    const std::string relative = it->path().lexically_relative(root).generic_string();
    bool ours = false;
    if (relative == kFolderMarkName) {
      ours = fs::is_regular_file(entry);
    } else if (fs::is_symlink(entry) || (!is_directory && !fs::is_regular_file(entry))) {
      ours = false;  // the program writes neither links nor devices
    } else if (kind == OwnedFolder::web) {
      ours = relative == "index.html" || viewer.count(relative) > 0 || listed.count(relative) > 0 ||
             is_pyramid_entry(relative, is_directory);
    } else {
      ours = it.depth() == 0 && !is_directory && is_individual_tile(relative);
    }
    if (!ours) {
      foreign = it->path().string();
      return false;
    }
  }
  // A folder that cannot be read whole may hold anything.
  if (ec) {
    foreign = root.string();
    return false;
  }
  return true;
}

std::string foreign_folder_text(const std::string& folder) {
  return format(tr("'%s' exists and was not written by Tessellarium: choose another name or remove it"),
                without_slash(folder));
}

bool keep_aside(const std::string& folder, std::string& kept_as, int& error) {
  constexpr int kMostTries = 1000;
  const std::string from = without_slash(folder);
  for (int n = 1; n <= kMostTries; ++n) {
    kept_as = from + " (" + std::to_string(n) + ")";
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, kept_as.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EEXIST) break;
  }
  error = errno;
  kept_as.clear();
  return false;
}

bool check_outputs_spare_inputs(const OutputNames& names, const MosaicParameters& parameters,
                                const std::string& save_placement, const ReadFiles& reads, Prompt& prompt,
                                KeptFolders* kept, OutputCheckStep step) {
  // 1. What the run reads, by identity (links resolved).
  std::map<Identity, std::string> inputs;
  for (const std::string& path : reads.files)
    if (Identity identity; !path.empty() && identity_of(path, identity)) inputs.emplace(identity, path);

  // 2. Each output that exists, and the list's pictures of the same size.
  std::multimap<std::int32_t, std::pair<Identity, std::string>> by_size;
  for (const std::string& output : existing_output_files(names, parameters, save_placement)) {
    Identity identity;
    struct stat info {};
    if (!identity_of(output, identity, &info)) continue;  // a dangling link is replaced, not followed
    if (const auto found = inputs.find(identity); found != inputs.end()) {
      report_clash(output, found->second, false, prompt);
      return false;
    }
    by_size.emplace(stored_size(info.st_size), std::make_pair(identity, output));
  }
  if (reads.list != nullptr && !by_size.empty())
    for (const auto& [key, entry] : reads.list->entries()) {
      const auto [first, last] = by_size.equal_range(entry.file_size);
      Identity identity;
      if (first == last || !identity_of(entry.path, identity)) continue;
      for (auto it = first; it != last; ++it)
        if (it->second.first == identity) {
          report_clash(it->second.second, entry.path, false, prompt);
          return false;
        }
    }

  // 3. The folders of the mosaic: nothing the run reads inside, nothing of
  // somebody else's in them.
  std::vector<std::pair<std::string, OwnedFolder>> folders;
  if (parameters.web_output || parameters.output_format == OutputFormatCode::web)
    folders.emplace_back(names.web_folder(), OwnedFolder::web);
  if (!names.tiles_folder.empty()) folders.emplace_back(names.tiles_folder, OwnedFolder::tiles);
  for (const auto& [folder, kind] : folders) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(without_slash(folder), ec))) continue;
    const std::string lexical = absolute_normal(folder);
    std::string resolved = without_slash(fs::weakly_canonical(lexical, ec).string());
    if (ec) resolved = lexical;
    const auto inside = [&](const std::string& path) { return lies_inside(path, lexical) || lies_inside(path, resolved); };
    for (const std::string& path : reads.files) {
      if (path.empty()) continue;
      std::error_code canonical_error;
      const std::string canonical = fs::weakly_canonical(path, canonical_error).string();
      if (inside(absolute_normal(path)) || (!canonical_error && inside(canonical))) {
        report_clash(without_slash(folder), path, true, prompt);
        return false;
      }
    }
    if (reads.list != nullptr)
      for (const auto& [key, entry] : reads.list->entries())
        if (inside(entry.path)) {
          report_clash(without_slash(folder), entry.path, true, prompt);
          return false;
        }
    if (std::string foreign; !folder_is_ours(folder, kind, foreign) && !let_foreign_folder_go(folder, kept, step, prompt))
      return false;
  }
  return true;
}

}  // namespace tess
