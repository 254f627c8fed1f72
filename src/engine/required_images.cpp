#include "engine/required_images.hpp"

#include <cmath>
#include <optional>
#include <vector>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/progress_model.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {
namespace {

/// Above this, prepared cells would cost more memory than preparing each
/// cell again for every picture costs time.
constexpr std::size_t kScorerCacheBytes = std::size_t{128} << 20;

/// Scores pictures against the cells of one grid. Every picture is tried on
/// every cell, so a cell is prepared once and kept, when memory allows.
class GridScorer {
 public:
  GridScorer(const ScoreTables& tables, const PuzzleGrid& grid, std::size_t pictures)
      : m_tables(tables), m_grid(grid) {
    if (pictures > 1 && grid.size() <= kScorerCacheBytes / sizeof(std::optional<CellScorer>))
      m_cells.resize(grid.size());
  }

  /// The picture's score for cell `index`; exact when below `bound`.
  std::uint32_t score(std::size_t index, const TileSignature& picture, std::uint32_t bound) {
    const PuzzleInfo& cell = m_grid.cell(index);
    if (m_cells.empty()) return score_tile(m_tables, cell.signature, cell.priority, picture, bound).score;
    std::optional<CellScorer>& prepared = m_cells[index];
    if (!prepared) prepared.emplace(m_tables, cell.signature, cell.priority);
    return prepared->score(picture, bound).score;
  }

 private:
  const ScoreTables& m_tables;
  const PuzzleGrid& m_grid;
  std::vector<std::optional<CellScorer>> m_cells;
};

std::size_t active_cell_count(const PuzzleGrid& grid) {
  std::size_t count = 0;
  for (const auto& cell : grid.cells())
    if (cell->active != 0) ++count;
  return count;
}

std::uint32_t use_count_of(const TileUseState& uses, const FotoInfo* tile) {
  const TileUse* use = uses.find(tile);
  return use != nullptr ? use->use_count : 0;
}

/// The cell's tile gives up this use to `picture`, which now counts it.
void take_cell(PuzzleInfo& cell, TileUseState& uses, std::size_t picture, std::uint32_t score) {
  if (TileUse* old = uses.find(cell.tile); old != nullptr && old->use_count > 0) --old->use_count;
  cell.tile = uses[picture].tile;
  cell.score = score;
  ++uses[picture].use_count;
}

}  // namespace

PriorityImageKind priority_image_kind(std::string_view path) {
  if (path.find("#PriorityCenter") != std::string_view::npos) return PriorityImageKind::center;
  if (path.find("#PriorityWide") != std::string_view::npos) return PriorityImageKind::wide;
  return PriorityImageKind::none;
}

int priority_band_margin(PriorityImageKind kind) {
  switch (kind) {
    case PriorityImageKind::wide:
      return 15;
    case PriorityImageKind::center:
      return 30;
    case PriorityImageKind::none:
      break;
  }
  return 0;
}

bool in_priority_band(const PuzzleInfo& cell, PriorityImageKind kind, std::int32_t mosaic_width,
                      std::int32_t mosaic_height) {
  if (kind == PriorityImageKind::none || mosaic_width <= 0 || mosaic_height <= 0) return false;
  const std::int64_t margin = priority_band_margin(kind);
  const std::int64_t centre_x = std::int64_t{cell.left} + cell.width / 2;
  const std::int64_t centre_y = std::int64_t{cell.top} + cell.height / 2;
  const std::int64_t x = (100 * centre_x + mosaic_width / 2) / mosaic_width;
  const std::int64_t y = (100 * centre_y + mosaic_height / 2) / mosaic_height;
  return x >= margin && x <= 100 - margin && y >= margin && y <= 100 - margin;
}

bool is_interior_cell(const PuzzleInfo& cell, std::int32_t mosaic_width, std::int32_t mosaic_height,
                      std::int32_t gap) {
  return cell.left != 0 && cell.top != 0 && std::int64_t{cell.left} + cell.width < std::int64_t{mosaic_width} - gap &&
         std::int64_t{cell.top} + cell.height < std::int64_t{mosaic_height} - gap;
}

