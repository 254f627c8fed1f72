#include "engine/assignment.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <optional>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

namespace tess {
namespace {

/// A full cost matrix; nullopt marks a pair that cannot be taken.
using Matrix = std::vector<std::vector<std::optional<std::uint32_t>>>;

/// Rows left empty, then the total cost.
using Quality = std::pair<std::size_t, std::uint64_t>;

/// The best assignment by going through every set of used columns.
Quality exhaustive_best(const Matrix& costs, std::size_t columns) {
  constexpr Quality kNever{~std::size_t{0}, 0};
  std::vector<Quality> best(std::size_t{1} << columns, kNever);
  best[0] = {0, 0};
  for (const auto& row : costs) {
    std::vector<Quality> next(best.size(), kNever);
    for (std::size_t used = 0; used < best.size(); ++used) {
      if (best[used] == kNever) continue;
      const auto offer = [&](std::size_t to, Quality q) { next[to] = std::min(next[to], q); };
      offer(used, {best[used].first + 1, best[used].second});
      for (std::size_t c = 0; c < columns; ++c) {
        if (!row[c] || (used >> c & 1) != 0) continue;
        offer(used | std::size_t{1} << c, {best[used].first, best[used].second + *row[c]});
      }
    }
    best = std::move(next);
  }
  return *std::min_element(best.begin(), best.end());
}

/// Each row's `keep` cheapest arcs (all of them when keep is 0), with the
/// floor the placement would give: the dearest arc kept.
SparseCosts shortlist(const Matrix& costs, std::size_t columns, std::size_t keep) {
  SparseCosts sparse(columns);
  for (const auto& row : costs) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> arcs;
    for (std::uint32_t c = 0; c < columns; ++c) {
      if (row[c]) arcs.emplace_back(*row[c], c);
    }
    std::sort(arcs.begin(), arcs.end());
    const bool cut = keep != 0 && arcs.size() > keep;
    if (cut) arcs.resize(keep);
    sparse.add_row(cut ? arcs.back().first : kCompleteRow);
    for (const auto& [cost, column] : arcs) sparse.add_arc(column, cost);
  }
  return sparse;
}

/// Checks that the assignment is valid for the matrix and returns its quality.
Quality quality_of(const Matrix& costs, std::size_t columns, const SparseAssignment& solved) {
  EXPECT_EQ(solved.column_of_row.size(), costs.size());
  std::vector<int> taken(columns, 0);
  Quality q{0, 0};
  for (std::size_t r = 0; r < costs.size(); ++r) {
    const std::uint32_t c = solved.column_of_row[r];
    if (c == kNoColumn) {
      ++q.first;
      continue;
    }
    EXPECT_LT(c, columns);
    if (c >= columns) continue;
    EXPECT_TRUE(costs[r][c].has_value()) << "row " << r << " took a column it cannot take";
    EXPECT_EQ(++taken[c], 1) << "column " << c << " taken twice";
    q.second += costs[r][c].value_or(0);
  }
  return q;
}

Matrix random_matrix(std::mt19937& random, std::size_t rows, std::size_t columns, std::uint32_t spread,
                     int unusable_percent) {
  std::uniform_int_distribution<std::uint32_t> cost(0, spread);
  std::uniform_int_distribution<int> percent(0, 99);
  Matrix m(rows, std::vector<std::optional<std::uint32_t>>(columns));
  for (auto& row : m) {
    for (auto& cell : row) {
      if (percent(random) >= unusable_percent) cell = cost(random);
    }
  }
  return m;
}

TEST(SparseAssignment, MatchesTheExhaustiveBestOnRandomInstances) {
  std::mt19937 random(1234);
  struct Shape {
    std::size_t rows, columns;
    std::uint32_t spread;  // small spreads make many ties
    int unusable_percent;
  };
  const Shape shapes[] = {
      {5, 9, 1000, 0},  {6, 10, 3, 0},   {7, 7, 50, 20},         {8, 5, 100, 10},
      {6, 10, 9, 60},   {9, 4, 2, 30},   {4, 10, 4'000'000'000u, 0}, {1, 3, 5, 50},
  };
  for (const Shape& shape : shapes) {
    for (int round = 0; round < 40; ++round) {
      const Matrix m = random_matrix(random, shape.rows, shape.columns, shape.spread, shape.unusable_percent);
      const Quality best = exhaustive_best(m, shape.columns);
      // Every list complete: the solve alone must find the best.
      const SparseAssignment full = solve_sparse_assignment(shortlist(m, shape.columns, 0));
      EXPECT_EQ(quality_of(m, shape.columns, full), best) << shape.rows << "x" << shape.columns;
      EXPECT_TRUE(full.unproven_rows.empty());
      EXPECT_FALSE(full.stopped);

      // Short lists: proven means best; else the rows it names, given every
      // arc, must lead there.
      for (std::size_t keep : {1, 2, 3}) {
        const SparseAssignment shortened = solve_sparse_assignment(shortlist(m, shape.columns, keep));
        const Quality got = quality_of(m, shape.columns, shortened);
        EXPECT_GE(got, best);
        if (shortened.unproven_rows.empty()) {
          EXPECT_EQ(got, best) << "claimed best with lists of " << keep;
          continue;
        }
        Matrix grown = m;
        SparseCosts mixed(shape.columns);
        const SparseCosts listed = shortlist(m, shape.columns, keep);
        for (std::size_t r = 0; r < m.size(); ++r) {
          const bool grow =
              std::find(shortened.unproven_rows.begin(), shortened.unproven_rows.end(), r) !=
              shortened.unproven_rows.end();
          mixed.add_row(grow ? kCompleteRow : listed.floor(r));
          if (grow) {
            for (std::uint32_t c = 0; c < shape.columns; ++c) {
              if (m[r][c]) mixed.add_arc(c, *m[r][c]);
            }
          } else {
            for (std::size_t a = listed.row_begin(r); a < listed.row_end(r); ++a)
              mixed.add_arc(listed.arc_column(a), listed.arc_cost(a));
          }
        }
        const SparseAssignment again = solve_sparse_assignment(mixed);
        EXPECT_LE(quality_of(m, shape.columns, again), got);
        if (again.unproven_rows.empty()) {
          EXPECT_EQ(quality_of(m, shape.columns, again), best);
        }
        // Going on from the shorter lists' solve is as good as starting
        // afresh, and proves the same rows.
        const SparseAssignment warm = solve_sparse_assignment(mixed, {}, &shortened.start);
        EXPECT_EQ(quality_of(m, shape.columns, warm), quality_of(m, shape.columns, again))
            << shape.rows << "x" << shape.columns << " keep " << keep;
        if (warm.unproven_rows.empty()) {
          EXPECT_EQ(quality_of(m, shape.columns, warm), best);
        }
        // A start from a solve over arcs some of which are gone now ends as well.
        const SparseAssignment other = solve_sparse_assignment(mixed, {}, &full.start);
        EXPECT_EQ(quality_of(m, shape.columns, other), quality_of(m, shape.columns, again));
      }
    }
  }
}

TEST(SparseAssignment, GoingOnFromAnEarlierSolveMatchesASolveFromNothing) {
  // Rows that look alike want the same few columns, so the columns they
  // held stand far below 0 when a row lets go: the start must raise them
  // back without losing the best total, round after round as the lists
  // of the unproven rows grow the way placement grows them.
  std::mt19937 random(2024);
  for (const auto& [rows, columns, spread] : {std::tuple<std::size_t, std::size_t, std::uint32_t>{40, 60, 1000},
                                             {30, 30, 50},
                                             {50, 52, 3}}) {
    for (int instance = 0; instance < 12; ++instance) {
      std::uniform_int_distribution<int> place(0, 9);
      std::uniform_int_distribution<std::uint32_t> noise(0, spread);
      std::vector<int> row_at(rows), column_at(columns);
      for (int& x : row_at) x = place(random);
      for (int& x : column_at) x = place(random);
      Matrix m(rows, std::vector<std::optional<std::uint32_t>>(columns));
      for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < columns; ++c) {
          if (noise(random) % 17 == 0) continue;  // a few pairs that cannot be taken
          m[r][c] = static_cast<std::uint32_t>(std::abs(row_at[r] - column_at[c])) * spread + noise(random);
        }
      }
      const Quality best = quality_of(m, columns, solve_sparse_assignment(shortlist(m, columns, 0)));
      std::vector<std::size_t> keep(rows, 1);
      SparseAssignment warm;
      for (int round = 0;; ++round) {
        ASSERT_LT(round, 20);
        SparseCosts costs(columns);
        for (std::size_t r = 0; r < rows; ++r) {
          const SparseCosts one = shortlist(Matrix{m[r]}, columns, keep[r]);
          costs.add_row(one.floor(0));
          for (std::size_t a = one.row_begin(0); a < one.row_end(0); ++a) costs.add_arc(one.arc_column(a), one.arc_cost(a));
        }
        const SparseAssignment cold = solve_sparse_assignment(costs);
        warm = solve_sparse_assignment(costs, {}, round == 0 ? nullptr : &warm.start);
        ASSERT_EQ(quality_of(m, columns, warm), quality_of(m, columns, cold)) << rows << "x" << columns << " round " << round;
        if (warm.unproven_rows.empty()) break;
        for (const std::size_t r : warm.unproven_rows) keep[r] *= 2;
      }
      EXPECT_EQ(quality_of(m, columns, warm), best);
    }
  }
}

