#include "engine/placement.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/scripted_prompt.hpp"
#include "base/text.hpp"
#include "engine/assignment.hpp"
#include "engine/mosaic_builder.hpp"
#include "engine/score_kernel.hpp"
#include "engine/score_tables.hpp"
#include "engine/tile_list_file.hpp"
#include "support/test_support.hpp"
#include "tilelist/tile_image_list.hpp"

namespace tess {
namespace {

/// A smooth random signature: a base colour with a gentle gradient.
TileSignature smooth(std::mt19937& random, bool portrait = false) {
  std::uniform_int_distribution<int> base(30, 220), slope(-6, 6);
  const int r = base(random), g = base(random), b = base(random);
  const int sx = slope(random), sy = slope(random);
  TileSignature s;
  for (int row = 0; row < kGridRows; ++row) {
    for (int column = 0; column < kGridColumns; ++column) {
      const auto level = [&](int v) {
        return static_cast<std::uint32_t>(std::clamp(v + sx * column + sy * row, 0, 255));
      };
      s.samples[kFirstFineSample + column + kGridColumns * row] = make_pixel(level(r), level(g), level(b));
    }
  }
  s.recompute_levels();
  s.analysed = 1;
  s.portrait = portrait ? 1 : 0;
  return s;
}

TileSignature uniform(std::uint32_t colour) {
  TileSignature s;
  s.samples.fill(colour);
  s.opaque = 1;
  s.analysed = 1;
  return s;
}

/// A grid of square cells with random cells and tiles, its own list, uses and
/// neutral tables (only the unchanged tile is compared).
struct Scene {
  ScriptedPrompt prompt;
  MosaicBuilder builder{prompt};
  TileImageList list;
  TileUseState uses;
  ScoreTables tables;
  PlacementSetup setup;
  std::mt19937 random{7};

  Scene(int columns, int rows, int side = 40) {
    builder.grid.reset(columns * side, rows * side, 1.0, 0, false);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < columns; ++c) {
        EXPECT_TRUE(builder.grid.add_cell({c * side, r * side, side, side}));
        PuzzleInfo& cell = builder.grid.cell(builder.grid.size() - 1);
        cell.active = 1;
        cell.analysed = 1;
        cell.signature = smooth(random);
      }
    }
    builder.tile_list = &list;
    builder.parameters.tile_duplication = 0;
    builder.parameters.duplicate_spacing = 0;
  }
  void add_tiles(int count, const std::string& prefix = "/tiles/t") {
    for (int i = 0; i < count; ++i) {
      FotoInfo info(format("%s%05d.jpg", prefix, i));
      info.signature = smooth(random);
      info.usable = 1;
      list.insert(info);
    }
  }
  const FotoInfo* add_tile(const std::string& path, const TileSignature& signature) {
    FotoInfo info(path);
    info.signature = signature;
    info.usable = 1;
    list.insert(info);
    return list.find(path);
  }
  /// The priority step's part: every cell empty, every tile unused.
  void start() {
    for (const auto& cell : builder.grid.cells()) {
      cell->tile = nullptr;
      cell->score = kNoTileScore;
      cell->fixed = 0;
    }
    uses.reset(&list, builder.parameters.tile_duplication);
  }
  bool place() {
    start();
    return place_tiles(builder, tables, uses, setup);
  }
  std::vector<const FotoInfo*> assignment() const {
    std::vector<const FotoInfo*> out;
    for (const auto& c : builder.grid.cells()) out.push_back(c->tile);
    return out;
  }
  std::size_t empty_cells() const {
    std::size_t n = 0;
    for (const auto& c : builder.grid.cells()) n += c->tile == nullptr ? 1 : 0;
    return n;
  }
  std::map<const FotoInfo*, int> use_counts() const {
    std::map<const FotoInfo*, int> counts;
    for (const auto& c : builder.grid.cells()) {
      if (c->tile != nullptr) ++counts[c->tile];
    }
    return counts;
  }
  /// The smallest squared distance between two cells holding the same tile.
  std::int64_t closest_duplicates() const {
    std::int64_t closest = std::numeric_limits<std::int64_t>::max();
    const auto& cells = builder.grid.cells();
    for (std::size_t a = 0; a < cells.size(); ++a) {
      for (std::size_t b = a + 1; b < cells.size(); ++b) {
        if (cells[a]->tile == nullptr || cells[a]->tile != cells[b]->tile) continue;
        const std::int64_t dx = cells[a]->left - cells[b]->left, dy = cells[a]->top - cells[b]->top;
        closest = std::min(closest, dx * dx + dy * dy);
      }
    }
    return closest;
  }
};

