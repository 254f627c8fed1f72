#pragma once
// TileImageList: the pictures (and clips) that serve as tiles - the four
// folder sets the user chose, the analysed entries in path order and their
// counts. The list file stores exactly this; the mosaic run reads it.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tilelist/foto_info.hpp"

namespace tess {

/// The version list files are written in, and the oldest one that is read.
inline constexpr int kListFileVersion = 119;
inline constexpr int kOldestListFileVersion = 108;
/// Lists loaded from files older than this are rebuilt and analysed again.
inline constexpr int kFirstCurrentListVersion = 118;

/// Index of a folder set.
enum class FolderKind { include = 0, exclude = 1, required = 2, video = 3 };
inline constexpr int kFolderKindCount = 4;

/// Grouping modes of the variant grouping pass (the "Mosaic Processing" codes
/// that group; every other code numbers video frames).
inline constexpr int kGroupingCustomVariants = 3;
inline constexpr int kGroupingFolderVariants = 6;
inline constexpr int kGroupingFrameNumbers = 0;

class TileImageList {
 public:
  /// A folder set: folder paths ending in "/" or single file paths, in
  /// byte-wise order.
  using FolderSet = std::set<std::string>;
  /// The entries, one per path, in byte-wise order of their UTF-8 path
  /// (string views compare bytes as unsigned values). The key views the
  /// entry's own path, so a library's paths are held once; that path must
  /// not be changed through the entry.
  using EntrySet = std::map<std::string_view, FotoInfo, std::less<>>;

  /// Which version of a list file was read or written: a save replaces
  /// the file by a new one, so another program's save gives another stamp.
  struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified_ns = 0;
    bool operator==(const FileStamp&) const = default;
  };
  /// The list file as this list last read or wrote it: the changes a save
  /// makes are those from here, and a file that has moved on since (another
  /// program saved it) keeps the other program's changes too.
  struct FileBase {
    std::string path;
    FileStamp stamp;
    std::array<FolderSet, kFolderKindCount> folders;
    bool black_and_white = false;
  };

  TileImageList() = default;
  /// A copy's keys view the copied entries' paths, never the original's.
  TileImageList(const TileImageList& other);
  TileImageList& operator=(const TileImageList& other);
  TileImageList(TileImageList&&) = default;
  TileImageList& operator=(TileImageList&&) = default;
  ~TileImageList() = default;

  /// The list file this list was loaded from or saved to; empty for a new list.
  const std::string& path() const { return m_path; }
  void set_path(std::string path) { m_path = std::move(path); }

  const FolderSet& folders(FolderKind kind) const { return m_folders[static_cast<int>(kind)]; }
  /// Adds a folder or file item; false when it was already there.
  bool add_folder(FolderKind kind, const std::string& item);
  bool remove_folder(FolderKind kind, const std::string& item);
  /// Adds an item as the user names it: a folder gets its trailing "/" (so
  /// its scan lists what it holds), a file is kept as it is. Sets the
  /// changed flag; false when the item was already in the set.
  bool add_item(FolderKind kind, std::string path, bool is_folder);
  /// Whether any Include or Video item exists: without one there is nothing
  /// to analyse.
  bool has_sources() const;

  [[nodiscard]] bool black_and_white() const { return m_black_and_white; }
  void set_black_and_white(bool on) { m_black_and_white = on; }

  /// The version of the file last loaded; kListFileVersion after a save.
  int version() const { return m_version; }
  void set_version(int version) { m_version = version; }
  /// A list loaded from a file older than version 118 must be rebuilt.
  [[nodiscard]] bool needs_upgrade() const { return m_version < kFirstCurrentListVersion; }

  /// Set by every edit and by loading an old file; cleared by a save.
  [[nodiscard]] bool changed() const { return m_changed; }
  void set_changed(bool changed) { m_changed = changed; }

  const EntrySet& entries() const { return m_entries; }
  /// Calls `visit(FotoInfo&)` on every entry in path order. The visitor may
  /// change anything but the path.
  template <typename Visit>
  void for_each_entry(Visit&& visit) {
    for (auto& [path, entry] : m_entries) visit(entry);
  }
  std::size_t entry_count() const { return m_entries.size(); }
  /// The entry with exactly this path, or null.
  FotoInfo* find(std::string_view path);
  const FotoInfo* find(std::string_view path) const;
  /// Inserts an entry under its path. An entry with the same path is kept
  /// and the new one dropped (false). Any insertion invalidates the grouping.
  /// Entries inserted in path order (a list file's) go straight to the end.
  bool insert(FotoInfo entry);
  /// Removes the entry with this path; false when there was none. Like an
  /// insertion, it invalidates the grouping.
  bool erase(std::string_view path);
  /// Empties the entry set and the four folder sets, and the counts.
  void clear();

