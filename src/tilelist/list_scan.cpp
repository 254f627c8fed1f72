// Folder scanning with std::filesystem's error-code forms: a folder that
// vanishes, cannot be opened or holds names too long for the system simply
// contributes what could be read.

#include "tilelist/list_scan.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace tess {

namespace fs = std::filesystem;

bool extension_accepted(const std::string& path, FolderKind kind) {
  return extension_in_list(path, kind == FolderKind::video ? kVideoExtensions : kPictureExtensions);
}

namespace {

/// A folder's identity, so that a folder reached twice through links is
/// scanned once.
using FolderId = std::pair<dev_t, ino_t>;

class FolderScan {
 public:
  FolderScan(TileImageList& list, FolderKind kind) : m_list(list), m_kind(kind) {}

  void scan_item(const std::string& item) {
    std::error_code error;
    const fs::path path(item);
    const fs::file_status status = fs::status(path, error);  // follows links
    if (error) {
      // A vanished item simply contributes nothing; one that is there but
      // out of reach is reported, and a folder's entries are kept.
      if (error != std::errc::no_such_file_or_directory && error != std::errc::not_a_directory)
        note_unreadable(item, error);
      return;
    }
    if (fs::is_directory(status)) {
      std::string folder = item;
      if (folder.back() != '/') folder += '/';
      scan_folder(folder);
    } else if (fs::is_regular_file(status) && item.back() != '/') {
      take_file(item);
    }
  }

  long taken() const { return m_taken; }

 private:
  void scan_folder(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
      if (errno != ENOENT && errno != ENOTDIR) note_unreadable(folder, std::error_code(errno, std::generic_category()));
      return;
    }
    if (!S_ISDIR(info.st_mode)) return;
    if (!m_visited.insert({info.st_dev, info.st_ino}).second) return;

    // Files first, then the sub-folders, each scanned with the same kind.
    std::vector<std::string> subfolders;
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
      // The type the folder listing gave is used as it is; only links (and
      // names of unknown type) are looked up, following the link. An
      // unchanged library is then listed without a stat per file.
      std::error_code entry_error;
      const bool is_folder = it->is_directory(entry_error);
      if (entry_error) continue;  // a dangling link, a name too long to stat
      const bool is_file = !is_folder && it->is_regular_file(entry_error);
      if (entry_error) continue;
      if (!is_folder && !is_file) continue;
      std::string name = it->path().filename().string();
      if (is_folder) {
        subfolders.push_back(folder + name + "/");
      } else {
        take_file(folder + name);
      }
    }
    // A folder that could not be listed (or not to its end) is reported;
    // what it held stays as the list knew it.
    if (error && error != std::errc::no_such_file_or_directory) note_unreadable(folder, error);
    for (const std::string& sub : subfolders) scan_folder(sub);
  }

  void note_unreadable(const std::string& item, const std::error_code& error) {
    std::vector<std::string> kept;
    const auto keep = [this, &kept](FotoInfo& entry) {
      if (entry.usable != 0 || entry.file_size == kNewEntryFileSize) return;  // found, or never analysed
      entry.usable = 1;
      if (m_kind == FolderKind::required) entry.required = 1;
      kept.push_back(entry.path);
    };
    // An Exclude item that cannot be read excludes nothing.
    if (m_kind != FolderKind::exclude) {
      if (item.ends_with('/'))
        m_list.for_each_entry_under(item, keep);
      else if (FotoInfo* entry = m_list.find(item))
        keep(*entry);
    }
    for (const TileImageList::UnreadableFolder& known : m_list.unreadable_folders())
      if (known.folder == item) {
        // Reached again through another item: its entries were kept then.
        return;
      }
    m_list.add_unreadable_folder({item, error.message(), std::move(kept)});
  }

  void take_file(const std::string& path) {
    if (!extension_accepted(path, m_kind)) {
      if (m_kind == FolderKind::include || m_kind == FolderKind::required) count_passed_over(path);
      return;
    }
    ++m_taken;
    const bool usable = m_kind != FolderKind::exclude;
    if (FotoInfo* existing = m_list.find(path)) {
      existing->usable = usable ? 1 : 0;
      if (m_kind == FolderKind::required) existing->required = 1;
      if (m_kind == FolderKind::video && existing->rate_code == 0) existing->rate_code = kUnknownRateCode;
      return;
    }
    // An excluded file the list does not hold would only be removed again.
    if (!usable) return;
    FotoInfo entry(path);
    entry.usable = 1;
    entry.required = m_kind == FolderKind::required ? 1 : 0;
    entry.rate_code = m_kind == FolderKind::video ? kUnknownRateCode : 0;
    m_list.insert(std::move(entry));
  }

  // A file a picture folder holds that no decoder reads is counted by its
  // ending, so that the user learns what was there; a clip the list's video
  // folders take, a sidecar of a photo and a hidden file are not.
  void count_passed_over(const std::string& path) {
    const fs::path name = fs::path(path).filename();
    const std::string text = name.string();
    if (text.empty() || text.front() == '.') return;
    if (!m_list.folders(FolderKind::video).empty() && extension_accepted(path, FolderKind::video)) return;
    const std::string extension = lower_extension(name);
    for (const char* sidecar : {".xmp", ".aae", ".thm"})
      if (extension == sidecar) return;
    m_list.count_unsupported_type(extension);
  }

  TileImageList& m_list;
  FolderKind m_kind;
  std::set<FolderId> m_visited;
  long m_taken = 0;
};

}  // namespace

long scan_folder_item(TileImageList& list, const std::string& item, FolderKind kind) {
  if (item.empty()) return 0;
  FolderScan scan(list, kind);
  scan.scan_item(item);
  return scan.taken();
}

void build_entries(TileImageList& list) {
  // Step 1: nothing counts until a scan finds it again.
  list.for_each_entry([](FotoInfo& entry) {
    entry.usable = 0;
    entry.required = 0;
  });
  list.clear_unreadable_folders();
  list.clear_unsupported_types();
  // Step 2: Exclude comes after Include and Required so that it wins.
  for (FolderKind kind : {FolderKind::include, FolderKind::required, FolderKind::exclude, FolderKind::video})
    for (const std::string& item : list.folders(kind)) scan_folder_item(list, item, kind);
  // Step 3: what nobody found usable goes.
  list.remove_unusable();
}

}  // namespace tess
