#include "engine/mask_layout.hpp"

#include <algorithm>
#include <limits>
#include <new>

#include "base/prompt.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/progress_model.hpp"

namespace tess {
namespace {

constexpr std::uint32_t kNoLabel = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t kWhite = make_pixel(255, 255, 255);
constexpr std::uint32_t kBlack = make_pixel(0, 0, 0);
/// Shape pixels that belong to the cell.
constexpr std::uint32_t kShapePixel = make_pixel(255, 255, 255);

bool same_colour(std::uint32_t a, std::uint32_t b) { return squared_colour_distance(a, b) < kMaskColourDistance; }

/// Gives every pixel of row `y` a provisional label: its left neighbour's
/// when that one is of the same colour, else its upper neighbour's, else a
/// new one. `meet(a, b)` hears of every pixel where two labels touch.
template <typename Meet>
void label_row(const Foto& mask, int y, const std::vector<std::uint32_t>& above, std::vector<std::uint32_t>& current,
               std::uint32_t& next_label, Meet&& meet) {
  const std::uint32_t* row = mask.row(y);
  const std::uint32_t* up = y > 0 ? mask.row(y - 1) : nullptr;
  for (int x = 0; x < mask.width(); ++x) {
    const std::uint32_t p = row[x];
    if (is_mask_background(p)) {
      current[x] = kNoLabel;
      continue;
    }
    const bool left_ok = x > 0 && current[x - 1] != kNoLabel && same_colour(p, row[x - 1]);
    const bool up_ok = up != nullptr && above[x] != kNoLabel && same_colour(p, up[x]);
    if (left_ok) {
      current[x] = current[x - 1];
      if (up_ok && above[x] != current[x]) meet(current[x], above[x]);
    } else if (up_ok) {
      current[x] = above[x];
    } else {
      current[x] = next_label++;
    }
  }
}

/// Union of labels. The smaller label always becomes the root, so a root is
/// the label of its region's first pixel in scan order.
class LabelUnion {
 public:
  std::uint32_t find(std::uint32_t label) {
    while (m_parent[label] != label) {
      m_parent[label] = m_parent[m_parent[label]];
      label = m_parent[label];
    }
    return label;
  }
  void unite(std::uint32_t a, std::uint32_t b) {
    a = find(a);
    b = find(b);
    if (a == b) return;
    if (a < b)
      m_parent[b] = a;
    else
      m_parent[a] = b;
  }
  void grow_to(std::uint32_t count) {
    while (m_parent.size() < count) m_parent.push_back(static_cast<std::uint32_t>(m_parent.size()));
  }
  std::size_t size() const { return m_parent.size(); }

 private:
  std::vector<std::uint32_t> m_parent;
};

struct Extent {
  std::int32_t x0 = std::numeric_limits<std::int32_t>::max();
  std::int32_t y0 = std::numeric_limits<std::int32_t>::max();
  std::int32_t x1 = -1;  // inclusive
  std::int32_t y1 = -1;
  std::int64_t pixels = 0;

  void add_pixel(std::int32_t x, std::int32_t y) {
    x0 = std::min(x0, x);
    x1 = std::max(x1, x);
    y0 = std::min(y0, y);
    y1 = std::max(y1, y);
    ++pixels;
  }

  void add(const Extent& other) {
    x0 = std::min(x0, other.x0);
    y0 = std::min(y0, other.y0);
    x1 = std::max(x1, other.x1);
    y1 = std::max(y1, other.y1);
    pixels += other.pixels;
  }
};

/// Rows of labels handed out exactly as the first pass did, with the row
/// below at hand: the pixel of a thin patch looks at all four neighbours.
class LabelWindow {
 public:
  explicit LabelWindow(const Foto& mask)
      : m_mask(mask), m_rows(3, std::vector<std::uint32_t>(static_cast<std::size_t>(mask.width()), kNoLabel)) {
    advance();  // row 0 becomes the next row
  }
  /// Moves one row down; true while the current row lies inside the mask.
  bool advance() {
    std::rotate(m_rows.begin(), m_rows.begin() + 1, m_rows.end());  // above <- current <- below
    ++m_y;
    const int below = m_y + 1;
    if (below < m_mask.height())
      label_row(m_mask, below, m_rows[1], m_rows[2], m_next_label, [](std::uint32_t, std::uint32_t) {});
    else
      std::fill(m_rows[2].begin(), m_rows[2].end(), kNoLabel);
    return m_y < m_mask.height();
  }
  int y() const { return m_y; }
  const std::vector<std::uint32_t>& row(int offset) const { return m_rows[static_cast<std::size_t>(offset + 1)]; }