  const std::optional<FileBase>& file_base() const { return m_file_base; }
  /// Takes the list as it is now as the contents of `path` at `stamp`.
  void set_file_base(std::string path, const FileStamp& stamp);
  void forget_file_base() { m_file_base.reset(); }
  /// Empties the entry set only (the folder sets stay).
  void clear_entries();

  /// Paths of entries removed because they were excluded, vanished or could
  /// not be analysed, kept for the error file of the next save.
  const std::vector<std::string>& unusable_paths() const { return m_unusable_paths; }
  void add_unusable_path(std::string path) { m_unusable_paths.push_back(std::move(path)); }
  void clear_unusable_paths() { m_unusable_paths.clear(); }
  /// Removes every entry whose usable flag is clear; their paths replace the
  /// unusable paths. Returns how many were removed.
  std::size_t remove_unusable();

  /// A folder the last scan could not read (wholly or in part), why, and
  /// how many entries under it the list kept from before.
  struct UnreadableFolder {
    std::string folder;               ///< ends in "/" (a file item as it is)
    std::string reason;               ///< the system's text
    std::vector<std::string> kept;    ///< entries kept as they were: not analysed
  };
  const std::vector<UnreadableFolder>& unreadable_folders() const { return m_unreadable_folders; }
  void add_unreadable_folder(UnreadableFolder folder) { m_unreadable_folders.push_back(std::move(folder)); }
  void clear_unreadable_folders() { m_unreadable_folders.clear(); }

  /// Files the last scan passed over because they are of a kind no decoder
  /// reads, by their lower-case extension ("" for a name without one).
  /// Sidecar files and hidden files are not counted: they were never meant
  /// to be pictures.
  const std::map<std::string, long>& unsupported_types() const { return m_unsupported_types; }
  void count_unsupported_type(const std::string& extension) { ++m_unsupported_types[extension]; }
  void clear_unsupported_types() { m_unsupported_types.clear(); }

  /// Asks the next analysis to read every file again, changed or not, and
  /// to retry those an earlier one found bad (after an upgrade that reads
  /// more formats or colours). Not saved with the list.
  void request_reanalysis() { m_reanalysis_requested = true; }
  /// Whether it was asked; clears the request.
  bool take_reanalysis_request() { return std::exchange(m_reanalysis_requested, false); }

  /// Calls `visit(FotoInfo&)` on every entry whose path starts with
  /// `folder`, in path order.
  template <typename Visit>
  void for_each_entry_under(std::string_view folder, Visit&& visit) {
    for (auto it = m_entries.lower_bound(folder); it != m_entries.end() && it->first.starts_with(folder); ++it)
      visit(it->second);
  }

  /// Numbers the entries by the grouping mode (custom variants: path up to
  /// its last "___"; folder variants: path up to its last "/"; any other
  /// mode: frames of extracted videos, whose path holds "FRAMES", are
  /// numbered 1, 2, ... in path order) and recounts landscape and portrait
  /// pictures and clips. Skipped when the mode equals that of the last pass
  /// and nothing was inserted since.
  void group_variants(int mode);
  /// Number of variant groups made by the last grouping pass.
  int group_count() const { return m_group_count; }

  // Counts as of the last grouping pass.
  long landscape_images() const { return m_landscape_images; }
  long portrait_images() const { return m_portrait_images; }
  long landscape_clips() const { return m_landscape_clips; }
  long portrait_clips() const { return m_portrait_clips; }
  long portrait_entries() const { return m_portrait_entries; }

 private:
  /// Puts `entry` into the set at `hint`, keyed by its own path.
  void add_entry(EntrySet::const_iterator hint, FotoInfo entry);
  void reset_counts();
  /// Adds one entry to the counts.
  void count(const FotoInfo& entry);

  std::string m_path;
  std::array<FolderSet, kFolderKindCount> m_folders;
  bool m_black_and_white = false;
  int m_version = kListFileVersion;
  bool m_changed = false;
  EntrySet m_entries;
  std::vector<std::string> m_unusable_paths;
  std::vector<UnreadableFolder> m_unreadable_folders;
  std::map<std::string, long> m_unsupported_types;
  bool m_reanalysis_requested = false;
  std::optional<FileBase> m_file_base;

  static constexpr int kNoGrouping = -1;
  int m_grouping_mode = kNoGrouping;
  int m_group_count = 0;
  long m_landscape_images = 0;
  long m_portrait_images = 0;
  long m_landscape_clips = 0;
  long m_portrait_clips = 0;
  long m_portrait_entries = 0;
};

}  // namespace tess
