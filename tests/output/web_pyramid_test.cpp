#include "output/web_pyramid.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/scripted_prompt.hpp"
#include "base/text.hpp"
#include "engine/job_pool.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "engine/score_tables.hpp"
#include "images/foto.hpp"
#include "jpeg_markers.hpp"
#include "output/jpeg_writer.hpp"
#include "output/mosaic_saver.hpp"
#include "settings/advanced_options.hpp"
#include "settings/mosaic_parameters.hpp"
#include "support/test_support.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/tile_signature.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::ScopedEnv;
using testing::TempDir;
using testing::write_file;

// A page that shows every placeholder between markers, so a test can read
// back exactly what was filled in.
constexpr const char* kTemplate =
    "<title>{HtmlTitle}</title>\n"
    "url=<{MosaicUrl}>\nwidth=<{MosaicWidth}>\nheight=<{MosaicHeight}>\nattribution=<{MosaicAttribution}>\n"
    "function=<{PopUpFunction}>\nmax=<{PopUpMaxWidth}>\npopup=<{PopUpWidth}>\ntiles=<{TileArrays}>\n"
    "unknown=<{NotAPlaceholder}>\n";

// The value between "name=<" and the next ">\n".
std::string placeholder(const std::string& page, const std::string& name) {
  const std::string start = name + "=<";
  const std::size_t at = page.find(start);
  if (at == std::string::npos) return "(missing)";
  const std::size_t end = page.find(">\n", at);
  return page.substr(at + start.size(), end - at - start.size());
}

// A picture whose colours change everywhere, so a tile cut from the wrong
// place shows.
Foto pattern(int w, int h) {
  Foto f;
  f.try_allocate(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) f.at(x, y) = make_pixel((x * 7) % 256, (y * 5) % 256, ((x / 64) * 60 + (y / 64) * 90) % 256);
  return f;
}

// Average red, green and blue of a region.
std::vector<double> average(const Foto& f, int x0, int y0, int w, int h) {
  double r = 0, g = 0, b = 0;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) {
      r += pixel_red(f.at(x, y));
      g += pixel_green(f.at(x, y));
      b += pixel_blue(f.at(x, y));
    }
  const double n = static_cast<double>(w) * h;
  return {r / n, g / n, b / n};
}

void expect_close(const std::vector<double>& a, const std::vector<double>& b, double tolerance) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], tolerance) << "channel " << i;
}

std::vector<fs::path> files_ending_in(const fs::path& folder, const std::string& ending) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.size() >= ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
      found.push_back(entry.path());
  }
  return found;
}

TEST(WebLevels, HalveUntilOneTileHoldsTheMosaic) {
  const auto single = web_levels(256, 256);
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].columns, 1);
  EXPECT_EQ(single[0].rows, 1);

  const auto levels = web_levels(1000, 600);
  ASSERT_EQ(levels.size(), 3u);
  const int expected[3][4] = {{250, 150, 1, 1}, {500, 300, 2, 2}, {1000, 600, 4, 3}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(levels[i].width, expected[i][0]);
    EXPECT_EQ(levels[i].height, expected[i][1]);
    EXPECT_EQ(levels[i].columns, expected[i][2]);
    EXPECT_EQ(levels[i].rows, expected[i][3]);
  }
  EXPECT_EQ(levels[0].first_tile, 0);
  EXPECT_EQ(levels[1].first_tile, 1);
  EXPECT_EQ(levels[2].first_tile, 5);
  EXPECT_EQ(levels[2].tile_width(3), 232);
  EXPECT_EQ(levels[2].tile_height(2), 88);

  // Halving truncates, and a side below 4 becomes 1, never 0.
  const auto thin = web_levels(1001, 3);
  ASSERT_EQ(thin.size(), 3u);
  EXPECT_EQ(thin[1].width, 500);
  EXPECT_EQ(thin[1].height, 1);
  EXPECT_EQ(thin[0].width, 250);
  EXPECT_EQ(thin[0].height, 1);
  EXPECT_EQ(web_levels(257, 1).front().width, 128);
  EXPECT_TRUE(web_levels(0, 10).empty());
}

