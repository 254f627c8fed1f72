// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The questions of the list window's commands: before a command discards or
// rebuilds the list, before an old list is upgraded, before the colour mode
// changes. The window asks them through its Prompt and then runs the list
// steps of tilelist/list_analysis.hpp, which ask nothing themselves.

#include <functional>
#include <optional>
#include <string>

#include "tilelist/list_analysis.hpp"

namespace tess {

/// Where a video extraction may be running, the leave check asks to stop it.
struct VideoExtractionControl {
  std::function<bool()> running;
  std::function<void()> stop;
};

/// The questions a command asks before it discards or rebuilds the list.
struct LeaveQuestions {
  bool ask_save = false;     ///< "You did not saved the Images List. ..." when changed
  bool ask_analyse = false;  ///< "You did not Analyze the Folders. ..." when changed
  std::optional<VideoExtractionControl> video_extraction;
};

/// Asks what a command must ask before it discards or rebuilds the list:
/// stop a running video extraction or analysis (No cancels, Yes stops it),
/// then, for a changed list, whether to go on without saving or analysing.
/// Every question is Yes/No with No as the default. True to go on.
[[nodiscard]] bool leave_check(ListAnalysis& analysis, const LeaveQuestions& questions);

/// "Save List": ListAnalysis::start(), after asking to stop a running video
/// extraction (declined: `cancelled`).
ListSaveResult start_analysis(ListAnalysis& analysis, int thread_count, bool save_as,
                              const LeaveQuestions& questions);

/// "New List": after the leave check, an empty colour list without a path.
[[nodiscard]] bool new_list(ListAnalysis& analysis, const LeaveQuestions& questions);

/// "Open List...": after the leave check, loads `file` (asking for one when
/// it is empty). A list older than version 118 is offered for upgrading: Yes
/// empties its entries and starts a "save as" analysis on `thread_count`
/// workers, No empties it.
OpenListResult open_list(ListAnalysis& analysis, const std::string& file, int thread_count,
                         const LeaveQuestions& questions);

/// The "Black & White" check box. When it differs from the list and the list
/// has entries, asks first: grey converts the stored signatures in place,
/// colour empties the entries (they must be analysed again). False when the
/// question was declined or an analysis runs (the list is unchanged).
[[nodiscard]] bool switch_black_and_white(ListAnalysis& analysis, bool black_and_white);

}  // namespace tess
