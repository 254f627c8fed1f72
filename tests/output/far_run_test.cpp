// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs and the mosaic seen from afar: the figure a run gives must be the
// one of the files it wrote, however they were cut.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include "base/scripted_prompt.hpp"
#include "engine/colour_fidelity.hpp"
#include "engine/far_likeness.hpp"
#include "engine/likeness.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/run_driver.hpp"
#include "images/foto.hpp"
#include "output/jpeg_writer.hpp"
#include "output/run_outputs.hpp"
#include "settings/units.hpp"
#include "support/test_support.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// The mosaic seen from afar, as a run measures it while writing, and as it is
// measured again from the file on disk: a lossless format, so the two see the
// very same pixels.
class FarRun : public ::testing::Test {
 protected:
  void SetUp() override {
    Foto main;
    ASSERT_TRUE(main.try_allocate_fill(160, 120, 0));
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 160; ++x) main.at(x, y) = make_pixel(x * 255 / 159, y * 255 / 119, 255 - (x + y) * 255 / 278);
    ASSERT_TRUE(write_jpeg_image(main, m_dir / "main.jpg", true, 95, 0, m_prompt));
    fill_list(40);
    MosaicParameters& p = m_builder.parameters;
    p.mosaic_size = {240, 180, kUnitPixel};
    p.tile_size = {12, kUnitTilesPerRow};
    p.tile_duplication = 0;
    p.duplicate_spacing = 0;
    p.web_output = false;
    p.output_format = OutputFormatCode::bmp;
    // Gaps between the tiles show the border colour, and so does the far figure.
    p.border_size = {2, kUnitPixel};
    p.border_colour = 0x2080F0;
    m_run.main_images = {(m_dir / "main.jpg").string()};
  }

  // Uniform tiles of many colours written as files (the run renders them)
  // and analysed into the list.
  void fill_list(int count) {
    fs::create_directories(m_dir / "tiles");
    for (int i = 0; i < count; ++i) {
      Foto tile;
      ASSERT_TRUE(tile.try_allocate_fill(16, 12, make_pixel((i * 37) % 256, (i * 91) % 256, (i * 53) % 256)));
      FotoInfo info;
      info.path = (m_dir / "tiles" / ("t" + std::to_string(1000 + i) + ".jpg")).string();
      ASSERT_TRUE(write_jpeg_image(tile, info.path, true, 95, 0, m_prompt));
      info.usable = true;
      ASSERT_TRUE(info.signature.analyse(tile, AnalysisMode::fill));
      m_list.insert(std::move(info));
    }
  }

  // One run written to `file`, whole or in pieces of `split`.
  RunResult run_to(const std::string& file, SplitPieceSize split = {}) {
    RunOutputOptions options;
    options.output_file = (m_dir / file).string();
    options.split = split;
    m_builder.parameters.split_mosaic = split.width > 0;
    m_run.results.clear();
    run_batch(m_builder, m_list, m_run, make_run_outputs(options));
    return m_run.results[m_run.main_images[0]];
  }

  TempDir m_dir;
  ScriptedPrompt m_prompt;
  MosaicBuilder m_builder{m_prompt};
  TileImageList m_list;
  MosaicRun m_run;
};

TEST_F(FarRun, TheFigureIsThatOfTheWrittenMosaicAndTheMainImage) {
  const RunResult result = run_to("whole.bmp");
  ASSERT_TRUE(result.success);
  const ColourFidelity& figures = result.colour_fidelity;
  ASSERT_TRUE(figures.has_far());
  // 12 tiles a row, 8 pixels each; the main image's shape.
  EXPECT_EQ(figures.far_pixels, 96u * 72u);
  EXPECT_NE(colour_fidelity_text(figures).find("; seen from afar mean "), std::string::npos);

  Foto main;
  Foto mosaic;
  ASSERT_TRUE(main.load(m_dir / "main.jpg", 0, 0).ok());
  ASSERT_TRUE(mosaic.load(result.destination, 0, 0).ok());
  const LikenessFigures again = pixel_ciede2000(gaussian_blurred(reduce_in_linear_light(main, 96, 72), 4.0),
                                                gaussian_blurred(reduce_in_linear_light(mosaic, 96, 72), 4.0));
  EXPECT_EQ(again.count, figures.far_pixels);
  EXPECT_NEAR(figures.far_mean, again.mean, 1e-3);
  EXPECT_NEAR(figures.far_p95, again.p95, 1e-3);
  EXPECT_GT(figures.far_mean, 0.1) << "tiles of 40 colours are no copy of the main image";

  // The border is part of what is seen: another colour, another figure.
  m_builder.parameters.border_colour = 0xFFFFFF;
  const RunResult white = run_to("white.bmp");
  ASSERT_TRUE(white.colour_fidelity.has_far());
  EXPECT_GT(std::abs(white.colour_fidelity.far_mean - figures.far_mean), 0.05);
}

