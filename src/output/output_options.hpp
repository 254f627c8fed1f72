// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How one mosaic is written: the output options of its parameters, copied
// once so that the saver, the band renderer and the individual tiles read the
// same values.

#include <cstdint>
#include <string>

#include "settings/mosaic_parameters.hpp"

namespace tess {

/// How one mosaic is written, copied from its parameters.
struct OutputOptions {
  OutputFormatCode format = OutputFormatCode::jpg;
  int jpeg_quality = kDefaultJpegQuality;  ///< 1..100
  bool transparency = false;               ///< "Background Transparency"
  bool layers = false;                     ///< "Tile Layers"
  bool tiff64 = false;                     ///< "TIFF 64 bit"
  std::uint32_t fourcc = 0;                ///< codec of the compressed video format; 0: raw
  std::string extension{};                 ///< of the mosaic's files; empty: the format's own

  static OutputOptions from(const MosaicParameters& parameters);
};

}  // namespace tess