TEST(WebText, QuotesArePairedAndPopUpsNamed) {
  EXPECT_EQ(web_quoted("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(web_quoted(""), "\"\"");
  // No "</" or "<!" reaches the page's script block; the escape is one
  // backslash more after a "<" that backslashes and a "/" or "!" follow.
  EXPECT_EQ(web_quoted("a</script>"), "\"a<\\/script>\"");
  EXPECT_EQ(web_quoted("<\\/ <\\\\/"), "\"<\\\\/ <\\\\\\/\"");
  EXPECT_EQ(web_quoted("a<b \\/ <\\x/"), "\"a<b \\/ <\\x/\"");
  EXPECT_EQ(web_quoted("<!--<script>"), "\"<\\!--<script>\"");
  EXPECT_EQ(web_popup_function(0), "null");
  EXPECT_EQ(web_popup_function(1), "getPopUpTextOnly");
  EXPECT_EQ(web_popup_function(2), "getPopUpImageOnly");
  EXPECT_EQ(web_popup_function(3), "getPopUpImageWithName");
  EXPECT_EQ(web_popup_function(4), "getPopUpFullText");
  EXPECT_EQ(web_popup_function(9), "null");
}

class WebPyramidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "viewer" / "scripts");
    ASSERT_TRUE(write_file(dir / "viewer" / "index.html", kTemplate));
    ASSERT_TRUE(write_file(dir / "viewer" / "scripts" / "viewer.js", "// viewer\n"));
    ScriptedPrompt silent;
    Foto red, blue;
    red.try_allocate_fill(40, 30, make_pixel(200, 30, 30));
    blue.try_allocate_fill(40, 30, make_pixel(30, 30, 200));
    ASSERT_TRUE(write_jpeg_image(red, dir / "Red Pic.JPG", true, 90, 0, silent));
    ASSERT_TRUE(write_jpeg_image(blue, dir / "blue#1.jpeg", true, 90, 0, silent));
    pictures.emplace_back((dir / "Red Pic.JPG").string());
    pictures.emplace_back((dir / "blue#1.jpeg").string());
  }

  WebOptions options(const std::string& name = "m") const {
    WebOptions o;
    o.folder = (dir / (name + " RezIroriz/")).string();
    o.title = "Mosaic \"one\" & more";
    o.popup_kind = 4;
    o.popup_width = 320;
    o.jpeg_quality = 95;
    o.viewer_folder = dir / "viewer";
    return o;
  }

  // Cells of 100 × 100 across the mosaic: blue, red, blue, ..., one left empty.
  void grid_over(int width, int height) {
    builder.grid.reset(width, height, 1.0, 0, false);
    int n = 0;
    for (int y = 0; y + 100 <= height; y += 100)
      for (int x = 0; x + 100 <= width; x += 100, ++n) {
        ASSERT_TRUE(builder.grid.add_cell(CellRect{x, y, 100, 100}));
        PuzzleInfo& cell = builder.grid.cell(builder.grid.size() - 1);
        cell.active = 1;
        if (n != 2) cell.tile = &pictures[static_cast<std::size_t>(n % 3 == 0 ? 1 : 0)];
      }
  }

  // A grid as above for a whole saving step: every picture and cell analysed
  // as one grey, the tables without colour change.
  void prepare_whole_run(ScoreTables& tables, int width, int height) {
    for (FotoInfo& picture : pictures) {
      picture.signature.samples.fill(make_pixel(100, 100, 100));
      picture.signature.opaque = 1;
      picture.signature.analysed = 1;
    }
    builder.parameters.colour_change = 0;
    ASSERT_TRUE(tables.set_up(builder.parameters, static_cast<std::int64_t>(pictures.size())));
    grid_over(width, height);
    for (std::size_t i = 0; i < builder.grid.size(); ++i) {
      builder.grid.cell(i).signature = pictures[0].signature;
      builder.grid.cell(i).analysed = 1;
    }
  }

  // Feeds `mosaic` the way a saver does: pieces `piece_width` wide, each in
  // bands of `band_height` rows.
  static void feed(WebPyramid& web, const Foto& mosaic, int piece_width, int band_height) {
    for (int px = 0; px < mosaic.width(); px += piece_width)
      for (int y = 0; y < mosaic.height(); y += band_height) {
        const int w = std::min(piece_width, mosaic.width() - px), h = std::min(band_height, mosaic.height() - y);
        web.add_band(part(mosaic, px, y, w, h), px, y);
      }
  }

  static Foto part(const Foto& mosaic, int x, int y, int w, int h) {
    Foto band;
    band.try_allocate(w, h);
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) band.at(c, r) = mosaic.at(x + c, y + r);
    return band;
  }

  TempDir dir;
  ScriptedPrompt prompt;
  MosaicBuilder builder{prompt};
  std::vector<FotoInfo> pictures;
};

TEST_F(WebPyramidTest, OneTileMosaicLiesInFolderZero) {
  WebPyramid web(builder, options(), 256, 256);
  ASSERT_TRUE(web.set_up());
  EXPECT_EQ(web.tile_path(0, 0, 0), web.folder() + "mosaic/0/0-0-0.jpg");
  grid_over(256, 256);
  feed(web, pattern(256, 256), 256, 256);
  std::string index;
  ASSERT_TRUE(web.finish(builder.grid, index)) << ::testing::PrintToString(prompt.messages());
  int w = 0, h = 0;
  ASSERT_TRUE(Foto::read_size(web.folder() + "mosaic/0/0-0-0.jpg", w, h));
  EXPECT_EQ(w, 256);
  EXPECT_EQ(h, 256);
}

