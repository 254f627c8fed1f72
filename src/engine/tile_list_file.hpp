#pragma once
// The tile list file: the placement of a mosaic written down cell by cell, so
// that a later run of the same mosaic can keep those tiles. A settings-style
// file with one section, "TileList", and one key per active cell naming its
// position and size; the value is the tile's path (empty for an empty cell).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/ini_file.hpp"
#include "settings/geometry.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

class MosaicBuilder;
class ScoreTables;
class TileUseState;
struct PuzzleInfo;

/// The file beside the mosaic: its output base name followed by " Tile List.txt".
std::filesystem::path tile_list_file_path(const std::string& output_base);

/// The key of a cell: "Tile<left>x<top>-<width>x<height>".
std::string tile_list_key(const PuzzleInfo& cell);

/// What a placement was made for. A placement written for later runs keeps
/// it in a section of its own, so that it is never rendered over another
/// picture, list or cell grid that happens to have cells of the same sizes.
struct PlacementOrigin {
  std::string main_image;  ///< the main image's file name, for messages
  int main_width = 0;      ///< the main image as the run loads it
  int main_height = 0;
  std::string main_hash;   ///< of the main image file's bytes, 16 hex digits
  std::string list;        ///< the Tile Images List's file name, for messages
  std::string list_hash;   ///< of the list file's bytes
  std::string grid;        ///< what decides the cells: sizes, gap, counts, pattern
  std::string mask_hash;   ///< of the mask the cells were laid out from; empty: none

  bool operator==(const PlacementOrigin&) const = default;
};

/// The origin of a placement of `main_image` (loaded as width × height) laid
/// out by `layout` and `pattern`, or by the cells of `mask_file` when not
/// empty, with the tiles of `list_file`. False when a file cannot be read.
[[nodiscard]] bool placement_origin(const std::string& main_image, int width, int height, const std::string& list_file,
                                    const MosaicLayout& layout, PatternCode pattern, const std::string& mask_file,
                                    PlacementOrigin& origin);

/// The origin a placement file keeps; nullopt for a file without one (a
/// placement written before origins were kept, or the tile list file beside
/// a mosaic).
std::optional<PlacementOrigin> read_placement_origin(const IniFile& file);

/// Empty when a placement made for `made_for` may be rendered for `run`;
/// else what differs, as "another main image (a.jpg, 640 × 480): this run's
/// is b.jpg, 640 × 480". Masks are compared only when both are known.
std::string placement_difference(const PlacementOrigin& made_for, const PlacementOrigin& run);

/// Writes every active cell of the builder's grid, after `origin` when given.
/// False, after telling the user, when the file could not be written.
[[nodiscard]] bool save_tile_list_file(MosaicBuilder& builder, const std::filesystem::path& path,
                                       const PlacementOrigin* origin = nullptr);

/// Gives every active cell named in the file the tile its path names, when the
/// tile list holds it: the cell becomes fixed, the use counts follow and the
/// cell's score is the tile's score for it. A missing file changes nothing.
/// Returns the number of cells fixed.
std::size_t load_tile_list_file(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                                const std::filesystem::path& path);

/// A placement read from a tile list file, to be used as it stands.
class FixedPlacement {
 public:
  /// Reads the file; false when it cannot be read or holds no placement.
  [[nodiscard]] bool load(const std::filesystem::path& path);
  /// Whether the placement names a cell of this position and size.
  [[nodiscard]] bool lists(const PuzzleInfo& cell) const;
  /// Every active cell takes the tile the placement names for it, or stays
  /// empty where the placement left it empty; every cell becomes fixed, the
  /// use counts follow and each score is the tile's score for its cell.
  /// False, with what does not fit in `problem`, when the placement names
  /// other cells than the grid's active ones or a picture not in the run's list.
  [[nodiscard]] bool apply(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                           std::string& problem) const;

 private:
  IniFile m_file;
};

}  // namespace tess