constexpr std::int32_t kHighQualityModes[] = {kProcessingStandard, kProcessingFaster};

// --- duplicates and limits ---------------------------------------------------

TEST(Placement, NoDuplicatesWithFewerTilesThanCellsLeavesExactlyTheDifferenceEmpty) {
  for (std::int32_t mode : kHighQualityModes) {
    Scene s(10, 8);
    s.add_tiles(50);
    s.builder.parameters.processing = mode;
    s.builder.parameters.tile_duplication = 1;
    ASSERT_TRUE(s.place());
    EXPECT_EQ(s.empty_cells(), 80u - 50u) << "mode " << mode;
    for (const auto& [tile, count] : s.use_counts()) EXPECT_EQ(count, 1);
    // The state agrees with the cells.
    for (std::size_t i = 0; i < s.uses.size(); ++i) EXPECT_EQ(s.uses[i].use_count, 1u);
  }
}

TEST(Placement, MaxMarksOverrideTheTileDuplication) {
  for (std::int32_t mode : kHighQualityModes) {
    // A perfect match for every cell, limited to two uses by its name while
    // duplicates are otherwise unlimited.
    Scene s(6, 5);
    for (const auto& c : s.builder.grid.cells()) c->signature = uniform(make_pixel(90, 90, 90));
    s.add_tiles(40);
    const FotoInfo* twice = s.add_tile("/tiles/best MAX[2].jpg", uniform(make_pixel(90, 90, 90)));
    s.builder.parameters.processing = mode;
    s.builder.parameters.tile_duplication = 0;
    ASSERT_TRUE(s.place());
    EXPECT_EQ(s.use_counts()[twice], 2) << "mode " << mode;

    // MAX[0] lifts the limit even when duplicates are off.
    Scene u(6, 5);
    for (const auto& c : u.builder.grid.cells()) c->signature = uniform(make_pixel(90, 90, 90));
    u.add_tiles(40);
    const FotoInfo* any = u.add_tile("/tiles/best max[0].jpg", uniform(make_pixel(90, 90, 90)));
    u.builder.parameters.processing = mode;
    u.builder.parameters.tile_duplication = 1;
    ASSERT_TRUE(u.place());
    EXPECT_EQ(u.use_counts()[any], 30) << "mode " << mode;
  }
}

TEST(Placement, FasterNeverGoesBeyondTheUseLimit) {
  // One tile fits every cell best: with a limit of 2 it must stop at 2, not 3.
  Scene s(5, 4);
  for (const auto& c : s.builder.grid.cells()) c->signature = uniform(make_pixel(60, 60, 60));
  const FotoInfo* best = s.add_tile("/tiles/a.jpg", uniform(make_pixel(60, 60, 60)));
  s.add_tiles(30);
  s.builder.parameters.processing = kProcessingFaster;
  s.builder.parameters.tile_duplication = 2;
  ASSERT_TRUE(s.place());
  EXPECT_EQ(s.use_counts()[best], 2);
  for (const auto& [tile, count] : s.use_counts()) EXPECT_LE(count, 2);
  EXPECT_EQ(s.empty_cells(), 0u);
}

TEST(Placement, SpacingKeepsEveryPairOfDuplicatesApart) {
  for (std::int32_t mode : kHighQualityModes) {
    Scene s(16, 12);
    s.add_tiles(60);
    s.builder.parameters.processing = mode;
    s.builder.parameters.tile_duplication = 0;
    s.builder.parameters.duplicate_spacing = 3;
    ASSERT_TRUE(s.place());
    const std::int64_t area = spacing_area(s.builder.grid, 3);
    EXPECT_EQ(area, 9 * 40 * 40);
    EXPECT_GE(s.closest_duplicates(), area) << "mode " << mode;
    EXPECT_EQ(s.empty_cells(), 0u);
  }
}

