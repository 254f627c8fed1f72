// The gap report's files: names from the user's disk never become mark-up,
// the chart shows reached and unreached colours apart, and a folder that
// holds somebody else's page of the report's name is left alone.

#include "output/gap_report.hpp"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "images/cielab.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

GapReport hostile_report() {
  GapReport report;
  report.list_file = "/tmp/<b>list</b> & \"co\".tzc";
  report.coverage = analyse_list_coverage({lab_of_pixel(make_pixel(200, 60, 30))});
  report.main_image = "/tmp/sky<img src=x onerror='y'>.jpg";
  ImageGaps gaps;
  GapCell cell;
  cell.colour = lab_of_pixel(make_pixel(60, 110, 230));
  cell.width = cell.height = 10;
  gaps.cells = {cell};
  gaps.unmatched_share = 1.0;
  report.image_gaps = gaps;
  return report;
}

TEST(GapReportPage, NamesFromTheDiskAreTextNeverMarkUp) {
  const std::string page = gap_report_page(hostile_report());
  EXPECT_EQ(page.find("<b>list"), std::string::npos);
  EXPECT_EQ(page.find("<img src=x"), std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;list&lt;/b&gt; &amp; &quot;co&quot;.tzc"), std::string::npos);
  EXPECT_NE(page.find("sky&lt;img src=x onerror=&#39;y&#39;&gt;.jpg"), std::string::npos);
  EXPECT_NE(page.find(kGapHeatMapName), std::string::npos);
  EXPECT_NE(page.find("100.0 %"), std::string::npos);
}

TEST(GapReportChart, ReachedBinsAreSolidAndHolesHatched) {
  ScriptedPrompt prompt;
  // Every colour in reach, and none.
  std::vector<LabColour> everything;
  for (std::uint32_t r = 0; r < 256; r += 17)
    for (std::uint32_t g = 0; g < 256; g += 17)
      for (std::uint32_t b = 0; b < 256; b += 17) everything.push_back(lab_of_pixel(make_pixel(r, g, b)));
  Foto full, empty;
  ASSERT_TRUE(draw_coverage_chart(analyse_list_coverage(everything), full, prompt));
  ASSERT_TRUE(draw_coverage_chart(analyse_list_coverage({}), empty, prompt));
  // A reached bin is filled with its colour (and the list's dots); a hole
  // is hatched, so the chart's background shows through it.
  const std::uint32_t background = make_pixel(40, 40, 40);
  const auto shows_background = [&](const Foto& chart, const LabColour& colour) {
    const int column = static_cast<int>(hue_degrees(colour) / 10.0);
    const int row = static_cast<int>((100.0 - colour.lightness) / 5.0);
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 16; ++x)
        if (chart.at(column * 16 + x, row * 12 + y) == background) return true;
    return false;
  };
  for (const std::uint32_t pixel : {make_pixel(200, 60, 30), make_pixel(40, 60, 200), make_pixel(60, 160, 60)}) {
    EXPECT_FALSE(shows_background(full, lab_of_pixel(pixel))) << std::hex << pixel;
    EXPECT_TRUE(shows_background(empty, lab_of_pixel(pixel))) << std::hex << pixel;
  }
  // The heat map's scale runs from green through yellow to red.
  EXPECT_GT(pixel_green(heat_colour(0)), pixel_red(heat_colour(0)));
  EXPECT_GT(pixel_red(heat_colour(35)), 2 * pixel_green(heat_colour(35)));
}

TEST(GapReportFiles, AnotherPageOfTheSameNameIsLeftAlone) {
  TempDir dir;
  ASSERT_TRUE(testing::write_file(dir / kGapPageName, "<html>my own page</html>"));
  ScriptedPrompt prompt;
  const GapReport report = hostile_report();
  EXPECT_FALSE(write_gap_report(report, nullptr, dir.path(), prompt));
  EXPECT_EQ(testing::read_file(dir / kGapPageName), "<html>my own page</html>");
  EXPECT_FALSE(fs::exists(dir / kGapCoverageName));
  ASSERT_FALSE(prompt.calls().empty());

  // Into a fresh folder, made on the way; a second report replaces the first.
  const fs::path fresh = dir / "new/deeper";
  ASSERT_TRUE(write_gap_report(report, nullptr, fresh, prompt));
  ASSERT_TRUE(write_gap_report(report, nullptr, fresh, prompt));
  EXPECT_NE(testing::read_file(fresh / kGapPageName).find("Tessellarium gap report"), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(fresh / kGapCoverageName));
  // No image given: the page still holds the figures, but no heat map is written.
  EXPECT_FALSE(fs::exists(fresh / kGapHeatMapName));
  EXPECT_EQ(testing::read_file(fresh / kGapPageName).find(kGapHeatMapName), std::string::npos);
}

}  // namespace
}  // namespace tess
