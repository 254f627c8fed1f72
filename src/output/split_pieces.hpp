// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The whole mosaic as one file or as split pieces: the size of the pieces,
// the band height they are rendered with, and the earlier files they
// replace, kept until every piece is written.

#include <string>
#include <vector>

#include "output/band_renderer.hpp"
#include "output/part_writer.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

/// The size of split pieces the user asked for, in pixels (used only when
/// the parameters' split is on).
struct SplitPieceSize {
  int width = 0;
  int height = 0;
  /// Only the pieces first..last are written, numbered from 1 in the order
  /// they are written (column by column, top to bottom in a column), so that
  /// separate processes can each write some of them; 0: every piece.
  int first_piece = 0;
  int last_piece = 0;
};

/// How a mosaic of width × height pixels is cut: the pieces' size and how
/// many there are across and down (one piece when it is not split).
struct SplitGrid {
  int piece_width = 0;
  int piece_height = 0;
  int columns = 0;
  int rows = 0;
  [[nodiscard]] int pieces() const { return columns * rows; }
};
[[nodiscard]] SplitGrid split_grid(const MosaicParameters& parameters, const SplitPieceSize& split, int width,
                                   int height);

/// Writes the whole mosaic of width × height pixels, named `base_name`, as
/// one file or as split pieces (column by column, top to bottom in a column,
/// named base name + "%02dx%02d" of row and column), publishing status and
/// progress through the builder. Stops at the first file that fails. A range
/// of pieces beyond the mosaic's pieces, or of a mosaic that is not split,
/// fails with a message.
[[nodiscard]] bool save_mosaic(JPGMosaicSave& saver, const std::string& base_name, const MosaicParameters& parameters,
                 const SplitPieceSize& split, int width, int height, std::vector<SavedFileRecord>& saved, int dpi);

}  // namespace tess
