#pragma once
// The Tile Images Lists of `mosaic --tiles DIR/...`: one list for each set of
// folders and analysis mode, kept in the cache folder and brought up to date
// the way `list update` does it before every mosaic, so a second mosaic from
// the same folders decodes only the pictures that changed.

#include <filesystem>
#include <string>
#include <vector>

namespace tess {

class Prompt;

/// The folders as a cache key knows them: each made absolute with every
/// link resolved, so two spellings of one folder share one list; in byte
/// order, each once. False with `problem` set when one is missing or is no
/// folder.
[[nodiscard]] bool canonical_tile_folders(const std::vector<std::string>& given, std::vector<std::string>& folders,
                                          std::string& problem);

/// The cached list's file in `cache_dir` for `folders` (canonical, as above)
/// and the analysis mode: named by a hash of both and of the list version,
/// since every one of them changes what the analysis stores.
std::filesystem::path cached_list_file(const std::filesystem::path& cache_dir, const std::vector<std::string>& folders,
                                       bool black_and_white);

/// Builds the cached list of `folders` (canonical) or brings it up to date,
/// and saves it; `list_file` receives its path. Runs that share the list
/// take turns, so the second finds the first one's work done. The exit
/// status of the analysis (0 saved; 1 failed or stopped; 2 nothing to
/// analyse), each failure reported.
[[nodiscard]] int update_cached_list(const std::vector<std::string>& folders, bool black_and_white, bool quiet,
                                     Prompt& prompt, std::string& list_file);

}  // namespace tess
