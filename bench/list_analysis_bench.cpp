// List analysis throughput: a folder of JPEGs scanned and analysed by the
// list's own workers on 2 threads, against the same files only decoded (at
// the same DCT scale, 48 × 48 requested) by 2 threads. The difference is what
// the scan, the file checks, the batching and the signatures cost on top of
// decoding. Pictures per second are reported as items_per_second.

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <unistd.h>

#include "base/scripted_prompt.hpp"
#include "base/prompt.hpp"
#include "images/foto.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/list_analysis.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

constexpr int kThreads = 2;

struct BenchError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

/// A photograph-like JPEG: gradients, a ripple and fine noise, so the
/// entropy-coded data is as dense as a camera's.
bool write_photo_jpeg(const fs::path& path, int width, int height, unsigned seed) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  jpeg_compress_struct info{};
  BenchError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = [](j_common_ptr common) {
    std::longjmp(reinterpret_cast<BenchError*>(common->err)->jump, 1);
  };
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    std::fclose(file);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_start_compress(&info, TRUE);
  unsigned noise = seed * 2654435761u + 1;
  while (info.next_scanline < info.image_height) {
    const int y = static_cast<int>(info.next_scanline);
    for (int x = 0; x < width; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const int n = static_cast<int>((noise >> 24) & 15) - 8;
      const int ripple = ((x / 7 + y / 5) % 32) - 16;
      const auto channel = [](int v) { return static_cast<JSAMPLE>(std::clamp(v, 0, 255)); };
      row[3 * x] = channel(255 * x / width + ripple + n);
      row[3 * x + 1] = channel(255 * y / height - ripple + n);
      row[3 * x + 2] = channel(static_cast<int>(seed * 40 % 200) + 30 + n);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return std::fclose(file) == 0;
}

/// A folder of `count` JPEGs of one size, written once per run and removed at exit.
struct PictureFolder {
  fs::path folder;
  std::vector<fs::path> files;

  PictureFolder(int width, int height, int count) {
    folder = fs::temp_directory_path() /
             ("tess_list_bench_" + std::to_string(::getpid()) + "_" + std::to_string(width));
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) {
      files.push_back(folder / ("IMG_" + std::to_string(1000 + i) + ".jpg"));
      write_photo_jpeg(files.back(), width, height, static_cast<unsigned>(i));
    }
  }
  ~PictureFolder() {
    std::error_code error;
    fs::remove_all(folder, error);
  }
};

const PictureFolder& twelve_megapixels() {
  static const PictureFolder folder(4000, 3000, 12);
  return folder;
}

const PictureFolder& vga() {
  static const PictureFolder folder(640, 480, 200);
  return folder;
}

/// The list analysis from scratch: scan, check and analyse every file.
void list_analysis(benchmark::State& state, const PictureFolder& pictures) {
  ScriptedPrompt prompt;
  for (auto _ : state) {
    TileImageList list;
    list.add_item(FolderKind::include, pictures.folder.string(), true);
    ListAnalysis analysis(list, prompt);
    if (analysis.start(kThreads, false) != ListSaveResult::started) state.SkipWithError("not started");
    while (!analysis.wait(std::chrono::milliseconds(100))) {
    }
    if (analysis.progress().processed != static_cast<long>(pictures.files.size()))
      state.SkipWithError("not every picture was analysed");
    benchmark::DoNotOptimize(list.entries().begin()->second.signature.samples.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pictures.files.size()));
}

/// The same files only decoded, shared out one at a time to the same number of threads.
void bare_decode(benchmark::State& state, const PictureFolder& pictures) {
  for (auto _ : state) {
    std::atomic<std::size_t> next{0};
    std::atomic<long> failed{0};
    const auto decode = [&] {
      for (std::size_t i = next++; i < pictures.files.size(); i = next++) {
        Foto picture;
        if (!picture.load(pictures.files[i], kAnalysisLoadSize, kAnalysisLoadSize)) ++failed;
        benchmark::DoNotOptimize(picture.pixels());
      }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(decode);
    for (auto& thread : threads) thread.join();
    if (failed.load() != 0) state.SkipWithError("decode failed");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pictures.files.size()));
}

void BM_ListAnalysis12MP(benchmark::State& state) { list_analysis(state, twelve_megapixels()); }
void BM_BareDecode12MP(benchmark::State& state) { bare_decode(state, twelve_megapixels()); }
void BM_ListAnalysis640x480(benchmark::State& state) { list_analysis(state, vga()); }
void BM_BareDecode640x480(benchmark::State& state) { bare_decode(state, vga()); }

BENCHMARK(BM_BareDecode12MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListAnalysis12MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BareDecode640x480)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListAnalysis640x480)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tess

BENCHMARK_MAIN();
