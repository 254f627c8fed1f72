#pragma once
// The tile list file: the placement of a mosaic written down cell by cell, so
// that a later run of the same mosaic can keep those tiles. A settings-style
// file with one section, "TileList", and one key per active cell naming its
// position and size; the value is the tile's path (empty for an empty cell).

#include <filesystem>
#include <string>

#include "base/ini_file.hpp"

namespace tess {

class MosaicBuilder;
class ScoreTables;
class TileUseState;
struct PuzzleInfo;

/// The file beside the mosaic: its output base name followed by " Tile List.txt".
std::filesystem::path tile_list_file_path(const std::string& output_base);

/// The key of a cell: "Tile<left>x<top>-<width>x<height>".
std::string tile_list_key(const PuzzleInfo& cell);

/// Writes every active cell of the builder's grid. False, after telling the
/// user, when the file could not be written.
[[nodiscard]] bool save_tile_list_file(MosaicBuilder& builder, const std::filesystem::path& path);

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
