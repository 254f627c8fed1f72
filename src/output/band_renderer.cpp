// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/band_renderer.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <tuple>
#include <utility>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "output/side_images.hpp"
#include "tilelist/foto_info.hpp"

namespace tess {

namespace {

constexpr int kMinMemoryBlock = 10;
constexpr int kMaxMemoryBlock = 2900;
constexpr int kDefaultMemoryBlock = 200;

int ceil_div(std::int64_t a, std::int64_t b) { return b <= 0 ? 0 : static_cast<int>((a + b - 1) / b); }

// The size a cell asks for its picture at: the cell's, turned for a quarter turn.
std::pair<int, int> load_size(const TileRenderer& renderer, const PuzzleInfo& cell) {
  const std::uint8_t variant = renderer.variant_for(cell.signature, cell.tile->signature);
  const bool turned = variant >= 5 && variant <= 8;
  return {turned ? cell.height : cell.width, turned ? cell.width : cell.height};
}

// The cells of a band are grouped by the picture they load. A picture file
// forms one group, split further only by the factor its decoder shrinks it by
// (see render_group); a clip frame is fetched at the size its cell asks for,
// so its cells share one only when they ask for the same size. The drawing
// of a cell never depends on which other cells happen to meet the same band.
using LoadKey = std::tuple<const FotoInfo*, int, int>;

LoadKey load_key(const TileRenderer& renderer, const PuzzleInfo& cell) {
  if (!cell.tile->is_video()) return {cell.tile, 0, 0};
  const auto [width, height] = load_size(renderer, cell);
  return {cell.tile, width, height};
}


}  // namespace

// --- band sizing ------------------------------------------------------------

int memory_block_megabytes(std::string_view option_text) {
  // Read as a C integer: leading blanks and a sign, then digits; the rest is ignored.
  const std::string text(option_text);
  if (text.empty()) return kDefaultMemoryBlock;  // an option never set
  errno = 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return value < 0 ? kMinMemoryBlock : kMaxMemoryBlock;
  return static_cast<int>(std::clamp<long>(value, kMinMemoryBlock, kMaxMemoryBlock));
}

int choose_band_height(int piece_width, int piece_height, int block_megabytes, const BandProbe& can_allocate) {
  const std::int64_t budget = static_cast<std::int64_t>(block_megabytes) * kBandPixelsPerMegabyte;
  const std::int64_t rows = piece_width > 0 ? budget / piece_width : budget;
  int band_height = static_cast<int>(std::clamp<std::int64_t>(rows, 1, INT_MAX));
  const auto fits = [&](int rows_tried) {
    // A band is never allocated taller than the piece, so nothing taller is probed.
    const int probe_rows = std::max(1, std::min(rows_tried, piece_height));
    if (can_allocate) return can_allocate(piece_width, probe_rows);
    Foto probe;
    return probe.try_allocate(piece_width, probe_rows);
  };
  // When memory is short the band shrinks rather than the mosaic failing.
  while (band_height >= 2 && !fits(band_height)) band_height -= std::max(band_height / 10, 1);
  return band_height;
}

int band_height_between_cells(const PuzzleGrid& grid, int band_height, int piece_height, int mosaic_height) {
  if (band_height < 2 || band_height >= piece_height || mosaic_height <= 0) return band_height;
  // spanned[y] > 0: some cell goes on from row y - 1 into row y.
  std::vector<int> spanned(static_cast<std::size_t>(mosaic_height) + 1, 0);
  for (std::size_t i = 0; i < grid.size(); ++i) {
    const PuzzleInfo& cell = grid.cell(i);
    if (cell.width <= 0 || cell.height <= 0) continue;
    const int first = std::max(cell.top + 1, 0);
    const int end = std::min(cell.top + cell.height, mosaic_height);
    if (first >= end) continue;
    ++spanned[static_cast<std::size_t>(first)];
    --spanned[static_cast<std::size_t>(end)];
  }
  for (std::size_t y = 1; y < spanned.size(); ++y) spanned[y] += spanned[y - 1];
  const auto clean = [&](int rows) {
    for (int top = 0; top < mosaic_height; top += piece_height) {
      const int bottom = std::min(top + piece_height, mosaic_height);
      for (int cut = top + rows; cut < bottom; cut += rows)
        if (spanned[static_cast<std::size_t>(cut)] > 0) return false;
    }
    return true;
  };
  for (int rows = band_height; rows >= band_height / 2; --rows)
    if (clean(rows)) return rows;
  return band_height;
}

// --- the band renderer ------------------------------------------------------

struct JPGMosaicSave::Group {
  std::vector<std::size_t> cells;  ///< grid indexes, in list order
};

// One band buffer and the work of rendering it.
struct JPGMosaicSave::Band {
  Foto pixels;
  int x = 0;  ///< of its top left pixel in the whole mosaic
  int y = 0;
  std::vector<Group> groups;               ///< the pictures meeting it, in list order
  std::atomic<std::size_t> next_group{0};  ///< the first group no job has taken
};

JPGMosaicSave::JPGMosaicSave(MosaicBuilder& builder, const PuzzleGrid& grid, const TileRenderer& renderer,
                             std::uint32_t background, int threads, ThreadPriority priority)
    : m_builder(builder), m_grid(grid), m_renderer(renderer), m_background(background) {
  for (std::size_t i = 0; i < grid.size(); ++i)
    if (grid.cell(i).tile != nullptr) m_placed.push_back(i);
  m_records.resize(grid.size());
  m_load_failed.resize(grid.size(), 0);
  m_threads = std::max(threads, 1);
  m_pool.start_threads(m_threads - 1, priority);
  // With one thread nothing could render while the writer works, and a
  // second buffer would only cost memory.
  m_render_ahead = m_threads > 1;
  m_bands[0] = std::make_unique<Band>();
  m_bands[1] = std::make_unique<Band>();
  m_queue = std::make_unique<JobQueue>(m_pool);
}

JPGMosaicSave::~JPGMosaicSave() {
  // Jobs still running draw into the bands: they end before the bands go.
  drop_band_ahead();
  m_queue.reset();
  m_pool.shut_down();
}

void JPGMosaicSave::begin_part(const PartLayout& layout) {
  drop_band_ahead();
  m_layout = layout;
  m_layout.width = std::max(m_layout.width, 0);
  m_layout.height = std::max(m_layout.height, 0);
  m_layout.band_height = std::max(m_layout.band_height, 1);
  m_band_y = 0;
  m_next_row = 0;
  m_rows_counted = 0;
  m_band_current = false;
  m_stopped = false;
}

int JPGMosaicSave::band_count() const { return ceil_div(m_layout.height, m_layout.band_height); }

Prompt& JPGMosaicSave::prompt() { return m_builder.prompt(); }

bool JPGMosaicSave::stop_requested() const { return m_stopped || m_builder.stop_requested(); }

void JPGMosaicSave::free_band() {
  drop_band_ahead();
  for (const auto& band : m_bands) band->pixels.clear();
  m_band_current = false;
}

const std::uint32_t* JPGMosaicSave::next_row() {
  if (m_builder.stop_requested()) {
    m_stopped = true;
    return nullptr;
  }
  if (!m_band_current || m_next_row >= m_bands[m_current]->pixels.height()) {
    if (m_band_current) m_band_y += m_layout.band_height;
    m_band_current = false;
    if (m_band_y >= m_layout.height || m_layout.width <= 0) return nullptr;
    if (!advance_to_band(m_band_y)) return nullptr;
    m_band_current = true;
    m_next_row = 0;
    m_rows_counted = 0;
  }
  const Foto& pixels = m_bands[m_current]->pixels;
  const std::uint32_t* row = pixels.row(m_next_row++);
  count_rows_written(pixels.height());
  return row;
}

void JPGMosaicSave::count_rows_written(int band_rows) {
  // A band counts its placed cells once as it is rendered and once more as
  // the writer takes its rows, so a file that is slow to encode or write
  // still moves the figure. A few steps a band are enough to show it.
  const int rows = m_next_row - m_rows_counted;
  if (band_rows <= 0 || (rows < std::max(1, band_rows / 16) && m_next_row < band_rows)) return;
  // Whole cells' worth, so a band adds up to exactly its placed cells.
  const auto share = [&](int row) {
    return static_cast<std::int64_t>(m_placed.size()) * row / band_rows;
  };
  const std::int64_t amount = share(m_next_row) - share(m_rows_counted);
  m_rows_counted = m_next_row;
  if (amount > 0) m_builder.add_progress(static_cast<double>(amount));
}

bool JPGMosaicSave::advance_to_band(int band_y) {
  const int x = m_layout.x_offset;
  const auto rows_at = [this](int y) { return std::min(m_layout.band_height, m_layout.height - y); };
  if (m_ahead) {
    // Rendered, or still being rendered, while the writer took the band before.
    m_ahead = false;
    m_current = 1 - m_current;
  } else {
    Band& band = *m_bands[m_current];
    if (!prepare_band(band, x, m_layout.y_offset + band_y, m_layout.width, rows_at(band_y), true)) return false;
    start_band(band);
  }
  Band& band = *m_bands[m_current];
  if (!finish_band()) return false;

  // The next band of the part goes into the other buffer while the writer
  // works through this one. Never past the part: a video frame moves its
  // clock between parts.
  const int next_y = band_y + m_layout.band_height;
  if (m_render_ahead && next_y < m_layout.height) {
    Band& next = *m_bands[1 - m_current];
    if (prepare_band(next, x, m_layout.y_offset + next_y, m_layout.width, rows_at(next_y), false)) {
      start_band(next);
      m_ahead = true;
    } else {
      // No room for a second band: one buffer, one band after the other.
      m_render_ahead = false;
    }
  }
  if (m_band_observer) m_band_observer(band.pixels, band.x, band.y);
  return true;
}

bool JPGMosaicSave::prepare_band(Band& band, int x, int y, int width, int height, bool report) {
  // The buffer is kept from band to band and only replaced for another size.
  if (band.pixels.width() != width || band.pixels.height() != height) {
    band.pixels.clear();
    if (!band.pixels.try_allocate(width, height)) {
      if (report) m_builder.prompt().message(out_of_memory_text(width, height) + "!", Icon::error);
      return false;
    }
  }
  band.pixels.fill(m_background);
  band.x = x;
  band.y = y;
  band.groups.clear();
  band.next_group = 0;

  // Tiles meeting the band, grouped by the picture they load, in list order.
  std::map<LoadKey, std::size_t> group_of;
  std::size_t elsewhere = 0;
  for (const std::size_t index : m_placed) {
    const PuzzleInfo& cell = m_grid.cell(index);
    const bool meets = cell.left < x + width && cell.left + cell.width > x && cell.top < y + height &&
                       cell.top + cell.height > y && cell.width > 0 && cell.height > 0;
    if (!meets) {
      ++elsewhere;
      continue;
    }
    const auto [found, added] = group_of.try_emplace(load_key(m_renderer, cell), band.groups.size());
    if (added) band.groups.emplace_back();
    band.groups[found->second].cells.push_back(index);
  }
  if (elsewhere > 0) m_builder.add_progress(static_cast<double>(elsewhere));
  return true;
}

void JPGMosaicSave::start_band(Band& band) {
  // Each job takes the next group nobody has taken yet, so the threads share
  // a band however unevenly its pictures cost; the saving thread joins in
  // once it waits for the band.
  const std::size_t jobs = std::min({band.groups.size(), static_cast<std::size_t>(m_threads), JobQueue::kMaxPending});
  for (std::size_t j = 0; j < jobs; ++j) m_queue->submit([this, &band] { render_groups(band); });
}

bool JPGMosaicSave::finish_band() {
  // A group whose job failed left its tiles out of the band: the mosaic
  // would be written with holes.
  if (!m_builder.jobs_succeeded(m_queue->wait_all())) return false;
  if (m_builder.stop_requested()) {
    m_stopped = true;
    return false;
  }
  return true;
}

void JPGMosaicSave::drop_band_ahead() {
  if (!m_ahead) return;
  m_ahead = false;
  // Groups not taken yet are skipped; the ones being drawn are finished.
  Band& ahead = *m_bands[1 - m_current];
  ahead.next_group = ahead.groups.size();
  m_queue->cancel_all();
}

void JPGMosaicSave::render_groups(Band& band) {
  for (;;) {
    const std::size_t next = band.next_group.fetch_add(1);
    if (next >= band.groups.size() || m_builder.stop_requested()) return;
    render_group(band.groups[next], band.pixels, band.x, band.y);
  }
}

void JPGMosaicSave::save_individual_tiles(const std::string& folder, const OutputOptions& options, int dpi) {
  m_tiles_folder = folder;
  m_tile_options = options;
  m_tile_dpi = dpi;
  m_tile_saved.assign(m_grid.size(), 0);
  m_tiles_failed = false;
}

void JPGMosaicSave::render_group(const Group& group, Foto& target, int band_x, int band_y) {
  if (m_builder.stop_requested()) return;
  const PuzzleInfo& first = m_grid.cell(group.cells.front());
  const std::pair<int, int> first_size = load_size(m_renderer, first);
  const bool one_size = std::all_of(group.cells.begin(), group.cells.end(), [&](std::size_t index) {
    return load_size(m_renderer, m_grid.cell(index)) == first_size;
  });
  if (first.tile->is_video() || one_size) {
    render_cells(group.cells, target, band_x, band_y);
    return;
  }
  // Cells asking for the picture at different sizes share one decoding for
  // every factor the decoder shrinks it by: any of them loads the same
  // picture. A size whose factor cannot be told is loaded on its own.
  std::vector<std::pair<std::pair<int, int>, int>> factor_of_size;
  std::vector<std::pair<int, std::vector<std::size_t>>> loads;
  for (const std::size_t index : group.cells) {
    const std::pair<int, int> size = load_size(m_renderer, m_grid.cell(index));
    auto known = std::find_if(factor_of_size.begin(), factor_of_size.end(), [&](const auto& entry) { return entry.first == size; });
    if (known == factor_of_size.end()) {
      int factor = Foto::load_scale(first.tile->path, size.first, size.second);
      if (factor <= 0) factor = -static_cast<int>(factor_of_size.size()) - 1;
      known = factor_of_size.insert(factor_of_size.end(), {size, factor});
    }
    auto load = std::find_if(loads.begin(), loads.end(), [&](const auto& entry) { return entry.first == known->second; });
    if (load == loads.end()) load = loads.insert(loads.end(), {known->second, {}});
    load->second.push_back(index);
  }
  for (const auto& load : loads) {
    if (m_builder.stop_requested()) break;
    render_cells(load.second, target, band_x, band_y);
  }
}

void JPGMosaicSave::render_cells(const std::vector<std::size_t>& cells, Foto& target, int band_x, int band_y) {
  Foto picture;
  std::string message;
  if (!m_renderer.load_tile(m_grid.cell(cells.front()), picture, message)) {
    // A missing picture leaves its cells to the background; the run reports
    // the count at its end instead of stopping for one file. A cell is counted
    // once, however many bands it meets. An empty message means memory ran
    // out, which the image layer has reported already.
    if (!message.empty())
      for (const std::size_t index : cells)
        if (m_load_failed[index] == 0) {
          m_load_failed[index] = 1;
          m_builder.add_tile_load_failure();
        }
    m_builder.add_progress(static_cast<double>(cells.size()));
    return;
  }
  std::size_t done = 0;
  for (const std::size_t index : cells) {
    if (m_builder.stop_requested()) break;
    const PuzzleInfo& cell = m_grid.cell(index);
    Foto drawn;
    TileRenderRecord record;
    if (m_renderer.render_cell(cell, picture, drawn, record)) {
      m_records[index] = record;
      // A cell belongs to one job of a band and bands follow one another, so
      // its flag is never written by two threads at once.
      if (!m_tiles_folder.empty() && !m_tiles_failed.load() && m_tile_saved[index] == 0) {
        m_tile_saved[index] = 1;
        const std::string title = cell.tile->file_name_without_extension();
        if (!save_individual_tile(drawn, m_tiles_folder, cell.left, cell.top, title, m_tile_options, m_tile_dpi) &&
            !m_tiles_failed.exchange(true))
          m_first_failed_tile = individual_tile_path(m_tiles_folder, cell.left, cell.top, title, m_tile_options.format);
      }
      // Cells of a grid never share a pixel, so the jobs of one band may draw
      // side by side and the order they finish in never shows.
      const PasteMode mode = cell.has_shape() ? PasteMode::masked : PasteMode::copy;
      target.paste(cell.left - band_x, cell.top - band_y, drawn, mode);
    }
    ++done;
  }
  m_builder.add_progress(static_cast<double>(done));
}

}  // namespace tess
