#include "engine/tile_list_file.hpp"

#include <cinttypes>
#include <cstdio>
#include <fstream>

#include "base/fnv_hash.hpp"
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
constexpr const char* kOriginSection = "MadeFor";

// The 64-bit FNV-1a hash of a file's bytes, read in blocks so a large list
// never sits in memory whole; nullopt when the file cannot be read.
std::optional<std::uint64_t> file_hash(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::uint64_t hash = kFnv1aOffsetBasis;
  char block[65536];
  while (in) {
    in.read(block, sizeof block);
    hash = fnv1a_64(std::string_view(block, static_cast<std::size_t>(in.gcount())), hash);
  }
  if (in.bad()) return std::nullopt;
  return hash;
}

std::optional<std::string> file_hash_text(const std::string& path) {
  const auto hash = file_hash(path);
  if (!hash) return std::nullopt;
  return format("%016" PRIx64, *hash);
}

}  // namespace

bool placement_origin(const std::string& main_image, int width, int height, const std::string& list_file,
                      const MosaicLayout& layout, PatternCode pattern, const std::string& mask_file,
                      PlacementOrigin& origin) {
  origin = PlacementOrigin{};
  origin.main_image = std::filesystem::path(main_image).filename().string();
  origin.main_width = width;
  origin.main_height = height;
  origin.list = std::filesystem::path(list_file).filename().string();
  const auto main_hash = file_hash_text(main_image);
  const auto list_hash = file_hash_text(list_file);
  if (!main_hash || !list_hash) return false;
  origin.main_hash = *main_hash;
  origin.list_hash = *list_hash;
  if (!mask_file.empty()) {
    const auto mask_hash = file_hash_text(mask_file);
    if (!mask_hash) return false;
    origin.mask_hash = *mask_hash;
  }
  origin.grid = format("%lld × %lld pixels, tiles of %lld × %lld, gap %lld, %lld × %lld cells, pattern %d",
                       static_cast<long long>(layout.final_width), static_cast<long long>(layout.final_height),
                       static_cast<long long>(layout.tile_width), static_cast<long long>(layout.tile_height),
                       static_cast<long long>(layout.border), static_cast<long long>(layout.columns),
                       static_cast<long long>(layout.rows), static_cast<int>(pattern_number(pattern)));
  return true;
}

std::optional<PlacementOrigin> read_placement_origin(const IniFile& file) {
  if (!file.has_section(kOriginSection)) return std::nullopt;
  PlacementOrigin origin;
  origin.main_image = file.get(kOriginSection, "MainImage", "");
  const std::string size = file.get(kOriginSection, "MainImageSize", "");
  if (std::sscanf(size.c_str(), "%dx%d", &origin.main_width, &origin.main_height) != 2)
    origin.main_width = origin.main_height = 0;
  origin.main_hash = file.get(kOriginSection, "MainImageHash", "");
  origin.list = file.get(kOriginSection, "List", "");
  origin.list_hash = file.get(kOriginSection, "ListHash", "");
  origin.grid = file.get(kOriginSection, "Cells", "");
  origin.mask_hash = file.get(kOriginSection, "MaskHash", "");
  return origin;
}

std::string placement_difference(const PlacementOrigin& made_for, const PlacementOrigin& run) {
  if (made_for.main_hash != run.main_hash || made_for.main_width != run.main_width ||
      made_for.main_height != run.main_height)
    return format("another main image (%s, %d × %d): this run's is %s, %d × %d", made_for.main_image,
                  made_for.main_width, made_for.main_height, run.main_image, run.main_width, run.main_height);
  if (made_for.list_hash != run.list_hash)
    return format("another Tile Images List (%s): this run's is %s, or it changed since", made_for.list, run.list);
  if (made_for.grid != run.grid)
    return format("other cells (%s): this run's are %s", made_for.grid, run.grid);
  if (!made_for.mask_hash.empty() && !run.mask_hash.empty() && made_for.mask_hash != run.mask_hash)
    return "another mask: this run's mask lays out other cells";
  return {};
}

std::filesystem::path tile_list_file_path(const std::string& output_base) {
  return std::filesystem::path(output_base + tr(" Tile List.txt"));
}

std::string tile_list_key(const PuzzleInfo& cell) {
  return format("Tile%ldx%ld-%ldx%ld", static_cast<long>(cell.left), static_cast<long>(cell.top),
                static_cast<long>(cell.width), static_cast<long>(cell.height));
}

bool save_tile_list_file(MosaicBuilder& builder, const std::filesystem::path& path, const PlacementOrigin* origin) {
  IniFile file;
  // The origin comes first: a line added at the end of the file still lands
  // among the cells.
  if (origin != nullptr) {
    file.set(kOriginSection, "MainImage", origin->main_image);
    file.set(kOriginSection, "MainImageSize", format("%dx%d", origin->main_width, origin->main_height));
    file.set(kOriginSection, "MainImageHash", origin->main_hash);
    file.set(kOriginSection, "List", origin->list);
    file.set(kOriginSection, "ListHash", origin->list_hash);
    file.set(kOriginSection, "Cells", origin->grid);
    if (!origin->mask_hash.empty()) file.set(kOriginSection, "MaskHash", origin->mask_hash);
  }
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
