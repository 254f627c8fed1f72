#include "engine/score_tile.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "engine/job_pool.hpp"
#include "engine/score_bound.hpp"
#include "images/foto.hpp"

namespace tess {
namespace {

std::vector<std::uint32_t> scores_of(const CScoreTile& list) {
  std::vector<std::uint32_t> scores;
  for (const ScoreEntry& e : list.entries()) scores.push_back(e.score);
  return scores;
}

std::vector<ScoreKey> keys_of(const CScoreTile& list) {
  std::vector<ScoreKey> keys;
  for (const ScoreEntry& e : list.entries()) keys.push_back(e.key);
  return keys;
}

TEST(ScoreTileList, KeepsTheBestEntriesInOrderWithinItsCapacity) {
  CScoreTile list(ScoreCell{}, 3);
  EXPECT_FALSE(list.insert(50, 1));  // one entry: regret stays 0
  EXPECT_TRUE(list.insert(20, 2));
  EXPECT_EQ(list.regret(), 30u);
  EXPECT_FALSE(list.insert(80, 3));
  EXPECT_EQ(scores_of(list), (std::vector<std::uint32_t>{20, 50, 80}));

  // Full: a score equal to the worst is refused, a better one drops the worst.
  EXPECT_FALSE(list.insert(80, 4));
  EXPECT_EQ(keys_of(list), (std::vector<ScoreKey>{2, 1, 3}));
  EXPECT_TRUE(list.insert(10, 5));
  EXPECT_EQ(keys_of(list), (std::vector<ScoreKey>{5, 2, 1}));
  EXPECT_EQ(list.regret(), 10u);
  EXPECT_FALSE(list.score_of(3).has_value());
  EXPECT_EQ(list.score_of(2), 20u);

  // Equal scores order by key.
  CScoreTile ties(ScoreCell{}, 10);
  ties.insert(7, 9);
  ties.insert(7, 4);
  ties.insert(7, 6);
  EXPECT_EQ(keys_of(ties), (std::vector<ScoreKey>{4, 6, 9}));
  EXPECT_EQ(ties.regret(), 0u);
}

TEST(ScoreTileList, ListedKeyIsNeitherDuplicatedNorCostsTheWorstEntry) {
  CScoreTile list(ScoreCell{}, 2);
  list.insert(10, 1);
  list.insert(30, 2);
  EXPECT_FALSE(list.insert(5, 2));
  EXPECT_EQ(keys_of(list), (std::vector<ScoreKey>{1, 2}));
  EXPECT_EQ(scores_of(list), (std::vector<std::uint32_t>{10, 30}));
}

TEST(ScoreTileList, RemoveKeepsOrderIndexAndRegret) {
  CScoreTile list(ScoreCell{}, 10);
  list.insert(10, 1);
  list.insert(15, 2);
  list.insert(40, 3);
  list.insert(15, 4);
  EXPECT_EQ(list.regret(), 5u);
  EXPECT_TRUE(list.remove(2));
  EXPECT_FALSE(list.remove(2));
  EXPECT_FALSE(list.remove(99));
  EXPECT_EQ(list.regret(), 5u);
  EXPECT_TRUE(list.remove(1));
  EXPECT_EQ(list.regret(), 25u);
  EXPECT_EQ(list.best(), (ScoreEntry{15, 4}));
  EXPECT_TRUE(list.remove(4));
  EXPECT_EQ(list.regret(), 0u);
  EXPECT_EQ(list.count(), 1u);
  // A removed key may come back.
  list.insert(1, 2);
  EXPECT_EQ(keys_of(list), (std::vector<ScoreKey>{2, 3}));
}

TEST(ScoreTileList, NoCapacityTakesNothing) {
  CScoreTile list(ScoreCell{}, 0);
  EXPECT_FALSE(list.insert(1, 1));
  EXPECT_TRUE(list.empty());
}

// ---------------------------------------------------------------------------
// Rebuild.

struct Fixture {
  explicit Fixture(unsigned seed, int tile_count, TileVariantFlags variants = kVariantAll,
                   std::int32_t comparison = kCompareBest)
      : random(seed) {
    MosaicParameters p;
    p.comparison = comparison;
    p.tile_variants = variants;
    p.colour_change = 40;
    p.colour_priority = 2;
    p.detail = 6;
    EXPECT_TRUE(tables.set_up(p, 0));
    for (int i = 0; i < tile_count; ++i) {
      auto tile = std::make_unique<FotoInfo>("tile" + std::to_string(i));
      tile->signature = random_signature(false);
      tile->signature.portrait = static_cast<std::uint8_t>(random() % 4 == 0);
      tiles.push_back(std::move(tile));
    }
    for (const auto& tile : tiles) tile_views.push_back(tile.get());
  }

