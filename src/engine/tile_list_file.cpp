#include "engine/tile_list_file.hpp"

#include "base/ini_file.hpp"
#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "engine/tile_priority.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

constexpr const char* kSection = "TileList";

}  // namespace

std::filesystem::path tile_list_file_path(const std::string& output_base) {
  return std::filesystem::path(output_base + tr(" Tile List.txt"));
}

std::string tile_list_key(const PuzzleInfo& cell) {
  return format("Tile%ldx%ld-%ldx%ld", static_cast<long>(cell.left), static_cast<long>(cell.top),
                static_cast<long>(cell.width), static_cast<long>(cell.height));
}

bool save_tile_list_file(MosaicBuilder& builder, const std::filesystem::path& path) {
  IniFile file;
  // Every active cell gets its line, an empty cell an empty value, so a
  // later load sees which cells were left empty on purpose.
  for (const auto& cell : builder.grid.cells()) {
    if (cell->active == 0) continue;
    file.set(kSection, tile_list_key(*cell), cell->tile != nullptr ? cell->tile->path : std::string());
  }
  if (file.save(path)) return true;
  builder.prompt().message(format(tr("Unable to open file '%s'"), path.string()), Icon::error);
  return false;
}

std::size_t load_tile_list_file(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                                const std::filesystem::path& path) {
  IniFile file;
  if (!file.load(path) || builder.tile_list == nullptr) return 0;
  std::size_t fixed = 0;
  for (const auto& cell : builder.grid.cells()) {
    if (cell->active == 0) continue;
    const auto value = file.get(kSection, tile_list_key(*cell));
    if (!value || value->empty()) continue;
    const FotoInfo* tile = builder.tile_list->find(*value);
    TileUse* use = uses.find(tile);
    if (use == nullptr) continue;  // the picture left the list since
    if (TileUse* old = uses.find(cell->tile); old != nullptr && old->use_count > 0) --old->use_count;
    cell->tile = tile;
    cell->score = score_tile(tables, cell->signature, cell->priority, tile->signature).score;
    cell->fixed = 1;
    ++use->use_count;
    ++fixed;
  }
  return fixed;
}

bool FixedPlacement::load(const std::filesystem::path& path) {
  return m_file.load(path) && m_file.has_section(kSection);
}

bool FixedPlacement::lists(const PuzzleInfo& cell) const {
  return m_file.get(kSection, tile_list_key(cell)).has_value();
}

bool FixedPlacement::apply(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                           std::string& problem) const {
  if (builder.tile_list == nullptr) return false;
  // Every cell named and no other: a placement of a larger mosaic names these cells too.
  std::size_t active = 0;
  for (const auto& cell : builder.grid.cells()) active += cell->active != 0 ? 1 : 0;
  if (const std::size_t listed = m_file.keys(kSection).size(); listed != active) {
    problem = format(tr("it names %zu cells, this mosaic has %zu"), listed, active);
    return false;
  }
  for (const auto& cell : builder.grid.cells()) {
    if (cell->active == 0) continue;
    const auto value = m_file.get(kSection, tile_list_key(*cell));
    if (!value) {
      problem = tile_list_key(*cell);
      return false;
    }
    const FotoInfo* tile = value->empty() ? nullptr : builder.tile_list->find(*value);
    TileUse* use = uses.find(tile);
    if (!value->empty() && use == nullptr) {
      problem = *value;
      return false;
    }
    if (TileUse* old = uses.find(cell->tile); old != nullptr && old->use_count > 0) --old->use_count;
    cell->tile = tile;
    cell->score = tile != nullptr ? score_tile(tables, cell->signature, cell->priority, tile->signature).score : kNoTileScore;
    cell->fixed = 1;
    if (use != nullptr) ++use->use_count;
  }
  return true;
}

}  // namespace tess
