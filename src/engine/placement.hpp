#pragma once
// Placement: which tile picture goes into which cell. The processing mode
// picks the algorithm; every algorithm honours the tile duplication (how
// often one picture may be used), the duplicate spacing (how far apart two
// uses must be), the MAX[n] limits written in file names and the tile
// variant groups. Use counts and exhausted flags live in the TileUseState
// the priority step starts for each mosaic; the tile list itself is only read.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/puzzle.hpp"
#include "engine/thread_priority.hpp"
#include "engine/tile_priority.hpp"
#include "settings/mosaic_parameters.hpp"

namespace tess {

class MosaicBuilder;
class Prompt;
class ScoreTables;

/// What a placement needs besides the builder, the tables and the uses.
struct PlacementSetup {
  /// Threads in all for candidate-list rebuilds, the calling one included.
  int threads = 1;
  ThreadPriority priority = ThreadPriority::normal;
  /// The " Tile List.txt" file of this mosaic (tile_list_file_path()); empty
  /// when the run has no output name, which turns loading and saving off.
  std::filesystem::path tile_list_file;
  /// Set when the tile list file could not be written (the user was told); may be null.
  bool* tile_list_file_failed = nullptr;
};

/// Runs the algorithm chosen by the processing mode on the builder's grid:
/// Faster (with the tile list file) whenever consecutive frames are in use
/// or the mode is Faster, Sequential, Random or Sequential by Date, the best
/// assignment without duplicates for Experimental, High Quality for every
/// other mode. Only active cells are filled; cells that hold a tile already keep it and count for
/// duplicates and spacing, fixed cells never change. Returns false only when
/// Experimental is chosen while duplicates are allowed or a tile carries a
/// MAX[n] mark (after telling the user); a stop ends placement early with
/// later cells empty and is left for the caller to see.
[[nodiscard]] bool place_tiles(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses, const PlacementSetup& setup);

// ---- the algorithms, each callable on its own ------------------------------

/// Fills the empty cells by regret: the cell that loses most when its best
/// candidate goes elsewhere is served first. With `grouped` set (Custom and
/// Folder Tile Variants) the candidates are variant groups, so the pictures of
/// one group count as one for duplicates and spacing. False when a job of
/// the candidate lists failed (reported through the builder).
[[nodiscard]] bool place_high_quality(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                        const PlacementSetup& setup, bool grouped);

/// Offers each tile in turn to every cell it would improve, best gain first,
/// until no tile improves anything; a displaced tile gets another turn. A
/// tile never goes beyond its max uses. With consecutive frames each turn
/// places a tile in one cell only and keeps frames of one clip apart.
void place_faster(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses);

/// Sequential, Random and Sequential by Date: the tiles in list, random or
/// shooting-date order go into the cells in grid order, cyclically.
void place_sequential(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses);

/// Experimental: gives each empty cell at most one unused tile, each tile at
/// most one cell, filling as many cells as the tiles allow at the least
/// total score (a tile that cannot be used for a cell is never put there).
/// The cells' tile lists are built on `setup.threads` threads. A stop ends it
/// (and clears the stop) with the last assignment it finished, or when none
/// is finished yet with a partial one. False when a scoring job failed
/// (reported through the builder): nothing is placed.
[[nodiscard]] bool place_by_auction(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses,
                      const PlacementSetup& setup);

// ---- helpers the algorithms share, public for the run and the tests ---------

/// Squared distance in mosaic pixels within which two uses of a tile are
/// too close: S² times the average cell area, 0 when S < 2 or the grid is empty.
std::int64_t spacing_area(const PuzzleGrid& grid, std::int32_t duplicate_spacing);

/// Candidate entries the lists of one mosaic may hold in all: what is left of
/// "Max Memory" (10..3,900 MB) once the cells, the tiles and a fixed reserve
/// are counted, at least 50 MB, at 60 bytes per entry.
std::size_t candidate_entry_budget(const PuzzleGrid& grid, std::size_t tile_count,
                                   const std::string& max_memory_option);

/// Variant group numbers of the tiles, in list order: consecutive tiles whose
/// paths agree up to the last "___" (Custom Tile Variants) or up to the last
/// "/" (Folder Tile Variants) share a number, counted from 1. A path without
/// the separator is its own key. Empty for any other mode.
std::vector<std::int32_t> variant_group_numbers(const TileUseState& uses, std::int32_t processing);

}  // namespace tess