  TileSignature random_signature(bool transparent) {
    TileSignature s;
    // Few distinct levels, so that different tiles often tie.
    for (auto& v : s.samples) {
      v = make_pixel(static_cast<std::uint32_t>(random() % 4 * 60), static_cast<std::uint32_t>(random() % 4 * 60),
                     static_cast<std::uint32_t>(random() % 4 * 60),
                     transparent ? static_cast<std::uint32_t>(random() % 256) : 0);
    }
    return s;
  }

  RebuildInfo info() const {
    RebuildInfo i;
    i.tables = &tables;
    i.tiles = tile_views;
    return i;
  }

  // The list a rebuild must give, through insert(): every run's best exact
  // score, offered in list order.
  CScoreTile expected(const ScoreCell& cell, std::size_t capacity, const RebuildInfo& i,
                      const std::vector<ScoreKey>& excluded = {}) const {
    CScoreTile list(cell, capacity);
    std::size_t t = 0;
    while (t < i.tiles.size()) {
      const ScoreKey key = i.group_keys ? static_cast<ScoreKey>(i.tiles[t]->variant_group) : static_cast<ScoreKey>(t);
      std::uint32_t best = kNoBound;
      for (; t < i.tiles.size(); ++t) {
        const ScoreKey k = i.group_keys ? static_cast<ScoreKey>(i.tiles[t]->variant_group) : static_cast<ScoreKey>(t);
        if (k != key) break;
        if (i.tiles[t]->placement_flag) continue;
        if (std::find(excluded.begin(), excluded.end(), k) != excluded.end()) continue;
        best = std::min(best, score_tile(tables, *cell.signature, *cell.priority, i.tiles[t]->signature).score);
      }
      if (best < i.bound) list.insert(best, key);
    }
    return list;
  }