TEST_F(FarRun, TheFigureIsTheSameWhateverBandsAndPiecesTheMosaicIsWrittenIn) {
  const RunResult whole = run_to("whole.bmp");
  ASSERT_TRUE(whole.success);
  ASSERT_TRUE(whole.colour_fidelity.has_far());
  const struct {
    const char* name;
    SplitPieceSize split;
  } cases[] = {
      {"pieces across the whole width, one band each", {240, 45}},
      {"columns of pieces", {100, 50}},
      {"narrow columns of short pieces", {37, 23}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult split = run_to(std::string("split") + std::to_string(c.split.width) + ".bmp", c.split);
    ASSERT_TRUE(split.success);
    ASSERT_GT(split.written_files.size(), 1u);
    ASSERT_TRUE(split.colour_fidelity.has_far());
    EXPECT_EQ(split.colour_fidelity.far_pixels, whole.colour_fidelity.far_pixels);
    EXPECT_NEAR(split.colour_fidelity.far_mean, whole.colour_fidelity.far_mean, 1e-4);
    EXPECT_NEAR(split.colour_fidelity.far_p95, whole.colour_fidelity.far_p95, 1e-4);
  }

  // A web mosaic has no picture file: the rows pulled for its pyramid are measured.
  m_builder.parameters.output_format = OutputFormatCode::web;
  const RunResult web = run_to("web");
  ASSERT_TRUE(web.success);
  ASSERT_TRUE(web.colour_fidelity.has_far());
  EXPECT_NEAR(web.colour_fidelity.far_mean, whole.colour_fidelity.far_mean, 1e-4);
  EXPECT_NEAR(web.colour_fidelity.far_p95, whole.colour_fidelity.far_p95, 1e-4);
}

TEST_F(FarRun, SomePiecesOnlyGiveNoFigureSeenFromAfar) {
  const RunResult some = run_to("some.bmp", SplitPieceSize{100, 50, 1, 2});
  ASSERT_TRUE(some.success);
  EXPECT_GT(some.colour_fidelity.cells, 0u) << "the cells' figures stay";
  EXPECT_FALSE(some.colour_fidelity.has_far());
  EXPECT_EQ(colour_fidelity_text(some.colour_fidelity).find("afar"), std::string::npos);
}

// The far figure of a measurement taken again from a file on disk, the
// reduced picture's width found from the count of pixels the run measured.
LikenessFigures far_again(const Foto& main, const Foto& mosaic, std::size_t pixels) {
  for (int width = kFarPixelsPerCell; width <= 64 * kFarPixelsPerCell; width += kFarPixelsPerCell) {
    const auto height = static_cast<int>(std::llround(static_cast<double>(width) * main.height() / main.width()));
    if (static_cast<std::size_t>(width) * static_cast<std::size_t>(std::max(height, 1)) != pixels) continue;
    return pixel_ciede2000(gaussian_blurred(reduce_in_linear_light(main, width, height), 4.0),
                           gaussian_blurred(reduce_in_linear_light(mosaic, width, height), 4.0));
  }
  return {};
}

TEST_F(FarRun, AMaskMosaicIsSeenFromAfarWithItsGapsAsWritten) {
  // A mask of three regions inside a white frame: the cells follow the
  // regions, the frame stays the gap colour, and what is seen is the file.
  Foto mask;
  ASSERT_TRUE(mask.try_allocate_fill(160, 120, make_pixel(255, 255, 255)));
  for (int y = 10; y < 110; ++y)
    for (int x = 10; x < 150; ++x)
      mask.at(x, y) = x < 60 ? make_pixel(250, 0, 0) : x < 100 ? make_pixel(0, 250, 0) : make_pixel(0, 0, 250);
  ASSERT_TRUE(write_jpeg_image(mask, m_dir / "mask.jpg", true, 100, 0, m_prompt));
  m_builder.parameters.mosaic_size = {1, 1, kUnitPixel};  // the mask gives the shape
  m_run.layout.mask_file = 1;
  m_run.mask_file = (m_dir / "mask.jpg").string();
  RunOutputOptions options;
  options.output_file = (m_dir / "masked.bmp").string();
  run_batch(m_builder, m_list, m_run, make_run_outputs(options));
  ASSERT_EQ(m_run.results.size(), 1u);
  const RunResult result = m_run.results.begin()->second;  // named by the mask's label
  ASSERT_TRUE(result.success);
  const ColourFidelity& figures = result.colour_fidelity;
  ASSERT_TRUE(figures.has_far());

  Foto main;
  Foto mosaic;
  ASSERT_TRUE(main.load(m_dir / "main.jpg", 0, 0).ok());
  ASSERT_TRUE(mosaic.load(result.destination, 0, 0).ok());
  const LikenessFigures again = far_again(main, mosaic, figures.far_pixels);
  ASSERT_EQ(again.count, figures.far_pixels) << "no reduced width gives the run's count of pixels";
  EXPECT_NEAR(figures.far_mean, again.mean, 1e-3);
  EXPECT_NEAR(figures.far_p95, again.p95, 1e-3);
}

TEST_F(FarRun, AVideoMosaicIsSeenFromAfarInItsFirstFrame) {
  // Still pictures make every frame the same: the video's figure is the
  // picture's. Frames written apart, without the first, give none.
  const RunResult picture = run_to("still.bmp");
  ASSERT_TRUE(picture.colour_fidelity.has_far());
  m_builder.parameters.output_format = OutputFormatCode::video_jpg;
  const RunResult video = run_to("video");
  ASSERT_TRUE(video.success);
  ASSERT_TRUE(video.colour_fidelity.has_far());
  EXPECT_EQ(video.colour_fidelity.far_pixels, picture.colour_fidelity.far_pixels);
  // The frames are JPEG pictures, the still mosaic a BMP: only the tiles are common.
  EXPECT_NEAR(video.colour_fidelity.far_mean, picture.colour_fidelity.far_mean, 0.2);

  RunOutputOptions options;
  options.output_file = (m_dir / "later").string();
  options.frames = {2, 3};
  m_run.results.clear();
  run_batch(m_builder, m_list, m_run, make_run_outputs(options));
  const RunResult later = m_run.results[m_run.main_images[0]];
  ASSERT_TRUE(later.success);
  EXPECT_FALSE(later.colour_fidelity.has_far());
}

}  // namespace
}  // namespace tess