TEST(SparseAssignment, FillsTheMostRowsBeforeLoweringTheCost) {
  // Row 0 alone would take column 0 cheaply, but only row 1 can use it and
  // row 0 has a dear way out.
  Matrix m = {{1, 1'000'000'000u}, {2, std::nullopt}};
  SparseAssignment solved = solve_sparse_assignment(shortlist(m, 2, 0));
  EXPECT_EQ(solved.column_of_row, (std::vector<std::uint32_t>{1, 0}));
  // When only one row can be filled, the cheaper one is.
  m = {{100, std::nullopt}, {1, std::nullopt}, {std::nullopt, std::nullopt}};
  solved = solve_sparse_assignment(shortlist(m, 2, 0));
  EXPECT_EQ(solved.column_of_row, (std::vector<std::uint32_t>{kNoColumn, 0, kNoColumn}));
  // The largest costs the kernel gives still count as costs, not as gaps.
  m = {{0xFFFFFFFEu, 0xFFFFFFFEu}, {0xFFFFFFFEu, 3}};
  solved = solve_sparse_assignment(shortlist(m, 2, 0));
  EXPECT_EQ(solved.column_of_row, (std::vector<std::uint32_t>{0, 1}));
}

TEST(SparseAssignment, AStopKeepsAValidPartialAssignment) {
  std::mt19937 random(99);
  // Fewer rows than columns, then more (the columns are placed instead).
  for (const auto& [rows, columns] : {std::pair<std::size_t, std::size_t>{30, 40}, {40, 30}}) {
    const Matrix m = random_matrix(random, rows, columns, 1000, 10);
    std::size_t calls = 0;
    const SparseAssignment solved = solve_sparse_assignment(shortlist(m, columns, 0), [&](std::size_t placed) {
      ++calls;
      return placed < 12;
    });
    EXPECT_TRUE(solved.stopped);
    EXPECT_EQ(calls, 12u);
    EXPECT_GE(quality_of(m, columns, solved).first, rows - 12u);
    if (rows < columns) {
      for (std::size_t r = 12; r < rows; ++r) EXPECT_EQ(solved.column_of_row[r], kNoColumn);
    }
  }
}

}  // namespace
}  // namespace tess