bool insert_required_images(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses) {
  PuzzleGrid& grid = builder.grid;
  const MosaicParameters& parameters = builder.parameters;

  // Step 1: with "Use All Images" every picture is required, unless no
  // picture may be used twice anyway.
  const bool use_all = parameters.use_all_images && parameters.tile_duplication != 1;

  // Step 2: the pictures still missing; placement's flags keep every other
  // picture out of the way.
  std::vector<std::size_t> missing;
  for (std::size_t i = 0; i < uses.size(); ++i) {
    const bool insert = uses[i].use_count == 0 && (uses[i].tile->required != 0 || use_all);
    uses[i].exhausted = insert ? 0 : 1;
    if (insert) missing.push_back(i);
  }
  builder.begin_progress_stage(kStageRequiredImages, static_cast<double>(missing.size()));
  builder.set_status(format(tr("Inserting %ld required Images into the mosaic..."), static_cast<long>(missing.size())));

  // Step 3: each goes to its best cell off the border, else its best cell.
  const std::int32_t w = grid.pixel_width();
  const std::int32_t h = grid.pixel_height();
  // The gap is kept in grid units; cells are in mosaic pixels.
  const auto gap = static_cast<std::int32_t>(std::floor(grid.gap() * grid.pixel_scale()));
  // A cell whose picture would lose its only use must keep it, or
  // inserting one required picture would push out another.
  const auto keeps_its_tile = [&](const PuzzleInfo& cell) {
    return cell.tile != nullptr && (cell.tile->required != 0 || use_all) && use_count_of(uses, cell.tile) < 2;
  };
  GridScorer scorer(tables, grid, missing.size());
  for (const std::size_t picture : missing) {
    const TileSignature& signature = uses[picture].tile->signature;
    std::optional<std::size_t> best_interior;
    std::optional<std::size_t> best_any;
    // Unusable scores never win: a picture that fits no cell is reported.
    std::uint32_t interior_score = kScoreUnusable;
    std::uint32_t any_score = kScoreUnusable;
    for (std::size_t i = 0; i < grid.size(); ++i) {
      if (builder.stop_requested()) return false;
      const PuzzleInfo& cell = grid.cell(i);
      if (cell.active == 0 || keeps_its_tile(cell)) continue;
      const bool interior = is_interior_cell(cell, w, h, gap);
      // The best interior score is never below the best overall one, so an
      // interior cell is bounded by the former and any other by the latter.
      const std::uint32_t score = scorer.score(i, signature, interior ? interior_score : any_score);
      if (score < any_score) {
        any_score = score;
        best_any = i;
      }
      if (interior && score < interior_score) {
        interior_score = score;
        best_interior = i;
      }
    }
    if (best_interior)
      take_cell(grid.cell(*best_interior), uses, picture, interior_score);
    else if (best_any)
      take_cell(grid.cell(*best_any), uses, picture, any_score);
    builder.add_progress(1);
  }

  // Step 4: what is still missing.
  unsigned long required = 0;
  unsigned long left_out = 0;
  for (std::size_t i = 0; i < uses.size(); ++i) {
    if (uses[i].tile->required == 0 && !parameters.use_all_images) continue;
    ++required;
    if (uses[i].use_count == 0) ++left_out;
  }
  if (left_out > 0)
    builder.prompt().message(
        format(tr("It is not possible to insert %lu Images (on a Total of %lu required Images) into the Mosaic made "
                  "of %lu Tiles. Please raise the number of Tiles and/or allow Rotate 90 degrees"),
               left_out, required, static_cast<unsigned long>(active_cell_count(grid))),
        Icon::warning);
  return true;
}

bool insert_priority_images(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses) {
  PuzzleGrid& grid = builder.grid;
  const std::int32_t w = grid.pixel_width();
  const std::int32_t h = grid.pixel_height();

  // Step 1.
  std::vector<PriorityImageKind> kinds(uses.size(), PriorityImageKind::none);
  std::size_t total = 0;
  for (std::size_t i = 0; i < uses.size(); ++i) {
    kinds[i] = priority_image_kind(uses[i].tile->path);
    if (kinds[i] != PriorityImageKind::none) ++total;
  }
  if (total == 0) return true;
  const auto kind_of = [&](const FotoInfo* tile) {
    const auto index = uses.index_of(tile);
    return index ? kinds[*index] : PriorityImageKind::none;
  };

  // Steps 2 and 3: a picture already inside its band stays where it is.
  std::vector<std::uint8_t> placed(uses.size(), 0);
  for (const auto& cell : grid.cells()) {
    if (cell->active == 0) continue;
    const auto index = uses.index_of(cell->tile);
    if (index && kinds[*index] != PriorityImageKind::none && in_priority_band(*cell, kinds[*index], w, h))
      placed[*index] = 1;
  }
  std::vector<std::size_t> unplaced;
  for (std::size_t i = 0; i < uses.size(); ++i)
    if (kinds[i] != PriorityImageKind::none && placed[i] == 0) unplaced.push_back(i);

  // Step 4.
  builder.begin_progress_stage(kStagePriorityImages, static_cast<double>(unplaced.size()));
  builder.set_status(format(tr("Inserting %ld priority Images into the mosaic..."), static_cast<long>(unplaced.size())));

  // Step 5: the best band cell that can spare its tile.
  GridScorer scorer(tables, grid, unplaced.size());
  unsigned long left_out = 0;
  for (const std::size_t picture : unplaced) {
    const TileSignature& signature = uses[picture].tile->signature;
    std::optional<std::size_t> best;
    std::uint32_t best_score = kScoreUnusable;
    for (std::size_t i = 0; i < grid.size(); ++i) {
      if (builder.stop_requested()) return false;
      const PuzzleInfo& cell = grid.cell(i);
      if (cell.active == 0 || !in_priority_band(cell, kinds[picture], w, h)) continue;
      if (cell.tile != nullptr) {
        if (kind_of(cell.tile) != PriorityImageKind::none) continue;
        if (cell.tile->required != 0 && use_count_of(uses, cell.tile) < 2) continue;
      }
      const std::uint32_t score = scorer.score(i, signature, best_score);
      if (score < best_score) {
        best_score = score;
        best = i;
      }
    }
    // The cell's score follows its new picture, so reports and the score
    // image tell how well what is shown fits.
    if (best)
      take_cell(grid.cell(*best), uses, picture, best_score);
    else
      ++left_out;
    builder.add_progress(1);
  }

  // Step 6.
  if (left_out > 0)
    builder.prompt().message(
        format(tr("It is not possible to insert %lu Images (on a Total of %lu priority Images) into the Mosaic made "
                  "of %lu Tiles. Please raise the number of Tiles and/or reduce the Required/Priority Images"),
               left_out, static_cast<unsigned long>(total), static_cast<unsigned long>(active_cell_count(grid))),
        Icon::warning);
  return true;
}

}  // namespace tess
