#pragma once
// The Tile Images List file (".tzc"): the list's folder sets, its
// black-and-white flag and every entry with its file state and signature, so
// that neither a mosaic run nor a rebuild decodes unchanged pictures again.
// Version 119 is written; versions 108 to 119 are read. All integers are
// little-endian; strings carry a 1-, 3- or 7-byte length prefix and no
// terminator.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/status.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {

/// What a list file made from one share of the pictures carries after its
/// entries, so that the shares can be joined into the whole list again.
/// Readers that do not look for it see an ordinary list of that share.
struct ListShare {
  int index = 0;  ///< 1..count; 0 for a whole list
  int count = 0;  ///< how many shares the pictures were split into; 0 for a whole list
  /// Entries the scan of the folder sets found, in every share together, and
  /// a fingerprint of their paths and required flags: shares made from
  /// differing scans cannot be joined.
  std::uint64_t scanned = 0;
  std::uint64_t fingerprint = 0;
  /// Pictures of this share that could not be analysed, in path order.
  std::vector<std::string> unusable;
};

/// How a load ended.
enum class ListLoadResult {
  loaded,      ///< the list holds the file's contents
  refused,     ///< another version or grid: the status carries why, the list is empty
  unreadable,  ///< missing, truncated or malformed: the list is empty, the status carries no text
};

/// Loads `file` into `list`, whose path becomes `file` first. True only when
/// the file was read whole. A file of a version outside 108..119 or of
/// another grid is refused with the warning "This file was created using a
/// different version of Tessellarium" (the list keeps the version read, so
/// the caller can tell); a missing, short or malformed file leaves the list
/// empty and fails without a text (the caller says "Error while reading the
/// Images List!" where it tells people).
/// Counts and string lengths are checked against the bytes left in the file
/// before anything is allocated for them. Files older than version 118 leave
/// the list changed and in need of an upgrade.
/// With `share` given, it receives the share a list was made from, or a
/// whole-list share (count 0) when the file carries none.
Status load_list_file(TileImageList& list, const std::filesystem::path& file, ListLoadResult* result = nullptr,
                      ListShare* share = nullptr);

/// Loads the list a user named (made absolute first): what `load_list_file`
/// does, with "Error while reading the Images List!" for a file that cannot
/// be read at all. Fine when the list holds the file's contents.
Status open_list_file(TileImageList& list, const std::string& file);
/// The failure of a list that cannot be read at all: "Error while reading
/// the Images List!".
Status unreadable_list();

/// Writes `list` to `file` as version 119. Every write, the last flush and
/// the close are checked; a failure carries "Unable to save file '%s'". On
/// success the list takes `file` as its path, version 119 and a clear
/// changed flag.
/// With `share` given (count > 0), the share follows the entries.
Status save_list_file(TileImageList& list, const std::filesystem::path& file, const ListShare* share = nullptr);

}  // namespace tess