 private:
  const Foto& m_mask;
  std::vector<std::vector<std::uint32_t>> m_rows;  // above, current, below
  std::uint32_t m_next_label = 0;
  int m_y = -2;
};

/// What the first pass finds: the root of every label and, at each root, the
/// extent of its whole patch.
struct Patches {
  std::vector<std::uint32_t> root_of;
  std::vector<Extent> extents;

  /// A patch thinner than two pixels on average is no place for a tile: it is
  /// the fringe a JPEG leaves where two colours meet (or a speck).
  bool thin(std::uint32_t root) const {
    const Extent& e = extents[root];
    return e.pixels < 2 * (std::int64_t{e.x1 - e.x0 + 1} + (e.y1 - e.y0 + 1));
  }
};

/// Pass 1: labels, their unions and the extent of every patch. False on a stop.
bool label_patches(const Foto& mask, Patches& patches, const std::function<bool()>& stopped,
                   const std::function<void()>& row_done) {
  const int W = mask.width();
  std::vector<std::uint32_t> above(static_cast<std::size_t>(W), kNoLabel);
  std::vector<std::uint32_t> current(static_cast<std::size_t>(W), kNoLabel);
  LabelUnion labels;
  std::vector<Extent>& extents = patches.extents;
  std::uint32_t next_label = 0;
  for (int y = 0; y < mask.height(); ++y) {
    if (stopped && stopped()) return false;
    label_row(mask, y, above, current, next_label, [&](std::uint32_t a, std::uint32_t b) {
      labels.grow_to(next_label);
      labels.unite(a, b);
    });
    labels.grow_to(next_label);
    extents.resize(next_label);
    for (int x = 0; x < W; ++x) {
      if (current[x] != kNoLabel) extents[current[x]].add_pixel(x, y);
    }
    std::swap(above, current);
    if (row_done) row_done();
  }
  // Each root gathers its labels' extents; roots come in scan order.
  patches.root_of.resize(next_label);
  for (std::uint32_t l = 0; l < next_label; ++l) {
    patches.root_of[l] = labels.find(l);
    if (patches.root_of[l] != l) extents[patches.root_of[l]].add(extents[l]);
  }
  return true;
}

/// The region of every pixel of a row, worked out from the labels the window
/// hands out again. A thin patch's pixels join the neighbouring patch nearest
/// in colour, so a mask the program wrote reads back as the cells it was
/// drawn from; any patch a tile can be drawn in is at least two pixels thick,
/// so exact masks keep their patches.
class RegionRows {
 public:
  RegionRows(const Foto& mask, const Patches& patches, const std::vector<std::int32_t>& region_of_root)
      : m_mask(mask),
        m_patches(patches),
        m_region_of_root(region_of_root),
        m_row(static_cast<std::size_t>(mask.width()), -1) {}

  /// The region of every pixel of the window's current row; -1 for none.
  const std::vector<std::int32_t>& of(const LabelWindow& window) {
    const int y = window.y();
    const std::uint32_t* pixels = m_mask.row(y);
    for (int x = 0; x < m_mask.width(); ++x) {
      const std::uint32_t label = window.row(0)[static_cast<std::size_t>(x)];
      std::int32_t region = label == kNoLabel ? -1 : region_of(label);
      if (label != kNoLabel && region < 0 && m_patches.thin(m_patches.root_of[label])) {
        region = nearest_neighbour(window, x, pixels[x]);
      }
      m_row[static_cast<std::size_t>(x)] = region;
    }
    return m_row;
  }

