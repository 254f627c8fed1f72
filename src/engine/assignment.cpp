#include "engine/assignment.hpp"

#include <algorithm>
#include <compare>
#include <utility>

namespace tess {

void SparseCosts::add_row(std::uint64_t floor) {
  m_floor.push_back(floor);
  m_first.push_back(m_column.size());
}

void SparseCosts::add_arc(std::uint32_t column, std::uint32_t cost) {
  m_column.push_back(column);
  m_cost.push_back(cost);
  ++m_first.back();
}

namespace {

/// A cost that counts rows left empty before anything else: every row may
/// stay empty through a column of its own, and one more empty row weighs
/// more than any sum of arc costs. Potentials and path lengths are
/// differences of such costs, so both parts may go negative.
struct Length {
  std::int64_t empty = 0;
  std::int64_t cost = 0;

  friend auto operator<=>(const Length&, const Length&) = default;
  friend bool operator==(const Length&, const Length&) = default;
  Length operator+(const Length& other) const { return {empty + other.empty, cost + other.cost}; }
  Length operator-(const Length& other) const { return {empty - other.empty, cost - other.cost}; }
};

constexpr Length kEmptyRow{1, 0};

/// A start that lets go more than this share of the rows (1 in N) is
/// dropped for a solve from nothing. A row placed again into a nearly full
/// assignment walks the rows that compete for its columns, while a solve
/// from nothing places its first rows at once: on photographs, going on
/// with up to 44 of 1,280 rows let go took a tenth of a solve from nothing
/// or less, with 86 to 115 of them about as long as one.
constexpr std::size_t kMostReleasedShare = 16;
/// So many rows may always let go: placing them again is cheap anyway.
constexpr std::size_t kReleasedAlwaysAllowed = 2;
/// The repair of a start gives up after looking at every arc this many
/// times; a solve from nothing reads the arcs some 50 times over on
/// photographs.
constexpr std::size_t kRepairPasses = 16;

class Solver {
 public:
  explicit Solver(const SparseCosts& costs)
      : m_costs(costs),
        m_columns(costs.columns()),
        m_row_potential(costs.rows()),
        m_column_potential(costs.columns() + costs.rows()),
        m_owner(costs.columns() + costs.rows(), kNone),
        m_column_of_row(costs.rows(), kNone),
        m_distance(costs.columns() + costs.rows()),
        m_predecessor(costs.columns() + costs.rows(), kNone),
        m_stamp(costs.columns() + costs.rows(), 0),
        m_ascending(arcs_ascending(costs)) {}

  /// Augments every row without a column in turn; false when `progress`
  /// asked to stop.
  bool solve(const AssignmentProgress& progress) {
    std::size_t placed = 0;
    for (std::size_t r = 0; r < m_costs.rows(); ++r) {
      if (m_column_of_row[r] != kNone) continue;
      augment(static_cast<std::uint32_t>(r));
      if (progress && !progress(++placed)) return false;
    }
    return true;
  }

