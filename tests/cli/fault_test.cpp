// Faults under a whole run of the program: a disk that fills up while a file
// is written, a file-size limit, pictures that change after the list was
// made, and too little memory. The program runs as a child process, so the
// limits and the filling disk touch it alone.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/ini_file.hpp"
#include "base/text.hpp"
#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;

using Snapshot = std::map<std::string, std::string>;  // relative path -> bytes

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::write_tile_library(m_dir / "tiles", 40));
    ASSERT_TRUE(testing::write_photo(m_dir / "photo.jpg"));
    fs::create_directories(m_dir / "lists");
    fs::create_directories(m_dir / "broken");
    // Enough of them for their error file to be cut by a size limit.
    for (int i = 0; i < 40; ++i)
      ASSERT_TRUE(testing::write_file(m_dir / "broken" / ("bad" + std::to_string(i) + ".jpg"), "\xFF\xD8 not a picture"));
    auto r = run("list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/"));
    ASSERT_EQ(r.status, 0) << r.err;
  }

  fs::path tile_path(int i) const { return m_dir / "tiles" / ("t" + std::to_string(i) + ".jpg"); }
  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  testing::CliOutcome run(const std::string& args, const std::string& env = {}) const {
    return testing::run_program(m_dir.path(), args, {}, env);
  }
  std::string mosaic(const std::string& settings, const std::string& output = "out/m.jpg") const {
    return "mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
           " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=400 --set MosaicSizeHeight=300 --set TileSize=20"
           " --set RezIroriz=0 " +
           settings + " --output " + quoted(output) + " --yes --quiet";
  }

  /// Every file the runs wrote (the test's own inputs left out).
  Snapshot snapshot() const {
    Snapshot files;
    for (const auto& entry : fs::recursive_directory_iterator(m_dir.path())) {
      const std::string name = fs::relative(entry.path(), m_dir.path()).string();
      if (!entry.is_regular_file() || name.starts_with("tiles") || name.starts_with("broken") || name == "photo.jpg" || name == "stderr.txt")
        continue;
      files[name] = testing::read_file(entry.path());
    }
    return files;
  }

  TempDir m_dir;
};

// Every file a run or a command writes. `match` is a piece of the path the
// file is written under while it is being written; `target` is the name (or
// the start of the names) it ends up with.
struct Writer {
  const char* name;
  std::string args;
  const char* match;
  const char* target;
};

enum class Fault { full_device, size_limit };

