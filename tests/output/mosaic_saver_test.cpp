#include "output/mosaic_saver.hpp"

#include "output/fast_preview.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <png.h>

#include "base/scripted_prompt.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "engine/score_tables.hpp"
#include "engine/tile_render.hpp"
#include "images/foto.hpp"
#include "output/fast_preview.hpp"
#include "output/jpeg_writer.hpp"
#include "output/ppm_writer.hpp"
#include "output/side_images.hpp"
#include "settings/advanced_options.hpp"
#include "settings/configuration.hpp"
#include "settings/user_state.hpp"
#include "support/test_support.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {
namespace {

using testing::quiet_prompt;

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;

constexpr int kWidth = 61;
constexpr int kHeight = 47;
constexpr std::uint32_t kBorder = make_pixel(10, 200, 30);

TileSignature uniform_signature(std::uint32_t colour, bool portrait = false) {
  TileSignature s;
  s.samples.fill(colour);
  s.portrait = portrait ? 1 : 0;
  s.opaque = 1;
  s.analysed = 1;
  return s;
}

// Gradients in every channel, so a tile drawn one pixel off shows.
Foto gradient(int w, int h, int seed) {
  Foto f;
  f.try_allocate(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      f.at(x, y) =
          make_pixel((x * 255 / w + seed * 40) % 256, (y * 255 / h + seed * 70) % 256, (x * y + seed * 90) % 256);
  return f;
}

bool write_png(const fs::path& path, const Foto& foto) {
  std::vector<std::uint8_t> rgba;
  for (std::size_t i = 0; i < foto.pixel_count(); ++i) {
    const std::uint32_t p = foto.pixels()[i];
    rgba.insert(rgba.end(), {static_cast<std::uint8_t>(pixel_red(p)), static_cast<std::uint8_t>(pixel_green(p)),
                             static_cast<std::uint8_t>(pixel_blue(p)), 255});
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(foto.width());
  image.height = static_cast<png_uint_32>(foto.height());
  image.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr) != 0;
}

// A 61 × 47 mosaic of 5 × 5 cells (11 × 9, one-pixel gaps, the last row 7
// high, two columns of border on the right) drawn from three pictures used
// many times over, and one cell left without a tile.
class MosaicSaverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ScriptedPrompt silent;
    ASSERT_TRUE(write_jpeg_image(gradient(40, 30, 1), dir / "wide.jpg", true, 90, 0, silent));
    ASSERT_TRUE(write_jpeg_image(gradient(30, 40, 2), dir / "tall.jpg", true, 90, 0, silent));
    ASSERT_TRUE(write_png(dir / "square.png", gradient(24, 24, 3)));
    tiles.emplace_back((dir / "wide.jpg").string());
    tiles.back().signature = uniform_signature(make_pixel(120, 100, 90));
    tiles.emplace_back((dir / "tall.jpg").string());
    tiles.back().signature = uniform_signature(make_pixel(90, 140, 100), true);
    tiles.emplace_back((dir / "square.png").string());
    tiles.back().signature = uniform_signature(make_pixel(150, 120, 160));
    tiles.emplace_back((dir / "missing.jpg").string());
    tiles.back().signature = uniform_signature(make_pixel(100, 100, 100));

    MosaicParameters p;
    p.colour_change = 30;
    ASSERT_TRUE(tables.set_up(p, static_cast<std::int64_t>(tiles.size())));

    builder.parameters.output_format = OutputFormatCode::ppm;
    builder.parameters.web_output = false;  // the web pyramid has tests of its own
    builder.parameters.border_colour = 10 + 200 * 256 + 30 * 65536;
    builder.grid.reset(kWidth, kHeight, 1.0, 1, false);
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 5; ++c) {
        ASSERT_TRUE(builder.grid.add_cell(CellRect{12 * c, 10 * r, 11, 9}));
        PuzzleInfo& cell = builder.grid.cell(builder.grid.size() - 1);
        cell.signature = uniform_signature(make_pixel(40 * r + 20, 30 * c + 40, 90));
        cell.analysed = 1;
        cell.active = 1;
        if (!(r == 2 && c == 2)) cell.tile = &tiles[static_cast<std::size_t>(r * 5 + c) % 3];
      }
  }

  // The mosaic drawn whole, one cell after the other, without bands.
  Foto reference(const TileRenderer& renderer) const {
    Foto whole;
    whole.try_allocate_fill(kWidth, kHeight, kBorder);
    for (std::size_t i = 0; i < builder.grid.size(); ++i) {
      const PuzzleInfo& cell = builder.grid.cell(i);
      Foto drawn;
      TileRenderRecord record;
      std::string message;
      if (renderer.render_cell(cell, drawn, record, message))
        whole.paste(cell.left, cell.top, drawn, cell.has_shape() ? PasteMode::masked : PasteMode::copy);
    }
    return whole;
  }

  // One file of the whole mosaic through the band renderer.
  std::string save_ppm(int threads, int band_height, const std::string& name, bool* ok = nullptr) {
    const TileRenderer renderer(tables, false, quiet_prompt());
    JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, threads);
    std::vector<SavedFileRecord> saved;
    PartLayout layout{kWidth, kHeight, 0, 0, band_height};
    const bool written =
        save_mosaic_part(saver, (dir / name).string(), OutputOptions{OutputFormatCode::ppm}, layout, saved, 0);
    if (ok != nullptr) *ok = written;
    return read_file(dir / (name + ".ppm"));
  }

  static std::vector<std::uint32_t> ppm_pixels(const std::string& file) {
    std::vector<std::uint32_t> pixels;
    for (std::size_t at = kPixmapHeaderSize; at + 2 < file.size(); at += 3)
      pixels.push_back(make_pixel(static_cast<std::uint8_t>(file[at]), static_cast<std::uint8_t>(file[at + 1]),
                                  static_cast<std::uint8_t>(file[at + 2])));
    return pixels;
  }

  static std::vector<std::uint32_t> rgb_of(const Foto& foto) {
    std::vector<std::uint32_t> pixels(foto.pixels(), foto.pixels() + foto.pixel_count());
    for (auto& p : pixels) p &= 0xFFFFFFu;
    return pixels;
  }

  TempDir dir;
  ScriptedPrompt prompt;
  MosaicBuilder builder{prompt};
  ScoreTables tables;
  std::vector<FotoInfo> tiles;
};

