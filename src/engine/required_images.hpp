#pragma once
// After placement, two kinds of pictures are pushed into the mosaic whatever
// their scores: required pictures (the list's Required folders, or every
// picture when "Use All Images" is on) must appear at least once, and
// priority pictures ("#PriorityCenter" or "#PriorityWide" in the name) must
// appear near the centre. Each takes the cell where it fits best, displacing
// a tile that can spare a use; what finds no cell is reported and the run
// goes on.

#include <cstdint>
#include <string_view>

#include "engine/puzzle.hpp"
#include "engine/tile_priority.hpp"

namespace tess {

class MosaicBuilder;
class ScoreTables;

/// How far from the centre a priority picture may go.
enum class PriorityImageKind : std::uint8_t {
  none = 0,
  wide = 1,    ///< "#PriorityWide": not in the outer 15 % on either axis
  center = 2,  ///< "#PriorityCenter": not in the outer 30 % on either axis
};

/// The kind a path asks for ("#PriorityCenter" wins when both are there).
PriorityImageKind priority_image_kind(std::string_view path);

/// The outer share, in percent, that a kind keeps clear of (15 or 30; 0 for none).
int priority_band_margin(PriorityImageKind kind);

/// Whether the cell's centre lies within the band of `kind`: its position
/// along each axis, in whole percent of the mosaic rounded to nearest,
/// between margin and 100 - margin.
[[nodiscard]] bool in_priority_band(const PuzzleInfo& cell, PriorityImageKind kind, std::int32_t mosaic_width,
                      std::int32_t mosaic_height);

/// A cell that keeps clear of the border, gap included, on every side.
bool is_interior_cell(const PuzzleInfo& cell, std::int32_t mosaic_width, std::int32_t mosaic_height,
                      std::int32_t gap);

/// Places every unused required picture (every unused picture when "Use All
/// Images" is on and duplicates are allowed) in the cell where it scores
/// best, preferring cells off the border. Cells whose tile would lose its
/// only use are left alone, as are cells where the picture cannot be used
/// at all. Reports the pictures left out. False only when stopped.
[[nodiscard]] bool insert_required_images(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses);

/// Places every priority picture not yet inside its band in the band cell
/// where it scores best, leaving alone cells that hold another priority
/// picture or a required picture's only use. Reports the pictures that
/// found no cell. False only when stopped.
[[nodiscard]] bool insert_priority_images(MosaicBuilder& builder, const ScoreTables& tables, TileUseState& uses);

}  // namespace tess
