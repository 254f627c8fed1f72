#pragma once
// Mosaic geometry: turns the sizes the user states in any unit (the mosaic's
// maximum size, the resolution, the tile size, the border) into pixels, fits
// the main image's aspect into the maximum box and derives the final size, the
// tile size and the grid of columns and rows. The summary, the pre-run check
// and the run itself all read the same layout, so what the window promises is
// what the run builds. Also here: unit conversions, the preset entries of the
// size box, the cell counts with their half and quarter splits, and the file
// size estimate.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/text.hpp"
#include "settings/mosaic_parameters.hpp"
#include "settings/units.hpp"

namespace tess {

class Prompt;

inline constexpr const char* kAddImageMessage = N_("Please add an Image using the + button");
inline constexpr const char* kSpecifyAllParametersMessage = N_("Please specify all the parameters");

inline constexpr double kCmPerInch = 2.54;
/// Two equal maximum sides of at least this many pixels state an area (a size
/// given in kilopixels, megapixels or gigapixels), not a square.
inline constexpr double kAreaThreshold = 3000000;
/// The largest side, in pixels, the geometry accepts: a size that converts to
/// more is treated like a missing one, so no later product can overflow.
inline constexpr std::int64_t kMaxLayoutSide = 2147483647;
/// A square maximum size with a side of 1 to this many pixels takes the
/// mosaic's shape and size from a mask image.
inline constexpr std::int64_t kMaxMaskFileSide = 8;
/// The "MaskFile" entry of the size presets: mask-file mode at one mosaic
/// pixel per mask pixel.
inline constexpr SizeValue kMaskFileSize{1, 1, kUnitPixel};

// ---- Conversions ------------------------------------------------------------

/// `value` in unit `from` expressed in unit `to`. Lengths meet pixels through
/// the resolution `ppi` (pixels per inch), tiles meet pixels through the tile
/// size `tile_pixels`; kilo-, mega- and gigapixels scale pixels, megabytes and
/// gigabytes scale bytes, PPI and DPI are the same. nullopt for a pair that
/// has no rule or whose rule needs a resolution or tile size that is not
/// above 0.
std::optional<double> convert_unit(double value, UnitCode from, UnitCode to, double ppi = 0, double tile_pixels = 0);

/// Patterns whose base tile stands upright (Mixed 1:1, 2:1, 3:1, 5:1 and their
/// staggered forms, Parquet 1:2 and narrower, Portrait): their tiles are
/// taller than wide.
bool is_upright_pattern(PatternCode pattern);

// ---- The layout -------------------------------------------------------------

/// What the geometry step makes of the parameters for one main image. Every
/// size is in pixels.
struct MosaicLayout {
  std::int64_t image_width = 0;   ///< the main image; 0 when none is loaded
  std::int64_t image_height = 0;
  std::int64_t max_width = 0;     ///< the maximum box, before it is turned to the image
  std::int64_t max_height = 0;
  bool max_is_area = false;       ///< the maximum size was an area (megapixels and the like)
  std::int64_t final_width = 0;
  std::int64_t final_height = 0;
  std::int64_t tile_width = 0;
  std::int64_t tile_height = 0;
  bool tile_size_derived = false;  ///< the tile size came from a tile count or tiles per row
  std::int64_t border = 0;         ///< gap between tiles
  std::int64_t columns = 0;
  std::int64_t rows = 0;
  std::int64_t cell_count = 0;     ///< columns × rows
  std::int64_t final_pixels = 0;   ///< final width × final height
  std::int64_t tile_pixels = 0;    ///< tile width × tile height
  double pixels_per_inch = 0;
  double pixels_per_cm = 0;
  std::int32_t half_share = 0;     ///< percent of cells split in halves
  std::int32_t quarter_share = 0;  ///< percent of cells split in quarters
  /// The side (1..8) of the square maximum size that selects mask-file mode;
  /// 0 when the mosaic is laid out by its pattern.
  std::int32_t mask_file = 0;
  /// Why the layout cannot be used (translated); empty when it can.
  std::string message;

