// Band rendering: every row of a 1,600 × 1,200 mosaic of 40 × 30 cells (1,600
// placed tiles drawn from 16 JPEG pictures of 320 × 240) pulled through
// NextRow, for several band heights and thread counts. Arguments: band
// height in rows, threads in all.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "bench_check.hpp"
#include "base/scripted_prompt.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "engine/score_tables.hpp"
#include "engine/tile_render.hpp"
#include "images/foto.hpp"
#include "output/jpeg_writer.hpp"
#include "output/mosaic_saver.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

constexpr int kCellWidth = 40;
constexpr int kCellHeight = 30;
constexpr int kColumns = 40;
constexpr int kRows = 40;
constexpr int kPictures = 16;

/// A smooth, photograph-like picture: gradients with a ripple, shifted by `seed`.
Foto photo_like(int width, int height, int seed) {
  Foto picture;
  picture.try_allocate(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double ripple = 40 * std::sin((x + seed * 13) * 0.05) * std::cos(y * 0.07);
      const auto channel = [](double v) { return static_cast<std::uint32_t>(std::clamp(v, 0.0, 255.0)); };
      picture.at(x, y) = make_pixel(channel(255.0 * x / width + ripple), channel(255.0 * y / height - ripple),
                                    channel(8.0 * seed + ripple + 60));
    }
  return picture;
}

/// The tile pictures, written once per run and removed at exit.
struct Library {
  fs::path folder;
  std::vector<FotoInfo> tiles;

  Library() {
    folder = fs::temp_directory_path() / ("tess_band_bench_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    ScriptedPrompt prompt;
    for (int i = 0; i < kPictures; ++i) {
      const Foto picture = photo_like(320, 240, i);
      FotoInfo tile((folder / ("tile" + std::to_string(i) + ".jpg")).string());
      bench::require(write_jpeg_image(picture, tile.path, true, 90, 0, prompt), "writing a tile");
      bench::require(tile.signature.analyse(picture, AnalysisMode::fill), "the analysis");
      tiles.push_back(std::move(tile));
    }
  }
  ~Library() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
};

const Library& library() {
  static const Library shared;
  return shared;
}

void BM_PullAllRows(benchmark::State& state) {
  const int band_height = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  const Library& tiles = library();
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  const int width = kColumns * kCellWidth;
  const int height = kRows * kCellHeight;
  builder.grid.reset(width, height, 1.0, 0, false);
  const Foto main_image = photo_like(width / 4, height / 4, 99);
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kColumns; ++c) {
      bench::require(builder.grid.add_cell(CellRect{c * kCellWidth, r * kCellHeight, kCellWidth, kCellHeight}),
                     "adding a cell");
      PuzzleInfo& cell = builder.grid.cell(builder.grid.size() - 1);
      bench::require(cell.signature.analyse(main_image, AnalysisMode::fit, c * kCellWidth / 4, r * kCellHeight / 4,
                                            kCellWidth / 4, kCellHeight / 4),
                     "the analysis");
      cell.tile = &tiles.tiles[static_cast<std::size_t>(r * 7 + c * 3) % kPictures];
    }
  MosaicParameters parameters;
  ScoreTables tables;
  bench::require(tables.set_up(parameters, kPictures), "the score tables");
  const TileRenderer renderer(tables, false, prompt);
  JPGMosaicSave saver(builder, builder.grid, renderer, 0, threads);
  for (auto _ : state) {
    saver.begin_part(PartLayout{width, height, 0, 0, band_height});
    int rows = 0;
    while (const std::uint32_t* row = saver.next_row()) {
      benchmark::DoNotOptimize(row);
      ++rows;
    }
    if (rows != height) state.SkipWithError("rows missing");
  }
  state.counters["tiles/s"] = benchmark::Counter(static_cast<double>(kRows * kColumns) * state.iterations(),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PullAllRows)
    ->Args({30, 1})
    ->Args({30, 2})
    ->Args({300, 1})
    ->Args({300, 2})
    ->Args({1200, 2})
    ->Args({7, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace tess

BENCHMARK_MAIN();
