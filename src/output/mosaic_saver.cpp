#include "output/mosaic_saver.hpp"

#include <malloc.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include <unistd.h>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/puzzle.hpp"
#include "engine/score_tables.hpp"
#include "output/bmp_writer.hpp"
#include "video/video_timing.hpp"
#include "output/fast_preview.hpp"
#include "output/jpeg_writer.hpp"
#include "output/output_file.hpp"
#include "output/output_guard.hpp"
#include "output/png_writer.hpp"
#include "output/ppm_writer.hpp"
#include "output/psd_writer.hpp"
#include "output/side_images.hpp"
#include "settings/size_checks.hpp"
#include "output/tiff_writer.hpp"
#include "output/video_writer.hpp"
#include "output/web_pyramid.hpp"
#include "settings/advanced_options.hpp"
#include "settings/user_state.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/tile_image_list.hpp"
#include "video/clip_frames.hpp"
#include "video/fourcc.hpp"

namespace tess {

namespace {

// Saving has its own share of the run's progress figure; the stage list of
// the progress model leaves stage 1 to it.
constexpr int kStageSaving = 1;

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

std::string today_local_date() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

// The first mosaic keeps its date; every finished mosaic counts one more.
void count_finished_mosaic(const UserState& state) {
  const long count = state.get_int("MosaicCount");
  // A counter that cannot be written costs the About window a number, never the mosaic.
  if (count == 0) (void)state.set_text("DateFirstMosaic", today_local_date());
  (void)state.set_text("MosaicCount", format("%ld", count + 1));
}

// The files a mosaic's records stand for: each record's own file, or for
// one picture a frame every frame's picture.
std::vector<std::string> files_written(const std::vector<SavedFileRecord>& records, OutputFormatCode format,
                                       std::int64_t first, std::int64_t last) {
  std::vector<std::string> files;
  for (const SavedFileRecord& record : records) {
    if (format != OutputFormatCode::video_jpg) {
      files.push_back(record.path);
      continue;
    }
    const std::string name = record.path.substr(0, record.path.size() - record.extension.size());
    for (std::int64_t frame = first; frame <= last; ++frame) files.push_back(video_frame_file(name, frame));
  }
  return files;
}

}  // namespace

// --- records, options, formats ----------------------------------------------

SavedFileRecord make_saved_file_record(const std::string& path, int x_offset, int y_offset, int width, int height) {
  SavedFileRecord record;
  record.x_offset = x_offset;
  record.y_offset = y_offset;
  record.width = width;
  record.height = height;
  record.path = path;
  const std::size_t slash = path.rfind('/');
  const std::string file_name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (slash != std::string::npos) record.directory = path.substr(0, slash);
  const std::size_t point = file_name.rfind('.');
  record.title = point == std::string::npos ? file_name : file_name.substr(0, point);
  if (point != std::string::npos) record.extension = file_name.substr(point);
  return record;
}

OutputOptions OutputOptions::from(const MosaicParameters& parameters) {
  OutputOptions options;
  options.format = parameters.output_format;
  options.jpeg_quality = std::clamp(parameters.jpeg_quality, 1, 100);
  options.transparency = parameters.output_transparency;
  options.layers = parameters.output_layers;
  options.tiff64 = parameters.output_tiff64;
  options.fourcc = parse_fourcc(parameters.advanced.value(kOptFourCC));
  return options;
}

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
  }
  return m_bands[m_current]->pixels.row(m_next_row++);
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

// --- the dispatcher ---------------------------------------------------------

