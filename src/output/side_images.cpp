#include "output/side_images.hpp"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/puzzle.hpp"
#include "images/foto.hpp"
#include "output/bmp_writer.hpp"
#include "output/format_writers.hpp"
#include "output/jpeg_writer.hpp"
#include "output/output_options.hpp"
#include "output/png_writer.hpp"
#include "output/row_source.hpp"

namespace tess {

namespace {

constexpr int kMaskJpegQuality = 100;
constexpr int kScoreJpegQuality = 80;
// The score image's greys run from this (best) down by at most kScoreSpan.
constexpr int kBestGrey = 249;
constexpr int kScoreSpan = 243;

// The cell's footprint in `colour`: its whole rectangle, or only its shape.
bool cell_patch(const PuzzleInfo& cell, std::uint32_t colour, Foto& patch) {
  if (!cell.has_shape()) return patch.try_allocate(cell.width, cell.height) && (patch.fill(colour), true);
  patch = cell.shape.clone();
  if (patch.empty()) return false;
  for (int y = 0; y < patch.height(); ++y) {
    std::uint32_t* row = patch.row(y);
    for (int x = 0; x < patch.width(); ++x)
      if (row[x] != kEmptyPixel) row[x] = colour;
  }
  return true;
}

// Both images are the extent of the tiles, drawn cell by cell with the blend
// rule: on a background whose byte 3 says "empty" a cell keeps its colour,
// elsewhere it is averaged with what is there.
template <typename ColourOf>
bool draw_cells(const PuzzleGrid& grid, std::uint32_t background, Foto& image, ColourOf colour_of) {
  image.clear();
  const TileExtent extent = tile_extent(grid);
  const std::int64_t pixels = extent.width * extent.height;
  if (pixels < kMinMaskPixels || pixels > kMaxMaskPixels) return false;
  if (!image.try_allocate(static_cast<int>(extent.width), static_cast<int>(extent.height))) return false;
  image.fill(background);
  Foto patch;
  for (const auto& cell : grid.cells()) {
    if (!counts_towards_extent(*cell)) continue;
    const std::uint32_t colour = colour_of(*cell);
    if (cell->width <= 0 || cell->height <= 0) continue;
    if (!cell_patch(*cell, colour, patch)) {
      image.clear();
      return false;
    }
    image.paste(cell->left, cell->top, patch, PasteMode::blend);
  }
  return true;
}

// Tiles are saved in a format of their own, which for some mosaic formats
// differs from the mosaic's; none for the formats that save no tiles.
std::optional<OutputFormatCode> tile_format_of(OutputFormatCode mosaic_format) {
  const OutputFormat* row = find_output_format(mosaic_format);
  return row != nullptr ? row->tile_format : std::nullopt;
}

}  // namespace

// --- individual tiles -------------------------------------------------------

std::string individual_tile_extension(OutputFormatCode format) {
  const std::optional<OutputFormatCode> tile_format = tile_format_of(format);
  return tile_format ? format_extension(*tile_format) : std::string();
}

std::string individual_tile_path(const std::string& folder, std::int64_t x, std::int64_t y, const std::string& title,
                                 OutputFormatCode mosaic_format) {
  return format("%s/%s_x%07ld_y%07ld__%s", folder, tr("Tile"), static_cast<long>(x), static_cast<long>(y), title) +
         individual_tile_extension(mosaic_format);
}

bool save_individual_tile(const Foto& tile, const std::string& folder, std::int64_t x, std::int64_t y,
                          const std::string& title, const OutputOptions& options, int dpi) {
  const std::optional<OutputFormatCode> tile_format = tile_format_of(options.format);
  if (!tile_format || tile.empty()) return false;
  const std::string path = individual_tile_path(folder, x, y, title, options.format);
  // One failure ends tile saving for the run; the files are a convenience
  // beside the mosaic, so nobody is asked to read a message per tile.
  SilentPrompt quiet;
  switch (format_writer(*tile_format)) {
    case FormatWriter::jpeg: return write_jpeg_image(tile, path, true, options.jpeg_quality, dpi, quiet);
    case FormatWriter::bmp: return write_bmp_image(tile, path, quiet);
    case FormatWriter::png: return write_png_picture(tile, path, quiet);
    case FormatWriter::psd: {
      FotoRowSource rows(tile);
      WriteOptions psd_options;
      psd_options.dpi = dpi;
      return write_picture(FormatWriter::psd, rows, path, psd_options, quiet);
    }
    default: return false;  // no tile writer of that kind
  }
}

// --- mask and score images --------------------------------------------------

TileExtent tile_extent(const PuzzleGrid& grid) {
  TileExtent extent;
  for (const auto& cell : grid.cells()) {
    if (!counts_towards_extent(*cell) || cell->width <= 0 || cell->height <= 0) continue;
    extent.width = std::max<std::int64_t>(extent.width, std::int64_t{cell->left} + cell->width);
    extent.height = std::max<std::int64_t>(extent.height, std::int64_t{cell->top} + cell->height);
  }
  return extent;
}

std::uint32_t mask_colour_step(std::size_t tiles) {
  return std::max<std::uint32_t>(static_cast<std::uint32_t>(kMaskColourStart / (static_cast<std::uint64_t>(tiles) + 100)),
                                 kMinMaskColourStep);
}

std::uint32_t next_mask_colour(std::uint32_t colour, std::uint32_t step) {
  // A tile's colour lands on the white background averaged with it, and a
  // mask read back takes what is near white for background: the averaged
  // colour must stay clear of white too, or the tile is lost on reading.
  const auto near_white_or_black = [](std::uint32_t c) {
    int from_white = 0;
    int from_black = 0;
    int drawn_from_white = 0;
    for (int shift = 0; shift < 24; shift += 8) {
      const int channel = static_cast<int>((c >> shift) & 0xFFu);
      const int drawn = (channel + 255) / 2;
      from_white += (channel - 255) * (channel - 255);
      from_black += channel * channel;
      drawn_from_white += (drawn - 255) * (drawn - 255);
    }
    return from_white < 193 || from_black < 193 || drawn_from_white < 193;
  };
  // The walk visits every colour of its cycle once; a cycle made only of
  // near-white and near-black colours cannot loop for ever.
  for (std::uint32_t tries = 0; tries < (1u << 24); ++tries) {
    colour = (colour - step) & 0xFFFFFFu;
    if (!near_white_or_black(colour)) break;
  }
  return colour;
}

bool make_mask_image(const PuzzleGrid& grid, Foto& mask) {
  const std::uint32_t step = mask_colour_step(grid.size());
  std::uint32_t colour = kMaskColourStart;
  return draw_cells(grid, 0x00FFFFFFu, mask, [&](const PuzzleInfo&) {
    colour = next_mask_colour(colour, step);
    return colour;
  });
}

bool make_score_image(const PuzzleGrid& grid, Foto& score) {
  std::uint32_t lowest = std::numeric_limits<std::uint32_t>::max();
  std::uint32_t highest = 0;
  for (const auto& cell : grid.cells()) {
    lowest = std::min(lowest, cell->score);
    highest = std::max(highest, cell->score);
  }
  if (lowest >= highest) {
    lowest = 0;
    highest = std::numeric_limits<std::uint32_t>::max();
  }
  const double range = static_cast<double>(highest - lowest);
  return draw_cells(grid, kEmptyPixel, score, [&](const PuzzleInfo& cell) {
    // A score below the lowest only happens with the fallback range: it is the best.
    const double distance = cell.score > lowest ? static_cast<double>(cell.score - lowest) : 0.0;
    const int offset = std::min(static_cast<int>(distance * kScoreSpan / range), kScoreSpan);
    const auto grey = static_cast<std::uint32_t>(kBestGrey - offset);
    return grey | (grey << 8) | (grey << 16);
  });
}

bool write_mask_files(const PuzzleGrid& grid, const std::string& base_name, Prompt& prompt) {
  // A mask outside its limits, or no memory for it, is skipped without a
  // word: that is no failure of the run.
  bool written = false;
  {
    Foto mask;
    if (!make_mask_image(grid, mask)) return true;
    written = write_jpeg_image(mask, base_name + " MaskFile.jpg", true, kMaskJpegQuality, 0, prompt);
    written = write_bmp_image(mask, base_name + " MaskFile.bmp", prompt) && written;
  }
  Foto score;
  if (!make_score_image(grid, score)) return written;
  return write_jpeg_image(score, base_name + " Score.jpg", true, kScoreJpegQuality, 0, prompt) && written;
}

}  // namespace tess
