#include "base/file_lock.hpp"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tess {

FileLock::FileLock(const std::filesystem::path& target) {
  const std::filesystem::path lock = target.parent_path() / ("." + target.filename().string() + ".lock");
  m_fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (m_fd < 0) return;
  while (::flock(m_fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    ::close(m_fd);
    m_fd = -1;
    return;
  }
}

FileLock::~FileLock() {
  if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
}

}  // namespace tess
