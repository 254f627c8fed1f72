#include "engine/tile_render.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>

#include "base/scripted_prompt.hpp"
#include "engine/score_tables.hpp"
#include "images/foto.hpp"
#include "support/test_support.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {
namespace {

using testing::quiet_prompt;

using testing::TempDir;

constexpr std::uint32_t kBlack = make_pixel(0, 0, 0);
constexpr std::uint32_t kRed = make_pixel(255, 0, 0);
constexpr std::uint32_t kGreen = make_pixel(0, 255, 0);
constexpr std::uint32_t kBlue = make_pixel(0, 0, 255);

ScoreTables tables_for(int colour_change, int colour_priority, TileVariantFlags variants = kVariantAll) {
  MosaicParameters p;
  p.colour_change = colour_change;
  p.colour_priority = colour_priority;
  p.tile_variants = variants;
  ScoreTables tables;
  EXPECT_TRUE(tables.set_up(p, 1000));
  return tables;
}

TileSignature uniform_signature(std::uint32_t colour, bool portrait = false) {
  TileSignature s;
  s.samples.fill(colour);
  s.portrait = portrait ? 1 : 0;
  s.opaque = pixel_transparency(colour) == 0 ? 1 : 0;
  s.analysed = 1;
  return s;
}

Foto filled(int w, int h, std::uint32_t colour) {
  Foto f;
  EXPECT_TRUE(f.try_allocate_fill(w, h, colour));
  return f;
}

/// Black with a red top-left and a green top-right 4 × 4 corner: every one of
/// the eight drawings puts that pair somewhere else.
Foto marked_corners(int w, int h) {
  Foto f = filled(w, h, kBlack);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      f.at(x, y) = kRed;
      f.at(w - 1 - x, y) = kGreen;
    }
  return f;
}

enum Corner { kTopLeft, kTopRight, kBottomLeft, kBottomRight };

std::uint32_t corner(const Foto& f, Corner c) {
  const int x = (c == kTopLeft || c == kBottomLeft) ? 0 : f.width() - 1;
  const int y = (c == kTopLeft || c == kTopRight) ? 0 : f.height() - 1;
  return f.at(x, y);
}

bool near(std::uint32_t a, std::uint32_t b, int tolerance = 2) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (d > tolerance || d < -tolerance) return false;
  }
  return true;
}

struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

bool write_jpeg(const std::filesystem::path& path, const Foto& picture) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  jpeg_compress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = [](j_common_ptr common) { std::longjmp(reinterpret_cast<JpegError*>(common->err)->jump, 1); };
  std::vector<JSAMPLE> row(static_cast<std::size_t>(picture.width()) * 3);
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    std::fclose(file);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(picture.width());
  info.image_height = static_cast<JDIMENSION>(picture.height());
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 98, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    const std::uint32_t* source = picture.row(static_cast<int>(info.next_scanline));
    for (int x = 0; x < picture.width(); ++x) {
      row[3 * x] = static_cast<JSAMPLE>(pixel_red(source[x]));
      row[3 * x + 1] = static_cast<JSAMPLE>(pixel_green(source[x]));
      row[3 * x + 2] = static_cast<JSAMPLE>(pixel_blue(source[x]));
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return std::fclose(file) == 0;
}

PuzzleInfo make_cell(int w, int h, const FotoInfo* tile, std::uint32_t colour = make_pixel(128, 128, 128)) {
  PuzzleInfo cell;
  cell.width = w;
  cell.height = h;
  cell.area = w * h;
  cell.signature = uniform_signature(colour, h > w);
  cell.analysed = 1;
  cell.active = 1;
  cell.tile = tile;
  return cell;
}

// --- drawing: crop, scale, the eight variants ----------------------------------

