#include "cli/tile_cache.hpp"

#include <algorithm>
#include <cinttypes>
#include <set>
#include <system_error>

#include "base/file_lock.hpp"
#include "base/fnv_hash.hpp"
#include "base/paths.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "cli/cli_app.hpp"
#include "cli/list_progress.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

/// The folder as a list's folder set holds it: with its trailing "/".
std::string folder_item(const std::string& folder) { return folder.ends_with('/') ? folder : folder + "/"; }

/// Whether a list read from the cache is the one asked for: a name is a
/// hash, so a list of other folders that happened to get it is made anew.
bool holds_exactly(const TileImageList& list, const std::vector<std::string>& folders, bool black_and_white) {
  TileImageList::FolderSet wanted;
  for (const std::string& folder : folders) wanted.insert(folder_item(folder));
  return list.folders(FolderKind::include) == wanted && list.folders(FolderKind::exclude).empty() &&
         list.folders(FolderKind::required).empty() && list.folders(FolderKind::video).empty() &&
         list.black_and_white() == black_and_white && !list.needs_upgrade();
}

}  // namespace

bool canonical_tile_folders(const std::vector<std::string>& given, std::vector<std::string>& folders,
                            std::string& problem) {
  std::set<std::string> unique;
  for (const std::string& folder : given) {
    std::error_code error;
    const fs::path canonical = fs::canonical(folder, error);
    if (error) {
      problem = format("no such folder '%s' (--tiles)", folder);
      return false;
    }
    if (!fs::is_directory(canonical, error)) {
      problem = format("--tiles takes a folder of pictures, and '%s' is none", folder);
      return false;
    }
    unique.insert(canonical.string());
  }
  folders.assign(unique.begin(), unique.end());
  return true;
}

fs::path cached_list_file(const fs::path& cache_dir, const std::vector<std::string>& folders, bool black_and_white) {
  // Everything that changes what the analysis stores is in the key: the
  // folders, the colour mode and the list version (a newer program's
  // signatures may be taken differently).
  std::string key = format("Tessellarium tile list %d\nblack and white %d\n", kListFileVersion,
                           black_and_white ? 1 : 0);
  for (const std::string& folder : folders) key += folder_item(folder) + '\n';
  return cache_dir / format("%016" PRIx64 ".tzc", fnv1a_64(key));
}

int update_cached_list(const std::vector<std::string>& folders, bool black_and_white, bool quiet, Prompt& prompt,
                       std::string& list_file) {
  // A folder that cannot be made shows up as the save's own failure.
  const fs::path dir = cache_folder() / "Tile Lists";
  std::error_code error;
  fs::create_directories(dir, error);
  const fs::path file = cached_list_file(dir, folders, black_and_white);
  list_file = file.string();

  // One run at a time reads, analyses and saves the list: a second run on
  // the same folders waits and then finds nothing left to decode. The save
  // itself replaces the file whole, so a mosaic run reading the list never
  // sees half of it.
  const FileLock lock(file);
  TileImageList list;
  if (!fs::exists(file, error) || !load_list_file(list, file) ||
      !holds_exactly(list, folders, black_and_white)) {
    // No list yet, or one that cannot serve (damaged, of another version or
    // of other folders): it is made anew and replaces the file.
    list = TileImageList();
    for (const std::string& folder : folders) (void)list.add_item(FolderKind::include, folder, true);
    list.set_black_and_white(black_and_white);
    list.set_path(file.string());
  }
  return analyse_and_save_with_progress(list, analysis_thread_count(0), prompt,
                                        quiet ? ProgressStyle::none : ProgressStyle::text);
}

}  // namespace tess