TEST(Placement, CustomVariantsCountAsOnePicture) {
  Scene s(4, 3);
  for (const auto& c : s.builder.grid.cells()) c->signature = uniform(make_pixel(150, 100, 50));
  const FotoInfo* top = s.add_tile("/tiles/Sunflower___top.jpg", uniform(make_pixel(150, 100, 50)));
  const FotoInfo* left = s.add_tile("/tiles/Sunflower___left.jpg", uniform(make_pixel(150, 100, 50)));
  s.add_tiles(20);
  EXPECT_EQ(variant_group_numbers(s.uses, kProcessingCustom).size(), 0u);  // before the uses exist
  s.uses.reset(&s.list, 1);
  const std::vector<std::int32_t> groups = variant_group_numbers(s.uses, kProcessingCustom);
  ASSERT_EQ(groups.size(), 22u);
  EXPECT_EQ(groups[*s.uses.index_of(top)], groups[*s.uses.index_of(left)]);
  EXPECT_TRUE(variant_group_numbers(s.uses, kProcessingStandard).empty());

  s.builder.parameters.processing = kProcessingCustom;
  s.builder.parameters.tile_duplication = 1;
  ASSERT_TRUE(s.place());
  auto counts = s.use_counts();
  EXPECT_EQ(counts[top] + counts[left], 1);
  EXPECT_EQ(s.empty_cells(), 0u);

  // Folder variants: the pictures of one folder are one picture.
  Scene f(3, 2);
  f.add_tiles(3, "/tiles/a/x");
  f.add_tiles(4, "/tiles/b/x");
  f.builder.parameters.processing = kProcessingFolder;
  f.builder.parameters.tile_duplication = 1;
  ASSERT_TRUE(f.place());
  EXPECT_EQ(f.empty_cells(), 4u);
  std::set<std::string> folders;
  for (const auto& [tile, count] : f.use_counts()) folders.insert(tile->path.substr(0, 9));
  EXPECT_EQ(folders.size(), 2u);
}

TEST(Placement, HighQualityIsTheSameOnOneAndThreeThreads) {
  for (std::int32_t mode : {kProcessingStandard, kProcessingCustom}) {
    std::vector<std::vector<std::string>> runs;
    for (int threads : {1, 3}) {
      Scene s(14, 10);
      // Barely more tiles than cells and no duplicates: lists run dry and
      // are refilled many times, in parallel.
      s.add_tiles(150);
      s.builder.parameters.processing = mode;
      s.builder.parameters.duplicate_spacing = 2;
      s.builder.parameters.tile_duplication = 1;
      s.setup.threads = threads;
      ASSERT_TRUE(s.place());
      EXPECT_EQ(s.empty_cells(), 0u);
      std::vector<std::string> paths;
      for (const FotoInfo* t : s.assignment()) paths.push_back(t != nullptr ? t->path : "");
      runs.push_back(paths);
    }
    EXPECT_EQ(runs[0], runs[1]) << "mode " << mode;
  }
}

TEST(Placement, HighQualityServesTheLargestRegretFirst) {
  // Two cells want the same tile; the one with no good alternative gets it.
  Scene s(2, 1);
  s.builder.grid.cell(0).signature = uniform(make_pixel(100, 100, 100));
  s.builder.grid.cell(1).signature = uniform(make_pixel(100, 100, 100));
  const FotoInfo* shared = s.add_tile("/tiles/a.jpg", uniform(make_pixel(100, 100, 100)));
  const FotoInfo* close = s.add_tile("/tiles/b.jpg", uniform(make_pixel(102, 100, 100)));
  const FotoInfo* far = s.add_tile("/tiles/c.jpg", uniform(make_pixel(200, 100, 100)));
  // Cell 1 nearly matches "b" too; cell 0 only fits "a" well.
  s.builder.grid.cell(1).signature = uniform(make_pixel(101, 100, 100));
  (void)far;
  s.builder.parameters.tile_duplication = 1;
  ASSERT_TRUE(s.place());
  EXPECT_EQ(s.builder.grid.cell(0).tile, shared);
  EXPECT_EQ(s.builder.grid.cell(1).tile, close);
}

