// Placement of a whole mosaic with synthetic smooth signatures, the default
// parameters and two threads: High Quality on 1,200 cells against 10,000
// tiles and 10,000 cells against 50,000 tiles, and the no-duplicate
// placements (Experimental, and High Quality with a tile duplication of 1)
// on 300 x 600, 1,000 x 2,000 and 10,000 x 50,000, Experimental on 10,000
// cells against 2,000 tiles, and Experimental where the cells repeat a few
// looks with a little noise (8 looks on 1,000 cells, 25 or 50 on 10,000), so
// that many cells want the same tiles. Reports the mean score of
// the filled cells and the process's peak resident memory, which the
// candidate lists dominate.
//
// No-duplicate figures, 2-core machine shared with other builds (load 4-6),
// wall seconds and mean cell score:
//
//   grid (cells x tiles)        | dense auction     | shortlist solve   | High Quality, D = 1
//   300 x 600                   | 0.17 s, 69,570.1  | 0.03-0.12 s, same | 0.08-0.11 s, 69,820.2
//   1,000 x 2,000               | 1.70 s, 46,157.1  | 0.15-0.46 s, same | 0.55-0.80 s, 46,218.4
//   1,000 x 2,000, 8 looks      | -                 | 0.9-1.7 s, 222,408|
//   10,000 x 50,000             | none in 600 s     | 49-69 s, 24,426.4 | 108-125 s, 24,431.9
//   10,000 x 50,000, 50 looks   | -                 | 91-118 s, 64,495.7|
//   10,000 x 2,000              | -                 | 2.6 s, 32,803.1   |
//   10,000 x 2,000, 25 looks    | -                 | 17 s, 200,282     |
//
// The shortlist solve spends all but a fraction of a second of the plain
// 10,000 x 50,000 run scoring its lists (one bounded scan of every tile per
// cell, as High Quality's first pass), so it follows the kernel's speed.

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

/// The signature with a little noise on every fine sample.
TileSignature near(const TileSignature& base, std::mt19937& random) {
  std::uniform_int_distribution<int> noise(-6, 6);
  TileSignature s = base;
  for (int i = 0; i < kGridRows * kGridColumns; ++i) {
    std::uint32_t& pixel = s.samples[kFirstFineSample + i];
    std::uint32_t moved = 0;
    for (int c = 0; c < 3; ++c) {
      const int v = static_cast<int>((pixel >> (8 * c)) & 0xFFu) + noise(random);
      moved |= static_cast<std::uint32_t>(std::clamp(v, 0, 255)) << (8 * c);
    }
    pixel = moved;
  }
  s.recompute_levels();
  return s;
}

double peak_megabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

/// One mosaic's grid, list and tables, set up once per benchmark.
struct PlacementScene {
  ScriptedPrompt prompt;
  MosaicBuilder builder{prompt};
  TileImageList list;
  ScoreTables tables;
  TileUseState uses;
  PlacementSetup setup;

  /// `looks` > 0: the cells repeat that many signatures, as the cells of a
  /// clear sky or a wall all want the same few tiles.
  PlacementScene(int columns, int rows, int tiles, std::int32_t processing, std::int32_t duplication, int looks = 0) {
    constexpr int kSide = 40;
    builder.parameters.advanced.initialise_all(true, IniFile{});
    builder.parameters.processing = processing;
    builder.parameters.tile_duplication = duplication;
    std::mt19937 random(42);
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
        const int cell_index = r * columns + c;
        cell.signature = looks > 0 && cell_index >= looks
                             ? near(builder.grid.cell(static_cast<std::size_t>(cell_index % looks)).signature, random)
                             : smooth_signature(random);
        cell.signature.portrait = 0;
      }
    }
    bench::require(tables.set_up(builder.parameters, static_cast<std::int64_t>(builder.grid.size())),
                   "the score tables");
    setup.threads = 2;
  }

  void run(benchmark::State& state) {
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
    double total = 0;
    for (const auto& cell : builder.grid.cells()) {
      if (cell->tile == nullptr) {
        ++empty;
      } else {
        total += cell->score;
      }
    }
    const std::size_t filled = builder.grid.size() - empty;
    state.counters["cells"] = static_cast<double>(builder.grid.size());
    state.counters["tiles"] = static_cast<double>(list.entry_count());
    state.counters["empty_cells"] = static_cast<double>(empty);
    state.counters["mean_score"] = filled == 0 ? 0.0 : total / static_cast<double>(filled);
    state.counters["peak_MB"] = peak_megabytes();
    state.counters["setup_peak_MB"] = before;
  }
};

void BM_HighQualityPlacement(benchmark::State& state) {
  PlacementScene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                       static_cast<int>(state.range(2)), kProcessingStandard,
                       static_cast<std::int32_t>(state.range(3)));
  scene.run(state);
}

void BM_ExperimentalPlacement(benchmark::State& state) {
  PlacementScene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                       static_cast<int>(state.range(2)), kProcessingStandard1, 1, static_cast<int>(state.range(3)));
  scene.run(state);
}

// Columns, rows, tiles and the tile duplication (0: unlimited).
BENCHMARK(BM_HighQualityPlacement)
    ->Args({40, 30, 10000, 0})
    ->Args({100, 100, 50000, 0})
    ->Args({20, 15, 600, 1})
    ->Args({40, 25, 2000, 1})
    ->Args({100, 100, 50000, 1})
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

// The best assignment without duplicates, against High Quality with a
// tile duplication of 1 on the same grids above.
BENCHMARK(BM_ExperimentalPlacement)
    ->Args({20, 15, 600, 0})
    ->Args({40, 25, 2000, 0})
    ->Args({40, 25, 2000, 8})
    ->Args({100, 100, 2000, 0})
    ->Args({100, 100, 2000, 25})
    ->Args({100, 100, 50000, 50})
    ->Args({100, 100, 50000, 0})
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
}  // namespace tess

BENCHMARK_MAIN();
