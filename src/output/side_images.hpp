#pragma once
// Pictures written beside a mosaic: every rendered tile as a file of its own,
// and the mask and score images, which show the tile layout in flat colours
// (to be edited and used as a mosaic template) and how well each tile fits.

#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/mosaic_parameters.hpp"

namespace tess {

class Foto;
class Prompt;
class PuzzleGrid;
struct OutputOptions;

// --- individual tiles -------------------------------------------------------

/// The extension an individual tile gets with the mosaic in `format`: that of
/// the format the table saves its tiles in (JPEG for the web pyramid, PSD for
/// TIFF, PPM and RAW); empty for the video formats, which save no tiles.
std::string individual_tile_extension(OutputFormatCode format);

/// The file of the tile at (x, y) of the mosaic showing picture `title`:
/// "<folder>/Tile_x0001234_y0000056__<title>" plus the format's extension.
std::string individual_tile_path(const std::string& folder, std::int64_t x, std::int64_t y, const std::string& title,
                                 OutputFormatCode mosaic_format);

/// Writes one rendered tile with the writer of the mosaic's format, at the
/// "JPG Quality" option and `dpi` for JPEG. Failures are not reported (the
/// caller stops saving tiles at the first); false for the video formats.
[[nodiscard]] bool save_individual_tile(const Foto& tile, const std::string& folder, std::int64_t x, std::int64_t y,
                          const std::string& title, const OutputOptions& options, int dpi);

// --- mask and score images --------------------------------------------------

/// Where the cells counting towards the mosaic extend: the largest right and
/// bottom edges of the active cells that have a size.
struct TileExtent {
  std::int64_t width = 0;
  std::int64_t height = 0;
};
TileExtent tile_extent(const PuzzleGrid& grid);

/// Masks are written only for this many pixels of extent.
inline constexpr std::int64_t kMinMaskPixels = 101;
inline constexpr std::int64_t kMaxMaskPixels = 400'000'000;

/// The first colour of the mask's colour walk and the smallest step.
inline constexpr std::uint32_t kMaskColourStart = 0xFFB4FF;
inline constexpr std::uint32_t kMinMaskColourStep = 193;

/// The step of the colour walk for a grid of `tiles` cells.
std::uint32_t mask_colour_step(std::size_t tiles);

/// The next colour of the walk after `colour`: stepped down (as a 24-bit
/// value) until it is neither near white nor near black.
std::uint32_t next_mask_colour(std::uint32_t colour, std::uint32_t step);

/// Draws the mask image: white, every counted cell in its own colour over its
/// rectangle (or its shape) averaged with the white below. False when the
/// extent is outside the mask's limits or memory runs out.
[[nodiscard]] bool make_mask_image(const PuzzleGrid& grid, Foto& mask);

/// Draws the score image: black, every counted cell in a grey from 249 (best
/// score of the grid) down to 6 (worst). False like make_mask_image().
[[nodiscard]] bool make_score_image(const PuzzleGrid& grid, Foto& score);

/// Writes "<base> MaskFile.jpg", "<base> MaskFile.bmp" and "<base> Score.jpg".
/// A mask too large or too small, or memory running out, writes nothing and
/// says nothing; a file that cannot be written is reported through `prompt`
/// like any picture. False only when a file could not be written.
[[nodiscard]] bool write_mask_files(const PuzzleGrid& grid, const std::string& base_name, Prompt& prompt);

}  // namespace tess