TEST(Placement, StopLeavesTheCellsEmpty) {
  for (std::int32_t mode : {kProcessingStandard, kProcessingFaster, kProcessingSequential}) {
    Scene s(5, 5);
    s.add_tiles(20);
    s.builder.parameters.processing = mode;
    s.start();
    s.builder.request_stop();
    EXPECT_TRUE(place_tiles(s.builder, s.tables, s.uses, s.setup));
    EXPECT_EQ(s.empty_cells(), 25u) << "mode " << mode;
    EXPECT_TRUE(s.builder.stop_requested());
  }
}

TEST(Placement, CellsNoTileCanFillStayEmpty) {
  // Portrait pictures, landscape cells and no quarter turns: nothing fits.
  for (std::int32_t mode : {kProcessingStandard, kProcessingFaster, kProcessingStandard1}) {
    Scene s(4, 3);
    for (int i = 0; i < 15; ++i) s.add_tile(format("/tall/%02d.jpg", i), smooth(s.random, true));
    s.builder.parameters.processing = mode;
    s.builder.parameters.tile_duplication = 1;
    ASSERT_TRUE(s.place());
    EXPECT_EQ(s.empty_cells(), 12u) << "mode " << mode;
    for (std::size_t i = 0; i < s.uses.size(); ++i) EXPECT_EQ(s.uses[i].use_count, 0u);
  }
}

// --- Faster with consecutive frames ------------------------------------------

TEST(Placement, ConsecutiveFramesStayApart) {
  Scene s(6, 5);
  for (int i = 0; i < 40; ++i) {
    FotoInfo info(format("/video/FRAMES001/f%03d.jpg", i));
    info.signature = smooth(s.random);
    info.variant_group = i + 1;  // the list numbers extracted frames in path order
    s.list.insert(info);
  }
  s.builder.parameters.processing = kProcessingStandard;
  s.builder.parameters.consecutive_frames = 3;
  ASSERT_TRUE(s.place());
  std::vector<std::int32_t> frames;
  for (const auto& c : s.builder.grid.cells()) {
    if (c->tile != nullptr) frames.push_back(c->tile->variant_group);
  }
  EXPECT_FALSE(frames.empty());
  for (std::size_t a = 0; a < frames.size(); ++a) {
    for (std::size_t b = a + 1; b < frames.size(); ++b) EXPECT_GT(std::abs(frames[a] - frames[b]), 3);
  }
}

// --- Sequential, Random, by date ------------------------------------------------

TEST(Placement, SequentialTakesTheListOrderAndRandomDiffers) {
  Scene s(8, 5);
  s.add_tiles(25);
  s.builder.parameters.processing = kProcessingSequential;
  ASSERT_TRUE(s.place());
  for (std::size_t i = 0; i < 40; ++i) EXPECT_EQ(s.builder.grid.cell(i).tile, s.uses[i % 25].tile);

  std::vector<std::vector<const FotoInfo*>> runs;
  for (int run = 0; run < 2; ++run) {
    s.builder.parameters.processing = kProcessingRandom;
    ASSERT_TRUE(s.place());
    runs.push_back(s.assignment());
    EXPECT_EQ(s.empty_cells(), 0u);
  }
  EXPECT_NE(runs[0], runs[1]);
}