TEST_F(WebPyramidTest, AWebMosaicOverAnEarlierOneReplacesItOnlyWhenComplete) {
  const auto save = [&](const WebOptions& o) {
    WebPyramid web(builder, o, 300, 200);
    if (!web.set_up()) return false;
    grid_over(300, 200);
    feed(web, pattern(300, 200), 300, 200);
    std::string index;
    const bool saved = web.finish(builder.grid, index);
    EXPECT_EQ(web.folder(), o.folder);
    if (saved) {
      EXPECT_EQ(index, o.folder + "index.html");
    }
    return saved;
  };
  const auto hidden_entries = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
      if (entry.path().filename().string()[0] == '.') names.push_back(entry.path().filename().string());
    return names;
  };
  ASSERT_TRUE(save(options()));
  const std::string folder = options().folder;
  // A tile of a larger earlier mosaic, which the new one has not.
  fs::create_directories(folder + "mosaic/7");
  const std::string earlier_tile = "mosaic/7/9-1-2.jpg";
  ASSERT_TRUE(testing::write_file(folder + earlier_tile, "kept"));
  const std::string page = testing::read_file(folder + "index.html");

  // A save that fails at its last step (no viewer to copy) leaves the earlier mosaic whole.
  WebOptions broken = options();
  broken.viewer_folder = dir / "no viewer";
  EXPECT_FALSE(save(broken));
  EXPECT_EQ(testing::read_file(folder + earlier_tile), "kept");
  EXPECT_EQ(testing::read_file(folder + "index.html"), page);
  EXPECT_TRUE(hidden_entries().empty()) << ::testing::PrintToString(hidden_entries());

  // A complete save replaces it: nothing of the earlier folder is mixed in.
  ASSERT_TRUE(save(options())) << ::testing::PrintToString(prompt.messages());
  EXPECT_FALSE(fs::exists(folder + earlier_tile));
  EXPECT_TRUE(fs::is_regular_file(folder + "index.html"));
  EXPECT_TRUE(fs::is_regular_file(folder + "mosaic/0/0-0-0.jpg"));
  EXPECT_TRUE(hidden_entries().empty()) << ::testing::PrintToString(hidden_entries());
}

TEST_F(WebPyramidTest, TileOneThousandAndOneGoesToFolderOne) {
  // 8192 × 8192: 1 + 4 + 16 + 64 + 256 + 1024 tiles; the full size starts at 341.
  WebPyramid web(builder, options(), 8192, 8192);
  ASSERT_EQ(web.levels().size(), 6u);
  EXPECT_EQ(web.levels()[5].first_tile, 341);
  // Global index 1000 is tile 659 of the top level: row 20, column 19.
  EXPECT_EQ(web.tile_path(5, 19, 20), web.folder() + "mosaic/1/5-19-20.jpg");
  EXPECT_EQ(web.tile_path(5, 18, 20), web.folder() + "mosaic/0/5-18-20.jpg");
  ASSERT_TRUE(web.set_up());
  EXPECT_TRUE(fs::is_directory(web.folder() + "mosaic/0"));
  EXPECT_TRUE(fs::is_directory(web.folder() + "mosaic/1"));
  EXPECT_FALSE(fs::exists(web.folder() + "mosaic/2"));
  web.abandon();
  EXPECT_FALSE(fs::exists(web.folder()));  // the folder was this pyramid's own
}

TEST_F(WebPyramidTest, EveryLevelIsWrittenAsJpegsFromBandsOfAnyShape) {
  const int width = 1000, height = 600;
  const Foto mosaic = pattern(width, height);
  for (const auto& [piece_width, band_height] : {std::pair{1000, 600}, std::pair{300, 70}, std::pair{1000, 1}}) {
    SCOPED_TRACE(::testing::Message() << "pieces " << piece_width << ", bands " << band_height);
    const std::string name = "m" + std::to_string(piece_width) + "x" + std::to_string(band_height);
    WebPyramid web(builder, options(name), width, height);
    ASSERT_TRUE(web.set_up());
    grid_over(width, height);
    feed(web, mosaic, piece_width, band_height);
    std::string index;
    ASSERT_TRUE(web.finish(builder.grid, index)) << ::testing::PrintToString(prompt.messages());
    EXPECT_EQ(index, web.folder() + "index.html");

    for (std::size_t level = 0; level < web.levels().size(); ++level) {
      const WebLevel& l = web.levels()[level];
      for (int row = 0; row < l.rows; ++row)
        for (int column = 0; column < l.columns; ++column) {
          Foto tile;
          ASSERT_TRUE(tile.load(web.tile_path(static_cast<int>(level), column, row), 0, 0).ok_or_show(prompt))
              << level << "-" << column << "-" << row;
          EXPECT_EQ(tile.width(), l.tile_width(column));
          EXPECT_EQ(tile.height(), l.tile_height(row));
        }
    }
    EXPECT_TRUE(files_ending_in(web.folder(), " rows").empty());  // the split pieces' scratch file is gone
    // Full-size tiles show their own part of the mosaic; the lowest level the whole of it.
    Foto top, bottom;
    ASSERT_TRUE(top.load(web.tile_path(2, 3, 2), 0, 0).ok_or_show(prompt));
    expect_close(average(top, 0, 0, 232, 88), average(mosaic, 768, 512, 232, 88), 3.0);
    ASSERT_TRUE(bottom.load(web.tile_path(0, 0, 0), 0, 0).ok_or_show(prompt));
    expect_close(average(bottom, 0, 0, 250, 150), average(mosaic, 0, 0, 1000, 600), 3.0);
    expect_close(average(bottom, 125, 75, 25, 25), average(mosaic, 500, 300, 100, 100), 6.0);
  }
  EXPECT_TRUE(prompt.messages().empty());
}

