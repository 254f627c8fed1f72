#include "tilelist/list_analysis.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/scripted_prompt.hpp"
#include "images/image_files.hpp"
#include "support/old_list_file.hpp"
#include "support/test_support.hpp"
#include "tilelist/list_file.hpp"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

bool write_solid_jpeg(const fs::path& path, int w, int h, std::uint32_t colour) {
  return testing::write_jpeg(path, testing::JpegSpec(w, h), [&](int, std::uint8_t* samples) {
    for (int x = 0; x < w; ++x) {
      samples[3 * x] = static_cast<std::uint8_t>(pixel_red(colour));
      samples[3 * x + 1] = static_cast<std::uint8_t>(pixel_green(colour));
      samples[3 * x + 2] = static_cast<std::uint8_t>(pixel_blue(colour));
    }
  });
}

bool write_solid_png(const fs::path& path, int w, int h, std::uint32_t colour) {
  std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(h));
  for (auto& row : rows)
    for (int x = 0; x < w; ++x)
      row.insert(row.end(), {static_cast<std::uint8_t>(pixel_red(colour)),
                             static_cast<std::uint8_t>(pixel_green(colour)),
                             static_cast<std::uint8_t>(pixel_blue(colour))});
  return testing::write_png(path, testing::PngSpec(w, h), rows);
}

void expect_colour_near(std::uint32_t actual, std::uint32_t expected, const std::string& what) {
  EXPECT_NEAR(static_cast<int>(pixel_red(actual)), static_cast<int>(pixel_red(expected)), 3) << what;
  EXPECT_NEAR(static_cast<int>(pixel_green(actual)), static_cast<int>(pixel_green(expected)), 3) << what;
  EXPECT_NEAR(static_cast<int>(pixel_blue(actual)), static_cast<int>(pixel_blue(expected)), 3) << what;
}

std::string folder(const fs::path& path) { return path.string() + "/"; }

long analysed_entries(const TileImageList& list) {
  return static_cast<long>(std::count_if(list.entries().begin(), list.entries().end(), [](const auto& item) {
    return item.second.file_size != kNewEntryFileSize;
  }));
}

constexpr std::uint32_t kRed = make_pixel(200, 30, 40);
constexpr std::uint32_t kGreen = make_pixel(20, 180, 60);
constexpr std::uint32_t kBlue = make_pixel(30, 50, 210);

/// pics/ with three good pictures (one portrait, one in a sub-folder), a
/// corrupt one whose name holds a line break, and an excluded folder.
struct PictureTree {
  TempDir dir;
  fs::path pics = dir / "pics";
  std::string corrupt = (dir / "pics/bad\nname.jpg").string();

  PictureTree() {
    fs::create_directories(pics / "sub");
    fs::create_directories(pics / "private");
    EXPECT_TRUE(write_solid_jpeg(pics / "red.jpg", 40, 30, kRed));
    EXPECT_TRUE(write_solid_png(pics / "green.png", 30, 40, kGreen));
    EXPECT_TRUE(write_solid_jpeg(pics / "sub/blue.JPG", 48, 36, kBlue));
    EXPECT_TRUE(write_solid_jpeg(pics / "private/secret.jpg", 40, 30, kRed));
    EXPECT_TRUE(write_file(corrupt, "not a picture at all"));
  }

  void fill(TileImageList& list) const {
    list.add_item(FolderKind::include, pics.string(), true);
    list.add_item(FolderKind::exclude, (pics / "private").string(), true);
  }
};

