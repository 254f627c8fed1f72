// The two resamplers on the analysis workload: a whole photograph boiled down
// to the 12 x 9 grid of a signature.

#include <cstdint>

#include <benchmark/benchmark.h>

#include "base/prompt.hpp"
#include "images/foto.hpp"

namespace {

constexpr int kSourceWidth = 1500;
constexpr int kSourceHeight = 1000;

/// A picture with some structure and some transparency, so that neither
/// resampler can take a uniform shortcut.
tess::Foto photograph() {
  tess::Foto foto;
  foto.try_allocate(kSourceWidth, kSourceHeight);
  for (int y = 0; y < kSourceHeight; ++y)
    for (int x = 0; x < kSourceWidth; ++x)
      foto.at(x, y) = tess::make_pixel(static_cast<std::uint32_t>(x * 7 + y) & 0xFF, static_cast<std::uint32_t>(x ^ y) & 0xFF,
                                       static_cast<std::uint32_t>(y * 3) & 0xFF, (x + y) % 5 == 0 ? 200u : 0u);
  return foto;
}

void resample_to_grid(benchmark::State& state) {
  const tess::Foto source = photograph();
  tess::Foto grid;
  tess::SilentPrompt unwatched;
  for (auto _ : state) {
    if (!source.resample(12, 9, 0, 0, 0, 0, grid, unwatched)) state.SkipWithError("out of memory");
    benchmark::DoNotOptimize(grid.pixels());
  }
  state.SetItemsProcessed(state.iterations() * kSourceWidth * kSourceHeight);
}
BENCHMARK(resample_to_grid)->Unit(benchmark::kMillisecond);

void crop_resize_to_grid(benchmark::State& state) {
  const tess::Foto source = photograph();
  tess::Foto grid;
  tess::SilentPrompt unwatched;
  for (auto _ : state) {
    if (!source.crop_resize(12, 9, kSourceWidth, kSourceHeight, grid, unwatched)) state.SkipWithError("out of memory");
    benchmark::DoNotOptimize(grid.pixels());
  }
  state.SetItemsProcessed(state.iterations() * kSourceWidth * kSourceHeight);
}
BENCHMARK(crop_resize_to_grid)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
