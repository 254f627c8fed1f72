// SPDX-License-Identifier: GPL-3.0-or-later
#include "images/bounded_input.hpp"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tess {

std::size_t BoundedInput::read(void* data, std::size_t size) {
  if (fd < 0 || offset >= limit || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return 0;
  size = static_cast<std::size_t>(std::min<std::uint64_t>(size, limit - offset));
  // Where the system keeps no holes it names the end of the file; past the
  // end it fails, and pread() then finds nothing either. Only pread() is
  // used on the descriptor, so the position lseek() leaves does not matter.
  const off_t hole = ::lseek(fd, static_cast<off_t>(offset), SEEK_HOLE);
  if (hole >= 0) {
    if (static_cast<std::uint64_t>(hole) <= offset) return 0;  // never written
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, static_cast<std::uint64_t>(hole) - offset));
  }
  for (;;) {
    const ssize_t got = ::pread(fd, data, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;
    offset += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
  }
}

void BoundedInput::skip(std::uint64_t count) { offset = offset >= limit ? limit : offset + std::min(count, limit - offset); }

}  // namespace tess