TEST(ListAnalysis, SavesTheUsablePicturesAndListsTheOthersInTheErrorFile) {
  PictureTree tree;
  TileImageList list;
  tree.fill(list);
  const std::string file = (tree.dir / "my.tzc").string();
  list.set_path(file);
  ScriptedPrompt prompt;
  ListAnalysis analysis(list, prompt);
  std::vector<std::string> statuses;
  analysis.set_status_observer([&statuses](const std::string& text) { statuses.push_back(text); });
  const long failures_before = load_failure_count();

  ASSERT_EQ(analysis.run(2, false), ListSaveResult::saved);

  ASSERT_EQ(list.entry_count(), 3u);
  expect_colour_near(list.find((tree.pics / "red.jpg").string())->signature.overall(), kRed, "red");
  expect_colour_near(list.find((tree.pics / "green.png").string())->signature.overall(), kGreen, "green");
  expect_colour_near(list.find((tree.pics / "sub/blue.JPG").string())->signature.overall(), kBlue, "blue");
  EXPECT_EQ(list.landscape_images(), 2);
  EXPECT_EQ(list.portrait_images(), 1);
  EXPECT_FALSE(list.changed());
  EXPECT_TRUE(list.unusable_paths().empty());
  EXPECT_GE(load_failure_count(), failures_before + 1);

  const AnalysisProgress progress = analysis.progress();
  EXPECT_EQ(progress.processed, 4);
  EXPECT_EQ(progress.total, 4);
  EXPECT_DOUBLE_EQ(progress.percentage, 100.0);
  EXPECT_FALSE(progress.workers_alive);

  // The excluded picture is not an error; the corrupt one is, on one line.
  const std::string error_file = file + ".imageErrors.txt";
  EXPECT_EQ(read_file(error_file), "\xEF\xBB\xBF" + (tree.dir / "pics/bad?name.jpg").string() + "\r\n");
  const auto calls = prompt.calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].icon, Icon::warning);
  EXPECT_EQ(calls[0].text,
            "You are ready to create a mosaic using this List of 3 images/videos. You can go back to the Main "
            "Window. Unable to load and use 1 Images. Please see file " + error_file +
                " for more information. Left out: 1 damaged.");

  ASSERT_GE(statuses.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(statuses.begin(), statuses.begin() + 4),
            (std::vector<std::string>{"Analyzing...", "Building Images List...", "Building Images List... Completed",
                                      "Saving..."}));
  EXPECT_EQ(analysis.status_text(), "2 Landscape images, 1 Portrait image.");

  // The saved file holds the same entries.
  TileImageList loaded;
  ASSERT_TRUE(load_list_file(loaded, file).ok_or_show(prompt));
  EXPECT_EQ(loaded.entry_count(), 3u);
  EXPECT_EQ(loaded.folders(FolderKind::exclude).count(folder(tree.pics / "private")), 1u);
}

/// Records what a command following the analysis-and-save step hears.
struct RecordingFollower : ListAnalysisFollower {
  std::vector<std::string> events;
  bool stop_at_first_tick = false;

  void status(const ListAnalysis&, const std::string& text) override { events.push_back("status " + text); }
  void tick(ListAnalysis& analysis) override {
    events.push_back(analysis.progress().workers_alive ? "tick" : "last tick");
    if (stop_at_first_tick) analysis.request_stop();
  }
  void finished(const ListAnalysis& analysis, ListSaveResult result) override {
    events.push_back(result == ListSaveResult::saved     ? "saved " + analysis.status_text()
                     : result == ListSaveResult::stopped ? "stopped"
                                                         : "failed");
  }
};

