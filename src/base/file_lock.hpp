#pragma once
// Two programs (the desktop program and the command line, or two command
// lines) may change the same file at once. Each change is made under an
// advisory lock on a hidden ".<name>.lock" beside the file: the file is read
// again, changed and replaced whole while the lock is held.

#include <filesystem>

namespace tess {

/// Holds an exclusive advisory lock for the file `target` for as long as it
/// lives, waiting for the program that holds it now. The lock file is never
/// removed: removing it would let two programs lock two different files.
class FileLock {
 public:
  /// Whether taking the lock waits for the program that holds it now.
  enum class Wait { yes, no };

  explicit FileLock(const std::filesystem::path& target, Wait wait = Wait::yes);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  /// False where no lock file could be made (a folder that takes no new
  /// file): the change then goes ahead unlocked, and its own write fails.
  bool held() const { return m_fd >= 0; }
  /// Without waiting: another program holds the lock now (not held here).
  bool busy() const { return m_busy; }

  /// The lock file of `target`: ".<name>.lock" beside it.
  static std::filesystem::path lock_file(const std::filesystem::path& target);

 private:
  int m_fd = -1;
  bool m_busy = false;
};

}  // namespace tess
