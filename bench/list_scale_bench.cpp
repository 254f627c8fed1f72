// Tile Images Lists of library size: saving and loading lists of 100,000 and
// 1,000,000 entries (synthesised and written by the list's own save code),
// the heap each loaded entry takes, and `list update` of an unchanged tree of
// 100,000 files (scan, file checks, save). The tree's files are not pictures
// at all: an update that decoded any of them would lose the entry, so an
// update that keeps every entry has recognised each file by its stored size
// and date alone.
//
//   list_scale_bench [benchmark flags]
//   list_scale_bench --make DIR   writes DIR/million.tzc, DIR/tree/ and
//                                 DIR/tree.tzc for bench/list_scale.sh, which
//                                 times the real program on them.

#include <malloc.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include <benchmark/benchmark.h>

#include "base/prompt.hpp"
#include "bench_check.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/list_analysis.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/list_scan.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;

constexpr int kThreads = 2;
constexpr int kTreeFiles = 100'000;
constexpr int kFilesPerFolder = 1000;

/// The folder a run's files live in, removed at exit unless kept for the script.
struct WorkFolder {
  fs::path folder;
  bool keep = false;
  WorkFolder() {
    folder = fs::temp_directory_path() / ("tess_list_scale_" + std::to_string(::getpid()));
    fs::create_directories(folder);
  }
  ~WorkFolder() {
    if (keep) return;
    std::error_code error;
    fs::remove_all(folder, error);
  }
};

WorkFolder& work() {
  static WorkFolder folder;
  return folder;
}

/// A photo library's path: year folders, albums of 1,000 pictures, camera names.
std::string library_path(int i) {
  char path[128];
  std::snprintf(path, sizeof path, "/home/photographer/Pictures/Library/%d/Album %04d/IMG_%07d.jpg",
                2000 + (i / 50'000) % 25, i / kFilesPerFolder, i);
  return path;
}

/// A signature that looks like an analysis result: every word different.
void fill_signature(TileSignature& signature, std::uint32_t seed) {
  std::uint32_t state = seed * 2654435761u + 1;
  for (auto& sample : signature.samples) {
    state = state * 1664525u + 1013904223u;
    sample = state & 0x00FFFFFFu;
  }
  signature.portrait = (seed % 3 == 0) ? 1 : 0;
  signature.opaque = 1;
  signature.analysed = 1;
}

/// Writes a list of `count` library entries through the program's own save.
fs::path synthesised_list(int count, const fs::path& file) {
  {
    TileImageList list;
    list.add_folder(FolderKind::include, "/home/photographer/Pictures/Library/");
    for (int i = 0; i < count; ++i) {
      FotoInfo entry(library_path(i));
      entry.modification_time = 1'500'000'000 + i;
      entry.file_size = 2'000'000 + i % 100'000;
      entry.usable = 1;
      fill_signature(entry.signature, static_cast<std::uint32_t>(i));
      bench::require(list.insert(std::move(entry)), "inserting a synthesised entry");
    }
    bench::require(save_list_file(list, file).ok(), "saving the synthesised list");
  }
  // What the synthesis kept goes back to the system before anything is measured.
  ::malloc_trim(0);
  return file;
}

const fs::path& list_file(int count) {
  static std::map<int, fs::path> files;
  auto it = files.find(count);
  if (it == files.end())
    it = files.emplace(count, synthesised_list(count, work().folder / ("list_" + std::to_string(count) + ".tzc")))
             .first;
  return it->second;
}

/// A tree of `count` tiny files in folders of 1,000, and a list that holds
/// every one of them with the size and date it has now.
struct UnchangedTree {
  fs::path folder;
  fs::path list;
  UnchangedTree(const fs::path& parent, int count) : folder(parent / "tree"), list(parent / "tree.tzc") {
    TileImageList tiles;
    tiles.add_item(FolderKind::include, folder.string(), true);
    for (int i = 0; i < count; ++i) {
      const fs::path album = folder / ("album" + std::to_string(i / kFilesPerFolder));
      if (i % kFilesPerFolder == 0) fs::create_directories(album);
      const fs::path file = album / ("IMG_" + std::to_string(i) + ".jpg");
      std::FILE* out = std::fopen(file.c_str(), "wb");
      bench::require(out != nullptr, "writing a tree file");
      // Not a picture: decoding it would fail and drop the entry.
      std::fprintf(out, "not a picture %d\n", i);
      bench::require(std::fclose(out) == 0, "closing a tree file");
      FotoInfo entry(file.string());
      bench::require(read_file_state(file, entry.modification_time, entry.file_size), "reading a file's state");
      entry.usable = 1;
      fill_signature(entry.signature, static_cast<std::uint32_t>(i));
      tiles.insert(std::move(entry));
    }
    bench::require(save_list_file(tiles, list).ok(), "saving the tree's list");
  }
};

const UnchangedTree& tree() {
  static const UnchangedTree made(work().folder, kTreeFiles);
  return made;
}

std::size_t heap_in_use() { return mallinfo2().uordblks; }

void BM_ListSave(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  TileImageList list;
  bench::require(load_list_file(list, list_file(count)).ok(), "loading the synthesised list");
  const fs::path out = work().folder / "saved.tzc";
  for (auto _ : state) bench::require(save_list_file(list, out).ok(), "saving");
  state.SetItemsProcessed(state.iterations() * count);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(out)));
  std::error_code error;
  fs::remove(out, error);
}