  /// Takes over an earlier solve's columns and potentials. The invariants of
  /// the search must hold again before it goes on: every arc at or above its
  /// potentials, every taken arc on them, every free column at potential 0.
  /// A row with an added arc below its potentials lets its column go and is
  /// placed again by solve(). A column let go below 0 is raised back to 0
  /// by a search the other way (see lift()), which moves a few rows along
  /// and may free another column instead. When too many rows let go, or the
  /// lifts read the arcs over too many times, the start is dropped and every
  /// row is placed from nothing.
  void warm_start(const AssignmentStart& start) {
    const std::size_t rows = m_costs.rows();
    const std::size_t total = m_columns + rows;
    if (start.matched.size() != rows || start.row_potential.size() != 2 * rows ||
        start.column_potential.size() != 2 * total)
      return;
    for (std::size_t r = 0; r < rows; ++r) {
      const std::uint32_t c = start.matched[r];
      const bool own = c == own_column(static_cast<std::uint32_t>(r));
      if ((c >= m_columns && !own) || m_owner[c] != kNone) return reset();
      m_owner[c] = static_cast<std::uint32_t>(r);
      m_column_of_row[r] = c;
      m_row_potential[r] = {start.row_potential[2 * r], start.row_potential[2 * r + 1]};
    }
    for (std::size_t c = 0; c < total; ++c) {
      m_column_potential[c] = {start.column_potential[2 * c], start.column_potential[2 * c + 1]};
      if (m_column_potential[c] > Length{} || (m_owner[c] == kNone && m_column_potential[c] != Length{}))
        return reset();
    }

    // Rows whose arcs no longer all sit at or above their potentials, or
    // whose column is no longer listed, let their column go.
    const std::size_t most_released = std::max(rows / kMostReleasedShare, kReleasedAlwaysAllowed);
    std::size_t released = 0;
    std::vector<std::uint32_t> sunk;  // real columns let go below 0
    for (std::size_t r = 0; r < rows; ++r) {
      const std::uint32_t row = static_cast<std::uint32_t>(r);
      const std::uint32_t c = m_column_of_row[r];
      bool listed = c == own_column(row);
      if (lowest_potential(row, c, listed) >= m_row_potential[r] && listed) continue;
      if (++released > most_released) return reset();
      m_column_of_row[r] = kNone;
      m_owner[c] = kNone;
      if (c >= m_columns || m_column_potential[c] == Length{}) {
        m_column_potential[c] = Length{};  // an own column: only its row lists it
      } else {
        sunk.push_back(c);
      }
    }
    if (!sunk.empty()) {
      build_listing();
      std::size_t looked_at = 0;
      const std::size_t most_looked_at = kRepairPasses * (m_costs.arc_count() + rows);
      for (const std::uint32_t c : sunk) {
        if (!lift(c, most_looked_at, looked_at)) return reset();
      }
    }
    for (std::size_t r = 0; r < rows; ++r) {
      if (m_column_of_row[r] != kNone) continue;
      bool listed = false;
      m_row_potential[r] = lowest_potential(static_cast<std::uint32_t>(r), kNone, listed);
    }
  }

  /// The state for the next solve.
  AssignmentStart start() const {
    AssignmentStart start;
    start.matched = m_column_of_row;
    for (const Length& p : m_row_potential) start.row_potential.insert(start.row_potential.end(), {p.empty, p.cost});
    for (const Length& p : m_column_potential)
      start.column_potential.insert(start.column_potential.end(), {p.empty, p.cost});
    return start;
  }

  /// The real column of row r, kNoColumn while it has none or stays empty.
  std::uint32_t column_of(std::size_t r) const {
    return m_column_of_row[r] < m_columns ? m_column_of_row[r] : kNoColumn;
  }
  const Length& row_potential(std::size_t r) const { return m_row_potential[r]; }
  const Length& column_potential(std::size_t c) const { return m_column_potential[c]; }

 private:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

  struct Reached {
    Length distance;
    std::uint32_t column;
    // A min-heap through std::push_heap: the greater entry sinks.
    bool operator<(const Reached& other) const {
      if (distance != other.distance) return distance > other.distance;
      return column > other.column;
    }
  };

  std::uint32_t seen_stamp() const { return 2 * m_epoch; }
  std::uint32_t done_stamp() const { return 2 * m_epoch + 1; }

  std::uint32_t own_column(std::uint32_t row) const { return static_cast<std::uint32_t>(m_columns) + row; }

  Length arc_length(std::size_t arc) const { return {0, static_cast<std::int64_t>(m_costs.arc_cost(arc))}; }

  /// The lowest potential that row's arcs allow it, its own column
  /// included; `listed` is set when `column` is among its arcs.
  Length lowest_potential(std::uint32_t row, std::uint32_t column, bool& listed) const {
    Length lowest = kEmptyRow - m_column_potential[own_column(row)];
    for (std::size_t a = m_costs.row_begin(row); a < m_costs.row_end(row); ++a) {
      listed = listed || m_costs.arc_column(a) == column;
      lowest = std::min(lowest, arc_length(a) - m_column_potential[m_costs.arc_column(a)]);
    }
    return lowest;
  }

