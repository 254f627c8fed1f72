#include "base/file_sink.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tess {
namespace {

// The temporary's name keeps this much of the target's, so that a long name
// plus the unique suffix still fits the folder's limit on names.
constexpr std::size_t kKeptNameBytes = 200;

// umask() can only be read by setting it, which would race with threads
// creating files; the kernel shows it in the process status instead.
mode_t read_umask() {
  std::FILE* status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) return 022;
  mode_t mask = 022;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "Umask:", 6) == 0) {
      mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
      break;
    }
  }
  std::fclose(status);
  return mask;
}

mode_t create_mode() {
  static const mode_t mode = 0666 & ~read_umask();
  return mode;
}

// A descriptor that neither waits on a pipe without a reader while opening
// nor makes later writes fail for want of room in one.
int open_direct(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fd;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace

FileSink::~FileSink() { roll_back(); }

bool FileSink::open(const std::filesystem::path& target) {
  roll_back();
  if (target.empty() || !target.has_filename()) {
    errno = ENOENT;
    return false;
  }
  std::filesystem::path final_path = target;
  mode_t mode = create_mode();
  struct stat info {};
  if (::stat(target.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      errno = EISDIR;
      return false;
    }
    if (!S_ISREG(info.st_mode)) {
      m_fd = open_direct(target);
      if (m_fd >= 0) m_target = target;
      return m_fd >= 0;
    }
    // A file its owner made read-only is not replaced behind their back,
    // as opening it for writing would have been refused.
    if (::access(target.c_str(), W_OK) != 0) return false;
    // The replacement reads as the file did; a link keeps pointing at it.
    mode = info.st_mode & 0777;
    struct stat link {};
    if (::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      std::error_code error;
      const auto resolved = std::filesystem::canonical(target, error);
      if (!error) final_path = resolved;
    }
  }

  const std::string name = final_path.filename().string();
  std::string pattern =
      (final_path.parent_path() / ("." + name.substr(0, kKeptNameBytes) + ".XXXXXX")).string();
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return false;
  // mkstemp makes the file private to its owner.
  (void)::fchmod(fd, mode);
  m_fd = fd;
  m_failed = false;
  m_target = final_path;
  m_temporary = pattern;
  return true;
}

bool FileSink::write(const void* data, std::size_t size) { return write_bytes(data, size, -1); }

bool FileSink::write_at(const void* data, std::size_t size, off_t offset) {
  return offset >= 0 && write_bytes(data, size, offset);
}

bool FileSink::write_bytes(const void* data, std::size_t size, off_t offset) {
  if (m_fd < 0 || m_failed) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    // A short write is no failure; an error or no progress at all is.
    const ssize_t written = offset < 0 ? ::write(m_fd, bytes, size) : ::pwrite(m_fd, bytes, size, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      m_failed = true;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
    if (offset >= 0) offset += written;
  }
  return true;
}

bool FileSink::sync() {
  if (m_fd < 0 || m_failed) return false;
  if (::fsync(m_fd) == 0) return true;
  // A device or pipe has nothing to sync: only a temporary must be on disk.
  if (m_temporary.empty() && errno == EINVAL) return true;
  m_failed = true;
  return false;
}

bool FileSink::commit() {
  if (m_fd < 0) {
    errno = EBADF;
    return false;
  }
  bool ok = !m_failed;
  int error = ok ? 0 : (errno != 0 ? errno : EIO);
  // Closing is checked: a full disk often shows up only here.
  const int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && !m_temporary.empty() && ::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (ok) m_temporary.clear();
  roll_back();
  if (!ok) errno = error;
  return ok;
}

void FileSink::roll_back() {
  const int error = errno;
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
  m_temporary.clear();
  m_target.clear();
  m_failed = false;
  errno = error;
}

bool write_file_atomically(const std::filesystem::path& path, std::string_view bytes, bool durable) {
  FileSink sink;
  if (!sink.open(path) || !sink.write(bytes)) return false;
  if (durable && !sink.sync()) return false;
  return sink.commit();
}

}  // namespace tess