TEST_F(MosaicSaverTest, SameFileForEveryThreadCountAndBandHeight) {
  const TileRenderer renderer(tables, false, quiet_prompt());
  const std::vector<std::uint32_t> expected = rgb_of(reference(renderer));
  ASSERT_EQ(expected.size(), static_cast<std::size_t>(kWidth * kHeight));

  const std::string first = save_ppm(1, kHeight, "one");
  ASSERT_EQ(first.size(), kPixmapHeaderSize + kWidth * kHeight * 3);
  EXPECT_EQ(ppm_pixels(first), expected);
  for (const int threads : {1, 2, 3})
    for (const int band_height : {1, 4, 13, 46, 1000}) {
      bool ok = false;
      const std::string file = save_ppm(threads, band_height, "t" + std::to_string(threads), &ok);
      EXPECT_TRUE(ok);
      EXPECT_TRUE(file == first) << threads << " threads, bands of " << band_height;
    }
  EXPECT_TRUE(prompt.messages().empty());
  EXPECT_EQ(builder.tile_load_failures(), 0);
}

// Rendering the next band while the writer encodes the current one, and
// compressing strips on several threads, must not change a byte of any format.
TEST_F(MosaicSaverTest, EveryFormatIsTheSameFileAsWrittenOnOneThread) {
  struct Case {
    OutputFormatCode format;
    bool tiff64;
  };
  const Case cases[] = {{OutputFormatCode::jpg, false},      {OutputFormatCode::bmp, false},
                        {OutputFormatCode::psd, false},      {OutputFormatCode::tiff, false},
                        {OutputFormatCode::tiff, true},      {OutputFormatCode::tiff_jpg, false},
                        {OutputFormatCode::tiff_jpg, true}};
  const TileRenderer renderer(tables, false, quiet_prompt());
  for (const Case& c : cases) {
    OutputOptions options{c.format};
    options.jpeg_quality = 80;
    options.tiff64 = c.tiff64;
    const auto write = [&](int threads, int band_height, const std::string& name) {
      JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, threads);
      std::vector<SavedFileRecord> saved;
      EXPECT_TRUE(save_mosaic_part(saver, (dir / name).string(), options, PartLayout{kWidth, kHeight, 0, 0, band_height},
                                   saved, 72));
      return saved.empty() ? std::string() : read_file(saved.back().path);
    };
    const std::string sequential = write(1, kHeight, "one");
    ASSERT_FALSE(sequential.empty()) << format_number(c.format);
    for (const int threads : {2, 3})
      for (const int band_height : {3, 16, 30})
        EXPECT_TRUE(write(threads, band_height, "many") == sequential)
            << format_number(c.format) << (c.tiff64 ? " 64" : "") << ", " << threads << " threads, bands of "
            << band_height;
  }
  EXPECT_TRUE(prompt.messages().empty());
}

