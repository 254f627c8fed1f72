#include "engine/tile_priority.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "base/prompt.hpp"
#include "base/text.hpp"
#include "engine/mosaic_builder.hpp"
#include "images/picture_files.hpp"
#include "settings/advanced_options.hpp"
#include "tilelist/foto_info.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

/// The remembered folder of the priority-map dialog.
constexpr const char* kPriorityMapKind = "TilePriority";

/// priority = m · 20 + 0.5, truncated and kept within 1..255.
std::uint8_t scaled_priority(double m) {
  const double value = m * kNormalCellPriority + 0.5;
  if (!(value >= 1.0)) return 1;  // also catches NaN
  if (value >= 255.0) return 255;
  return static_cast<std::uint8_t>(value);
}

/// A map coordinate for a mosaic coordinate: truncated, kept on the map.
int map_coordinate(std::int64_t mosaic, double scale, int map_side) {
  const double at = std::floor(static_cast<double>(mosaic) * scale);
  if (!(at >= 0.0)) return 0;
  if (at >= static_cast<double>(map_side - 1)) return map_side - 1;
  return static_cast<int>(at);
}

/// The map to paint the priorities with: the given file, or the one the user
/// picks. False (the run stops) on a cancel or a map that cannot be used.
bool load_priority_map(MosaicBuilder& builder, const std::string& given, Foto& map) {
  std::string path = given;
  if (path.empty()) path = ask_for_priority_map(builder.prompt());
  if (path.empty()) return false;
  // What went wrong with the file itself is the loader's to say.
  if (!map.load(path, 0, 0).ok_or_show(builder.prompt())) return false;
  return !map.empty() && map.width() > 0 && map.height() > 0;
}

}  // namespace

std::string ask_for_priority_map(Prompt& prompt) {
  const std::vector<std::string> chosen = prompt.choose_files(picture_file_request(
      tr("Please select an Image (JPG/PNG file) to use as the priority map for the Mosaic. \nPriority goes from "
         "White color (lowest priority) to Black color (highest priority). \nRead the user manual about using "
         "the priority map."),
      kPriorityMapKind));
  return chosen.empty() ? std::string() : chosen.front();
}

PriorityArea priority_area_from_word(std::string_view word) {
  if (word.empty()) word = advanced_option_table()[kOptTilePriorityArea].factory_default;
  if (word == "CENTER_SMALL") return PriorityArea::center_small;
  if (word == "CENTER_WIDE") return PriorityArea::center_wide;
  if (word == "CENTER_STRONG") return PriorityArea::center_strong;
  if (word == "EDGE") return PriorityArea::edge;
  if (word == "CUSTOM_PRIORITY") return PriorityArea::custom;
  return PriorityArea::average;
}

double radial_distance(const PuzzleInfo& cell, std::int32_t mosaic_width, std::int32_t mosaic_height) {
  const std::int64_t centre_x = std::int64_t{cell.left} + cell.width / 2;
  const std::int64_t centre_y = std::int64_t{cell.top} + cell.height / 2;
  // An empty mosaic has no centre to be away from.
  const double u = mosaic_width > 0 ? 0.5 - static_cast<double>(centre_x) / mosaic_width : 0.0;
  const double v = mosaic_height > 0 ? 0.5 - static_cast<double>(centre_y) / mosaic_height : 0.0;
  const double r = std::sqrt((2 * u) * (2 * u) + (2 * v) * (2 * v));
  return std::clamp(r, 0.0, 1.0);
}

bool is_border_cell(const PuzzleInfo& cell, std::int32_t mosaic_width, std::int32_t mosaic_height) {
  return cell.left == 0 || cell.top == 0 || std::int64_t{cell.left} + cell.width >= mosaic_width ||
         std::int64_t{cell.top} + cell.height >= mosaic_height;
}

std::uint8_t area_priority(PriorityArea area, const PuzzleInfo& cell, std::int32_t mosaic_width,
                           std::int32_t mosaic_height) {
  const double r = radial_distance(cell, mosaic_width, mosaic_height);
  const bool border = is_border_cell(cell, mosaic_width, mosaic_height);
  switch (area) {
    case PriorityArea::center_wide: {
      const double q = std::max(0.6, 1.0 - r);
      return scaled_priority(q + 0.4 - (border ? 0.4 : 0.0));
    }
    case PriorityArea::center_strong: {
      const double q = std::max(0.8, 1.0 - r);
      return scaled_priority(2 * q - 0.6 - (border ? 0.1 : 0.0));
    }
    case PriorityArea::center_small:
      return scaled_priority((1.0 - r) * 0.5 + 1.0 - (border ? 0.7 : 0.0));
    case PriorityArea::edge:
      return scaled_priority(r * 0.5 + 1.0);
    case PriorityArea::average:
    case PriorityArea::custom:
      break;
  }
  return kNormalCellPriority;
}

int pixel_gray(std::uint32_t pixel) {
  const int weighted = 30 * static_cast<int>(pixel_red(pixel)) + 59 * static_cast<int>(pixel_green(pixel)) +
                       11 * static_cast<int>(pixel_blue(pixel));
  return weighted / 100 + (weighted % 100 >= 50 ? 1 : 0);
}

std::uint8_t gray_priority(int gray) {
  const double o = (255 - gray) / 255.0 - 0.5;
  const double twice = 2 * o;
  // Darker than mid gray raises the priority up to twelve-fold; lighter
  // lowers it down to almost nothing.
  return scaled_priority(twice * (twice >= 0 ? 11.0 : 0.94) + 1.0);
}

