// The two resamplers on the analysis workload: a whole photograph boiled down
// to the 12 x 9 grid of a signature; and the floating-point one on the
// rendering workload, a tile decoded at a reduced scale brought to its cell.

#include <cstdint>

#include <benchmark/benchmark.h>

#include "base/prompt.hpp"
#include "images/foto.hpp"

namespace {

constexpr int kSourceWidth = 1500;
constexpr int kSourceHeight = 1000;

/// A picture with some structure and some transparency, so that neither
/// resampler can take a uniform shortcut.
tess::Foto photograph(int width = kSourceWidth, int height = kSourceHeight) {
  tess::Foto foto;
  foto.try_allocate(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      foto.at(x, y) = tess::make_pixel(static_cast<std::uint32_t>(x * 7 + y) & 0xFF, static_cast<std::uint32_t>(x ^ y) & 0xFF,
                                       static_cast<std::uint32_t>(y * 3) & 0xFF, (x + y) % 5 == 0 ? 200u : 0u);
  return foto;
}

void resample_to_grid(benchmark::State& state) {
  const tess::Foto source = photograph();
  tess::Foto grid;
  for (auto _ : state) {
    if (!source.resample(12, 9, 0, 0, 0, 0, grid)) state.SkipWithError("out of memory");
    benchmark::DoNotOptimize(grid.pixels());
  }
  state.SetItemsProcessed(state.iterations() * kSourceWidth * kSourceHeight);
}
BENCHMARK(resample_to_grid)->Unit(benchmark::kMillisecond);

/// A tile of `state.range(0)` x 3/4 of it into a 64 x 48 cell, at every
/// level the processor runs (0 plain, 1 AVX2).
void resample_tile_to_cell(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const tess::Foto source = photograph(width, width * 3 / 4);
  const auto levels = tess::supported_resample_levels();
  if (static_cast<std::size_t>(state.range(1)) >= levels.size()) {
    state.SkipWithError("level not supported here");
    return;
  }
  const tess::ResampleLevel level = levels[static_cast<std::size_t>(state.range(1))];
  tess::Foto cell;
  for (auto _ : state) {
    if (!source.resample(64, 48, 0, 0, 0, 0, cell, level)) state.SkipWithError("out of memory");
    benchmark::DoNotOptimize(cell.pixels());
  }
  state.SetItemsProcessed(state.iterations() * 64 * 48);
}
BENCHMARK(resample_tile_to_cell)->ArgsProduct({{80, 160}, {0, 1}})->Unit(benchmark::kMicrosecond);

void crop_resize_to_grid(benchmark::State& state) {
  const tess::Foto source = photograph();
  tess::Foto grid;
  for (auto _ : state) {
    if (!source.crop_resize(12, 9, kSourceWidth, kSourceHeight, grid)) state.SkipWithError("out of memory");
    benchmark::DoNotOptimize(grid.pixels());
  }
  state.SetItemsProcessed(state.iterations() * kSourceWidth * kSourceHeight);
}
BENCHMARK(crop_resize_to_grid)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
