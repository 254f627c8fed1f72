#pragma once
// The RezIroriz: a zoomable web mosaic. The pyramid is built while the saver
// renders its bands: the full-resolution rows of each band go straight into
// the JPEG encoders of the tiles they cross, pairs of rows are shrunk into the
// level below as they arrive, and so on down to the single tile of level 0.
// Each level keeps one row of pixels and the open encoders of one row of
// tiles, so memory stays the same whatever the mosaic's size, and no tile is
// ever written twice. Once the mosaic is written the viewer from the data
// folder's "webviewer" is copied beside the tiles with its index.html filled in.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "images/foto.hpp"

namespace tess {

class JobPool;
class MosaicBuilder;
class Prompt;
class PuzzleGrid;
struct MosaicParameters;

/// Pixels of a tile side at every level.
inline constexpr int kWebTileSide = 256;
/// Tiles of one tile folder ("mosaic/0/", "mosaic/1/", ...).
inline constexpr int kWebTilesPerFolder = 1000;

/// One zoom level of the pyramid.
struct WebLevel {
  int width = 0;
  int height = 0;
  int columns = 0;  ///< tiles across, ceil(width / 256)
  int rows = 0;     ///< tiles down
  std::int64_t first_tile = 0;  ///< global index of the level's tile 0-0; indices run on from level 0

  std::int64_t tile_count() const { return static_cast<std::int64_t>(columns) * rows; }
  /// Width and height of the tile at (column, row): 256 but at the right and bottom edges.
  int tile_width(int column) const;
  int tile_height(int row) const;
};

/// The zoom levels of a width × height mosaic, level 0 first and the full
/// size last. Each lower level halves both sides, truncating (a side below 4
/// becomes 1), until neither side exceeds 256. Empty for an empty mosaic.
std::vector<WebLevel> web_levels(int width, int height);

/// Popup kinds of "RezIroriz PopUp" (0 is "No PopUp").
inline constexpr int kWebPopUpNone = 0;
inline constexpr int kWebPopUpLast = 4;

/// The viewer function that draws popups of `kind`: "null" for "No PopUp"
/// (and for a kind the viewer does not know), "getPopUpTextOnly", ...
std::string_view web_popup_function(int kind);

/// `text` in double quotes with every inner double quote doubled, and one
/// backslash more after each "<" that backslashes and a "/" or "!" follow,
/// so that no "</" or "<!" reaches the page's script block (the viewer takes
/// the backslash off again).
std::string web_quoted(std::string_view text);

/// The pop-up link of the picture at `picture` from a page in `page_folder`:
/// a path relative to the page ("../" where it climbs) when both lie under
/// one root, else the picture's file:// address; percent-encoded either way.
std::string web_picture_link(const std::string& page_folder, const std::string& picture);

/// Whether the web mosaic of `parameters` links pictures outside its own
/// folder: pop-ups that show the tile pictures where they lie, not copied.
bool web_links_leave_folder(const MosaicParameters& parameters);

/// Says so through `prompt` (a warning) when web_links_leave_folder(), naming
/// the option that copies the pictures instead.
void warn_of_web_links(const MosaicParameters& parameters, Prompt& prompt);

/// Everything a RezIroriz needs to know besides the mosaic size.
struct WebOptions {
  std::string folder;  ///< the RezIroriz folder, ending in "/"
  std::string title;   ///< "RezIroriz Title"
  int popup_kind = kWebPopUpNone;
  int popup_width = 300;  ///< pixels
  bool copy_images = false;  ///< source pictures are copied into "tiles/"
  int jpeg_quality = 95;
  std::filesystem::path viewer_folder;  ///< copied into the folder whole

  /// The options of a run whose outputs are named `base_name`: its folder is
  /// base name + " RezIroriz/", the viewer comes from the data folder.
  static WebOptions from(const MosaicParameters& parameters, const std::string& base_name);
};

/// One RezIroriz, from its folders to its index.html. Used on the saving
/// thread only (tiles are encoded on the job pool it is given); errors are
/// reported through the builder's prompt with the program's texts, and a
/// pyramid left unfinished never outlives the object.
class WebPyramid {
 public:
  WebPyramid(MosaicBuilder& builder, WebOptions options, int width, int height);
  ~WebPyramid();
  WebPyramid(const WebPyramid&) = delete;
  WebPyramid& operator=(const WebPyramid&) = delete;