bool save_mosaic_part(JPGMosaicSave& saver, const std::string& name, const OutputOptions& options,
                      const PartLayout& layout, std::vector<SavedFileRecord>& saved, int dpi) {
  saver.begin_part(layout);
  const std::string path = name + format_extension(options.format);
  Prompt& prompt = saver.prompt();
  const FormatWriter writer = format_writer(options.format);
  const bool listed = writer != FormatWriter::none;

  bool written = false;
  switch (writer) {
    case FormatWriter::jpeg: written = write_jpeg_rows(saver, path, options.jpeg_quality, dpi, prompt); break;
    case FormatWriter::bmp: written = write_bmp_rows(saver, path, prompt); break;
    case FormatWriter::png: {
      PngFormat png;
      png.alpha = options.transparency;
      written = write_png_rows(saver, path, png, dpi, prompt);
      break;
    }
    case FormatWriter::ppm: written = write_pixmap_rows(saver, path, true, prompt); break;
    case FormatWriter::raw: written = write_pixmap_rows(saver, path, false, prompt); break;
    case FormatWriter::psd: written = write_photoshop_rows(saver, path, false, dpi, prompt); break;
    case FormatWriter::psb: written = write_photoshop_rows(saver, path, true, dpi, prompt); break;
    case FormatWriter::tiff:
    case FormatWriter::tiff_jpeg: {
      TiffFormat tiff;
      tiff.big_tiff = options.tiff64;
      tiff.jpeg = writer == FormatWriter::tiff_jpeg;
      tiff.jpeg_quality = options.jpeg_quality;
      tiff.alpha = options.transparency;
      tiff.threads = saver.threads();
      written = write_tiff_rows(saver, path, tiff, dpi, prompt);
      break;
    }
    case FormatWriter::web_pyramid: {
      // No file of its own: every row is pulled so that every band is
      // rendered, and the RezIroriz watching the bands gets all of them.
      int rows = 0;
      while (rows < saver.height() && saver.next_row() != nullptr) ++rows;
      written = rows == saver.height() && !saver.stop_requested();
      break;
    }
    case FormatWriter::avi_uncompressed:
    case FormatWriter::avi_compressed:
    case FormatWriter::jpeg_frames: {
      // Every frame is the whole part rendered again, its tiles showing the
      // clip frames of that moment.
      VideoClock* clock = saver.video_clock();
      if (clock == nullptr || clock->frames <= 0) {
        report_unable_to_save(path, prompt);
        break;
      }
      const BeginFrame begin_frame = [&saver, clock, &layout](std::int64_t frame) {
        clock->frame = frame;
        saver.begin_part(layout);
        return true;
      };
      if (writer == FormatWriter::jpeg_frames)
        written = write_video_frames(saver, name, clock->first, clock->last, begin_frame, prompt);
      else if (clock->part)
        written = write_avi_part_rows(saver, name, writer == FormatWriter::avi_compressed ? options.fourcc : 0,
                                      clock->rate, clock->first, clock->last, clock->frames, begin_frame, prompt);
      else
        written = write_avi_rows(saver, name, writer == FormatWriter::avi_compressed ? options.fourcc : 0,
                                 clock->rate, clock->frames, begin_frame, prompt);
      break;
    }
    case FormatWriter::none:
      // Never a silent failure: the user learns that this format gave no file.
      prompt.message(format(tr("Unable to save file '%s'"), path) + ". " +
                         tr("This file format can not be written by this version of the program."),
                     Icon::error);
      break;
  }
  if (listed)
    saved.push_back(make_saved_file_record(path, layout.x_offset, layout.y_offset, layout.width, layout.height));
  return written;
}

namespace {

// The earlier files that a mosaic of several files (split pieces, a picture
// a frame) replaces. Each file is complete when it takes its name, but a stop
// or a failure half-way would leave new pieces mixed with those of the
// earlier mosaic: the earlier files are kept (linked into a hidden folder
// beside them) until every piece is written, and put back otherwise.
class EarlierFiles {
 public:
  explicit EarlierFiles(std::string base_name) : m_base(std::move(base_name)) {}
  ~EarlierFiles() { forget(); }
  EarlierFiles(const EarlierFiles&) = delete;
  EarlierFiles& operator=(const EarlierFiles&) = delete;

