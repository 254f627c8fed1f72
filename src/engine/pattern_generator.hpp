#pragma once
// Pattern layouts: every pattern code is either rows of landscape and
// portrait cells (mixed and staggered as the code says) or a parquet of
// diagonal runs. The same generator builds the cells of a mosaic and counts
// them for the parameter summary; counting leaves out the leftovers that
// stretch cells to fill the mosaic exactly, so it needs no memory per cell.

#include <cstdint>
#include <functional>
#include <optional>

#include "engine/puzzle.hpp"
#include "settings/geometry.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

class MosaicBuilder;

enum class GeneratorKind { rows, parquet };

/// What a pattern code asks of the generator.
struct GeneratorParameters {
  GeneratorKind kind = GeneratorKind::rows;
  /// Rows: landscape rows (L) and portrait rows (P) per cycle. Parquet:
  /// runs of the first kind (landscape cells) and of the second kind.
  int first = 1;
  int second = 0;
  /// Rows: row i starts i/k of a cell step further right (k = 1: no stagger).
  int stagger = 1;
};

/// The generator and its parameters for a pattern code; nullopt for a code
/// outside the table.
std::optional<GeneratorParameters> pattern_generator_parameters(PatternCode pattern);

/// The layout a pattern is laid out on, in grid units.
struct PatternInput {
  PatternCode pattern = PatternCode::landscape;
  std::int64_t long_side = 0;   ///< a tile's longer side
  std::int64_t short_side = 0;  ///< a tile's shorter side
  std::int64_t gap = 0;         ///< between tiles; also the mosaic's border
  std::int64_t width = 0;       ///< the final mosaic width
  std::int64_t height = 0;      ///< the final mosaic height
  double pixel_scale = 1.0;     ///< mosaic pixels per grid unit

  /// The generator works on the final size plus one gap: n cells with n - 1
  /// gaps then end exactly at the final edge, bordered or not.
  std::int64_t work_width() const { return width + gap; }
  std::int64_t work_height() const { return height + gap; }
  /// Sides of at least 1, a gap of at least 0 and a mosaic of at least 1 × 1.
  [[nodiscard]] bool valid() const;
};

enum class GeneratorMode {
  building,  ///< leftovers are spread over the first rows and cells
  counting,  ///< cells keep the tile size; nothing is stretched
};

/// Receives each cell, already clamped to the mosaic and never empty.
/// Returning false ends the generator with failure.
using CellSink = std::function<bool(const CellRect&)>;

/// What a generator run reports besides its cells.
struct PatternRun {
  std::int64_t columns = 0;  ///< cells in the first row (row patterns)
  std::int64_t rows = 0;     ///< rows laid (row patterns)
  /// The size a cell of a landscape (or portrait) row gets with its share of
  /// the leftovers, as the summary shows it.
  std::int64_t cell_width = 0;
  std::int64_t cell_height = 0;
};

/// Lays out `input` and hands every non-empty cell, clamped to the final
/// mosaic, to `sink`. False for invalid input, an unknown pattern or a sink
/// that refused a cell.
[[nodiscard]] bool generate_pattern(const PatternInput& input, GeneratorMode mode, const CellSink& sink,
                      PatternRun* run = nullptr);

/// Cell counts of a pattern in counting mode.
struct PatternCellCounts {
  std::int64_t total = 0;
  std::int64_t landscape = 0;  ///< width ≥ height
  std::int64_t portrait = 0;
  std::int64_t columns = 0;
  std::int64_t rows = 0;
};

/// Counts the cells `input` lays out, without building them. Empty when
/// the input is invalid or the pattern unknown.
std::optional<PatternCellCounts> count_pattern_cells(const PatternInput& input);

/// The first stage's progress total: full cells plus four per quartered and
/// two per halved cell, with the half and quarter shares in percent.
double cell_building_progress_total(std::int64_t cells, int half_percent, int quarter_percent);

/// The generator's input for a geometry layout: the tile's sides, the border
/// as the gap and the final size, one grid unit per mosaic pixel.
PatternInput pattern_input(const MosaicLayout& layout, PatternCode pattern);

/// The cells `pattern` builds on `layout`, as a run builds them (0 when it
/// cannot be laid out); a CellCounter for the tile counts.
std::int64_t count_layout_cells(const MosaicLayout& layout, PatternCode pattern);

/// The cells a run builds on `layout` with their most common size; a
/// CellLayouter for the summary. Nothing is kept per cell.
LayoutCells layout_cells(const MosaicLayout& layout, PatternCode pattern);

/// Builds the builder's grid from the pattern ("Building Mosaic Tiles...").
/// Tests the stop request as it goes; false on failure or stop.
[[nodiscard]] bool build_cells_from_pattern(MosaicBuilder& builder, const PatternInput& input);

}  // namespace tess
