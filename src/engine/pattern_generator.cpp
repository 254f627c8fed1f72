#include "engine/pattern_generator.hpp"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>

#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/progress_model.hpp"

namespace tess {
namespace {

std::int64_t ceil_div(std::int64_t a, std::int64_t b) { return b > 0 ? (a + b - 1) / b : 0; }

/// Clamps each cell to the final mosaic, drops what is left empty and
/// passes the rest on. The generator works one gap beyond the final size,
/// so clamping here keeps the border strip free of slivers.
class Emitter {
 public:
  Emitter(const PatternInput& input, const CellSink& sink) : m_input(input), m_sink(sink) {}

  /// False when the sink refused the cell. `emitted` tells whether one was passed on.
  bool add(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h, bool& emitted) {
    emitted = false;
    const std::int64_t x0 = std::clamp<std::int64_t>(x, 0, m_input.width);
    const std::int64_t y0 = std::clamp<std::int64_t>(y, 0, m_input.height);
    const std::int64_t x1 = std::clamp<std::int64_t>(x + w, 0, m_input.width);
    const std::int64_t y1 = std::clamp<std::int64_t>(y + h, 0, m_input.height);
    if (x1 <= x0 || y1 <= y0) return true;
    emitted = true;
    return m_sink(CellRect{x0, y0, x1 - x0, y1 - y0});
  }

