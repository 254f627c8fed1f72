// tessellarium-relocate-list: moves a Tile Images List from one folder to
// another without analysing a picture again. The example list is made in the
// build tree, where its tiles are; installing copies both elsewhere, and the
// copy must name the tiles where they now lie.
//
//   tessellarium-relocate-list LIST OLD_FOLDER NEW_FOLDER
//
// Every folder item and entry path of LIST that starts with OLD_FOLDER gets
// NEW_FOLDER in its place; other paths are kept. LIST is saved over itself.

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/prompt.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/tile_image_list.hpp"

namespace {

std::string moved(const std::string& path, const std::string& from, const std::string& to) {
  if (path.compare(0, from.size(), from) != 0) return path;
  return to + path.substr(from.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s LIST OLD_FOLDER NEW_FOLDER\n", argv[0]);
    return 2;
  }
  const std::string file = argv[1], from = argv[2], to = argv[3];
  tess::SilentPrompt prompt;
  tess::TileImageList list;
  if (!tess::load_list_file(list, file).ok_or_show(prompt)) {
    std::fprintf(stderr, "%s: cannot read the list %s\n", argv[0], file.c_str());
    return 1;
  }

  for (int kind = 0; kind < tess::kFolderKindCount; ++kind) {
    const auto folder_kind = static_cast<tess::FolderKind>(kind);
    const tess::TileImageList::FolderSet items = list.folders(folder_kind);
    for (const std::string& item : items) {
      list.remove_folder(folder_kind, item);
      list.add_folder(folder_kind, moved(item, from, to));
    }
  }
  // An entry is keyed by its path, so each goes out and comes back in.
  std::vector<tess::FotoInfo> entries;
  entries.reserve(list.entry_count());
  for (const auto& [path, entry] : list.entries()) entries.push_back(entry);
  list.clear_entries();
  for (tess::FotoInfo& entry : entries) {
    entry.path = moved(entry.path, from, to);
    list.insert(std::move(entry));
  }
  list.group_variants(tess::kGroupingFrameNumbers);

  if (!tess::save_list_file(list, file).ok_or_show(prompt)) {
    std::fprintf(stderr, "%s: cannot write the list %s\n", argv[0], file.c_str());
    return 1;
  }
  return 0;
}