void BM_ListLoad(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  const fs::path& file = list_file(count);
  // The heap a loaded list holds, measured once outside the timing (taking
  // the allocator's figures walks its free lists).
  double bytes_per_entry = 0;
  {
    const std::size_t before = heap_in_use();
    TileImageList list;
    bench::require(load_list_file(list, file).ok(), "loading");
    bytes_per_entry = static_cast<double>(heap_in_use() - before) / count;
  }
  for (auto _ : state) {
    auto list = std::make_unique<TileImageList>();
    bench::require(load_list_file(*list, file).ok(), "loading");
    bench::require(list->entry_count() == static_cast<std::size_t>(count), "loading every entry");
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
  state.counters["heap_bytes_per_entry"] = bytes_per_entry;
  state.SetItemsProcessed(state.iterations() * count);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(file)));
}

/// The scan alone: every folder listed and every file found in the list.
void BM_ListScanUnchanged(benchmark::State& state) {
  const UnchangedTree& files = tree();
  TileImageList list;
  bench::require(load_list_file(list, files.list).ok(), "loading the tree's list");
  for (auto _ : state) {
    build_entries(list);
    bench::require(list.entry_count() == static_cast<std::size_t>(kTreeFiles), "finding every file");
  }
  state.SetItemsProcessed(state.iterations() * kTreeFiles);
}

/// What `list update` does: load, scan, check every file, save.
void BM_ListUpdateUnchanged(benchmark::State& state) {
  const UnchangedTree& files = tree();
  const fs::path out = work().folder / "updated.tzc";
  for (auto _ : state) {
    TileImageList list;
    SilentPrompt quiet;
    bench::require(load_list_file(list, files.list).ok(), "loading the tree's list");
    list.set_path(out.string());
    ListAnalysis analysis(list, quiet);
    bench::require(analysis.run(kThreads, false, {}, std::chrono::milliseconds(5)) == ListSaveResult::saved,
                   "updating");
    // An entry whose file was opened and decoded would have been dropped.
    bench::require(list.entry_count() == static_cast<std::size_t>(kTreeFiles), "keeping every entry undecoded");
  }
  state.SetItemsProcessed(state.iterations() * kTreeFiles);
}

BENCHMARK(BM_ListSave)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListLoad)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListScanUnchanged)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListUpdateUnchanged)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tess

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--make") == 0) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::absolute(argv[2]);
    fs::create_directories(folder);
    tess::synthesised_list(1'000'000, folder / "million.tzc");
    tess::UnchangedTree(folder, tess::kTreeFiles);
    std::error_code error;
    fs::remove_all(tess::work().folder, error);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
