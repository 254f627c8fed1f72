// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How much a mosaic looks like its main image, as a viewer sees it from a few
// distances: both pictures are reduced in linear light (where light adds up
// the way the eye averages it), then compared cell by cell (the colour each
// cell blends into), blurred by half a cell and by an eighth of one (what is
// seen from far and from near), and by structural similarity (whether edges
// and textures fall where the main image has them).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "images/cielab.hpp"
#include "images/foto.hpp"

namespace tess {

/// A picture in linear light: red, green, blue (0..1) per pixel, rows top to bottom.
struct LinearPicture {
  int width = 0;
  int height = 0;
  std::vector<float> rgb;  ///< 3 · width · height values
};

/// `picture` box-filtered in linear light to width × height: each output pixel the area-weighted mean of the
/// source pixels it covers (fractional coverage at the edges when the sizes are not whole multiples).
/// Transparency is ignored (pixels count as drawn). Empty picture when sizes are not positive.
LinearPicture reduce_in_linear_light(const Foto& picture, int width, int height);

/// A running box-filter accumulator for a picture that arrives in pieces (the mosaic is written band by band, or
/// piece by piece, and never held whole): add each source pixel once, in rows or rectangles in any order, then
/// take the reduced picture. The result does not depend on how the picture was cut: whole-width rows give the
/// same sums to the last bit whatever the bands, rectangles the same within rounding.
class LinearReducer {
 public:
  LinearReducer(int source_width, int source_height, int width, int height);
  /// Adds the rows [top, top + band.height()) of the source, band.width() == source_width. A band of
  /// another width is ignored; rows outside the source are left out.
  void add_rows(const Foto& band, int top);
  /// Adds the rectangle of the source whose top left pixel is (left, top), block.width() × block.height();
  /// the part of it outside the source is left out. Costs the block's own pixels, not whole rows of the source.
  void add_block(const Foto& block, int left, int top);
  LinearPicture picture() const;  ///< rows never added count as black

 private:
  /// The output pixels one source pixel (a column or a row) falls into, with its share of each.
  struct Span {
    int first = 0;               ///< the first output index it touches
    std::vector<double> shares;  ///< its share of output first, first + 1, …
  };
  static std::vector<Span> spans(int source, int reduced);

  int m_source_width = 0;
  int m_source_height = 0;
  int m_width = 0;
  int m_height = 0;
  std::vector<Span> m_columns;  ///< by source column
  std::vector<Span> m_rows;     ///< by source row
  std::vector<double> m_sums;   ///< 3 · width · height running sums
  std::vector<double> m_row;    ///< one row of a block reduced across, reused
};

/// `picture` blurred by a Gaussian of `sigma` pixels, separable, edges extended (the nearest pixel repeats),
/// kernel cut at 4 σ. A sigma that is not positive leaves the picture as it is.
LinearPicture gaussian_blurred(const LinearPicture& picture, double sigma);

struct LikenessFigures {
  double mean = 0;
  double p95 = 0;
  std::size_t count = 0;
};

/// CIEDE2000 (kL = kC = kH = 1) between every pair of pixels of two pictures of one size (D65 CIELAB of the
/// linear values); mean and 95th percentile (percentile() of colour_fidelity.hpp, numpy's "linear").
/// No figures (count 0) for pictures of different sizes.
LikenessFigures pixel_ciede2000(const LinearPicture& a, const LinearPicture& b);

/// CIEDE2000 between the means (in linear light) of the cells of a columns × rows grid laid over both pictures
/// (cell edges at round(i · width / columns)). Cells that hold no pixel (more columns than pixels) are left
/// out; no figures for pictures of different sizes or a grid that is not positive.
LikenessFigures cell_ciede2000(const LinearPicture& a, const LinearPicture& b, int columns, int rows);

/// Mean SSIM of the red, green and blue planes, computed on the sRGB-encoded values (0..255 scale, data range
/// 255), Gaussian window σ = 1.5 cut at 3.5 σ (11 taps), K1 = 0.01, K2 = 0.03, population (not sample)
/// covariances, the mean over the pixels whose window lies inside the picture (as scikit-image's
/// structural_similarity(..., gaussian_weights=True, sigma=1.5, use_sample_covariance=False, data_range=255,
/// channel_axis=-1) does). Not a number for pictures of different sizes or smaller than the window.
double mean_ssim(const LinearPicture& a, const LinearPicture& b);

/// The size a mosaic and its main image are reduced to before they are compared: eight pixels to a cell
/// across (width 8 · columns), the main image's shape (height round(8 · columns · main_height / main_width)).
/// 0 × 0 for sizes that are not positive.
struct LikenessSize {
  int width = 0;
  int height = 0;
};
LikenessSize likeness_size(int columns, int main_width, int main_height);

/// The likeness figures of a mosaic against its main image, both reduced to likeness_size().
struct MosaicLikeness {
  LikenessFigures cell;  ///< the cells' mean colours
  LikenessFigures far;   ///< every pixel, both blurred by half a cell (σ = 4 px)
  LikenessFigures near;  ///< every pixel, both blurred by an eighth of a cell (σ = 1 px)
  double ssim = 0;       ///< mean_ssim() of the reduced pictures as they are
};
MosaicLikeness mosaic_likeness(const LinearPicture& mosaic, const LinearPicture& main, int columns, int rows);

}  // namespace tess
