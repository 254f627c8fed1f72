#include "engine/job_pool.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <limits>
#include <new>

#include <pthread.h>

#include "base/text.hpp"
#include "images/foto.hpp"

namespace tess {
namespace {

using namespace std::chrono_literals;

// An idle worker looks for work at least this often; a submission wakes it
// sooner, so the figure only bounds how stale a missed wake-up can get.
constexpr auto kIdleSleep = 500ms;
// A submitter facing a full queue, or a waiter with nothing to run, checks
// again at least this often; a finished or taken job wakes it sooner.
constexpr auto kHelperSleep = 50ms;

}  // namespace

std::string failed_jobs_text(const JobsOutcome& outcome, int width, int height) {
  if (outcome.out_of_memory) return out_of_memory_text(width, height) + "!";
  const auto failed = static_cast<unsigned long>(outcome.failed);
  return format(trn("%lu parallel job failed: its part of the work is missing",
                    "%lu parallel jobs failed: their part of the work is missing", failed),
                failed);
}

// --- JobQueue ---------------------------------------------------------------

JobQueue::JobQueue() {
  // The full capacity up front: adding a job never allocates under the lock.
  m_pending.reserve(kMaxPending);
}

JobQueue::JobQueue(JobPool& pool, QueueEnd end) : JobQueue() {
  pool.register_queue(*this, end);
}

JobQueue::~JobQueue() {
  JobPool* pool = nullptr;
  {
    std::lock_guard lock(m_mutex);
    pool = m_pool;
  }
  // Out of the pool first, so no worker takes a job while the rest is
  // discarded; jobs already taken are waited for, since finishing them
  // touches this queue.
  if (pool) pool->unregister_queue(*this);
  cancel_all();
}

void JobQueue::submit(std::unique_ptr<ParallelJobInfo> job) {
  if (!job) return;
  for (;;) {
    JobPool* pool = nullptr;
    bool added = false;
    {
      std::lock_guard lock(m_mutex);
      if (m_pending.size() < kMaxPending) {
        m_pending.push_back(std::move(job));
        m_high_water = std::max(m_high_water, m_pending.size());
        pool = m_pool;
        added = true;
        m_changed.notify_all();
      }
    }
    if (added) {
      if (pool) pool->job_submitted();
      return;
    }
    // Full: the producer helps consume rather than letting the backlog grow.
    if (help_once()) continue;
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, kHelperSleep, [this] { return m_pending.size() < kMaxPending; });
  }
}

JobsOutcome JobQueue::wait_all() {
  for (;;) {
    {
      std::lock_guard lock(m_mutex);
      if (m_running == 0 && m_pending.empty()) {
        JobsOutcome outcome;
        outcome.failed = m_failed - m_failed_told;
        outcome.out_of_memory = m_out_of_memory_untold;
        m_failed_told = m_failed;
        m_out_of_memory_untold = false;
        return outcome;
      }
    }
    if (help_once()) continue;
    // Only jobs taken by other threads are left (or new ones are on the way).
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, kHelperSleep, [this] { return m_running == 0 || !m_pending.empty(); });
  }
}

void JobQueue::cancel_all() {
  std::vector<std::unique_ptr<ParallelJobInfo>> dropped;
  dropped.reserve(kMaxPending);
  {
    std::lock_guard lock(m_mutex);
    for (auto& job : m_pending) dropped.push_back(std::move(job));
    m_pending.clear();
    m_changed.notify_all();
  }
  dropped.clear();  // job destructors run outside the lock
  // Cancelling gives the work up anyway: what the running jobs did no longer counts.
  (void)wait_all();
}

bool JobQueue::has_work() const {
  std::lock_guard lock(m_mutex);
  return m_running > 0 || !m_pending.empty();
}

std::size_t JobQueue::pending_count() const {
  std::lock_guard lock(m_mutex);
  return m_pending.size();
}

std::size_t JobQueue::running_count() const {
  std::lock_guard lock(m_mutex);
  return m_running;
}

std::size_t JobQueue::pending_high_water() const {
  std::lock_guard lock(m_mutex);
  return m_high_water;
}

std::size_t JobQueue::failed_count() const {
  std::lock_guard lock(m_mutex);
  return m_failed;
}

std::unique_ptr<ParallelJobInfo> JobQueue::take_newest_locked() {
  if (m_pending.empty()) return nullptr;
  std::unique_ptr<ParallelJobInfo> job = std::move(m_pending.back());
  m_pending.pop_back();
  ++m_running;
  m_changed.notify_all();
  return job;
}

void JobQueue::run_taken(std::unique_ptr<ParallelJobInfo> job) {
  bool failed = false;
  bool out_of_memory = false;
  // A job that throws must neither end the worker thread nor leave the
  // running count too high, which would make wait_all() wait for ever.
  try {
    job->run();
  } catch (const std::bad_alloc&) {
    failed = out_of_memory = true;
  } catch (...) {
    failed = true;
  }
  job.reset();
  std::lock_guard lock(m_mutex);
  --m_running;
  if (failed) ++m_failed;
  if (out_of_memory) m_out_of_memory_untold = true;
  // Notified under the lock: a waiter may destroy the queue as soon as it
  // sees the count drop.
  m_changed.notify_all();
}

bool JobQueue::help_once() {
  JobPool* pool = nullptr;
  std::unique_ptr<ParallelJobInfo> job;
  {
    std::lock_guard lock(m_mutex);
    pool = m_pool;
    if (!pool) job = take_newest_locked();
  }
  if (pool) return pool->run_one_job();
  if (!job) return false;
  run_taken(std::move(job));
  return true;
}

// --- JobPool ----------------------------------------------------------------

