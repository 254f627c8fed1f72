// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures that declare far more pixels than their files hold, in whole runs
// of the program: a main image that can never fit the decoding memory is
// refused at once, and tiles that declare huge pictures cost no more than
// the size the analysis or the cell needs, whatever the number of threads.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <png.h>

#include "cli_runner.hpp"
#include "images/foto.hpp"
#include "images/image_files.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::shell_quoted;
using testing::TempDir;

struct MeasuredRun {
  int status = -1;
  long peak_kib = 0;  // the largest resident size of the program
  double seconds = 0;
  std::string err;
};

// Runs the program as run_program does, but as a child of its own, so that
// its peak resident memory is its own and not that of every test before it.
MeasuredRun run_measured(const fs::path& dir, const std::string& args, const std::string& limits = {}) {
  const fs::path err_file = dir / "stderr.txt";
  const std::string command = limits + " TESSELLARIUM_CONFIG_PATH=" + shell_quoted(dir.string()) + " exec '" +
                              TESS_CLI_EXE "' " + args + " >/dev/null 2>" + shell_quoted(err_file.string());
  MeasuredRun r;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (child < 0) return r;
  int raw = 0;
  rusage usage{};
  if (::wait4(child, &raw, 0, &usage) != child) return r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.peak_kib = usage.ru_maxrss;
  r.err = testing::read_file(err_file);
  return r;
}

[[noreturn]] void stop_writing(png_structp png, png_const_charp) { png_longjmp(png, 1); }

bool write_black_rows(png_structp png, png_infop info, std::FILE* file, int side, std::vector<std::uint8_t>& row) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(side), static_cast<png_uint_32>(side), 1, PNG_COLOR_TYPE_GRAY,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < side; ++y) png_write_row(png, row.data());
  png_write_end(png, info);
  return true;
}

// An all-black one-bit picture of side × side pixels, written a row at a
// time: a file of side² / 8000 bytes or so.
bool write_black_png(const fs::path& path, int side) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(side + 7) / 8);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, stop_writing, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  const bool written = info != nullptr && write_black_rows(png, info, file, side, row);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && written;
}

class DecodeBudgetRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::write_tile_library(m_dir / "tiles", 12));
    ASSERT_TRUE(testing::write_photo(m_dir / "photo.jpg", 200, 150));
  }

  std::string quoted(const std::string& name) const { return shell_quoted((m_dir / name).string()); }
  std::string mosaic(const std::string& image, const std::string& list) const {
    return "mosaic " + quoted(image) + " --list " + quoted(list) +
           " --set MosaicSizeUnit=pixel --set MosaicSizeWidth=200 --set MosaicSizeHeight=150 --set TileSize=4 --set TileUnit=tilesxrow"
           " --set RezIroriz=0 --output " + quoted("out/m.jpg") + " --yes --quiet";
  }

  TempDir m_dir;
};

// Main images that declare more pixels than the decoding memory holds. The
// run is limited to 6 GB of address space, which bounds what the machine
// could lose if the refusal failed and makes the automatic budget the same on
// every machine: a quarter of it, 1.54 GB.
TEST_F(DecodeBudgetRun, MainImageLargerThanTheBudgetIsRefusedAtOnce) {
  struct Bomb {
    const char* name;
    int side;
    bool png;
    const char* why;
  };
  const std::vector<Bomb> bombs = {
      {"arith65000.jpg", 65000, false, "16.9 GB of pixels"},
      {"arith20000.jpg", 20000, false, "1.6 GB: over the budget, yet within the limit"},
      {"black30000.png", 30000, true, "3.6 GB of pixels from a file that can hold them"},
  };
  ASSERT_EQ(run_measured(m_dir.path(), "list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/")).status, 0);
  for (const Bomb& bomb : bombs) {
    SCOPED_TRACE(bomb.name);
    SCOPED_TRACE(bomb.why);
    const fs::path file = m_dir / bomb.name;
    ASSERT_TRUE(bomb.png ? write_black_png(file, bomb.side) : testing::write_arithmetic_liar(file, bomb.side));
    const MeasuredRun r = run_measured(m_dir.path(), mosaic(bomb.name, "tiles.tzc"), "ulimit -v 6000000;");
    EXPECT_NE(r.status, 0);
    const std::string size = std::to_string(bomb.side) + "x" + std::to_string(bomb.side);
    EXPECT_NE(r.err.find("Out Of Memory while allocating an Image made of " + size + " Pixels"), std::string::npos)
        << r.err;
    EXPECT_LT(r.peak_kib, 256L * 1024);
    EXPECT_LT(r.seconds, 2.0);
    EXPECT_FALSE(fs::exists(m_dir / "out" / "m.jpg"));
  }
}

