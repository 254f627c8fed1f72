#pragma once
// The cell grid of one mosaic: every cell the main image is cut into, with
// its place in the mosaic, its signature and, once placement has run, its
// tile. The grid is built from a pattern or from a mask image, analysed
// against the main image and freed at the end of every mosaic.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "base/prompt.hpp"
#include "images/foto.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {

class MosaicBuilder;
struct FotoInfo;

/// The priority of a cell nobody has raised or lowered.
inline constexpr std::uint8_t kNormalCellPriority = 20;

/// One cell of the mosaic.
struct PuzzleInfo {
  std::uint8_t priority = kNormalCellPriority;  ///< 1..255; scales the cell's scores
  std::int32_t top = 0;                         ///< mosaic pixels
  std::int32_t left = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t area = 0;  ///< width × height (saturated for cells too large to count)
  /// Mask-layout cells that are not plain rectangles: width × height pixels,
  /// opaque where the cell is, kEmptyPixel elsewhere. Empty for rectangles.
  Foto shape;
  TileSignature signature;  ///< the main image under the cell
  std::uint8_t analysed = 0;  ///< the signature is valid
  std::uint8_t active = 0;    ///< the cell takes part in the mosaic
  /// Cells within the duplicate spacing (only with consecutive video frames);
  /// owned by the grid, never by this list.
  std::vector<PuzzleInfo*> neighbours;
  const FotoInfo* tile = nullptr;  ///< the placed tile, set by placement
  std::uint32_t score = 0;
  std::uint8_t fixed = 0;  ///< the tile came from a saved tile list

  bool is_landscape() const { return width >= height; }
  bool has_shape() const { return !shape.empty(); }
};

/// Whether `cell` counts towards the mosaic's extent (and is drawn into its
/// mask and score images): it takes part in the mosaic. A cell that counts
/// but has no size still adds nothing to the extent.
[[nodiscard]] inline bool counts_towards_extent(const PuzzleInfo& cell) { return cell.active != 0; }

/// A rectangle in grid units.
struct CellRect {
  std::int64_t x = 0;
  std::int64_t y = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
};

class PuzzleGrid {
 public:
  explicit PuzzleGrid(MosaicBuilder* builder = nullptr) : m_builder(builder) {}
  ~PuzzleGrid() = default;
  PuzzleGrid(const PuzzleGrid&) = delete;
  PuzzleGrid& operator=(const PuzzleGrid&) = delete;

  /// Empties the grid and sets its extent: `width` × `height` grid units,
  /// each `pixel_scale` mosaic pixels, tiles `gap` grid units apart.
  void reset(std::int32_t width, std::int32_t height, double pixel_scale, std::int32_t gap, bool mask_layout);

  /// Clamps `rect` to the mosaic and, when something is left, creates a cell
  /// for it in mosaic pixels. An empty rectangle is no failure; running out
  /// of memory is (reported through the builder's prompt, or the process
  /// prompt without a builder). `added` tells whether a cell was created.
  [[nodiscard]] bool add_cell(const CellRect& rect, bool* added = nullptr);
  /// Takes over a cell built elsewhere (mask layouts), counting it.
  [[nodiscard]] bool add_cell(std::unique_ptr<PuzzleInfo> cell);

  /// Splits `cell` (a cell of this grid) across its longer side, leaving
  /// `gap` pixels between the halves: the cell keeps the top or left half
  /// and the other half comes back as a new, unanalysed cell of the grid.
  /// Cells narrower or lower than gap + 10 are not split (nullptr).
  /// `size_priority` is the "Tile Size Priority" option (LOWER, LOWEST,
  /// HIGHER; anything else keeps the priority).
  PuzzleInfo* split(PuzzleInfo& cell, std::int32_t gap, std::string_view size_priority);

  /// Drops every inactive cell; the last cell takes a dropped cell's place.
  /// Neighbour lists never keep a dropped cell.
  void remove_inactive();

  /// Removes all cells and the counts; the extent stays.
  void free();

  std::size_t size() const { return m_cells.size(); }
  [[nodiscard]] bool empty() const { return m_cells.empty(); }
  PuzzleInfo& cell(std::size_t index) { return *m_cells[index]; }
  const PuzzleInfo& cell(std::size_t index) const { return *m_cells[index]; }
  const std::vector<std::unique_ptr<PuzzleInfo>>& cells() const { return m_cells; }

  MosaicBuilder* builder() const { return m_builder; }
  void set_builder(MosaicBuilder* builder) { m_builder = builder; }

  // Mosaic size in grid units and in pixels, and the gap between tiles.
  std::int32_t grid_width() const { return m_grid_width; }
  std::int32_t grid_height() const { return m_grid_height; }
  std::int32_t pixel_width() const { return m_pixel_width; }
  std::int32_t pixel_height() const { return m_pixel_height; }
  double pixel_scale() const { return m_pixel_scale; }
  std::int32_t gap() const { return m_gap; }
  [[nodiscard]] bool mask_layout() const { return m_mask_layout; }

  std::size_t landscape_count() const { return m_landscape; }
  std::size_t portrait_count() const { return m_portrait; }

  /// Cells in the first row and rows laid (row patterns; 0 otherwise).
  std::int32_t columns = 0;
  std::int32_t rows = 0;
  /// Grid units of the mosaic that the main image covers, set by the analysis.
  std::int32_t used_width = 0;
  std::int32_t used_height = 0;

 private:
  void count(const PuzzleInfo& cell, int direction);
  /// The builder's prompt; a grid built outside a run has nobody to tell, so
  /// its false results are all its caller learns.
  Prompt& prompt() const;
  void report_out_of_memory(std::int64_t width, std::int64_t height) const;

  MosaicBuilder* m_builder = nullptr;
  mutable SilentPrompt m_unwatched;
  std::vector<std::unique_ptr<PuzzleInfo>> m_cells;
  std::int32_t m_grid_width = 0;
  std::int32_t m_grid_height = 0;
  std::int32_t m_pixel_width = 0;
  std::int32_t m_pixel_height = 0;
  double m_pixel_scale = 1.0;
  std::int32_t m_gap = 0;
  bool m_mask_layout = false;
  std::size_t m_landscape = 0;
  std::size_t m_portrait = 0;
};

/// The priority both halves of a split cell get.
std::uint8_t split_priority(std::uint8_t priority, std::string_view size_priority);

}  // namespace tess
