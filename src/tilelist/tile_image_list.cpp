// The data of a Tile Images List: folder sets, entries in path order, the
// variant grouping and the counts derived from it.

#include "tilelist/tile_image_list.hpp"

#include <algorithm>
#include <iterator>

#include "base/text.hpp"

namespace tess {

namespace {

/// The key that puts an entry in a variant group: its path up to the last
/// occurrence of `separator`, or the whole path.
std::string_view group_key(std::string_view path, std::string_view separator) {
  const auto at = path.rfind(separator);
  return at == std::string_view::npos ? path : path.substr(0, at);
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

TileImageList::TileImageList(const TileImageList& other)
    : m_path(other.m_path),
      m_folders(other.m_folders),
      m_black_and_white(other.m_black_and_white),
      m_version(other.m_version),
      m_changed(other.m_changed),
      m_unusable_paths(other.m_unusable_paths),
      m_unreadable_folders(other.m_unreadable_folders),
      m_unsupported_types(other.m_unsupported_types),
      m_file_base(other.m_file_base),
      m_grouping_mode(other.m_grouping_mode),
      m_group_count(other.m_group_count),
      m_landscape_images(other.m_landscape_images),
      m_portrait_images(other.m_portrait_images),
      m_landscape_clips(other.m_landscape_clips),
      m_portrait_clips(other.m_portrait_clips),
      m_portrait_entries(other.m_portrait_entries) {
  // Copied keys would still view the other list's paths: each is made anew.
  for (const auto& [path, entry] : other.m_entries) add_entry(m_entries.end(), entry);
}

TileImageList& TileImageList::operator=(const TileImageList& other) {
  if (this != &other) *this = TileImageList(other);
  return *this;
}

void TileImageList::set_file_base(std::string path, const FileStamp& stamp) {
  m_file_base = FileBase{std::move(path), stamp, m_folders, m_black_and_white};
}

FotoInfo* TileImageList::find(std::string_view path) {
  const auto it = m_entries.find(path);
  return it == m_entries.end() ? nullptr : &it->second;
}

const FotoInfo* TileImageList::find(std::string_view path) const {
  const auto it = m_entries.find(path);
  return it == m_entries.end() ? nullptr : &it->second;
}

void TileImageList::add_entry(EntrySet::const_iterator hint, FotoInfo entry) {
  // The node is made with an empty key and keyed by its own path before it
  // joins the set; a view of `entry` would dangle once it moved in.
  EntrySet single;
  auto node = single.extract(single.try_emplace(std::string_view(), std::move(entry)).first);
  node.key() = node.mapped().path;
  m_entries.insert(hint, std::move(node));
}

bool TileImageList::insert(FotoInfo entry) {
  auto hint = m_entries.end();
  // In path order, as a list file holds them, each entry belongs at the end.
  if (!m_entries.empty() && std::prev(hint)->first >= entry.path) {
    hint = m_entries.lower_bound(entry.path);
    if (hint != m_entries.end() && hint->first == entry.path) return false;
  }
  add_entry(hint, std::move(entry));
  m_grouping_mode = kNoGrouping;
  return true;
}

bool TileImageList::erase(std::string_view path) {
  if (m_entries.erase(path) == 0) return false;
  // Frame numbers and counts change with every removal too.
  m_grouping_mode = kNoGrouping;
  return true;
}

void TileImageList::clear() {
  m_entries.clear();
  m_file_base.reset();  // a list made anew replaces its file
  for (auto& set : m_folders) set.clear();
  m_grouping_mode = kNoGrouping;
  m_group_count = 0;
  reset_counts();
}

void TileImageList::clear_entries() {
  m_entries.clear();
  m_grouping_mode = kNoGrouping;
  m_group_count = 0;
  reset_counts();
}

std::size_t TileImageList::remove_unusable() {
  m_unusable_paths.clear();
  for (auto it = m_entries.begin(); it != m_entries.end();) {
    if (it->second.usable != 0) {
      ++it;
      continue;
    }
    m_unusable_paths.emplace_back(it->first);
    it = m_entries.erase(it);
  }
  if (!m_unusable_paths.empty()) m_grouping_mode = kNoGrouping;
  return m_unusable_paths.size();
}

void TileImageList::group_variants(int mode) {
  if (mode == m_grouping_mode) return;
  // The counts are taken in the same pass: a large list is walked once.
  reset_counts();
  if (mode == kGroupingCustomVariants || mode == kGroupingFolderVariants) {
    const std::string_view separator = mode == kGroupingCustomVariants ? "___" : "/";
    int number = 1;
    std::string_view previous;
    bool first = true;
    for (auto& [path, entry] : m_entries) {
      const std::string_view key = group_key(path, separator);
      if (first || key != previous) ++number;
      first = false;
      entry.variant_group = number;
      previous = key;
      count(entry);
    }
    m_group_count = number - 1;
  } else {
    // Frames extracted from videos land in folders named FRAMES001, ...;
    // numbering them in path order lets placement keep neighbouring frames apart.
    constexpr std::string_view kFrames = "FRAMES";
    const std::string translated = tr("FRAMES");
    // Untranslated, the second search would only repeat the first.
    const bool search_translated = !translated.empty() && !iequals(translated, kFrames);
    int number = 0;
    for (auto& [path, entry] : m_entries) {
      const bool is_frame =
          contains_ignoring_case(path, kFrames) || (search_translated && contains_ignoring_case(path, translated));
      entry.variant_group = is_frame ? ++number : 0;
      count(entry);
    }
    m_group_count = 0;
  }
  m_grouping_mode = mode;
}

void TileImageList::reset_counts() {
  m_landscape_images = m_portrait_images = m_landscape_clips = m_portrait_clips = m_portrait_entries = 0;
}

void TileImageList::count(const FotoInfo& entry) {
  const bool portrait = entry.is_portrait();
  if (portrait) ++m_portrait_entries;
  if (entry.is_video())
    ++(portrait ? m_portrait_clips : m_landscape_clips);
  else
    ++(portrait ? m_portrait_images : m_landscape_images);
}

}  // namespace tess
