// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A file descriptor that closes itself.

#include <unistd.h>

namespace tess {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  /// The descriptor; negative when the open it came from failed.
  int get() const { return m_fd; }

 private:
  int m_fd;
};

}  // namespace tess
