// Every file the program writes replaces an earlier one of its name only when
// it is complete: a write cut halfway by the file-size limit leaves the
// earlier file byte for byte and no temporary beside it.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/ini_file.hpp"
#include "base/scripted_prompt.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "engine/tile_list_file.hpp"
#include "images/foto.hpp"
#include "output/bmp_writer.hpp"
#include "output/jpeg_writer.hpp"
#include "output/png_writer.hpp"
#include "output/ppm_writer.hpp"
#include "output/psd_writer.hpp"
#include "output/row_source.hpp"
#include "output/side_images.hpp"
#include "output/text_report.hpp"
#include "output/tiff_writer.hpp"
#include "tiff_forms.hpp"
#include "output/video_writer.hpp"
#include "settings/mosaic_parameters.hpp"
#include "settings/settings_file.hpp"
#include "support/test_support.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/list_analysis.hpp"
#include "tilelist/list_file.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::names_in;
using testing::TempDir;
using testing::TiffForm;
using testing::write_tiff_as;
using testing::write_file;

// Noise, so that no codec squeezes the picture below the limit.
Foto noise(int w, int h) {
  Foto f;
  f.try_allocate(w, h);
  std::uint32_t state = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      state = state * 1664525u + 1013904223u;
      f.at(x, y) = make_pixel(static_cast<std::uint8_t>(state >> 24), static_cast<std::uint8_t>(state >> 16),
                              static_cast<std::uint8_t>(state >> 8));
    }
  return f;
}

// The rows of one picture, again for every frame.
class FrameRows final : public RowSource {
 public:
  explicit FrameRows(const Foto& foto) : m_foto(foto) {}
  bool begin(std::int64_t) {
    m_next = 0;
    return true;
  }
  int width() const override { return m_foto.width(); }
  int height() const override { return m_foto.height(); }
  const std::uint32_t* next_row() override { return m_next < height() ? m_foto.row(m_next++) : nullptr; }
  bool stop_requested() const override { return false; }

 private:
  const Foto& m_foto;
  int m_next = 0;
};