TEST(Placement, SequentialKeepsOrientationsApartUnlessQuarterTurnsAreAllowed) {
  Scene s(4, 1);
  s.builder.grid.free();
  EXPECT_TRUE(s.builder.grid.add_cell({0, 0, 40, 30}));
  EXPECT_TRUE(s.builder.grid.add_cell({40, 0, 30, 40}));
  for (const auto& c : s.builder.grid.cells()) c->active = 1;
  const FotoInfo* wide = s.add_tile("/a.jpg", smooth(s.random, false));
  const FotoInfo* tall = s.add_tile("/b.jpg", smooth(s.random, true));
  s.builder.parameters.processing = kProcessingSequential;
  s.builder.parameters.tile_variants = TileVariant::original;
  ASSERT_TRUE(s.place());
  EXPECT_EQ(s.builder.grid.cell(0).tile, wide);
  EXPECT_EQ(s.builder.grid.cell(1).tile, tall);
  s.builder.parameters.tile_variants = TileVariant::original | TileVariant::rotated_90;
  ASSERT_TRUE(s.place());
  EXPECT_EQ(s.builder.grid.cell(0).tile, wide);
  EXPECT_EQ(s.builder.grid.cell(1).tile, tall);  // the next of one sequence
}

TEST(Placement, SequentialByDateFollowsTheFileTimeWithoutAShootingDate) {
  testing::TempDir dir;
  Scene s(3, 1);
  const auto now = std::filesystem::file_time_type::clock::now();
  const char* names[] = {"a.jpg", "b.jpg", "c.jpg"};
  const int hours_ago[] = {1, 30, 5};  // b is oldest, then c, then a
  for (int i = 0; i < 3; ++i) {
    const auto path = dir / names[i];
    ASSERT_TRUE(testing::write_file(path, "not a picture"));
    std::filesystem::last_write_time(path, now - std::chrono::hours(hours_ago[i]));
    s.add_tile(path.string(), smooth(s.random));
  }
  s.builder.parameters.processing = kProcessingSequentialDate;
  ASSERT_TRUE(s.place());
  EXPECT_EQ(s.builder.grid.cell(0).tile->file_name(), "b.jpg");
  EXPECT_EQ(s.builder.grid.cell(1).tile->file_name(), "c.jpg");
  EXPECT_EQ(s.builder.grid.cell(2).tile->file_name(), "a.jpg");
}

// --- Experimental --------------------------------------------------------------

TEST(Placement, ExperimentalNeedsNoDuplicates) {
  Scene s(3, 3);
  s.add_tiles(12);
  s.builder.parameters.processing = kProcessingStandard1;
  s.builder.parameters.tile_duplication = 0;
  EXPECT_FALSE(s.place());
  ASSERT_EQ(s.prompt.messages().size(), 1u);
  EXPECT_EQ(s.prompt.messages()[0],
            "The selected Experimental Mosaic Processing can be used only with the No Duplicate Tile Count.");
  s.builder.parameters.tile_duplication = 1;
  s.add_tile("/tiles/x MAX[3].jpg", smooth(s.random));
  EXPECT_FALSE(s.place());
}

TEST(Placement, ExperimentalGivesEachTileOneCellAndFindsTheBestMatching) {
  Scene s(5, 4);
  s.add_tiles(26);
  s.builder.parameters.processing = kProcessingStandard1;
  s.builder.parameters.tile_duplication = 1;
  ASSERT_TRUE(s.place());
  EXPECT_EQ(s.empty_cells(), 0u);
  for (const auto& [tile, count] : s.use_counts()) EXPECT_EQ(count, 1);
  std::uint64_t auction_total = 0;
  for (const auto& c : s.builder.grid.cells()) auction_total += c->score;

  // Nothing greedy beats it: High Quality's total is no better.
  s.builder.parameters.processing = kProcessingStandard;
  ASSERT_TRUE(s.place());
  std::uint64_t greedy_total = 0;
  for (const auto& c : s.builder.grid.cells()) greedy_total += c->score;
  EXPECT_LE(auction_total, greedy_total);
}

/// Cells filled and total score of the best assignment over every pair, from
/// the full score matrix (the solver with complete rows is checked against an
/// exhaustive search in its own tests).
std::pair<std::size_t, std::uint64_t> best_over_every_pair(const Scene& s) {
  SparseCosts full(s.uses.size());
  for (const auto& cell : s.builder.grid.cells()) {
    full.add_row();
    for (std::size_t t = 0; t < s.uses.size(); ++t) {
      const TileScore score = score_tile(s.tables, cell->signature, cell->priority, s.uses[t].tile->signature);
      if (score.score != kScoreUnusable) full.add_arc(static_cast<std::uint32_t>(t), score.score);
    }
  }
  const SparseAssignment best = solve_sparse_assignment(full);
  std::pair<std::size_t, std::uint64_t> q{0, 0};
  for (std::size_t r = 0; r < best.column_of_row.size(); ++r) {
    if (best.column_of_row[r] == kNoColumn) continue;
    ++q.first;
    q.second += score_tile(s.tables, s.builder.grid.cell(r).signature, s.builder.grid.cell(r).priority,
                           s.uses[best.column_of_row[r]].tile->signature)
                    .score;
  }
  return q;
}

