#include "engine/cell_analysis.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <vector>

#include "base/text.hpp"
#include "engine/job_pool.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/progress_model.hpp"
#include "settings/advanced_options.hpp"

namespace tess {
namespace {

/// A shaped cell is sampled at no more than this many pixels a side before
/// its shape is laid over it; the signature keeps only 12 × 9 of them.
constexpr int kShapeSampleSide = 240;
/// Cells per job when the analysis is spread over threads.
constexpr std::size_t kCellsPerJob = 32;

/// A shaped cell: its region of the picture with the pixels outside the
/// shape emptied, analysed as a whole.
Status analyse_shaped(PuzzleInfo& cell, const Foto& image, double x, double y, double w, double h) {
  const double longer = std::max(cell.width, cell.height);
  const double reduce = longer > kShapeSampleSide ? kShapeSampleSide / longer : 1.0;
  const int sw = std::max(1, static_cast<int>(cell.width * reduce));
  const int sh = std::max(1, static_cast<int>(cell.height * reduce));
  Foto region;
  if (Status status = image.resample(sw, sh, x, y, w, h, region); !status) return status;
  for (int r = 0; r < sh; ++r) {
    const std::uint32_t* shape = cell.shape.row(static_cast<int>(std::int64_t{r} * cell.height / sh));
    std::uint32_t* out = region.row(r);
    for (int c = 0; c < sw; ++c)
      if (pixel_transparency(shape[std::int64_t{c} * cell.width / sw]) >= 255) out[c] = kEmptyPixel;
  }
  return cell.signature.analyse(region, AnalysisMode::fit, 0, 0, sw, sh) ? Status() : Status::refused();
}

struct Point {
  double x;
  double y;
};

}  // namespace

double analysis_scale(int image_width, int image_height, int grid_width, int grid_height, bool adapt) {
  if (image_width <= 0 || image_height <= 0 || grid_width <= 0 || grid_height <= 0) return 0;
  const double sx = static_cast<double>(image_width) / grid_width;
  const double sy = static_cast<double>(image_height) / grid_height;
  return adapt ? std::min(sx, sy) : std::max(sx, sy);
}

Status analyse_cell(PuzzleInfo& cell, const Foto& image, double image_per_pixel) {
  cell.active = 0;
  cell.analysed = 0;
  const double x = cell.left * image_per_pixel;
  const double y = cell.top * image_per_pixel;
  const double w = cell.width * image_per_pixel;
  const double h = cell.height * image_per_pixel;
  if (!(image_per_pixel > 0) || x >= image.width() || y >= image.height() || !(w > 0) || !(h > 0))
    return Status::refused();
  if (cell.has_shape()) {
    if (Status status = analyse_shaped(cell, image, x, y, w, h); !status) return status;
  } else if (!cell.signature.analyse(image, AnalysisMode::fit, x, y, w, h)) {
    return Status::refused();
  }
  cell.analysed = 1;
  cell.active = 1;
  return {};
}

bool analyse_cells(MosaicBuilder& builder, const Foto& image, bool adapt, bool skip_analysed, int threads,
                   ThreadPriority priority) {
  PuzzleGrid& grid = builder.grid;
  builder.set_status(tr("Analyzing Main Image..."));
  builder.begin_progress_stage(kStageMainImageAnalysis, static_cast<double>(grid.size()));

  // Step 1 and 2: the scale, and how much of the grid the picture covers.
  const double scale = analysis_scale(image.width(), image.height(), grid.grid_width(), grid.grid_height(), adapt);
  if (!(scale > 0)) {
    grid.free();
    return false;
  }
  grid.used_width = std::min(grid.grid_width(), static_cast<std::int32_t>(image.width() / scale + 0.9999));
  grid.used_height = std::min(grid.grid_height(), static_cast<std::int32_t>(image.height() / scale + 0.9999));
  const double image_per_pixel = scale / grid.pixel_scale();

  // Step 3: every cell on its own, so the cells can be shared out freely.
  const auto analyse_range = [&](std::size_t first, std::size_t last) {
    std::size_t done = 0;
    for (std::size_t i = first; i < last; ++i) {
      if (builder.stop_requested()) break;
      PuzzleInfo& cell = grid.cell(i);
      // A cell that cannot be analysed stays inactive; only running out of memory is shown.
      if (!(skip_analysed && cell.analysed != 0)) analyse_cell(cell, image, image_per_pixel).ok_or_show(builder.prompt());
      ++done;
    }
    builder.add_progress(static_cast<double>(done));
  };
  const std::size_t count = grid.size();
  if (threads <= 1 || count <= kCellsPerJob) {
    for (std::size_t first = 0; first < count && !builder.stop_requested(); first += kCellsPerJob)
      analyse_range(first, std::min(count, first + kCellsPerJob));
  } else {
    JobPool pool;
    pool.start_threads(threads - 1, priority);
    JobsOutcome jobs;
    {
      JobQueue queue(pool);
      for (std::size_t first = 0; first < count && !builder.stop_requested(); first += kCellsPerJob) {
        const std::size_t last = std::min(count, first + kCellsPerJob);
        queue.submit([&analyse_range, first, last] { analyse_range(first, last); });
      }
      jobs = queue.wait_all();
    }
    pool.shut_down();
    // A cell left unanalysed would be placed as if it were black.
    if (!builder.stop_requested() && !builder.jobs_succeeded(jobs)) return false;
  }
  if (builder.stop_requested()) return false;

  // Step 4: only the cells the picture reaches stay.
  grid.remove_inactive();
  return !grid.empty();
}

void fill_neighbour_lists(PuzzleGrid& grid, int spacing, double tile_width, double tile_height,
                          const std::function<bool()>& stopped, const std::function<void()>& cell_done) {
  const std::size_t n = grid.size();
  for (std::size_t i = 0; i < n; ++i) grid.cell(i).neighbours.clear();
  if (n < 2 || spacing <= 0) return;

  // Pattern layouts measure between centres, mask layouts between corners.
  std::vector<Point> points(n);
  double radius2 = 0;
  if (grid.mask_layout()) {
    for (std::size_t i = 0; i < n; ++i) points[i] = {double(grid.cell(i).left), double(grid.cell(i).top)};
    const double average_area = double(grid.pixel_width()) * double(grid.pixel_height()) / double(n);
    radius2 = double(spacing) * spacing * average_area;
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      const PuzzleInfo& c = grid.cell(i);
      points[i] = {c.left + c.width / 2.0, c.top + c.height / 2.0};
    }
    radius2 = (spacing * tile_width) * (spacing * tile_height);
  }
  if (!(radius2 > 0)) return;
  // Whatever lies closer than the radius lies within it on either axis, so
  // the two sorted indexes bound the search.
  const double radius = std::sqrt(radius2);

