#include "engine/puzzle.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <unordered_set>

#include "base/prompt.hpp"
#include "engine/mosaic_builder.hpp"

namespace tess {
namespace {

std::int32_t saturated_area(std::int64_t width, std::int64_t height) {
  const std::int64_t area = width * height;
  return static_cast<std::int32_t>(std::min<std::int64_t>(area, std::numeric_limits<std::int32_t>::max()));
}

/// Grid units to mosaic pixels. Both edges of a cell go through the same
/// rounding, so cells that touch in grid units touch in pixels too.
std::int64_t to_pixels(std::int64_t units, double scale) {
  if (scale == 1.0) return units;
  return static_cast<std::int64_t>(std::floor(static_cast<double>(units) * scale));
}

/// The columns [x, x + width) of `shape`; false when memory runs out.
Status crop_columns(const Foto& shape, int x, int width, Foto& out) {
  Status status = out.allocate(width, shape.height());
  if (status)
    for (int r = 0; r < shape.height(); ++r) std::copy_n(shape.row(r) + x, width, out.row(r));
  return status;
}

/// The rows [y, y + height) of `shape`.
Status crop_rows(const Foto& shape, int y, int height, Foto& out) {
  Status status = out.allocate(shape.width(), height);
  if (status)
    std::copy_n(shape.row(y), static_cast<std::size_t>(height) * static_cast<std::size_t>(shape.width()),
                out.pixels());
  return status;
}

}  // namespace

void PuzzleGrid::reset(std::int32_t width, std::int32_t height, double pixel_scale, std::int32_t gap,
                       bool mask_layout) {
  free();
  m_grid_width = std::max(0, width);
  m_grid_height = std::max(0, height);
  m_pixel_scale = pixel_scale > 0 && std::isfinite(pixel_scale) ? pixel_scale : 1.0;
  m_pixel_width = static_cast<std::int32_t>(
      std::min<std::int64_t>(to_pixels(m_grid_width, m_pixel_scale), std::numeric_limits<std::int32_t>::max()));
  m_pixel_height = static_cast<std::int32_t>(
      std::min<std::int64_t>(to_pixels(m_grid_height, m_pixel_scale), std::numeric_limits<std::int32_t>::max()));
  m_gap = std::max(0, gap);
  m_mask_layout = mask_layout;
}

void PuzzleGrid::count(const PuzzleInfo& cell, int direction) {
  std::size_t& counter = cell.is_landscape() ? m_landscape : m_portrait;
  if (direction > 0)
    ++counter;
  else if (counter > 0)
    --counter;
}

Prompt& PuzzleGrid::prompt() const { return m_builder != nullptr ? m_builder->prompt() : m_unwatched; }

void PuzzleGrid::report_out_of_memory(std::int64_t width, std::int64_t height) const {
  prompt().message(out_of_memory_text(static_cast<int>(std::min<std::int64_t>(width, 0x7FFFFFFF)),
                                    static_cast<int>(std::min<std::int64_t>(height, 0x7FFFFFFF))) +
                     "!",
                 Icon::error);
}

bool PuzzleGrid::add_cell(const CellRect& rect, bool* added) {
  if (added != nullptr) *added = false;
  const std::int64_t x0 = std::clamp<std::int64_t>(rect.x, 0, m_grid_width);
  const std::int64_t y0 = std::clamp<std::int64_t>(rect.y, 0, m_grid_height);
  const std::int64_t x1 = std::clamp<std::int64_t>(rect.x + rect.width, 0, m_grid_width);
  const std::int64_t y1 = std::clamp<std::int64_t>(rect.y + rect.height, 0, m_grid_height);
  if (x1 <= x0 || y1 <= y0) return true;

  const std::int64_t left = to_pixels(x0, m_pixel_scale);
  const std::int64_t top = to_pixels(y0, m_pixel_scale);
  const std::int64_t width = to_pixels(x1, m_pixel_scale) - left;
  const std::int64_t height = to_pixels(y1, m_pixel_scale) - top;
  if (width <= 0 || height <= 0) return true;  // a scale below 1 can swallow a thin cell
  try {
    auto cell = std::make_unique<PuzzleInfo>();
    cell->left = static_cast<std::int32_t>(left);
    cell->top = static_cast<std::int32_t>(top);
    cell->width = static_cast<std::int32_t>(width);
    cell->height = static_cast<std::int32_t>(height);
    cell->area = saturated_area(width, height);
    m_cells.push_back(std::move(cell));
  } catch (const std::bad_alloc&) {
    report_out_of_memory(width, height);
    return false;
  }
  count(*m_cells.back(), +1);
  if (added != nullptr) *added = true;
  return true;
}

bool PuzzleGrid::add_cell(std::unique_ptr<PuzzleInfo> cell) {
  if (cell == nullptr) return true;
  const std::int64_t width = cell->width;
  const std::int64_t height = cell->height;
  try {
    m_cells.push_back(std::move(cell));
  } catch (const std::bad_alloc&) {
    report_out_of_memory(width, height);
    return false;
  }
  count(*m_cells.back(), +1);
  return true;
}

std::uint8_t split_priority(std::uint8_t priority, std::string_view size_priority) {
  double factor = 1.0;
  if (size_priority == "LOWER")
    factor = 0.75;
  else if (size_priority == "LOWEST")
    factor = 0.5;
  else if (size_priority == "HIGHER")
    factor = 1.25;
  const int value = static_cast<int>(priority * factor + 0.5);
  return static_cast<std::uint8_t>(std::clamp(value, 1, 255));
}

PuzzleInfo* PuzzleGrid::split(PuzzleInfo& cell, std::int32_t gap, std::string_view size_priority) {
  gap = std::max(0, gap);
  if (cell.width < gap + 10 || cell.height < gap + 10) return nullptr;

  std::unique_ptr<PuzzleInfo> half;
  Foto kept_shape;
  try {
    half = std::make_unique<PuzzleInfo>();
    // Room first, so that the push below cannot fail half-way; doubling keeps
    // a long series of splits linear.
    if (m_cells.size() == m_cells.capacity()) m_cells.reserve(std::max<std::size_t>(16, 2 * m_cells.size()));
    // The halves stay within the spacing of each other's duplicates.
    half->neighbours.reserve(cell.neighbours.size() + 1);
    half->neighbours = cell.neighbours;
    half->neighbours.push_back(&cell);
    cell.neighbours.reserve(cell.neighbours.size() + 1);
  } catch (const std::bad_alloc&) {
    report_out_of_memory(cell.width, cell.height);
    return nullptr;
  }
  half->left = cell.left;
  half->top = cell.top;
  half->width = cell.width;
  half->height = cell.height;
  // The counts follow the shapes the two halves end up with.
  count(cell, -1);

  // Portrait cells are cut across their height, the others across their width.
  if (cell.width < cell.height) {
    const int h = cell.height - gap;
    const int kept = h / 2;
    half->top = cell.top + kept + gap;
    half->height = h - kept;
    if (cell.has_shape() && (!crop_rows(cell.shape, kept + gap, half->height, half->shape).ok_or_show(prompt()) ||
                             !crop_rows(cell.shape, 0, kept, kept_shape).ok_or_show(prompt()))) {
      count(cell, +1);
      return nullptr;
    }
    cell.height = kept;
  } else {
    const int w = cell.width - gap;
    const int kept = w / 2;
    half->left = cell.left + kept + gap;
    half->width = w - kept;
    if (cell.has_shape() && (!crop_columns(cell.shape, kept + gap, half->width, half->shape).ok_or_show(prompt()) ||
                             !crop_columns(cell.shape, 0, kept, kept_shape).ok_or_show(prompt()))) {
      count(cell, +1);
      return nullptr;
    }
    cell.width = kept;
  }
  if (cell.has_shape()) cell.shape = std::move(kept_shape);
  cell.area = saturated_area(cell.width, cell.height);
  half->area = saturated_area(half->width, half->height);

  cell.priority = split_priority(cell.priority, size_priority);
  half->priority = cell.priority;

  PuzzleInfo* added = half.get();
  cell.neighbours.push_back(added);
  count(cell, +1);
  count(*added, +1);
  m_cells.push_back(std::move(half));
  return added;
}

void PuzzleGrid::remove_inactive() {
  std::unordered_set<const PuzzleInfo*> removed;
  for (std::size_t i = 0; i < m_cells.size();) {
    if (m_cells[i]->active != 0) {
      ++i;
      continue;
    }
    count(*m_cells[i], -1);
    removed.insert(m_cells[i].get());
    m_cells[i] = std::move(m_cells.back());
    m_cells.pop_back();
  }
  if (removed.empty()) return;
  for (auto& cell : m_cells) {
    auto& list = cell->neighbours;
    if (list.empty()) continue;
    list.erase(std::remove_if(list.begin(), list.end(), [&](const PuzzleInfo* p) { return removed.contains(p); }),
               list.end());
  }
}

void PuzzleGrid::free() {
  m_cells.clear();
  m_cells.shrink_to_fit();
  m_landscape = 0;
  m_portrait = 0;
  columns = 0;
  rows = 0;
  used_width = 0;
  used_height = 0;
}

}  // namespace tess