TEST(ListAnalysis, TheAnalyseAndSaveStepIsFollowedFromItsFirstStatusToItsEnd) {
  PictureTree tree;
  TileImageList list;
  tree.fill(list);
  list.set_path((tree.dir / "my.tzc").string());
  ScriptedPrompt prompt;
  RecordingFollower follower;
  ASSERT_EQ(analyse_and_save(list, 2, prompt, follower, std::chrono::milliseconds(1)), ListSaveResult::saved);
  EXPECT_TRUE(fs::exists(tree.dir / "my.tzc"));
  const std::vector<std::string>& events = follower.events;
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events.front(), "status Analyzing...");
  // The workers' end is ticked once, the save's statuses follow, the end comes last.
  const auto last_tick = std::find(events.begin(), events.end(), "last tick");
  ASSERT_NE(last_tick, events.end());
  EXPECT_EQ(std::count(events.begin(), events.end(), "last tick"), 1);
  EXPECT_TRUE(std::find(last_tick, events.end(), "tick") == events.end());
  EXPECT_EQ(events.back(), "saved 2 Landscape images, 1 Portrait image.");

  // A stop asked for while it is followed ends the step as stopped, unsaved.
  TileImageList other;
  tree.fill(other);
  other.set_path((tree.dir / "stopped.tzc").string());
  RecordingFollower stopping;
  stopping.stop_at_first_tick = true;
  EXPECT_EQ(analyse_and_save(other, 1, prompt, stopping, std::chrono::milliseconds(0)), ListSaveResult::stopped);
  EXPECT_EQ(stopping.events.back(), "stopped");
  EXPECT_FALSE(fs::exists(tree.dir / "stopped.tzc"));
}

TEST(ListAnalysis, ASecondSaveKeepsTheSignaturesOfUnchangedFiles) {
  PictureTree tree;
  TileImageList list;
  tree.fill(list);
  list.set_path((tree.dir / "my.tzc").string());
  ScriptedPrompt prompt;
  ListAnalysis analysis(list, prompt);
  ASSERT_EQ(analysis.run(1, false), ListSaveResult::saved);

  // Same size and time, other bytes: only a decode would notice.
  const fs::path red = tree.pics / "red.jpg";
  const auto time = fs::last_write_time(red);
  const std::string garbage(fs::file_size(red), 'x');
  ASSERT_TRUE(write_file(red, garbage));
  fs::last_write_time(red, time);
  // A picture that changed is analysed again.
  ASSERT_TRUE(write_solid_jpeg(tree.pics / "sub/blue.JPG", 36, 48, kGreen));

  ASSERT_EQ(analysis.run(2, false), ListSaveResult::saved);
  ASSERT_EQ(list.entry_count(), 3u);
  expect_colour_near(list.find(red.string())->signature.overall(), kRed, "kept");
  const FotoInfo* changed = list.find((tree.pics / "sub/blue.JPG").string());
  expect_colour_near(changed->signature.overall(), kGreen, "reanalysed");
  EXPECT_TRUE(changed->is_portrait());
}

TEST(ListAnalysis, SaveAsAsksForTheNameAndKeepsOnlyAnExactTzcExtension) {
  PictureTree tree;
  TileImageList list;
  tree.fill(list);
  ScriptedPrompt prompt;
  ListAnalysis analysis(list, prompt);

  // No path and no answer: nothing is written.
  EXPECT_EQ(analysis.run(1, false), ListSaveResult::cancelled);
  EXPECT_EQ(prompt.calls().at(0).kind, ScriptedPrompt::Kind::choose_files);
  EXPECT_EQ(prompt.calls().at(0).text, "Create a new Image List File");
  EXPECT_TRUE(list.changed());

  prompt.plan_files({(tree.dir / "list.TZC").string()});
  EXPECT_EQ(analysis.run(1, true), ListSaveResult::saved);
  EXPECT_TRUE(fs::exists(tree.dir / "list.TZC.tzc"));
  EXPECT_EQ(list.path(), (tree.dir / "list.TZC.tzc").string());
  EXPECT_TRUE(fs::exists(tree.dir / "list.TZC.tzc.imageErrors.txt"));
}