  std::mt19937 random;
  ScoreTables tables;
  std::vector<std::unique_ptr<FotoInfo>> tiles;
  std::vector<const FotoInfo*> tile_views;
};

void expect_same_list(const CScoreTile& actual, const CScoreTile& expected) {
  ASSERT_EQ(actual.count(), expected.count());
  EXPECT_TRUE(std::equal(actual.entries().begin(), actual.entries().end(), expected.entries().begin()));
  EXPECT_EQ(actual.regret(), expected.regret());
  for (const ScoreEntry& e : expected.entries()) EXPECT_EQ(actual.score_of(e.key), e.score);
}

// With the tiles' bound fields at hand the rebuild scores the most promising
// tiles first and proves most others out unread: the list must not change,
// for the comparisons on red, green and blue and for the perceptual one,
// whose tiles are read in their prepared form or converted when not.
TEST(ScoreTileRebuild, KeepsTheSameEntriesAsInsertingEveryTileInListOrder) {
  for (const std::int32_t comparison : {kCompareBest, kComparePerceptual}) {
  SCOPED_TRACE(testing::Message() << "comparison " << comparison);
  Fixture f(3, 600, kVariantsAtCreation, comparison);
  // Exhausted tiles are left out; identical tiles tie and keep the earlier key.
  for (int i = 0; i < 600; i += 7) f.tiles[static_cast<std::size_t>(i)]->placement_flag = 1;
  for (int i = 100; i < 110; ++i) f.tiles[static_cast<std::size_t>(i)]->signature = f.tiles[50]->signature;
  // Tiles far from every cell in colour, which the bound can prove out.
  for (int i = 200; i < 260; ++i) f.tiles[static_cast<std::size_t>(i)]->signature.samples.fill(make_pixel(250, 0, 250));
  for (int i = 0; i < 600; i += 2) f.tiles[static_cast<std::size_t>(i)]->signature.prepare_perceptual();
  TileBoundBank bank;
  bank.set_perceptual(f.tables.perceptual());
  for (const auto& tile : f.tiles) bank.add(tile->signature);

  for (const bool transparent : {true, false}) {
    TileSignature cell_signature = f.random_signature(transparent);
    std::uint8_t priority = 33;
    const ScoreCell cell{&cell_signature, &priority, 0, 0};
    const TileBoundBank* const banks[] = {nullptr, &bank};
    for (const TileBoundBank* with_bank : banks) {
      RebuildInfo info = f.info();
      info.bank = with_bank;
      for (std::size_t capacity : {std::size_t{0}, std::size_t{2}, std::size_t{37}, std::size_t{600},
                                   std::size_t{10000}}) {
        CScoreTile list(cell, capacity);
        list.insert(0, 9999);  // whatever was there goes
        list.rebuild(info);
        SCOPED_TRACE(testing::Message() << "capacity " << capacity << " transparent " << transparent << " bank "
                                        << (with_bank != nullptr));
        expect_same_list(list, f.expected(cell, capacity, info));
        EXPECT_FALSE(list.score_of(7).has_value());
      }
      // A caller's bound keeps out everything at or above it.
      RebuildInfo bounded = info;
      CScoreTile unbounded_list(cell, 10000);
      unbounded_list.rebuild(info);
      bounded.bound = unbounded_list.entries()[300].score;
      CScoreTile list(cell, 10000);
      list.rebuild(bounded);
      expect_same_list(list, f.expected(cell, 10000, bounded));
      EXPECT_LT(list.entries().back().score, bounded.bound);
      // A capacity whose edge falls on tile 50, which tiles 100..109 tie.
      const auto score_50 = unbounded_list.score_of(50);
      ASSERT_TRUE(score_50.has_value());
      const auto entries = unbounded_list.entries();
      const auto edge = std::find(entries.begin(), entries.end(), ScoreEntry{*score_50, 50}) - entries.begin();
      CScoreTile tied(cell, static_cast<std::size_t>(edge) + 1);
      tied.rebuild(info);
      expect_same_list(tied, f.expected(cell, tied.capacity(), info));
      EXPECT_EQ(tied.entries().back().key, 50u);
    }
  }
  }
}

// Two tiles at the same distance from the cell, one on both sides of its
// colours and one on one side: their scores tie, but the cheap bound sees
// the second as worse and scores it later. The earlier key must still win.
TEST(ScoreTileRebuild, ATieGoesToTheEarlierKeyWhateverTheBoundSays) {
  MosaicParameters parameters;
  parameters.colour_change = 0;  // a shift would bring the one-sided tile back
  ScoreTables tables;
  ASSERT_TRUE(tables.set_up(parameters, 0));
  TileSignature cell;
  cell.samples.fill(make_pixel(100, 120, 140));
  const auto moved = [&](int step) {
    TileSignature s;
    for (std::size_t i = 0; i < s.samples.size(); ++i) {
      const int d = step > 0 || i % 2 == 0 ? 10 : -10;
      s.samples[i] = make_pixel(static_cast<std::uint32_t>(100 + d), static_cast<std::uint32_t>(120 + d),
                                static_cast<std::uint32_t>(140 + d));
    }
    return s;
  };
  std::vector<std::unique_ptr<FotoInfo>> tiles;
  for (int i = 0; i < 8; ++i) {
    tiles.push_back(std::make_unique<FotoInfo>("t" + std::to_string(i)));
    tiles.back()->signature.samples.fill(make_pixel(255, 0, static_cast<std::uint32_t>(30 * i)));
  }
  tiles[1]->signature = moved(1);   // one side: the larger bound, the earlier key
  tiles[5]->signature = moved(-1);  // both sides: the bound sees no difference
  std::vector<const FotoInfo*> views;
  TileBoundBank bank;
  for (const auto& tile : tiles) {
    views.push_back(tile.get());
    bank.add(tile->signature);
  }
  std::uint8_t priority = kNeutralPriority;
  const ScoreCell place{&cell, &priority, 0, 0};
  ASSERT_EQ(score_tile(tables, cell, priority, tiles[1]->signature), score_tile(tables, cell, priority, tiles[5]->signature));
  RebuildInfo info;
  info.tables = &tables;
  info.tiles = views;
  info.bank = &bank;
  CScoreTile list(place, 1);
  list.rebuild(info);
  ASSERT_EQ(list.count(), 1u);
  EXPECT_EQ(list.best().key, 1u);
}

TEST(ScoreTileRebuild, GroupsCountOnceWithTheirBestTile) {
  Fixture f(4, 300);
  // Groups of 1 to 5 consecutive tiles, numbered along the list.
  std::int32_t group = 0;
  for (std::size_t i = 0; i < f.tiles.size();) {
    const std::size_t size = 1 + f.random() % 5;
    ++group;
    for (std::size_t j = 0; j < size && i < f.tiles.size(); ++j, ++i) f.tiles[i]->variant_group = group;
  }
  f.tiles[10]->placement_flag = 1;
  TileSignature cell_signature = f.random_signature(false);
  std::uint8_t priority = 20;
  const ScoreCell cell{&cell_signature, &priority, 0, 0};
  RebuildInfo info = f.info();
  info.group_keys = true;
  for (std::size_t capacity : {std::size_t{5}, std::size_t{1000}}) {
    CScoreTile list(cell, capacity);
    list.rebuild(info);
    expect_same_list(list, f.expected(cell, capacity, info));
  }
  CScoreTile list(cell, 1000);
  list.rebuild(info);
  EXPECT_EQ(list.count(), static_cast<std::size_t>(group));
}

TEST(ScoreTileRebuild, TilesPlacedWithinTheSpacingAreaStayOut) {
  Fixture f(5, 100);
  TileSignature cell_signature = f.random_signature(false);
  std::uint8_t priority = 20;
  const ScoreCell cell{&cell_signature, &priority, 100, 100};
  const std::vector<PlacedTile> placed = {
      {100, 129, 3},   // 29² < 900: too close
      {121, 121, 4},   // 441 + 441 < 900
      {130, 100, 5},   // exactly 900: far enough
      {0, 0, 6},
  };
  TileBoundBank bank;
  for (const auto& tile : f.tiles) bank.add(tile->signature);
  RebuildInfo info = f.info();
  info.placed = placed;
  info.spacing_area = 900;
  info.bank = &bank;
  for (std::size_t capacity : {std::size_t{3}, std::size_t{1000}}) {
    CScoreTile few(cell, capacity);
    few.rebuild(info);
    expect_same_list(few, f.expected(cell, capacity, info, {3, 4}));
  }
  CScoreTile list(cell, 1000);
  list.rebuild(info);
  expect_same_list(list, f.expected(cell, 1000, info, {3, 4}));
  EXPECT_FALSE(list.score_of(3).has_value());
  EXPECT_FALSE(list.score_of(4).has_value());
  EXPECT_TRUE(list.score_of(5).has_value());

  // Without a spacing area nothing is excluded.
  info.spacing_area = 0;
  list.rebuild(info);
  EXPECT_EQ(list.count(), 100u);
}

// Late in a run without duplicates the tiles with the smallest bounds are
// used up. The scan must still fill its list from the next most promising
// tiles and let the list prove the rest out, not score every tile left: the
// number of tiles scored is the count here, and the list is the same.
TEST(ScoreTileRebuild, UsedUpPromisingTilesDoNotLeaveTheScanUnbounded) {
  Fixture f(11, 3000, kVariantsAtCreation);
  // Plain colours, which the bound tells apart.
  const auto plain = [&f] {
    TileSignature s;
    s.samples.fill(make_pixel(f.random() % 256, f.random() % 256, f.random() % 256));
    return s;
  };
  const TileSignature cell = plain();
  const CellScorer scorer(f.tables, cell, kNeutralPriority);
  // The list's order puts the worst tiles first, so that a scan in that order
  // with nothing to bound it reads nearly every tile.
  std::vector<TileSignature> signatures(f.tiles.size());
  for (auto& signature : signatures) signature = plain();
  std::sort(signatures.begin(), signatures.end(), [&scorer](const TileSignature& a, const TileSignature& b) {
    return scorer.score(a).score > scorer.score(b).score;
  });
  for (std::size_t i = 0; i < f.tiles.size(); ++i) f.tiles[i]->signature = signatures[i];
  TileBoundBank bank;
  for (const auto& tile : f.tiles) bank.add(tile->signature);
  const CellBound cell_bound(f.tables, cell, kNeutralPriority);
  std::vector<float> lower(bank.size());
  cell_bound.lower_bounds(bank, 0, bank.size(), lower.data());
  std::vector<std::uint32_t> by_bound(bank.size());
  for (std::uint32_t i = 0; i < by_bound.size(); ++i) by_bound[i] = i;
  std::sort(by_bound.begin(), by_bound.end(), [&](std::uint32_t a, std::uint32_t b) { return lower[a] < lower[b]; });
  std::vector<std::uint8_t> used(bank.size(), 0);
  for (std::size_t k = 0; k < 600; ++k) used[by_bound[k]] = 1;

  constexpr std::size_t kCapacity = 16;
  std::size_t scored = 0;
  std::vector<ScoreEntry> heap;
  keep_best_tiles(
      scorer, cell_bound, bank, kCapacity, kNoBound,
      [&](std::size_t i) {
        scored += used[i] == 0 ? 1 : 0;
        return used[i] == 0;
      },
      [&](std::size_t i) -> const TileSignature& { return f.tiles[i]->signature; }, heap);
  std::sort(heap.begin(), heap.end());

  std::vector<ScoreEntry> expected;
  for (std::uint32_t i = 0; i < bank.size(); ++i)
    if (used[i] == 0) expected.push_back({scorer.score(f.tiles[i]->signature).score, i});
  std::sort(expected.begin(), expected.end());
  expected.resize(kCapacity);
  EXPECT_EQ(heap, expected);
  EXPECT_LT(scored, std::size_t{600}) << "of 2,400 tiles left";
}

TEST(ScoreTileRebuild, JobsOnThePoolGiveTheSameListsAsRebuildingInTurn) {
  Fixture f(6, 400);
  std::vector<TileSignature> cell_signatures;
  std::vector<std::uint8_t> priorities;
  for (int i = 0; i < 40; ++i) {
    cell_signatures.push_back(f.random_signature(i % 3 == 0));
    priorities.push_back(static_cast<std::uint8_t>(1 + f.random() % 255));
  }
  std::vector<CScoreTile> parallel, serial;
  for (std::size_t i = 0; i < cell_signatures.size(); ++i) {
    const ScoreCell cell{&cell_signatures[i], &priorities[i], static_cast<std::int32_t>(i * 10), 0};
    parallel.emplace_back(cell, 50);
    serial.emplace_back(cell, 50);
  }
  const std::vector<PlacedTile> placed = {{15, 0, 1}, {200, 0, 2}};
  RebuildInfo info = f.info();
  info.placed = placed;
  info.spacing_area = 2500;

  JobPool pool;
  ASSERT_TRUE(pool.start_threads(3, ThreadPriority::normal));
  {
    JobQueue queue(pool);
    for (CScoreTile& list : parallel) submit_rebuild(queue, list, info);
    EXPECT_TRUE(queue.wait_all().ok());
  }
  pool.shut_down();
  for (std::size_t i = 0; i < serial.size(); ++i) {
    serial[i].rebuild(info);
    SCOPED_TRACE(i);
    expect_same_list(parallel[i], serial[i]);
  }
}

}  // namespace
}  // namespace tess