  /// Who lists each real column, by arc, for the searches that go from a
  /// column to the rows that could take it.
  void build_listing() {
    m_listed_first.assign(m_columns + 1, 0);
    for (std::size_t a = 0; a < m_costs.arc_count(); ++a) ++m_listed_first[m_costs.arc_column(a) + 1];
    for (std::size_t c = 0; c < m_columns; ++c) m_listed_first[c + 1] += m_listed_first[c];
    m_listing.resize(m_costs.arc_count());
    m_listing_row.resize(m_costs.arc_count());
    std::vector<std::size_t> next(m_listed_first.begin(), m_listed_first.end() - 1);
    for (std::size_t r = 0; r < m_costs.rows(); ++r) {
      for (std::size_t a = m_costs.row_begin(r); a < m_costs.row_end(r); ++a) {
        const std::size_t k = next[m_costs.arc_column(a)]++;
        m_listing[k] = a;
        m_listing_row[k] = static_cast<std::uint32_t>(r);
      }
    }
  }

  /// Raises the free column `sunk`, whose potential is below 0, back to 0
  /// without breaking the invariants. Raising a column pushes the arcs of
  /// the rows that list it below their potentials unless those rows give
  /// way, which raises their own columns in turn: a shortest-path search
  /// from `sunk` through the rows that list each column and on to the
  /// columns those rows hold finds how far each can rise. It ends at the
  /// first column that would reach 0 on the way (possibly `sunk` itself):
  /// the rows along the path each move to the column before theirs, and
  /// that column is left free at 0. False when `looked_at`, the arcs read
  /// so far, passes `most_looked_at`.
  bool lift(std::uint32_t sunk, std::size_t most_looked_at, std::size_t& looked_at) {
    ++m_epoch;
    m_heap.clear();
    m_scanned.clear();
    m_stamp[sunk] = seen_stamp();
    m_distance[sunk] = Length{};
    m_predecessor[sunk] = kNone;
    m_heap.push_back({Length{}, sunk});
    std::uint32_t end = kNone;
    Length rise;  // how far `sunk` rises: the least distance plus lift to 0 of a column on the way
    // No more than the least distance plus lift to 0 of a column reached so
    // far: a column farther than that would never be settled.
    Length most = Length{} - m_column_potential[sunk];
    while (!m_heap.empty()) {
      if (end != kNone && !(m_heap.front().distance < rise)) break;
      std::pop_heap(m_heap.begin(), m_heap.end());
      const Reached next = m_heap.back();
      m_heap.pop_back();
      if (m_stamp[next.column] == done_stamp() || next.distance != m_distance[next.column]) continue;
      const std::uint32_t column = next.column;
      m_stamp[column] = done_stamp();
      m_scanned.push_back(column);
      const Length to_zero = next.distance - m_column_potential[column];
      if (end == kNone || to_zero < rise) {
        end = column;
        rise = to_zero;
        if (!(next.distance < rise)) break;
      }
      if (column >= m_columns) continue;  // an own column: only its row lists it, and holds it
      looked_at += 1 + m_listed_first[column + 1] - m_listed_first[column];
      if (looked_at > most_looked_at) return false;
      for (std::size_t k = m_listed_first[column]; k < m_listed_first[column + 1]; ++k) {
        const std::uint32_t row = m_listing_row[k];
        const std::uint32_t held = m_column_of_row[row];
        if (held == kNone || held == column) continue;
        // The row's taken arc sits on its potentials, so its column is as
        // far as the row.
        const Length distance =
            next.distance + arc_length(m_listing[k]) - m_row_potential[row] - m_column_potential[column];
        if (!(distance < most)) continue;
        const std::uint32_t stamp = m_stamp[held];
        if (stamp == done_stamp() || (stamp == seen_stamp() && !(distance < m_distance[held]))) continue;
        most = std::min(most, distance - m_column_potential[held]);
        m_stamp[held] = seen_stamp();
        m_distance[held] = distance;
        m_predecessor[held] = column;
        m_heap.push_back({distance, held});
        std::push_heap(m_heap.begin(), m_heap.end());
      }
    }
    // Every column the search settled rises by what is left of `rise`
    // past it, and its row's potential falls as much.
    for (const std::uint32_t column : m_scanned) {
      const Length lift = rise - m_distance[column];
      m_column_potential[column] = m_column_potential[column] + lift;
      if (m_owner[column] != kNone) m_row_potential[m_owner[column]] = m_row_potential[m_owner[column]] - lift;
    }
    // Each row on the path moves back to the column it was reached from.
    std::uint32_t row = m_owner[end];
    m_owner[end] = kNone;
    for (std::uint32_t column = end; column != sunk;) {
      const std::uint32_t previous = m_predecessor[column];
      const std::uint32_t next_row = m_owner[previous];
      m_owner[previous] = row;
      m_column_of_row[row] = previous;
      row = next_row;
      column = previous;
    }
    return true;
  }