TEST(DrawTileVariant, EveryCodePutsTheMarkedCornersWhereTheyBelong) {
  // Source 40 × 30: red at its top-left, green at its top-right. Codes 1..4
  // draw into a 40 × 30 cell, 5..8 into a 30 × 40 one (turned), all 1:1.
  const Foto source = marked_corners(40, 30);
  struct Expect {
    int code;
    Corner red, green;
  };
  const Expect expected[] = {
      {1, kTopLeft, kTopRight},     {2, kTopRight, kTopLeft},       {3, kBottomLeft, kBottomRight},
      {4, kBottomRight, kBottomLeft}, {5, kTopRight, kBottomRight}, {6, kBottomLeft, kTopLeft},
      {7, kTopLeft, kBottomLeft},   {8, kBottomRight, kTopRight},
  };
  for (const Expect& e : expected) {
    const bool turned = e.code >= 5;
    Foto out;
    ASSERT_TRUE(draw_tile_variant(source, e.code, turned ? 30 : 40, turned ? 40 : 30, out)) << e.code;
    ASSERT_EQ(out.width(), turned ? 30 : 40) << e.code;
    ASSERT_EQ(out.height(), turned ? 40 : 30) << e.code;
    EXPECT_TRUE(near(corner(out, e.red), kRed)) << "code " << e.code;
    EXPECT_TRUE(near(corner(out, e.green), kGreen)) << "code " << e.code;
    int black = 0;
    for (Corner c : {kTopLeft, kTopRight, kBottomLeft, kBottomRight}) black += near(corner(out, c), kBlack) ? 1 : 0;
    EXPECT_EQ(black, 2) << "code " << e.code;
  }
}

TEST(DrawTileVariant, PictureOfAnotherAspectIsCentreCropped) {
  // Columns 0..19 red, 20..59 green, 60..80 blue: a 40 × 30 cell keeps the
  // middle 40 columns of an 81 × 30 picture, offset (81 - 40) / 2 = 20.
  Foto wide = filled(81, 30, kGreen);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 20; ++x) wide.at(x, y) = kRed;
    for (int x = 60; x < 81; ++x) wide.at(x, y) = kBlue;
  }
  const CropRect crop = centred_crop(81, 30, 40, 30);
  EXPECT_EQ(crop.x, 20);
  EXPECT_EQ(crop.y, 0);
  EXPECT_EQ(crop.width, 40);
  EXPECT_EQ(crop.height, 30);
  Foto out;
  ASSERT_TRUE(draw_tile_variant(wide, 1, 40, 30, out));
  for (int x = 0; x < 40; ++x) EXPECT_TRUE(near(out.at(x, 15), kGreen)) << x;

  // Too tall: rows are cut, top and bottom alike.
  const CropRect tall = centred_crop(40, 51, 40, 30);
  EXPECT_EQ(tall.x, 0);
  EXPECT_EQ(tall.y, 10);
  EXPECT_EQ(tall.height, 30);
  // Aspects that do not divide evenly truncate inward, never past the picture.
  const CropRect odd = centred_crop(3, 1000, 1000, 1);
  EXPECT_EQ(odd.width, 3);
  EXPECT_EQ(odd.height, 1);
  EXPECT_EQ(odd.y, 499);
}

TEST(ColourShift, MovesAUniformTileTowardTheCellByTheLimitedAmount) {
  // ColorChange 30 with "High Tile Quality": L = 100·30·255/10000 = 76.
  const ScoreTables tables = tables_for(30, kColourPriorityHighTile);
  ASSERT_EQ(tables.tile_colour_limit(), 76);
  ASSERT_EQ(tables.detail_colour_limit(), 0);
  const TileRenderer renderer(tables, false, quiet_prompt());
  // Grey 100 toward grey 200: lum 100, s = 2·76/3 = 50, and each channel
  // adds clamp(100 - 50)/3 = 16: a shift of 66.
  Foto out;
  TileRenderRecord record;
  ASSERT_TRUE(renderer.render_tile(uniform_signature(make_pixel(200, 200, 200)), filled(40, 30, make_pixel(100, 100, 100)),
                                   uniform_signature(make_pixel(100, 100, 100)), 40, 30, out, record));
  EXPECT_EQ(out.at(0, 0), make_pixel(166, 166, 166));
  EXPECT_EQ(out.at(39, 29), make_pixel(166, 166, 166));
  EXPECT_EQ(record.shift[0], 66);
  EXPECT_EQ(record.shift[1], 66);
  EXPECT_EQ(record.shift[2], 66);
  // The record keeps the tile's colour before the change and as drawn.
  EXPECT_EQ(record.measured, 1);
  EXPECT_EQ(record.mean_before, (std::array<float, 3>{100, 100, 100}));
  EXPECT_EQ(record.mean_after, (std::array<float, 3>{166, 166, 166}));
}