std::uint8_t map_priority(const Foto& map, const PuzzleInfo& cell, std::int32_t mosaic_width,
                          std::int32_t mosaic_height) {
  if (map.empty() || mosaic_width <= 0 || mosaic_height <= 0) return kNormalCellPriority;
  const double sx = static_cast<double>(map.width()) / mosaic_width;
  const double sy = static_cast<double>(map.height()) / mosaic_height;
  const int x0 = map_coordinate(cell.left, sx, map.width());
  const int x1 = map_coordinate(std::int64_t{cell.left} + cell.width, sx, map.width());
  const int y0 = map_coordinate(cell.top, sy, map.height());
  const int y1 = map_coordinate(std::int64_t{cell.top} + cell.height, sy, map.height());
  const int gray =
      (pixel_gray(map.at(x0, y0)) + pixel_gray(map.at(x1, y0)) + pixel_gray(map.at(x0, y1)) +
       pixel_gray(map.at(x1, y1))) /
      4;
  return gray_priority(gray);
}

std::optional<std::uint32_t> tile_use_limit(std::string_view path) {
  std::string upper(path);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  for (std::size_t at = upper.find("MAX["); at != std::string::npos; at = upper.find("MAX[", at + 1)) {
    std::size_t end = at + 4;
    std::uint64_t n = 0;
    bool too_large = false;
    while (end < upper.size() && upper[end] >= '0' && upper[end] <= '9') {
      n = n * 10 + static_cast<std::uint64_t>(upper[end] - '0');
      if (n > std::numeric_limits<std::uint32_t>::max()) {
        too_large = true;
        n = std::numeric_limits<std::uint32_t>::max() + std::uint64_t{1};  // stays too large
      }
      ++end;
    }
    if (end == at + 4 || end >= upper.size() || upper[end] != ']') continue;
    // A limit that does not fit counts as no limit rather than wrapping.
    return too_large ? 0u : static_cast<std::uint32_t>(n);
  }
  return std::nullopt;
}

void TileUseState::reset(const TileImageList* list, std::int32_t tile_duplication) {
  m_uses.clear();
  m_tiles.clear();
  m_index.clear();
  m_any_own_limit = false;
  if (list == nullptr) return;
  const std::uint32_t run_limit = tile_duplication > 0 ? static_cast<std::uint32_t>(tile_duplication) : kUnlimitedUses;
  m_uses.reserve(list->entry_count());
  m_tiles.reserve(list->entry_count());
  m_index.reserve(list->entry_count());
  for (const auto& [path, entry] : list->entries()) {
    TileUse use;
    use.tile = &entry;
    use.max_uses = run_limit;
    if (const auto own = tile_use_limit(entry.path)) {
      use.max_uses = *own == 0 ? kUnlimitedUses : *own;
      use.own_limit = 1;
      m_any_own_limit = true;
    }
    m_index.emplace(&entry, m_uses.size());
    m_uses.push_back(use);
    m_tiles.push_back(&entry);
  }
}

void TileUseState::count_uses(const PuzzleGrid& grid) {
  for (TileUse& use : m_uses) use.use_count = 0;
  for (const auto& cell : grid.cells())
    if (TileUse* use = find(cell->tile)) ++use->use_count;
}

std::optional<std::size_t> TileUseState::index_of(const FotoInfo* tile) const {
  if (tile == nullptr) return std::nullopt;
  const auto it = m_index.find(tile);
  if (it == m_index.end()) return std::nullopt;
  return it->second;
}

TileUse* TileUseState::find(const FotoInfo* tile) {
  if (tile == nullptr) return nullptr;
  const auto it = m_index.find(tile);
  return it == m_index.end() ? nullptr : &m_uses[it->second];
}

const TileUse* TileUseState::find(const FotoInfo* tile) const {
  if (tile == nullptr) return nullptr;
  const auto it = m_index.find(tile);
  return it == m_index.end() ? nullptr : &m_uses[it->second];
}

bool compute_priorities(MosaicBuilder& builder, bool interactive, TileUseState& uses,
                        const std::string& priority_map) {
  PuzzleGrid& grid = builder.grid;
  const PriorityArea area = priority_area_from_word(builder.parameters.advanced.value(kOptTilePriorityArea));

  // Step 1: the map comes first, so a cancel leaves the grid untouched.
  Foto map;
  if (interactive && area == PriorityArea::custom && !load_priority_map(builder, priority_map, map)) return false;

  // Step 2.
  builder.set_status(tr("Initializing Mosaic..."));

  // Step 3: every cell starts empty; its priority is set on the first call only.
  const std::int32_t w = grid.pixel_width();
  const std::int32_t h = grid.pixel_height();
  for (const auto& cell : grid.cells()) {
    if (builder.stop_requested()) return false;
    cell->tile = nullptr;
    cell->score = kNoTileScore;
    cell->fixed = 0;
    if (!interactive) continue;
    cell->priority = area == PriorityArea::custom ? map_priority(map, *cell, w, h) : area_priority(area, *cell, w, h);
  }

  // Step 4: the tiles start unused, each with its own limit where its path sets one.
  uses.reset(builder.tile_list, builder.parameters.tile_duplication);
  return !builder.stop_requested();
}

}  // namespace tess