TEST_F(MosaicSaverTest, CellsOfManySizesSharingAPictureDrawAsAlone) {
  // One picture in cells from a twentieth of its size to almost its own:
  // the decoder shrinks it by 8, 4, 2 or not at all, and cells with the same
  // factor share one decoding.
  ScriptedPrompt silent;
  ASSERT_TRUE(write_jpeg_image(gradient(160, 120, 5), dir / "big.jpg", true, 90, 0, silent));
  tiles.emplace_back((dir / "big.jpg").string());
  tiles.back().signature = uniform_signature(make_pixel(120, 110, 100));
  const CellRect rects[] = {{0, 0, 8, 6},      {8, 0, 20, 15},   {28, 0, 6, 8},     {0, 20, 40, 30},
                            {40, 20, 38, 31},  {0, 51, 70, 50},  {80, 0, 15, 20},  {80, 51, 150, 110},
                            {100, 0, 60, 45}};
  const int width = 230;
  const int height = 161;
  builder.grid.reset(width, height, 1.0, 1, false);
  for (const CellRect& rect : rects) {
    ASSERT_TRUE(builder.grid.add_cell(rect));
    PuzzleInfo& cell = builder.grid.cell(builder.grid.size() - 1);
    cell.signature = uniform_signature(make_pixel(90, 120, 140), rect.height > rect.width);
    cell.analysed = 1;
    cell.active = 1;
    cell.tile = &tiles.back();
  }
  const TileRenderer renderer(tables, false, quiet_prompt());
  Foto expected;
  ASSERT_TRUE(expected.try_allocate_fill(width, height, kBorder));
  for (std::size_t i = 0; i < builder.grid.size(); ++i) {
    const PuzzleInfo& cell = builder.grid.cell(i);
    Foto drawn;
    TileRenderRecord record;
    std::string message;
    ASSERT_TRUE(renderer.render_cell(cell, drawn, record, message));
    expected.paste(cell.left, cell.top, drawn, PasteMode::copy);
  }
  for (const int threads : {1, 2}) {
    JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, threads);
    std::vector<SavedFileRecord> saved;
    ASSERT_TRUE(save_mosaic_part(saver, (dir / "sizes").string(), OutputOptions{OutputFormatCode::ppm},
                                 PartLayout{width, height, 0, 0, 40}, saved, 0));
    EXPECT_EQ(ppm_pixels(read_file(dir / "sizes.ppm")), rgb_of(expected)) << threads << " threads";
  }
  EXPECT_EQ(builder.tile_load_failures(), 0);
}

TEST(BandHeight, BandsEndBetweenCellRowsWhenTheyCan) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  // Rows of cells 10 high with a gap of 2 below each, starting at row 1:
  // a cut at y is clean for y mod 12 in {11, 0, 1}.
  builder.grid.reset(40, 123, 1.0, 0, false);
  for (int top = 1; top + 10 <= 123; top += 12) ASSERT_TRUE(builder.grid.add_cell(CellRect{0, top, 40, 10}));
  struct Case {
    int band_height, piece_height, expected;
  };
  const Case cases[] = {
      {30, 123, 24},   // 30..25 cut a cell somewhere
      {24, 123, 24},   // already clean
      {9, 123, 9},     // nothing clean down to half: kept
      {200, 123, 200}, // one band holds the piece
      {30, 60, 24},    // clean in the pieces at 0 and 60 alike
      {30, 66, 30},    // the piece at 66 would cut at 90
      {1, 123, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(band_height_between_cells(builder.grid, c.band_height, c.piece_height, 123), c.expected)
        << c.band_height << " in pieces of " << c.piece_height;
}

TEST_F(MosaicSaverTest, EveryWriterGetsTheSameRows) {
  const TileRenderer renderer(tables, false, quiet_prompt());
  JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, 2);
  std::vector<SavedFileRecord> saved;
  const PartLayout layout{kWidth, kHeight, 0, 0, 5};
  const std::string base = (dir / "m").string();
  EXPECT_TRUE(save_mosaic_part(saver, base, OutputOptions{OutputFormatCode::raw}, layout, saved, 0));
  EXPECT_TRUE(save_mosaic_part(saver, base, OutputOptions{OutputFormatCode::bmp}, layout, saved, 0));
  EXPECT_TRUE(save_mosaic_part(saver, base, OutputOptions{OutputFormatCode::jpg}, layout, saved, 300));
  ASSERT_EQ(saved.size(), 3u);
  EXPECT_EQ(saved[0].extension, ".raw");
  EXPECT_EQ(saved[0].title, "m");
  EXPECT_EQ(saved[0].directory, dir.path().string());
  EXPECT_EQ(saved[2].path, base + ".jpg");

  const std::string raw = read_file(base + ".raw");
  const std::vector<std::uint32_t> expected = rgb_of(reference(renderer));
  ASSERT_EQ(raw.size(), static_cast<std::size_t>(kWidth * kHeight * 3));
  EXPECT_EQ(ppm_pixels(std::string(kPixmapHeaderSize, ' ') + raw), expected);
  // The bitmap holds the same rows, bottom-up and padded.
  const std::string bmp = read_file(base + ".bmp");
  const std::size_t stride = (kWidth * 3 + 3) / 4 * 4;
  ASSERT_EQ(bmp.size(), 54 + stride * kHeight);
  for (int y : {0, 9, 23, kHeight - 1})
    for (int x : {0, 11, 30, kWidth - 1}) {
      const std::size_t at = 54 + static_cast<std::size_t>(kHeight - 1 - y) * stride + static_cast<std::size_t>(x) * 3;
      EXPECT_EQ(make_pixel(static_cast<std::uint8_t>(bmp[at + 2]), static_cast<std::uint8_t>(bmp[at + 1]),
                           static_cast<std::uint8_t>(bmp[at])),
                expected[static_cast<std::size_t>(y * kWidth + x)]);
    }
  int w = 0, h = 0;
  EXPECT_TRUE(Foto::read_size(base + ".jpg", w, h));
  EXPECT_EQ(w, kWidth);
  EXPECT_EQ(h, kHeight);
  // Every placed cell was rendered and its record kept at its own index.
  ASSERT_EQ(saver.render_records().size(), builder.grid.size());
  for (std::size_t i = 0; i < builder.grid.size(); ++i)
    if (builder.grid.cell(i).tile != nullptr) {
      EXPECT_GE(saver.render_records()[i].variant, 1) << i;
    } else {
      EXPECT_EQ(saver.render_records()[i].variant, kVariantCodeNone);
    }
}

