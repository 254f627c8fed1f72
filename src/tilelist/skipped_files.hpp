// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The pictures a list analysis left out, remembered beside the list file so
// that an update does not read them again while they are unchanged. The
// list file and its error file keep their formats; this is a small file of
// our own, one picture a line:
//
//   path TAB size TAB modification time (ns since 1970) TAB reason LF
//
// A path holding a tab or a line break is not written (such a file is
// simply read again each time), and when reading, any line that does not
// parse is passed over: the file can at most make an update skip a file
// that is exactly as it was when it was found bad.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tess {

/// Appended to the list file's path to name the file of pictures left out.
inline constexpr const char* kSkippedFileSuffix = ".skipped";

/// What tells that a file changed: its size and modification time.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

/// The stamp of a regular file (links followed); false for anything else.
[[nodiscard]] bool read_file_stamp(const std::string& path, FileStamp& stamp);

struct SkippedFile {
  std::string path;
  FileStamp stamp;
  std::string reason;
};

class SkippedFiles {
 public:
  /// Reads the file named `file`; a missing or unreadable one holds nothing.
  void load(const std::string& file);
  /// The reason `path` was left out when it still has `stamp`, else null.
  const std::string* unchanged(const std::string& path, const FileStamp& stamp) const;
  bool empty() const { return m_files.empty(); }

 private:
  std::unordered_map<std::string, SkippedFile> m_files;
};

/// The text of the file: a comment line, then one line per file that can be
/// written (see above).
std::string skipped_files_text(const std::vector<SkippedFile>& files);

/// Writes the file whole through a temporary, or removes it when no file was
/// left out. False (errno set) when it could not be written.
[[nodiscard]] bool save_skipped_files(const std::string& file, const std::vector<SkippedFile>& files);

}  // namespace tess