  /// Back to no start at all.
  void reset() {
    std::fill(m_owner.begin(), m_owner.end(), kNone);
    std::fill(m_column_of_row.begin(), m_column_of_row.end(), kNone);
    std::fill(m_row_potential.begin(), m_row_potential.end(), Length{});
    std::fill(m_column_potential.begin(), m_column_potential.end(), Length{});
  }

  /// Whether every row lists its arcs cheapest first.
  static bool arcs_ascending(const SparseCosts& costs) {
    for (std::size_t r = 0; r < costs.rows(); ++r)
      for (std::size_t a = costs.row_begin(r) + 1; a < costs.row_end(r); ++a)
        if (costs.arc_cost(a) < costs.arc_cost(a - 1)) return false;
    return true;
  }

  /// Offers `column` at `distance` from `row`; true when it is a free
  /// column nearer than any reached before.
  [[gnu::always_inline]] bool reach(std::uint32_t column, Length distance, std::uint32_t row) {
    // The search ends once it settles a free column, so a column farther
    // than one already reached would never be settled.
    if (m_free_reached && m_nearest_free < distance) return false;
    const std::uint32_t stamp = m_stamp[column];
    if (stamp == done_stamp()) return false;
    if (stamp == seen_stamp() && !(distance < m_distance[column])) return false;
    m_stamp[column] = seen_stamp();
    m_distance[column] = distance;
    m_predecessor[column] = row;
    m_heap.push_back({distance, column});
    std::push_heap(m_heap.begin(), m_heap.end());
    if (m_owner[column] != kNone || (m_free_reached && !(distance < m_nearest_free))) return false;
    m_free_reached = true;
    m_nearest_free = distance;
    return true;
  }

  /// Offers every column of `row` at `base` plus its reduced cost.
  /// Column potentials are never above 0, so an arc reaches no closer than
  /// `base` plus its cost less the row's potential: once that is as far as
  /// a free column already reached, the search ends before it gets there,
  /// and on a row listed cheapest first so does every arc after it. A free
  /// column stands at 0, so one reached from this row is as far as its arc,
  /// and on such a row no later arc comes nearer.
  void scan_row(std::uint32_t row, Length base) {
    const Length row_potential = m_row_potential[row];
    const Length start = base - row_potential;
    const std::uint32_t* const columns = m_costs.arc_columns();
    const std::uint32_t* const costs = m_costs.arc_costs();
    const std::size_t end = m_costs.row_end(row);
    if (m_ascending) {
      // Within the row only the cost part of the length changes.
      bool bounded = m_free_reached;
      std::int64_t most = 0;  // arcs costing this much or more are cut
      if (bounded) {
        if (m_nearest_free.empty < start.empty) return scan_own(row, base);
        if (m_nearest_free.empty > start.empty) bounded = false;
        most = m_nearest_free.cost - start.cost;
      }
      for (std::size_t a = m_costs.row_begin(row); a < end; ++a) {
        const std::int64_t cost = costs[a];
        if (bounded && cost >= most) break;
        const std::uint32_t column = columns[a];
        if (reach(column, Length{start.empty, start.cost + cost} - m_column_potential[column], row)) break;
      }
    } else {
      for (std::size_t a = m_costs.row_begin(row); a < end; ++a) {
        const std::uint32_t column = columns[a];
        reach(column, start + Length{0, costs[a]} - m_column_potential[column], row);
      }
    }
    scan_own(row, base);
  }

