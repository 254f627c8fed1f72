#include "base/file_lock.hpp"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tess {

std::filesystem::path FileLock::lock_file(const std::filesystem::path& target) {
  return target.parent_path() / ("." + target.filename().string() + ".lock");
}

FileLock::FileLock(const std::filesystem::path& target, Wait wait) {
  const std::filesystem::path lock = lock_file(target);
  m_fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (m_fd < 0) return;
  while (::flock(m_fd, wait == Wait::yes ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    m_busy = errno == EWOULDBLOCK;
    ::close(m_fd);
    m_fd = -1;
    return;
  }
}

FileLock::~FileLock() {
  if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
}

}  // namespace tess
