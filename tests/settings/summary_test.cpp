#include "settings/summary.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tess {
namespace {

using Lines = std::vector<std::string>;

Lines summary_of(const MosaicParameters& p, std::int64_t w0, std::int64_t h0,
                 const CellLayouter& cells = grid_layout_cells) {
  MosaicLayout layout;
  compute_layout(p, w0, h0, layout);
  return summary_lines(p, layout, cells);
}

MosaicParameters poster_in_pixels() {
  MosaicParameters p;
  p.mosaic_size = {12000, 9000, kUnitPixel};
  p.tile_size = {40, kUnitTilesPerRow};
  return p;
}

TEST(Summary, EveryLineInOrder) {
  EXPECT_EQ(summary_of(poster_in_pixels(), 4000, 3000), (Lines{
                                                            "Mosaic Max Size: 12000 x 9000 pixels",
                                                            "Main Image: 4000 x 3000 pixels",
                                                            "Final Mosaic: 12000 x 9000 pixels = 12000 x 9000 pixels",
                                                            "File Size: 49.03 megabytes",
                                                            "Tile Size: 300 x 225 pixels = 67500 pixels",
                                                            "Border Size: 0 pixels",
                                                            "Resolution: 300 PPI",
                                                            "Tile Pattern: 40 x 40 = 1600 tiles",
                                                            "Tile Count: 1600 + 0½ + 0¼ = 1600 tiles",
                                                        }));
}

TEST(Summary, TheFinalSizeIsShownInTheUnitOfTheMaximumSize) {
  MosaicParameters p;  // 42 x 29 cm
  Lines lines = summary_of(p, 4000, 3000);
  EXPECT_EQ(lines[0], "Mosaic Max Size: 42 x 29 cm");
  EXPECT_EQ(lines[2], "Final Mosaic: 38.67 x 29.00 cm = 4567 x 3425 pixels");

  p.mosaic_size = {20, 20, kUnitInch};
  lines = summary_of(p, 1000, 1000);
  EXPECT_EQ(lines[0], "Mosaic Max Size: 20 inches");
  EXPECT_EQ(lines[2], "Final Mosaic: 20 inches = 6000 pixels");

  // An area stays an area.
  p.mosaic_size = {100, 100, kUnitMegapixel};
  lines = summary_of(p, 4000, 3000);
  EXPECT_EQ(lines[0], "Mosaic Max Size: 100 megapixels");
  EXPECT_EQ(lines[2], "Final Mosaic: 100.00 megapixels = 11547 x 8660 pixels");

  p.mosaic_size = {40, 30, kUnitTiles};
  p.tile_size = {100, kUnitPixel};
  lines = summary_of(p, 4000, 3000);
  EXPECT_EQ(lines[2], "Final Mosaic: 40 x 30 tiles = 4000 x 3000 pixels");
}

TEST(Summary, SplitTilesBorderAndCounter) {
  MosaicParameters p = poster_in_pixels();
  p.half_tiles = 10;
  p.quarter_tiles = 5;
  p.border_size = {10, kUnitPixel};
  Lines lines = summary_of(p, 4000, 3000);
  EXPECT_EQ(lines[4], "Tile Size: 290 x 215 pixels = 62350 pixels");
  EXPECT_EQ(lines[5], "Border Size: 10 pixels");
  // Which cells are split is up to the run.
  EXPECT_EQ(lines[8], "Tile Count: 1360 + 320½ + 320¼ = about 2000 tiles");

  // The cells the pattern builds feed the tile count and size, never the
  // grid line; a size not every cell gets is "about".
  LayoutCells built;
  built.cells = 1000;
  built.cell_width = 291;
  built.cell_height = 216;
  built.even = false;
  lines = summary_of(p, 4000, 3000, [&built](const MosaicLayout&, PatternCode) { return built; });
  EXPECT_EQ(lines[4], "Tile Size: about 291 x 216 pixels = 62856 pixels");
  EXPECT_EQ(lines[7], "Tile Pattern: 40 x 40 = 1600 tiles");
  EXPECT_EQ(lines[8], "Tile Count: 850 + 200½ + 200¼ = about 1250 tiles");
}

TEST(Summary, FileSizeOnlyForFormatsWithAnEstimate) {
  MosaicParameters p = poster_in_pixels();
  p.output_format = OutputFormatCode::bmp;
  EXPECT_EQ(summary_of(p, 4000, 3000)[3], "File Size: 309.00 megabytes");
  p.output_format = OutputFormatCode::avi_compressed;
  Lines lines = summary_of(p, 4000, 3000);
  EXPECT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[3].rfind("Tile Size: ", 0), 0u);
}

TEST(Summary, MessagesAndMaskFiles) {
  MosaicParameters p = poster_in_pixels();
  EXPECT_EQ(summary_of(p, 0, 0), (Lines{"Mosaic Max Size: 12000 x 9000 pixels", "Main Image: nnnn pixels",
                                        "Please add an Image using the + button"}));

  p.resolution = {0, kUnitPpi};
  p.mosaic_size = {42, 29, kUnitCm};
  EXPECT_EQ(summary_of(p, 400, 300).back(), "Please specify all the parameters");

  p = poster_in_pixels();
  p.mosaic_size = {1, 1, kUnitPixel};
  EXPECT_EQ(summary_of(p, 400, 300),
            (Lines{"Mosaic Max Size: 1 pixel", "Main Image: 400 x 300 pixels", "Using Mask File"}));
}

TEST(Summary, ListLineAndVerdict) {
  ListCounts counts;
  counts.landscape_images = 120;
  counts.portrait_images = 30;
  EXPECT_EQ(list_type_line(counts), "List Type: 120(L) + 30(P) images");
  ListCounts clips;
  clips.landscape_clips = 7;
  clips.portrait_clips = 1;
  EXPECT_EQ(list_type_line(clips), "List Type: 7(L) + 1(P) videoclip");

  MosaicLayout layout;
  compute_layout(poster_in_pixels(), 4000, 3000, layout);
  EXPECT_EQ(validation_text(layout, counts), "All Parameters are correct :-)");
  EXPECT_EQ(validation_text(layout, clips), "All Parameters are correct :-)");
  EXPECT_EQ(validation_text(layout, ListCounts{}),
            "Please select the Images to use as Tiles using Button #2 (pictures Icon)");
  compute_layout(poster_in_pixels(), 0, 0, layout);
  EXPECT_EQ(validation_text(layout, counts), "Please add an Image using the + button");
}

}  // namespace
}  // namespace tess