TEST(ListAnalysis, RefusesWithoutSourcesAndSavesNothingWhenNothingIsUsable) {
  TempDir dir;
  ScriptedPrompt prompt;
  TileImageList list;
  list.set_path((dir / "x.tzc").string());
  list.add_item(FolderKind::exclude, dir.path().string(), true);
  ListAnalysis analysis(list, prompt);
  EXPECT_EQ(analysis.run(1, false), ListSaveResult::no_sources);
  EXPECT_EQ(prompt.messages(),
            std::vector<std::string>{"Please Add First a Folder to the Include/Video Folder List using Add Folder button!"});

  prompt.clear();
  ASSERT_TRUE(write_file(dir / "broken.jpg", "garbage"));
  list.add_item(FolderKind::include, dir.path().string(), true);
  list.remove_folder(FolderKind::exclude, folder(dir.path()));
  EXPECT_EQ(analysis.run(2, false), ListSaveResult::nothing_usable);
  EXPECT_EQ(prompt.messages(),
            std::vector<std::string>{"Please add folders containing JPG/PNG Images! Left out: 1 damaged."});
  EXPECT_FALSE(fs::exists(dir / "x.tzc"));
  EXPECT_EQ(analysis.status_text(), "No Images are loaded. Please add a Folder to the Folder List");
}

TEST(ListAnalysis, ClipsAwaitingFrameAnalysisAreReportedUnusableNotDropped) {
  PictureTree tree;
  fs::create_directories(tree.dir / "clips");
  ASSERT_TRUE(write_file(tree.dir / "clips/film.avi", "RIFF"));
  TileImageList list;
  tree.fill(list);
  list.add_item(FolderKind::video, (tree.dir / "clips").string(), true);
  list.set_path((tree.dir / "my.tzc").string());
  ScriptedPrompt prompt;
  ListAnalysis analysis(list, prompt);
  ASSERT_EQ(analysis.run(2, false), ListSaveResult::saved);
  EXPECT_EQ(list.find((tree.dir / "clips/film.avi").string()), nullptr);
  const std::string errors = read_file(tree.dir / "my.tzc.imageErrors.txt");
  EXPECT_NE(errors.find((tree.dir / "clips/film.avi").string() + "\r\n"), std::string::npos) << errors;
  EXPECT_NE(prompt.messages().back().find("Unable to load and use 2 Images."), std::string::npos);
}

/// `count` small pictures in one folder.
fs::path many_pictures(const TempDir& dir, int count) {
  const fs::path pics = dir / "many";
  fs::create_directories(pics);
  for (int i = 0; i < count; ++i)
    EXPECT_TRUE(write_solid_png(pics / ("p" + std::to_string(1000 + i) + ".png"), 8, 6,
                                make_pixel(static_cast<std::uint32_t>(i % 256), 100, 50)));
  return pics;
}

TEST(ListAnalysis, AStopKeepsWhatWasAnalysedAndLeavesTheRestUnusable) {
  TempDir dir;
  const fs::path pics = many_pictures(dir, 100);
  TileImageList list;
  list.add_item(FolderKind::include, pics.string(), true);
  list.set_path((dir / "l.tzc").string());
  ScriptedPrompt prompt;
  ListAnalysis analysis(list, prompt);

  // One worker, stopped right after its first batch: exactly one batch is analysed.
  analysis.set_batch_observer([&analysis](long) { analysis.request_stop(); });
  EXPECT_EQ(analysis.run(1, false), ListSaveResult::stopped);
  EXPECT_FALSE(analysis.active());
  EXPECT_EQ(list.entry_count(), 100u);
  EXPECT_EQ(analysed_entries(list), kAnalysisBatchSize);
  for (const auto& [path, entry] : list.entries())
    EXPECT_EQ(entry.usable != 0, entry.file_size != kNewEntryFileSize) << path;
  EXPECT_TRUE(list.changed());
  EXPECT_FALSE(fs::exists(dir / "l.tzc"));
  EXPECT_EQ(analysis.progress().processed, kAnalysisBatchSize);

  // Several workers: each finishes the batch it holds, none starts another.
  analysis.set_batch_observer([&analysis](long) { analysis.request_stop(); });
  list.clear_entries();
  EXPECT_EQ(analysis.run(4, false), ListSaveResult::stopped);
  const long analysed = analysed_entries(list);
  EXPECT_GE(analysed, kAnalysisBatchSize);
  EXPECT_LE(analysed, 4 * kAnalysisBatchSize);
  for (const auto& [path, entry] : list.entries())
    EXPECT_EQ(entry.usable != 0, entry.file_size != kNewEntryFileSize) << path;
  EXPECT_EQ(analysis.progress().processed, analysed);

  // Going on later finishes the list.
  analysis.set_batch_observer({});
  EXPECT_EQ(analysis.run(3, false), ListSaveResult::saved);
  EXPECT_EQ(list.entry_count(), 100u);
  EXPECT_EQ(analysed_entries(list), 100);
  EXPECT_TRUE(fs::exists(dir / "l.tzc"));
}

