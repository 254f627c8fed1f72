#pragma once
// The RezIroriz: a zoomable web mosaic. Every band the saver renders is cut
// into full-resolution 256 × 256 tiles kept as temporary files; once the
// mosaic is written the lower zoom levels are built from them level by level,
// every tile becomes a JPEG, and the viewer from the data folder's
// "webviewer" is copied beside them with its index.html filled in. Only a
// band and a few tiles are ever in memory.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "images/foto.hpp"

namespace tess {

class MosaicBuilder;
class PuzzleGrid;
struct MosaicParameters;

/// Pixels of a tile side at every level.
inline constexpr int kWebTileSide = 256;
/// Tiles of one tile folder ("mosaic/0/", "mosaic/1/", ...).
inline constexpr int kWebTilesPerFolder = 1000;
/// Pixel of a full-resolution tile that no band has reached yet.
inline constexpr std::uint32_t kWebUnrenderedPixel = 0xFF7F00FFu;

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

/// `text` in double quotes with every inner double quote doubled.
std::string web_quoted(std::string_view text);

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
/// thread only; errors are reported through the builder's prompt with the
/// program's texts, and the temporary tiles never outlive the object.
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

  /// Cuts one rendered band, whose top left pixel lies at (x, y) of the whole
  /// mosaic, into the full-resolution tiles it meets. The first error is
  /// reported and ends the RezIroriz for the run; the mosaic goes on.
  void add_band(const Foto& band, int x, int y);

  /// After the mosaic is written: the pyramid, the popup data of `grid`'s
  /// placed tiles, the viewer and its index.html, whose path goes to
  /// `index_file`. False on an error (reported) or a stop request; what was
  /// left half done is removed.
  [[nodiscard]] bool finish(const PuzzleGrid& grid, std::string& index_file);

  /// Gives up: the folder being built goes, an earlier mosaic of the same
  /// name stays as it was. The pyramid becomes inactive.
  void abandon();

  const std::vector<WebLevel>& levels() const { return m_levels; }
  const std::string& folder() const { return m_options.folder; }
  /// The file of a tile: "<folder>mosaic/<k / 1000>/<level>-<column>-<row>.jpg"
  /// (or ".tmp" for its temporary form), k being its global index.
  std::string tile_path(int level, int column, int row, bool temporary) const;

 private:
  [[nodiscard]] bool write_temporary(const Foto& tile, const std::string& path) const;
  bool read_temporary(const std::string& path, Foto& tile) const;
  [[nodiscard]] bool build_pyramid();
  bool write_popup_data(const PuzzleGrid& grid, std::string& tile_array);
  [[nodiscard]] bool write_viewer(const std::string& tile_array, std::string& index_file);
  /// Over an earlier web mosaic: the finished one replaces it.
  [[nodiscard]] bool take_final_name(std::string& index_file);
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
  /// Full-resolution tiles whose temporary file this run wrote, row by row.
  std::vector<std::uint8_t> m_top_written;
  std::int64_t m_last_progress_ms = -1;
};

}  // namespace tess
