// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A list file older than the program's, built byte by byte, for the tests of
// the upgrade that such a list is offered.

#include <cstdint>
#include <string>

namespace tess::testing {

/// A version-117 list file with one Include folder and no entries.
inline std::string old_list_file(const std::string& include) {
  std::string bytes;
  const auto i32 = [&bytes](std::int32_t v) {
    for (int b = 0; b < 4; ++b) bytes += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * b)) & 0xFF);
  };
  const auto str = [&bytes](const std::string& s) {
    bytes += static_cast<char>(s.size());
    bytes += s;
  };
  i32(117);
  i32(12);
  i32(9);
  bytes += '\0';  // colour
  str("/old/list.tzc");
  i32(1);
  str(include);
  i32(0);  // Exclude
  i32(0);  // Required
  i32(0);  // entries
  return bytes;
}

}  // namespace tess::testing
