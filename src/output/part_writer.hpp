// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One file of a mosaic: the part of the mosaic it shows, rendered by the band
// renderer and written by the writer the format table names for the format.

#include <cstdint>
#include <string>
#include <vector>

#include "output/band_renderer.hpp"
#include "output/output_options.hpp"

namespace tess {

/// One file of a mosaic that saving attempted, written or not. Paths use "/".
struct SavedFileRecord {
  std::int32_t x_offset = 0;  ///< of the piece inside the whole mosaic
  std::int32_t y_offset = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::string directory;  ///< the path up to its last "/", empty when there is none
  std::string title;      ///< the file name without directory and extension
  std::string extension;  ///< from the file name's last ".", point included; empty when none
  std::string path;       ///< the full path
};

/// The record of `path` at the given place and size.
SavedFileRecord make_saved_file_record(const std::string& path, int x_offset, int y_offset, int width, int height);

/// Writes one file: `name` plus the format's extension, `layout` of the
/// mosaic through `saver`, with `dpi` as its resolution (0: none). Formats
/// this program cannot write yet are refused with a message. A record is
/// appended to `saved` for every format of the list, written or not. True
/// when the whole file was written.
[[nodiscard]] bool save_mosaic_part(JPGMosaicSave& saver, const std::string& name, const OutputOptions& options,
                      const PartLayout& layout, std::vector<SavedFileRecord>& saved, int dpi);

}  // namespace tess
