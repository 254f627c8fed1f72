#include "output/text_report.hpp"

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/run_driver.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "settings/mosaic_parameters.hpp"
#include "support/test_support.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;

constexpr const char* kMismatchWarning =
    "Warning: There is a mismatch between the reported Mosaic Size and the effective Mosaic Size. Please check the "
    "Text Report and sent it to the developer of Tessellarium.";

// Four 40 × 30 tiles on an 80 × 60 mosaic, plus a large cell that does not
// count towards the extent; two pictures, one of them used twice and one with
// a comma and quotes in its name.
ReportInput small_report() {
  ReportInput in;
  in.main_width = 400;
  in.main_height = 300;
  in.mosaic_width = 80;
  in.mosaic_height = 60;
  in.colour_change = 30;
  in.duplicate_spacing = 3;
  in.consecutive_frames = 0;
  in.algorithm = "High Quality";
  in.pattern = "Landscape";
  in.adaptation = "Adapt Tile";
  in.half_tiles = 10;
  in.quarter_tiles = 5;
  in.area_priority = "PRIORITY_AND_QUALITY";
  in.size_priority = "NORMAL";
  in.tile_split = "0";
  in.ppi = 300;
  in.pictures = {{"/t/a.jpg", 1}, {"/t/b,\"x\".jpg", 3}};
  in.tiles = {
      {0, 0, 40, 30, true, 20, 100, 0},
      {40, 0, 40, 30, true, 40, 300, 1},
      {0, 30, 40, 30, true, 10, 200, 0},
      {40, 30, 40, 30, true, 20, kScoreUnusable, -1},
      {0, 0, 500, 100, false, 20, 7, -1},
  };
  return in;
}

TEST(TextReport, SmallReportIsExactToTheByte) {
  const std::string expected =
      "\xEF\xBB\xBF"
      "Main Image Size (Width x Height in Pixels):,400,x,300\r\n"
      "Mosaic Size (Width x Height in Pixels):,80,x,60\r\n"
      "Tiles with a image:,3\r\n"
      "Tiles without a image:,2\r\n"
      "Unique number of images used as tiles:,2\r\n"
      "Average Tile Quality:,50.00%,Score:,200\r\n"
      "Best Tile Quality:,100.00%,Score:,100\r\n"
      "Worst Tile Quality:,0.00%,Score:,300\r\n"
      "How much can I modify every tile:,30%\r\n"
      "Minimum distance between duplicate tiles:,3\r\n"
      "Minimum distance between sequences:,0\r\n"
      "Algorithm:,High Quality\r\n"
      "Pattern:,Landscape\r\n"
      "Adapt Tile/Mosaic size:,Adapt Tile\r\n"
      "Multiple Tile Size 1/2:,10%\r\n"
      "Multiple Tile Size 1/4:,5%\r\n"
      "Tile Area Priority:,PRIORITY_AND_QUALITY\r\n"
      "Tile Size Priority:,NORMAL\r\n"
      "Tile Split:,0\r\n"
      "MaskFile:,\r\n"
      "Pixels x Inch PPI:300.000000\r\n"
      "\r\n"
      "Left,Top,Width,Height,Size KPixels,Image,ImageID/Sequence,Tile Quality,Tile Priority,Score,Used Count,Tile#,"
      "Image#\r\n"
      "0,0,40,30,1 ,\"/t/a.jpg\",1,100.00%,100%,100,2,1,1\r\n"
      "40,0,40,30,1 ,\"/t/b,\"\"x\"\".jpg\",3,0.00%,200%,300,1,2,2\r\n"
      "0,30,40,30,1 ,\"/t/a.jpg\",1,50.00%,50%,200,2,3,1\r\n"
      "40,30,40,30,1 ,-,0,0.00%,100%,4294967295,0,4,0\r\n"
      "0,0,500,100,50!,-,0,0.00%,100%,7,0,5,0\r\n"
      "\r\n"
      "Image#,Image,Used Count\r\n"
      "1,\"/t/a.jpg\",2\r\n"
      "2,\"/t/b,\"\"x\"\".jpg\",1\r\n";
  EXPECT_EQ(text_report_text(small_report()), expected);
}