mode_t permissions(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

// Writes into a folder; the files it makes are the row's `files`.
using Writer = std::function<bool(const fs::path& folder, Prompt& prompt)>;

struct Row {
  const char* label;
  std::vector<std::string> files;  // sorted
  Writer write;
};

class AtomicWrites : public ::testing::Test {
 protected:
  void SetUp() override {
    // A 120 × 90 mosaic of 15-pixel cells, each with a picture of a long name.
    for (int i = 0; i < 48; ++i)
      pictures.emplace_back("/pictures/a folder with a long name/picture number " + std::to_string(i) + ".jpg");
    builder.grid.reset(120, 90, 1.0, 1, false);
    for (int r = 0; r < 6; ++r)
      for (int c = 0; c < 8; ++c) {
        ASSERT_TRUE(builder.grid.add_cell(CellRect{15 * c, 15 * r, 15, 15}));
        PuzzleInfo& cell = builder.grid.cell(builder.grid.size() - 1);
        cell.active = 1;
        cell.tile = &pictures[static_cast<std::size_t>(r * 8 + c)];
        cell.score = static_cast<std::uint32_t>(100 * (r * 8 + c));
      }
    for (const FotoInfo& picture : pictures) list.insert(picture);
    report.mosaic_width = 120;
    report.mosaic_height = 90;
    for (int i = 0; i < 48; ++i) {
      report.pictures.push_back({pictures[static_cast<std::size_t>(i)].path, 1});
      report.tiles.push_back({15 * (i % 8), 15 * (i / 8), 15, 15, true, 20, 100, i});
    }
  }

  std::vector<Row> rows() {
    const auto rows_of = [this](const Writer& write) { return write; };
    const auto source_writer = [this](auto write) {
      return [this, write](const fs::path& folder, Prompt& prompt) {
        FotoRowSource source(picture);
        return write(source, folder, prompt);
      };
    };
    const auto tiff = [source_writer](const char* name, TiffForm format) {
      return source_writer([name, format](RowSource& source, const fs::path& folder, Prompt& prompt) {
        return write_tiff_as(source, folder / name, format, 72, prompt);
      });
    };
    TiffForm jpeg_tiff;
    jpeg_tiff.jpeg = true;
    TiffForm big_tiff;
    big_tiff.big_tiff = true;
    return {
        {"JPEG", {"m.jpg"}, rows_of([this](const fs::path& folder, Prompt& prompt) {
           return write_jpeg_image(picture, folder / "m.jpg", true, 95, 72, prompt);
         })},
        {"BMP", {"m.bmp"}, rows_of([this](const fs::path& folder, Prompt& prompt) {
           return write_bmp_image(picture, folder / "m.bmp", prompt);
         })},
        {"PPM", {"m.ppm"}, source_writer([](RowSource& source, const fs::path& folder, Prompt& prompt) {
           return write_ppm_rows(source, folder / "m.ppm", {}, prompt);
         })},
        {"RAW", {"m.raw"}, source_writer([](RowSource& source, const fs::path& folder, Prompt& prompt) {
           return write_raw_rows(source, folder / "m.raw", {}, prompt);
         })},
        {"PSD", {"m.psd"}, source_writer([](RowSource& source, const fs::path& folder, Prompt& prompt) {
           return write_psd_rows(source, folder / "m.psd", {.dpi = 72}, prompt);
         })},
        {"PSB", {"m.psb"}, source_writer([](RowSource& source, const fs::path& folder, Prompt& prompt) {
           return write_psb_rows(source, folder / "m.psb", {.dpi = 72}, prompt);
         })},
        {"PNG", {"m.png"}, source_writer([](RowSource& source, const fs::path& folder, Prompt& prompt) {
           return write_png_rows(source, folder / "m.png", {.dpi = 72}, prompt);
         })},
        {"PNG picture", {"m.png"}, rows_of([this](const fs::path& folder, Prompt& prompt) {
           return write_png_picture(picture, folder / "m.png", prompt, true);
         })},
        {"TIFF", {"m.tif"}, tiff("m.tif", TiffForm{})},
        {"TIFF-JPEG", {"m.tif"}, tiff("m.tif", jpeg_tiff)},
        {"BigTIFF", {"m.tif"}, tiff("m.tif", big_tiff)},
        {"AVI", {"m.avi"}, rows_of([this](const fs::path& folder, Prompt& prompt) {
           FrameRows source(picture);
           return write_avi_rows(source, (folder / "m").string(), 0, 5 * 500, 3,
                                 [&source](std::int64_t frame) { return source.begin(frame); }, prompt);
         })},
        {"JPEG frames", {video_frame_file("m", 1), video_frame_file("m", 2)},
         rows_of([this](const fs::path& folder, Prompt& prompt) {
           FrameRows source(picture);
           return write_video_frames(source, (folder / "m").string(), 1, 2,
                                     [&source](std::int64_t frame) { return source.begin(frame); }, prompt);
         })},
        {"report", {"m Text Report.csv"}, rows_of([this](const fs::path& folder, Prompt& prompt) {
           return write_text_report_file(text_report_path((folder / "m").string()), report, prompt);
         })},
        {"settings copy", {"m.ini"}, rows_of([](const fs::path& folder, Prompt&) {
           return save_settings_copy(folder / "m.ini", MosaicParameters{}, "/lists/tiles.tzc", true);
         })},
        {"tile list", {"m Tile List.txt"}, rows_of([this](const fs::path& folder, Prompt&) {
           return save_tile_list_file(builder, tile_list_file_path((folder / "m").string()));
         })},
        {"mask and score", {"m MaskFile.bmp", "m MaskFile.jpg", "m Score.jpg"},
         rows_of([this](const fs::path& folder, Prompt& prompt) {
           return write_mask_files(builder.grid, (folder / "m").string(), prompt);
         })},
        {"list", {"tiles.tzc"}, rows_of([this](const fs::path& folder, Prompt& prompt) {
           return save_list_file(list, folder / "tiles.tzc").ok_or_show(prompt);
         })},
        {"configuration", {"tessellarium.ini"}, rows_of([this](const fs::path& folder, Prompt&) {
           IniFile ini;
           for (const FotoInfo& picture : pictures) ini.set("Recent", picture.path, "1");
           return ini.save(folder / "tessellarium.ini");
         })},
        {"image errors", {"tiles.imageErrors.txt"}, rows_of([this](const fs::path& folder, Prompt&) {
           std::vector<std::string> paths;
           for (const FotoInfo& picture : pictures) paths.push_back(picture.path);
           return write_error_file((folder / "tiles.imageErrors.txt").string(), paths);
         })},
    };
  }

  ScriptedPrompt quiet;
  MosaicBuilder builder{quiet};
  std::vector<FotoInfo> pictures;
  TileImageList list;
  ReportInput report;
  Foto picture = noise(160, 120);
};

// Runs `write` in a child whose files may grow to `limit` bytes; true when
// the writer reported the failure.
bool fails_under_limit(const Row& row, const fs::path& folder, std::uint64_t limit) {
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &small);
    ScriptedPrompt prompt;
    ::_exit(row.write(folder, prompt) ? 1 : 0);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(AtomicWrites, ACutWriteKeepsTheEarlierFileAndASuccessfulOneReplacesIt) {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  for (const Row& row : rows()) {
    SCOPED_TRACE(row.label);
    TempDir dir;
    const fs::path done = dir / "done", cut = dir / "cut";
    fs::create_directories(done);
    fs::create_directories(cut);
    const auto old_bytes = [](const std::string& name) { return "an earlier " + name + std::string(100, '.'); };
    for (const std::string& name : row.files) {
      ASSERT_TRUE(write_file(done / name, old_bytes(name)));
      ASSERT_TRUE(write_file(cut / name, old_bytes(name)));
    }

    // Written whole: the new content is in place, readable as a plain file would be.
    ScriptedPrompt prompt;
    ASSERT_TRUE(row.write(done, prompt));
    EXPECT_EQ(names_in(done), row.files);
    std::uint64_t smallest = UINT64_MAX;
    for (const std::string& name : row.files) {
      const std::string bytes = read_file(done / name);
      EXPECT_NE(bytes, old_bytes(name)) << name;
      EXPECT_EQ(permissions(done / name), 0666u & ~mask) << name;
      smallest = std::min<std::uint64_t>(smallest, bytes.size());
    }
    ASSERT_GE(smallest, 2u);

    // Cut halfway: the earlier files stay byte for byte, and nothing else appears.
    EXPECT_TRUE(fails_under_limit(row, cut, smallest / 2));
    EXPECT_EQ(names_in(cut), row.files);
    for (const std::string& name : row.files) EXPECT_EQ(read_file(cut / name), old_bytes(name)) << name;
  }
}

}  // namespace
}  // namespace tess
