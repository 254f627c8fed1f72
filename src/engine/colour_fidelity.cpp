#include "engine/colour_fidelity.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "base/text.hpp"
#include "images/cielab.hpp"

namespace tess {
namespace {

LabColour lab_of(const std::array<double, 3>& rgb) { return srgb_to_lab(rgb[0], rgb[1], rgb[2]); }

double mean_of(const std::vector<double>& values) {
  if (values.empty()) return 0;
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

}  // namespace

void for_each_cell_colours(const PuzzleGrid& grid, const std::vector<TileRenderRecord>& records,
                           const std::function<void(const CellColours&)>& visit) {
  const std::size_t count = std::min(grid.size(), records.size());
  for (std::size_t i = 0; i < count; ++i) {
    const PuzzleInfo& cell = grid.cell(i);
    const TileRenderRecord& record = records[i];
    if (cell.tile == nullptr || record.measured == 0) continue;
    const std::uint32_t main = cell.signature.overall();
    CellColours colours;
    colours.main = {static_cast<double>(pixel_red(main)), static_cast<double>(pixel_green(main)),
                    static_cast<double>(pixel_blue(main))};
    for (std::size_t c = 0; c < 3; ++c) {
      colours.before[c] = record.mean_before[c];
      colours.after[c] = record.mean_after[c];
    }
    visit(colours);
  }
}

ColourFidelity measure_colour_fidelity(const PuzzleGrid& grid, const std::vector<TileRenderRecord>& records) {
  std::vector<double> before;
  std::vector<double> after;
  for_each_cell_colours(grid, records, [&before, &after](const CellColours& cell) {
    const LabColour main = lab_of(cell.main);
    before.push_back(ciede2000(main, lab_of(cell.before)));
    after.push_back(ciede2000(main, lab_of(cell.after)));
  });
  return summarise_colour_differences(std::move(before), std::move(after));
}

ColourFidelity summarise_colour_differences(std::vector<double> before, std::vector<double> after) {
  ColourFidelity figures;
  figures.cells = std::min(before.size(), after.size());
  if (figures.cells == 0) return ColourFidelity{};
  figures.mean_before = mean_of(before);
  figures.mean_after = mean_of(after);
  figures.p95_before = percentile(std::move(before), 0.95);
  figures.p95_after = percentile(std::move(after), 0.95);
  return figures;
}

double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const double rank = std::clamp(fraction, 0.0, 1.0) * static_cast<double>(values.size() - 1);
  const auto below = static_cast<std::size_t>(std::floor(rank));
  const std::size_t above = std::min(below + 1, values.size() - 1);
  return values[below] + (values[above] - values[below]) * (rank - static_cast<double>(below));
}

std::string colour_fidelity_text(const ColourFidelity& figures) {
  if (figures.has_far())
    return format(tr("Colour difference to the main image (CIEDE2000): before the colour change mean %.2f, 95th "
                     "percentile %.2f; after it mean %.2f, 95th percentile %.2f; seen from afar mean %.2f, 95th "
                     "percentile %.2f"),
                  figures.mean_before, figures.p95_before, figures.mean_after, figures.p95_after, figures.far_mean,
                  figures.far_p95);
  return format(tr("Colour difference to the main image (CIEDE2000): before the colour change mean %.2f, 95th "
                   "percentile %.2f; after it mean %.2f, 95th percentile %.2f"),
                figures.mean_before, figures.p95_before, figures.mean_after, figures.p95_after);
}

}  // namespace tess