TEST(TextReport, ColourDifferencesCloseTheSummaryOnlyWhenCellsWereMeasured) {
  ReportInput in = small_report();
  in.colour = {3, 12.344, 20.5, 4.006, 7.25};
  const std::string text = text_report_text(in);
  EXPECT_NE(text.find("Pixels x Inch PPI:300.000000\r\n"
                      "Colour Difference before Colour Change (CIEDE2000):,Mean:,12.34,95th Percentile:,20.50\r\n"
                      "Colour Difference after Colour Change (CIEDE2000):,Mean:,4.01,95th Percentile:,7.25\r\n"
                      "\r\nLeft,Top,"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("afar"), std::string::npos) << "no far figures were measured";
  // Without a measured cell the report keeps the lines it always had (above).
  EXPECT_EQ(text_report_text(small_report()).find("Colour Difference"), std::string::npos);
}

TEST(TextReport, TheMosaicSeenFromAfarFollowsTheColourDifferencesWhenMeasured) {
  ReportInput in = small_report();
  in.colour = {3, 12.344, 20.5, 4.006, 7.25};
  in.colour.far_pixels = 96 * 72;
  in.colour.far_mean = 3.054;
  in.colour.far_p95 = 7.396;
  const std::string text = text_report_text(in);
  EXPECT_NE(text.find("Colour Difference after Colour Change (CIEDE2000):,Mean:,4.01,95th Percentile:,7.25\r\n"
                      "Colour Difference seen from afar (CIEDE2000):,Mean:,3.05,95th Percentile:,7.40\r\n"
                      "\r\nLeft,Top,"),
            std::string::npos)
      << text;
}

TEST(TextReport, NumbersKeepTheirPointWhateverTheNumericLocale) {
  // The machines carry no locale with a decimal comma: compile one for the test.
  TempDir dir;
  const std::string command = "localedef -i de_DE -f UTF-8 " + (dir / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE";
  testing::ScopedEnv locale_path("LOCPATH", dir.path().string());
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
  const std::string text = text_report_text(small_report());
  std::setlocale(LC_NUMERIC, before.c_str());
  EXPECT_NE(text.find("Average Tile Quality:,50.00%"), std::string::npos) << text;
  EXPECT_NE(text.find("Pixels x Inch PPI:300.000000\r\n"), std::string::npos);
  EXPECT_NE(text.find(",50.00%,50%,200,2,3,1\r\n"), std::string::npos);
}

TEST(TextReport, EqualScoresAreAllFullQuality) {
  for (const std::uint32_t score : {0u, 5000u}) {
    ReportInput in = small_report();
    in.tiles.resize(3);
    for (ReportTile& t : in.tiles) t.score = score;
    const std::string text = text_report_text(in);
    EXPECT_NE(text.find(",100.00%,100%," + std::to_string(score) + ",2,1,1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(",100.00%,200%," + std::to_string(score) + ",1,2,2\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(",100.00%,50%," + std::to_string(score) + ",2,3,1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Average Tile Quality:,100.00%,Score:," + std::to_string(score) + "\r\n"), std::string::npos);
  }
  // A worst score of 0 counts as 1, so the scale keeps a step.
  ReportInput zero = small_report();
  for (ReportTile& t : zero.tiles) t.score = 0;
  const ReportFigures f = compute_report_figures(zero);
  EXPECT_EQ(f.best, 0u);
  EXPECT_EQ(f.worst, 1u);
}

TEST(TextReport, MosaicWithoutPicturesAveragesZero) {
  ReportInput in = small_report();
  for (ReportTile& t : in.tiles) t.picture = -1;
  in.pictures.clear();
  const ReportFigures f = compute_report_figures(in);
  EXPECT_EQ(f.with_picture, 0);
  EXPECT_EQ(f.without_picture, 5);
  EXPECT_EQ(f.average, 0u);
  const std::string text = text_report_text(in);
  EXPECT_NE(text.find(",Score:,0\r\nBest"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 27), "\r\nImage#,Image,Used Count\r\n");
}

TEST(TextReport, EqualNamesShareTheirNumberAndCountsFollowTheTiles) {
  ReportInput in = small_report();
  in.pictures = {{"a", 1}, {"b", 2}, {"a", 3}};
  in.tiles = {{0, 0, 10, 10, true, 20, 1, 2}, {10, 0, 10, 10, true, 20, 1, 1}, {20, 0, 10, 10, true, 20, 1, 2}};
  const ReportFigures f = compute_report_figures(in);
  EXPECT_EQ(f.picture_numbers, (std::vector<long>{1, 2, 1}));
  EXPECT_EQ(f.use_counts, (std::vector<long>{0, 1, 2}));
}

TEST(TextReport, RealSizeTextAndWarningOnlyWhenBothSidesDiffer) {
  TempDir dir;
  {
    // Only the width differs: nothing to warn about.
    ReportInput in = small_report();
    in.mosaic_width = 81;
    ScriptedPrompt prompt;
    ASSERT_TRUE(write_text_report_file(dir / "w.csv", in, prompt));
    EXPECT_TRUE(prompt.calls().empty());
    const std::string text = read_file(dir / "w.csv");
    EXPECT_EQ(text.find("Real Mosaic Size"), std::string::npos);
    EXPECT_EQ(text, text_report_text(in));
  }
  {
    ReportInput in = small_report();
    in.mosaic_width = 81;
    in.mosaic_height = 62;
    ScriptedPrompt prompt;
    ASSERT_TRUE(write_text_report_file(dir / "wh.csv", in, prompt));
    ASSERT_EQ(prompt.calls().size(), 1u);
    EXPECT_EQ(prompt.calls()[0].text, kMismatchWarning);
    EXPECT_EQ(prompt.calls()[0].icon, Icon::warning);
    const std::string text = read_file(dir / "wh.csv");
    const std::string start =
        "\xEF\xBB\xBF"
        "Main Image Size (Width x Height in Pixels):,400,x,300\r\n"
        "Real Mosaic Size (Width x Height in Pixels):,81,x,62\r\n"
        "Mosaic Size (Width x Height in Pixels):,80,x,60\r\n";
    EXPECT_EQ(text.substr(0, start.size()), start);
  }
}

TEST(TextReport, OnlyRegularFilesAreWrittenAndFailuresLeaveNothing) {
  TempDir dir;
  ScriptedPrompt prompt;
  ScriptedPrompt refused;
  // A folder and a pipe of the report's name are left alone and reported (the
  // pipe has no reader: opening it for writing must not hang).
  fs::create_directory(dir / "folder.csv");
  EXPECT_FALSE(write_text_report_file(dir / "folder.csv", small_report(), refused));
  ASSERT_EQ(::mkfifo((dir / "pipe.csv").c_str(), 0600), 0);
  EXPECT_FALSE(write_text_report_file(dir / "pipe.csv", small_report(), refused));
  EXPECT_FALSE(write_text_report_file(dir / "missing" / "r.csv", small_report(), refused));
  EXPECT_EQ(refused.messages().size(), 3u);
  EXPECT_TRUE(fs::is_directory(dir / "folder.csv"));

  // An existing report is replaced whole.
  ASSERT_TRUE(testing::write_file(dir / "old.csv", std::string(100000, 'x')));
  ASSERT_TRUE(write_text_report_file(dir / "old.csv", small_report(), prompt));
  EXPECT_EQ(read_file(dir / "old.csv"), text_report_text(small_report()));

  // A write that runs out of room: the partial file goes and the user is told.
  ReportInput big = small_report();
  for (int i = 0; i < 5000; ++i) big.tiles.push_back({i, 0, 1, 1, true, 20, 150, 0});
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small_limit = old_limit;
  small_limit.rlim_cur = 70000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small_limit), 0);
  const bool written = write_text_report_file(dir / "full.csv", big, prompt);
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(written);
  EXPECT_FALSE(fs::exists(dir / "full.csv"));
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_EQ(prompt.messages()[0], "Unable to save file '" + (dir / "full.csv").string() +
                                      "'. File too large: " + (dir / "full.csv").string());
}

TEST(TextReport, LargeReportsArriveInBlocks) {
  ReportInput big = small_report();
  for (int i = 0; i < 20000; ++i) big.tiles.push_back({i, 0, 1, 1, true, 20, 150, i % 2});
  const std::string whole = text_report_text(big);
  std::string joined;
  std::size_t blocks = 0;
  std::size_t largest = 0;
  ASSERT_TRUE(compose_text_report(big, compute_report_figures(big), [&](std::string_view block) {
    ++blocks;
    largest = std::max(largest, block.size());
    joined += block;
    return true;
  }));
  EXPECT_EQ(joined, whole);
  EXPECT_GT(blocks, 5u);
  EXPECT_LT(largest, 80u * 1024u);
  // A failing sink ends the composition at once.
  blocks = 0;
  EXPECT_FALSE(compose_text_report(big, compute_report_figures(big), [&](std::string_view) {
    ++blocks;
    return false;
  }));
  EXPECT_EQ(blocks, 1u);
}

TEST(TextReportPieces, FnvHashAndQuoting) {
  EXPECT_EQ(fnv1a_64(""), 0xCBF29CE484222325ull);
  EXPECT_EQ(fnv1a_64("a"), 0xAF63DC4C8601EC8Cull);
  EXPECT_EQ(fnv1a_64("FNV Hash Test"), 0xA4F804419AD5B1F9ull);
  EXPECT_EQ(fnv1a_64("\xFF"), (0xCBF29CE484222325ull ^ 0xFFull) * 0x100000001B3ull);  // bytes are unsigned
  EXPECT_TRUE(hash_self_test());

  EXPECT_EQ(quoted_csv_name("plain.jpg"), "\"plain.jpg\"");
  EXPECT_EQ(quoted_csv_name("a,b \"c\".jpg"), "\"a,b \"\"c\"\".jpg\"");
  EXPECT_EQ(quoted_csv_name(""), "\"\"");
}

TEST(TextReportPieces, DisplayNamesAndResolution) {
  EXPECT_EQ(processing_display_name(kProcessingStandard), "High Quality");
  EXPECT_EQ(processing_display_name(kProcessingStandard1), "Experimental (No-Duplicates)");
  EXPECT_EQ(processing_display_name(kProcessingStandard2), "standard2");
  EXPECT_EQ(pattern_display_name(PatternCode::parquet_1to1), "Parquet (1:1)");
  EXPECT_EQ(adaptation_display_name(kAdaptNo), "Original");
  EXPECT_EQ(adaptation_display_name(kAdaptTileSize), "Adapt Tile");
  EXPECT_EQ(adaptation_display_name(kAdaptMosaicSize), "Adapt Mosaic");

  MosaicParameters p;
  p.resolution = {254, kUnitDpi};
  EXPECT_EQ(resolution_ppi(p), 254.0);
  p.resolution = {72.5, kUnitPpi};
  EXPECT_EQ(resolution_ppi(p), 72.5);

  EXPECT_EQ(text_report_path("/out/My Mosaic").string(), "/out/My Mosaic Text Report.csv");
}

TileSignature uniform(std::uint32_t colour) {
  TileSignature s;
  s.samples.fill(colour);
  s.opaque = 1;
  s.analysed = 1;
  return s;
}

TEST(TextReportOfARun, GathersTheGridScoresAgainAndNumbersByTheList) {
  ScriptedPrompt prompt;
  MosaicBuilder builder(prompt);
  TileImageList list;
  for (const char* path : {"/p/a.jpg", "/p/b.jpg", "/p/c.jpg", "/p/d.jpg"}) {
    FotoInfo info(path);
    info.signature = uniform(make_pixel(static_cast<std::uint8_t>(path[3] * 2), 90, 40));
    info.usable = 1;
    list.insert(info);
  }
  builder.tile_list = &list;
  builder.parameters.processing = kProcessingFaster;
  builder.parameters.pattern = PatternCode::parquet_1to1;
  builder.grid.reset(300, 100, 1.0, 0, false);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(builder.grid.add_cell({i * 100, 0, 100, 100}));
    PuzzleInfo& cell = builder.grid.cell(static_cast<std::size_t>(i));
    cell.active = 1;
    cell.signature = uniform(make_pixel(200, 90, 40));
    cell.score = 12345;  // stale: the report takes the score again
  }
  builder.grid.cell(0).tile = list.find("/p/d.jpg");
  builder.grid.cell(1).tile = list.find("/p/b.jpg");
  builder.grid.cell(0).priority = 30;

  ScoreTables tables;
  RunResult result;
  result.main_width = 640;
  result.main_height = 480;
  result.mask_file = "/masks/m,1.png";
  const ReportInput in = gather_report_input(builder, tables, result);

  ASSERT_EQ(in.pictures.size(), 2u);
  EXPECT_EQ(in.pictures[0].name, "/p/b.jpg");
  EXPECT_EQ(in.pictures[0].sequence, 2u);
  EXPECT_EQ(in.pictures[1].name, "/p/d.jpg");
  EXPECT_EQ(in.pictures[1].sequence, 4u);
  ASSERT_EQ(in.tiles.size(), 3u);
  EXPECT_EQ(in.tiles[0].picture, 1);
  EXPECT_EQ(in.tiles[1].picture, 0);
  EXPECT_EQ(in.tiles[2].picture, -1);
  EXPECT_EQ(in.tiles[2].score, 12345u);  // an empty cell keeps what it had
  const PuzzleInfo& first = builder.grid.cell(0);
  const std::uint32_t rescored = score_tile(tables, first.signature, 30, first.tile->signature).score;
  EXPECT_EQ(first.score, rescored);
  EXPECT_EQ(in.tiles[0].score, rescored);
  EXPECT_EQ(in.algorithm, "Faster");
  EXPECT_EQ(in.pattern, "Parquet (1:1)");

  // The whole step, beside the output base; a mask path with a comma stays one column.
  TempDir dir;
  result.output_base = (dir / "Mosaic").string();
  ASSERT_TRUE(write_text_report(builder, tables, result));
  const std::string text = read_file(dir / "Mosaic Text Report.csv");
  EXPECT_NE(text.find("MaskFile:,\"/masks/m,1.png\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("0,0,100,100,10 ,\"/p/d.jpg\",4,"), std::string::npos) << text;
  EXPECT_NE(text.find("200,0,100,100,10 ,-,0,0.00%,100%,12345,0,3,0\r\n"), std::string::npos) << text;
  EXPECT_TRUE(prompt.calls().empty());
}

}  // namespace
}  // namespace tess
