#pragma once
// Shares of a Tile Images List: the pictures of the folder sets split into
// N disjoint shares by a hash of each path, so that N machines each analyse
// one share of one library and the partial lists are joined into the list a
// single machine would have made.

#include <string>
#include <string_view>
#include <vector>

#include "tilelist/list_file.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {

/// More shares than this would leave most of them empty.
inline constexpr int kMostListShares = 100000;

/// Reads "K/N" (1 <= K <= N <= kMostListShares); false for anything else.
[[nodiscard]] bool parse_list_share(std::string_view text, int& index, int& count);

/// The share (1..count) a picture belongs to. Only the bytes of its path
/// decide, so every machine that scans the same folders splits them alike,
/// whatever order it found them in.
int list_share_of(std::string_view path, int count);

/// Keeps only the entries of share `index` of `count` and returns that share,
/// with the number and the fingerprint of all the entries there were.
ListShare keep_list_share(TileImageList& list, int index, int count);

/// Joins the partial lists in `parts` into `merged` (its folder sets, flag
/// and entries; the path is left to the caller) and the paths that could not
/// be analysed into `unusable`, in path order. Returns an empty text on
/// success, else what is wrong with the parts: an unreadable file, a whole
/// list, shares of other folder sets, flags, scans or counts, or a share
/// given twice or missing. A part that was refused leaves its reason to show
/// in `part_status`.
[[nodiscard]] std::string merge_list_shares(const std::vector<std::string>& parts, TileImageList& merged,
                                            std::vector<std::string>& unusable, Status& part_status);

}  // namespace tess