TEST_F(MosaicSaverTest, MissingPictureIsCountedOnceAndLeavesTheBorder) {
  // Two cells, each spanning several bands, lose their picture.
  builder.grid.cell(0).tile = &tiles[3];
  builder.grid.cell(7).tile = &tiles[3];
  const TileRenderer renderer(tables, false, quiet_prompt());
  const Foto expected = reference(renderer);
  bool ok = false;
  const std::string file = save_ppm(3, 2, "holes", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(builder.tile_load_failures(), 2);
  EXPECT_TRUE(prompt.messages().empty());
  const std::vector<std::uint32_t> pixels = ppm_pixels(file);
  EXPECT_EQ(pixels, rgb_of(expected));
  // The lost cells show the border colour, like the gaps.
  const PuzzleInfo& lost = builder.grid.cell(7);
  EXPECT_EQ(pixels[static_cast<std::size_t>((lost.top + 4) * kWidth + lost.left + 5)], kBorder);
}

TEST_F(MosaicSaverTest, ShapedCellsAreDrawnInsideTheirShapeOnly) {
  // A mask-layout cell whose right part is not its own: the border shows there.
  PuzzleInfo& cell = builder.grid.cell(6);
  ASSERT_TRUE(cell.shape.try_allocate_fill(cell.width, cell.height, kEmptyPixel));
  for (int y = 0; y < cell.height; ++y)
    for (int x = 0; x < cell.width / 2; ++x) cell.shape.at(x, y) = make_pixel(0, 0, 0);
  const TileRenderer renderer(tables, false, quiet_prompt());
  const std::vector<std::uint32_t> expected = rgb_of(reference(renderer));
  const std::string first = save_ppm(1, 3, "shaped1");
  EXPECT_EQ(ppm_pixels(first), expected);
  EXPECT_TRUE(save_ppm(3, 5, "shaped3") == first);
  const std::vector<std::uint32_t> pixels = ppm_pixels(first);
  EXPECT_EQ(pixels[static_cast<std::size_t>((cell.top + 3) * kWidth + cell.left + cell.width - 1)], kBorder);
  EXPECT_NE(pixels[static_cast<std::size_t>((cell.top + 3) * kWidth + cell.left)], kBorder);
}

TEST_F(MosaicSaverTest, StopDuringTheBandsFailsWithoutMessage) {
  // Video tiles: the frame loader stands in for the picture files and asks
  // for a stop after the first few pictures.
  std::atomic<int> loads{0};
  const TileFrameLoader loader = [&](const FotoInfo&, int, int, Foto& frame) {
    if (++loads == 12) builder.request_stop();
    frame = gradient(20, 20, 4);
    return true;
  };
  for (FotoInfo& tile : tiles) tile.rate_code = 500;
  for (const int threads : {1, 3}) {
    builder.clear_stop();
    loads = 0;
    const TileRenderer renderer(tables, false, quiet_prompt(), loader);
    JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, threads);
    std::vector<SavedFileRecord> saved;
    for (const OutputFormatCode format : {OutputFormatCode::jpg, OutputFormatCode::bmp, OutputFormatCode::ppm}) {
      builder.clear_stop();
      loads = 0;
      const PartLayout layout{kWidth, kHeight, 0, 0, 2};
      EXPECT_FALSE(save_mosaic_part(saver, (dir / "stopped").string(), OutputOptions{format}, layout, saved, 0));
      EXPECT_TRUE(saver.stop_requested());
      EXPECT_EQ(saver.next_row(), nullptr);
      EXPECT_FALSE(fs::exists(dir / ("stopped" + format_extension(format))));
      // Stopped over an earlier mosaic: it stays as it was, and no temporary is left.
      const fs::path earlier = dir / ("earlier" + format_extension(format));
      ASSERT_TRUE(testing::write_file(earlier, "an earlier mosaic"));
      builder.clear_stop();
      loads = 0;
      EXPECT_FALSE(save_mosaic_part(saver, (dir / "earlier").string(), OutputOptions{format}, layout, saved, 0));
      EXPECT_EQ(read_file(earlier), "an earlier mosaic");
      for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
      EXPECT_LT(loads.load(), 20) << "the bands after the stop were rendered";
    }
    EXPECT_EQ(saved.size(), 6u);
  }
  EXPECT_TRUE(prompt.messages().empty());
}

