// SPDX-License-Identifier: GPL-3.0-or-later
// HEIC analysis against the floor libheif sets: every file of a folder has
// its embedded thumbnail decoded by libheif alone (the least any analysis
// must do), then loaded by Foto::load at the list analysis's size, each on
// two threads. Prints both times and their ratio.
//   heif_thumbnail_bench FOLDER

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <libheif/heif.h>

#include "images/foto.hpp"
#include "tilelist/foto_info.hpp"

namespace {

constexpr int kThreads = 2;

bool decode_thumbnail(const std::string& path) {
  heif_context* context = heif_context_alloc();
  bool ok = false;
  heif_image_handle* primary = nullptr;
  if (heif_context_read_from_file(context, path.c_str(), nullptr).code == heif_error_Ok &&
      heif_context_get_primary_image_handle(context, &primary).code == heif_error_Ok) {
    heif_item_id id = 0;
    heif_image_handle* thumbnail = nullptr;
    heif_image* image = nullptr;
    if (heif_image_handle_get_list_of_thumbnail_IDs(primary, &id, 1) == 1 &&
        heif_image_handle_get_thumbnail(primary, id, &thumbnail).code == heif_error_Ok &&
        heif_decode_image(thumbnail, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code ==
            heif_error_Ok) {
      ok = true;
      heif_image_release(image);
    }
    if (thumbnail != nullptr) heif_image_handle_release(thumbnail);
    heif_image_handle_release(primary);
  }
  heif_context_free(context);
  return ok;
}

template <typename Work>
double timed_on_threads(const std::vector<std::string>& files, Work work, std::atomic<int>& failures) {
  std::atomic<std::size_t> next{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (std::size_t i = next++; i < files.size(); i = next++)
        if (!work(files[i])) ++failures;
    });
  for (std::thread& thread : threads) thread.join();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: heif_thumbnail_bench FOLDER\n");
    return 2;
  }
  heif_init(nullptr);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
    if (entry.path().extension() == ".heic") files.push_back(entry.path().string());
  std::atomic<int> failures{0};
  // Once each to warm the page cache and the codec.
  timed_on_threads(files, decode_thumbnail, failures);
  const double libheif = timed_on_threads(files, decode_thumbnail, failures);
  const double ours = timed_on_threads(
      files,
      [](const std::string& path) {
        tess::Foto picture;
        return picture.load(path, tess::kAnalysisLoadSize, tess::kAnalysisLoadSize).ok();
      },
      failures);
  std::printf("heif thumbnails, %zu files on %d threads: libheif alone %.3f s, Foto::load at %d %.3f s, ratio %.2f%s\n",
              files.size(), kThreads, libheif, tess::kAnalysisLoadSize, ours, ours / libheif,
              failures.load() != 0 ? " (some files failed)" : "");
  return failures.load() == 0 ? 0 : 1;
}