TEST(ListAnalysis, AShortListIsSharedOutRatherThanLeftToOneWorker) {
  TempDir dir;
  const fs::path pics = many_pictures(dir, 12);
  TileImageList list;
  list.add_item(FolderKind::include, pics.string(), true);
  list.set_path((dir / "l.tzc").string());
  ScriptedPrompt prompt;
  ListAnalysis analysis(list, prompt);
  std::mutex mutex;
  std::vector<long> counts;
  analysis.set_batch_observer([&](long processed) {
    std::lock_guard lock(mutex);
    counts.push_back(processed);
  });
  EXPECT_EQ(analysis.run(2, false), ListSaveResult::saved);
  // Twelve entries for two workers: halves of what is left, never all twelve at once.
  ASSERT_GE(counts.size(), 2u);
  std::sort(counts.begin(), counts.end());
  EXPECT_LE(counts.front(), 6);
  EXPECT_EQ(counts.back(), 12);
}

TEST(ListAnalysis, ManyWorkersAnalyseEveryEntryOnce) {
  TempDir dir;
  const fs::path pics = many_pictures(dir, 200);
  TileImageList list;
  list.add_item(FolderKind::include, pics.string(), true);
  list.set_path((dir / "l.tzc").string());
  ScriptedPrompt prompt;
  ListAnalysis analysis(list, prompt);
  std::atomic<long> batches{0};
  analysis.set_batch_observer([&batches](long) { ++batches; });
  int ticks = 0;
  EXPECT_EQ(analysis.run(8, false, [&ticks](ListAnalysis& running) {
              ++ticks;
              (void)running.progress();
            }, std::chrono::milliseconds(1)),
            ListSaveResult::saved);
  EXPECT_GE(ticks, 1);
  EXPECT_GE(batches.load(), (200 + kAnalysisBatchSize - 1) / kAnalysisBatchSize);
  EXPECT_EQ(analysis.progress().processed, 200);
  EXPECT_EQ(list.entry_count(), 200u);
  for (const auto& [path, entry] : list.entries()) {
    const int i = std::stoi(entry.path.substr(entry.path.size() - 8, 4)) - 1000;
    expect_colour_near(entry.signature.overall(), make_pixel(static_cast<std::uint32_t>(i % 256), 100, 50), entry.path);
  }
}

TEST(ListTexts, StatusLineCountsWithPluralFormsAndTheSaveReminder) {
  TileImageList list;
  EXPECT_EQ(list_status_text(list), "No Images are loaded. Please add a Folder to the Folder List");
  FotoInfo landscape("/a.jpg");
  FotoInfo portrait1("/b.jpg");
  portrait1.signature.portrait = 1;
  FotoInfo portrait2 = portrait1;
  portrait2.path = "/c.jpg";
  FotoInfo clip("/d.avi");
  clip.rate_code = 12500;
  for (FotoInfo e : {landscape, portrait1, portrait2, clip}) list.insert(e);
  list.group_variants(kGroupingFrameNumbers);
  EXPECT_EQ(list_status_text(list), "1 Landscape image, 2 Portrait images, 1 Landscape videoclip.");
  list.set_changed(true);
  EXPECT_EQ(list_status_text(list),
            "1 Landscape image, 2 Portrait images, 1 Landscape videoclip. Remember to Save the Images List!");
}