TEST_F(MosaicSaverTest, SplitPiecesAreNamedInOrderAndCoverTheMosaic) {
  builder.parameters.split_mosaic = true;
  const TileRenderer renderer(tables, false, quiet_prompt());
  const std::vector<std::uint32_t> expected = rgb_of(reference(renderer));
  JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, 2);
  std::vector<SavedFileRecord> saved;
  const std::string base = (dir / "split").string();
  ASSERT_TRUE(save_mosaic(saver, base, builder.parameters, SplitPieceSize{25, 20}, kWidth, kHeight, saved, 0));
  EXPECT_EQ(builder.status(), "Saving Split Image #9/9: 3x3...");

  // Column by column, top to bottom; the last column and row are cut.
  ASSERT_EQ(saved.size(), 9u);
  const int xs[] = {0, 25, 50};
  const int ys[] = {0, 20, 40};
  std::vector<std::uint32_t> assembled(expected.size(), 0);
  for (int column = 0; column < 3; ++column)
    for (int row = 0; row < 3; ++row) {
      const SavedFileRecord& piece = saved[static_cast<std::size_t>(column * 3 + row)];
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "%02dx%02d", row + 1, column + 1);
      EXPECT_EQ(piece.path, base + suffix + ".ppm");
      EXPECT_EQ(piece.x_offset, xs[column]);
      EXPECT_EQ(piece.y_offset, ys[row]);
      EXPECT_EQ(piece.width, column == 2 ? 11 : 25);
      EXPECT_EQ(piece.height, row == 2 ? 7 : 20);
      const std::vector<std::uint32_t> pixels = ppm_pixels(read_file(piece.path));
      ASSERT_EQ(pixels.size(), static_cast<std::size_t>(piece.width * piece.height));
      for (int y = 0; y < piece.height; ++y)
        for (int x = 0; x < piece.width; ++x)
          assembled[static_cast<std::size_t>((piece.y_offset + y) * kWidth + piece.x_offset + x)] =
              pixels[static_cast<std::size_t>(y * piece.width + x)];
    }
  EXPECT_EQ(assembled, expected);
  // Every band of every piece moved the progress by every placed tile twice:
  // once rendered, once its rows were written.
  const ProgressModel progress = builder.progress();
  EXPECT_EQ(progress.total(1), 2 * 9.0 * 1 * static_cast<double>(saver.placed_count()));
  EXPECT_EQ(progress.done(1), progress.total(1));
}

// The pixels of a 24-bit bottom-up BMP.
std::vector<std::uint32_t> bmp_pixels(const std::string& file, int width, int height) {
  std::vector<std::uint32_t> pixels;
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  if (file.size() != 54 + stride * static_cast<std::size_t>(height)) return pixels;
  for (int y = height - 1; y >= 0; --y)
    for (int x = 0; x < width; ++x) {
      const std::size_t at = 54 + stride * static_cast<std::size_t>(y) + static_cast<std::size_t>(x) * 3;
      pixels.push_back(make_pixel(static_cast<std::uint8_t>(file[at + 2]), static_cast<std::uint8_t>(file[at + 1]),
                                  static_cast<std::uint8_t>(file[at])));
    }
  return pixels;
}

TEST_F(MosaicSaverTest, IndividualTilesAreWrittenOnceEachAsRendered) {
  const TileRenderer renderer(tables, false, quiet_prompt());
  const Foto whole = reference(renderer);
  const fs::path folder = dir / "M Tile Images";
  fs::create_directory(folder);
  JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, 3);
  OutputOptions options{OutputFormatCode::bmp};
  saver.save_individual_tiles(folder.string(), options, 0);
  std::vector<SavedFileRecord> saved;
  // Bands of 4 rows: every tile meets two or three of them, and is written once.
  ASSERT_TRUE(save_mosaic_part(saver, (dir / "M").string(), options, PartLayout{kWidth, kHeight, 0, 0, 4}, saved, 0));
  EXPECT_FALSE(saver.individual_tile_failed());
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++files;
  EXPECT_EQ(files, 24u);  // 25 cells, one without a picture
  for (std::size_t i = 0; i < builder.grid.size(); ++i) {
    const PuzzleInfo& cell = builder.grid.cell(i);
    if (cell.tile == nullptr) continue;
    char name[96];
    std::snprintf(name, sizeof name, "Tile_x%07d_y%07d__%s.bmp", cell.left, cell.top,
                  cell.tile->file_name_without_extension().c_str());
    const std::vector<std::uint32_t> pixels = bmp_pixels(read_file(folder / name), cell.width, cell.height);
    ASSERT_EQ(pixels.size(), static_cast<std::size_t>(cell.width * cell.height)) << name;
    // Exactly what the mosaic shows in the tile's place.
    for (int y = 0; y < cell.height; ++y)
      for (int x = 0; x < cell.width; ++x)
        ASSERT_EQ(pixels[static_cast<std::size_t>(y * cell.width + x)], whole.at(cell.left + x, cell.top + y) & 0xFFFFFFu)
            << name << " at " << x << "," << y;
  }
}

