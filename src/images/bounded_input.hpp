// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading a picture file no further than its written data. A file may claim
// gigabytes that were never written: the holes of a sparse file read as
// zeros, and a decoder looking for a marker in them would read them to the
// end. Every reader of a picture goes through BoundedInput, which takes the
// start of a hole for the end of the file.

#include <cstddef>
#include <cstdint>
#include <limits>

namespace tess {

/// Reads a file through pread() from a position of its own (whatever a
/// FILE* around the descriptor has buffered), never past `limit` and never
/// into a hole.
struct BoundedInput {
  int fd = -1;
  std::uint64_t offset = 0;  ///< the next byte to read
  std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();  ///< nothing at or past it is read

  /// Up to `size` bytes into `data`; fewer before the limit or a hole, 0 at
  /// the limit, in a hole, at the end of the file or on an error.
  [[nodiscard]] std::size_t read(void* data, std::size_t size);
  /// Moves on `count` bytes without reading them (at most to the limit): a
  /// hole passed over this way costs nothing.
  void skip(std::uint64_t count);
};

}  // namespace tess