  /// Keeps what `path` holds now. A file that cannot be kept is written over
  /// as it would be without this.
  void keep(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (!fs::exists(status)) {
      m_kept.emplace_back(path, std::string());
      return;
    }
    if (!fs::is_regular_file(status)) return;  // a device is written directly, never replaced
    if (m_folder.empty() && !make_sibling_folder(m_base, "old", m_folder)) return;
    const std::string copy = m_folder + std::to_string(m_kept.size());
    if (::link(path.c_str(), copy.c_str()) != 0 && !fs::copy_file(path, copy, ec)) return;
    m_kept.emplace_back(path, copy);
  }

  /// Puts every kept file back; a new file that had no earlier one goes.
  /// An earlier file that cannot be put back stays in the hidden folder,
  /// which is then kept, and the user learns where it is.
  void restore(Prompt& prompt) {
    std::error_code ec;
    bool all_back = true;
    for (const auto& [target, copy] : m_kept) {
      if (copy.empty()) {
        std::filesystem::remove(target, ec);
      } else if (::rename(copy.c_str(), target.c_str()) != 0) {
        all_back = false;
        prompt.message(format(tr("The earlier file '%s' could not be put back: it is kept as '%s'."), target, copy) +
                           " " + system_error_text(errno, target),
                       Icon::error);
      }
    }
    if (all_back) {
      forget();
    } else {
      m_kept.clear();
      m_folder.clear();  // kept for the user
    }
  }