TEST(MeanColour, CountsOnlyThePixelsTheMosaicShows) {
  // Left half red, right half blue; a shape over the left quarter.
  Foto picture = filled(8, 2, kRed);
  for (int y = 0; y < 2; ++y)
    for (int x = 4; x < 8; ++x) picture.at(x, y) = kBlue;
  std::array<float, 3> mean{};
  ASSERT_TRUE(mean_colour(picture, nullptr, mean));
  EXPECT_EQ(mean, (std::array<float, 3>{127.5f, 0, 127.5f}));
  Foto shape = filled(8, 2, kEmptyPixel);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) shape.at(x, y) = make_pixel(255, 255, 255);
  ASSERT_TRUE(mean_colour(picture, &shape, mean));
  EXPECT_EQ(mean, (std::array<float, 3>{255, 0, 0}));
  // A shape with no pixel, or of another size, gives no mean.
  EXPECT_FALSE(mean_colour(picture, &(shape = filled(8, 2, kEmptyPixel)), mean));
  EXPECT_FALSE(mean_colour(picture, &(shape = filled(4, 2, 0)), mean));
}

TEST(ColourShift, HoldsChannelsToTheirRangeAndKeepsTransparency) {
  const std::array<int, 3> s = tile_colour_shift(make_pixel(255, 255, 255), make_pixel(0, 0, 0), 255);
  // lum 255, s = 170, plus clamp(85)/3 = 28: more than a signed byte holds.
  EXPECT_EQ(s[0], 198);
  Foto f = filled(2, 1, make_pixel(100, 10, 250, 40));
  apply_colour_shift(f, {198, -20, 7});
  EXPECT_EQ(f.at(1, 0), make_pixel(255, 0, 255, 40));
  EXPECT_EQ(tile_colour_shift(make_pixel(255, 0, 0), make_pixel(0, 0, 0), 0), (std::array<int, 3>{0, 0, 0}));
  // Divisions truncate toward zero on the way down as well.
  EXPECT_EQ(tile_colour_shift(make_pixel(0, 0, 0), make_pixel(100, 100, 100), 76), (std::array<int, 3>{-66, -66, -66}));

  // The record keeps the full shift of a strong change, not a wrapped byte.
  const ScoreTables tables = tables_for(100, kColourPriorityHighTile);
  const TileRenderer renderer(tables, false, quiet_prompt());
  Foto out;
  TileRenderRecord record;
  ASSERT_TRUE(renderer.render_tile(uniform_signature(make_pixel(255, 255, 255)), filled(8, 6, kBlack),
                                   uniform_signature(kBlack), 8, 6, out, record));
  EXPECT_EQ(record.shift[2], 198);
  EXPECT_EQ(out.at(3, 3), make_pixel(198, 198, 198));
}

TEST(ColourChange, NoneLeavesTheDrawnTileAsItIs) {
  const ScoreTables tables = tables_for(0, kColourPriorityBalanced, TileVariant::original);
  const TileRenderer renderer(tables, false, quiet_prompt());
  const Foto source = marked_corners(40, 30);
  Foto expected, out;
  ASSERT_TRUE(draw_tile_variant(source, 1, 40, 30, expected));
  TileRenderRecord record;
  ASSERT_TRUE(renderer.render_tile(uniform_signature(kBlue), source, uniform_signature(kBlack), 40, 30, out, record));
  ASSERT_EQ(out.width(), 40);
  EXPECT_TRUE(std::equal(out.pixels(), out.pixels() + out.pixel_count(), expected.pixels()));
  EXPECT_EQ(record.shift, (std::array<std::int16_t, 3>{0, 0, 0}));
  EXPECT_EQ(record.variant, kVariantCodeAsIs);
}

