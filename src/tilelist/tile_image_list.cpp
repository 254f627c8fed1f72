// The data of a Tile Images List: folder sets, entries in path order, the
// variant grouping and the counts derived from it.

#include "tilelist/tile_image_list.hpp"

#include <algorithm>
#include <cctype>

#include "base/text.hpp"

namespace tess {

namespace {

std::string upper_ascii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

/// The key that puts an entry in a variant group: its path up to the last
/// occurrence of `separator`, or the whole path.
std::string group_key(const std::string& path, const std::string& separator) {
  const auto at = path.rfind(separator);
  return at == std::string::npos ? path : path.substr(0, at);
}

}  // namespace

bool TileImageList::add_folder(FolderKind kind, const std::string& item) {
  return m_folders[static_cast<int>(kind)].insert(item).second;
}

bool TileImageList::remove_folder(FolderKind kind, const std::string& item) {
  return m_folders[static_cast<int>(kind)].erase(item) != 0;
}

bool TileImageList::add_item(FolderKind kind, std::string path, bool is_folder) {
  if (is_folder && (path.empty() || path.back() != '/')) path += '/';
  m_changed = true;
  return add_folder(kind, path);
}

bool TileImageList::has_sources() const {
  return !folders(FolderKind::include).empty() || !folders(FolderKind::video).empty();
}

FotoInfo* TileImageList::find(const std::string& path) {
  const auto it = m_entries.find(path);
  return it == m_entries.end() ? nullptr : &it->second;
}

const FotoInfo* TileImageList::find(const std::string& path) const {
  const auto it = m_entries.find(path);
  return it == m_entries.end() ? nullptr : &it->second;
}

bool TileImageList::insert(FotoInfo entry) {
  std::string key = entry.path;
  const bool inserted = m_entries.try_emplace(std::move(key), std::move(entry)).second;
  if (inserted) m_grouping_mode = kNoGrouping;
  return inserted;
}

bool TileImageList::erase(const std::string& path) {
  if (m_entries.erase(path) == 0) return false;
  // Frame numbers and counts change with every removal too.
  m_grouping_mode = kNoGrouping;
  return true;
}

void TileImageList::clear() {
  m_entries.clear();
  for (auto& set : m_folders) set.clear();
  m_grouping_mode = kNoGrouping;
  m_group_count = 0;
  recount();
}

void TileImageList::clear_entries() {
  m_entries.clear();
  m_grouping_mode = kNoGrouping;
  m_group_count = 0;
  recount();
}

std::size_t TileImageList::remove_unusable() {
  m_unusable_paths.clear();
  for (auto it = m_entries.begin(); it != m_entries.end();) {
    if (it->second.usable != 0) {
      ++it;
      continue;
    }
    m_unusable_paths.push_back(it->first);
    it = m_entries.erase(it);
  }
  if (!m_unusable_paths.empty()) m_grouping_mode = kNoGrouping;
  return m_unusable_paths.size();
}

void TileImageList::group_variants(int mode) {
  if (mode == m_grouping_mode) return;
  if (mode == kGroupingCustomVariants || mode == kGroupingFolderVariants) {
    const std::string separator = mode == kGroupingCustomVariants ? "___" : "/";
    int number = 1;
    std::string previous;
    bool first = true;
    for (auto& [path, entry] : m_entries) {
      std::string key = group_key(path, separator);
      if (first || key != previous) ++number;
      first = false;
      entry.variant_group = number;
      previous = std::move(key);
    }
    m_group_count = number - 1;
  } else {
    // Frames extracted from videos land in folders named FRAMES001, ...;
    // numbering them in path order lets placement keep neighbouring frames apart.
    const std::string frames = "FRAMES";
    const std::string translated = upper_ascii(tr("FRAMES"));
    int number = 0;
    for (auto& [path, entry] : m_entries) {
      const std::string upper = upper_ascii(path);
      const bool is_frame = upper.find(frames) != std::string::npos ||
                            (!translated.empty() && upper.find(translated) != std::string::npos);
      entry.variant_group = is_frame ? ++number : 0;
    }
    m_group_count = 0;
  }
  m_grouping_mode = mode;
  recount();
}

void TileImageList::recount() {
  m_landscape_images = m_portrait_images = m_landscape_clips = m_portrait_clips = m_portrait_entries = 0;
  for (const auto& [path, entry] : m_entries) {
    const bool portrait = entry.is_portrait();
    if (portrait) ++m_portrait_entries;
    if (entry.is_video())
      ++(portrait ? m_portrait_clips : m_landscape_clips);
    else
      ++(portrait ? m_portrait_images : m_landscape_images);
  }
}

}  // namespace tess