 private:
  std::int32_t region_of(std::uint32_t label) const { return m_region_of_root[m_patches.root_of[label]]; }

  /// Of the four neighbours of (x, window row) that belong to a region, the
  /// region of the one nearest in colour to `pixel`; -1 when none does.
  std::int32_t nearest_neighbour(const LabelWindow& window, int x, std::uint32_t pixel) const {
    const int y = window.y();
    std::int32_t region = -1;
    int best = std::numeric_limits<int>::max();
    const auto consider = [&](int nx, int ny, int offset) {
      if (nx < 0 || nx >= m_mask.width() || ny < 0 || ny >= m_mask.height()) return;
      const std::uint32_t other = window.row(offset)[static_cast<std::size_t>(nx)];
      if (other == kNoLabel) return;
      const std::int32_t candidate = region_of(other);
      if (candidate < 0) return;
      const int distance = squared_colour_distance(pixel, m_mask.row(ny)[nx]);
      if (distance < best) {
        best = distance;
        region = candidate;
      }
    };
    consider(x - 1, y, 0);
    consider(x + 1, y, 0);
    consider(x, y - 1, -1);
    consider(x, y + 1, 1);
    return region;
  }

  const Foto& m_mask;
  const Patches& m_patches;
  const std::vector<std::int32_t>& m_region_of_root;
  std::vector<std::int32_t> m_row;
};

/// Labels the mask again row by row and hands every pixel that belongs to a
/// region to `visit(x, y, region)`. False on a stop.
template <typename Visit>
bool visit_region_pixels(const Foto& mask, RegionRows& rows, const std::function<bool()>& stopped,
                         const std::function<void()>& row_done, Visit&& visit) {
  for (LabelWindow window(mask); window.advance();) {
    if (stopped && stopped()) return false;
    const std::vector<std::int32_t>& row = rows.of(window);
    for (int x = 0; x < mask.width(); ++x) {
      const std::int32_t r = row[static_cast<std::size_t>(x)];
      if (r >= 0) visit(x, window.y(), static_cast<std::size_t>(r));
    }
    if (row_done) row_done();
  }
  return true;
}

Status find_regions(const Foto& mask, std::vector<MaskRegion>& regions, const std::function<bool()>& stopped,
                    const std::function<void()>& row_done) {
  // Pass 1: the patches.
  Patches patches;
  if (!label_patches(mask, patches, stopped, row_done)) return Status::refused();
  const std::size_t label_count = patches.root_of.size();

  // Every patch thick and large enough is a region, in scan order.
  std::vector<std::int32_t> region_of_root(label_count, -1);
  bool any_thin = false;
  for (std::uint32_t l = 0; l < label_count; ++l) {
    if (patches.root_of[l] != l) continue;
    if (patches.thin(l)) {
      any_thin = true;
      continue;
    }
    if (patches.extents[l].pixels < kMinimumMaskRegionPixels) continue;
    region_of_root[l] = static_cast<std::int32_t>(regions.size());
    regions.emplace_back();
  }
  std::vector<Extent> region_extents(regions.size());
  for (std::uint32_t l = 0; l < label_count; ++l)
    if (patches.root_of[l] == l && region_of_root[l] >= 0)
      region_extents[static_cast<std::size_t>(region_of_root[l])] = patches.extents[l];
  RegionRows rows(mask, patches, region_of_root);

  // Pass 2, only with thin patches: the regions grow by the pixels they take.
  // It reports no rows: the progress counts the first and the last pass.
  if (any_thin) {
    region_extents.assign(regions.size(), Extent{});
    if (!visit_region_pixels(mask, rows, stopped, {},
                             [&](int x, int y, std::size_t r) { region_extents[r].add_pixel(x, y); }))
      return Status::refused();
  }

  bool any_shape = false;
  for (std::size_t r = 0; r < regions.size(); ++r) {
    const Extent& e = region_extents[r];
    MaskRegion& region = regions[r];
    region.left = e.x0;
    region.top = e.y0;
    region.width = e.x1 - e.x0 + 1;
    region.height = e.y1 - e.y0 + 1;
    region.pixel_count = e.pixels;
    if (region.pixel_count < std::int64_t{region.width} * region.height) {
      if (Status status = region.shape.allocate_fill(region.width, region.height, kEmptyPixel); !status) return status;
      any_shape = true;
    }
  }
  if (!any_shape) return {};

  // Pass 3: the same labelling again, now drawing each pixel into its
  // region's shape.
  const bool drawn = visit_region_pixels(mask, rows, stopped, row_done, [&](int x, int y, std::size_t r) {
    MaskRegion& region = regions[r];
    if (!region.shape.empty()) region.shape.at(x - region.left, y - region.top) = kShapePixel;
  });
  return drawn ? Status() : Status::refused();
}

/// `shape` with every pixel made `scale` × `scale` pixels, cut to w × h.
Status enlarge_shape(const Foto& shape, int scale, int w, int h, Foto& out) {
  if (Status status = out.allocate(w, h); !status) return status;
  for (int y = 0; y < h; ++y) {
    const std::uint32_t* src = shape.row(std::min(y / scale, shape.height() - 1));
    std::uint32_t* dst = out.row(y);
    for (int x = 0; x < w; ++x) dst[x] = src[std::min(x / scale, shape.width() - 1)];
  }
  return {};
}

}  // namespace

int squared_colour_distance(std::uint32_t a, std::uint32_t b) {
  const int dr = static_cast<int>(pixel_red(a)) - static_cast<int>(pixel_red(b));
  const int dg = static_cast<int>(pixel_green(a)) - static_cast<int>(pixel_green(b));
  const int db = static_cast<int>(pixel_blue(a)) - static_cast<int>(pixel_blue(b));
  return dr * dr + dg * dg + db * db;
}

bool is_mask_background(std::uint32_t pixel) {
  return pixel_transparency(pixel) >= kMaskedTransparency || same_colour(pixel, kWhite) ||
         same_colour(pixel, kBlack);
}

Status find_mask_regions(const Foto& mask, std::vector<MaskRegion>& regions, const std::function<bool()>& stopped,
                         const std::function<void()>& row_done) {
  regions.clear();
  if (mask.empty()) return Status::refused();
  Status status;
  try {
    status = find_regions(mask, regions, stopped, row_done);
  } catch (const std::bad_alloc&) {
    status = out_of_memory(mask.width(), mask.height());
  }
  if (!status) regions.clear();
  return status;
}

bool build_cells_from_mask(MosaicBuilder& builder, const Foto& mask, int pixel_scale) {
  PuzzleGrid& grid = builder.grid;
  grid.set_builder(&builder);
  pixel_scale = std::clamp(pixel_scale, 1, 8);
  grid.reset(mask.width(), mask.height(), pixel_scale, 0, true);
  builder.begin_progress_stage(kStageCellBuilding, 2.0 * std::max(1, mask.height()));

  std::vector<MaskRegion> regions;
  const bool found =
      find_mask_regions(mask, regions, [&] { return builder.stop_requested(); }, [&] { builder.add_progress(1); })
          .ok_or_show(builder.prompt());
  if (!found || regions.empty()) {
    grid.free();
    return false;
  }
  for (MaskRegion& region : regions) {
    bool added = false;
    if (!grid.add_cell(CellRect{region.left, region.top, region.width, region.height}, &added)) {
      grid.free();
      return false;
    }
    if (!added || region.shape.empty()) continue;
    PuzzleInfo& cell = grid.cell(grid.size() - 1);
    if (pixel_scale == 1) {
      cell.shape = std::move(region.shape);
    } else if (!enlarge_shape(region.shape, pixel_scale, cell.width, cell.height, cell.shape).ok_or_show(builder.prompt())) {
      grid.free();
      return false;
    }
  }
  return true;
}

}  // namespace tess