TEST_F(MosaicSaverTest, FirstTileThatFailsEndsTileSavingButNotTheMosaic) {
  const TileRenderer renderer(tables, false, quiet_prompt());
  JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, 1);
  saver.save_individual_tiles((dir / "no such folder").string(), OutputOptions{OutputFormatCode::jpg}, 0);
  std::vector<SavedFileRecord> saved;
  EXPECT_TRUE(
      save_mosaic_part(saver, (dir / "M").string(), OutputOptions{OutputFormatCode::ppm},
                       PartLayout{kWidth, kHeight, 0, 0, 9}, saved, 0));
  EXPECT_TRUE(saver.individual_tile_failed());
  EXPECT_TRUE(prompt.calls().empty());  // not reported tile by tile
  EXPECT_TRUE(fs::exists(dir / "M.ppm"));

  // Video formats save no tiles at all: that is a failure at the first tile.
  JPGMosaicSave video(builder, builder.grid, renderer, kBorder, 1);
  fs::create_directory(dir / "V");
  video.save_individual_tiles((dir / "V").string(), OutputOptions{OutputFormatCode::avi_compressed}, 0);
  EXPECT_TRUE(save_mosaic_part(video, (dir / "V").string(), OutputOptions{OutputFormatCode::ppm},
                               PartLayout{kWidth, kHeight, 0, 0, 9}, saved, 0));
  EXPECT_TRUE(video.individual_tile_failed());
  EXPECT_TRUE(fs::is_empty(dir / "V"));
}

TEST(SplitPieces, TwentyFiveHundredByTwelveHundredInPiecesOfAThousand) {
  // Nothing placed: only the names, the order and the cut edges matter here.
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  builder.parameters.split_mosaic = true;
  builder.parameters.output_format = OutputFormatCode::raw;
  builder.grid.reset(2500, 1200, 1.0, 0, false);
  ScoreTables tables;
  ASSERT_TRUE(tables.set_up(builder.parameters, 1));
  const TileRenderer renderer(tables, false, quiet_prompt());
  JPGMosaicSave saver(builder, builder.grid, renderer, 0, 1);
  TempDir dir;
  const std::string base = (dir / "poster").string();
  std::vector<SavedFileRecord> saved;
  ASSERT_TRUE(save_mosaic(saver, base, builder.parameters, SplitPieceSize{1000, 1000}, 2500, 1200, saved, 0));
  const char* order[] = {"01x01", "02x01", "01x02", "02x02", "01x03", "02x03"};
  const int widths[] = {1000, 1000, 1000, 1000, 500, 500};
  const int heights[] = {1000, 200, 1000, 200, 1000, 200};
  ASSERT_EQ(saved.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(saved[i].path, base + order[i] + ".raw");
    EXPECT_EQ(fs::file_size(saved[i].path), static_cast<std::uintmax_t>(widths[i]) * heights[i] * 3) << order[i];
  }
}

TEST_F(MosaicSaverTest, SplitBelowElevenPixelsIsNoSplit) {
  builder.parameters.split_mosaic = true;
  const TileRenderer renderer(tables, false, quiet_prompt());
  JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, 1);
  std::vector<SavedFileRecord> saved;
  const std::string base = (dir / "whole").string();
  ASSERT_TRUE(save_mosaic(saver, base, builder.parameters, SplitPieceSize{10, 10}, kWidth, kHeight, saved, 0));
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].path, base + ".ppm");
  EXPECT_EQ(builder.status(), "Saving Mosaic...");
}

TEST_F(MosaicSaverTest, FormatsNotWrittenYetAreRefusedWithAMessage) {
  const TileRenderer renderer(tables, false, quiet_prompt());
  JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, 1);
  std::vector<SavedFileRecord> saved;
  const std::string base = (dir / "refused").string();
  for (const OutputFormatCode format :
       {OutputFormatCode::avi_compressed, OutputFormatCode::avi_uncompressed, OutputFormatCode::video_jpg}) {
    prompt.clear();
    builder.parameters.output_format = format;
    EXPECT_FALSE(save_mosaic(saver, base, builder.parameters, {}, kWidth, kHeight, saved, 0)) << format_number(format);
    ASSERT_EQ(prompt.messages().size(), 1u) << format_number(format);
    EXPECT_NE(prompt.messages()[0].find(base + format_extension(format)), std::string::npos);
  }
  EXPECT_EQ(saved.size(), 3u);
  // 107 and codes outside the list have no file to record.
  for (const OutputFormatCode format :
       {OutputFormatCode::mosaic, static_cast<OutputFormatCode>(99), static_cast<OutputFormatCode>(114)}) {
    prompt.clear();
    builder.parameters.output_format = format;
    EXPECT_FALSE(save_mosaic(saver, base, builder.parameters, {}, kWidth, kHeight, saved, 0));
    EXPECT_EQ(prompt.messages().size(), 1u);
  }
  EXPECT_EQ(saved.size(), 3u);
  for (const char* extension : {".avi", ".mosaic", ".error"})
    EXPECT_FALSE(fs::exists(base + extension)) << extension;
}