TEST_F(WebPyramidTest, PageHoldsThePlaceholdersAndThePopUpData) {
  WebPyramid web(builder, options(), 300, 200);
  ASSERT_TRUE(web.set_up());
  grid_over(300, 200);
  feed(web, pattern(300, 200), 300, 200);
  std::string index;
  ASSERT_TRUE(web.finish(builder.grid, index));
  const std::string file = read_file(index);
  ASSERT_EQ(file.substr(0, 3), "\xEF\xBB\xBF");
  const std::string page = file.substr(3);
  EXPECT_NE(page.find("<title>Mosaic \"one\" &amp; more</title>"), std::string::npos) << page;
  EXPECT_EQ(placeholder(page, "attribution"), "\"Mosaic \"\"one\"\" & more\"");
  EXPECT_EQ(placeholder(page, "url"), "'mosaic/'");
  EXPECT_EQ(placeholder(page, "width"), "300");
  EXPECT_EQ(placeholder(page, "height"), "200");
  EXPECT_EQ(placeholder(page, "function"), "getPopUpFullText");
  EXPECT_EQ(placeholder(page, "max"), "320");
  EXPECT_EQ(placeholder(page, "popup"), "320");
  EXPECT_EQ(placeholder(page, "unknown"), "{NotAPlaceholder}");
  EXPECT_TRUE(fs::exists(web.folder() + "scripts/viewer.js"));  // the viewer is copied whole

  // Six cells: blue, red, none, blue, red, red; pictures numbered as first
  // met, linked from the page's folder to the one beside it.
  const std::string blue = "../blue%231.jpeg";
  const std::string red = "../Red%20Pic.JPG";
  const std::string expected =
      "[\n\t\t\t// tileX, tileY, tileWidth, tileHeight, tileNr, imageNr, imageUsageCount, imageUrl, imageName, "
      "imageExtension"
      "\n\t\t\t[0,0,100,100,1,1,2,\"" + blue + "\",\"blue#1\",\"jpeg\"],"
      "\n\t\t\t[100,0,100,100,2,2,3,\"" + red + "\",\"Red Pic\",\"JPG\"],"
      "\n\t\t\t[200,0,100,100,3,null,null,null,null,null],"
      "\n\t\t\t[0,100,100,100,4,1,2,\"" + blue + "\",\"blue#1\",\"jpeg\"],"
      "\n\t\t\t[100,100,100,100,5,2,3,\"" + red + "\",\"Red Pic\",\"JPG\"],"
      "\n\t\t\t[200,100,100,100,6,2,3,\"" + red + "\",\"Red Pic\",\"JPG\"],"
      "\n\t\t]";
  EXPECT_EQ(placeholder(page, "tiles"), expected);
  EXPECT_FALSE(fs::exists(web.folder() + "tiles"));
}

TEST(WebPictureLink, IsRelativeToThePageAndPercentEncoded) {
  struct Case {
    const char* page;
    const char* picture;
    const char* link;
  };
  const Case cases[] = {
      // Up to the common folder and down again; blanks, "#", "?", ":", "%",
      // a backslash and UTF-8 bytes encoded, the marks a path may hold kept.
      {"/srv/www/m RezIroriz/", "/home/u/K\xC3\xB6ln 2024/a#b?.jpg", "../../../home/u/K%C3%B6ln%202024/a%23b%3F.jpg"},
      {"/a/b/m RezIroriz/", "/a/b/c:d 100%.jpg", "../c%3Ad%20100%25.jpg"},
      {"/a/b/m RezIroriz/", "/a/b/x\\y\"z'(1)+&=.png", "../x%5Cy%22z'(1)+&=.png"},
      // A picture inside the page's folder needs no climb; dots are resolved.
      {"/out/m RezIroriz/", "/out/m RezIroriz/tiles/p.jpg", "tiles/p.jpg"},
      {"/a/x RezIroriz", "/a/b/../c/./p.jpg", "../c/p.jpg"},
  };
  for (const Case& c : cases) EXPECT_EQ(web_picture_link(c.page, c.picture), c.link) << c.picture;

  // Relative names are taken from the working folder, as the run takes them.
  TempDir dir;
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  const std::string link = web_picture_link("out/m RezIroriz/", "pics/p.jpg");
  fs::current_path(before);
  EXPECT_EQ(link, "../../pics/p.jpg");
}

