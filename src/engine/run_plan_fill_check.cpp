// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/run_plan_fill_check.hpp"

#include <algorithm>
#include <vector>

#include "base/text.hpp"

namespace tess {

void pattern_orientations(PatternCode pattern, bool& landscape, bool& portrait) {
  if (is_pattern_between(pattern, PatternCode::portrait, PatternCode::portrait_5_rows)) {
    landscape = false;
    portrait = true;
  } else if (is_pattern_between(pattern, PatternCode::mixed_1to1, PatternCode::parquet_1to5)) {
    landscape = true;
    portrait = true;
  } else {
    landscape = true;
    portrait = false;
  }
}

std::string fill_check_text(const MosaicParameters& parameters, const FillCheckCounts& counts) {
  const std::int64_t n = counts.landscape_tiles + counts.portrait_tiles;
  const std::int64_t m = counts.cells;
  const std::int64_t d = parameters.tile_duplication;
  const std::int64_t s = parameters.duplicate_spacing;
  std::vector<std::string> sentences;
  const auto add = [&sentences](const std::string& sentence) {
    // One sentence said twice says nothing more.
    if (std::find(sentences.begin(), sentences.end(), sentence) == sentences.end()) sentences.push_back(sentence);
  };
  if ((d > 0 && d * n < m) || (s == 0 && n < m)) {
    add(tr("Not all tiles in your Mosaic will be filled"));
    add(tr("I suggest to allow the Tile Duplication"));
  } else if (s > 1 && n < (2 * s + 1) * (2 * s + 1)) {
    add(tr("Not all tiles in your Mosaic will be filled"));
    add(tr("I suggest to reduce the Duplicate Spacing"));
  }
  if (!parameters.tile_variants.contains(TileVariant::rotated_90)) {
    bool orientation_issue = false;
    if ((counts.landscape_tiles > 0 && !counts.pattern_has_landscape) ||
        (counts.portrait_tiles > 0 && !counts.pattern_has_portrait)) {
      add(tr("Not all pictures in your Tile Images List will be used"));
      orientation_issue = true;
    }
    if ((counts.pattern_has_landscape && counts.landscape_tiles == 0) ||
        (counts.pattern_has_portrait && counts.portrait_tiles == 0)) {
      add(tr("Not all tiles in your Mosaic will be filled"));
      orientation_issue = true;
    }
    if (orientation_issue) {
      add(
          tr("I suggest to enable Tile Rotation 90° or select a Pattern with both Landscape and Portrait tiles, "
             "for example Parquet/Mixed"));
    }
  }
  if (sentences.empty()) return {};
  std::string text;
  for (const std::string& sentence : sentences) text += sentence + ". ";
  return text + tr("Do you want to continue?");
}

}  // namespace tess
