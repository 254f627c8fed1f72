#pragma once
// The library gap report as pictures and a page: the coverage chart of a
// list's colours, the heat map of a main image's cells and a small HTML page
// that shows both with the holes and the colours to add. The desktop window
// shows the same pictures; the command line writes the files.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "images/foto.hpp"
#include "tilelist/colour_gaps.hpp"

namespace tess {

class Prompt;

/// What a report holds: always the list's coverage, and with a main image
/// the cells' distances.
struct GapReport {
  std::string list_file;
  ListCoverage coverage;
  std::string main_image;  ///< empty without one
  std::optional<ImageGaps> image_gaps;
};

/// The names of the report's own files in its folder.
inline constexpr const char* kGapPageName = "gap-report.html";
inline constexpr const char* kGapCoverageName = "gap-coverage.png";
inline constexpr const char* kGapHeatMapName = "gap-heat-map.png";

/// The colour the heat map gives a cell `delta` ΔE from its nearest tile:
/// green where a tile matches, through yellow at kGapDeltaE, to red; magenta
/// where no tile may fill the cell at all.
std::uint32_t heat_colour(double delta);

/// The coverage chart: hue across, lightness down, each bin in its own
/// colour where tiles reach it and hatched where none does; the greys in a
/// column at the right; the list's colours as dots.
[[nodiscard]] bool draw_coverage_chart(const ListCoverage& coverage, Foto& out, Prompt& prompt);

/// The heat map: the main image in grey, each cell tinted by heat_colour()
/// of its distance; at most `longest_side` pixels a side.
[[nodiscard]] bool draw_heat_map(const ImageGaps& gaps, const Foto& image, Foto& out, Prompt& prompt,
                                 int longest_side = 900);

/// The page (every text translated and escaped), its pictures named as
/// above; without `heat_map` it shows the image's figures but no picture.
std::string gap_report_page(const GapReport& report, bool heat_map = true);

/// Where a report of `list_file` goes unless the user names a folder: a
/// folder "<list name> gaps" beside the list.
std::filesystem::path default_gap_report_folder(const std::string& list_file);

/// Writes the pictures and then the page into `folder` (made when missing),
/// each file whole or not at all. A folder that already holds a file of one
/// of those names that an earlier report did not write is refused, so
/// nobody's file is replaced unasked. False after a message through `prompt`.
[[nodiscard]] bool write_gap_report(const GapReport& report, const Foto* image, const std::filesystem::path& folder,
                                    Prompt& prompt);

}  // namespace tess
