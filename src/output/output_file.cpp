#include "output/output_file.hpp"

#include <cerrno>
#include <cstdint>

#include <sys/stat.h>
#include <unistd.h>

#include "base/prompt.hpp"
#include "base/text.hpp"

namespace tess {

bool is_regular_file(int fd) {
  struct stat info {};
  return fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

void remove_failed_output(const std::filesystem::path& path, bool regular) {
  if (!regular) return;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

void report_unable_to_save(const std::string& name, Prompt& prompt) {
  prompt.message(format(tr("Unable to save file '%s'"), name), Icon::error);
}

bool write_all_at(int fd, const void* data, std::size_t size, off_t offset) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t written = ::pwrite(fd, bytes, size, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<std::size_t>(written);
    offset += written;
  }
  return true;
}

}  // namespace tess