TEST(ColourChange, HighDetailQualityOnlyBlendsAndFullStrengthGivesTheCellColours) {
  // ColorChange 100 with "High Detail Quality": no uniform shift, blend 255.
  const ScoreTables tables = tables_for(100, kColourPriorityHighDetail);
  ASSERT_EQ(tables.tile_colour_limit(), 0);
  ASSERT_EQ(tables.detail_colour_limit(), 255);
  const TileRenderer renderer(tables, false, quiet_prompt());
  Foto out;
  TileRenderRecord record;
  ASSERT_TRUE(renderer.render_tile(uniform_signature(make_pixel(10, 20, 30)), filled(40, 30, make_pixel(200, 200, 200)),
                                   uniform_signature(make_pixel(200, 200, 200)), 40, 30, out, record));
  for (std::size_t i = 0; i < out.pixel_count(); ++i) ASSERT_EQ(out.pixels()[i], make_pixel(10, 20, 30)) << i;
  EXPECT_EQ(record.shift, (std::array<std::int16_t, 3>{0, 0, 0}));

  // Half strength: A = 50·100·255/10000 = 127, d = 255·127/255 = 127:
  // (0·128 + 127·200) / 255 = 99.
  const ScoreTables half = tables_for(50, kColourPriorityHighDetail);
  ASSERT_EQ(half.detail_colour_limit(), 127);
  Foto blended = filled(12, 9, kBlack);
  ASSERT_TRUE(blend_toward_cell(blended, uniform_signature(make_pixel(200, 200, 200)), half.detail_colour_limit()));
  EXPECT_EQ(blended.at(5, 5), make_pixel(99, 99, 99));
  // Blend amount 0 changes nothing.
  Foto untouched = filled(12, 9, kBlack);
  ASSERT_TRUE(blend_toward_cell(untouched, uniform_signature(kRed), 0));
  EXPECT_EQ(untouched.at(5, 5), kBlack);
}

TEST(LocalBlend, FollowsTheCellsLocalColoursAndOrientation) {
  // A landscape cell, red on the left and blue on the right, analysed as the
  // program analyses cells (fit mode, padded above and below).
  Foto main_image = filled(120, 60, kRed);
  for (int y = 0; y < 60; ++y)
    for (int x = 60; x < 120; ++x) main_image.at(x, y) = kBlue;
  TileSignature cell;
  ASSERT_TRUE(cell.analyse(main_image, AnalysisMode::fit, 0, 0, 120, 60));
  Foto tile = filled(120, 60, kGreen);
  ASSERT_TRUE(blend_toward_cell(tile, cell, 255));
  EXPECT_EQ(tile.at(0, 30), kRed);
  EXPECT_EQ(tile.at(119, 30), kBlue);

  // A portrait cell, red at the top and blue at the bottom: its samples are
  // kept turned, and the blend must read them upright.
  Foto portrait_image = filled(60, 120, kRed);
  for (int y = 60; y < 120; ++y)
    for (int x = 0; x < 60; ++x) portrait_image.at(x, y) = kBlue;
  TileSignature portrait_cell;
  ASSERT_TRUE(portrait_cell.analyse(portrait_image, AnalysisMode::fit, 0, 0, 60, 120));
  ASSERT_EQ(portrait_cell.portrait, 1);
  Foto portrait_tile = filled(60, 120, kGreen);
  ASSERT_TRUE(blend_toward_cell(portrait_tile, portrait_cell, 255));
  EXPECT_EQ(portrait_tile.at(30, 0), kRed);
  EXPECT_EQ(portrait_tile.at(30, 119), kBlue);
}

TEST(LocalBlend, TransparentPartsOfTheCellPullNothing) {
  // Left half of the fine samples fully transparent (a mask edge).
  TileSignature cell = uniform_signature(kRed);
  for (int r = 0; r < kGridRows; ++r)
    for (int c = 0; c < kGridColumns / 2; ++c) cell.samples[kFirstFineSample + c + kGridColumns * r] = kEmptyPixel;
  Foto tile = filled(120, 90, kGreen);
  ASSERT_TRUE(blend_toward_cell(tile, cell, 255));
  EXPECT_EQ(tile.at(0, 45), kGreen);
  EXPECT_EQ(tile.at(40, 45), kGreen);
  EXPECT_EQ(tile.at(119, 45), kRed);
}