  /// The new files stand.
  void forget() {
    m_kept.clear();
    if (m_folder.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
    m_folder.clear();
  }

 private:
  std::string m_base;
  std::string m_folder;  // made when the first earlier file is kept
  std::vector<std::pair<std::string, std::string>> m_kept;  // target, its earlier file ("" when none)
};

}  // namespace

bool save_mosaic(JPGMosaicSave& saver, const std::string& base_name, const MosaicParameters& parameters,
                 const SplitPieceSize& split, int width, int height, std::vector<SavedFileRecord>& saved, int dpi) {
  MosaicBuilder& builder = saver.builder();
  // 1. Piece size: the whole mosaic unless a usable split was asked for.
  int piece_width = width;
  int piece_height = height;
  // A piece side the split window would refuse is no split on that side.
  if (parameters.split_mosaic) {
    if (split.width >= kMinSplitPieceSide && split.width <= width) piece_width = split.width;
    if (split.height >= kMinSplitPieceSide && split.height <= height) piece_height = split.height;
  }
  if (piece_width <= 0 || piece_height <= 0) {
    builder.prompt().message(format(tr("Unable to save file '%s'"), base_name), Icon::error);
    return false;
  }
  // 2. Files across and down.
  const int columns = ceil_div(width, piece_width);
  const int rows = ceil_div(height, piece_height);
  const int files = columns * rows;
  // Some of the pieces only, when a range was asked for.
  const bool some_pieces = split.first_piece > 0;
  if (some_pieces && (files < 2 || split.last_piece > files || split.last_piece < split.first_piece)) {
    builder.prompt().message(format(tr("The mosaic has %d split pieces: pieces %d to %d cannot be written."),
                                    files > 1 ? files : 0, split.first_piece, split.last_piece),
                             Icon::error);
    return false;
  }
  const int first = some_pieces ? split.first_piece : 1;
  const int last = some_pieces ? split.last_piece : files;
  const bool frame_pictures = parameters.output_format == OutputFormatCode::video_jpg;
  EarlierFiles earlier(base_name);
  const auto keep_earlier = [&](const std::string& name) {
    if (files == 1 && !frame_pictures) return;  // one file replaces its earlier one only when complete
    if (!frame_pictures) {
      earlier.keep(name + format_extension(parameters.output_format));
      return;
    }
    const VideoClock* clock = saver.video_clock();
    for (std::int64_t frame = clock != nullptr ? clock->first : 1; clock != nullptr && frame <= clock->last; ++frame)
      earlier.keep(video_frame_file(name, frame));
  };
  // 3-5. Rows rendered at once, as many as the memory block holds.
  const int block = memory_block_megabytes(parameters.advanced.value(kOptMemoryBlockSize));
  int band_height = choose_band_height(piece_width, piece_height, block);
  // Two bands share the block when one is rendered while the other is written.
  if (saver.renders_ahead()) band_height = std::max(band_height / 2, 1);
  band_height = band_height_between_cells(saver.grid(), band_height, piece_height, height);
  const int bands_per_piece = ceil_div(piece_height, band_height);
  // 6-7. One frame for every format written so far.
  // A video mosaic renders every band once a frame.
  const VideoClock* clock = saver.video_clock();
  const double frames = is_video_format(parameters.output_format) && clock != nullptr && clock->frames > 0
                            ? static_cast<double>(clock->last - clock->first + 1)
                            : 1.0;
  builder.begin_progress_stage(kStageSaving, static_cast<double>(bands_per_piece) * (last - first + 1) * frames *
                                                 static_cast<double>(saver.placed_count()));

  const OutputOptions options = OutputOptions::from(parameters);
  bool ok = true;
  if (files > 1) {
    // 8. Column by column, top to bottom within a column; the last column and
    // row get what is left of the mosaic.
    int number = 0;
    for (int x = 0, column = 1; ok && x < width; x += piece_width, ++column)
      for (int y = 0, row = 1; ok && y < height; y += piece_height, ++row) {
        if (++number < first || number > last) continue;
        builder.set_status(format(tr("Saving Split Image #%d/%d: %dx%d..."), number, files, row, column));
        PartLayout layout;
        layout.width = std::min(piece_width, width - x);
        layout.height = std::min(piece_height, height - y);
        layout.x_offset = x;
        layout.y_offset = y;
        layout.band_height = band_height;
        const std::string name = format("%s%02dx%02d", base_name, row, column);
        keep_earlier(name);
        ok = save_mosaic_part(saver, name, options, layout, saved, dpi);
      }
  } else {
    // 9. One file of the whole mosaic.
    builder.set_status(tr("Saving Mosaic..."));
    PartLayout layout;
    layout.width = width;
    layout.height = height;
    layout.band_height = band_height;
    keep_earlier(base_name);
    ok = save_mosaic_part(saver, base_name, options, layout, saved, dpi);
  }
  if (!ok) earlier.restore(builder.prompt());
  // 10. The band goes back before anything else of the run needs memory.
  saver.free_band();
  return ok;
}

bool finish_mosaic(MosaicBuilder& builder, const ScoreTables& tables, const FinishRequest& request,
                   FinishResult& result) {
  result = FinishResult{};
  // 1. What placement left behind goes back to the system before the bands are allocated.
  ::malloc_trim(0);
  // 2. A first rough look at the mosaic, when asked for.
  offer_fast_preview(builder);
  // 3. A RezIroriz is cut from the very bands the mosaic is written from, so
  // it costs no second rendering.
  const bool web_only = builder.parameters.output_format == OutputFormatCode::web;
  std::unique_ptr<WebPyramid> web;
  if (web_only || builder.parameters.web_output) {
    web = std::make_unique<WebPyramid>(builder, WebOptions::from(builder.parameters, request.base_name),
                                       builder.grid.pixel_width(), builder.grid.pixel_height());
    if (!web->set_up()) {
      // Reported; without it a web-only mosaic has nothing to write.
      if (web_only) return false;
      web.reset();
      result.side_files_failed = true;
    }
  }
  // 4. The renderer for the run and the saver over the placed tiles. Clips
  // show the frame of the moment: the first one in a still mosaic, the one
  // the clock says in a video mosaic, whose length and rate come from them.
  VideoClock clock;
  if (is_video_format(builder.parameters.output_format)) {
    const VideoTiming timing = video_timing(clip_statistics(builder.grid), builder.parameters.advanced);
    clock.frames = timing.frames;
    clock.rate = timing.rate;
    clock.reverse_loop = reverse_loop_mode(builder.parameters.advanced.value(kOptReverseLoop));
    clock.last = clock.frames;
    if (request.frames.first > 0) {
      if (request.frames.last > clock.frames || request.frames.last < request.frames.first) {
        builder.prompt().message(format(tr("The video mosaic has %ld frames: frames %ld to %ld cannot be written."),
                                        static_cast<long>(clock.frames), static_cast<long>(request.frames.first),
                                        static_cast<long>(request.frames.last)),
                                 Icon::error);
        return false;
      }
      clock.first = request.frames.first;
      clock.last = request.frames.last;
      clock.part = true;
    }
  }
  ClipFrames clips;
  TileFrameLoader frame_loader = request.frame_loader;
  if (!frame_loader)
    frame_loader = [&clips, &clock](const FotoInfo& clip, int, int, Foto& frame) {
      return clips.load(clip.path, tile_frame(clock.frame.load(), clip.frame_count, clock.frames, clock.reverse_loop),
                        frame);
    };
  const bool black_and_white = builder.tile_list != nullptr && builder.tile_list->black_and_white();
  const TileRenderer renderer(tables, black_and_white, builder.prompt(), frame_loader);
  // Wherever no tile is drawn the border colour shows: the gaps between tiles
  // and cells whose picture could not be loaded.
  const std::uint32_t background = static_cast<std::uint32_t>(builder.parameters.border_colour) & 0x00FFFFFFu;
  bool ok = false;
  {
    JPGMosaicSave saver(builder, builder.grid, renderer, background, request.threads, request.priority);
    if (!request.tiles_folder.empty())
      saver.save_individual_tiles(request.tiles_folder, OutputOptions::from(builder.parameters), request.dpi);
    saver.set_video_clock(&clock);
    // A video mosaic renders its bands once a frame: the web pyramid takes
    // the first frame's, and encodes its tiles on the saver's threads.
    if (web) web->use_pool(saver.pool(), saver.threads());
    // The first frame's bands also show the mosaic growing to whoever follows the run.
    saver.set_band_observer([&web, &clock, &builder](const Foto& band, int x, int y) {
      if (clock.frame.load() > 1) return;
      if (web) web->add_band(band, x, y);
      builder.sketch_band(band, x, y);
    });
    ok = save_mosaic(saver, request.base_name, builder.parameters, request.split, builder.grid.pixel_width(),
                     builder.grid.pixel_height(), result.files, request.dpi);
    result.render_records = saver.render_records();
    // Taken while the grid still holds the cells' signatures; the records
    // carry the tiles' mean colours, so this is one step per cell.
    result.colour_fidelity = measure_colour_fidelity(builder.grid, result.render_records);
    // Tile saving stopped quietly at its first failure; the run says so once.
    if (saver.individual_tile_failed()) {
      report_unable_to_save(saver.first_failed_tile(), builder.prompt());
      result.side_files_failed = true;
    } else if (ok && !request.tiles_folder.empty() && !mark_folder(request.tiles_folder, {})) {
      // The folder is the program's from now on: a later run may write into it.
      report_unable_to_save(request.tiles_folder + "/" + kFolderMarkName, builder.prompt());
      result.side_files_failed = true;
    }
  }
  // After the mosaic file: the pyramid, its popups and its page. Beside
  // another format a failed RezIroriz (reported) leaves the mosaic standing;
  // alone it is the mosaic.
  if (web) {
    std::string index_file;
    const bool web_written = ok && web->finish(builder.grid, index_file);
    if (!ok) web->abandon();
    if (web_written) result.result_file = index_file;
    if (web_only || builder.stop_requested()) ok = ok && web_written;
    else if (ok && !web_written) result.side_files_failed = true;
  }
  if (ok) result.written_files = files_written(result.files, builder.parameters.output_format, clock.first, clock.last);
  // 5. Counted for the About window.
  if (ok && request.user_state != nullptr) count_finished_mosaic(*request.user_state);
  return ok;
}

}  // namespace tess
