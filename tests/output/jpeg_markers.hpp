// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A JPEG file with its ICC profile markers taken out: what the writer makes
// for the same pixels when it is asked for no profile (web tiles).

#include <cstddef>
#include <cstdint>
#include <string>

namespace tess::testing {

/// `jpeg` without its APP2 "ICC_PROFILE" segments; every other byte kept in
/// order. `removed` counts the segments taken out. A file whose header cannot
/// be walked comes back unchanged.
inline std::string without_icc_markers(const std::string& jpeg, int* removed = nullptr) {
  if (removed != nullptr) *removed = 0;
  const auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(jpeg[at]); };
  if (jpeg.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return jpeg;
  std::string out = jpeg.substr(0, 2);
  std::size_t at = 2;
  // Segments up to the start of scan; the entropy-coded data follows whole.
  while (at + 4 <= jpeg.size() && byte(at) == 0xFF && byte(at + 1) != 0xDA) {
    const std::size_t length = static_cast<std::size_t>(byte(at + 2)) << 8 | byte(at + 3);
    if (length < 2 || at + 2 + length > jpeg.size()) return jpeg;
    const bool icc = byte(at + 1) == 0xE2 && length >= 2 + 12 &&
                     jpeg.compare(at + 4, 12, std::string("ICC_PROFILE\0", 12)) == 0;
    if (icc && removed != nullptr) ++*removed;
    if (!icc) out.append(jpeg, at, 2 + length);
    at += 2 + length;
  }
  out.append(jpeg, at, std::string::npos);
  return out;
}

}  // namespace tess::testing
