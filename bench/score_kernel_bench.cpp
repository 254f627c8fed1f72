// Tile scoring: kernel comparisons per second for each comparison method with
// and without the colour shift, against the bound a full candidate list
// typically holds, and the rebuild of one cell's candidate list against
// 10,000 tiles.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_check.hpp"
#include "engine/score_bound.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "engine/score_tile.hpp"
#include "images/foto.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {
namespace {

/// A photograph-like signature: a smooth random gradient with some texture,
/// the coarser levels derived from the fine grid as the analysis does.
TileSignature smooth_signature(std::mt19937& random) {
  std::uniform_real_distribution<double> level(0, 255), slope(-12, 12), noise(-15, 15);
  double base[3], dx[3], dy[3];
  for (int c = 0; c < 3; ++c) {
    base[c] = level(random);
    dx[c] = slope(random);
    dy[c] = slope(random);
  }
  TileSignature s;
  for (int row = 0; row < kGridRows; ++row) {
    for (int column = 0; column < kGridColumns; ++column) {
      std::uint32_t channel[3];
      for (int c = 0; c < 3; ++c) {
        const double v = base[c] + dx[c] * (column - 5.5) + dy[c] * (row - 4) + noise(random);
        channel[c] = static_cast<std::uint32_t>(std::clamp(v, 0.0, 255.0));
      }
      s.samples[kFirstFineSample + column + kGridColumns * row] = make_pixel(channel[0], channel[1], channel[2]);
    }
  }
  s.recompute_levels();
  s.portrait = static_cast<std::uint8_t>(random() % 4 == 0);
  return s;
}

ScoreTables tables_for(int method, bool shift) {
  MosaicParameters p;
  p.comparison = method;
  p.detail = 5;
  p.tile_variants = kVariantsStandard;
  p.colour_change = shift ? 30 : 0;
  p.colour_priority = kColourPriorityBalanced;
  ScoreTables tables;
  bench::require(tables.set_up(p, 10000), "the score tables");
  return tables;
}

struct Workload {
  std::vector<TileSignature> cells;
  std::vector<TileSignature> tiles;
};

const Workload& workload() {
  static const Workload w = [] {
    Workload made;
    std::mt19937 random(42);
    for (int i = 0; i < 64; ++i) made.cells.push_back(smooth_signature(random));
    for (int i = 0; i < 10000; ++i) made.tiles.push_back(smooth_signature(random));
    return made;
  }();
  return w;
}

// Each cell is scored against a run of tiles with the bound of a candidate
// list of 100 entries out of 10,000: its 100th best unbounded score.
void BM_KernelComparison(benchmark::State& state) {
  const ScoreTables tables = tables_for(static_cast<int>(state.range(0)), state.range(1) != 0);
  const auto level = static_cast<KernelLevel>(state.range(2));
  const std::vector<KernelLevel> levels = supported_kernel_levels();
  if (std::find(levels.begin(), levels.end(), level) == levels.end()) {
    state.SkipWithError("this processor lacks the level");
    return;
  }
  state.SetLabel(kernel_level_name(level));
  const Workload& w = workload();
  std::vector<CellScorer> scorers;
  std::vector<std::uint32_t> bounds;
  for (const TileSignature& cell : w.cells) {
    scorers.emplace_back(tables, cell, kNeutralPriority, level);
    std::vector<std::uint32_t> all;
    for (const TileSignature& tile : w.tiles) all.push_back(scorers.back().score(tile).score);
    std::nth_element(all.begin(), all.begin() + 99, all.end());
    bounds.push_back(all[99]);
  }
  std::size_t cell = 0, tile = 0;
  std::int64_t finished = 0;
  for (auto _ : state) {
    const TileScore s = scorers[cell].score(w.tiles[tile], bounds[cell]);
    finished += s.score != kScoreUnusable;
    benchmark::DoNotOptimize(s);
    if (++tile == w.tiles.size()) {
      tile = 0;
      cell = (cell + 1) % scorers.size();
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["finished"] = benchmark::Counter(static_cast<double>(finished) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_KernelComparison)
    ->ArgNames({"method", "shift", "level"})
    ->ArgsProduct({{kCompareStronger, kCompareBest, kCompareWeaker}, {0, 1}, {0, 1, 2}});

// The same comparisons as a rebuild makes them: the cell's lower bounds of
// all 10,000 tiles sixteen at a time, the tiles the bound does not prove out
// picked from them, then the kernel for those, each signature asked for as
// many tiles ahead as a rebuild asks. Items are tiles, each either proven out or scored.
void BM_KernelScreened(benchmark::State& state) {
  const ScoreTables tables = tables_for(static_cast<int>(state.range(0)), state.range(1) != 0);
  const Workload& w = workload();
  TileBoundBank bank;
  for (const TileSignature& tile : w.tiles) bank.add(tile);
  std::vector<CellScorer> scorers;
  std::vector<CellBound> cell_bounds;
  std::vector<std::uint32_t> bounds;
  for (const TileSignature& cell : w.cells) {
    scorers.emplace_back(tables, cell, kNeutralPriority);
    cell_bounds.emplace_back(tables, cell, kNeutralPriority);
    std::vector<std::uint32_t> all;
    for (const TileSignature& tile : w.tiles) all.push_back(scorers.back().score(tile).score);
    std::nth_element(all.begin(), all.begin() + 99, all.end());
    bounds.push_back(all[99]);
  }
  std::vector<float> lower(w.tiles.size());
  std::vector<std::uint32_t> open;
  std::size_t cell = 0;
  std::int64_t scored = 0, finished = 0, tiles = 0;
  for (auto _ : state) {
    cell_bounds[cell].lower_bounds(bank, 0, w.tiles.size(), lower.data());
    indexes_at_most(lower.data(), w.tiles.size(), cell_bounds[cell].threshold(bounds[cell]), open);
    for (std::size_t k = 0; k < open.size(); ++k) {
      if (k + kSignaturePrefetchDistance < open.size())
        prefetch_signature(w.tiles[open[k + kSignaturePrefetchDistance]]);
      const TileScore s = scorers[cell].score(w.tiles[open[k]], bounds[cell]);
      ++scored;
      finished += s.score != kScoreUnusable;
      benchmark::DoNotOptimize(s);
    }
    tiles += static_cast<std::int64_t>(w.tiles.size());
    cell = (cell + 1) % scorers.size();
  }
  state.SetItemsProcessed(tiles);
  state.counters["scored"] = benchmark::Counter(static_cast<double>(scored) / static_cast<double>(tiles));
  state.counters["finished"] = benchmark::Counter(static_cast<double>(finished) / static_cast<double>(tiles));
}
BENCHMARK(BM_KernelScreened)
    ->ArgNames({"method", "shift"})
    ->ArgsProduct({{kCompareStronger, kCompareBest, kCompareWeaker}, {0, 1}});

// The same without a bound: every allowed comparison runs to the end.
void BM_KernelUnbounded(benchmark::State& state) {
  const ScoreTables tables = tables_for(kCompareBest, state.range(0) != 0);
  const Workload& w = workload();
  const auto level = static_cast<KernelLevel>(state.range(1));
  state.SetLabel(kernel_level_name(level));
  const CellScorer scorer(tables, w.cells[0], kNeutralPriority, level);
  std::size_t tile = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(scorer.score(w.tiles[tile]));
    if (++tile == w.tiles.size()) tile = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KernelUnbounded)->ArgNames({"shift", "level"})->ArgsProduct({{0, 1}, {0, 2}});

// One candidate list rebuilt from 10,000 tiles, with the capacity placement
// gives a first pass (argument) and colour shift on, walking the tiles in
// order (bank 0) or most promising first with their bound fields (bank 1),
// as placement does.
void BM_Rebuild(benchmark::State& state) {
  const ScoreTables tables = tables_for(kCompareBest, true);
  const Workload& w = workload();
  std::vector<std::unique_ptr<FotoInfo>> tiles;
  std::vector<const FotoInfo*> views;
  for (const TileSignature& s : w.tiles) {
    tiles.push_back(std::make_unique<FotoInfo>());
    tiles.back()->signature = s;
    views.push_back(tiles.back().get());
  }
  TileSignature cell_signature = w.cells[1];
  std::uint8_t priority = kNeutralPriority;
  CScoreTile list(ScoreCell{&cell_signature, &priority, 0, 0}, static_cast<std::size_t>(state.range(0)));
  TileBoundBank bank;
  for (const FotoInfo* tile : views) bank.add(tile->signature);
  RebuildInfo info;
  info.tables = &tables;
  info.tiles = views;
  if (state.range(1) != 0) info.bank = &bank;
  for (auto _ : state) {
    list.rebuild(info);
    benchmark::DoNotOptimize(list.count());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(views.size()));
}
BENCHMARK(BM_Rebuild)
    ->ArgNames({"capacity", "bank"})
    ->ArgsProduct({{64, 2000, 10000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tess

BENCHMARK_MAIN();