TEST(Placement, ExperimentalFindsTheBestAssignmentOverEveryTile) {
  struct Case {
    const char* what;
    int columns, rows, tiles, portrait_tiles;
    int alike;  // 1: every cell the same, 2: nearly so; the first lists run short
  };
  const Case cases[] = {
      {"many tiles", 5, 4, 200, 0, 0},
      {"cells alike", 6, 5, 70, 0, 1},
      {"cells alike, lists kept longer than shown", 6, 5, 1100, 0, 1},
      {"cells nearly alike, lists kept longer than shown", 8, 6, 1100, 0, 2},
      {"more cells than tiles, some unusable", 8, 5, 24, 8, 0},
      {"more cells than usable tiles, alike", 6, 4, 30, 12, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene s(c.columns, c.rows);
    std::uniform_int_distribution<int> nudge(-3, 3);
    for (const auto& cell : s.builder.grid.cells()) {
      if (c.alike == 0) continue;
      cell->signature = s.builder.grid.cell(0).signature;
      if (c.alike == 1) continue;
      const auto moved = [&](std::uint32_t level) {
        return static_cast<std::uint32_t>(std::clamp(static_cast<int>(level & 0xFFu) + nudge(s.random), 0, 255));
      };
      for (std::uint32_t& sample : cell->signature.samples) {
        sample = make_pixel(moved(sample), moved(sample >> 8), moved(sample >> 16));
      }
      cell->signature.recompute_levels();
    }
    s.add_tiles(c.tiles - c.portrait_tiles);
    for (int i = 0; i < c.portrait_tiles; ++i) s.add_tile(format("/tall/%02d.jpg", i), smooth(s.random, true));
    s.builder.parameters.processing = kProcessingStandard1;
    s.builder.parameters.tile_duplication = 1;
    std::vector<const FotoInfo*> first;
    for (int threads : {1, 2}) {
      s.setup.threads = threads;
      ASSERT_TRUE(s.place());
      std::pair<std::size_t, std::uint64_t> got{0, 0};
      for (const auto& cell : s.builder.grid.cells()) {
        if (cell->tile == nullptr) continue;
        ++got.first;
        got.second += cell->score;
        EXPECT_EQ(cell->score,
                  score_tile(s.tables, cell->signature, cell->priority, cell->tile->signature).score);
      }
      for (const auto& [tile, count] : s.use_counts()) EXPECT_EQ(count, 1);
      EXPECT_EQ(got, best_over_every_pair(s));
      // The threads only share out the scoring: the assignment is the same.
      if (first.empty()) {
        first = s.assignment();
      } else {
        EXPECT_EQ(s.assignment(), first);
      }
    }
  }
}

TEST(Placement, AStopEndsTheAuctionKeepsItsAssignmentAndClearsTheStop) {
  Scene s(20, 15);
  s.add_tiles(320);
  s.builder.parameters.processing = kProcessingStandard1;
  s.builder.parameters.tile_duplication = 1;
  // A stop before anything is scored still ends in a sound mosaic and is cleared.
  s.start();
  s.builder.request_stop();
  EXPECT_TRUE(place_tiles(s.builder, s.tables, s.uses, s.setup));
  EXPECT_FALSE(s.builder.stop_requested());
  for (const auto& [tile, count] : s.use_counts()) EXPECT_EQ(count, 1);

  s.start();
  // The stop comes once the status shows that a first phase has finished.
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    while (!done) {
      if (s.builder.status().rfind("Improving Quality", 0) == 0) {
        s.builder.request_stop();
        return;
      }
      s.builder.request_status_refresh();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const bool placed = place_tiles(s.builder, s.tables, s.uses, s.setup);
  done = true;
  stopper.join();
  EXPECT_TRUE(placed);
  // A stop that lands while the cells are being filled in, or after, is the
  // run's to see; one during a solve was cleared.
  s.builder.clear_stop();
  // The assignment of the finished phase is kept: the mosaic is full.
  EXPECT_EQ(s.empty_cells(), 0u);
  for (const auto& [tile, count] : s.use_counts()) EXPECT_EQ(count, 1);
}

// --- tile list file ------------------------------------------------------------

TEST(TileListFile, RoundTripFixesTheCells) {
  testing::TempDir dir;
  const auto path = tile_list_file_path((dir / "Mosaic").string());
  EXPECT_EQ(path.filename().string(), "Mosaic Tile List.txt");

  Scene s(5, 4);
  s.add_tiles(30);
  s.builder.parameters.processing = kProcessingFaster;
  s.builder.parameters.tile_duplication = 1;
  s.builder.parameters.advanced.set_value(kOptTileListSave, "1");
  s.setup.tile_list_file = path;
  ASSERT_TRUE(s.place());
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(tile_list_key(s.builder.grid.cell(6)), "Tile40x40-40x40");
  std::vector<std::string> saved;
  for (const FotoInfo* t : s.assignment()) saved.push_back(t ? t->path : "");
  // One cell is left empty on purpose: it is written with an empty value.
  s.builder.grid.cell(3).tile = nullptr;
  ASSERT_TRUE(save_tile_list_file(s.builder, path));
  saved[3].clear();

  // A second run loads the file: the named cells keep their tiles and are fixed.
  s.builder.parameters.advanced.set_value(kOptTileListSave, "0");
  s.builder.parameters.advanced.set_value(kOptTileListLoad, "1");
  ASSERT_TRUE(s.place());
  for (std::size_t i = 0; i < saved.size(); ++i) {
    if (saved[i].empty()) {
      EXPECT_EQ(s.builder.grid.cell(i).fixed, 0);
      continue;
    }
    ASSERT_NE(s.builder.grid.cell(i).tile, nullptr);
    EXPECT_EQ(s.builder.grid.cell(i).tile->path, saved[i]);
    EXPECT_EQ(s.builder.grid.cell(i).fixed, 1);
  }
  for (const auto& [tile, count] : s.use_counts()) EXPECT_EQ(count, 1);
  EXPECT_EQ(s.uses.find(s.list.find(saved[0]))->use_count, 1u);

  // A path no longer in the list fixes nothing.
  Scene other(5, 4);
  other.add_tiles(3, "/elsewhere/");
  other.start();
  EXPECT_EQ(load_tile_list_file(other.builder, other.tables, other.uses, path), 0u);
  EXPECT_EQ(load_tile_list_file(other.builder, other.tables, other.uses, dir / "missing.txt"), 0u);
}

TEST(TileListFile, AnUnwritableFileIsReported) {
  Scene s(2, 2);
  EXPECT_FALSE(save_tile_list_file(s.builder, "/nonexistent-folder/x Tile List.txt"));
  EXPECT_EQ(s.prompt.messages().size(), 1u);
}

TEST(PlacementBudget, FollowsMaxMemory) {
  Scene s(10, 10);
  // 1,500 MB less the reserve, the cells and the tiles, 60 bytes an entry.
  const std::int64_t used = 24 + 60'000'036 + 100 * 568 + 1000 * 540;
  EXPECT_EQ(candidate_entry_budget(s.builder.grid, 1000, "1500"),
            static_cast<std::size_t>((1'500'000'000 - used) / 60));
  // Clamped to 10 MB, and never below 50 MB of entries.
  EXPECT_EQ(candidate_entry_budget(s.builder.grid, 1000, "1"), 50'000'000u / 60);
  EXPECT_EQ(candidate_entry_budget(s.builder.grid, 1000, "99999"),
            candidate_entry_budget(s.builder.grid, 1000, "3900"));
  EXPECT_EQ(spacing_area(s.builder.grid, 1), 0);
}

}  // namespace
}  // namespace tess
