// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The mosaic seen from afar: both the main image and the mosaic as written
// are reduced in linear light to 8 pixels a cell width, blurred by half a
// cell width, and compared pixel by pixel in CIEDE2000. At that distance the
// tiles' own pictures have melted into their surroundings, so the figure says
// how much of the main image a viewer across the room still recognises,
// borders and cells left empty included.
//
// Neither picture is ever held at full size for this: the main image is
// reduced before the run frees it, and the mosaic is accumulated band by band
// while the saver writes it, so the cost stays that of the small pictures.

#include <cstdint>
#include <map>
#include <memory>

#include "engine/colour_fidelity.hpp"
#include "engine/likeness.hpp"
#include "images/foto.hpp"

namespace tess {

struct MosaicLayout;
class PuzzleGrid;

/// Reduced pixels a cell width.
inline constexpr int kFarPixelsPerCell = 8;
/// The blur seen from afar, in reduced pixels: half a cell width.
inline constexpr double kFarBlurSigma = 4.0;

/// The cells a row of the mosaic counts at its base tile size: for a
/// pattern the mosaic's width (and one gap) over the layout's tile width and
/// gap, rounded, which is its columns less a sliver cut by the edge; for a
/// mask layout, whose cells are the mask's patches, the mosaic's width over
/// the median width of its cells, rounded. At least 1; 0 when there is
/// nothing to count.
int far_columns(const MosaicLayout& layout, const PuzzleGrid& grid);

/// The main image as seen from afar, kept for the end of the run once the
/// main image itself is gone.
struct FarView {
  int columns = 0;     ///< cells a row; 0: nothing to compare against
  LinearPicture main;  ///< the main image reduced to 8 pixels a cell width
  [[nodiscard]] bool usable() const { return columns > 0 && main.width > 0 && main.height > 0; }
};

/// `image` reduced to kFarPixelsPerCell · columns pixels wide and as many
/// rows as keep its shape (at least 1). An unusable view for no columns or
/// an empty image.
FarView far_view_of(const Foto& image, int columns);

/// Accumulates the mosaic as written, band by band, into the reduced size of
/// a FarView. Bands arrive as the saver renders them: across the whole width
/// top to bottom, or as the columns of split pieces, each top to bottom. A
/// band that leaves a gap, overlaps rows taken already or lies outside the
/// mosaic spoils the picture: complete() stays false and no figure is given
/// rather than a wrong one.
class FarMosaicReducer {
 public:
  FarMosaicReducer(int mosaic_width, int mosaic_height, int width, int height);
  ~FarMosaicReducer();
  FarMosaicReducer(const FarMosaicReducer&) = delete;
  FarMosaicReducer& operator=(const FarMosaicReducer&) = delete;

  /// The band whose top left pixel lies at (x, y) of the mosaic.
  void add_band(const Foto& band, int x, int y);
  /// Every pixel of the mosaic was added exactly once.
  [[nodiscard]] bool complete() const;
  /// The reduced mosaic; meaningful once complete().
  LinearPicture picture() const;

 private:
  /// The rows of one column of pieces (or of the whole width) taken so far.
  struct Strip {
    int width = 0;
    int next_row = 0;
  };

  int m_mosaic_width;
  int m_mosaic_height;
  bool m_spoilt = false;
  std::map<int, Strip> m_strips;            ///< by left edge
  std::unique_ptr<LinearReducer> m_reducer;  ///< every band goes in where it lies
};

/// Fills figures.far_* from the main image's view and the reduced mosaic of
/// the same size: both blurred by half a cell width, then compared pixel by
/// pixel. Leaves the figures without the far ones when the sizes differ.
void add_far_figures(const FarView& view, const LinearPicture& mosaic, ColourFidelity& figures);

}  // namespace tess