  std::vector<std::size_t> by_x(n), by_y(n);
  std::iota(by_x.begin(), by_x.end(), std::size_t{0});
  std::iota(by_y.begin(), by_y.end(), std::size_t{0});
  std::stable_sort(by_x.begin(), by_x.end(), [&](std::size_t a, std::size_t b) { return points[a].x < points[b].x; });
  std::stable_sort(by_y.begin(), by_y.end(), [&](std::size_t a, std::size_t b) { return points[a].y < points[b].y; });
  const auto window = [&](const std::vector<std::size_t>& index, double lo, double hi, bool along_x) {
    const auto key = [&](std::size_t i) { return along_x ? points[i].x : points[i].y; };
    auto first = std::lower_bound(index.begin(), index.end(), lo, [&](std::size_t i, double v) { return key(i) < v; });
    auto last = std::upper_bound(first, index.end(), hi, [&](double v, std::size_t i) { return v < key(i); });
    return std::pair{first, last};
  };

  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < n; ++i) {
    if (stopped && stopped()) return;
    const Point p = points[i];
    const auto [x_first, x_last] = window(by_x, p.x - radius, p.x + radius, true);
    const auto [y_first, y_last] = window(by_y, p.y - radius, p.y + radius, false);
    const bool use_x = (x_last - x_first) <= (y_last - y_first);
    found.clear();
    for (auto it = use_x ? x_first : y_first; it != (use_x ? x_last : y_last); ++it) {
      const std::size_t j = *it;
      if (j == i) continue;
      const double dx = points[j].x - p.x;
      const double dy = points[j].y - p.y;
      if (dx * dx + dy * dy < radius2) found.push_back(j);
    }
    std::sort(found.begin(), found.end());
    auto& list = grid.cell(i).neighbours;
    list.reserve(found.size());
    for (std::size_t j : found) list.push_back(&grid.cell(j));
    if (cell_done) cell_done();
  }
}

void compute_neighbour_lists(MosaicBuilder& builder, double tile_width, double tile_height) {
  const int spacing = builder.parameters.duplicate_spacing;
  if (spacing <= 1 || builder.parameters.consecutive_frames <= 0) return;
  builder.set_status(tr("Calculating Tile Distance..."));
  builder.begin_progress_stage(kStageTileDistance, static_cast<double>(builder.grid.size()));
  fill_neighbour_lists(
      builder.grid, spacing, tile_width, tile_height, [&] { return builder.stop_requested(); },
      [&] { builder.add_progress(1); });
}

PuzzleInfo* split_cell(MosaicBuilder& builder, PuzzleInfo& cell, std::int32_t gap) {
  std::string option = builder.parameters.advanced.value(kOptTilePrioritySize);
  // A record whose options were never initialised gets the option's factory value.
  if (option.empty()) option = advanced_option_table()[kOptTilePrioritySize].factory_default;
  return builder.grid.split(cell, gap, option);
}

}  // namespace tess