TEST(WebPictureLink, AWarningOnlyWherePopUpsLinkPicturesWhereTheyLie) {
  struct Case {
    bool web_output;
    OutputFormatCode format;
    int popup;
    bool copy;
    bool warned;
  };
  const Case cases[] = {
      {true, OutputFormatCode::jpg, 4, false, true},   // the defaults
      {false, OutputFormatCode::web, 1, false, true},  // the web mosaic alone, text pop-ups name the paths too
      {true, OutputFormatCode::jpg, 4, true, false},   // pictures copied beside the page
      {true, OutputFormatCode::jpg, 0, false, false},  // no pop-ups, no picture named
      {false, OutputFormatCode::jpg, 4, false, false}, // no web mosaic
  };
  for (const Case& c : cases) {
    MosaicParameters parameters;
    parameters.web_output = c.web_output;
    parameters.output_format = c.format;
    parameters.web_popup_text = c.popup;
    parameters.web_copy_images = c.copy;
    ScriptedPrompt prompt;
    warn_of_web_links(parameters, prompt);
    const auto calls = prompt.calls();
    ASSERT_EQ(calls.size(), c.warned ? 1u : 0u) << c.popup << c.copy << c.web_output;
    if (c.warned) {
      EXPECT_EQ(calls[0].icon, Icon::warning);
      EXPECT_NE(calls[0].text.find("RezIrorizCopyImages=1"), std::string::npos) << calls[0].text;
    }
    EXPECT_EQ(web_links_leave_folder(parameters), c.warned);
  }
}

TEST_F(WebPyramidTest, CopiedPicturesGetNumberedLowerCaseNames) {
  WebOptions o = options();
  o.copy_images = true;
  o.popup_kind = 1;
  WebPyramid web(builder, o, 300, 200);
  ASSERT_TRUE(web.set_up());
  grid_over(300, 200);
  feed(web, pattern(300, 200), 300, 200);
  std::string index;
  ASSERT_TRUE(web.finish(builder.grid, index));
  const std::string page = read_file(index);
  EXPECT_TRUE(fs::exists(web.folder() + "tiles/Red Pic-2.jpg"));
  EXPECT_TRUE(fs::exists(web.folder() + "tiles/blue#1-1.jpeg"));
  EXPECT_EQ(read_file(web.folder() + "tiles/Red Pic-2.jpg"), read_file(pictures[0].path));
  EXPECT_NE(page.find("[100,0,100,100,2,2,3,\"tiles/Red%20Pic-2.jpg\",\"Red Pic\",\"JPG\"]"), std::string::npos);
  EXPECT_NE(page.find("\"tiles/blue%231-1.jpeg\""), std::string::npos);
  EXPECT_EQ(placeholder(page, "function"), "getPopUpTextOnly");
}

TEST_F(WebPyramidTest, NoPopUpWritesNullAndNoTilesFolder) {
  WebOptions o = options();
  o.copy_images = true;
  o.popup_kind = 0;
  o.popup_width = 0;
  WebPyramid web(builder, o, 300, 200);
  ASSERT_TRUE(web.set_up());
  grid_over(300, 200);
  feed(web, pattern(300, 200), 300, 200);
  std::string index;
  ASSERT_TRUE(web.finish(builder.grid, index));
  const std::string page = read_file(index);
  EXPECT_EQ(placeholder(page, "tiles"), "null");
  EXPECT_EQ(placeholder(page, "function"), "null");
  EXPECT_EQ(placeholder(page, "max"), "300");            // a width below 1 shows as 300
  EXPECT_EQ(placeholder(page, "popup"), "{PopUpWidth}");  // only filled with a popup
  EXPECT_FALSE(fs::exists(web.folder() + "tiles"));
}

TEST_F(WebPyramidTest, BandErrorsEndTheWebMosaicAndTidyUp) {
  {
    // A band whose tiles cannot be written.
    WebPyramid web(builder, options("a"), 300, 300);
    ASSERT_TRUE(web.set_up());
    fs::remove_all(web.folder() + "mosaic/0");
    Foto band;
    band.try_allocate_fill(300, 300, 0);
    web.add_band(band, 0, 0);
    EXPECT_FALSE(web.active());
    // The numbered text, then the reason and the file.
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].rfind("RezIroriz Error 01: No such file or directory: " + web.folder() + "mosaic/0/", 0),
              0u)
        << prompt.messages()[0];
    EXPECT_FALSE(fs::exists(web.folder()));
    std::string index;
    EXPECT_FALSE(web.finish(builder.grid, index));
    EXPECT_TRUE(index.empty());
  }
  prompt.clear();
  {
    // Split pieces whose rows have nowhere to wait.
    WebPyramid web(builder, options("b"), 300, 300);
    ASSERT_TRUE(web.set_up());
    fs::create_directories(web.folder() + ".unordered rows");
    Foto band;
    band.try_allocate_fill(100, 300, 0);
    web.add_band(band, 0, 0);
    EXPECT_FALSE(web.active());
    EXPECT_EQ(prompt.messages(), std::vector<std::string>{"RezIroriz Error 04"});
    EXPECT_FALSE(fs::exists(web.folder()));
  }
}

