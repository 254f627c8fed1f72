#pragma once
// Cell priorities: how strict the matching is in each cell. A cell's score is
// multiplied by priority / 20, so cells with a high priority get the closest
// matches. By default the centre of the mosaic counts most; a grayscale
// priority map lets the user paint the priorities instead. This step also
// starts the placement state of a mosaic: every cell loses its tile and every
// tile its uses.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/puzzle.hpp"
#include "images/foto.hpp"

namespace tess {

class Prompt;

class MosaicBuilder;
class TileImageList;
struct FotoInfo;

/// The score of a cell that holds no tile.
inline constexpr std::uint32_t kNoTileScore = 0xFFFFFFFFu;
/// Max uses of a tile that may be used any number of times.
inline constexpr std::uint32_t kUnlimitedUses = 0xFFFFFFFFu;

/// Which part of the mosaic gets the strictest matching ("Tile Area Priority").
enum class PriorityArea { average, center_small, center_wide, center_strong, edge, custom };

/// The area for the option's stored word; an empty word is the option's
/// factory default (centre wide), any unknown word counts as average.
PriorityArea priority_area_from_word(std::string_view word);

/// How far the cell's centre lies from the mosaic's centre: 0 at the centre,
/// 1 at the middle of each edge, limited to 0..1. The centre is taken in
/// whole pixels (integer halves of the cell's sides).
double radial_distance(const PuzzleInfo& cell, std::int32_t mosaic_width, std::int32_t mosaic_height);

/// A cell that touches any edge of the mosaic.
bool is_border_cell(const PuzzleInfo& cell, std::int32_t mosaic_width, std::int32_t mosaic_height);

/// The priority of a cell for one of the geometric areas (every area but
/// custom, which needs a map: it gives the neutral 20 here).
std::uint8_t area_priority(PriorityArea area, const PuzzleInfo& cell, std::int32_t mosaic_width,
                           std::int32_t mosaic_height);

/// The gray of a pixel, 30 % red, 59 % green, 11 % blue, rounded half up.
int pixel_gray(std::uint32_t pixel);

/// The priority of a gray level of the map: black 240, mid gray 20, white 1.
std::uint8_t gray_priority(int gray);

/// The priority the map gives a cell: the mean gray of the map pixels under
/// the cell's four corners (the map is stretched over the mosaic).
std::uint8_t map_priority(const Foto& map, const PuzzleInfo& cell, std::int32_t mosaic_width,
                          std::int32_t mosaic_height);

/// The max uses a tile's path asks for with a "MAX[n]" mark (letters in any
/// case): n, where 0 means unlimited, as does a number too large for 32 bits.
/// nullopt when the path carries no mark.
std::optional<std::uint32_t> tile_use_limit(std::string_view path);

/// What placement changes per tile during one mosaic. The tile list itself
/// stays read-only while a run uses it, so the use counts and flags live
/// here, one record per list entry in list order: a tile's index is its
/// ScoreKey in lists that are not grouped.
struct TileUse {
  const FotoInfo* tile = nullptr;
  std::uint32_t use_count = 0;
  /// The most uses allowed: the tile's own MAX[n] mark, else the run's tile
  /// duplication; kUnlimitedUses for no limit.
  std::uint32_t max_uses = kUnlimitedUses;
  std::uint8_t exhausted = 0;  ///< placement's exhausted (or visited) flag
  std::uint8_t own_limit = 0;  ///< max_uses came from a MAX[n] mark
};

class TileUseState {
 public:
  /// Takes the entries of `list` (none for a null list) in list order with
  /// no uses and no flags. `tile_duplication` is the run's max uses, 0 or
  /// less meaning unlimited; a tile's MAX[n] mark overrides it.
  void reset(const TileImageList* list, std::int32_t tile_duplication);

  /// Sets every use count to the number of cells of `grid` holding the tile.
  void count_uses(const PuzzleGrid& grid);

  std::size_t size() const { return m_uses.size(); }
  [[nodiscard]] bool empty() const { return m_uses.empty(); }
  TileUse& operator[](std::size_t index) { return m_uses[index]; }
  const TileUse& operator[](std::size_t index) const { return m_uses[index]; }
  /// The tiles in list order, as the candidate-list rebuilds read them.
  std::span<const FotoInfo* const> tiles() const { return m_tiles; }
  /// Whether any tile carries a MAX[n] mark.
  [[nodiscard]] bool any_own_limit() const { return m_any_own_limit; }

  /// The index of `tile` in list order; nullopt for a tile not in the list.
  std::optional<std::size_t> index_of(const FotoInfo* tile) const;
  /// The record of `tile`, or null for a tile not in the list (or null).
  TileUse* find(const FotoInfo* tile);
  const TileUse* find(const FotoInfo* tile) const;

 private:
  std::vector<TileUse> m_uses;
  std::vector<const FotoInfo*> m_tiles;
  std::unordered_map<const FotoInfo*, std::size_t> m_index;
  bool m_any_own_limit = false;
};

/// The first step of every mosaic's matching ("Initializing Mosaic..."):
/// every cell loses its tile (score all bits set, not fixed) and `uses`
/// starts afresh from the builder's tile list. With `interactive` set (the
/// first call of a mosaic, not the one after a split) each cell also gets
/// its priority from the "Tile Area Priority" option. For a custom area the
/// map is loaded from `priority_map` when given, else chosen through the
/// builder's prompt; a cancelled choice, a map that does not load or an
/// empty map fails the step, as does a stop request.
/// The custom priority map chosen through `prompt` ("Please select an Image
/// (JPG/PNG file) to use as the priority map ..."); empty when cancelled.
std::string ask_for_priority_map(Prompt& prompt);

[[nodiscard]] bool compute_priorities(MosaicBuilder& builder, bool interactive, TileUseState& uses,
                        const std::string& priority_map = {});

}  // namespace tess
