// Tile analysis: a decoded picture into its signature, a JPEG loaded for
// analysis (DCT-scaled for 48 × 48) with and without the analysis, the
// unchanged-file check of a list rebuild, and list files of many entries.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "bench_pictures.hpp"
#include "base/scripted_prompt.hpp"
#include "images/foto.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {
namespace {

using bench::photo_like;
using bench::write_jpeg;

/// A 640 × 480 JPEG written once per run, removed at exit.
const std::filesystem::path& sample_jpeg() {
  static const std::filesystem::path path = [] {
    auto p = std::filesystem::temp_directory_path() / ("tess_tile_bench_" + std::to_string(::getpid()) + ".jpg");
    write_jpeg(p, photo_like(640, 480));
    std::atexit([] { std::filesystem::remove(sample_jpeg()); });
    return p;
  }();
  return path;
}

void BM_AnalyseDecoded640x480(benchmark::State& state) {
  const Foto picture = photo_like(640, 480);
  TileSignature signature;
  for (auto _ : state) {
    if (!signature.analyse(picture, AnalysisMode::fill)) state.SkipWithError("analysis failed");
    benchmark::DoNotOptimize(signature.samples.data());
  }
}
BENCHMARK(BM_AnalyseDecoded640x480);

void BM_AnalyseDecoded80x60(benchmark::State& state) {
  // What the analysis sees of a 640 × 480 JPEG after the 1/8 DCT scale.
  const Foto picture = photo_like(80, 60);
  TileSignature signature;
  for (auto _ : state) {
    if (!signature.analyse(picture, AnalysisMode::fill)) state.SkipWithError("analysis failed");
    benchmark::DoNotOptimize(signature.samples.data());
  }
}
BENCHMARK(BM_AnalyseDecoded80x60);

void BM_LoadJpeg640x480At48(benchmark::State& state) {
  const auto& path = sample_jpeg();
  for (auto _ : state) {
    Foto picture;
    ScriptedPrompt quiet;
    if (!picture.load(path, kAnalysisLoadSize, kAnalysisLoadSize)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(picture.pixels());
  }
}
BENCHMARK(BM_LoadJpeg640x480At48);

void BM_LoadAndAnalyseJpeg640x480(benchmark::State& state) {
  const auto& path = sample_jpeg();
  for (auto _ : state) {
    FotoInfo entry(path.string());
    AnalysisCounters counters;
    if (!analyse_entry(entry, false, kListFileVersion, counters)) state.SkipWithError("analysis failed");
    benchmark::DoNotOptimize(entry.signature.samples.data());
  }
}
BENCHMARK(BM_LoadAndAnalyseJpeg640x480);

void BM_UnchangedEntryCheck(benchmark::State& state) {
  const auto& path = sample_jpeg();
  FotoInfo entry(path.string());
  AnalysisCounters counters;
  analyse_entry(entry, false, kListFileVersion, counters);
  for (auto _ : state) benchmark::DoNotOptimize(analyse_entry(entry, false, kListFileVersion, counters));
}
BENCHMARK(BM_UnchangedEntryCheck);

TileImageList big_list(int entries) {
  TileImageList list;
  list.add_folder(FolderKind::include, "/home/user/Pictures/");
  for (int i = 0; i < entries; ++i) {
    FotoInfo e("/home/user/Pictures/holiday/IMG_" + std::to_string(100000 + i) + ".jpg");
    e.signature.samples.fill(make_pixel(static_cast<std::uint32_t>(i) & 255, 100, 200));
    e.modification_time = 1700000000 + i;
    e.file_size = 2000000 + i;
    list.insert(std::move(e));
  }
  return list;
}

void BM_SaveList10000(benchmark::State& state) {
  TileImageList list = big_list(10000);
  const auto path = std::filesystem::temp_directory_path() / ("tess_list_bench_" + std::to_string(::getpid()) + ".tzc");
  ScriptedPrompt quiet;
  for (auto _ : state)
    if (!save_list_file(list, path)) state.SkipWithError("save failed");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(std::filesystem::file_size(path)));
  std::filesystem::remove(path);
}
BENCHMARK(BM_SaveList10000)->Unit(benchmark::kMillisecond);

void BM_LoadList10000(benchmark::State& state) {
  TileImageList list = big_list(10000);
  const auto path = std::filesystem::temp_directory_path() / ("tess_list_bench_" + std::to_string(::getpid()) + ".tzc");
  ScriptedPrompt prompt;
  if (!save_list_file(list, path).ok_or_show(prompt)) {
    state.SkipWithError("save failed");
    return;
  }
  for (auto _ : state) {
    TileImageList loaded;
    if (!load_list_file(loaded, path).ok_or_show(prompt)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(loaded.entry_count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(std::filesystem::file_size(path)));
  std::filesystem::remove(path);
}
BENCHMARK(BM_LoadList10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tess

BENCHMARK_MAIN();