 private:
  const PatternInput& m_input;
  const CellSink& m_sink;
};

bool generate_rows(const PatternInput& in, const GeneratorParameters& p, GeneratorMode mode, Emitter& emit,
                   PatternRun& run) {
  const bool building = mode == GeneratorMode::building;
  const std::int64_t Wg = in.work_width();
  const std::int64_t Hg = in.work_height();
  const std::int64_t G = in.gap;
  const std::int64_t Lw = in.long_side;
  const std::int64_t Sw = in.short_side;
  const std::int64_t cycle = std::max(1, p.first + p.second);
  const std::int64_t k = std::max(1, p.stagger);
  const auto landscape_row = [&](std::int64_t i) { return i % cycle < p.first; };

  // Step 1: the rows that fit whole leave a vertical leftover, which the
  // first rows share out one extra each.
  std::int64_t V = 0;
  std::int64_t ev = 0;
  if (building) {
    std::int64_t used = 0;
    std::int64_t n = 0;
    for (std::int64_t i = 0;; ++i) {
      const std::int64_t step = (landscape_row(i) ? Sw : Lw) + G;
      if (used + step > Hg) break;
      used += step;
      ++n;
    }
    V = Hg - used;
    ev = n > 0 ? ceil_div(V, n) : 0;  // no whole row fits: nothing to share
  }

  // Step 2: the same across, per kind of row.
  std::int64_t h1 = 0, e1 = 0, h2 = 0, e2 = 0;
  if (building) {
    const std::int64_t r1 = Wg / (Lw + G);
    const std::int64_t r2 = Wg / (Sw + G);
    h1 = Wg % (Lw + G);
    h2 = Wg % (Sw + G);
    e1 = r1 > 0 ? ceil_div(h1, r1) : 0;
    e2 = r2 > 0 ? ceil_div(h2, r2) : 0;
  }
  if (p.first > 0) {
    run.cell_width = e1 + Lw;
    run.cell_height = ev + Sw;
  } else {
    run.cell_width = e2 + Sw;
    run.cell_height = ev + Lw;
  }

  // Steps 3 to 7: rows from the top.
  std::int64_t y = 0;
  for (std::int64_t i = 0; y < Hg; ++i) {
    const bool landscape = landscape_row(i);
    const std::int64_t extra_height = std::min(V, ev);
    V -= extra_height;
    const std::int64_t row_height = (landscape ? Sw : Lw) + extra_height;
    const std::int64_t w = landscape ? Lw : Sw;
    const std::int64_t e = landscape ? e1 : e2;
    std::int64_t E = landscape ? h1 : h2;
    const std::int64_t u = w + e + G;
    std::int64_t D = (u * i / k) % u;

    std::int64_t cells = 0;
    bool emitted = false;
    if (D > G + 5) {
      // A staggered row starts with the part of a cell that fits before its offset.
      if (!emit.add(0, y, D - G, row_height, emitted)) return false;
      cells += emitted ? 1 : 0;
      E -= e;
    }
    while (D < Wg) {
      const std::int64_t x = E > 0 ? std::min(E, e) : 0;
      E -= x;
      if (!emit.add(D, y, w + x, row_height, emitted)) return false;
      cells += emitted ? 1 : 0;
      D += w + x + G;
    }
    if (i == 0) run.columns = cells;
    if (cells > 0) ++run.rows;
    y += row_height + G;
  }
  return true;
}

/// One diagonal run of parquet cells from (x, y), each d further right and
/// down, while the cells start above Hg and the next one starts left of Wg.
bool parquet_run(Emitter& emit, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h, std::int64_t d,
                 std::int64_t Wg, std::int64_t Hg) {
  // The run ends with the first cell whose successor would start at or
  // beyond Wg.
  const std::int64_t last = Wg - x > 0 ? std::max<std::int64_t>(0, ceil_div(Wg - x, d) - 1) : 0;
  // Cells wholly above or left of the mosaic are skipped arithmetically,
  // since runs of later cycles start far outside it.
  std::int64_t k = 0;
  const std::int64_t outside = std::max(-(y + h), -(x + w));
  if (outside >= 0) k = outside / d;
  bool emitted = false;
  for (; k <= last && y + k * d < Hg; ++k)
    if (!emit.add(x + k * d, y + k * d, w, h, emitted)) return false;
  return true;
}

bool generate_parquet(const PatternInput& in, const GeneratorParameters& p, Emitter& emit) {
  const std::int64_t Wg = in.work_width();
  const std::int64_t Hg = in.work_height();
  const std::int64_t G = in.gap;
  const std::int64_t Lw = in.long_side;
  const std::int64_t Sw = in.short_side;
  const std::int64_t m = std::max(1, p.first + p.second);
  const std::int64_t d = std::min(Lw, Sw) + G;
  const std::int64_t shift = std::abs(Lw - Sw);
  const auto first_kind = [&](std::int64_t run) { return run % m < p.first; };
  const auto cell_width = [&](std::int64_t run) { return first_kind(run) ? Lw : Sw; };
  const auto cell_height = [&](std::int64_t run) { return first_kind(run) ? Sw : Lw; };

  // First pass: runs starting along the top edge, going right.
  std::int64_t X = 0;
  std::int64_t Y = 0;
  for (std::int64_t i = 0; X < Wg; ++i) {
    if (!parquet_run(emit, X, Y, cell_width(i), cell_height(i), d, Wg, Hg)) return false;
    X += cell_width(i) + G;
    if (!first_kind(i + 1)) Y -= shift;
  }

  // Second pass: runs starting along the left edge, going down.
  std::int64_t Xl = 0;
  std::int64_t Yl = cell_height(0) + G;
  for (std::int64_t j = p.first; Yl < Hg; ++j) {
    if (Xl < Wg && !parquet_run(emit, Xl, Yl, cell_width(j), cell_height(j), d, Wg, Hg)) return false;
    if (first_kind(j + 1)) Xl -= shift;
    Yl += cell_height(j) + G;
  }
  return true;
}

}  // namespace

std::optional<GeneratorParameters> pattern_generator_parameters(PatternCode pattern) {
  using K = GeneratorKind;
  switch (pattern) {
    case PatternCode::landscape: return GeneratorParameters{K::rows, 1, 0, 1};
    case PatternCode::landscape_2_rows: return GeneratorParameters{K::rows, 1, 0, 2};
    case PatternCode::landscape_3_rows: return GeneratorParameters{K::rows, 1, 0, 3};
    case PatternCode::landscape_5_rows: return GeneratorParameters{K::rows, 1, 0, 5};
    case PatternCode::landscape_7_rows: return GeneratorParameters{K::rows, 1, 0, 7};
    case PatternCode::landscape_10_rows: return GeneratorParameters{K::rows, 1, 0, 10};
    case PatternCode::portrait: return GeneratorParameters{K::rows, 0, 1, 1};
    case PatternCode::portrait_2_rows: return GeneratorParameters{K::rows, 0, 1, 2};
    case PatternCode::portrait_3_rows: return GeneratorParameters{K::rows, 0, 1, 3};
    case PatternCode::portrait_5_rows: return GeneratorParameters{K::rows, 0, 1, 5};
    case PatternCode::parquet_1to1: return GeneratorParameters{K::parquet, 1, 1, 1};
    case PatternCode::parquet_2to1: return GeneratorParameters{K::parquet, 2, 1, 1};
    case PatternCode::parquet_3to1: return GeneratorParameters{K::parquet, 3, 1, 1};
    case PatternCode::parquet_5to1: return GeneratorParameters{K::parquet, 5, 1, 1};
    case PatternCode::parquet_1to2: return GeneratorParameters{K::parquet, 1, 2, 1};
    case PatternCode::parquet_1to3: return GeneratorParameters{K::parquet, 1, 3, 1};
    case PatternCode::parquet_1to5: return GeneratorParameters{K::parquet, 1, 5, 1};
    default: break;
  }
  // Mixed rows: one portrait row after 1, 2, 3, 5 or 8 landscape rows, or one
  // landscape row before 2, 3 or 5 portrait rows; the second set staggers.
  static constexpr int kLandscapeRuns[] = {1, 2, 3, 5, 8};
  static constexpr int kPortraitRuns[] = {2, 3, 5};
  for (int stagger = 1; stagger <= 2; ++stagger) {
    // Each set is a run of eight consecutive pattern numbers.
    const std::int32_t base = pattern_number(stagger == 1 ? PatternCode::mixed_1to1 : PatternCode::mixed_b_1to1);
    const std::int32_t n = pattern_number(pattern);
    if (n >= base && n < base + 5) return GeneratorParameters{K::rows, kLandscapeRuns[n - base], 1, stagger};
    if (n >= base + 5 && n < base + 8) return GeneratorParameters{K::rows, 1, kPortraitRuns[n - base - 5], stagger};
  }
  return std::nullopt;
}

bool PatternInput::valid() const {
  // Beyond 2^31 grid units no cell position fits the grid's 32-bit fields.
  constexpr std::int64_t kLimit = 0x7FFFFFFF;
  return long_side >= 1 && short_side >= 1 && gap >= 0 && width >= 1 && height >= 1 && long_side <= kLimit &&
         short_side <= kLimit && gap <= kLimit && width + gap <= kLimit && height + gap <= kLimit;
}

bool generate_pattern(const PatternInput& input, GeneratorMode mode, const CellSink& sink, PatternRun* run) {
  PatternRun local;
  PatternRun& out = run != nullptr ? *run : local;
  out = PatternRun{};
  if (!input.valid()) return false;
  const auto parameters = pattern_generator_parameters(input.pattern);
  if (!parameters) return false;
  // The tile's sides are told apart here, so callers may pass them either way round.
  PatternInput sorted = input;
  sorted.long_side = std::max(input.long_side, input.short_side);
  sorted.short_side = std::min(input.long_side, input.short_side);
  Emitter emit(sorted, sink);
  if (parameters->kind == GeneratorKind::rows) return generate_rows(sorted, *parameters, mode, emit, out);
  return generate_parquet(sorted, *parameters, emit);
}

std::optional<PatternCellCounts> count_pattern_cells(const PatternInput& input) {
  PatternCellCounts counts;
  PatternRun run;
  const bool ok = generate_pattern(
      input, GeneratorMode::counting,
      [&](const CellRect& cell) {
        ++counts.total;
        ++(cell.width >= cell.height ? counts.landscape : counts.portrait);
        return true;
      },
      &run);
  if (!ok) return std::nullopt;
  counts.columns = run.columns;
  counts.rows = run.rows;
  return counts;
}

double cell_building_progress_total(std::int64_t cells, int half_percent, int quarter_percent) {
  TileCounts counts;
  counts.cells = std::max<std::int64_t>(0, cells);
  counts.split = plan_splits(counts.cells, half_percent, quarter_percent);
  return static_cast<double>(counts.total());
}

PatternInput pattern_input(const MosaicLayout& layout, PatternCode pattern) {
  PatternInput in;
  in.pattern = pattern;
  in.long_side = std::max(layout.tile_width, layout.tile_height);
  in.short_side = std::min(layout.tile_width, layout.tile_height);
  in.gap = layout.border;
  in.width = layout.final_width;
  in.height = layout.final_height;
  in.pixel_scale = 1.0;
  return in;
}

std::int64_t count_layout_cells(const MosaicLayout& layout, PatternCode pattern) {
  return layout_cells(layout, pattern).cells;
}

LayoutCells layout_cells(const MosaicLayout& layout, PatternCode pattern) {
  // Counting mode would count the cut cells the building leaves out and miss
  // the leftovers the building shares out, so the cells are built and
  // forgotten one by one. Sizes are kept long side first, few of them differ.
  LayoutCells result;
  std::map<std::pair<std::int64_t, std::int64_t>, std::int64_t> sizes;
  PatternRun run;
  const bool ok = generate_pattern(
      pattern_input(layout, pattern), GeneratorMode::building,
      [&](const CellRect& cell) {
        ++result.cells;
        ++sizes[{std::max(cell.width, cell.height), std::min(cell.width, cell.height)}];
        return true;
      },
      &run);
  if (!ok || sizes.empty()) return LayoutCells{};
  const auto common = std::max_element(sizes.begin(), sizes.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
  const bool upright = layout.tile_height > layout.tile_width;
  result.cell_width = upright ? common->first.second : common->first.first;
  result.cell_height = upright ? common->first.first : common->first.second;
  result.even = sizes.size() == 1;
  // Parquets have no rows: their grid is the layout's.
  result.columns = run.rows > 0 ? run.columns : layout.columns;
  result.rows = run.rows > 0 ? run.rows : layout.rows;
  return result;
}

bool build_cells_from_pattern(MosaicBuilder& builder, const PatternInput& input) {
  builder.set_status(tr("Building Mosaic Tiles..."));
  PuzzleGrid& grid = builder.grid;
  grid.set_builder(&builder);
  const auto counts = count_pattern_cells(input);
  if (!counts) {
    grid.free();
    return false;
  }
  builder.begin_progress_stage(
      kStageCellBuilding,
      cell_building_progress_total(counts->total, builder.parameters.half_tiles, builder.parameters.quarter_tiles));
  grid.reset(static_cast<std::int32_t>(input.width), static_cast<std::int32_t>(input.height), input.pixel_scale,
             static_cast<std::int32_t>(input.gap), false);

  // Progress goes out in batches so the lock is not taken once per cell.
  constexpr int kProgressBatch = 256;
  int pending = 0;
  PatternRun run;
  const bool ok = generate_pattern(
      input, GeneratorMode::building,
      [&](const CellRect& cell) {
        if (builder.stop_requested() || !grid.add_cell(cell)) return false;
        if (++pending == kProgressBatch) {
          builder.add_progress(pending);
          pending = 0;
        }
        return true;
      },
      &run);
  builder.add_progress(pending);
  if (!ok) {
    grid.free();
    return false;
  }
  grid.columns = static_cast<std::int32_t>(run.columns);
  grid.rows = static_cast<std::int32_t>(run.rows);
  return true;
}

}  // namespace tess