TEST_F(WebPyramidTest, FinishingErrorsAreReportedAndLeaveNoHalfBuiltPyramid) {
  grid_over(600, 300);
  const Foto mosaic = pattern(600, 300);
  {
    // A band that never came.
    WebPyramid web(builder, options("lost"), 600, 300);
    ASSERT_TRUE(web.set_up());
    web.add_band(part(mosaic, 0, 0, 600, 299), 0, 0);
    std::string index;
    EXPECT_FALSE(web.finish(builder.grid, index));
    EXPECT_EQ(prompt.messages(), std::vector<std::string>{"RezIroriz Error B01"});
    EXPECT_FALSE(fs::exists(web.folder()));
  }
  prompt.clear();
  {
    WebOptions o = options("noviewer");
    o.viewer_folder = dir / "nowhere";
    WebPyramid web(builder, o, 600, 300);
    ASSERT_TRUE(web.set_up());
    feed(web, mosaic, 600, 300);
    std::string index;
    EXPECT_FALSE(web.finish(builder.grid, index));
    EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Unable to save file '" + o.folder + "'"});
  }
  prompt.clear();
  {
    fs::create_directories(dir / "empty viewer");
    WebOptions o = options("nopage");
    o.viewer_folder = dir / "empty viewer";
    WebPyramid web(builder, o, 600, 300);
    ASSERT_TRUE(web.set_up());
    feed(web, mosaic, 600, 300);
    std::string index;
    EXPECT_FALSE(web.finish(builder.grid, index));
    EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Unable to load file '" + o.folder + "index.html'"});
  }
  prompt.clear();
  {
    // A folder of somebody else's is never taken: nothing is written into it.
    WebOptions o = options("stopped");
    fs::create_directories(o.folder);
    ASSERT_TRUE(write_file(o.folder + "notes.txt", "mine"));
    {
      WebPyramid refused(builder, o, 600, 300);
      EXPECT_FALSE(refused.set_up());
      EXPECT_EQ(prompt.messages(),
                std::vector<std::string>{"'" + o.folder.substr(0, o.folder.size() - 1) +
                                         "' exists and was not written by Tessellarium: choose another name or remove it"});
      EXPECT_EQ(read_file(o.folder + "notes.txt"), "mine");
      prompt.clear();
    }
    // An earlier mosaic of ours keeps what it held; no tile of the stopped run is left.
    fs::remove(o.folder + "notes.txt");
    ASSERT_TRUE(write_file(o.folder + "index.html", "earlier page"));
    WebPyramid web(builder, o, 600, 300);
    ASSERT_TRUE(web.set_up());
    feed(web, mosaic, 600, 300);
    builder.request_stop();
    std::string index;
    EXPECT_FALSE(web.finish(builder.grid, index));
    builder.clear_stop();
    EXPECT_TRUE(prompt.messages().empty());
    EXPECT_EQ(read_file(o.folder + "index.html"), "earlier page");
    EXPECT_TRUE(files_ending_in(o.folder, ".jpg").empty());
  }
}

// --- the pyramid against one made another way -------------------------------

// Noise in every channel, so a pixel averaged from the wrong rows or columns,
// or rounded differently, changes the tile's bytes.
Foto noise(int w, int h) {
  Foto f;
  f.try_allocate(w, h);
  std::uint32_t state = 12345u + static_cast<std::uint32_t>(w) * 31u + static_cast<std::uint32_t>(h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      state = state * 1664525u + 1013904223u;
      f.at(x, y) = make_pixel((state >> 8) & 255u, (state >> 16) & 255u, ((x + y) * 3 + (state >> 28)) & 255u,
                              state >> 30);
    }
  return f;
}

// The tiles of `mosaic` made with the whole picture in memory: each level
// shrunk whole from the one above by the area filter, cut into tiles, every
// tile written as a JPEG, less the profile that web tiles leave out. Names
// are "mosaic/<k / 1000>/<level>-<column>-<row>.jpg".
std::map<std::string, std::string> reference_tiles(const Foto& mosaic, int quality, const fs::path& scratch) {
  std::map<std::string, std::string> tiles;
  ScriptedPrompt prompt;
  std::vector<std::pair<int, int>> sizes{{mosaic.width(), mosaic.height()}};
  while (sizes.back().first > 256 || sizes.back().second > 256) {
    const auto [w, h] = sizes.back();
    sizes.emplace_back(w < 4 ? 1 : w / 2, h < 4 ? 1 : h / 2);
  }
  std::vector<std::int64_t> first(sizes.size(), 0);
  for (std::size_t n = sizes.size() - 1; n > 0; --n) {
    const auto [w, h] = sizes[n];
    first[n - 1] = first[n] + static_cast<std::int64_t>((w + 255) / 256) * ((h + 255) / 256);
  }
  Foto level = mosaic.clone();
  for (std::size_t n = 0; n < sizes.size(); ++n) {
    const int number = static_cast<int>(sizes.size() - 1 - n);
    const int columns = (level.width() + 255) / 256, rows = (level.height() + 255) / 256;
    for (int row = 0; row < rows; ++row)
      for (int column = 0; column < columns; ++column) {
        Foto tile;
        const int tw = std::min(256, level.width() - 256 * column), th = std::min(256, level.height() - 256 * row);
        tile.try_allocate(tw, th);
        for (int y = 0; y < th; ++y)
          for (int x = 0; x < tw; ++x) tile.at(x, y) = level.at(256 * column + x, 256 * row + y);
        const fs::path file = scratch / "tile.jpg";
        EXPECT_TRUE(write_jpeg_image(tile, file, true, quality, 0, prompt));
        const std::int64_t k = first[sizes.size() - 1 - n] + static_cast<std::int64_t>(row) * columns + column;
        int profiles = 0;
        tiles[format("mosaic/%ld/%d-%d-%d.jpg", static_cast<long>(k / 1000), number, column, row)] =
            testing::without_icc_markers(read_file(file), &profiles);
        EXPECT_EQ(profiles, 1);
      }
    if (n + 1 == sizes.size()) break;
    const auto [w, h] = sizes[n + 1];
    Foto half;
    EXPECT_TRUE(level.crop_resize(w, h, std::min(2 * w, level.width()), std::min(2 * h, level.height()), half).ok_or_show(prompt));
    level = std::move(half);
  }
  return tiles;
}