// Four tiles of 10,000 × 10,000 one-bit pixels (400 MB each when whole) with
// as many threads: the list is made and a mosaic drawn with them, and
// neither run holds more than a fraction of what two of them would take whole.
TEST_F(DecodeBudgetRun, HugePngTilesCostOnlyTheirReducedSize) {
  fs::create_directories(m_dir / "huge");
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(write_black_png(m_dir / "huge" / ("h" + std::to_string(i) + ".png"), 10000));
  const MeasuredRun list =
      run_measured(m_dir.path(), "list create " + quoted("huge.tzc") + " --include " + quoted("huge/") + " --threads 4");
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_LT(list.peak_kib, 500L * 1024);
  const testing::CliOutcome shown = testing::run_program(m_dir.path(), "list show " + quoted("huge.tzc"));
  EXPECT_NE(shown.out.find("Entries: 4\n"), std::string::npos) << shown.out;

  const MeasuredRun run = run_measured(
      m_dir.path(), mosaic("photo.jpg", "huge.tzc") + " --set Advanced.Options.ThreadCount=4");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_LT(run.peak_kib, 500L * 1024);
  EXPECT_TRUE(fs::exists(m_dir / "out" / "m.jpg"));
}

// A JPEG tile beyond what the DCT scaling reaches (36,000 × 36,000: its
// eighth alone is 81 MB) under a budget of 60 MB: it is listed and drawn at
// its reduced size in every cell instead of being refused as too large.
TEST_F(DecodeBudgetRun, HugeJpegTileCostsOnlyItsReducedSize) {
  fs::create_directories(m_dir / "huge");
  ASSERT_TRUE(testing::write_arithmetic_liar(m_dir / "huge" / "grey.jpg", 36000));
  ASSERT_EQ(run_measured(m_dir.path(), "config set Options.DecodeMemoryMaxSizeMB 60").status, 0);
  const MeasuredRun list = run_measured(m_dir.path(), "list create " + quoted("huge.tzc") + " --include " + quoted("huge/"));
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.err.find("Out Of Memory"), std::string::npos) << list.err;
  const testing::CliOutcome shown = testing::run_program(m_dir.path(), "list show " + quoted("huge.tzc"));
  EXPECT_NE(shown.out.find("Entries: 1\n"), std::string::npos) << shown.out;

  const MeasuredRun run = run_measured(m_dir.path(), mosaic("photo.jpg", "huge.tzc") + " --set TileDuplication=0");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("Out Of Memory"), std::string::npos) << run.err;
  EXPECT_LT(run.peak_kib, 200L * 1024);
  EXPECT_TRUE(fs::exists(m_dir / "out" / "m.jpg"));
}

// The budget is an advanced option of its own: a picture that fits the
// machine but not a budget set small is refused, with the run's other
// settings untouched.
TEST_F(DecodeBudgetRun, BudgetSetOnTheCommandLineBoundsTheMainImage) {
  ASSERT_EQ(run_measured(m_dir.path(), "list create " + quoted("tiles.tzc") + " --include " + quoted("tiles/")).status, 0);
  ASSERT_TRUE(testing::write_jpeg(m_dir / "big.jpg", testing::JpegSpec(3000, 2000),
                                  [](int y, std::uint8_t* rgb) { testing::photo_like_row(3000, y, rgb); }));
  const MeasuredRun refused =
      run_measured(m_dir.path(), mosaic("big.jpg", "tiles.tzc") + " --set Advanced.Options.DecodeMemoryMaxSizeMB=20");
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("Out Of Memory while allocating an Image made of 3000x2000 Pixels!!"), std::string::npos)
      << refused.err;
  const MeasuredRun fits =
      run_measured(m_dir.path(), mosaic("big.jpg", "tiles.tzc") + " --set Advanced.Options.DecodeMemoryMaxSizeMB=40");
  EXPECT_EQ(fits.status, 0) << fits.err;
}

}  // namespace
}  // namespace tess