  /// Creates the RezIroriz folder, "mosaic/" and every tile folder. False
  /// (reported) leaves the pyramid inactive.
  [[nodiscard]] bool set_up();
  /// Whether the pyramid is still being built: set up, and no error so far.
  [[nodiscard]] bool active() const { return m_active; }

  /// Tiles are encoded by up to `threads` jobs at once on `pool`, which must
  /// outlive the last add_band(). Without a pool every tile is encoded on the
  /// saving thread.
  void use_pool(JobPool& pool, int threads);

  /// Takes one rendered band, whose top left pixel lies at (x, y) of the
  /// whole mosaic: every tile it completes, at every level, is written before
  /// this returns. Bands are expected top to bottom across the whole width;
  /// others (split pieces) wait in a scratch file of rows inside the folder
  /// until their rows are complete. The first error is reported and ends the
  /// RezIroriz for the run; the mosaic goes on.
  void add_band(const Foto& band, int x, int y);

  /// After the mosaic is written: the popup data of `grid`'s placed tiles,
  /// the viewer and its index.html, whose path goes to `index_file`. False on
  /// an error (reported), on a stop request, or when bands are missing; what
  /// was left half done is removed.
  [[nodiscard]] bool finish(const PuzzleGrid& grid, std::string& index_file);

  /// Gives up: the folder being built goes, an earlier mosaic of the same
  /// name stays as it was. The pyramid becomes inactive.
  void abandon();

  const std::vector<WebLevel>& levels() const { return m_levels; }
  const std::string& folder() const { return m_options.folder; }
  /// The file of a tile: "<folder>mosaic/<k / 1000>/<level>-<column>-<row>.jpg",
  /// k being its global index.
  std::string tile_path(int level, int column, int row) const;

 private:
  struct LevelState;
  /// Rows of a level: `count` rows from `first`, each `stride` pixels after the one before.
  struct Rows {
    const std::uint32_t* first = nullptr;
    std::size_t stride = 0;
    int count = 0;
    const std::uint32_t* row(int i) const { return first + static_cast<std::size_t>(i) * stride; }
  };

  /// The next rows of `level` (below its last one): fed to its tiles, shrunk
  /// into the level below. False after an error (reported).
  [[nodiscard]] bool take_rows(std::size_t level, const Rows& rows);
  /// The part of take_rows() for tile columns [column_begin, column_end).
  void take_columns(std::size_t level, const Rows& rows, int column_begin, int column_end, int below_first,
                    int below_end);
  /// Full-resolution rows of the scratch file that every band has reached.
  [[nodiscard]] bool take_spilled_rows();
  [[nodiscard]] bool spill(const Foto& band, int x, int y, int right, int bottom);
  void close_spill();
  /// Writes the tiles of `level` finished by the last rows, left to right.
  [[nodiscard]] bool write_finished(std::size_t level);
  /// Ends the RezIroriz for the run after a band-time error.
  void fail(const std::string& message);

  bool write_popup_data(const PuzzleGrid& grid, std::string& tile_array);
  [[nodiscard]] bool write_viewer(const std::string& tile_array, std::string& index_file);
  /// Over an earlier web mosaic: the finished one replaces it.
  [[nodiscard]] bool take_final_name(std::string& index_file);
  /// Marks the finished folder as the program's (see output_guard.hpp).
  [[nodiscard]] bool write_mark();
  void show_progress(std::int64_t done, std::int64_t total, bool force);

  MosaicBuilder& m_builder;
  WebOptions m_options;
  int m_width;
  int m_height;
  std::vector<WebLevel> m_levels;
  bool m_active = false;
  /// The folder the mosaic is meant for while it is built beside it; empty
  /// when it is built in place.
  std::string m_final_folder;
  std::vector<std::unique_ptr<LevelState>> m_states;  ///< like m_levels
  JobPool* m_pool = nullptr;
  int m_threads = 1;
  std::int64_t m_tiles_written = 0;
  /// Bands out of row order: their pixels by row in a scratch file, and how
  /// many pixels of each row have arrived.
  int m_spill_fd = -1;
  std::string m_spill_path;
  std::vector<int> m_row_filled;
  std::int64_t m_last_progress_ms = -1;
};

}  // namespace tess
