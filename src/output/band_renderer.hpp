// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The band renderer of a finished mosaic. The mosaic is never held whole:
// JPGMosaicSave renders it in bands of rows (only the placed tiles that meet
// a band are drawn, on the job pool) and every writer pulls the rows of one
// band after the other through NextRow. How tall a band may be comes from
// the memory block and from where the cells end.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/job_pool.hpp"
#include "engine/thread_priority.hpp"
#include "engine/tile_render.hpp"
#include "images/foto.hpp"
#include "output/output_options.hpp"
#include "output/row_source.hpp"

namespace tess {

class MosaicBuilder;
class Prompt;
class PuzzleGrid;
struct VideoClock;

/// The "Memory Block" option read as a C integer and held to 10..2,900
/// megabytes; 200 when the option holds nothing.
int memory_block_megabytes(std::string_view option_text);

/// Pixels a band may hold for a memory block of `megabytes` (4 bytes a pixel).
inline constexpr std::int64_t kBandPixelsPerMegabyte = 250'000;

/// Rows rendered at once for pieces of piece_width × piece_height: the block's
/// pixels divided by the width, at least 1. While a band of that height (or of
/// the whole piece when that is lower) cannot be allocated, the height shrinks
/// by a tenth, at least one row, down to 1. `can_allocate` probes one size;
/// empty, it tries a real allocation that is freed at once.
using BandProbe = std::function<bool(int width, int height)>;
int choose_band_height(int piece_width, int piece_height, int block_megabytes, const BandProbe& can_allocate = {});

/// `band_height`, or the tallest height down to half of it whose bands end
/// only where no cell of `grid` goes on across the cut, in every piece of
/// `piece_height` rows of a mosaic `mosaic_height` high: a cell cut by a band
/// boundary is drawn once for each band it meets.
int band_height_between_cells(const PuzzleGrid& grid, int band_height, int piece_height, int mosaic_height);

/// Where one file lies in the whole mosaic and how it is rendered.
struct PartLayout {
  int width = 0;   ///< pixels of the file
  int height = 0;
  int x_offset = 0;  ///< of the file inside the whole mosaic
  int y_offset = 0;
  int band_height = 1;  ///< rows rendered at once; a band always spans the whole part width
};

/// The band renderer of a finished mosaic and the row source of its writers.
/// One object serves every file of a run. It reads the grid's cells and their
/// tiles, which must stay unchanged while it lives; the renderer is shared by
/// the band jobs. Rows come from the saving thread only; the band jobs run on
/// the object's own pool. With more than one thread the next band of a part
/// is rendered into a second buffer while the writer encodes the rows of the
/// current one; the bands still follow one another, so the rows and files are
/// the same as with one thread.
class JPGMosaicSave final : public RowSource {
 public:
  /// `threads` in all for band rendering (the saving thread included), at
  /// `priority`. `background` is drawn wherever no tile is (the border colour).
  JPGMosaicSave(MosaicBuilder& builder, const PuzzleGrid& grid, const TileRenderer& renderer,
                std::uint32_t background, int threads, ThreadPriority priority = ThreadPriority::normal);
  ~JPGMosaicSave() override;
  JPGMosaicSave(const JPGMosaicSave&) = delete;
  JPGMosaicSave& operator=(const JPGMosaicSave&) = delete;

  MosaicBuilder& builder() { return m_builder; }
  const PuzzleGrid& grid() const { return m_grid; }
  /// Threads in all the saver renders with; writers may use as many.
  int threads() const { return m_threads; }
  /// The pool the bands are rendered on; writers may queue their own jobs on it.
  JobPool& pool() { return m_pool; }
  /// Where the writers of this saver report: the builder's prompt.
  Prompt& prompt();

  /// Starts a file: the next row is row 0 of the band at the part's top.
  void begin_part(const PartLayout& layout);
  const PartLayout& layout() const { return m_layout; }

  // RowSource: the rows of the current part.
  int width() const override { return m_layout.width; }
  int height() const override { return m_layout.height; }
  /// NextRow. Null when a stop was requested (also during the rendering of a
  /// band), after the last row of the part, or when a band could not be
  /// allocated (reported through the builder's prompt).
  const std::uint32_t* next_row() override;
  [[nodiscard]] bool stop_requested() const override;

  /// Placed cells, the ones with a tile.
  std::size_t placed_count() const { return m_placed.size(); }
  /// Bands of the current part.
  int band_count() const;

