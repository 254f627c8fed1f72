#pragma once
// Every file the program writes goes through a FileSink: the bytes go to a
// hidden temporary in the target's own folder, which takes the target's name
// only once everything is written and closed. A failed or stopped write
// leaves the earlier file exactly as it was, and no temporary behind.

#include <cstddef>
#include <filesystem>
#include <string_view>

#include <sys/types.h>

namespace tess {

class FileSink {
 public:
  FileSink() = default;
  /// Rolls back what was not committed.
  ~FileSink();
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  /// Starts writing `target`: a new temporary beside it (permissions as a
  /// plain create would give them, or those of the file it replaces). A
  /// target that exists and is not a regular file (a device such as
  /// /dev/full or /dev/null, a pipe) is written directly and never replaced
  /// or removed; a folder, and a file that may not be written, are refused.
  /// False, with errno set, when nothing
  /// could be opened. Rolls back whatever was open before.
  [[nodiscard]] bool open(const std::filesystem::path& target);

  bool is_open() const { return m_fd >= 0; }
  /// The descriptor the bytes go to, for libraries that write themselves.
  int fd() const { return m_fd; }
  /// Whether the bytes go straight to the target (a device), not to a temporary.
  bool is_direct() const { return m_fd >= 0 && m_temporary.empty(); }
  const std::filesystem::path& target() const { return m_target; }
  /// The temporary being written; empty when writing directly or closed.
  const std::filesystem::path& temporary() const { return m_temporary; }

  /// Writes all of `size` bytes at the current position. write() may take
  /// fewer bytes than asked; only an error or no progress at all is a
  /// failure, and a failure sticks until the sink is closed.
  [[nodiscard]] bool write(const void* data, std::size_t size);
  [[nodiscard]] bool write(std::string_view bytes) { return write(bytes.data(), bytes.size()); }
  /// Writes all of `size` bytes at `offset`, leaving the position alone.
  [[nodiscard]] bool write_at(const void* data, std::size_t size, off_t offset);
  /// Marks the file as failed: commit() will then roll back.
  void fail() { m_failed = true; }
  [[nodiscard]] bool failed() const { return m_failed; }

  /// Makes the written bytes durable before the rename (for small files
  /// whose loss would hurt, like the configuration).
  [[nodiscard]] bool sync();

  /// Closes the file and, when every write and the close succeeded, renames
  /// the temporary over the target. Otherwise rolls back and returns false
  /// (errno says why).
  [[nodiscard]] bool commit();
  /// Closes the file and removes the temporary; the target is untouched.
  void roll_back();

 private:
  /// Writes all of `data` at `offset`, or at the current position when it is negative.
  [[nodiscard]] bool write_bytes(const void* data, std::size_t size, off_t offset);

  int m_fd = -1;
  bool m_failed = false;
  std::filesystem::path m_target;     // the name the file gets on commit
  std::filesystem::path m_temporary;  // empty when writing the target directly
};

/// Writes `bytes` as the whole of `path` through a FileSink, synced first
/// when `durable`.
[[nodiscard]] bool write_file_atomically(const std::filesystem::path& path, std::string_view bytes,
                                         bool durable = false);

}  // namespace tess