TEST_F(Faults, EveryWriterReportsAFullDiskAndASizeLimitAndKeepsTheEarlierFile) {
  const std::string mask = " --set CreateMaskFile=1";
  const std::vector<Writer> writers = {
      {"JPEG", mosaic("--set FileFormat=jpg"), "/out/.m.jpg.", "out/m.jpg"},
      {"TIFF", mosaic("--set FileFormat=tiff"), "/out/.m.tiff.", "out/m.tiff"},
      {"TIFF with JPEG", mosaic("--set FileFormat=tiff_jpg"), "/out/.m.tiff.", "out/m.tiff"},
      {"BigTIFF", mosaic("--set FileFormat=bigtiff"), "/out/.m.tiff.", "out/m.tiff"},
      {"PSD", mosaic("--set FileFormat=psd"), "/out/.m.psd.", "out/m.psd"},
      {"PSB", mosaic("--set FileFormat=psb"), "/out/.m.psb.", "out/m.psb"},
      {"PPM", mosaic("--set FileFormat=ppm"), "/out/.m.ppm.", "out/m.ppm"},
      {"RAW", mosaic("--set FileFormat=raw"), "/out/.m.raw.", "out/m.raw"},
      {"BMP", mosaic("--set FileFormat=bmp"), "/out/.m.bmp.", "out/m.bmp"},
      {"PNG", mosaic("--set FileFormat=png"), "/out/.m.png.", "out/m.png"},
      {"split piece", mosaic("--split 200x150"), "/out/.m02x02.jpg.", "out/m02x02.jpg"},
      {"web pyramid", mosaic("--set FileFormat=web"), "/out/.m RezIroriz.new.", "out/m RezIroriz/"},
      {"AVI uncompressed", mosaic("--set FileFormat=avi_uncompressed --set Advanced.DivarAdadir.FrameCountFromImage=3"),
       "/out/.m.avi.", "out/m.avi"},
      {"AVI compressed", mosaic("--set FileFormat=avi_compressed --set Advanced.DivarAdadir.FrameCountFromImage=3"),
       "/out/.m.avi.", "out/m.avi"},
      {"video frames", mosaic("--set FileFormat=video_jpg --set Advanced.DivarAdadir.FrameCountFromImage=3"),
       "/out/.m__", "out/m__"},
      {"text report", mosaic("--set TextReport=1"), "/out/.m Text Report.csv.", "out/m Text Report.csv"},
      {"settings copy", mosaic("--set TextReport=1"), "/out/.m Settings.txt.", "out/m Settings.txt"},
      {"tile list", mosaic("--set MosaicProcessing=faster --set Advanced.Options.TileListSave=1"),
       "/out/.m Tile List.txt.", "out/m Tile List.txt"},
      {"mask image", mosaic(mask), "/out/.m MaskFile.jpg.", "out/m MaskFile.jpg"},
      {"mask bitmap", mosaic(mask), "/out/.m MaskFile.bmp.", "out/m MaskFile.bmp"},
      {"score image", mosaic(mask), "/out/.m Score.jpg.", "out/m Score.jpg"},
      {"individual tiles", mosaic("--set IndividualTiles=1"), "/out/m Tile Images/.", "out/m Tile Images/"},
      {"list create", "list create " + quoted("lists/own.tzc") + " --include " + quoted("tiles/"), "/lists/.own.tzc.",
       "lists/own.tzc"},
      {"list error file",
       "list create " + quoted("lists/own.tzc") + " --include " + quoted("tiles/") + " --include " + quoted("broken/"),
       "/lists/.own.tzc.imageErrors.txt.", "lists/own.tzc.imageErrors.txt"},
      {"list update", "list update " + quoted("lists/own.tzc"), "/lists/.own.tzc.", "lists/own.tzc"},
      {"settings file", "settings save Mine", "/.TessellariumSettings12x9.txt.",
       "Tessellarium Standard/TessellariumSettings12x9.txt"},
      {"configuration", "config set Options.ThreadCount 3", "/.TessellariumConfig.txt.",
       "Tessellarium Standard/TessellariumConfig.txt"},
  };
  // A configuration the desktop program has used for a while, large enough
  // for a size limit (counted in blocks of 512 bytes) to cut it.
  std::string config = "[Recent Files]\r\n";
  for (int i = 0; i < 40; ++i) config += "File" + std::to_string(i) + " = /home/someone/Pictures/mosaic " + std::to_string(i) + ".jpg\r\n";
  ASSERT_TRUE(testing::write_file(m_dir / "Tessellarium Standard/TessellariumConfig.txt", config));
  for (const Writer& w : writers) {
    for (const Fault fault : {Fault::full_device, Fault::size_limit}) {
      SCOPED_TRACE(std::string(w.name) + (fault == Fault::full_device ? ", full device" : ", size limit"));
      fs::remove_all(m_dir / "out");
      auto r = run(w.args);
      ASSERT_EQ(r.status, 0) << r.err;
      const Snapshot earlier = snapshot();
      std::uintmax_t target_bytes = 0;
      std::uintmax_t largest = 0;
      for (const auto& [name, bytes] : earlier)
        if (name.starts_with(w.target)) {
          target_bytes += bytes.size();
          largest = std::max<std::uintmax_t>(largest, bytes.size());
        }
      ASSERT_GT(target_bytes, 0u) << "the run wrote no " << w.target;

      // The disk fills halfway through the file; the limit (in blocks of
      // 512 bytes) cuts its largest file about in half.
      const std::uintmax_t blocks = std::max<std::uintmax_t>(1, largest / 2 / 512);
      ASSERT_LT(blocks * 512, largest) << "the limit would not cut " << w.target;
      const std::string env =
          fault == Fault::full_device
              ? "LD_PRELOAD='" TESS_FULL_DEVICE_LIB "' TESS_FULL_DEVICE_MATCH=" + shell_quoted(w.match) +
                    " TESS_FULL_DEVICE_BYTES=" + std::to_string(target_bytes / 2) +
                    " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\""
              : "ulimit -f " + std::to_string(blocks) + ";";
      r = run(w.args, env);
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_NE(r.err.find("error:"), std::string::npos) << r.err;
      EXPECT_EQ(r.out.find((m_dir / w.target).string()), std::string::npos) << r.out;  // never printed as written

      const Snapshot after = snapshot();
      for (const auto& [name, bytes] : after) {
        EXPECT_TRUE(earlier.contains(name)) << name << " was left behind";
      }
      for (const auto& [name, bytes] : earlier) {
        const auto found = after.find(name);
        if (found == after.end()) {
          ADD_FAILURE() << name << " was lost";
        } else if (name.starts_with(w.target)) {
          EXPECT_TRUE(found->second == bytes) << name << " changed";
        }
      }
    }
  }
}