// Every file under "mosaic/" of a written web mosaic, by its name there.
std::map<std::string, std::string> written_tiles(const fs::path& folder) {
  std::map<std::string, std::string> tiles;
  for (const auto& entry : fs::recursive_directory_iterator(folder / "mosaic"))
    if (entry.is_regular_file())
      tiles[fs::relative(entry.path(), folder).generic_string()] = read_file(entry.path());
  return tiles;
}

void expect_same_tiles(const std::map<std::string, std::string>& written,
                       const std::map<std::string, std::string>& expected) {
  EXPECT_EQ(written.size(), expected.size());
  for (const auto& [name, bytes] : expected) {
    const auto found = written.find(name);
    if (found == written.end()) {
      ADD_FAILURE() << name << " is missing";
    } else {
      EXPECT_TRUE(found->second == bytes) << name << " differs";
    }
  }
  for (const auto& [name, bytes] : written)
    if (expected.count(name) == 0) ADD_FAILURE() << name << " should not be there";
}

TEST_F(WebPyramidTest, EveryTileMatchesAWholePictureShrinkByteForByte) {
  struct Case {
    int width, height, piece_width, band_height;
    bool bottom_up = false;
    int threads = 1;  ///< above 1: the tiles of a row are encoded by jobs on a pool
  };
  // One tile; sides that are no multiple of 256, odd at several levels;
  // sides that shrink below 4; bands of one row; split pieces arriving
  // column by column; whole bands arriving last first. Rows are only shared
  // among jobs from 2,048 pixels across, so the threaded cases are that wide:
  // bands that end inside a row of tiles, and split pieces.
  const Case cases[] = {{256, 256, 256, 256},          {1000, 600, 1000, 70},          {513, 257, 513, 1},
                        {3, 700, 3, 100},              {700, 2, 700, 1},               {1301, 903, 300, 130},
                        {1100, 1100, 1100, 512},       {900, 700, 900, 200, true},     {2600, 777, 2600, 300, false, 2},
                        {2305, 601, 2305, 37, false, 3}, {2100, 600, 700, 90, false, 3}, {2049, 530, 2049, 100, true, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << ", pieces " << c.piece_width << ", bands "
                                      << c.band_height << (c.bottom_up ? ", bottom up" : "") << ", threads "
                                      << c.threads);
    const Foto mosaic = noise(c.width, c.height);
    const std::string name = format("ref%dx%dt%d", c.width, c.height, c.threads);
    JobPool pool;  // outlives the pyramid that uses it
    ASSERT_TRUE(pool.start_threads(c.threads - 1, ThreadPriority::normal));
    WebPyramid web(builder, options(name), c.width, c.height);
    if (c.threads > 1) web.use_pool(pool, c.threads);
    ASSERT_TRUE(web.set_up());
    grid_over(c.width, c.height);
    if (c.bottom_up) {
      for (int y = (c.height - 1) / c.band_height * c.band_height; y >= 0; y -= c.band_height)
        web.add_band(part(mosaic, 0, y, c.width, std::min(c.band_height, c.height - y)), 0, y);
    } else {
      feed(web, mosaic, c.piece_width, c.band_height);
    }
    std::string index;
    ASSERT_TRUE(web.finish(builder.grid, index)) << ::testing::PrintToString(prompt.messages());
    expect_same_tiles(written_tiles(web.folder()), reference_tiles(mosaic, 95, dir.path()));
  }
  EXPECT_TRUE(prompt.messages().empty()) << ::testing::PrintToString(prompt.messages());
}

TEST_F(WebPyramidTest, AStopInTheMiddleLeavesNoPyramid) {
  const Foto mosaic = noise(900, 700);
  WebPyramid web(builder, options("halfway"), 900, 700);
  ASSERT_TRUE(web.set_up());
  web.add_band(part(mosaic, 0, 0, 900, 300), 0, 0);
  builder.request_stop();
  std::string index;
  EXPECT_FALSE(web.finish(builder.grid, index));
  builder.clear_stop();
  EXPECT_TRUE(index.empty());
  EXPECT_FALSE(fs::exists(options("halfway").folder));
  EXPECT_TRUE(prompt.messages().empty());
}

