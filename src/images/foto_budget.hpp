// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The memory that decoding pictures may take at once, shared by every thread
// of the process. A decoder charges what a picture will cost (its pixels and
// the decoder's own working memory, as the header declares them) before it
// allocates anything, and gives it back when the load is over. Threads that
// find the budget taken wait for the others to finish; a picture that could
// never fit, even alone, is refused at once instead of waited for.
//
// Only loads hold a charge, and a load never waits while holding one, so a
// waiting thread always waits on loads that are running and will end.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tess {

class DecodeBudget {
 public:
  /// `limit` in bytes; 0 takes the automatic budget.
  explicit DecodeBudget(std::uint64_t limit = 0);
  DecodeBudget(const DecodeBudget&) = delete;
  DecodeBudget& operator=(const DecodeBudget&) = delete;

  std::uint64_t limit() const;
  /// What the loads running now hold.
  std::uint64_t in_use() const;
  /// A new limit for the charges to come (0: automatic). Loads already
  /// running keep what they hold; a waiting load that no longer fits at all
  /// is refused.
  void set_limit(std::uint64_t limit);

  /// Takes `bytes`, waiting while other loads hold what it needs. False at
  /// once, taking nothing, when `bytes` exceed the whole budget.
  [[nodiscard]] bool take(std::uint64_t bytes);
  void give_back(std::uint64_t bytes);

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_freed;
  std::uint64_t m_limit;
  std::uint64_t m_in_use = 0;
};

/// The budget every picture load of this process charges.
DecodeBudget& decode_budget();

/// A quarter of the memory available when first asked: what the system calls
/// available, bounded by the process's control group and address-space limit.
std::uint64_t automatic_decode_budget();

/// One load's share of a budget, given back when it ends. A share is taken
/// once: a load that asked twice could wait for itself.
class DecodeCharge {
 public:
  explicit DecodeCharge(DecodeBudget& budget = decode_budget()) : m_budget(budget) {}
  ~DecodeCharge() { m_budget.give_back(m_bytes); }
  DecodeCharge(const DecodeCharge&) = delete;
  DecodeCharge& operator=(const DecodeCharge&) = delete;

  /// DecodeBudget::take for this load; false as well when a share is held.
  [[nodiscard]] bool take(std::uint64_t bytes);
  std::uint64_t bytes() const { return m_bytes; }

 private:
  DecodeBudget& m_budget;
  std::uint64_t m_bytes = 0;
  bool m_taken = false;
};

}  // namespace tess
