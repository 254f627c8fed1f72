#pragma once
// Saving a finished mosaic. The mosaic is never held whole: JPGMosaicSave
// renders it in bands of rows (only the placed tiles that meet a band are
// drawn, on the job pool) and every writer pulls the rows of one band after
// the other through NextRow. save_mosaic() cuts the mosaic into split pieces
// and chooses the band height; save_mosaic_part() writes one file;
// finish_mosaic() is the whole saving step of a run.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/colour_fidelity.hpp"
#include "engine/job_pool.hpp"
#include "engine/thread_priority.hpp"
#include "engine/tile_render.hpp"
#include "images/foto.hpp"
#include "output/row_source.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

class MosaicBuilder;
class Prompt;
class PuzzleGrid;
class UserState;

/// One file of a mosaic that saving attempted, written or not. Paths use "/".
struct SavedFileRecord {
  std::int32_t x_offset = 0;  ///< of the piece inside the whole mosaic
  std::int32_t y_offset = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::string directory;  ///< the path up to its last "/", empty when there is none
  std::string title;      ///< the file name without directory and extension
  std::string extension;  ///< from the file name's last ".", point included; empty when none
  std::string path;       ///< the full path
};

/// The record of `path` at the given place and size.
SavedFileRecord make_saved_file_record(const std::string& path, int x_offset, int y_offset, int width, int height);

/// How one mosaic is written, copied from its parameters.
struct OutputOptions {
  OutputFormatCode format = OutputFormatCode::jpg;
  int jpeg_quality = kDefaultJpegQuality;  ///< 1..100
  bool transparency = false;               ///< "Background Transparency"
  bool layers = false;                     ///< "Tile Layers"
  bool tiff64 = false;                     ///< "TIFF 64 bit"
  std::uint32_t fourcc = 0;                ///< codec of the compressed video format; 0: raw

  static OutputOptions from(const MosaicParameters& parameters);
};

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

/// Which frame of a video mosaic is being rendered: moved on by the video
/// writers through the saver, read by the loader of clip frames.
struct VideoClock {
  std::atomic<std::int64_t> frame{0};  ///< from 1; 0 while a still mosaic is rendered
  std::int64_t frames = 0;             ///< of the video mosaic; 0 for a still mosaic
  std::int64_t rate = 0;               ///< 1/500 frames per second
  int reverse_loop = 2;                ///< see reverse_loop_mode()
  /// The frames written, from 1: first..last of the video's frames, so that
  /// separate processes can each write some of them.
  std::int64_t first = 1;
  std::int64_t last = 0;
  /// Only some frames were asked for: an AVI is written as a part of the video.
  bool part = false;
};

/// Frames first..last of a video mosaic, from 1; 0: every frame.
struct FrameRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
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

/// Writes one file: `name` plus the format's extension, `layout` of the
/// mosaic through `saver`, with `dpi` as its resolution (0: none). Formats
/// this program cannot write yet are refused with a message. A record is
/// appended to `saved` for every format of the list, written or not. True
/// when the whole file was written.
[[nodiscard]] bool save_mosaic_part(JPGMosaicSave& saver, const std::string& name, const OutputOptions& options,
                      const PartLayout& layout, std::vector<SavedFileRecord>& saved, int dpi);

/// The size of split pieces the user asked for, in pixels (used only when
/// the parameters' split is on).
struct SplitPieceSize {
  int width = 0;
  int height = 0;
  /// Only the pieces first..last are written, numbered from 1 in the order
  /// they are written (column by column, top to bottom in a column), so that
  /// separate processes can each write some of them; 0: every piece.
  int first_piece = 0;
  int last_piece = 0;
};

/// Writes the whole mosaic of width × height pixels, named `base_name`, as
/// one file or as split pieces (column by column, top to bottom in a column,
/// named base name + "%02dx%02d" of row and column), publishing status and
/// progress through the builder. Stops at the first file that fails. A range
/// of pieces beyond the mosaic's pieces, or of a mosaic that is not split,
/// fails with a message.
[[nodiscard]] bool save_mosaic(JPGMosaicSave& saver, const std::string& base_name, const MosaicParameters& parameters,
                 const SplitPieceSize& split, int width, int height, std::vector<SavedFileRecord>& saved, int dpi);

/// What the saving step of a run needs besides the builder.
struct FinishRequest {
  std::string base_name;  ///< every output file's path without extension
  std::string tiles_folder;  ///< individual tiles are saved here; empty: not at all
  SplitPieceSize split;
  int dpi = 0;
  int threads = 1;  ///< threads in all for band rendering
  ThreadPriority priority = ThreadPriority::normal;
  TileFrameLoader frame_loader;  ///< pictures of video tiles; empty: video cells stay empty
  /// Only these frames of a video mosaic written as one picture a frame.
  FrameRange frames;
  /// Where the mosaic counter and the date of the first mosaic are kept;
  /// null to leave them alone.
  const UserState* user_state = nullptr;
};

/// What the saving step leaves for the report and the final action.
struct FinishResult {
  std::vector<SavedFileRecord> files;
  std::vector<TileRenderRecord> render_records;  ///< indexed like the grid's cells
  /// The colour differences of the drawn cells to the main image.
  ColourFidelity colour_fidelity;
  std::string result_file;                       ///< the web page when one was written, else empty
  /// Every file of the mosaic as written (split pieces, one picture a
  /// frame); empty when saving failed.
  std::vector<std::string> written_files;
  /// The web mosaic beside another format, or an individual tile, could not
  /// be written (reported); the mosaic itself may stand.
  bool side_files_failed = false;
};

/// The saving step of a run: renders the builder's grid with its placed tiles
/// and writes the mosaic in the parameters' format. `tables` are the run's
/// score tables. After success the user state counts one more mosaic (and
/// keeps today's date when it is the first). True when every file was written.
[[nodiscard]] bool finish_mosaic(MosaicBuilder& builder, const ScoreTables& tables, const FinishRequest& request,
                   FinishResult& result);

}  // namespace tess
