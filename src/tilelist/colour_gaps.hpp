#pragma once
// Where a Tile Images List has no pictures: which colours its tiles reach
// and which they do not (the list alone), and which cells of a main image no
// tile comes close to (the list against a picture). Colours are compared in
// CIELAB by their CIE 1976 difference (ΔE), each picture and cell by its
// whole-picture colour before any colour change.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "images/cielab.hpp"

namespace tess {

class TileImageList;

/// A colour farther than this from every tile is one the list cannot match:
/// about where two colours side by side stop passing for the same.
inline constexpr double kGapDeltaE = 10.0;
/// The distance told for a colour when no tile can be used at all.
inline constexpr double kNoTileDelta = std::numeric_limits<double>::infinity();

/// The English name (a message id: translate it where it is shown) of the
/// colour of a small fixed table nearest to `colour`: "blue", "dark green",
/// "light grey", ...
const char* colour_name(const LabColour& colour);
/// Every name of that table, in its order.
std::vector<const char*> colour_names();

/// The colours of a list, for the question "how far is the nearest one?".
class ColourIndex {
 public:
  ColourIndex() = default;
  explicit ColourIndex(std::vector<LabColour> colours);

  [[nodiscard]] bool empty() const { return m_colours.empty(); }
  std::size_t size() const { return m_colours.size(); }
  const std::vector<LabColour>& colours() const { return m_colours; }
  /// ΔE from `colour` to the nearest colour of the index; kNoTileDelta when empty.
  double nearest(const LabColour& colour) const;

 private:
  static int bucket_of(double value, double low, int count);
  std::size_t bucket_index(int l, int a, int b) const;

  std::vector<LabColour> m_colours;    // ordered by bucket
  std::vector<std::size_t> m_offsets;  // m_colours[m_offsets[i] .. m_offsets[i + 1]) lie in bucket i
};

/// The whole-picture colours of the list's entries, each distinct colour
/// once: of every entry, or of its landscape or portrait ones only.
enum class TileShape { any, landscape, portrait };
std::vector<LabColour> list_colours(const TileImageList& list, TileShape shape = TileShape::any);

/// A part of the colour space no tile reaches, under the name of its colours.
struct ColourHole {
  const char* name = "";     ///< English colour name (message id)
  std::uint32_t swatch = 0;  ///< the hole's middle colour as a pixel
  double share = 0;          ///< of all sRGB colours, 0..1
  double farthest = 0;       ///< ΔE of its colour farthest from any tile
};

/// How the colours of a list cover the colours a picture can have.
struct ListCoverage {
  /// The coverage chart: hue across in kHueBins columns from 0° (red,
  /// through yellow, green and blue) and lightness down in
  /// kLightnessBins rows from white to black; each bin the share of its
  /// colours within kGapDeltaE of a tile, or -1 where no colour lies.
  static constexpr int kHueBins = 36;
  static constexpr int kLightnessBins = 20;
  /// Colours of less chroma than this are greys and have a column of their own.
  static constexpr double kGreyChroma = 8.0;
  std::array<double, kHueBins * kLightnessBins> chart{};
  std::array<double, kLightnessBins> greys{};

  std::size_t tile_colours = 0;  ///< distinct whole-picture colours of the list
  double covered_share = 0;      ///< of all sRGB colours within kGapDeltaE of a tile
  std::vector<ColourHole> holes;  ///< largest first
  std::vector<LabColour> tiles;   ///< the list's distinct colours, for the chart
};

/// Measures the coverage of `tiles` (distinct colours, as list_colours()
/// gives them) and names up to `most_holes` holes.
ListCoverage analyse_list_coverage(const std::vector<LabColour>& tiles, std::size_t most_holes = 8);

/// One cell of a main image as the gap report sees it.
struct GapCell {
  LabColour colour;  ///< the picture's colour under the cell
  double x = 0;      ///< the cell's rectangle in main-image pixels
  double y = 0;
  double width = 0;
  double height = 0;
  bool portrait = false;
  double best = kNoTileDelta;  ///< ΔE to the nearest tile that may fill it
};

/// A colour that, added to the list, would match cells it now misses.
struct ColourToAdd {
  const char* name = "";
  std::uint32_t swatch = 0;
  double share = 0;  ///< of the image's cell area it would bring within kGapDeltaE
};

struct ImageGaps {
  std::vector<GapCell> cells;
  double unmatched_share = 0;  ///< of the cell area farther than kGapDeltaE from every usable tile
  double mean_delta = 0;       ///< area-weighted, over cells some tile may fill
  std::vector<ColourToAdd> to_add;  ///< most area first
};

/// Which tiles may fill which cells: true when a tile of the orientation
/// `tile_portrait` may fill a cell of the orientation `cell_portrait`.
using ShapeRule = std::function<bool(bool cell_portrait, bool tile_portrait)>;

/// Finds each cell's nearest usable tile and, for the cells none comes close
/// to, up to `most` colours to add, each chosen for the cell area it would
/// match that the ones before it do not.
ImageGaps match_cells(std::vector<GapCell> cells, const ColourIndex& landscape, const ColourIndex& portrait,
                      const ShapeRule& may_fill, std::size_t most = 6);

}  // namespace tess
