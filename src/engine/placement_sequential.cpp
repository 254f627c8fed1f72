// SPDX-License-Identifier: GPL-3.0-or-later
// Sequential, Random and Sequential by Date: no scoring decides where a tile
// goes, only the order of the list.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/mosaic_builder.hpp"
#include "engine/placement.hpp"
#include "engine/placement_common.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "images/exif.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {
namespace {

/// The shooting date of a picture, else its file's time, as sortable text.
std::string date_key(const FotoInfo& tile) {
  std::string key = exif_date_text(tile.path);
  if (!key.empty()) return key;
  std::error_code error;
  const auto written = std::filesystem::last_write_time(tile.path, error);
  if (error) return key;
  const auto system = std::chrono::file_clock::to_sys(written);
  const std::time_t seconds = std::chrono::system_clock::to_time_t(system);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return key;
  char text[32];
  if (std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &local) == 0) return key;
  return text;
}

void shuffle(std::vector<std::size_t>& order, std::mt19937_64& random) {
  const std::size_t n = order.size();
  for (std::size_t i = 0; i < n; ++i) std::swap(order[i], order[random() % n]);
}

}  // namespace

void place_sequential(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses) {
  PuzzleGrid& grid = builder.grid;
  const MosaicParameters& parameters = builder.parameters;
  // 1. Progress.
  builder.begin_progress_stage(kStagePlacement, 3);

  // 2. Landscape and portrait sequences in list order; with quarter turns
  //    every tile fits every cell.
  const bool turns = parameters.tile_variants.contains(TileVariant::rotated_90);
  std::vector<std::size_t> landscape, portrait;
  for (std::size_t i = 0; i < uses.size(); ++i) {
    if (turns || !uses[i].tile->is_portrait()) {
      landscape.push_back(i);
    } else {
      portrait.push_back(i);
    }
  }
  builder.add_progress(1);

  // 3. Random order, seeded by the clock so every run differs.
  if (parameters.processing == kProcessingRandom) {
    std::mt19937_64 random(static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
    shuffle(landscape, random);
    shuffle(portrait, random);
  }
  // 4. Shooting-date order.
  if (parameters.processing == kProcessingSequentialDate) {
    std::vector<std::string> keys(uses.size());
    for (std::size_t i = 0; i < uses.size(); ++i) {
      if (builder.stop_requested()) return;
      keys[i] = date_key(*uses[i].tile);
    }
    const auto by_date = [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; };
    std::stable_sort(landscape.begin(), landscape.end(), by_date);
    std::stable_sort(portrait.begin(), portrait.end(), by_date);
  }
  builder.add_progress(1);

  // 5. The cells in grid order, each sequence cyclically.
  std::size_t next_landscape = 0, next_portrait = 0;
  for (const auto& cell : grid.cells()) {
    if (builder.stop_requested()) return;
    if (!is_open(*cell)) continue;
    const bool from_landscape = turns || cell->is_landscape();
    std::vector<std::size_t>& sequence = from_landscape ? landscape : portrait;
    if (sequence.empty()) continue;
    std::size_t& next = from_landscape ? next_landscape : next_portrait;
    TileUse& use = uses[sequence[next]];
    next = (next + 1) % sequence.size();
    assign(uses, *cell, use, score_tile(tables, cell->signature, cell->priority, use.tile->signature).score);
  }
  builder.add_progress(1);
}

}  // namespace tess