TEST_F(MosaicSaverTest, PhotoshopAndTiffMosaicsAreWritten) {
  const TileRenderer renderer(tables, false, quiet_prompt());
  JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, 2);
  std::vector<SavedFileRecord> saved;
  struct Case {
    OutputFormatCode format;
    bool tiff64;
    const char* start;  // the file's first bytes
  };
  for (const Case& c : {Case{OutputFormatCode::psd, false, "8BPS\0\1"}, Case{OutputFormatCode::psb, false, "8BPS\0\2"},
                        Case{OutputFormatCode::tiff, false, "II*\0"}, Case{OutputFormatCode::tiff, true, "II+\0"},
                        Case{OutputFormatCode::tiff_jpg, false, "II*\0"}}) {
    prompt.clear();
    builder.parameters.output_format = c.format;
    builder.parameters.output_tiff64 = c.tiff64;
    const std::string base = (dir / ("m" + std::to_string(format_number(c.format)) + (c.tiff64 ? "big" : ""))).string();
    ASSERT_TRUE(save_mosaic(saver, base, builder.parameters, {}, kWidth, kHeight, saved, 300))
        << format_number(c.format);
    EXPECT_TRUE(prompt.messages().empty());
    const std::string file = read_file(base + format_extension(c.format));
    const std::string start(c.start, c.format == OutputFormatCode::psd || c.format == OutputFormatCode::psb ? 6 : 4);
    EXPECT_EQ(file.substr(0, start.size()), start) << format_number(c.format);
  }
}

// What a file is by its first bytes, whatever the program named it.
std::string kind_by_content(const std::string& bytes, std::size_t pixels) {
  const auto starts = [&bytes](std::string_view start) { return bytes.compare(0, start.size(), start) == 0; };
  using namespace std::string_view_literals;
  if (starts("\xFF\xD8\xFF"sv)) return ".jpg";
  if (starts("BM"sv)) return ".bmp";
  if (starts("\x89PNG\r\n\x1A\n"sv)) return ".png";
  if (starts("P6\n"sv)) return ".ppm";
  if (starts("8BPS\0\1"sv)) return ".psd";
  if (starts("8BPS\0\2"sv)) return ".psb";
  if (starts("II*\0"sv) || starts("II+\0"sv)) return ".tiff";
  if (bytes.size() == pixels * 3) return ".raw";  // no header, three bytes a pixel
  return "unknown";
}

// Every still format of the table, and the individual tiles of every format
// that saves them: the file that appears is the one the extension names.
TEST_F(MosaicSaverTest, EveryFormatsFilesAreWhatTheirExtensionsSay) {
  const TileRenderer renderer(tables, false, quiet_prompt());
  JPGMosaicSave saver(builder, builder.grid, renderer, kBorder, 1);
  Foto tile;
  ASSERT_TRUE(tile.try_allocate_fill(7, 5, make_pixel(10, 20, 30)));
  const auto only_file = [](const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    return files.size() == 1 ? files[0] : fs::path();
  };
  int mosaics = 0;
  int tile_formats = 0;
  for (const OutputFormat& row : output_formats()) {
    SCOPED_TRACE(format_number(row.code));
    const OutputOptions options{row.code};
    if (!row.video && row.writer != FormatWriter::none && row.writer != FormatWriter::web_pyramid) {
      const TempDir out;
      std::vector<SavedFileRecord> saved;
      ASSERT_TRUE(
          save_mosaic_part(saver, (out / "M").string(), options, PartLayout{kWidth, kHeight, 0, 0, 9}, saved, 0));
      const fs::path file = only_file(out.path());
      ASSERT_FALSE(file.empty());
      EXPECT_EQ(kind_by_content(read_file(file), std::size_t{kWidth} * kHeight), file.extension().string());
      ASSERT_EQ(saved.size(), 1u);
      EXPECT_EQ(saved[0].path, file.string()) << "the record names the file written";
      ++mosaics;
    }
    const TempDir tiles_out;
    if (!save_individual_tile(tile, tiles_out.path().string(), 3, 4, "t", options, 300)) {
      EXPECT_TRUE(individual_tile_extension(row.code).empty()) << "a format with a tile extension saves its tiles";
      continue;
    }
    const fs::path file = only_file(tiles_out.path());
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file, individual_tile_path(tiles_out.path().string(), 3, 4, "t", row.code));
    EXPECT_EQ(kind_by_content(read_file(file), 35), file.extension().string());
    ++tile_formats;
  }
  EXPECT_EQ(mosaics, 9);        // JPEG, PNG, BMP, TIFF twice, PPM, RAW, PSD, PSB
  EXPECT_EQ(tile_formats, 10);  // those and the web pyramid
  EXPECT_TRUE(prompt.messages().empty());
}

