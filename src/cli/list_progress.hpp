// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The analysis and save of a Tile Images List as the command line shows it:
// the `list` commands and `mosaic --tiles` run the same step with the same
// progress lines and exit statuses.

#include "cli/progress_json.hpp"

namespace tess {

class Prompt;
class TileImageList;

/// Analysis threads: `requested` when above 0, else the configured count.
int analysis_thread_count(int requested);

/// Analyses `list` (or share `share_index` of `share_count` of it) on
/// `threads` workers and saves it to its own path, following the analysis on
/// standard error in `style`; Ctrl-C stops it. The exit status: 0 saved,
/// 2 nothing to analyse, 1 stopped or not saved (reported).
[[nodiscard]] int analyse_and_save_with_progress(TileImageList& list, int threads, Prompt& prompt,
                                                 ProgressStyle style = ProgressStyle::text, int share_index = 0,
                                                 int share_count = 0);

}  // namespace tess
