// Tile rendering: a 640 × 480 JPEG tile drawn into a 100 × 75 cell with the
// default colour change (30 %, balanced: uniform shift and local blend), from
// the file (DCT-scaled decode included) and from a picture already decoded,
// and the steps on their own.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "bench_check.hpp"
#include "bench_pictures.hpp"
#include "base/prompt.hpp"
#include "engine/puzzle.hpp"
#include "engine/score_tables.hpp"
#include "engine/tile_render.hpp"
#include "images/foto.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {
namespace {

using bench::photo_like;
using bench::write_jpeg;

/// A 640 × 480 JPEG written once per run, removed at exit.
const std::filesystem::path& sample_jpeg() {
  static const std::filesystem::path path = [] {
    auto p = std::filesystem::temp_directory_path() / ("tess_render_bench_" + std::to_string(::getpid()) + ".jpg");
    write_jpeg(p, photo_like(640, 480));
    std::atexit([] { std::filesystem::remove(sample_jpeg()); });
    return p;
  }();
  return path;
}

/// A run's tables, a tile entry for the sample JPEG and a 100 × 75 cell of a
/// differently coloured main image, analysed as the program analyses them.
struct Scene {
  ScoreTables tables;
  FotoInfo tile;
  PuzzleInfo cell;

  explicit Scene(int colour_change = 30, int colour_priority = kColourPriorityBalanced) : tile(sample_jpeg().string()) {
    MosaicParameters parameters;
    parameters.colour_change = colour_change;
    parameters.colour_priority = colour_priority;
    bench::require(tables.set_up(parameters, 1000), "the score tables");
    Foto picture;
    // The sample is the bench's own picture; a failed load shows as an empty signature.
    if (!picture.load(tile.path, kAnalysisLoadSize, kAnalysisLoadSize)) picture.clear();
    bench::require(tile.signature.analyse(picture, AnalysisMode::fill), "the tile analysis");
    Foto main_image = photo_like(300, 200);
    main_image.mirror();
    cell.width = 100;
    cell.height = 75;
    cell.area = 100 * 75;
    bench::require(cell.signature.analyse(main_image, AnalysisMode::fit, 100, 50, 100, 75), "the cell analysis");
    cell.tile = &tile;
  }
};

void BM_RenderCellFromJpeg640x480(benchmark::State& state) {
  const Scene scene;
  SilentPrompt unwatched;
  const TileRenderer renderer(scene.tables, false, unwatched);
  std::string message;
  for (auto _ : state) {
    Foto out;
    TileRenderRecord record;
    if (!renderer.render_cell(scene.cell, out, record, message)) state.SkipWithError("render failed");
    benchmark::DoNotOptimize(out.pixels());
  }
}
BENCHMARK(BM_RenderCellFromJpeg640x480)->Unit(benchmark::kMicrosecond);

void BM_RenderCellFromDecoded640x480(benchmark::State& state) {
  const Scene scene;
  SilentPrompt unwatched;
  const TileRenderer renderer(scene.tables, false, unwatched);
  const Foto picture = photo_like(640, 480);
  for (auto _ : state) {
    Foto out;
    TileRenderRecord record;
    if (!renderer.render_cell(scene.cell, picture, out, record)) state.SkipWithError("render failed");
    benchmark::DoNotOptimize(out.pixels());
  }
}
BENCHMARK(BM_RenderCellFromDecoded640x480)->Unit(benchmark::kMicrosecond);

void BM_RenderCellFromLoaded160x120(benchmark::State& state) {
  // What render_cell works on after the quarter-scale decode of the JPEG.
  const Scene scene;
  SilentPrompt unwatched;
  const TileRenderer renderer(scene.tables, false, unwatched);
  Foto picture;
  std::string message;
  bench::require(renderer.load_tile(scene.cell, picture, message), "loading the tile");
  for (auto _ : state) {
    Foto out;
    TileRenderRecord record;
    if (!renderer.render_cell(scene.cell, picture, out, record)) state.SkipWithError("render failed");
    benchmark::DoNotOptimize(out.pixels());
  }
}
BENCHMARK(BM_RenderCellFromLoaded160x120)->Unit(benchmark::kMicrosecond);

void BM_LoadTileJpeg640x480For100x75(benchmark::State& state) {
  const Scene scene;
  SilentPrompt unwatched;
  const TileRenderer renderer(scene.tables, false, unwatched);
  std::string message;
  for (auto _ : state) {
    Foto picture;
    if (!renderer.load_tile(scene.cell, picture, message)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(picture.pixels());
  }
}
BENCHMARK(BM_LoadTileJpeg640x480For100x75)->Unit(benchmark::kMicrosecond);

void BM_DrawVariant640x480To100x75(benchmark::State& state) {
  const Foto picture = photo_like(640, 480);
  const int variant = static_cast<int>(state.range(0));
  const bool turned = variant >= 5;
  SilentPrompt unwatched;
  for (auto _ : state) {
    Foto out;
    if (!draw_tile_variant(picture, variant, turned ? 75 : 100, turned ? 100 : 75, out))
      state.SkipWithError("out of memory");
    benchmark::DoNotOptimize(out.pixels());
  }
}
BENCHMARK(BM_DrawVariant640x480To100x75)->Arg(1)->Arg(4)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_ColourShift100x75(benchmark::State& state) {
  Foto picture = photo_like(100, 75);
  for (auto _ : state) {
    apply_colour_shift(picture, {3, -2, 1});
    benchmark::DoNotOptimize(picture.pixels());
  }
}
BENCHMARK(BM_ColourShift100x75);

void BM_LocalBlend100x75(benchmark::State& state) {
  const Scene scene;
  Foto picture = photo_like(100, 75);
  for (auto _ : state) {
    if (!blend_toward_cell(picture, scene.cell.signature, 38)) state.SkipWithError("blending failed");
    benchmark::DoNotOptimize(picture.pixels());
  }
}
BENCHMARK(BM_LocalBlend100x75);

}  // namespace
}  // namespace tess

BENCHMARK_MAIN();