  [[nodiscard]] bool usable() const { return message.empty(); }
  /// The area the pattern generator lays cells on: the final size plus one
  /// border in each direction, so that n cells and n - 1 gaps end exactly at
  /// the final size.
  std::int64_t grid_width() const { return final_width + border; }
  std::int64_t grid_height() const { return final_height + border; }
};

/// The geometry step for a main image of `image_width` × `image_height`
/// pixels (0 × 0 when none is loaded). Fills `layout` and returns whether it
/// can be used; when not, layout.message says why ("Please add an Image using
/// the + button", "Please specify all the parameters"). Nothing here divides
/// by a size, resolution or count of 0: such a value leaves its result at 0
/// and the step fails. The summary shows the message itself.
bool compute_layout(const MosaicParameters& params, std::int64_t image_width, std::int64_t image_height,
                    MosaicLayout& layout);
/// Why `layout` cannot be used, in the command line's own words: it has no
/// + button to point at, so it names the sizes and what to change.
std::string command_line_layout_message(const MosaicLayout& layout);
/// The same step before a run: the message of a layout that cannot be used
/// is shown through `report` (in the command line's words without a window).
[[nodiscard]] bool compute_layout(const MosaicParameters& params, std::int64_t image_width, std::int64_t image_height,
                                  MosaicLayout& layout, Prompt& report);

// ---- Cell counts ------------------------------------------------------------

/// Counts the cells that `pattern` lays out on a layout's grid. The summary
/// and the progress totals count through one of these, so the pattern
/// generator's counting mode can stand in for the plain grid count.
using CellCounter = std::function<std::int64_t(const MosaicLayout& layout, PatternCode pattern)>;

/// columns × rows, whatever the pattern.
std::int64_t count_grid_cells(const MosaicLayout& layout, PatternCode pattern);

/// The cells a run builds on a layout, as the summary shows them.
struct LayoutCells {
  std::int64_t cells = 0;
  std::int64_t columns = 0;  ///< cells in the first row
  std::int64_t rows = 0;
  /// The size most cells get, in the layout's orientation.
  std::int64_t cell_width = 0;
  std::int64_t cell_height = 0;
  /// Every cell has that size (turned for cells of the other orientation);
  /// else the size is only what most cells get.
  bool even = true;
};

/// What a run's pattern builds on a layout; the pattern generator provides
/// the real one, which this module cannot reach.
using CellLayouter = std::function<LayoutCells(const MosaicLayout& layout, PatternCode pattern)>;

/// The plain grid: columns × rows cells of the layout's tile size.
LayoutCells grid_layout_cells(const MosaicLayout& layout, PatternCode pattern);

/// How many cells the half and quarter split takes from `cells`.
struct SplitPlan {
  std::int64_t half_cells = 0;     ///< cells split in two
  std::int64_t quarter_cells = 0;  ///< cells split in four
};

/// Shares in percent of `cells`, rounded down. A share of 16 % or more in
/// either switches the split off altogether, as the placement does.
SplitPlan plan_splits(std::int64_t cells, std::int32_t half_share, std::int32_t quarter_share);

/// The tiles of a mosaic: whole cells, and the pieces of the split ones.
struct TileCounts {
  std::int64_t cells = 0;
  SplitPlan split;

  std::int64_t full() const { return cells - split.half_cells - split.quarter_cells; }
  std::int64_t halves() const { return 2 * split.half_cells; }       ///< two per cell split in halves
  std::int64_t quarters() const { return 4 * split.quarter_cells; }  ///< four per cell split in quarters
  /// Every tile of the finished mosaic; also the total of the cell-building
  /// progress stage.
  std::int64_t total() const { return full() + halves() + quarters(); }
};

/// The cells of `layout` for `pattern` as `counter` counts them, with the
/// split of the layout's shares.
TileCounts count_tiles(const MosaicLayout& layout, PatternCode pattern,
                       const CellCounter& counter = count_grid_cells);

// ---- File size estimate -----------------------------------------------------

/// Bytes per pixel of a JPEG at `quality`.
double jpeg_bytes_per_pixel(std::int32_t quality);

/// The estimated size in bytes of a `width` × `height` mosaic written as
/// `format`; `layer_count` is the number of tile layers of a layered
/// Photoshop file. nullopt for the video formats, which have no estimate.
std::optional<double> estimate_file_size(OutputFormatCode format, std::int32_t jpeg_quality, bool transparency,
                                         bool layers, std::int64_t layer_count, std::int64_t width,
                                         std::int64_t height);

/// A byte count in the largest unit that keeps it at 1 or more: bytes,
/// megabytes or gigabytes ("47600000" bytes is "45.40 megabytes").
std::string format_byte_count(double bytes);

// ---- The size box -----------------------------------------------------------

/// One entry of the mosaic size box.
struct SizePreset {
  const char* label = nullptr;  ///< untranslated name, or null: the size names itself
  SizeValue size;               ///< width and height -1 for a free entry

  /// The entry as the box shows it: the translated name, or the size in the
  /// size format ("20 inches", "nnnn cm" for a free entry).
  std::string text() const;
};

/// The entries of the size box in order: paper sizes, square sizes, free
/// entries per unit, video sizes, the free inch entry and "MaskFile".
const std::vector<SizePreset>& mosaic_size_presets();

}  // namespace tess