JobPool::~JobPool() {
  shut_down();
  std::lock_guard lock(m_mutex);
  for (JobQueue* queue : m_queues) {
    std::lock_guard queue_lock(queue->m_mutex);
    queue->m_pool = nullptr;
  }
  m_queues.clear();
}

bool JobPool::start_threads(int count, ThreadPriority priority) {
  if (count < 0 || count > kMaxThreads) count = 0;
  reap_exited_threads();
  std::lock_guard lock(m_mutex);
  m_desired = count;
  m_wake.notify_all();  // surplus workers notice and retire
  while (m_running < m_desired) {
    try {
      Worker& record = m_workers.emplace_back();
      try {
        record.thread = std::thread([this, &record, priority] { worker_loop(record, priority); });
      } catch (...) {
        m_workers.pop_back();
        throw;
      }
    } catch (...) {
      return false;  // out of threads or memory: work with the threads there are
    }
    ++m_running;  // the new thread waits for this lock, so it sees the count
  }
  return true;
}

void JobPool::register_queue(JobQueue& queue, QueueEnd end) {
  JobPool* previous = nullptr;
  {
    std::lock_guard queue_lock(queue.m_mutex);
    previous = queue.m_pool;
  }
  if (previous == this) return;
  if (previous) previous->unregister_queue(queue);
  {
    std::lock_guard lock(m_mutex);
    if (end == QueueEnd::back) {
      m_queues.push_back(&queue);
    } else {
      m_queues.push_front(&queue);
    }
    std::lock_guard queue_lock(queue.m_mutex);
    queue.m_pool = this;
  }
  job_submitted();  // the queue may hold jobs already
}

void JobPool::unregister_queue(JobQueue& queue) {
  std::lock_guard lock(m_mutex);
  m_queues.erase(std::remove(m_queues.begin(), m_queues.end(), &queue), m_queues.end());
  std::lock_guard queue_lock(queue.m_mutex);
  if (queue.m_pool == this) queue.m_pool = nullptr;
}

bool JobPool::run_one_job() {
  std::pair<JobQueue*, std::unique_ptr<ParallelJobInfo>> taken;
  {
    std::lock_guard lock(m_mutex);
    taken = take_job_locked();
  }
  if (!taken.second) return false;
  taken.first->run_taken(std::move(taken.second));
  return true;
}

void JobPool::shut_down() {
  {
    std::unique_lock lock(m_mutex);
    m_desired = 0;
    m_wake.notify_all();
    m_exited.wait(lock, [this] { return m_running == 0; });
  }
  reap_exited_threads();
}

int JobPool::thread_count() const {
  std::lock_guard lock(m_mutex);
  return m_running;
}

std::pair<JobQueue*, std::unique_ptr<ParallelJobInfo>> JobPool::take_job_locked() {
  // The queue registered last is served first.
  for (auto it = m_queues.rbegin(); it != m_queues.rend(); ++it) {
    JobQueue* queue = *it;
    std::lock_guard queue_lock(queue->m_mutex);
    if (auto job = queue->take_newest_locked()) return {queue, std::move(job)};
  }
  return {nullptr, nullptr};
}

void JobPool::job_submitted() {
  {
    // Changed under the lock, so a worker between its look at the queues and
    // its sleep cannot miss the wake-up.
    std::lock_guard lock(m_mutex);
    ++m_submissions;
  }
  m_wake.notify_one();
}

void JobPool::worker_loop(Worker& self, ThreadPriority priority) {
  // Named, so a worker can be told apart in `top -H`, a debugger or a test.
  ::pthread_setname_np(::pthread_self(), "tess-job");
  apply_thread_priority(priority);
  std::unique_lock lock(m_mutex);
  // Exits are decided under the lock, so lowering the desired count retires
  // exactly the surplus threads, one after the other.
  while (m_running <= m_desired) {
    const unsigned long seen = m_submissions;
    auto [queue, job] = take_job_locked();
    if (job) {
      lock.unlock();
      queue->run_taken(std::move(job));
      lock.lock();
      continue;
    }
    m_wake.wait_for(lock, kIdleSleep, [&] { return m_submissions != seen || m_running > m_desired; });
  }
  --m_running;
  self.exited = true;
  m_exited.notify_all();
}

void JobPool::reap_exited_threads() {
  std::list<Worker> done;
  {
    std::lock_guard lock(m_mutex);
    for (auto it = m_workers.begin(); it != m_workers.end();) {
      auto next = std::next(it);
      if (it->exited) done.splice(done.end(), m_workers, it);
      it = next;
    }
  }
  for (Worker& worker : done) worker.thread.join();
}

// --- thread count -----------------------------------------------------------

namespace {

// Reads the option like C's atoi: leading blanks, an optional sign, digits;
// anything after the digits is ignored. A number too large for 64 bits
// becomes the largest value, which is out of range like the number itself.
bool parse_leading_integer(std::string_view text, long long& value) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
  unsigned long long magnitude = 0;
  auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), magnitude);
  (void)end;
  constexpr auto kLargest = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
  if (error == std::errc::result_out_of_range || magnitude > kLargest) magnitude = kLargest;
  value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  return true;
}

}  // namespace

ThreadCountChoice resolve_thread_count(std::string_view option_text, unsigned hardware_threads) {
  long long value = 0;
  const bool is_number = parse_leading_integer(option_text, value);
  if (is_number && value >= 1 && value <= JobPool::kMaxThreads) return {static_cast<int>(value), false};
  const int detected = (hardware_threads == 0 || hardware_threads > static_cast<unsigned>(JobPool::kMaxThreads))
                           ? 1
                           : static_cast<int>(hardware_threads);
  return {detected, is_number && value == -1};
}

}  // namespace tess