TEST(LocalBlend, OpaqueRowsBlendAsTheGeneralSumsDo) {
  // The same cell twice, once with a transparent sample at the left end of
  // its fifth row: picture rows that read that row take the general sums,
  // and away from the left end their pixels must come out as the opaque
  // cell's, which never leaves the opaque rows' shortcut.
  TileSignature opaque = uniform_signature(kRed);
  for (int i = 0; i < kFineSampleCount; ++i)
    opaque.samples[kFirstFineSample + i] = make_pixel((i * 37) % 256, (i * 91 + 40) % 256, (i * 13 + 200) % 256);
  TileSignature holed = opaque;
  holed.samples[kFirstFineSample + kGridColumns * 4] = kEmptyPixel;
  const auto picture = [] {
    Foto f = filled(150, 100, kBlack);
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 150; ++x) f.at(x, y) = make_pixel((x * 7) % 256, (y * 5) % 256, (x * y) % 256);
    return f;
  };
  for (const int amount : {1, 77, 200, 255}) {
    Foto fast = picture();
    Foto general = picture();
    ASSERT_TRUE(blend_toward_cell(fast, opaque, amount));
    ASSERT_TRUE(blend_toward_cell(general, holed, amount));
    for (int y = 0; y < 100; ++y)
      for (int x = 40; x < 150; ++x) ASSERT_EQ(fast.at(x, y), general.at(x, y)) << amount << " at " << x << "," << y;
    EXPECT_NE(fast.at(0, 50), general.at(0, 50)) << amount;
  }
}

// --- the variant chosen by the matching -----------------------------------------

TEST(TileRenderer, PortraitTileInLandscapeCellIsTurnedClockwiseAndFillsIt) {
  // Only the original and the 90° turn allowed: a portrait tile for a
  // landscape cell can only be drawn turned a quarter clockwise (code 5).
  const ScoreTables tables = tables_for(0, kColourPriorityBalanced, TileVariant::original | TileVariant::rotated_90);
  const TileRenderer renderer(tables, false, quiet_prompt());
  const TileSignature cell = uniform_signature(kBlack);
  const TileSignature tile = uniform_signature(kBlack, true);
  ASSERT_EQ(renderer.variant_for(cell, tile), kVariantCodeQuarterA);

  Foto picture = filled(30, 40, kBlack);  // portrait: red at its top-left
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) picture.at(x, y) = kRed;
  Foto out;
  TileRenderRecord record;
  ASSERT_TRUE(renderer.render_tile(cell, picture, tile, 40, 30, out, record));
  ASSERT_EQ(out.width(), 40);
  ASSERT_EQ(out.height(), 30);
  EXPECT_TRUE(near(corner(out, kTopRight), kRed));
  for (std::size_t i = 0; i < out.pixel_count(); ++i) ASSERT_EQ(pixel_transparency(out.pixels()[i]), 0u);
  EXPECT_EQ(record.variant, kVariantCodeQuarterA);
  EXPECT_EQ(record.cell_portrait, 0);
  EXPECT_EQ(record.tile_portrait, 1);

  // Nothing allowed at all still draws the tile as it is.
  const ScoreTables none = tables_for(0, kColourPriorityBalanced, TileVariant::original);
  EXPECT_EQ(TileRenderer(none, false, quiet_prompt()).variant_for(cell, tile), kVariantCodeAsIs);

  // In place: the picture becomes the rendered cell.
  ASSERT_TRUE(renderer.render_tile_in_place(cell, picture, tile, 40, 30, record));
  EXPECT_EQ(picture.width(), 40);
  EXPECT_TRUE(near(corner(picture, kTopRight), kRed));
}

// --- whole cells: loading, black and white, masks, failures ----------------------

TEST(TileRenderer, RendersACellFromAJpegDecodedAtTheSizeItNeeds) {
  TempDir dir;
  const auto path = dir / "tile.jpg";
  ASSERT_TRUE(write_jpeg(path, filled(640, 480, make_pixel(40, 120, 200))));
  FotoInfo tile(path.string());
  tile.signature = uniform_signature(make_pixel(40, 120, 200));
  const PuzzleInfo cell = make_cell(100, 75, &tile);
  const ScoreTables tables = tables_for(0, kColourPriorityBalanced);
  const TileRenderer renderer(tables, false, quiet_prompt());

  Foto picture;
  std::string message;
  ASSERT_TRUE(renderer.load_tile(cell, picture, message));
  // 640 / 100 = 6: a quarter-scale decode, never smaller than the cell.
  EXPECT_EQ(picture.width(), 160);
  EXPECT_EQ(picture.height(), 120);

  Foto out;
  TileRenderRecord record;
  ASSERT_TRUE(renderer.render_cell(cell, out, record, message));
  EXPECT_TRUE(message.empty());
  ASSERT_EQ(out.width(), 100);
  ASSERT_EQ(out.height(), 75);
  EXPECT_TRUE(near(out.at(50, 37), make_pixel(40, 120, 200), 3));
  for (std::size_t i = 0; i < out.pixel_count(); ++i) ASSERT_EQ(pixel_transparency(out.pixels()[i]), 0u);

  // The same from the picture already loaded.
  Foto again;
  ASSERT_TRUE(renderer.render_cell(cell, picture, again, record));
  EXPECT_TRUE(std::equal(out.pixels(), out.pixels() + out.pixel_count(), again.pixels()));
}

