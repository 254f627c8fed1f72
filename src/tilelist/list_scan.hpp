#pragma once
// Finding the pictures and clips that the folder sets of a Tile Images List
// name: each item is a folder (ending in "/", scanned with every sub-folder)
// or a single file, and a file counts when its extension is one its kind
// accepts.

#include <string>

#include "images/picture_files.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {

/// The extensions clips are taken by, upper case between "|" characters
/// (pictures: kPictureExtensions).
inline constexpr const char* kVideoExtensions = "|AVI|DIVX|XVID|MOV|MPG|";

/// Whether a file of this path is taken by a folder item of `kind`: the text
/// after the last "." of the path, compared without regard to case, must be
/// in the kind's list (Video items take clips, the others pictures). A path
/// without "." is never taken.
[[nodiscard]] bool extension_accepted(const std::string& path, FolderKind kind);

/// Scans one folder-set item of `kind` into the entries of `list`:
///   - a file found that the list already holds becomes usable (unless the
///     kind is Exclude, which makes it unusable) and, for Required, required;
///   - a new file becomes an entry (usable unless excluded, required for
///     Required, rate code 1 - clip not yet opened - for Video);
///   - sub-folders are scanned with the same kind.
/// Only regular files, or links to them, are taken: a pipe or device named
/// x.jpg is never opened. Links to folders are followed, but a folder already
/// visited in this scan (same device and inode) is not entered again, so
/// link loops end. A folder that vanished contributes nothing. One that is
/// there but cannot be read (or not to its end) is added to the list's
/// unreadable folders, and the entries the list already held under it stay
/// usable as they were (not for Exclude), so that a folder out of reach for
/// a while does not empty the list. No exception leaves the scan. Returns
/// the number of files taken. Files an Include or Required item passes over
/// for their kind are counted in the list's unsupported types.
long scan_folder_item(TileImageList& list, const std::string& item, FolderKind kind);

/// Marks every entry not usable and not required, scans the folder sets in
/// the order Include, Required, Exclude, Video - so an Exclude hit overrides
/// an Include or Required hit for the same file - and removes the entries
/// nobody found usable; their paths become the list's unusable paths.
void build_entries(TileImageList& list);

}  // namespace tess
