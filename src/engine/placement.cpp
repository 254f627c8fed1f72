#include "engine/placement.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/placement_common.hpp"
#include "engine/tile_list_file.hpp"
#include "settings/advanced_options.hpp"
#include "tilelist/foto_info.hpp"

// The dispatch and what the algorithms share; each algorithm has a file of
// its own (placement_high_quality, placement_faster, placement_sequential,
// placement_auction).

namespace tess {
namespace {

constexpr double kMinMemoryMb = 10;
constexpr double kMaxMemoryMb = 3900;
constexpr double kDefaultMemoryMb = 1500;
constexpr std::int64_t kMinCandidateBytes = 50'000'000;
constexpr std::int64_t kBytesPerEntry = 60;
constexpr std::int64_t kBytesPerCell = 568;
constexpr std::int64_t kBytesPerTile = 540;
constexpr std::int64_t kFixedReserve = 24 + 60'000'036;

/// The tile the cell held, if any, loses that use and may find another cell.
void give_back_use(TileUseState& uses, const PuzzleInfo& cell) {
  if (TileUse* old = uses.find(cell.tile); old != nullptr && old->use_count > 0) {
    --old->use_count;
    old->exhausted = 0;
  }
}

}  // namespace

// ---- shared helpers -----------------------------------------------------------

void assign(TileUseState& uses, PuzzleInfo& cell, TileUse& use, std::uint32_t score) {
  give_back_use(uses, cell);
  cell.tile = use.tile;
  cell.score = score;
  ++use.use_count;
}

void clear_cell(TileUseState& uses, PuzzleInfo& cell) {
  give_back_use(uses, cell);
  cell.tile = nullptr;
  cell.score = kNoTileScore;
}

std::int64_t spacing_area(const PuzzleGrid& grid, std::int32_t duplicate_spacing) {
  if (duplicate_spacing < 2 || grid.empty()) return 0;
  const double cell_area = static_cast<double>(grid.pixel_width()) * static_cast<double>(grid.pixel_height()) /
                           static_cast<double>(grid.size());
  const double area = static_cast<double>(duplicate_spacing) * duplicate_spacing * cell_area;
  if (!(area < 9.0e18)) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(area);
}

std::size_t candidate_entry_budget(const PuzzleGrid& grid, std::size_t tile_count,
                                   const std::string& max_memory_option) {
  const double megabytes =
      std::clamp(read_option_number(max_memory_option, kDefaultMemoryMb), kMinMemoryMb, kMaxMemoryMb);
  const std::int64_t total = static_cast<std::int64_t>(megabytes) * 1'000'000;
  std::int64_t used = kFixedReserve + kBytesPerTile * static_cast<std::int64_t>(tile_count);
  for (const auto& cell : grid.cells()) {
    used += kBytesPerCell + static_cast<std::int64_t>(cell->neighbours.size() * sizeof(PuzzleInfo*));
  }
  const std::int64_t budget = std::max(total - used, kMinCandidateBytes);
  return static_cast<std::size_t>(budget / kBytesPerEntry);
}

std::vector<std::int32_t> variant_group_numbers(const TileUseState& uses, std::int32_t processing) {
  std::vector<std::int32_t> groups;
  if (!holds_grouping_mode(processing)) return groups;
  const std::string separator = processing == kProcessingCustom ? "___" : "/";
  groups.reserve(uses.size());
  std::int32_t number = 0;
  std::string previous;
  for (std::size_t i = 0; i < uses.size(); ++i) {
    const std::string& path = uses[i].tile->path;
    const std::size_t at = path.rfind(separator);
    std::string key = at == std::string::npos ? path : path.substr(0, at);
    if (i == 0 || key != previous) ++number;
    groups.push_back(number);
    previous = std::move(key);
  }
  return groups;
}

bool place_tiles(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses, const PlacementSetup& setup) {
  const MosaicParameters& parameters = builder.parameters;
  const std::int32_t processing = parameters.processing;
  const auto option_on = [&parameters](std::size_t index) {
    return static_cast<long>(read_option_number(parameters.advanced.value(index), 0)) != 0;
  };

  // 1. Faster, with the tile list file.
  if (parameters.consecutive_frames > 0 || processing == kProcessingFaster) {
    if (!setup.tile_list_file.empty() && option_on(kOptTileListLoad)) {
      load_tile_list_file(builder, tables, uses, setup.tile_list_file);
    }
    place_faster(builder, tables, uses);
    if (!setup.tile_list_file.empty() && option_on(kOptTileListSave) && !builder.stop_requested()) {
      if (!save_tile_list_file(builder, setup.tile_list_file) && setup.tile_list_file_failed != nullptr)
        *setup.tile_list_file_failed = true;
    }
    return true;
  }
  // 2. Sequential, Random, Sequential by Date.
  if (processing == kProcessingSequential || processing == kProcessingRandom ||
      processing == kProcessingSequentialDate) {
    place_sequential(builder, tables, uses);
    return true;
  }
  // 3. Experimental, only without duplicates.
  if (processing == kProcessingStandard1 || processing == kProcessingStandard2) {
    if (parameters.tile_duplication != 1 || uses.any_own_limit()) {
      // The run plan refuses this before any work; a caller that skipped it still gets a failure.
      builder.fail(tr("The selected Experimental Mosaic Processing can be used only with the No "
                      "Duplicate Tile Count."));
      return false;
    }
    return place_by_auction(builder, tables, uses, setup);
  }
  // 4. High Quality, and the variant modes through their groups.
  for (std::size_t i = 0; i < uses.size(); ++i) uses[i].exhausted = 0;
  return place_high_quality(builder, tables, uses, setup, holds_grouping_mode(processing));
}

}  // namespace tess