TEST(TileRenderer, BlackAndWhiteListGivesGrey) {
  TempDir dir;
  const auto path = dir / "tile.jpg";
  ASSERT_TRUE(write_jpeg(path, filled(64, 48, make_pixel(200, 60, 20))));
  FotoInfo tile(path.string());
  tile.signature = uniform_signature(make_pixel(100, 100, 100));
  const PuzzleInfo cell = make_cell(32, 24, &tile, make_pixel(100, 100, 100));
  const ScoreTables tables = tables_for(0, kColourPriorityBalanced);
  Foto out;
  TileRenderRecord record;
  std::string message;
  ASSERT_TRUE(TileRenderer(tables, true, quiet_prompt()).render_cell(cell, out, record, message));
  for (std::size_t i = 0; i < out.pixel_count(); ++i) {
    const std::uint32_t p = out.pixels()[i];
    ASSERT_EQ(pixel_red(p), pixel_green(p));
    ASSERT_EQ(pixel_green(p), pixel_blue(p));
  }
  // 30·200 + 59·60 + 11·20 = 9760: about 98 (JPEG rounding aside).
  EXPECT_NEAR(static_cast<int>(pixel_red(out.at(16, 12))), 98, 3);
}

TEST(TileRenderer, MaskCellKeepsOnlyItsShape) {
  TempDir dir;
  const auto path = dir / "tile.jpg";
  ASSERT_TRUE(write_jpeg(path, filled(40, 30, kGreen)));
  FotoInfo tile(path.string());
  tile.signature = uniform_signature(kGreen);
  PuzzleInfo cell = make_cell(40, 30, &tile);
  ASSERT_TRUE(cell.shape.try_allocate_fill(40, 30, kEmptyPixel));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40 - y; ++x) cell.shape.at(x, y) = make_pixel(255, 255, 255);  // a triangle
  const ScoreTables tables = tables_for(0, kColourPriorityBalanced);
  const TileRenderer renderer(tables, false, quiet_prompt());
  Foto out;
  TileRenderRecord record;
  std::string message;
  ASSERT_TRUE(renderer.render_cell(cell, out, record, message));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(pixel_transparency(out.at(x, y)), x < 40 - y ? 0u : 255u) << x << "," << y;

  // A shape that does not fit the cell leaves the cell empty.
  ASSERT_TRUE(cell.shape.try_allocate_fill(10, 10, 0));
  EXPECT_FALSE(renderer.render_cell(cell, out, record, message));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(record.variant, kVariantCodeNone);
}

TEST(TileRenderer, MissingOrUnreadableTileFailsCleanly) {
  TempDir dir;
  const ScoreTables tables = tables_for(30, kColourPriorityBalanced);
  const TileRenderer renderer(tables, false, quiet_prompt());
  Foto out = filled(3, 3, kRed);
  TileRenderRecord record;
  std::string message = "stale";

  // No tile: nothing to render, nothing to report.
  const PuzzleInfo empty_cell = make_cell(40, 30, nullptr);
  EXPECT_FALSE(renderer.render_cell(empty_cell, out, record, message));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(message.empty());

  const auto corrupt = dir / "corrupt.jpg";
  ASSERT_TRUE(testing::write_file(corrupt, std::string(2000, '\x5A')));
  const auto cut = dir / "cut.jpg";
  ASSERT_TRUE(write_jpeg(cut, marked_corners(200, 150)));
  const std::string whole = testing::read_file(cut);
  ASSERT_TRUE(testing::write_file(cut, whole.substr(0, whole.size() / 2)));
  for (const auto& path : {dir / "missing.jpg", corrupt, cut}) {
    FotoInfo tile(path.string());
    tile.signature = uniform_signature(kBlack);
    const PuzzleInfo cell = make_cell(40, 30, &tile);
    out = filled(3, 3, kRed);
    EXPECT_FALSE(renderer.render_cell(cell, out, record, message)) << path;
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(message, "Unable to load JPG File: " + path.string());
    EXPECT_EQ(record.variant, kVariantCodeNone);
  }
}

