// High Quality placement of a whole mosaic: 1,200 cells against 10,000 tiles
// and 10,000 cells against 50,000 tiles, with synthetic smooth signatures,
// the default parameters and two threads. Reports the process's peak
// resident memory, which the candidate lists dominate.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "bench_check.hpp"
#include "base/ini_file.hpp"
#include "base/scripted_prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/placement.hpp"
#include "engine/score_tables.hpp"
#include "engine/tile_priority.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

/// A photograph-like signature: a smooth random gradient with some texture.
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
  s.analysed = 1;
  s.portrait = static_cast<std::uint8_t>(random() % 4 == 0);
  return s;
}

double peak_megabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void BM_HighQualityPlacement(benchmark::State& state) {
  const int columns = static_cast<int>(state.range(0));
  const int rows = static_cast<int>(state.range(1));
  const int tiles = static_cast<int>(state.range(2));
  constexpr int kSide = 40;

  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  builder.parameters.advanced.initialise_all(true, IniFile{});
  std::mt19937 random(42);
  TileImageList list;
  for (int i = 0; i < tiles; ++i) {
    FotoInfo info(format("/tiles/%06d.jpg", i));
    info.signature = smooth_signature(random);
    info.usable = 1;
    list.insert(info);
  }
  builder.tile_list = &list;
  builder.grid.reset(columns * kSide, rows * kSide, 1.0, 0, false);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      bench::require(builder.grid.add_cell({c * kSide, r * kSide, kSide, kSide}), "adding a cell");
      PuzzleInfo& cell = builder.grid.cell(builder.grid.size() - 1);
      cell.active = 1;
      cell.analysed = 1;
      cell.signature = smooth_signature(random);
      cell.signature.portrait = 0;
    }
  }
  ScoreTables tables;
  bench::require(tables.set_up(builder.parameters, static_cast<std::int64_t>(builder.grid.size())),
                 "the score tables");
  TileUseState uses;
  PlacementSetup setup;
  setup.threads = 2;

  const double before = peak_megabytes();
  for (auto _ : state) {
    state.PauseTiming();
    for (const auto& cell : builder.grid.cells()) {
      cell->tile = nullptr;
      cell->score = kNoTileScore;
    }
    uses.reset(&list, builder.parameters.tile_duplication);
    state.ResumeTiming();
    if (!place_tiles(builder, tables, uses, setup)) state.SkipWithError("placement failed");
  }
  std::size_t empty = 0;
  for (const auto& cell : builder.grid.cells()) empty += cell->tile == nullptr ? 1 : 0;
  state.counters["cells"] = static_cast<double>(builder.grid.size());
  state.counters["tiles"] = tiles;
  state.counters["empty_cells"] = static_cast<double>(empty);
  state.counters["peak_MB"] = peak_megabytes();
  state.counters["setup_peak_MB"] = before;
}

BENCHMARK(BM_HighQualityPlacement)
    ->Args({40, 30, 10000})
    ->Args({100, 100, 50000})
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
}  // namespace tess

BENCHMARK_MAIN();