TEST_F(MosaicSaverTest, FinishCountsTheMosaicForTheUser) {
  const UserState state{ConfigFile(dir / "TessellariumConfig.txt")};
  FinishRequest request;
  request.base_name = (dir / "done").string();
  request.threads = 2;
  request.user_state = &state;
  FinishResult result;
  ASSERT_TRUE(finish_mosaic(builder, tables, request, result));
  EXPECT_EQ(state.get_int("MosaicCount"), 1);
  const std::string first_date = state.get_text("DateFirstMosaic");
  EXPECT_EQ(first_date.size(), 10u);  // YYYY-MM-DD
  ASSERT_EQ(result.files.size(), 1u);
  EXPECT_EQ(result.files[0].path, request.base_name + ".ppm");
  EXPECT_EQ(result.render_records.size(), builder.grid.size());
  EXPECT_TRUE(result.result_file.empty());

  ASSERT_TRUE(state.set_text("DateFirstMosaic", "2001-02-03"));
  ASSERT_TRUE(finish_mosaic(builder, tables, request, result));
  EXPECT_EQ(state.get_int("MosaicCount"), 2);
  EXPECT_EQ(state.get_text("DateFirstMosaic"), "2001-02-03");

  // A mosaic that was not written is not counted.
  builder.parameters.output_format = OutputFormatCode::mosaic;
  EXPECT_FALSE(finish_mosaic(builder, tables, request, result));
  EXPECT_EQ(state.get_int("MosaicCount"), 2);
}

TEST_F(MosaicSaverTest, FastPreviewIsOfferedOnlyWhenAskedFor) {
  FinishRequest request;
  request.base_name = (dir / "preview").string();
  FinishResult result;
  builder.parameters.advanced.set_value(kOptMosaicFastPreview, "0");
  ASSERT_TRUE(finish_mosaic(builder, tables, request, result));
  EXPECT_FALSE(builder.take_message());

  builder.parameters.advanced.set_value(kOptMosaicFastPreview, "1");
  ASSERT_TRUE(finish_mosaic(builder, tables, request, result));
  auto message = builder.take_message();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->text, "Mosaic Preview");
  // 24 placed tiles: a long side of 300; scale min(300 / 61, 0.8 * 300 / 47).
  EXPECT_EQ(message->width, 300);
  EXPECT_EQ(message->height, 231);
  ASSERT_EQ(message->pixels.size(), 300u * 231u);
  // The cell left without a tile stays black; a placed one is not.
  EXPECT_EQ(message->pixels[static_cast<std::size_t>(115 * 300 + 147)] & 0xFFFFFFu, 0u);
  EXPECT_NE(message->pixels[static_cast<std::size_t>(20 * 300 + 20)] & 0xFFFFFFu, 0u);
}

TEST(FastPreview, LongSideFollowsTheNumberOfTiles) {
  EXPECT_EQ(fast_preview_target(1), 300);
  EXPECT_EQ(fast_preview_target(500), 300);
  EXPECT_EQ(fast_preview_target(501), 500);
  EXPECT_EQ(fast_preview_target(2001), 1000);
  EXPECT_EQ(fast_preview_target(5000), 1000);
  EXPECT_EQ(fast_preview_target(5001), 1400);
  EXPECT_EQ(fast_preview_target(8000), 1600);
  EXPECT_EQ(fast_preview_target(13999), 1600);
  EXPECT_EQ(fast_preview_target(14000), 0);
}

TEST(BandHeight, MemoryBlockSetsTheRowsRenderedAtOnce) {
  EXPECT_EQ(memory_block_megabytes("200"), 200);
  EXPECT_EQ(memory_block_megabytes(" 300 MB"), 300);
  EXPECT_EQ(memory_block_megabytes("5"), 10);
  EXPECT_EQ(memory_block_megabytes(""), 200);  // an option never set has its default
  EXPECT_EQ(memory_block_megabytes("lots"), 10);
  EXPECT_EQ(memory_block_megabytes("-40"), 10);
  EXPECT_EQ(memory_block_megabytes("99999999999999999999"), 2900);
  EXPECT_EQ(memory_block_megabytes("4000"), 2900);

  const BandProbe always = [](int, int) { return true; };
  // A mosaic one pixel wide gets the whole budget as rows; one wider than the
  // budget gets bands of one row.
  EXPECT_EQ(choose_band_height(1, 100, 2900, always), 725'000'000);
  EXPECT_EQ(choose_band_height(1, 100, 200, always), 50'000'000);
  EXPECT_EQ(choose_band_height(3'000'000, 100, 10, always), 1);
  EXPECT_EQ(choose_band_height(1000, 5000, 10, always), 2500);

  // Short of memory, the band shrinks by a tenth at a time until it fits.
  std::vector<int> probed;
  const BandProbe tight = [&](int width, int rows) {
    probed.push_back(rows);
    return static_cast<std::int64_t>(width) * rows <= 1000 * 700;
  };
  const int rows = choose_band_height(1000, 5000, 10, tight);
  EXPECT_LE(rows, 700);
  EXPECT_GE(rows, 630);
  EXPECT_EQ(probed.front(), 2500);
  EXPECT_EQ(probed[1], 2250);
  // The probe never asks for more rows than the piece has.
  probed.clear();
  EXPECT_EQ(choose_band_height(1, 100, 200, tight), 50'000'000);
  EXPECT_EQ(probed, std::vector<int>{100});
  // Nothing fits at all: one row is still tried by the band itself.
  EXPECT_EQ(choose_band_height(1000, 5000, 10, [](int, int) { return false; }), 1);
}

}  // namespace
}  // namespace tess
