#pragma once
// The best assignment of rows to columns on a sparse cost structure: each
// row lists the columns it may take and their costs, each column goes to at
// most one row. The members of the smaller side are augmented one at a time
// along shortest paths (Dijkstra on reduced costs), so each search stays
// within the partners its neighbours compete for and ends at a free one.
// Placement uses it with the cells as rows and the unused tiles as columns,
// each cell listing only its best tiles; the potentials the solve leaves
// then tell which cells' lists were long enough.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace tess {

/// The column of a row that takes none.
inline constexpr std::uint32_t kNoColumn = std::numeric_limits<std::uint32_t>::max();
/// The floor of a row whose list holds every column it can take.
inline constexpr std::uint64_t kCompleteRow = std::numeric_limits<std::uint64_t>::max();

/// Rows with their arcs, added in row order.
class SparseCosts {
 public:
  explicit SparseCosts(std::size_t columns = 0) : m_columns(columns) {}

  /// Starts the next row. `floor`: every column this row could take but
  /// does not list costs at least this much for it; kCompleteRow when the
  /// row lists every column it can take.
  void add_row(std::uint64_t floor = kCompleteRow);
  /// Adds an arc to the row started last; `column` < columns().
  void add_arc(std::uint32_t column, std::uint32_t cost);

  std::size_t rows() const { return m_floor.size(); }
  std::size_t columns() const { return m_columns; }
  std::size_t arc_count() const { return m_column.size(); }
  /// The arcs of row r are [row_begin(r), row_end(r)).
  std::size_t row_begin(std::size_t r) const { return m_first[r]; }
  std::size_t row_end(std::size_t r) const { return m_first[r + 1]; }
  std::uint32_t arc_column(std::size_t arc) const { return m_column[arc]; }
  std::uint32_t arc_cost(std::size_t arc) const { return m_cost[arc]; }
  std::uint64_t floor(std::size_t r) const { return m_floor[r]; }
  /// Every arc's column and cost, in arc order.
  const std::uint32_t* arc_columns() const { return m_column.data(); }
  const std::uint32_t* arc_costs() const { return m_cost.data(); }

 private:
  std::size_t m_columns;
  std::vector<std::size_t> m_first{0};
  std::vector<std::uint32_t> m_column;
  std::vector<std::uint32_t> m_cost;
  std::vector<std::uint64_t> m_floor;
};

/// What a finished solve leaves behind, so that a later solve of the same
/// rows and columns with arcs added to some rows can start from it instead
/// of from nothing.
struct AssignmentStart {
  /// Per row: its column, or columns() + row for a row left empty.
  std::vector<std::uint32_t> matched;
  /// Per row, then per column and per row's own empty column: the dual
  /// potentials as pairs (rows left empty, cost).
  std::vector<std::int64_t> row_potential;
  std::vector<std::int64_t> column_potential;
};

struct SparseAssignment {
  /// The column each row takes, kNoColumn for a row left empty.
  std::vector<std::uint32_t> column_of_row;
  /// Rows whose unlisted columns might still lower the total (or fill a
  /// row left empty): the assignment is the best over every column once
  /// this is empty, and the best over the listed arcs in any case.
  std::vector<std::size_t> unproven_rows;
  /// The solve was told to stop: what it placed so far is a valid
  /// assignment, not necessarily the best, and may leave rows empty.
  bool stopped = false;
  /// For a later solve with more arcs; empty when the solve stopped or
  /// went by columns (more rows than columns).
  AssignmentStart start;
};

/// Called after each member of the smaller side is placed, with the count
/// placed so far; returning false stops the solve.
using AssignmentProgress = std::function<bool(std::size_t)>;

/// Fills as many rows as the arcs allow and, among the assignments that fill
/// that many, finds one of least total cost (summed in 64 bits). Ties are
/// broken the same way on every run. With `start` from an earlier solve of
/// the same rows and columns, when the arcs added since touch few rows, only
/// those (and the rows their changes reach) are placed again; the result is
/// as good as a solve from nothing, though among equally good assignments it
/// may take another. A start that does not fit the costs is ignored.
SparseAssignment solve_sparse_assignment(const SparseCosts& costs, const AssignmentProgress& progress = {},
                                         const AssignmentStart* start = nullptr);

}  // namespace tess