TEST(ListTexts, FileNamesTimesAndErrorLines) {
  EXPECT_EQ(with_list_extension("/l/list.TZC"), "/l/list.TZC.tzc");
  EXPECT_EQ(with_list_extension("/l/list.tzc"), "/l/list.tzc");
  EXPECT_EQ(with_list_extension("/l/list"), "/l/list.tzc");
  EXPECT_EQ(with_list_extension("/l.d/list"), "/l.d/list.tzc");
  EXPECT_EQ(with_list_extension("/l/list.tzc.bak"), "/l/list.tzc.bak.tzc");

  EXPECT_EQ(elapsed_text(0), "00:00:00");
  EXPECT_EQ(elapsed_text(3723999), "01:02:03");
  AnalysisProgress progress;
  progress.processed = 48;
  progress.percentage = 100.0 * 48 / 70;
  progress.elapsed_ms = 61000;
  EXPECT_EQ(progress_text(progress), "Tile# 48, Analysis Completed 68.57%, Elapsed Time: 00:01:01");

  EXPECT_EQ(error_file_line("/a/b\r\nc.jpg"), "/a/b??c.jpg");
  TempDir dir;
  ASSERT_TRUE(write_error_file((dir / "e.txt").string(), {"/x.jpg", "/y\n.png"}));
  EXPECT_EQ(read_file(dir / "e.txt"), "\xEF\xBB\xBF/x.jpg\r\n/y?.png\r\n");
  EXPECT_FALSE(write_error_file((dir / "missing/e.txt").string(), {"/x.jpg"}));
}

/// No list step asks anything: the window asks first (ui/list_questions.hpp).
void expect_no_question(const ScriptedPrompt& prompt) {
  for (const ScriptedPrompt::Call& call : prompt.calls()) EXPECT_NE(call.kind, ScriptedPrompt::Kind::ask) << call.text;
}

TEST(ListCommands, OpenNewAndTheUpgradeOfOldListsAskNothing) {
  PictureTree tree;
  ScriptedPrompt prompt;
  TileImageList list;
  ListAnalysis analysis(list, prompt);

  // Unreadable and refused files leave an empty list.
  ASSERT_TRUE(write_file(tree.dir / "garbage.tzc", "xx"));
  EXPECT_EQ(load_list(analysis, (tree.dir / "garbage.tzc").string()), OpenListResult::unreadable);
  EXPECT_EQ(prompt.messages().back(), "Error while reading the Images List!");
  std::string newer = testing::old_list_file(folder(tree.pics));
  newer[0] = 120;
  ASSERT_TRUE(write_file(tree.dir / "newer.tzc", newer));
  EXPECT_EQ(load_list(analysis, (tree.dir / "newer.tzc").string()), OpenListResult::refused);
  EXPECT_EQ(prompt.messages().back(), "This file was created using a different version of Tessellarium");
  EXPECT_EQ(list.entry_count(), 0u);

  // An old list is read and handed back for the caller to offer the upgrade.
  ASSERT_TRUE(write_file(tree.dir / "old.tzc", testing::old_list_file(folder(tree.pics))));
  EXPECT_EQ(load_list(analysis, (tree.dir / "old.tzc").string()), OpenListResult::outdated);
  EXPECT_EQ(list.folders(FolderKind::include).size(), 1u);
  EXPECT_EQ(forget_list(analysis), OpenListResult::upgrade_declined);
  EXPECT_TRUE(list.folders(FolderKind::include).empty());
  EXPECT_TRUE(list.path().empty());

  // The upgrade rebuilds it and asks only where to save it.
  EXPECT_EQ(load_list(analysis, (tree.dir / "old.tzc").string()), OpenListResult::outdated);
  prompt.plan_files({(tree.dir / "upgraded").string()});
  EXPECT_EQ(upgrade_list(analysis, 2), OpenListResult::upgrading);
  EXPECT_TRUE(analysis.active());
  while (!analysis.wait(std::chrono::milliseconds(50))) {
  }
  EXPECT_EQ(analysis.complete(), ListSaveResult::saved);
  EXPECT_EQ(list.entry_count(), 4u);  // pics/ without an Exclude set: the secret picture too
  EXPECT_EQ(list.version(), kListFileVersion);
  EXPECT_TRUE(fs::exists(tree.dir / "upgraded.tzc"));
  // A current list opens as it is.
  EXPECT_EQ(load_list(analysis, (tree.dir / "upgraded.tzc").string()), OpenListResult::opened);
  EXPECT_EQ(list.entry_count(), 4u);
  EXPECT_FALSE(list_changed(analysis));

  // "New List" keeps nothing.
  list.set_black_and_white(true);
  list.set_changed(true);
  clear_list(analysis);
  EXPECT_EQ(list.entry_count(), 0u);
  EXPECT_TRUE(list.folders(FolderKind::include).empty());
  EXPECT_TRUE(list.path().empty());
  EXPECT_FALSE(list.black_and_white());
  EXPECT_FALSE(list_changed(analysis));
  expect_no_question(prompt);
}