// The saving step of a run with the web format, alone and beside a JPEG.
TEST_F(WebPyramidTest, FinishMosaicWritesTheWebMosaicWithTheMosaic) {
  fs::create_directories(dir / "data");
  fs::copy(dir / "viewer", dir / "data" / "webviewer", fs::copy_options::recursive);
  ScopedEnv data("TESSELLARIUM_DATA_DIR", (dir / "data").string());
  ScoreTables tables;
  ASSERT_NO_FATAL_FAILURE(prepare_whole_run(tables, 600, 300));

  builder.parameters.output_format = OutputFormatCode::web;
  FinishRequest request;
  request.base_name = (dir / "web").string();
  request.threads = 2;
  FinishResult result;
  ASSERT_TRUE(finish_mosaic(builder, tables, request, result)) << ::testing::PrintToString(prompt.messages());
  EXPECT_EQ(result.result_file, request.base_name + " RezIroriz/index.html");
  ASSERT_EQ(result.files.size(), 1u);
  EXPECT_EQ(result.files[0].path, request.base_name + " RezIroriz/index.html");
  Foto tile;
  ASSERT_TRUE(tile.load(request.base_name + " RezIroriz/mosaic/0/2-2-1.jpg", 0, 0).ok_or_show(prompt));
  EXPECT_EQ(tile.width(), 88);
  EXPECT_EQ(tile.height(), 44);
  // The cell at (100, 0) is red and the empty one at (200, 0) the border's black.
  Foto top;
  ASSERT_TRUE(top.load(request.base_name + " RezIroriz/mosaic/0/2-0-0.jpg", 0, 0).ok_or_show(prompt));
  expect_close(average(top, 120, 20, 60, 60), {200, 30, 30}, 12.0);
  expect_close(average(top, 210, 10, 40, 80), {0, 0, 0}, 12.0);

  builder.parameters.output_format = OutputFormatCode::jpg;
  builder.parameters.web_output = true;
  request.base_name = (dir / "both").string();
  ASSERT_TRUE(finish_mosaic(builder, tables, request, result));
  EXPECT_TRUE(fs::exists(request.base_name + ".jpg"));
  EXPECT_EQ(result.result_file, request.base_name + " RezIroriz/index.html");
  EXPECT_TRUE(fs::exists(result.result_file));

  builder.parameters.web_output = false;
  request.base_name = (dir / "plain").string();
  ASSERT_TRUE(finish_mosaic(builder, tables, request, result));
  EXPECT_TRUE(result.result_file.empty());
  EXPECT_FALSE(fs::exists(request.base_name + " RezIroriz"));
  EXPECT_TRUE(prompt.messages().empty()) << ::testing::PrintToString(prompt.messages());
}

// A whole saving step writes a lossless PPM beside the web mosaic; the tiles
// must be those of the PPM's pixels, in one band or in many.
TEST_F(WebPyramidTest, AWholeRunsWebTilesAreThoseOfItsMosaic) {
  fs::create_directories(dir / "data");
  fs::copy(dir / "viewer", dir / "data" / "webviewer", fs::copy_options::recursive);
  ScopedEnv data("TESSELLARIUM_DATA_DIR", (dir / "data").string());
  ScoreTables tables;
  ASSERT_NO_FATAL_FAILURE(prepare_whole_run(tables, 3000, 1500));
  builder.parameters.output_format = OutputFormatCode::ppm;
  builder.parameters.web_output = true;
  for (const char* block : {"200", "10"}) {  // one band; bands of 400 rows
    SCOPED_TRACE(block);
    builder.parameters.advanced.set_value(kOptMemoryBlockSize, block);
    FinishRequest request;
    request.base_name = (dir / (std::string("run") + block)).string();
    request.threads = 2;
    FinishResult result;
    ASSERT_TRUE(finish_mosaic(builder, tables, request, result)) << ::testing::PrintToString(prompt.messages());
    // The header ends in "<width> <height>\n255\n"; the pixels follow.
    const std::string ppm = read_file(request.base_name + ".ppm");
    const std::string end = "\n3000 1500\n255\n";
    const std::size_t pixels = ppm.find(end) + end.size();
    ASSERT_EQ(ppm.size(), pixels + 3000u * 1500u * 3u);
    Foto mosaic;
    mosaic.try_allocate(3000, 1500);
    const auto* at = reinterpret_cast<const unsigned char*>(ppm.data() + pixels);
    for (int y = 0; y < 1500; ++y)
      for (int x = 0; x < 3000; ++x, at += 3) mosaic.at(x, y) = make_pixel(at[0], at[1], at[2]);
    expect_same_tiles(written_tiles(request.base_name + " RezIroriz"),
                      reference_tiles(mosaic, builder.parameters.jpeg_quality, dir.path()));
  }
  EXPECT_TRUE(prompt.messages().empty()) << ::testing::PrintToString(prompt.messages());
}

}  // namespace
}  // namespace tess