  /// Offers the row's own column, which leaves it empty.
  void scan_own(std::uint32_t row, Length base) {
    const std::uint32_t own = own_column(row);
    reach(own, base + (kEmptyRow - m_row_potential[row] - m_column_potential[own]), row);
  }

  /// Gives `root` a column along a shortest path of reduced costs, moving
  /// the rows on the path along, and updates the potentials so that every
  /// arc stays at or above them and the arcs in use meet them.
  void augment(std::uint32_t root) {
    ++m_epoch;
    m_free_reached = false;
    m_heap.clear();
    m_scanned.clear();
    scan_row(root, Length{});
    std::uint32_t end = kNone;
    Length shortest;
    while (!m_heap.empty()) {
      std::pop_heap(m_heap.begin(), m_heap.end());
      const Reached next = m_heap.back();
      m_heap.pop_back();
      if (m_stamp[next.column] == done_stamp() || next.distance != m_distance[next.column]) continue;
      m_stamp[next.column] = done_stamp();
      m_scanned.push_back(next.column);
      if (m_owner[next.column] == kNone) {
        end = next.column;
        shortest = next.distance;
        break;
      }
      scan_row(m_owner[next.column], next.distance);
    }
    // The row's own column is always free or its own, so a path exists.
    for (const std::uint32_t column : m_scanned) {
      const Length slack = shortest - m_distance[column];
      m_column_potential[column] = m_column_potential[column] - slack;
      if (m_owner[column] != kNone) m_row_potential[m_owner[column]] = m_row_potential[m_owner[column]] + slack;
    }
    m_row_potential[root] = m_row_potential[root] + shortest;
    for (std::uint32_t column = end;;) {
      const std::uint32_t row = m_predecessor[column];
      const std::uint32_t previous = m_column_of_row[row];
      m_owner[column] = row;
      m_column_of_row[row] = column;
      if (row == root) break;
      column = previous;
    }
  }

