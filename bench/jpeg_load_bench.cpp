// Loading a 12-megapixel photograph as the tile analysis does (at most 48 × 48,
// so DCT-scaled to 1/8), and whole for comparison.

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <jpeglib.h>

#include "base/prompt.hpp"
#include "images/foto.hpp"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

std::filesystem::path g_photo;

// Smooth gradients, ripples and some grain, written as a camera would
// (YCbCr 4:2:0, quality 90), so the entropy decoder has real work to do.
void photo_row(int y, std::vector<JSAMPLE>& rgb) {
  for (int x = 0; x < kWidth; ++x) {
    const double u = x * 0.0031, v = y * 0.0043;
    const int grain = static_cast<int>((x * 7919u + y * 104729u) % 23u) - 11;
    const double r = 128 + 90 * std::sin(u + 0.7 * v) + 30 * std::sin(17.0 * u * v);
    const double g = 120 + 80 * std::cos(0.6 * u - v) + 25 * std::sin(37.0 * u + 2.0);
    const double b = 110 + 70 * std::sin(1.7 * v + 0.3 * u) + 40 * std::cos(23.0 * u);
    auto clamp = [](double c) { return static_cast<JSAMPLE>(c < 0 ? 0 : c > 255 ? 255 : c); };
    rgb[3 * x] = clamp(r + grain);
    rgb[3 * x + 1] = clamp(g + grain);
    rgb[3 * x + 2] = clamp(b + grain);
  }
}

bool write_photo(const std::filesystem::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);  // a failure here ends the benchmark, which is what it should do
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(3 * kWidth);
  while (cinfo.next_scanline < cinfo.image_height) {
    photo_row(static_cast<int>(cinfo.next_scanline), row);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(file) == 0;
}

void BM_LoadJpegForTileAnalysis(benchmark::State& state) {
  tess::Foto picture;
  for (auto _ : state) {
    if (!picture.load(g_photo, 48, 48)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(picture.pixels());
  }
  state.counters["width"] = picture.width();
  state.counters["height"] = picture.height();
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(kWidth) * kHeight / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadJpegForTileAnalysis)->Unit(benchmark::kMillisecond);

void BM_LoadJpegWhole(benchmark::State& state) {
  tess::Foto picture;
  for (auto _ : state) {
    if (!picture.load(g_photo, 0, 0)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(picture.pixels());
  }
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(kWidth) * kHeight / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadJpegWhole)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  g_photo = std::filesystem::temp_directory_path() / ("tess-jpeg-load-bench-" + std::to_string(::getpid()) + ".jpg");
  if (!write_photo(g_photo)) {
    std::fprintf(stderr, "cannot write %s\n", g_photo.c_str());
    return 1;
  }
  std::fprintf(stderr, "photo: %s, %ju bytes\n", g_photo.c_str(),
               static_cast<std::uintmax_t>(std::filesystem::file_size(g_photo)));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove(g_photo);
  return 0;
}