TEST(ListCommands, BlackAndWhiteNamesItsQuestionAndConvertsOrEmpties) {
  ScriptedPrompt prompt;
  TileImageList list;
  ListAnalysis analysis(list, prompt);
  // Without entries there is nothing to ask: the flag is simply set.
  EXPECT_EQ(black_and_white_question(analysis, true), "");
  EXPECT_TRUE(apply_black_and_white(analysis, true));
  EXPECT_TRUE(list.black_and_white());
  EXPECT_TRUE(apply_black_and_white(analysis, false));

  list.add_item(FolderKind::include, "/pics/", true);
  FotoInfo entry("/pics/a.jpg");
  entry.signature.samples.fill(make_pixel(200, 0, 0));
  list.insert(entry);
  list.set_changed(false);
  EXPECT_EQ(black_and_white_question(analysis, false), "");  // already so
  EXPECT_EQ(black_and_white_question(analysis, true),
            "Are you sure you want to use the Black & White process to compare Images?");
  EXPECT_TRUE(apply_black_and_white(analysis, true));
  EXPECT_TRUE(list.black_and_white());
  EXPECT_TRUE(list.changed());
  EXPECT_EQ(list.find("/pics/a.jpg")->signature.fine(3, 3), make_pixel(60, 60, 60));

  EXPECT_EQ(black_and_white_question(analysis, false),
            "Are you sure you want to use the Color process to compare Images? Note that you must Analyze the images "
            "again.");
  EXPECT_TRUE(apply_black_and_white(analysis, false));
  EXPECT_EQ(list.entry_count(), 0u);
  EXPECT_EQ(list.folders(FolderKind::include).size(), 1u);
  expect_no_question(prompt);
}

TEST(ListCommands, RemoveSelectedFromAFolderViewOrTheAllImagesView) {
  ScriptedPrompt prompt;
  TileImageList list;
  ListAnalysis analysis(list, prompt);
  list.add_item(FolderKind::include, "/pics/a.jpg", false);
  list.add_item(FolderKind::required, "/must/", true);
  list.add_item(FolderKind::exclude, "/pics/x/", true);
  list.set_changed(false);

  remove_selected(analysis, FolderKind::exclude, {"/pics/x/"});
  EXPECT_TRUE(list.folders(FolderKind::exclude).empty());
  EXPECT_TRUE(list.changed());
  EXPECT_TRUE(prompt.calls().empty());

  remove_selected(analysis, std::nullopt, {"/pics/a.jpg", "/must/", "/pics/b.jpg"});
  EXPECT_TRUE(list.folders(FolderKind::include).empty());
  EXPECT_TRUE(list.folders(FolderKind::required).empty());
  EXPECT_EQ(list.folders(FolderKind::exclude), TileImageList::FolderSet{"/pics/b.jpg"});
  EXPECT_EQ(prompt.messages(), std::vector<std::string>{"Please save the List to update the shown Images"});
}

}  // namespace
}  // namespace tess