// A cell larger than the machine can hold: drawing fails, and the run's
// prompt (the renderer's) hears why rather than standard error.
TEST(TileRenderer, RunningOutOfMemoryIsToldThroughTheRenderersPrompt) {
  const double pixels = static_cast<double>(pixel_memory_limit()) / 4.0;
  const double side = std::ceil(std::sqrt(pixels)) + 1;
  if (side > 1000000) GTEST_SKIP() << "this machine holds a cell of any size a mosaic allows";
  const int w = static_cast<int>(side);
  const ScoreTables tables = tables_for(0, kColourPriorityBalanced, TileVariant::original);
  ScriptedPrompt prompt;
  const TileRenderer renderer(tables, false, prompt);
  Foto out = filled(3, 3, kRed);
  TileRenderRecord record;
  EXPECT_FALSE(renderer.render_tile(uniform_signature(kBlue), marked_corners(40, 30), uniform_signature(kBlack), w, w,
                                    out, record));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{out_of_memory_text(w, w) + "!"});
  ASSERT_EQ(prompt.calls().size(), 1u);
  EXPECT_EQ(prompt.calls()[0].icon, Icon::error);
}

TEST(TileRenderer, VideoTilesComeFromTheFrameLoaderAtTheTurnedSize) {
  FotoInfo clip("/clips/sea.avi");
  clip.rate_code = 12500;
  clip.frame_count = 10;
  clip.signature = uniform_signature(kBlue, true);
  const PuzzleInfo cell = make_cell(40, 30, &clip);
  const ScoreTables tables = tables_for(0, kColourPriorityBalanced, TileVariant::original | TileVariant::rotated_90);
  Foto out;
  TileRenderRecord record;
  std::string message;

  // Without a loader the clip cannot be drawn.
  EXPECT_FALSE(TileRenderer(tables, false, quiet_prompt()).render_cell(cell, out, record, message));
  EXPECT_EQ(message, "Unable to load JPG File: /clips/sea.avi");

  int asked_w = 0, asked_h = 0;
  const TileRenderer renderer(tables, false, quiet_prompt(), [&](const FotoInfo& c, int w, int h, Foto& frame) {
    EXPECT_EQ(&c, &clip);
    asked_w = w;
    asked_h = h;
    return frame.try_allocate_fill(60, 80, kBlue);
  });
  ASSERT_TRUE(renderer.render_cell(cell, out, record, message));
  EXPECT_EQ(asked_w, 30);  // drawn with a quarter turn: the cell's size turned
  EXPECT_EQ(asked_h, 40);
  EXPECT_EQ(out.width(), 40);
  EXPECT_EQ(out.at(20, 15), kBlue);
}

TEST(TileRenderer, ThreadsSharingOneRendererGetIdenticalCells) {
  const ScoreTables tables = tables_for(60, kColourPriorityBalanced);
  const TileRenderer renderer(tables, false, quiet_prompt());
  const Foto picture = marked_corners(64, 48);
  FotoInfo tile("/unused.jpg");
  tile.signature = uniform_signature(make_pixel(30, 90, 10));
  const PuzzleInfo cell = make_cell(33, 25, &tile, make_pixel(180, 40, 90));
  Foto reference;
  TileRenderRecord reference_record;
  ASSERT_TRUE(renderer.render_cell(cell, picture, reference, reference_record));
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        Foto out;
        TileRenderRecord record;
        if (!renderer.render_cell(cell, picture, out, record) ||
            !std::equal(out.pixels(), out.pixels() + out.pixel_count(), reference.pixels()) ||
            record.shift != reference_record.shift)
          ++mismatches[static_cast<std::size_t>(t)];
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace tess