  const SparseCosts& m_costs;
  std::size_t m_columns;
  std::vector<Length> m_row_potential;
  std::vector<Length> m_column_potential;  // never above 0; 0 while the column is free
  std::vector<std::uint32_t> m_owner;
  std::vector<std::uint32_t> m_column_of_row;
  std::vector<Length> m_distance;
  std::vector<std::uint32_t> m_predecessor;
  // Per column, whether the current search has reached it (2 · epoch) or
  // settled it (2 · epoch + 1): stamps, so no search clears whole arrays.
  std::vector<std::uint32_t> m_stamp;
  std::uint32_t m_epoch = 0;
  std::vector<Reached> m_heap;
  std::vector<std::uint32_t> m_scanned;
  // Per real column, the arcs that list it: [m_listed_first[c], m_listed_first[c + 1]).
  std::vector<std::size_t> m_listed_first;
  std::vector<std::size_t> m_listing;
  std::vector<std::uint32_t> m_listing_row;
  bool m_ascending;
  // The nearest free column the search has reached so far, if any.
  bool m_free_reached = false;
  Length m_nearest_free;
};

/// The same costs with rows and columns swapped; floors are not carried.
SparseCosts transposed(const SparseCosts& costs) {
  std::vector<std::size_t> first(costs.columns() + 1, 0);
  for (std::size_t a = 0; a < costs.arc_count(); ++a) ++first[costs.arc_column(a) + 1];
  for (std::size_t c = 0; c < costs.columns(); ++c) first[c + 1] += first[c];
  std::vector<std::pair<std::uint32_t, std::uint32_t>> arcs(costs.arc_count());
  std::vector<std::size_t> next(first.begin(), first.end() - 1);
  for (std::size_t r = 0; r < costs.rows(); ++r) {
    for (std::size_t a = costs.row_begin(r); a < costs.row_end(r); ++a) {
      arcs[next[costs.arc_column(a)]++] = {static_cast<std::uint32_t>(r), costs.arc_cost(a)};
    }
  }
  SparseCosts swapped(costs.rows());
  for (std::size_t c = 0; c < costs.columns(); ++c) {
    swapped.add_row();
    for (std::size_t k = first[c]; k < first[c + 1]; ++k) swapped.add_arc(arcs[k].first, arcs[k].second);
  }
  return swapped;
}

/// Rows augmented one by one, each finding a free column near it.
SparseAssignment solve_by_rows(const SparseCosts& costs, const AssignmentProgress& progress,
                               const AssignmentStart* start) {
  Solver solver(costs);
  if (start != nullptr) solver.warm_start(*start);
  SparseAssignment result;
  result.stopped = !solver.solve(progress);
  result.column_of_row.resize(costs.rows());
  for (std::size_t r = 0; r < costs.rows(); ++r) result.column_of_row[r] = solver.column_of(r);
  if (result.stopped || costs.columns() == 0) return result;
  result.start = solver.start();
  // The assignment is the best over every column when no unlisted arc
  // could fall below its potentials either: such an arc costs at least the
  // row's floor, and its column's potential is at most the highest of all
  // columns (0 while any column is free, as free columns never move).
  Length highest = solver.column_potential(0);
  for (std::size_t c = 1; c < costs.columns(); ++c) highest = std::max(highest, solver.column_potential(c));
  for (std::size_t r = 0; r < costs.rows(); ++r) {
    const std::uint64_t floor = costs.floor(r);
    if (floor == kCompleteRow) continue;
    if (solver.row_potential(r) > Length{0, static_cast<std::int64_t>(floor)} - highest) {
      result.unproven_rows.push_back(r);
    }
  }
  return result;
}

/// More rows than columns: the columns are augmented instead, so that each
/// search still ends at one of the many free partners rather than going
/// through every taken one when none is left.
SparseAssignment solve_by_columns(const SparseCosts& costs, const AssignmentProgress& progress) {
  const SparseCosts swapped = transposed(costs);
  Solver solver(swapped);
  SparseAssignment result;
  result.stopped = !solver.solve(progress);
  result.column_of_row.assign(costs.rows(), kNoColumn);
  for (std::size_t c = 0; c < costs.columns(); ++c) {
    const std::uint32_t r = solver.column_of(c);
    if (r != kNoColumn) result.column_of_row[r] = static_cast<std::uint32_t>(c);
  }
  if (result.stopped) return result;
  // An unlisted arc (r, c) stays at or above its potentials when the row's
  // floor reaches the potential of column c (a row here) plus row r's. The
  // highest column potential among those r does not list is found by going
  // down the columns by potential past the ones r lists.
  std::vector<std::uint32_t> by_potential(costs.columns());
  for (std::uint32_t c = 0; c < by_potential.size(); ++c) by_potential[c] = c;
  std::sort(by_potential.begin(), by_potential.end(), [&solver](std::uint32_t a, std::uint32_t b) {
    return solver.row_potential(a) > solver.row_potential(b);
  });
  std::vector<std::size_t> listed_by(costs.columns(), costs.rows());
  for (std::size_t r = 0; r < costs.rows(); ++r) {
    const std::uint64_t floor = costs.floor(r);
    if (floor == kCompleteRow) continue;
    for (std::size_t a = costs.row_begin(r); a < costs.row_end(r); ++a) listed_by[costs.arc_column(a)] = r;
    for (const std::uint32_t c : by_potential) {
      if (listed_by[c] == r) continue;
      if (Length{0, static_cast<std::int64_t>(floor)} < solver.row_potential(c) + solver.column_potential(r)) {
        result.unproven_rows.push_back(r);
      }
      break;
    }
  }
  return result;
}

}  // namespace

SparseAssignment solve_sparse_assignment(const SparseCosts& costs, const AssignmentProgress& progress,
                                         const AssignmentStart* start) {
  return costs.rows() > costs.columns() ? solve_by_columns(costs, progress) : solve_by_rows(costs, progress, start);
}

}  // namespace tess