// A tile picture deleted or replaced after the list was made: its cells are
// counted, left empty and named at the end, and the run still writes its mosaic.
TEST_F(Faults, TilePicturesChangedSinceTheListAreReportedAndLeftOut) {
  const std::string args =
      mosaic("--set FileFormat=raw --set MosaicProcessing=faster --set Advanced.Options.TileListSave=1", "out/m.raw");
  auto r = run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  // The cells of picture t3, by the run's own tile list.
  IniFile placed;
  ASSERT_TRUE(placed.load(m_dir / "out/m Tile List.txt"));
  long cells = 0;
  for (const std::string& key : placed.keys("TileList"))
    if (placed.get("TileList", key, "") == tile_path(3).string()) ++cells;
  ASSERT_GT(cells, 0);

  struct Case {
    const char* name;
    std::function<bool(const fs::path&)> change;
  };
  const Case cases[] = {
      {"deleted", [](const fs::path& p) { return fs::remove(p); }},
      {"garbage", [](const fs::path& p) { return testing::write_file(p, std::string(3000, '\x5A')); }},
      {"cut short",
       [](const fs::path& p) { return testing::write_file(p, testing::read_file(p).substr(0, 300)); }},
      {"another size", [](const fs::path& p) {
         Foto other;
         other.try_allocate_fill(30, 200, make_pixel(250, 250, 0));
         return testing::write_jpeg(p, other, testing::JpegSpec().with_quality(95));
       }},
  };
  const std::string original = testing::read_file(tile_path(3));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(testing::write_file(tile_path(3), original));
    ASSERT_TRUE(c.change(tile_path(3)));
    r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(format("warning: About %ld Tile Images where not loaded due to a File Error.", cells)),
              std::string::npos)
        << r.err;
    EXPECT_EQ(fs::file_size(m_dir / "out/m.raw"), 400u * 300u * 3u);
  }
}

// Too little memory for a big mosaic: whatever runs out first (a cell, a
// node of the placement's bookkeeping, the run's own thread, a web
// pyramid's level buffers, which have their own text), the run ends with an
// out-of-memory text, or not at all when the memory sufficed, and never with
// a crash. The limits are near what such a run maps; a run of
// photos does not map FFmpeg, which is loaded for videos only.
TEST_F(Faults, AnAddressSpaceLimitEndsTheRunWithTheOutOfMemoryText) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than any limit here leaves";
#endif
  int out_of_memory = 0;
  for (const char* format : {"jpg", "web"}) {
    for (const int kib : {90000, 120000}) {
      SCOPED_TRACE(std::string(format) + " in " + std::to_string(kib) + " KiB");
      fs::remove_all(m_dir / "out");
      const std::string args =
          "mosaic " + quoted("photo.jpg") + " --list " + quoted("tiles.tzc") +
          " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=30000 --set MosaicSizeHeight=20000 --set TileSize=200"
          " --set RezIroriz=0 --set FileFormat=" +
          format + " --output " + quoted("out/m.jpg") + " --yes --quiet";
      const auto r = run(args, "ulimit -v " + std::to_string(kib) + ";");
      ASSERT_TRUE(r.status == 0 || r.status == 1) << r.status << "\n" << r.err;
      if (r.status == 1) {
        const bool reported =
            r.err.find("error: Out Of Memory while allocating an Image made of ") != std::string::npos ||
            r.err.find("error: the run could not be started") != std::string::npos ||
            (std::string(format) == "web" && r.err.find("error: RezIroriz Error 03\n") != std::string::npos);
        EXPECT_TRUE(reported) << r.err;
        ++out_of_memory;
      }
    }
  }
  EXPECT_GT(out_of_memory, 0) << "no limit was tight enough";
}

}  // namespace
}  // namespace tess