  /// What rendering did to every cell, indexed like the grid's cells (for the
  /// text report and the web output); cells never drawn keep an empty record.
  const std::vector<TileRenderRecord>& render_records() const { return m_records; }

  /// Frees the band images (allocated again when the next band needs them),
  /// once the band being rendered ahead, if any, is finished.
  void free_band();

  /// Whether bands are rendered ahead while the writer works: then each of
  /// the two band buffers gets half of the memory block.
  bool renders_ahead() const { return m_render_ahead; }

  /// Also writes every tile, as it is rendered, as a file of its own into
  /// `folder` (each tile once, however many bands or pieces it meets). The
  /// first tile that cannot be written ends tile saving for the run; the
  /// mosaic goes on.
  void save_individual_tiles(const std::string& folder, const OutputOptions& options, int dpi);
  /// Whether a tile could not be written.
  [[nodiscard]] bool individual_tile_failed() const { return m_tiles_failed.load(); }
  /// The file of the tile that failed first; read once the rendering is over.
  const std::string& first_failed_tile() const { return m_first_failed_tile; }

  /// Shown every band once it is rendered, before its rows are handed out:
  /// the band and the place of its top left pixel in the whole mosaic.
  using BandObserver = std::function<void(const Foto& band, int x, int y)>;
  void set_band_observer(BandObserver observer) { m_band_observer = std::move(observer); }

  /// The clock of a video mosaic (null for a still one); it must outlive the saver.
  void set_video_clock(VideoClock* clock) { m_video_clock = clock; }
  VideoClock* video_clock() const { return m_video_clock; }

 private:
  struct Group;
  struct Band;

  /// Allocates `band` for a band of width × height at (x, y) of the mosaic,
  /// fills it with the background and gathers the groups of cells meeting
  /// it. False when the buffer could not be allocated (`report`: say so).
  [[nodiscard]] bool prepare_band(Band& band, int x, int y, int width, int height, bool report);
  /// Hands the band's groups to the pool; finish_band() waits for them.
  void start_band(Band& band);
  /// Waits for the jobs of the band being rendered (helping with them).
  /// False on a stop.
  [[nodiscard]] bool finish_band();
  /// Renders the band's groups that no other job has taken yet.
  void render_groups(Band& band);
  void render_group(const Group& group, Foto& target, int band_x, int band_y);
  /// Loads the picture of `cells` (which all load the same picture) once and
  /// draws every one of them.
  void render_cells(const std::vector<std::size_t>& cells, Foto& target, int band_x, int band_y);
  /// Adds the share of the rows handed out since the last count, as the
  /// writer takes the rows of a band of `band_rows` rows.
  void count_rows_written(int band_rows);
  /// Waits for a band rendered ahead that nobody will read.
  void drop_band_ahead();
  /// The band at `band_y` of the part as the current one, rendered ahead or now;
  /// the next band is started ahead when it can be.
  [[nodiscard]] bool advance_to_band(int band_y);

  MosaicBuilder& m_builder;
  const PuzzleGrid& m_grid;
  const TileRenderer& m_renderer;
  std::uint32_t m_background;
  JobPool m_pool;
  int m_threads = 1;
  bool m_render_ahead = false;

  std::vector<std::size_t> m_placed;  ///< indexes of the cells with a tile, in list order
  std::vector<TileRenderRecord> m_records;
  std::vector<std::uint8_t> m_load_failed;  ///< the cell's picture failed once: counted already

  PartLayout m_layout;
  std::unique_ptr<Band> m_bands[2];
  int m_current = 0;        ///< the band whose rows are handed out
  bool m_ahead = false;     ///< the other band is being rendered ahead
  std::unique_ptr<JobQueue> m_queue;  ///< the jobs of the band being rendered
  int m_band_y = 0;       ///< of the current band inside the part
  int m_next_row = 0;     ///< inside the current band
  int m_rows_counted = 0;  ///< rows of the current band already counted in the progress
  bool m_band_current = false;
  bool m_stopped = false;  ///< rows ended on a stop request

  std::string m_tiles_folder;  ///< individual tiles go here; empty: none are saved
  OutputOptions m_tile_options;
  int m_tile_dpi = 0;
  std::vector<std::uint8_t> m_tile_saved;  ///< by cell: its tile was written (or tried)
  std::atomic<bool> m_tiles_failed{false};
  std::string m_first_failed_tile;  ///< written only by the job that set m_tiles_failed

  BandObserver m_band_observer;
  VideoClock* m_video_clock = nullptr;
};

}  // namespace tess
