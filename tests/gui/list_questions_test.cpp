// SPDX-License-Identifier: GPL-3.0-or-later
// The list window's questions, asked before the list steps run: each
// declined question leaves the list (and any running work) as it was.

#include "ui/list_questions.hpp"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "images/image_files.hpp"
#include "support/old_list_file.hpp"
#include "support/test_support.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

/// A folder of three small pictures.
fs::path three_pictures(const TempDir& dir) {
  const fs::path pics = dir / "pics";
  fs::create_directories(pics);
  for (int i = 0; i < 3; ++i) {
    std::vector<std::vector<std::uint8_t>> rows(6, std::vector<std::uint8_t>(8 * 3, static_cast<std::uint8_t>(60 * i)));
    EXPECT_TRUE(testing::write_png(pics / ("p" + std::to_string(i) + ".png"), testing::PngSpec(8, 6), rows));
  }
  return pics;
}

void finish(ListAnalysis& analysis) {
  while (!analysis.wait(std::chrono::milliseconds(50))) {
  }
}

TEST(ListQuestions, LeavingAsksToStopRunningWorkThenAboutUnsavedLists) {
  TempDir dir;
  TileImageList list;
  list.add_item(FolderKind::include, three_pictures(dir).string(), true);
  ScriptedPrompt prompt;
  ListAnalysis analysis(list, prompt);

  // A changed list: No (the default) cancels, Yes goes on.
  LeaveQuestions save;
  save.ask_save = true;
  EXPECT_FALSE(leave_check(analysis, save));
  EXPECT_EQ(prompt.calls().back().text, "You did not saved the Images List. Are you sure to continue without saving?");
  prompt.plan_answer(Answer::yes);
  EXPECT_TRUE(leave_check(analysis, save));
  LeaveQuestions analyse;
  analyse.ask_analyse = true;
  EXPECT_FALSE(leave_check(analysis, analyse));
  EXPECT_EQ(prompt.calls().back().text,
            "You did not Analyze the Folders. Are you sure you want to continue without Analyzing?");
  EXPECT_TRUE(leave_check(analysis, {}));

  // A video extraction: No cancels without stopping it, also before an analysis.
  bool extracting = true;
  LeaveQuestions video;
  video.video_extraction = VideoExtractionControl{[&extracting] { return extracting; }, [&extracting] { extracting = false; }};
  EXPECT_FALSE(leave_check(analysis, video));
  EXPECT_EQ(start_analysis(analysis, 1, false, video), ListSaveResult::cancelled);
  EXPECT_EQ(prompt.calls().back().text, "There is a Video Extraction Process running. Do you want to stop it?");
  EXPECT_TRUE(extracting);
  EXPECT_FALSE(analysis.active());
  prompt.plan_answer(Answer::yes);
  EXPECT_TRUE(leave_check(analysis, video));
  EXPECT_FALSE(extracting);

  // A started analysis is stopped on Yes; a second start is refused unasked.
  ASSERT_EQ(start_analysis(analysis, 1, false, {}), ListSaveResult::started);
  const std::size_t calls = prompt.calls().size();
  extracting = true;
  EXPECT_EQ(start_analysis(analysis, 1, false, video), ListSaveResult::busy);
  EXPECT_EQ(prompt.calls().size(), calls);
  EXPECT_FALSE(leave_check(analysis, {}));
  EXPECT_EQ(prompt.calls().back().text, "There is an Analyze Process running. Do you want to stop it?");
  EXPECT_TRUE(analysis.active());
  prompt.plan_answer(Answer::yes);
  EXPECT_TRUE(leave_check(analysis, {}));
  EXPECT_FALSE(analysis.active());

  // A list without folders is told so, and nothing is asked.
  TileImageList empty;
  ScriptedPrompt told;
  ListAnalysis nothing(empty, told);
  EXPECT_EQ(start_analysis(nothing, 1, false, video), ListSaveResult::no_sources);
  ASSERT_EQ(told.calls().size(), 1u);
  EXPECT_EQ(told.calls()[0].kind, ScriptedPrompt::Kind::message);
}

TEST(ListQuestions, AnOldListIsUpgradedOnlyWhenTheUserAgrees) {
  TempDir dir;
  const fs::path pics = three_pictures(dir);
  ASSERT_TRUE(testing::write_file(dir / "old.tzc", testing::old_list_file(pics.string() + "/")));
  ScriptedPrompt prompt;
  TileImageList list;
  ListAnalysis analysis(list, prompt);

  EXPECT_EQ(open_list(analysis, (dir / "old.tzc").string(), 1, {}), OpenListResult::upgrade_declined);
  EXPECT_EQ(prompt.calls().back().text,
            "Your Images List was created using an older version, it needs to be upgraded. When the process is "
            "complete you will be asked to save the upgraded List. Do you want to continue?");
  EXPECT_TRUE(list.folders(FolderKind::include).empty());

  prompt.plan_answer(Answer::yes);
  prompt.plan_files({(dir / "upgraded").string()});
  EXPECT_EQ(open_list(analysis, (dir / "old.tzc").string(), 2, {}), OpenListResult::upgrading);
  finish(analysis);
  EXPECT_EQ(analysis.complete(), ListSaveResult::saved);
  EXPECT_EQ(list.entry_count(), 3u);

  // Declined questions change nothing: the unsaved list, the file dialog.
  list.set_changed(true);
  LeaveQuestions ask;
  ask.ask_save = true;
  EXPECT_EQ(open_list(analysis, (dir / "old.tzc").string(), 1, ask), OpenListResult::cancelled);
  EXPECT_FALSE(new_list(analysis, ask));
  EXPECT_EQ(list.entry_count(), 3u);
  EXPECT_EQ(open_list(analysis, {}, 1, {}), OpenListResult::cancelled);  // no file chosen
  EXPECT_EQ(prompt.calls().back().kind, ScriptedPrompt::Kind::choose_files);
  EXPECT_EQ(list.entry_count(), 3u);
  prompt.plan_files({(dir / "upgraded.tzc").string()});
  EXPECT_EQ(open_list(analysis, {}, 1, {}), OpenListResult::opened);
  EXPECT_TRUE(new_list(analysis, ask));  // saved: nothing to ask
  EXPECT_EQ(list.entry_count(), 0u);
}

TEST(ListQuestions, TheColourModeChangesOnlyWhenTheUserAgrees) {
  ScriptedPrompt prompt;
  TileImageList list;
  ListAnalysis analysis(list, prompt);
  EXPECT_TRUE(switch_black_and_white(analysis, true));  // no entries: nothing to ask
  EXPECT_TRUE(prompt.calls().empty());
  EXPECT_TRUE(switch_black_and_white(analysis, false));

  list.add_item(FolderKind::include, "/pics/", true);
  list.insert(FotoInfo("/pics/a.jpg"));
  EXPECT_FALSE(switch_black_and_white(analysis, true));  // No is the default
  EXPECT_FALSE(list.black_and_white());
  EXPECT_EQ(prompt.calls().back().text, "Are you sure you want to use the Black & White process to compare Images?");
  prompt.plan_answer(Answer::yes);
  EXPECT_TRUE(switch_black_and_white(analysis, true));
  EXPECT_TRUE(list.black_and_white());
  EXPECT_EQ(list.entry_count(), 1u);
}

}  // namespace
}  // namespace tess
